#!/usr/bin/env bash
# The real program on the file backend with what an unlucky disk leaves
# behind: a 30 GB sparse keychain file and a FIFO in its place each show the
# unreadable state (read over AT-SPI) rather than reading on or waiting, and
# Ctrl+Q quits; a FIFO in the settings file's place neither holds the start
# nor is replaced; under a file-size limit (prlimit) a write that would pass it
# fails like a full disk: the add sheet says so and the program keeps running.
# Run inside tests/with-session.sh (private D-Bus for the accessibility bus).
# Usage: damaged_files.sh QUILLET SEED_VAULT
set -euo pipefail
quillet=$1
seed=$2
fail() {
  echo "damaged files test: $*" >&2
  [ -f "$work/quillet.log" ] && sed 's/^/quillet: /' "$work/quillet.log" >&2
  exit 1
}
# shellcheck source=../support/desktop.sh
source "$(dirname "$0")/../support/desktop.sh"
start_xvfb
start_atspi
export QUILLET_KEYCHAIN=file
export QUILLET_TIME_REFERENCE_URL=http://127.0.0.1:9/
data="$XDG_DATA_HOME/Quillet"
keychain="$data/keychain.json"
mkdir -p "$data"
chmod 700 "$data"

# Starts the program (through the given command prefix) and waits for its
# main window; sets $quillet_pid and $main.
start_quillet() {
  "$@" "$quillet" >"$work/quillet.log" 2>&1 &
  quillet_pid=$!
  pids+=($quillet_pid)
  main=$(find_window 60 --name '^Quillet$') \
    || fail "the main window did not appear"
}

ended() { ! kill -0 "$1" 2>/dev/null; }
quit_with_ctrl_q() {
  # The window as it is now (Qt may have made it anew since it first showed),
  # given the keyboard, and Ctrl+Q pressed as a user presses it.
  main=$(find_window 30 --name '^Quillet$') \
    || fail "no main window to quit from ($1)"
  xdotool windowfocus --sync "$main" 2>/dev/null || true
  xdotool key ctrl+q
  wait_for 30 ended "$quillet_pid" || fail "Ctrl+Q did not quit ($1)"
  wait "$quillet_pid" 2>/dev/null || true
}

for damage in sparse fifo; do
  rm -f "$keychain"
  case $damage in
    sparse) truncate -s 30G "$keychain" ;;
    fifo) mkfifo -m 600 "$keychain" ;;
  esac
  start_quillet
  a11y wait quillet "Quillet could not read your keyring." || fail "no unreadable state ($damage)"
  if a11y texts quillet | grep -q "Opening your keyring"; then
    fail "still opening the keyring ($damage)"
  fi
  grep -q "keychain stays closed" "$work/quillet.log" || fail "no reason logged ($damage)"
  quit_with_ctrl_q "$damage"
  echo "$damage keychain file: unreadable, Ctrl+Q quits"
done

# A settings file that is a FIFO: the program starts (opening it for reading
# would wait for a writer), says over AT-SPI that it keeps the settings in
# memory, and a setting changed in the settings window leaves the FIFO as it
# was (the file is written by renaming a new one over the path).
settings="$XDG_CONFIG_HOME/tarnwick/Quillet.conf"
mkdir -p "$(dirname "$settings")"
rm -f "$keychain" "$settings"
mkfifo -m 600 "$settings"
start_quillet
a11y wait quillet "Quillet could not use its settings file $settings (it is not a regular file)" \
  || fail "the settings FIFO is not told"
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key ctrl+comma
a11y press quillet/Settings "Show a code in the tray" >/dev/null || fail "no tray code switch"
a11y wait quillet/Settings "Show a code in the tray" || fail "the settings window stopped answering"
[ -p "$settings" ] || fail "the settings FIFO was replaced"
quit_with_ctrl_q "settings FIFO"
[ -p "$settings" ] || fail "the settings FIFO was replaced on the way out"
rm -f "$settings"
echo "settings FIFO: started with the defaults, told, left in place"

# A vault whose file is larger than the limit: the next write of it fails.
rm -f "$keychain"
"$seed" 40 >/dev/null || fail "could not seed the vault"
size=$(stat -c %s "$keychain")
start_quillet prlimit --fsize=$((size - 1024)):$((size - 1024))
a11y wait quillet "user0@example.com" || fail "the seeded vault is not listed"
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key ctrl+n
find_window 30 --name '^Add account$' >/dev/null \
  || fail "Control+N did not open the add sheet"
a11y press quillet "Enter by hand" || fail "no manual entry"
a11y wait quillet "Enter a key by hand" || fail "the manual entry form is not shown"
a11y fill quillet/"Add account" "Limited" 1 || fail "no service field"
a11y fill quillet/"Add account" "over@example.com" 2 || fail "no account field"
a11y fill quillet/"Add account" "JBSWY3DPEHPK3PXP" 3 || fail "no secret field"
a11y press quillet/"Add account" "Add" "push button" || fail "no Add button"
a11y wait quillet "The disk is full" || fail "no message for the failed write"
kill -0 "$quillet_pid" 2>/dev/null || fail "the program did not survive the write"
[ "$(stat -c %s "$keychain")" = "$size" ] || fail "the keychain file changed"
a11y press quillet/"Add account" "Cancel" "push button" || fail "no Cancel button"
# The press is carried out after it returns, and while the sheet is open the
# main window takes no keys: Ctrl+Q only once it has gone.
wait_gone '^Add account$' || fail "Cancel did not close the add sheet"
a11y wait quillet "user0@example.com" || fail "the window stopped answering"
quit_with_ctrl_q "file-size limit"
echo "file-size limit: the write failed with a message, the program kept running"
echo "damaged files test passed"
