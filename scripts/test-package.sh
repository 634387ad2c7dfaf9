#!/usr/bin/env bash
# Tests the Debian package as a user gets it (CI's stage "package"):
#
#   scripts/test-package.sh [DEB]     (default: build it with scripts/package.sh)
#
# It unpacks the package into a temporary root (dpkg-deb -x) and there
#   - asks each program in usr/bin for its version: the package's own;
#   - converts the samples of the window's folder with usr/bin/orvaline-convert,
#     started from another directory through its link;
#   - starts the window as its menu entry says (Exec, found on PATH) under
#     Xvfb with a fresh home, and with xdotool loads the samples, presses an
#     entry and converts the list with the converter the window deploys from
#     itself: the same images must come out;
#   - checks from strace logs of both runs that nothing the programs look for
#     in the package is missing and that the converter uses only files of
#     packages the package depends on (scripts/check-package-files.py);
#   - runs lintian (any error fails), appstreamcli validate and
#     desktop-file-validate.
#
# Needs the packages of scripts/debian-packages-ci.txt (scripts/ci-checks.sh
# installs them).
set -euo pipefail
root_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The window's controls, in pixels from its top left corner: the centres of
# "Load Sample/Example Files", "Start Converting" and the list's first entry
# (app/src/form1.cpp places them in twips, 15 to a pixel).
load_samples_xy=(400 231)
start_xy=(268 411)
first_entry_xy=(100 39)

# Inside xvfb-run: drives the window, then closes it.
#   test-package.sh --drive-window ROOT WORK
if [ "${1:-}" = --drive-window ]; then
    root=$2 work=$3
    windows() { xdotool search --onlyvisible --name '^Orvaline$' 2>/dev/null | wc -l; }
    wait_windows() { # COUNT SECONDS WHAT
        local deadline=$(($(date +%s) + $2))
        until [ "$(windows)" -eq "$1" ]; do
            if [ "$(date +%s)" -ge "$deadline" ]; then
                echo "test-package: the window did not $3 within $2 s" >&2
                return 1
            fi
            sleep 0.2
        done
    }
    # A launcher puts the files in place of the field codes (%F); here none.
    exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/orvaline.desktop" | sed 's/ *%[fFuU]//g')
    (
        cd "$work/home"
        export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
        export XDG_CACHE_HOME="$work/home/.cache" PATH="$root/usr/bin:$PATH"
        unset TEMP
        exec strace -f -qq -y -e trace=%file,mmap -o "$work/window.strace" $exec_line
    ) &
    tracer=$!
    status=0
    if win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Orvaline$' | head -n 1) &&
        [ -n "$win" ]; then
        pid=$(xdotool getwindowpid "$win")
        # Load the samples; the question whether to open their folder gets No.
        xdotool mousemove --window "$win" "${load_samples_xy[@]}" click 1
        wait_windows 2 30 "ask about the samples' folder" || status=1
        xdotool key Escape
        wait_windows 1 30 "close the question" || status=1
        # A press on an entry takes the list's drag pointer from drag.ico.
        xdotool mousemove --window "$win" "${first_entry_xy[@]}" click 1
        xdotool mousemove --window "$win" "${start_xy[@]}" click 1
        wait_windows 2 300 "end the run with its closing message" || status=1
        kill "$pid"
    else
        echo "test-package: the window did not open" >&2
        status=1
        kill "$tracer" 2>/dev/null || true
    fi
    wait "$tracer" || true
    exit $status
fi

deb=${1:-}
if [ -z "$deb" ]; then
    deb=$("$root_dir/scripts/package.sh" | tail -n 1)
fi
deb=$(realpath "$deb")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
dpkg-deb -x "$deb" "$root"
mkdir -p "$work/home" "$work/convert"
failed=0
fail() {
    echo "test-package: $*" >&2
    failed=1
}

version=$(dpkg-deb -f "$deb" Version)
echo "-- $(basename "$deb"): $(dpkg-deb -f "$deb" Installed-Size) KiB installed"
for program in orvaline orvaline-convert msgdump; do
    got=$("$root/usr/bin/$program" --version 2>&1) || fail "$program --version failed"
    [ "$got" = "$program (Orvaline) $version" ] ||
        fail "$program --version says \"$got\", the package is $version"
done

samples="$root/usr/lib/orvaline/Samples"
count=$(find "$samples" -name '*.msg' | wc -l)
[ "$count" -gt 0 ] || fail "no sample messages in /usr/lib/orvaline/Samples"
echo "-- orvaline-convert: the $count samples"
(cd / && strace -f -qq -y -e trace=%file,mmap -o "$work/convert.strace" \
    "$root/usr/bin/orvaline-convert" -q "$samples" -o "$work/convert") ||
    fail "orvaline-convert failed on the samples"
converted=$(grep -c '"status": *"converted"' "$work/convert/orvaline-report.jsonl" || true)
[ "$converted" -eq "$count" ] || fail "orvaline-convert converted $converted of $count samples"

echo "-- the window: Exec of its menu entry, the samples, Start Converting"
xvfb-run -a -s "-screen 0 1024x768x24" "$0" --drive-window "$root" "$work" ||
    fail "the window's run failed"
(cd "$work/convert" && find . -name '*.jpg' | sort) >"$work/convert.list"
(cd "$work/home" && find . -name '*.jpg' -not -path './.cache/*' | sed 's|^\./Desktop/|./|' |
    sort) >"$work/window.list"
if [ ! -s "$work/window.list" ] || ! cmp -s "$work/convert.list" "$work/window.list"; then
    fail "the window's images differ from orvaline-convert's:"
    diff "$work/convert.list" "$work/window.list" >&2 || true
else
    echo "   $(wc -l <"$work/window.list") images, as orvaline-convert's"
fi

echo "-- files the programs look for and use"
python3 "$root_dir/scripts/check-package-files.py" --deb "$deb" --root "$root" \
    --ignore "$work" --depends-log "$work/convert.strace" "$work/window.strace" ||
    fail "files missing from the package or its dependencies"

echo "-- lintian"
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$work/lintian.txt" || true
[ $lintian_status -eq 0 ] || fail "lintian found errors"
echo "-- appstreamcli validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml ||
    fail "the AppStream metainfo is not valid"
echo "-- desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/orvaline.desktop" ||
    fail "the desktop entry is not valid"

[ $failed -eq 0 ] && echo "package test passed: $deb"
exit $failed
