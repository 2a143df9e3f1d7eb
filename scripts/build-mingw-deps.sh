#!/usr/bin/env bash
# Builds glslang and SPIRV-Tools (with its optimiser) as static mingw-w64
# libraries from Debian's own source packages, at the versions of the host's
# glslang-dev and spirv-tools, so that mendrix.dll and libmendrix.so compile
# with the same front end. Prints the installed prefix on standard output;
# everything else goes to standard error.
#
# The prefix is cached in /var/cache/vrxcompile-mingw-deps/<key> (or in
# $VRX_MINGW_DEPS_CACHE), the key made of the package versions, the mingw
# compiler, the toolchain file and the recipe number below. It is built in a temporary
# folder beside it and renamed into place only when complete, so a killed
# build never leaves half a prefix. A lock keeps two runs from building at once.
#
# The sources come through apt with a private configuration (its own sources,
# lists and cache folders): its one entry is the machine's configured release
# entry with deb-src as its type. The machine's apt set-up is not touched and
# nothing is downloaded from outside the package archive.
set -euo pipefail

# The whole script is one function, read completely before it runs: bash
# reads a script as it goes, and an edit during the long build would
# otherwise change the commands still to come.
main() {
cd "$(dirname "$0")/.."
repo=$PWD
toolchain_file=$repo/cmake/mingw-w64-x86_64.cmake

log() { printf '%s\n' "build-mingw-deps: $*" >&2; }
die() {
    log "error: $*"
    exit 1
}

bash scripts/install-packages.sh cmake ninja-build g++-mingw-w64-x86-64-posix dpkg-dev \
    python3 glslang-dev spirv-tools spirv-headers >&2

source_version() { dpkg-query -W -f='${source:Version}' "$1"; }
glslang_version=$(source_version glslang-dev)
spirv_tools_version=$(source_version spirv-tools)
spirv_headers_version=$(source_version spirv-headers)

# Raise when the way the libraries are configured or built below changes, so
# that caches made the old way are not used.
recipe=1
key_text=$(
    printf 'glslang=%s\nspirv-tools=%s\nspirv-headers=%s\n' \
        "$glslang_version" "$spirv_tools_version" "$spirv_headers_version"
    x86_64-w64-mingw32-g++-posix --version | head -n 1
    sha256sum <"$toolchain_file"
    printf 'recipe=%s\n' "$recipe"
    # Our patch series, by name and content.
    (cd toolchain/glslang-patches && sha256sum -- *.patch 2>/dev/null || true)
)
key=glslang-$glslang_version-spirv-tools-$spirv_tools_version-$(printf '%s' "$key_text" | sha256sum | cut -c1-16)
cache=${VRX_MINGW_DEPS_CACHE:-/var/cache/vrxcompile-mingw-deps}
prefix=$cache/$key

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
    log "cached: $prefix"
    printf '%s\n' "$prefix"
    exit 0
fi
# Leftovers of killed runs; the lock says no other run is using them.
rm -rf "$cache"/.build-* "$prefix"
work=$(mktemp -d "$cache/.build-XXXXXX")
trap 'rm -rf "$work"' EXIT
started=$(date +%s)
log "building $key in $work"

# --- Private apt configuration -------------------------------------------
# The release entry: the machine's own entry for its release codename (not
# -updates or -security), copied with deb-src as its type.
codename=$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")
[ -n "$codename" ] || die "no VERSION_CODENAME in /etc/os-release"
eval "$(apt-config shell etc_parts Dir::Etc::sourceparts/d etc_list Dir::Etc::sourcelist/f)"

apt_dir=$work/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
: >"$apt_dir/sources.list"
entry=$apt_dir/sources.list.d/release.sources
python3 - "$codename" "$entry" "$etc_list" "$etc_parts" <<'EOF'
import glob, os, re, sys

codename, out, one_line_file, parts = sys.argv[1:5]

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
        lines = ["Types: deb-src", "URIs: " + fields["uris"], "Suites: " + codename,
                 "Components: " + fields.get("components", "main")]
        if "signed-by" in fields:
            lines.append("Signed-By: " + fields["signed-by"])
        return "\n".join(lines) + "\n"
    return None

def one_line_entry(path):
    for line in open(path, encoding="utf-8"):
        m = re.match(r"\s*deb\s+(?:\[([^\]]*)\]\s+)?(\S+)\s+(\S+)\s*([^#]*)", line)
        if not m or m.group(3) != codename:
            continue
        lines = ["Types: deb-src", "URIs: " + m.group(2), "Suites: " + codename,
                 "Components: " + (m.group(4).strip() or "main")]
        for option in (m.group(1) or "").split():
            name, _, value = option.partition("=")
            if name == "signed-by":
                lines.append("Signed-By: " + value)
        return "\n".join(lines) + "\n"
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
log "source entry: $(tr '\n' ' ' <"$entry")"

private_apt=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list"
    -o "Dir::Etc::sourceparts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "APT::Sandbox::User=root")
apt-get "${private_apt[@]}" -qq update >&2
src=$work/src
mkdir -p "$src"
(cd "$src" && apt-get "${private_apt[@]}" -qq source --download-only \
    "glslang=$glslang_version" "spirv-tools=$spirv_tools_version" >&2)
for dsc in "$src"/*.dsc; do
    dpkg-source -x "$dsc" "$src/$(basename "$dsc" .dsc)" >&2
done
glslang_src=$(ls -d "$src"/glslang_*/)
bash scripts/apply-glslang-patches.sh "$glslang_src"
spirv_tools_src=$(ls -d "$src"/spirv-tools_*/)

