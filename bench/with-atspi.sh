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
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
  >/dev/null 2>&1 || fail "the accessibility bus did not come up"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
status=0
"$@" || status=$?
exit "$status"
