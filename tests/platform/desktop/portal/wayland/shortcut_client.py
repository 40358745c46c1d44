#!/usr/bin/python3
"""Another program asking the desktop for a global shortcut, as any program
would through the GlobalShortcuts portal: it opens a session of its own
(KDE Plasma 5.27 names the owner of its shortcuts after the session's token)
asking for one shortcut with its preferred keys, then writes, one line each:

  held: KEYS      the keys KDE's shortcut daemon gives the shortcut, as Qt key
                  codes in hex joined by "," ("none" for no keys), read from
                  the daemon's record rather than the portal's answer, which
                  repeats the keys asked for even where it gave none
  activated       at every press the portal reports for it

Usage: shortcut_client.py TOKEN SHORTCUT_ID PREFERRED_TRIGGER
Runs until it is stopped; exits 1 when the portal does not open the session.
"""
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

token, shortcut_id, trigger = sys.argv[1:4]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = bus.get_object("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")
shortcuts = dbus.Interface(portal, "org.freedesktop.portal.GlobalShortcuts")
loop = GLib.MainLoop()
sender = bus.get_unique_name()[1:].replace(".", "_")
session = f"/org/freedesktop/portal/desktop/session/{sender}/{token}"


def say(line):
    print(line, flush=True)


def held_keys():
    accel = bus.get_object("org.kde.kglobalaccel", "/kglobalaccel")
    path = accel.getComponent(token, dbus_interface="org.kde.KGlobalAccel")
    component = bus.get_object("org.kde.kglobalaccel", path)
    for info in component.allShortcutInfos(dbus_interface="org.kde.kglobalaccel.Component"):
        if str(info[0]) == shortcut_id:
            keys = [f"{int(k):x}" for k in info[6] if int(k)]
            return ",".join(keys) or "none"
    return "none"


def activated(handle, shortcut, *_):
    if str(handle) == session and str(shortcut) == shortcut_id:
        say("activated")


def created(code, results):
    if code != 0:
        say(f"no session: {int(code)}")
        sys.exit(1)
    say(f"held: {held_keys()}")


bus.add_signal_receiver(
    activated, "Activated", "org.freedesktop.portal.GlobalShortcuts",
    "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")
request_token = f"{token}_request"
bus.add_signal_receiver(
    created, "Response", "org.freedesktop.portal.Request",
    "org.freedesktop.portal.Desktop",
    f"/org/freedesktop/portal/desktop/request/{sender}/{request_token}")
wanted = dbus.Array([dbus.Struct((shortcut_id, {
    "description": dbus.String(f"{shortcut_id} of another program"),
    "preferred_trigger": dbus.String(trigger)}), signature="sa{sv}")], signature="(sa{sv})")
# KDE Plasma 5.27 takes a session's shortcuts only from CreateSession.
shortcuts.CreateSession({
    "handle_token": dbus.String(request_token),
    "session_handle_token": dbus.String(token),
    "shortcuts": wanted,
})
loop.run()
