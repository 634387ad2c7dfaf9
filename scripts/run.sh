#!/usr/bin/env bash
# Sets up, builds and starts Orvaline.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" release
exec "$root/build/release/bin/orvaline" "$@"
