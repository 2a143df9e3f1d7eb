#!/usr/bin/env bash
# Builds the compiler library's front end: SPIRV-Tools (its core and its
# optimiser) and glslang, static, from the Debian source packages pinned
# below, with Debian's own patches and then ours (toolchain/glslang-patches/)
# applied. For the host (position-independent, with glslangValidator built
# from the same sources, the tests' oracle) or for 64-bit Windows with
# mingw-w64. Prints the installed prefix on standard output; progress and
# everything else go to standard error.
#
# Usage: scripts/build-front-end.sh host|mingw
#
# The prefix is cached in /var/cache/vrxcompile-front-end/<key> (or in
# $VRX_FRONT_END_CACHE; ~/.cache/vrxcompile-front-end when /var/cache cannot
# be written), the key made of the target, the pinned versions, the content
# of our patch series, the compiler, the toolchain file and the recipe number
# below. Its file front-end.key holds that key text; CMake reads it.
# SPIRV-Tools, which our patches do not touch, is cached beside it under a
# key of its own, so that a changed patch rebuilds glslang only. Both are
# built in a temporary folder and renamed into place only when complete, so
# a killed build never leaves half a prefix. A lock per target keeps two runs
# from building it at once. A build that read a glslang, SPIRV-Tools or SPIR-V header
# of the system's packages instead of its own fails.
#
# The sources come from the package archive only: apt reads the pinned
# release's signed source index through a private configuration (its own
# sources, lists and cache folders; the machine's apt set-up is not touched),
# and each file is downloaded on its own and checked against the SHA-256 of
# that index. The .dsc files are not used: the original tarball is unpacked
# and the patches of Debian's tarball (debian/patches/series) are applied
# here, as dpkg-source would.
set -euo pipefail

# The whole script is one function, read completely before it runs: bash
# reads a script as it goes, and an edit during the long build would
# otherwise change the commands still to come.
main() {
cd "$(dirname "$0")/.."
repo=$PWD
target=${1:-}

log() { printf '%s\n' "build-front-end: $*" >&2; }
die() {
    log "error: $*"
    exit 1
}

# --- What is built -------------------------------------------------------
# The release whose source packages are built, and their exact versions:
# glslang 15.1.0 needs SPIRV-Tools 2025.1 and SPIRV-Headers 1.4.309.
release=trixie
glslang_version=15.1.0+1.4.309.0-1
spirv_tools_version=2025.1~rc1-1
spirv_headers_version=1.6.1+1.4.309.0-1
# Raise when the way the libraries are configured, built or installed below
# changes, so that prefixes made the old way are not used.
recipe=3

case "$target" in
    host)
        compiler=(-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
            -DCMAKE_POSITION_INDEPENDENT_CODE=ON)
        compiler_package=g++
        compiler_command=g++
        toolchain_file=
        ;;
    mingw)
        toolchain_file=$repo/cmake/mingw-w64-x86_64.cmake
        compiler=(-DCMAKE_TOOLCHAIN_FILE="$toolchain_file")
        compiler_package=g++-mingw-w64-x86-64-posix
        compiler_command=x86_64-w64-mingw32-g++-posix
        ;;
    *) die "usage: build-front-end.sh host|mingw" ;;
esac
bash scripts/install-packages.sh cmake ninja-build python3 patch pkgconf "$compiler_package" >&2
compiler_version=$("$compiler_command" --version | head -n 1)

# What both builds depend on besides the sources.
build_text=$(
    printf 'compiler %s\n' "$compiler_version"
    if [ -n "$toolchain_file" ]; then
        printf 'toolchain file %s\n' "$(sha256sum <"$toolchain_file" | cut -d' ' -f1)"
    fi
    printf 'recipe %s\n' "$recipe"
)
# SPIRV-Tools does not depend on our patches: it is cached on its own, so
# that a changed patch rebuilds glslang only.
spirv_key_text=$(
    printf 'SPIRV-Tools for %s\n' "$target"
    printf 'spirv-tools %s\nspirv-headers %s\n' "$spirv_tools_version" "$spirv_headers_version"
    printf '%s\n' "$build_text"
)
spirv_key=$target-spirv-tools-${spirv_tools_version%%-*}-$(printf '%s\n' "$spirv_key_text" |
    sha256sum | cut -c1-16)
