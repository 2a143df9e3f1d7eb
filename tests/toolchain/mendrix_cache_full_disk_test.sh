#!/usr/bin/env bash
# With the compile cache on, a run on a nearly full disk ends as it does with
# the cache off: same exit code, same output. A small tmpfs in a private
# mount namespace stands for the full disk (never the real one); it needs
# root, else the test is skipped (exit 77).
#   mendrix_cache_full_disk_test.sh <vrxCompile> <examples folder> <work folder>
set -euo pipefail
driver=$1 examples=$2 work=$3
if [ "$(id -u)" != 0 ] || ! unshare -m true 2>/dev/null; then
    echo "skipped: a private mount namespace needs root"
    exit 77
fi
rm -rf "$work"
mkdir -p "$work/disk"
export DRIVER=$driver EXAMPLES=$examples DISK=$work/disk
exec timeout 120 unshare -m bash -euo pipefail <<'NAMESPACE'
mount -t tmpfs -o size=512k tmpfs "$DISK"
run() {  # cache switch, output name: prints the exit code
    local status=0
    VRXCOMPILE_CACHE=$1 VRXCOMPILE_CACHE_DIR="$DISK/cache" timeout 30 "$DRIVER" \
        -v "$EXAMPLES/textured.vert" -p "$EXAMPLES/textured.frag" -noquarn -o "$DISK/$2" \
        >/dev/null 2>&1 || status=$?
    echo "$status"
}
# The cache folder exists already (a run that stores nothing makes it).
VRXCOMPILE_CACHE_MAX_SIZE=0 run 1 probe.vrx >/dev/null
size=$(stat -c %s "$DISK/probe.vrx")
rm "$DISK/probe.vrx"
# Leave free exactly the pages the output takes.
read -r blocks block_size < <(stat -f -c '%a %S' "$DISK")
fallocate -l $(( blocks * block_size - (size + 4095) / 4096 * 4096 )) "$DISK/filler"
off=$(run 0 off.vrx)
cp "$DISK/off.vrx" "$DISK/../off.vrx" 2>/dev/null || true
rm -f "$DISK/off.vrx"
on=$(run 1 on.vrx)
if [ "$off" != 0 ] || [ "$on" != "$off" ] || ! cmp -s "$DISK/on.vrx" "$DISK/../off.vrx"; then
    echo "cache off: exit $off; cache on: exit $on, or another output"
    exit 1
fi
echo "cache on and off: exit 0 and the same output on a full disk"
NAMESPACE
