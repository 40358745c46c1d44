#!/usr/bin/env python3
"""Writes the sample exports that the importer tests read, beside this script:

  exports/    one file per export format the importers read
  migration/  Google Authenticator migration links, one per line ("#" comments)
  qr/         a screenshot-like picture of a migration QR code, and a QR code
              whose text is not a link

Each format holds as many of the seven accounts below as it can represent, in
that application's own layout. Keys, salts and nonces are fixed so that the
files come out the same on every run; the tests read the committed files.

  python3 tests/data/make_samples.py

Needs python3-cryptography and qrencode (scripts/deps.sh installs both).
"""

import base64
import hashlib
import json
import struct
import subprocess
import urllib.parse
import uuid
import zlib
from pathlib import Path

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC
from cryptography.hazmat.primitives.kdf.scrypt import Scrypt

HERE = Path(__file__).resolve().parent
PASSWORD = b"test"  # of both encrypted exports


def account(issuer, name, secret, kind, algorithm, digits, period=30, counter=0):
    return dict(issuer=issuer, name=name, secret=secret, kind=kind,
                algorithm=algorithm, digits=digits, period=period, counter=counter)


SEVEN = [
    account("Deno", "Mason", "4SJHB4GSD43FZBAI7C2HLRJGPQ", "totp", "SHA1", 6, period=30),
    account("SPDX", "James", "5OM4WOOGPLQEF6UGN3CPEOOLWU", "totp", "SHA256", 7, period=20),
    account("Airbnb", "Elijah", "7ELGJSGXNCCTV3O6LKJWYFV2RA", "totp", "SHA512", 8, period=50),
    account("Issuu", "James", "YOOMIXWS5GN6RTBPUFFWKTW5M4", "hotp", "SHA1", 6, counter=1),
    account("Air Canada", "Benjamin", "KUVJJOM753IHTNDSZVCNKL7GII", "hotp", "SHA256", 7, counter=50),
    account("WWE", "Mason", "5VAML3X35THCEBVRLV24CGBKOY", "hotp", "SHA512", 8, counter=10300),
    account("Boeing", "Sophia", "JRZCL47CMXVOQMNPZR2F7J4RGI", "steam", "SHA1", 5, period=30),
]
DENO, SPDX, AIRBNB, ISSUU, AIR_CANADA, WWE, BOEING = SEVEN


def fixed(label, size):
    """Bytes that stand in for randomness, the same on every run."""
    out = b""
    while len(out) < size:
        out += hashlib.sha256(f"quillet sample {label} {len(out)}".encode()).digest()
    return out[:size]


def fixed_uuid(label):
    return str(uuid.uuid5(uuid.NAMESPACE_URL, "quillet-sample:" + label))


def b32decode(text):
    return base64.b32decode(text + "=" * (-len(text) % 8))


def seal(key, nonce, plaintext):
    """AES-256-GCM: (ciphertext, tag)."""
    sealed = AESGCM(key).encrypt(nonce, plaintext, None)
    return sealed[:-16], sealed[-16:]


def write(relative, data):
    path = HERE / relative
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data.encode() if isinstance(data, str) else data)


def dump(value):
    return json.dumps(value, indent=2, ensure_ascii=False) + "\n"


# --- otpauth:// links ------------------------------------------------------

def link(a, explicit=False):
    """The account's link; defaults are left out unless `explicit`."""
    quote = lambda s: urllib.parse.quote(s, safe="")
    params = [("secret", a["secret"]), ("issuer", quote(a["issuer"]))]
    if a["kind"] != "steam":
        if explicit or a["algorithm"] != "SHA1":
            params.append(("algorithm", a["algorithm"]))
        if explicit or a["digits"] != 6:
            params.append(("digits", str(a["digits"])))
        if a["kind"] == "hotp":
            params.append(("counter", str(a["counter"])))
        elif explicit or a["period"] != 30:
            params.append(("period", str(a["period"])))
    query = "&".join(f"{k}={v}" for k, v in params)
    return f"otpauth://{a['kind']}/{quote(a['issuer'])}:{quote(a['name'])}?{query}"


def plain_links():
    write("exports/plain.txt", "".join(link(a) + "\n" for a in SEVEN))


# --- Aegis -----------------------------------------------------------------

def aegis_entry(a):
    info = {"secret": a["secret"], "algo": a["algorithm"], "digits": a["digits"]}
    if a["kind"] == "hotp":
        info["counter"] = a["counter"]
    else:
        info["period"] = a["period"]
    return {"type": a["kind"], "uuid": fixed_uuid("aegis " + a["issuer"]), "name": a["name"],
            "issuer": a["issuer"], "note": "", "favorite": False, "icon": None, "info": info,
            "groups": []}


