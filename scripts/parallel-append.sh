#!/usr/bin/env bash
# Starts many appends to one .vrx file at the same time and checks that none
# is lost: every run exits 0 and every program is in the file exactly once
# afterwards (read back with vrxInfo).
#
#   parallel-append.sh BIN_DIR [WRITERS [ROUNDS [RUNNER...]]]
#
# BIN_DIR holds vrxCompile, vrxInfo and the libraries (build/bin, or the
# Windows build's bin folder with RUNNER set to wine). Defaults: 16 writers,
# 20 rounds. Where the reference compiler is not built (the Windows build),
# tmb_write_probe hands made-up programs to the same writer library instead.
set -euo pipefail

bin=$(cd "$1" && pwd)
writers=${2:-16}
rounds=${3:-20}
shift $(($# < 3 ? $# : 3))
runner=("$@")
exe=
if [ -f "$bin/vrxCompile.exe" ]; then
    exe=.exe
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# One vertex shader per program, told apart by the name of its uniform.
for ((i = 0; i <= writers; i++)); do
    printf '#version 430\nuniform float u_matrix%d;\nvoid main() { gl_Position = vec4(u_matrix%d); }\n' \
        "$i" "$i" >"p$i.vert"
done

if [ -f "$bin/libmendrix.so" ] || [ -f "$bin/mendrix.dll" ]; then
    compile() {
        "${runner[@]}" "$bin/vrxCompile$exe" -v "p$1.vert" -noquarn "$2" all.vrx
    }
else
    compile() {
        "${runner[@]}" "$bin/tmb_write_probe$exe" "$2" all.vrx "$1"
    }
fi

failures=0
for ((round = 1; round <= rounds; round++)); do
    rm -f all.vrx
    compile 0 -o
    pids=()
    for ((i = 1; i <= writers; i++)); do
        compile "$i" -oa >"log$i" 2>&1 &
        pids+=($!)
    done
    for ((i = 1; i <= writers; i++)); do
        if ! wait "${pids[i - 1]}"; then
            echo "round $round: append $i failed:" >&2
            cat "log$i" >&2
            failures=$((failures + 1))
        fi
    done
    "${runner[@]}" "$bin/vrxInfo$exe" all.vrx | tr -d '\r' >info.txt
    for ((i = 0; i <= writers; i++)); do
        count=$(grep -c " u_matrix$i\$" info.txt || true)
        if [ "$count" != 1 ]; then
            echo "round $round: program $i is in the file $count times" >&2
            failures=$((failures + 1))
        fi
    done
    leftovers=$(find . -name '.vrxtmp-*' | wc -l)
    if [ "$leftovers" != 0 ]; then
        echo "round $round: $leftovers temporary files left behind" >&2
        failures=$((failures + 1))
    fi
done

if [ "$failures" != 0 ]; then
    echo "parallel appends: $failures failures in $rounds rounds of $writers writers" >&2
    exit 1
fi
echo "parallel appends: $rounds rounds of $writers writers, every program kept once"
