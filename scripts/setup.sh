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

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

mapfile -t packages < <(grep -vE '^\s*(#|$)' "$root/scripts/debian-packages.txt")
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing Debian packages: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

case "$kind" in
    release) preset=release ;;
    ci) preset=ci ;;
    *) echo "usage: $0 [release|ci]" >&2; exit 2 ;;
esac

cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