def aegis():
    db = {"version": 3, "entries": [aegis_entry(a) for a in SEVEN], "groups": []}
    write("exports/aegis_plain.json",
          dump({"version": 1, "header": {"slots": None, "params": None}, "db": db}))

    # An encrypted vault: the database sealed with a master key, the master key
    # sealed with a key derived from the password by scrypt (one password slot).
    master = fixed("aegis master key", 32)
    salt = fixed("aegis slot salt", 32)
    slot_key = Scrypt(salt=salt, length=32, n=32768, r=8, p=1).derive(PASSWORD)
    key_nonce, db_nonce = fixed("aegis key nonce", 12), fixed("aegis db nonce", 12)
    sealed_key, key_tag = seal(slot_key, key_nonce, master)
    sealed_db, db_tag = seal(master, db_nonce, json.dumps(db).encode())
    slot = {"type": 1, "uuid": fixed_uuid("aegis slot"), "key": sealed_key.hex(),
            "key_params": {"nonce": key_nonce.hex(), "tag": key_tag.hex()},
            "n": 32768, "r": 8, "p": 1, "salt": salt.hex(), "repaired": True, "is_backup": False}
    header = {"slots": [slot], "params": {"nonce": db_nonce.hex(), "tag": db_tag.hex()}}
    write("exports/aegis_encrypted.json",
          dump({"version": 1, "header": header, "db": base64.b64encode(sealed_db).decode()}))


# --- 2FAS ------------------------------------------------------------------

def two_fas_service(a, position, schema):
    otp = {"label": f"{a['issuer']}:{a['name']}", "account": a["name"], "issuer": a["issuer"]}
    if schema == 2:
        otp.update(digits=a["digits"], algorithm=a["algorithm"],
                   tokenType=a["kind"].upper(), source="Link")
        if a["kind"] == "hotp":
            otp["counter"] = a["counter"]
        else:
            otp["period"] = a["period"]
    return {"name": a["issuer"], "secret": a["secret"], "updatedAt": 1700000000000 + position,
            "otp": otp, "order": {"position": position}}


def two_fas_file(schema, **members):
    head = {"services": [], "updatedAt": 1700000100000, "schemaVersion": schema,
            "appVersionCode": 5000000 + schema, "appVersionName": f"{schema}.0.0",
            "appOrigin": "android"}
    if schema == 2:
        head["groups"] = []
    head.update(members)
    return dump(head)


def two_fas_seal(key, salt, label, plaintext):
    nonce = fixed("2fas nonce " + label, 12)
    ciphertext, tag = seal(key, nonce, plaintext)
    return ":".join(base64.b64encode(b).decode() for b in (ciphertext + tag, salt, nonce))


def two_fas():
    # The first schema carries the label parts only: no token type, digits,
    # period or algorithm.
    write("exports/2fas_schema1.json",
          two_fas_file(1, services=[two_fas_service(a, i, 1) for i, a in enumerate(SEVEN)]))
    services = [two_fas_service(a, i, 2) for i, a in enumerate(SEVEN)]
    write("exports/2fas_plain.2fas", two_fas_file(2, services=services))

    # Password-protected: the service list sealed with AES-256-GCM under a key
    # from PBKDF2-HMAC-SHA256 (10,000 rounds); "reference" lets the
    # application check a password before it opens the list.
    salt = fixed("2fas salt", 256)
    key = PBKDF2HMAC(algorithm=hashes.SHA256(), length=32, salt=salt,
                     iterations=10000).derive(PASSWORD)
    sealed = two_fas_seal(key, salt, "services",
                          json.dumps(services, separators=(",", ":")).encode())
    reference = two_fas_seal(key, salt, "reference", fixed("2fas reference", 48))
    write("exports/2fas_encrypted.2fas",
          two_fas_file(2, servicesEncrypted=sealed, reference=reference))


# --- Bitwarden and Proton Authenticator ------------------------------------

def bitwarden():
    def item(name, totp=None, kind=1, **extra):
        out = {"id": fixed_uuid("bitwarden " + name), "organizationId": None, "folderId": None,
               "type": kind, "reprompt": 0, "name": name, "notes": None, "favorite": False}
        if kind == 1:
            out["login"] = {"uris": [], "username": None, "password": None, "totp": totp}
        out.update(extra)
        out["collectionIds"] = None
        return out

    spaced = " ".join(DENO["secret"][i:i + 4] for i in range(0, len(DENO["secret"]), 4))
    # Bitwarden holds time-based codes only: a bare secret (its item named
    # issuer: account), otpauth://totp links, a steam:// secret. A secure note
    # and a login without codes hold no account.
    items = [item("Deno: Mason", spaced),
             item("SPDX", link(SPDX, explicit=True)),
             item("Airbnb", link(AIRBNB, explicit=True)),
             item("Boeing", "steam://" + BOEING["secret"]),
             item("Recovery codes", kind=2, notes="kept elsewhere", secureNote={"type": 0}),
             item("Mail", None)]
    write("exports/bitwarden.json", dump({"encrypted": False, "folders": [], "items": items}))


def proton():
    # Proton Authenticator exports time-based accounts as links.
    entries = [{"id": fixed_uuid("proton " + a["issuer"]),
                "content": {"uri": link(a, explicit=True), "entry_type": "Totp",
                            "name": a["name"]},
                "note": None} for a in (DENO, SPDX, AIRBNB)]
    write("exports/proton_authenticator.json", dump({"version": 1, "entries": entries}))


# --- Google Authenticator migration links -----------------------------------

