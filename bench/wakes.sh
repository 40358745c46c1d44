#!/usr/bin/env bash
# How often the real program wakes while it sits idle with its main window
# open and its icon docked in trayer's tray under openbox, 20 accounts on the
# file backend: the poll calls its threads make, and how many of them slept
# until a timer or an event woke them, counted with strace, per second, over
# the first SECONDS after its window appeared and over SECONDS once it has
# run for a while (the main thread, and all threads together).
# Run inside tests/with-session.sh:
#   tests/with-session.sh bench/wakes.sh build/ci/app/quillet build/ci/tests/app/quillet_seed_vault [SECONDS] [SETTLE]
# SETTLE (40 unless given) is how long after its window appeared the idle count
# starts; SECONDS (30, one period of the codes) how long each count lasts.
set -euo pipefail
quillet=$1
seed=$2
seconds=${3:-30}
settle=${4:-40}
fail() {
  echo "wake benchmark: $*" >&2
  exit 1
}
command -v strace >/dev/null || fail "strace is not installed"
# shellcheck source=../tests/support/desktop.sh
source "$(dirname "$0")/../tests/support/desktop.sh"
start_xvfb
start_openbox
start_trayer
export QUILLET_KEYCHAIN=file
export QUILLET_TIME_REFERENCE_URL=http://127.0.0.1:9/
"$seed" 20 >/dev/null || fail "could not seed the vault"

"$quillet" >"$work/quillet.log" 2>&1 &
pid=$!
pids+=("$pid")
find_window 60 --name '^Quillet$' >/dev/null || fail "the main window did not appear"
started=$SECONDS

# count LABEL: SECONDS of strace on every thread. Per second: the poll calls
# of the main thread and of all threads (every turn of an event loop makes
# one or more, most of them answered at once), and the wakes, the polls that
# slept at least a millisecond before a timer or an event ended them.
count() {
  local log=$work/strace.log
  timeout --signal=INT "$seconds" strace -f -qq -T -e trace=poll,ppoll -o "$log" -p "$pid" \
    2>/dev/null || true
  [ -s "$log" ] || { echo "$1: strace saw nothing (is ptrace allowed here?)"; return 0; }
  awk -v pid="$pid" -v s="$seconds" -v label="$1" '
    / p?poll\(|<\.\.\. p?poll resumed>/ {
      if ($0 !~ /unfinished/) {
        all++; if ($1 == pid) main++
        if (match($0, /<[0-9.]+>$/)) {
          t = substr($0, RSTART + 1, RLENGTH - 2) + 0
          if (t >= 0.001) { woken++; if ($1 == pid) mainWoken++ }
        }
      }
    }
    END {
      printf "%s: poll calls a second: main thread %.1f, all threads %.1f; wakes a second: main thread %.1f, all threads %.1f\n",
        label, main / s, all / s, mainWoken / s, woken / s
    }' "$log"
}
count "the first $seconds s"
while ((SECONDS - started < settle)); do sleep 1; done
count "idle after $settle s, $seconds s"
kill -0 "$pid" 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/quillet.log")"
