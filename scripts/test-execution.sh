#!/usr/bin/env bash
# Runs the fixed sample of piglit's execution tests listed in
# docs/execution-sample.tsv in the driver, vrx and vrx -O modes on the
# machine's GL driver (Mesa's llvmpipe) and fails on any test whose verdict
# in a mode went from pass to anything else. Builds in build/ as test.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh
bash scripts/install-packages.sh python3
piglit=$(bash scripts/fetch-piglit.sh)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
python3 scripts/execution-tests.py --tools build/bin --piglit "$piglit" --jobs "$(nproc)" \
    --list docs/execution-sample.tsv --expect docs/execution-sample.tsv
