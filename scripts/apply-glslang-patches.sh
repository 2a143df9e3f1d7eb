#!/usr/bin/env bash
# Applies our glslang patch series (toolchain/glslang-patches/NNNN-*.patch)
# to an unpacked glslang source tree, in name order, with patch -p1 and no
# fuzz. Every name is checked before the first patch is applied; the run
# stops at the first patch that does not apply exactly.
#
# Usage: scripts/apply-glslang-patches.sh <glslang source tree> [patch folder]
set -euo pipefail

main() {
    local tree=${1:?usage: apply-glslang-patches.sh <glslang source tree> [patch folder]}
    local folder=${2:-$(cd "$(dirname "$0")/.." && pwd)/toolchain/glslang-patches}
    [ -f "$tree/glslang/MachineIndependent/ParseHelper.cpp" ] ||
        fail "$tree is not a glslang source tree"
    [ -d "$folder" ] || fail "$folder is not a folder"

    local file name number seen=" " patches=()
    # The glob lists in name (C locale) order; the numbers make that the
    # series order.
    for file in "$folder"/*; do
        name=${file##*/}
        [ -e "$file" ] && [ "$name" != README.md ] || continue
        [[ "$name" =~ ^([0-9]{4})-[a-z0-9][a-z0-9-]*\.patch$ ]] && [ -f "$file" ] ||
            fail "$name: not a patch file named NNNN-name.patch"
        number=${BASH_REMATCH[1]}
        [[ "$seen" != *" $number "* ]] || fail "$name: a second patch numbered $number"
        seen+="$number "
        patches+=("$file")
    done
    for file in ${patches[@]+"${patches[@]}"}; do
        patch -d "$tree" -p1 --forward --batch --fuzz=0 --no-backup-if-mismatch \
            --reject-file=- --quiet <"$file" >&2 || fail "${file##*/} does not apply"
    done
    printf 'apply-glslang-patches: %d patch(es) applied\n' "${#patches[@]}" >&2
}

fail() {
    printf 'apply-glslang-patches: error: %s\n' "$1" >&2
    exit 1
}

LC_ALL=C main "$@"
