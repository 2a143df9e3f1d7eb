#include "source/shader_source.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/allocation.h"
#include "platform/exit_codes.h"
#include "platform/file_system.h"
#include "platform/process_exit.h"

int32_t includeDepth = 0;

namespace {

constexpr const char* kOutOfMemoryMessage = "Ran out of memory while reading data!\n";
constexpr const char* kNestedTooDeeplyMessage = "#includes nested too deeply";
constexpr const char* kExpectedQuoteMessage = "expected quote after #include";
constexpr const char* kMissingQuoteMessage = "missing quote at end of #include";
constexpr const char* kUnableToOpenFormat = "unable to open file %.*s";
constexpr const char* kNoMemoryForMessage = "Out of memory";
constexpr const char* kUnknownPath = "(unknown)";

// A chunk is at most this many bytes less one: the rest of a line, up to and
// including its newline.
constexpr size_t kChunkSize = 512;
// Bytes read from a file at a time. Every nesting level has a buffer of its
// own, so at most kIncludeNestingLimit + 1 of them are in use.
constexpr size_t kReadBufferSize = 64 * 1024;
// Characters added to what an append needs whenever the text must grow. The
// text also at least doubles, so that a large include tree is not copied over
// and over by heaps that move a reallocated block.
constexpr uint64_t kGrowthHeadroom = 512;
// Room the "unable to open file" message needs besides the name.
constexpr size_t kMessageRoom = 80;

constexpr char kDirectiveWord[] = "include";
constexpr size_t kDirectiveWordLength = sizeof kDirectiveWord - 1;

char readBuffers[kIncludeNestingLimit + 1][kReadBufferSize];

SourceFileListener fileListener = nullptr;
void* fileListenerContext = nullptr;

void reportOpenedFile(const char* path) {
    if (fileListener != nullptr) {
        fileListener(fileListenerContext, path);
    }
}

[[noreturn]] void exitOutOfMemory() {
    std::fputs(kOutOfMemoryMessage, stderr);
    exitProcess(kExitOutOfMemory);
}

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

// Appends `count` bytes, growing the text to the needed length plus the
// headroom, or to twice its capacity when that is more, when they do not fit.
// A null text is made anew.
char* appendBytes(char* text, const char* bytes, uint64_t count, uint64_t& capacity,
                  uint64_t& length) {
    uint64_t need = length + count;
    if (text == nullptr || need > capacity) {
        if (need > SIZE_MAX - kGrowthHeadroom - 1) {
            exitOutOfMemory();
        }
        uint64_t grownCapacity = need + kGrowthHeadroom;
        if (text != nullptr && capacity < (SIZE_MAX - 1) / 2 && capacity * 2 > grownCapacity) {
            grownCapacity = capacity * 2;
        }
        size_t size = static_cast<size_t>(grownCapacity + 1);
        void* grown = text == nullptr ? allocateMemory(size) : reallocateMemory(text, size);
        if (grown == nullptr) {
            exitOutOfMemory();
        }
        text = static_cast<char*>(grown);
        capacity = grownCapacity;
    }
    std::memcpy(text + length, bytes, static_cast<size_t>(count));
    length = need;
    text[length] = '\0';
    return text;
}

// Cuts the text back to `keptLength` characters, dropping what was appended
// since it had that length.
void truncateText(char* text, uint64_t keptLength, uint64_t& length) {
    length = keptLength;
    if (text != nullptr) {
        text[length] = '\0';
    }
}

// The chunks of one file, cut from a large buffer so that reading costs a
// few calls per buffer rather than per line.
class ChunkReader {
public:
    ChunkReader(FILE* stream, char* buffer) : stream(stream), buffer(buffer) {}

    // Fills the buffer and drops a byte order mark at the start of the
    // file. False when the file cannot be read.
    bool start() {
        if (!fill()) {
            return false;
        }
        const unsigned char* head = reinterpret_cast<const unsigned char*>(buffer);
        if (end >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
            begin = 3;
        }
        return true;
    }

