#!/usr/bin/env bash
# Times whole runs of vrxCompile side by side with what a user would run
# otherwise, and prints a table of medians and ratios:
#   (a) per-call cost: vrxCompile with the library doubles on a small vertex
#       and pixel program, against /bin/true (the cost of starting a process)
#       and the floor: a C program that only loads both doubles by full path,
#       once alone and once also reading the program's files (each include
#       once per stage, as the driver does) and writing them out;
#   (b) include expansion: vrxCompile with the doubles on a generated tree of
#       includes (64 MiB expanded), against cat of the same files to /dev/null,
#       with the peak memory of each from /usr/bin/time -v;
#   (c) compiling: vrxCompile with the reference libraries against
#       glslangValidator and glslc on the example programs, and vrxCompile -O
#       (every optimisation) against glslc -O;
#   (d) the compile cache: a warm run of vrxCompile on examples/textured
#       against a cold one (cache off), and a cold run that stores its entry
#       against one with the cache off, with glslc on the same program;
#   (e) a run-away include tree: 25 small files, each including the next
#       twice (2^25 includes), with the reference libraries; the includes
#       stop at their bound, and the run must end with exit code 6 and one
#       line on standard error, within 5 s and 500 MB;
#   (f) the compile service (bench/service.sh): changed programs with the
#       service warm against the same compiles in process and glslc, the
#       first call that starts it, and 16 clients at once.
# Every row but (d) runs with VRXCOMPILE_CACHE=0, so (c) compares real
# compiles and nothing is written into the user's cache.
# The commands take turns within every repetition; the median of the
# repetitions is reported.
#
#     bash bench/compare.sh [BUILD_FOLDER]      (default: build-bench)
#
# Settings (environment): REPETITIONS (default 11), TREE_MIB (default 64).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build-bench}" && pwd)"
repetitions="${REPETITIONS:-11}"
tree_mib="${TREE_MIB:-64}"

timer="$build/bin/vrx_process_timer"
make_tree="$build/bin/vrx_make_include_tree"
floor="$build/bin/vrx_dlopen_floor"
for tool in "$timer" "$make_tree" "$floor" "$build/bin/vrxCompile" \
            "$build/doubles/mendrix-full/libmendrix.so" "$build/doubles/tmb-full/libtmb.so"; do
    if [ ! -e "$tool" ]; then
        echo "missing $tool: build first (cmake --build $build)" >&2
        exit 1
    fi
done
for tool in /usr/bin/time glslangValidator glslc; do
    if ! command -v "$tool" >/dev/null; then
        echo "missing $tool: run scripts/install-dependencies.sh" >&2
        exit 1
    fi
done

work="$build/bench-run"
mkdir -p "$work/doubles" "$work/peers" "$work/out"
# The driver finds the libraries in its own folder, so the doubles run beside
# a copy of it.
cp -f "$build/bin/vrxCompile" "$work/doubles/vrxCompile"
cp -f "$build/doubles/mendrix-full/libmendrix.so" "$work/doubles/libmendrix.so"
cp -f "$build/doubles/tmb-full/libtmb.so" "$work/doubles/libtmb.so"
doubles_driver="$work/doubles/vrxCompile"
reference_driver="$build/bin/vrxCompile"
unset VRXDOUBLE_LOG VRXCOMPILE_OPTIMIZE VRXCOMPILE_CACHE_DIR VRXCOMPILE_CACHE_MAX_SIZE || true
export VRXCOMPILE_CACHE=0

