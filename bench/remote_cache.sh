#!/usr/bin/env bash
# The compile cache's remote storages side by side, on the example programs
# (examples/textured: vertex and pixel; examples/exploded: vertex, geometry
# and pixel), with redis-server and nginx started on 127.0.0.1
# (scripts/remote-cache-servers.sh). Medians of REPETITIONS runs (default
# 15), the rows taking turns within each repetition:
#   cold            cache off: a real compile
#   local hit       the local cache, no remote storage named
#   local hit, remote named   the same with a Redis storage named (never asked)
#   remote hit      empty local cache, the entry in Redis / on nginx
#   miss, no remote empty local cache, no remote storage (compile and store)
#   miss, port closed   the same with a Redis storage on a closed port
#   miss, storage silent   a storage that accepts and never answers, first
#                   run (no marker) and later runs (remembered as down)
#
#     bash bench/remote_cache.sh [BUILD_FOLDER]   (default: build)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
driver=$build/bin/vrxCompile
repetitions=${REPETITIONS:-15}
work=$(mktemp -d /tmp/vrx-remote-bench.XXXXXX)
source "$repo/scripts/remote-cache-servers.sh"
silent_pid=""
trap 'stop_remote_servers; [ -z "$silent_pid" ] || kill "$silent_pid"; rm -rf "$work"' EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY VRXCOMPILE_REMOTE_CACHE VRXCOMPILE_CACHE_DIR
start_redis "$work/redis"
start_nginx "$work/nginx"
python3 "$repo/tests/toolchain/remote_fault_server.py" silent >"$work/silent.port" &
silent_pid=$!
sleep 0.3
redis=redis://127.0.0.1:$REDIS_PORT
http=http://127.0.0.1:$HTTP_PORT/cache
closed=redis://127.0.0.1:$(free_port)
silent=redis://127.0.0.1:$(cat "$work/silent.port")
export HOME=$work/home XDG_CACHE_HOME=$work/home/.cache

# Milliseconds (with a fraction) of one run of the driver on program $1.
run_ms() {
    local program=$1 start end
    shift
    local stages=(-v "$repo/examples/$program.vert" -p "$repo/examples/$program.frag")
    [ "$program" != exploded ] || stages+=(-g "$repo/examples/exploded.geom")
    start=$(date +%s%N)
    env "$@" "$driver" "${stages[@]}" -noquarn -o "$work/out.vrx" >/dev/null 2>&1
    end=$(date +%s%N)
    echo "scale=2; ($end - $start) / 1000000" | bc
}
forget_local() { rm -rf "$work/home/.cache/vrxcompile"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A samples
rows=("cold" "local hit" "local hit, remote named" "remote hit (Redis)" "remote hit (nginx)"
      "miss, no remote" "miss, port closed" "miss, storage silent (first)"
      "miss, storage silent (later)")
for program in textured exploded; do
    # Fill both storages once.
    forget_local
    run_ms "$program" VRXCOMPILE_REMOTE_CACHE="$redis $http" >/dev/null
    for _ in $(seq "$repetitions"); do
        samples["$program/cold"]+="$(run_ms "$program" VRXCOMPILE_CACHE=0) "
        samples["$program/local hit"]+="$(run_ms "$program") "
        samples["$program/local hit, remote named"]+="$(run_ms "$program" VRXCOMPILE_REMOTE_CACHE="$redis") "
        forget_local
        samples["$program/remote hit (Redis)"]+="$(run_ms "$program" VRXCOMPILE_REMOTE_CACHE="$redis") "
        forget_local
        samples["$program/remote hit (nginx)"]+="$(run_ms "$program" VRXCOMPILE_REMOTE_CACHE="$http") "
        forget_local
        samples["$program/miss, no remote"]+="$(run_ms "$program") "
        forget_local
        samples["$program/miss, port closed"]+="$(run_ms "$program" VRXCOMPILE_REMOTE_CACHE="$closed") "
        forget_local
        samples["$program/miss, storage silent (first)"]+="$(run_ms "$program" VRXCOMPILE_REMOTE_CACHE="$silent") "
        rm -f "$work/home/.cache/vrxcompile/"*.vrxc
        samples["$program/miss, storage silent (later)"]+="$(run_ms "$program" VRXCOMPILE_REMOTE_CACHE="$silent") "
    done
done
printf '%-32s %12s %12s\n' "median ms ($repetitions runs)" textured exploded
for row in "${rows[@]}"; do
    printf '%-32s' "$row"
    for program in textured exploded; do
        printf ' %12s' "$(tr ' ' '\n' <<<"${samples[$program/$row]}" | grep . | median)"
    done
    printf '\n'
done
