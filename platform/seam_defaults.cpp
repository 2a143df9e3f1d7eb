// The production definitions of the link seams. A test or fuzz target that
// links fault_injection.cpp gets that file's definitions instead, and this
// object is never taken from the archive.
#include "platform/file_system.h"
#include "platform/link_seams.h"

int64_t fileSizeOf(FILE* stream) {
    return measureFileSize(stream);
}

namespace safe_files {

void beforeRename() {}

}  // namespace safe_files
