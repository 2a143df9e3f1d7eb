#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/failure.h"
#include "platform/folder_handle.h"
#include "platform/posix_file_io.h"

namespace safe_files {

namespace {

using posix::systemError;

int descriptorOf(const FolderHandle& folder) {
    return static_cast<int>(folder.handle);
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Why `path` could not be opened as a folder without following a link.
FolderResult classifyUnopened(const std::string& path, std::string& error) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        error = systemError("cannot open the folder " + path);
        return FolderResult::cannotCreate;
    }
    if (S_ISLNK(status.st_mode)) {
        error = path + " is a symbolic link, not a private folder";
        return FolderResult::symbolicLink;
    }
    if (!S_ISDIR(status.st_mode)) {
        error = path + " is not a folder";
        return FolderResult::notAFolder;
    }
    error = systemError("cannot open the folder " + path);
    return FolderResult::cannotCreate;
}

// Checks the open folder: this user's, and nobody else may write into it.
// A default folder of ours whose mode was widened is set back to 0700.
FolderResult checkOpenFolder(int fd, const std::string& path, FolderOrigin origin,
                             std::string& error) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        error = systemError("cannot examine the folder " + path);
        return FolderResult::cannotCreate;
    }
    if (status.st_uid != geteuid()) {
        error = path + " belongs to another user";
        return FolderResult::foreignOwner;
    }
    if (origin == FolderOrigin::ownDefault && (status.st_mode & 077) != 0 &&
        fchmod(fd, 0700) == 0) {
        return FolderResult::ready;
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = path + " may be written by other users";
        return FolderResult::writableByOthers;
    }
    return FolderResult::ready;
}

// Opens `name` for reading, never through a link, and checks it on the
// open file; -1 with `result` set when it is missing or refused.
int openChecked(const FolderHandle& folder, const std::string& name, bool ownOnly,
                uint64_t maxBytes, struct stat& status, ReadResult& result) {
    const int fd =
        openat(descriptorOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result = errno == ENOENT  ? ReadResult::missing
                 : errno == ELOOP ? ReadResult::refused
                                  : ReadResult::failed;
        return -1;
    }
    const bool usable = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                        (!ownOnly || (status.st_uid == geteuid() && status.st_nlink == 1)) &&
                        static_cast<uint64_t>(status.st_size) <= maxBytes;
    if (!usable) {
        close(fd);
        result = ReadResult::refused;
        return -1;
    }
    result = ReadResult::read;
    return fd;
}

}  // namespace

void FolderHandle::close() noexcept {
    if (handle != -1) {
        ::close(static_cast<int>(handle));
        handle = -1;
    }
}

FolderResult openPrivateFolder(const std::string& named, FolderOrigin origin, FolderHandle& folder,
                               std::string& error) {
    std::string path = named;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (path.empty()) {
        error = "no folder named";
        return FolderResult::cannotCreate;
    }
    const std::string parent = parentOf(path);
    if (parent != path && !ensureFolder(parent, error)) {
        return FolderResult::cannotCreate;
    }
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = systemError("cannot create the folder " + path);
        return FolderResult::cannotCreate;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return classifyUnopened(path, error);
    }
    const FolderResult result = checkOpenFolder(fd, path, origin, error);
    if (result != FolderResult::ready) {
        close(fd);
        return result;
    }
    folder = FolderHandle();
    folder.handle = fd;
    folder.path = path;
    return result;
}

bool openSharedFolder(const std::string& path, FolderHandle& folder, std::string& error) {
    if (!ensureFolder(path, error)) {
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return fail(error, systemError("cannot open the folder " + path));
    }
    folder = FolderHandle();
    folder.handle = fd;
    folder.path = path;
    return true;
}

