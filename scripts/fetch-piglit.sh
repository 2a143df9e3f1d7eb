#!/usr/bin/env bash
# Unpacks Debian's piglit package (the GL driver developers' GLSL parser and
# execution tests) without installing it: installing pulls in about 2 GB of
# dependencies, while the tests themselves are plain files. Prints the folder
# holding piglit's tests/ and generated_tests/ on standard output; everything
# else goes to standard error.
#
# The unpacked package is cached in /var/cache/vrxcompile-piglit/<version>
# (or in $VRX_PIGLIT_CACHE), made in a temporary folder beside it and renamed
# into place only when complete. A lock keeps two runs from unpacking at once.
set -euo pipefail

main() {
log() { printf '%s\n' "fetch-piglit: $*" >&2; }

version=0~git20220119-124bca3c9-1
cache=${VRX_PIGLIT_CACHE:-/var/cache/vrxcompile-piglit}
# Folder names cannot hold the version's "~" comfortably in every tool.
target=$cache/piglit-${version//\~/_}
tests=$target/usr/lib/x86_64-linux-gnu/piglit

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if [ -f "$target/.complete" ]; then
    printf '%s\n' "$tests"
    exit 0
fi
rm -rf "$cache"/.unpack-* "$target"
work=$(mktemp -d "$cache/.unpack-XXXXXX")
trap 'rm -rf "$work"' EXIT

log "downloading piglit $version"
download=(apt-get -o APT::Sandbox::User=root download -qq "piglit=$version")
if ! (cd "$work" && "${download[@]}" >&2); then
    apt-get update -qq >&2
    (cd "$work" && "${download[@]}" >&2)
fi
# Only the test files: the package's programs and libraries are not needed.
log "unpacking"
mkdir "$work/root"
dpkg --fsys-tarfile "$work"/piglit_*.deb |
    tar -x -C "$work/root" --wildcards './usr/lib/*/piglit/tests/*' './usr/lib/*/piglit/generated_tests/*'
[ -d "$work/root/usr/lib/x86_64-linux-gnu/piglit/tests" ] || { log "error: no tests in the package"; exit 1; }
touch "$work/root/.complete"
mv "$work/root" "$target"
printf '%s\n' "$tests"
}

main "$@"
