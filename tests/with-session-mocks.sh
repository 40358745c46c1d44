#!/usr/bin/env bash
# Runs a command beside a private session bus and a private system bus on
# which python3-dbusmock plays the desktop's screen savers (the freedesktop
# one at /ScreenSaver and GNOME's) and logind (its template, with one session
# "c1" that XDG_SESSION_ID names). Tests make them send their signals through
# the mocks' org.freedesktop.DBus.Mock interface. Nothing of the machine's
# own buses is reached.
# Usage: with-session-mocks.sh COMMAND [ARGS...]
set -euo pipefail

if [[ $# -eq 0 ]]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi
python=/usr/bin/python3 # Debian's, which has python3-dbusmock
if ! "$python" -c 'import dbusmock' 2>/dev/null; then
  echo "with-session-mocks: python3-dbusmock is not installed" >&2
  exit 1
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/quillet-buses.XXXXXX")
pids=()
cleanup() {
  set +e
  # Only what was started here, by id, newest first.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# shellcheck source=tests/private-bus.sh
source "$(dirname "${BASH_SOURCE[0]}")/private-bus.sh"
start_private_bus session "$root/session"
pids+=("$private_bus_pid")
start_private_bus system "$root/system"
pids+=("$private_bus_pid")
export DBUS_SESSION_BUS_ADDRESS="unix:path=$root/session"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$root/system"

owned() {
  local bus=$1 name=$2
  dbus-send "--$bus" --print-reply=literal --reply-timeout=2000 --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner "string:$name" 2>/dev/null | grep -q true
}

wait_for() {
  local bus=$1 name=$2
  wait_until 300 owned "$bus" "$name" && return 0
  echo "with-session-mocks: $name did not come up on the $bus bus" >&2
  cat "$root"/*.log >&2
  exit 1
}

"$python" -m dbusmock --system --template logind >"$root/logind.log" 2>&1 &
pids+=($!)
"$python" -m dbusmock --session --template gnome_screensaver >"$root/gnome.log" 2>&1 &
pids+=($!)
"$python" -m dbusmock --session org.freedesktop.ScreenSaver /ScreenSaver \
  org.freedesktop.ScreenSaver >"$root/screensaver.log" 2>&1 &
pids+=($!)
wait_for system org.freedesktop.login1
wait_for session org.gnome.ScreenSaver
wait_for session org.freedesktop.ScreenSaver

# This session, as logind knows it.
dbus-send --system --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
  org.freedesktop.DBus.Mock.AddSession string:c1 string:seat0 "uint32:$(id -u)" \
  "string:$(id -un)" boolean:true >/dev/null
export XDG_SESSION_ID=c1

status=0
"$@" || status=$?
exit "$status"
