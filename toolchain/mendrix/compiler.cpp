#include "toolchain/mendrix/compiler.h"

#include <glslang/Include/PoolAlloc.h>
#include <glslang/Public/ShaderLang.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolchain/mendrix/compile_cache.h"
#include "toolchain/mendrix/front_end/front_end.h"
#include "toolchain/mendrix/front_end/line_map.h"
#include "toolchain/mendrix/output/debug_info.h"
#include "toolchain/mendrix/output/stage_output.h"
#include "toolchain/mendrix/output/stream_out_check.h"
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

namespace {

// One job per stage of the request, in pipeline order (also the order of
// the log). False, with an error, when the request holds no stage or mixes
// compute with other stages.
bool collectJobs(const CompileRequest& request, CompiledShaderSet& set, std::vector<StageJob>& jobs,
                 Diagnostics& diagnostics) {
    jobs.reserve(4);
    auto addJob = [&](toolchain::StageKind kind, EShLanguage language, const char* stageName,
                      const char* source, const char* path, ShaderStats* stats, void* slot,
                      const char** dump, size_t index) {
        if (source == nullptr) {
            return;
        }
        StageJob job;
        job.kind = kind;
        job.language = language;
        job.stageName = stageName;
        job.source = source;
        job.requestPath = path;
        job.stats = stats;
        job.slot = static_cast<uint8_t*>(slot);
        job.dumpField = dump;
        job.storageIndex = index;
        job.label = path != nullptr ? path : stageName;
        jobs.push_back(std::move(job));
    };
    addJob(toolchain::kStageVertex, EShLangVertex, "vertex", request.vertexSource,
           request.vertexPath, request.vertexStats, &set.vertexShader, &set.vertexDump, 0);
    addJob(toolchain::kStageGeometry, EShLangGeometry, "geometry", request.geometrySource,
           request.geometryPath, request.geometryStats, &set.geometryShader, &set.geometryDump, 2);
    addJob(toolchain::kStagePixel, EShLangFragment, "pixel", request.pixelSource, request.pixelPath,
           request.pixelStats, &set.pixelShader, &set.pixelDump, 1);
    if (request.computeSource != nullptr && !jobs.empty()) {
        diagnostics.error(request.computePath != nullptr ? request.computePath : "compute", 0,
                          "a compute shader must be compiled on its own, without vertex, pixel "
                          "or geometry shaders");
        return false;
    }
    addJob(toolchain::kStageCompute, EShLangCompute, "compute", request.computeSource,
           request.computePath, request.computeStats, &set.computeShader, &set.computeDump, 3);
    if (jobs.empty()) {
        diagnostics.error("program", 0,
                          "no shader source given: the request holds no vertex, pixel, geometry "
                          "or compute text");
        return false;
    }
    return true;
}

// Learns where each line of every stage's text came from, so that the log
// can name the file and line of a mistake rather than the line of the flat
// text.
void buildLineMaps(std::vector<StageJob>& jobs) {
    for (StageJob& job : jobs) {
        buildLineMap(job.source, job.requestPath, job.lineMap);
    }
}

// The #version line's place for the log.
void placeVersionLine(const StageJob& job, std::string& path, int& line) {
    path = job.label;
    line = job.version.line;
    placeLine(job.lineMap, line, path, line);
}

// A GL program links only when its stages are all SPIR-V or all text: a
// driver refuses a mix. Desktop GLSL lets a program mix versions, so one
// stage whose version has no SPIR-V form keeps the whole program as text.
void keepOneForm(std::vector<StageJob>& jobs) {
    bool everyStageSpirv = true;
    for (const StageJob& job : jobs) {
        everyStageSpirv = everyStageSpirv && job.spirv;
    }
    for (StageJob& job : jobs) {
        job.spirv = everyStageSpirv;
    }
}

// Reads each stage's #version, checks it against the requested language and
// decides whether the program can become SPIR-V. Errors go to `diagnostics`.
void applyVersionPolicy(std::vector<StageJob>& jobs, bool essl, Diagnostics& diagnostics) {
    for (StageJob& job : jobs) {
        size_t length = std::strlen(job.source);
        if (length > static_cast<size_t>(INT_MAX)) {
            diagnostics.error(job.label, 0, "source text too large");
            continue;
        }
        job.text = job.source;
        job.length = static_cast<int>(length);
        job.name = job.label.c_str();
        job.version = scanVersionLine(std::string_view(job.text, length));
        if (job.version.found && job.version.es != essl) {
            std::string line = "#version " + std::to_string(job.version.version);
            std::string path;
            int place = 0;
            placeVersionLine(job, path, place);
            diagnostics.error(path, place,
                              essl ? "'" + line +
                                         "' is not an ESSL version; ESSL programs use 100, 300 "
                                         "es, 310 es or 320 es (compile GLSL with -t glsl)"
                                   : "'" + line + (job.version.es ? " es" : "") +
                                         "' is an ESSL version, but the program is compiled as "
                                         "GLSL (compile ESSL with -t essl)");
        }
        if (!job.version.found) {
            job.version.es = essl;
        }
        int version = job.version.found ? job.version.version : (essl ? 100 : 110);
        job.spirv = job.version.es ? version >= 310 : version >= 330 && !job.version.compatibility;
    }
    keepOneForm(jobs);
}

// Writes the program's debug information file; a failure is a warning only.
// The default folder is the user's own; a folder named in the request is
// taken as chosen, possibly shared.
void writeDebugFile(const CompileRequest& request, const std::vector<StageJob>& jobs,
                    const std::vector<QuarnStage>& quarnStages, Diagnostics& diagnostics) {
    if (quarnStages.empty()) {
        return;
    }
    bool chosen = request.quarnDirectory != nullptr && request.quarnDirectory[0] != '\0';
    std::string directory = chosen ? std::string(request.quarnDirectory) : std::string();
    std::string written;
    std::string problem;
    bool ok = chosen || defaultQuarnDirectory(directory, problem);
    ok = ok && writeQuarnFile(directory, chosen ? QuarnFolder::chosen : QuarnFolder::privateDefault,
                              quarnStages, written, problem);
    if (!ok) {
        diagnostics.warning(jobs.front().label, 0,
                            "debug information file not written: " + problem);
    }
}

}  // namespace

