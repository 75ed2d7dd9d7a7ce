#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 60 seconds, every target)
#
# New inputs go to build-fuzz/corpus/<target> (kept between runs); a crash stops the run and
# leaves its input as build-fuzz/crash-*: copy it to tests/fuzz/regressions/<corpus>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSIGKIT_FUZZ=ON -DSIGKIT_BUILD_TESTS=OFF -DSIGKIT_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz

# target -> seed corpus
declare -A seeds=(
    [fuzz_wav_file]=wav
    [fuzz_wav_read]=wav
    [fuzz_processing]=processing
)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${!seeds[@]}")
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in $(printf '%s\n' "${targets[@]}" | sort); do
    corpus="build-fuzz/corpus/$target"
    mkdir -p "$corpus"
    echo "== $target: ${seconds}s =="
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -artifact_prefix=build-fuzz/ -print_final_stats=1 \
        "$corpus" "fuzz/corpus/${seeds[$target]}" 2>&1 |
        grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)|ERROR|SUMMARY|crash-|timeout-|leak-'
done
