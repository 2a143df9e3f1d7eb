// Windows: every compile stays in process.
#include "toolchain/mendrix/service/service_client.h"

namespace mendrix {

ServiceOutcome compileThroughService(const CompileRequest&, uint32_t, const std::vector<StageJob>&,
                                     const TakeServiceEntry&, std::string&) {
    return ServiceOutcome::unavailable;
}

}  // namespace mendrix
