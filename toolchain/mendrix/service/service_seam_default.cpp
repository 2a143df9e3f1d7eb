#include "toolchain/mendrix/service/service_seams.h"

namespace mendrix {

void beforeServiceCompile(const CompileRequest&) {}

}  // namespace mendrix
