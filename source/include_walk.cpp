#include "source/include_walk.h"

#include <cstring>

#include "platform/allocation.h"
#include "platform/file_system.h"

namespace {

constexpr const char* kUnableToOpenFormat = "unable to open file %.*s";
// Room the "unable to open file" message needs besides the name.
constexpr size_t kMessageRoom = 80;

constexpr char kDirectiveWord[] = "include";
constexpr size_t kDirectiveWordLength = sizeof kDirectiveWord - 1;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Bytes 0x80 to 0xFF are never white space, whatever the C locale says.
bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skipBlanks(const char* cursor) {
    while (isBlank(*cursor)) {
        ++cursor;
    }
    return cursor;
}

// The chunks of one file, cut from a large buffer so that reading costs a
// few calls per buffer rather than per line.
class ChunkReader {
public:
    // `countedBytes`, when not null, gets every byte read added to it; the
    // reader stops once it exceeds kIncludedTextLimit.
    ChunkReader(FILE* stream, char* buffer, uint64_t* countedBytes)
        : stream(stream), buffer(buffer), countedBytes(countedBytes) {}

    // Fills the buffer and drops a byte order mark at the start of the
    // file. False when the file cannot be read.
    bool start() {
        // The walk reads in large chunks into its own buffer: a stdio buffer
        // would only cost an allocation, a status query and a copy per file.
        std::setvbuf(stream, nullptr, _IONBF, 0);
        if (!fill()) {
            return false;
        }
        const unsigned char* head = reinterpret_cast<const unsigned char*>(buffer);
        if (end >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
            begin = 3;
        }
        return true;
    }

    // True when the next call of `next` may move the bytes handed out so far.
    bool nextMayMove() const { return !atEnd && end - begin < kIncludeChunkSize - 1; }

    // The next chunk: the bytes up to and including the next newline, at
    // most kIncludeChunkSize - 1 of them. False at the end of the file, and
    // when the file cannot be read or crossed the bound (then `failed` is
    // set).
    bool next(const char*& chunk, size_t& chunkLength, bool& failed) {
        if (end - begin < kIncludeChunkSize - 1 && !fill()) {
            failed = true;
            return false;
        }
        size_t available = end - begin;
        if (available == 0) {
            return false;
        }
        chunk = buffer + begin;
        size_t limit = available < kIncludeChunkSize - 1 ? available : kIncludeChunkSize - 1;
        const char* newline = static_cast<const char*>(std::memchr(chunk, '\n', limit));
        chunkLength = newline != nullptr ? static_cast<size_t>(newline - chunk) + 1 : limit;
        begin += chunkLength;
        return true;
    }

    // True when the counted bytes crossed kIncludedTextLimit.
    bool overLimit() const { return crossed; }

private:
    // Moves what is left to the front and reads until the buffer is full or
    // the file ends. False on a read error and when the counted bytes cross
    // the bound.
    bool fill() {
        if (atEnd) {
            return true;
        }
        std::memmove(buffer, buffer + begin, end - begin);
        end -= begin;
        begin = 0;
        size_t wanted = kIncludeReadBufferSize - end;
        size_t got = std::fread(buffer + end, 1, wanted, stream);
        end += got;
        if (countedBytes != nullptr) {
            // Bytes read, not bytes kept: a file of NUL bytes (a sparse one,
            // say) costs its reading all the same.
            *countedBytes += got;
            if (*countedBytes > kIncludedTextLimit) {
                crossed = true;
                return false;
            }
        }
        if (got < wanted) {
            if (std::ferror(stream) != 0) {
                return false;
            }
            atEnd = true;
        }
        return true;
    }

    FILE* stream;
    char* buffer;
    uint64_t* countedBytes;
    size_t begin = 0;  // first byte not yet handed out
    size_t end = 0;    // bytes in the buffer
    bool atEnd = false;
    bool crossed = false;
};

// The rest of `chunk` behind "#", blanks, "include" and one white-space
// character, or null when the chunk is no include directive. The chunk is
// NUL-terminated.
const char* directiveRest(const char* chunk) {
    const char* cursor = skipBlanks(chunk);
    if (*cursor != '#') {
        return nullptr;
    }
    cursor = skipBlanks(cursor + 1);
    if (std::strncmp(cursor, kDirectiveWord, kDirectiveWordLength) != 0 ||
        !isWhiteSpace(cursor[kDirectiveWordLength])) {
        return nullptr;
    }
    return cursor + kDirectiveWordLength + 1;
}

// Ordinary chunks that follow each other in the read buffer, reported as one
// piece.
struct PendingText {
    const char* bytes = nullptr;
    size_t count = 0;
    int64_t line = 0;

