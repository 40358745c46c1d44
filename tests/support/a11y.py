#!/usr/bin/python3
"""The desktop tests' accessibility driver: reads and works a running program
over AT-SPI as a screen reader's user does. A command for the shell tests, a
module for the Python readers (import a11y with tests/support on sys.path).

  a11y.py tree TARGET                  the showing elements, indented: [role] name, text
  a11y.py texts TARGET                 their names and texts, one a line
  a11y.py wait TARGET TEXT [SECONDS]   until an element's name or text holds TEXT
  a11y.py press TARGET NAME [ROLE] [N] acts on the N-th (1) showing element named NAME
  a11y.py fill TARGET VALUE [FIELD]    types VALUE into the FIELD-th (1) editable
                                       field, or into the one named FIELD
  a11y.py toggle TARGET NAME on|off    a check box or switch, until it reads so
  a11y.py where TARGET NAME [ROLE] [N] the middle of that element on the screen: "X Y"

TARGET is a program's name on the accessibility bus (any case), e.g. quillet,
or PROGRAM/WINDOW for the top-level window (or dialog) of that title, e.g.
"quillet/Add account". Every verb waits for what it needs (the program, the
window, the element, the element enabled) for up to SECONDS (30 unless given;
--seconds N before the verb for the others), then fails (status 1) saying what
it saw instead. Printed texts never hold a code or a key: text shaped like
one reads <code> or <key>, and editable fields show only their length.

Each question to a program is bounded (5 s; 15 s while it has just started),
and each command as a whole: a program or bus that stops answering ends it
with a message rather than holding the test.

Needs python3-pyatspi (run it with /usr/bin/python3), the session's
accessibility bus (at-spi-bus-launcher) and the program run with
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
"""
import os
import re
import sys
import threading
import time

import pyatspi
from gi.repository import Atspi

WAIT_SECONDS = 30.0
# A program that does not answer within this reads as gone (libatspi then
# returns empty names and no children rather than waiting on).
CALL_MS, STARTUP_MS = 5000, 15000
pyatspi.setTimeout(CALL_MS, STARTUP_MS)

TOGGLES = ("check box", "toggle button", "radio button", "switch", "check menu item")
PREFERRED_ACTIONS = ("press", "click", "toggle", "activate")


class A11yError(Exception):
    """What a verb needed did not come; the message says what was seen."""


class TimedOut(A11yError):
    pass


# Reading one element; an element that went away, or a program that does not
# answer, reads as empty.

def role_of(node):
    try:
        return node.get_role_name() or ""
    except Exception:
        return ""


def name_of(node):
    try:
        return node.get_name() or ""
    except Exception:
        return ""


def has_state(node, state):
    try:
        return node.get_state_set().contains(state)
    except Exception:
        return False


def showing(node):
    return has_state(node, Atspi.StateType.SHOWING)


def editable(node):
    return has_state(node, Atspi.StateType.EDITABLE)


def text_of(node):
    try:
        return node.queryText().getText(0, -1) or ""
    except Exception:  # no text, or gone
        return ""


def children(node):
    """Every child of node, showing or not."""
    try:
        count = node.get_child_count()  # -1 when the program does not answer
    except Exception:
        return
    for i in range(max(count, 0)):
        try:
            child = node.get_child_at_index(i)
        except Exception:
            child = None
        if child is not None:
            yield child


def _tree(node, depth=0):
    for child in children(node):
        if showing(child):
            yield depth, child
            yield from _tree(child, depth + 1)


def walk(node):
    """Every showing element below node, depth first, in the order a screen
    reader reads them."""
    for _, element in _tree(node):
        yield element


# Programs and their windows.

def _programs():
    """(program, its name) for each program on the accessibility bus; one
    that does not answer is named ""."""
    try:
        desktop = pyatspi.Registry.getDesktop(0)
    except Exception:
        return []
    return [(a, name_of(a)) for a in children(desktop)]


def windows(program):
    """The program's showing top-level windows."""
    return [w for w in children(program) if showing(w)]


def _roots(target):
    """(the nodes TARGET stands for, what is seen when there are none)."""
    if not isinstance(target, str):
        return [target], ""
    program, _, title = target.partition("/")
    everyone = _programs()
    programs = [a for a, named in everyone if named.lower() == program.lower()]
    if not programs:
        others = sorted(named or "one that does not answer" for _, named in everyone)
        return [], "no program named %r on the accessibility bus (there: %s)" % (
            program, ", ".join(others) or "none")
    if not title:
        return programs, ""
    found = [w for p in programs for w in windows(p) if name_of(w) == title]
    if found:
        return found, ""
    titles = [name_of(w) for p in programs for w in windows(p)]
    if not titles and all(p.get_child_count() < 0 for p in programs):
        return [], "%s does not answer over AT-SPI" % program
    return [], "%s shows no window titled %r (its windows: %s)" % (
        program, title, ", ".join(repr(t) for t in titles) or "none")


