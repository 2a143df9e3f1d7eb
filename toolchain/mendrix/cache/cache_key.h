// The compile cache's key: a 128-bit XXH3 hash over everything that can
// change what a compile hands out. Contents listed in docs/mendrix.md.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "libraries/compiler_records.h"

namespace mendrix {

using CacheKey = std::array<uint8_t, 16>;

// What identifies this build of the library, taken at build time (no call
// into the front end): the project version, the front end's identity, a
// hash over every source linked in, the flags and the compiler
// (build_identity_rules.cmake), and the entry format version. Entries of
// another build never match.
const std::string& libraryBuildIdentity();

// The key of `request` compiled by a handle of `gpuVersion`. Reads every
// request field the compile reads: the four texts and paths, the stream-out
// names, the flags, the language, the optimisation mask and which
// statistics blocks are given; and `lineMapBytes`, the stages' include line
// maps as bytes (includeLineMapKeyBytes, compile_cache.h). Not the
// debug-file folder (that file is written on every run, never taken from
// the cache). With a base folder, the paths under it enter relative to it
// and the key differs from every key made without one.
CacheKey compileCacheKey(const CompileRequest& request, uint32_t gpuVersion,
                         std::string_view lineMapBytes,
                         const std::string& baseFolder = std::string());

}  // namespace mendrix
