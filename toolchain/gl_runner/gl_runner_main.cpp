// vrxGlRun: runs a shader_test file's drawing and probes on the OpenGL
// driver, with the test's own shaders (driver mode) or with programs of
// .vrx files, and prepares a test's shaders as files for the compiler.
//
//   vrxGlRun --prepare FOLDER TEST
//       writes the test's shaders as FOLDER/vertex.glsl, geometry.glsl and
//       pixel.glsl (those it has) and prints "ready", or "unsupported: <why>"
//       when the test uses what this runner does not read. Needs no driver:
//       what the test requires of one is checked when it runs.
//   vrxGlRun TEST [--driver] [--vrx FILE]...
//       runs the test once per program and prints one line for each,
//       "<program>: pass", "<program>: fail: <first failure>",
//       "<program>: skip: <why>" or "<program>: unsupported: <why>".
//
// Exit codes: 0 every program passed; 1 one failed; 2 usage or an unreadable
// file; 3 the test was skipped or is unsupported.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/safe_files.h"
#include "toolchain/gl_runner/gl_context.h"
#include "toolchain/gl_runner/gl_program.h"
#include "toolchain/gl_runner/requirements.h"
#include "toolchain/gl_runner/shader_test.h"
#include "toolchain/gl_runner/test_commands.h"
#include "toolchain/gl_runner/vertex_data.h"
#include "toolchain/tmb/vrx_format.h"

