#include "toolchain/tmb/file_replace.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "toolchain/tmb/vrx_format.h"

namespace fs = std::filesystem;

namespace tmb {

namespace {

// Creates `name` for writing in binary mode, failing when it already exists.
std::FILE* openExclusive(const std::string& name) {
#ifdef _WIN32
    const int fd =
        _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && file == nullptr) {
        _close(fd);
        std::remove(name.c_str());
    }
#else
    const int fd = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
    std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && file == nullptr) {
        close(fd);
        std::remove(name.c_str());
    }
#endif
    return file;
}

// Pushes the file's data to the disk before it replaces the target, so a
// crash right after the rename cannot leave an empty file behind.
bool syncToDisk(std::FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

// Renames `from` over `to`, replacing an existing file in one step.
bool renameReplacing(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// A name that no other writer, in this process or another, picks at the
// same moment.
std::string temporaryName(const fs::path& target) {
    static std::atomic<uint32_t> counter{0};
    static thread_local std::mt19937_64 random{
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    const std::string suffix =
        toHex(random(), 16).substr(2) + "-" + std::to_string(counter.fetch_add(1));
    const std::string base = target.filename().string().substr(0, 64);
    return (target.parent_path() / (kTemporaryPrefix + base + "-" + suffix + kTemporarySuffix))
        .string();
}

// Creates `name` exclusively and writes all of `bytes` to it.
// `nameTaken` tells a name already in use apart from other failures.
bool writeNewFile(const std::string& name, std::span<const uint8_t> bytes, bool& created,
                  bool& nameTaken, std::string& error) {
    created = false;
    nameTaken = false;
    std::FILE* file = openExclusive(name);
    if (file == nullptr) {
        nameTaken = errno == EEXIST;
        error = systemError("cannot create a temporary file in the target's folder");
        return false;
    }
    created = true;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = ok && std::fflush(file) == 0 && syncToDisk(file);
    if (!ok) {
        error = systemError("cannot write the temporary file");
    }
    if (std::fclose(file) != 0 && ok) {
        error = systemError("cannot close the temporary file");
        ok = false;
    }
    return ok;
}

}  // namespace

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    bytes.clear();
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
        error = "the file does not exist";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = "not a regular file";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = systemError("cannot open the file");
        return false;
    }
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    if (!ok) {
        error = systemError("cannot read the file");
    }
    std::fclose(file);
    return ok;
}

bool replaceFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                           std::string& error) {
    const fs::path target(path);
    if (path.empty() || !target.has_filename()) {
        error = "the output path names no file";
        return false;
    }
    std::error_code ec;
    if (fs::is_directory(target, ec)) {
        error = "the output path is a folder";
        return false;
    }
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string temporary = temporaryName(target);
        bool created = false;
        bool nameTaken = false;
        if (!writeNewFile(temporary, bytes, created, nameTaken, error)) {
            if (created) {
                std::remove(temporary.c_str());
            }
            if (nameTaken) {
                continue;  // another writer holds that name: draw another
            }
            return false;
        }
        if (!renameReplacing(temporary, path)) {
            error = systemError("cannot replace the target");
            std::remove(temporary.c_str());
            return false;
        }
        return true;
    }
    return false;
}

}  // namespace tmb
