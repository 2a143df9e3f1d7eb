#include "toolchain/gl_runner/requirements.h"

#include <cstdlib>
#include <string_view>

namespace gl_runner {

namespace {

// "1.50" -> 150, "4.5" -> 450; -1 when the text is not such a number.
int versionNumber(const std::string& text) {
    size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size()) {
        return -1;
    }
    int major = std::atoi(text.substr(0, dot).c_str());
    std::string minor = text.substr(dot + 1);
    if (minor.size() == 1) {
        minor += '0';
    }
    return major * 100 + std::atoi(minor.c_str());
}

bool compare(long long have, const std::string& op, long long want) {
    if (op == ">=")
        return have >= want;
    if (op == ">")
        return have > want;
    if (op == "<=")
        return have <= want;
    if (op == "<")
        return have < want;
    if (op == "=" || op == "==")
        return have == want;
    return false;
}

bool isComparison(const std::string& op) {
    return op == ">=" || op == ">" || op == "<=" || op == "<" || op == "=" || op == "==";
}

// The limits tests ask for, by the name of their GL enum.
struct Limit {
    std::string_view name;
    GLenum value;
};

constexpr Limit kLimits[] = {
    {"GL_MAX_VERTEX_ATTRIBS", GL_MAX_VERTEX_ATTRIBS},
    {"GL_MAX_VARYING_COMPONENTS", GL_MAX_VARYING_COMPONENTS},
    {"GL_MAX_VARYING_FLOATS", GL_MAX_VARYING_COMPONENTS},
    {"GL_MAX_VERTEX_UNIFORM_COMPONENTS", GL_MAX_VERTEX_UNIFORM_COMPONENTS},
    {"GL_MAX_FRAGMENT_UNIFORM_COMPONENTS", GL_MAX_FRAGMENT_UNIFORM_COMPONENTS},
    {"GL_MAX_GEOMETRY_UNIFORM_COMPONENTS", GL_MAX_GEOMETRY_UNIFORM_COMPONENTS},
    {"GL_MAX_VERTEX_UNIFORM_VECTORS", GL_MAX_VERTEX_UNIFORM_VECTORS},
    {"GL_MAX_FRAGMENT_UNIFORM_VECTORS", GL_MAX_FRAGMENT_UNIFORM_VECTORS},
    {"GL_MAX_GEOMETRY_OUTPUT_VERTICES", GL_MAX_GEOMETRY_OUTPUT_VERTICES},
    {"GL_MAX_GEOMETRY_TOTAL_OUTPUT_COMPONENTS", GL_MAX_GEOMETRY_TOTAL_OUTPUT_COMPONENTS},
    {"GL_MAX_GEOMETRY_INPUT_COMPONENTS", GL_MAX_GEOMETRY_INPUT_COMPONENTS},
    {"GL_MAX_GEOMETRY_OUTPUT_COMPONENTS", GL_MAX_GEOMETRY_OUTPUT_COMPONENTS},
    {"GL_MAX_VERTEX_OUTPUT_COMPONENTS", GL_MAX_VERTEX_OUTPUT_COMPONENTS},
    {"GL_MAX_FRAGMENT_INPUT_COMPONENTS", GL_MAX_FRAGMENT_INPUT_COMPONENTS},
    {"GL_MAX_TEXTURE_IMAGE_UNITS", GL_MAX_TEXTURE_IMAGE_UNITS},
    {"GL_MAX_VERTEX_TEXTURE_IMAGE_UNITS", GL_MAX_VERTEX_TEXTURE_IMAGE_UNITS},
    {"GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS", GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS},
    {"GL_MAX_DRAW_BUFFERS", GL_MAX_DRAW_BUFFERS},
    {"GL_MAX_CLIP_DISTANCES", GL_MAX_CLIP_DISTANCES},
    {"GL_MAX_CLIP_PLANES", GL_MAX_CLIP_DISTANCES},
    {"GL_MAX_UNIFORM_BLOCK_SIZE", GL_MAX_UNIFORM_BLOCK_SIZE},
    {"GL_MAX_VERTEX_UNIFORM_BLOCKS", GL_MAX_VERTEX_UNIFORM_BLOCKS},
    {"GL_MAX_FRAGMENT_UNIFORM_BLOCKS", GL_MAX_FRAGMENT_UNIFORM_BLOCKS},
    {"GL_MAX_GEOMETRY_UNIFORM_BLOCKS", GL_MAX_GEOMETRY_UNIFORM_BLOCKS},
    {"GL_MAX_UNIFORM_LOCATIONS", GL_MAX_UNIFORM_LOCATIONS},
};

const Limit* limitNamed(const std::string& name) {
    for (const Limit& limit : kLimits) {
        if (limit.name == name) {
            return &limit;
        }
    }
    return nullptr;
}

bool isExtensionName(const std::string& word) {
    std::string_view name = word;
    if (!name.empty() && name.front() == '!') {
        name.remove_prefix(1);
    }
    return name.starts_with("GL_") && limitNamed(std::string(name)) == nullptr;
}

}  // namespace

