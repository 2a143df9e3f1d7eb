#include "toolchain/mendrix/service/service_compile.h"

#include <cstring>

#include "toolchain/mendrix/cache/cache_entry.h"
#include "toolchain/mendrix/compile_cache.h"
#include "toolchain/mendrix/compile_steps.h"
#include "toolchain/mendrix/service/service_request.h"
#include "toolchain/mendrix/service/service_seams.h"
#include "toolchain/mendrix/service/service_warm.h"

namespace mendrix {

namespace {

bool compileDecoded(const std::string& requestMessage, ServiceRequest& decoded, std::string& answer,
                    std::string& shape) {
    RequestView view;
    viewServiceRequest(decoded, view);
    const CompileRequest& request = view.request;
    beforeServiceCompile(request);
    CompiledShaderSet set;
    std::memset(&set, 0, sizeof set);
    std::vector<StageJob> jobs;
    Diagnostics diagnostics;
    ProgramStorage storage;
    std::vector<DebugInfoStage> debugInfoStages;
    bool ok = collectJobs(request, set, jobs, diagnostics);
    if (ok) {
        for (StageJob& job : jobs) {
            job.lineMap = std::move(decoded.stages[job.storageIndex].lineMap);
        }
        applyVersionPolicy(jobs, request.esslLanguage != 0, diagnostics);
        shape = programShape(jobs);
        ok =
            !diagnostics.hasErrors() &&
            compileJobs(request, decoded.gpuVersion, jobs, storage, diagnostics, debugInfoStages) &&
            !diagnostics.hasErrors();
    }
    if (!ok) {
        answer = encodeServiceAnswer(ServiceAnswerKind::failed, diagnostics.text());
        return true;
    }
    const CacheEntry entry = entryOfCompile(serviceAnswerKey(requestMessage), diagnostics.text(),
                                            request, jobs, storage);
    answer = encodeServiceAnswer(ServiceAnswerKind::compiled, encodeCacheEntry(entry));
    return true;
}

}  // namespace

bool answerServiceRequest(const std::string& requestMessage, std::string& answer,
                          std::string& shape) {
    try {
        ServiceRequest decoded;
        if (!decodeServiceRequest(requestMessage, decoded) ||
            (decoded.gpuVersion != 1 && decoded.gpuVersion != 2)) {
            return false;
        }
        return compileDecoded(requestMessage, decoded, answer, shape);
    } catch (...) {
        return false;
    }
}

}  // namespace mendrix
