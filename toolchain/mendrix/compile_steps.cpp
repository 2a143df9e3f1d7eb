#include "toolchain/mendrix/compile_steps.h"

#include <glslang/Include/PoolAlloc.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "toolchain/mendrix/front_end/front_end.h"
#include "toolchain/mendrix/front_end/line_map.h"
#include "toolchain/mendrix/output/stage_output.h"
#include "toolchain/mendrix/output/stream_out_check.h"

namespace mendrix {

namespace {

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

}  // namespace

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

void buildLineMaps(std::vector<StageJob>& jobs) {
    for (StageJob& job : jobs) {
        buildLineMap(job.source, job.requestPath, job.lineMap);
    }
}

void applyVersionPolicy(std::vector<StageJob>& jobs, bool essl, Diagnostics& diagnostics) {
    for (StageJob& job : jobs) {
        size_t length = std::strlen(job.source);
        if (length > static_cast<size_t>(INT_MAX)) {
            diagnostics.error(job.label, 0, "source text too large");
            continue;
        }
        job.length = static_cast<int>(length);
        job.version = scanVersionLine(std::string_view(job.source, length));
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

// The default folder is the user's own; a folder named in the request is
// taken as chosen, possibly shared.
void writeDebugFile(const CompileRequest& request, const std::vector<StageJob>& jobs,
                    const std::vector<DebugInfoStage>& debugInfoStages, Diagnostics& diagnostics) {
    if (debugInfoStages.empty()) {
        return;
    }
    bool chosen = request.quarnDirectory != nullptr && request.quarnDirectory[0] != '\0';
    std::string directory = chosen ? std::string(request.quarnDirectory) : std::string();
    std::string written;
    std::string problem;
    bool ok = chosen || defaultDebugInfoDirectory(directory, problem);
    ok = ok && writeDebugInfoFile(
                   directory, chosen ? DebugInfoFolder::chosen : DebugInfoFolder::privateDefault,
                   debugInfoStages, written, problem);
    if (!ok) {
        diagnostics.warning(jobs.front().label, 0,
                            "debug information file not written: " + problem);
    }
}

bool compileJobs(const CompileRequest& request, uint32_t gpuVersion, std::vector<StageJob>& jobs,
                 ProgramStorage& storage, Diagnostics& diagnostics,
                 std::vector<DebugInfoStage>& debugInfoStages) {
    // The front end leaves its last memory pool current; once our runs are
    // gone that pool is too, so the thread goes back to its default pool.
    struct PoolReset {
        ~PoolReset() { glslang::SetThreadPoolAllocator(nullptr); }
    } poolReset;
    ProgramOutput output;
    output.request = &request;
    output.gpuVersion = gpuVersion;
    bool treeDumps = (request.compileFlags & kCompileFlagDumpDebugInfo) != 0;
    std::unique_ptr<FrontEndRun> run = runFrontEndWithFallback(jobs, treeDumps, output.spirvKept);
    diagnostics.append(run->diagnostics);
    if (!run->ok) {
        return false;
    }
    output.run = run.get();

    std::vector<ReflectionEntry> streamOut =
        checkStreamOut(request, jobs, *run->program, diagnostics);
    if (diagnostics.hasErrors()) {
        return false;
    }
    output.streamOutStage = streamOutStageOf(jobs);
    output.streamOut = &streamOut;

    emitProgram(output, jobs, storage, diagnostics, debugInfoStages);
    return true;
}

}  // namespace mendrix
