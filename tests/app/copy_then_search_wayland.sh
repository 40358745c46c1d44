#!/usr/bin/env bash
# A bound hotkey's copy and then quick search, on a real KDE Plasma Wayland
# desktop (headless KWin and its portals, tests/with-kwin.sh), many times
# over: the copy's confirmation comes on screen over the user's window
# without taking the keyboard from it, Ctrl+Alt+K pressed once while the
# confirmation shows (at a different moment of its time on screen each
# round) gives quick search the keyboard, the search typed lands there, and
# the pick is typed into the user's window. The user's window reports every
# keyboard enter and leave the compositor sends it (tests/platform/desktop/portal/wayland's
# text window), so each round must cost it exactly one leave: to quick search.
# Usage (inside tests/with-kwin.sh):
#   copy_then_search_wayland.sh QUILLET SEED_VAULT WAYLAND_KEYS TEXT_WINDOW
set -euo pipefail
quillet=$1
seed=$2
wayland_keys=$3
text_window=$4
rounds=25
fail() {
  echo "Wayland copy-then-search test: $*" >&2
  for out in "$work"/*.out "$work"/*.err "$work/quillet.log"; do
    # Codes typed are left out.
    [ -f "$out" ] && sed -E "s/^text: [0-9]{6}$/text: <code>/; s|^|$(basename "$out"): |" "$out" >&2
  done
  exit 1
}
# shellcheck source=tests/platform/desktop/portal/wayland/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../platform/desktop/portal/wayland/session.sh"
keys() { "$wayland_keys" "$@" || fail "wayland_keys could not press $*"; }
base32() { /usr/bin/python3 -c 'import base64, sys; print(base64.b32encode(sys.argv[1].encode()).decode())' "$1"; }

# kwin_says EXPRESSION: the value of EXPRESSION in KWin's JavaScript engine,
# which writes a script's print() into its log.
kwin_says() {
  local mark="quillet-says-$RANDOM$RANDOM" line=""
  kwin_script "print('$mark:' + ($1));" || return 1
  logged() { line=$(grep -a "$mark:" "$QUILLET_KWIN_ROOT/kwin.log" | tail -n1) && [ -n "$line" ]; }
  wait_for 5 logged || return 1
  echo "${line##*"$mark:"}"
}
# The confirmation is the program's one window of its size.
hud_shown() {
  [[ $(kwin_says "workspace.clientList().filter(w => w.pid == $quillet_pid &&
    w.frameGeometry.width == 280 && w.frameGeometry.height == 64).length") == 1 ]]
}
# has_keyboard TITLE: KWin's active window is the one titled TITLE.
has_keyboard() { [[ $(kwin_says "workspace.activeClient ? workspace.activeClient.caption : ''") == "$1" ]]; }
# out_of_task_lists TITLE: KWin leaves every window titled TITLE out of its
# taskbar and its window switcher (Alt+Tab).
out_of_task_lists() {
  [[ $(kwin_says "workspace.clientList().filter(w => w.caption === \"$1\").map(w =>
    (w.skipTaskbar ? 'skip' : 'listed') + '/' + (w.skipSwitcher ? 'skip' : 'listed')).join(' ')") == "skip/skip" ]]
}
search_holds() { [[ $(a11y --seconds 5 tree "quillet/Quick search") == *"<$1 characters>"* ]]; }
leaves() { grep -c '^keyboard leave$' "$work/Desk.out" || true; }

# code_arrives SECRET: the user's window shows the account's code (that of
# the step before or after, at a step's edge).
desk_shows_code() { grep '^text: ' "$work/Desk.out" | tail -n1 | grep -qE '^text: [0-9]{6}$'; }
code_arrives() {
  local text now codes
  wait_for 30 desk_shows_code || fail "round $round: the pick typed no code into the user's window"
  text=$(grep '^text: ' "$work/Desk.out" | tail -n1)
  text=${text#text: }
  now=$(date +%s)
  codes=" $(oathtool --totp -b "$1" --now "@$((now - 30))") $(oathtool --totp -b "$1" --now "@$now")"
  codes+=" $(oathtool --totp -b "$1" --now "@$((now + 30))") "
  [[ $codes == *" $text "* ]] || fail "round $round: the user's window shows a code that is not the pick's"
}

# What the portal tells the program: a press of the binding is an Activated.
dbus-monitor --session \
  "type='signal',interface='org.freedesktop.portal.GlobalShortcuts',member='Activated'" \
  >"$work/portal.log" 2>&1 &
pids+=($!)
activations() { grep -c 'string "CTRL+ALT+SHIFT+p"' "$work/portal.log" || true; }
more_than() { (($(activations) > $1)); }
copied() { timeout 5 wl-paste -n 2>/dev/null | grep -qE '^[0-9]{6}$'; }

start_atspi
"$seed" 3 >/dev/null || fail "could not seed the vault"
"$seed" --hotkey 0 >/dev/null || fail "could not bind the hotkey"
example=$(base32 12345678901234567890b) # "Example: user1@example.com"

start_text_window Desk wayland
wait_for 30 said Desk active || fail "the user's window never got the keyboard"
QT_QPA_PLATFORM=wayland "$quillet" >>"$work/quillet.log" 2>&1 &
quillet_pid=$!
pids+=("$quillet_pid")
shows "GitHub" 60 || fail "the main window shows no accounts over AT-SPI"
kwin_activate Desk || fail "KWin's scripting did not run"
wait_for 30 said Desk active || fail "the user's window did not get the keyboard back"
# The program binds its shortcuts a moment after it starts: until the portal
# reports a press to it, press again.
for _ in $(seq 15); do
  before=$(activations)
  keys ctrl+alt+shift+p
  wait_for 2 more_than "$before" && break
done
more_than "$before" || fail "the portal never reported the binding to the program"
wait_for 30 copied || fail "the binding copied no code"

for round in $(seq "$rounds"); do
  wait_for 30 said Desk active || fail "round $round: the user's window does not have the keyboard"
  keys ctrl+a BackSpace
  wait_for 30 said Desk "text: " || fail "round $round: the user's window could not be emptied"
  lost=$(leaves)
  timeout 5 wl-copy --clear || fail "wl-copy could not empty the clipboard"
  before=$(activations)
  keys ctrl+alt+shift+p
  wait_for 30 more_than "$before" || fail "round $round: the portal did not report the binding"
  wait_for 30 copied || fail "round $round: the binding copied no code"
  wait_for 30 hud_shown || fail "round $round: the copy's confirmation is not on screen"
  has_keyboard Desk || fail "round $round: the copy's confirmation took the keyboard from the user's window"
  # Somewhere within the confirmation's 1.4 s on screen, a later moment
  # each round, the combination once.
  offset=$((round * 4 % 15))
  sleep "$((offset / 10)).$((offset % 10))"
  (($(leaves) == lost)) || fail "round $round: the user's window lost the keyboard before Ctrl+Alt+K"
  keys ctrl+alt+k
  wait_for 30 has_keyboard "Quick search" || fail "round $round: quick search did not get the keyboard"
  out_of_task_lists "Quick search" ||
    fail "round $round: quick search is in KWin's taskbar or window switcher ($(kwin_says "workspace.clientList().filter(w => w.caption === 'Quick search').map(w => 'skipTaskbar ' + w.skipTaskbar + ', skipSwitcher ' + w.skipSwitcher).join('; ')"))"
  keys type:example
  wait_for 30 search_holds 7 || fail "round $round: the search was not typed into quick search"
  keys Return
  code_arrives "$example"
  wait_for 30 said Desk active || fail "round $round: the user's window did not get the keyboard back"
  (($(leaves) == lost + 1)) ||
    fail "round $round: the user's window lost the keyboard $(($(leaves) - lost)) times, not once (to quick search)"
  echo "round $round: copied, then quick search typed its pick into the user's window"
done
# Every confirmation faded in and out without asking Qt's Wayland platform
# for what it cannot do (it writes a warning for each step of such a fade).
if grep -q "does not support setting window opacity" "$work/quillet.log"; then
  fail "the copy's confirmation set its window's opacity, which Qt on Wayland cannot: $(grep -c "does not support setting window opacity" "$work/quillet.log") warnings"
fi
echo "Wayland copy-then-search test passed"
