#include "toolchain/gl_runner/gl_program.h"

#include <cstdlib>
#include <set>
#include <vector>

#include "toolchain/common/stage_record.h"
#include "toolchain/common/validated_form.h"
#include "toolchain/gl_runner/reflected_names.h"

namespace gl_runner {

namespace {

GLenum shaderTypeOf(uint32_t kind) {
    switch (kind) {
        case toolchain::kStageVertex:
            return GL_VERTEX_SHADER;
        case toolchain::kStagePixel:
            return GL_FRAGMENT_SHADER;
        case toolchain::kStageGeometry:
            return GL_GEOMETRY_SHADER;
        default:
            return GL_COMPUTE_SHADER;
    }
}

// The driver's log without its trailing line ends, on one line.
std::string oneLine(std::string log) {
    while (!log.empty() && (log.back() == '\n' || log.back() == '\0' || log.back() == ' ')) {
        log.pop_back();
    }
    for (char& c : log) {
        if (c == '\n') {
            c = ' ';
        }
    }
    return log;
}

// The info log of a shader or program (`query` glGetShaderiv or
// glGetProgramiv, `read` the matching log reader), on one line.
template <typename Query, typename Read>
std::string infoLog(GLuint object, Query query, Read read) {
    GLint length = 0;
    query(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        read(object, length, nullptr, log.data());
    }
    return oneLine(log);
}

bool compiledWell(const GlFunctions& gl, GLuint shader, const char* stage, std::string& error) {
    GLint status = GL_FALSE;
    gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE) {
        error = std::string(stage) + " shader refused by the driver: " +
                infoLog(shader, gl.glGetShaderiv, gl.glGetShaderInfoLog);
        return false;
    }
    return true;
}

const char* stageName(GLenum type) {
    switch (type) {
        case GL_VERTEX_SHADER:
            return "vertex";
        case GL_FRAGMENT_SHADER:
            return "pixel";
        case GL_GEOMETRY_SHADER:
            return "geometry";
        default:
            return "compute";
    }
}

// Compiles `text` and attaches it; false when the driver refuses it.
bool attachText(const GlFunctions& gl, GLuint program, GLenum type, const std::string& text,
                std::string& error) {
    GLuint shader = gl.glCreateShader(type);
    const char* source = text.c_str();
    GLint length = static_cast<GLint>(text.size());
    gl.glShaderSource(shader, 1, &source, &length);
    gl.glCompileShader(shader);
    bool ok = compiledWell(gl, shader, stageName(type), error);
    if (ok) {
        gl.glAttachShader(program, shader);
    }
    gl.glDeleteShader(shader);
    return ok;
}

// Loads SPIR-V words, specialises their "main" and attaches the shader.
bool attachSpirv(const GlFunctions& gl, GLuint program, GLenum type,
                 const std::vector<uint8_t>& words, std::string& error) {
    GLuint shader = gl.glCreateShader(type);
    gl.glShaderBinary(1, &shader, GL_SHADER_BINARY_FORMAT_SPIR_V_ARB, words.data(),
                      static_cast<GLsizei>(words.size()));
    gl.glSpecializeShaderARB(shader, "main", 0, nullptr, nullptr);
    bool ok = compiledWell(gl, shader, stageName(type), error);
    if (ok) {
        gl.glAttachShader(program, shader);
    }
    gl.glDeleteShader(shader);
    return ok;
}

bool linkedWell(const GlFunctions& gl, GLuint program, std::string& error) {
    gl.glLinkProgram(program);
    GLint status = GL_FALSE;
    gl.glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status != GL_TRUE) {
        error = "the driver does not link the program: " +
                infoLog(program, gl.glGetProgramiv, gl.glGetProgramInfoLog);
        return false;
    }
    return true;
}

// Generic attribute locations a vertex input of `type` takes: one per
// matrix column, times the array size.
int attributeSlots(uint32_t type, uint32_t arraySize) {
    int columns = 1;
    switch (type) {
        case GL_FLOAT_MAT2:
        case GL_FLOAT_MAT2x3:
        case GL_FLOAT_MAT2x4:
        case GL_DOUBLE_MAT2:
        case GL_DOUBLE_MAT2x3:
        case GL_DOUBLE_MAT2x4:
            columns = 2;
            break;
        case GL_FLOAT_MAT3:
        case GL_FLOAT_MAT3x2:
        case GL_FLOAT_MAT3x4:
        case GL_DOUBLE_MAT3:
        case GL_DOUBLE_MAT3x2:
        case GL_DOUBLE_MAT3x4:
            columns = 3;
            break;
        case GL_FLOAT_MAT4:
        case GL_FLOAT_MAT4x2:
        case GL_FLOAT_MAT4x3:
        case GL_DOUBLE_MAT4:
        case GL_DOUBLE_MAT4x2:
        case GL_DOUBLE_MAT4x3:
            columns = 4;
            break;
        default:
            break;
    }
    return columns * static_cast<int>(arraySize == 0 ? 1 : arraySize);
}

