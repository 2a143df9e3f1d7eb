// Loading one shader source file into the text a stage hands to the compiler:
// a leading UTF-8 byte order mark dropped, `#include "name"` lines replaced
// by the named file's text (recursively, relative to the including file), and
// every include that cannot be carried out turned into one `#error` line.
#pragma once

#include <cstdint>
#include <cstdio>

#include "source/include_walk.h"

// Included files being read at the moment; 0 between loads. An include is
// refused while it is kIncludeNestingLimit or more.
extern int32_t includeDepth;

// Called with the name of every file the loader opens, in the order opened:
// the file named to loadShaderSource (as given) and each include that opened
// (its folder-joined name). `context` is passed through. Used to list what a
// program was made from; costs nothing while no listener is set.
using SourceFileListener = void (*)(void* context, const char* path);
void setSourceFileListener(SourceFileListener listener, void* context);

// Loads the file at `path` (used as given, also in error lines) and appends
// its expansion to `*text`; `*text` is null for a stage without text yet.
// The text is a heap block from allocateMemory that the caller releases with
// releaseMemory. False when the file cannot be opened or read, or the first
// buffer cannot be had; `*text` is then as it was. Include failures become
// `#error` lines and still give true. Ends the process with exit code 2 when
// the text cannot grow.
bool loadShaderSource(const char* path, char** text);

// Appends `string` to `text` (null: a new text), growing it to the needed
// length + 512 characters when it is too small. Returns the text, which may
// have moved. Ends the process with exit code 2 when it cannot grow.
char* appendSourceText(char* text, const char* string, uint64_t& capacity, uint64_t& length);

// One open source file being read, through the include walk.
struct SourceReader {
    FILE* stream;      // opened byte for byte
    const char* path;  // the name the file was opened under
    int64_t line;      // 1-based number of the line being read
    // Set by readSource when the file could not be read to its end; what was
    // appended of it before the failure is then still in the text.
    bool readFailed = false;

    // Appends the whole file's expansion and a closing "\n", reading at
    // nesting level includeDepth. Ends the process with exit code 2 when
    // memory runs out.
    char* readSource(char* text, uint64_t& capacity, uint64_t& length);
    // Appends `#error "<path>: <line>: <message>"` and a line feed.
    char* appendErrorLine(const char* message, char* text, uint64_t& capacity, uint64_t& length);
};
