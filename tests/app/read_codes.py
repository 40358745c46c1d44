#!/usr/bin/python3
"""Looks for the seeded accounts' codes in everything Quillet hands AT-SPI:
every element of every window, shown or hidden (a screen reader can walk to
either), its name, description and text. The codes are oathtool's (and Steam's)
for the moments around the reading: the current and the next period, and the
HOTP codes of the first counters.

  read_codes.py COUNT present   some code can be read (the reader itself works)
  read_codes.py COUNT absent    no code can be read, in two readings a moment apart

COUNT is the number of accounts quillet_seed_vault wrote. Prints no code.
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import a11y  # noqa: E402
from read_window import oathtool, seeded, steam_code  # noqa: E402

MAX_ELEMENTS = 40000


def codes(count, at):
    found = set()
    for index in range(count):
        account = seeded(index)
        key = account["key"]
        if account["hotp"]:
            for counter in range(3):
                found.add(oathtool("--hotp", "--counter=%d" % counter, key.hex()))
            continue
        for moment in (at - 30, at, at + 30, at + 60):
            found.add(steam_code(key, moment) if account["steam"]
                      else oathtool("--totp", "--now=@%d" % int(moment), key.hex()))
    return found


def everything():
    """Each element's name, description and text, for every element below
    the program, shown or not."""
    program = a11y.scope("quillet")
    if program is None:
        raise a11y.A11yError("quillet is not on the accessibility bus")
    out, stack, seen = [], [program], 0
    while stack and seen < MAX_ELEMENTS:
        node = stack.pop()
        seen += 1
        try:
            description = node.get_description() or ""
        except Exception:
            description = ""
        out.append(" ".join((a11y.name_of(node), description, a11y.text_of(node))))
        stack.extend(a11y.children(node))
    return out, seen


def holders(count):
    """(how many elements hold a code, how many were read)."""
    wanted = codes(count, time.time())
    texts, seen = everything()
    held = sum(1 for text in texts if any(code in text.replace(" ", "") for code in wanted))
    return held, seen


def main(argv):
    if len(argv) != 3 or argv[2] not in ("present", "absent"):
        print(__doc__, file=sys.stderr)
        return 2
    count = int(argv[1])
    try:
        if argv[2] == "present":
            a11y.until(lambda: holders(count)[0] > 0, what="a code read over AT-SPI")
            print("read_codes: codes can be read")
            return 0
        for reading in range(2):
            held, seen = holders(count)
            if held:
                print("read_codes: %d of %d elements hold a code" % (held, seen), file=sys.stderr)
                return 1
            time.sleep(1.5)
        print("read_codes: no code in %d elements" % seen)
        return 0
    except a11y.A11yError as error:
        print("read_codes: %s" % error, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
