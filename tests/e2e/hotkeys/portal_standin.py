#!/usr/bin/python3
"""A stand-in for the desktop portal's global shortcuts on the session bus.

Speaks org.freedesktop.portal.GlobalShortcuts at
org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop with the
Request/Response pattern of the real portal. Usage:
    portal_standin.py LOG grant|nokey|cancel|error|absent
BindShortcuts answers as the interface description documents: grant binds
the shortcuts (Response 0, each with its trigger_description); nokey is
Response 0 with the shortcut bound to no key (an empty trigger_description,
as Plasma's portal answers a trigger it cannot read); cancel is Response 1
(the user cancelled the interaction); error is Response 2 (ended some other
way); absent is a portal whose desktop has no global shortcuts (GNOME's on
Debian 12): the interface is not there, and asking for its version gets the
error the real portal gives. Like Plasma's portal, it takes the shortcuts from CreateSession's
options when given there. Every call is written to LOG, one JSON object a
line. The test drives it through org.chronel.test.Portal.Activate(), which
fires Activated for the last bound shortcut. ListShortcuts lists a
session's bound shortcuts (none before BindShortcuts).
"""
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BUS_NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
IFACE = "org.freedesktop.portal.GlobalShortcuts"
REQUEST = "org.freedesktop.portal.Request"
SESSION = "org.freedesktop.portal.Session"

LOG, MODE = sys.argv[1], sys.argv[2]


def log(**entry):
    with open(LOG, "a") as f:
        f.write(json.dumps(entry) + "\n")


def listed(shortcuts):
    return [{"id": str(i), "description": str(p.get("description", "")),
             "preferred_trigger": str(p.get("preferred_trigger", ""))} for i, p in shortcuts]


def sender_part(sender):
    return sender.lstrip(":").replace(".", "_")


class Request(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, path)

    @dbus.service.method(REQUEST)
    def Close(self):
        self.remove_from_connection()

    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass


class Session(dbus.service.Object):
    def __init__(self, portal, bus, path):
        super().__init__(bus, path)
        self.portal = portal
        self.path = path

    @dbus.service.method(SESSION)
    def Close(self):
        log(call="Close", session=self.path)
        self.portal.sessions.pop(self.path, None)
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.bus = bus
        self.sessions = {}  # path -> bound shortcut ids

    def answer(self, sender, token, response, results):
        path = "%s/request/%s/%s" % (PATH, sender_part(sender), token)
        request = Request(self.bus, path)
        # The answer follows the call's reply, as the real portal's does.
        GLib.idle_add(lambda: (request.Response(dbus.UInt32(response), dbus.Dictionary(results, signature="sv")), False)[1])
        return dbus.ObjectPath(path)

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == IFACE and name == "version" and MODE != "absent":
            return dbus.UInt32(1)
        raise dbus.exceptions.DBusException("No such interface \u201c%s\u201d" % interface,
                                            name="org.freedesktop.DBus.Error.InvalidArgs")

    @dbus.service.method(IFACE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        session = "%s/session/%s/%s" % (PATH, sender_part(sender), options["session_handle_token"])
        Session(self, self.bus, session)
        self.sessions[session] = []
        log(call="CreateSession", session=session, shortcuts=listed(options.get("shortcuts", [])))
        return self.answer(sender, options["handle_token"], 0, {"session_handle": dbus.ObjectPath(session)})

    @dbus.service.method(IFACE, in_signature="oa(sa{sv})sa{sv}", out_signature="o", sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent_window, options, sender=None):
        wanted = listed(shortcuts)
        log(call="BindShortcuts", session=str(session), shortcuts=wanted)
        if MODE in ("cancel", "error"):
            return self.answer(sender, options["handle_token"], 1 if MODE == "cancel" else 2, {})
        bound = []
        if str(session) in self.sessions:
            if MODE == "grant":
                self.sessions[str(session)] = [s["id"] for s in wanted]
            bound = [(s["id"], {"description": s["description"],
                                "trigger_description": s["preferred_trigger"] if MODE == "grant" else ""})
                     for s in wanted]
        return self.answer(sender, options["handle_token"], 0,
                           {"shortcuts": dbus.Array(bound, signature="(sa{sv})")})

    @dbus.service.method(IFACE, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def ListShortcuts(self, session, options, sender=None):
        log(call="ListShortcuts", session=str(session))
        bound = [(i, {"description": "", "trigger_description": ""}) for i in self.sessions.get(str(session), [])]
        return self.answer(sender, options["handle_token"], 0,
                           {"shortcuts": dbus.Array(bound, signature="(sa{sv})")})

    @dbus.service.signal(IFACE, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.method("org.chronel.test.Portal", in_signature="", out_signature="b")
    def Activate(self):
        for session, ids in self.sessions.items():
            for shortcut in ids:
                self.Activated(dbus.ObjectPath(session), shortcut, dbus.UInt64(0), dbus.Dictionary({}, signature="sv"))
                log(call="Activated", session=session, id=shortcut)
                return True
        return False


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = Portal(bus)
name = dbus.service.BusName(BUS_NAME, bus, do_not_queue=True)
log(call="ready")
GLib.MainLoop().run()
