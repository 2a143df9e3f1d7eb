#!/usr/bin/env bash
# Cross-builds everything for 64-bit Windows with mingw-w64 and runs every
# test under wine, then checks that the shipped files need no DLL beyond the
# system's and that the examples compile to the same bytes as on Linux.
# Output lands in build-windows/, wine's prefix in build-windows/wine/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-packages.sh cmake ninja-build g++-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 wine64 googletest libxxhash-dev

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# The same prefix and settings as the emulator command in the preset.
export WINEPREFIX="$PWD/build-windows/wine"
export WINEDEBUG=-all

# Configuring builds the front end for mingw (scripts/build-front-end.sh),
# once per machine.
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

# Only system DLLs may be imported: the files are copied anywhere on their own.
bin=build-windows/bin
system_dlls='^(kernel32|msvcrt|user32|advapi32|shell32|ole32|oleaut32|ws2_32|bcrypt|ntdll|shlwapi|version|api-ms-win-[a-z0-9-]+)\.dll$'
for file in vrxCompile.exe vrxInfo.exe mendrix.dll tmb.dll; do
    [ -f "$bin/$file" ] || { echo "missing $bin/$file" >&2; exit 1; }
    imports=$(x86_64-w64-mingw32-objdump -p "$bin/$file" | sed -n 's/^\s*DLL Name: //p')
    foreign=$(grep -viE "$system_dlls" <<<"$imports" || true)
    [ -z "$foreign" ] || { echo "$file imports non-system DLLs: $foreign" >&2; exit 1; }
done
echo "imports: system DLLs only"

# The Linux build of the same tree (a no-op after scripts/test.sh).
bash scripts/install-dependencies.sh
cmake --preset linux >/dev/null
cmake --build --preset linux
bash tests/windows/same_output.sh build/bin "$bin" build-windows/same-output
