// The entry points the writer library exports. The driver binds them by name;
// the tests link against the library and call them directly.
#pragma once

#include <cstdint>

#include "libraries/writer_records.h"

#if defined(_WIN32)
#if defined(TMB_BUILDING_LIBRARY)
#define TMB_API __declspec(dllexport)
#else
#define TMB_API __declspec(dllimport)
#endif
#else
#define TMB_API __attribute__((visibility("default")))
#endif

extern "C" {
// A new .vrx file holding one program per record.
TMB_API int32_t TMBWriteFileShader2(const char* outputPath, uint32_t gpuVersion,
                                    uint32_t endianSwapMode, uint32_t alignPadding,
                                    uint32_t recordCount, const WriterOptions* shaders);
TMB_API int32_t TMBWriteFileShader(const char* outputPath, uint32_t gpuVersion,
                                   uint32_t endianSwapMode, uint32_t alignPadding,
                                   uint32_t recordCount, const WriterShaders* shaders);
// The programs added to an existing, valid .vrx file of the same modes.
TMB_API int32_t TMBAppendWriteFileShader2(const char* outputPath, uint32_t gpuVersion,
                                          uint32_t endianSwapMode, uint32_t alignPadding,
                                          uint32_t recordCount, const WriterOptions* shaders);
TMB_API int32_t TMBAppendWriteFileShader(const char* outputPath, uint32_t gpuVersion,
                                         uint32_t endianSwapMode, uint32_t alignPadding,
                                         uint32_t recordCount, const WriterShaders* shaders);
// A C/C++ header holding the .vrx file of one program as an array.
TMB_API int32_t TMBWriteFileShaderAsCode2(const char* outputPath, uint32_t endianSwapMode,
                                          const WriterOptions* shaders);
TMB_API int32_t TMBWriteFileShaderAsCode(const char* outputPath, uint32_t endianSwapMode,
                                         const WriterShaders* shaders);
}
