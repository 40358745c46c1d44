# Sourced by the desktop tests (bash): a work folder, the processes they start
# (stopped by id at exit), and a private X server on the first free display.
# Expects a function `fail MESSAGE` from the test.
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$work/display")"
  export QT_QPA_PLATFORM=xcb
  # An X11 session, also when the tests run from a Wayland desktop: the
  # program picks the portals only in a Wayland one.
  unset WAYLAND_DISPLAY
  export XDG_SESSION_TYPE=x11
}

# The session's accessibility bus, which the test session does not activate
# on its own; started and waited for.
start_atspi() {
  local launcher=/usr/libexec/at-spi-bus-launcher
  [ -x "$launcher" ] || fail "at-spi2-core is not installed"
  "$launcher" --launch-immediately >"$work/atspi.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
      >/dev/null 2>&1 && return 0
    sleep 0.1
  done
}

# openbox started, and waited for (20 s at most) until it answers for
# _NET_ACTIVE_WINDOW (xdotool gives windows the keyboard through it). Each look
# is bounded: a client that connects while a loaded Xvfb is still starting may
# wait for its answer forever.
start_openbox() {
  openbox >"$work/openbox.log" 2>&1 &
  pids+=($!)
  local end=$((SECONDS + 20))
  until [[ $(timeout 2 xprop -root _NET_SUPPORTED 2>/dev/null) == *_NET_ACTIVE_WINDOW* ]]; do
    ((SECONDS < end)) || return 0 # the test's own waits may still see it come
    sleep 0.1
  done
}

# trayer's XEmbed tray at the top right, started and waited for (30 s at most)
# until both its panel and the tray inside it are up, before a program looks
# for a tray. (xwininfo given no window would wait for a click on one, so the
# tests never ask it about a tray that is not there.)
start_trayer() {
  trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
    >"$work/trayer.log" 2>&1 &
  pids+=($!)
  local end=$((SECONDS + 30))
  until [ "$(timeout 2 xdotool search --class trayer 2>/dev/null | wc -l)" -ge 2 ]; do
    ((SECONDS < end)) || fail "trayer did not start"
    sleep 0.1
  done
}

# Waits (5 s at most) for a six-digit code on the clipboard and fails the test
# unless it is oathtool's TOTP code of SECRET: BEFORE, taken before the press
# that copies it, or the one when the wait ends (the step may roll over).
expect_clipboard_code() {
  local secret=$1 before=$2 after code=""
  for _ in $(seq 50); do
    code=$(xclip -o -selection clipboard 2>/dev/null || true)
    [[ $code =~ ^[0-9]{6}$ ]] && break
    sleep 0.1
  done
  after=$(oathtool --totp -b "$secret")
  [[ $code == "$before" || $code == "$after" ]] || fail "the clipboard holds '$code', oathtool says $before/$after"
}
