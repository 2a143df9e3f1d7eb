#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file_system.h"

namespace {

bool fileSizeFailureInjected = false;

// Appends the segments of `path` to `result` (an absolute path without a
// trailing '/'), dropping "." and empty segments and letting ".." remove the
// last segment. ".." at the root stays at the root.
void appendFoldedSegments(std::string& result, const char* path) {
    const char* cursor = path;
    while (*cursor != '\0') {
        while (*cursor == '/') {
            ++cursor;
        }
        const char* end = cursor;
        while (*end != '\0' && *end != '/') {
            ++end;
        }
        size_t length = static_cast<size_t>(end - cursor);
        if (length == 0 || (length == 1 && cursor[0] == '.')) {
            // nothing to add
        } else if (length == 2 && cursor[0] == '.' && cursor[1] == '.') {
            size_t slash = result.rfind('/');
            result.resize(slash == std::string::npos ? 0 : slash);
        } else {
            result.push_back('/');
            result.append(cursor, length);
        }
        cursor = end;
    }
}

}  // namespace

bool convertToFullPath(char* buffer, const char* path) {
    std::string result;
    if (path[0] != '/') {
        char current[4096];
        if (getcwd(current, sizeof current) == nullptr) {
            return false;
        }
        appendFoldedSegments(result, current);
    }
    appendFoldedSegments(result, path);
    if (result.empty()) {
        result = "/";
    }
    if (result.size() + 1 > kFullPathBufferSize) {
        return false;
    }
    std::memcpy(buffer, result.c_str(), result.size() + 1);
    return true;
}

bool isRegularFile(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

int64_t fileSizeOf(FILE* stream) {
    struct stat status;
    if (fileSizeFailureInjected || fstat(fileno(stream), &status) != 0 ||
        !S_ISREG(status.st_mode)) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size);
}

void injectFileSizeFailure(bool fail) {
    fileSizeFailureInjected = fail;
}
