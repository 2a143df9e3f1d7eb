#include <windows.h>

#include "platform/file_identity.h"
#include "platform/wide_text_windows.h"

namespace {

// Opens a file or folder for its attributes alone; links are followed.
HANDLE openForIdentity(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The full path of a file that does not exist: its folder's final path
// (links and junctions resolved) when the folder exists, and its own name,
// in upper case.
std::string resolveMissingFile(const std::wstring& path) {
    std::wstring full = wideFullPath(path);
    const size_t slash = full.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        HANDLE folder = openForIdentity(full.substr(0, slash + 1));
        if (folder != INVALID_HANDLE_VALUE) {
            std::wstring final(32768, L'\0');
            const DWORD length = GetFinalPathNameByHandleW(folder, final.data(), 32768, 0);
            if (length > 0 && length < 32768) {
                final.resize(length);
                full = final + L"\\" + full.substr(slash + 1);
            }
            CloseHandle(folder);
        }
    }
    CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
    std::string narrow(full.size() * 4 + 1, '\0');
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, full.data(), static_cast<int>(full.size()), narrow.data(),
                            static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return narrow;
}

}  // namespace

bool identifyFile(const char* path, FileIdentity& identity) {
    identity = FileIdentity{};
    std::wstring wide;
    if (!widenAnsiText(path, wide) || wide.empty()) {
        return false;
    }
    HANDLE file = openForIdentity(wide);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            return false;
        }
        identity.resolvedPath = resolveMissingFile(wide);
        return !identity.resolvedPath.empty();
    }
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(file, &information) != 0;
    CloseHandle(file);
    if (!known) {
        return false;
    }
    identity.exists = true;
    identity.device = information.dwVolumeSerialNumber;
    identity.fileNumber =
        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

bool isSameFile(const FileIdentity& first, const FileIdentity& second) {
    if (first.exists != second.exists) {
        return false;
    }
    return first.exists ? first.device == second.device && first.fileNumber == second.fileNumber
                        : first.resolvedPath == second.resolvedPath;
}
