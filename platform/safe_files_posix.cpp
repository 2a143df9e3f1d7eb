#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/failure.h"
#include "platform/link_seams.h"
#include "platform/safe_files.h"

#include "platform/folder_handle.h"
#include "platform/posix_file_io.h"

namespace safe_files {

namespace {

using posix::monotonicMilliseconds;
using posix::systemError;
using posix::uniqueNamePart;
using posix::waitForExclusiveLock;
using posix::writeAll;

// "<action> the <what>: <reason>", with errno taken before anything else.
std::string systemErrorAbout(const char* action, const char* what) {
    const int code = errno;
    return std::string(action) + " the " + what + ": " + std::strerror(code);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool namesNoFile(const std::string& path) {
    return path.empty() || path.back() == '/';
}

// Where a failed write stopped: before the file was opened (nothing
// changed), or while the bytes were being stored.
enum class FailedAt { opening, storing };

// Errors of an open or rename that mean the storage failed rather than that
// the file may not be written: these count as failures while storing.
FailedAt failedAtFor(int code) {
    return code == ENOSPC || code == EDQUOT || code == EIO || code == EFBIG ? FailedAt::storing
                                                                            : FailedAt::opening;
}

// Gives the temporary file the owner, group and permission bits of the file
// it replaces. Owner and group are kept where the process may set them; the
// bits are set last because changing the owner clears set-id bits.
bool keepOwnerAndMode(int fd, const struct stat& kept) {
    if (kept.st_uid != geteuid() || kept.st_gid != getegid()) {
        if (fchown(fd, kept.st_uid, kept.st_gid) != 0) {
            // A member of the group may still keep the group.
            (void)fchown(fd, static_cast<uid_t>(-1), kept.st_gid);
        }
    }
    return fchmod(fd, kept.st_mode & 07777) == 0;
}

// Writes the bytes to a fresh temporary file in `folder`, flushed to the
// disk when `flush`. `kept`, when given, is the file being replaced. On failure nothing
// is left behind.
bool writeTemporary(const std::string& folder, const std::string& targetName, const void* data,
                    size_t size, mode_t createMode, bool flush, const struct stat* kept,
                    std::string& temporary, std::string& error, FailedAt& failedAt) {
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = folder + "/" + kTemporaryPrefix + targetName.substr(0, 64) + "-" +
                    uniqueNamePart() + kTemporarySuffix;
        const int fd = open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, createMode);
        if (fd < 0 && errno == EEXIST) {
            continue;  // that name is taken: draw another
        }
        if (fd < 0) {
            failedAt = failedAtFor(errno);
            return fail(error,
                        systemError("cannot create a temporary file in the target's folder"));
        }
        failedAt = FailedAt::storing;
        bool ok = writeAll(fd, data, size);
        if (!ok) {
            error = systemError("cannot write the temporary file");
        } else if (kept != nullptr && !keepOwnerAndMode(fd, *kept)) {
            ok = fail(error, systemError("cannot give the temporary file the target's mode"));
        } else if (flush && fsync(fd) != 0) {
            ok = fail(error, systemError("cannot flush the temporary file to the disk"));
        }
        if (close(fd) != 0 && ok) {
            ok = fail(error, systemError("cannot close the temporary file"));
        }
        if (!ok) {
            unlink(temporary.c_str());
        }
        return ok;
    }
    failedAt = FailedAt::opening;
    return fail(error, "cannot find a free temporary file name in the target's folder");
}

// Puts the written temporary file in the target's place in one step.
bool renameOver(const std::string& temporary, const std::string& target, std::string& error,
                FailedAt& failedAt) {
    beforeRename();
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        failedAt = failedAtFor(errno);
        error = systemError("cannot replace the target");
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool writeAndRename(const std::string& target, const void* data, size_t size, mode_t createMode,
                    bool flush, const struct stat* kept, std::string& error, FailedAt& failedAt) {
    std::string temporary;
    return writeTemporary(folderOf(target), nameOf(target), data, size, createMode, flush, kept,
                          temporary, error, failedAt) &&
           renameOver(temporary, target, error, failedAt);
}

// The kernel's rule for links in shared folders: a link in a world-writable
// sticky folder is followed only by its owner or when it belongs to the
// folder's owner, so another user cannot point our output at our own files.
bool mayFollowLink(const std::string& link, const struct stat& linkStatus) {
    if (linkStatus.st_uid == geteuid()) {
        return true;
    }
    struct stat folder {};
    if (stat(folderOf(link).c_str(), &folder) != 0) {
        return false;
    }
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || linkStatus.st_uid == folder.st_uid;
}

// Follows the symbolic links at `path` to the name of the file a write
// replaces or creates (a dangling link leads to the name it holds).
bool resolveLinks(const std::string& path, std::string& resolved, std::string& error) {
    constexpr int kMaximumHops = 40;
    std::string current = path;
    for (int hop = 0; hop < kMaximumHops; ++hop) {
        struct stat status {};
        if (lstat(current.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                return fail(error, systemError("cannot examine " + current));
            }
            resolved = current;
            return true;
        }
        if (!S_ISLNK(status.st_mode)) {
            resolved = current;
            return true;
        }
        if (!mayFollowLink(current, status)) {
            return fail(error,
                        "refusing to follow a symbolic link of another user in a "
                        "world-writable sticky folder: " +
                            current);
        }
        char buffer[4096];
        const ssize_t length = readlink(current.c_str(), buffer, sizeof buffer);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) {
            return fail(error, systemError("cannot read the symbolic link " + current));
        }
        const std::string destination(buffer, static_cast<size_t>(length));
        current = destination[0] == '/' ? destination : folderOf(current) + "/" + destination;
    }
    return fail(error, "too many levels of symbolic links: " + path);
}

// A write fails on a file the user may not write, and on a file with no
// write permission bit at all, which even the superuser's write refuses
// here: such a file is meant to stay as it is.
bool isReadOnly(const std::string& path, const struct stat& status) {
    return (status.st_mode & 0222) == 0 || faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

// Devices and pipes are written in place, as a plain write does: renaming
// over them would replace the device node itself.
bool writeInPlace(const std::string& path, const void* data, size_t size, const char* what,
                  std::string& error, FailedAt& failedAt) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        failedAt = failedAtFor(errno);
        return fail(error, systemErrorAbout("cannot open", what));
    }
    failedAt = FailedAt::storing;
    bool ok = writeAll(fd, data, size);
    if (!ok) {
        error = systemErrorAbout("cannot write", what);
    }
    if (close(fd) != 0 && ok) {
        ok = fail(error, systemErrorAbout("cannot close", what));
    }
    return ok;
}

