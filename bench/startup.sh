#!/usr/bin/env bash
# Cold start of the real program until its main window is drawn, and until it
# has read the vault (off the GUI thread, so usually after the window is up),
# and its memory once idle, with a vault of 200 accounts, on a private X server.
# Run inside tests/with-session.sh:
#   tests/with-session.sh bench/startup.sh build/dev/app/quillet build/dev/tests/app/quillet_seed_vault
set -euo pipefail
quillet=$1
seed=$2
runs=${3:-5}
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb QUILLET_STARTUP_REPORT=1
"$seed" 200 >/dev/null

times=()
reads=()
for run in $(seq "$runs"); do
  start=$(date +%s%3N)
  "$quillet" 2>"$work/err" &
  pid=$!
  for _ in $(seq 200); do
    grep -q 'main window shown' "$work/err" && grep -q 'vault read' "$work/err" && break
    sleep 0.02
  done
  shown=$(grep -o 'shown at [0-9]*' "$work/err" | grep -o '[0-9]*$')
  read=$(grep -o 'read at [0-9]*' "$work/err" | grep -o '[0-9]*$')
  times+=($((shown - start)))
  reads+=($((read - start)))
  if [ "$run" -eq "$runs" ]; then
    sleep 3
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
  fi
  kill "$pid"; wait "$pid" 2>/dev/null || true
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "start until the main window is drawn (ms): ${times[*]}; median ${sorted[$((runs / 2))]}"
sorted=($(printf '%s\n' "${reads[@]}" | sort -n))
echo "start until the vault is read (ms): ${reads[*]}; median ${sorted[$((runs / 2))]}"
echo "idle memory (RSS) with 200 accounts: $((rss / 1024)) MiB"
