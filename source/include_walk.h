// One pass over the expansion of a shader source file by the include rules:
// a leading UTF-8 byte order mark dropped, `#include "name"` lines replaced
// by the named file (recursively, relative to the including file's folder),
// every include that cannot be carried out reported as a failure at its
// directive. The walk builds no text itself: it tells a sink, in text order,
// each piece of text and the file line it starts on. The driver's loader
// builds its text on it; the compiler library rebuilds the same expansion to
// learn where each line came from. The walk never ends the process: every
// failure is a value.
//
// What includes add to one top-level file is bounded, so that a small tree of
// files that include each other many times cannot run for minutes or exhaust
// memory: at most kIncludedTextLimit bytes read from included files (error
// lines in them count too) and kIncludeCountLimit includes carried out. The
// include that crosses a bound becomes one error line and the walk stops
// there: nothing more of any file follows. The top-level file itself is not
// bounded. Both users of the walk therefore stop at the same place.
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

// Bounds on what the includes of one top-level file add. Generous for any
// real program (a large one includes a few MiB in a few hundred includes),
// small enough that a walk reaching them ends within about a second. The
// messages below name both numbers.
constexpr uint64_t kIncludedTextLimit = 64u << 20;
constexpr uint32_t kIncludeCountLimit = 65536;

// Messages of the include failures, as the `#error` lines carry them.
constexpr const char* kNestedTooDeeplyMessage = "#includes nested too deeply";
constexpr const char* kExpectedQuoteMessage = "expected quote after #include";
constexpr const char* kMissingQuoteMessage = "missing quote at end of #include";
constexpr const char* kNoMemoryForMessage = "Out of memory";
constexpr const char* kTooMuchIncludedTextMessage = "#included text exceeds 64 MiB";
constexpr const char* kTooManyIncludesMessage = "more than 65536 #includes";

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
    // read to its end or crossed a bound: whatever it gave since `opened` is
    // to be dropped, and a failure for its directive follows. When the walk
    // stops at a bound, the files still open close as complete: what they
    // gave stays, and nothing follows.
    void (*closed)(void* context, bool complete);
};

// One walk over a top-level file and its includes: the caller sets the sink,
// the buffers and outOfMemory (false); the rest starts at zero.
struct IncludeWalk {
    IncludeWalkSink sink;
    // kIncludeReadBuffersSize bytes of the caller's.
    char* readBuffers;
    // Set when a joined path could not be allocated, or by the sink when what
    // it was given could not be kept; the walk then stops and every level
    // returns false.
    bool outOfMemory;
    // What the includes added so far, against the bounds.
    uint64_t includedBytes = 0;
    uint32_t includeCount = 0;
    // Set while the file being read has crossed kIncludedTextLimit; the level
    // that included it reports the failure.
    bool overTextLimit = false;
    // Set once an include crossed a bound and its error line was reported;
    // every level then returns true at once.
    bool stopped = false;
};

// Reports the expansion of `stream`, opened as `path` at nesting level
// `depth`, whose next line is `line`, and its closing "\n". False when the
// stream could not be read to its end (what was reported stays reported),
// when `depth` is outside 0..kIncludeNestingLimit, or when memory ran out.
// True, without the closing "\n", when the walk stopped at a bound.
bool walkSourceStream(IncludeWalk& walk, FILE* stream, const char* path, int64_t line,
                      int32_t depth);
