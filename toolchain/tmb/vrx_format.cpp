#include "toolchain/tmb/vrx_format.h"

#include <algorithm>

#include "platform/failure.h"
#include "toolchain/common/little_endian.h"

namespace tmb {

namespace {

// Field offsets of the file header, a program entry and a stage entry.
namespace header {
constexpr size_t magic = 0;
constexpr size_t formatVersion = 4;
constexpr size_t headerSize = 8;
constexpr size_t gpuVersion = 12;
constexpr size_t endianSwapMode = 16;
constexpr size_t flags = 20;
constexpr size_t dataAlignment = 24;
constexpr size_t programCount = 28;
constexpr size_t programTableOffset = 32;
constexpr size_t checksum = kChecksumOffset;
constexpr size_t fileSize = 40;
constexpr size_t reserved = 44;
}  // namespace header

namespace program {
constexpr size_t stageCount = 0;
constexpr size_t stageTableOffset = 4;
constexpr size_t reserved0 = 8;
constexpr size_t reserved1 = 12;
}  // namespace program

namespace stage {
constexpr size_t kind = 0;
constexpr size_t binaryFormat = 4;
constexpr size_t flags = 8;
constexpr size_t languageVersion = 12;
constexpr size_t optimizationFlags = 16;
constexpr size_t binaryOffset = 24;
constexpr size_t binarySize = 28;
constexpr size_t reflectionOffset = 32;
constexpr size_t reflectionSize = 36;
constexpr size_t hash = 40;
constexpr size_t reflectionEntryCount = 56;
constexpr size_t reserved = 60;
}  // namespace stage

uint32_t load32(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint32_t>(toolchain::loadLittleEndian(bytes.data() + offset, 4));
}

uint64_t load64(std::span<const uint8_t> bytes, size_t offset) {
    return toolchain::loadLittleEndian(bytes.data() + offset, 8);
}

void store32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    toolchain::storeLittleEndian(bytes.data() + offset, value, 4);
}

void store64(std::vector<uint8_t>& bytes, size_t offset, uint64_t value) {
    toolchain::storeLittleEndian(bytes.data() + offset, value, 8);
}

uint64_t roundUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool validateStage(const Stage& stage, uint32_t formatVersion, const std::string& where,
                   std::string& error) {
    if (stage.kind < kKindVertex || stage.kind > kKindCompute) {
        return fail(error, where + ": unknown stage kind " + std::to_string(stage.kind));
    }
    if (stage.binaryFormat != kFormatSpirv && stage.binaryFormat != kFormatValidated) {
        return fail(error, where + ": unknown binary format " + std::to_string(stage.binaryFormat));
    }
    if (stage.binary.empty()) {
        return fail(error, where + ": empty binary");
    }
    if ((stage.flags & kStageFlagHash) == 0 &&
        std::any_of(stage.hash.begin(), stage.hash.end(), [](uint8_t b) { return b != 0; })) {
        return fail(error, where + ": hash bytes set without the hash flag");
    }
    std::vector<ReflectionEntry> entries;
    std::string reason;
    if (!parseReflection(stage.reflection, entries, reason)) {
        return fail(error, where + ": reflection block: " + reason);
    }
    for (const ReflectionEntry& entry : entries) {
        if (formatVersion < 2 && entry.category == toolchain::kReflectStorageBlock) {
            return fail(error, where + ": storage-block reflection entries need format version 2");
        }
    }
    return true;
}

// Where each section of a valid model goes.
struct StagePlacement {
    uint32_t binaryOffset = 0;
    uint32_t reflectionOffset = 0;
    uint32_t reflectionEntryCount = 0;
};

struct Layout {
    std::vector<uint32_t> stageTableOffsets;  // one per program
    std::vector<StagePlacement> stages;       // all stages, program by program
    uint32_t fileSize = 0;
};

bool planLayout(const ShaderFile& file, Layout& layout, std::string& error) {
    const uint64_t alignment = file.aligned ? kPaddedAlignment : kPlainAlignment;
    uint64_t cursor =
        kFileHeaderSize + static_cast<uint64_t>(kProgramEntrySize) * file.programs.size();
    for (const Program& program : file.programs) {
        layout.stageTableOffsets.push_back(static_cast<uint32_t>(cursor));
        cursor += static_cast<uint64_t>(kStageEntrySize) * program.stages.size();
    }
    constexpr uint64_t kLimit = 0xFFFFFFFFu;
    for (const Program& program : file.programs) {
        for (const Stage& stage : program.stages) {
            StagePlacement placement;
            cursor = roundUp(cursor, alignment);
            placement.binaryOffset = static_cast<uint32_t>(cursor);
            cursor = roundUp(cursor + stage.binary.size(), kPlainAlignment);
            if (!stage.reflection.empty()) {
                placement.reflectionOffset = static_cast<uint32_t>(cursor);
                placement.reflectionEntryCount = load32(stage.reflection, 0);
                cursor += stage.reflection.size();
            }
            if (cursor > kLimit) {
                return fail(error, "the file would exceed 4 GiB");
            }
            layout.stages.push_back(placement);
        }
    }
    layout.fileSize = static_cast<uint32_t>(cursor);
    return true;
}

}  // namespace