bool Compiler::compileProgram(const CompileRequest& request, CompiledShaderSet& set) {
    // The front end leaves its last memory pool current; once our runs are
    // gone that pool is too, so the thread goes back to its default pool.
    struct PoolReset {
        ~PoolReset() { glslang::SetThreadPoolAllocator(nullptr); }
    } poolReset;
    // A set compiled into before is released first, so nothing is lost.
    release(set);
    clearFilledFields(set);
    auto storage = std::make_unique<ProgramStorage>();
    Diagnostics diagnostics;

    auto finish = [&](bool success) {
        if (diagnostics.hasErrors()) {
            success = false;
        }
        storage->log = diagnostics.text();
        set.compileLog = storage->log.empty() ? nullptr : storage->log.c_str();
        if (!success) {
            // A failed compile hands out nothing but its log.
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
    std::vector<QuarnStage> quarnStages;
    if (takeFromCache(request, gpu, jobs, *storage, diagnostics, quarnStages, cache)) {
        writeDebugFile(request, jobs, quarnStages, diagnostics);
        return finish(true);
    }

    ProgramOutput output;
    output.request = &request;
    output.gpuVersion = gpu;
    bool treeDumps = (request.compileFlags & kCompileFlagDumpDebugInfo) != 0;
    std::unique_ptr<FrontEndRun> run = runFrontEndWithFallback(jobs, treeDumps, output.spirvKept);
    diagnostics.append(run->diagnostics);
    if (!run->ok) {
        return finish(false);
    }
    output.run = run.get();

    std::vector<ReflectionEntry> streamOut =
        checkStreamOut(request, jobs, *run->program, diagnostics);
    if (diagnostics.hasErrors()) {
        return finish(false);
    }
    output.streamOutStage = streamOutStageOf(jobs);
    output.streamOut = &streamOut;

    emitProgram(output, jobs, *storage, diagnostics, quarnStages);
    prepareCacheStore(cache, request, jobs, *storage, diagnostics);
    writeDebugFile(request, jobs, quarnStages, diagnostics);
    return finish(true);
}

}  // namespace mendrix
