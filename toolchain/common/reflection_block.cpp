#include "toolchain/common/reflection_block.h"

#include "platform/failure.h"
#include "toolchain/common/little_endian.h"
#include "toolchain/common/stage_record.h"

namespace toolchain {

namespace {

constexpr size_t kEntryHeaderSize = 16;

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    appendLittleEndian(out, value, 4);
}

uint32_t getU32(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint32_t>(loadLittleEndian(bytes.data() + at, 4));
}

}  // namespace

std::vector<uint8_t> encodeReflection(const std::vector<ReflectionEntry>& entries) {
    std::vector<uint8_t> out;
    putU32(out, static_cast<uint32_t>(entries.size()));
    for (const ReflectionEntry& entry : entries) {
        size_t length = entry.name.size() > 0xffff ? 0xffff : entry.name.size();
        out.push_back(entry.category);
        out.push_back(0);
        out.push_back(static_cast<uint8_t>(length & 0xff));
        out.push_back(static_cast<uint8_t>(length >> 8));
        putU32(out, static_cast<uint32_t>(entry.location));
        putU32(out, entry.type);
        putU32(out, entry.arraySize);
        out.insert(out.end(), entry.name.begin(), entry.name.begin() + length);
        while (out.size() % 4 != 0) {
            out.push_back(0);
        }
    }
    return out;
}

bool parseReflection(std::span<const uint8_t> block, std::vector<ReflectionEntry>& entries,
                     std::string& error) {
    entries.clear();
    if (block.empty()) {
        return true;
    }
    if (block.size() < 4) {
        return fail(error, "shorter than its entry count");
    }
    const uint32_t count = getU32(block, 0);
    // Every entry takes at least 20 bytes; checking first keeps a corrupt
    // count from reserving memory.
    if (count > (block.size() - 4) / (kEntryHeaderSize + 4)) {
        return fail(error, "entry count " + std::to_string(count) + " does not fit the block");
    }
    entries.reserve(count);
    size_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string where = "entry " + std::to_string(i);
        if (block.size() - at < kEntryHeaderSize) {
            return fail(error, where + " is truncated");
        }
        ReflectionEntry entry;
        entry.category = block[at];
        if (entry.category < kReflectAttribute || entry.category > kLastReflectCategory) {
            return fail(error, where + " has unknown category " + std::to_string(entry.category));
        }
        if (block[at + 1] != 0) {
            return fail(error, where + " has a non-zero reserved byte");
        }
        const size_t nameLength = block[at + 2] | static_cast<size_t>(block[at + 3]) << 8;
        entry.location = static_cast<int32_t>(getU32(block, at + 4));
        entry.type = getU32(block, at + 8);
        entry.arraySize = getU32(block, at + 12);
        at += kEntryHeaderSize;
        if (nameLength == 0) {
            return fail(error, where + " has an empty name");
        }
        const size_t padded = (nameLength + 3) & ~size_t{3};
        if (block.size() - at < padded) {
            return fail(error, where + " is truncated in its name");
        }
        entry.name.assign(reinterpret_cast<const char*>(block.data() + at), nameLength);
        if (entry.name.find('\0') != std::string::npos) {
            return fail(error, where + " has a NUL byte in its name");
        }
        for (size_t p = nameLength; p < padded; ++p) {
            if (block[at + p] != 0) {
                return fail(error, where + " has non-zero name padding");
            }
        }
        at += padded;
        entries.push_back(std::move(entry));
    }
    if (at != block.size()) {
        return fail(error, std::to_string(block.size() - at) + " bytes after the last entry");
    }
    return true;
}

const char* reflectionCategoryName(uint8_t category) {
    static const char* const kNames[] = {"unknown",    "attribute",     "uniform",
                                         "sampler",    "varying-in",    "varying-out",
                                         "stream-out", "uniform-block", "storage-block"};
    return category <= kLastReflectCategory ? kNames[category] : "unknown";
}

const char* stageKindName(uint32_t kind) {
    switch (kind) {
        case kStageVertex:
            return "vertex";
        case kStagePixel:
            return "pixel";
        case kStageGeometry:
            return "geometry";
        case kStageCompute:
            return "compute";
        default:
            return "unknown";
    }
}

}  // namespace toolchain
