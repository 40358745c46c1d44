#!/usr/bin/env bash
# Runs its arguments inside a real headless KDE Plasma Wayland session and
# exits with the command's status: KWin (virtual output 1280x800, with
# XWayland), the desktop portals with their KDE backend, and a private
# gnome-keyring whose default collection is unlocked, all on a private
# session bus (dbus-run-session, so the portals are activated from the
# system's service files) and with a fresh HOME and XDG folders.
#
# The command sees WAYLAND_DISPLAY and DISPLAY (XWayland), XDG_SESSION_TYPE
# wayland, XDG_CURRENT_DESKTOP KDE, and starts only once the portal answers
# for GlobalShortcuts, RemoteDesktop and Screenshot. KWin runs with
# KWIN_WAYLAND_NO_PERMISSION_CHECKS=1, so any client may use its fake-input
# protocol (tests/support/WaylandKeys) and its screenshot interface.
#
# Exits 77 (a skipped test for CTest) only when KWin itself cannot run here;
# everything started is stopped by its id at the end. Works as root, with no
# display and no session at all.
# Usage: with-kwin.sh COMMAND [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self="$here/$(basename "${BASH_SOURCE[0]}")"
skip=77
# wait_until, bus_call, stop_bus_services, process_ended, and the keyring
# that the bus's part starts.
# shellcheck source=tests/private-bus.sh
source "$here/private-bus.sh"

# The command's part, run by KWin as its session: the environment KWin gives
# its session (WAYLAND_DISPLAY, DISPLAY) goes to the bus so that activated
# services (the portal and its backend) reach this compositor, then the
# portal is woken and waited for.
if [[ ${1:-} == --in-kwin ]]; then
  shift
  root=$QUILLET_KWIN_ROOT
  : >"$root/session-started"
  # KWin's XWayland (its child, like this session), so that the end can wait
  # for it: one that outlives KWin still holds its display's name, and the X
  # server a later test starts at that number cannot be reached meanwhile.
  for proc in /proc/[0-9]*; do
    [[ $(cat "$proc/comm" 2>/dev/null) == Xwayland ]] || continue
    read -r _ _ _ parent _ <"$proc/stat" 2>/dev/null || continue
    [[ $parent == "$PPID" ]] && echo "${proc#/proc/}" >>"$root/xwayland.pids"
  done
  dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP \
    XDG_SESSION_TYPE KDE_SESSION_VERSION HOME XDG_RUNTIME_DIR XDG_DATA_HOME XDG_CONFIG_HOME \
    XDG_CACHE_HOME KWIN_WAYLAND_NO_PERMISSION_CHECKS || {
    echo "with-kwin: could not pass the session's environment to the bus" >&2
    echo 1 >"$root/status"
    exit 1
  }
  portal_has() {
    [[ $(bus_call --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
      org.freedesktop.DBus.Properties.Get string:"org.freedesktop.portal.$1" string:version) == *uint32* ]]
  }
  for portal in GlobalShortcuts RemoteDesktop Screenshot; do
    if ! wait_until 600 portal_has "$portal"; then
      echo "with-kwin: the desktop portal offers no $portal" >&2
      echo 1 >"$root/status"
      exit 1
    fi
  done
  status=0
  "$@" || status=$?
  echo "$status" >"$root/status"
  exit "$status"
fi