namespace {

using namespace gl_runner;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotRun = 3;

constexpr const char* kUsage =
    "usage: vrxGlRun --prepare FOLDER TEST\n"
    "       vrxGlRun TEST [--driver] [--vrx FILE]...\n";

struct ProgramSource {
    std::string label;  // "driver" or the .vrx path
    bool driver = false;
};

// Everything read from a test before anything runs.
struct LoadedTest {
    ShaderTest test;
    Requirements requirements;
    VertexData vertexData;
    std::vector<Command> commands;
    std::string unsupported;  // why it cannot run here
};

bool loadTest(const std::string& path, LoadedTest& loaded) {
    std::string text;
    std::string error;
    if (!safe_files::readWholeFile(path, text, error)) {
        std::fprintf(stderr, "vrxGlRun: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    loaded.test = parseShaderTest(text);
    loaded.requirements = readRequirements(loaded.test.requirements);
    addMissingVersions(loaded.test, loaded.requirements.glslVersion);
    loaded.vertexData = readVertexData(loaded.test.vertexData);
    std::string command;
    if (!loaded.test.unsupported.empty()) {
        loaded.unsupported = loaded.test.unsupported;
    } else if (loaded.requirements.essl) {
        loaded.unsupported = "a GLSL ES test";
    } else if (!loaded.requirements.unsupported.empty()) {
        loaded.unsupported = loaded.requirements.unsupported;
    } else if (!loaded.vertexData.unsupported.empty()) {
        loaded.unsupported = loaded.vertexData.unsupported;
    } else if (!readCommands(loaded.test.commands, loaded.commands, command)) {
        loaded.unsupported = command;
    }
    return true;
}

// Opens a context for the test; empty when the driver meets its
// requirements, else why the test is skipped.
std::string openContext(const GlDisplay& display, const Requirements& requirements,
                        GlContext& context) {
    std::string error;
    if (!context.open(display, requirements.profile, requirements.width, requirements.height,
                      error)) {
        return error;
    }
    return unmetRequirement(requirements, context);
}

// Scratch files in the caller's work folder: written plainly, not replaced
// atomically, since nobody else reads them while they are written.
bool writeScratchFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

bool hasShaders(const ShaderTest& test) {
    return !test.vertexShader.empty() || test.vertexPassthrough || !test.geometryShader.empty() ||
           !test.pixelShader.empty();
}

int prepare(const std::string& folder, const std::string& path) {
    LoadedTest loaded;
    if (!loadTest(path, loaded)) {
        return kExitUsage;
    }
    if (loaded.unsupported.empty() && !hasShaders(loaded.test)) {
        loaded.unsupported = "no shader";
    }
    if (!loaded.unsupported.empty()) {
        std::printf("unsupported: %s\n", loaded.unsupported.c_str());
        return kExitNotRun;
    }
    const ShaderTest& test = loaded.test;
    std::string vertex = test.vertexPassthrough
                             ? passthroughVertexShader(loaded.requirements.glslVersion)
                             : test.vertexShader;
    const std::pair<const char*, const std::string*> files[] = {
        {"vertex.glsl", &vertex},
        {"geometry.glsl", &test.geometryShader},
        {"pixel.glsl", &test.pixelShader},
    };
    for (const auto& [name, text] : files) {
        if (!text->empty() && !writeScratchFile(folder + "/" + name, *text)) {
            std::fprintf(stderr, "vrxGlRun: cannot write %s/%s\n", folder.c_str(), name);
            return kExitUsage;
        }
    }
    std::printf("ready\n");
    return kExitPassed;
}

// The program of a .vrx file that holds exactly one.
bool readCompiledProgram(const std::string& path, tmb::Program& program, std::string& error) {
    std::string bytes;
    tmb::ShaderFile file;
    if (!safe_files::readWholeFile(path, bytes, error) ||
        !tmb::decodeShaderFile(tmb::asBytes(bytes), file, error)) {
        return false;
    }
    if (file.programs.size() != 1) {
        error = "the file holds " + std::to_string(file.programs.size()) + " programs, not 1";
        return false;
    }
    program = file.programs.front();
    return true;
}

// One program through the test: "pass", "fail: ...", "skip: ...".
std::string runProgram(const GlDisplay& display, const LoadedTest& loaded,
                       const ProgramSource& source) {
    GlContext context;
    std::string unmet = openContext(display, loaded.requirements, context);
    if (!unmet.empty()) {
        return "skip: " + unmet;
    }
    GlProgram program;
    std::string error;
    bool built = false;
    if (source.driver && !hasShaders(loaded.test)) {
        error = "the test holds no shader to run in driver mode";
    } else if (source.driver) {
        built = buildDriverProgram(context, loaded.test, loaded.requirements, program, error);
    } else {
        tmb::Program stages;
        built = readCompiledProgram(source.label, stages, error) &&
                buildCompiledProgram(context, stages, program, error);
    }
    std::string failure =
        built ? runCommands(context, program, loaded.vertexData, loaded.commands) : error;
    if (program.program != 0) {
        context.gl().glDeleteProgram(program.program);
    }
    return failure.empty() ? "pass" : "fail: " + failure;
}

int run(const std::string& path, const std::vector<ProgramSource>& sources) {
    LoadedTest loaded;
    if (!loadTest(path, loaded)) {
        return kExitUsage;
    }
    if (!loaded.unsupported.empty()) {
        for (const ProgramSource& source : sources) {
            std::printf("%s: unsupported: %s\n", source.label.c_str(), loaded.unsupported.c_str());
        }
        return kExitNotRun;
    }
    GlDisplay display;
    std::string error;
    if (!display.open(error)) {
        for (const ProgramSource& source : sources) {
            std::printf("%s: skip: %s\n", source.label.c_str(), error.c_str());
        }
        return kExitNotRun;
    }
    int exitCode = kExitPassed;
    for (const ProgramSource& source : sources) {
        std::string verdict = runProgram(display, loaded, source);
        std::printf("%s: %s\n", source.label.c_str(), verdict.c_str());
        std::fflush(stdout);
        if (verdict.starts_with("fail")) {
            exitCode = kExitFailed;
        } else if (verdict != "pass" && exitCode == kExitPassed) {
            exitCode = kExitNotRun;
        }
    }
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 3 && arguments[0] == "--prepare") {
        return prepare(arguments[1], arguments[2]);
    }
    if (arguments.size() < 2 || arguments[0].starts_with("--")) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::vector<ProgramSource> sources;
    for (size_t index = 1; index < arguments.size(); ++index) {
        if (arguments[index] == "--driver") {
            sources.push_back({"driver", true});
        } else if (arguments[index] == "--vrx" && index + 1 < arguments.size()) {
            sources.push_back({arguments[++index], false});
        } else {
            std::fputs(kUsage, stderr);
            return kExitUsage;
        }
    }
    return run(arguments[0], sources);
}
