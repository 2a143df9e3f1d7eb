#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/failure.h"
#include "platform/link_seams.h"
#include "platform/safe_files.h"
#include "platform/wide_text_windows.h"
#include "platform/windows_file_io.h"

// Paths arrive in the process's ANSI code page, as everywhere else in the
// program; they are widened once so the wide functions, free of the MAX_PATH
// limit, do the work.
namespace safe_files {

namespace {

using windows::fullPath;
using windows::systemError;
using windows::uniqueNamePart;
using windows::widen;
using windows::writeAll;

size_t lastSeparator(const std::wstring& path) {
    return path.find_last_of(L"\\/");
}

std::wstring folderOf(const std::wstring& path) {
    const size_t slash = lastSeparator(path);
    if (slash == std::wstring::npos) {
        return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) + L"." : L".";
    }
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::wstring nameOf(const std::wstring& path) {
    const size_t slash = lastSeparator(path);
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool namesNoFile(const std::string& path) {
    return path.empty() || path.back() == '/' || path.back() == '\\';
}

// Where a failed write stopped: before the file was opened (nothing
// changed), or while the bytes were being stored.
enum class FailedAt { opening, storing };

// Errors of a create or rename that mean the storage failed rather than that
// the file may not be written: these count as failures while storing.
FailedAt failedAtFor(DWORD code) {
    switch (code) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_FILE_TOO_LARGE:
        case ERROR_IO_DEVICE:
            return FailedAt::storing;
        default:
            return FailedAt::opening;
    }
}

// Writes the bytes to a fresh temporary file beside `target`, flushed to the
// disk when `flush`, and closed, so the rename that follows finds no handle of ours open.
bool writeTemporary(const std::wstring& target, const void* data, size_t size, bool flush,
                    std::wstring& temporary, std::string& error, FailedAt& failedAt) {
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = folderOf(target) + L"\\" + widen(kTemporaryPrefix) +
                    nameOf(target).substr(0, 64) + L"-" + uniqueNamePart() +
                    widen(kTemporarySuffix);
        HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
            continue;  // that name is taken: draw another
        }
        if (file == INVALID_HANDLE_VALUE) {
            failedAt = failedAtFor(GetLastError());
            return fail(error,
                        systemError("cannot create a temporary file in the target's folder"));
        }
        failedAt = FailedAt::storing;
        bool ok = writeAll(file, data, size);
        if (!ok) {
            error = systemError("cannot write the temporary file");
        } else if (flush && !FlushFileBuffers(file)) {
            ok = fail(error, systemError("cannot flush the temporary file to the disk"));
        }
        if (!CloseHandle(file) && ok) {
            ok = fail(error, systemError("cannot close the temporary file"));
        }
        if (!ok) {
            DeleteFileW(temporary.c_str());
        }
        return ok;
    }
    failedAt = FailedAt::opening;
    return fail(error, "cannot find a free temporary file name in the target's folder");
}

// Puts the temporary file in the target's place. ReplaceFileW keeps the
// replaced file's attributes and ACL; a new target is made by a rename.
bool renameOver(const std::wstring& temporary, const std::wstring& target, bool keep,
                std::string& error, FailedAt& failedAt) {
    beforeRename();
    const bool ok = keep ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                         : MoveFileExW(temporary.c_str(), target.c_str(),
                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        failedAt = failedAtFor(GetLastError());
        error = systemError("cannot replace the target");
        DeleteFileW(temporary.c_str());
    }
    return ok;
}

bool writeAndRename(const std::wstring& target, const void* data, size_t size, bool keep,
                    bool flush, std::string& error, FailedAt& failedAt) {
    std::wstring temporary;
    return writeTemporary(target, data, size, flush, temporary, error, failedAt) &&
           renameOver(temporary, target, keep, error, failedAt);
}

// replaceFile's work on the full path `target`, the new file flushed to the
// disk when `flush`; `failedAt` tells how far a failed write got.
bool replaceAt(const std::string& path, const std::wstring& target, const void* data, size_t size,
               bool flush, const char* what, std::string& error, FailedAt& failedAt) {
    failedAt = FailedAt::opening;
    if (namesNoFile(path)) {
        return fail(error, std::string("the ") + what + " path names no file");
    }
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            return fail(error, systemError(std::string("cannot examine the ") + what));
        }
        return writeAndRename(target, data, size, false, flush, error, failedAt);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return fail(error, std::string("the ") + what + " path is a folder");
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return fail(error, "the file is read-only");
    }
    return writeAndRename(target, data, size, true, flush, error, failedAt);
}

bool createFolders(const std::wstring& path, std::string& error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || fail(error, "not a folder");
    }
    const std::wstring parent = folderOf(path);
    if (parent != path && parent.size() < path.size() && !createFolders(parent, error)) {
        return false;
    }
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return fail(error, systemError("cannot create a folder"));
    }
    return true;
}

