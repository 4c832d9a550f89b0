#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package from build/, unpacks it into a scratch folder and
# uses the unpacked programs: the package must hold working binaries whatever
# is installed on the machine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/kestrawin_*.deb | head -n 1)
echo "package: $deb"
dpkg-deb --info "$deb" | grep -E "^ (Package|Version|Depends):"
dpkg-deb -x "$deb" "$scratch/root"

for f in usr/bin/kestrawin usr/bin/kestrawin-cli usr/share/applications/kestrawin.desktop \
         usr/share/icons/hicolor/48x48/apps/kestrawin.png usr/share/icons/hicolor/scalable/apps/kestrawin.svg \
         usr/share/man/man1/kestrawin.1.gz usr/share/man/man1/kestrawin-cli.1.gz; do
    [ -e "$scratch/root/$f" ] || { echo "missing from the package: $f"; exit 1; }
done
if ldd "$scratch/root/usr/bin/kestrawin" "$scratch/root/usr/bin/kestrawin-cli" | grep -q "not found"; then
    echo "unresolved libraries:"; ldd "$scratch/root/usr/bin/kestrawin"; exit 1
fi

cli="$scratch/root/usr/bin/kestrawin-cli"
"$cli" --version
export XDG_DATA_HOME="$scratch/data"
mkdir -p "$scratch/work"
head -c 100000 /dev/urandom > "$scratch/work/sample.bin"
cp "$scratch/work/sample.bin" "$scratch/original.bin"
echo "package check password" > "$scratch/pw"
"$cli" encrypt --password-file "$scratch/pw" "$scratch/work/sample.bin"
[ ! -e "$scratch/work/sample.bin" ] && [ -s "$scratch/work/sample.bin.ksw" ]
"$cli" decrypt --password-file "$scratch/pw" "$scratch/work/sample.bin.ksw"
cmp "$scratch/work/sample.bin" "$scratch/original.bin"
[ ! -e "$scratch/work/sample.bin.ksw" ]
echo "package check: the unpacked kestrawin-cli encrypts and decrypts"
