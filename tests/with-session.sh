#!/usr/bin/env bash
# Runs its arguments inside a private D-Bus session bus with its own
# gnome-keyring, whose "login" collection is the default and unlocked, and
# exits with the command's status.
#
# Everything lives in a fresh temporary folder that is removed afterwards:
# the bus socket, the keyrings (XDG_DATA_HOME) and the keyring's control
# socket (XDG_RUNTIME_DIR). The user's own session bus and keyring are never
# reached, and it works as root, without a display, with no session at all.
set -euo pipefail

if [[ $# -eq 0 ]]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi

for tool in dbus-daemon dbus-send gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null; then
    echo "with-session: $tool is not installed" >&2
    exit 1
  fi
done

root=$(mktemp -d "${TMPDIR:-/tmp}/quillet-session.XXXXXX")
bus_pid=
session_keyring_pid=

cleanup() {
  set +e
  # Only the two daemons started here, by their ids.
  for pid in $session_keyring_pid $bus_pid; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$root/home" "$root/data" "$root/config" "$root/cache" "$root/run"
chmod 700 "$root/run"
export HOME="$root/home"
export XDG_DATA_HOME="$root/data"
export XDG_CONFIG_HOME="$root/config"
export XDG_CACHE_HOME="$root/cache"
export XDG_RUNTIME_DIR="$root/run"
# Tells tests that write to the keyring that it is this throwaway one.
export QUILLET_TEST_SESSION="$root"
# Nothing may pop up a dialog on the developer's screen: a prompt has to fail
# here, which is what the tests of a locked keyring rely on.
unset DISPLAY WAYLAND_DISPLAY GNOME_KEYRING_CONTROL SSH_AUTH_SOCK

# Our own bus configuration rather than the system's session.conf: without
# service directories nothing gets activated on this bus (no gcr-prompter, no
# second keyring daemon), so the only Secret Service is the one started below.
# shellcheck source=tests/private-bus.sh
source "$(dirname "${BASH_SOURCE[0]}")/private-bus.sh"
start_private_bus session "$root/bus"
bus_pid=$private_bus_pid
export DBUS_SESSION_BUS_ADDRESS="unix:path=$root/bus"

bus_call() {
  dbus-send --session --print-reply=literal --reply-timeout=2000 "$@" 2>/dev/null
}

wait_for() {
  local what=$1
  shift
  wait_until 300 "$@" && return 0
  echo "with-session: $what did not come up" >&2
  exit 1
}

wait_for "the session bus" bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId

start_session_keyring "$root/keyring.log"

status=0
"$@" || status=$?
# A program ended by a signal it does not report (SIGPIPE) says nothing itself.
((status == 0)) || echo "with-session: $(basename "$1") ended with status $status" >&2
exit "$status"
