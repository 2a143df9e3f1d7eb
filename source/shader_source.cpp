#include "source/shader_source.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/allocation.h"
#include "platform/file_system.h"
#include "source/include_walk.h"

namespace {

constexpr const char* kUnknownPath = "(unknown)";

// Characters added to what an append needs whenever the text must grow. The
// text also at least doubles, so that a large include tree is not copied over
// and over by heaps that move a reallocated block.
constexpr uint64_t kGrowthHeadroom = 512;

// The text the walk's pieces go into, and its length when each open include
// began, to drop an include that could not be read to its end.
struct LoadingText {
    char* text;
    uint64_t capacity;
    uint64_t length;
    uint64_t lengthAtOpen[kIncludeNestingLimit + 1];
    int32_t* includeDepth;
    std::vector<std::string>* filesRead;  // null: the files are not listed
    // Set once the text could not grow; the walk is then stopped and
    // nothing more is appended.
    IncludeWalk* walk;
    bool outOfMemory;
};

void stopForMemory(LoadingText& loading) {
    loading.outOfMemory = true;
    if (loading.walk != nullptr) {
        loading.walk->outOfMemory = true;
    }
}

// Appends `count` bytes, growing the text to the needed length plus the
// headroom, or to twice its capacity when that is more, when they do not fit.
// A null text is made anew. When it cannot grow, the text stays as it was and
// the load is marked out of memory.
void appendBytes(LoadingText& loading, const char* bytes, uint64_t count) {
    if (loading.outOfMemory) {
        return;
    }
    const uint64_t need = loading.length + count;
    if (loading.text == nullptr || need > loading.capacity) {
        if (need > SIZE_MAX - kGrowthHeadroom - 1) {
            stopForMemory(loading);
            return;
        }
        uint64_t grownCapacity = need + kGrowthHeadroom;
        if (loading.text != nullptr && loading.capacity < (SIZE_MAX - 1) / 2 &&
            loading.capacity * 2 > grownCapacity) {
            grownCapacity = loading.capacity * 2;
        }
        const size_t size = static_cast<size_t>(grownCapacity + 1);
        void* grown =
            loading.text == nullptr ? allocateMemory(size) : reallocateMemory(loading.text, size);
        if (grown == nullptr) {
            stopForMemory(loading);
            return;
        }
        loading.text = static_cast<char*>(grown);
        loading.capacity = grownCapacity;
    }
    std::memcpy(loading.text + loading.length, bytes, static_cast<size_t>(count));
    loading.length = need;
    loading.text[loading.length] = '\0';
}

void appendString(LoadingText& loading, const char* string) {
    appendBytes(loading, string, std::strlen(string));
}

// Cuts the text back to `keptLength` characters, dropping what was appended
// since it had that length.
void truncateText(char* text, uint64_t keptLength, uint64_t& length) {
    length = keptLength;
    if (text != nullptr) {
        text[length] = '\0';
    }
}

// Lists `path` as a file read, when the files are listed.
void noteFileOpened(LoadingText& loading, const char* path) {
    if (loading.filesRead == nullptr || path == nullptr) {
        return;
    }
    try {
        loading.filesRead->emplace_back(path);
    } catch (const std::bad_alloc&) {
        stopForMemory(loading);
    }
}

void appendPiece(void* context, const char* bytes, size_t count, int64_t /*line*/) {
    appendBytes(*static_cast<LoadingText*>(context), bytes, count);
}

// Appends `#error "<path>: <line>: <message>"` and a line feed.
void appendFailure(void* context, const char* path, int64_t line, const char* message) {
    auto& loading = *static_cast<LoadingText*>(context);
    char lineNumber[24];
    std::snprintf(lineNumber, sizeof lineNumber, "%" PRId64, line);
    appendString(loading, "#error \"");
    appendString(loading, path != nullptr ? path : kUnknownPath);
    appendString(loading, ": ");
    appendString(loading, lineNumber);
    appendString(loading, ": ");
    appendString(loading, message);
    appendString(loading, "\"\n");
}

void enterInclude(void* context, const char* path, int32_t depth) {
    auto& loading = *static_cast<LoadingText*>(context);
    noteFileOpened(loading, path);
    *loading.includeDepth = depth;
    loading.lengthAtOpen[depth] = loading.length;
}

void leaveInclude(void* context, bool complete) {
    auto& loading = *static_cast<LoadingText*>(context);
    if (!complete) {
        truncateText(loading.text, loading.lengthAtOpen[*loading.includeDepth], loading.length);
    }
    --*loading.includeDepth;
}

// The first block of a stage's text: room for every byte of a file without
// includes, the closing newline and the terminator; only the terminator when
// the size is unknown. Null when it cannot be had.
char* firstBlock(FILE* stream, uint64_t& capacity) {
    int64_t size = fileSizeOf(stream);
    if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX - 2) {
        size = -1;
    }
    capacity = static_cast<uint64_t>(size + 1);
    char* block = static_cast<char*>(allocateMemory(static_cast<size_t>(capacity + 1)));
    if (block != nullptr) {
        block[0] = '\0';
    }
    return block;
}

