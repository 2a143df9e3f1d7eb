// The library's exported entry points. The handle is a Compiler; everything
// a compile hands out is released by VRX2DestroyPT4Program3 or, at the
// latest, by VRX2Destroy.
#include <new>

#include "libraries/compiler_library.h"
#include "toolchain/mendrix/compiler.h"

#if defined(_WIN32)
#define MENDRIX_EXPORT extern "C" __declspec(dllexport)
#else
#define MENDRIX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

MENDRIX_EXPORT uint32_t VRX2GetABIVersion() {
    return mendrix::kMendrixAbiVersion;
}

MENDRIX_EXPORT CompilerHandle VRX2Initialize(const CompilerSetup* setup) {
    if (setup == nullptr || (setup->gpuVersion != 1 && setup->gpuVersion != 2)) {
        return nullptr;
    }
    return new (std::nothrow) mendrix::Compiler(setup->gpuVersion);
}

MENDRIX_EXPORT int32_t VRX2CompileProgram3(CompilerHandle compiler, const CompileRequest* request,
                                           CompiledShaderSet* set) {
    if (compiler == nullptr || request == nullptr || set == nullptr) {
        return 0;
    }
    try {
        return static_cast<mendrix::Compiler*>(compiler)->compile(*request, *set) ? 1 : 0;
    } catch (...) {
        // Out of memory inside the front end: a failed compile, not a crash.
        return 0;
    }
}

MENDRIX_EXPORT void VRX2DestroyPT4Program3(CompilerHandle compiler, void* compiledProgram) {
    if (compiler == nullptr || compiledProgram == nullptr) {
        return;
    }
    auto* set = reinterpret_cast<CompiledShaderSet*>(static_cast<char*>(compiledProgram) -
                                                     kCompiledProgramOffset);
    static_cast<mendrix::Compiler*>(compiler)->release(*set);
}

MENDRIX_EXPORT void VRX2Destroy(CompilerHandle compiler) {
    delete static_cast<mendrix::Compiler*>(compiler);
}
