# Sourced by the desktop tests (bash): a work folder, the processes they start
# (stopped by id at exit, last first), a private X server on the first free
# display, the accessibility bus and the project's driver for it (a11y), and
# waits that give up only after a generous limit.
# Expects a function `fail MESSAGE` from the test.
desktop_support=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  set +e
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: true as soon as COMMAND succeeds, tried every
# 0.1 s until SECONDS have passed by the clock (however long each try takes),
# false after. COMMAND's output is dropped, so it says nothing and does not
# call fail; a function sets variables for the caller as usual.
wait_for() {
  local deadline=$((${EPOCHREALTIME//[!0-9]/} + $1 * 1000000))
  shift
  until "$@" >/dev/null 2>&1; do
    ((${EPOCHREALTIME//[!0-9]/} < deadline)) || return 1
    sleep 0.1
  done
}

# find_window SECONDS SEARCH...: prints the first visible window that
# `xdotool search SEARCH...` finds within SECONDS. Each look is a search of
# its own: one that meets a window closing under it ends with an X error
# (BadWindow) rather than an answer, and is simply made again.
find_window() {
  local seconds=$1 found=
  shift
  look_for_window() {
    found=$(timeout 5 xdotool search --onlyvisible "$@" 2>/dev/null | head -n1) && [ -n "$found" ]
  }
  wait_for "$seconds" look_for_window "$@" || return 1
  echo "$found"
}

# start_xvfb [SCREENS...]: Xvfb on the first free display, with the screens
# given as its arguments ("-screen N WxHxD" each; one 1280x800 unless given).
start_xvfb() {
  (($#)) || set -- -screen 0 1280x800x24
  exec 3>"$work/display"
  # -noreset: an X server resets when its last client leaves, and a client
  # that connects during the reset is refused. The readiness check below is
  # such a last client, and the window manager connects right after it.
  Xvfb -displayfd 3 "$@" -noreset -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  wait_for 30 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$(head -n1 "$work/display")"
  # Clients reach the server before anything else starts: a server that went
  # away at this number a moment ago (a test's XWayland still ending) can
  # hold its name for a while.
  wait_for 30 timeout 10 xprop -root -len 0 _NET_SUPPORTED ||
    fail "no client can open $DISPLAY: $(cat "$work/xvfb.log"; ls -la /tmp/.X11-unix 2>&1)"
  export QT_QPA_PLATFORM=xcb
  # An X11 session, also when the tests run from a Wayland desktop: the
  # program picks the portals only in a Wayland one.
  unset WAYLAND_DISPLAY
  export XDG_SESSION_TYPE=x11
}

# The session's accessibility bus, which the test session does not activate
# on its own; started and waited for (30 s at most). Programs started after
# it read with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
start_atspi() {
  local launcher=/usr/libexec/at-spi-bus-launcher
  [ -x "$launcher" ] || fail "at-spi2-core is not installed"
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || fail "python3-pyatspi is not installed"
  "$launcher" --launch-immediately >"$work/atspi.log" 2>&1 &
  pids+=($!)
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  wait_for 30 timeout 5 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress || fail "the accessibility bus did not start: $(cat "$work/atspi.log")"
}

# The project's accessibility driver (tests/support/a11y.py; run it alone for
# its usage): a11y VERB TARGET ARGS...
a11y() { /usr/bin/python3 "$desktop_support/a11y.py" "$@"; }

# shows TEXT [SECONDS]: Quillet shows TEXT, in any of its windows, within
# SECONDS (30 unless given; the driver waits for the program, too).
shows() { a11y wait quillet "$@" >/dev/null; }

# vault_holds SEED_VAULT LINE: the seeding tool lists LINE among the vault's
# accounts ("Issuer: name").
vault_holds() { "$1" --list 2>/dev/null | grep -qxF "$2"; }

# The program's popups on screen (a combo box's list, a menu): its visible
# windows that the window manager leaves alone.
popups() {
  local window
  for window in $(timeout 5 xdotool search --onlyvisible --class quillet 2>/dev/null); do
    if timeout 5 xwininfo -id "$window" 2>/dev/null | grep -q 'Override Redirect State: yes'; then
      echo "$window"
    fi
  done
}
# new_popup BEFORE: a popup is on screen that was not among BEFORE.
new_popup() { [ -n "$(comm -13 <(sort <<<"$1") <(popups | sort))" ]; }

# open_popup COMMAND...: runs the command (a press on a combo box, a right
# click) and waits (30 s at most) until a popup of the program's opens, so
# that the keys that pick from it reach it (a menu is not on the
# accessibility bus).
open_popup() {
  local before
  before=$(popups)
  "$@" || fail "could not open a popup with: $*"
  wait_for 30 new_popup "$before" || fail "no list or menu opened after: $*"
}

# no_window PATTERN: no window whose title matches PATTERN is on screen
# (xdotool found none, rather than a look that timed out).
no_window() {
  local status=0
  timeout 5 xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || status=$?
  [ "$status" = 1 ]
}

# Waits (30 s at most) until no window whose title matches the pattern is on
# screen.
wait_gone() { wait_for 30 no_window "$1"; }

# openbox started, and waited for (60 s at most) until it answers for
# _NET_ACTIVE_WINDOW (xdotool gives windows the keyboard through it). Each look
# is bounded: a client that connects while a loaded Xvfb is still starting may
# wait for its answer forever.
net_active_window() { [[ $(timeout 10 xprop -root _NET_SUPPORTED 2>/dev/null) == *_NET_ACTIVE_WINDOW* ]]; }
# openbox_up PID: openbox answers, or it ended (no use waiting on).
openbox_up() { ! kill -0 "$1" 2>/dev/null || net_active_window; }
start_openbox() {
  openbox >"$work/openbox.log" 2>&1 &
  local openbox=$!
  pids+=("$openbox")
  wait_for 60 openbox_up "$openbox"
  kill -0 "$openbox" 2>/dev/null || fail "openbox ended: $(cat "$work/openbox.log")"
  net_active_window || fail "openbox does not answer for _NET_ACTIVE_WINDOW: $(cat "$work/openbox.log")"
}

# trayer's XEmbed tray at the top right, started and waited for (30 s at most)
# until both its panel and the tray inside it are up, before a program looks
# for a tray. (xwininfo given no window would wait for a click on one, so the
# tests never ask it about a tray that is not there.)
trayer_up() { [ "$(timeout 2 xdotool search --class trayer 2>/dev/null | wc -l)" -ge 2 ]; }
start_trayer() {
  trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
    >"$work/trayer.log" 2>&1 &
  pids+=($!)
  wait_for 30 trayer_up || fail "trayer did not start"
}

# The clipboard holds a six-digit code.
clipboard_holds_code() { [[ $(timeout 5 xclip -o -selection clipboard 2>/dev/null) =~ ^[0-9]{6}$ ]]; }

# Waits (30 s at most) for a six-digit code on the clipboard and fails the
# test unless it is oathtool's TOTP code of SECRET: BEFORE, taken before the
# press that copies it, or the one when the wait ends (the step may roll over).
expect_clipboard_code() {
  local secret=$1 before=$2 after code
  wait_for 30 clipboard_holds_code || true
  code=$(timeout 5 xclip -o -selection clipboard 2>/dev/null || true)
  after=$(oathtool --totp -b "$secret")
  [[ $code =~ ^[0-9]{6}$ ]] || fail "the clipboard holds no code (${#code} characters)"
  [[ $code == "$before" || $code == "$after" ]] || fail "the clipboard holds a code that is not oathtool's"
}
