// Windows: every compile stays in process.
#include "toolchain/mendrix/service/service_client.h"

namespace mendrix {

ServiceOutcome compileThroughService(const CompileRequest&, uint32_t, std::vector<StageJob>&,
                                     ProgramStorage&, Diagnostics&, std::vector<QuarnStage>&) {
    return ServiceOutcome::unavailable;
}

}  // namespace mendrix
