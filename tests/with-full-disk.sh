#!/usr/bin/env bash
# Runs a command with QUILLET_FULL_DISK naming a small file system of its own
# (a 512 KiB tmpfs, mounted in a private mount namespace that nothing outside
# sees), which the test fills to the last block for a real full disk. Where
# mounting is not allowed (not root, or a container that forbids it) the
# command runs without the variable, and the tests that need it skip.
# Usage: with-full-disk.sh COMMAND [ARGS...]
set -uo pipefail

if [[ $# -eq 0 ]]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi
folder=$(mktemp -d "${TMPDIR:-/tmp}/quillet-full-disk.XXXXXX") || exit 1
trap 'rm -rf "$folder"' EXIT
if [[ $(id -u) == 0 ]] && unshare -m --propagation private true 2>/dev/null; then
  QUILLET_FULL_DISK=$folder unshare -m --propagation private bash -c '
    if mount -t tmpfs -o size=512k,mode=0700 quillet-full-disk "$QUILLET_FULL_DISK"; then
      exec "$@"
    fi
    unset QUILLET_FULL_DISK
    exec "$@"' with-full-disk "$@"
else
  "$@"
fi
