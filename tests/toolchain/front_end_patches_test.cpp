// The front end's patches (toolchain/glslang-patches/), one corpus program
// per row, each compiled alone. Most programs check their folded constants
// themselves: an array sized `right ? 1 : -1` compiles only when the
// constant is right. A row with a disassembly line also checks the
// constant stored in the SPIR-V.
#include <gtest/gtest.h>

#include <string>

#include "tests/toolchain/mendrix_support.h"

namespace {

using namespace mendrix_test;

struct PatchCase {
    const char* file;  // in corpus/front_end/; the extension names the stage
    bool essl;
    bool compiles;
    const char* storedLine;  // part of a line of the SPIR-V listing, or null
};

// clang-format off
const PatchCase kCases[] = {
    // 0001: a folded comparison is one bool, equal to `true`
    {"bool_vector_equality.frag", false, true,
     "OpConstantComposite %v4float %float_1 %float_1 %float_1 %float_1"},
    {"aggregate_equality.vert", false, true, nullptr},
    {"hyperbolic.vert", false, true, nullptr},                 // 0002
    {"transpose.vert", false, true, nullptr},                  // 0003
    {"determinant.vert", false, true, nullptr},                // 0004
    {"inverse.vert", false, true, nullptr},                    // 0005, 0006
    {"inverse_before_140.vert", false, false, nullptr},
    {"matrix_functions_essl300.vert", true, true, nullptr},
    {"bit_reinterpretation.frag", false, true, nullptr},       // 0007
    {"packing.frag", false, true, nullptr},                    // 0008
    {"fma_ldexp.frag", false, true, nullptr},                  // 0009
    {"integer_bits.frag", false, true, nullptr},               // 0010
    {"integer_mix.frag", false, true, nullptr},                // 0011
    {"integer_abs_sign.frag", false, true, nullptr},           // 0012
    {"sequence_essl100.vert", true, true, nullptr},            // 0013
    {"sequence_essl300.vert", true, false, nullptr},
    // A texture lookup never is a constant expression.
    {"texture_not_constant.frag", false, false, nullptr},
};
// clang-format on

Sources sourcesFor(const std::string& extension, const char* text, const char* path) {
    Sources sources;
    if (extension == ".vert") {
        sources.vertex = text;
        sources.vertexPath = path;
    } else if (extension == ".geom") {
        sources.geometry = text;
        sources.geometryPath = path;
    } else if (extension == ".comp") {
        sources.compute = text;
        sources.computePath = path;
    } else {
        sources.pixel = text;
        sources.pixelPath = path;
    }
    return sources;
}

toolchain::ToolchainStageRecord onlyStage(const CompiledShaderSet& set) {
    for (const void* slot :
         {static_cast<const void*>(&set.vertexShader), static_cast<const void*>(&set.pixelShader),
          static_cast<const void*>(&set.geometryShader),
          static_cast<const void*>(&set.computeShader)}) {
        toolchain::ToolchainStageRecord record = recordAt(slot);
        if (record.magic == toolchain::kStageRecordMagic) {
            return record;
        }
    }
    return {};
}

TEST(FrontEndPatches, ProgramsCompileWithTheirFoldedConstants) {
    mendrix::Compiler compiler(2);
    TempFolder folder;
    for (const PatchCase& c : kCases) {
        SCOPED_TRACE(c.file);
        const std::filesystem::path path =
            std::filesystem::path(MENDRIX_CORPUS_DIR) / "front_end" / c.file;
        const std::string text = readFileBytes(path);
        ASSERT_FALSE(text.empty());
        const std::string pathText = path.string();
        Sources sources = sourcesFor(path.extension().string(), text.c_str(), pathText.c_str());
        sources.essl = c.essl;
        Compiled compiled(compiler, makeRequest(sources));
        EXPECT_EQ(compiled.ok, c.compiles) << compiled.log();
        if (c.storedLine == nullptr || !compiled.ok) {
            continue;
        }
        const toolchain::ToolchainStageRecord record = onlyStage(compiled.set);
        ASSERT_EQ(record.binaryFormat, toolchain::kBinarySpirv);
#ifndef _WIN32
        const std::string listing = disassemble(record, folder);
        EXPECT_NE(listing.find(c.storedLine), std::string::npos) << listing;
#endif
    }
}

}  // namespace
