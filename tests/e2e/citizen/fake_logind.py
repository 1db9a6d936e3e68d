#!/usr/bin/python3
"""A stand-in for logind on a private bus: the parts of
org.freedesktop.login1.Manager a sleeping client meets (Inhibit with its
lock descriptor, the PrepareForSleep signal), plus a control interface for
the test. Every event is one line in the log file given as argument."""
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

LOG = sys.argv[1]


def log(line):
    with open(LOG, "a") as f:
        f.write(line + "\n")


class Manager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/login1")
        self.held = 0

    @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss", out_signature="h",
                         sender_keyword="sender")
    def Inhibit(self, what, who, why, mode, sender=None):
        r, w = os.pipe()
        self.held += 1
        log("INHIBIT what=%s who=%s mode=%s held=%d" % (what, who, mode, self.held))

        def closed(fd, cond):
            self.held -= 1
            log("RELEASED held=%d" % self.held)
            os.close(fd)
            return False

        GLib.io_add_watch(r, GLib.IO_HUP | GLib.IO_ERR, closed)
        fd = dbus.types.UnixFd(w)  # keeps a duplicate for the reply
        os.close(w)
        return fd

    @dbus.service.signal("org.freedesktop.login1.Manager", signature="b")
    def PrepareForSleep(self, start):
        log("SIGNAL PrepareForSleep %s" % ("true" if start else "false"))

    @dbus.service.method("org.chronel.Test.Logind", in_signature="b", out_signature="")
    def Sleep(self, start):
        self.PrepareForSleep(start)


DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
name = dbus.service.BusName("org.freedesktop.login1", bus)
manager = Manager(bus)
log("READY")
GLib.MainLoop().run()