    void add(const char* chunk, size_t length, int64_t chunkLine) {
        if (count == 0) {
            bytes = chunk;
            line = chunkLine;
        }
        count += length;
    }
    void flush(const IncludeWalkSink& sink) {
        if (count > 0) {
            sink.text(sink.context, bytes, count, line);
            count = 0;
        }
    }
};

// Reports the include at line `line` of `path` as the one that crossed a
// bound, and stops the walk.
void stopAtBound(IncludeWalk& walk, const char* path, int64_t line, const char* message) {
    walk.sink.failure(walk.sink.context, path, line, message);
    walk.stopped = true;
}

// Reports a failed include of the file `path` at nesting level `depth`. The
// error line of an included file counts against the bound on included text,
// as its path grows with every level and its directive may be short.
void reportFailure(IncludeWalk& walk, const char* path, int64_t line, int32_t depth,
                   const char* message) {
    if (depth > 0) {
        walk.includedBytes += std::strlen(path) + std::strlen(message);
        if (walk.includedBytes > kIncludedTextLimit) {
            stopAtBound(walk, path, line, kTooMuchIncludedTextMessage);
            return;
        }
    }
    walk.sink.failure(walk.sink.context, path, line, message);
}

void reportUnopened(IncludeWalk& walk, const char* path, int64_t line, int32_t depth,
                    const char* name, size_t nameLength) {
    size_t messageSize = nameLength + kMessageRoom;
    char* message = static_cast<char*>(allocateMemory(messageSize));
    if (message == nullptr) {
        reportFailure(walk, path, line, depth, kNoMemoryForMessage);
        return;
    }
    std::snprintf(message, messageSize, kUnableToOpenFormat, static_cast<int>(nameLength), name);
    reportFailure(walk, path, line, depth, message);
    releaseMemory(message);
}

// The include's name behind the including file's folder: its path up to and
// including the last '/' or '\\', whichever comes last. A heap block
// (allocateMemory), or null when it cannot be had.
char* joinIncludePath(const char* path, const char* name, size_t nameLength) {
    size_t pathLength = path != nullptr ? std::strlen(path) : 0;
    size_t folderLength = pathLength;
    while (folderLength > 0 && path[folderLength - 1] != '/' && path[folderLength - 1] != '\\') {
        --folderLength;
    }
    char* joinedPath = static_cast<char*>(allocateMemory(pathLength + nameLength + 1));
    if (joinedPath == nullptr) {
        return nullptr;
    }
    if (folderLength > 0) {
        std::memcpy(joinedPath, path, folderLength);
    }
    std::memcpy(joinedPath + folderLength, name, nameLength);
    joinedPath[folderLength + nameLength] = '\0';
    return joinedPath;
}

// Carries out one include directive of the file `path` (at nesting level
// `depth`, directive on reader line `line`); `rest` starts behind "include"
// and the white-space character after it.
void expandInclude(IncludeWalk& walk, const char* path, int64_t line, int32_t depth,
                   const char* rest) {
    if (depth >= kIncludeNestingLimit) {
        reportFailure(walk, path, line, depth, kNestedTooDeeplyMessage);
        return;
    }
    while (isWhiteSpace(*rest)) {
        ++rest;
    }
    if (*rest != '"') {
        reportFailure(walk, path, line, depth, kExpectedQuoteMessage);
        return;
    }
    const char* name = rest + 1;
    const char* closingQuote = std::strchr(name, '"');
    if (closingQuote == nullptr) {
        reportFailure(walk, path, line, depth, kMissingQuoteMessage);
        return;
    }
    size_t nameLength = static_cast<size_t>(closingQuote - name);
    char* joinedPath = joinIncludePath(path, name, nameLength);
    if (joinedPath == nullptr) {
        walk.outOfMemory = true;
        return;
    }

    // Include names come from file contents: only an ordinary file on a disk
    // is opened, so that no include can hang the run or exhaust memory.
    FILE* file = openIncludedFile(joinedPath);
    if (file != nullptr && walk.includeCount >= kIncludeCountLimit) {
        std::fclose(file);
        releaseMemory(joinedPath);
        stopAtBound(walk, path, line, kTooManyIncludesMessage);
        return;
    }
    bool included = false;
    if (file != nullptr) {
        ++walk.includeCount;
        const IncludeWalkSink& sink = walk.sink;
        sink.opened(sink.context, joinedPath, depth + 1);
        // A file that cannot be read to its end counts as one that cannot be
        // opened: nothing of it stays in the text.
        included = walkSourceStream(walk, file, joinedPath, 1, depth + 1);
        std::fclose(file);
        if (walk.outOfMemory) {
            releaseMemory(joinedPath);
            return;
        }
        // A walk stopped further in returns true: what this file gave stays.
        sink.closed(sink.context, included);
    }
    releaseMemory(joinedPath);
    if (walk.stopped) {
        return;
    }
    if (walk.overTextLimit) {
        // The file crossed the bound on included text while it was read:
        // its directive gets the error line, never a cut-off text.
        walk.overTextLimit = false;
        stopAtBound(walk, path, line, kTooMuchIncludedTextMessage);
        return;
    }
    if (!included) {
        reportUnopened(walk, path, line, depth, name, nameLength);
    }
}

// Where the walk of one file stands. `line` counts as the error lines do;
// `fileLine` is where the bytes stand in the file, also past a line cut
// short by a NUL byte.
struct StreamPlace {
    const char* path;
    int32_t depth;
    int64_t line;
    int64_t fileLine;
};

enum class ChunkOutcome : uint8_t { carryOn, stopped, outOfMemory };

// One chunk of the file (a line, or a piece of a long one): an include
// directive is carried out, other text handed on; then the lines move on.
ChunkOutcome walkChunk(IncludeWalk& walk, StreamPlace& place, PendingText& pending,
                       const char* chunk, size_t chunkLength) {
    const IncludeWalkSink& sink = walk.sink;
    // A NUL byte ends what is taken of the chunk, its newline included.
    const char* nul = static_cast<const char*>(std::memchr(chunk, '\0', chunkLength));
    size_t taken = nul != nullptr ? static_cast<size_t>(nul - chunk) : chunkLength;
    size_t blanks = 0;
    while (blanks < taken && isBlank(chunk[blanks])) {
        ++blanks;
    }
    char directive[kIncludeChunkSize];
    const char* rest = nullptr;
    if (blanks < taken && chunk[blanks] == '#') {
        std::memcpy(directive, chunk, taken);
        directive[taken] = '\0';
        rest = directiveRest(directive);
    }
    if (rest != nullptr) {
        pending.flush(sink);
        expandInclude(walk, place.path, place.line, place.depth, rest);
        if (walk.outOfMemory) {
            return ChunkOutcome::outOfMemory;
        }
        if (walk.stopped) {
            return ChunkOutcome::stopped;
        }
    } else if (taken == chunkLength) {
        pending.add(chunk, taken, place.fileLine);
    } else {
        // The pending bytes must end here: they are handed out as one run,
        // and the bytes from the NUL on are not taken.
        pending.flush(sink);
        if (taken > 0) {
            sink.text(sink.context, chunk, taken, place.fileLine);
        }
    }
    if (taken > 0 && chunk[taken - 1] == '\n') {
        ++place.line;
    }
    if (chunk[chunkLength - 1] == '\n') {
        ++place.fileLine;
    }
    return ChunkOutcome::carryOn;
}

}  // namespace