# The bus's part: the keyring, then KWin with the command as its session,
# then every process the bus started is stopped (by its id, read from the bus)
# before the bus goes.
if [[ ${1:-} == --in-bus ]]; then
  shift
  root=$QUILLET_KWIN_ROOT
  session_keyring_pid=
  kwin_pid=
  cleanup() {
    set +e
    if [[ -n $kwin_pid ]]; then
      kill "$kwin_pid" 2>/dev/null
      wait "$kwin_pid" 2>/dev/null
    fi
    stop_bus_services
    local xwayland
    for xwayland in $(cat "$root/xwayland.pids" 2>/dev/null); do
      kill "$xwayland" 2>/dev/null
      wait_until 300 test ! -e "/proc/$xwayland"
    done
    if [[ -n $session_keyring_pid ]]; then
      kill "$session_keyring_pid" 2>/dev/null
      wait "$session_keyring_pid" 2>/dev/null
    fi
  }
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  start_session_keyring "$root/keyring.log"

  # KWin runs the command as its session: the command line is written into a
  # script because KWin takes the session as one program, and KWin drops its
  # session's output, so the script writes to this shell's (handed down as
  # descriptors 5 and 6).
  {
    echo '#!/usr/bin/env bash'
    echo 'exec >&5 2>&6 5>&- 6>&-'
    printf 'exec %q --in-kwin' "$self"
    printf ' %q' "$@"
    echo
  } >"$root/session.sh"
  chmod +x "$root/session.sh"
  socket="quillet-kwin-$$"
  exec 5>&1 6>&2
  KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 "$root/bin/kwin_wayland" --virtual --xwayland --no-lockscreen \
    --socket "$socket" --width 1280 --height 800 --exit-with-session "$root/session.sh" \
    >"$root/kwin.log" 2>&1 &
  kwin_pid=$!
  # KWin ends with its session, but now and then it hangs on its way out,
  # after its clients have lost it: once the session has ended, KWin gets
  # 30 s to end, then is stopped, so that the test never waits on it.
  kwin_ended() { process_ended "$kwin_pid"; }
  until kwin_ended || [[ -s $root/status ]]; do
    sleep 0.2
  done
  if ! wait_until 300 kwin_ended; then
    echo "with-kwin: KWin did not end with its session; stopping it" >&2
    kill "$kwin_pid" 2>/dev/null
    wait_until 100 kwin_ended || kill -9 "$kwin_pid" 2>/dev/null
  fi
  kwin_status=0
  wait "$kwin_pid" || kwin_status=$?
  kwin_pid=
  if [[ ! -e $root/session-started ]]; then
    echo "with-kwin: KWin could not start here (status $kwin_status); skipping" >&2
    sed 's/^/kwin: /' "$root/kwin.log" >&2
    exit "$skip"
  fi
  if [[ ! -s $root/status ]]; then
    echo "with-kwin: KWin ended before the command did (status $kwin_status)" >&2
    sed 's/^/kwin: /' "$root/kwin.log" >&2
    exit 1
  fi
  status=$(cat "$root/status")
  if [[ $status != 0 ]]; then
    sed 's/^/kwin: /' "$root/kwin.log" | tail -n 40 >&2
  fi
  exit "$status"
fi

if [[ $# -eq 0 ]]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi
for tool in dbus-run-session dbus-send dbus-update-activation-environment gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null; then
    echo "with-kwin: $tool is not installed" >&2
    exit 1
  fi
done
for program in /usr/bin/kwin_wayland /usr/bin/Xwayland /usr/libexec/xdg-desktop-portal \
  /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde; do
  if [[ ! -x $program ]]; then
    echo "with-kwin: $program is missing (scripts/deps.sh installs it); skipping" >&2
    exit "$skip"
  fi
done

# KWin puts XWayland's socket there and, unlike an X server started as root,
# does not create the folder.
if [[ ! -d /tmp/.X11-unix ]] && mkdir -p /tmp/.X11-unix 2>/dev/null; then
  chmod 1777 /tmp/.X11-unix
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/quillet-kwin.XXXXXX")
trap 'rm -rf "$root"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir -p "$root/home/Pictures" "$root/data" "$root/config" "$root/cache" "$root/run" "$root/bin"
chmod 700 "$root/run"
# The installed binary carries the file capability cap_sys_resource, which a
# container's bounding set may lack (exec then fails with EPERM); a copy has
# none and KWin does not need it.
cp /usr/bin/kwin_wayland "$root/bin/kwin_wayland"

export QUILLET_KWIN_ROOT="$root"
export QUILLET_TEST_SESSION="$root"
export HOME="$root/home"
export XDG_DATA_HOME="$root/data"
export XDG_CONFIG_HOME="$root/config"
export XDG_CACHE_HOME="$root/cache"
export XDG_RUNTIME_DIR="$root/run"
export XDG_CURRENT_DESKTOP=KDE
export XDG_SESSION_TYPE=wayland
export KDE_SESSION_VERSION=5
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM GNOME_KEYRING_CONTROL SSH_AUTH_SOCK \
  DBUS_SESSION_BUS_ADDRESS XAUTHORITY

status=0
dbus-run-session -- "$self" --in-bus "$@" || status=$?
exit "$status"