void swap8In32(std::span<uint8_t> bytes) {
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
}

uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (uint8_t b : bytes) {
        crc = table[(crc ^ b) & 0xFFu] ^ (crc >> 8);
    }
    return ~crc;
}

std::string toHex(uint64_t value, int minDigits) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int shown = 0; value != 0 || shown < minDigits; ++shown, value >>= 4) {
        text.insert(text.begin(), digits[value & 15]);
    }
    return "0x" + text;
}

const char* binaryFormatName(uint32_t format) {
    switch (format) {
        case kFormatSpirv:
            return "spirv";
        case kFormatValidated:
            return "validated";
        default:
            return "unknown";
    }
}

bool validateShaderFile(const ShaderFile& file, std::string& error) {
    if (file.formatVersion < kOldestFormatVersion || file.formatVersion > kFormatVersion) {
        return fail(error, "unsupported format version " + std::to_string(file.formatVersion));
    }
    if (file.gpuVersion != 1 && file.gpuVersion != 2) {
        return fail(error, "unsupported GPU version " + std::to_string(file.gpuVersion));
    }
    if (file.endianSwapMode != kSwapNone && file.endianSwapMode != kSwap8In32) {
        return fail(error, "unsupported endian swap mode " + std::to_string(file.endianSwapMode));
    }
    if (file.programs.empty() || file.programs.size() > kMaxPrograms) {
        return fail(error, "program count " + std::to_string(file.programs.size()) +
                               " is outside 1.." + std::to_string(kMaxPrograms));
    }
    for (size_t p = 0; p < file.programs.size(); ++p) {
        const Program& program = file.programs[p];
        const std::string where = "program " + std::to_string(p);
        if (program.stages.empty() || program.stages.size() > kMaxStagesPerProgram) {
            return fail(error, where + ": stage count " + std::to_string(program.stages.size()) +
                                   " is outside 1..4");
        }
        uint32_t previousKind = 0;
        for (const Stage& stage : program.stages) {
            const std::string stageWhere = where + ", " + stageKindName(stage.kind) + " stage";
            if (!validateStage(stage, file.formatVersion, stageWhere, error)) {
                return false;
            }
            if (stage.kind <= previousKind) {
                return fail(error, stageWhere + ": stages out of order or repeated");
            }
            previousKind = stage.kind;
        }
    }
    return true;
}

