// Entry points of the shader compiler library, bound by name at run time.
#pragma once

#include <cstdint>

#include "libraries/compiler_records.h"

using CompilerHandle = void*;

extern "C" {
using VRX2GetABIVersionFn = uint32_t (*)();
using VRX2InitializeFn = CompilerHandle (*)(const CompilerSetup* setup);
using VRX2DestroyFn = void (*)(CompilerHandle compiler);
using VRX2CompileProgram3Fn = int32_t (*)(CompilerHandle compiler, const CompileRequest* request,
                                          CompiledShaderSet* set);
using VRX2DestroyPT4Program3Fn = void (*)(CompilerHandle compiler, void* compiledProgram);
// Bound for completeness; the driver never calls these.
using VRX2UnusedFn = void (*)();
}

// One slot per name, in binding order; a slot is null when the library lacks
// the name.
struct CompilerLibrary {
    VRX2InitializeFn initialize;
    VRX2DestroyFn destroy;
    VRX2CompileProgram3Fn compileProgram3;
    VRX2DestroyPT4Program3Fn destroyPT4Program3;
    VRX2UnusedFn calcFetchShaderSizeEx;
    VRX2UnusedFn initFetchShaderEx;
    VRX2UnusedFn getVertexShaderGPRs;
    VRX2UnusedFn getGeometryShaderGPRs;
    VRX2UnusedFn getPixelShaderGPRs;
    VRX2UnusedFn getVertexShaderStackEntries;
    VRX2UnusedFn getGeometryShaderStackEntries;
    VRX2UnusedFn getPixelShaderStackEntries;
    VRX2GetABIVersionFn getABIVersion;
};

constexpr int kCompilerEntryPointCount = 13;

// Exported names, in the order of the slots above.
extern const char* const kCompilerEntryPointNames[kCompilerEntryPointCount];
