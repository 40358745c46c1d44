#!/usr/bin/env bash
# Auto-paste and quick search as a person uses them, on a real X server: the
# real program with a seeded vault and two auto-paste bindings, pressed with
# xdotool the way hands press (modifiers down, the letter held a moment, then
# let go in either order), into xterm and rxvt-unicode, with the keyboard
# layout switched by setxkbmap while the program runs: us, fr (AZERTY: digits
# need Shift), de (Y and Z swapped), Dvorak and a us,ru set switched to either
# group. Each terminal hands every byte it gets to a file, so a control
# character or a letter of the wrong layout shows; what arrives must be
# exactly the code oathtool computes (the Steam code's letters computed here).
# The hotkeys are pressed by key code, on keys that bear their letter in every
# layout a case uses, so that only the typing is under test.
# Run inside tests/with-session.sh (private D-Bus and keyring).
# Usage: typing_desktop.sh QUILLET SEED_VAULT ARTIFACT_DIR
set -euo pipefail
quillet=$1
seed=$2
artifacts=$3
mkdir -p "$artifacts"
here=$(cd "$(dirname "$0")" && pwd)

fail() {
  echo "typing desktop test: $*" >&2
  [ -f "$work/quillet.log" ] && sed 's/^/quillet: /' "$work/quillet.log" >&2
  import -window root "$artifacts/typing-failure.png" 2>/dev/null || true
  exit 1
}

for tool in xterm urxvt oathtool setxkbmap xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh)"
done

# shellcheck source=../support/desktop.sh
source "$here/../support/desktop.sh"
start_xvfb
start_openbox
setxkbmap -layout us

