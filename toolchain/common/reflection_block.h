// The reflection block: what a stage declares and uses (attributes, varyings,
// uniforms, samplers, blocks, stream-out names). The compiler library fills
// it into each stage record, the writer library copies it into .vrx files and
// vrxInfo prints it; all of them use this one definition.
//
// Layout (little-endian, no pointers):
//   uint32 entryCount
//   entryCount entries, each:
//     uint8  category     (ReflectionCategory)
//     uint8  reserved     0
//     uint16 nameLength   bytes of the name (1..65535), no terminator, no NUL
//     int32  location     see docs/vrx-format.md, -1 when none
//     uint32 type         GL type enum (e.g. 0x8B52 vec4), 0 when not applicable
//     uint32 arraySize    1 for a non-array
//     name bytes, then zero bytes up to the next multiple of 4
// An empty block (no bytes at all) means "no reflection data".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace toolchain {

enum ReflectionCategory : uint8_t {
    kReflectAttribute = 1,
    kReflectUniform = 2,
    kReflectSampler = 3,
    kReflectVaryingIn = 4,
    kReflectVaryingOut = 5,
    kReflectStreamOut = 6,
    kReflectUniformBlock = 7,
    kReflectStorageBlock = 8,  // new in .vrx format version 2
};
constexpr uint8_t kLastReflectCategory = kReflectStorageBlock;

struct ReflectionEntry {
    uint8_t category = kReflectAttribute;  // ReflectionCategory
    int32_t location = -1;
    uint32_t type = 0;
    uint32_t arraySize = 1;
    std::string name;

    bool operator==(const ReflectionEntry&) const = default;
};

// Names of at most 65535 bytes are stored whole; longer ones are cut.
std::vector<uint8_t> encodeReflection(const std::vector<ReflectionEntry>& entries);

// A complete parse: false, with a reason, for a truncated block, an unknown
// category, an empty name or one holding NUL, non-zero reserved or padding
// bytes, or bytes after the last entry.
bool parseReflection(std::span<const uint8_t> block, std::vector<ReflectionEntry>& entries,
                     std::string& error);

// "attribute", "uniform", ..., "storage-block"; "unknown" otherwise.
const char* reflectionCategoryName(uint8_t category);
// "vertex", "pixel", "geometry", "compute"; "unknown" otherwise.
const char* stageKindName(uint32_t kind);

}  // namespace toolchain
