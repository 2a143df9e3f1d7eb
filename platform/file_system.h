// File-system queries the driver needs beyond the C runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr size_t kFullPathBufferSize = 512;

// Writes the absolute form of `path`, resolved against the current directory
// with "." and ".." segments folded, into `buffer` (kFullPathBufferSize
// bytes). False when the result needs more than 511 characters plus the
// terminator, or the current directory cannot be had; the buffer is then
// unspecified.
bool convertToFullPath(char* buffer, const char* path);

// True when `path` names something that can be read as an ordinary file.
// Folders, pipes and devices are refused, so that reading them can neither
// block nor pass off a failure as an empty text. Used for names that come
// from file contents (includes), which must never hang a run.
bool isRegularFile(const char* path);

// True when `path` names a folder. Names the user gives on the command line
// are refused only for this: a pipe, /dev/stdin or another device (NUL and
// CON on Windows) is opened and read as a stream.
bool isDirectory(const char* path);

// Size in bytes of the file open in `stream`, or -1 when it cannot be taken.
// The stream's position is left alone.
int64_t fileSizeOf(FILE* stream);

// Test hook: while `fail` is true, fileSizeOf answers -1 as for a file whose
// size cannot be taken.
void injectFileSizeFailure(bool fail);