# Field N of the timer's line for LABEL.
field() { awk -v label="$2" -v column="$3" '$1 == label { print $column }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Peak resident memory in KiB of one run of the command.
peak_kib() {
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}

rows=()
row() { rows+=("$(printf '%-4s %-44s %12s %10s %s' "$@")"); }

echo "== (a) per-call cost: vrxCompile with the doubles against /bin/true and the dlopen floor"
# The output goes to a memory file system where there is one, so that the
# disk's cost of replacing a file is not counted as the driver's; a second
# row writes it into the build folder.
memory_out="$work/out"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    memory_out="$(mktemp -d /dev/shm/vrx-bench.XXXXXX)"
    trap 'rm -rf "$memory_out"' EXIT
fi
small_program=(-v "$repo/examples/textured.vert" -p "$repo/examples/textured.frag")
"$timer" "$repetitions" 200 \
    @vrxCompile "$doubles_driver" "${small_program[@]}" -o "$memory_out/a.vrx" \
    @true /bin/true \
    @floor "$floor" "$work/doubles/libmendrix.so" "$work/doubles/libtmb.so" \
    @floor-files "$floor" "$work/doubles/libmendrix.so" "$work/doubles/libtmb.so" \
        "$memory_out/floor.out" "$repo/examples/textured.vert" "$repo/examples/common.glsl" \
        "$repo/examples/textured.frag" "$repo/examples/common.glsl" \
    @vrxCompile-disk "$doubles_driver" "${small_program[@]}" -o "$work/out/a.vrx" \
    > "$work/a.txt"
cat "$work/a.txt"
a_vrx=$(field "$work/a.txt" vrxCompile 2)
a_disk=$(field "$work/a.txt" vrxCompile-disk 2)
a_true=$(field "$work/a.txt" true 2)
a_floor=$(field "$work/a.txt" floor 2)
a_floor_cpu=$(field "$work/a.txt" floor 6)
a_files=$(field "$work/a.txt" floor-files 2)
a_files_cpu=$(field "$work/a.txt" floor-files 6)
a_vrx_cpu=$(field "$work/a.txt" vrxCompile 6)
a_disk_cpu=$(field "$work/a.txt" vrxCompile-disk 6)
a_true_cpu=$(field "$work/a.txt" true 6)
row "(a)" "vrxCompile (doubles), textured.vert+frag" "$a_vrx ms" "$(ratio "$a_vrx" "$a_true")" \
    "target <= 1.15 and floor + 0.05; cpu $a_vrx_cpu ms, ratio $(ratio "$a_vrx_cpu" "$a_true_cpu")"
row "" "the same, output into the build folder" "$a_disk ms" "$(ratio "$a_disk" "$a_true")" \
    "cpu $a_disk_cpu ms, ratio $(ratio "$a_disk_cpu" "$a_true_cpu")"
row "" "floor: dlopen of both doubles by full path" "$a_floor ms" "$(ratio "$a_floor" "$a_true")" \
    "cpu $a_floor_cpu ms, ratio $(ratio "$a_floor_cpu" "$a_true_cpu")"
row "" "the floor, also reading the files, writing" "$a_files ms" "$(ratio "$a_files" "$a_true")" \
    "cpu $a_files_cpu ms, ratio $(ratio "$a_files_cpu" "$a_true_cpu")"
row "" "/bin/true" "$a_true ms" "1.00" "cpu $a_true_cpu ms"

echo "== (b) include expansion: a ${tree_mib} MiB tree, vrxCompile with the doubles against cat"
tree="$work/tree-${tree_mib}"
if [ ! -s "$tree/expanded-bytes" ]; then
    rm -rf "$tree"
    "$make_tree" "$tree" "$tree_mib" > "$work/expanded-bytes.tmp"
    mv "$work/expanded-bytes.tmp" "$tree/expanded-bytes"
fi
expanded=$(cat "$tree/expanded-bytes")
mapfile -t tree_files < "$tree/files.txt"
input_bytes=$(cd "$tree" && cat "${tree_files[@]}" | wc -c)
(
    cd "$tree"
    "$timer" "$(( (repetitions + 1) / 2 ))" 1 \
        @vrxCompile "$doubles_driver" -v main.vert -o "$work/out/b.vrx" \
        @cat cat "${tree_files[@]}"
) > "$work/b.txt"
cat "$work/b.txt"
b_vrx=$(field "$work/b.txt" vrxCompile 2)
b_cat=$(field "$work/b.txt" cat 2)
b_vrx_rate=$(awk -v bytes="$input_bytes" -v ms="$b_vrx" 'BEGIN { printf "%.0f", bytes / 1048576 / (ms / 1000) }')
b_cat_rate=$(awk -v bytes="$input_bytes" -v ms="$b_cat" 'BEGIN { printf "%.0f", bytes / 1048576 / (ms / 1000) }')
b_rate_ratio=$(ratio "$b_vrx_rate" "$b_cat_rate")
b_vrx_kib=$(cd "$tree" && peak_kib "$doubles_driver" -v main.vert -o "$work/out/b.vrx")
b_cat_kib=$(cd "$tree" && peak_kib cat "${tree_files[@]}")
expanded_kib=$(( expanded / 1024 ))
b_memory_ratio=$(ratio "$b_vrx_kib" "$expanded_kib")
row "(b)" "vrxCompile (doubles), ${#tree_files[@]} files" "$b_vrx ms" "" "$b_vrx_rate MiB/s"
row "" "cat of the same files > /dev/null" "$b_cat ms" "" "$b_cat_rate MiB/s"
row "" "throughput vrxCompile / cat" "" "$b_rate_ratio" "target >= 0.5"
row "" "peak memory vrxCompile / expanded text" "$b_vrx_kib KiB" "$b_memory_ratio" \
    "target <= 1.25 (expanded $expanded_kib KiB, cat $b_cat_kib KiB)"

echo "== (c) compiling the examples: vrxCompile with the reference libraries against glslangValidator and glslc"
# The peers get the same program text with the include already expanded
# (glslangValidator takes #include only behind an extension directive), and
# target OpenGL SPIR-V with locations and bindings mapped, as the reference
# compiler does.
examples="$repo/examples"
for file in textured.vert textured.frag exploded.vert exploded.geom exploded.frag blur.comp; do
    awk -v folder="$examples" '
        /^[ \t]*#[ \t]*include[ \t]+"/ {
            split($0, parts, "\""); while ((getline line < (folder "/" parts[2])) > 0) print line
            close(folder "/" parts[2]); next }
        { print }' "$examples/$file" > "$work/peers/$file"
