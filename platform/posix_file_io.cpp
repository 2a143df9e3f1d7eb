#include "platform/posix_file_io.h"

#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace safe_files::posix {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string uniqueNamePart() {
    static const uint64_t seed = [] {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20) ^
               (static_cast<uint64_t>(getpid()) << 40);
    }();
    static std::atomic<uint64_t> sequence{0};
    uint64_t mixed = seed + 0x9E3779B97F4A7C15ull * (sequence.fetch_add(1) + 1);
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    mixed ^= mixed >> 31;
    char text[48];
    std::snprintf(text, sizeof text, "%ld-%016llx", static_cast<long>(getpid()),
                  static_cast<unsigned long long>(mixed));
    return text;
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* cursor = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, cursor, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        cursor += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

ReadToEnd readToEnd(int fd, uint64_t maxBytes, std::string& bytes, std::string& error) {
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = systemError("cannot read the file");
            return ReadToEnd::failed;
        }
        if (got == 0) {
            return ReadToEnd::complete;
        }
        if (bytes.size() + static_cast<uint64_t>(got) > maxBytes) {
            return ReadToEnd::tooLong;
        }
        bytes.append(chunk, static_cast<size_t>(got));
    }
}

int64_t monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

LockResult waitForExclusiveLock(int fd, int64_t deadline, std::string& error) {
    int64_t pause = 1;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        if (code != EWOULDBLOCK && code != EINTR) {
            error = systemError("cannot lock the file");
            return code == ENOLCK || code == EOPNOTSUPP || code == EINVAL || code == EBADF
                       ? LockResult::unsupported
                       : LockResult::failed;
        }
        const int64_t remaining = deadline - monotonicMilliseconds();
        if (remaining <= 0) {
            return LockResult::timedOut;
        }
        pause = pause < remaining ? pause : remaining;
        const timespec delay{static_cast<time_t>(pause / 1000),
                             static_cast<long>(pause % 1000) * 1000000};
        nanosleep(&delay, nullptr);
        pause = pause < 32 ? pause * 2 : 32;
    }
    return LockResult::acquired;
}

}  // namespace safe_files::posix
