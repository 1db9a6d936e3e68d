#!/usr/bin/python3
"""Stand-in for a desktop's idle-time service on the session bus.

  idle_standin.py gnome|screensaver IDLE_FILE [ok|error|badtype]

"gnome" serves org.gnome.Mutter.IdleMonitor.GetIdletime (milliseconds, "t")
at /org/gnome/Mutter/IdleMonitor/Core; "screensaver" serves
org.freedesktop.ScreenSaver.GetSessionIdleTime (seconds, "u") at
/org/freedesktop/ScreenSaver. IDLE_FILE holds the idle time in milliseconds
and is read at every call, so a test changes the answer by rewriting it.
"error" answers every call with an error, "badtype" with a string.
Each call is logged to stdout as "call <method>".
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

KIND, IDLE_FILE = sys.argv[1], sys.argv[2]
MODE = sys.argv[3] if len(sys.argv) > 3 else "ok"


def idle_ms():
    with open(IDLE_FILE) as f:
        return int(f.read().strip() or 0)


def answer(method, value):
    print("call", method, flush=True)
    if MODE == "error":
        raise dbus.exceptions.DBusException("not supported here",
                                            name="org.freedesktop.DBus.Error.NotSupported")
    if MODE == "badtype":
        return "soon"
    return value


class IdleMonitor(dbus.service.Object):
    @dbus.service.method("org.gnome.Mutter.IdleMonitor", in_signature="")  # reply typed by its value
    def GetIdletime(self):
        return answer("GetIdletime", dbus.UInt64(idle_ms()))


class ScreenSaver(dbus.service.Object):
    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="")  # reply typed by its value
    def GetSessionIdleTime(self):
        return answer("GetSessionIdleTime", dbus.UInt32(idle_ms() // 1000))


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
if KIND == "gnome":
    name = dbus.service.BusName("org.gnome.Mutter.IdleMonitor", bus)
    obj = IdleMonitor(bus, "/org/gnome/Mutter/IdleMonitor/Core")
else:
    name = dbus.service.BusName("org.freedesktop.ScreenSaver", bus)
    obj = ScreenSaver(bus, "/org/freedesktop/ScreenSaver")
print("ready", flush=True)
GLib.MainLoop().run()