// Reports that the text cannot grow, by a constant text that needs no
// memory, and gives the text up: nothing more can be done with it.
LoadResult endForMemory(char* loadingText, char** text) {
    std::fputs(kOutOfMemoryMessage, stderr);
    releaseMemory(loadingText);
    *text = nullptr;
    return LoadResult::outOfMemory;
}

}  // namespace

ShaderSourceLoader::~ShaderSourceLoader() {
    releaseMemory(readBuffers);
}

std::vector<std::string> ShaderSourceLoader::takeFilesRead() {
    std::vector<std::string> taken;
    taken.swap(filesRead);
    return taken;
}

LoadResult ShaderSourceLoader::load(const char* path, char** text) {
    FILE* file = openNamedFile(path);
    if (file == nullptr) {
        return LoadResult::notOpened;
    }
    const LoadResult result = loadStream(file, path, text);
    std::fclose(file);
    return result;
}

LoadResult ShaderSourceLoader::loadStream(FILE* stream, const char* path, char** text) {
    LoadingText loading{*text,   0,    0, {}, &includeDepth, listing ? &filesRead : nullptr,
                        nullptr, false};
    noteFileOpened(loading, path);
    if (loading.outOfMemory) {
        return endForMemory(loading.text, text);
    }
    if (readBuffers == nullptr) {
        readBuffers = static_cast<char*>(allocateMemory(kIncludeReadBuffersSize));
        if (readBuffers == nullptr) {
            return LoadResult::notOpened;
        }
    }
    if (loading.text == nullptr) {
        loading.text = firstBlock(stream, loading.capacity);
        if (loading.text == nullptr) {
            return LoadResult::notOpened;
        }
    } else {
        // A stage loaded before: the first append grows its text.
        loading.length = std::strlen(loading.text);
        loading.capacity = loading.length;
    }
    const uint64_t lengthBefore = loading.length;
    IncludeWalk walk{
        {&loading, appendPiece, appendFailure, enterInclude, leaveInclude}, readBuffers, false};
    loading.walk = &walk;
    const int32_t depth = includeDepth;
    const bool complete = walkSourceStream(walk, stream, path, 1, depth);
    includeDepth = depth;
    if (walk.outOfMemory) {
        return endForMemory(loading.text, text);
    }
    if (!complete) {
        // The stage's text goes back to what it was before this file.
        if (*text == nullptr) {
            releaseMemory(loading.text);
        } else {
            truncateText(loading.text, lengthBefore, loading.length);
            *text = loading.text;
        }
        return LoadResult::notOpened;
    }
    *text = loading.text;
    return LoadResult::loaded;
}
