#!/usr/bin/env bash
# Runs its arguments inside a real headless sway session (wlroots' headless
# backend, no GPU) and exits with the command's status: sway with no bar (so
# no StatusNotifierWatcher), on a private session bus (dbus-run-session, so
# the desktop portals are activated from the system's service files) and
# with fresh HOME and XDG folders. The portals are the ones installed: with
# only KDE's backend beside xdg-desktop-portal, as this project's test
# packages install it, the portal names GlobalShortcuts, which that backend
# serves only inside Plasma.
#
# The command sees WAYLAND_DISPLAY, XDG_SESSION_TYPE wayland and
# XDG_CURRENT_DESKTOP sway, and QUILLET_TEST_SWAY. sway refuses to run as
# root: as root, the session and the command run as the user nobody, so the
# command must be readable by it.
#
# Exits 77 (a skipped test for CTest) only when sway itself cannot run here;
# everything started is stopped by its id at the end.
# Usage: with-sway.sh COMMAND [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self="$here/$(basename "${BASH_SOURCE[0]}")"
skip=77
# wait_until, bus_call, stop_bus_services, process_ended.
# shellcheck source=tests/private-bus.sh
source "$here/private-bus.sh"

# The command's part, run by sway: the session's environment goes to the
# bus for the services it activates, the command runs, then every other
# process on the bus is stopped (by its id, read from the bus) and sway is
# told to end.
if [[ ${1:-} == --in-sway ]]; then
  shift
  root=$QUILLET_SWAY_ROOT
  : >"$root/session-started"
  exec >>"$root/command.out" 2>&1
  status=0
  if dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    HOME XDG_RUNTIME_DIR XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME; then
    "$@" || status=$?
  else
    echo "with-sway: could not pass the session's environment to the bus" >&2
    status=1
  fi
  set +e
  stop_bus_services
  echo "$status" >"$root/status"
  swaymsg exit >/dev/null 2>&1 || true
  exit "$status"
fi

if [[ $# -eq 0 ]]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi
for tool in dbus-run-session dbus-send dbus-update-activation-environment; do
  if ! command -v "$tool" >/dev/null; then
    echo "with-sway: $tool is not installed" >&2
    exit 1
  fi
done
for program in /usr/bin/sway /usr/bin/swaymsg /usr/libexec/xdg-desktop-portal; do
  if [[ ! -x $program ]]; then
    echo "with-sway: $program is missing (scripts/deps.sh installs it); skipping" >&2
    exit "$skip"
  fi
done

root=$(mktemp -d "${TMPDIR:-/tmp}/quillet-sway.XXXXXX")
sway_pid=
cleanup() {
  if [[ -n $sway_pid ]]; then
    kill "$sway_pid" 2>/dev/null
    wait "$sway_pid" 2>/dev/null
  fi
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir -p "$root/home" "$root/data" "$root/config" "$root/cache" "$root/run"
chmod 700 "$root/run"
chmod 755 "$root"
{
  printf 'exec %q --in-sway' "$self"
  printf ' %q' "$@"
  echo
} >"$root/sway.config"
as_user=()
if [[ $(id -u) == 0 ]]; then
  chown -R nobody:nogroup "$root"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi

export QUILLET_SWAY_ROOT="$root"
export QUILLET_TEST_SWAY="$root"
export HOME="$root/home"
export XDG_DATA_HOME="$root/data"
export XDG_CONFIG_HOME="$root/config"
export XDG_CACHE_HOME="$root/cache"
export XDG_RUNTIME_DIR="$root/run"
export XDG_CURRENT_DESKTOP=sway
export XDG_SESSION_TYPE=wayland
export WLR_BACKENDS=headless
export WLR_LIBINPUT_NO_DEVICES=1
export WLR_RENDERER=pixman
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM GNOME_KEYRING_CONTROL SSH_AUTH_SOCK \
  DBUS_SESSION_BUS_ADDRESS XAUTHORITY SWAYSOCK XDG_DESKTOP_PORTAL_DIR

"${as_user[@]}" dbus-run-session -- sway -c "$root/sway.config" >"$root/sway.log" 2>&1 &
sway_pid=$!
sway_ended() { process_ended "$sway_pid"; }
until sway_ended || [[ -s $root/status ]]; do
  sleep 0.2
done
if ! wait_until 300 sway_ended; then
  echo "with-sway: sway did not end with its session; stopping it" >&2
  kill "$sway_pid" 2>/dev/null
fi
sway_status=0
wait "$sway_pid" || sway_status=$?
sway_pid=
cat "$root/command.out" 2>/dev/null || true
if [[ ! -e $root/session-started ]]; then
  echo "with-sway: sway could not start here (status $sway_status); skipping" >&2
  sed 's/^/sway: /' "$root/sway.log" >&2
  exit "$skip"
fi
if [[ ! -s $root/status ]]; then
  echo "with-sway: sway ended before the command did (status $sway_status)" >&2
  sed 's/^/sway: /' "$root/sway.log" | tail -n 40 >&2
  exit 1
fi
exit "$(cat "$root/status")"
