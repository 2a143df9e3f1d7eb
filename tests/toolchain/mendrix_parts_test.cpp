// The compiler library's pieces that stand on their own: the #version scan,
// message tidying and the debug hash.
#include <gtest/gtest.h>

#include "toolchain/common/hash128.h"
#include "toolchain/mendrix/front_end/diagnostics.h"
#include "toolchain/mendrix/front_end/version_line.h"
#include "toolchain/mendrix/output/debug_info.h"

namespace {

struct VersionCase {
    const char* text;
    bool found;
    int version;
    bool es;
    bool compatibility;
    int line;
};

TEST(MendrixSourceScan, FindsTheVersionDirectiveAsThePreprocessorWould) {
    const VersionCase cases[] = {
        {"#version 450\nvoid main(){}", true, 450, false, false, 1},
        {"  \t#  version   310   es\n", true, 310, true, false, 1},
        {"// comment\n/* block\n comment */\n#version 330 core\n", true, 330, false, false, 4},
        {"#version 100\n", true, 100, true, false, 1},
        {"#version 310\n", true, 310, true, false, 1},
        {"#version 150 compatibility\n", true, 150, false, true, 1},
        {"#ver\\\nsion 300 es\n", true, 300, true, false, 1},
        {"void main(){}\n#version 450\n", false, 0, false, false, 0},
        {"#define X 1\n", false, 0, false, false, 0},
        {"#version\n450\n", false, 0, false, false, 0},
        {"", false, 0, false, false, 0},
        {"/* unterminated", false, 0, false, false, 0},
    };
    for (const VersionCase& c : cases) {
        mendrix::VersionLine line = mendrix::scanVersionLine(c.text);
        EXPECT_EQ(line.found, c.found) << c.text;
        EXPECT_EQ(line.version, c.version) << c.text;
        EXPECT_EQ(line.es, c.es) << c.text;
        EXPECT_EQ(line.compatibility, c.compatibility) << c.text;
        EXPECT_EQ(line.line, c.line) << c.text;
    }
}

TEST(MendrixDiagnostics, TranslatesFrontEndLogs) {
    const char* log =
        "WARNING: /a.vert:2: '#extension' : extension not supported: GL_X\n"
        "ERROR: /a.vert:5: '' :  syntax error, unexpected IDENTIFIER  \n"
        "ERROR: 2:9: 'x' : undeclared identifier\n"
        "ERROR: #version: versions 300, 310, and 320 require specifying the 'es' profile\n"
        "ERROR: /a.vert:6: '' : compilation terminated \n"
        "ERROR: 3 compilation errors.  No code generated.\n"
        "\n";
    mendrix::Diagnostics diagnostics;
    diagnostics.addStageLog(log, "/a.vert", 1);
    EXPECT_EQ(diagnostics.text(),
              "/a.vert:2: warning: '#extension' : extension not supported: GL_X\n"
              "/a.vert:5: error: syntax error, unexpected IDENTIFIER\n"
              "/a.vert:9: error: 'x' : undeclared identifier\n"
              "/a.vert:1: error: version: versions 300, 310, and 320 require specifying the "
              "'es' profile");
    ASSERT_NE(diagnostics.firstError(), nullptr);
    EXPECT_EQ(diagnostics.firstError()->line, 5);
}

TEST(MendrixDiagnostics, LinkMessagesBelongToTheLastStageNamed) {
    const char* log =
        "ERROR: Linking vertex and fragment stages: Types must match:\n"
        "    vertex stage: \" vec2 v\"\n"
        "    fragment stage: \" vec3 v\"\n"
        "\n"
        "ERROR: Linking geometry stage: Missing entry point: Each stage requires one entry "
        "point\n";
    mendrix::Diagnostics diagnostics;
    diagnostics.addLinkLog(log, [](std::string_view stage) {
        return stage.empty() ? std::string("first") : "<" + std::string(stage) + ">";
    });
    EXPECT_EQ(diagnostics.text(),
              "<fragment>:0: error: Linking vertex and fragment stages: Types must match: vertex "
              "stage: \" vec2 v\" fragment stage: \" vec3 v\"\n"
              "<geometry>:0: error: Linking geometry stage: Missing entry point: Each stage "
              "requires one entry point");
}

TEST(MendrixQuarn, HashIsFnv1a128) {
    EXPECT_EQ(toolchain::hexOf(toolchain::hash128("")), "6c62272e07bb014262b821756295c58d");
    EXPECT_EQ(toolchain::hexOf(toolchain::hash128("a")), "d228cb696f1a8caf78912b704e4a8964");
    EXPECT_EQ(toolchain::hexOf(toolchain::hash128("foobar")), "343e1662793c64bf6f0d3597ba446f18");
}

}  // namespace
