// Reading the stream-out varyings file: one varying name per line.
#pragma once

#include <cstdint>

// Reads the file at `path`, which may also be a pipe or a device. Each line,
// without its one line end (LF or CR LF, the same on every platform), becomes
// one name, whatever its length; blank lines give empty names and blanks are
// kept. On Windows a Ctrl-Z byte ends the list, as in a text file there. Returns an array of
// separately allocated strings (allocateMemory) and stores their number in `count`, or returns
// null: when the file cannot be opened `count` is untouched, on every other failure it is 0 and
// everything made so far has been released.
char** readStreamOutList(const char* path, uint32_t& count);

// Releases entries 0 to count - 1 in order, then the array. Null is ignored.
void freeStringArray(char** names, uint32_t count);
