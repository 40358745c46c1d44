#!/usr/bin/env bash
# What the app lock keeps from whoever comes to the desk, with the real
# program on a private X server (openbox), driven over AT-SPI
# (tests/support/a11y.py) and xdotool, the keyring on a private session bus
# and PAM through the project's test stack (tests/with-pam.sh):
# - the password question stands above the quick search, whether the panel
#   was open when the screen locked or opened while locked; while locked, no
#   code (oathtool's) can be read anywhere over AT-SPI, hidden elements
#   included (read_codes.py);
# - "Delete All Permanently" confirmed open when the screen locks: the
#   confirmation leaves the screen, a click where "Delete All" was erases
#   nothing, and after the password it comes back; "Delete All" then erases
#   both accounts and the timeline records each;
# - the export's file dialog open when the screen locks: it leaves the
#   screen, no backup is written while locked, and after the password it
#   comes back and saves.
# Run inside tests/with-session.sh and tests/with-pam.sh.
# Usage: lock_dialogs.sh QUILLET SEED_VAULT ARTIFACT_DIR
set -euo pipefail
quillet=$1
seed=$2
artifacts=$3
mkdir -p "$artifacts"
here=$(cd "$(dirname "$0")" && pwd)
fail() {
  echo "lock dialogs test: $*" >&2
  [ -f "$work/quillet.log" ] && sed 's/^/quillet: /' "$work/quillet.log" >&2
  import -window root "$artifacts/lock-dialogs-failure.png" 2>/dev/null || true
  exit 1
}
# shellcheck source=../support/desktop.sh
source "$here/../support/desktop.sh"
[ -n "${PAM_WRAPPER:-}" ] || fail "run through tests/with-pam.sh"
command -v oathtool >/dev/null || fail "oathtool is not installed"
start_xvfb
start_openbox
start_atspi
# No clock measurement against the network.
export QUILLET_TIME_REFERENCE_URL=http://127.0.0.1:9/

