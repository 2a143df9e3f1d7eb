#include "toolchain/mendrix/cache/cache_entry.h"

#include <cstring>

#include "toolchain/common/hash128.h"
#include "toolchain/common/validated_form.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace mendrix {

namespace {

constexpr size_t kHeaderSize = 4 + 4 + 16 + 8;
constexpr size_t kChecksumSize = 16;
constexpr uint32_t kStageSlots = 4;
constexpr uint32_t kSpirvMagicWord = 0x07230203u;
constexpr size_t kSpirvHeaderSize = 20;
// The stage kind each slot holds (vertex, pixel, geometry, compute).
constexpr uint32_t kKindOfSlot[kStageSlots] = {toolchain::kStageVertex, toolchain::kStagePixel,
                                               toolchain::kStageGeometry, toolchain::kStageCompute};

void putNumber(std::string& out, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        out += static_cast<char>(value >> (8 * i));
    }
}

void putBytes(std::string& out, const void* data, size_t size) {
    putNumber(out, size, 8);
    out.append(static_cast<const char*>(data), size);
}

// Reads from the front of `rest`; every read fails once the bytes run out.
struct Cursor {
    std::string_view rest;

    bool number(uint64_t& value, size_t size) {
        if (rest.size() < size) {
            return false;
        }
        value = 0;
        for (size_t i = 0; i < size; ++i) {
            value |= uint64_t{static_cast<uint8_t>(rest[i])} << (8 * i);
        }
        rest.remove_prefix(size);
        return true;
    }
    bool raw(void* out, size_t size) {
        if (rest.size() < size) {
            return false;
        }
        std::memcpy(out, rest.data(), size);
        rest.remove_prefix(size);
        return true;
    }
    bool view(std::string_view& out) {
        uint64_t size = 0;
        if (!number(size, 8) || size > rest.size()) {
            return false;
        }
        out = rest.substr(0, static_cast<size_t>(size));
        rest.remove_prefix(static_cast<size_t>(size));
        return true;
    }
    bool flag(bool& out) {
        uint64_t value = 0;
        if (!number(value, 1) || value > 1) {
            return false;
        }
        out = value == 1;
        return true;
    }
};

uint32_t wordAt(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

// The binary is of the form the record names, with a header that agrees.
bool binaryHasItsForm(const CachedStage& stage) {
    const std::vector<uint8_t>& binary = stage.binary;
    switch (stage.record.binaryFormat) {
        case toolchain::kBinarySpirv:
            return binary.size() >= kSpirvHeaderSize && binary.size() % 4 == 0 &&
                   wordAt(binary, 0) == kSpirvMagicWord;
        case toolchain::kBinaryValidated: {
            toolchain::ValidatedForm form;
            std::string error;
            return toolchain::parseValidatedForm(binary, form, error) &&
                   form.kind == stage.record.kind;
        }
        default:
            return false;
    }
}

bool hashFitsBinary(const toolchain::ToolchainStageRecord& record,
                    const std::vector<uint8_t>& binary) {
    toolchain::Hash128 expected{};
    if ((record.flags & toolchain::kStageFlagHashPresent) != 0) {
        expected = toolchain::hash128(
            std::string_view(reinterpret_cast<const char*>(binary.data()), binary.size()));
    }
    return std::memcmp(expected.data(), record.hash, expected.size()) == 0;
}

// Everything the record says agrees with the bytes the stage holds.
bool recordDescribesStage(const CachedStage& stage) {
    const toolchain::ToolchainStageRecord& record = stage.record;
    std::vector<toolchain::ReflectionEntry> entries;
    std::string error;
    const ShaderStats noStats{};
    return record.magic == toolchain::kStageRecordMagic && record.kind == kKindOfSlot[stage.slot] &&
           (record.gpuVersion == 1 || record.gpuVersion == 2) &&
           record.binarySize == stage.binary.size() &&
           record.reflectionSize == stage.reflection.size() && binaryHasItsForm(stage) &&
           hashFitsBinary(record, stage.binary) &&
           toolchain::parseReflection(stage.reflection, entries, error) &&
           (stage.hasDump || stage.dump.empty()) &&
           (stage.hasStats || std::memcmp(&stage.stats, &noStats, sizeof noStats) == 0);
}

bool readStage(Cursor& cursor, CachedStage& stage) {
    uint64_t slot = 0;
    uint64_t recordSize = 0;
    std::string_view binary;
    std::string_view reflection;
    std::string_view dump;
    if (!cursor.number(slot, 4) || slot >= kStageSlots || !cursor.number(recordSize, 4) ||
        recordSize != sizeof stage.record || !cursor.raw(&stage.record, sizeof stage.record) ||
        !cursor.view(binary) || !cursor.view(reflection) || !cursor.flag(stage.hasDump) ||
        !cursor.view(dump) || !cursor.flag(stage.hasStats) ||
        !cursor.raw(&stage.stats, sizeof stage.stats)) {
        return false;
    }
    // Pointers are never stored: an entry holding any is not ours.
    if (stage.record.binary != nullptr || stage.record.reflection != nullptr ||
        stage.record.sourcePath != nullptr) {
        return false;
    }
    stage.slot = static_cast<uint32_t>(slot);
    stage.binary.assign(binary.begin(), binary.end());
    stage.reflection.assign(reflection.begin(), reflection.end());
    stage.dump.assign(dump);
    return recordDescribesStage(stage);
}

}  // namespace

