// A scriptable stand-in for the shader-file writer library. Settings:
//   TMB_RESULT   value every write entry point returns (default 1)
// On a non-zero result the entry point also leaves a small text file at the
// output path (a new one, or a line appended in append mode), so tests can
// see whether and where output was written.
// Variants: TMB_DOUBLE_NEWER exports the three newer write entry points,
// TMB_DOUBLE_OLDER the three older ones; TMBWriteFileShaderAsCodeWithSource
// is always there.
#include <cstdint>
#include <cstdio>
#include <string>

#include "libraries/writer_records.h"
#include "tests/doubles/double_log.h"

namespace {

void describeOptions(std::string& entry, const WriterOptions* shaders) {
    addField(entry, "shaders.magic", hex32(shaders->magic));
    addField(entry, "shaders.vertexShader", describeStagePointer(shaders->vertexShader));
    addField(entry, "shaders.pixelShader", describeStagePointer(shaders->pixelShader));
    addField(entry, "shaders.geometryShader", describeStagePointer(shaders->geometryShader));
    addField(entry, "shaders.computeShader", describeStagePointer(shaders->computeShader));
}

void describeShaders(std::string& entry, const WriterShaders* shaders) {
    addField(entry, "shaders.vertexShader", describeStagePointer(shaders->vertexShader));
    addField(entry, "shaders.pixelShader", describeStagePointer(shaders->pixelShader));
    addField(entry, "shaders.geometryShader", describeStagePointer(shaders->geometryShader));
}

void describeFileArguments(std::string& entry, const char* outputPath, uint32_t gpuVersion,
                           uint32_t endianSwapMode, uint32_t alignPadding, uint32_t recordCount) {
    addField(entry, "outputPath", quoted(outputPath));
    addField(entry, "gpuVersion", std::to_string(gpuVersion));
    addField(entry, "endianSwapMode", std::to_string(endianSwapMode));
    addField(entry, "alignPadding", std::to_string(alignPadding));
    addField(entry, "recordCount", std::to_string(recordCount));
}

// Logs the call, leaves the output file on success, returns the result.
int32_t finish(const std::string& entry, const char* name, const char* outputPath, bool append) {
    appendToLog(entry);
    int32_t result = static_cast<int32_t>(numberSetting("TMB_RESULT", 1));
    if (result != 0) {
        if (FILE* file = std::fopen(outputPath, append ? "ab" : "wb")) {
            std::fprintf(file, "written by %s\n", name);
            std::fclose(file);
        }
    }
    return result;
}

[[maybe_unused]] int32_t writeFile(const char* name, const char* outputPath, uint32_t gpuVersion,
                                   uint32_t endianSwapMode, uint32_t alignPadding,
                                   uint32_t recordCount, const WriterOptions* options,
                                   const WriterShaders* shaders, bool append) {
    std::string entry = std::string(name) + "\n";
    describeFileArguments(entry, outputPath, gpuVersion, endianSwapMode, alignPadding, recordCount);
    if (options != nullptr) {
        describeOptions(entry, options);
    } else {
        describeShaders(entry, shaders);
    }
    return finish(entry, name, outputPath, append);
}

[[maybe_unused]] int32_t writeCode(const char* name, const char* outputPath,
                                   uint32_t endianSwapMode, const WriterOptions* options,
                                   const WriterShaders* shaders) {
    std::string entry = std::string(name) + "\n";
    addField(entry, "outputPath", quoted(outputPath));
    addField(entry, "endianSwapMode", std::to_string(endianSwapMode));
    if (options != nullptr) {
        describeOptions(entry, options);
    } else {
        describeShaders(entry, shaders);
    }
    return finish(entry, name, outputPath, false);
}

}  // namespace

#ifdef TMB_DOUBLE_NEWER
DOUBLE_EXPORT int32_t TMBWriteFileShader2(const char* outputPath, uint32_t gpuVersion,
                                          uint32_t endianSwapMode, uint32_t alignPadding,
                                          uint32_t recordCount, const WriterOptions* shaders) {
    return writeFile("TMBWriteFileShader2", outputPath, gpuVersion, endianSwapMode, alignPadding,
                     recordCount, shaders, nullptr, false);
}

DOUBLE_EXPORT int32_t TMBAppendWriteFileShader2(const char* outputPath, uint32_t gpuVersion,
                                                uint32_t endianSwapMode, uint32_t alignPadding,
                                                uint32_t recordCount,
                                                const WriterOptions* shaders) {
    return writeFile("TMBAppendWriteFileShader2", outputPath, gpuVersion, endianSwapMode,
                     alignPadding, recordCount, shaders, nullptr, true);
}

DOUBLE_EXPORT int32_t TMBWriteFileShaderAsCode2(const char* outputPath, uint32_t endianSwapMode,
                                                const WriterOptions* shaders) {
    return writeCode("TMBWriteFileShaderAsCode2", outputPath, endianSwapMode, shaders, nullptr);
}
#endif

#ifdef TMB_DOUBLE_OLDER
DOUBLE_EXPORT int32_t TMBWriteFileShader(const char* outputPath, uint32_t gpuVersion,
                                         uint32_t endianSwapMode, uint32_t alignPadding,
                                         uint32_t recordCount, const WriterShaders* shaders) {
    return writeFile("TMBWriteFileShader", outputPath, gpuVersion, endianSwapMode, alignPadding,
                     recordCount, nullptr, shaders, false);
}

DOUBLE_EXPORT int32_t TMBAppendWriteFileShader(const char* outputPath, uint32_t gpuVersion,
                                               uint32_t endianSwapMode, uint32_t alignPadding,
                                               uint32_t recordCount, const WriterShaders* shaders) {
    return writeFile("TMBAppendWriteFileShader", outputPath, gpuVersion, endianSwapMode,
                     alignPadding, recordCount, nullptr, shaders, true);
}

DOUBLE_EXPORT int32_t TMBWriteFileShaderAsCode(const char* outputPath, uint32_t endianSwapMode,
                                               const WriterShaders* shaders) {
    return writeCode("TMBWriteFileShaderAsCode", outputPath, endianSwapMode, nullptr, shaders);
}
#endif

// Bound by the driver but never called.
DOUBLE_EXPORT void TMBWriteFileShaderAsCodeWithSource() {}
