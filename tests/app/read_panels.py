#!/usr/bin/python3
"""Reads, over AT-SPI as a screen reader does, the parts of Quillet that are not
the main window's rows, after read_window.py: the tray's panel opened by a
click on the docked icon (its codes against oathtool; Escape and a click
elsewhere close it), the fields of Settings' Hotkeys tab and of the edit sheet
(each named, no two alike), the add sheet's ways in (page tabs) and choices
(radio buttons), Settings' words for the tray panel and the keys
(never the menu bar's, a dropdown, Return or Escape), and the main window's
rows after a delete and a restore (read in the order they are shown). Run by desktop_a11y.sh, with
openbox and trayer running. Prints no secret and no code."""
import os
import subprocess
import sys
import time

import pyatspi

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "support"))
sys.path.insert(0, here)
import a11y  # noqa: E402
from a11y import walk  # noqa: E402
from read_window import CODE, app, expected, rows, seeded  # noqa: E402

FIELDS = ("check box", "combo box", "text", "password text", "spin button", "slider")


def fail(message):
    print("read_panels: " + message, file=sys.stderr)
    sys.exit(1)


def until(condition, what="a condition", seen=None):
    """a11y.until's wait (condition read again every 0.1 s, a generous
    limit), failing the reading with what was seen."""
    try:
        return a11y.until(condition, what=what, seen=seen)
    except a11y.A11yError as e:
        fail(str(e))


def soon(condition, seconds=a11y.WAIT_SECONDS):
    """condition's value once it is true, or None after `seconds` (for a
    step that is tried again rather than failed)."""
    try:
        return a11y.until(condition, seconds)
    except a11y.TimedOut:
        return None


def xdotool(*arguments):
    # Bounded: the callers look again (an X client may wait forever on a
    # loaded server).
    try:
        return subprocess.run(["xdotool", *arguments], capture_output=True, text=True,
                              timeout=10).stdout
    except subprocess.TimeoutExpired:
        return ""


def main_window():
    return next((w for w in a11y.windows(app()) if w.getRoleName() == "frame" and
                 w.name == "Quillet"), None)


def panel():
    """The tray's panel: the top-level window with the footer's "Manage"."""
    for window in a11y.windows(app()):
        if window.getRoleName() != "frame" and any(
                e.getRoleName() == "push button" and e.name == "Manage" for e in walk(window)):
            return window
    return None


def spoken_name(node):
    """The name a screen reader gives a field: its own, or (a picker, which
    Qt names by its choice) the label that points at it."""
    if node.getRoleName() != "combo box" and node.name:
        return node.name
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names = [relation.getTarget(i).name for i in range(relation.getNTargets())]
            if any(names):
                return " ".join(n for n in names if n)
    return ""


def fields_named_apart(window, where, wanted):
    """The names of the window's fields once each has one, no two alike, and
    the wanted ones are there (read again while the window settles)."""
    problem = ["not read yet"]

    def named_apart():
        fields = [(e.getRoleName(), spoken_name(e)) for e in walk(window)
                  if e.getRoleName() in FIELDS]
        names = [name for _, name in fields]
        unnamed = [role for role, name in fields if not name]
        shared = sorted({name for name in names if names.count(name) > 1})
        missing = [name for name in wanted if name not in names]
        problem[0] = "fields without a name %s, names shared %s, names missing %s" % (
            unnamed, shared, missing)
        return names if not unnamed and not shared and not missing else None
    return until(named_apart, "%s's fields, each named, no two alike" % where,
                 lambda: problem[0])


def activate_main():
    window = xdotool("search", "--onlyvisible", "--name", "^Quillet$").split()
    if not window:
        fail("the main window is not on screen")
    xdotool("windowactivate", "--sync", window[0])


def click_tray_icon():
    # Our icon window docked in trayer: 22 px wide, class "quillet".
    def icon():
        for window in xdotool("search", "--onlyvisible", "--class", "quillet").split():
            values = dict(line.split("=", 1) for line in
                          xdotool("getwindowgeometry", "--shell", window).split() if "=" in line)
            if values.get("WIDTH") == "22":
                return values
        return None
    where = until(icon, "the icon docked in the tray")
    xdotool("mousemove", str(int(where["X"]) + 11), str(int(where["Y"]) + 11), "click", "1")


# Words that are untrue on Linux: the panel is the tray panel, and a PC
# keyboard's keys are Enter and Esc.
UNTRUE = ("menu bar", "Menu bar", "dropdown", "this menu", "Return", "Escape", "\u2318",
          "\u238b", "\u23ce")


def says_what_is_true(window, where, wanted=()):
    """The window's texts hold every wanted one and none of the untrue words
    (read again while the window settles)."""
    problem = ["not read yet"]

    def true_texts():
        read = a11y.texts(window)
        missing = [w for w in wanted if not any(w in t for t in read)]
        untrue = sorted({t for t in read for word in UNTRUE if word in t})
        problem[0] = "missing %s; untrue %s" % (missing, untrue)
        return len(read) if read and not missing and not untrue else None
    return until(true_texts, "%s to say what is true" % where, lambda: problem[0])


