#!/usr/bin/env bash
# The compile service end to end, in a runtime folder of the test's own:
# started by the first compile (which a pipe on its output does not
# outlast), then compiling byte for byte what a compile in process gives;
# a child that crashes or hangs, a stale socket, a folder that is a link, a
# socket path too long and a client of another user all end in a correct
# compile; idleness and a removed folder end the service. Run as:
#   mendrix_service_test.sh <vrxCompile> <mendrix-service-faults> <examples> <corpus> <work>
set -euo pipefail
driver=$1 faults=$2 examples=$3 corpus=$4 work=$5
rm -rf "$work" && mkdir -p "$work"
# The runtime folder has a short path of its own: a socket's path must fit
# a socket address, and build folders can be deep.
runtime=$(mktemp -d "${TMPDIR:-/tmp}/vrxsvc.XXXXXX")
unset VRXCOMPILE_CACHE_DIR VRXCOMPILE_REMOTE_CACHE XDG_CACHE_HOME
export XDG_RUNTIME_DIR=$runtime VRXCOMPILE_CACHE=0 VRXCOMPILE_SERVICE=1 \
    VRXCOMPILE_SERVICE_DEBUG=1 VRXCOMPILE_SERVICE_IDLE=120 HOME=$work/home
folder=$XDG_RUNTIME_DIR/vrxcompile
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

service_pid() { cat "$folder"/*.lock 2>/dev/null | head -n 1 || true; }
socket_path() { ls "$folder"/*.sock 2>/dev/null | head -n 1 || true; }
# Running, not just a zombie waiting for the machine's init to reap it.
alive() { [ -n "$1" ] && [ -e "/proc/$1" ] && [ "$(cut -d ' ' -f 3 "/proc/$1/stat" 2>/dev/null)" != Z ]; }
# wait_until SECONDS COMMAND...: true once the command succeeds.
wait_until() {
    local tries=$(($1 * 10))
    shift
    while ((tries-- > 0)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
gone() { ! alive "$1"; }
listening() { local pid; pid=$(service_pid); alive "$pid" && [ -S "$(socket_path)" ]; }
stop_service() {
    local pid
    pid=$(service_pid)
    if alive "$pid"; then
        kill "$pid"
        wait_until 10 gone "$pid" || fail "service $pid did not stop"
    fi
}
faults_pid=
stop_faults() {
    if alive "$faults_pid"; then
        pkill -KILL -P "$faults_pid" || true
        kill "$faults_pid" && wait "$faults_pid" 2>/dev/null || true
    fi
}
trap 'stop_faults; stop_service; rm -rf "$runtime"' EXIT

# compile NAME ARGS...: runs the driver in $work/NAME (fresh); sets status,
# how (the service's lines) and err (the other lines of standard error).
compile() {
    local name=$1
    shift
    rm -rf "${work:?}/$name" && mkdir -p "$work/$name"
    status=0
    (cd "$work/$name" && timeout 60 "$driver" "$@" >stdout 2>stderr.all) || status=$?
    how=$(grep '^vrxcompile service: ' "$work/$name/stderr.all" || true)
    grep -v '^vrxcompile service: ' "$work/$name/stderr.all" >"$work/$name/stderr" || true
    rm "$work/$name/stderr.all"
}
expect_how() { [[ "$how" == *"$2"* ]] || fail "$1: no '$2' in: $how"; }
# same_as_in_process NAME ARGS...: the run's files, output and exit equal
# those of the same run in process.
same_as_in_process() {
    local name=$1 served_status=$status
    shift
    VRXCOMPILE_SERVICE=0 compile "$name.local" "$@"
    [ "$status" = "$served_status" ] && diff -r "$work/$name" "$work/$name.local" >/dev/null ||
        fail "$name: differs from the compile in process (exit $served_status, $status)"
}

textured=(-v "$examples/textured.vert" -p "$examples/textured.frag" -o out.vrx)

# First use under a pipe: the compile starts the service and compiles in
# process, and the pipe closes when the driver ends, not when the service does.
start=$(date +%s)
"$driver" "${textured[@]/out.vrx/$work/piped.vrx}" 2>&1 | cat >"$work/piped.log"
(($(date +%s) - start < 10)) || fail "pipe held open by the service"
grep -q 'vrxcompile service: compiled in process: started ' "$work/piped.log" ||
    fail "first use: $(cat "$work/piped.log")"
wait_until 10 listening || fail "no service listening after the first use"
pid=$(service_pid)
[ "$(readlink "/proc/$pid/cwd")" = / ] || fail "service's working folder is not /"
[ "$(ps -o sid= -p "$pid")" != "$(ps -o sid= -p $$)" ] || fail "service shares the test's session"
for fd in /proc/"$pid"/fd/*; do
    target=$(readlink "$fd" || true)
    case "${fd##*/}:$target" in
        [012]:/dev/null | *:socket:* | *:"$folder"/*.lock) ;;
        *) fail "service holds inherited descriptor ${fd##*/} -> $target" ;;
    esac
