// Points where test and fuzz builds link definitions of their own
// (tests/seams/fault_injection.cpp) in place of those of seam_defaults.cpp. Only
// platform/ includes this header.
#pragma once

#include <cstdint>
#include <cstdio>

// What fileSizeOf answers in a production build (file_system.h).
int64_t measureFileSize(FILE* stream);

namespace safe_files {

// Called after a temporary file is written and flushed, right before it is
// renamed over its target; does nothing in a production build.
void beforeRename();

}  // namespace safe_files
