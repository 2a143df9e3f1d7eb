#!/usr/bin/env bash
# Checks the toolchain as users get it:
# - the manual pages format without a warning;
# - libmendrix.so exports its five entry points and nothing else;
# - the .deb holds the driver, the libraries, the inspector, the manual
#   pages, the docs and the CMake package, depends on the run times only,
#   and once unpacked (dpkg -x, never installed) compiles the examples;
# - a CMake project built against an installed prefix (Ninja and Makefiles)
#   rebuilds exactly the program whose included file changed;
# - plain Ninja and Make do the same through the dependency file, with file
#   names that need escaping;
# - the Windows .zip holds what a user needs.
# Runs after scripts/test.sh and scripts/test-windows.sh (it reuses build/
# and build-windows/, and builds what is missing).
set -euo pipefail
export VRXCOMPILE_CACHE=0
cd "$(dirname "$0")/.."
repo=$PWD

bash scripts/install-dependencies.sh
bash scripts/install-packages.sh dpkg-dev groff-base make ninja-build

work=$(mktemp -d "${TMPDIR:-/tmp}/vrx-packaging.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
# Runs a command with the environment of a fresh shell as far as the driver
# cares: no library path, no optimisation list, no dependency file.
clean() { env -u LD_LIBRARY_PATH -u VRXCOMPILE_OPTIMIZE -u VRXCOMPILE_DEPFILE "$@"; }
# The sorted list of files (not folders) in a package listing on stdin.
same_list() { diff -u <(printf '%s\n' "$1" | sort) <(printf '%s\n' "$2" | sort) || fail "$3"; }

echo "== manual pages"
for page in docs/man/*.1; do
    warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
done

echo "== .deb"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
rm -f build/vrxcompile_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/vrxcompile_*.deb)
same_list "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }')" "./usr/bin/vrxCompile
./usr/bin/vrxInfo
./usr/lib/vrxcompile/libmendrix.so
./usr/lib/vrxcompile/libtmb.so
./usr/lib/cmake/vrxCompile/vrxCompileConfig.cmake
./usr/lib/cmake/vrxCompile/vrxCompileConfigVersion.cmake
./usr/lib/cmake/vrxCompile/vrxCompileTargets.cmake
./usr/lib/cmake/vrxCompile/vrxCompileTargets-release.cmake
./usr/share/man/man1/vrxCompile.1
./usr/share/man/man1/vrxInfo.1
./usr/share/doc/vrxcompile/README.md
./usr/share/doc/vrxcompile/mendrix.md
./usr/share/doc/vrxcompile/vrx-format.md" "contents of $deb"
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in ${depends//,/ }; do
    case "$dependency" in
        libc6 | libgcc-s1 | libstdc++6 | \(* | *\)) ;;
        *) fail "unexpected run-time dependency in '$depends'" ;;
    esac
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "libhiredis0.14, libcurl4" ] ||
    fail "the package does not recommend the remote storage's client libraries"
version=$(sed -n 's/.*VRX_VERSION_STRING "\(.*\)"/\1/p' build/generated/vrx_version.h)
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"

echo "== libmendrix.so exports its entry points only"
# The front end is linked in statically; none of its symbols may leave.
same_list "$(nm -D --defined-only build/bin/libmendrix.so | awk '{ print $3 }')" "VRX2CompileProgram3
VRX2Destroy
VRX2DestroyPT4Program3
VRX2GetABIVersion
VRX2Initialize" "symbols exported by libmendrix.so"

echo "== the unpacked .deb compiles the examples"
dpkg -x "$deb" "$work/deb"
cp -r examples "$work/deb-examples"
(
    cd "$work/deb-examples"
    driver="$work/deb/usr/bin/vrxCompile"
    clean "$driver" -v textured.vert -p textured.frag -noquarn -o textured.vrx
    clean "$driver" -v exploded.vert -g exploded.geom -p exploded.frag -so exploded.so \
        -noquarn -o exploded.vrx
    clean "$driver" -t essl -v quad_es.vert -p quad_es.frag -noquarn -o quad_es.vrx
    clean "$driver" -c blur.comp -O -noquarn -o blur.vrx
    clean "$work/deb/usr/bin/vrxInfo" --check textured.vrx exploded.vrx quad_es.vrx blur.vrx
    [ "$(clean "$work/deb/usr/bin/vrxInfo" --version | head -n 1)" = "vrxInfo $version" ] ||
        fail "vrxInfo --version"
)

echo "== CMake package from an installed prefix"
cmake --install build --prefix "$work/prefix" >/dev/null
programs="blur exploded quad_es textured"
# Builds the consumer project, edits the file that only textured includes,
# and expects exactly textured.vrx to be made again.
check_consumer() {
    local generator=$1 copy=$2
    cp -r examples "$copy"
    clean cmake -S "$copy/cmake" -B "$copy/build" -G "$generator" \
        -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
    clean cmake --build "$copy/build" >/dev/null
    for program in $programs; do
        [ -s "$copy/build/shaders/$program.vrx" ] || fail "$generator: $program.vrx not built"
    done
    touch "$copy/marker"
    clean cmake --build "$copy/build" >/dev/null
    [ -z "$(find "$copy/build/shaders" -name '*.vrx' -newer "$copy/marker")" ] ||
        fail "$generator: an unchanged program was rebuilt"
    echo "// edited" >>"$copy/common.glsl"
    clean cmake --build "$copy/build" >/dev/null
    same_list "$(cd "$copy/build/shaders" && find . -name '*.vrx' -newer "$copy/marker")" \
        "./textured.vrx" "$generator: programs rebuilt after editing common.glsl"
}
check_consumer Ninja "$work/consumer-ninja"
check_consumer "Unix Makefiles" "$work/consumer-make"

echo "== Ninja and Make through the dependency file"
# A program whose include lies in a folder whose name needs escaping.
setup_program() {
    mkdir -p "$1/inc #1 \$x"
    cp examples/textured.vert examples/textured.frag examples/quad_es.vert examples/quad_es.frag "$1/"
    sed -i 's|#include "common.glsl"|#include "inc #1 $x/common.glsl"|' "$1/textured.vert" "$1/textured.frag"
    cp examples/common.glsl "$1/inc #1 \$x/"
}
driver="$work/prefix/bin/vrxCompile"
setup_program "$work/ninja"
cat >"$work/ninja/build.ninja" <<NINJA
rule vrx
  command = env VRXCOMPILE_DEPFILE=\$out.d $driver \$flags -noquarn -o \$out
  depfile = \$out.d
  deps = gcc
build textured.vrx: vrx textured.vert textured.frag
  flags = -v textured.vert -p textured.frag
build quad_es.vrx: vrx quad_es.vert quad_es.frag
  flags = -t essl -v quad_es.vert -p quad_es.frag
NINJA
setup_program "$work/make"
printf '%s\n' \
    "all: textured.vrx quad_es.vrx" \
    "textured.vrx: textured.vert textured.frag" \
    "	VRXCOMPILE_DEPFILE=\$@.d $driver -v textured.vert -p textured.frag -noquarn -o \$@" \
    "quad_es.vrx: quad_es.vert quad_es.frag" \
    "	VRXCOMPILE_DEPFILE=\$@.d $driver -t essl -v quad_es.vert -p quad_es.frag -noquarn -o \$@" \
    "-include textured.vrx.d quad_es.vrx.d" >"$work/make/Makefile"
for tool in ninja make; do
    folder="$work/$tool"
    (cd "$folder" && clean "$tool" >/dev/null)
    # Ninja moves the dependency file into its own log, unescaped; Make reads
    # the file as written.
    if [ "$tool" = ninja ]; then
        listed=$(cd "$folder" && ninja -t deps textured.vrx)
        expected="$folder/inc #1 \$x/common.glsl"
    else
        listed=$(cat "$folder/textured.vrx.d")
        expected='inc\ \#1\ $$x/common.glsl'
    fi
    grep -qF "$expected" <<<"$listed" || fail "$tool: the include is not listed as $expected"
    touch "$folder/marker"
    (cd "$folder" && clean "$tool" >/dev/null)
    [ -z "$(find "$folder" -name '*.vrx' -newer "$folder/marker")" ] ||
        fail "$tool: an unchanged program was rebuilt"
    echo "// edited" >>"$folder/inc #1 \$x/common.glsl"
    (cd "$folder" && clean "$tool" >/dev/null)
    same_list "$(cd "$folder" && find . -name '*.vrx' -newer marker)" "./textured.vrx" \
        "$tool: programs rebuilt after editing the include"
done

echo "== Windows .zip"
bash scripts/install-packages.sh g++-mingw-w64-x86-64-posix googletest
cmake --preset windows >/dev/null
cmake --build --preset windows
rm -f build-windows/vrxcompile-*.zip
(cd build-windows && cpack -G ZIP >/dev/null)
zip=$(ls build-windows/vrxcompile-*.zip)
top=$(basename "$zip" .zip)
expected="$top/bin/vrxCompile.exe
$top/bin/vrxInfo.exe
$top/lib/vrxcompile/mendrix.dll
$top/lib/vrxcompile/tmb.dll
$top/lib/cmake/vrxCompile/vrxCompileConfig.cmake
$top/lib/cmake/vrxCompile/vrxCompileConfigVersion.cmake
$top/lib/cmake/vrxCompile/vrxCompileTargets.cmake
$top/lib/cmake/vrxCompile/vrxCompileTargets-release.cmake
$top/share/man/man1/vrxCompile.1
$top/share/man/man1/vrxInfo.1
$top/share/doc/vrxcompile/README.md
$top/share/doc/vrxcompile/mendrix.md
$top/share/doc/vrxcompile/vrx-format.md"
same_list "$(cmake -E tar tf "$zip" | grep -v '/$')" "$expected" "contents of $zip"

echo "packaging checks passed"
