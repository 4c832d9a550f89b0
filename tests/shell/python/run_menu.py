# SPDX-License-Identifier: Apache-2.0
# Loads the extension at argv[1] with the stand-in modules, shows it a selection
# and prints the labels of the entries it offers, one a line. Selection: one
# argument per file, "f:PATH" a local file, "d:PATH" a folder, "r:NAME" a file
# without a local path. With $ACTIVATE set to a label, that entry is chosen and
# the program it starts is waited for.
import importlib.util
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gi.repository import GLib  # noqa: E402


class Location:
    def __init__(self, path):
        self.path = path

    def get_path(self):
        return self.path


class File:
    def __init__(self, entry):
        kind, path = entry[:2], entry[2:]
        self.folder = kind == "d:"
        self.location = Location(None if kind == "r:" else path)

    def get_location(self):
        return self.location

    def is_directory(self):
        return self.folder


entry = importlib.util.spec_from_file_location("kestrawin_menu", sys.argv[1])
module = importlib.util.module_from_spec(entry)
entry.loader.exec_module(module)
files = [File(a) for a in sys.argv[2:]]
menu = module.KestrawinMenu()
if os.environ.get("STUB_NAUTILUS_API", "4.0") == "4.0":
    items = menu.get_file_items(files)
else:
    items = menu.get_file_items(object(), files)
for item in items:
    print(item.label)
for item in items:
    if item.label == os.environ.get("ACTIVATE"):
        item.activate()
        for pid in GLib.watched:
            os.waitpid(pid, 0)
