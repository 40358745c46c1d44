#!/usr/bin/env bash
# Closing the main window on a desktop with and without a tray, as a user
# closes it (Alt+F4 to openbox): with trayer's tray Quillet stays in the tray
# and a second start shows the window again; once the tray has gone, closing
# the window ends Quillet rather than leaving it running with nothing on
# screen.
# Run inside tests/with-session.sh (private D-Bus and keyring).
# Usage: no_tray_close.sh QUILLET_BINARY SEED_BINARY
set -euo pipefail
quillet=$1
seed=$2
fail() {
  echo "no-tray test: $*" >&2
  [ -f "$work/quillet.log" ] && sed 's/^/quillet: /' "$work/quillet.log" >&2
  exit 1
}
# shellcheck source=../support/desktop.sh
source "$(dirname "$0")/../support/desktop.sh"
start_xvfb
start_openbox
start_trayer
trayer_pid=${pids[-1]}

"$seed" 2 >/dev/null || fail "could not seed the vault"
"$quillet" >"$work/quillet.log" 2>&1 &
quillet_pid=$!
pids+=("$quillet_pid")
running() { kill -0 "$quillet_pid" 2>/dev/null; }

icon_docked() {
  local tray
  tray=$(timeout 10 xdotool search --class trayer 2>/dev/null | head -n1)
  [ -n "$tray" ] && [ "$(timeout 10 xwininfo -tree -id "$tray" | grep -c '0x')" -gt 1 ]
}
wait_for 60 icon_docked || fail "no icon docked in the tray"

close_main() {
  local main
  main=$(find_window 60 --name '^Quillet$') || fail "the main window is not on screen"
  xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers alt+F4
  wait_gone '^Quillet$' || fail "Alt+F4 did not close the main window"
}

# With a tray: the window closes, Quillet stays and comes back when started
# again.
close_main
timeout 60 "$quillet" >"$work/second.log" 2>&1 || fail "the second start did not end"
find_window 30 --name '^Quillet$' >/dev/null || fail "a second start did not show the main window again"
running || fail "Quillet ended when its window closed while a tray ran"
echo "with a tray: Quillet stays when its window closes"

# The tray goes away: closing the window now ends Quillet, cleanly.
kill "$trayer_pid"
wait "$trayer_pid" 2>/dev/null || true
close_main
wait_for 30 eval '! running' || fail "Quillet still runs with no window and no tray"
status=0
wait "$quillet_pid" || status=$?
[ "$status" = 0 ] || fail "Quillet ended with status $status"
echo "without a tray: closing the main window quits Quillet"
