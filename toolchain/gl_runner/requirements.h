// The [require] section: what a test needs from the GL driver. Read before
// any context exists (window size, profile, GLSL version) and checked
// against a context (versions, extensions, limits).
#pragma once

#include <string>
#include <vector>

#include "toolchain/gl_runner/gl_context.h"
#include "toolchain/gl_runner/shader_test.h"

namespace gl_runner {

struct Requirements {
    int width = 250;  // the suite's default window
    int height = 250;
    Profile profile = Profile::compatibility;
    int glslVersion = 110;         // from "GLSL >= x.yy"; 110 when the test names none
    bool essl = false;             // "GLSL ES": not a desktop GLSL test
    std::vector<TestLine> checks;  // lines checked against a context
    std::string unsupported;       // a requirement this runner cannot read
};

Requirements readRequirements(const std::vector<TestLine>& lines);

// Empty when the context meets every check; otherwise why the test is skipped.
std::string unmetRequirement(const Requirements& requirements, const GlContext& context);

}  // namespace gl_runner