def tray_panel():
    accounts = {seeded(i)["issuer"]: seeded(i) for i in range(6)}
    click_tray_icon()
    window = until(panel, "the tray's panel on the accessibility bus")
    until(lambda: len([e for e in walk(window) if e.name == "Quit"]) == 1, "the panel's footer")
    # Read again while the rows come in, a period ends during the reading
    # or an element goes away under it.
    problem = ["not read yet"]

    def codes_read():
        before = time.time()
        read = {}
        for element in walk(window):
            if element.getRoleName() != "push button" or ": " not in element.name:
                continue
            codes = [e.name for e in walk(element)
                     if e.getRoleName() == "label" and CODE.match(e.name)]
            read[element.name.split(": ")[0]] = codes[0].replace(" ", "") if codes else None
        after = time.time()
        if set(read) != set(accounts):
            problem[0] = "the panel lists %s" % sorted(read)
        elif any(code is None for code in read.values()):
            problem[0] = "no code can be read in the panel's rows of " + ", ".join(
                issuer for issuer, code in read.items() if code is None)
        else:
            wrong = [issuer for issuer, code in read.items()
                     if code not in (expected(accounts[issuer], before),
                                     expected(accounts[issuer], after))]
            problem[0] = wrong and "the panel's codes differ from oathtool's for " + ", ".join(wrong)
        return None if problem[0] else read
    read = until(codes_read, "the panel's codes", lambda: problem[0])
    print("read_panels: the tray's panel reads %d codes, each equal to the reference" % len(read))
    says_what_is_true(window, "the tray panel")

    # It still closes as a popup would: on Escape, and on a click elsewhere.
    def keyboard():
        active = xdotool("getactivewindow").strip()
        return "the keyboard is with %s %r; the panel's states %s" % (
            active, xdotool("getwindowname", active).strip() if active else "", states(window))
    until(lambda: window.getState().contains(pyatspi.STATE_ACTIVE),
          "the panel to take the keyboard", keyboard)
    xdotool("key", "Escape")
    until(lambda: panel() is None, "Escape to close the panel")
    time.sleep(0.4)  # the icon's guard against the click that closed it
    click_tray_icon()
    until(panel, "the panel to open again")
    main = main_window().queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    xdotool("mousemove", str(main.x + 40), str(main.y + main.height - 40), "click", "1")
    until(lambda: panel() is None, "a click on the main window to close the panel")
    print("read_panels: Escape and a click elsewhere close the panel")


def hotkeys_tab():
    activate_main()
    xdotool("key", "--clearmodifiers", "ctrl+comma")
    settings = until(lambda: a11y.scope("quillet/Settings"), "Settings")
    press(settings, "Hotkeys", "page tab")
    for count in (1, 2):
        press(settings, "Add hotkey", "push button")
        until(lambda: any(e.name == "Remove hotkey %d" % count for e in walk(settings)),
              "hotkey row %d" % count)
    names = fields_named_apart(settings, "the Hotkeys tab",
                               ("Enable hotkey 1", "Auto-paste for hotkey 2", "Account of hotkey 2"))
    print("read_panels: the Hotkeys tab's %d fields have names of their own" % len(names))
    says_what_is_true(settings, "the Hotkeys tab", ("and hit Enter to type that account's code",))
    press(settings, "General", "page tab")
    says_what_is_true(settings, "the General tab",
                      ("Show a code in the tray", "Accounts shown in the tray panel",
                       "Uncheck an account to hide it from the tray panel"))
    print("read_panels: Settings and the tray panel say the tray panel, Enter and Esc")
    press(settings, "Hotkeys", "page tab")
    return settings


def press(window, name, role):
    try:
        a11y.press(window, name, role)
    except a11y.A11yError as e:
        fail(str(e))


def row_titles(window):
    return [next(e.name for e in walk(row) if e.getRoleName() == "label") for row in rows(window)]


def row_named(window, title):
    return next(row for row in rows(window)
                if next(e.name for e in walk(row) if e.getRoleName() == "label") == title)


def focus_row(title):
    # The main window given the keyboard, then the row the focus: asked
    # again while a loaded machine has not done either yet.
    attempts = [0]

    def focused():
        attempts[0] += 1
        activate_main()
        row = until(lambda: row_named(main_window(), title), "the row of " + title)
        if attempts[0] > 1:
            # As a user would: a click on the row's title.
            label = next(e for e in walk(row) if e.getRoleName() == "label" and e.name == title)
            box = label.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            xdotool("mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2),
                    "click", "1")
        row.queryAction().doAction(0)  # SetFocus
        return soon(lambda: row.getState().contains(pyatspi.STATE_FOCUSED), 3)

    def where_the_focus_is():
        active = xdotool("getactivewindow").strip()
        root = subprocess.run(["timeout", "5", "xprop", "-root", "_NET_ACTIVE_WINDOW",
                               "_NET_SUPPORTING_WM_CHECK"], capture_output=True, text=True).stdout
        try:
            windows = "main window %s; row %s" % (states(main_window()),
                                                  states(row_named(main_window(), title)))
        except Exception as e:  # noqa: BLE001 - gone while it was read
            windows = "main window and row unread (%s)" % e
        return "active window %s %r, focus %s; root %r; %s; DISPLAY %s" % (
            active, xdotool("getwindowname", active).strip() if active else "",
            xdotool("getwindowfocus").strip(), root, windows, os.environ.get("DISPLAY"))
    until(focused, "the row of %s to take the focus" % title, where_the_focus_is)


