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
    ProgramWork work;
    bool ok = collectJobs(request, work.set, work.jobs, work.diagnostics);
    if (ok) {
        for (StageJob& job : work.jobs) {
            job.lineMap = std::move(decoded.stages[job.storageIndex].lineMap);
        }
        applyVersionPolicy(work.jobs, request.esslLanguage != 0, work.diagnostics);
        shape = programShape(work.jobs);
        ok = !work.diagnostics.hasErrors() &&
             compileJobs(request, decoded.gpuVersion, work.jobs, work.storage, work.diagnostics,
                         work.debugInfoStages) &&
             !work.diagnostics.hasErrors();
    }
    if (!ok) {
        answer = encodeServiceAnswer(ServiceAnswerKind::failed, work.diagnostics.text());
        return true;
    }
    const CacheEntry entry =
        entryOfCompile(serviceAnswerKey(requestMessage), work.diagnostics.text(), request,
                       work.jobs, work.storage);
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