key_text=$(
    printf 'front end for %s\n' "$target"
    printf 'glslang %s\nspirv-tools %s\nspirv-headers %s\n' \
        "$glslang_version" "$spirv_tools_version" "$spirv_headers_version"
    printf '%s\n' "$build_text"
    # Our patch series, by name and content; CMake checks these lines
    # against the series in the source tree.
    for patch_file in toolchain/glslang-patches/*.patch; do
        [ -e "$patch_file" ] || continue
        printf 'patch %s %s\n' "$(sha256sum <"$patch_file" | cut -d' ' -f1)" "${patch_file##*/}"
    done
)
key=$target-glslang-${glslang_version%%+*}-$(printf '%s\n' "$key_text" | sha256sum | cut -c1-16)

cache=${VRX_FRONT_END_CACHE:-}
if [ -z "$cache" ]; then
    cache=/var/cache/vrxcompile-front-end
    if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
        cache=${XDG_CACHE_HOME:-$HOME/.cache}/vrxcompile-front-end
    fi
fi
prefix=$cache/$key
spirv_prefix=$cache/$spirv_key

# A complete prefix is renamed into place whole, so it is used without the
# lock: a build of another key (other patches) never holds up a cache hit.
if [ -f "$prefix/.complete" ]; then
    log "cached: $prefix"
    printf '%s\n' "$prefix"
    exit 0
fi
# One lock per target: a host and a mingw build may run side by side.
mkdir -p "$cache"
exec 9>"$cache/.lock-$target"
if ! flock -n 9; then
    log "waiting for another build of the $target front end in $cache"
    flock 9
fi
if [ -f "$prefix/.complete" ]; then
    log "cached: $prefix"
    printf '%s\n' "$prefix"
    exit 0
fi
# Leftovers of killed runs; the lock says no other run is using them.
rm -rf "$cache/.build-$target-"* "$prefix"
[ -f "$spirv_prefix/.complete" ] || rm -rf "$spirv_prefix"
work=$(mktemp -d "$cache/.build-$target-XXXXXX")
trap 'rm -rf "$work"' EXIT
started=$(date +%s)
build_log=$work/build.log
if [ -f "$spirv_prefix/.complete" ]; then
    log "building glslang $glslang_version for $target with our patches (SPIRV-Tools cached)"
else
    log "building the front end for $target (glslang $glslang_version, SPIRV-Tools" \
        "$spirv_tools_version): about 15 minutes on 2 cores, once per machine"
fi

# --- Private apt configuration -------------------------------------------
# The machine's own entry for its release (not -updates or -security) gives
# the archive's address and keyring; the entry made from it reads the pinned
# release's source index.
codename=$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")
[ -n "$codename" ] || die "no VERSION_CODENAME in /etc/os-release"
eval "$(apt-config shell etc_parts Dir::Etc::sourceparts/d etc_list Dir::Etc::sourcelist/f)"

apt_dir=$work/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
: >"$apt_dir/sources.list"
entry=$apt_dir/sources.list.d/release.sources
python3 - "$codename" "$release" "$entry" "$etc_list" "$etc_parts" <<'EOF'
import glob, os, re, sys

codename, release, out, one_line_file, parts = sys.argv[1:6]

def make_entry(uri, signed_by):
    lines = ["Types: deb-src", "URIs: " + uri, "Suites: " + release, "Components: main"]
    if signed_by:
        lines.append("Signed-By: " + signed_by)
    return "\n".join(lines) + "\n"

def deb822_entry(path):
    text = open(path, encoding="utf-8").read()
    for stanza in re.split(r"\n\s*\n", text):
        fields, last = {}, None
        for line in stanza.splitlines():
            if line.startswith("#") or not line.strip():
                continue
            if line[0] in " \t" and last:
                fields[last] += "\n" + line
                continue
            name, _, value = line.partition(":")
            last = name.strip().lower()
            fields[last] = value.strip()
        if fields.get("enabled", "yes").lower() == "no":
            continue
        if "deb" not in fields.get("types", "").split():
            continue
        if codename not in fields.get("suites", "").split():
            continue
        return make_entry(fields["uris"].split()[0], fields.get("signed-by"))
    return None

def one_line_entry(path):
    for line in open(path, encoding="utf-8"):
        m = re.match(r"\s*deb\s+(?:\[([^\]]*)\]\s+)?(\S+)\s+(\S+)", line)
        if not m or m.group(3) != codename:
            continue
        signed_by = None
        for option in (m.group(1) or "").split():
            name, _, value = option.partition("=")
            if name == "signed-by":
                signed_by = value
        return make_entry(m.group(2), signed_by)
    return None

