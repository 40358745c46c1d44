#!/usr/bin/env bash
# Runs a command against a private X server (Xvfb on the first free display)
# with Qt on its xcb platform, and stops the server afterwards.
# Usage: with-xvfb.sh COMMAND [ARGS...]
# XVFB_SCREENS replaces the one 1024x768 screen (e.g. two "-screen N WxHxD").
set -euo pipefail
fail() {
  echo "with-xvfb: $*" >&2
  exit 1
}
# The server is started, waited for and stopped as the desktop tests' is.
# shellcheck source=tests/support/desktop.sh
source "$(dirname "${BASH_SOURCE[0]}")/support/desktop.sh"
# shellcheck disable=SC2086
start_xvfb ${XVFB_SCREENS:--screen 0 1024x768x24}
status=0
"$@" || status=$?
# A program ended by a signal it does not report (SIGPIPE) says nothing itself.
((status == 0)) || echo "with-xvfb: $(basename "$1") ended with status $status" >&2
exit "$status"
