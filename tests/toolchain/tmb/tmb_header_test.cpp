// Header output: the generated header compiles as C and C++, and the array
// it defines holds exactly the .vrx file, aligned for use in place.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_folder.h"
#include "tests/toolchain/tmb/fake_stages.h"
#include "toolchain/tmb/shader_writer.h"
#include "toolchain/tmb/tmb_entry_points.h"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;
using tmb_test::FakeProgram;

TEST(HeaderIdentifier, IsAValidIdentifierDerivedFromTheFileName) {
    const struct {
        const char* path;
        const char* identifier;
    } cases[] = {
        {"shaders.h", "shaders"},
        {"out/dir.with.dots/my-shader.h", "my_shader"},
        {"a..b.hpp", "a_b"},
        {"3d scene.h", "vrx_3d_scene"},
        {"__private__.h", "private"},
        {"x--y__z.h", "x_y_z"},
        {"\xc3\xbc"
         "ber.h",
         "ber"},
        {"---.h", "vrx_shader"},
        {"noextension", "noextension"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tmb::headerIdentifier(c.path), c.identifier) << c.path;
    }
}

TEST(HeaderText, HoldsEveryByteOnceWithItsSize) {
    const std::vector<uint8_t> bytes = {0x00, 0x7f, 0x80, 0xff, 0x10};
    const std::string text = tmb::headerText("name", bytes);
    EXPECT_THAT(text, HasSubstr("static const uint32_t name_size = 5u;"));
    EXPECT_THAT(text, HasSubstr("static const uint8_t name_data[5] = {\n"
                                "    0x00, 0x7f, 0x80, 0xff, 0x10,\n};"));
    EXPECT_THAT(text, HasSubstr("#ifndef VRX_NAME_H\n#define VRX_NAME_H"));
}

#if defined(VRX_TEST_GNU_COMPILERS)
// Runs a shell command; true when it exits with 0.
bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Compiles two translation units that include the header (one of them twice)
// with the given compiler and standard, runs the program, and returns the
// bytes it wrote out of the array.
std::string compileAndDump(const TempFolder& folder, const std::string& compiler,
                           const std::string& standard, const std::string& extension) {
    const std::string main =
        "#include <stdio.h>\n"
        "#include \"3d-scene.h\"\n"
        "#include \"3d-scene.h\"\n"
        "int second_unit(void);\n"
        "int main(int argc, char** argv) {\n"
        "    FILE* out;\n"
        "    if (argc != 2 || second_unit() != 1) return 2;\n"
        "    if ((uintptr_t)vrx_3d_scene_data % 256 != 0) return 3;\n"
        "    if (sizeof vrx_3d_scene_data != vrx_3d_scene_size) return 4;\n"
        "    out = fopen(argv[1], \"wb\");\n"
        "    if (out == NULL) return 5;\n"
        "    if (fwrite(vrx_3d_scene_data, 1, vrx_3d_scene_size, out) != vrx_3d_scene_size) "
        "return 6;\n"
        "    return fclose(out) == 0 ? 0 : 7;\n"
        "}\n";
    // Includes the header without using it: no unused-variable warnings.
    const std::string second =
        "#include \"3d-scene.h\"\n"
        "int second_unit(void) { return 1; }\n";
    const std::string tag = standard + "-" + extension;
    folder.write("main-" + tag + "." + extension, main);
    folder.write("second-" + tag + "." + extension, second);
    const fs::path root = folder.path();
    const std::string program = (root / ("program-" + tag)).string();
    const std::string log = (root / ("log-" + tag + ".txt")).string();
    const std::string command = "\"" + compiler + "\" -std=" + standard +
                                " -Wall -Wextra -Werror -pedantic -I\"" + root.string() + "\" \"" +
                                (root / ("main-" + tag + "." + extension)).string() + "\" \"" +
                                (root / ("second-" + tag + "." + extension)).string() + "\" -o \"" +
                                program + "\" > \"" + log + "\" 2>&1";
    if (!run(command)) {
        ADD_FAILURE() << standard << " compile failed:\n" << readFileBytes(log);
        return "";
    }
    const std::string dump = (root / ("dump-" + tag)).string();
    EXPECT_TRUE(run("\"" + program + "\" \"" + dump + "\"")) << standard;
    return readFileBytes(dump);
}

TEST(HeaderOutput, CompilesAsCAndCxxAndHoldsTheShaderFile) {
    for (bool newer : {true, false}) {
        for (uint32_t swap : {0u, 2u}) {
            SCOPED_TRACE(std::string(newer ? "newer" : "older") + " swap " + std::to_string(swap));
            TempFolder folder;
            const std::string header = folder.file("3d-scene.h");
            FakeProgram program;
            program.gpuVersion = 1;
            program.withStage(toolchain::kStageVertex, 1, 300)
                .withStage(toolchain::kStagePixel, 2, 61);
            const WriterOptions options = program.options();
            const WriterShaders shaders = program.shaders();
            ASSERT_NE(newer ? TMBWriteFileShaderAsCode2(header.c_str(), swap, &options)
                            : TMBWriteFileShaderAsCode(header.c_str(), swap, &shaders),
                      0);

            // The same program as a plain write with the GPU version the
            // records were compiled for and alignment padding.
            const std::string vrx = folder.file("reference.vrx");
            ASSERT_NE(TMBWriteFileShader2(vrx.c_str(), 1, swap, 1, 1, &options), 0);
            const std::string expected = readFileBytes(vrx);

            EXPECT_EQ(compileAndDump(folder, VRX_TEST_C_COMPILER, "c99", "c"), expected);
            EXPECT_EQ(compileAndDump(folder, VRX_TEST_C_COMPILER, "c11", "c"), expected);
            if (newer && swap == 0) {  // the compilers' side does not depend on the modes
                EXPECT_EQ(compileAndDump(folder, VRX_TEST_CXX_COMPILER, "c++11", "cpp"), expected);
                EXPECT_EQ(compileAndDump(folder, VRX_TEST_CXX_COMPILER, "c++20", "cpp"), expected);
            }
        }
    }
}
#endif

}  // namespace
