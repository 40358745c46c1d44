#!/usr/bin/env bash
# The real program importing a 2FAS export (FORMAT 2fas) or a text file of
# otpauth:// links (FORMAT links) of COUNT entries, opened from its
# add sheet, with its main window open and its icon docked in trayer's tray
# under openbox, on the file backend: the time until the sheet is gone and
# the program is idle again, the most memory it held above what it held
# before (VmHWM, reset first), and what it still holds a few seconds after.
# Driven as a user does: Ctrl+N, the sheet's buttons over AT-SPI, the path
# typed into the file dialog, Enter.
# Run inside tests/with-session.sh (a private D-Bus for the accessibility bus):
#   tests/with-session.sh bench/import.sh build/ci/app/quillet [COUNT] [RUNS] [FORMAT]
set -euo pipefail
quillet=$1
count=${2:-50000}
runs=${3:-1}
format=${4:-2fas}
fail() {
  echo "import benchmark: $*" >&2
  [ -f "$work/quillet.log" ] && sed 's/^/quillet: /' "$work/quillet.log" | tail -n 20 >&2
  exit 1
}
# shellcheck source=../tests/support/desktop.sh
source "$(dirname "$0")/../tests/support/desktop.sh"
start_xvfb
start_atspi
start_openbox
start_trayer
export QUILLET_KEYCHAIN=file
export QUILLET_TIME_REFERENCE_URL=http://127.0.0.1:9/

# The export: as the 2FAS app writes one, or links one a line; a random
# secret each.
case $format in
  2fas) export_file=$work/export.2fas ;;
  links) export_file=$work/links.txt ;;
  *) fail "no format $format" ;;
esac
python3 - "$count" "$export_file" "$format" <<'EOF'
import base64, json, os, sys
count, path, form = int(sys.argv[1]), sys.argv[2], sys.argv[3]
if form == "links":
    with open(path, "w") as f:
        for i in range(count):
            secret = base64.b32encode(os.urandom(10)).decode()
            f.write(f"otpauth://totp/Service%20{i}:user{i}?secret={secret}&issuer=Service%20{i}\n")
    sys.exit(0)
services = [{
    "name": f"Service {i}",
    "secret": base64.b32encode(os.urandom(10)).decode(),
    "updatedAt": 1700000000000 + i,
    "otp": {"account": f"user{i}", "issuer": f"Service {i}", "digits": 6, "period": 30,
            "algorithm": "SHA1", "tokenType": "TOTP"},
    "order": {"position": i},
} for i in range(count)]
with open(path, "w") as f:
    json.dump({"services": services, "updatedAt": 1700000100000, "schemaVersion": 4,
               "appVersionCode": 5000002, "appVersionName": "5.0.0", "appOrigin": "android",
               "groups": []}, f, separators=(",", ":"))
EOF

kib() { awk -v field="$2:" '$1 == field {print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# The program used no processor time over a second.
idle() {
  local before
  before=$(cpu_ticks "$1")
  sleep 1
  [ "$(cpu_ticks "$1")" = "$before" ]
}
sheet_gone() { no_window '^Add account$'; }

for run in $(seq "$runs"); do
  rm -rf "${XDG_DATA_HOME:?}/Quillet" "${XDG_DATA_HOME:?}/tarnwick" "${XDG_CONFIG_HOME:?}/tarnwick"
  "$quillet" >"$work/quillet.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  main=$(find_window 60 --name '^Quillet$') || fail "the main window did not appear"
  wait_for 60 idle "$pid" || fail "the program did not settle after its start"
  sleep 2
  before=$(kib "$pid" VmRSS)
  # From here on VmHWM counts from the present resident size.
  echo 5 >"/proc/$pid/clear_refs"

  xdotool windowfocus --sync "$main" 2>/dev/null || true
  xdotool key ctrl+n
  find_window 30 --name '^Add account$' >/dev/null || fail "Ctrl+N did not open the add sheet"
  a11y press quillet "Paste link" >/dev/null || fail "no Paste link mode"
  a11y press quillet/"Add account" "Open a .2fas / .json / .txt file…" "push button" >/dev/null \
    || fail "no button to open a file"
  a11y wait quillet "File name:" >/dev/null || fail "no file dialog"
  a11y fill quillet "$export_file" "File name:" >/dev/null || fail "no file name field"
  dialog=$(find_window 30 --name '^Open$') || fail "no file dialog window"
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  start=$(date +%s%3N)
  xdotool key Return
  wait_for 900 sheet_gone || fail "the add sheet stayed open: $(a11y texts quillet/'Add account' 2>&1 | head -n 5)"
  wait_for 900 idle "$pid" || fail "the program did not settle after the import"
  # Less the second of quiet that told it was done.
  done_at=$(($(date +%s%3N) - 1000))
  peak=$(kib "$pid" VmHWM)
  sleep 5
  held=$(kib "$pid" VmRSS)
  stored=$(grep -o '"account"' "$XDG_DATA_HOME"/Quillet/keychain.json 2>/dev/null | wc -l || true)
  echo "run $run: $count entries ($format) imported in $((done_at - start)) ms;" \
    "before $((before / 1024)) MiB; peak $(((peak - before) / 1024)) MiB above it;" \
    "held after $(((held - before) / 1024)) MiB above it ($((held / 1024)) MiB); items in the file: $stored"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
done
