#include "toolchain/mendrix/compiler.h"

#include <glslang/Public/ShaderLang.h>

#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolchain/mendrix/compile_cache.h"
#include "toolchain/mendrix/compile_steps.h"
#include "toolchain/mendrix/output/debug_info.h"
#include "toolchain/mendrix/service/service_client.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

namespace {

// The front end keeps per-process tables; they are set up on first use and
// torn down when the library (or the process) goes away.
struct FrontEndProcess {
    std::once_flag once;
    bool ready = false;
    ~FrontEndProcess() {
        if (ready) {
            glslang::FinalizeProcess();
        }
    }
};

FrontEndProcess& frontEndProcess() {
    static FrontEndProcess process;
    return process;
}

// The set's storage pointer lives in bytes the driver does not use.
constexpr size_t kStorageOffset = offsetof(CompiledShaderSet, unused2);

ProgramStorage* storageOf(const CompiledShaderSet& set) {
    ProgramStorage* storage = nullptr;
    std::memcpy(&storage, reinterpret_cast<const char*>(&set) + kStorageOffset, sizeof storage);
    return storage;
}

void setStorage(CompiledShaderSet& set, ProgramStorage* storage) {
    std::memcpy(reinterpret_cast<char*>(&set) + kStorageOffset, &storage, sizeof storage);
}

// Why a compile ended with an exception, as its log says.
constexpr const char* kOutOfMemoryProblem = "out of memory";
constexpr const char* kInternalProblem = "internal error in the compiler";
// The same lines when there is no memory to make them.
constexpr const char* kOutOfMemoryLog = "program:0: error: out of memory";
constexpr const char* kInternalProblemLog = "program:0: error: internal error in the compiler";

// The name the log gives a program-wide message: the first stage's path, as
// its errors use, or the stage's name when the request gives none.
std::string programLabel(const CompileRequest& request) {
    const struct {
        const char* source;
        const char* path;
        const char* name;
    } stages[] = {
        {request.vertexSource, request.vertexPath, "vertex"},
        {request.geometrySource, request.geometryPath, "geometry"},
        {request.pixelSource, request.pixelPath, "pixel"},
        {request.computeSource, request.computePath, "compute"},
    };
    for (const auto& stage : stages) {
        if (stage.source != nullptr) {
            return stage.path != nullptr ? stage.path : stage.name;
        }
    }
    return "program";
}

// Clears everything compile fills; the stamps stay.
void clearFilledFields(CompiledShaderSet& set) {
    std::memset(&set.vertexShader, 0, sizeof set.vertexShader);
    std::memset(&set.pixelShader, 0, sizeof set.pixelShader);
    std::memset(&set.geometryShader, 0, sizeof set.geometryShader);
    std::memset(&set.computeShader, 0, sizeof set.computeShader);
    set.compileLog = nullptr;
    set.vertexDump = nullptr;
    set.geometryDump = nullptr;
    set.pixelDump = nullptr;
    set.computeDump = nullptr;
    setStorage(set, nullptr);
}

}  // namespace

bool initializeFrontEnd() {
    FrontEndProcess& process = frontEndProcess();
    std::call_once(process.once, [&process] { process.ready = glslang::InitializeProcess(); });
    return process.ready;
}

Compiler::Compiler(uint32_t gpuVersion) : gpu(gpuVersion) {}

namespace {

// The end of a program: its deferred cache store, then its memory. The
// store is best effort; running out of memory there loses only the entry.
void retireProgram(ProgramStorage* storage) {
    try {
        completeCacheStore(storage->pendingStore);
    } catch (...) {
    }
    delete storage;
}

}  // namespace

Compiler::~Compiler() {
    for (ProgramStorage* storage : live) {
        retireProgram(storage);
    }
}

void Compiler::release(CompiledShaderSet& set) {
    ProgramStorage* storage = storageOf(set);
    auto found = live.find(storage);
    if (storage == nullptr || found == live.end()) {
        return;
    }
    live.erase(found);
    retireProgram(storage);
    clearFilledFields(set);
}

