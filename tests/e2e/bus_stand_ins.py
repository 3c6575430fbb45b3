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
NOTIFY, WATCHER, UPOWER = "org.freedesktop.Notifications", "org.kde.StatusNotifierWatcher", "org.freedesktop.UPower"
PROPS = {WATCHER: {"IsStatusNotifierHostRegistered": True, "ProtocolVersion": 0}, UPOWER: {"OnBattery": False}}


class StandIn(dbus.service.Object):
    SUPPORTS_MULTIPLE_OBJECT_PATHS = True
    count = 0

    @dbus.service.method(NOTIFY, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, title, body, actions, hints, timeout):
        self.count += 1
        body = body.replace("\n", "\\n")
        log.write(f"notify {self.count}|{title}|{body}|{','.join(actions)}\n")
        return self.count

    @dbus.service.method(NOTIFY, in_signature="us")
    def InvokeAction(self, id, key):
        self.ActionInvoked(id, key)

    @dbus.service.signal(NOTIFY, signature="us")
    def ActionInvoked(self, id, key):
        pass

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierItem(self, service):
        log.write(f"item {service}\n")

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return PROPS[interface][name]

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):  # the properties, as Qt's QDBusInterface wants them listed
        return "<node>" + "".join(f'<interface name="{i}">' + "".join(
            f'<property name="{k}" type="{"b" if isinstance(v, bool) else "i"}" access="read"/>'
            for k, v in props.items()) + "</interface>" for i, props in PROPS.items()) + "</node>"


stand_in = StandIn(bus, "/org/freedesktop/Notifications")
for path in ("/StatusNotifierWatcher", "/org/freedesktop/UPower"):
    stand_in.add_to_connection(bus, path)
names = [dbus.service.BusName(n, bus) for n in (NOTIFY, WATCHER, UPOWER)]
log.write("ready\n")
GLib.MainLoop().run()
