#!/usr/bin/python3
"""A global-shortcuts backend for the desktop portal on a compositor that has none.

The portal frontend exports org.freedesktop.portal.GlobalShortcuts only when a backend
declares the interface; this one accepts every binding at once (no dialog) and, for tests,
emits Activated and Deactivated for all sessions when its Press method is called:

    gdbus call --session --dest org.freedesktop.impl.portal.desktop.pindletest \
        --object-path /org/freedesktop/portal/desktop \
        --method com.pindle.test.Shortcuts.Press toggle-capture
"""
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.impl.portal.desktop.pindletest"
IMPL = "org.freedesktop.impl.portal.GlobalShortcuts"
SHORTCUTS = "a(sa{sv})"


def log(*words):
    print(*words, file=sys.stderr, flush=True)


class Backend(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.sessions = {}

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return dbus.UInt32(1)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"version": dbus.UInt32(1)}

    @dbus.service.method(IMPL, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        self.sessions[str(session_handle)] = dbus.Array([], signature="(sa{sv})")
        log("session", session_handle, "for", repr(str(app_id)))
        # The frontend reads the "shortcuts" key of the results.
        return dbus.UInt32(0), {"shortcuts": dbus.Array([], signature="(sa{sv})")}

    @dbus.service.method(IMPL, in_signature="oo" + SHORTCUTS + "sa{sv}", out_signature="ua{sv}")
    def BindShortcuts(self, handle, session_handle, shortcuts, parent_window, options):
        bound = dbus.Array(signature="(sa{sv})")
        for shortcut_id, properties in shortcuts:
            described = dict(properties)
            described["trigger_description"] = properties.get("preferred_trigger", "")
            bound.append(dbus.Struct((shortcut_id, described), signature="sa{sv}"))
            log("bound", shortcut_id, "in", session_handle)
        self.sessions[str(session_handle)] = bound
        return dbus.UInt32(0), {"shortcuts": bound}

    @dbus.service.method(IMPL, in_signature="oo", out_signature="ua{sv}")
    def ListShortcuts(self, handle, session_handle):
        return dbus.UInt32(0), {"shortcuts": self.sessions.get(str(session_handle), [])}

    @dbus.service.signal(IMPL, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(IMPL, signature="osta{sv}")
    def Deactivated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.method("com.pindle.test.Shortcuts", in_signature="s", out_signature="u")
    def Press(self, shortcut_id):
        now = dbus.UInt64(int(time.monotonic() * 1000))
        pressed = 0
        for session, bound in self.sessions.items():
            if any(str(s[0]) == shortcut_id for s in bound):
                self.Activated(dbus.ObjectPath(session), shortcut_id, now, {})
                self.Deactivated(dbus.ObjectPath(session), shortcut_id, now, {})
                pressed += 1
        log("pressed", shortcut_id, "in", pressed, "sessions")
        return dbus.UInt32(pressed)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    backend = Backend(bus)
    name = dbus.service.BusName(NAME, bus)
    log("running as", NAME)
    GLib.MainLoop().run()
    del backend, name


if __name__ == "__main__":
    main()