// Text stages get attribute locations before linking: declared ones stay,
// the suite's position and texture coordinate take 0 and 1 as in driver
// mode, every other attribute the lowest free range from 1 on (0 also
// stands for gl_Vertex in a compatibility context).
void bindTextAttributes(const GlFunctions& gl, GLuint program,
                        const std::vector<toolchain::ReflectionEntry>& inputs,
                        std::map<std::string, int32_t>& attributes) {
    std::set<int> used;
    for (const auto& input : inputs) {
        if (input.location >= 0) {
            for (int slot = 0; slot < attributeSlots(input.type, input.arraySize); ++slot) {
                used.insert(input.location + slot);
            }
            attributes[input.name] = input.location;
        }
    }
    auto take = [&](const toolchain::ReflectionEntry& input, int location) {
        int slots = attributeSlots(input.type, input.arraySize);
        for (int slot = 0; slot < slots; ++slot) {
            used.insert(location + slot);
        }
        gl.glBindAttribLocation(program, static_cast<GLuint>(location), input.name.c_str());
        attributes[input.name] = location;
    };
    auto isFree = [&](int location, int slots) {
        for (int slot = 0; slot < slots; ++slot) {
            if (used.count(location + slot) != 0) {
                return false;
            }
        }
        return true;
    };
    constexpr std::pair<const char*, int> kFixed[] = {{"piglit_vertex", 0}, {"piglit_texcoord", 1}};
    for (const auto& [name, location] : kFixed) {
        for (const auto& input : inputs) {
            if (input.location < 0 && input.name == name &&
                isFree(location, attributeSlots(input.type, input.arraySize))) {
                take(input, location);
            }
        }
    }
    for (const auto& input : inputs) {
        if (input.location >= 0 || attributes.count(input.name) != 0) {
            continue;
        }
        int slots = attributeSlots(input.type, input.arraySize);
        int location = 1;
        while (!isFree(location, slots)) {
            ++location;
        }
        take(input, location);
    }
}

}  // namespace

bool buildDriverProgram(const GlContext& context, const ShaderTest& test,
                        const Requirements& requirements, GlProgram& program, std::string& error) {
    const GlFunctions& gl = context.gl();
    program.program = gl.glCreateProgram();
    std::string vertex = test.vertexPassthrough ? passthroughVertexShader(requirements.glslVersion)
                                                : test.vertexShader;
    const std::pair<GLenum, const std::string*> stages[] = {
        {GL_VERTEX_SHADER, &vertex},
        {GL_GEOMETRY_SHADER, &test.geometryShader},
        {GL_FRAGMENT_SHADER, &test.pixelShader},
    };
    for (const auto& [type, text] : stages) {
        if (!text->empty() && !attachText(gl, program.program, type, *text, error)) {
            return false;
        }
    }
    gl.glBindAttribLocation(program.program, 0, "piglit_vertex");
    gl.glBindAttribLocation(program.program, 1, "piglit_texcoord");
    return linkedWell(gl, program.program, error);
}

bool buildCompiledProgram(const GlContext& context, const tmb::Program& stages, GlProgram& program,
                          std::string& error) {
    const GlFunctions& gl = context.gl();
    program.program = gl.glCreateProgram();
    program.compiled = true;
    program.spirv = true;
    std::vector<toolchain::ReflectionEntry> vertexInputs;
    for (const tmb::Stage& stage : stages.stages) {
        std::vector<toolchain::ReflectionEntry> entries;
        std::string problem;
        if (!toolchain::parseReflection(stage.reflection, entries, problem)) {
            error = std::string(toolchain::stageKindName(stage.kind)) +
                    " stage: bad reflection block: " + problem;
            return false;
        }
        for (const auto& entry : entries) {
            if (entry.category == toolchain::kReflectUniform ||
                entry.category == toolchain::kReflectSampler) {
                program.uniforms[entry.name] = entry.location;
            } else if (entry.category == toolchain::kReflectAttribute) {
                vertexInputs.push_back(entry);
            }
        }
        GLenum type = shaderTypeOf(stage.kind);
        if (stage.binaryFormat == toolchain::kBinarySpirv) {
            if (!attachSpirv(gl, program.program, type, stage.binary, error)) {
                return false;
            }
            continue;
        }
        program.spirv = false;
        toolchain::ValidatedForm form;
        if (!toolchain::parseValidatedForm(stage.binary, form, problem)) {
            error = std::string(toolchain::stageKindName(stage.kind)) + " stage: " + problem;
            return false;
        }
        if (!attachText(gl, program.program, type, std::string(form.text), error)) {
            return false;
        }
    }
    if (program.spirv) {
        for (const auto& input : vertexInputs) {
            program.attributes[input.name] = input.location;
        }
    } else {
        bindTextAttributes(gl, program.program, vertexInputs, program.attributes);
    }
    return linkedWell(gl, program.program, error);
}

GLint uniformLocation(const GlContext& context, const GlProgram& program, const std::string& name) {
    const GlFunctions& gl = context.gl();
    if (!program.compiled) {
        return gl.glGetUniformLocation(program.program, name.c_str());
    }
    std::optional<int32_t> location = reflectedLocation(program.uniforms, name);
    if (!location) {
        return -1;
    }
    return program.spirv ? *location : gl.glGetUniformLocation(program.program, name.c_str());
}

GLint attributeLocation(const GlContext& context, const GlProgram& program,
                        const std::string& name) {
    if (!program.compiled) {
        return context.gl().glGetAttribLocation(program.program, name.c_str());
    }
    auto found = program.attributes.find(name);
    return found == program.attributes.end() ? -1 : found->second;
}

}  // namespace gl_runner
