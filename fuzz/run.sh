#!/usr/bin/env bash
# Builds one fuzz target with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (the `fuzz` preset) and runs it.
#
#   fuzz/run.sh TARGET SECONDS [extra libFuzzer flags]
#
# TARGET: fuzz_cfb, fuzz_message, fuzz_rtf_decompress, fuzz_rtf, fuzz_render,
# fuzz_mime.
# The checked-in seeds are read, never written: new inputs go to
# build/fuzz/work/TARGET, crashes to build/fuzz/artifacts/TARGET/. A crash
# becomes a file in fuzz/<folder>/regress/TARGET/ and a named test.
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 TARGET SECONDS [libFuzzer flags...]" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

seeds=()
flags=()
case "$target" in
    fuzz_cfb|fuzz_message) seeds=(fuzz/core/corpus/msg) ;;
    fuzz_rtf_decompress) seeds=(fuzz/core/corpus/rtf) ;;
    fuzz_rtf|fuzz_render) seeds=("fuzz/render/corpus/${target#fuzz_}") ;;
    fuzz_mime)
        seeds=(fuzz/mime/corpus tests/mime/data)
        flags=(-dict=fuzz/mime/fuzz_mime.dict)
        ;;
esac

[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "$target" -j 2

# fontconfig's process-wide caches, which the renderer's targets load, are
# never freed: suppressed as CI suppresses them.
if [ -z "${LSAN_OPTIONS:-}" ]; then
    export LSAN_OPTIONS="suppressions=$root/fuzz/render/lsan.supp"
fi

work="build/fuzz/work/$target"
artifacts="build/fuzz/artifacts/$target"
mkdir -p "$work" "$artifacts"
exec "build/fuzz/bin/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" ${flags[@]+"${flags[@]}"} "$@" "$work" \
    ${seeds[@]+"${seeds[@]}"}
