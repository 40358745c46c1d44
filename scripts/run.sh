#!/usr/bin/env bash
# Builds what a user runs, Quillet and its AutoFill host and plugin
# (build/dev/bin/larkspur-host, build/dev/bin/larkspur.so), with all that
# `cmake --install build/dev` puts beside them, and starts Quillet on your
# desktop.

# build_installables BUILD_FOLDER [CMAKE]: the build step, into a configured
# build folder. The install test (tests/data/install_test.sh) sources this
# script and runs the same step, then the README's install command alone.
build_installables() { "${2:-cmake}" --build "$1" --target quillet_installables; }

# Sourced, the script only defines the step.
[[ "${BASH_SOURCE[0]}" == "$0" ]] || return 0

set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset dev >/dev/null
build_installables build/dev
exec build/dev/app/quillet "$@"
