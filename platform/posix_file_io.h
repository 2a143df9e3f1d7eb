// Small POSIX helpers shared by the file helpers of this folder
// (safe_files_posix.cpp, folder_handle_posix.cpp); nothing outside platform/
// includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/safe_files.h"

namespace safe_files::posix {

// `what`, a colon and the text of the current errno.
std::string systemError(const std::string& what);

// A part of a temporary file name that no other writer, in this process or
// another, draws at the same moment: the process id and a mixed sequence.
std::string uniqueNamePart();

// Writes all `size` bytes, going on after short writes and interruptions.
bool writeAll(int fd, const void* data, size_t size);

// How reading a file to its end went.
enum class ReadToEnd { complete, tooLong, failed };

// Appends what `fd` holds from its position on to `bytes`, stopping with
// `tooLong` before `bytes` would exceed `maxBytes`; `failed` (with a reason
// in `error`) on a read error.
ReadToEnd readToEnd(int fd, uint64_t maxBytes, std::string& bytes, std::string& error);

// Milliseconds of a clock that never goes back.
int64_t monotonicMilliseconds();

// Takes an exclusive flock on `fd`, polling until `deadline` (a
// monotonicMilliseconds value). A file system without locks answers
// `unsupported`.
LockResult waitForExclusiveLock(int fd, int64_t deadline, std::string& error);

}  // namespace safe_files::posix
