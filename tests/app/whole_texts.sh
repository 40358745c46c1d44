#!/usr/bin/env bash
# Runs the whole-text test program the way a desktop starts a program whose
# user enlarged its text or scaled its display: on its own X server of the
# given size, under openbox, with the given variables in its environment
# (QT_FONT_DPI with QT_ENABLE_HIGHDPI_SCALING=0 for large text,
# QT_SCALE_FACTOR for scaling).
# Usage: whole_texts.sh WIDTHxHEIGHT [NAME=VALUE...] PROGRAM [ARGS...]
set -euo pipefail
fail() {
  echo "whole_texts: $*" >&2
  exit 1
}
# shellcheck source=tests/support/desktop.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/desktop.sh"
size=$1
shift
command -v openbox >/dev/null || fail "openbox is not installed"
start_xvfb -screen 0 "${size}x24"
start_openbox
while [[ $# -gt 0 && $1 == *=* ]]; do
  export "${1?}"
  shift
done
"$@"
