#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer, replays every seed corpus and
# every saved regression input, then fuzzes each target for a short while on a
# copy of its corpus. Exits non-zero on any crash, sanitizer report or broken
# invariant, after printing the input that caused it.
#
#   fuzz/ci.sh                  build into build-fuzz/ beside fuzz/, 20 s per target
#   TESK_FUZZ_SECONDS=0 ...     replay only
#   TESK_FUZZ_BUILD=DIR ...     build somewhere else
#   TESK_FUZZ_CMAKE_ARGS=...    extra arguments for the CMake configuration
set -euo pipefail

fuzz_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${TESK_FUZZ_BUILD:-$fuzz_dir/../build-fuzz}
seconds=${TESK_FUZZ_SECONDS:-20}
targets=(config_reader duration secret line_trim packet_check)

compiler=$(command -v clang++-14 || command -v clang++ || true)
if [[ -z $compiler ]]; then
    echo "fuzz: clang++ not found; install the packages listed in fuzz/packages" >&2
    exit 1
fi

# The compiler is chosen when the build directory is made: naming another one later
# would make CMake drop the whole cache, the extra arguments with it.
configure=(-S "$fuzz_dir" -B "$build_dir")
[[ -f $build_dir/CMakeCache.txt ]] || configure+=(-DCMAKE_CXX_COMPILER="$compiler")
# shellcheck disable=SC2086  # the extra arguments are meant to split
cmake "${configure[@]}" ${TESK_FUZZ_CMAKE_ARGS:-}
cmake --build "$build_dir" -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dict_of() {
    local name=$1
    [[ $name == config_reader ]] && name=config
    if [[ -f $fuzz_dir/$name.dict ]]; then echo "-dict=$fuzz_dir/$name.dict"; fi
}

# Shows the inputs that a failed run left behind, so that the log alone reproduces it.
show_artifacts() {
    local artifact
    for artifact in "$work"/artifacts/*; do
        [[ -e $artifact ]] || continue
        echo "fuzz: input that failed ($(basename "$artifact")):"
        od -A x -t x1z -v "$artifact" | head -n 40
    done
}

passed=0
failed=0
for target in "${targets[@]}"; do
    binary=$build_dir/${target}_fuzz
    rm -rf "$work/artifacts" && mkdir -p "$work/artifacts"
    ok=1

    echo "== $target: replay"
    inputs=("$fuzz_dir/corpus/$target")
    [[ -d $fuzz_dir/regressions/$target ]] && inputs+=("$fuzz_dir/regressions/$target")
    if ! "$binary" -runs=0 -artifact_prefix="$work/artifacts/" "${inputs[@]}" \
        >"$work/log" 2>&1; then
        ok=0
    fi
    tail -n 2 "$work/log"

    if ((ok && seconds > 0)); then
        echo "== $target: fuzzing for ${seconds}s"
        rm -rf "$work/corpus" && cp -r "$fuzz_dir/corpus/$target" "$work/corpus"
        # shellcheck disable=SC2046  # no dictionary gives no argument
        if ! "$binary" "$work/corpus" $(dict_of "$target") -max_total_time="$seconds" \
            -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1; then
            ok=0
        fi
        grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec)' \
            "$work/log" || true
    fi

    if ((ok)); then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "fuzz: $target FAILED"
        grep -E 'invariant broken|ERROR:|SUMMARY:|runtime error' "$work/log" | head -n 10 || true
        show_artifacts
    fi
done

echo "fuzz: $passed passed, $failed failed"
((failed == 0))
