#!/usr/bin/python3
"""The desktop application in a real X server, on a private session bus (run it under
dbus-run-session): a fresh profile given an infected sample raises exactly one alert naming it,
closing the window leaves it monitoring in the tray, the tray says one threat, and clicking the
alert opens the project's details.

Fake services on the bus stand in for the desktop: a notification server that records what it
is asked to show, and a status-notifier watcher (the tray's host). Nothing the application scans
is ever run."""

import ctypes
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

APP, SAMPLE = sys.argv[1], sys.argv[2]
PROPERTIES = "org.freedesktop.DBus.Properties"
NAME = os.path.basename(SAMPLE.rstrip("/"))


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.calls = []

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.calls.append((str(summary), str(body), [str(a) for a in actions]))
        return dbus.UInt32(len(self.calls))

    @dbus.service.method("org.freedesktop.Notifications", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.method("org.freedesktop.Notifications", out_signature="ssss")
    def GetServerInformation(self):
        return ("fake", "quillon-tests", "1", "1.2")

    @dbus.service.method("org.freedesktop.Notifications", in_signature="u")
    def CloseNotification(self, notification):
        self.NotificationClosed(notification, 3)

    @dbus.service.signal("org.freedesktop.Notifications", signature="uu")
    def NotificationClosed(self, notification, reason):
        pass

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, notification, action):
        pass


WATCHER_XML = """<node>
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
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
   <arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []

    @dbus.service.method("org.kde.StatusNotifierWatcher", in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        path = "/StatusNotifierItem"
        if service.startswith("/"):
            service, path = sender, service
        self.items.append((str(service), path))
        self.StatusNotifierItemRegistered(service)

    @dbus.service.method("org.kde.StatusNotifierWatcher", in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal("org.kde.StatusNotifierWatcher", signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    def _properties(self):
        return {"RegisteredStatusNotifierItems": dbus.Array([i[0] for i in self.items],
                                                            signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(True),
                "ProtocolVersion": dbus.Int32(0)}

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self._properties()[str(name)]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self._properties()

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return WATCHER_XML


def close_window(display, title):
    """Asks the window to close as a window manager would: WM_DELETE_WINDOW."""
    tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display],
                          capture_output=True, text=True, check=True).stdout
    ids = [line.split()[0] for line in tree.splitlines() if '"%s"' % title in line]
    if not ids:
        raise AssertionError("no window titled %r in\n%s" % (title, tree))
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]

    event = Event()
    event.message.type = 33  # ClientMessage
    event.message.window = int(ids[0], 16)
    event.message.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
    event.message.format = 32
    event.message.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(connection, event.message.window, 0, 0, ctypes.byref(event))
    x11.XFlush(connection)
    x11.XCloseDisplay(connection)


def start_x_server():
    """An X server of its own, on a display far from those that xvfb-run picks (it counts up
    from 99); a number another server holds makes this one end at once, and then the next is
    tried."""
    for number in range(random.randrange(200, 900), 1000):
        if os.path.exists("/tmp/.X%d-lock" % number):
            continue
        xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x900x24",
                                 "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
        socket = "/tmp/.X11-unix/X%d" % number
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and xvfb.poll() is None and not os.path.exists(socket):
            time.sleep(0.05)
        time.sleep(0.2)
        if xvfb.poll() is None and os.path.exists(socket):
            return xvfb, ":%d" % number
        xvfb.kill()
        xvfb.wait()
    raise RuntimeError("no X server could be started")


def window_titles(display):
    tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display],
                          capture_output=True, text=True).stdout
    return tree


def main():
    for tool in ("Xvfb", "xwininfo"):
        if shutil.which(tool) is None:
            print("%s is not installed; skipped" % tool)
            return 77
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    notifications = Notifications(bus)
    watcher = Watcher(bus)
    names = [dbus.service.BusName("org.freedesktop.Notifications", bus),
             dbus.service.BusName("org.kde.StatusNotifierWatcher", bus)]

    work = tempfile.mkdtemp(prefix="quillon-desktop-")
    xvfb, display = start_x_server()
    log_path = os.path.join(work, "stderr.log")
    env = dict(os.environ, DISPLAY=display, HOME=os.path.join(work, "home"),
               XDG_CONFIG_HOME=os.path.join(work, "config"), QT_QPA_PLATFORM="xcb",
               QUILLON_LOG_LEVEL="info")
    os.makedirs(env["HOME"])
    log = open(log_path, "w")
    app = subprocess.Popen([APP, SAMPLE], env=env, stdout=subprocess.DEVNULL, stderr=log)
    loop = GLib.MainLoop()
    failures = []

    def wait(condition, seconds, what):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            while GLib.MainContext.default().iteration(False):
                pass
            if condition():
                return True
            if app.poll() is not None:
                failures.append("the application ended (%s) while waiting for %s" %
                                (app.returncode, what))
                return False
            time.sleep(0.05)
        failures.append("timed out waiting for " + what)
        return False

    def log_text():
        with open(log_path) as f:
            return f.read()

    try:
        done = "Scan cycle 1 completed: THREAT DETECTED (%s)" % NAME
        if wait(lambda: done in log_text() and notifications.calls, 90, "the first cycle's alert"):
            summary, body, actions = notifications.calls[0]
            if NAME not in summary:
                failures.append("the alert does not name the project: %r" % summary)
            if "Decoded data executed by a shell" not in body or "https://" in body:
                failures.append("the alert does not name the top finding, defanged: %r" % body)
            if "default" not in actions:
                failures.append("the alert has no default action: %r" % actions)

        if not failures:
            close_window(display, "\U0001F981 Quillon For XCode")
            second = "Scan cycle 2 completed: THREAT DETECTED (%s)" % NAME
            wait(lambda: second in log_text(), 60, "a cycle after the window was closed")
        if not failures:
            if len(notifications.calls) != 1:
                failures.append("expected one alert, got %r" % notifications.calls)
            if not watcher.items:
                failures.append("no tray item registered")
            else:
                service, path = watcher.items[-1]
                item = bus.get_object(service, path)
                tip = item.Get("org.kde.StatusNotifierItem", "ToolTip", dbus_interface=PROPERTIES)
                if str(tip[2]) != "Quillon: 1 threat":
                    failures.append("the tray says %r" % (tip[2],))
            # Clicking the alert opens the details.
            notifications.ActionInvoked(dbus.UInt32(1), "default")
            wait(lambda: "%s \u2014 Quillon" % NAME in window_titles(display), 10,
                 "the details window")
    finally:
        if app.poll() is None:
            app.send_signal(signal.SIGTERM)
            try:
                app.wait(10)
            except subprocess.TimeoutExpired:
                app.kill()
        xvfb.terminate()
        xvfb.wait()
        log.close()
        text = log_text()
        shutil.rmtree(work, ignore_errors=True)
        del names
    if failures:
        print("\n".join(failures))
        print("--- application log ---")
        print(text[-6000:])
        return 1
    print("one alert, monitoring in the tray after the window closed, details from the alert")
    return 0


if __name__ == "__main__":
    sys.exit(main())
