// A scriptable stand-in for the shader compiler library. Settings:
//   MENDRIX_ABI_VERSION      value returned by VRX2GetABIVersion (default 0x12345678)
//   MENDRIX_INIT_NULL        1: VRX2Initialize returns null
//   MENDRIX_COMPILE_RESULT   value returned by VRX2CompileProgram3 (default 1)
//   MENDRIX_COMPILE_LOG      the compileLog text (unset: null)
//   MENDRIX_VERTEX_DUMP, MENDRIX_GEOMETRY_DUMP, MENDRIX_PIXEL_DUMP,
//   MENDRIX_COMPUTE_DUMP     the dump texts (unset: null)
//   MENDRIX_STATS            nine comma-separated counters written into every
//                            non-null statistics block
// Variants leave out VRX2GetABIVersion (MENDRIX_DOUBLE_NO_ABI) or
// VRX2CompileProgram3 (MENDRIX_DOUBLE_NO_COMPILE).
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "libraries/compiler_records.h"
#include "tests/doubles/double_log.h"

namespace {

int compilerInstance;  // its address is the handle
const CompiledShaderSet* lastSet;

std::string describeHandle(void* handle) {
    return handle == &compilerInstance ? "ok" : "unknown";
}

std::string describeStats(const ShaderStats* stats) {
    if (stats == nullptr) {
        return "null";
    }
    static const ShaderStats cleared{};
    return std::memcmp(stats, &cleared, sizeof cleared) == 0 ? "block(cleared)" : "block(dirty)";
}

std::string describeNames(char** names, uint32_t count) {
    if (names == nullptr) {
        return "null";
    }
    std::string result = "[";
    for (uint32_t index = 0; index < count; ++index) {
        result += (index > 0 ? "," : "") + quoted(names[index]);
    }
    return result + "]";
}

bool allZero(const void* bytes, size_t size) {
    const unsigned char* cursor = static_cast<const unsigned char*>(bytes);
    for (size_t index = 0; index < size; ++index) {
        if (cursor[index] != 0) {
            return false;
        }
    }
    return true;
}

char* copyOfSetting(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return nullptr;
    }
    char* copy = static_cast<char*>(std::malloc(std::strlen(value) + 1));
    std::strcpy(copy, value);
    return copy;
}

void fillStats(ShaderStats* stats) {
    const char* setting = std::getenv("MENDRIX_STATS");
    if (stats == nullptr || setting == nullptr) {
        return;
    }
    uint32_t counters[9] = {};
    const char* cursor = setting;
    for (uint32_t& counter : counters) {
        char* end;
        counter = static_cast<uint32_t>(std::strtoll(cursor, &end, 0));
        cursor = *end == ',' ? end + 1 : end;
    }
    std::memcpy(stats, counters, sizeof counters);
}

void tagStage(void* record, const CompiledShaderSet* set) {
    uint64_t setAddress = reinterpret_cast<uintptr_t>(set);
    std::memcpy(record, kStageTag, sizeof kStageTag);
    std::memcpy(static_cast<char*>(record) + 8, &setAddress, sizeof setAddress);
}

// The log entry of one compile call, made as the call begins.
[[maybe_unused]] std::string describeCompile(void* handle, const CompileRequest* request,
                                             const CompiledShaderSet* set) {
    std::string entry = "VRX2CompileProgram3\n";
    addField(entry, "handle", describeHandle(handle));
    addField(entry, "request.abiVersion", hex32(request->abiVersion));
    addField(entry, "request.vertexSource", quoted(request->vertexSource));
    addField(entry, "request.pixelSource", quoted(request->pixelSource));
    addField(entry, "request.geometrySource", quoted(request->geometrySource));
    addField(entry, "request.computeSource", quoted(request->computeSource));
    addField(entry, "request.streamOutVaryings",
             describeNames(request->streamOutVaryings, request->streamOutCount));
    addField(entry, "request.streamOutCount", std::to_string(request->streamOutCount));
    addField(entry, "request.compileFlags", hex32(request->compileFlags));
    addField(entry, "request.esslLanguage", std::to_string(request->esslLanguage));
    addField(entry, "request.vertexPath", quoted(request->vertexPath));
    addField(entry, "request.pixelPath", quoted(request->pixelPath));
    addField(entry, "request.geometryPath", quoted(request->geometryPath));
    addField(entry, "request.computePath", quoted(request->computePath));
    addField(entry, "request.quarnDirectory", quoted(request->quarnDirectory));
    addField(entry, "request.optimizationFlags", hex64(request->optimizationFlags));
    addField(entry, "request.vertexStats", describeStats(request->vertexStats));
    addField(entry, "request.pixelStats", describeStats(request->pixelStats));
    addField(entry, "request.geometryStats", describeStats(request->geometryStats));
    addField(entry, "request.computeStats", describeStats(request->computeStats));
    bool paddingClear = request->padding0 == 0 && request->padding1 == 0 &&
                        allZero(request->reserved, sizeof request->reserved);
    addField(entry, "request.unusedBytes", paddingClear ? "zero" : "dirty");
    addField(entry, "set.abiVersion", hex32(set->abiVersion));
    addField(entry, "set.compiledProgram.abiVersion", hex32(set->compiledProgramAbiVersion));
    bool setClear = allZero(reinterpret_cast<const char*>(set) + 16, sizeof *set - 16) &&
                    set->unused0 == 0 && set->unused1 == 0;
    addField(entry, "set.otherBytes", setClear ? "zero" : "dirty");
    return entry;
}

