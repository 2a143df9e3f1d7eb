#!/usr/bin/env bash
# Builds in build-bench/ (Release) and runs the benchmarks: the micro
# benchmarks of source loading, the optimisation list and the stream-out
# list, then the whole-process comparison of bench/compare.sh. They are not
# part of the test run. Extra arguments go to the micro benchmarks, e.g.
# --benchmark_filter=Load.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVRX_BUILD_BENCHMARKS=ON
cmake --build build-bench

build-bench/bin/vrx_micro_benchmarks "$@"
bash bench/compare.sh build-bench
