#include "source/shader_source.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/allocation.h"
#include "platform/exit_codes.h"
#include "platform/file_system.h"
#include "platform/process_exit.h"
#include "source/include_walk.h"

int32_t includeDepth = 0;

namespace {

constexpr const char* kOutOfMemoryMessage = "Ran out of memory while reading data!\n";
constexpr const char* kUnknownPath = "(unknown)";

// Characters added to what an append needs whenever the text must grow. The
// text also at least doubles, so that a large include tree is not copied over
// and over by heaps that move a reallocated block.
constexpr uint64_t kGrowthHeadroom = 512;

char readBuffers[kIncludeReadBuffersSize];

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

// Appends `#error "<path>: <line>: <message>"` and a line feed.
char* appendErrorText(char* text, const char* path, int64_t line, const char* message,
                      uint64_t& capacity, uint64_t& length) {
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

// The text the walk's pieces go into, and its length when each open include
// began, to drop an include that could not be read to its end.
struct LoadingText {
    char* text;
    uint64_t capacity;
    uint64_t length;
    uint64_t lengthAtOpen[kIncludeNestingLimit + 1];
};

void appendPiece(void* context, const char* bytes, size_t count, int64_t /*line*/) {
    auto* loading = static_cast<LoadingText*>(context);
    loading->text = appendBytes(loading->text, bytes, count, loading->capacity, loading->length);
}

void appendFailure(void* context, const char* path, int64_t line, const char* message) {
    auto* loading = static_cast<LoadingText*>(context);
    loading->text =
        appendErrorText(loading->text, path, line, message, loading->capacity, loading->length);
}

void enterInclude(void* context, const char* path, int32_t depth) {
    auto* loading = static_cast<LoadingText*>(context);
    reportOpenedFile(path);
    includeDepth = depth;
    loading->lengthAtOpen[depth] = loading->length;
}

void leaveInclude(void* context, bool complete) {
    auto* loading = static_cast<LoadingText*>(context);
    if (!complete) {
        truncateText(loading->text, loading->lengthAtOpen[includeDepth], loading->length);
    }
    --includeDepth;
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
    LoadingText loading{text, capacity, length, {}};
    IncludeWalk walk{
        {&loading, appendPiece, appendFailure, enterInclude, leaveInclude}, readBuffers, false};
    int32_t depth = includeDepth;
    readFailed = !walkSourceStream(walk, stream, path, line, depth);
    includeDepth = depth;
    if (walk.outOfMemory) {
        exitOutOfMemory();
    }
    capacity = loading.capacity;
    length = loading.length;
    return loading.text;
}

char* SourceReader::appendErrorLine(const char* message, char* text, uint64_t& capacity,
                                    uint64_t& length) {
    return appendErrorText(text, path, line, message, capacity, length);
}

bool loadShaderSource(const char* path, char** text) {
    // A folder is refused; a pipe or device the user named is read as a
    // stream whose size is unknown.
    FILE* file = openNamedFile(path);
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
