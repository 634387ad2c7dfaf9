#!/usr/bin/env bash
# Builds the Debian package build/release/package/orvaline_<version>_amd64.deb
# with CPack from the release preset (build/release; ccache makes a rebuild
# cheap) and prints its path on the last line. Install it with
#
#   sudo apt install ./build/release/package/orvaline_<version>_amd64.deb
#
# What goes where: cmake/packaging.cmake. Installs the Debian packages of
# scripts/debian-packages.txt when missing (run as root or with sudo).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Paths below the checkout enter ccache's keys relative to it, so a second
# checkout (CI's clone) reuses what the first compiled.
export CCACHE_BASEDIR="$root"
"$root/scripts/setup.sh" release >&2
cd "$root/build/release"
rm -f package/orvaline_*.deb
# CPack strips the programs, runs dpkg-shlibdeps for the Depends field and
# writes the control files; its log goes to standard error.
cpack -G DEB >&2
shopt -s nullglob
debs=(package/orvaline_*_amd64.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "package.sh: expected one package in build/release/package, found ${#debs[@]}" >&2
    exit 1
fi
echo "$root/build/release/${debs[0]}"