prompt='^Unlock Quillet$'
confirmation='^Delete all permanently\?$'
timeline="$XDG_DATA_HOME/Quillet/security-timeline.jsonl"
answer() {
  find_window 30 --name "$prompt" >/dev/null || fail "nothing asked"
  a11y fill "quillet/Unlock Quillet" "correct horse" || fail "the password field takes no text"
  a11y press "quillet/Unlock Quillet" Unlock "push button" || fail "no Unlock"
  wait_gone "$prompt" || fail "the question stayed after the password"
}
screen_locks() {
  dbus-send --session --type=signal /org/freedesktop/ScreenSaver \
    org.freedesktop.ScreenSaver.ActiveChanged boolean:true
}
# map_state WINDOW STATE: xwininfo answers for the window, with that map
# state (IsViewable, IsUnMapped); a look that fails proves nothing.
map_state() {
  local out
  out=$(timeout 10 xwininfo -id "$1" 2>&1) || return 1
  [[ $out == *"Map State: $2"* ]]
}
viewable() { map_state "$1" IsViewable; }
hidden() { map_state "$1" IsUnMapped; }
# above HIGH LOW: the window manager stacks HIGH above LOW.
above() {
  local order high=-1 low=-1 i=0 id
  order=$(timeout 10 xprop -root _NET_CLIENT_LIST_STACKING) || return 1
  for id in ${order#*#}; do
    id=${id%,}
    (($(printf '%d' "$id") == $1)) && high=$i
    (($(printf '%d' "$id") == $2)) && low=$i
    i=$((i + 1))
  done
  ((high >= 0 && low >= 0 && high > low))
}
deleted_held() { "$seed" --list-deleted 2>/dev/null | grep -c .; }
deleted_are() { [ "$(deleted_held)" = "$1" ]; }
erased_entries() { grep -c '"type":"account.erased"' "$timeline" 2>/dev/null || true; }
erasures_are() { [ "$(erased_entries)" = "$1" ]; }

"$seed" 6 >/dev/null || fail "could not seed the vault"
"$seed" --delete 2 || fail "could not move two accounts to Recently Deleted"
deleted_are 2 || fail "the keyring does not hold two deleted accounts"
mkdir -p "$XDG_CONFIG_HOME/tarnwick"
printf '[General]\napp_lock_enabled_mac=true\n' >"$XDG_CONFIG_HOME/tarnwick/Quillet.conf"

"$quillet" >"$work/quillet.log" 2>&1 &
pids+=($!)
main=$(find_window 60 --name '^Quillet$') || fail "the main window did not appear"
answer
shows "Dropbox" || fail "the main window shows no accounts after the unlock"
/usr/bin/python3 "$here/read_codes.py" 6 present || fail "the reader finds no code while open"

# 1. The quick search open as the screen locks, and opened while locked.
xdotool windowactivate --sync "$main"
xdotool key --clearmodifiers ctrl+alt+k
panel=$(find_window 30 --name '^Quick search$') || fail "Ctrl+Alt+K opened no quick search"
screen_locks
question=$(find_window 30 --name "$prompt") || fail "locking asked nothing"
wait_for 30 above "$question" "$panel" || fail "the question opened under the quick search"
/usr/bin/python3 "$here/read_codes.py" 6 absent || fail "codes can be read while locked"
answer
xdotool key Escape
wait_gone '^Quick search$' || fail "the quick search stayed"
xdotool windowactivate --sync "$main"
screen_locks
question=$(find_window 30 --name "$prompt") || fail "locking asked nothing"
xdotool key --clearmodifiers ctrl+alt+k
panel=$(find_window 30 --name '^Quick search$') || fail "Ctrl+Alt+K opened no quick search while locked"
wait_for 30 above "$question" "$panel" || fail "the question stayed under the quick search opened while locked"
answer
shows "Dropbox: user4@example.com" || fail "the quick search lists nothing after the unlock"
xdotool key Escape
wait_gone '^Quick search$' || fail "the quick search stayed"
echo "lock dialogs: the question stands above the quick search; no code is read while locked"

# 2. "Delete All" confirmed at the lock.
xdotool windowactivate --sync "$main"
xdotool key --clearmodifiers ctrl+comma
shows "Startup" || fail "Control+comma did not open Settings"
a11y press quillet "Recently Deleted…" "push button" || fail "no Recently Deleted…"
a11y press "quillet/Recently Deleted" "Delete All Permanently" "push button" \
  || fail "no Delete All Permanently"
box=$(find_window 30 --name "$confirmation") || fail "no confirmation"
read -r x y < <(a11y where "quillet/Delete all permanently?" "Delete All" "push button") \
  || fail "no Delete All in the confirmation"
screen_locks
wait_for 30 hidden "$box" || fail "the confirmation stayed on screen after the screen locked"
find_window 30 --name "$prompt" >/dev/null || fail "locking asked nothing"
# Where "Delete All" was, as a person would click, and as a screen reader
# would press it.
xdotool mousemove --sync "$x" "$y" click 1
! a11y --seconds 2 press "quillet/Delete all permanently?" "Delete All" "push button" \
  >/dev/null 2>&1 || fail "Delete All could be pressed while locked"
deleted_are 2 || fail "accounts were erased while locked"
answer
wait_for 30 viewable "$box" || fail "the confirmation did not come back after the unlock"
echo "lock dialogs: the confirmation steps aside while locked and comes back"
a11y press "quillet/Delete all permanently?" "Delete All" "push button" || fail "no Delete All"
wait_for 30 deleted_are 0 || fail "Delete All erased nothing after the unlock"
wait_for 30 erasures_are 2 || fail "the timeline holds $(erased_entries) erasures, not 2"
echo "lock dialogs: Delete All erases after the unlock, one timeline entry per account"
a11y press "quillet/Recently Deleted" Done "push button" || fail "no Done"
wait_gone '^Recently Deleted$' || fail "Recently Deleted stayed"

# 3. The export's file dialog open at the lock.
a11y press quillet "Export encrypted backup…" "push button" || fail "no Export encrypted backup…"
a11y fill "quillet/Choose a backup password" "a long backup password" 1 || fail "no password field"
a11y fill "quillet/Choose a backup password" "a long backup password" 2 || fail "no confirmation field"
a11y press "quillet/Choose a backup password" Export "push button" || fail "no Export"
files=$(find_window 60 --name '^Export encrypted backup$') || fail "no file dialog"
written() { [ -n "$(find "$HOME" -name '*.qvault' -print -quit)" ]; }
screen_locks
wait_for 30 hidden "$files" || fail "the file dialog stayed on screen after the screen locked"
find_window 30 --name "$prompt" >/dev/null || fail "locking asked nothing"
! a11y --seconds 2 press "quillet/Export encrypted backup" Save "push button" \
  >/dev/null 2>&1 || fail "Save could be pressed while locked"
! written || fail "a backup was written while locked"
answer
wait_for 30 viewable "$files" || fail "the file dialog did not come back after the unlock"
a11y press "quillet/Export encrypted backup" Save "push button" || fail "no Save"
wait_for 30 written || fail "no backup was written after the unlock"
echo "lock dialogs: the file dialog steps aside while locked and saves after the unlock"
echo "lock dialogs test passed"
