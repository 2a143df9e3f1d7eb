#!/usr/bin/env bash
# The Windows build under wine writes the same bytes as the Linux build for
# the same command: each example, plain and optimised, as .vrx and header.
# From the repository root: same_output.sh <linux bin> <windows bin> <scratch>
set -euo pipefail
# Both builds compile for real: the compile cache stays out of it.
export VRXCOMPILE_CACHE=0
linux=$1 windows=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch/linux" "$scratch/windows"
examples=(
    "textured|-v examples/textured.vert -p examples/textured.frag"
    "exploded|-v examples/exploded.vert -g examples/exploded.geom -p examples/exploded.frag -so examples/exploded.so"
    "blur|-c examples/blur.comp"
    "quad_es|-t essl -v examples/quad_es.vert -p examples/quad_es.frag"
)
failed=0
for row in "${examples[@]}"; do
    read -ra arguments <<<"${row#*|}"
    for variant in plain -O; do
        # The driver writes one output a run: the shader file, then the header.
        for output in "-o|vrx" "-oh|h"; do
            # One output path for both sides, in case a file names itself.
            out=$scratch/${row%%|*}$variant.${output#*|}
            for side in linux windows; do
                run=("$linux/vrxCompile")
                [ $side = windows ] && run=("${WINE:-/usr/lib/wine/wine64}" "$windows/vrxCompile.exe")
                "${run[@]}" "${arguments[@]}" ${variant/plain/} -noquarn "${output%%|*}" "$out" \
                    </dev/null >"$out.log" 2>&1 || { echo "$side failed: $out"; cat "$out.log"; failed=1; }
                mv "$out" "$scratch/$side/" || failed=1
            done
            cmp "$scratch/linux/${out##*/}" "$scratch/windows/${out##*/}" || failed=1
        done
    done
done
[ $failed = 0 ] && echo "same output on Linux and Windows: ${#examples[@]} examples, plain and -O"
exit $failed