done
programs=(
    "textured|-v $examples/textured.vert -p $examples/textured.frag|textured.vert textured.frag"
    "exploded|-v $examples/exploded.vert -g $examples/exploded.geom -p $examples/exploded.frag -so $examples/exploded.so|exploded.vert exploded.geom exploded.frag"
    "blur|-c $examples/blur.comp|blur.comp"
)
for program in "${programs[@]}"; do
    IFS='|' read -r name driver_arguments peer_files <<< "$program"
    read -ra driver_arguments <<< "$driver_arguments"
    read -ra peer_files <<< "$peer_files"
    (
        cd "$work/peers"
        "$timer" "$repetitions" 5 \
            @vrxCompile "$reference_driver" "${driver_arguments[@]}" -noquarn -o "$work/out/$name.vrx" \
            @glslangValidator glslangValidator -G --aml --amb -l "${peer_files[@]}" \
            @glslc glslc --target-env=opengl -fauto-map-locations -fauto-bind-uniforms -c "${peer_files[@]}" \
            @vrxCompile-O "$reference_driver" "${driver_arguments[@]}" -O -noquarn -o "$work/out/$name-O.vrx" \
            @glslc-O glslc -O --target-env=opengl -fauto-map-locations -fauto-bind-uniforms -c "${peer_files[@]}"
    ) > "$work/c-$name.txt"
    cat "$work/c-$name.txt"
    c_vrx=$(field "$work/c-$name.txt" vrxCompile 2)
    c_gv=$(field "$work/c-$name.txt" glslangValidator 2)
    c_glslc=$(field "$work/c-$name.txt" glslc 2)
    row "(c)" "vrxCompile (reference), $name" "$c_vrx ms" "$(ratio "$c_vrx" "$c_glslc")" \
        "vs glslc, target <= 1.0"
    row "" "glslangValidator, $name" "$c_gv ms" "$(ratio "$c_gv" "$c_glslc")" ""
    row "" "glslc, $name" "$c_glslc ms" "1.00" ""
    c_vrx_o=$(field "$work/c-$name.txt" vrxCompile-O 2)
    c_glslc_o=$(field "$work/c-$name.txt" glslc-O 2)
    row "" "vrxCompile -O (reference), $name" "$c_vrx_o ms" "$(ratio "$c_vrx_o" "$c_glslc_o")" \
        "vs glslc -O, target <= 1.2"
    row "" "glslc -O, $name" "$c_glslc_o ms" "1.00" ""
done

