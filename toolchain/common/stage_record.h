// Layout of the stage records that the reference compiler library (mendrix)
// fills inside the compiled set and the reference writer library (tmb) reads.
// The driver never looks inside these records; only the two libraries share
// this layout. Each record starts with StageRecord; the remaining
// bytes of the slot (360, 272, 240 or 216 bytes) stay zero.
#pragma once

#include <cstddef>
#include <cstdint>

#include "toolchain/common/reflection_block.h"

namespace toolchain {

constexpr uint32_t kStageRecordMagic = 0x53585256u;  // "VRXS" in little-endian bytes

enum StageKind : uint32_t {
    kStageAbsent = 0,
    kStageVertex = 1,
    kStagePixel = 2,
    kStageGeometry = 3,
    kStageCompute = 4,
};

enum BinaryFormat : uint32_t {
    kBinaryNone = 0,
    kBinarySpirv = 1,      // SPIR-V words, little-endian
    kBinaryValidated = 2,  // the compiler's own validated form (see docs)
};

// flags bits
constexpr uint32_t kStageFlagHashPresent = 0x1;
constexpr uint32_t kStageFlagForceUniformBlock = 0x2;
constexpr uint32_t kStageFlagEssl = 0x4;

// The reflection block (reflection, reflectionSize) is laid out as
// toolchain/common/reflection_block.h describes.

struct StageRecord {
    uint32_t magic;              // kStageRecordMagic when the stage was compiled
    uint32_t kind;               // StageKind
    uint32_t binaryFormat;       // BinaryFormat
    uint32_t flags;              // kStageFlag... bits
    uint64_t optimizationFlags;  // the mask the request carried
    const uint8_t* binary;       // owned by the compiler library
    uint64_t binarySize;         // bytes
    const uint8_t* reflection;   // owned by the compiler library; see above
    uint64_t reflectionSize;     // bytes
    uint8_t hash[16];            // debug hash when kStageFlagHashPresent
    uint32_t gpuVersion;         // 1 or 2
    uint32_t languageVersion;    // e.g. 450, 300 (ESSL when kStageFlagEssl)
    const char* sourcePath;      // full path from the request, or null
};
static_assert(sizeof(StageRecord) == 88);
static_assert(offsetof(StageRecord, magic) == 0);
static_assert(offsetof(StageRecord, kind) == 4);
static_assert(offsetof(StageRecord, binaryFormat) == 8);
static_assert(offsetof(StageRecord, flags) == 12);
static_assert(offsetof(StageRecord, optimizationFlags) == 16);
static_assert(offsetof(StageRecord, binary) == 24);
static_assert(offsetof(StageRecord, binarySize) == 32);
static_assert(offsetof(StageRecord, reflection) == 40);
static_assert(offsetof(StageRecord, reflectionSize) == 48);
static_assert(offsetof(StageRecord, hash) == 56);
static_assert(offsetof(StageRecord, gpuVersion) == 72);
static_assert(offsetof(StageRecord, languageVersion) == 76);
static_assert(offsetof(StageRecord, sourcePath) == 80);
// Must fit the smallest stage slot of the compiled set (compute, 216 bytes).
static_assert(sizeof(StageRecord) <= 216);

}  // namespace toolchain
