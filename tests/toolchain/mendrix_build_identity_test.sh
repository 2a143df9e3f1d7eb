#!/usr/bin/env bash
# The compiler library's build identity is the same for two copies of the
# tree at different paths, and changes with a source file linked in from
# source/, with a header in a subfolder of the library and with the compile
# flags. Each copy is configured and only the
# identity's header is built.
#   mendrix_build_identity_test.sh <source folder> <work folder>
set -euo pipefail
source_dir=$1 work=$2
rm -rf "$work"
copy() {
    mkdir -p "$1"
    tar -C "$source_dir" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$1" -xf -
}
identity() {  # tree, extra configure arguments
    local tree=$1
    shift
    cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVRX_BUILD_TESTS=OFF \
        -DVRX_BUILD_BENCHMARKS=OFF "$@" >/dev/null
    cmake --build "$tree/build" --target mendrix_build_identity >/dev/null
    cat "$tree/build/toolchain/mendrix/generated/toolchain/mendrix/mendrix_build_identity.h"
}
fail() {
    echo "FAIL: $1"
    exit 1
}
copy "$work/a"
copy "$work/elsewhere/b"
first=$(identity "$work/a")
[ "$first" = "$(identity "$work/elsewhere/b")" ] || fail "two checkouts at different paths differ"
echo "// changed" >>"$work/elsewhere/b/source/include_walk.cpp"
second=$(identity "$work/elsewhere/b")
[ "$first" != "$second" ] || fail "a changed source of source/ kept it"
echo "// changed" >>"$work/elsewhere/b/toolchain/mendrix/cache/cache_entry.h"
[ "$second" != "$(identity "$work/elsewhere/b")" ] || fail "a changed header of cache/ kept it"
[ "$first" != "$(identity "$work/a" -DCMAKE_CXX_FLAGS=-DVRX_PROBE)" ] || fail "other flags kept it"
rm -rf "$work"
echo "build identity: independent of paths, covers sources and flags"