[[maybe_unused]] int32_t compileProgram(void* handle, const CompileRequest* request,
                                        CompiledShaderSet* set) {
    // Quoting the sources costs time and memory in proportion to their size,
    // so it is done only when a log is kept.
    if (loggingRequested()) {
        appendToLog(describeCompile(handle, request, set));
    }

    lastSet = set;
    tagStage(&set->vertexShader, set);
    tagStage(&set->pixelShader, set);
    tagStage(&set->geometryShader, set);
    tagStage(&set->computeShader, set);
    set->compileLog = copyOfSetting("MENDRIX_COMPILE_LOG");
    set->vertexDump = copyOfSetting("MENDRIX_VERTEX_DUMP");
    set->geometryDump = copyOfSetting("MENDRIX_GEOMETRY_DUMP");
    set->pixelDump = copyOfSetting("MENDRIX_PIXEL_DUMP");
    set->computeDump = copyOfSetting("MENDRIX_COMPUTE_DUMP");
    fillStats(request->vertexStats);
    fillStats(request->pixelStats);
    fillStats(request->geometryStats);
    fillStats(request->computeStats);
    return static_cast<int32_t>(numberSetting("MENDRIX_COMPILE_RESULT", 1));
}

}  // namespace

#ifndef MENDRIX_DOUBLE_NO_ABI
DOUBLE_EXPORT uint32_t VRX2GetABIVersion() {
    appendToLog("VRX2GetABIVersion\n");
    return static_cast<uint32_t>(numberSetting("MENDRIX_ABI_VERSION", 0x12345678));
}
#endif

DOUBLE_EXPORT void* VRX2Initialize(const CompilerSetup* setup) {
    std::string entry = "VRX2Initialize\n";
    addField(entry, "setup.gpuVersion", std::to_string(setup->gpuVersion));
    appendToLog(entry);
    return numberSetting("MENDRIX_INIT_NULL", 0) != 0 ? nullptr : &compilerInstance;
}

#ifndef MENDRIX_DOUBLE_NO_COMPILE
DOUBLE_EXPORT int32_t VRX2CompileProgram3(void* handle, const CompileRequest* request,
                                          CompiledShaderSet* set) {
    return compileProgram(handle, request, set);
}
#endif

DOUBLE_EXPORT void VRX2DestroyPT4Program3(void* handle, void* compiledProgram) {
    std::string entry = "VRX2DestroyPT4Program3\n";
    addField(entry, "handle", describeHandle(handle));
    std::string program = "unknown";
    if (lastSet != nullptr) {
        ptrdiff_t offset =
            static_cast<const char*>(compiledProgram) - reinterpret_cast<const char*>(lastSet);
        program = "set+" + std::to_string(offset);
    }
    addField(entry, "compiledProgram", program);
    appendToLog(entry);
    if (lastSet != nullptr && compiledProgram == &lastSet->compiledProgramAbiVersion) {
        auto* set = const_cast<CompiledShaderSet*>(lastSet);
        std::free(const_cast<char*>(set->compileLog));
        std::free(const_cast<char*>(set->vertexDump));
        std::free(const_cast<char*>(set->geometryDump));
        std::free(const_cast<char*>(set->pixelDump));
        std::free(const_cast<char*>(set->computeDump));
        set->compileLog = set->vertexDump = set->geometryDump = nullptr;
        set->pixelDump = set->computeDump = nullptr;
    }
}

DOUBLE_EXPORT void VRX2Destroy(void* handle) {
    std::string entry = "VRX2Destroy\n";
    addField(entry, "handle", describeHandle(handle));
    appendToLog(entry);
}

// Bound by the driver but never called.
DOUBLE_EXPORT void VRX2CalcFetchShaderSizeEx() {}
DOUBLE_EXPORT void VRX2InitFetchShaderEx() {}
DOUBLE_EXPORT void VRX2GetVertexShaderGPRs() {}
DOUBLE_EXPORT void VRX2GetGeometryShaderGPRs() {}
DOUBLE_EXPORT void VRX2GetPixelShaderGPRs() {}
DOUBLE_EXPORT void VRX2GetVertexShaderStackEntries() {}
DOUBLE_EXPORT void VRX2GetGeometryShaderStackEntries() {}
DOUBLE_EXPORT void VRX2GetPixelShaderStackEntries() {}
