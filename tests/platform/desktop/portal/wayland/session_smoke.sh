#!/usr/bin/env bash
# The Wayland desktop session of tests/with-kwin.sh works as the desktop
# tests need it: KWin runs with XWayland, the portal and its KDE backend
# answer for GlobalShortcuts, RemoteDesktop and Screenshot, and keys pressed
# through KWin's fake input reach the window that has the keyboard, a Wayland
# one and an XWayland one, also after the keyboard moved between them.
# Usage (inside tests/with-kwin.sh): session_smoke.sh WAYLAND_KEYS TEXT_WINDOW
set -euo pipefail
wayland_keys=$1
text_window=$2
fail() {
  echo "Wayland session test: $*" >&2
  for out in "$work"/*.out "$work"/*.err; do
    [ -f "$out" ] && sed "s|^|$(basename "$out"): |" "$out" >&2
  done
  exit 1
}
# shellcheck source=tests/platform/desktop/portal/wayland/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"

[[ -n ${WAYLAND_DISPLAY:-} && -n ${DISPLAY:-} ]] || fail "no WAYLAND_DISPLAY or DISPLAY in the session"
[[ $(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus / \
  org.freedesktop.DBus.NameHasOwner string:org.kde.KWin) == *true* ]] || fail "KWin is not on the bus"
for portal in GlobalShortcuts RemoteDesktop Screenshot; do
  introspection=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.portal.Desktop \
    /org/freedesktop/portal/desktop org.freedesktop.DBus.Introspectable.Introspect)
  [[ $introspection == *"org.freedesktop.portal.$portal"* ]] || fail "the portal does not offer $portal"
done
[ -d "$HOME/Pictures" ] || fail "no ~/Pictures for the Screenshot portal"
echo "session: KWin and the portal are up"

start_text_window Wayland wayland
wait_for 30 said Wayland active || fail "the Wayland window never got the keyboard"
"$wayland_keys" type:hello || fail "wayland_keys could not press keys"
wait_for 30 said Wayland "text: hello" || fail "the keys did not reach the Wayland window"
echo "session: keys reach a Wayland window"

start_text_window XWayland xcb
wait_for 30 said XWayland active || fail "the XWayland window never got the keyboard"
wait_for 30 said Wayland inactive || fail "the Wayland window kept the keyboard"
"$wayland_keys" type:x11 || fail "wayland_keys could not press keys"
wait_for 30 said XWayland "text: x11" || fail "the keys did not reach the XWayland window"
echo "session: keys reach an XWayland window"

kwin_activate Wayland || fail "KWin's scripting did not run"
wait_for 30 said Wayland active || fail "the Wayland window did not get the keyboard back"
"$wayland_keys" shift+a || fail "wayland_keys could not press a combination"
wait_for 30 said Wayland "text: helloA" || fail "the combination did not reach the Wayland window"
said XWayland "text: x11" || fail "the XWayland window received keys it should not"
echo "session: the keyboard moves between windows"
echo "Wayland session test passed"
