// The .vrx encoder and reader: layout, alignment, byte swap, and a reader
// that refuses every truncated, corrupt or non-canonical file.
#include "toolchain/tmb/vrx_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "platform/safe_files.h"
#include "tests/support/temp_folder.h"
#include "tests/toolchain/tmb/fake_stages.h"
#include "toolchain/tmb/shader_writer.h"
#include "toolchain/tmb/vrx_describe.h"
#include "toolchain/tmb/vrx_json.h"

namespace {

using ::testing::HasSubstr;
using tmb_test::FakeProgram;

uint32_t load32(const std::vector<uint8_t>& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void store32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Stores a checksum that matches the (altered) contents again, so the
// reader's other checks are reached.
void fixChecksum(std::vector<uint8_t>& bytes) {
    store32(bytes, tmb::kChecksumOffset, 0);
    store32(bytes, tmb::kChecksumOffset, tmb::crc32(bytes));
}

// Two programs: vertex + pixel (the pixel binary not a whole number of
// words), and a compute program without hash or reflection.
tmb::ShaderFile sampleFile(uint32_t gpuVersion = 2, uint32_t swap = 0, bool aligned = false) {
    FakeProgram graphics;
    graphics.withStage(tmb::kKindVertex, 1, 96).withStage(tmb::kKindPixel, 2, 61);
    FakeProgram compute;
    compute.withStage(tmb::kKindCompute, 3, 40, false, false);
    tmb::ShaderFile file;
    file.gpuVersion = gpuVersion;
    file.endianSwapMode = swap;
    file.aligned = aligned;
    file.programs = {graphics.expected, compute.expected};
    return file;
}

std::vector<uint8_t> encode(const tmb::ShaderFile& file) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(tmb::encodeShaderFile(file, bytes, error)) << error;
    return bytes;
}

std::string decodeError(const std::vector<uint8_t>& bytes) {
    tmb::ShaderFile file;
    std::string error;
    if (tmb::decodeShaderFile(bytes, file, error)) {
        return "<accepted>";
    }
    return error;
}

TEST(Crc32, MatchesTheStandardCheckValueAndCanBeFedInPieces) {
    const std::string text = "123456789";
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()),
                                         text.size());
    EXPECT_EQ(tmb::crc32(bytes), 0xCBF43926u);
    EXPECT_EQ(tmb::crc32(bytes.subspan(4), tmb::crc32(bytes.first(4))), 0xCBF43926u);
}

TEST(Swap8In32, ReversesWholeWordsAndLeavesATailAlone) {
    struct Case {
        std::vector<uint8_t> in, out;
    };
    const Case cases[] = {
        {{}, {}},
        {{1, 2, 3}, {1, 2, 3}},
        {{1, 2, 3, 4}, {4, 3, 2, 1}},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {4, 3, 2, 1, 8, 7, 6, 5, 9, 10}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = c.in;
        tmb::swap8In32(bytes);
        EXPECT_EQ(bytes, c.out);
        tmb::swap8In32(bytes);
        EXPECT_EQ(bytes, c.in);
    }
}

TEST(VrxFormat, RoundTripsInEveryModeWithTheBinariesPlacedAndSwappedAsDeclared) {
    for (uint32_t gpu : {1u, 2u}) {
        for (uint32_t swap : {tmb::kSwapNone, tmb::kSwap8In32}) {
            for (bool aligned : {false, true}) {
                SCOPED_TRACE("gpu " + std::to_string(gpu) + " swap " + std::to_string(swap) +
                             " aligned " + std::to_string(aligned));
                const tmb::ShaderFile original = sampleFile(gpu, swap, aligned);
                const std::vector<uint8_t> bytes = encode(original);
                EXPECT_EQ(load32(bytes, 12), gpu);
                EXPECT_EQ(load32(bytes, 16), swap);
                EXPECT_EQ(load32(bytes, 20), aligned ? 1u : 0u);
                EXPECT_EQ(load32(bytes, 40), bytes.size());
                EXPECT_EQ(bytes.size() % 4, 0u);

                const std::vector<uint32_t> offsets = tmb::binaryOffsets(original);
                ASSERT_EQ(offsets.size(), 3u);
                size_t index = 0;
                for (const tmb::Program& program : original.programs) {
                    for (const tmb::Stage& stage : program.stages) {
                        const uint32_t offset = offsets[index++];
                        EXPECT_EQ(offset % (aligned ? 256 : 4), 0u);
                        std::vector<uint8_t> stored(bytes.begin() + offset,
                                                    bytes.begin() + offset + stage.binary.size());
                        if (swap == tmb::kSwap8In32) {
                            tmb::swap8In32(stored);
                        }
                        EXPECT_EQ(stored, stage.binary);
                    }
                }

                tmb::ShaderFile decoded;
                std::string error;
                ASSERT_TRUE(tmb::decodeShaderFile(bytes, decoded, error)) << error;
                EXPECT_EQ(decoded, original);
            }
        }
    }
}

