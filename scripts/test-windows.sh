#!/usr/bin/env bash
# Cross-builds everything for 64-bit Windows with mingw-w64 and runs every
# test under wine. Output lands in build-windows/, wine's prefix in
# build-windows/wine/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-packages.sh cmake ninja-build g++-mingw-w64-x86-64-posix wine64 googletest

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# The same prefix and settings as the emulator command in the preset.
export WINEPREFIX="$PWD/build-windows/wine"
export WINEDEBUG=-all

cmake --preset windows

# The prefix is made once, while the build runs: its first start takes
# seconds and talks on standard error. No Mono or Gecko is needed.
booting=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init </dev/null >/dev/null 2>&1 &
    booting=$!
fi
cmake --build --preset windows
if [ -n "$booting" ]; then
    wait "$booting"
    "$wineserver" -w
fi

# One persistent wineserver for the whole run, so each process starts fast.
# It is started here and not by the first test: a server started inside
# ctest's process tree keeps ctest's pipes open and ctest never ends.
"$wineserver" -p </dev/null >/dev/null 2>&1
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
# Likewise wine's own background processes (services, explorer): the first
# program started brings them up, and they would inherit its output pipes.
"$wine" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
ctest --preset windows
# Parallel appends through the Windows build: fewer writers, since every
# process start under wine is slow.
bash scripts/parallel-append.sh build-windows/bin 8 20 "$wine"