candidates = []
if os.path.isfile(one_line_file):
    candidates.append(("list", one_line_file))
for path in sorted(glob.glob(os.path.join(parts, "*"))):
    if path.endswith(".sources"):
        candidates.append(("sources", path))
    elif path.endswith(".list"):
        candidates.append(("list", path))
for kind, path in candidates:
    found = deb822_entry(path) if kind == "sources" else one_line_entry(path)
    if found:
        open(out, "w", encoding="utf-8").write(found)
        sys.exit(0)
sys.exit("no configured deb entry for " + codename)
EOF
archive=$(sed -n 's/^URIs: //p' "$entry")
log "source entry: $(tr '\n' ' ' <"$entry")"

private_apt=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list"
    -o "Dir::Etc::sourceparts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "APT::Sandbox::User=root")
apt-get "${private_apt[@]}" -qq update >>"$build_log" 2>&1 ||
    { tail -n 20 "$build_log" >&2; die "apt could not read the $release source index"; }

# Downloads the files of one source package whose names match a pattern, as
# the signed index lists them, each checked against its SHA-256.
# fetch_files PACKAGE VERSION FOLDER PATTERN...
fetch_files() {
    local package=$1 version=$2 folder=$3
    shift 3
    local stanza directory listed sha size file pattern found
    stanza=$(apt-cache "${private_apt[@]}" showsrc "$package" 2>/dev/null |
        awk -v package="$package" -v version="$version" 'BEGIN { RS = "" }
            index("\n" $0 "\n", "\nPackage: " package "\n") &&
            index("\n" $0 "\n", "\nVersion: " version "\n") { print; exit }')
    [ -n "$stanza" ] || die "$package $version is not in the $release source index"
    directory=$(sed -n 's/^Directory: //p' <<<"$stanza")
    listed=$(sed -n '/^Checksums-Sha256:/,/^[^ ]/s/^ //p' <<<"$stanza")
    mkdir -p "$folder"
    for pattern in "$@"; do
        found=
        while read -r sha size file; do
            # shellcheck disable=SC2053
            [[ "$file" == $pattern ]] || continue
            /usr/lib/apt/apt-helper -o APT::Sandbox::User=root download-file \
                "$archive/$directory/$file" "$folder/$file" "SHA256:$sha" >>"$build_log" 2>&1 ||
                { tail -n 8 "$build_log" >&2; die "could not download $file"; }
            [ "$(stat -c %s "$folder/$file")" = "$size" ] || die "$file: wrong size"
            found=$folder/$file
        done <<<"$listed"
        [ -n "$found" ] || die "$package $version lists no file $pattern"
    done
}

# Unpacks a source package as dpkg-source does for the 3.0 (quilt) format:
# the original tarball, Debian's tarball over it, then Debian's patch series.
# unpack_source FOLDER TREE [with-debian]
unpack_source() {
    local folder=$1 tree=$2 debian=${3:-}
    mkdir -p "$tree"
    tar -xf "$(ls "$folder"/*.orig.tar.*)" -C "$tree" --strip-components=1
    [ -n "$debian" ] || return 0
    tar -xf "$(ls "$folder"/*.debian.tar.*)" -C "$tree"
    local series=$tree/debian/patches/series name level
    [ -f "$series" ] || return 0
    while read -r name level; do
        case "$name" in '' | '#'*) continue ;; esac
        patch -d "$tree" "${level:--p1}" --forward --batch --fuzz=0 --no-backup-if-mismatch \
            --reject-file=- --quiet <"$tree/debian/patches/$name" >>"$build_log" 2>&1 ||
            die "Debian's patch $name does not apply to $(basename "$tree")"
    done <"$series"
}

log "fetching the sources from $archive ($release)"
src=$work/src
fetch_files glslang "$glslang_version" "$src/glslang.files" '*.orig.tar.*' '*.debian.tar.*'
unpack_source "$src/glslang.files" "$src/glslang" with-debian
if [ ! -f "$spirv_prefix/.complete" ]; then
    fetch_files spirv-tools "$spirv_tools_version" "$src/spirv-tools.files" '*.orig.tar.*' \
        '*.debian.tar.*'
    # Only the headers' own tree is used (include/spirv): Debian's packaging
    # of it patches nothing there.
    fetch_files spirv-headers "$spirv_headers_version" "$src/spirv-headers.files" '*.orig.tar.*'
    unpack_source "$src/spirv-tools.files" "$src/spirv-tools" with-debian
    unpack_source "$src/spirv-headers.files" "$src/spirv-headers"
