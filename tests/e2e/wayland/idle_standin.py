#!/usr/bin/python3
"""Stand-in for a desktop's idle-time service on the session bus.

  idle_standin.py gnome|screensaver|plasma IDLE_FILE [ok|error|badtype|x11]

"gnome" serves org.gnome.Mutter.IdleMonitor.GetIdletime (milliseconds, "t")
at /org/gnome/Mutter/IdleMonitor/Core. "screensaver" serves
org.freedesktop.ScreenSaver.GetSessionIdleTime (seconds, "u") at
/org/freedesktop/ScreenSaver. "plasma" answers as Plasma's screen locker
does: it owns org.freedesktop.ScreenSaver and org.kde.screensaver, serves
both interfaces at /ScreenSaver and /org/freedesktop/ScreenSaver (the
interfaces as the running KWin introspects them), and GetSessionIdleTime
answers its idle-time library's milliseconds; on Wayland ("error") it
refuses with NotSupported, as KWin does.

IDLE_FILE holds the idle time in milliseconds and is read at every call, so
a test changes the answer by rewriting it; "x11" answers the X server's own
idle time instead (the X screen-saver extension), as the locker does on X11.
"error" answers every call with NotSupported, "badtype" with a string.
Each call is logged to stdout as "call <method>".
"""
import ctypes
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

KIND, IDLE_FILE = sys.argv[1], sys.argv[2]
MODE = sys.argv[3] if len(sys.argv) > 3 else "ok"
SS = "org.freedesktop.ScreenSaver"
KDE = "org.kde.screensaver"


class XssInfo(ctypes.Structure):
    _fields_ = [("window", ctypes.c_ulong), ("state", ctypes.c_int), ("kind", ctypes.c_int),
                ("til_or_since", ctypes.c_ulong), ("idle", ctypes.c_ulong), ("event_mask", ctypes.c_ulong)]


def x11_idle_ms():
    xlib, xss = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXss.so.1")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    xlib.XDefaultRootWindow.restype = ctypes.c_ulong
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xss.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XssInfo)]
    display = xlib.XOpenDisplay(None)
    info = XssInfo()
    xss.XScreenSaverQueryInfo(display, xlib.XDefaultRootWindow(display), ctypes.byref(info))
    xlib.XCloseDisplay(display)
    return info.idle


def idle_ms():
    if MODE == "x11":
        return x11_idle_ms()
    with open(IDLE_FILE) as f:
        return int(f.read().strip() or 0)


def answer(method, value):
    print("call", method, flush=True)
    if MODE == "error":
        raise dbus.exceptions.DBusException(method + " is not supported on this platform",
                                            name="org.freedesktop.DBus.Error.NotSupported")
    if MODE == "badtype":
        return "soon"
    return value


class IdleMonitor(dbus.service.Object):
    @dbus.service.method("org.gnome.Mutter.IdleMonitor", in_signature="")  # reply typed by its value
    def GetIdletime(self):
        return answer("GetIdletime", dbus.UInt64(idle_ms()))


class ScreenSaver(dbus.service.Object):
    @dbus.service.method(SS, in_signature="")  # reply typed by its value
    def GetSessionIdleTime(self):
        return answer("GetSessionIdleTime", dbus.UInt32(idle_ms() // 1000))


class PlasmaScreenSaver(dbus.service.Object):
    cookies = 0

    @dbus.service.method(SS, in_signature="", out_signature="u")
    def GetSessionIdleTime(self):
        return answer("GetSessionIdleTime", dbus.UInt32(idle_ms()))

    @dbus.service.method(SS, in_signature="", out_signature="u")
    def GetActiveTime(self):
        return 0

    @dbus.service.method(SS, in_signature="", out_signature="b")
    def GetActive(self):
        return False

    @dbus.service.method(SS, in_signature="b", out_signature="b")
    def SetActive(self, e):
        return False

    @dbus.service.method(SS, in_signature="")
    def Lock(self):
        pass

    @dbus.service.method(SS, in_signature="")
    def SimulateUserActivity(self):
        pass

    @dbus.service.method(SS, in_signature="ss", out_signature="u")
    def Inhibit(self, application_name, reason_for_inhibit):
        PlasmaScreenSaver.cookies += 1
        return PlasmaScreenSaver.cookies

    @dbus.service.method(SS, in_signature="u")
    def UnInhibit(self, cookie):
        pass

    @dbus.service.method(SS, in_signature="ss", out_signature="u")
    def Throttle(self, application_name, reason_for_inhibit):
        return self.Inhibit(application_name, reason_for_inhibit)

    @dbus.service.method(SS, in_signature="u")
    def UnThrottle(self, cookie):
        pass

    @dbus.service.signal(SS, signature="b")
    def ActiveChanged(self, active):
        pass

    @dbus.service.method(KDE, in_signature="")
    def SwitchUser(self):
        pass

    @dbus.service.method(KDE, in_signature="")
    def configure(self):
        pass

    @dbus.service.signal(KDE, signature="")
    def AboutToLock(self):
        pass


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
if KIND == "gnome":
    names = [dbus.service.BusName("org.gnome.Mutter.IdleMonitor", bus)]
    objects = [IdleMonitor(bus, "/org/gnome/Mutter/IdleMonitor/Core")]
elif KIND == "plasma":
    names = [dbus.service.BusName(SS, bus), dbus.service.BusName(KDE, bus)]
    objects = [PlasmaScreenSaver(bus, "/ScreenSaver"), PlasmaScreenSaver(bus, "/org/freedesktop/ScreenSaver")]
else:
    names = [dbus.service.BusName(SS, bus)]
    objects = [ScreenSaver(bus, "/org/freedesktop/ScreenSaver")]
print("ready", flush=True)
GLib.MainLoop().run()
