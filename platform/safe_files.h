// The one place that creates folders, writes files atomically, replaces
// existing files and takes locks (private folders and the files inside
// them: folder_handle.h). Everything that writes a file
// another process may read or write at the same time (the writer's output
// and appends, the debug information file, the dependency file, the compile
// cache) goes through here. POSIX and Windows implementations stand behind
// this header; no function ends the process, every failure is a value with
// a reason in `error`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace safe_files {

// Creates every missing folder of `path` with the default mode (0777 less
// the umask); true when `path` is a folder afterwards.
bool ensureFolder(const std::string& path, std::string& error);

// Permission of a file written by writeFileAtomically.
enum class FileMode {
    shared,         // 0666 less the umask, as a plain fopen would create it
    privateToUser,  // 0600
    // 0600 and not flushed to the disk before the rename: for files whose
    // reader checks them and can do without them (the compile cache), where
    // a flush would cost more than the work the file saves. A crash may
    // leave such a file short or empty, never half-replaced by a live
    // writer.
    privateUnflushed,
};

// Writes `size` bytes to a fresh temporary file in the folder of `path`
// (named kTemporaryPrefix + the target's name + a unique part +
// kTemporarySuffix), flushes it to the disk (not with
// FileMode::privateUnflushed) and renames it over `path`. On
// any failure the temporary file is removed and whatever stood at `path` is
// left exactly as it was. A `path` that is a folder is refused. A symbolic
// link at `path` is never followed: the rename replaces the link itself (use
// replaceFile for outputs the user names).
bool writeFileAtomically(const std::string& path, const void* data, size_t size, FileMode mode,
                         std::string& error);

// Replaces the file at `path` with `size` bytes, keeping what a plain write
// would keep:
// - a missing file is created as by writeFileAtomically with FileMode::shared;
// - an existing file keeps its permission bits (and owner and group where
//   the process may set them; on Windows its attributes and ACL, which
//   ReplaceFileW carries over);
// - a read-only existing file is not replaced (false, as a plain write
//   fails): one the user may not write, or (POSIX) one with no write
//   permission bit at all, which is refused even to the superuser; on
//   Windows one with the read-only attribute;
// - a symbolic link stays a link and the file it names is replaced, in that
//   file's folder. Links are followed as the kernel follows them for an
//   open: a link in a world-writable sticky folder is followed only when it
//   belongs to the user or to the folder's owner, otherwise the write is
//   refused; a dangling link creates the file it names;
// - an existing device or pipe (/dev/null, a FIFO) is written in place, as
//   a plain write does, never renamed over.
// A hard-linked target gets a new file under this name; its other names keep
// the old content. All-or-nothing like writeFileAtomically. `what` names the
// file in the reasons given in `error` ("the output path is a folder").
bool replaceFile(const std::string& path, const void* data, size_t size, std::string& error,
                 const char* what = "output");

// How replaceOrRemoveFile ended.
enum class ReplaceOutcome {
    replaced,  // the path holds the new bytes
    // The file, or the temporary file beside it, could not be opened or
    // created (a missing or unwritable folder, a read-only file, a folder at
    // the path, a refused link): nothing changed.
    notOpened,
    // Opened, but the bytes could not all be stored (a full disk, an I/O
    // error, the file size limit). The file the path led to is removed as
    // well, so that no earlier content stands where the new was expected; a
    // device or pipe written in place is left where it is.
    failedStoring,
};

// replaceFile for files that are best effort yet must never be stale, such
// as a run's debug dumps: the same rules, but a failure while storing leaves
// no file at all. The new file is not flushed to the disk before the rename,
// as a plain write would not: each run makes such files again, and a crash
// may leave one short or empty, never cut by a failed write it did not
// report.
ReplaceOutcome replaceOrRemoveFile(const std::string& path, const void* data, size_t size,
                                   const char* what, std::string& error);

// Reads a whole regular file into `bytes`. False (with a reason) when it is
// missing, is not a regular file or cannot be read completely.
bool readWholeFile(const std::string& path, std::string& bytes, std::string& error);

// The prefix and suffix of temporary files, so stray ones can be recognised.
constexpr const char* kTemporaryPrefix = ".vrxtmp-";
constexpr const char* kTemporarySuffix = ".tmp";

// Removes temporary files of this user in `folder` that were left by a
// process killed before its rename: same naming pattern, same owner, last
// modified more than `minimumAgeSeconds` ago (600 by default). Best effort;
// errors are ignored.
void removeAbandonedTemporaryFiles(const std::string& folder, int64_t minimumAgeSeconds = 600);

// An exclusive lock on a path, taken by lockPath (or lockFolder) and held
// until release() or until its owner goes out of scope, so that no early
// return or exception can leave it taken. Not copyable.
class PathLock {
public:
    PathLock() = default;
    PathLock(const PathLock&) = delete;
    PathLock& operator=(const PathLock&) = delete;
    ~PathLock() { release(); }

    // Lets the lock go; harmless on a lock that is not held.
    void release();

    // Set by lockPath and lockFolder once the lock is theirs.
    void take(intptr_t lockHandle) {
        handle = lockHandle;
        held = true;
    }

private:
    intptr_t handle = -1;  // descriptor (POSIX) or mutex handle (Windows)
    bool held = false;     // false too for an unlocked pass (see LockResult::unsupported)
};

enum class LockResult {
    acquired,     // the lock is held
    timedOut,     // another holder kept it for the whole time-out
    unsupported,  // the file system cannot lock (ENOLCK and the like): go on unlocked
    failed,       // the lock could not be set up (reason in `error`)
};

// Takes an exclusive lock that serialises every writer of the file at
// `path`, waiting at most `timeoutMilliseconds`. No lock file is left behind.
// POSIX: an flock on the file `path` names (links followed), re-taken when
// the path names another file once locked, so the lock survives the file
// being replaced by rename. A file that does not exist yet (or cannot be
// opened for reading) is locked through an flock on its folder instead, so
// writers that create it are serialised too, without a placeholder file
// that a killed writer would leave empty. A folder that cannot be opened
// for reading gives `unsupported`. Windows: a named mutex derived from the
// full path (the file itself is never held open, so it can be replaced);
// taken and released on the same thread. A holder that replaces the file
// must do so as its last step before releasing it: from the rename on, a
// new writer may lock the new file. A lock `lock` held before is released
// first.
LockResult lockPath(const std::string& path, int64_t timeoutMilliseconds, PathLock& lock,
                    std::string& error);

}  // namespace safe_files
