#!/usr/bin/env bash
# Builds everything, runs every test and the parallel-append check.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
ctest --test-dir build --output-on-failure -j2
bash scripts/parallel-append.sh build/bin 16 20
