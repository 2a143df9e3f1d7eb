// A point where the tests' build of the service links a definition of its
// own (tests/seams/service_faults.cpp) in place of service_seam_default.cpp,
// to make a request crash or hang inside the compile.
#pragma once

#include "libraries/compiler_records.h"

namespace mendrix {

// Called by the service's child right before it compiles `request`.
void beforeServiceCompile(const CompileRequest& request);

}  // namespace mendrix
