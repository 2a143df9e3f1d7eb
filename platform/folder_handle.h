// Files inside one folder, reached through a handle held open on that
// folder: the folder is checked once and every later open, rename, removal
// and listing goes through the same handle, so swapping the folder's path
// for another folder between the check and the use changes nothing. Files
// are opened without following a symbolic link at their own name.
//
// POSIX: an O_DIRECTORY|O_NOFOLLOW descriptor and the *at calls.
// Windows: the folder is held open without delete sharing, so it cannot be
// renamed or removed while it is in use, and files are reached by the full
// path under it, opened as reparse points (never followed). Ownership and
// write access of others are not examined there: the folder's ACL decides
// them (the default folders under %LOCALAPPDATA% inherit the user's private
// ACL).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/safe_files.h"

namespace safe_files {

// An open folder; closed when the record goes. Move-only.
struct FolderHandle {
    intptr_t handle = -1;         // descriptor (POSIX) or HANDLE (Windows); -1 when none
    std::string path;             // as opened, for messages and (Windows) full names
    uint64_t allocationUnit = 0;  // Windows: the volume's cluster size

    FolderHandle() = default;
    ~FolderHandle() { close(); }
    FolderHandle(FolderHandle&& other) noexcept { *this = std::move(other); }
    FolderHandle& operator=(FolderHandle&& other) noexcept {
        if (this != &other) {
            close();
            handle = other.handle;
            path = std::move(other.path);
            allocationUnit = other.allocationUnit;
            other.handle = -1;
        }
        return *this;
    }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    // Closes the handle (harmless when none is open).
    void close() noexcept;
    bool isOpen() const { return handle != -1; }
};

// Why openPrivateFolder refused a folder.
enum class FolderResult {
    ready,             // open, a folder of this user that nobody else may write
    cannotCreate,      // a component could not be made, or the folder not opened
    notAFolder,        // something else stands at the path
    symbolicLink,      // the last component is a symbolic link
    foreignOwner,      // the last component belongs to another user
    writableByOthers,  // its group or everyone may write into it
};

// Who decided where a private folder is.
enum class FolderOrigin {
    // A default place of this program: made with mode 0700 when missing, and
    // set back to 0700 when its mode was widened.
    ownDefault,
    // Named by the user: made with mode 0700 when missing, never changed;
    // refused when its group or everyone may write into it.
    named,
};

// Opens `path` as a folder private to the user. Missing earlier components
// are made with the default mode and are not checked (a link such as
// ~/.cache is the user's own business). The last component must be a real
// folder, not a symbolic link, and belong to the user.
FolderResult openPrivateFolder(const std::string& path, FolderOrigin origin, FolderHandle& folder,
                               std::string& error);

// Opens a folder the user chose and may share with others: missing
// components are made with the default mode; links in the path are
// followed and the owner is not checked.
bool openSharedFolder(const std::string& path, FolderHandle& folder, std::string& error);

// What a name in the folder stands for, taken without following a link.
struct FolderFileFacts {
    bool regular = false;  // a regular file (not a link, folder, device or pipe)
    bool owned = false;    // this user's (Windows: always)
    uint64_t linkCount = 0;
    uint64_t size = 0;
    uint64_t diskUse = 0;  // space it takes: POSIX st_blocks x 512, Windows the
                           // size rounded up to the cluster size
    int64_t modified = 0;  // nanoseconds since a fixed epoch
};

// A regular file of this user with no other name: one this program may
// trust to hold what it wrote.
inline bool isOwnFile(const FolderFileFacts& facts) {
    return facts.regular && facts.owned && facts.linkCount == 1;
}

// False when nothing stands at `name` or it cannot be examined.
bool factsOf(const FolderHandle& folder, const std::string& name, FolderFileFacts& facts);

enum class ReadResult {
    read,
    missing,  // nothing at the name
    refused,  // a link, not a regular file, another user's, more than one
              // link, or larger than the bound: not read at all
    failed,   // could not be opened or read
};

// Reads the file `name` whole when, checked on the open file, it is a
// regular file of this user with one link and at most `maxBytes` long.
ReadResult readOwnFile(const FolderHandle& folder, const std::string& name, uint64_t maxBytes,
                       std::string& bytes, std::string& error);

// True when `name` is a regular file (not a link; with `ownOnly` also this
// user's with one link) holding exactly the `size` bytes at `data`. Read
// in pieces, so a large file costs no memory.
bool holdsExactly(const FolderHandle& folder, const std::string& name, const void* data,
                  size_t size, bool ownOnly);

// Writes `size` bytes to a fresh temporary file in the folder (named as
// writeFileAtomically names its temporary files, with `mode`'s permission)
// and returns its name and the disk space it takes. Nothing is left behind
// on failure.
bool writeTemporaryFile(const FolderHandle& folder, const std::string& targetName, const void* data,
                        size_t size, FileMode mode, std::string& temporaryName, uint64_t& diskUse,
                        std::string& error);

// Renames `from` over `to` inside the folder in one step; a link at `to` is
// replaced, never followed. On failure `from` is removed.
bool renameInFolder(const FolderHandle& folder, const std::string& from, const std::string& to,
                    std::string& error);

// writeTemporaryFile and renameInFolder: `name` replaced whole or not at all.
inline bool writeFileInFolder(const FolderHandle& folder, const std::string& name, const void* data,
                              size_t size, FileMode mode, std::string& error) {
    std::string temporary;
    uint64_t diskUse = 0;
    return writeTemporaryFile(folder, name, data, size, mode, temporary, diskUse, error) &&
           renameInFolder(folder, temporary, name, error);
}

// Best effort: removes the name (a link itself, never what it names).
void removeFromFolder(const FolderHandle& folder, const std::string& name);

// Best effort: sets the modification time of `name` (not through a link) to now.
void touchInFolder(const FolderHandle& folder, const std::string& name);

// The names in the folder, without "." and "..".
std::vector<std::string> namesInFolder(const FolderHandle& folder);

// Bytes the user may still write on the folder's file system; UINT64_MAX
// when that cannot be told.
uint64_t freeSpaceOf(const FolderHandle& folder);

// An exclusive lock over the folder, serialising every process that takes
// it, held until the lock is released. POSIX: an flock on a descriptor of its own;
// Windows: a named mutex derived from the folder's full path.
LockResult lockFolder(const FolderHandle& folder, int64_t timeoutMilliseconds, PathLock& lock,
                      std::string& error);

// True for the names writeTemporaryFile and writeFileAtomically give.
inline bool isTemporaryFileName(std::string_view name) {
    const std::string_view prefix = kTemporaryPrefix;
    const std::string_view suffix = kTemporarySuffix;
    return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
           name.ends_with(suffix);
}

// removeAbandonedTemporaryFiles for an open folder: only this user's
// temporary files (Windows: any, the ACL decides) older than the age.
void removeAbandonedTemporaryFiles(const FolderHandle& folder, int64_t minimumAgeSeconds = 600);

}  // namespace safe_files
