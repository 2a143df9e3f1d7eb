// The .vrx shader file: its in-memory model, the encoder that lays a model out
// as bytes, and the reader that validates a file completely and turns it back
// into a model. docs/vrx-format.md describes the layout byte by byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tmb {

constexpr uint32_t kFileMagic = 0x46585256u;  // "VRXF" in little-endian bytes
constexpr uint32_t kFormatVersion = 1;
constexpr uint32_t kFileHeaderSize = 48;
constexpr uint32_t kProgramEntrySize = 16;
constexpr uint32_t kStageEntrySize = 64;
constexpr uint32_t kChecksumOffset = 36;

constexpr uint32_t kFileFlagAligned = 0x1;
constexpr uint32_t kPaddedAlignment = 256;  // stage binaries with alignPadding set
constexpr uint32_t kPlainAlignment = 4;     // every section otherwise

constexpr uint32_t kSwapNone = 0;
constexpr uint32_t kSwap8In32 = 2;

// Stage kinds and binary formats share their values with the stage records.
constexpr uint32_t kKindVertex = 1;
constexpr uint32_t kKindPixel = 2;
constexpr uint32_t kKindGeometry = 3;
constexpr uint32_t kKindCompute = 4;
constexpr uint32_t kFormatSpirv = 1;
constexpr uint32_t kFormatValidated = 2;
constexpr uint32_t kStageFlagHash = 0x1;

// Limits that keep every offset in 32 bits and a corrupt count from asking
// for absurd amounts of memory.
constexpr uint32_t kMaxPrograms = 65536;
constexpr uint32_t kMaxStagesPerProgram = 4;

enum class ReflectionCategory : uint8_t {
    attribute = 1,
    uniform = 2,
    sampler = 3,
    varyingIn = 4,
    varyingOut = 5,
    streamOut = 6,
    uniformBlock = 7,
};

struct ReflectionEntry {
    ReflectionCategory category = ReflectionCategory::attribute;
    int32_t location = -1;
    uint32_t type = 0;
    uint32_t arraySize = 1;
    std::string name;

    bool operator==(const ReflectionEntry&) const = default;
};

struct Stage {
    uint32_t kind = 0;
    uint32_t binaryFormat = 0;
    uint32_t flags = 0;
    uint32_t languageVersion = 0;
    uint64_t optimizationFlags = 0;
    std::array<uint8_t, 16> hash{};
    std::vector<uint8_t> binary;      // as the compiler produced it, before any swap
    std::vector<uint8_t> reflection;  // the compiler's reflection block, verbatim

    bool operator==(const Stage&) const = default;
};

struct Program {
    std::vector<Stage> stages;  // ascending kind, each kind at most once

    bool operator==(const Program&) const = default;
};

struct ShaderFile {
    uint32_t gpuVersion = 2;
    uint32_t endianSwapMode = kSwapNone;
    bool aligned = false;
    std::vector<Program> programs;

    bool operator==(const ShaderFile&) const = default;
};

// Reverses the byte order inside every whole 32-bit word; 1 to 3 trailing
// bytes stay as they are. Applying it twice gives the original.
void swap8In32(std::span<uint8_t> bytes);

// CRC-32 (reflected polynomial 0xEDB88320, initial value and final xor
// 0xFFFFFFFF), continued from `crc` so a buffer can be fed in pieces.
uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

// "0x" and lower-case hex digits, at least `minDigits` of them.
std::string toHex(uint64_t value, int minDigits = 1);

const char* stageKindName(uint32_t kind);
const char* binaryFormatName(uint32_t format);
const char* reflectionCategoryName(ReflectionCategory category);

// Reflection blocks: a complete parse (false with a reason on any fault) and
// the encoding that parse accepts.
bool parseReflection(std::span<const uint8_t> block, std::vector<ReflectionEntry>& entries,
                     std::string& error);
std::vector<uint8_t> encodeReflection(const std::vector<ReflectionEntry>& entries);

// Checks a model against everything the format requires (values in range,
// stage order, a well-formed reflection block, hash zero without its flag).
bool validateShaderFile(const ShaderFile& file, std::string& error);

// Lays a valid model out as file bytes; false (with a reason) when the model
// is not valid or the file would not fit in 32-bit offsets.
bool encodeShaderFile(const ShaderFile& file, std::vector<uint8_t>& bytes, std::string& error);

// The file offset of every stage binary, program by program, in the layout
// encodeShaderFile gives a valid model.
std::vector<uint32_t> binaryOffsets(const ShaderFile& file);

// Reads and validates a whole file. Accepts exactly the bytes that
// encodeShaderFile produces for some valid model; anything else (truncated,
// another format, a bad checksum, a stray byte in padding) is an error.
bool decodeShaderFile(std::span<const uint8_t> bytes, ShaderFile& file, std::string& error);

// The bytes of a file read into a string, as the reader takes them.
inline std::span<const uint8_t> asBytes(const std::string& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

}  // namespace tmb