TEST(VrxFormat, SwapChangesOnlyTheBinaries) {
    const std::vector<uint8_t> plain = encode(sampleFile(2, tmb::kSwapNone));
    std::vector<uint8_t> swapped = encode(sampleFile(2, tmb::kSwap8In32));
    ASSERT_EQ(plain.size(), swapped.size());
    const tmb::ShaderFile file = sampleFile();
    const std::vector<uint32_t> offsets = tmb::binaryOffsets(file);
    size_t index = 0;
    for (const tmb::Program& program : file.programs) {
        for (const tmb::Stage& stage : program.stages) {
            tmb::swap8In32(std::span(swapped).subspan(offsets[index++], stage.binary.size()));
        }
    }
    store32(swapped, 16, tmb::kSwapNone);
    fixChecksum(swapped);
    EXPECT_EQ(swapped, plain);
}

TEST(VrxFormat, ReaderRefusesEveryTruncation) {
    const std::vector<uint8_t> bytes = encode(sampleFile(2, 0, true));
    for (size_t length = 0; length < bytes.size(); ++length) {
        const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
        EXPECT_NE(decodeError(cut), "<accepted>") << "length " << length;
    }
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_THAT(decodeError(longer), HasSubstr("after the end"));
}

TEST(VrxFormat, ReaderRefusesEveryFlippedBit) {
    const std::vector<uint8_t> bytes = encode(sampleFile(2, 2, true));
    for (size_t offset = 0; offset < bytes.size(); ++offset) {
        std::vector<uint8_t> corrupt = bytes;
        corrupt[offset] ^= static_cast<uint8_t>(1u << (offset % 8));
        EXPECT_NE(decodeError(corrupt), "<accepted>") << "offset " << offset;
    }
}