// replaceFile's work, the new file flushed to the disk when `flush`.
// `target` is the file the path leads to once links are followed (empty
// until known) and `inPlace` tells whether it was written in place;
// `failedAt` tells how far a failed write got.
bool replaceResolved(const std::string& path, const void* data, size_t size, bool flush,
                     const char* what, std::string& error, std::string& target, bool& inPlace,
                     FailedAt& failedAt) {
    failedAt = FailedAt::opening;
    inPlace = false;
    if (namesNoFile(path)) {
        return fail(error, std::string("the ") + what + " path names no file");
    }
    if (!resolveLinks(path, target, error)) {
        target.clear();
        return false;
    }
    struct stat status {};
    if (stat(target.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            return fail(error, systemErrorAbout("cannot examine", what));
        }
        return writeAndRename(target, data, size, 0666, flush, nullptr, error, failedAt);
    }
    if (S_ISDIR(status.st_mode)) {
        return fail(error, std::string("the ") + what + " path is a folder");
    }
    if (!S_ISREG(status.st_mode)) {
        inPlace = true;
        return writeInPlace(target, data, size, what, error, failedAt);
    }
    if (isReadOnly(target, status)) {
        return fail(error, "the file is read-only");
    }
    return writeAndRename(target, data, size, 0600, flush, &status, error, failedAt);
}

}  // namespace

