#!/usr/bin/env bash
# The real program on a real X server with a tray: it starts, docks its tray
# icon, shows the main window with the seeded accounts (kept as a screenshot
# in tests/artifacts/), adds an account from a QR code on screen through the
# add sheet (the AutoFill identities following the number of accounts), and a
# second start hands over to the first and exits. After the scan the tray icon and
# every window are as they were.
# Run inside tests/with-session.sh (private D-Bus and keyring).
# Usage: desktop_smoke.sh QUILLET_BINARY SEED_BINARY ARTIFACT_DIR
set -euo pipefail
quillet=$1
seed=$2
artifacts=$3
mkdir -p "$artifacts"
fail() { echo "desktop test: $*" >&2; exit 1; }
# shellcheck source=../support/desktop.sh
source "$(dirname "$0")/../support/desktop.sh"
start_xvfb
# A window manager, which places windows that are mapped without a position.
start_openbox

start_trayer

"$seed" 4 || fail "could not seed the vault"

"$quillet" >"$work/quillet.log" 2>&1 &
quillet_pid=$!
pids+=($quillet_pid)
main=$(find_window 60 --name '^Quillet$') \
  || fail "the main window did not appear"
echo "main window: $main"

# The main window registers one AutoFill identity per account, in the
# background; a change in the number of accounts registers them again.
identities="$XDG_DATA_HOME/Quillet/credential-identities.json"
identities_are() { [ "$(grep -c '"kind": "oneTimeCode"' "$identities" 2>/dev/null)" = "$1" ]; }
wait_for_identities() {
  wait_for 30 identities_are "$1" || fail "the identity file does not hold $1 one-time-code identities"
}
wait_for_identities 4
echo "identities: 4 registered"

# The tray icon is a window docked into trayer's.
icon_docked() {
  tray=$(timeout 10 xdotool search --class trayer 2>/dev/null | head -n1)
  [ -n "$tray" ] && tray_children=$(timeout 10 xwininfo -tree -id "$tray" | grep -c '0x') &&
    [ "$tray_children" -gt 1 ]
}
wait_for 30 icon_docked || fail "no icon docked in the tray"
echo "tray: $tray_children windows under the tray"

sleep 1
import -window "$main" "$artifacts/main-window.png"
import -window root "$artifacts/desktop.png"
echo "screenshots in $artifacts"

# The tray icon's window inside trayer's: its width, and the geometry of
# each of our windows, must be the same after the scan as before it.
icon_width() {
  timeout 10 xwininfo -root -tree | awk '
    /"panel": \("panel" "trayer"\)/ { match($0, /^ */); depth = RLENGTH; next }
    depth && match($0, /^ */) && RLENGTH <= depth { depth = 0 }
    depth && !found && /\("quillet" / {
      for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9]+x[0-9]+\+/) { split($i, s, "x"); found = s[1] } }
    END { print found }' || true
}
geometry() { xdotool getwindowgeometry "$1" | tr -s ' ' | grep -E 'Position|Geometry' | cut -d' ' -f3 | tr '\n' ' '; }
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
xdotool key --window "$main" ctrl+comma
settings=$(find_window 30 --name '^Settings$') \
  || fail "Control+comma did not open Settings"
sleep 0.5
icon_before=$(icon_width)
main_before=$(geometry "$main")
settings_before=$(geometry "$settings")
echo "before the scan: icon ${icon_before} px wide, main at $main_before, Settings at $settings_before"
# Settings opens wholly on the 1280x800 screen (its title bar too).
read -r x y w h < <(echo "$settings_before" | tr ',x' '  ')
[ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le 1280 ] && [ $((y + h)) -le 800 ] ||
  fail "Settings opened partly off the screen: $settings_before"
[ "${icon_before:-0}" -ge 16 ] || fail "the tray icon is only ${icon_before} px wide"

# A QR code shown by another program, under where the add sheet opens, is
# found by "Scan" (the sheet's default button) and lands in the vault.
"$seed" --qr-image "$work/code.png" || fail "could not write the QR image"
display -geometry +420+260 "$work/code.png" >"$work/display.log" 2>&1 &
pids+=($!)
find_window 30 --class display >/dev/null || fail "the QR image is not shown"
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
xdotool key --window "$main" ctrl+n
sheet=$(find_window 30 --name '^Add account$') \
  || fail "Control+N did not open the add sheet"
sleep 0.5
import -window "$sheet" "$artifacts/add-sheet.png"
xdotool key --window "$sheet" Return
# The scan hides our windows while it captures the screen, so the sheet being
# out of sight says nothing yet: wait for the account in the keyring, then for
# the sheet to be gone for good.
wait_for 30 vault_holds "$seed" 'Scanned: desk@example.com' || fail "the scanned account is not in the vault"
wait_gone '^Add account$' || fail "the sheet did not close after the scan"
import -window "$main" "$artifacts/main-window-after-scan.png"
echo "scan: the account on screen was added"
# The desktop as it was: the icon docked at its size, each window back where
# it stood and shown (the window manager may take a moment to map them).
as_before() {
  [ "$(icon_width)" = "$icon_before" ] && [ "$(geometry "$main")" = "$main_before" ] &&
    [ "$(geometry "$settings")" = "$settings_before" ]
}
wait_for 30 as_before || true
[ "$(icon_width)" = "$icon_before" ] || fail "the tray icon is $(icon_width) px wide after the scan"
[ "$(geometry "$main")" = "$main_before" ] || fail "the main window moved: $(geometry "$main")"
[ "$(geometry "$settings")" = "$settings_before" ] || fail "Settings moved: $(geometry "$settings")"
xdotool search --onlyvisible --name '^Settings$' >/dev/null || fail "Settings is hidden after the scan"
echo "scan: icon, main window and Settings are as they were"
wait_for_identities 5
echo "identities: 5 registered after the scan"

# A second start brings the first forward and leaves.
timeout 60 "$quillet" >"$work/second.log" 2>&1 || fail "the second start did not exit cleanly"
kill -0 "$quillet_pid" || fail "the first instance is gone"
[ "$(xdotool search --onlyvisible --name '^Quillet$' | wc -l)" -eq 1 ] || fail "a second main window appeared"
echo "desktop test passed"