// Faults that a matching checksum does not hide. Layout of sampleFile():
// header 0..47, program table 48..79, stage entries at 80 (vertex), 144
// (pixel) and 208 (compute), data from 272.
TEST(VrxFormat, ReaderNamesStructuralFaultsEvenWithAValidChecksum) {
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> alter;
        const char* message;
    };
    auto set = [](size_t offset, uint32_t value) {
        return [=](std::vector<uint8_t>& b) { store32(b, offset, value); };
    };
    // The pixel binary has 61 bytes: 3 bytes of padding follow it.
    const size_t pixelPadding = tmb::binaryOffsets(sampleFile())[1] + 62;
    const Case cases[] = {
        {"magic", set(0, 0x11223344), "bad magic"},
        {"format version", set(4, 3), "unsupported format version 3"},
        {"header size", set(8, 64), "header size"},
        {"gpu version", set(12, 3), "GPU version 3"},
        {"swap mode", set(16, 1), "endian swap mode 1"},
        {"unknown file flag", set(20, 0x2), "unknown file flags"},
        {"alignment not matching flag", set(24, 256), "does not match the alignment flag"},
        {"reserved header field", set(44, 1), "reserved header field"},
        {"no programs", set(28, 0), "program count 0"},
        {"too many programs", set(28, 0x7FFFFFFF), "program count"},
        {"program table elsewhere", set(32, 64), "program table"},
        {"program table past end", set(28, 60000), "program table runs past"},
        {"no stages", set(48, 0), "stage count 0"},
        {"five stages", set(48, 5), "stage count 5"},
        {"stage table past end", set(52, 0xFFFFFF00u), "stage table runs past"},
        {"program reserved", set(56, 7), "reserved fields"},
        {"stage kind", set(80, 9), "unknown stage kind 9"},
        {"stages out of order", set(144, 1), "out of order"},
        {"binary format", set(84, 0), "unknown binary format 0"},
        {"binary past end", set(80 + 28, 0x10000), "binary runs past"},
        {"binary offset wraps", set(80 + 24, 0xFFFFFFF0u), "binary runs past"},
        {"reflection past end", set(80 + 36, 0x10000), "reflection runs past"},
        {"reflection entry count", set(80 + 56, 3), "reflection entry count 3"},
        // Regression: a block of 1 to 3 bytes had its count read past its end.
        {"reflection of 3 bytes", set(80 + 36, 3), "reflection entry count 4"},
        {"reflection of 1 byte without entries",
         [](std::vector<uint8_t>& b) {
             store32(b, 80 + 36, 1);
             store32(b, 80 + 56, 0);
         },
         "shorter than its entry count"},
        {"stage reserved", set(80 + 60, 1), "reserved field"},
        {"hash without flag", set(80 + 8, 0), "hash bytes set without the hash flag"},
        {"shifted binary", set(80 + 24, 276), "canonical"},
        {"padding byte after a binary", [=](std::vector<uint8_t>& b) { b[pixelPadding] = 1; },
         "canonical"},
        {"file size smaller", [](std::vector<uint8_t>& b) { store32(b, 40, load32(b, 40) - 4); },
         "after the end"},
        {"file size larger", [](std::vector<uint8_t>& b) { store32(b, 40, load32(b, 40) + 4); },
         "truncated"},
    };
    const std::vector<uint8_t> bytes = encode(sampleFile());
    ASSERT_EQ(load32(bytes, 52), 80u);
    ASSERT_EQ(load32(bytes, 64 + 4), 208u);
    ASSERT_EQ(tmb::binaryOffsets(sampleFile()).front(), 272u);
    ASSERT_EQ(decodeError(bytes), "<accepted>");
    for (const Case& c : cases) {
        std::vector<uint8_t> altered = bytes;
        c.alter(altered);
        fixChecksum(altered);
        EXPECT_THAT(decodeError(altered), HasSubstr(c.message)) << c.name;
    }
    std::vector<uint8_t> badChecksum = bytes;
    store32(badChecksum, tmb::kChecksumOffset, load32(bytes, tmb::kChecksumOffset) + 1);
    EXPECT_THAT(decodeError(badChecksum), HasSubstr("checksum mismatch"));
    EXPECT_THAT(decodeError({'#', 'i', 'n', 'c', 'l', 'u', 'd', 'e'}), HasSubstr("bad magic"));
    EXPECT_THAT(decodeError({}), HasSubstr("bad magic"));
}

TEST(Reflection, ParsesWhatItEncodesAndRefusesMalformedBlocks) {
    const std::vector<tmb::ReflectionEntry> entries = {
        {toolchain::kReflectAttribute, 0, 0x8B52, 1, "pos"},
        {toolchain::kReflectUniformBlock, 2, 0, 1, "Block"},
        {toolchain::kReflectVaryingOut, -1, 0x8B50, 2, "uvw"},
    };
    const std::vector<uint8_t> block = tmb::encodeReflection(entries);
    ASSERT_EQ(block.size(), 4 + (16 + 4) + (16 + 8) + (16 + 4));
    std::vector<tmb::ReflectionEntry> parsed;
    std::string error;
    ASSERT_TRUE(tmb::parseReflection(block, parsed, error)) << error;
    EXPECT_EQ(parsed, entries);
    ASSERT_TRUE(tmb::parseReflection({}, parsed, error));
    EXPECT_TRUE(parsed.empty());

    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> alter;
        const char* message;
    };
    // Entry 0 starts at 4 (name at 20), entry 1 at 24 (name "Block" at 40).
    const Case cases[] = {
        {"short count", [](auto& b) { b.resize(3); }, "shorter than its entry count"},
        {"count too large", [](auto& b) { store32(b, 0, 1000); }, "does not fit"},
        {"category 0", [](auto& b) { b[4] = 0; }, "unknown category 0"},
        {"category 9", [](auto& b) { b[24] = 9; }, "entry 1 has unknown category 9"},
        {"reserved byte", [](auto& b) { b[5] = 1; }, "reserved byte"},
        {"empty name", [](auto& b) { b[6] = 0; }, "empty name"},
        {"name past end", [](auto& b) { b[6] = 200; }, "truncated in its name"},
        {"NUL in name", [](auto& b) { b[41] = 0; }, "NUL byte"},
        {"name padding", [](auto& b) { b[45] = 'x'; }, "non-zero name padding"},
        {"trailing bytes", [](auto& b) { b.insert(b.end(), 4, 0); }, "after the last entry"},
        {"entry cut", [](auto& b) { b.resize(b.size() - 2); }, "entry 2 is truncated in its name"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> altered = block;
        c.alter(altered);
        EXPECT_FALSE(tmb::parseReflection(altered, parsed, error)) << c.name;
        EXPECT_THAT(error, HasSubstr(c.message)) << c.name;
    }
}

