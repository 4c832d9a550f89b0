#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The installer under Wine, silent both ways: what it puts in place for the
# user, then what its uninstaller removes, the context-menu entries that the
# installed program wrote included, and nothing around them. The helper
# program stands in for kestrawin-cli.exe (the installer packs whatever it is
# given), and for kestrawin.exe too when the window is not given: it writes
# the entries as a start of the program does. The real window is started as
# Explorer starts it, then ended once the entries are there.
#
#   installer.sh HELPER.exe WORK_FOLDER [KESTRAWIN.exe]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
helper=$1
work=$2
window=${3:-}
wine="$root/scripts/wine-run.sh"

rm -rf "$work"
mkdir -p "$work/programs"
cp "${window:-$helper}" "$work/programs/kestrawin.exe"
cp "$helper" "$work/programs/kestrawin-cli.exe"
PROGRAMS_DIR="$work/programs" OUT="$work/kestrawin-setup.exe" "$root/scripts/package-windows.sh" >/dev/null

failures=0
check() { # check WHAT COMMAND...: counts a failure unless the command succeeds
    what=$1
    shift
    if ! "$@"; then
        echo "installer.sh: FAILED: $what" >&2
        failures=$((failures + 1))
    fi
}
# The value of a key ("" for the default value), as reg shows it; fails when absent.
value() {
    if [ -z "$2" ]; then set -- "$1" /ve; else set -- "$1" /v "$2"; fi
    "$wine" reg query "$@" 2>/dev/null | tr -d '\r' | sed -n 's/^    .*    REG_[A-Z_]*    //p' | grep .
}
has_value() { [ "$(value "$1" "$2")" = "$3" ]; }
absent() { ! "$wine" reg query "$1" >/dev/null 2>&1; }
unix_path() { "$wine" winepath -u "$1" 2>/dev/null | tr -d '\r'; }

folder=$("$wine" cmd /c echo %LOCALAPPDATA%\\Programs\\Kestrawin | tr -d '\r')
menu_entry=$("$wine" cmd /c echo %APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\Kestrawin.lnk | tr -d '\r')
folder_unix=$(unix_path "$folder")
menu_entry_unix=$(unix_path "$menu_entry")
uninstall='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrawin'
classes='HKCU\Software\Classes'
program="$folder\\kestrawin.exe"
neighbour="$classes\\*\\Shell\\Neighbour"

"$wine" "$work/kestrawin-setup.exe" /S
for file in kestrawin.exe kestrawin-cli.exe uninstall.exe; do
    check "installs $file" test -f "$folder_unix/$file"
done
check "makes the Start-menu entry" test -f "$menu_entry_unix"
check "lists itself in the installed programs" has_value "$uninstall" DisplayName Kestrawin
check "names its uninstaller there" has_value "$uninstall" UninstallString "\"$folder\\uninstall.exe\""
check "and its quiet one" has_value "$uninstall" QuietUninstallString "\"$folder\\uninstall.exe\" /S"

# A start of the installed program writes the entries for itself.
if [ -n "$window" ]; then
    "$wine" "$folder_unix/kestrawin.exe" 'C:\Report.txt' /crypt </dev/null >/dev/null 2>&1 &
    started=$!
    for _ in $(seq 150); do
        has_value "$classes\\Pellmora File\\DefaultIcon" "" "$program,0" && break
        sleep 0.2
    done
    "$wine" taskkill /f /im kestrawin.exe >/dev/null 2>&1 || true
    wait "$started" || true
else
    "$wine" "$folder_unix/kestrawin.exe" register
fi
while IFS='|' read -r key text; do
    check "registers $key" has_value "$classes\\$key" "" "$text"
done <<TABLE
*\\Shell\\Encrypt with "Kestrawin"|Encrypt with "Kestrawin"
*\\Shell\\Encrypt with "Kestrawin"\\command|"$program" "%1" /crypt
.ksw|Pellmora File
Pellmora File|Encrypted file
Pellmora File\\Shell\\Decrypt|Decrypt with "Kestrawin"
Pellmora File\\Shell\\Decrypt\\command|"$program" "%1" /encrypt
Pellmora File\\DefaultIcon|$program,0
TABLE
"$wine" reg add "$neighbour" /ve /d "left alone" /f >/dev/null

# The uninstaller runs from a copy of itself and returns at once: wait for it.
"$wine" "$folder_unix/uninstall.exe" /S
for _ in $(seq 150); do
    [ -e "$folder_unix" ] || break
    sleep 0.2
done
check "removes the program's folder" test ! -e "$folder_unix"
check "removes the Start-menu entry" test ! -e "$menu_entry_unix"
check "removes its entry from the installed programs" absent "$uninstall"
for key in '*\Shell\Encrypt with "Kestrawin"' .ksw 'Pellmora File'; do
    check "removes $key" absent "$classes\\$key"
done
check "leaves a neighbour alone" has_value "$neighbour" "" "left alone"
"$wine" reg delete "$neighbour" /f >/dev/null

[ "$failures" -eq 0 ] || exit 1
echo "The installer installs and uninstalls for the user."
