#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Writes a PNG of each page of the window to docs/ (or the folder given), in
# the default light colours, again under GTK's dark Adwaita scheme ("-dark"
# names) and under GTK's inverse high-contrast theme ("-contrast" names),
# running the program under a virtual X server with a scratch home folder, so
# that the real home's context menus and keys are left alone.
# Needs: xvfb-run (xvfb, xauth), import (imagemagick) and, for the dark
# pictures, Qt's GTK 3 platform theme (qt6-gtk-platformtheme); build first.
# The virtual X server takes the first free number, or the one in
# $KESTRAWIN_DISPLAY_NUMBER.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs}
program=${KESTRAWIN:-$root/build/app/kestrawin}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out" "$scratch/home"
echo "secret" > "$scratch/Report.txt"
server="-a"
[ -n "${KESTRAWIN_DISPLAY_NUMBER:-}" ] && server="-n $KESTRAWIN_DISPLAY_NUMBER"

shoot() { # name, then the program's arguments; $scheme: "", -dark or -contrast
    name=$1$scheme
    shift
    case $scheme in
        -dark) theme=Adwaita:dark ;;
        -contrast) theme=HighContrastInverse ;;
        *) theme="" ;;
    esac
    # shellcheck disable=SC2086
    env ${theme:+QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=$theme} typed="${typed:-}" \
    HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/.local/share" \
    XDG_CONFIG_HOME="$scratch/home/.config" XDG_RUNTIME_DIR="$scratch" \
    xvfb-run $server -s "-screen 0 400x300x24" sh -c '
        "$0" "$@" & pid=$!
        sleep 2
        # Typed characters show as stars (needs xdotool; skipped without it).
        if [ -n "${typed:-}" ] && command -v xdotool >/dev/null; then
            xdotool type --delay 30 "$typed"; sleep 0.5
        fi
        # No window manager: the window sits centred, without a frame.
        import -window root -crop 200x149+100+75 +repage "'"$out/$name.png"'"
        kill $pid' "$program" "$@"
    echo "$out/$name.png"
}

for scheme in "" -dark -contrast; do
    shoot page-0-main
    typed=secret shoot page-1-encrypt "$scratch/Report.txt" /crypt
    shoot page-2-decrypt "$scratch/Report.txt.ksw" /encrypt
    shoot page-3-error "$scratch/Report.txt.ksw" /crypt
done
