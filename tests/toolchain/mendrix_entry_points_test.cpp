// The built library through its exported entry points, as the driver loads
// it, and its verdicts against the reference validator on a small corpus.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "libraries/compiler_library.h"
#include "platform/dynamic_library.h"
#include "tests/support/temp_folder.h"
#include "tests/toolchain/mendrix_support.h"

namespace fs = std::filesystem;
using namespace mendrix_test;

namespace {

class LoadedLibrary {
public:
    LoadedLibrary() : handle(loadDynamicLibrary(MENDRIX_LIBRARY_PATH)) {}
    ~LoadedLibrary() {
        if (handle != nullptr) {
            freeDynamicLibrary(handle);
        }
    }
    template <typename Fn>
    Fn get(const char* name) const {
        return reinterpret_cast<Fn>(findLibrarySymbol(handle, name));
    }
    LibraryHandle handle;
};

TEST(MendrixEntryPoints, CompileThroughTheExportedNames) {
    LoadedLibrary library;
    ASSERT_NE(library.handle, nullptr) << MENDRIX_LIBRARY_PATH;
    auto getAbi = library.get<VRX2GetABIVersionFn>("VRX2GetABIVersion");
    auto initialize = library.get<VRX2InitializeFn>("VRX2Initialize");
    auto compile = library.get<VRX2CompileProgram3Fn>("VRX2CompileProgram3");
    auto destroyProgram = library.get<VRX2DestroyPT4Program3Fn>("VRX2DestroyPT4Program3");
    auto destroy = library.get<VRX2DestroyFn>("VRX2Destroy");
    ASSERT_TRUE(getAbi && initialize && compile && destroyProgram && destroy);
    EXPECT_EQ(library.get<void*>("VRX2CalcFetchShaderSizeEx"), nullptr);
    EXPECT_EQ(library.get<void*>("_ZN7glslang17InitializeProcessEv"), nullptr)
        << "the front end stays inside";

    EXPECT_EQ(getAbi(), 0x00010000u);
    for (uint32_t gpu : {0u, 3u, 0xffffffffu}) {
        CompilerSetup setup{gpu};
        EXPECT_EQ(initialize(&setup), nullptr) << gpu;
    }
    CompilerSetup setup{1};
    CompilerHandle compiler = initialize(&setup);
    ASSERT_NE(compiler, nullptr);

    // A set that was never filled, as after an early failure.
    CompiledShaderSet untouched{};
    destroyProgram(compiler, compiledProgramOf(untouched));

    const char* vertex = "#version 330\nin vec4 p;\nvoid main() { gl_Position = p; }\n";
    const char* pixel = "#version 330\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n";
    CompileRequest request = makeRequest({.vertex = vertex, .pixel = pixel});
    CompiledShaderSet set{};
    EXPECT_NE(compile(compiler, &request, &set), 0);
    EXPECT_EQ(set.compileLog, nullptr);
    EXPECT_EQ(recordAt(&set.vertexShader).gpuVersion, 1u);
    destroyProgram(compiler, compiledProgramOf(set));
    EXPECT_EQ(recordAt(&set.vertexShader).magic, 0u);

    CompileRequest empty = makeRequest({});
    EXPECT_EQ(compile(compiler, &empty, &set), 0);
    ASSERT_NE(set.compileLog, nullptr);
    destroyProgram(compiler, compiledProgramOf(set));

    // Left for VRX2Destroy to release.
    EXPECT_NE(compile(compiler, &request, &set), 0);
    destroy(compiler);
}

TEST(MendrixEntryPoints, RepeatedCompilesKeepNothingAlive) {
    // Run under valgrind or LeakSanitizer to see the memory itself; here the
    // library's own account of what it holds.
    mendrix::Compiler compiler(2);
    const char* vertex =
        "#version 450\nlayout(location=0) in vec4 p;\nvoid main() { "
        "gl_Position = p; }\n";
    const char* bad = "#version 450\nvoid main() { x = 1; }\n";
    for (int i = 0; i < 20; ++i) {
        CompiledShaderSet set{};
        uint32_t flags = kCompileFlagDumpDebugInfo | kCompileFlagInstructionStats;
        ShaderStats stats{};
        CompileRequest request = makeRequest({.vertex = i % 2 == 0 ? vertex : bad}, flags);
        request.vertexStats = &stats;
        EXPECT_EQ(compiler.compile(request, set), i % 2 == 0);
        compiler.release(set);
        EXPECT_EQ(compiler.liveProgramCount(), 0u);
    }
}

// The driver's compute-stage error ends the run after VRX2Initialize and
// calls no Destroy: the library still holds its compiler then, so a leak
// checker (the sanitizer build) has nothing to report and the run ends with
// exactly its message and exit code.
TEST(MendrixEntryPoints, ARunEndingBeforeDestroyLosesNothing) {
    TempFolder temp;
    const std::string examples = MENDRIX_EXAMPLES_DIR;
    const fs::path errors = temp.path() / "stderr";
    std::string command = "\"" + std::string(VRX_DRIVER_PATH) + "\" -v \"" + examples +
                          "/textured.vert\" -c \"" + examples + "/blur.comp\" -noquarn -o \"" +
                          (temp.path() / "p.vrx").string() + "\" 2> \"" + errors.string() + "\"";
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd.exe drops the outer quotes
#endif
    int status = std::system(command.c_str());
#ifndef _WIN32
    ASSERT_TRUE(WIFEXITED(status));
    status = WEXITSTATUS(status);
#endif
    EXPECT_EQ(status, 1);
#ifdef _WIN32
    const char* lineEnd = "\r\n";  // the console's text mode
#else
    const char* lineEnd = "\n";
#endif
    EXPECT_EQ(readFileBytes(errors),
              std::string("Error: compute shader must be compiled on its own.") + lineEnd);
}

// ---- agreement with the reference validator ---------------------------------

// Linked (-l) like our programs; without #version desktop files default to
// 110 (-d), ESSL files to 100.
bool validatorAccepts(const fs::path& file, bool essl) {
    std::string command = std::string(GLSLANG_VALIDATOR) + " -l " + (essl ? "" : "-d ") + "'" +
                          file.string() + "' > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

TEST(MendrixCorpus, VerdictsAgreeWithTheReferenceValidator) {
    if (std::string(GLSLANG_VALIDATOR).empty()) {
        GTEST_SKIP() << GLSLANG_VALIDATOR_MISSING;
    }
    mendrix::Compiler compiler(2);
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(MENDRIX_CORPUS_DIR)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        fs::path path = entry.path();
        std::string extension = path.extension().string();
        std::string text = readFileBytes(path);
        bool essl = path.filename().string().find("essl") != std::string::npos;
        Sources sources{.essl = essl};
        std::string full = path.string();
        if (extension == ".vert") {
            sources.vertex = text.c_str();
            sources.vertexPath = full.c_str();
        } else if (extension == ".frag") {
            sources.pixel = text.c_str();
            sources.pixelPath = full.c_str();
        } else if (extension == ".geom") {
            sources.geometry = text.c_str();
            sources.geometryPath = full.c_str();
        } else if (extension == ".comp") {
            sources.compute = text.c_str();
            sources.computePath = full.c_str();
        } else {
            continue;
        }
        Compiled compiled(compiler, makeRequest(sources));
        EXPECT_EQ(compiled.ok, validatorAccepts(path, essl)) << path << "\n" << compiled.log();
        bool expectValid = path.filename().string().rfind("valid_", 0) == 0;
        EXPECT_EQ(compiled.ok, expectValid) << path << "\n" << compiled.log();
        ++compared;
    }
    EXPECT_GE(compared, 20);
}

}  // namespace
