#!/usr/bin/env bash
# Sets up, builds and starts Orvaline. Without a display, it says so and
# converts the bundled sample messages with the converter tool instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" release
bin="$root/build/release/bin"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$bin/orvaline" "$@"
fi

out="$root/build/sample-images"
echo "No display is available (DISPLAY and WAYLAND_DISPLAY are unset), so the window cannot open."
echo "Converting the bundled samples with the converter tool into $out instead:"
mkdir -p "$out"
status=0
for msg in "$bin"/Samples/*; do
    [ -f "$msg" ] || continue
    name=$(basename "$msg")
    if ! "$bin/Kestrune.exe" "$msg" "$out/${name%.*}.jpg"; then
        echo "  $name could not be converted" >&2
        status=1
    fi
done
ls -l "$out"
exit $status
