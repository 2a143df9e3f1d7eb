#include "toolchain/tmb/tmb_entry_points.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <type_traits>

#include "libraries/writer_library.h"
#include "platform/safe_files.h"
#include "toolchain/tmb/shader_writer.h"

// The exports must keep the argument lists the driver calls them with.
static_assert(std::is_same_v<decltype(&TMBWriteFileShader2), TMBWriteFileShader2Fn>);
static_assert(std::is_same_v<decltype(&TMBWriteFileShader), TMBWriteFileShaderFn>);
static_assert(std::is_same_v<decltype(&TMBAppendWriteFileShader2), TMBWriteFileShader2Fn>);
static_assert(std::is_same_v<decltype(&TMBAppendWriteFileShader), TMBWriteFileShaderFn>);
static_assert(std::is_same_v<decltype(&TMBWriteFileShaderAsCode2), TMBWriteFileShaderAsCode2Fn>);
static_assert(std::is_same_v<decltype(&TMBWriteFileShaderAsCode), TMBWriteFileShaderAsCodeFn>);

namespace {

enum class Mode { write, append, header };

// Reports why a call failed; the driver itself prints nothing for a writer
// failure, so this is the only explanation the user gets.
int32_t report(const std::string& error) {
    std::fprintf(stderr, "tmb: %s\n", error.c_str());
    return 0;
}

// How long a writer waits for another writer of the same file. Tests
// shorten it through TMB_LOCK_TIMEOUT_MS, which is read only when set.
constexpr int64_t kLockTimeoutMilliseconds = 60000;

int64_t lockTimeoutMilliseconds() {
    const char* text = std::getenv("TMB_LOCK_TIMEOUT_MS");
    if (text == nullptr || text[0] == '\0') {
        return kLockTimeoutMilliseconds;
    }
    return std::strtoll(text, nullptr, 10);
}

// Takes the lock every writer of `path` holds for its whole read, check,
// write and rename. False (with a reason) when another writer kept it for
// the whole time-out or it cannot be set up; where the file system cannot
// lock, warns once and lets the write go on unlocked.
bool lockOutput(const char* path, safe_files::PathLock& lock, std::string& error) {
    const int64_t timeout = lockTimeoutMilliseconds();
    switch (safe_files::lockPath(path, timeout, lock, error)) {
        case safe_files::LockResult::acquired:
            return true;
        case safe_files::LockResult::timedOut:
            error = "another writer held the file for " + std::to_string(timeout / 1000) + "." +
                    std::to_string(timeout % 1000 / 100) + " s; the file was not changed";
            return false;
        case safe_files::LockResult::unsupported: {
            static bool warned = false;
            if (!warned) {
                warned = true;
                std::fprintf(stderr, "tmb: warning: %s: %s; writing without a lock\n", path,
                             error.c_str());
            }
            return true;
        }
        case safe_files::LockResult::failed:
            break;
    }
    error = "cannot lock the file: " + error;
    return false;
}

// Temporary files that writers killed before their rename left beside the
// output; removed once clearly abandoned.
void removeAbandonedFilesBeside(const char* path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    safe_files::removeAbandonedTemporaryFiles(folder.empty() ? "." : folder.string());
}

// One entry point's work: checks the records, then writes the file, appends
// to it or writes the header as `mode` says, under the output's lock.
template <typename Record>
int32_t writeInMode(Mode mode, const char* outputPath, uint32_t gpuVersion, uint32_t endianSwapMode,
                    uint32_t alignPadding, uint32_t recordCount, const Record* shaders) {
    // Nothing may escape across the C boundary: an exception (out of memory,
    // in practice) is a failure like any other.
    try {
        if (outputPath == nullptr || outputPath[0] == '\0') {
            return report("no output path");
        }
        if (alignPadding > 1) {
            return report("alignment padding " + std::to_string(alignPadding) + " is not 0 or 1");
        }
        tmb::ShaderFile file;
        uint32_t recordGpuVersion = 0;
        std::string error;
        if (!tmb::programsFromRecords(shaders, recordCount, file.programs, recordGpuVersion,
                                      error)) {
            return report(error);
        }
        file.endianSwapMode = endianSwapMode;
        file.aligned = alignPadding != 0;
        if (mode == Mode::header) {
            // Header output is given no GPU version: the stage records know
            // what they were compiled for.
            file.gpuVersion = recordGpuVersion == 1 ? 1 : 2;
        } else {
            file.gpuVersion = gpuVersion;
        }
        // Bad values or records fail before any existing file is read.
        if (!tmb::validateShaderFile(file, error)) {
            return report(error);
        }
        safe_files::PathLock lock;
        if (!lockOutput(outputPath, lock, error)) {
            return report(std::string(outputPath) + ": " + error);
        }
        bool ok = false;
        switch (mode) {
            case Mode::write:
                ok = tmb::writeShaderFile(outputPath, file, error);
                break;
            case Mode::append:
                ok = tmb::appendShaderFile(outputPath, file, error);
                break;
            case Mode::header:
                ok = tmb::writeShaderHeader(outputPath, file, error);
                break;
        }
        lock.release();
        if (!ok) {
            return report(std::string(outputPath) + ": " + error);
        }
        removeAbandonedFilesBeside(outputPath);
        return 1;
    } catch (const std::exception& e) {
        return report(std::string("internal failure: ") + e.what());
    } catch (...) {
        return report("internal failure");
    }
}

}  // namespace

extern "C" {

int32_t TMBWriteFileShader2(const char* outputPath, uint32_t gpuVersion, uint32_t endianSwapMode,
                            uint32_t alignPadding, uint32_t recordCount,
                            const WriterOptions* shaders) {
    return writeInMode(Mode::write, outputPath, gpuVersion, endianSwapMode, alignPadding,
                       recordCount, shaders);
}

int32_t TMBWriteFileShader(const char* outputPath, uint32_t gpuVersion, uint32_t endianSwapMode,
                           uint32_t alignPadding, uint32_t recordCount,
                           const WriterShaders* shaders) {
    return writeInMode(Mode::write, outputPath, gpuVersion, endianSwapMode, alignPadding,
                       recordCount, shaders);
}

int32_t TMBAppendWriteFileShader2(const char* outputPath, uint32_t gpuVersion,
                                  uint32_t endianSwapMode, uint32_t alignPadding,
                                  uint32_t recordCount, const WriterOptions* shaders) {
    return writeInMode(Mode::append, outputPath, gpuVersion, endianSwapMode, alignPadding,
                       recordCount, shaders);
}

int32_t TMBAppendWriteFileShader(const char* outputPath, uint32_t gpuVersion,
                                 uint32_t endianSwapMode, uint32_t alignPadding,
                                 uint32_t recordCount, const WriterShaders* shaders) {
    return writeInMode(Mode::append, outputPath, gpuVersion, endianSwapMode, alignPadding,
                       recordCount, shaders);
}

int32_t TMBWriteFileShaderAsCode2(const char* outputPath, uint32_t endianSwapMode,
                                  const WriterOptions* shaders) {
    return writeInMode(Mode::header, outputPath, 0, endianSwapMode, 1, 1, shaders);
}

int32_t TMBWriteFileShaderAsCode(const char* outputPath, uint32_t endianSwapMode,
                                 const WriterShaders* shaders) {
    return writeInMode(Mode::header, outputPath, 0, endianSwapMode, 1, 1, shaders);
}

}  // extern "C"
