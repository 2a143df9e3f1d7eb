// The [test] section: the commands this runner knows (clear colour, clear,
// draw rect, draw arrays, uniform, probes, tolerance, enable, disable, the
// compatibility profile's orthographic projection and the four-colour
// texture "texture rgbw"),
// read first, so that a test using any other command is reported
// unsupported before it runs, then run in order against a program.
#pragma once

#include <GL/glcorearb.h>

#include <string>
#include <vector>

#include "toolchain/gl_runner/gl_program.h"
#include "toolchain/gl_runner/shader_test.h"
#include "toolchain/gl_runner/test_values.h"
#include "toolchain/gl_runner/vertex_data.h"

namespace gl_runner {

enum class CommandKind {
    clearColor,
    clear,
    drawRect,
    drawArrays,
    uniform,
    probe,
    tolerance,
    enable,
    disable,
    ortho,
    textureRgbw,
};

struct Command {
    CommandKind kind = CommandKind::clear;
    TestLine line;
    std::vector<double> numbers;  // the command's numeric arguments, in order
    // draw rect
    bool ortho = false;
    bool textured = false;
    // draw arrays: the primitive mode; enable/disable: the capability
    GLenum mode = 0;
    bool instanced = false;
    // uniform
    const GlslType* type = nullptr;
    std::string name;
    std::vector<uint8_t> values;
    // probes
    bool relative = false;
    bool whole = false;  // probe all
    bool area = false;   // probe rect
    int channels = 4;    // rgba or rgb
};

// Reads every command; false, with the first line it cannot read, when a
// command is not one this runner knows.
bool readCommands(const std::vector<TestLine>& lines, std::vector<Command>& commands,
                  std::string& unsupported);

// Runs the commands with `program` in use. Empty when every probe matched;
// otherwise the first failure (a wrong pixel, with the expected and the
// observed colour, or a GL error).
std::string runCommands(const GlContext& context, const GlProgram& program, const VertexData& data,
                        const std::vector<Command>& commands);

}  // namespace gl_runner
