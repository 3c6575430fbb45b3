#!/usr/bin/python3
"""bus_stand_ins.py LOG: what a desktop offers on the session bus, for the end-to-end run. A
notification service that logs each Notify as "notify ID|title|body|actions" and fires an action
when told (InvokeAction ID KEY), a StatusNotifierItem watcher with a host that logs "item NAME",
and UPower on mains power. "ready" once all three names are taken."""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
log = open(sys.argv[1], "a", buffering=1)
NOTIFY, WATCHER = "org.freedesktop.Notifications", "org.kde.StatusNotifierWatcher"


class Notifications(dbus.service.Object):
    count = 0

    @dbus.service.method(NOTIFY, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, title, body, actions, hints, timeout):
        self.count += 1
        body = body.replace("\n", "\\n")
        log.write(f"notify {self.count}|{title}|{body}|{','.join(actions)}\n")
        return self.count

    @dbus.service.method(NOTIFY, out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.method(NOTIFY, in_signature="us")
    def InvokeAction(self, id, key):
        self.ActionInvoked(id, key)

    @dbus.service.signal(NOTIFY, signature="us")
    def ActionInvoked(self, id, key):
        pass


class Properties(dbus.service.Object):
    """Read-only properties, listed in the introspection as Qt's QDBusInterface expects."""

    def __init__(self, path, interface, props):
        super().__init__(bus, path)
        self.props, self.interface = props, interface

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.props[name]

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        props = "".join(f'<property name="{k}" type="{"b" if isinstance(v, bool) else "i"}" '
                        'access="read"/>' for k, v in self.props.items())
        return f'<node><interface name="{self.interface}">{props}</interface></node>'


class Watcher(Properties):
    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierItem(self, service):
        log.write(f"item {service}\n")


Notifications(bus, "/org/freedesktop/Notifications")
Watcher("/StatusNotifierWatcher", WATCHER, {"IsStatusNotifierHostRegistered": True, "ProtocolVersion": 0})
Properties("/org/freedesktop/UPower", "org.freedesktop.UPower", {"OnBattery": False})
names = [dbus.service.BusName(n, bus) for n in (NOTIFY, WATCHER, "org.freedesktop.UPower")]
log.write("ready\n")
GLib.MainLoop().run()
