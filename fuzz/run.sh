#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time, one per core at once.
#
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 60 seconds, every target)
#
# The build folder is build-fuzz, or FUZZ_BUILD: a folder already configured with clang and
# -DSIGKIT_FUZZ=ON (CI's sanitizer build, which also holds the tests) is used as it is.
# New inputs go to <build>/corpus/<target> (kept between runs); a crash stops the run and
# leaves its input as <build>/crash-*: copy it to tests/fuzz/regressions/<corpus>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
build="${FUZZ_BUILD:-build-fuzz}"
if ! grep -qx 'SIGKIT_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSIGKIT_FUZZ=ON -DSIGKIT_BUILD_TESTS=OFF -DSIGKIT_BUILD_BENCH=OFF >/dev/null
fi

# target -> seed corpus
declare -A seeds=(
    [fuzz_wav_file]=wav
    [fuzz_wav_read]=wav
    [fuzz_spectrum]=wav
    [fuzz_processing]=processing
    [fuzz_api]=api
    [fuzz_api_wav]=wav
)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${!seeds[@]}")
for target in "${targets[@]}"; do
    [ -n "${seeds[$target]:-}" ] || { echo "fuzz/run.sh: unknown target '$target' (${!seeds[*]})" >&2; exit 1; }
done
cmake --build "$build" --target "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One target per core at a time; each writes its own log, printed (filtered) when it ends.
jobs="${FUZZ_JOBS:-$(nproc)}"
logs="$build/logs"
mkdir -p "$logs"
run_target() {
    local target="$1" corpus="$build/corpus/$1"
    mkdir -p "$corpus"
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -artifact_prefix="$build/" -print_final_stats=1 \
        "$corpus" "fuzz/corpus/${seeds[$target]}" >"$logs/$target.log" 2>&1
}
report() {
    echo "== $1: ${seconds}s =="
    grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)|ERROR|SUMMARY|crash-|timeout-|leak-' \
        "$logs/$1.log" || true
}

declare -A pids=()
failed=0
finish_one() {
    local pid target
    wait -n "${!pids[@]}" || true
    for pid in "${!pids[@]}"; do
        if ! kill -0 "$pid" 2>/dev/null; then
            target="${pids[$pid]}"
            unset "pids[$pid]"
            if wait "$pid"; then report "$target"; else report "$target"; echo "!! $target failed"; failed=1; fi
        fi
    done
}
for target in $(printf '%s\n' "${targets[@]}" | sort); do
    while [ ${#pids[@]} -ge "$jobs" ]; do finish_one; done
    run_target "$target" &
    pids[$!]="$target"
done
while [ ${#pids[@]} -gt 0 ]; do finish_one; done
exit "$failed"
