// parseCommandLine on any argument vector: the input's NUL-separated pieces
// are the arguments after the program name. It runs in a scratch folder that
// holds a few sources (one with an include), a stream-out list and a folder;
// arguments that could name files elsewhere (absolute, or with "..") are
// skipped. Usage text, -version and every error end the parse with their
// exit code, and whatever was loaded is released as a run releases it.
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "fuzz/fuzz_support.h"
#include "platform/allocation.h"
#include "platform/file_system.h"
#include "source/shader_source.h"
#include "source/stream_out_list.h"

namespace {

constexpr size_t kMaxArguments = 256;

bool isFlag(int32_t value) {
    return value == 0 || value == 1;
}

// A full path is absolute, with no empty, "." or ".." segment and no
// trailing '/' (unless it is the root), and fits the buffer.
void checkFullPath(const char* argument) {
    char buffer[kFullPathBufferSize];
    if (!convertToFullPath(buffer, argument)) {
        return;
    }
    std::string path(buffer, strnlen(buffer, sizeof buffer));
    FUZZ_CHECK(path.size() < kFullPathBufferSize);
    FUZZ_CHECK(path.front() == '/');
    FUZZ_CHECK(path == "/" || path.back() != '/');
    FUZZ_CHECK(path.find("//") == std::string::npos);
    FUZZ_CHECK(path.find("/./") == std::string::npos && path.find("/../") == std::string::npos);
    FUZZ_CHECK(!path.ends_with("/.") && !path.ends_with("/.."));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterScratchFolder();
    writeFile("a.vert", "#version 310 es\n#include \"b.glsl\"\nvoid main() {}\n");
    writeFile("b.glsl", "\xEF\xBB\xBF#include \"missing.glsl\"\nfloat b;\n");
    writeFile("list.so", "gl_Position\r\nvColor\n\n");
    if (mkdir("sub", 0700) != 0) {
        reportFinding("cannot make a scratch folder");
    }
    writeFile("sub/c.frag", "#include \"../a.vert\"\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> pieces;
    const char* cursor = reinterpret_cast<const char*>(data);
    const char* end = cursor + size;
    while (cursor < end && pieces.size() < kMaxArguments) {
        const char* nul = static_cast<const char*>(std::memchr(cursor, '\0', end - cursor));
        const char* pieceEnd = nul != nullptr ? nul : end;
        pieces.emplace_back(cursor, pieceEnd);
        cursor = pieceEnd + 1;
    }
    for (const std::string& piece : pieces) {
        if (piece.starts_with('/') || piece.find("..") != std::string::npos) {
            return -1;
        }
    }
    std::vector<char*> arguments;
    arguments.push_back(const_cast<char*>("vrxCompile"));
    for (std::string& piece : pieces) {
        arguments.push_back(piece.data());
        checkFullPath(piece.c_str());
    }
    arguments.push_back(nullptr);

    const int argumentCount = static_cast<int>(arguments.size() - 1);
    ShaderSourceLoader loader;
    ParseContext context{size % 2 == 0 ? 0u : 0xab810003u, &loader, nullptr};
    CommandLineOptions options;
    const ParseResult result = parseCommandLine(argumentCount, arguments.data(), options, context);
    FUZZ_CHECK(loader.includeDepth == 0);
    if (result.proceed) {
        FUZZ_CHECK(argumentCount > 1);
        FUZZ_CHECK(options.gpuVersion == 1 || options.gpuVersion == 2);
        FUZZ_CHECK(options.outputPath != nullptr);
        FUZZ_CHECK(isFlag(options.esslLanguage) && isFlag(options.endianBugFix) &&
                   isFlag(options.alignPadding) && isFlag(options.appendOutput) &&
                   isFlag(options.forceUniformBlock) && isFlag(options.headerOutput) &&
                   isFlag(options.dumpDebugInfo) && isFlag(options.noQuarn) &&
                   isFlag(options.instructionStats) && isFlag(options.noLimitArraySymbols));
        FUZZ_CHECK((options.vertexSource == nullptr) == (options.vertexPath == nullptr));
        FUZZ_CHECK((options.pixelSource == nullptr) == (options.pixelPath == nullptr));
        FUZZ_CHECK((options.geometrySource == nullptr) == (options.geometryPath == nullptr));
        FUZZ_CHECK((options.computeSource == nullptr) == (options.computePath == nullptr));
        FUZZ_CHECK(options.streamOutVaryings != nullptr || options.streamOutCount == 0);
    } else {
        const int exitCode = result.exitCode;
        FUZZ_CHECK(exitCode == 0 || exitCode == 1 || exitCode == 2 || exitCode == 3 ||
                   exitCode == 5);
    }
    // What a run releases at its end, whatever the parse's ending.
    releaseMemory(options.vertexSource);
    releaseMemory(options.pixelSource);
    releaseMemory(options.geometrySource);
    releaseMemory(options.computeSource);
    freeStringArray(options.streamOutVaryings, options.streamOutCount);
    return 0;
}
