#!/usr/bin/env bash
# Sets up, builds (warnings as errors) and runs every test. The last line is
# ctest's summary.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" ci
cd "$root"
ctest --preset ci -j "$(nproc)"
