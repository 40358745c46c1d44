#!/usr/bin/python3
"""The tray's icon as desktops show it, end to end with the real program.

With a watcher: a small StatusNotifierWatcher and host of our own on the private
session bus (what the AppIndicator hosts of GNOME, XFCE, MATE and Budgie and KDE's
panel run). Quillet registers exactly one item; its label (XAyatanaLabel) is
oathtool's code for the chosen account, turns to the next code when the period
ends (never within it), empties when "Show a code in the tray" is switched off in
the settings window (over AT-SPI, tests/support/a11y.py), and Activate(x, y)
opens the panel at that place.

Without a watcher: the XEmbed icon docks in trayer's tray and nothing registers on
the bus. In a Wayland session without a watcher (XDG_SESSION_TYPE=wayland while Qt
runs on the X server, as it may on XWayland) no icon docks anywhere, even where an
XEmbed tray runs, and the main window stays open although the program is set to live
in the tray; a watcher that comes later gets the item.

Run inside tests/with-session.sh and tests/with-xvfb.sh (a private bus, keyring and
X server). Usage: status_item_test.py QUILLET SEED_VAULT SCENARIO
SCENARIO: watcher | xembed | wayland
"""
import base64
import os
import shutil
import subprocess
import sys
import tempfile
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
PROPS = "org.freedesktop.DBus.Properties"

quillet, seed, scenario = sys.argv[1:4]
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
# Generous limits: what is waited for comes sooner, but a loaded machine is slow.
WAIT = 30
work = tempfile.mkdtemp()
processes = []


def fail(message):
    print(f"status item test: {message}", file=sys.stderr)
    for name in ("quillet.log", "trayer.log"):
        path = os.path.join(work, name)
        if os.path.exists(path):
            with open(path) as log:
                sys.stderr.write("".join(name.split(".")[0] + ": " + line for line in log))
    sys.exit(1)


def start(arguments, log=None, env=None):
    out = open(os.path.join(work, log), "w") if log else subprocess.DEVNULL
    process = subprocess.Popen(arguments, stdout=out, stderr=subprocess.STDOUT, env=env)
    processes.append(process)
    return process


def stop_all():
    for process in reversed(processes):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()


