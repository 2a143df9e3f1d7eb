// The execution runner's reading of shader_test files and its way from a
// test's uniform names to reflected locations.
#include <gtest/gtest.h>

#include "toolchain/gl_runner/reflected_names.h"
#include "toolchain/gl_runner/shader_test.h"

namespace {

using gl_runner::parseShaderTest;

struct NameCase {
    const char* name;
    std::optional<int32_t> location;
};

TEST(ReflectedNames, ElementsTheReflectionLeavesOutFollowFromTheirNeighbours) {
    // As a reflection lists `uniform vec4 items[6]`, a structure array and a
    // loose uniform: first two and last element of each array.
    const std::map<std::string, int32_t> locations = {
        {"tint", 4},
        {"items[0]", 10},
        {"items[1]", 11},
        {"items[5]", 15},
        {"lights[0].colour", 20},
        {"lights[0].power", 21},
        {"lights[1].colour", 22},
        {"lights[1].power", 23},
        {"lights[3].colour", 26},
        {"lights[3].power", 27},
    };
    const NameCase cases[] = {
        {"tint", 4},
        {"items[1]", 11},
        {"items[3]", 13},
        {"items", 10},
        {"lights[2].power", 25},
        {"lights[3].colour", 26},
        {"missing", std::nullopt},
        {"missing[2]", std::nullopt},
        {"tint[1]", std::nullopt},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(gl_runner::reflectedLocation(locations, c.name), c.location) << c.name;
    }
}

struct ParseCase {
    const char* name;
    const char* text;
    const char* unsupported;  // the reason, or "" for a test that can run
};

TEST(ShaderTestFile, WhatCannotRunIsNamed) {
    const ParseCase cases[] = {
        {"subset",
         "[require]\nGLSL >= 1.10\n[vertex shader passthrough]\n[fragment shader]\n"
         "void main() {}\n[test]\ndraw rect -1 -1 2 2\n",
         ""},
        {"otherSection", "[compute shader]\nvoid main() {}\n", "section [compute shader]"},
        {"twoPixelShaders", "[fragment shader]\nvoid f() {}\n[fragment shader]\nvoid main() {}\n",
         "several shaders of one stage"},
        {"passthroughAndVertex", "[vertex shader passthrough]\n[vertex shader]\nvoid main() {}\n",
         "several shaders of one stage"},
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(parseShaderTest(c.text).unsupported, c.unsupported) << c.name;
    }
}

TEST(ShaderTestFile, CommandsLoseCommentsAndShadersTheirVersionGap) {
    gl_runner::ShaderTest test = parseShaderTest(
        "# a comment before everything\n"
        "[vertex shader]\n"
        "// the version comes after a comment\n"
        "#version 130\n"
        "void main() {}\n"
        "[fragment shader]\n"
        "void main() {}\n"
        "[test]\n"
        "uniform float b 0.75; # a trailing comment\n"
        "\n"
        "probe all rgb 0 1 0\n");
    gl_runner::addMissingVersions(test, 130);
    ASSERT_EQ(test.commands.size(), 2u);
    EXPECT_EQ(test.commands[0].text, "uniform float b 0.75");
    EXPECT_EQ(test.commands[0].number, 9);
    EXPECT_EQ(test.vertexShader,
              "// the version comes after a comment\n#version 130\nvoid main() {}\n");
    EXPECT_EQ(test.pixelShader, "#version 130\nvoid main() {}\n");
}

}  // namespace
