#!/usr/bin/env bash
# Runs a command with the compile service on, in a runtime folder of its own,
# and stops every service started under it afterwards. CI runs the suite
# this way too:
#     bash scripts/with-service.sh bash scripts/test.sh
# Fails when the command fails or a service is still running at the end.
set -uo pipefail
runtime=$(mktemp -d "${TMPDIR:-/tmp}/vrxcompile-service-run.XXXXXX")
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime VRXCOMPILE_SERVICE=1
"$@"
status=$?
left=0
for lock in "$runtime"/vrxcompile/*.lock; do
    [ -e "$lock" ] || continue
    # Held lock: its pid is a live service (a free one may name a reused pid).
    flock -n "$lock" true && continue
    pid=$(head -n 1 "$lock")
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        # The lock goes with the process (a zombie no longer holds it).
        for _ in $(seq 50); do flock -n "$lock" true && break; sleep 0.1; done
        if ! flock -n "$lock" true; then
            echo "with-service: service $pid did not stop" >&2
            left=1
        fi
    fi
done
rm -rf "$runtime"
[ "$status" = 0 ] && [ "$left" = 0 ]
