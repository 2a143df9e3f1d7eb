// Helpers for the compiler library's tests: a request built from texts, a
// compile through a Compiler, and access to the stage records it filled.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "libraries/compiler_records.h"
#include "tests/support/temp_folder.h"
#include "toolchain/common/stage_record.h"
#include "toolchain/mendrix/compiler.h"
#include "toolchain/mendrix/output/reflection.h"

namespace mendrix_test {

// Texts and paths of one program; null fields are absent stages.
struct Sources {
    const char* vertex = nullptr;
    const char* pixel = nullptr;
    const char* geometry = nullptr;
    const char* compute = nullptr;
    const char* vertexPath = nullptr;
    const char* pixelPath = nullptr;
    const char* geometryPath = nullptr;
    const char* computePath = nullptr;
    bool essl = false;
};

inline CompileRequest makeRequest(const Sources& sources, uint32_t extraFlags = 0) {
    CompileRequest request{};
    request.abiVersion = kCompilerRecordStamp;
    request.vertexSource = sources.vertex;
    request.pixelSource = sources.pixel;
    request.geometrySource = sources.geometry;
    request.computeSource = sources.compute;
    request.vertexPath = sources.vertexPath;
    request.pixelPath = sources.pixelPath;
    request.geometryPath = sources.geometryPath;
    request.computePath = sources.computePath;
    request.esslLanguage = sources.essl ? 1 : 0;
    // No debug information unless a test asks for it, so that nothing lands
    // in the real default folder.
    request.compileFlags = kCompileFlagAlways | kCompileFlagNoQuarn | extraFlags;
    request.optimizationFlags = 0x40;
    return request;
}

inline toolchain::ToolchainStageRecord recordAt(const void* slot) {
    toolchain::ToolchainStageRecord record;
    std::memcpy(&record, slot, sizeof record);
    return record;
}

// The shared strict reader over a record's block.
inline bool decodeBlock(const uint8_t* bytes, size_t size,
                        std::vector<mendrix::ReflectionEntry>& entries) {
    std::string error;
    return toolchain::parseReflection(std::span(bytes, size), entries, error);
}

inline std::vector<mendrix::ReflectionEntry> reflectionOf(
    const toolchain::ToolchainStageRecord& record) {
    std::vector<mendrix::ReflectionEntry> entries;
    EXPECT_TRUE(decodeBlock(record.reflection, record.reflectionSize, entries));
    return entries;
}

inline bool hasEntry(const std::vector<mendrix::ReflectionEntry>& entries, uint8_t category,
                     const std::string& name) {
    for (const auto& entry : entries) {
        if (entry.category == category && entry.name == name) {
            return true;
        }
    }
    return false;
}

inline uint32_t firstWord(const toolchain::ToolchainStageRecord& record) {
    uint32_t word = 0;
    if (record.binary != nullptr && record.binarySize >= 4) {
        std::memcpy(&word, record.binary, 4);
    }
    return word;
}

constexpr uint32_t kSpirvMagic = 0x07230203u;

// The host's spirv-dis listing of a SPIR-V stage; empty when it cannot run
// (always in a Windows build: the host tool cannot run beside the emulated
// test).
inline std::string disassemble(const toolchain::ToolchainStageRecord& record,
                               const TempFolder& folder) {
#ifdef _WIN32
    (void)record;
    (void)folder;
    return "";
#else
    std::string path = folder.write(
        "stage.spv", std::string(reinterpret_cast<const char*>(record.binary), record.binarySize));
    FILE* pipe = popen(("spirv-dis '" + path + "' 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return "";
    }
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        text.append(buffer, n);
    }
    pclose(pipe);
    return text;
#endif
}

// One compile, released when the object goes.
class Compiled {
public:
    Compiled(mendrix::Compiler& compiler, const CompileRequest& request) : compiler(compiler) {
        set.abiVersion = kCompilerRecordStamp;
        set.compiledProgramAbiVersion = kCompilerRecordStamp;
        ok = compiler.compile(request, set);
    }
    ~Compiled() { compiler.release(set); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;

    std::string log() const { return set.compileLog != nullptr ? set.compileLog : ""; }

    mendrix::Compiler& compiler;
    CompiledShaderSet set{};
    bool ok = false;
};

}  // namespace mendrix_test
