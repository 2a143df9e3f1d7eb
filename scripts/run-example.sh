#!/usr/bin/env bash
# Builds the driver and the reference libraries, then compiles the example
# program (a vertex and a pixel shader sharing an included file) into
# build/example/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build

mkdir -p build/example
output=build/example/example.vrx
set -x
build/bin/vrxCompile -v examples/textured.vert -p examples/textured.frag \
    -noquarn -o "$output"
set +x
echo "Wrote $output ($(stat -c %s "$output") bytes)"
if [ -x build/bin/vrxInfo ]; then
    build/bin/vrxInfo "$output"
fi
