#!/usr/bin/python3
"""A stand-in for xdg-desktop-portal on a private session bus, for what a real
desktop's portal will not do on request: refuse, answer with other keys, lack an
interface, hand out restore tokens.

It owns org.freedesktop.portal.Desktop and serves GlobalShortcuts, RemoteDesktop and
Screenshot as the portal documents them: every call returns a Request path and
answers with its Response signal. A control interface (com.tarnwick.PortalStandIn on
/control) lets the test choose the answers and read back what was asked:

  Configure(a{sv})  interfaces (as), bind_response (u), triggers (a{ss}: shortcut id
                    to the trigger_description the desktop reports; ids left out are
                    not accepted), create_binds (b: CreateSession takes the shortcuts
                    option and answers them, as KDE Plasma 5.27 does),
                    remote_response (u), remote_version (u), restore_token (s),
                    screenshot_file (s), screenshot_response (u), kglobalaccel (b: KDE's
                    shortcut daemon runs, knows no component of ours, and sets
                    its shortcuts aside when asked)
  Calls() -> s      every call so far, as JSON
  Forget()          forgets the calls and takes the first answers again
  Activate(s)       emits GlobalShortcuts.Activated for the last session (the keys go
                    down)
  Deactivate(s)     emits GlobalShortcuts.Deactivated likewise (the keys are let go)
  Shortcuts() -> u  how many GlobalShortcuts sessions are open
  Change(a{sv})     the user gives shortcuts of the last session other keys (or none,
                    ""): emits GlobalShortcuts.ShortcutsChanged with its whole list

Usage: portal_stand_in.py (runs until terminated)
"""
import json

import dbus
import dbus.lowlevel
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PORTAL = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REMOTE = "org.freedesktop.portal.RemoteDesktop"
SCREENSHOT = "org.freedesktop.portal.Screenshot"
CONTROL = "com.tarnwick.PortalStandIn"
ACCEL = "org.kde.kglobalaccel"

config = {
    "interfaces": [SHORTCUTS, REMOTE, SCREENSHOT],
    "bind_response": 0,
    "triggers": None,  # None: every shortcut gets its preferred trigger
    "create_binds": False,
    "remote_response": 0,
    "remote_version": 1,
    "restore_token": "",
    "screenshot_file": "",
    "screenshot_response": 0,
    "kglobalaccel": False,
}
defaults = dict(config)
calls = []
sessions = {}


def plain(value):
    """dbus-python values as JSON can hold them."""
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (int, dbus.Byte)):
        return int(value)
    return str(value)


def answer(shortcuts):
    """The desktop's answer to a list of shortcuts: each accepted one with the
    trigger it got."""
    answered = []
    for shortcut_id, properties in shortcuts:
        triggers = config["triggers"]
        if triggers is None:
            trigger = str(properties.get("preferred_trigger", ""))
        elif str(shortcut_id) in triggers:
            trigger = triggers[str(shortcut_id)]
        else:
            continue
        answered.append(dbus.Struct(
            (shortcut_id, dbus.Dictionary({
                "description": properties.get("description", ""),
                "trigger_description": dbus.String(trigger)}, signature="sv"))))
    return dbus.Array(answered, signature="(sa{sv})")


