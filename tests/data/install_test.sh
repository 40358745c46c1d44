#!/usr/bin/env bash
# Builds what scripts/run.sh builds, installs it into a fresh prefix with the
# README's install command, as a user does after that script, and checks what
# the desktop will find there: the program, a valid desktop entry that names
# it and its icon, the icon at every size, the app lock's PAM service, and the
# credential-provider plugin beside its host.
#   install_test.sh <cmake> <build folder>
set -euo pipefail
cmake="$1"
build="$2"

fail() { echo "FAIL: $*" >&2; exit 1; }

# What scripts/run.sh builds is enough for the README's install command: the
# step is run.sh's own, and the files made at build time beside the programs
# (the icons) must be made again by it alone.
rm -rf "$build/data/icons"
# shellcheck source=scripts/run.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/run.sh"
build_installables "$build" "$cmake" >/dev/null || fail "scripts/run.sh's build step failed"

prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
# The README's `cmake --install build/dev --prefix ~/.local`.
"$cmake" --install "$build" --prefix "$prefix" >/dev/null ||
  fail "the README's install command failed after scripts/run.sh's build step"

sizes=(16 22 24 32 48 64 128 256)
expected=(bin/quillet bin/larkspur-host bin/larkspur.so share/applications/com.tarnwick.Quillet.desktop
  share/icons/hicolor/scalable/apps/quillet.svg etc/pam.d/quillet)
for size in "${sizes[@]}"; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/quillet.png")
done
# Exactly these files: no test program, library or header slips in.
actual="$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)"
wanted="$(printf '%s\n' "${expected[@]}" | sort)"
[ "$actual" = "$wanted" ] || fail "installed files differ:
$(diff <(echo "$wanted") <(echo "$actual") || true)"

[ -x "$prefix/bin/quillet" ] || fail "bin/quillet is not executable"
[ -x "$prefix/bin/larkspur-host" ] || fail "bin/larkspur-host is not executable"

# The plugin stands on its own: none of the program's desktop libraries (X11
# key grabs, synthetic keys, QR codes, sounds), none of its own keeping.
needed="$(readelf -d "$prefix/bin/larkspur.so" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')"
if grep -E '^lib(X11|Xtst|xcb|ZXing|canberra|asound)\.' <<<"$needed"; then
  fail "the plugin links a desktop library of the program"
fi
if nm -C "$prefix/bin/larkspur.so" | grep -E 'AccountStore::|SecurityLog::|HotKey|BarcodeReader'; then
  fail "the plugin holds parts of the program"
fi
# Its entry is exported, the vault's code inside it is not.
exported="$(nm -DC --defined-only "$prefix/bin/larkspur.so")"
grep -q ' qt_plugin_instance$' <<<"$exported" || fail "the plugin exports no plugin entry"
if grep -E 'KeychainStore|PasskeyStore|OwnerAuth|Crypto::' <<<"$exported"; then
  fail "the plugin exports its parts"
fi
# The installed host finds the plugin beside itself: a passkey request that
# may not ask the user is refused with 100.
outcome="$(echo '{"entry":"provideWithoutUserInteraction","request":{"kind":"passkey"}}' |
  "$prefix/bin/larkspur-host")" && status=0 || status=$?
[ "$status" = 1 ] && [ "$outcome" = '{"refused":100}' ] ||
  fail "the installed host answered $status: $outcome"
# The lock asks what logs the user in, and nothing else.
[ "$(grep -v '^#' "$prefix/etc/pam.d/quillet")" = "$(printf 'auth\tinclude\tcommon-auth')" ] \
  || fail "the PAM service is not the login's own auth stack"

entry="$prefix/share/applications/com.tarnwick.Quillet.desktop"
# Hints are advice; errors and warnings fail.
report="$(desktop-file-validate "$entry" 2>&1)" || fail "desktop-file-validate: $report"
if grep -E ': (error|warning):' <<<"$report"; then fail "desktop-file-validate: $report"; fi
for line in "Type=Application" "Name=Quillet" "Exec=quillet" "Icon=quillet" \
    "Categories=Utility;Security;"; do
  grep -qxF "$line" "$entry" || fail "the desktop entry lacks '$line'"
done

# Each PNG is the size its folder names, and shows the mark: opaque at the
# centre, clear in the corner outside the rounded tile (from 32 pixels up).
python3 - "$prefix/share/icons/hicolor" "${sizes[@]}" <<'PYTHON'
import struct
import subprocess
import sys
import zlib

root, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]

def pixels(path):
    """Width, height and RGBA rows of an 8-bit RGBA PNG without interlacing."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    at, chunks = 8, {}
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks.setdefault(kind, []).append(data[at + 8:at + 8 + length])
        at += 12 + length
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"][0])
    assert (depth, colour, interlace) == (8, 6, 0), f"{path}: not plain RGBA"
    raw = zlib.decompress(b"".join(chunks[b"IDAT"]))
    stride, rows, prior = width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b, c = prior[i], prior[i - 4] if i >= 4 else 0
            if kind == 1: line[i] = (line[i] + a) & 255
            elif kind == 2: line[i] = (line[i] + b) & 255
            elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prior = line
    return width, height, rows

for size in sizes:
    path = f"{root}/{size}x{size}/apps/quillet.png"
    width, height, rows = pixels(path)
    if (width, height) != (size, size):
        sys.exit(f"FAIL: {path} is {width}x{height}")
    alpha = lambda x, y: rows[y][4 * x + 3]
    if alpha(size // 2, size // 2) != 255:
        sys.exit(f"FAIL: {path} is not opaque at its centre")
    if size >= 32 and alpha(0, 0) != 0:
        sys.exit(f"FAIL: {path} has no rounded corner")

svg = open(f"{root}/scalable/apps/quillet.svg", encoding="utf-8").read()
if "<svg" not in svg or "linearGradient" not in svg:
    sys.exit("FAIL: the scalable icon is not the mark's SVG")
PYTHON

echo "installed and checked: ${#expected[@]} files"
