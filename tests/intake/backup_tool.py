#!/usr/bin/env python3
"""A second, independent reader and writer of Quillet backup files.

    backup_tool.py decrypt BACKUP          print the accounts JSON of BACKUP
    backup_tool.py encrypt ACCOUNTS OUT    seal the JSON list in ACCOUNTS as OUT

The password is read from standard input (one line, without its line break)
so that it never shows in a process list. The printed accounts hold their
secrets: the output is for a test's pipe, not for a terminal or a log.

Built only on the file's published layout and Debian's python3-cryptography,
so that a test comparing it with the C++ code catches a fault in either.
"""

import base64
import json
import os
import sys

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC

ROUNDS = 150_000
NONCE = 12
TAG = 16


def derive(password: bytes, salt: bytes) -> bytes:
    return PBKDF2HMAC(algorithm=hashes.SHA256(), length=32, salt=salt,
                      iterations=ROUNDS).derive(password)


def strict_b64(text) -> bytes:
    if not isinstance(text, str):
        raise ValueError("not a string")
    return base64.b64decode(text.encode("ascii"), validate=True)


def decrypt(path: str, password: bytes) -> list:
    with open(path, "rb") as f:
        container = json.loads(f.read().decode("utf-8"))
    if not isinstance(container, dict):
        raise ValueError("container is not an object")
    version = container.get("v")
    if not isinstance(version, int) or isinstance(version, bool):
        raise ValueError("no integer version")
    salt = strict_b64(container.get("salt"))
    box = strict_b64(container.get("box"))
    if len(box) < NONCE + TAG:
        raise ValueError("box too short")
    plaintext = AESGCM(derive(password, salt)).decrypt(box[:NONCE], box[NONCE:], None)
    accounts = json.loads(plaintext.decode("utf-8"))
    if not isinstance(accounts, list):
        raise ValueError("plaintext is not a list")
    return accounts


def encrypt(accounts_path: str, out_path: str, password: bytes) -> None:
    with open(accounts_path, "rb") as f:
        accounts = json.loads(f.read().decode("utf-8"))
    if not isinstance(accounts, list):
        raise ValueError("accounts are not a list")
    plaintext = json.dumps(accounts, separators=(",", ":"), ensure_ascii=False).encode("utf-8")
    salt = os.urandom(16)
    nonce = os.urandom(NONCE)
    box = nonce + AESGCM(derive(password, salt)).encrypt(nonce, plaintext, None)
    # Members in another order than Quillet writes them, slashes unescaped:
    # a reader must accept both.
    container = {"box": base64.b64encode(box).decode("ascii"),
                 "salt": base64.b64encode(salt).decode("ascii"), "v": 1}
    with open(out_path, "wb") as f:
        f.write(json.dumps(container, separators=(",", ":")).encode("utf-8"))


def main(argv: list) -> int:
    password = sys.stdin.buffer.readline().rstrip(b"\n")
    try:
        if len(argv) == 3 and argv[1] == "decrypt":
            print(json.dumps(decrypt(argv[2], password), ensure_ascii=False))
        elif len(argv) == 4 and argv[1] == "encrypt":
            encrypt(argv[2], argv[3], password)
        else:
            print(__doc__, file=sys.stderr)
            return 2
    except Exception as error:  # the type only: a message might quote file contents
        print(f"backup_tool: {type(error).__name__}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
