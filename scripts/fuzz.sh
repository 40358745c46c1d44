#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs all of them at once,
# each for N seconds (first argument, default 60), starting from its seeds in
# fuzz/corpus/<name>/, the sample exports in tests/data/ and, where they are
# there, the shared conformance exports. Fails when any target finds a crash,
# a sanitizer report or a hang; the input that did it is kept in
# build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=build/fuzz/runs
findings=build/fuzz/findings
mkdir -p "$work" "$findings"

# Exports are seeds too: the project's samples, and other authenticators' own
# exports read from the shared test data beside the checkout (when it is
# there) rather than copied into it.
conformance=../shared/conformance
export_seeds() {
  local dir
  for dir in tests/data "$conformance"; do
    case $1 in
      import_*) [ -d "$dir/exports" ] && echo "$dir/exports/" ;;
    esac
    case $1 in
      migration_link|import_any|import_tokens)
        [ -d "$dir/migration" ] && echo "$dir/migration/" ;;
    esac
  done
  return 0
}

names=()
pids=()
for binary in build/fuzz/fuzz/fuzz_*; do
  [ -f "$binary" ] && [ -x "$binary" ] || continue
  name=${binary##*/fuzz_}
  # New inputs go to a scratch folder; the seed folders in the tree stay as
  # they are. The whole-dispatch target also starts from every reader's seeds.
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name/")
  [ "$name" = import_any ] && for d in fuzz/corpus/import_*/ fuzz/corpus/migration_link/; do
    [ -d "$d" ] && seeds+=("$d")
  done
  while read -r d; do [ -n "$d" ] && seeds+=("$d"); done < <(export_seeds "$name")
  mkdir -p "$work/$name"
  "$binary" "$work/$name" "${seeds[@]}" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/$name-" -print_final_stats=1 \
    >"$work/$name.log" 2>&1 &
  names+=("$name")
  pids+=($!)
done

failed=0
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    echo "fuzz: ${names[$i]}: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/${names[$i]}.log" | grep -o '[0-9]*$') runs, no finding"
  else
    failed=1
    echo "fuzz: ${names[$i]}: FAILED (log: $work/${names[$i]}.log)"
    tail -n 40 "$work/${names[$i]}.log"
  fi
done
exit $failed
