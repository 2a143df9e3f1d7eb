#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/file_system.h"

namespace {
bool fileSizeFailureInjected = false;
}  // namespace

bool convertToFullPath(char* buffer, const char* path) {
    DWORD length = GetFullPathNameA(path, static_cast<DWORD>(kFullPathBufferSize), buffer, nullptr);
    // A result that does not fit is reported as the size it needs, which is
    // larger than the buffer.
    return length != 0 && length < kFullPathBufferSize;
}

bool isRegularFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
}

bool isDirectory(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int64_t fileSizeOf(FILE* stream) {
    if (fileSizeFailureInjected) {
        return -1;
    }
    // -1 when the descriptor does not name a file whose length can be had.
    return static_cast<int64_t>(_filelengthi64(_fileno(stream)));
}

void injectFileSizeFailure(bool fail) {
    fileSizeFailureInjected = fail;
}