fi
bash scripts/apply-glslang-patches.sh "$src/glslang" 2>&1 | sed 's/^/build-front-end: /' >&2

# --- Building ------------------------------------------------------------
jobs=${VRX_FRONT_END_JOBS:-$(nproc)}
out=$work/prefix
mkdir -p "$out/lib" "$out/include/glslang/SPIRV"
# Optimised as Debian builds them (-O2), which builds faster than -O3.
common=(-G Ninja "${compiler[@]}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG"
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DBUILD_SHARED_LIBS=OFF -Wno-dev)

# Builds the named targets, one progress line per tenth (updated in place on
# a terminal); the compiler's output goes to the build log.
build_targets() {
    local label=$1 folder=$2
    shift 2
    local line done_count total percent shown=-1 elapsed
    if ! cmake --build "$folder" -j "$jobs" --target "$@" 2>&1 | tee -a "$build_log" |
        while IFS= read -r line; do
            [[ "$line" =~ ^\[([0-9]+)/([0-9]+)\] ]] || continue
            done_count=${BASH_REMATCH[1]}
            total=${BASH_REMATCH[2]}
            percent=$((done_count * 100 / total))
            elapsed=$(($(date +%s) - started))
            if [ -t 2 ]; then
                printf '\rbuild-front-end: %s %3d%% (%d/%d), %d:%02d elapsed ' "$label" \
                    "$percent" "$done_count" "$total" $((elapsed / 60)) $((elapsed % 60)) >&2
            elif [ $((percent / 10)) -gt "$shown" ]; then
                shown=$((percent / 10))
                log "$label $percent% ($done_count/$total), $((elapsed / 60)):$(printf '%02d' \
                    $((elapsed % 60))) elapsed"
            fi
        done; then
        [ -t 2 ] && printf '\n' >&2
        tail -n 40 "$build_log" >&2
        die "building $label failed"
    fi
    [ -t 2 ] && printf '\n' >&2
    return 0
}

# Sets cpu to the CPU seconds (user and system) of every command this run
# has finished; `times` runs in this shell, not in a command substitution,
# whose children would be its own.
cpu_now() {
    times >"$work/times"
    cpu=$(tail -n 1 "$work/times" | awk '{
        total = 0
        for (i = 1; i <= 2; i++) { split($i, part, "m"); total += part[1] * 60 + part[2] }
        printf "%d\n", total }')
}

# Logs how long a stage took, wall and CPU: the measure of a cold build.
# stage_done LABEL WALL_START CPU_START
stage_done() {
    local wall=$(($(date +%s) - $2))
    cpu_now
    cpu=$((cpu - $3))
    log "$1 built in $((wall / 60)) min $((wall % 60)) s ($((cpu / 60)) min $((cpu % 60)) s of CPU)"
}

configure() {
    local label=$1
    shift
    cmake "$@" >>"$build_log" 2>&1 || { tail -n 40 "$build_log" >&2; die "configuring $label failed"; }
}

# Fails when a build read a glslang, SPIRV-Tools or SPIR-V header of the
# system's (installed packages of other versions) instead of its own.
check_header_origin() {
    local label=$1 folder=$2 foreign
    foreign=$(cd "$folder" && ninja -t deps |
        grep -E '^ +/usr(/local)?/include/(glslang|SPIRV|spirv-tools|spirv)/' | sort -u || true)
    [ -z "$foreign" ] || die "$label read headers of the system's packages:"$'\n'"$foreign"
}

# Installed by hand: the install rules want every library of the package.
install_library() {
    local name=$1 from=$2 to=$3 found
    found=$(find "$from" -name "lib$name.a" -type f)
    [ "$(printf '%s\n' "$found" | grep -c .)" = 1 ] || die "lib$name.a not found once in $from"
    cp "$found" "$to/"
}