bool ensureFolder(const std::string& path, std::string& error) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        return S_ISDIR(status.st_mode) || fail(error, path + " is not a folder");
    }
    const std::string parent = folderOf(path);
    if (parent != path && parent != "." && !ensureFolder(parent, error)) {
        return false;
    }
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        return fail(error, systemError("cannot create the folder " + path));
    }
    return (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) ||
           fail(error, path + " is not a folder");
}

bool writeFileAtomically(const std::string& path, const void* data, size_t size, FileMode mode,
                         std::string& error) {
    if (namesNoFile(path)) {
        return fail(error, "the path names no file");
    }
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        return fail(error, "the path is a folder");
    }
    FailedAt failedAt = FailedAt::opening;
    return writeAndRename(path, data, size, mode == FileMode::shared ? 0666 : 0600,
                          mode != FileMode::privateUnflushed, nullptr, error, failedAt);
}

bool replaceFile(const std::string& path, const void* data, size_t size, std::string& error,
                 const char* what) {
    std::string target;
    bool inPlace = false;
    FailedAt failedAt = FailedAt::opening;
    return replaceResolved(path, data, size, true, what, error, target, inPlace, failedAt);
}

ReplaceOutcome replaceOrRemoveFile(const std::string& path, const void* data, size_t size,
                                   const char* what, std::string& error) {
    std::string target;
    bool inPlace = false;
    FailedAt failedAt = FailedAt::opening;
    if (replaceResolved(path, data, size, false, what, error, target, inPlace, failedAt)) {
        return ReplaceOutcome::replaced;
    }
    if (failedAt == FailedAt::opening) {
        return ReplaceOutcome::notOpened;
    }
    if (!inPlace) {
        unlink(target.c_str());
    }
    return ReplaceOutcome::failedStoring;
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    bytes.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail(error, errno == ENOENT ? std::string("the file does not exist")
                                           : systemError("cannot open the file"));
    }
    struct stat status {};
    bool ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (!ok) {
        error = "not a regular file";
    } else {
        bytes.reserve(static_cast<size_t>(status.st_size));
        ok = posix::readToEnd(fd, UINT64_MAX, bytes, error) == posix::ReadToEnd::complete;
    }
    close(fd);
    return ok;
}

void removeAbandonedTemporaryFiles(const std::string& folder, int64_t minimumAgeSeconds) {
    FolderHandle handle;
    handle.handle = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle.isOpen()) {
        removeAbandonedTemporaryFiles(handle, minimumAgeSeconds);
    }
}

// The lock is an flock on the file itself. A missing file (or one that
// cannot be opened for reading) is locked through its folder instead: every
// writer that finds the file missing locks the folder's descriptor, creates
// the file by rename and lets go, so creation is serialised without a lock
// file or an empty placeholder that a killed writer would leave behind.
// Once locked, the path must still name what was locked (a writer before us
// may have renamed a new file in or created the missing one); otherwise the
// lock is dropped and taken again on what the path names now.
LockResult lockPath(const std::string& path, int64_t timeoutMilliseconds, PathLock& lock,
                    std::string& error) {
    lock.release();
    const int64_t deadline = monotonicMilliseconds() + timeoutMilliseconds;
    for (;;) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        const bool onFolder = fd < 0;
        if (onFolder) {
            fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (fd < 0) {
            error = systemError("cannot open the file or its folder to lock it");
            return errno == EACCES ? LockResult::unsupported : LockResult::failed;
        }
        const LockResult waited = waitForExclusiveLock(fd, deadline, error);
        if (waited != LockResult::acquired) {
            close(fd);
            return waited;
        }
        bool current = false;
        if (onFolder) {
            const int probe = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            current = probe < 0;
            if (probe >= 0) {
                close(probe);
            }
        } else {
            struct stat locked {};
            struct stat named {};
            current = fstat(fd, &locked) == 0 && stat(path.c_str(), &named) == 0 &&
                      locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
        }
        if (current) {
            lock.take(fd);
            return LockResult::acquired;
        }
        close(fd);
    }
}

void PathLock::release() {
    if (held && handle >= 0) {
        close(static_cast<int>(handle));
    }
    handle = -1;
    held = false;
}

}  // namespace safe_files
