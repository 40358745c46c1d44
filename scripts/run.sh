#!/usr/bin/env bash
# Builds Quillet and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev

echo
echo "Quillet's program does not exist yet: this build holds its libraries and tests only."
echo "Run scripts/test.sh to test them."
exit 1