Requirements readRequirements(const std::vector<TestLine>& lines) {
    Requirements requirements;
    for (const TestLine& line : lines) {
        std::vector<std::string> words = commandWords(line.text);
        auto unsupported = [&] {
            if (requirements.unsupported.empty()) {
                requirements.unsupported = "requirement '" + line.text + "'";
            }
        };
        if (words.size() == 3 && words[0] == "GLSL" && isComparison(words[1]) &&
            versionNumber(words[2]) > 0) {
            if (words[1] == ">=" || words[1] == ">") {
                requirements.glslVersion = versionNumber(words[2]);
            }
            requirements.checks.push_back(line);
        } else if (words.size() >= 2 && words[0] == "GLSL" && words[1] == "ES") {
            requirements.essl = true;
        } else if (words.size() >= 2 && words[0] == "GL" && words[1] == "ES") {
            requirements.essl = true;
        } else if (words.size() == 4 && words[0] == "GL" && words[1] == "CORE" &&
                   isComparison(words[2])) {
            requirements.profile = Profile::core;
            requirements.checks.push_back({line.number, "GL " + words[2] + " " + words[3]});
        } else if (words.size() == 4 && words[0] == "GL" && words[1] == "COMPAT" &&
                   isComparison(words[2])) {
            requirements.checks.push_back({line.number, "GL " + words[2] + " " + words[3]});
        } else if (words.size() == 3 && words[0] == "GL" && isComparison(words[1])) {
            requirements.checks.push_back(line);
        } else if (words.size() == 3 && words[0] == "SIZE") {
            requirements.width = std::atoi(words[1].c_str());
            requirements.height = std::atoi(words[2].c_str());
            if (requirements.width <= 0 || requirements.height <= 0) {
                unsupported();
            }
        } else if (words.size() == 1 && isExtensionName(words[0])) {
            requirements.checks.push_back(line);
        } else if (words.size() == 3 && limitNamed(words[0]) != nullptr && isComparison(words[1])) {
            requirements.checks.push_back(line);
        } else {
            unsupported();
        }
    }
    return requirements;
}

std::string unmetRequirement(const Requirements& requirements, const GlContext& context) {
    const GlFunctions& gl = context.gl();
    for (const TestLine& line : requirements.checks) {
        std::vector<std::string> words = commandWords(line.text);
        bool met = true;
        if (words[0] == "GLSL") {
            const auto* version =
                reinterpret_cast<const char*>(gl.glGetString(GL_SHADING_LANGUAGE_VERSION));
            met = compare(versionNumber(std::string(version).substr(0, 4)), words[1],
                          versionNumber(words[2]));
        } else if (words[0] == "GL") {
            GLint major = 0;
            GLint minor = 0;
            gl.glGetIntegerv(GL_MAJOR_VERSION, &major);
            gl.glGetIntegerv(GL_MINOR_VERSION, &minor);
            met = compare(major * 100 + minor * 10, words[1], versionNumber(words[2]));
        } else if (const Limit* limit = limitNamed(words[0])) {
            GLint value = 0;
            gl.glGetIntegerv(limit->value, &value);
            met = compare(value, words[1], std::atoll(words[2].c_str()));
        } else if (words[0].front() == '!') {
            met = !context.hasExtension(words[0].substr(1));
        } else {
            met = context.hasExtension(words[0]);
        }
        if (!met) {
            return "the driver does not meet '" + line.text + "'";
        }
    }
    return {};
}

}  // namespace gl_runner