class Portal(dbus.service.FallbackObject):
    """The portal's object and, below it, its requests and sessions."""

    def __init__(self, bus):
        self.bus = bus
        self.last_session = None
        super().__init__(bus, PATH)

    def _message_cb(self, connection, message):
        # GlobalShortcuts and RemoteDesktop both have CreateSession(a{sv}), and
        # dbus-python dispatches by name only: route by the interface, which the
        # caller always names.
        interface = message.get_interface()
        if message.get_member() != "CreateSession" or interface not in (SHORTCUTS, REMOTE):
            return super()._message_cb(connection, message)
        try:
            self.need(interface)
            path = create_session(self, message.get_args_list()[0], message.get_sender(),
                                  interface)
            reply = dbus.lowlevel.MethodReturnMessage(message)
            reply.append(path, signature="o")
        except dbus.exceptions.DBusException as error:
            reply = dbus.lowlevel.ErrorMessage(message, error.get_dbus_name(), str(error))
        connection.send_message(reply)

    def request_path(self, sender, options):
        token = str(options.get("handle_token", "t"))
        return f"{PATH}/request/{sender[1:].replace('.', '_')}/{token}"

    def respond(self, path, code, results):
        def send():
            signal = dbus.lowlevel.SignalMessage(path, "org.freedesktop.portal.Request", "Response")
            signal.append(dbus.UInt32(code), dbus.Dictionary(results, signature="sv"),
                          signature="ua{sv}")
            self.bus.send_message(signal)
            return False
        # After the method's reply, as a portal that shows a dialog does.
        GLib.timeout_add(20, send)
        return dbus.ObjectPath(path)

    def need(self, interface):
        if interface not in config["interfaces"]:
            raise dbus.exceptions.DBusException(
                f"No such interface '{interface}'",
                name="org.freedesktop.DBus.Error.UnknownMethod")

    def session_path(self, sender, options):
        token = str(options.get("session_handle_token", "s"))
        return f"{PATH}/session/{sender[1:].replace('.', '_')}/{token}"

    def new_session(self, sender, options, kind):
        handle = self.session_path(sender, options)
        sessions[handle] = {"kind": kind, "started": False}
        return handle

    # GlobalShortcuts (CreateSession: see _message_cb)
    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender=None):
        self.need(SHORTCUTS)
        calls.append({"method": "BindShortcuts", "session": str(session),
                      "shortcuts": plain(shortcuts)})
        code = config["bind_response"]
        results = {}
        if code == 0 and not config["create_binds"]:
            results["shortcuts"] = answer(shortcuts)
            sessions.get(str(session), {})["shortcuts"] = results["shortcuts"]
        elif code == 0:
            # Read only with the session: the list bound then stands.
            results["shortcuts"] = sessions.get(str(session), {}).get("shortcuts", [])
        self.last_session = str(session)
        return self.respond(self.request_path(sender, options), code, results)

    @dbus.service.method(SHORTCUTS, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def ListShortcuts(self, session, options, sender=None):
        self.need(SHORTCUTS)
        calls.append({"method": "ListShortcuts", "session": str(session)})
        listed = sessions.get(str(session), {}).get("shortcuts", [])
        return self.respond(self.request_path(sender, options), 0,
                            {"shortcuts": dbus.Array(listed, signature="(sa{sv})")})

    def changed(self, triggers):
        listed = sessions.get(self.last_session, {}).get("shortcuts", [])
        updated = dbus.Array([dbus.Struct((shortcut_id, dbus.Dictionary(
            {**properties, "trigger_description": dbus.String(
                triggers.get(str(shortcut_id), properties["trigger_description"]))},
            signature="sv"))) for shortcut_id, properties in listed], signature="(sa{sv})")
        sessions[self.last_session]["shortcuts"] = updated
        signal = dbus.lowlevel.SignalMessage(PATH, SHORTCUTS, "ShortcutsChanged")
        signal.append(dbus.ObjectPath(self.last_session), updated, signature="oa(sa{sv})")
        self.bus.send_message(signal)

    def activated(self, shortcut_id, member="Activated"):
        signal = dbus.lowlevel.SignalMessage(PATH, SHORTCUTS, member)
        signal.append(dbus.ObjectPath(self.last_session), shortcut_id, dbus.UInt64(0),
                      dbus.Dictionary({}, signature="sv"), signature="osta{sv}")
        self.bus.send_message(signal)

    # RemoteDesktop
    @dbus.service.method(REMOTE, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def SelectDevices(self, session, options, sender=None):
        self.need(REMOTE)
        calls.append({"method": "SelectDevices", "session": str(session),
                      "options": plain({k: v for k, v in options.items() if k != "handle_token"})})
        return self.respond(self.request_path(sender, options), 0, {})

    @dbus.service.method(REMOTE, in_signature="osa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Start(self, session, parent, options, sender=None):
        self.need(REMOTE)
        calls.append({"method": "Start", "session": str(session)})
        code = config["remote_response"]
        results = {}
        if code == 0:
            sessions.get(str(session), {})["started"] = True
            results["devices"] = dbus.UInt32(1)
            if config["restore_token"]:
                results["restore_token"] = dbus.String(config["restore_token"])
        return self.respond(self.request_path(sender, options), code, results)

    @dbus.service.method(REMOTE, in_signature="oa{sv}ui", out_signature="")
    def NotifyKeyboardKeysym(self, session, options, keysym, state):
        self.need(REMOTE)
        if not sessions.get(str(session), {}).get("started"):
            raise dbus.exceptions.DBusException("Session not started",
                                                name="org.freedesktop.portal.Error.Failed")
        calls.append({"method": "NotifyKeyboardKeysym", "keysym": int(keysym),
                      "state": int(state)})

    # Screenshot
    @dbus.service.method(SCREENSHOT, in_signature="sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Screenshot(self, parent, options, sender=None):
        self.need(SCREENSHOT)
        calls.append({"method": "Screenshot",
                      "options": plain({k: v for k, v in options.items() if k != "handle_token"})})
        code = config["screenshot_response"]
        results = {}
        if code == 0:
            results["uri"] = dbus.String("file://" + config["screenshot_file"])
        return self.respond(self.request_path(sender, options), code, results)

    # Session
    @dbus.service.method("org.freedesktop.portal.Session", in_signature="", out_signature="",
                         rel_path_keyword="rel")
    def Close(self, rel=None):
        calls.append({"method": "Close", "session": f"{PATH}{rel}"})
        sessions.pop(f"{PATH}{rel}", None)

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        self.need(interface)
        if name != "version":
            raise dbus.exceptions.DBusException("No such property",
                                                name="org.freedesktop.DBus.Error.InvalidArgs")
        version = config["remote_version"] if interface == REMOTE else 1
        return dbus.UInt32(version, variant_level=1)


def create_session(self, options, sender=None, interface=None):
    kind = "shortcuts" if interface == SHORTCUTS else "remote"
    self.need(SHORTCUTS if kind == "shortcuts" else REMOTE)
    calls.append({"method": "CreateSession", "interface": interface,
                  "token": str(options.get("session_handle_token", "")),
                  "options": plain({k: v for k, v in options.items()
                                    if k not in ("handle_token", "session_handle_token")})})
    if self.session_path(sender, options) in sessions:
        raise dbus.exceptions.DBusException("A session with this token is open",
                                            name="org.freedesktop.DBus.Error.Failed")
    handle = self.new_session(sender, options, kind)
    results = {"session_handle": dbus.String(handle)}
    if kind == "shortcuts" and config["create_binds"]:
        results["shortcuts"] = answer(options.get("shortcuts", []))
        sessions[handle]["shortcuts"] = results["shortcuts"]
        self.last_session = handle
    return self.respond(self.request_path(sender, options), 0, results)


class Accel(dbus.service.Object):
    """KDE's shortcut daemon, whose record of a component cannot be read."""

    def __init__(self, bus):
        super().__init__(bus, "/kglobalaccel")

    @dbus.service.method("org.kde.KGlobalAccel", in_signature="s", out_signature="o")
    def getComponent(self, name):
        raise dbus.exceptions.DBusException(f"The component '{name}' doesn't exist.",
                                            name="org.kde.kglobalaccel.NoSuchComponent")

    @dbus.service.method("org.kde.KGlobalAccel", in_signature="b", out_signature="")
    def blockGlobalShortcuts(self, block):
        calls.append({"method": "blockGlobalShortcuts", "block": bool(block)})


class Control(dbus.service.Object):
    def __init__(self, bus, portal):
        self.portal = portal
        self.accel = Accel(bus)
        self.accel_name = None
        super().__init__(bus, "/control")

    def own_accel(self):
        """Holds the daemon's name while configured to (dropped, it is released)."""
        if config["kglobalaccel"] and self.accel_name is None:
            self.accel_name = dbus.service.BusName(ACCEL, self.portal.bus)
        elif not config["kglobalaccel"]:
            self.accel_name = None

    @dbus.service.method(CONTROL, in_signature="a{sv}", out_signature="")
    def Configure(self, values):
        for key, value in values.items():
            config[str(key)] = plain(value)
        self.own_accel()

    @dbus.service.method(CONTROL, in_signature="", out_signature="s")
    def Calls(self):
        return json.dumps(calls)

    @dbus.service.method(CONTROL, in_signature="", out_signature="")
    def Forget(self):
        calls.clear()
        config.clear()
        config.update(defaults)
        self.own_accel()

    @dbus.service.method(CONTROL, in_signature="s", out_signature="")
    def Activate(self, shortcut_id):
        self.portal.activated(shortcut_id)

    @dbus.service.method(CONTROL, in_signature="s", out_signature="")
    def Deactivate(self, shortcut_id):
        self.portal.activated(shortcut_id, "Deactivated")

    @dbus.service.method(CONTROL, in_signature="a{sv}", out_signature="")
    def Change(self, triggers):
        self.portal.changed({str(k): str(v) for k, v in triggers.items()})

    @dbus.service.method(CONTROL, in_signature="", out_signature="u")
    def Shortcuts(self):
        return sum(1 for session in sessions.values() if session["kind"] == "shortcuts")


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus)
    control = Control(bus, portal)
    # Held: the name goes with its object.
    name = dbus.service.BusName(PORTAL, bus)
    GLib.MainLoop().run()
    del control, name


if __name__ == "__main__":
    main()
