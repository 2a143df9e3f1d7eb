// The library's side of the compile service (service_settings.h says when
// it is on and where its socket is). A cache miss is sent to the service
// whole; the compile takes its answer as a cache hit, after the same
// checks. Nothing here fails a compile: with the service off, missing,
// started just now, busy beyond kServiceQueueMilliseconds, crashed, hung
// past its deadline, or answering garbage, the caller compiles in process
// (one line with VRXCOMPILE_SERVICE_DEBUG=1). On Windows the service is
// never used.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "libraries/compiler_records.h"
#include "toolchain/mendrix/cache/cache_key.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

enum class ServiceOutcome {
    compiled,     // the answer's entry was taken
    failed,       // the program does not compile: its log is in `failedLog`
    unavailable,  // nothing taken: compile in process
};

// Takes the entry of a compiled answer into the compile, with the checks and
// the filling of a cache hit (compile_cache.h, takeFromEntry); false when it
// does not fit the request.
using TakeServiceEntry = std::function<bool(std::string_view entry, const CacheKey& key)>;

// For jobs whose line maps and version policy are in place, before any
// front end work.
ServiceOutcome compileThroughService(const CompileRequest& request, uint32_t gpuVersion,
                                     const std::vector<StageJob>& jobs,
                                     const TakeServiceEntry& takeEntry, std::string& failedLog);

}  // namespace mendrix
