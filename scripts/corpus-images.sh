#!/usr/bin/env bash
# Converts every message of the corpus with a built converter and writes the
# page images, one folder per message, plus SHA-256 sums of all of them:
#
#   scripts/corpus-images.sh BIN_DIR OUT_DIR [CORPUS_DIR] [-- OPTIONS...]
#
# Two runs (before and after a change) compare with
#   diff OUT_A/SHA256SUMS OUT_B/SHA256SUMS
# Messages that fail are listed in OUT_DIR/failed.txt with the converter's text.
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 BIN_DIR OUT_DIR [CORPUS_DIR] [-- CONVERTER_OPTIONS...]" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
out=$2
shift 2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
corpus="$root/tests/corpus/msg"
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
    corpus=$1
    shift
fi
[ "${1:-}" = "--" ] && shift
if [ ! -d "$corpus" ]; then
    echo "$0: no corpus at $corpus" >&2
    exit 1
fi
rm -rf "$out"
mkdir -p "$out"
: >"$out/failed.txt"
count=0
while IFS= read -r -d '' msg; do
    name=$(basename "$msg" .msg)
    mkdir -p "$out/$name"
    if ! QT_QPA_PLATFORM=offscreen "$bin/Kestrune.exe" "$msg" "$out/$name/page.jpg" "$@" \
        >/dev/null 2>"$out/$name.err"; then
        printf '%s\t%s\n' "$name" "$(tr '\n' ' ' <"$out/$name.err")" >>"$out/failed.txt"
    fi
    rm -f "$out/$name.err"
    count=$((count + 1))
done < <(find "$corpus" -maxdepth 1 -type f -iname '*.msg' -print0 | sort -z)
(cd "$out" && find . -name '*.jpg' -print0 | sort -z | xargs -0 -r sha256sum) >"$out/SHA256SUMS"
echo "$count messages, $(wc -l <"$out/SHA256SUMS") images, $(wc -l <"$out/failed.txt") failed -> $out"
