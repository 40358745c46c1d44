#!/usr/bin/env python3
"""Checks a security timeline file on its own, without the program's code.

Reads the JSON Lines file; every line but a blank one must be the next entry
of the chain, as the program requires. Recomputes every hash and link, and
prints one of:
    intact <entry count> <hex hash of the last entry, or of the genesis>
    broken <line, counted from 1> <reason: not-an-entry, seq, prevHash, hash>
    unreadable <reason>
Exit status: 0 intact, 1 broken, 2 unreadable.
"""
import hashlib
import json
import sys

GENESIS = bytes(32)
KEYS = ("seq", "unixMillis", "type", "detail", "prevHash", "hash")


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def decode_entry(line):
    try:
        obj = json.loads(line)
    except ValueError:
        return None
    if not isinstance(obj, dict) or any(key not in obj for key in KEYS):
        return None
    if not is_int(obj["seq"]) or not 0 <= obj["seq"] < 2**64:
        return None
    if not is_int(obj["unixMillis"]) or not -(2**63) <= obj["unixMillis"] < 2**63:
        return None
    if not isinstance(obj["type"], str) or not isinstance(obj["detail"], str):
        return None
    for key in ("prevHash", "hash"):
        array = obj[key]
        if not isinstance(array, list) or not all(is_int(b) and 0 <= b <= 255 for b in array):
            return None
        obj[key] = bytes(array)
    return obj


def entry_hash(entry):
    data = (entry["seq"].to_bytes(8, "big")
            + entry["unixMillis"].to_bytes(8, "big", signed=True)
            + entry["type"].encode("utf-8") + b"\x1f"
            + entry["detail"].encode("utf-8") + b"\x1f"
            + entry["prevHash"])
    return hashlib.sha256(data).digest()


def main(path):
    try:
        with open(path, "rb") as handle:
            raw = handle.read()
    except OSError as error:
        print("unreadable", error.strerror)
        return 2
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError:
        print("unreadable not-utf-8")
        return 2
    expected = GENESIS
    count = 0
    for number, line in enumerate(raw.split(b"\n"), start=1):
        if not line:
            continue
        entry = decode_entry(line)
        if entry is None:
            print("broken", number, "not-an-entry")
            return 1
        if entry["seq"] != count:
            print("broken", number, "seq")
            return 1
        if entry["prevHash"] != expected:
            print("broken", number, "prevHash")
            return 1
        if entry_hash(entry) != entry["hash"]:
            print("broken", number, "hash")
            return 1
        expected = entry["hash"]
        count += 1
    print("intact", count, expected.hex())
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print("usage: verify_timeline.py FILE", file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