echo "== (d) the compile cache on examples/textured: warm and cold runs, glslc on the same program"
# The output goes to memory ($memory_out), the cache folders into the build
# folder (a disk, as the user's cache is). "cold, storing" misses every time:
# its folder is removed before each run, and so is an unused one before each
# "cold, cache off" run, so the two differ only by the cache's work.
cache_root="$work/cache"
rm -rf "$cache_root"
mkdir -p "$cache_root"
textured=(-v "$examples/textured.vert" -p "$examples/textured.frag" -noquarn)
(
    cd "$work/peers"
    "$timer" "$repetitions" 5 \
        @off env VRXCOMPILE_CACHE=0 "$reference_driver" "${textured[@]}" -o "$memory_out/d1.vrx" \
        @warm env VRXCOMPILE_CACHE=1 VRXCOMPILE_CACHE_DIR="$cache_root/warm" \
            "$reference_driver" "${textured[@]}" -o "$memory_out/d2.vrx" \
        @off-removing sh -c 'rm -rf "$0"; VRXCOMPILE_CACHE=0 exec "$@"' "$cache_root/unused" \
            "$reference_driver" "${textured[@]}" -o "$memory_out/d3.vrx" \
        @storing sh -c 'rm -rf "$0"; VRXCOMPILE_CACHE=1 VRXCOMPILE_CACHE_DIR="$0" exec "$@"' \
            "$cache_root/cold" "$reference_driver" "${textured[@]}" -o "$memory_out/d4.vrx" \
        @glslc glslc --target-env=opengl -fauto-map-locations -fauto-bind-uniforms \
            -c textured.vert textured.frag
) > "$work/d.txt"
cat "$work/d.txt"
d_off=$(field "$work/d.txt" off 2)
d_warm=$(field "$work/d.txt" warm 2)
d_off_removing=$(field "$work/d.txt" off-removing 2)
d_storing=$(field "$work/d.txt" storing 2)
d_glslc=$(field "$work/d.txt" glslc 2)
cpu() { field "$work/d.txt" "$1" 6; }
row "(d)" "vrxCompile, textured, cache off" "$d_off ms" "1.00" "cpu $(cpu off) ms"
row "" "vrxCompile, textured, warm (hit)" "$d_warm ms" "$(ratio "$d_warm" "$d_off")" \
    "target <= 0.15; cpu $(cpu warm) ms, ratio $(ratio "$(cpu warm)" "$(cpu off)")"
row "" "vrxCompile, textured, off, via sh + rm" "$d_off_removing ms" "1.00" \
    "cpu $(cpu off-removing) ms"
row "" "vrxCompile, textured, storing, via sh + rm" "$d_storing ms" \
    "$(ratio "$d_storing" "$d_off_removing")" \
    "target <= 1.03; cpu $(cpu storing) ms, ratio $(ratio "$(cpu storing)" "$(cpu off-removing)")"
row "" "glslc, textured" "$d_glslc ms" "$(ratio "$d_glslc" "$d_off")" "vs cache off"

echo "== (e) a run-away include tree: 25 files, each including the next twice"
fanout="$work/fanout"
rm -rf "$fanout"
mkdir -p "$fanout"
for level in $(seq 0 23); do
    printf '#include "f%d.glsl"\n#include "f%d.glsl"\n' $((level + 1)) $((level + 1)) \
        > "$fanout/f$level.glsl"
done
printf '// leaf\n' > "$fanout/f24.glsl"
(
    cd "$fanout"
    # Exit code 6 and one line on standard error, or the timer stops.
    "$timer" "$(( (repetitions + 1) / 2 ))" 1 \
        @fanout sh -c '"$0" -v f0.glsl -noquarn -o out.vrx 2> stderr.txt
                       [ $? -eq 6 ] && [ "$(wc -l < stderr.txt)" -eq 1 ]' "$reference_driver"
) > "$work/e.txt"
cat "$work/e.txt" "$fanout/stderr.txt"
e_fanout=$(field "$work/e.txt" fanout 2)
e_fanout_kib=$(field "$work/e.txt" fanout 5)
row "(e)" "vrxCompile (reference), 2^25-include tree" "$e_fanout ms" "" \
    "target <= 5000 ms; peak $e_fanout_kib KiB, target <= 500 MB; cpu $(field "$work/e.txt" fanout 6) ms"

# (f) brings its own repetitions (REPETITIONS, default 30) and stops its
# service before it returns.
e_repetitions=$repetitions
source "$repo/bench/service.sh" "$build"
rows+=("${service_rows[@]}")
repetitions=$e_repetitions

echo
echo "Wall-clock medians of $repetitions repetitions ((b), (e): $(( (repetitions + 1) / 2 ))), per run;"
echo "ratios against the row marked 1.00 or as stated; cpu: user + system time of the process."
printf '%-4s %-44s %12s %10s %s\n' "" "command" "median" "ratio" "note"
printf '%s\n' "${rows[@]}"
