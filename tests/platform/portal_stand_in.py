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
                    not accepted), remote_response (u), remote_version (u),
                    restore_token (s), screenshot_file (s), screenshot_response (u)
  Calls() -> s      every call so far, as JSON
  Activate(s)       emits GlobalShortcuts.Activated for the last session

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

config = {
    "interfaces": [SHORTCUTS, REMOTE, SCREENSHOT],
    "bind_response": 0,
    "triggers": None,  # None: every shortcut gets its preferred trigger
    "remote_response": 0,
    "remote_version": 1,
    "restore_token": "",
    "screenshot_file": "",
    "screenshot_response": 0,
}
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

    def new_session(self, sender, options, kind):
        token = str(options.get("session_handle_token", "s"))
        handle = f"{PATH}/session/{sender[1:].replace('.', '_')}/{token}"
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
        if code == 0:
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
            results["shortcuts"] = dbus.Array(answered, signature="(sa{sv})")
        self.last_session = str(session)
        return self.respond(self.request_path(sender, options), code, results)

    def activated(self, shortcut_id):
        signal = dbus.lowlevel.SignalMessage(PATH, SHORTCUTS, "Activated")
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
        calls.append({"method": "Close"})

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
                  "options": plain({k: v for k, v in options.items()
                                    if k not in ("handle_token", "session_handle_token")})})
    handle = self.new_session(sender, options, kind)
    return self.respond(self.request_path(sender, options), 0,
                        {"session_handle": dbus.String(handle)})


class Control(dbus.service.Object):
    def __init__(self, bus, portal):
        self.portal = portal
        super().__init__(bus, "/control")

    @dbus.service.method(CONTROL, in_signature="a{sv}", out_signature="")
    def Configure(self, values):
        for key, value in values.items():
            config[str(key)] = plain(value)

    @dbus.service.method(CONTROL, in_signature="", out_signature="s")
    def Calls(self):
        return json.dumps(calls)

    @dbus.service.method(CONTROL, in_signature="", out_signature="")
    def Forget(self):
        calls.clear()

    @dbus.service.method(CONTROL, in_signature="s", out_signature="")
    def Activate(self, shortcut_id):
        self.portal.activated(shortcut_id)


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
