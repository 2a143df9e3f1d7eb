#!/usr/bin/env bash
# The compile service against compiles in process, on programs that change
# between runs (a constant appended to one stage, a new value every run, so
# no result can be reused; the cache is off). The changed texts are written
# before the timing, one folder per run, so the times hold the compiles
# alone:
#   - each example program with the service warm, in process, and glslc on
#     the same changed text;
#   - the first call, which starts the service (and compiles in process);
#   - 16 clients at once on the example textured, service and in process.
# The service runs in a runtime folder of the bench's own and is stopped at
# the end. Its processor time is not in the rows' cpu column: it is spent
# in the service, not the client. Run alone or from bench/compare.sh:
#     bash bench/service.sh [BUILD_FOLDER]      (default: build-bench)
# Settings (environment): REPETITIONS (default 30).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build-bench}" && pwd)"
repetitions="${REPETITIONS:-30}"
timer="$build/bin/vrx_process_timer"
driver="$build/bin/vrxCompile"
for tool in "$timer" "$driver" "$build/bin/mendrix-service"; do
    [ -e "$tool" ] || { echo "missing $tool: build first (cmake --build $build)" >&2; exit 1; }
done
command -v glslc >/dev/null || { echo "missing glslc: run scripts/install-dependencies.sh" >&2; exit 1; }

work="$build/bench-run/service"
rm -rf "$work" && mkdir -p "$work/run" "$work/out" && chmod 700 "$work/run"
unset VRXCOMPILE_CACHE_DIR VRXCOMPILE_SERVICE_DEBUG || true
# A service left by a failed run ends by itself a minute later.
export VRXCOMPILE_CACHE=0 XDG_RUNTIME_DIR="$work/run" VRXCOMPILE_SERVICE_IDLE=60
stop_service() {
    local lock pid
    for lock in "$work/run/vrxcompile/"*.lock; do
        [ -e "$lock" ] && ! flock -n "$lock" true || continue
        pid=$(head -n 1 "$lock") && kill "$pid" 2>/dev/null || true
        # The lock goes with the process (a zombie no longer holds it).
        while ! flock -n "$lock" true; do sleep 0.01; done
    done
}
standalone=false
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    standalone=true
    trap stop_service EXIT
fi

field() { awk -v label="$2" -v column="$3" '$1 == label { print $column }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
service_rows=()
row() { service_rows+=("$(printf '%-4s %-44s %12s %10s %s' "$@")"); }

# texts NAME LABEL FOLDER FILE...: copies FILE... (FOLDER holds them) into
# one folder per run of LABEL, $work/NAME/LABEL-RUN for RUN 0 (the
# warm-up) to the last, each with a constant of its own appended to the
# changed stage ($changed). The timer runs each command on the folder of
# its run ("{run}"), so no wrapper's cost is in the times.
texts() {
    local name="$1" label="$2" folder="$3" run file
    shift 3
    for run in $(seq 0 "$repetitions"); do
        mkdir -p "$work/$name/$label-$run"
        for file in "$@"; do cp "$folder/$file" "$work/$name/$label-$run/"; done
        echo "const float benchChange = $run.0;" \
            >> "$work/$name/$label-$run/$changed"
    done
}
# in_folder FOLDER ARGUMENT...: the arguments, each file name (one not
# starting with '-') made a path in FOLDER.
in_folder() {
    local folder="$1" argument
    shift
    for argument in "$@"; do
        case "$argument" in -*) printf '%s\n' "$argument" ;; *) printf '%s\n' "$folder/$argument" ;; esac
    done
}

examples="$repo/examples"
programs=(
    "textured|textured.frag|-v textured.vert -p textured.frag|textured.vert textured.frag"
    "exploded|exploded.frag|-v exploded.vert -g exploded.geom -p exploded.frag -so exploded.so|exploded.vert exploded.geom exploded.frag"
    "blur|blur.comp|-c blur.comp|blur.comp"
)
echo "== (f) the compile service on changed programs (cache off)"
for program in "${programs[@]}"; do
    IFS='|' read -r name changed driver_arguments peer_files <<< "$program"
    read -ra driver_arguments <<< "$driver_arguments"
    read -ra peer_files <<< "$peer_files"
    # The driver's copies keep their includes; glslc's have them expanded.
    mkdir -p "$work/$name/peer"
    for file in "${peer_files[@]}"; do
        awk -v folder="$examples" '
            /^[ \t]*#[ \t]*include[ \t]+"/ {
                split($0, parts, "\""); while ((getline line < (folder "/" parts[2])) > 0) print line
                close(folder "/" parts[2]); next }
            { print }' "$examples/$file" > "$work/$name/peer/$file"
    done
    own_files=()
    for file in "$examples"/*; do [ -f "$file" ] && own_files+=("${file##*/}"); done
    texts "$name" s "$examples" "${own_files[@]}"
    texts "$name" in "$examples" "${own_files[@]}"
    texts "$name" glslc "$work/$name/peer" "${peer_files[@]}"
    mapfile -t served < <(in_folder "$work/$name/s-{run}" "${driver_arguments[@]}")
    mapfile -t local_run < <(in_folder "$work/$name/in-{run}" "${driver_arguments[@]}")
    mapfile -t peer_run < <(in_folder "$work/$name/glslc-{run}" "${peer_files[@]}")
    (
        cd "$work/$name"
        VRXCOMPILE_SERVICE=1 "$driver" "${served[@]//\{run\}/0}" -noquarn -o "$work/out/warmup.vrx"
        sleep 1
        "$timer" "$repetitions" 1 \
            @service env VRXCOMPILE_SERVICE=1 "$driver" "${served[@]}" -noquarn \
                -o "$work/out/$name-s.vrx" \
            @in-process env VRXCOMPILE_SERVICE=0 "$driver" "${local_run[@]}" -noquarn \
                -o "$work/out/$name-p.vrx" \
            @glslc glslc --target-env=opengl -fauto-map-locations -fauto-bind-uniforms -c \
                "${peer_run[@]}"
    ) > "$work/f-$name.txt"
    cat "$work/f-$name.txt"
    f_service=$(field "$work/f-$name.txt" service 2)
    f_local=$(field "$work/f-$name.txt" in-process 2)
    f_glslc=$(field "$work/f-$name.txt" glslc 2)
    row "(f)" "vrxCompile, $name changed, service warm" "$f_service ms" \
        "$(ratio "$f_service" "$f_local")" "vs in process, target <= 0.25; vs glslc $(ratio "$f_service" "$f_glslc")"
    row "" "vrxCompile, $name changed, in process" "$f_local ms" "1.00" ""
    row "" "glslc, $name changed" "$f_glslc ms" "$(ratio "$f_glslc" "$f_local")" "vs in process"
