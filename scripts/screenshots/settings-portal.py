#!/usr/bin/python3
# The desktop portal's Settings interface on the session bus, answering one
# "color-scheme": 1 for dark, 2 for light. Prints "ready" once it owns the
# portal's name.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SCHEME = {"dark": 1, "light": 2}[sys.argv[1]]


class Settings(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Settings", in_signature="ss", out_signature="v")
    def Read(self, group, key):
        if group == "org.freedesktop.appearance" and key == "color-scheme":
            # The portal wraps the value in one variant more than it declares.
            return dbus.types.UInt32(SCHEME, variant_level=2)
        raise dbus.exceptions.DBusException("no such setting", name="org.freedesktop.portal.Error.NotFound")

    @dbus.service.method("org.freedesktop.portal.Settings", in_signature="s", out_signature="a{sa{sv}}")
    def ReadAll(self, groups):
        return {"org.freedesktop.appearance": {"color-scheme": dbus.types.UInt32(SCHEME)}}


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
Settings(bus, "/org/freedesktop/portal/desktop")
print("ready", flush=True)
GLib.MainLoop().run()
