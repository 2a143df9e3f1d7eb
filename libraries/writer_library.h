// Entry points of the shader-file writer library, bound by name at run time.
#pragma once

#include <cstdint>

#include "libraries/writer_records.h"

extern "C" {
// Plain write and append: a new file, or the program added to an existing one.
using TMBWriteFileShader2Fn = int32_t (*)(const char* outputPath, uint32_t gpuVersion,
                                          uint32_t endianSwapMode, uint32_t alignPadding,
                                          uint32_t recordCount, const WriterOptions* shaders);
using TMBWriteFileShaderFn = int32_t (*)(const char* outputPath, uint32_t gpuVersion,
                                         uint32_t endianSwapMode, uint32_t alignPadding,
                                         uint32_t recordCount, const WriterShaders* shaders);
// Header output: the shader file written as code.
using TMBWriteFileShaderAsCode2Fn = int32_t (*)(const char* outputPath, uint32_t endianSwapMode,
                                                const WriterOptions* shaders);
using TMBWriteFileShaderAsCodeFn = int32_t (*)(const char* outputPath, uint32_t endianSwapMode,
                                               const WriterShaders* shaders);
using TMBUnusedFn = void (*)();
}

// One slot per name, in binding order; a slot is null when the library lacks
// the name.
struct WriterLibrary {
    TMBWriteFileShaderAsCodeFn writeFileShaderAsCode;
    TMBWriteFileShaderFn writeFileShader;
    TMBWriteFileShaderFn appendWriteFileShader;
    TMBWriteFileShaderAsCode2Fn writeFileShaderAsCode2;
    TMBWriteFileShader2Fn writeFileShader2;
    TMBWriteFileShader2Fn appendWriteFileShader2;
    TMBUnusedFn writeFileShaderAsCodeWithSource;
};

constexpr int kWriterEntryPointCount = 7;

extern const char* const kWriterEntryPointNames[kWriterEntryPointCount];