# SPIRV-Tools wants the SPIR-V headers' source tree; its include/spirv is all
# it reads, and the host's spirv-headers package has exactly that. A folder of
# its own keeps the host's other headers out of the mingw build.
headers=$work/spirv-headers
mkdir -p "$headers/include"
ln -s /usr/include/spirv "$headers/include/spirv"

out=$work/prefix
common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX="$out" -DBUILD_SHARED_LIBS=OFF -Wno-dev)

log "configuring SPIRV-Tools $spirv_tools_version"
cmake -S "$spirv_tools_src" -B "$work/build/spirv-tools" "${common[@]}" \
    -DSPIRV-Headers_SOURCE_DIR="$headers" -DSPIRV_SKIP_TESTS=ON -DSPIRV_SKIP_EXECUTABLES=ON \
    -DSPIRV_WERROR=OFF -DSPIRV_TOOLS_BUILD_STATIC=ON -DSPIRV_BUILD_FUZZER=OFF \
    -DSPIRV_TOOLS_LIBRARY_TYPE=STATIC >&2
cmake --build "$work/build/spirv-tools" -j2 >&2
cmake --install "$work/build/spirv-tools" >&2

# glslang uses the SPIR-V optimiser (as Debian's build does) only when the
# SPIRV-Tools-opt target exists before its own targets: found right after its
# project() call. Its default resource limits are built only with its
# binaries, so those are switched on (spirv-remap stays off). The exported
# SPIRV-Tools targets of a Windows install name a wrong include folder, so the
# prefix's own include folder is given to the compiler directly.
log "configuring glslang $glslang_version"
printf '%s\n' 'find_package(SPIRV-Tools-opt CONFIG REQUIRED)' >"$work/find-spirv-tools.cmake"
cmake -S "$glslang_src" -B "$work/build/glslang" "${common[@]}" \
    -DCMAKE_PROJECT_INCLUDE="$work/find-spirv-tools.cmake" -DCMAKE_CXX_FLAGS="-I$out/include" \
    -DSPIRV-Tools_DIR="$out/SPIRV-Tools/cmake" -DSPIRV-Tools-opt_DIR="$out/SPIRV-Tools-opt/cmake" \
    -DENABLE_OPT=ON -DENABLE_GLSLANG_BINARIES=ON -DENABLE_SPVREMAPPER=OFF \
    -DENABLE_CTEST=OFF -DBUILD_TESTING=OFF -DENABLE_PCH=OFF >&2
grep -q 'ENABLE_OPT=1' "$work/build/glslang/build.ninja" || die "glslang configured without the optimiser"
cmake --build "$work/build/glslang" -j2 >&2
cmake --install "$work/build/glslang" >&2

touch "$out/.complete"
mv "$out" "$prefix"
log "built $prefix in $(($(date +%s) - started)) s"
printf '%s\n' "$prefix"
}

main "$@"
