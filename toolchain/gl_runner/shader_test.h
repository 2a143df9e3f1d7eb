// A test in the shader_test format of GL driver test suites: sections
// [require], [vertex shader], [vertex shader passthrough], [fragment shader],
// [geometry shader], [vertex data] and [test]. Only this subset is read; a
// test that uses anything else is marked unsupported, with the reason.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gl_runner {

struct TestLine {
    int number = 0;  // 1-based line in the file
    std::string text;
};

struct ShaderTest {
    std::vector<TestLine> requirements;
    std::string vertexShader;  // empty when the test has none
    std::string pixelShader;
    std::string geometryShader;
    bool vertexPassthrough = false;  // the vertex shader is the generated one
    std::vector<TestLine> vertexData;
    std::vector<TestLine> commands;
    // Why the test cannot run here; empty when it can.
    std::string unsupported;
};

// Splits the file into its sections. Lines starting with '#' are comments
// outside shader sections; blank lines are dropped there too.
ShaderTest parseShaderTest(std::string_view text);

// Gives every shader without a #version line the version the test
// requires, as the suite's own runner does; GLSL 1.10 needs none.
void addMissingVersions(ShaderTest& test, int glslVersion);

// The vertex shader of [vertex shader passthrough] for a GLSL version
// (110 ... 460): the position attribute piglit_vertex goes to gl_Position.
std::string passthroughVertexShader(int glslVersion);

// Leading and trailing blanks dropped.
std::string_view trimmed(std::string_view text);

// The words of a command, split at blanks, commas and parentheses.
std::vector<std::string> commandWords(std::string_view text);

}  // namespace gl_runner