bool factsOf(const FolderHandle& folder, const std::string& name, FolderFileFacts& facts) {
    struct stat status {};
    if (fstatat(descriptorOf(folder), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    facts = FolderFileFacts();
    facts.regular = S_ISREG(status.st_mode);
    facts.owned = status.st_uid == geteuid();
    facts.linkCount = static_cast<uint64_t>(status.st_nlink);
    facts.size = static_cast<uint64_t>(status.st_size);
    facts.diskUse = static_cast<uint64_t>(status.st_blocks) * 512;
    facts.modified =
        static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return true;
}

ReadResult readOwnFile(const FolderHandle& folder, const std::string& name, uint64_t maxBytes,
                       std::string& bytes, std::string& error) {
    bytes.clear();
    struct stat status {};
    ReadResult result = ReadResult::failed;
    const int fd = openChecked(folder, name, true, maxBytes, status, result);
    if (fd < 0) {
        error = result == ReadResult::failed ? systemError("cannot open the file")
                                             : std::string("not a file of this user");
        return result;
    }
    bytes.reserve(static_cast<size_t>(status.st_size));
    switch (posix::readToEnd(fd, maxBytes, bytes, error)) {
        case posix::ReadToEnd::complete:
            break;
        case posix::ReadToEnd::tooLong:
            result = ReadResult::refused;  // it grew past the bound while read
            error = "the file grew while it was read";
            break;
        case posix::ReadToEnd::failed:
            result = ReadResult::failed;
            break;
    }
    close(fd);
    return result;
}

bool holdsExactly(const FolderHandle& folder, const std::string& name, const void* data,
                  size_t size, bool ownOnly) {
    struct stat status {};
    ReadResult result = ReadResult::failed;
    const int fd = openChecked(folder, name, ownOnly, size, status, result);
    if (fd < 0 || static_cast<uint64_t>(status.st_size) != size) {
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    const char* expected = static_cast<const char*>(data);
    size_t compared = 0;
    char chunk[65536];
    bool same = true;
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            same = got == 0 && compared == size;
            break;
        }
        const size_t length = static_cast<size_t>(got);
        if (length > size - compared || std::memcmp(chunk, expected + compared, length) != 0) {
            same = false;
            break;
        }
        compared += length;
    }
    close(fd);
    return same;
}

bool writeTemporaryFile(const FolderHandle& folder, const std::string& targetName, const void* data,
                        size_t size, FileMode mode, std::string& temporaryName, uint64_t& diskUse,
                        std::string& error) {
    constexpr int kAttempts = 8;
    const int at = descriptorOf(folder);
    const mode_t createMode = mode == FileMode::shared ? 0666 : 0600;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporaryName = kTemporaryPrefix + targetName.substr(0, 64) + "-" +
                        posix::uniqueNamePart() + kTemporarySuffix;
        const int fd = openat(at, temporaryName.c_str(),
                              O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, createMode);
        if (fd < 0 && errno == EEXIST) {
            continue;  // that name is taken: draw another
        }
        if (fd < 0) {
            return fail(error, systemError("cannot create a temporary file in the folder"));
        }
        struct stat status {};
        bool ok = posix::writeAll(fd, data, size);
        if (!ok) {
            error = systemError("cannot write the temporary file");
        } else if (mode != FileMode::privateUnflushed && fsync(fd) != 0) {
            ok = fail(error, systemError("cannot flush the temporary file to the disk"));
        } else if (fstat(fd, &status) != 0) {
            ok = fail(error, systemError("cannot examine the temporary file"));
        }
        if (close(fd) != 0 && ok) {
            ok = fail(error, systemError("cannot close the temporary file"));
        }
        if (!ok) {
            unlinkat(at, temporaryName.c_str(), 0);
            return false;
        }
        diskUse = static_cast<uint64_t>(status.st_blocks) * 512;
        return true;
    }
    return fail(error, "cannot find a free temporary file name in the folder");
}

bool renameInFolder(const FolderHandle& folder, const std::string& from, const std::string& to,
                    std::string& error) {
    const int at = descriptorOf(folder);
    if (renameat(at, from.c_str(), at, to.c_str()) != 0) {
        error = systemError("cannot replace " + to);
        unlinkat(at, from.c_str(), 0);
        return false;
    }
    return true;
}

void removeFromFolder(const FolderHandle& folder, const std::string& name) {
    unlinkat(descriptorOf(folder), name.c_str(), 0);
}

void touchInFolder(const FolderHandle& folder, const std::string& name) {
    utimensat(descriptorOf(folder), name.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
}

std::vector<std::string> namesInFolder(const FolderHandle& folder) {
    std::vector<std::string> names;
    // A descriptor of its own: the listing moves and closes it.
    const int fd = openat(descriptorOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd >= 0 ? fdopendir(fd) : nullptr;
    if (listing == nullptr) {
        if (fd >= 0) {
            close(fd);
        }
        return names;
    }
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    return names;
}

uint64_t freeSpaceOf(const FolderHandle& folder) {
    struct statvfs status {};
    if (fstatvfs(descriptorOf(folder), &status) != 0) {
        return UINT64_MAX;
    }
    return static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
}

LockResult lockFolder(const FolderHandle& folder, int64_t timeoutMilliseconds, PathLock& lock,
                      std::string& error) {
    lock.release();
    // A descriptor of its own, so that closing it lets the lock go.
    const int fd = openat(descriptorOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = systemError("cannot open the folder to lock it");
        return LockResult::failed;
    }
    const int64_t deadline = posix::monotonicMilliseconds() + timeoutMilliseconds;
    const LockResult result = posix::waitForExclusiveLock(fd, deadline, error);
    if (result != LockResult::acquired) {
        close(fd);
        return result;
    }
    lock.take(fd);
    return result;
}

void removeAbandonedTemporaryFiles(const FolderHandle& folder, int64_t minimumAgeSeconds) {
    const int64_t newest =
        (static_cast<int64_t>(time(nullptr)) - minimumAgeSeconds) * int64_t{1000000000};
    for (const std::string& name : namesInFolder(folder)) {
        FolderFileFacts facts;
        if (isTemporaryFileName(name) && factsOf(folder, name, facts) && facts.regular &&
            facts.owned && facts.modified <= newest) {
            removeFromFolder(folder, name);
        }
    }
}

}  // namespace safe_files
