#include "platform/windows_file_io.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/wide_text_windows.h"

namespace safe_files::windows {

std::string systemError(const std::string& what) {
    const DWORD code = GetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        text[--length] = '\0';
    }
    return what + ": " + (length > 0 ? text : "error " + std::to_string(code));
}

std::wstring widen(const std::string& text) {
    std::wstring wide;
    if (!widenAnsiText(text.c_str(), wide)) {
        wide.clear();
    }
    return wide;
}

// ReplaceFileW is not reliable with relative names, and a temporary file
// must land in the target's real folder.
std::wstring fullPath(const std::string& path) {
    return wideFullPath(widen(path));
}

std::wstring uniqueNamePart() {
    static const uint64_t seed = [] {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        return static_cast<uint64_t>(counter.QuadPart) ^
               (static_cast<uint64_t>(GetCurrentProcessId()) << 40);
    }();
    static std::atomic<uint64_t> sequence{0};
    uint64_t mixed = seed + 0x9E3779B97F4A7C15ull * (sequence.fetch_add(1) + 1);
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    mixed ^= mixed >> 31;
    wchar_t text[48];
    std::swprintf(text, 48, L"%lu-%016llx", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long long>(mixed));
    return text;
}

bool writeAll(HANDLE file, const void* data, size_t size) {
    const char* cursor = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, cursor, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        cursor += written;
        size -= written;
    }
    return true;
}

}  // namespace safe_files::windows
