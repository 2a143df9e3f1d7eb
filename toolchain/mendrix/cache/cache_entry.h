// One entry of the compile cache: what a successful compile handed out (the
// log and, per stage, its record, binary, reflection, dump and statistics),
// in a file of its own. The byte layout is described once, in
// docs/mendrix.md ("Entry", under "Compile cache").
// The reader trusts nothing: any damage, truncation, trailing byte or other
// format version makes it refuse the whole entry, and so does a stage whose
// record does not describe the bytes the entry holds (sizes, kind for the
// slot, binary form and its header, debug hash, reflection block, absent
// dump or statistics that are not empty).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "libraries/compiler_records.h"
#include "toolchain/common/stage_record.h"
#include "toolchain/mendrix/cache/cache_key.h"

namespace mendrix {

constexpr uint32_t kCacheEntryMagic = 0x4b525856u;  // "VRXK"
constexpr uint32_t kCacheEntryFormatVersion = 1;
// The largest entry stored or read: far more than any real program's
// compile hands out, and a bound on what a damaged or planted entry can
// make a lookup read.
constexpr uint64_t kCacheEntryMaxBytes = uint64_t{256} << 20;

struct CachedStage {
    uint32_t slot = 0;                         // index into ProgramStorage::stages
    toolchain::ToolchainStageRecord record{};  // binary, reflection, sourcePath null
    std::vector<uint8_t> binary;
    std::vector<uint8_t> reflection;
    bool hasDump = false;
    std::string dump;
    bool hasStats = false;
    ShaderStats stats{};
};

struct CacheEntry {
    CacheKey key{};
    std::string log;
    std::vector<CachedStage> stages;  // in the order of the compile's jobs
};

std::string encodeCacheEntry(const CacheEntry& entry);

// The XXH3-128 checksum that closes an entry whose other bytes are `bytes`.
std::array<uint8_t, 16> cacheEntryChecksum(std::string_view bytes);

// Fills `entry` from `bytes`; false, with `entry` unspecified, for anything
// but an intact entry of this format version.
bool decodeCacheEntry(std::string_view bytes, CacheEntry& entry);

}  // namespace mendrix