done
[ "$(stat -c %a "$folder") $(stat -c %a "$(socket_path)")" = "700 600" ] ||
    fail "socket folder or socket not private"

# Warm: byte for byte what a compile in process gives, warnings and errors
# included, the debug file written by the client against its own folder.
cases=(
    "plain|${textured[*]}"
    "optimised|-c $examples/blur.comp -O -o out.vrx"
    "warnings|-v $corpus/remote/lit.vert -p $corpus/remote/lit.frag -o out.vrx"
    "errors|-p $corpus/invalid_undeclared.frag -o out.vrx"
    "debug file|-v $examples/exploded.vert -g $examples/exploded.geom -p $examples/exploded.frag -so $examples/exploded.so -quarndir debug -o out.vrx"
)
for row in "${cases[@]}"; do
    name=${row%%|*}
    read -r -a args <<<"${row#*|}"
    compile "$name" "${args[@]}"
    expect_how "$name" "compiled by the service"
    same_as_in_process "$name" "${args[@]}"
done
ls "$work/debug file/debug/"*.quarn >/dev/null 2>&1 || fail "debug file: no debug file written"

# A client of another user that can reach the socket is sent away unanswered.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && [ -x /usr/bin/python3 ]; then
    chmod 711 "$runtime" "$folder" && chmod 666 "$(socket_path)"
    answer=$(setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX); s.settimeout(5); s.connect(sys.argv[1])
print(repr(s.recv(1)))' "$(socket_path)" 2>&1 || true)
    [ "$answer" = "b''" ] || fail "another user's client got: $answer"
    chmod 700 "$runtime" "$folder" && chmod 600 "$(socket_path)"
else
    echo "note: the other user's client needs root, setpriv and /usr/bin/python3; not run"
fi

# A stale socket (its service killed) is replaced by the next start.
pid=$(service_pid)
kill -KILL "$pid" && wait_until 5 gone "$pid"
compile stale "${textured[@]}"
expect_how stale "started"
same_as_in_process stale "${textured[@]}"
wait_until 10 listening || fail "stale socket: no new service"
compile stale-served "${textured[@]}"
expect_how stale-served "compiled by the service"

# Eight clients finding no service at once: all compile correctly, and one
# service stays (the others lose the lock and leave).
stop_service
for i in 1 2 3 4 5 6 7 8; do
    compile "race-$i" "${textured[@]}" &
done
wait
for i in 1 2 3 4 5 6 7 8; do
    cmp -s "$work/race-$i/out.vrx" "$work/plain/out.vrx" || fail "race $i: output differs"
done
wait_until 10 listening || fail "race: no service"
sleep 1
[ "$(pgrep -c -f "mendrix-service $(socket_path)")" = 1 ] || fail "race: not exactly one service"

# A child that crashes or hangs costs its own request only.
stop_service
"$faults" "$(socket_path)" </dev/null >/dev/null 2>&1 &
faults_pid=$!
wait_until 10 listening || fail "the faults service does not listen"
for fault in abort hang; do
    mkdir -p "$work/sources"
    { cat "$examples/textured.frag" && echo "// service-test: $fault"; } >"$work/sources/$fault.frag"
    cp "$examples/"*.glsl "$work/sources/"
    args=(-v "$examples/textured.vert" -p "$work/sources/$fault.frag" -o out.vrx)
    compile "$fault" "${args[@]}"
    expect_how "$fault" "compiled in process"
    same_as_in_process "$fault" "${args[@]}"
    compile "after-$fault" "${textured[@]}"
    expect_how "after-$fault" "compiled by the service"
done
stop_faults

# The socket's folder must be the user's own, and the path fit an address.
rm -rf "$folder" && mkdir "$work/elsewhere" && ln -s "$work/elsewhere" "$folder"
compile link "${textured[@]}"
expect_how link "socket folder refused"
same_as_in_process link "${textured[@]}"
[ -z "$(ls "$work/elsewhere")" ] || fail "link: something was made behind the link"
rm "$folder"
long=$runtime/$(printf 'l%.0s' {1..100})
mkdir -p "$long"
XDG_RUNTIME_DIR=$long compile long "${textured[@]}"
expect_how long "longer than a socket address holds"

# Idle, and a removed folder, end the service.
VRXCOMPILE_SERVICE_IDLE=2 compile idle "${textured[@]}"
wait_until 10 listening && pid=$(service_pid) || fail "idle: not started"
wait_until 10 gone "$pid" || fail "idle: service $pid still running"
compile removed "${textured[@]}"
wait_until 10 listening && pid=$(service_pid) || fail "removed: not started"
rm -rf "$folder"
wait_until 10 gone "$pid" || fail "removed: service $pid still running without its folder"

# Off: no line, no folder.
VRXCOMPILE_SERVICE=0 compile off "${textured[@]}"
[ -z "$how" ] && [ ! -e "$folder" ] || fail "off: the service was used"

[ "$failures" = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "compile service: all cases passed"
