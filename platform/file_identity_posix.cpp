#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_identity.h"
#include "platform/file_system.h"

namespace {

// The name a write to `path` creates: a dangling symbolic link at the end
// leads to the name it holds.
bool followLastLinks(std::string& path) {
    constexpr int kMaximumHops = 40;
    for (int hop = 0; hop < kMaximumHops; ++hop) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return true;
        }
        char buffer[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) {
            return false;
        }
        const std::string destination(buffer, static_cast<size_t>(length));
        const size_t slash = path.find_last_of('/');
        path = destination[0] == '/' || slash == std::string::npos
                   ? destination
                   : path.substr(0, slash + 1) + destination;
    }
    return false;
}

// The full path of a file that does not exist: its folder with every link
// resolved, and its own name. A missing folder is taken as spelled.
bool resolveMissingFile(const char* path, std::string& resolved) {
    std::string name = path;
    if (!followLastLinks(name)) {
        return false;
    }
    const size_t slash = name.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : name.substr(0, slash));
    const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
    if (char* real = realpath(folder.c_str(), nullptr)) {
        resolved = std::string(real) + (real[1] == '\0' ? "" : "/") + leaf;
        std::free(real);
        return true;
    }
    char full[kFullPathBufferSize];
    if (!convertToFullPath(full, name.c_str())) {
        return false;
    }
    resolved = full;
    return true;
}

}  // namespace

bool identifyFile(const char* path, FileIdentity& identity) {
    identity = FileIdentity{};
    struct stat status {};
    if (stat(path, &status) == 0) {
        identity.exists = true;
        identity.device = static_cast<uint64_t>(status.st_dev);
        identity.fileNumber = static_cast<uint64_t>(status.st_ino);
        return true;
    }
    return (errno == ENOENT || errno == ENOTDIR) && resolveMissingFile(path, identity.resolvedPath);
}

bool isSameFile(const FileIdentity& first, const FileIdentity& second) {
    if (first.exists != second.exists) {
        return false;
    }
    return first.exists ? first.device == second.device && first.fileNumber == second.fileNumber
                        : first.resolvedPath == second.resolvedPath;
}
