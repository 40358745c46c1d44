#!/usr/bin/env bash
# Builds every test with warnings as errors and runs them, then again under
# the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

run_preset() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: tests"
  ctest --preset "$preset"
}

run_preset ci
run_preset asan