"$seed" 4 >/dev/null || fail "could not seed the vault"
# GitHub (account 0, six digits) on Ctrl+Alt+Shift+P, key code 33: P in us,
# fr, de and the Latin half of us,ru. Steam (account 3, five letters and
# digits) on Ctrl+Alt+Shift+M, key code 58: M in us, de, Dvorak and us,ru.
"$seed" --hotkey 0 P --auto-paste >/dev/null || fail "could not bind GitHub"
"$seed" --hotkey 3 M --auto-paste >/dev/null || fail "could not bind Steam"
github_key=33
steam_key=58
python=/usr/bin/python3
secret_of() { "$python" -c 'import base64, sys; print(base64.b32encode(b"12345678901234567890" + sys.argv[1].encode()).decode())' "$1"; }
github_secret=$(secret_of a)
steam_secret=$(secret_of d)
steam_code() {
  "$python" - "$steam_secret" <<'EOF'
import base64, hashlib, hmac, struct, sys, time
key = base64.b32decode(sys.argv[1])
mac = hmac.new(key, struct.pack(">Q", int(time.time()) // 30), hashlib.sha1).digest()
offset = mac[-1] & 15
value = struct.unpack(">I", mac[offset:offset + 4])[0] & 0x7FFFFFFF
code = ""
for _ in range(5):
    code += "23456789BCDFGHJKMNPQRTVWXY"[value % 26]
    value //= 26
print(code)
EOF
}
github_code() { oathtool --totp -b "$github_secret"; }

# A terminal whose program writes every byte it receives to a file, raw (a
# Control+D arrives as the byte 0x04 rather than ending anything).
cat >"$work/reader.py" <<'EOF'
import os, sys, tty
tty.setraw(0)
out = open(sys.argv[1], "ab", buffering=0)
open(sys.argv[1] + ".ready", "w").close()
while True:
    data = os.read(0, 64)
    if not data:
        break
    out.write(data)
EOF
start_terminal() { # NAME COMMAND...
  local name=$1
  shift
  : >"$work/$name.bytes"
  "$@" -title "$name" -e "$python" "$work/reader.py" "$work/$name.bytes" >/dev/null 2>&1 &
  pids+=($!)
  wait_for 30 test -e "$work/$name.bytes.ready" || fail "$name did not start its reader"
  find_window 30 --name "^$name\$" >"$work/$name.window" || fail "no $name window"
}

"$quillet" >"$work/quillet.log" 2>&1 &
pids+=($!)
find_window 60 --name '^Quillet$' >/dev/null || fail "the main window did not appear"
start_terminal xterm xterm
# rxvt-unicode's keycap mode (ISO 14755 5.2) answers Control+Shift pressed
# and let go with no key seen in between, which is what any global hotkey's
# grab leaves it to see: it is switched off, as its hexadecimal entry (5.1),
# which a held Control+Shift turns digits into, is not.
start_terminal urxvt urxvt -xrm 'URxvt.iso14755_52: false'

# press KEYCODE ORDER: Control, Alt and Shift down, the letter held a
# moment; ORDER "letter-first" lets go of the letter and then the modifiers,
# "modifiers-first" the other way round.
press() {
  xdotool keydown ctrl alt shift
  sleep 0.05
  xdotool keydown "$1"
  sleep "$(printf '0.%03d' $((50 + RANDOM % 100)))"
  if [ "$2" == letter-first ]; then
    xdotool keyup "$1"
    sleep 0.08
    xdotool keyup shift alt ctrl
  else
    xdotool keyup shift alt ctrl
    sleep 0.08
    xdotool keyup "$1"
  fi
}

received_since() { tail -c +"$(($2 + 1))" "$work/$1.bytes"; }
has_grown() { (($(stat -c %s "$work/$1.bytes") >= $2)); }
group=0
lock_group() {
  group=$1
  "$python" -c 'import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
d = ctypes.c_void_p(x.XOpenDisplay(None))
x.XkbLockGroup(d, 0x100, int(sys.argv[1]))
x.XSync(d, 0)' "$1"
}

# expect_code TERMINAL SIZE CODE_FUNCTION WHAT: once TERMINAL got as many
# bytes past SIZE as a code has, they must be the code CODE_FUNCTION gives now
# or gave before the press (BEFORE, set by the caller; a step may roll over).
cases=0
expect_code() {
  local terminal=$1 size=$2 what=$4 after got
  wait_for 20 has_grown "$terminal" $((size + ${#before})) || true
  # A wrong character may come as more bytes than asked: a moment for them.
  sleep 0.2
  after=$($3)
  got=$(received_since "$terminal" "$size" && echo .)
  got=${got%.}
  [[ $got == "$before" || $got == "$after" ]] ||
    fail "$what into $terminal ($(setxkbmap -query | grep -E 'layout|variant' | tr -s ' \n' ' ')group $group): got [$(printf %s "$got" | od -An -c | tr -s ' ')], wanted $before"
  cases=$((cases + 1))
}

# type_case TERMINAL ACCOUNT ORDER: the binding of ACCOUNT (github or steam)
# pressed in ORDER while TERMINAL has the keyboard.
type_case() {
  local terminal=$1 account=$2 key=${2}_key size
  xdotool windowactivate --sync "$(cat "$work/$terminal.window")"
  size=$(stat -c %s "$work/$terminal.bytes")
  before=$("${account}_code")
  press "${!key}" "$3"
  expect_code "$terminal" "$size" "${account}_code" "$account, $3,"
}

# quick_search_case TERMINAL: Ctrl+Alt+K (key code 45, K in us and de) from
# TERMINAL, "steam" searched, Return held a moment.
quick_search_case() {
  local terminal=$1 size
  xdotool windowactivate --sync "$(cat "$work/$terminal.window")"
  size=$(stat -c %s "$work/$terminal.bytes")
  xdotool keydown ctrl alt
  xdotool keydown 45
  sleep 0.1
  xdotool keyup 45 alt ctrl
  find_window 30 --name '^Quick search$' >/dev/null || fail "Ctrl+Alt+K opened no quick search"
  xdotool type steam
  before=$(steam_code)
  xdotool keydown Return
  sleep 0.1
  xdotool keyup Return
  expect_code "$terminal" "$size" steam_code "quick search"
}

# us, as started.
type_case xterm github letter-first
type_case urxvt github modifiers-first
type_case urxvt steam letter-first
echo "typing: us into xterm and rxvt-unicode"

# Switched to fr while running: digits need Shift there.
setxkbmap -layout fr
type_case xterm github modifiers-first
type_case urxvt github letter-first
echo "typing: us switched to fr"

# And back to us.
setxkbmap -layout us
type_case urxvt github modifiers-first
type_case xterm github letter-first
echo "typing: fr switched to us"

# de: Y and Z on each other's key.
setxkbmap -layout de
type_case xterm steam letter-first
type_case urxvt steam modifiers-first
type_case urxvt github letter-first
quick_search_case xterm
echo "typing: us switched to de, also from quick search"

# Dvorak: every letter elsewhere.
setxkbmap -layout us -variant dvorak
type_case xterm steam modifiers-first
type_case urxvt steam letter-first
echo "typing: switched to Dvorak"

# us,ru: the Russian group has no Latin letters at all.
setxkbmap -layout us,ru -variant ,
lock_group 1
type_case xterm steam letter-first
type_case urxvt steam modifiers-first
type_case urxvt github letter-first
lock_group 0
type_case xterm steam modifiers-first
type_case urxvt github letter-first
echo "typing: us,ru switched to either group"

echo "typing desktop test passed ($cases codes)"