TEST(VrxFormat, EncoderRefusesModelsNoReaderWouldAccept) {
    struct Case {
        const char* name;
        std::function<void(tmb::ShaderFile&)> alter;
        const char* message;
    };
    const Case cases[] = {
        {"no programs", [](auto& f) { f.programs.clear(); }, "program count 0"},
        {"empty program", [](auto& f) { f.programs[1].stages.clear(); }, "stage count 0"},
        {"repeated kind", [](auto& f) { f.programs[0].stages[1].kind = tmb::kKindVertex; },
         "out of order"},
        {"empty binary", [](auto& f) { f.programs[0].stages[0].binary.clear(); }, "empty binary"},
        {"bad reflection", [](auto& f) { f.programs[0].stages[0].reflection.push_back(1); },
         "reflection block"},
        {"gpu 0", [](auto& f) { f.gpuVersion = 0; }, "GPU version 0"},
        {"storage block in version 1",
         [](auto& f) {
             f.formatVersion = 1;
             f.programs[0].stages[0].reflection = tmb::encodeReflection({{8, 1, 0, 1, "Buf"}});
         },
         "need format version 2"},
    };
    for (const Case& c : cases) {
        tmb::ShaderFile file = sampleFile();
        c.alter(file);
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_FALSE(tmb::encodeShaderFile(file, bytes, error)) << c.name;
        EXPECT_THAT(error, HasSubstr(c.message)) << c.name;
    }
}

TEST(VrxFormat, AppendToAVersion1FileRewritesItAsVersion2) {
    TempFolder folder;
    tmb::ShaderFile old = sampleFile();
    old.formatVersion = 1;
    const std::vector<uint8_t> oldBytes = encode(old);
    std::string path = folder.write("old.vrx", std::string(oldBytes.begin(), oldBytes.end()));
    tmb::ShaderFile added = sampleFile();
    added.programs[0].stages[0].reflection = tmb::encodeReflection({{8, 1, 0, 1, "Buf"}});
    std::string error;
    ASSERT_TRUE(tmb::appendShaderFile(path, added, error)) << error;
    std::string text;
    ASSERT_TRUE(safe_files::readWholeFile(path, text, error)) << error;
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    tmb::ShaderFile read;
    ASSERT_TRUE(tmb::decodeShaderFile(bytes, read, error)) << error;
    EXPECT_EQ(read.formatVersion, 2u);
    EXPECT_EQ(read.programs.size(), old.programs.size() + added.programs.size());
}

TEST(VrxJson, EscapesControlsQuotesAndEachByteOfInvalidUtf8) {
    EXPECT_EQ(tmb::jsonString("a\"\\\n\xc3\xa9\xff\xed\xa0\x80"),
              "\"a\\\"\\\\\\u000a\xc3\xa9\\u00ff\\u00ed\\u00a0\\u0080\"");
}

TEST(VrxDescribe, ShowsModesStagesHashesAndReflection) {
    const tmb::ShaderFile file = sampleFile(1, tmb::kSwap8In32, true);
    const std::string text = tmb::describeShaderFile(file, 1234);
    for (const char* expected : {
             "file size:        1234 bytes",
             "GPU version:      1",
             "endian swap mode: 2 (8-in-32 byte swap of stage binaries)",
             "alignment:        256 (padded)",
             "programs:         2",
             "program 0: 2 stages",
             "  vertex stage\n    binary:       validated, 96 bytes at offset 0x200",
             "  pixel stage\n    binary:       spirv, 61 bytes at offset 0x300",
             "hash:         a1a2a3a4a5a6a7a8a9aaabacadaeafb0",
             "optimisation: 0x0000000100000040",
             "sampler       location 3    type 0x8b5e     array 4    textures",
             "program 1: 1 stage\n  compute stage",
             "flags:        0x4 (essl)",
             "hash:         none",
             "reflection:   0 entries",
         }) {
        EXPECT_THAT(text, HasSubstr(expected));
    }
}

}  // namespace
