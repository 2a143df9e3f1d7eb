#include <cstring>

#include "platform/folder_handle.h"
#include "platform/wide_text_windows.h"
#include "platform/windows_file_io.h"

// The folder is held open without delete sharing: while a handle is open it
// cannot be renamed, moved or removed, so the path keeps naming the folder
// that was checked. Files are opened with FILE_FLAG_OPEN_REPARSE_POINT, so a
// symbolic link or junction is seen as itself and refused, never followed.
namespace safe_files {

namespace {

using windows::fullPath;
using windows::systemError;
using windows::widen;

std::wstring pathIn(const FolderHandle& folder, const std::string& name) {
    return fullPath(folder.path) + L"\\" + widen(name);
}

uint64_t roundedUp(uint64_t size, uint64_t unit) {
    return unit == 0 ? size : (size + unit - 1) / unit * unit;
}

// A name opened as itself (a link is not followed), for `access`.
HANDLE openAsItself(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

void fillFacts(const BY_HANDLE_FILE_INFORMATION& info, uint64_t unit, FolderFileFacts& facts) {
    facts = FolderFileFacts();
    const DWORD notRegular =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    facts.regular = (info.dwFileAttributes & notRegular) == 0;
    facts.owned = true;
    facts.linkCount = info.nNumberOfLinks;
    facts.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.diskUse = roundedUp(facts.size, unit);
    const uint64_t ticks = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                           info.ftLastWriteTime.dwLowDateTime;
    facts.modified = static_cast<int64_t>(ticks) * 100;
}

// The cluster size of the volume holding `path`: what a file's last part takes.
uint64_t clusterSizeOf(const std::wstring& path) {
    wchar_t root[MAX_PATH + 1] = {};
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD clusters = 0;
    if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH) ||
        !GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
        return 4096;
    }
    return static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
}

// Opens a checked regular file (with `ownOnly` one of one link) of at most
// `maxBytes`; INVALID_HANDLE_VALUE with `result` set otherwise.
HANDLE openChecked(const FolderHandle& folder, const std::string& name, bool ownOnly,
                   uint64_t maxBytes, uint64_t& size, ReadResult& result) {
    HANDLE file = openAsItself(pathIn(folder, name), GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        result = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ReadResult::missing
                                                                              : ReadResult::failed;
        return file;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    FolderFileFacts facts;
    const bool examined =
        GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) != 0;
    if (examined) {
        fillFacts(info, folder.allocationUnit, facts);
    }
    if (!examined || !facts.regular || (ownOnly && facts.linkCount != 1) || facts.size > maxBytes) {
        CloseHandle(file);
        result = ReadResult::refused;
        return INVALID_HANDLE_VALUE;
    }
    size = facts.size;
    result = ReadResult::read;
    return file;
}

bool openFolderHandle(const std::string& path, DWORD flags, FolderHandle& folder,
                      BY_HANDLE_FILE_INFORMATION& info, std::string& error) {
    const std::wstring full = fullPath(path);
    HANDLE handle = CreateFileW(full.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = systemError("cannot open the folder " + path);
        return false;
    }
    if (!GetFileInformationByHandle(handle, &info)) {
        error = systemError("cannot examine the folder " + path);
        CloseHandle(handle);
        return false;
    }
    folder = FolderHandle();
    folder.handle = reinterpret_cast<intptr_t>(handle);
    folder.path = path;
    folder.allocationUnit = clusterSizeOf(full);
    return true;
}

}  // namespace

void FolderHandle::close() noexcept {
    if (handle != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle));
        handle = -1;
    }
}

