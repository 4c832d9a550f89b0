#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Cross-builds the Windows side on Linux into build-windows/ (or $BUILD_DIR)
# with MinGW-w64 (cmake/mingw-w64-x86_64.cmake), tests included unless the
# CMake options given say otherwise, then checks that every program needs
# only DLLs that come with Windows: the C and C++ runtimes are linked in.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRAWIN_TESTS=ON "$@"
cmake --build "$build" -j"$(nproc)"

# DLLs of Windows itself (msvcrt.dll is the system's C library since Windows
# 2000; MinGW links it, not a redistributable runtime).
system_dlls="advapi32 bcrypt comctl32 comdlg32 crypt32 gdi32 kernel32 msvcrt ole32 oleaut32 \
shell32 shlwapi user32 uxtheme ws2_32"
status=0
# (What CMake built: not its own probes, nor the programs of a Wine prefix.)
for exe in $(find "$build" \( -name CMakeFiles -o -name drive_c \) -prune -o -name '*.exe' -print); do
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
        name=$(echo "$dll" | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
        case " $system_dlls " in
            *" $name "*) ;;
            *) echo "build-windows.sh: $exe needs $dll, which Windows does not have" >&2; status=1 ;;
        esac
    done
done
exit $status
