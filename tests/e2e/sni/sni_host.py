#!/usr/bin/python3
"""A StatusNotifierItem tray host for tests, on the session bus.

Registers as org.kde.StatusNotifierWatcher and as a host, and lets the test
script (through org.chronel.test.Host on /Host) read the registered item's
properties and its com.canonical.dbusmenu menu and send it the host's
requests: Activate, SecondaryActivate, ContextMenu and menu events.
"""
import json

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
TEST = "org.chronel.test.Host"


def plain(v):
    """D-Bus values as JSON-friendly Python values."""
    if isinstance(v, (dbus.Array, list)):
        return [plain(x) for x in v]
    if isinstance(v, dbus.Struct):
        return [plain(x) for x in v]
    if isinstance(v, dbus.Dictionary):
        return {str(k): plain(x) for k, x in v.items()}
    if isinstance(v, dbus.Boolean):
        return bool(v)
    if isinstance(v, (dbus.Int32, dbus.UInt32, dbus.Int64, dbus.UInt64, dbus.Int16, dbus.UInt16, dbus.Byte)):
        return int(v)
    return str(v)


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []  # (service, path)
        self.signals = {}

    # ---- the watcher ----
    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        path = "/StatusNotifierItem"
        if service.startswith("/"):
            service, path = sender, service
        self.items.append((str(service), str(path)))
        for name in ("NewIcon", "NewToolTip", "NewStatus", "NewTitle"):
            self.bus.add_signal_receiver(lambda *a, n=name: self.count(n), signal_name=name,
                                         dbus_interface=ITEM, bus_name=str(service), path=path)
        self.bus.add_signal_receiver(lambda *a: self.count("LayoutUpdated"), signal_name="LayoutUpdated",
                                     dbus_interface=MENU, bus_name=str(service))
        self.StatusNotifierItemRegistered(service + path)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def props(self):
        return {"RegisteredStatusNotifierItems": dbus.Array([s + p for s, p in self.items], signature="s"),
                "IsStatusNotifierHostRegistered": True, "ProtocolVersion": dbus.Int32(0)}

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.props()[name]

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.props()

    @dbus.service.method("org.freedesktop.DBus.Introspectable", in_signature="", out_signature="s")
    def Introspect(self):
        # Clients read the properties through interfaces built from this.
        return """<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
</node>"""

    def count(self, name):
        self.signals[name] = self.signals.get(name, 0) + 1


class Host(dbus.service.Object):
    def __init__(self, bus, watcher):
        super().__init__(bus, "/Host")
        self.bus = bus
        self.watcher = watcher

    def item(self):
        service, path = self.watcher.items[-1]
        return self.bus.get_object(service, path, introspect=False), service

    @dbus.service.method(TEST, in_signature="", out_signature="s")
    def State(self):
        """The item's properties, its menu and the signals seen, as JSON."""
        if not self.watcher.items:
            return json.dumps({"item": None})
        obj, service = self.item()
        props = plain(obj.GetAll(ITEM, dbus_interface="org.freedesktop.DBus.Properties"))
        for key in ("IconPixmap", "AttentionIconPixmap", "OverlayIconPixmap"):
            if key in props:  # sizes only
                props[key] = [[w, h, len(data)] for w, h, data in props[key]]
        if "ToolTip" in props:
            props["ToolTip"][1] = [[w, h, len(data)] for w, h, data in props["ToolTip"][1]]
        menu = []
        if props.get("Menu") and props["Menu"] != "/NO_DBUSMENU":
            mobj = self.bus.get_object(service, props["Menu"], introspect=False)
            mobj.AboutToShow(dbus.Int32(0), dbus_interface=MENU)
            _, layout = mobj.GetLayout(dbus.Int32(0), dbus.Int32(-1), dbus.Array([], signature="s"), dbus_interface=MENU)
            for child in layout[2]:
                cid, cprops, _ = child
                cprops = plain(cprops)
                menu.append({"id": int(cid), "label": cprops.get("label", ""), "type": cprops.get("type", "standard"),
                             "visible": cprops.get("visible", True), "enabled": cprops.get("enabled", True)})
        return json.dumps({"item": service, "props": props, "menu": menu, "signals": self.watcher.signals})

    @dbus.service.method(TEST, in_signature="s", out_signature="b")
    def Click(self, label):
        """Clicks the shown menu entry with this label (mnemonic marks removed)."""
        obj, service = self.item()
        path = obj.Get(ITEM, "Menu", dbus_interface="org.freedesktop.DBus.Properties")
        mobj = self.bus.get_object(service, path, introspect=False)
        mobj.AboutToShow(dbus.Int32(0), dbus_interface=MENU)
        _, layout = mobj.GetLayout(dbus.Int32(0), dbus.Int32(-1), dbus.Array([], signature="s"), dbus_interface=MENU)
        for cid, cprops, _ in layout[2]:
            if str(cprops.get("label", "")).replace("_", "") == label and cprops.get("visible", True):
                mobj.Event(cid, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0), dbus_interface=MENU)
                return True
        return False

    @dbus.service.method(TEST, in_signature="sii", out_signature="")
    def Send(self, method, x, y):
        """Activate, SecondaryActivate or ContextMenu at (x, y)."""
        obj, _ = self.item()
        obj.get_dbus_method(method, ITEM)(dbus.Int32(x), dbus.Int32(y))


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
watcher = Watcher(bus)
host = Host(bus, watcher)
names = [dbus.service.BusName("org.kde.StatusNotifierHost-chronel-test", bus, do_not_queue=True),
         dbus.service.BusName(WATCHER, bus, do_not_queue=True)]
print("ready", flush=True)
GLib.MainLoop().run()
