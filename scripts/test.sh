#!/usr/bin/env bash
# Sets up, builds (warnings as errors) and runs every test. The last line is
# ctest's summary.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" ci
cd "$root"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --preset ci -j "$(nproc)" 2>&1 | tee "$log" || status=$?
# ctest lists skipped tests after its summary; repeat the summary last.
grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || true
exit "$status"
