#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Run as one user, with that user's HOME: deletes the context-menu entries, the
# file type and the icon that Kestrawin wrote for the user, when they point at
# PROGRAM and PROGRAM no longer exists. Entries that point at another copy of
# the program are left alone. Prints the user's name when something was deleted.
#   forget-user-entries.sh PROGRAM
set -u
program=$1
[ -e "$program" ] && exit 0
data=${XDG_DATA_HOME:-$HOME/.local/share}
config=${XDG_CONFIG_HOME:-$HOME/.config}
# The desktop entry names the program the entries were written for.
grep -qF -- "$program" "$data/applications/kestrawin-decrypt.desktop" 2>/dev/null || exit 0

for size in 16 32 48 64 128 256; do
    rm -f "$data/icons/hicolor/${size}x$size/apps/kestrawin.png"
done
rm -f "$data/icons/hicolor/scalable/apps/kestrawin.svg" \
      "$data/mime/packages/kestrawin-pellmora.xml" \
      "$data/applications/kestrawin-decrypt.desktop" \
      "$data/kio/servicemenus/kestrawin-encrypt.desktop" "$data/kio/servicemenus/kestrawin-decrypt.desktop" \
      "$data/nemo/actions/kestrawin-encrypt.nemo_action" "$data/nemo/actions/kestrawin-decrypt.nemo_action" \
      "$data/file-manager/actions/kestrawin-encrypt.desktop" "$data/file-manager/actions/kestrawin-decrypt.desktop" \
      "$data/nautilus/scripts/Encrypt with \"Kestrawin\"" \
      "$data/nautilus-python/extensions/kestrawin_menu.py" \
      "$data/nautilus-python/extensions/__pycache__/kestrawin_menu."*.pyc \
      "$config/caja/scripts/Encrypt with \"Kestrawin\""
[ -L "$data/kestrawin/kestrawin" ] && rm -f "$data/kestrawin/kestrawin"
command -v update-mime-database >/dev/null && update-mime-database "$data/mime" >/dev/null 2>&1
command -v update-desktop-database >/dev/null && update-desktop-database "$data/applications" >/dev/null 2>&1
touch -c "$data/icons/hicolor"

# Thunar's actions file holds the user's own actions too: only ours go, and only
# when it parses.
uca=$config/Thunar/uca.xml
if [ -f "$uca" ] && grep -q "kestrawin-" "$uca" && command -v python3 >/dev/null; then
    python3 - "$uca" <<'PYTHON' || true
import os, sys, tempfile
import xml.etree.ElementTree as ET
path = sys.argv[1]
tree = ET.parse(path)
ids = ("kestrawin-encrypt", "kestrawin-decrypt")
ours = [a for a in tree.iterfind("action") if (a.findtext("unique-id") or "").strip() in ids]
if ours:
    for action in ours:
        tree.getroot().remove(action)
    mode = os.stat(path).st_mode & 0o7777
    fd, temp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".uca.xml.")
    with os.fdopen(fd, "wb", buffering=0) as out:
        tree.write(out, encoding="UTF-8", xml_declaration=True)
        os.fsync(out.fileno())
    os.chmod(temp, mode)
    os.replace(temp, path)
PYTHON
fi
id -un
