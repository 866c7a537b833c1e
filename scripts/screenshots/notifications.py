#!/usr/bin/python3
# The desktop's notification server on the session bus, as far as the
# screenshots need it: it takes notifications with actions, appends the id
# and summary of each to LOG, and clicks one when asked:
#   gdbus call --session --dest org.freedesktop.Notifications \
#     --object-path /org/freedesktop/Notifications --method org.kelto.Shots.Click ID
# Prints "ready" once it owns the server's name.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

LOG = sys.argv[1]
SERVER = "org.freedesktop.Notifications"


class Server(dbus.service.Object):
    next_id = 1

    @dbus.service.method(SERVER, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.method(SERVER, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("shots", "kelto", "1", "1.2")

    @dbus.service.method(SERVER, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        number = replaces or Server.next_id
        Server.next_id = max(Server.next_id, number) + 1
        with open(LOG, "a") as log:
            log.write(f"{number} {summary}\n")
        return dbus.types.UInt32(number)

    @dbus.service.method(SERVER, in_signature="u", out_signature="")
    def CloseNotification(self, number):
        self.NotificationClosed(number, 3)

    @dbus.service.signal(SERVER, signature="uu")
    def NotificationClosed(self, number, reason):
        pass

    @dbus.service.signal(SERVER, signature="us")
    def ActionInvoked(self, number, action):
        pass

    @dbus.service.method("org.kelto.Shots", in_signature="u", out_signature="")
    def Open(self, number):
        self.ActionInvoked(number, "default")

    @dbus.service.method("org.kelto.Shots", in_signature="u", out_signature="")
    def Click(self, number):
        self.ActionInvoked(number, "default")
        self.NotificationClosed(number, 2)


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName(SERVER, bus)
Server(bus, "/org/freedesktop/Notifications")
print("ready", flush=True)
GLib.MainLoop().run()