done

# The first call: no service running; it starts one and compiles in
# process. Both rows first stop whatever service runs, so both pay that.
own="$work/textured/own"
mkdir -p "$own"
for file in "$examples"/*; do [ -f "$file" ] && cp "$file" "$own/"; done
cp "$own/textured.frag" "$own/textured.frag.base"
cat > "$work/first.sh" <<'SCRIPT'
# first.sh SERVICE(0|1) FOLDER DRIVER OUTPUT
for lock in "$XDG_RUNTIME_DIR"/vrxcompile/*.lock; do
    [ -e "$lock" ] && ! flock -n "$lock" true || continue
    pid=$(head -n 1 "$lock") && kill "$pid" 2>/dev/null || continue
    while ! flock -n "$lock" true; do sleep 0.01; done
done
cd "$2" || exit 1
n=$(($(cat textured.frag.count 2>/dev/null || echo 0) + 1)) && echo "$n" > textured.frag.count
{ cat textured.frag.base; echo "const float benchChange = $n.0;"; } > textured.frag
VRXCOMPILE_SERVICE=$1 exec "$3" -v textured.vert -p textured.frag -noquarn -o "$4"
SCRIPT
"$timer" "$(( (repetitions + 1) / 2 ))" 1 \
    @first bash "$work/first.sh" 1 "$own" "$driver" "$work/out/first.vrx" \
    @in-process bash "$work/first.sh" 0 "$own" "$driver" "$work/out/first-p.vrx" \
    > "$work/f-first.txt"
cat "$work/f-first.txt"
f_first=$(field "$work/f-first.txt" first 2)
f_first_local=$(field "$work/f-first.txt" in-process 2)
row "" "first call (starts the service), textured" "$f_first ms" \
    "$(ratio "$f_first" "$f_first_local")" "vs in process, target <= 1.3"
row "" "the same in process (after the same stop)" "$f_first_local ms" "1.00" ""

# 16 clients at once, each on its own changed copy of textured.
for i in $(seq 16); do
    mkdir -p "$work/parallel/$i" && cp "$own"/*.vert "$own"/*.glsl "$own/textured.frag.base" \
        "$work/parallel/$i/"
done
cat > "$work/parallel.sh" <<'SCRIPT'
# parallel.sh SERVICE(0|1) FOLDER DRIVER: 16 changed compiles at once.
for i in $(seq 16); do
    (
        cd "$2/$i" || exit 1
        n=$(($(cat textured.frag.count 2>/dev/null || echo 0) + 1)) && echo "$n" > textured.frag.count
        { cat textured.frag.base; echo "const float benchChange = $n.0;"; } > textured.frag
        VRXCOMPILE_SERVICE=$1 exec "$3" -v textured.vert -p textured.frag -noquarn -o out.vrx
    ) &
done
wait
SCRIPT
(cd "$own" && VRXCOMPILE_SERVICE=1 "$driver" -v textured.vert -p textured.frag -noquarn \
    -o "$work/out/warm.vrx") && sleep 1
"$timer" "$(( (repetitions + 1) / 2 ))" 1 \
    @parallel-service bash "$work/parallel.sh" 1 "$work/parallel" "$driver" \
    @parallel-in-process bash "$work/parallel.sh" 0 "$work/parallel" "$driver" \
    > "$work/f-parallel.txt"
cat "$work/f-parallel.txt"
f_par=$(field "$work/f-parallel.txt" parallel-service 2)
f_par_local=$(field "$work/f-parallel.txt" parallel-in-process 2)
row "" "16 clients at once, textured, service" "$f_par ms" "$(ratio "$f_par" "$f_par_local")" \
    "vs in process, target <= 1.0 ($(nproc) processors)"
row "" "16 clients at once, textured, in process" "$f_par_local ms" "1.00" ""

stop_service
if $standalone; then
    echo
    printf '%-4s %-44s %12s %10s %s\n' "" "command" "median" "ratio" "note"
    printf '%s\n' "${service_rows[@]}"
fi
