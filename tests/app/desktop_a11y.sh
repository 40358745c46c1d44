#!/usr/bin/env bash
# The real program read as a screen reader reads it: on a private X server
# with openbox and trayer's tray, with the accessibility bus of a private
# session, the main window's rows are read over AT-SPI and each code must be
# the one oathtool computes; every control is named, nothing decorative is
# announced, and "Copy code" pressed through AT-SPI puts the shown code on the
# clipboard. Then the tray's panel, opened at the docked icon, reads its
# codes (oathtool's) and closes on Escape and a click elsewhere; the fields of
# the Hotkeys tab and of the edit sheet have names, no two alike; the add
# sheet's ways in are page tabs and its choices radio buttons; Settings and
# the tray panel say "the tray panel", Enter and Esc; and after a delete and a
# restore the rows are read in the order they are shown.
# Run inside tests/with-session.sh (private D-Bus and keyring).
# Usage: desktop_a11y.sh QUILLET_BINARY SEED_BINARY
set -euo pipefail
quillet=$1
seed=$2
here=$(cd "$(dirname "$0")" && pwd)
fail() {
  echo "accessibility test: $*" >&2
  for log in quillet openbox; do [ -f "$work/$log.log" ] && sed "s/^/$log: /" "$work/$log.log" >&2; done
  exit 1
}
# shellcheck source=../support/desktop.sh
source "$here/../support/desktop.sh"
start_xvfb
start_atspi
start_openbox
start_trayer

"$seed" 6 >/dev/null || fail "could not seed the vault"
# No clock measurement against the network: codes follow this computer's clock.
QUILLET_TIME_REFERENCE_URL=http://127.0.0.1:9/ "$quillet" >"$work/quillet.log" 2>&1 &
pids+=($!)

/usr/bin/python3 -u "$here/read_window.py" || fail "the window does not read as it should"
/usr/bin/python3 -u "$here/read_panels.py" || fail "the panels do not read as they should"
echo "accessibility test passed"
