// One pass over the expansion of a shader source file by the include rules:
// a leading UTF-8 byte order mark dropped, `#include "name"` lines replaced
// by the named file (recursively, relative to the including file's folder),
// every include that cannot be carried out reported as a failure at its
// directive. The walk builds no text itself: it tells a sink, in text order,
// each piece of text and the file line it starts on. The driver's loader
// builds its text on it; the compiler library rebuilds the same expansion to
// learn where each line came from. The walk never ends the process: every
// failure is a value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// An include is refused while the including file is at this nesting level
// or deeper (0 is the top-level file).
constexpr int32_t kIncludeNestingLimit = 24;

// Bytes read from a file at a time. Every nesting level has a buffer of its
// own, so a walk needs (kIncludeNestingLimit + 1) of them.
constexpr size_t kIncludeReadBufferSize = 64 * 1024;
constexpr size_t kIncludeReadBuffersSize = (kIncludeNestingLimit + 1) * kIncludeReadBufferSize;

// Lines are read in chunks of at most this many bytes less one: a longer
// line is several chunks, and each is looked at for a directive.
constexpr size_t kIncludeChunkSize = 512;

// Messages of the include failures, as the `#error` lines carry them.
constexpr const char* kNestedTooDeeplyMessage = "#includes nested too deeply";
constexpr const char* kExpectedQuoteMessage = "expected quote after #include";
constexpr const char* kMissingQuoteMessage = "missing quote at end of #include";
constexpr const char* kNoMemoryForMessage = "Out of memory";

// Where the walk reports, in the order of the expanded text. Cleared before
// use; every entry is set.
struct IncludeWalkSink {
    void* context;
    // `count` bytes of the file being read, beginning on its 1-based line
    // `line`. Consecutive lines of one file may come as one piece.
    void (*text)(void* context, const char* bytes, size_t count, int64_t line);
    // An include at line `line` of `path` could not be carried out; the text
    // gets one error line there. `line` counts lines as the reader does: a
    // line cut short by a NUL byte does not count.
    void (*failure)(void* context, const char* path, int64_t line, const char* message);
    // The include `path` (the including file's folder joined with the name)
    // opened and is read next at nesting level `depth`.
    void (*opened)(void* context, const char* path, int32_t depth);
    // The file opened last is done. `complete` is false when it could not be
    // read to its end: whatever it gave since `opened` is to be dropped, and a
    // failure for its directive follows.
    void (*closed)(void* context, bool complete);
};

struct IncludeWalk {
    IncludeWalkSink sink;
    // kIncludeReadBuffersSize bytes of the caller's.
    char* readBuffers;
    // Set when a joined path could not be allocated; the walk then stops and
    // every level returns false.
    bool outOfMemory;
};

// Reports the expansion of `stream`, opened as `path` at nesting level
// `depth`, whose next line is `line`, and its closing "\n". False when the
// stream could not be read to its end (what was reported stays reported),
// when `depth` is outside 0..kIncludeNestingLimit, or when memory ran out.
bool walkSourceStream(IncludeWalk& walk, FILE* stream, const char* path, int64_t line,
                      int32_t depth);
