#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/file_system.h"
#include "platform/link_seams.h"
#include "platform/wide_text_windows.h"

namespace {

bool isDirectory(const char* path) {
    std::wstring widePath;
    if (!widenAnsiText(path, widePath)) {
        return false;
    }
    DWORD attributes = GetFileAttributesW(widePath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// False when `widePath` does not exist or its attributes say folder or
// device. True proves little: device names (CON, NUL, COM1, also behind a
// folder or with an extension) may report plain attributes.
bool hasFileAttributes(const std::wstring& widePath) {
    DWORD attributes = GetFileAttributesW(widePath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Opens `widePath` with `access` when it is a file on a disk: a device name
// opens a device, whose type tells it apart. INVALID_HANDLE_VALUE otherwise.
HANDLE openDiskFile(const std::wstring& widePath, DWORD access) {
    // "\\.\" names a device or pipe directly; opening a pipe takes one of
    // its instances, so it is never opened.
    if (widePath.size() >= 4 && (widePath[0] == L'\\' || widePath[0] == L'/') &&
        (widePath[1] == L'\\' || widePath[1] == L'/') && widePath[2] == L'.' &&
        (widePath[3] == L'\\' || widePath[3] == L'/')) {
        return INVALID_HANDLE_VALUE;
    }
    if (!hasFileAttributes(widePath)) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(widePath.c_str(), access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

bool convertToFullPath(char* buffer, const char* path) {
    // The W functions take paths beyond MAX_PATH (260), so the driver's own
    // limit of 511 characters is the only one, as on POSIX.
    std::wstring widePath;
    if (!widenAnsiText(path, widePath)) {
        return false;
    }
    std::wstring full(kFullPathBufferSize, L'\0');
    DWORD length =
        GetFullPathNameW(widePath.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    // A result that does not fit is reported as the size it needs, which is
    // larger than the buffer; its narrow form must fit too.
    if (length == 0 || length >= full.size()) {
        return false;
    }
    full.resize(length);
    return narrowToAnsiText(full, buffer, kFullPathBufferSize);
}

bool isRegularFile(const char* path) {
    std::wstring widePath;
    if (!widenAnsiText(path, widePath)) {
        return false;
    }
    // Opened for its attributes alone, nothing is read.
    HANDLE file = openDiskFile(widePath, FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

FILE* openIncludedFile(const char* path) {
    std::wstring widePath;
    if (!widenAnsiText(path, widePath)) {
        return nullptr;
    }
    // The file that was checked is the one read: the stream is made from the
    // same handle.
    HANDLE file = openDiskFile(widePath, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, "rb");
    if (stream == nullptr) {
        _close(descriptor);
    }
    return stream;
}

FILE* openNamedFile(const char* path) {
    // The C runtime does not open a folder; asking first keeps the refusal
    // the same as on POSIX whatever the runtime's error.
    return isDirectory(path) ? nullptr : std::fopen(path, "rb");
}

void reportFileSizeLimitAsWriteError() {
    // Windows has no file size limit that ends a process.
}

int64_t modificationTimeOf(const char* path) {
    std::wstring wide;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!widenAnsiText(path, wide) ||
        !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    // FILETIME counts 100-nanosecond steps.
    ULARGE_INTEGER steps;
    steps.LowPart = data.ftLastWriteTime.dwLowDateTime;
    steps.HighPart = data.ftLastWriteTime.dwHighDateTime;
    return static_cast<int64_t>(steps.QuadPart) * 100;
}

bool touchFile(const char* path) {
    std::wstring wide;
    if (!widenAnsiText(path, wide)) {
        return false;
    }
    HANDLE file = CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    bool set = SetFileTime(file, nullptr, nullptr, &now) != 0;
    CloseHandle(file);
    return set;
}

int64_t measureFileSize(FILE* stream) {
    // A device or a pipe has no size to take, as on POSIX; -1 also when the
    // length of a file cannot be had.
    int descriptor = _fileno(stream);
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor))) != FILE_TYPE_DISK) {
        return -1;
    }
    return static_cast<int64_t>(_filelengthi64(descriptor));
}
