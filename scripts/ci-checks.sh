#!/usr/bin/env bash
# The checks CI runs after the test suite, each one also usable alone:
#
#   scripts/ci-checks.sh [STAGE...]     (default: all, in this order)
#
#   format   clang-format --dry-run --Werror over every tracked C++ file
#   layers   scripts/check-layers.py: no target depends on a layer above it
#   tidy     clang-tidy with the repository's .clang-tidy over the product
#            sources (not tests, fuzz targets or benchmarks); any finding fails
#   asan     the asan preset (AddressSanitizer + UndefinedBehaviorSanitizer):
#            build and every test
#   fuzz     the fuzz preset: every libFuzzer target over its seeds, then
#            new inputs: 5 x FUZZ_SECONDS (default 60) in all, shared evenly
#            among the targets, so a new target does not lengthen the stage
#   package  scripts/test-package.sh: the Debian package (release preset,
#            scripts/package.sh) unpacked and tried: both converters on the
#            samples, the window under Xvfb, files looked for and used,
#            lintian, appstreamcli, desktop-file-validate
#
# format, layers and tidy need build/ci (scripts/test.sh makes it). Installs
# the Debian packages of scripts/debian-packages-ci.txt when missing. Prints
# each stage's time and ends with a line "N passed, N failed" (stages).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
"$root/scripts/install-packages.sh" "$root/scripts/debian-packages.txt" \
    "$root/scripts/debian-packages-ci.txt" || exit 1

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-60}

stage_format() {
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror
}

stage_layers() {
    python3 scripts/check-layers.py build/ci
}

stage_tidy() {
    [ -f build/ci/compile_commands.json ] || cmake --preset ci >/dev/null || return 1
    # Only the product's own sources; headers are checked through them: the
    # folders of .clang-tidy's HeaderFilterRegex, anchored at this checkout,
    # so Qt's and the system's headers never count, wherever it lies.
    local filter root_re log
    filter=$(sed -nE "s/^HeaderFilterRegex:[[:space:]]*'(.*)'[[:space:]]*\$/\1/p" .clang-tidy)
    root_re=$(printf '%s' "$root" | sed 's/[].[\\*^$+?(){}|]/\\&/g')
    log=$(mktemp)
    run-clang-tidy-14 -p build/ci -j "$jobs" -quiet ${filter:+-header-filter="^$root_re/$filter"} \
        "^$root_re/(?!tests/|fuzz/|bench/|build/).*\\.cpp\$" >"$log" 2>&1
    local status=$?
    # Every finding of the configured checks fails, not only those the
    # configuration marks as errors.
    if grep -qE '(warning|error): ' "$log"; then
        grep -E '(warning|error): ' "$log" | sed 's/\x1b\[[0-9;]*m//g' | sort -u
        status=1
    elif [ $status -ne 0 ]; then
        tail -n 20 "$log"
    fi
    rm -f "$log"
    return $status
}

stage_asan() {
    cmake --preset asan >/dev/null &&
        cmake --build --preset asan -j "$jobs" &&
        ctest --preset asan -j "$jobs"
}

# name:seed folders (read only; the first writable folder receives new inputs)
fuzz_targets=(
    "fuzz_cfb:fuzz/core/corpus/msg fuzz/core/regress/fuzz_cfb"
    "fuzz_message:fuzz/core/corpus/msg fuzz/core/regress/fuzz_message"
    "fuzz_rtf_decompress:fuzz/core/corpus/rtf fuzz/core/regress/fuzz_rtf_decompress"
    "fuzz_rtf:fuzz/render/corpus/rtf"
    "fuzz_render:fuzz/render/corpus/render fuzz/render/corpus/rtf"
    "fuzz_mime:fuzz/mime/corpus tests/mime/data fuzz/mime/regress/fuzz_mime"
)

stage_fuzz() {
    cmake --preset fuzz >/dev/null || return 1
    local names=()
    for entry in "${fuzz_targets[@]}"; do names+=("${entry%%:*}"); done
    cmake --build --preset fuzz -j "$jobs" --target "${names[@]}" || return 1
    # The stage's time for new inputs is that of the five targets it had
    # (5 x fuzz_seconds), shared among however many there are.
    local seconds=$((fuzz_seconds * 5 / ${#fuzz_targets[@]}))
    [ "$seconds" -gt 0 ] || seconds=1
    local failed=0
    for entry in "${fuzz_targets[@]}"; do
        local name=${entry%%:*}
        local seeds=()
        for folder in ${entry#*:}; do
            [ -d "$folder" ] && seeds+=("$folder")
        done
        local work="build/fuzz/work/$name" artifacts="build/fuzz/artifacts/$name"
        rm -rf "$work" "$artifacts"
        mkdir -p "$work" "$artifacts"
        local extra=()
        [ "$name" = fuzz_rtf ] && extra+=(-dict=fuzz/render/fuzz_rtf.dict)
        [ "$name" = fuzz_mime ] && extra+=(-dict=fuzz/mime/fuzz_mime.dict)
        echo "-- $name: ${seconds} s over ${seeds[*]}"
        if ! QT_QPA_PLATFORM=offscreen \
            LSAN_OPTIONS="suppressions=$root/fuzz/render/lsan.supp" \
            "build/fuzz/bin/$name" -max_total_time="$seconds" -timeout=30 \
            -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1 \
            -artifact_prefix="$artifacts/" "${extra[@]}" "$work" "${seeds[@]}" \
            >"build/fuzz/$name.log" 2>&1; then
            echo "$name: FINDING (log build/fuzz/$name.log, input in $artifacts/):"
            grep -E 'finding:|ERROR:|SUMMARY:|Test unit written' "build/fuzz/$name.log" | head -n 20
            for input in "$artifacts"/*; do
                [ -f "$input" ] || continue
                echo "  $input, $(stat -c %s "$input") bytes; base64 of its first 4 KiB:"
                head -c 4096 "$input" | base64 | sed 's/^/    /'
            done
            failed=1
        else
            grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "build/fuzz/$name.log" |
                tr '\n' ' '
            echo
        fi
    done
    return $failed
}

stage_package() {
    scripts/test-package.sh
}

all_start=$(date +%s)
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(format layers tidy asan fuzz package)
passed=0
failed=0
failed_names=()
# .ci/run passes the result of the test suite it ran first, so the summary
# counts it too.
case "${ORVALINE_CI_TEST_RESULT:-}" in
    passed) passed=1 ;;
    failed) failed=1 failed_names=(test) ;;
esac
for stage in "${stages[@]}"; do
    if ! declare -F "stage_$stage" >/dev/null; then
        echo "ci-checks: unknown stage $stage (format, layers, tidy, asan, fuzz, package)" >&2
        exit 2
    fi
    echo "== $stage"
    start=$(date +%s)
    if "stage_$stage"; then
        passed=$((passed + 1))
        result=passed
    else
        failed=$((failed + 1))
        failed_names+=("$stage")
        result=FAILED
    fi
    echo "== $stage $result in $(($(date +%s) - start)) s"
done
[ $failed -eq 0 ] || echo "failed stages: ${failed_names[*]}"
echo "checks took $(($(date +%s) - all_start)) s"
[ -z "${ORVALINE_CI_START:-}" ] || echo "ci took $(($(date +%s) - ORVALINE_CI_START)) s"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
