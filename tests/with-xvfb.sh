#!/usr/bin/env bash
# Runs a command against a private X server (Xvfb on the first free display)
# with Qt on its xcb platform, and stops the server afterwards.
# Usage: with-xvfb.sh COMMAND [ARGS...]
# XVFB_SCREENS replaces the one 1024x768 screen (e.g. two "-screen N WxHxD").
set -euo pipefail
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/display"
# shellcheck disable=SC2086
Xvfb -displayfd 3 ${XVFB_SCREENS:--screen 0 1024x768x24} -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
# Clients reach the server before the command starts (see tests/support/desktop.sh).
end=$((SECONDS + 30))
until timeout 10 xprop -root -len 0 _NET_SUPPORTED >/dev/null 2>&1 || ((SECONDS >= end)); do sleep 0.1; done
if ! timeout 10 xprop -root -len 0 _NET_SUPPORTED >/dev/null 2>&1; then
  echo "with-xvfb: no client can open $DISPLAY" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export QT_QPA_PLATFORM=xcb
# An X11 session: the program picks the portals only in a Wayland one.
unset WAYLAND_DISPLAY
export XDG_SESSION_TYPE=x11
status=0
"$@" || status=$?
exit "$status"