def pump(seconds, until=lambda: False):
    """Runs the bus's main loop for up to `seconds`, or until `until()` holds."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if until():
            return True
        context.iteration(False)
        time.sleep(0.005)
    return until()


def oathtool(secret, at):
    return subprocess.run(["oathtool", "--totp", "-b", "-N", f"@{int(at)}", secret],
                          check=True, capture_output=True, text=True).stdout.strip()


class Watcher(dbus.service.Object):
    """A StatusNotifierWatcher that also plays the host reading the items."""

    def __init__(self, bus):
        self.bus = bus
        self.items = []
        self.calls = 0
        super().__init__(dbus.service.BusName(WATCHER, bus), "/StatusNotifierWatcher")

    @dbus.service.method(WATCHER, in_signature="s", out_signature="",
                         sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        self.calls += 1
        # A bus name, or an object path on the caller's connection.
        name = sender if service.startswith("/") else service
        if name not in self.items:
            self.items.append(name)
            self.StatusNotifierItemRegistered(name)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }


def item_names(bus):
    names = bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "ListNames", "", [])
    return [str(n) for n in names if str(n).startswith(ITEM)]


def seeded_environment():
    # The clock measures nothing over the network: codes follow this computer's clock.
    env = dict(os.environ, QUILLET_TIME_REFERENCE_URL="http://127.0.0.1:9/")
    if subprocess.run([seed, "3"], capture_output=True).returncode != 0:
        fail("could not seed the vault")
    return env


def with_watcher():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)

    env = seeded_environment()
    # The second seeded account, "Example: user1@example.com".
    if subprocess.run([seed, "--menu-bar-account", "1"]).returncode != 0:
        fail("could not choose the account")
    secret = base64.b32encode(b"12345678901234567890b").decode()

    # The accessibility bus, to switch the option off in the settings window.
    start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    start([quillet], "quillet.log", env)

    if not pump(2 * WAIT, lambda: watcher.items):
        fail("no item registered with the watcher")
    service = watcher.items[0]
    print(f"registered: {service}")
    item = bus.get_object(service, "/StatusNotifierItem")
    properties = dbus.Interface(item, PROPS)
    everything = properties.GetAll(ITEM)
    for name in ("Id", "Title", "IconPixmap", "ToolTip", "XAyatanaLabel", "Status"):
        if name not in everything:
            fail(f"the item has no {name}")
    if everything["Title"] != "Quillet" or not everything["IconPixmap"]:
        fail("the item has no title or no icon")
    pump(1)
    if len(watcher.items) != 1 or len(item_names(bus)) != 1:
        fail(f"not exactly one item: {watcher.items}, {item_names(bus)}")

    labels = []
    bus.add_signal_receiver(lambda label, guide: labels.append((time.time(), str(label))),
                            signal_name="XAyatanaNewLabel", dbus_interface=ITEM,
                            bus_name=service)

    def label_now():
        return str(properties.Get(ITEM, "XAyatanaLabel"))

    # Read again while a period that just ended has not turned the label yet.
    def label_is_code():
        return label_now() == oathtool(secret, time.time())
    if not pump(WAIT, label_is_code):
        fail("the label does not read oathtool's code")
    if not pump(WAIT, lambda: str(properties.Get(ITEM, "ToolTip")[3]) ==
                oathtool(secret, time.time())):
        fail("the tooltip does not hold the code")
    print("label: oathtool's code, the tooltip too")

    # The next period: the label turns once it starts, to its code.
    boundary = (int(time.time()) // 30 + 1) * 30
    labels.clear()
    if not pump(boundary - time.time() + WAIT, lambda: any(t >= boundary for t, _ in labels)):
        fail("the label did not change at the period's end")
    changed_at, new_label = next((t, l) for t, l in labels if t >= boundary)
    if new_label != oathtool(secret, boundary):
        fail("the new label is not oathtool's code of the new period")
    if any(boundary - 25 < t < boundary for t, _ in labels):
        fail("the label changed within the period")
    print(f"rollover: {changed_at - boundary:.3f} s after the period's end")

    # Switching the option off in the settings window empties the label.
    import a11y
    try:
        a11y.wait("quillet", "Example")
    except a11y.A11yError as e:
        fail(f"the main window does not show the accounts: {e}")
    main = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Quillet$"],
                          capture_output=True, text=True).stdout.split()
    if not main:
        fail("no main window")
    subprocess.run(["xdotool", "windowfocus", "--sync", main[0]])
    subprocess.run(["xdotool", "key", "--clearmodifiers", "ctrl+comma"])
    try:
        a11y.wait("quillet", "Show a code in the tray")
    except a11y.A11yError as e:
        fail(f"the settings window did not open: {e}")
    labels.clear()
    try:
        a11y.toggle("quillet", "Show a code in the tray", False)
    except a11y.A11yError as e:
        fail(f"could not switch the option off: {e}")
    if not pump(WAIT, lambda: labels and labels[-1][1] == ""):
        fail("switching the option off did not empty the label")
    if label_now() != "":
        fail("the label property is not empty")
    pump(2.5)
    if any(l for _, l in labels):
        fail("the label came back while the option is off")
    print("option off: the label is empty")

    # Activate(x, y) opens the panel at that place.
    x, y = 900, 10
    item.Activate(dbus.Int32(x), dbus.Int32(y), dbus_interface=ITEM)
    try:
        a11y.wait("quillet", "Manage")
    except a11y.A11yError as e:
        fail(f"Activate did not open the panel: {e}")
    try:
        a11y.wait("quillet", "Search")
    except a11y.A11yError as e:
        fail(f"the panel shows no search field: {e}")
    geometry = None
    for window in subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "quillet"],
                                 capture_output=True, text=True).stdout.split():
        info = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                              capture_output=True, text=True).stdout
        values = dict(line.split("=", 1) for line in info.split() if "=" in line)
        if values.get("WIDTH") == "340":
            geometry = values
    if geometry is None:
        fail("no window 340 wide on screen")
    left, top = int(geometry["X"]), int(geometry["Y"])
    if not (left <= x <= left + 340 and y < top <= y + 40):
        fail(f"the panel is at {left},{top}, not at the click {x},{y}")
    subprocess.run(["import", "-window", "root", os.path.join(artifacts, "tray-panel.png")])
    print(f"activate: the panel opened at {left},{top}")
    if len(item_names(bus)) != 1 or watcher.calls != 1:
        fail("more than one item")


def tray_only():
    path = os.path.join(os.environ["XDG_CONFIG_HOME"], "tarnwick", "Quillet.conf")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    text = open(path).read() if os.path.exists(path) else ""
    if "[General]\n" not in text:
        text = "[General]\n" + text
    with open(path, "w") as conf:
        conf.write(text.replace("[General]\n", "[General]\nmenuBarOnly.v1=true\n", 1))


def main_window_shown():
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Quillet$"],
                          capture_output=True).returncode == 0


def without_watcher(wayland):
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    env = seeded_environment()
    if wayland:
        env["XDG_SESSION_TYPE"] = "wayland"
        tray_only()
    tray = start(["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                  "--width", "120", "--height", "24"], "trayer.log")
    def trays():
        return subprocess.run(["xdotool", "search", "--class", "trayer"], capture_output=True,
                              text=True).stdout.split()

    def windows_in_tray():
        # Our windows (class "quillet") docked below one of trayer's.
        return sum(subprocess.run(["xwininfo", "-tree", "-id", tray], capture_output=True,
                                  text=True).stdout.count('("quillet"') for tray in trays())

    # trayer's panel and the tray inside it.
    if not pump(WAIT, lambda: len(trays()) >= 2):
        fail("trayer did not start" if tray.poll() is None else
             f"trayer ended with status {tray.returncode}")
    time.sleep(0.5)
    empty = windows_in_tray()
    start([quillet], "quillet.log", env)
    if wayland:
        if not pump(30, main_window_shown):
            fail("a tray-only program without a tray hid its main window")
        pump(2)
        if windows_in_tray() != empty:
            fail("an XEmbed icon docked in a Wayland session")
        if item_names(bus):
            fail(f"an item registered on the bus without a watcher: {item_names(bus)}")
        print("wayland: no icon without a watcher, the main window stays open")
    else:
        if not pump(30, lambda: windows_in_tray() > empty):
            fail("no icon docked in the tray")
        pump(1)
        if item_names(bus):
            fail(f"an item registered on the bus without a watcher: {item_names(bus)}")
        print("xembed: the icon docked in the tray, no item on the bus")

    # A watcher that starts later takes over: the tray's icon leaves.
    watcher = Watcher(bus)
    if not pump(WAIT, lambda: watcher.items):
        fail("no item registered with the watcher that came later")
    if not pump(WAIT, lambda: windows_in_tray() == empty):
        fail("the tray still holds the icon beside the registered item")
    if len(item_names(bus)) != 1:
        fail(f"not exactly one item: {item_names(bus)}")
    print("a later watcher: one item registered, the tray's icon gone")


artifacts = os.environ.get("QUILLET_ARTIFACTS", work)
os.makedirs(artifacts, exist_ok=True)
try:
    if scenario == "watcher":
        with_watcher()
    else:
        without_watcher(scenario == "wayland")
    print("status item test passed")
finally:
    stop_all()
    shutil.rmtree(work, ignore_errors=True)
