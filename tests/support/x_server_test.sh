#!/usr/bin/env bash
# The desktop tests' private X server serves one client after another: the
# readiness check, then the window manager, then the program. A server that
# resets when its last client leaves refuses whoever connects during the
# reset ("Failed to open the display"), now and then, under load. A reset
# also drops the root window's properties, which is what this looks for: a
# property set by one client is still there for the clients after it.
set -euo pipefail
fail() {
  echo "x server test: $*" >&2
  exit 1
}
# shellcheck source=desktop.sh
source "$(dirname "$0")/desktop.sh"
start_xvfb
timeout 10 xprop -root -f _QUILLET_TEST_MARK 8s -set _QUILLET_TEST_MARK kept ||
  fail "could not set a property on the root window"
# Each look is a client that connects and leaves; one that connects before
# the server has seen the previous one leave would hide a reset, so several.
for _ in 1 2 3 4 5; do
  wait_for 30 timeout 10 xprop -root -len 0 _NET_SUPPORTED || fail "no client can open $DISPLAY"
  [[ $(timeout 10 xprop -root _QUILLET_TEST_MARK 2>&1) == *'"kept"'* ]] ||
    fail "the X server reset when its last client left"
done
