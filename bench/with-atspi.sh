#!/usr/bin/env bash
# Runs a command as a screen reader's desktop has it: a private X server
# (Xvfb) and the session's accessibility bus (at-spi-bus-launcher, as the
# desktop tests start it), with Qt's AT-SPI bridge always on. Run inside a
# session bus of its own:
#   dbus-run-session -- bench/with-atspi.sh build/dev/bench/quillet_checkup_stall_bench
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fail() {
  echo "with-atspi: $*" >&2
  exit 1
}
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "no session bus: run inside dbus-run-session"
# shellcheck source=../tests/support/desktop.sh
source "$here/../tests/support/desktop.sh"
start_xvfb
start_atspi
# Its status is the script's; the exit stops the bus and the server.
"$@"
