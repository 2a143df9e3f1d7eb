#!/usr/bin/env bash
# The Windows build under wine must write the same bytes as the Linux build
# for the same command: each example, plain and optimised, as a .vrx and as a
# header. Run from the repository root with both builds done:
#   same_output.sh <linux bin folder> <windows bin folder> <scratch folder>
set -euo pipefail
linux=$1 windows=$2 scratch=$3
wine=${WINE:-/usr/lib/wine/wine64}
rm -rf "$scratch" && mkdir -p "$scratch" && mkdir -p "$scratch/linux" "$scratch/windows"

# name|arguments (relative paths: the same text reaches both builds)
examples=(
    "textured|-v examples/textured.vert -p examples/textured.frag"
    "exploded|-v examples/exploded.vert -g examples/exploded.geom -p examples/exploded.frag -so examples/exploded.so"
    "blur|-c examples/blur.comp"
    "quad_es|-v examples/quad_es.vert -p examples/quad_es.frag"
)
failed=0
for row in "${examples[@]}"; do
    name=${row%%|*}
    read -ra arguments <<<"${row#*|}"
    for variant in plain O; do
        extra=()
        [ "$variant" = O ] && extra=(-O)
        # The same output path on both sides, in case a file names itself.
        out=$scratch/$name-$variant
        for side in linux windows; do
            if [ "$side" = linux ]; then
                run=("$linux/vrxCompile")
            else
                run=("$wine" "$windows/vrxCompile.exe")
            fi
            "${run[@]}" "${arguments[@]}" "${extra[@]}" -noquarn -o "$out.vrx" -oh "$out.h" \
                </dev/null >"$out.log" 2>&1 || { echo "$side $name $variant failed:"; cat "$out.log"; failed=1; }
            mv "$out".* "$scratch/$side/" 2>/dev/null || true
        done
        for kind in vrx h; do
            if ! cmp "$scratch/linux/$name-$variant.$kind" "$scratch/windows/$name-$variant.$kind"; then
                failed=1
            fi
        done
    done
done
[ "$failed" = 0 ] && echo "same output on Linux and Windows: ${#examples[@]} examples, plain and -O"
exit "$failed"
