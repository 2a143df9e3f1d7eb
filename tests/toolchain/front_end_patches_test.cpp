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

toolchain::StageRecord onlyStage(const CompiledShaderSet& set) {
    for (const void* slot :
         {static_cast<const void*>(&set.vertexShader), static_cast<const void*>(&set.pixelShader),
          static_cast<const void*>(&set.geometryShader),
          static_cast<const void*>(&set.computeShader)}) {
        toolchain::StageRecord record = recordAt(slot);
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
        const toolchain::StageRecord record = onlyStage(compiled.set);
        ASSERT_EQ(record.binaryFormat, toolchain::kBinarySpirv);
#ifndef _WIN32
        const std::string listing = disassemble(record, folder);
        EXPECT_NE(listing.find(c.storedLine), std::string::npos) << listing;
#endif
    }
}

// ---- legacy extensions, built-ins and the preprocessor (0020-0029, 0050-0051)

// Programs GL drivers accept that the front end rejected, and neighbours that
// stay rejected. An accepted program compiles without any message (a warning
// about an unknown extension is a fault too), in the stored form given.
enum class Stored { Rejected, Validated, Spirv };

struct LegacyCase {
    const char* file;  // in corpus/front_end/; the extension names the stage
    bool essl;
    Stored stored;
};

// clang-format off
const LegacyCase kLegacyCases[] = {
    // 0020: gl_InstanceID and gl_InstanceIDARB with GL_ARB_draw_instanced, in
    // every stored form; vertex shaders only, and below 1.40 not without it
    {"instance_id_arb_120.vert", false, Stored::Validated},
    {"instance_id_arb_suffix_150_compatibility.vert", false, Stored::Validated},
    {"instance_id_arb_suffix_330.vert", false, Stored::Spirv},
    {"instance_id_arb_suffix_pixel_110.frag", false, Stored::Rejected},
    {"instance_id_without_extension_130.vert", false, Stored::Rejected},
    // 0021: index before 1.50, where location is legal; GL_ARB_blend_func_extended
    // is known but does not make location legal by itself
    {"dual_source_index_130.frag", false, Stored::Validated},
    {"dual_source_index_without_location_extension_150.frag", false, Stored::Rejected},
    // 0022: global in/out in 1.10/1.20 with GL_ARB_explicit_attrib_location
    {"explicit_location_in_out_120.vert", false, Stored::Validated},
    {"in_out_without_extension_120.vert", false, Stored::Rejected},
    {"draw_buffers_enable_110.frag", false, Stored::Validated},          // 0023
    // 0024: rectangle samplers by default before 1.40; reserved when disabled and in ESSL
    {"rectangle_samplers_110.frag", false, Stored::Validated},
    {"rectangle_samplers_disabled_120.frag", false, Stored::Rejected},
    {"rectangle_sampler_essl100.frag", true, Stored::Rejected},
    // 0025: __VERSION__ is defined, also without #version (110, ESSL 100)
    {"version_macro_without_version.vert", false, Stored::Validated},
    {"version_macro_without_version_essl.vert", true, Stored::Validated},
    // 0026: embedded structure definitions in 1.10 only
    {"nested_struct_110.vert", false, Stored::Validated},
    {"nested_struct_120.vert", false, Stored::Rejected},
    // 0027: long identifiers in desktop GLSL, ESSL's limit of 1024 kept, and
    // the larger tokens off the stack of nested macro calls
    {"identifier_17000_110.vert", false, Stored::Validated},
    {"identifier_1025_essl300.vert", true, Stored::Rejected},
    {"macro_calls_nested_300_deep.vert", false, Stored::Validated},
    // 0028, 0029: programs that crashed the front end
    {"block_named_like_function_150.vert", false, Stored::Rejected},
    {"bindless_handle_to_uvec2_150.frag", false, Stored::Validated},
    // 0050: the plain outputs of 1.50 compatibility geometry shaders; core has none
    {"compatibility_geometry_outputs.geom", false, Stored::Validated},
    {"core_geometry_front_color.geom", false, Stored::Rejected},
    // 0051: the Lod functions of 1.10/1.20 belong to vertex shaders; a fragment
    // shader needs the extension, and the Grad functions need it in every stage
    {"vertex_lod.vert", false, Stored::Validated},
    {"fragment_lod.frag", false, Stored::Rejected},
    {"fragment_lod_extension.frag", false, Stored::Validated},
    {"vertex_grad.vert", false, Stored::Rejected},
    // 0070, 0071: a redeclared built-in block keeps its storage and its members
    {"anonymous_input_block_410.geom", false, Stored::Rejected},
    {"block_member_outside_block_410.vert", false, Stored::Rejected},
    {"per_vertex_blocks_150.geom", false, Stored::Validated},            // 0072
    // 0073: line continuation in every desktop version, from ESSL 3.00 only
    {"line_continuation_110.frag", false, Stored::Validated},
    {"line_continuation_essl100.frag", true, Stored::Rejected},
    {"varying_output_150_compatibility.geom", false, Stored::Validated}, // 0074
};
// clang-format on

TEST(FrontEndPatches, LegacyProgramsCompileCleanlyInTheirStoredForm) {
    mendrix::Compiler compiler(2);
    for (const LegacyCase& c : kLegacyCases) {
        SCOPED_TRACE(c.file);
        const std::filesystem::path path =
            std::filesystem::path(MENDRIX_CORPUS_DIR) / "front_end" / c.file;
        const std::string text = readFileBytes(path);
        ASSERT_FALSE(text.empty());
        const std::string pathText = path.string();
        Sources sources = sourcesFor(path.extension().string(), text.c_str(), pathText.c_str());
        sources.essl = c.essl;
        Compiled compiled(compiler, makeRequest(sources));
        EXPECT_EQ(compiled.ok, c.stored != Stored::Rejected) << compiled.log();
        if (compiled.ok) {
            EXPECT_EQ(compiled.log(), "");
            EXPECT_EQ(onlyStage(compiled.set).binaryFormat, c.stored == Stored::Spirv
                                                                ? toolchain::kBinarySpirv
                                                                : toolchain::kBinaryValidated);
        }
    }
}

// Programs whose stages only fail together, at link (0075, 0076): the
// stages of a row are the corpus files named `<name>.vert`, `.geom` and `.frag`.
const char* const kLinkedPrograms[] = {
    "tex_coord_sizes_110",
    "tex_coord_geometry_150_compatibility",
};

TEST(FrontEndPatches, LinkedProgramsCompileCleanly) {
    mendrix::Compiler compiler(2);
    for (const char* name : kLinkedPrograms) {
        SCOPED_TRACE(name);
        Sources sources;
        struct StageFile {
            const char* extension;
            const char** text;
            const char** path;
        };
        const StageFile stages[3] = {{".vert", &sources.vertex, &sources.vertexPath},
                                     {".geom", &sources.geometry, &sources.geometryPath},
                                     {".frag", &sources.pixel, &sources.pixelPath}};
        std::string texts[3], paths[3];
        for (int i = 0; i < 3; ++i) {
            paths[i] = std::string(MENDRIX_CORPUS_DIR) + "/front_end/" + name + stages[i].extension;
            if (std::filesystem::exists(paths[i])) {
                texts[i] = readFileBytes(paths[i]);
                *stages[i].text = texts[i].c_str();
                *stages[i].path = paths[i].c_str();
            }
        }
        Compiled compiled(compiler, makeRequest(sources));
        EXPECT_TRUE(compiled.ok) << compiled.log();
        EXPECT_EQ(compiled.log(), "");
    }
}

}  // namespace