bool walkSourceStream(IncludeWalk& walk, FILE* stream, const char* path, int64_t line,
                      int32_t depth) {
    // Every nesting level reads through a buffer of its own.
    if (depth < 0 || depth > kIncludeNestingLimit) {
        return false;
    }
    // Bytes read from included files count against the bound; the top-level
    // file is read whole.
    ChunkReader reader(stream,
                       walk.readBuffers + static_cast<size_t>(depth) * kIncludeReadBufferSize,
                       depth > 0 ? &walk.includedBytes : nullptr);
    if (!reader.start()) {
        walk.overTextLimit = reader.overLimit();
        return false;
    }
    const IncludeWalkSink& sink = walk.sink;
    StreamPlace place{path, depth, line, line};
    PendingText pending;
    const char* chunk = nullptr;
    size_t chunkLength = 0;
    bool failed = false;
    for (;;) {
        if (walk.outOfMemory) {
            return false;
        }
        if (reader.nextMayMove()) {
            pending.flush(sink);
        }
        if (!reader.next(chunk, chunkLength, failed)) {
            break;
        }
        switch (walkChunk(walk, place, pending, chunk, chunkLength)) {
            case ChunkOutcome::carryOn:
                break;
            case ChunkOutcome::stopped:
                return true;
            case ChunkOutcome::outOfMemory:
                return false;
        }
    }
    if (failed) {
        // What this file gave is dropped by the level that included it.
        walk.overTextLimit = reader.overLimit();
        return false;
    }
    pending.flush(sink);
    sink.text(sink.context, "\n", 1, place.fileLine);
    return true;
}