def varint(value):
    value &= (1 << 64) - 1  # negative numbers as their 64-bit two's complement
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        out.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out)


def varint_field(field, value):
    return varint(field << 3) + varint(value)


def bytes_field(field, value):
    return varint(field << 3 | 2) + varint(len(value)) + value


ALGORITHM_CODES = {"SHA1": 1, "SHA256": 2, "SHA512": 3}
DIGIT_CODES = {6: 1, 8: 2}
TYPE_CODES = {"hotp": 1, "totp": 2}
BATCH_ID = -1876543210  # the exporter's batch ids are negative 32-bit numbers


def migration_entry(a, name):
    out = (bytes_field(1, b32decode(a["secret"])) + bytes_field(2, name.encode())
           + bytes_field(3, a["issuer"].encode())
           + varint_field(4, ALGORITHM_CODES[a["algorithm"]])
           + varint_field(5, DIGIT_CODES[a["digits"]]) + varint_field(6, TYPE_CODES[a["kind"]]))
    if a["kind"] == "hotp":
        out += varint_field(7, a["counter"])
    return out


def migration_link(entries, size, index):
    payload = b"".join(bytes_field(1, migration_entry(a, name)) for a, name in entries)
    assert len(varint(BATCH_ID)) == 10
    payload += (varint_field(2, 1) + varint_field(3, size) + varint_field(4, index)
                + varint_field(5, BATCH_ID))
    data = urllib.parse.quote(base64.b64encode(payload).decode(), safe="")
    return "otpauth-migration://offline?data=" + data


# Holds only the accounts whose settings the format has (no period, 6 or 8
# digits, no Steam), plus one whose names are not ASCII. The exporter writes
# the name as the whole label, "issuer:account", or as the account alone.
ECLAIR = account("Éclair Café", "Zoë Ñúñez ¿ß?", "JHYVWMZF643IWAFQ2WOUYGZKTI", "totp", "SHA256", 8)


def migration():
    batch = [[(DENO, "Deno:Mason"), (ISSUU, "Issuu:James")], [(WWE, "Mason")],
             [(ECLAIR, ECLAIR["name"])]]
    lines = ["# A Google Authenticator export in three pages, one link each. The first",
             "# holds two accounts; counters come with the HOTP accounts; the last",
             "# account's names are not ASCII."]
    lines += [migration_link(entries, len(batch), i) for i, entries in enumerate(batch)]
    write("migration/links.txt", "\n".join(lines) + "\n")
    return migration_link([(DENO, "Deno:Mason"), (ISSUU, "Issuu:James"), (WWE, "Mason")], 1, 0)


# --- QR pictures -------------------------------------------------------------

def qr_modules(text):
    """The QR symbol of the text, correction level M, as rows of booleans."""
    art = subprocess.run(["qrencode", "-l", "M", "-m", "0", "-t", "ASCII", "-o", "-", text],
                         check=True, capture_output=True, text=True).stdout
    return [[row[i] == "#" for i in range(0, len(row), 2)] for row in art.splitlines() if row]


def png(width, height, pixel_rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\0" + bytes(row) for row in pixel_rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


class Canvas:
    def __init__(self, width, height, colour):
        self.width, self.height = width, height
        self.rows = [bytearray(bytes(colour) * width) for _ in range(height)]

    def rect(self, x, y, w, h, colour):
        for row in self.rows[y:y + h]:
            row[3 * x:3 * (x + w)] = bytes(colour) * w

    def qr(self, text, x, y, module):
        for r, modules in enumerate(qr_modules(text)):
            for c, dark in enumerate(modules):
                if dark:
                    self.rect(x + c * module, y + r * module, module, module, (0, 0, 0))

    def save(self, relative):
        write(relative, png(self.width, self.height, self.rows))


def qr_pictures(export_link):
    # A phone's screen as a screenshot shows it: status bar, title bar, the
    # code on a card with lines of text below, a button.
    grey, white, ink, blue = (241, 243, 244), (255, 255, 255), (95, 99, 104), (26, 115, 232)
    screen = Canvas(720, 1280, grey)
    screen.rect(0, 0, 720, 48, (32, 33, 36))
    screen.rect(0, 48, 720, 112, white)
    screen.rect(40, 90, 320, 28, ink)
    screen.rect(60, 220, 600, 820, white)
    size = len(qr_modules(export_link))
    module = min(8, 520 // (size + 8))
    left = (720 - size * module) // 2
    screen.qr(export_link, left, 260, module)
    for i, width in enumerate((480, 420, 300)):
        screen.rect(120, 820 + 44 * i, width, 20, (189, 193, 198))
    screen.rect(440, 1120, 220, 72, blue)
    screen.save("qr/migration_export.png")

    words = "Quillet sample: this code holds words, not an account."
    size = len(qr_modules(words))
    plain = Canvas((size + 8) * 6, (size + 8) * 6, white)
    plain.qr(words, 24, 24, 6)
    plain.save("qr/not_a_link.png")


if __name__ == "__main__":
    plain_links()
    aegis()
    two_fas()
    bitwarden()
    proton()
    qr_pictures(migration())