def states(node):
    return [pyatspi.stateToString(s) for s in node.getState().getStates()]


def edit_sheet():
    # The row's menu from the keyboard: Pin, Copy Code, Edit… (a menu is a
    # popup, out of the accessibility tree: it is waited for on X, a window
    # of ours that the window manager leaves alone).
    def menu_window():
        for window in xdotool("search", "--onlyvisible", "--class", "quillet").split():
            if "Override Redirect State: yes" in subprocess.run(
                    ["timeout", "5", "xwininfo", "-id", window],
                    capture_output=True, text=True).stdout:
                return window
        return None
    sheet = None
    for attempt in range(3):
        focus_row("Example")
        xdotool("key", "Menu")
        soon(menu_window)
        xdotool("key", "Down", "Down", "Down", "Return")
        sheet = soon(lambda: a11y.scope("quillet/Edit account"))
        if sheet:
            break
        xdotool("key", "Escape")
    if not sheet:
        fail("the row's menu did not open the edit sheet")
    names = fields_named_apart(sheet, "the edit sheet",
                               ("Service", "Name", "Folder", "Recovery codes", "Note"))
    labels = [e.name for e in walk(sheet) if e.getRoleName() == "label"]
    for wanted in ("Service", "Name"):
        if wanted not in labels:
            fail("the edit sheet shows no label %r" % wanted)
    if "Folder" in labels:
        fail("the edit sheet says \"Folder\" twice (a label beside its titled group)")
    print("read_panels: the edit sheet's %d fields have names of their own" % len(names))
    press(sheet, "Cancel", "push button")
    until(lambda: a11y.scope("quillet/Edit account") is None, "the edit sheet to close")


def add_sheet():
    """The add sheet's ways in read as the page tabs of a tab list, and the
    code's kind, hash and length as radio buttons."""
    sheet = None
    for attempt in range(3):
        focus_row("Example")
        xdotool("key", "--clearmodifiers", "ctrl+n")
        sheet = soon(lambda: a11y.scope("quillet/Add account"))
        if sheet:
            break
    if not sheet:
        fail("Control+N did not open the add sheet")
    tabs = [e.name for tabs in walk(sheet) if tabs.getRoleName() == "page tab list"
            for e in walk(tabs) if e.getRoleName() == "page tab"]
    if tabs != ["Scan screen", "Image file", "Paste link", "Enter by hand"]:
        fail("the add sheet's ways in read as %s, not as a tab list's page tabs" % tabs)
    press(sheet, "Enter by hand", "page tab")
    wanted = ["Time-based (TOTP)", "Counter (HOTP)", "SHA1", "SHA256", "SHA512", "6", "7", "8"]
    read = ["not read yet"]

    def radio_buttons():
        read[0] = [(e.getRoleName(), e.name) for e in walk(sheet)
                   if e.getRoleName() in a11y.TOGGLES]
        return [name for role, name in read[0] if role == "radio button"] == wanted
    until(radio_buttons, "the manual form's choices to read as radio buttons",
          lambda: "they read as %s" % read[0])
    print("read_panels: the add sheet reads as a tab list, its choices as radio buttons")
    press(sheet, "Cancel", "push button")
    until(lambda: a11y.scope("quillet/Add account") is None, "the add sheet to close")


def order_after_delete_and_restore(settings):
    for title in ("Acme Corp", "GitHub"):
        focus_row(title)
        xdotool("key", "Delete")
        until(lambda: title not in row_titles(main_window()), "the delete of " + title)
    press(settings, "General", "page tab")
    press(settings, "Recently Deleted…", "push button")
    deleted = until(lambda: a11y.scope("quillet/Recently Deleted"), "Recently Deleted")
    acme = until(lambda: next(e for e in walk(deleted) if e.name == "Restore" and
                              e.description.startswith("Acme Corp")), "Acme Corp's Restore")
    acme.queryAction().doAction(0)
    until(lambda: "Acme Corp" in row_titles(main_window()), "the restore of Acme Corp")

    order = ["not read yet"]

    def read_as_shown():
        window = main_window()
        read = row_titles(window)
        places = [(row.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).y, title)
                  for row, title in zip(rows(window), read)]
        shown = [title for _, title in sorted(places)]
        order[0] = "they are read as %s but shown as %s" % (read, shown)
        return len(read) == 5 and read == shown
    until(read_as_shown, "the five rows to be read in the order shown", lambda: order[0])
    print("read_panels: after a delete and a restore the rows are read in the order shown")


def main():
    until(main_window, "the main window")
    tray_panel()
    settings = hotkeys_tab()
    edit_sheet()
    add_sheet()
    order_after_delete_and_restore(settings)


if __name__ == "__main__":
    main()
