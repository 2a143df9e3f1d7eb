// The library's exported entry points. The handle is a Compiler; everything
// a compile hands out is released by VRX2DestroyPT4Program3 or, at the
// latest, by VRX2Destroy.
#include <mutex>
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

namespace {

// The compilers handed out and not yet destroyed. A caller may end without
// VRX2Destroy (the driver does so on its compute-stage error); until then
// the library owns them, so they stay reachable instead of being lost. A
// plain list with a plain head: nothing here is torn down at exit before a
// leak check looks, and nothing is left behind once every compiler is gone.
struct LiveCompiler {
    mendrix::Compiler* compiler;
    LiveCompiler* next;
};
std::mutex liveMutex;  // trivially destructible
LiveCompiler* liveHead = nullptr;

}  // namespace

MENDRIX_EXPORT CompilerHandle VRX2Initialize(const CompilerSetup* setup) {
    if (setup == nullptr || (setup->gpuVersion != 1 && setup->gpuVersion != 2)) {
        return nullptr;
    }
    auto* node = new (std::nothrow) LiveCompiler{nullptr, nullptr};
    auto* compiler =
        node == nullptr ? nullptr : new (std::nothrow) mendrix::Compiler(setup->gpuVersion);
    if (compiler == nullptr) {
        delete node;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(liveMutex);
    node->compiler = compiler;
    node->next = liveHead;
    liveHead = node;
    return compiler;
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
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        for (LiveCompiler** link = &liveHead; *link != nullptr; link = &(*link)->next) {
            if ((*link)->compiler == compiler) {
                LiveCompiler* node = *link;
                *link = node->next;
                delete node;
                break;
            }
        }
    }
    delete static_cast<mendrix::Compiler*>(compiler);
}
