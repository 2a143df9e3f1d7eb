#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_system.h"
#include "platform/link_seams.h"

namespace {

// Appends the segments of `path` to `result` (`length` characters, an
// absolute path without a trailing '/'), dropping "." and empty segments and
// letting ".." remove the last segment. ".." at the root stays at the root.
// `result` has room for the whole of `path` and a separator more.
void appendFoldedSegments(char* result, size_t& length, const char* path) {
    const char* cursor = path;
    while (*cursor != '\0') {
        while (*cursor == '/') {
            ++cursor;
        }
        const char* end = cursor;
        while (*end != '\0' && *end != '/') {
            ++end;
        }
        size_t segmentLength = static_cast<size_t>(end - cursor);
        if (segmentLength == 0 || (segmentLength == 1 && cursor[0] == '.')) {
            // nothing to add
        } else if (segmentLength == 2 && cursor[0] == '.' && cursor[1] == '.') {
            while (length > 0 && result[length - 1] != '/') {
                --length;
            }
            if (length > 0) {
                --length;
            }
        } else {
            result[length++] = '/';
            std::memcpy(result + length, cursor, segmentLength);
            length += segmentLength;
        }
        cursor = end;
    }
}

#ifdef __linux__
// File systems whose files describe the running system rather than hold
// stored bytes: sizes of 0 or 4096 whatever they hold (/proc/self/pagemap
// gives 256 GiB), reads that block, never end or have effects.
bool isPseudoFileSystem(int descriptor) {
    // Kernel file system magic numbers the system header lacks.
    constexpr unsigned long kConfigFsMagic = 0x62656570;
    constexpr unsigned long kFuseControlMagic = 0x65735543;
    constexpr unsigned long kMessageQueueMagic = 0x19800202;
    static constexpr unsigned long kPseudoFileSystems[] = {
        PROC_SUPER_MAGIC,
        SYSFS_MAGIC,
        DEBUGFS_MAGIC,
        TRACEFS_MAGIC,
        CGROUP_SUPER_MAGIC,
        CGROUP2_SUPER_MAGIC,
        SECURITYFS_MAGIC,
        DEVPTS_SUPER_MAGIC,
        SELINUX_MAGIC,
        SMACK_MAGIC,
        AAFS_MAGIC,
        PSTOREFS_MAGIC,
        EFIVARFS_MAGIC,
        BINFMTFS_MAGIC,
        BPF_FS_MAGIC,
        NSFS_MAGIC,
        RDTGROUP_SUPER_MAGIC,
        OPENPROM_SUPER_MAGIC,
        USBDEVICE_SUPER_MAGIC,
        kConfigFsMagic,
        kFuseControlMagic,
        kMessageQueueMagic,
    };
    struct statfs system;
    if (fstatfs(descriptor, &system) != 0) {
        return true;
    }
    // f_type is signed on some architectures: compare its 32 bits.
    unsigned long type = static_cast<unsigned long>(system.f_type) & 0xFFFFFFFFul;
    for (unsigned long pseudo : kPseudoFileSystems) {
        if (type == pseudo) {
            return true;
        }
    }
    return false;
}
#else
bool isPseudoFileSystem(int) {
    return false;
}
#endif

}  // namespace

bool convertToFullPath(char* buffer, const char* path) {
    char current[4096];
    current[0] = '\0';
    if (path[0] != '/' && getcwd(current, sizeof current) == nullptr) {
        return false;
    }
    // Folding only shortens what it is given, so the two texts and their
    // separators bound the work space. Plain C memory keeps the driver free
    // of the C++ library.
    char* result = static_cast<char*>(std::malloc(std::strlen(current) + std::strlen(path) + 3));
    if (result == nullptr) {
        return false;
    }
    size_t length = 0;
    appendFoldedSegments(result, length, current);
    appendFoldedSegments(result, length, path);
    if (length == 0) {
        result[length++] = '/';
    }
    bool fits = length + 1 <= kFullPathBufferSize;
    if (fits) {
        std::memcpy(buffer, result, length);
        buffer[length] = '\0';
    }
    std::free(result);
    return fits;
}

bool isRegularFile(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

FILE* openIncludedFile(const char* path) {
    // Asking the name first means a device is never opened: opening one may
    // have effects of its own (a tape rewinds, a terminal is taken).
    if (!isRegularFile(path)) {
        return nullptr;
    }
    // Not blocking, in case a pipe was put in the file's place since.
    int descriptor = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat status;
    FILE* file = nullptr;
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
        !isPseudoFileSystem(descriptor)) {
        file = fdopen(descriptor, "rb");
    }
    if (file == nullptr) {
        close(descriptor);
    }
    return file;
}

FILE* openNamedFile(const char* path) {
    // POSIX opens a folder for reading; asking the open file afterwards
    // spares a look-up of the name before it.
    FILE* file = std::fopen(path, "rb");
    struct stat status;
    if (file != nullptr && fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

void reportFileSizeLimitAsWriteError() {
    // Ignored, SIGXFSZ leaves the write to fail with EFBIG.
    std::signal(SIGXFSZ, SIG_IGN);
}

int64_t modificationTimeOf(const char* path) {
    struct stat status;
    if (stat(path, &status) != 0) {
        return -1;
    }
    return static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
}

bool touchFile(const char* path) {
    return utimensat(AT_FDCWD, path, nullptr, 0) == 0;
}

int64_t measureFileSize(FILE* stream) {
    struct stat status;
    if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size);
}