bool encodeShaderFile(const ShaderFile& file, std::vector<uint8_t>& bytes, std::string& error) {
    Layout layout;
    if (!validateShaderFile(file, error) || !planLayout(file, layout, error)) {
        return false;
    }
    bytes.assign(layout.fileSize, 0);
    store32(bytes, header::magic, kFileMagic);
    store32(bytes, header::formatVersion, file.formatVersion);
    store32(bytes, header::headerSize, kFileHeaderSize);
    store32(bytes, header::gpuVersion, file.gpuVersion);
    store32(bytes, header::endianSwapMode, file.endianSwapMode);
    store32(bytes, header::flags, file.aligned ? kFileFlagAligned : 0);
    store32(bytes, header::dataAlignment, file.aligned ? kPaddedAlignment : kPlainAlignment);
    store32(bytes, header::programCount, static_cast<uint32_t>(file.programs.size()));
    store32(bytes, header::programTableOffset, kFileHeaderSize);
    store32(bytes, header::fileSize, layout.fileSize);

    size_t stageIndex = 0;
    for (size_t p = 0; p < file.programs.size(); ++p) {
        const Program& program = file.programs[p];
        const size_t entry = kFileHeaderSize + p * kProgramEntrySize;
        store32(bytes, entry + program::stageCount, static_cast<uint32_t>(program.stages.size()));
        store32(bytes, entry + program::stageTableOffset, layout.stageTableOffsets[p]);
        for (size_t s = 0; s < program.stages.size(); ++s, ++stageIndex) {
            const Stage& source = program.stages[s];
            const StagePlacement& placement = layout.stages[stageIndex];
            const size_t at = layout.stageTableOffsets[p] + s * kStageEntrySize;
            store32(bytes, at + stage::kind, source.kind);
            store32(bytes, at + stage::binaryFormat, source.binaryFormat);
            store32(bytes, at + stage::flags, source.flags);
            store32(bytes, at + stage::languageVersion, source.languageVersion);
            store64(bytes, at + stage::optimizationFlags, source.optimizationFlags);
            store32(bytes, at + stage::binaryOffset, placement.binaryOffset);
            store32(bytes, at + stage::binarySize, static_cast<uint32_t>(source.binary.size()));
            store32(bytes, at + stage::reflectionOffset, placement.reflectionOffset);
            store32(bytes, at + stage::reflectionSize,
                    static_cast<uint32_t>(source.reflection.size()));
            std::copy(source.hash.begin(), source.hash.end(), bytes.begin() + at + stage::hash);
            store32(bytes, at + stage::reflectionEntryCount, placement.reflectionEntryCount);

            auto binary = bytes.begin() + placement.binaryOffset;
            std::copy(source.binary.begin(), source.binary.end(), binary);
            if (file.endianSwapMode == kSwap8In32) {
                swap8In32(std::span<uint8_t>(&*binary, source.binary.size()));
            }
            std::copy(source.reflection.begin(), source.reflection.end(),
                      bytes.begin() + placement.reflectionOffset);
        }
    }
    store32(bytes, header::checksum, crc32(bytes));
    return true;
}

std::vector<uint32_t> binaryOffsets(const ShaderFile& file) {
    Layout layout;
    std::string ignored;
    std::vector<uint32_t> offsets;
    if (planLayout(file, layout, ignored)) {
        for (const StagePlacement& placement : layout.stages) {
            offsets.push_back(placement.binaryOffset);
        }
    }
    return offsets;
}

