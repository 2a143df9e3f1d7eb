#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and the address and
# undefined-behaviour sanitizers (build-fuzz/) and runs each for a bounded
# time on a scratch copy of its seed corpus (fuzz/corpus/<target>/). Any
# finding (crash, sanitizer report, leak, failed check, time-out) fails the
# run; what caused it is kept in build-fuzz/findings/<target>/.
#
# Usage: scripts/fuzz.sh [seconds per target]   (default: $VRX_FUZZ_SECONDS or 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-${VRX_FUZZ_SECONDS:-60}}"
targets=(source_loading optimization_list stream_out command_line vrx_reader cache_entry
         service_request http_answer)

bash scripts/install-packages.sh cmake ninja-build clang libclang-rt-14-dev

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVRX_BUILD_FUZZERS=ON -DVRX_BUILD_TESTS=OFF -DVRX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz --target vrx_fuzzers -j2

# The targets that read files work in a scratch folder of their own, on a
# memory file system where there is one: it doubles their speed.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=()
for target in "${targets[@]}"; do
    corpus="$scratch/$target"
    findings="$PWD/build-fuzz/findings/$target"
    mkdir -p "$corpus" "$findings"
    cp fuzz/corpus/"$target"/* "$corpus"/
    log="build-fuzz/findings/$target.log"
    # close_fd_mask=3: the targets' own console output is dropped; the
    # fuzzer's and the sanitizers' reports still reach the log.
    status=0
    "build-fuzz/bin/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len=16384 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        failed+=("$target")
        echo "FAIL $target (exit $status); last lines of $log:"
        tail -n 40 "$log"
    else
        echo "ok   $target: ${execs:-?} executions in ${seconds} s, ${speed:-?} exec/s"
    fi
done

passed=$(( ${#targets[@]} - ${#failed[@]} ))
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found problems in: ${failed[*]}"
    echo "fuzzing: ${passed} passed, ${#failed[@]} failed"
    exit 1
fi
echo "fuzzing: ${passed} passed, 0 failed"