    // The next chunk: the bytes up to and including the next newline, at
    // most kChunkSize - 1 of them. False at the end of the file, and when
    // the file cannot be read (then `failed` is set).
    bool next(const char*& chunk, size_t& chunkLength, bool& failed) {
        if (end - begin < kChunkSize - 1 && !fill()) {
            failed = true;
            return false;
        }
        size_t available = end - begin;
        if (available == 0) {
            return false;
        }
        chunk = buffer + begin;
        size_t limit = available < kChunkSize - 1 ? available : kChunkSize - 1;
        const char* newline = static_cast<const char*>(std::memchr(chunk, '\n', limit));
        chunkLength = newline != nullptr ? static_cast<size_t>(newline - chunk) + 1 : limit;
        begin += chunkLength;
        return true;
    }

private:
    // Moves what is left to the front and reads until the buffer is full or
    // the file ends. False on a read error.
    bool fill() {
        if (atEnd) {
            return true;
        }
        std::memmove(buffer, buffer + begin, end - begin);
        end -= begin;
        begin = 0;
        size_t wanted = kReadBufferSize - end;
        size_t got = std::fread(buffer + end, 1, wanted, stream);
        end += got;
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
    size_t begin = 0;  // first byte not yet handed out
    size_t end = 0;    // bytes in the buffer
    bool atEnd = false;
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

}  // namespace

void setSourceFileListener(SourceFileListener listener, void* context) {
    fileListener = listener;
    fileListenerContext = context;
}

char* appendSourceText(char* text, const char* string, uint64_t& capacity, uint64_t& length) {
    return appendBytes(text, string, std::strlen(string), capacity, length);
}

char* SourceReader::readSource(char* text, uint64_t& capacity, uint64_t& length) {
    // Every nesting level reads through a buffer of its own.
    if (includeDepth < 0 || includeDepth > kIncludeNestingLimit) {
        readFailed = true;
        return text;
    }
    ChunkReader reader(stream, readBuffers[includeDepth]);
    if (!reader.start()) {
        readFailed = true;
        return text;
    }
    char directive[kChunkSize];
    const char* chunk = nullptr;
    size_t chunkLength = 0;
    while (reader.next(chunk, chunkLength, readFailed)) {
        // A NUL byte ends what is taken of the chunk, its newline included.
        const char* nul = static_cast<const char*>(std::memchr(chunk, '\0', chunkLength));
        size_t taken = nul != nullptr ? static_cast<size_t>(nul - chunk) : chunkLength;
        size_t blanks = 0;
        while (blanks < taken && isBlank(chunk[blanks])) {
            ++blanks;
        }
        const char* rest = nullptr;
        if (blanks < taken && chunk[blanks] == '#') {
            std::memcpy(directive, chunk, taken);
            directive[taken] = '\0';
            rest = directiveRest(directive);
        }
        if (rest != nullptr) {
            text = expandInclude(text, rest, capacity, length);
        } else {
            text = appendBytes(text, chunk, taken, capacity, length);
        }
        if (taken > 0 && chunk[taken - 1] == '\n') {
            ++line;
        }
    }
    if (readFailed) {
        return text;
    }
    return appendBytes(text, "\n", 1, capacity, length);
}

char* SourceReader::expandInclude(char* text, const char* rest, uint64_t& capacity,
                                  uint64_t& length) {
    if (includeDepth >= kIncludeNestingLimit) {
        return appendErrorLine(kNestedTooDeeplyMessage, text, capacity, length);
    }
    while (isWhiteSpace(*rest)) {
        ++rest;
    }
    if (*rest != '"') {
        return appendErrorLine(kExpectedQuoteMessage, text, capacity, length);
    }
    const char* name = rest + 1;
    const char* closingQuote = std::strchr(name, '"');
    if (closingQuote == nullptr) {
        return appendErrorLine(kMissingQuoteMessage, text, capacity, length);
    }
    size_t nameLength = static_cast<size_t>(closingQuote - name);

    // The name goes behind the including file's folder: its path up to and
    // including the last '/' or '\\', whichever comes last.
    size_t pathLength = path != nullptr ? std::strlen(path) : 0;
    size_t folderLength = pathLength;
    while (folderLength > 0 && path[folderLength - 1] != '/' && path[folderLength - 1] != '\\') {
        --folderLength;
    }
    char* joinedPath = static_cast<char*>(allocateMemory(pathLength + nameLength + 1));
    if (joinedPath == nullptr) {
        exitOutOfMemory();
    }
    std::memcpy(joinedPath, path, folderLength);
    std::memcpy(joinedPath + folderLength, name, nameLength);
    joinedPath[folderLength + nameLength] = '\0';

    // Include names come from file contents: a folder, pipe or device is
    // never opened, so that no include can hang the run or exhaust memory.
    bool included = false;
    FILE* file = isRegularFile(joinedPath) ? std::fopen(joinedPath, "rb") : nullptr;
    if (file != nullptr) {
        reportOpenedFile(joinedPath);
        uint64_t lengthBefore = length;
        SourceReader includedReader{file, joinedPath, 1};
        ++includeDepth;
        text = includedReader.readSource(text, capacity, length);
        --includeDepth;
        std::fclose(file);
        // A file that cannot be read to its end counts as one that cannot
        // be opened: nothing of it stays in the text.
        included = !includedReader.readFailed;
        if (!included) {
            truncateText(text, lengthBefore, length);
        }
    }
    releaseMemory(joinedPath);
    if (included) {
        return text;
    }

    size_t messageSize = nameLength + kMessageRoom;
    char* message = static_cast<char*>(allocateMemory(messageSize));
    if (message == nullptr) {
        return appendErrorLine(kNoMemoryForMessage, text, capacity, length);
    }
    std::snprintf(message, messageSize, kUnableToOpenFormat, static_cast<int>(nameLength), name);
    text = appendErrorLine(message, text, capacity, length);
    releaseMemory(message);
    return text;
}

char* SourceReader::appendErrorLine(const char* message, char* text, uint64_t& capacity,
                                    uint64_t& length) {
    char lineNumber[24];
    std::snprintf(lineNumber, sizeof lineNumber, "%" PRId64, line);
    text = appendSourceText(text, "#error \"", capacity, length);
    text = appendSourceText(text, path != nullptr ? path : kUnknownPath, capacity, length);
    text = appendSourceText(text, ": ", capacity, length);
    text = appendSourceText(text, lineNumber, capacity, length);
    text = appendSourceText(text, ": ", capacity, length);
    text = appendSourceText(text, message, capacity, length);
    return appendSourceText(text, "\"\n", capacity, length);
}

bool loadShaderSource(const char* path, char** text) {
    // A folder is refused before opening; a pipe or device the user named is
    // read as a stream whose size is unknown.
    FILE* file = isDirectory(path) ? nullptr : std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    reportOpenedFile(path);
    char* buffer = *text;
    uint64_t capacity = 0;
    uint64_t length = 0;
    if (buffer == nullptr) {
        // Room for every byte of a file without includes, the closing newline
        // and the terminator; only the terminator when the size is unknown.
        int64_t size = fileSizeOf(file);
        if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX - 2) {
            size = -1;
        }
        capacity = static_cast<uint64_t>(size + 1);
        buffer = static_cast<char*>(allocateMemory(static_cast<size_t>(capacity + 1)));
        if (buffer == nullptr) {
            std::fclose(file);
            return false;
        }
        buffer[0] = '\0';
    } else {
        // A stage loaded before: the first append grows its text.
        length = std::strlen(buffer);
        capacity = length;
    }
    uint64_t lengthBefore = length;
    SourceReader reader{file, path, 1};
    buffer = reader.readSource(buffer, capacity, length);
    std::fclose(file);
    if (reader.readFailed) {
        // The stage's text goes back to what it was before this file.
        if (*text == nullptr) {
            releaseMemory(buffer);
        } else {
            truncateText(buffer, lengthBefore, length);
            *text = buffer;
        }
        return false;
    }
    *text = buffer;
    return true;
}
