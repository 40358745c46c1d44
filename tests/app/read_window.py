#!/usr/bin/python3
"""Reads Quillet's main window over AT-SPI, as a screen reader does, and checks
it against what the accounts of quillet_seed_vault must show (oathtool for
TOTP and HOTP codes). Run by desktop_a11y.sh. Prints no secret and no code."""
import hashlib, hmac, re, struct, subprocess, sys, time
import os

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import a11y  # noqa: E402
from a11y import walk  # noqa: E402

ISSUERS = ["GitHub", "Example", "Acme Corp", "Steam", "Dropbox", "Google"]
CODE = re.compile(r"^([0-9]{3} [0-9]{3}|[23456789BCDFGHJKMNPQRTVWXY]{5})$")


def seeded(index):
    """The account quillet_seed_vault writes at this index."""
    return {
        "issuer": ISSUERS[index % 6],
        "key": b"12345678901234567890" + bytes([ord("a") + index % 26]),
        "hotp": index % 6 == 2,
        "steam": index % 6 == 3,
    }


def oathtool(*arguments):
    return subprocess.run(["oathtool", *arguments], check=True, capture_output=True,
                          text=True).stdout.strip()


def steam_code(key, at):
    # Steam Guard: the RFC 6238 HMAC-SHA1 truncation written in Steam's alphabet.
    digest = hmac.new(key, struct.pack(">Q", int(at) // 30), hashlib.sha1).digest()
    offset = digest[-1] & 0x0F
    value = struct.unpack(">I", digest[offset:offset + 4])[0] & 0x7FFFFFFF
    alphabet = "23456789BCDFGHJKMNPQRTVWXY"
    out = ""
    for _ in range(5):
        out += alphabet[value % 26]
        value //= 26
    return out


def expected(account, at):
    if account["steam"]:
        return steam_code(account["key"], at)
    key = account["key"].hex()
    if account["hotp"]:
        return oathtool("--hotp", "--counter=0", key)
    return oathtool("--totp", "--now=@%d" % int(at), key)


def app():
    return a11y.scope("quillet")


def rows(window):
    """Each account row: the element whose own button reads "Copy code" or "Copied!"."""
    found = []
    for node in walk(window):
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
        if any(c is not None and c.name in ("Copy code", "Copied!") for c in children):
            found.append(node)
    return found


def read_rows(window):
    out = []
    for row in rows(window):
        elements = list(walk(row))
        labels = [e.name for e in elements if e.getRoleName() == "label"]
        codes = [name for name in labels if CODE.match(name)]
        out.append({"title": labels[0], "code": codes[0].replace(" ", "") if codes else None,
                    "names": [(e.getRoleName(), e.name) for e in elements], "node": row})
    return out


def fail(message):
    print("read_window: " + message, file=sys.stderr)
    sys.exit(1)


def main():
    def six_rows():
        window = a11y.scope("quillet/Quillet")
        return window if window is not None and len(rows(window)) == 6 else None
    try:
        window = a11y.until(six_rows, what="a main window with six rows")
    except a11y.A11yError as e:
        fail("no main window with six rows on the accessibility bus (%s)" % e)

    accounts = {seeded(i)["issuer"]: seeded(i) for i in range(6)}

    # Each code as read equals the reference code, at the time either side
    # of the reading (a period may end while the window is read).
    for attempt in range(3):
        before = time.time()
        shown = read_rows(window)
        after = time.time()
        wrong = []
        for row in shown:
            account = accounts.get(row["title"])
            if account is None:
                fail("a row titled %r that was never seeded" % row["title"])
            if row["code"] is None:
                fail("no code can be read in the row of %s" % row["title"])
            if row["code"] not in (expected(account, before), expected(account, after)):
                wrong.append(row["title"])
        if not wrong:
            break
    else:
        fail("codes differ from oathtool's in the rows of " + ", ".join(wrong))
    print("read_window: %d rows, each code equal to the reference" % len(shown))

    # Named controls; no decoration announced.
    for row in shown:
        kinds = row["names"]
        account = accounts[row["title"]]
        if ("push button", "Copy code") not in kinds:
            fail("the copy button of %s has no name" % row["title"])
        if account["hotp"] and ("push button", "Generate next HOTP code") not in kinds:
            fail("the HOTP button of %s has no name" % row["title"])
        if not account["hotp"] and not any(r == "label" and n.isdigit() for r, n in kinds):
            fail("the countdown of %s cannot be read" % row["title"])
    everything = [(e.getRoleName(), e.name) for e in walk(window)]
    if ("text", "Search (Ctrl+F)") not in everything:
        fail("the search field is not named \"Search (Ctrl+F)\"")
    unnamed = [r for r, n in everything
               if r in ("image", "label", "push button", "text") and not n]
    if unnamed:
        fail("unnamed elements are announced: %s" % unnamed)

    # "Copy code" pressed as a screen reader user would: the row says
    # "Copied!" and the clipboard holds the code the row shows.
    github = next(row for row in shown if row["title"] == "GitHub")
    button = next(e for e in walk(github["node"]) if e.name == "Copy code")
    pressed = time.time()
    shown_then = next(row for row in read_rows(window) if row["title"] == "GitHub")["code"]
    button.queryAction().doAction(0)
    try:
        a11y.wait(github["node"], "Copied!")
    except a11y.A11yError as e:
        fail("the copy button did not turn into \"Copied!\": %s" % e)
    now_shown = next(row for row in read_rows(window) if row["title"] == "GitHub")["code"]
    # A period may end between the press and the reading: the copied code is
    # the one the row showed at one of the two moments, and oathtool's then.
    # (The clipboard's owner answers xclip from its event loop: asked again
    # while a slow, sanitized program has not answered yet.)
    def holds_the_shown_code():
        copied = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                                text=True, timeout=5).stdout.strip()
        read = time.time()
        reference = (expected(accounts["GitHub"], pressed), expected(accounts["GitHub"], read))
        return copied in (shown_then, now_shown) and copied in reference
    try:
        a11y.until(holds_the_shown_code, what="the code the row shows on the clipboard")
    except a11y.A11yError:
        # Not the error itself: a failed oathtool names the key it was given.
        fail("the clipboard does not hold the code the row shows")
    print("read_window: \"Copy code\" copies the code shown")


if __name__ == "__main__":
    main()
