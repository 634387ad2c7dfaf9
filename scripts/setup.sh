#!/usr/bin/env bash
# Installs the Debian packages Orvaline needs (when missing), then configures
# and builds one build tree.
#
#   scripts/setup.sh release   -> build/release  (the application, optimised)
#   scripts/setup.sh ci        -> build/ci       (warnings are errors, tests)
#
# Meant for a fresh Debian 12 machine: run as root, or as a user with sudo.
set -euo pipefail

kind=${1:-release}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/install-packages.sh" "$root/scripts/debian-packages.txt"

case "$kind" in
    release) preset=release ;;
    ci) preset=ci ;;
    *) echo "usage: $0 [release|ci]" >&2; exit 2 ;;
esac

cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
