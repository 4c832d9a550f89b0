# SPDX-License-Identifier: Apache-2.0
# Stand-ins for the GObject, GLib and Nautilus types the extension uses.


class GObject:
    class GObject:
        pass


class GLib:
    PRIORITY_DEFAULT = 0
    watched = []

    @staticmethod
    def child_watch_add(priority, pid, callback):
        GLib.watched.append(pid)


class _MenuItem:
    def __init__(self, name, label, tip="", icon=""):
        self.name, self.label = name, label
        self.handler = None

    def connect(self, signal, handler, *data):
        assert signal == "activate"
        self.handler = (handler, data)

    def activate(self):
        handler, data = self.handler
        handler(self, *data)


class Nautilus:
    MenuItem = _MenuItem

    class MenuProvider:
        pass
