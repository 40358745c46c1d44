#!/usr/bin/env bash
# Runs every benchmark program once on its smallest case, each with what it
# needs around it (a private session with a keyring, an X server, the
# accessibility bus, PAM wrapped), so that a benchmark that no longer runs
# is seen: it fails when a program ends with a non-zero status or a signal,
# or reports that a case could not run. How fast they are is not looked at.
# Usage: run-all.sh BUILD_DIR   (the build folder holding bench/, app/, tests/)
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
tests=$here/../tests
session=$tests/with-session.sh
xvfb=$tests/with-xvfb.sh
pam=$tests/with-pam.sh
atspi=$here/with-atspi.sh
bench=$build/bench
# Each case once, for as short a time as the library allows (cases that fix
# their own number of iterations keep it).
once=--benchmark_min_time=0.001
log=$(mktemp)
trap 'rm -f "$log"' EXIT

failed=()
# run NAME COMMAND...: one program, its status and output judged.
run() {
  local name=$1
  shift
  local start=$SECONDS
  timeout --kill-after=10 300 "$@" >"$log" 2>&1
  local status=$?
  local why=
  if [ $status -ne 0 ]; then
    why="ended with status $status"
    [ $status -gt 128 ] && why="$why (signal $((status - 128)))"
    [ $status -eq 124 ] && why="did not end within 300 s"
  elif grep -q 'ERROR OCCURRED' "$log"; then
    why="a case could not run"
  elif grep -q 'Failed to match any benchmarks' "$log"; then
    why="no case has the name asked for"
  fi
  if [ -n "$why" ]; then
    echo "FAILED $name: $why"
    sed 's/^/    /' "$log" | tail -n 40
    failed+=("$name")
  else
    echo "ok     $name ($((SECONDS - start)) s)"
  fi
}

run quillet_bench "$bench/quillet_bench" $once
run quillet_keychain_bench "$session" "$bench/quillet_keychain_bench" $once \
  --benchmark_filter='^(memoryBackend|fileBackend)/'
run quillet_timeline_bench "$bench/quillet_timeline_bench" $once \
  --benchmark_filter='^verifyHundredThousandEntries'
run quillet_backup_bench "$bench/quillet_backup_bench" $once \
  --benchmark_filter='^accountsJsonRoundTripOfThousand'
run quillet_store_bench "$bench/quillet_store_bench" $once --benchmark_filter='^importInMemory/'
run quillet_tick_bench "$bench/quillet_tick_bench" $once
run quillet_hotkey_bench "$xvfb" "$bench/quillet_hotkey_bench" $once
run quillet_qr_bench "$bench/quillet_qr_bench" $once --benchmark_filter='^findCodeIn4KScreen'
run quillet_passkey_bench "$bench/quillet_passkey_bench" $once \
  --benchmark_filter='^signOneAssertion'
run quillet_tray_bench "$session" "$bench/quillet_tray_bench" $once \
  --benchmark_filter='^trayTick/1$'
run quillet_backup_stall_bench "$bench/quillet_backup_stall_bench" $once \
  --benchmark_filter='^restoreThousandAccounts'
run quillet_import_bench "$session" "$bench/quillet_import_bench" $once \
  --benchmark_filter='^(importThroughTheSheet/links:1000/backend:0/|importAnExport/entries:1000/)'
run quillet_quicksearch_bench "$bench/quillet_quicksearch_bench" $once \
  --benchmark_filter='^threeLetters/'
run quillet_launcher_bench "$xvfb" "$bench/quillet_launcher_bench" $once
run quillet_raw_create_bench "$session" "$bench/quillet_raw_create_bench" $once \
  --benchmark_filter='^rawCreateItems/20/'
run quillet_checkup_stall_bench "$session" "$atspi" "$bench/quillet_checkup_stall_bench" $once \
  --benchmark_filter='^openingTheCheckupWithAccessibility'
run quillet_wake_bench "$xvfb" "$bench/quillet_wake_bench" $once
run quillet_lock_bench "$session" "$xvfb" "$pam" "$bench/quillet_lock_bench" $once
# The real program importing an export through its add sheet.
run import.sh "$session" "$here/import.sh" "$build/app/quillet" 1000
run wakes.sh "$session" "$here/wakes.sh" "$build/app/quillet" \
  "$build/tests/app/quillet_seed_vault" 1 2
# The cold start, which also runs quillet_keyring_floor beside it.
run startup.sh "$session" "$here/startup.sh" "$build/app/quillet" \
  "$build/tests/app/quillet_seed_vault" 1 5

if [ ${#failed[@]} -gt 0 ]; then
  echo "${#failed[@]} benchmark program(s) did not run: ${failed[*]}"
  exit 1
fi
echo "every benchmark program ran"