def _label(target):
    """TARGET as a message names it."""
    if isinstance(target, str):
        return target
    return "the %s %r" % (role_of(target), printable(name_of(target)))


def scope(target):
    """The program (e.g. "quillet") or its window ("quillet/Add account"), or
    None while it is not there."""
    roots, _ = _roots(target)
    return roots[0] if roots else None


# What may be printed: no code, no key, nothing typed into a field.

_HIDDEN = ((re.compile(r"otpauth(?:-migration)?://\S*"), "<link>"),
           (re.compile(r"\b[A-Z2-7]{16,}=*|\b(?:[A-Z2-7]{4} ){3,}[A-Z2-7]{4}\b"), "<key>"),
           (re.compile(r"\b[0-9]{3} [0-9]{3}\b|\b[0-9]{6,8}\b|\b[23456789BCDFGHJKMNPQRTVWXY]{5}\b"),
            "<code>"))


def printable(text):
    for pattern, shown in _HIDDEN:
        text = pattern.sub(shown, text)
    return text.strip()


def _hides(node):
    return editable(node) or role_of(node) == "password text"


def texts(target):
    """The showing names and texts below TARGET, one an element's, as they may
    be printed (what a field holds left out)."""
    lines = []
    for root in _roots(target)[0]:
        for element in walk(root):
            name, text = name_of(element), text_of(element)
            if name:
                lines.append(printable(name))
            if text and text != name and not _hides(element):
                lines.append(printable(text))
    return lines


def tree(target):
    lines = []
    for root in _roots(target)[0]:
        for depth, element in _tree(root):
            name, text = name_of(element), text_of(element)
            if _hides(element):
                text = "<%d characters>" % len(text) if text else ""
            elif text == name:
                text = ""
            lines.append("  " * depth + "[%s] %r%s" % (
                role_of(element), printable(name), " " + printable(text) if text else ""))
    return lines


def _seen(target, limit=40):
    roots, why = _roots(target)
    if why:
        return why
    shown = [s if len(s) <= 60 else s[:57] + "..." for s in texts(target)]
    more = " and %d more" % (len(shown) - limit) if len(shown) > limit else ""
    return "it shows: " + (" | ".join(shown[:limit]) + more if shown else "nothing")


# Waiting.

def until(condition, seconds=WAIT_SECONDS, what="a condition", seen=None):
    """condition() again every 0.1 s until it gives something true, which is
    returned; read errors (an element going away under the reading) count as
    not yet. After `seconds` raises TimedOut naming `what` and, if given, what
    seen() reports."""
    deadline = time.monotonic() + seconds
    error = None
    while True:
        try:
            found = condition()
        except A11yError:
            raise
        except Exception as e:  # noqa: BLE001 - AT-SPI answers with many kinds
            found, error = None, e
        if found:
            return found
        if time.monotonic() >= deadline:
            message = "waited %g s for %s" % (seconds, what)
            if seen is not None:
                message += "; " + seen()
            if error is not None:
                message += " (last error: %s)" % error
            raise TimedOut(message)
        time.sleep(0.1)


def shows(target, text):
    """The first showing element below TARGET whose name or text holds TEXT."""
    for root in _roots(target)[0]:
        for element in walk(root):
            if text in name_of(element) or text in text_of(element):
                return element
    return None


def wait(target, text, seconds=WAIT_SECONDS):
    return until(lambda: shows(target, text), seconds,
                 "%r in %s" % (printable(text), _label(target)), lambda: _seen(target))


def find(target, name, role=None):
    """The showing elements below TARGET named NAME (of ROLE), in reading order."""
    return [e for root in _roots(target)[0] for e in walk(root)
            if name_of(e) == name and (role is None or role_of(e) == role)]


def _element(target, name, role, nth, seconds, enabled=True):
    """The N-th element named NAME once it is there (and enabled)."""
    def ready():
        found = find(target, name, role)
        if len(found) >= nth and (not enabled or
                                  has_state(found[nth - 1], Atspi.StateType.ENABLED)):
            return found[nth - 1]
        return None
    what = "%s %r%s in %s" % (role or "an element", printable(name),
                              " (#%d)" % nth if nth > 1 else "", _label(target))
    return until(ready, seconds, what, lambda: _seen(target))