namespace {

// What holds the file together: magic, format version, header size, file
// size and checksum.
bool checkFileFrame(std::span<const uint8_t> bytes, std::string& error) {
    if (bytes.size() < 4 || load32(bytes, header::magic) != kFileMagic) {
        return fail(error, "not a .vrx shader file (bad magic)");
    }
    if (bytes.size() < kFileHeaderSize) {
        return fail(error, "truncated: " + std::to_string(bytes.size()) +
                               " bytes, shorter than the file header");
    }
    const uint32_t version = load32(bytes, header::formatVersion);
    if (version < kOldestFormatVersion || version > kFormatVersion) {
        return fail(error, "unsupported format version " + std::to_string(version));
    }
    if (load32(bytes, header::headerSize) != kFileHeaderSize) {
        return fail(error,
                    "unexpected header size " + std::to_string(load32(bytes, header::headerSize)));
    }
    const uint32_t fileSize = load32(bytes, header::fileSize);
    if (fileSize > bytes.size()) {
        return fail(error, "truncated: the header gives " + std::to_string(fileSize) +
                               " bytes, the file has " + std::to_string(bytes.size()));
    }
    if (fileSize < bytes.size()) {
        return fail(error, std::to_string(bytes.size() - fileSize) +
                               " bytes after the end the header gives");
    }
    const uint32_t stored = load32(bytes, header::checksum);
    const uint8_t zeros[4] = {};
    uint32_t computed = crc32(bytes.first(header::checksum));
    computed = crc32(zeros, computed);
    computed = crc32(bytes.subspan(header::checksum + 4), computed);
    if (stored != computed) {
        return fail(error, "checksum mismatch: stored " + toHex(stored) + ", computed " +
                               toHex(computed) + " (the file is corrupt)");
    }
    return true;
}

// The file header's fields, kept in `file`, after its frame is checked.
// `programCount` is the number of program table entries.
bool decodeFileHeader(std::span<const uint8_t> bytes, ShaderFile& file, uint32_t& programCount,
                      std::string& error) {
    if (!checkFileFrame(bytes, error)) {
        return false;
    }
    file.formatVersion = load32(bytes, header::formatVersion);
    file.gpuVersion = load32(bytes, header::gpuVersion);
    file.endianSwapMode = load32(bytes, header::endianSwapMode);
    const uint32_t flags = load32(bytes, header::flags);
    if ((flags & ~kFileFlagAligned) != 0) {
        return fail(error, "unknown file flags " + toHex(flags));
    }
    file.aligned = (flags & kFileFlagAligned) != 0;
    const uint32_t alignment = load32(bytes, header::dataAlignment);
    if (alignment != (file.aligned ? kPaddedAlignment : kPlainAlignment)) {
        return fail(error, "data alignment " + std::to_string(alignment) +
                               " does not match the alignment flag");
    }
    if (load32(bytes, header::reserved) != 0) {
        return fail(error, "reserved header field is not zero");
    }
    programCount = load32(bytes, header::programCount);
    if (programCount == 0 || programCount > kMaxPrograms) {
        return fail(error, "program count " + std::to_string(programCount) + " is outside 1.." +
                               std::to_string(kMaxPrograms));
    }
    if (load32(bytes, header::programTableOffset) != kFileHeaderSize) {
        return fail(error, "program table does not follow the header");
    }
    if (kFileHeaderSize + static_cast<uint64_t>(programCount) * kProgramEntrySize > bytes.size()) {
        return fail(error, "program table runs past the end of the file");
    }
    return true;
}

// True when a section lies inside the file (the file's size is checked
// against its header by then).
bool insideFile(std::span<const uint8_t> bytes, uint64_t offset, uint64_t size) {
    return offset + size <= bytes.size();
}

// The stage table entry at `at`, and the binary and reflection it points at.
bool decodeStage(std::span<const uint8_t> bytes, size_t at, uint32_t endianSwapMode,
                 const std::string& where, Stage& out, std::string& error) {
    out.kind = load32(bytes, at + stage::kind);
    const std::string stageWhere = where + ", " + stageKindName(out.kind) + " stage";
    out.binaryFormat = load32(bytes, at + stage::binaryFormat);
    out.flags = load32(bytes, at + stage::flags);
    out.languageVersion = load32(bytes, at + stage::languageVersion);
    out.optimizationFlags = load64(bytes, at + stage::optimizationFlags);
    std::copy_n(bytes.begin() + at + stage::hash, out.hash.size(), out.hash.begin());
    const uint32_t binaryOffset = load32(bytes, at + stage::binaryOffset);
    const uint32_t binarySize = load32(bytes, at + stage::binarySize);
    const uint32_t reflectionOffset = load32(bytes, at + stage::reflectionOffset);
    const uint32_t reflectionSize = load32(bytes, at + stage::reflectionSize);
    if (!insideFile(bytes, binaryOffset, binarySize)) {
        return fail(error, stageWhere + ": binary runs past the end of the file");
    }
    if (!insideFile(bytes, reflectionOffset, reflectionSize)) {
        return fail(error, stageWhere + ": reflection runs past the end of the file");
    }
    if (load32(bytes, at + stage::reserved) != 0) {
        return fail(error, stageWhere + ": reserved field is not zero");
    }
    out.binary.assign(bytes.begin() + binaryOffset, bytes.begin() + binaryOffset + binarySize);
    if (endianSwapMode == kSwap8In32) {
        swap8In32(out.binary);
    }
    out.reflection.assign(bytes.begin() + reflectionOffset,
                          bytes.begin() + reflectionOffset + reflectionSize);
    const uint32_t entryCount = load32(bytes, at + stage::reflectionEntryCount);
    // A block too short to hold its count counts as none here; the
    // validation then names it.
    const uint32_t actualCount = out.reflection.size() < 4 ? 0 : load32(out.reflection, 0);
    if (entryCount != actualCount) {
        return fail(error, stageWhere + ": reflection entry count " + std::to_string(entryCount) +
                               " does not match the block");
    }
    return true;
}

// Program table entry `index` and its stages.
bool decodeProgram(std::span<const uint8_t> bytes, uint32_t index, uint32_t endianSwapMode,
                   Program& out, std::string& error) {
    const size_t entry = kFileHeaderSize + static_cast<size_t>(index) * kProgramEntrySize;
    const std::string where = "program " + std::to_string(index);
    const uint32_t stageCount = load32(bytes, entry + program::stageCount);
    const uint32_t table = load32(bytes, entry + program::stageTableOffset);
    if (stageCount == 0 || stageCount > kMaxStagesPerProgram) {
        return fail(error,
                    where + ": stage count " + std::to_string(stageCount) + " is outside 1..4");
    }
    if (load32(bytes, entry + program::reserved0) != 0 ||
        load32(bytes, entry + program::reserved1) != 0) {
        return fail(error, where + ": reserved fields are not zero");
    }
    if (!insideFile(bytes, table, static_cast<uint64_t>(stageCount) * kStageEntrySize)) {
        return fail(error, where + ": stage table runs past the end of the file");
    }
    out.stages.resize(stageCount);
    for (uint32_t s = 0; s < stageCount; ++s) {
        const size_t at = table + static_cast<size_t>(s) * kStageEntrySize;
        if (!decodeStage(bytes, at, endianSwapMode, where, out.stages[s], error)) {
            return false;
        }
    }
    return true;
}

// Every field is in range; the file must also be laid out exactly as the
// writer lays it out, which catches overlapping sections, wrong offsets and
// stray bytes in padding.
bool hasCanonicalLayout(std::span<const uint8_t> bytes, const ShaderFile& file,
                        std::string& error) {
    std::vector<uint8_t> canonical;
    if (!encodeShaderFile(file, canonical, error)) {
        return false;
    }
    if (canonical.size() != bytes.size()) {
        return fail(error, "file size " + std::to_string(bytes.size()) +
                               " differs from the canonical layout's " +
                               std::to_string(canonical.size()));
    }
    const auto mismatch = std::mismatch(canonical.begin(), canonical.end(), bytes.begin());
    if (mismatch.first != canonical.end()) {
        return fail(error, "layout differs from the canonical one at offset " +
                               toHex(static_cast<uint64_t>(mismatch.first - canonical.begin())));
    }
    return true;
}

}  // namespace

bool decodeShaderFile(std::span<const uint8_t> bytes, ShaderFile& file, std::string& error) {
    file = ShaderFile{};
    uint32_t programCount = 0;
    if (!decodeFileHeader(bytes, file, programCount, error)) {
        return false;
    }
    file.programs.resize(programCount);
    for (uint32_t p = 0; p < programCount; ++p) {
        if (!decodeProgram(bytes, p, file.endianSwapMode, file.programs[p], error)) {
            return false;
        }
    }
    return validateShaderFile(file, error) && hasCanonicalLayout(bytes, file, error);
}

}  // namespace tmb