bool Compiler::compile(const CompileRequest& request, CompiledShaderSet& set) {
    const char* problem = nullptr;
    try {
        return compileProgram(request, set);
    } catch (const std::bad_alloc&) {
        problem = kOutOfMemoryProblem;
    } catch (const std::length_error&) {
        // A size beyond what can be allocated at all.
        problem = kOutOfMemoryProblem;
    } catch (...) {
        problem = kInternalProblem;
    }
    // The records may point into memory that is gone already, so the set is
    // handed back empty but for a log that says why.
    release(set);
    clearFilledFields(set);
    handOutFailureLog(request, problem, set);
    return false;
}

void Compiler::handOutFailureLog(const CompileRequest& request, const char* problem,
                                 CompiledShaderSet& set) {
    try {
        auto storage = std::make_unique<ProgramStorage>();
        Diagnostics diagnostics;
        diagnostics.error(programLabel(request), 0, problem);
        storage->log = diagnostics.text();
        set.compileLog = storage->log.c_str();
        setStorage(set, storage.get());
        live.insert(storage.get());
        storage.release();
    } catch (...) {
        // Not even that memory: a fixed text, which release leaves alone.
        setStorage(set, nullptr);
        set.compileLog = problem == kOutOfMemoryProblem ? kOutOfMemoryLog : kInternalProblemLog;
    }
}

bool Compiler::handOut(CompiledShaderSet& set, std::unique_ptr<ProgramStorage> storage,
                       const Diagnostics& diagnostics, bool success) {
    success = success && !diagnostics.hasErrors();
    storage->log = diagnostics.text();
    set.compileLog = storage->log.empty() ? nullptr : storage->log.c_str();
    if (!success) {
        const char* log = set.compileLog;
        clearFilledFields(set);
        set.compileLog = log;
        for (StageStorage& stage : storage->stages) {
            stage = StageStorage{};
        }
    }
    setStorage(set, storage.get());
    live.insert(storage.release());
    return success;
}

bool Compiler::compileProgram(const CompileRequest& request, CompiledShaderSet& set) {
    // A set compiled into before is released first, so nothing is lost.
    release(set);
    clearFilledFields(set);
    auto storage = std::make_unique<ProgramStorage>();
    Diagnostics diagnostics;

    auto finish = [&](bool success) {
        return handOut(set, std::move(storage), diagnostics, success);
    };

    std::vector<StageJob> jobs;
    if (!collectJobs(request, set, jobs, diagnostics)) {
        return finish(false);
    }
    if (!initializeFrontEnd()) {
        diagnostics.error(jobs.front().label, 0, "the GLSL front end could not be initialised");
        return finish(false);
    }
    buildLineMaps(jobs);
    applyVersionPolicy(jobs, request.esslLanguage != 0, diagnostics);
    if (diagnostics.hasErrors()) {
        return finish(false);
    }
    CacheLookup cache;
    std::vector<DebugInfoStage> debugInfoStages;
    if (takeFromCache(request, gpu, jobs, *storage, diagnostics, debugInfoStages, cache)) {
        writeDebugFile(request, jobs, debugInfoStages, diagnostics);
        return finish(true);
    }
    // A miss is compiled by the resident service when it is on and answers,
    // otherwise here; the service's answer is taken as a cache hit is.
    auto takeEntry = [&](std::string_view entry, const CacheKey& key) {
        return takeFromEntry(entry, key, request, gpu, jobs, *storage, diagnostics,
                             debugInfoStages);
    };
    std::string failedLog;
    bool compiled = false;
    switch (compileThroughService(request, gpu, jobs, takeEntry, failedLog)) {
        case ServiceOutcome::compiled:
            compiled = true;
            break;
        case ServiceOutcome::failed:
            // The log of a failed compile, exactly as it would be made here.
            diagnostics.appendWarningLog(failedLog);
            return finish(false);
        case ServiceOutcome::unavailable:
            compiled = compileJobs(request, gpu, jobs, *storage, diagnostics, debugInfoStages);
            break;
    }
    if (!compiled) {
        return finish(false);
    }
    prepareCacheStore(cache, request, jobs, *storage, diagnostics);
    writeDebugFile(request, jobs, debugInfoStages, diagnostics);
    return finish(true);
}

}  // namespace mendrix
