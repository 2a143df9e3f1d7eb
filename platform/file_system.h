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

// True when `path` names an ordinary file (not a folder, pipe or device).
bool isRegularFile(const char* path);

// Opens a file whose name comes from file contents (an include), which may
// have been downloaded and must never hang a run, for reading in binary
// mode. Only an ordinary file on a disk opens. Null for folders, pipes and
// devices (/dev/zero, /dev/tty; CON, NUL, also with an extension such as
// nul.glsl or com1.h, on Windows), and for files of the process and system
// pseudo file systems (/proc, /sys, debugfs, tracefs, cgroup, securityfs,
// devpts, ...), whose size says nothing of what they hold and whose reads
// may block, never end or change with every read.
FILE* openIncludedFile(const char* path);

// Opens a file the user named on the command line (a source, the stream-out
// list) for reading in binary mode. Only a folder is refused: a pipe (process
// substitution), /dev/stdin or another device (NUL and CON on Windows) is
// opened and read as a stream whose size is unknown. Null when the file
// cannot be opened or is a folder.
FILE* openNamedFile(const char* path);

// Whether a Ctrl-Z byte ends a text file on this platform, as the Windows C
// runtime's text mode has it. Files read in binary mode that keep this rule
// apply it themselves.
#ifdef _WIN32
constexpr bool kTextEndsAtControlZ = true;
#else
constexpr bool kTextEndsAtControlZ = false;
#endif

// Whether a name may start with a drive ("C:/", "D:\\"), whose colon is part
// of the name rather than a separator.
#ifdef _WIN32
constexpr bool kPathsHaveDrives = true;
#else
constexpr bool kPathsHaveDrives = false;
#endif

// The bytes a text-mode stream writes for a line end on this platform.
#ifdef _WIN32
constexpr const char* kTextLineEnd = "\r\n";
#else
constexpr const char* kTextLineEnd = "\n";
#endif

// Makes a write past the process's file size limit fail with an error, as
// any other write failure does, instead of ending the process by a signal.
// Called once at the start of the process.
void reportFileSizeLimitAsWriteError();

// Last modification time of the file at `path`, in nanoseconds since a fixed
// epoch, at the file system's full resolution (the C++ library's clock keeps
// only whole seconds on some platforms); -1 when it cannot be had.
int64_t modificationTimeOf(const char* path);

// Sets the last modification time of the file at `path` to now. False when
// it cannot be set.
bool touchFile(const char* path);

// Size in bytes of the file open in `stream`, or -1 when it cannot be taken.
// The stream's position is left alone.
int64_t fileSizeOf(FILE* stream);
