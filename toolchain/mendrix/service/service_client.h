// The library's side of the compile service (service_settings.h says when
// it is on and where its socket is). A cache miss is sent to the service
// whole; its answer fills the set as a cache hit does, after the same
// checks. Nothing here fails a compile: with the service off, missing,
// started just now, busy beyond kServiceQueueMilliseconds, crashed, hung
// past its deadline, or answering garbage, the caller compiles in process
// (one line with VRXCOMPILE_SERVICE_DEBUG=1). On Windows the service is
// never used.
#pragma once

#include <cstdint>
#include <vector>

#include "libraries/compiler_records.h"
#include "toolchain/mendrix/diagnostics.h"
#include "toolchain/mendrix/quarn.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

enum class ServiceOutcome {
    compiled,     // the jobs, `storage`, log and debug stages are filled
    failed,       // the program does not compile: its log is in `diagnostics`
    unavailable,  // nothing filled: compile in process
};

// For jobs whose line maps and version policy are in place, before any
// front end work.
ServiceOutcome compileThroughService(const CompileRequest& request, uint32_t gpuVersion,
                                     std::vector<StageJob>& jobs, ProgramStorage& storage,
                                     Diagnostics& diagnostics,
                                     std::vector<QuarnStage>& quarnStages);

}  // namespace mendrix
