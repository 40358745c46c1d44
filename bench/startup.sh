#!/usr/bin/env bash
# Cold start of the real program until its main window is drawn, and until it
# has read the vault and lists it (off the GUI thread, so usually after the
# window is up), and its memory once idle, on a private X server; for each
# vault size given, side by side in one run (the vault grows between sizes).
# Run inside tests/with-session.sh:
#   tests/with-session.sh bench/startup.sh build/dev/app/quillet build/dev/tests/app/quillet_seed_vault [runs] [sizes...]
# Sizes default to 200; "5 0 500" compares an empty vault with 500 accounts.
# When quillet_keyring_floor sits beside the seeding tool's build (bench/),
# each size also shows what the bare D-Bus calls of a read cost there.
set -euo pipefail
quillet=$1
seed=$2
runs=${3:-5}
shift $(($# < 3 ? $# : 3))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(200)
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
exec 3>"$work/display"
# -noreset: each run is the last client to leave, and the next one must not
# connect while the server resets.
Xvfb -displayfd 3 -screen 0 1280x1000x24 -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb QUILLET_STARTUP_REPORT=1

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }

floor=$(dirname "$seed")/../../bench/quillet_keyring_floor
[ -x "$floor" ] || floor=

seeded=0
for size in "${sizes[@]}"; do
  if [ "$size" -gt "$seeded" ]; then
    "$seed" $((size - seeded)) >/dev/null
    seeded=$size
  fi
  times=()
  reads=()
  for run in $(seq "$runs"); do
    start=$(date +%s%3N)
    "$quillet" 2>"$work/err" &
    pid=$!
    for _ in $(seq 500); do
      grep -q 'main window shown' "$work/err" && grep -q 'vault read' "$work/err" && break
      sleep 0.01
    done
    shown=$(grep -o 'shown at [0-9]*' "$work/err" | grep -o '[0-9]*$' || true)
    read=$(grep -o 'read at [0-9]*' "$work/err" | grep -o '[0-9]*$' || true)
    if [ -z "$shown" ] || [ -z "$read" ]; then
      echo "$size accounts: run $run did not draw its window and read the vault within 5 s" >&2
      exit 1
    fi
    times+=($((shown - start)))
    reads+=($((read > shown ? read - start : shown - start)))
    if [ "$run" -eq "$runs" ]; then
      sleep 3
      rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    fi
    kill "$pid"; wait "$pid" 2>/dev/null || true
  done
  echo "$size accounts: window drawn (ms) ${times[*]}, median $(median "${times[@]}");" \
    "list shown (ms) ${reads[*]}, median $(median "${reads[@]}"); idle RSS $((rss / 1024)) MiB ($rss kB)"
  if [ -n "$floor" ]; then
    totals=()
    for run in $(seq "$runs"); do
      line=$("$floor")
      totals+=($(echo "$line" | grep -o 'secrets [0-9.]*' | grep -o '[0-9]*' | head -n1))
    done
    echo "  bare D-Bus calls of the read (ms): ${totals[*]}, median $(median "${totals[@]}"); last: $line"
  fi
done