FolderResult openPrivateFolder(const std::string& path, FolderOrigin, FolderHandle& folder,
                               std::string& error) {
    if (!ensureFolder(path, error)) {
        const DWORD attributes = GetFileAttributesW(widen(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES ? FolderResult::notAFolder
                                                     : FolderResult::cannotCreate;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!openFolderHandle(path, FILE_FLAG_OPEN_REPARSE_POINT, folder, info, error)) {
        return FolderResult::cannotCreate;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        folder = FolderHandle();
        error = path + " is a symbolic link, not a private folder";
        return FolderResult::symbolicLink;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        folder = FolderHandle();
        error = path + " is not a folder";
        return FolderResult::notAFolder;
    }
    return FolderResult::ready;
}

bool openSharedFolder(const std::string& path, FolderHandle& folder, std::string& error) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ensureFolder(path, error) && openFolderHandle(path, 0, folder, info, error);
}

bool factsOf(const FolderHandle& folder, const std::string& name, FolderFileFacts& facts) {
    HANDLE file = openAsItself(pathIn(folder, name), FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(file, &info) != 0;
    if (ok) {
        fillFacts(info, folder.allocationUnit, facts);
    }
    CloseHandle(file);
    return ok;
}

ReadResult readOwnFile(const FolderHandle& folder, const std::string& name, uint64_t maxBytes,
                       std::string& bytes, std::string& error) {
    bytes.clear();
    uint64_t size = 0;
    ReadResult result = ReadResult::failed;
    HANDLE file = openChecked(folder, name, true, maxBytes, size, result);
    if (file == INVALID_HANDLE_VALUE) {
        error = result == ReadResult::failed ? systemError("cannot open the file")
                                             : std::string("not a file of this user");
        return result;
    }
    bytes.reserve(static_cast<size_t>(size));
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        if (bytes.size() + got > maxBytes) {
            result = ReadResult::refused;
            error = "the file grew while it was read";
            break;
        }
        bytes.append(chunk, got);
    }
    if (result == ReadResult::read && got != 0) {
        result = ReadResult::failed;
        error = systemError("cannot read the file");
    }
    CloseHandle(file);
    return result;
}

bool holdsExactly(const FolderHandle& folder, const std::string& name, const void* data,
                  size_t size, bool ownOnly) {
    uint64_t held = 0;
    ReadResult result = ReadResult::failed;
    HANDLE file = openChecked(folder, name, ownOnly, size, held, result);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const char* expected = static_cast<const char*>(data);
    size_t compared = 0;
    bool same = held == size;
    char chunk[65536];
    DWORD got = 0;
    while (same && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        same = got <= size - compared && std::memcmp(chunk, expected + compared, got) == 0;
        compared += got;
    }
    CloseHandle(file);
    return same && compared == size;
}

bool writeTemporaryFile(const FolderHandle& folder, const std::string& targetName, const void* data,
                        size_t size, FileMode mode, std::string& temporaryName, uint64_t& diskUse,
                        std::string& error) {
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::wstring unique = windows::uniqueNamePart();
        std::string narrow(unique.size() * 4 + 1, '\0');
        narrowToAnsiText(unique, narrow.data(), narrow.size());
        temporaryName =
            kTemporaryPrefix + targetName.substr(0, 64) + "-" + narrow.c_str() + kTemporarySuffix;
        const std::wstring path = pathIn(folder, temporaryName);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
            continue;  // that name is taken: draw another
        }
        if (file == INVALID_HANDLE_VALUE) {
            error = systemError("cannot create a temporary file in the folder");
            return false;
        }
        bool ok = windows::writeAll(file, data, size);
        if (!ok) {
            error = systemError("cannot write the temporary file");
        } else if (mode != FileMode::privateUnflushed && !FlushFileBuffers(file)) {
            ok = false;
            error = systemError("cannot flush the temporary file to the disk");
        }
        if (!CloseHandle(file) && ok) {
            ok = false;
            error = systemError("cannot close the temporary file");
        }
        if (!ok) {
            DeleteFileW(path.c_str());
            return false;
        }
        diskUse = roundedUp(size, folder.allocationUnit);
        return true;
    }
    error = "cannot find a free temporary file name in the folder";
    return false;
}

bool renameInFolder(const FolderHandle& folder, const std::string& from, const std::string& to,
                    std::string& error) {
    const std::wstring source = pathIn(folder, from);
    if (!MoveFileExW(source.c_str(), pathIn(folder, to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = systemError("cannot replace " + to);
        DeleteFileW(source.c_str());
        return false;
    }
    return true;
}

void removeFromFolder(const FolderHandle& folder, const std::string& name) {
    DeleteFileW(pathIn(folder, name).c_str());
}

void touchInFolder(const FolderHandle& folder, const std::string& name) {
    HANDLE file = openAsItself(pathIn(folder, name), FILE_WRITE_ATTRIBUTES);
    if (file != INVALID_HANDLE_VALUE) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        SetFileTime(file, nullptr, nullptr, &now);
        CloseHandle(file);
    }
}

std::vector<std::string> namesInFolder(const FolderHandle& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((fullPath(folder.path) + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = entry.cFileName;
        std::string narrow(name.size() * 4 + 1, '\0');
        if (name != L"." && name != L".." && narrowToAnsiText(name, narrow.data(), narrow.size())) {
            names.emplace_back(narrow.c_str());
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

uint64_t freeSpaceOf(const FolderHandle& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(fullPath(folder.path).c_str(), &available, nullptr, nullptr)) {
        return UINT64_MAX;
    }
    return available.QuadPart;
}

LockResult lockFolder(const FolderHandle& folder, int64_t timeoutMilliseconds, PathLock& lock,
                      std::string& error) {
    return lockPath(folder.path, timeoutMilliseconds, lock, error);
}

void removeAbandonedTemporaryFiles(const FolderHandle& folder, int64_t minimumAgeSeconds) {
    removeAbandonedTemporaryFiles(folder.path, minimumAgeSeconds);
}

}  // namespace safe_files
