#!/usr/bin/python3
"""Works the Acme row of Quillet's main window over AT-SPI, as a screen reader
user would. "shows CODE": waits until the row shows CODE. "next CODE": presses
"Generate next HOTP code" and waits until the row shows CODE. Prints no code."""
import re, sys, time
import os
import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from atspi_tree import showing, walk  # noqa: E402

CODE = re.compile(r"^[0-9]{3} [0-9]{3}$")


def acme_row():
    for program in pyatspi.Registry.getDesktop(0):
        if program is None or program.name.lower() != "quillet":
            continue
        for i in range(program.childCount):
            window = program.getChildAtIndex(i)
            if window is None or window.name != "Quillet" or not showing(window):
                continue
            for node in walk(window):
                children = [node.getChildAtIndex(j) for j in range(node.childCount)]
                if any(c is not None and c.name == "Generate next HOTP code" for c in children) \
                        and any(e.name == "Acme" for e in walk(node)):
                    return node
    return None


def shown_code(row):
    codes = [e.name for e in walk(row) if e.getRoleName() == "label" and CODE.match(e.name)]
    return codes[0].replace(" ", "") if codes else None


def wait_for(condition, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return None


def main():
    action, wanted = sys.argv[1], sys.argv[2]
    row = wait_for(acme_row)
    if row is None:
        sys.exit("hotp_window: no Acme row on the accessibility bus")
    if action == "next":
        button = next(e for e in walk(row) if e.name == "Generate next HOTP code")
        button.queryAction().doAction(0)
    if not wait_for(lambda: shown_code(acme_row() or row) == wanted, 10):
        sys.exit("hotp_window: the Acme row does not show the expected code")


if __name__ == "__main__":
    main()
