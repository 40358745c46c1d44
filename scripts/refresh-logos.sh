#!/usr/bin/env bash
# Refreshes the account avatar's brand logos in core/logos/ from the npm
# package simple-icons: fetches the package (the latest, or the version given
# as the first argument) into a temporary folder, copies the SVG of every slug
# named in core/logos/simple-icons.map to <asset name>.svg, removes logos no
# longer mapped, and copies the package's licence and disclaimer beside them.
# Needs npm, tar and python3, and the network; nothing here runs at build time.
#
#   scripts/refresh-logos.sh            # latest release
#   scripts/refresh-logos.sh 16.37.0    # a given release
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
logos="$root/core/logos"
version="${1:-latest}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

(cd "$work" && npm pack --silent "simple-icons@$version" >/dev/null)
tar -xzf "$work"/simple-icons-*.tgz -C "$work"

python3 - "$work/package" "$logos" <<'PYTHON'
import json
import pathlib
import re
import shutil
import sys
import unicodedata

package, logos = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])

# Simple Icons names an icon's file by its title unless its entry gives a slug.
REPLACEMENTS = {"+": "plus", ".": "dot", "&": "and", "đ": "d", "ħ": "h", "ı": "i",
                "ĸ": "k", "ŀ": "l", "ł": "l", "ß": "ss", "ŧ": "t", "ø": "o"}

def title_to_slug(title):
    text = "".join(REPLACEMENTS.get(c, c) for c in title.lower())
    return re.sub(r"[^a-z0-9]", "", unicodedata.normalize("NFD", text))

data = json.loads((package / "data" / "simple-icons.json").read_text(encoding="utf-8"))
entries = data if isinstance(data, list) else data["icons"]
by_slug = {entry.get("slug") or title_to_slug(entry["title"]): entry for entry in entries}

mapping = {}
for number, line in enumerate((logos / "simple-icons.map").read_text().splitlines(), 1):
    line = line.split("#", 1)[0].strip()
    if not line:
        continue
    fields = line.split()
    if len(fields) != 2 or not fields[0].startswith("logo_"):
        sys.exit(f"simple-icons.map:{number}: expected '<asset name> <slug or ->'")
    mapping[fields[0]] = fields[1]

problems = []
for asset, slug in sorted(mapping.items()):
    if slug == "-":
        continue
    entry = by_slug.get(slug)
    source = package / "icons" / f"{slug}.svg"
    if entry is None or not source.exists():
        problems.append(f"{asset}: Simple Icons has no icon '{slug}'")
        continue
    licence = (entry.get("license") or {}).get("type", "CC0-1.0")
    if licence != "CC0-1.0":
        problems.append(f"{asset}: '{slug}' is {licence}, not CC0; map it to '-'")
        continue
    shutil.copyfile(source, logos / f"{asset}.svg")
if problems:
    sys.exit("\n".join(problems))

for stale in logos.glob("logo_*.svg"):
    if mapping.get(stale.stem, "-") == "-":
        stale.unlink()

shutil.copyfile(package / "LICENSE.md", logos / "LICENSE.md")
shutil.copyfile(package / "DISCLAIMER.md", logos / "DISCLAIMER.md")
release = json.loads((package / "package.json").read_text())["version"]
(logos / "VERSION").write_text(f"simple-icons {release}\n")
vendored = sum(1 for slug in mapping.values() if slug != "-")
print(f"{vendored} logos from simple-icons {release} in {logos}")
PYTHON