std::array<uint8_t, 16> cacheEntryChecksum(std::string_view bytes) {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits(bytes.data(), bytes.size()));
    std::array<uint8_t, 16> checksum;
    std::memcpy(checksum.data(), canonical.digest, checksum.size());
    return checksum;
}

std::string encodeCacheEntry(const CacheEntry& entry) {
    std::string body;
    putBytes(body, entry.log.data(), entry.log.size());
    putNumber(body, entry.stages.size(), 4);
    for (const CachedStage& stage : entry.stages) {
        toolchain::ToolchainStageRecord record = stage.record;
        record.binary = nullptr;
        record.reflection = nullptr;
        record.sourcePath = nullptr;
        putNumber(body, stage.slot, 4);
        putNumber(body, sizeof record, 4);
        body.append(reinterpret_cast<const char*>(&record), sizeof record);
        putBytes(body, stage.binary.data(), stage.binary.size());
        putBytes(body, stage.reflection.data(), stage.reflection.size());
        putNumber(body, stage.hasDump ? 1 : 0, 1);
        putBytes(body, stage.dump.data(), stage.dump.size());
        putNumber(body, stage.hasStats ? 1 : 0, 1);
        body.append(reinterpret_cast<const char*>(&stage.stats), sizeof stage.stats);
    }
    std::string bytes;
    bytes.reserve(kHeaderSize + body.size() + kChecksumSize);
    putNumber(bytes, kCacheEntryMagic, 4);
    putNumber(bytes, kCacheEntryFormatVersion, 4);
    bytes.append(reinterpret_cast<const char*>(entry.key.data()), entry.key.size());
    putNumber(bytes, body.size(), 8);
    bytes += body;
    std::array<uint8_t, 16> checksum = cacheEntryChecksum(bytes);
    bytes.append(reinterpret_cast<const char*>(checksum.data()), checksum.size());
    return bytes;
}

bool decodeCacheEntry(std::string_view bytes, CacheEntry& entry) {
    if (bytes.size() < kHeaderSize + kChecksumSize) {
        return false;
    }
    std::array<uint8_t, 16> checksum =
        cacheEntryChecksum(bytes.substr(0, bytes.size() - kChecksumSize));
    if (std::memcmp(checksum.data(), bytes.data() + bytes.size() - kChecksumSize, kChecksumSize) !=
        0) {
        return false;
    }
    Cursor cursor{bytes.substr(0, bytes.size() - kChecksumSize)};
    uint64_t magic = 0;
    uint64_t version = 0;
    uint64_t bodySize = 0;
    uint64_t stageCount = 0;
    std::string_view log;
    if (!cursor.number(magic, 4) || magic != kCacheEntryMagic || !cursor.number(version, 4) ||
        version != kCacheEntryFormatVersion || !cursor.raw(entry.key.data(), entry.key.size()) ||
        !cursor.number(bodySize, 8) || bodySize != cursor.rest.size() || !cursor.view(log) ||
        !cursor.number(stageCount, 4) || stageCount > kStageSlots) {
        return false;
    }
    entry.log.assign(log);
    entry.stages.assign(static_cast<size_t>(stageCount), CachedStage{});
    for (CachedStage& stage : entry.stages) {
        if (!readStage(cursor, stage)) {
            return false;
        }
    }
    return cursor.rest.empty();
}

}  // namespace mendrix
