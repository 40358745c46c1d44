#!/usr/bin/env bash
# One HOTP counter advanced from two processes, as a user meets it: the
# program shows the account in its window while larkspur-host fills its codes
# into sites. Acme at counter 5; two fills through the host; "Generate next
# HOTP code" pressed in the window (over AT-SPI); a third fill. No code may go
# out twice, each is oathtool's code for its counter, and the counter the
# keyring holds only grows.
# Run inside tests/with-session.sh (private D-Bus and gnome-keyring).
# Usage: hotp_fills.sh QUILLET_BINARY SEED_BINARY HOST_BINARY
set -euo pipefail
quillet=$1
seed=$2
host=$3
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "HOTP fills test: $*" >&2; [ -f "$work/quillet.log" ] && cat "$work/quillet.log" >&2; exit 1; }
# shellcheck source=../support/desktop.sh
source "$here/../support/desktop.sh"
start_xvfb
start_atspi

id=$("$seed" --hotp-account Acme 5) || fail "could not seed the vault"
secret=3132333435363738393031323334353637383930 # the seeded key, hex
code_at() { oathtool --hotp --counter="$1" "$secret"; }
stored() { "$seed" --counter "$id" || fail "the keyring holds no Acme account"; }
fill() {
  local out
  out=$(printf '{"entry":"provideWithoutUserInteraction","request":{"kind":"oneTimeCode","recordIdentifier":"%s"}}' \
    "$id" | "$host") || fail "the host did not fill"
  python3 -c 'import json,sys; print(json.loads(sys.argv[1])["code"])' "$out"
}

QUILLET_TIME_REFERENCE_URL=http://127.0.0.1:9/ "$quillet" >"$work/quillet.log" 2>&1 &
pids+=($!)
# The window shows Acme at counter 5 before anything is filled.
/usr/bin/python3 "$here/hotp_window.py" shows "$(code_at 5)" || fail "the window does not show counter 5"

first=$(fill); [ "$first" = "$(code_at 5)" ] || fail "the first fill is not the code of counter 5"
[ "$(stored)" = 6 ] || fail "the keyring does not hold 6 after the first fill"
second=$(fill); [ "$second" = "$(code_at 6)" ] || fail "the second fill is not the code of counter 6"
[ "$(stored)" = 7 ] || fail "the keyring does not hold 7 after the second fill"

# The window still lists counter 5. Its button takes the next counter from
# the keyring's 7, not from 5: the row then shows the code of the next one.
/usr/bin/python3 "$here/hotp_window.py" next "$(code_at 8)" || fail "\"Generate next HOTP code\" went wrong"
[ "$(stored)" = 8 ] || fail "the keyring does not hold 8 after \"Generate next HOTP code\" (it holds $(stored))"

third=$(fill); [ "$third" = "$(code_at 8)" ] || fail "the third fill is not the code of counter 8"
[ "$(stored)" = 9 ] || fail "the keyring does not hold 9 after the third fill"
[ "$first" != "$second" ] && [ "$second" != "$third" ] && [ "$first" != "$third" ] || fail "a code went out twice"
echo "HOTP fills test passed"
