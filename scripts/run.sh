#!/usr/bin/env bash
# Builds what a user runs, Quillet and its AutoFill host and plugin
# (build/dev/bin/larkspur-host, build/dev/bin/larkspur.so), with all that
# `cmake --install build/dev` puts beside them, and starts Quillet on your
# desktop.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target quillet_installables
exec build/dev/app/quillet "$@"
