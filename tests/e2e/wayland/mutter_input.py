#!/usr/bin/python3
"""Input through Mutter's remote-desktop interface.

  mutter_input.py FIFO

Opens a remote-desktop session and, for each line read from FIFO, sends a
relative pointer motion and a Shift press and release (evdev codes). The
session lives as long as this bus connection: one process for the test.
Prints "ready" when the session has started.
"""
import sys

import dbus

bus = dbus.SessionBus()
rd = bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop")
path = dbus.Interface(rd, "org.gnome.Mutter.RemoteDesktop").CreateSession()
session = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", path),
                         "org.gnome.Mutter.RemoteDesktop.Session")
session.Start()
print("ready", flush=True)
KEY_LEFTSHIFT = 42
with open(sys.argv[1]) as fifo:
    for line in fifo:
        session.NotifyPointerMotionRelative(dbus.Double(1), dbus.Double(0))
        session.NotifyKeyboardKeycode(dbus.UInt32(KEY_LEFTSHIFT), True)
        session.NotifyKeyboardKeycode(dbus.UInt32(KEY_LEFTSHIFT), False)
        print("input", flush=True)
session.Stop()
