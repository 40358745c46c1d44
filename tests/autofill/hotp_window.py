#!/usr/bin/python3
"""Works the Acme row of Quillet's main window over AT-SPI, as a screen reader
user would. "shows CODE": waits until the row shows CODE. "next CODE": presses
"Generate next HOTP code" and waits until the row shows CODE. Prints no code."""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import a11y  # noqa: E402

CODE = re.compile(r"^[0-9]{3} [0-9]{3}$")


def acme_row():
    window = a11y.scope("quillet/Quillet")
    if window is None:
        return None
    for node in a11y.walk(window):
        if any(a11y.name_of(c) == "Generate next HOTP code" for c in a11y.children(node)) \
                and any(a11y.name_of(e) == "Acme" for e in a11y.walk(node)):
            return node
    return None


def shown_code(row):
    codes = [a11y.name_of(e) for e in a11y.walk(row)
             if a11y.role_of(e) == "label" and CODE.match(a11y.name_of(e))]
    return codes[0].replace(" ", "") if codes else None


def main():
    action, wanted = sys.argv[1], sys.argv[2]
    try:
        row = a11y.until(acme_row, what="an Acme row in Quillet's main window")
        if action == "next":
            a11y.press(row, "Generate next HOTP code")
        a11y.until(lambda: shown_code(acme_row() or row) == wanted,
                   what="the Acme row to show the expected code")
    except a11y.A11yError as e:
        sys.exit("hotp_window: %s" % e)


if __name__ == "__main__":
    main()