# SPIRV-Tools: only the core library (the validator, the disassembler) and
# the optimiser; no executables, tests or other libraries.
if [ ! -f "$spirv_prefix/.complete" ]; then
    stage=$work/spirv-tools-prefix
    mkdir -p "$stage/lib" "$stage/include"
    cpu_now
    stage_wall=$(date +%s) stage_cpu=$cpu
    configure SPIRV-Tools -S "$src/spirv-tools" -B "$work/build/spirv-tools" "${common[@]}" \
        -DSPIRV-Headers_SOURCE_DIR="$src/spirv-headers" -DSPIRV_SKIP_TESTS=ON \
        -DSPIRV_SKIP_EXECUTABLES=ON -DSPIRV_WERROR=OFF -DSPIRV_TOOLS_BUILD_STATIC=ON \
        -DSPIRV_BUILD_FUZZER=OFF -DSPIRV_TOOLS_LIBRARY_TYPE=STATIC
    build_targets "SPIRV-Tools" "$work/build/spirv-tools" SPIRV-Tools-static SPIRV-Tools-opt
    stage_done SPIRV-Tools "$stage_wall" "$stage_cpu"
    check_header_origin SPIRV-Tools "$work/build/spirv-tools"
    install_library SPIRV-Tools "$work/build/spirv-tools" "$stage/lib"
    install_library SPIRV-Tools-opt "$work/build/spirv-tools" "$stage/lib"
    cp -r "$src/spirv-tools/include/spirv-tools" "$stage/include/"
    printf '%s\n' "$spirv_key_text" >"$stage/spirv-tools.key"
    touch "$stage/.complete"
    mv "$stage" "$spirv_prefix"
fi
stage=$spirv_prefix

# glslang finds SPIRV-Tools through pkg-config (Debian's patch) and then uses
# the optimiser as Debian's build does; this file names the staged copy.
mkdir -p "$work/pkgconfig"
cat >"$work/pkgconfig/SPIRV-Tools.pc" <<PC
Name: SPIRV-Tools
Description: staged for the front-end build
Version: ${spirv_tools_version%%-*}
Libs: -L$stage/lib -lSPIRV-Tools-opt -lSPIRV-Tools
Cflags: -I$stage/include
PC
glslang_targets=(glslang glslang-default-resource-limits)
binaries=OFF
if [ "$target" = host ]; then
    glslang_targets+=(glslang-standalone)
    binaries=ON
fi
export PKG_CONFIG_LIBDIR=$work/pkgconfig PKG_CONFIG_PATH=
cpu_now
stage_wall=$(date +%s) stage_cpu=$cpu
configure glslang \
    -S "$src/glslang" -B "$work/build/glslang" "${common[@]}" \
    -DCMAKE_CXX_FLAGS="-I$stage/include" -DCMAKE_EXE_LINKER_FLAGS="-L$stage/lib" -DENABLE_OPT=ON \
    -DENABLE_GLSLANG_BINARIES=$binaries -DENABLE_SPVREMAPPER=OFF -DENABLE_CTEST=OFF \
    -DGLSLANG_TESTS=OFF -DBUILD_TESTING=OFF -DBUILD_EXTERNAL=OFF
grep -q 'ENABLE_OPT=1' "$work/build/glslang/build.ninja" ||
    die "glslang configured without the optimiser"
build_targets "glslang" "$work/build/glslang" "${glslang_targets[@]}"
stage_done glslang "$stage_wall" "$stage_cpu"
check_header_origin glslang "$work/build/glslang"

# The prefix: the libraries, every header of both source trees (the compiler
# library also reads glslang's intermediate tree), the generated version
# header, and on the host the validator built from the same sources.
install_library glslang "$work/build/glslang" "$out/lib"
install_library glslang-default-resource-limits "$work/build/glslang" "$out/lib"
cp "$stage/lib/"*.a "$out/lib/"
cp -r "$stage/include/spirv-tools" "$out/include/"
(cd "$src/glslang/glslang" && find . -name '*.h' -exec cp --parents {} "$out/include/glslang/" \;)
(cd "$src/glslang/SPIRV" && find . -name '*.h' -o -name '*.hpp' |
    xargs -I{} cp --parents {} "$out/include/glslang/SPIRV/")
cp "$work/build/glslang/include/glslang/build_info.h" "$out/include/glslang/"
if [ "$target" = host ]; then
    mkdir -p "$out/bin"
    cp "$work/build/glslang/StandAlone/glslang" "$out/bin/glslangValidator"
fi
printf '%s\n' "$key_text" >"$out/front-end.key"

touch "$out/.complete"
mv "$out" "$prefix"
elapsed=$(($(date +%s) - started))
log "built $prefix in $((elapsed / 60)) min $((elapsed % 60)) s with $jobs jobs"
printf '%s\n' "$prefix"
}

# On one line with the call: bash reads no further line of a script edited
# while it ran.
main "$@"; exit
