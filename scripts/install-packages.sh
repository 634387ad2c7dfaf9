#!/usr/bin/env bash
# Installs whichever Debian packages of the given lists (one name a line, #
# comments) are missing. Run as root, or as a user with sudo.
#
#   scripts/install-packages.sh scripts/debian-packages.txt [more lists...]
set -euo pipefail
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
packages=()
for list in "$@"; do
    mapfile -t -O "${#packages[@]}" packages < <(grep -vE '^\s*(#|$)' "$list")
done
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
