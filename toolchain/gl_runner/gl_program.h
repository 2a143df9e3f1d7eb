// Builds the GL program a test runs, and answers where the test's uniform and
// attribute names are in it.
//
// Driver mode: the test's GLSL goes to the driver's own compiler and names
// are looked up in the driver, as the suite's own runner does (piglit_vertex
// bound to attribute 0, piglit_texcoord to 1).
// Compiled mode: a program of a .vrx file. SPIR-V stages are loaded as
// binaries and specialised; validated-form stages hand their stored text to
// the driver's compiler. Every name is taken from the file's reflection
// blocks, never from the driver: SPIR-V uniforms, samplers and attributes at
// their reflected locations; validated-form attributes bound to locations
// chosen from the reflection before linking, and their uniforms (whose
// locations the driver assigns when it links text) looked up under the
// reflected names. A name the reflection lacks is not in the program.
#pragma once

#include <GL/glcorearb.h>

#include <map>
#include <string>

#include "toolchain/gl_runner/gl_context.h"
#include "toolchain/gl_runner/requirements.h"
#include "toolchain/gl_runner/shader_test.h"
#include "toolchain/tmb/vrx_format.h"

namespace gl_runner {

struct GlProgram {
    GLuint program = 0;
    bool compiled = false;  // from a .vrx file (names from its reflection)
    bool spirv = false;     // every stage is SPIR-V
    // Compiled mode: uniforms and samplers by reflected name, with their
    // reflected locations; attributes by name with the location they have.
    std::map<std::string, int32_t> uniforms;
    std::map<std::string, int32_t> attributes;
};

// The shaders of the test itself, through the driver's compiler. False, with
// the driver's complaint, when a stage does not compile or link.
bool buildDriverProgram(const GlContext& context, const ShaderTest& test,
                        const Requirements& requirements, GlProgram& program, std::string& error);

// The one program of a .vrx file. False, with the reason, when a stage is
// refused or the program does not link.
bool buildCompiledProgram(const GlContext& context, const tmb::Program& stages, GlProgram& program,
                          std::string& error);

// The uniform location of `name` ("color", "items[3]", "light.colour"), or
// -1 when the program holds no such uniform. An array element the
// reflection does not list (it may list only the first two and the last)
// follows from its neighbours.
GLint uniformLocation(const GlContext& context, const GlProgram& program, const std::string& name);

// The first location of attribute `name`, or -1.
GLint attributeLocation(const GlContext& context, const GlProgram& program,
                        const std::string& name);

}  // namespace gl_runner
