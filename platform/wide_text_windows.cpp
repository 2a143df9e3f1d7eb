#include "platform/wide_text_windows.h"

#include <windows.h>

bool widenAnsiText(const char* text, std::wstring& wide) {
    // The length counts the terminator.
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    wide.assign(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length) != length) {
        return false;
    }
    wide.resize(static_cast<size_t>(length) - 1);
    return true;
}

bool narrowToAnsiText(const std::wstring& wide, char* buffer, size_t size) {
    // Characters the code page lacks would come back as '?', naming another
    // file: refused. UTF-8 has them all and takes no such question.
    BOOL lossy = FALSE;
    BOOL* lossyQuery = GetACP() == CP_UTF8 ? nullptr : &lossy;
    int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, buffer, static_cast<int>(size),
                                     nullptr, lossyQuery);
    return length > 0 && lossy == FALSE;
}

std::wstring wideFullPath(const std::wstring& path) {
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), 32768, full.data(), nullptr);
    if (length == 0 || length >= 32768) {
        return path;
    }
    full.resize(length);
    return full;
}
