#!/usr/bin/env bash
# Builds Quillet and starts it on your desktop.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target quillet
exec build/dev/app/quillet "$@"
