#!/usr/bin/env bash
# Compiles programs with vrxCompile, plain and with every optimisation, and
# runs each .vrx on the machine's GL driver with vrxGlRun: the reflection's
# locations, both binary forms and the one-form rule, end to end.
# Usage: run_programs.sh BIN_DIR SOURCE_DIR
set -uo pipefail
bin=$1
source=$2
corpus=$source/tests/execution/corpus
examples=$source/examples
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VRXCOMPILE_CACHE=0
if [ -n "${VRX_EXECUTION_MEMORY_KB:-}" ]; then
    ulimit -v "$VRX_EXECUTION_MEMORY_KB"
fi

# name | expected (pass, or known: a fault with its own fix elsewhere) | test | sources
cases=(
    "bool folding|pass|white|-v $corpus/position.vert -p $corpus/bool_folding.frag"
    "mixed versions|pass|mixed_version|-v $corpus/mixed_version.vert -p $corpus/mixed_version.frag"
    "textured example|pass|textured|-v $examples/textured.vert -p $examples/textured.frag"
    "exploded example|pass|exploded|-v $examples/exploded.vert -g $examples/exploded.geom -p $examples/exploded.frag -so $examples/exploded.so"
    "ESSL example|pass|quad_es|-t essl -v $examples/quad_es.vert -p $examples/quad_es.frag"
    "redeclared per-vertex blocks|pass|white|-v $corpus/per_vertex.vert -g $source/tests/toolchain/corpus/front_end/per_vertex_blocks_150.geom -p $corpus/white_150.frag"
)

# Under AddressSanitizer: the GL driver, unloaded when the runner ends,
# leaves a few blocks of its own behind; a leak report there would judge the
# driver, not this project. Leaks of the compiler are still reported.
runner_asan=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

failures=0
for entry in "${cases[@]}"; do
    IFS='|' read -r name expected test sources <<<"$entry"
    for optimise in "" "-Oall,glsl"; do
        label="$name${optimise:+ $optimise}"
        output=$work/program.vrx
        # shellcheck disable=SC2086 # the sources are separate arguments
        if ! log=$("$bin/vrxCompile" -noquarn $optimise $sources -o "$output" 2>&1); then
            echo "FAIL $label: does not compile: $log"
            failures=$((failures + 1))
            continue
        fi
        verdict=$(ASAN_OPTIONS=$runner_asan "$bin/vrxGlRun" "$corpus/$test.shader_test" \
            --vrx "$output" 2>&1)
        verdict=${verdict#"$output: "}
        case "$expected:$verdict" in
        pass:pass) echo "ok   $label" ;;
        known*:fail*) echo "ok   $label: known failure (${expected#known: }): ${verdict#fail: }" ;;
        known*:pass) echo "ok   $label: passes now; take it off the known failures" ;;
        *)
            echo "FAIL $label: $verdict"
            failures=$((failures + 1))
            ;;
        esac
    done
done
[ "$failures" -eq 0 ]