def _act(element, preferred, what):
    try:
        action = element.queryAction()
        names = [(action.getName(i) or "").lower() for i in range(action.nActions)]
    except NotImplementedError:
        names = []
    if not names:
        raise A11yError("%s has no action" % what)
    index = next((names.index(n) for n in preferred if n in names), 0)
    # Not repeated: a press that got no answer may still land.
    if not action.doAction(index):
        raise A11yError("%s did not take its %r action (no answer within %d s?)" %
                        (what, names[index], CALL_MS // 1000))


def press(target, name, role=None, nth=1, seconds=WAIT_SECONDS):
    """Waits for the N-th showing, enabled element named NAME and acts on it
    once (press, click, toggle or activate, else its first action)."""
    element = _element(target, name, role, nth, seconds)
    _act(element, PREFERRED_ACTIONS, "%r in %s" % (printable(name), _label(target)))
    return element


def fields(target):
    return [e for root in _roots(target)[0] for e in walk(root)
            if editable(e) and "EditableText" in e.get_interfaces()]


def fill(target, value, field=1, seconds=WAIT_SECONDS):
    """Puts VALUE into an editable field below TARGET: the FIELD-th (from 1),
    or the one named FIELD; waits until it is there and takes it."""
    def filled():
        found = fields(target)
        if isinstance(field, int):
            node = found[field - 1] if len(found) >= field else None
        else:
            node = next((e for e in found if name_of(e) == field), None)
        if node is None or not has_state(node, Atspi.StateType.ENABLED):
            return None
        # Refused while the field is read-only.
        return node if node.queryEditableText().setTextContents(value) else None
    what = "editable field %s in %s to take the text" % (
        "#%d" % field if isinstance(field, int) else repr(field), _label(target))
    return until(filled, seconds, what, lambda: _seen(target))


def checked(node):
    return has_state(node, Atspi.StateType.CHECKED)


def toggle(target, name, on, seconds=WAIT_SECONDS):
    """Sets the check box or switch named NAME to ON (a bool): acts once if it
    reads otherwise, then waits until it reads so."""
    def switch():
        return next((e for e in find(target, name) if role_of(e) in TOGGLES
                     and has_state(e, Atspi.StateType.ENABLED)), None)
    what = "%r in %s" % (printable(name), _label(target))
    start = time.monotonic()
    element = until(switch, seconds, "a check box or switch " + what, lambda: _seen(target))
    if checked(element) != on:
        _act(element, ("toggle",) + PREFERRED_ACTIONS, what)
        left = max(seconds - (time.monotonic() - start), 1.0)
        until(lambda: checked(element) == on, left, "%s to read %s" % (what, "on" if on else "off"))
    return element


def where(target, name, role=None, nth=1, seconds=WAIT_SECONDS):
    """The middle of the N-th showing element named NAME on the screen, (x, y)."""
    element = _element(target, name, role, nth, seconds, enabled=False)
    box = element.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x + box.width // 2, box.y + box.height // 2


# The command.

def watchdog(seconds, what):
    """Ends the process after `seconds` with a message, whatever it waits in."""
    def end():
        sys.stderr.write("a11y: %s: no end within %g s (the program or the accessibility bus "
                         "stopped answering)\n" % (what, seconds))
        sys.stderr.flush()
        os._exit(1)
    timer = threading.Timer(seconds, end)
    timer.daemon = True
    timer.start()
    return timer


def _number(text):
    try:
        return float(text)
    except ValueError:
        return None


def _usage():
    print(__doc__, file=sys.stderr)
    return 2


def main(argv):
    seconds = WAIT_SECONDS
    if len(argv) > 2 and argv[0] == "--seconds" and _number(argv[1]) is not None:
        seconds, argv = _number(argv[1]), argv[2:]
    if len(argv) < 2:
        return _usage()
    verb, target, rest = argv[0], argv[1], argv[2:]
    if verb == "wait" and len(rest) == 2 and _number(rest[1]) is not None:
        seconds, rest = _number(rest[1]), rest[:1]
    # Past the limit, each question still pending may take its own bound.
    watchdog(seconds + 4 * STARTUP_MS / 1000, "%s %s" % (verb, target))
    try:
        if verb in ("tree", "texts") and not rest:
            until(lambda: _roots(target)[0], seconds, target, lambda: _roots(target)[1])
            print("\n".join(tree(target) if verb == "tree" else texts(target)))
        elif verb == "wait" and len(rest) == 1:
            wait(target, rest[0], seconds)
        elif verb in ("press", "where") and 1 <= len(rest) <= 3:
            nth = int(rest.pop()) if len(rest) > 1 and rest[-1].isdigit() else 1
            role = rest[1] if len(rest) > 1 else None
            if verb == "press":
                press(target, rest[0], role, nth, seconds)
            else:
                print("%d %d" % where(target, rest[0], role, nth, seconds))
        elif verb == "fill" and 1 <= len(rest) <= 2:
            field = rest[1] if len(rest) > 1 else "1"
            fill(target, rest[0], int(field) if field.isdigit() else field, seconds)
        elif verb == "toggle" and len(rest) == 2 and rest[1] in ("on", "off"):
            toggle(target, rest[0], rest[1] == "on", seconds)
        else:
            return _usage()
    except A11yError as e:
        print("a11y: %s %s: %s" % (verb, target, e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
