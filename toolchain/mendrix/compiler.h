// The compiler behind the library's entry points: one Compiler per handle,
// compiling whole programs (vertex, geometry, pixel; or compute) with the
// glslang front end into the CompiledShaderSet.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_set>

#include "libraries/compiler_records.h"

namespace mendrix {

// What VRX2GetABIVersion reports: major version in the high half.
constexpr uint32_t kMendrixAbiVersion = 0x00010000u;

// Sets up the front end once per process; false when that failed.
bool initializeFrontEnd();

struct ProgramStorage;
class Diagnostics;

class Compiler {
public:
    explicit Compiler(uint32_t gpuVersion);
    ~Compiler();
    Compiler(const Compiler&) = delete;
    Compiler& operator=(const Compiler&) = delete;

    // Fills `set` (stage records, log, dumps) and the request's statistics
    // blocks. True when every stage compiled and the program linked. Memory
    // running out part way gives false with the log "out of memory".
    bool compile(const CompileRequest& request, CompiledShaderSet& set);

    // Releases what compile put into `set` and clears those fields. A set
    // this compiler never filled is left alone.
    void release(CompiledShaderSet& set);

    uint32_t gpuVersion() const { return gpu; }
    // Programs compiled and not yet released.
    size_t liveProgramCount() const { return live.size(); }

private:
    bool compileProgram(const CompileRequest& request, CompiledShaderSet& set);
    // Points `set` at `storage` (which it then owns until release) with the
    // log of `diagnostics`; a failed compile hands out nothing but its log.
    bool handOut(CompiledShaderSet& set, std::unique_ptr<ProgramStorage> storage,
                 const Diagnostics& diagnostics, bool success);
    // Puts a log naming `problem` into an emptied `set`, for a compile that
    // ended with an exception (out of memory, mostly).
    void handOutFailureLog(const CompileRequest& request, const char* problem,
                           CompiledShaderSet& set);

    uint32_t gpu;
    std::unordered_set<ProgramStorage*> live;
};

}  // namespace mendrix