// The mutex name for a path: its full, upper-cased form hashed, since names
// may hold no backslash. The global namespace serialises writers in every
// session of the machine; a mutex another user made there cannot be opened,
// and the session's own namespace is used instead.
HANDLE openPathMutex(const std::string& path, std::string& error) {
    std::wstring full = fullPath(path);
    const DWORD length = static_cast<DWORD>(full.size());
    CharUpperBuffW(full.data(), length);
    uint64_t hash = 0xCBF29CE484222325ull;
    for (DWORD i = 0; i < length; ++i) {
        hash = (hash ^ static_cast<uint16_t>(full[i] == L'/' ? L'\\' : full[i])) * 0x100000001B3ull;
    }
    wchar_t name[96];
    std::swprintf(name, 96, L"Global\\vrxCompile-file-lock-%016llx",
                  static_cast<unsigned long long>(hash));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
        std::swprintf(name, 96, L"Local\\vrxCompile-file-lock-%016llx",
                      static_cast<unsigned long long>(hash));
        mutex = CreateMutexW(nullptr, FALSE, name);
    }
    if (mutex == nullptr) {
        error = systemError("cannot create the lock");
    }
    return mutex;
}

}  // namespace

bool ensureFolder(const std::string& path, std::string& error) {
    if (!createFolders(widen(path), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, const void* data, size_t size, FileMode mode,
                         std::string& error) {
    if (namesNoFile(path)) {
        return fail(error, "the path names no file");
    }
    const std::wstring target = fullPath(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return fail(error, "the path is a folder");
    }
    FailedAt failedAt = FailedAt::opening;
    return writeAndRename(target, data, size, false, mode != FileMode::privateUnflushed, error,
                          failedAt);
}

bool replaceFile(const std::string& path, const void* data, size_t size, std::string& error,
                 const char* what) {
    FailedAt failedAt = FailedAt::opening;
    return replaceAt(path, fullPath(path), data, size, true, what, error, failedAt);
}

ReplaceOutcome replaceOrRemoveFile(const std::string& path, const void* data, size_t size,
                                   const char* what, std::string& error) {
    const std::wstring target = fullPath(path);
    FailedAt failedAt = FailedAt::opening;
    if (replaceAt(path, target, data, size, false, what, error, failedAt)) {
        return ReplaceOutcome::replaced;
    }
    if (failedAt == FailedAt::opening) {
        return ReplaceOutcome::notOpened;
    }
    DeleteFileW(target.c_str());
    return ReplaceOutcome::failedStoring;
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    bytes.clear();
    const std::wstring wide = widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return fail(error, code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                               ? std::string("the file does not exist")
                               : systemError("cannot open the file"));
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return fail(error, "not a regular file");
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return fail(error, systemError("cannot open the file"));
    }
    bool ok = GetFileType(file) == FILE_TYPE_DISK || fail(error, "not a regular file");
    char chunk[65536];
    DWORD got = 0;
    while (ok && (ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0) {
        bytes.append(chunk, got);
    }
    if (!ok && error.empty()) {
        error = systemError("cannot read the file");
    }
    CloseHandle(file);
    return ok;
}

// The owner is not compared here: the folder's ACL decides who may delete.
void removeAbandonedTemporaryFiles(const std::string& folder, int64_t minimumAgeSeconds) {
    const std::wstring base = widen(folder.empty() ? std::string(".") : folder) + L"\\";
    const std::wstring pattern = base + widen(kTemporaryPrefix) + L"*" + widen(kTemporarySuffix);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    const int64_t newest = ticks(now) - minimumAgeSeconds * 10000000;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            ticks(entry.ftLastWriteTime) <= newest) {
            DeleteFileW((base + entry.cFileName).c_str());
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

LockResult lockPath(const std::string& path, int64_t timeoutMilliseconds, PathLock& lock,
                    std::string& error) {
    lock.release();
    HANDLE mutex = openPathMutex(path, error);
    if (mutex == nullptr) {
        return LockResult::failed;
    }
    const DWORD wait = timeoutMilliseconds <= 0          ? 0
                       : timeoutMilliseconds >= INFINITE ? INFINITE - 1
                                                         : static_cast<DWORD>(timeoutMilliseconds);
    // An abandoned mutex belonged to a writer that was killed; its rename
    // either happened whole or not at all, so the lock is simply ours.
    switch (WaitForSingleObject(mutex, wait)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            lock.take(reinterpret_cast<intptr_t>(mutex));
            return LockResult::acquired;
        case WAIT_TIMEOUT:
            CloseHandle(mutex);
            return LockResult::timedOut;
        default:
            error = systemError("cannot wait for the lock");
            CloseHandle(mutex);
            return LockResult::failed;
    }
}

void PathLock::release() {
    if (held && handle != -1) {
        HANDLE mutex = reinterpret_cast<HANDLE>(handle);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    handle = -1;
    held = false;
}

}  // namespace safe_files
