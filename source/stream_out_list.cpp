#include "source/stream_out_list.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/allocation.h"
#include "platform/file_system.h"

namespace {

// The array of names starts with this many entries; each growth doubles it.
constexpr uint32_t kArrayStep = 50;

// Buffered lines of one open list file.
struct LineReader {
    FILE* stream;
    char buffer[256];
    size_t start = 0;    // first byte of `buffer` not yet taken
    size_t end = 0;      // bytes in `buffer`
    bool atEnd = false;  // the file has been read to its end
};

enum class LineResult { Line, EndOfFile, Failed };

// Appends `count` bytes to the line being built, keeping it NUL-terminated.
// The first piece of a line makes its allocation, so every line, a blank
// one too, has one. False when the line cannot grow; it is then released.
bool appendToLine(char*& line, size_t& length, const char* bytes, size_t count) {
    size_t size = length + count + 1;
    void* grown = line == nullptr ? allocateMemory(size) : reallocateMemory(line, size);
    if (grown == nullptr) {
        releaseMemory(line);
        line = nullptr;
        return false;
    }
    line = static_cast<char*>(grown);
    std::memcpy(line + length, bytes, count);
    length += count;
    line[length] = '\0';
    return true;
}

// Reads the next line, whatever its length, into a new allocation without
// its line end. A carriage return directly before the newline is part of the
// line end, so CR LF files give the same names wherever text mode leaves it
// in; a last line without a newline keeps all its bytes. A line shorter than
// the buffer arrives whole, so its name is allocated once at its size.
LineResult readLine(LineReader& reader, char*& line) {
    line = nullptr;
    size_t length = 0;
    for (;;) {
        const char* piece = reader.buffer + reader.start;
        size_t available = reader.end - reader.start;
        const char* newline = static_cast<const char*>(std::memchr(piece, '\n', available));
        if (newline == nullptr && !reader.atEnd && available < sizeof reader.buffer) {
            // Move the unfinished line to the front and fill up behind it.
            std::memmove(reader.buffer, piece, available);
            reader.start = 0;
            reader.end = available;
            size_t got = std::fread(reader.buffer + reader.end, 1,
                                    sizeof reader.buffer - reader.end, reader.stream);
            if (got == 0) {
                if (std::ferror(reader.stream) != 0) {
                    releaseMemory(line);
                    line = nullptr;
                    return LineResult::Failed;
                }
                reader.atEnd = true;
            }
            reader.end += got;
            continue;
        }
        if (newline == nullptr && available == 0) {
            return line == nullptr ? LineResult::EndOfFile : LineResult::Line;
        }
        size_t pieceLength = newline != nullptr ? static_cast<size_t>(newline - piece) : available;
        if (!appendToLine(line, length, piece, pieceLength)) {
            return LineResult::Failed;
        }
        reader.start += pieceLength;
        if (newline != nullptr) {
            ++reader.start;
            if (length > 0 && line[length - 1] == '\r') {
                line[--length] = '\0';
            }
            return LineResult::Line;
        }
    }
}

// Gives the array room for twice its entries (kArrayStep more at first, so
// the capacity stays a multiple of kArrayStep): a new array with the `count`
// pointers copied over, the old one released. Doubling keeps the copying
// linear in the number of names; a fixed step copied the whole array every
// kArrayStep names, tens of gigabytes for a list of a million lines. False
// when the new array cannot be had; the old one is then kept.
bool growArray(char**& names, uint32_t& capacity, uint32_t count) {
    uint32_t step = capacity > kArrayStep ? capacity : kArrayStep;
    if (capacity > UINT32_MAX - step) {
        return false;
    }
    uint32_t grownCapacity = capacity + step;
    char** grown = static_cast<char**>(allocateMemory(grownCapacity * sizeof(char*)));
    if (grown == nullptr) {
        return false;
    }
    std::memcpy(grown, names, count * sizeof(char*));
    releaseMemory(names);
    names = grown;
    capacity = grownCapacity;
    return true;
}

}  // namespace

char** readStreamOutList(const char* path, uint32_t& count) {
    // A folder cannot be opened; a pipe or device is read as a stream.
    FILE* stream = isDirectory(path) ? nullptr : std::fopen(path, "r");
    if (stream == nullptr) {
        return nullptr;
    }
    count = 0;
    uint32_t capacity = kArrayStep;
    char** names = static_cast<char**>(allocateMemory(capacity * sizeof(char*)));
    if (names == nullptr) {
        std::fclose(stream);
        return nullptr;
    }
    LineReader reader{stream, {}};
    uint32_t filled = 0;
    for (;;) {
        char* line = nullptr;
        LineResult result = readLine(reader, line);
        if (result == LineResult::EndOfFile) {
            break;
        }
        if (result == LineResult::Failed ||
            (filled == capacity && !growArray(names, capacity, filled))) {
            // A read error or a failed allocation: nothing made so far is kept.
            releaseMemory(line);
            freeStringArray(names, filled);
            std::fclose(stream);
            return nullptr;
        }
        names[filled++] = line;
    }
    std::fclose(stream);
    count = filled;
    return names;
}

void freeStringArray(char** names, uint32_t count) {
    if (names == nullptr) {
        return;
    }
    for (uint32_t index = 0; index < count; ++index) {
        releaseMemory(names[index]);
    }
    releaseMemory(names);
}
