#!/bin/sh
# Sets up, builds and starts the program. Arguments go to the program.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
if [ -x "$root/build/app/kestrawin" ]; then
    exec "$root/build/app/kestrawin" "$@"
fi
exec "$root/build/cli/kestrawin-cli" --help
