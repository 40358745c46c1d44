#!/usr/bin/env bash
# The real program on Xvfb with openbox, driven as a user and a screen reader
# do. The mouse wheel over Settings > General scrolls the page when it passes
# over "Clear clipboard after copying" and leaves the setting alone; once a
# click has given that picker the focus, the wheel changes it (and it is
# stored). Then the add sheet's "Choose image…" with a path that does not
# exist ("File not found."), and the sheet's Cancel pressed over AT-SPI while
# that message runs: the sheet closes with its dialogs, and the program lives
# on and quits cleanly.
# Run inside tests/with-session.sh (private D-Bus for the accessibility bus).
# Usage: wheel_and_dialogs.sh QUILLET
set -euo pipefail
quillet=$1
fail() {
  echo "wheel and dialogs test: $*" >&2
  for log in quillet openbox; do [ -f "$work/$log.log" ] && sed "s/^/$log: /" "$work/$log.log" >&2; done
  exit 1
}
# shellcheck source=../support/desktop.sh
source "$(dirname "$0")/../support/desktop.sh"
start_xvfb
start_atspi
start_openbox
export QUILLET_KEYCHAIN=file
export QUILLET_TIME_REFERENCE_URL=http://127.0.0.1:9/
conf="$XDG_CONFIG_HOME/tarnwick/Quillet.conf"

"$quillet" >"$work/quillet.log" 2>&1 &
quillet_pid=$!
pids+=($quillet_pid)
main=$(find_window 60 --name '^Quillet$') \
  || fail "the main window did not appear"
alive() { kill -0 "$quillet_pid" 2>/dev/null; }

# The clipboard delay as stored: empty while it was never set.
stored_delay() { sed -n 's/^clipboardClearSeconds\.v1=//p' "$conf" 2>/dev/null; }
delay_is() { [ "$(stored_delay)" = "$1" ]; }
delay_changed() { ! delay_is "$1"; }
# The middle of an element of the settings window: "X Y".
where() { a11y where quillet/Settings "$@"; }
y_of() { local point; point=$(where "$@") || return 1; echo "${point#* }"; }
# The picker is higher on the screen than Y.
picker_above() { local y; y=$(y_of "$picker" "combo box") && ((y < $1)); }
no_popups() { [ -z "$(popups)" ]; }

# The mouse wheel over the General page.
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key ctrl+comma
settings=$(find_window 30 --name '^Settings$') \
  || fail "Ctrl+, did not open the settings window"
eval "$(xdotool getwindowgeometry --shell "$settings")"
top=$Y bottom=$((Y + HEIGHT))
label="Clear clipboard after copying"
read -r label_x label_y < <(where "$label" label) || fail "no label \"$label\""
# The wheel over the label's column (text, no control) until the row is well
# inside the window.
xdotool mousemove "$label_x" $(((top + bottom) / 2))
for ((i = 0; i < 60; i++)); do
  label_y=$(y_of "$label" label) || fail "the label went away"
  ((label_y > top + 120 && label_y < bottom - 120)) && break
  xdotool click 5
  sleep 0.1
done
((label_y > top + 120 && label_y < bottom - 120)) || fail "the wheel did not bring the row into view"
# A combo box is named after its choice on the accessibility bus.
picker="Never"
read -r picker_x picker_y < <(where "$picker" "combo box") || fail "no picker showing \"$picker\""
before=$(stored_delay)
# Down twice with the pointer on the picker, which has no focus.
xdotool mousemove --sync "$picker_x" "$picker_y"
xdotool click --repeat 2 --delay 300 5
wait_for 10 picker_above "$picker_y" \
  || fail "the wheel over the picker did not scroll the page (stored: $(stored_delay))"
# (A bounded look for something that must not happen.)
! wait_for 2 delay_changed "$before" || fail "the wheel changed the clipboard delay to $(stored_delay)"
echo "the wheel over an unfocused picker scrolls the page and leaves the setting"

# A click gives the picker the focus and opens its list; a second click at
# the same place closes it (on "Never", or outside the list). Now the wheel
# over it is for it. (Escape would also close the settings window.)
read -r picker_x picker_y < <(where "$picker" "combo box") || fail "no picker showing \"$picker\""
((picker_y > top + 40 && picker_y < bottom - 20)) || fail "the picker is out of view"
xdotool mousemove "$picker_x" "$picker_y"
open_popup xdotool click 1
sleep 0.3
xdotool click 1
wait_for 10 no_popups || fail "the picker's list stayed open"
xdotool mousemove --sync "$picker_x" "$picker_y"
xdotool click 5
wait_for 10 delay_is 15 || fail "the wheel over the focused picker did not change it (stored: $(stored_delay))"
echo "the wheel over the focused picker changes it"

# The add sheet closed over AT-SPI while its file dialog shows "File not found."
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key ctrl+n
find_window 30 --name '^Add account$' >/dev/null \
  || fail "Control+N did not open the add sheet"
a11y press quillet "Image file" || fail "no image mode"
a11y press quillet/"Add account" "Choose image…" "push button" || fail "no Choose image… button"
a11y wait quillet "File name:" || fail "no file dialog"
a11y fill quillet "$work/no such picture.png" "File name:" || fail "no file name field"
# Enter in the file dialog, whose name field has the keyboard.
dialog=$(find_window 30 --name '^Open$') \
  || fail "no file dialog window"
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key Return
a11y wait quillet "File not found." || fail "no \"File not found.\" message"
a11y press quillet/"Add account" "Cancel" "push button" || fail "no Cancel button in the sheet"
sheet_gone_or_ended() { ! alive || no_window '^Add account$'; }
wait_for 30 sheet_gone_or_ended || fail "Cancel did not close the add sheet"
alive || fail "the program ended when the sheet closed under its dialog"
message_gone() { ! a11y texts quillet | grep -q "File not found"; }
wait_for 30 message_gone || fail "the message outlived its sheet"
# The program still answers: the add sheet opens again.
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key ctrl+n
find_window 30 --name '^Add account$' >/dev/null \
  || fail "the add sheet did not open again"
a11y press quillet/"Add account" "Cancel" "push button" || fail "no Cancel button in the sheet"
wait_gone '^Add account$' || fail "Cancel did not close the add sheet"
echo "the add sheet closed under its file dialog's message; the program lives on"

xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key ctrl+q
wait_for 30 sh -c "! kill -0 $quillet_pid 2>/dev/null" || fail "Ctrl+Q did not quit"
status=0
wait "$quillet_pid" 2>/dev/null || status=$?
[ "$status" = 0 ] || fail "the program ended with status $status"
if grep -Eq "munmap_chunk|AddressSanitizer|runtime error" "$work/quillet.log"; then
  fail "the program's memory went wrong"
fi
echo "wheel and dialogs test passed"
