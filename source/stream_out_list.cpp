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

// The line being built: its allocation, the bytes in it and its room
// (terminator included).
struct Line {
    char* text = nullptr;
    size_t length = 0;
    size_t capacity = 0;
};

enum class LineResult { Line, EndOfFile, Failed };

// Appends `count` bytes to the line, keeping it NUL-terminated. The first
// piece of a line makes its allocation at its size, so every line, a blank
// one too, has one; a longer line grows its room by doubling, so a line of
// many megabytes is copied a few times, not once per buffer's worth (at the
// price of up to twice its length in memory). False when the line cannot
// grow; it is then released.
bool appendToLine(Line& line, const char* bytes, size_t count) {
    size_t needed = line.length + count + 1;
    if (line.text == nullptr || needed > line.capacity) {
        size_t capacity = line.text == nullptr ? needed : line.capacity;
        while (capacity < needed) {
            capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
        }
        void* grown =
            line.text == nullptr ? allocateMemory(capacity) : reallocateMemory(line.text, capacity);
        if (grown == nullptr) {
            releaseMemory(line.text);
            line.text = nullptr;
            return false;
        }
        line.text = static_cast<char*>(grown);
        line.capacity = capacity;
    }
    std::memcpy(line.text + line.length, bytes, count);
    line.length += count;
    line.text[line.length] = '\0';
    return true;
}

// Fills the buffer behind the `available` bytes of an unfinished line,
// which move to its front. With kTextEndsAtControlZ a Ctrl-Z byte ends the
// file, as reading in text mode does there. False on a read error.
bool fillBuffer(LineReader& reader, size_t available) {
    std::memmove(reader.buffer, reader.buffer + reader.start, available);
    reader.start = 0;
    reader.end = available;
    size_t got =
        std::fread(reader.buffer + reader.end, 1, sizeof reader.buffer - reader.end, reader.stream);
    if (got == 0) {
        if (std::ferror(reader.stream) != 0) {
            return false;
        }
        reader.atEnd = true;
    }
    if (kTextEndsAtControlZ) {
        if (const void* stop = std::memchr(reader.buffer + reader.end, '\x1a', got)) {
            got = static_cast<size_t>(static_cast<const char*>(stop) - reader.buffer) - reader.end;
            reader.atEnd = true;
        }
    }
    reader.end += got;
    return true;
}

// Reads the next line, whatever its length, into a new allocation without
// its line end: a newline, and a carriage return directly before it, so CR LF
// files give the same names as LF files. Exactly one line end goes: "n1\r\r\n"
// gives "n1\r" on every platform, as the list is read in binary mode
// everywhere. A last line without a newline keeps all its bytes. A line
// shorter than the buffer arrives whole, so its name is allocated once at
// its size.
LineResult readLine(LineReader& reader, char*& result) {
    result = nullptr;
    Line line;
    for (;;) {
        const char* piece = reader.buffer + reader.start;
        size_t available = reader.end - reader.start;
        const char* newline = static_cast<const char*>(std::memchr(piece, '\n', available));
        if (newline == nullptr && !reader.atEnd && available < sizeof reader.buffer) {
            if (!fillBuffer(reader, available)) {
                releaseMemory(line.text);
                return LineResult::Failed;
            }
            continue;
        }
        if (newline == nullptr && available == 0) {
            break;
        }
        size_t pieceLength = newline != nullptr ? static_cast<size_t>(newline - piece) : available;
        if (!appendToLine(line, piece, pieceLength)) {
            return LineResult::Failed;
        }
        reader.start += pieceLength;
        if (newline != nullptr) {
            ++reader.start;
            if (line.length > 0 && line.text[line.length - 1] == '\r') {
                line.text[--line.length] = '\0';
            }
            break;
        }
    }
    if (line.text == nullptr) {
        return LineResult::EndOfFile;
    }
    result = line.text;
    return LineResult::Line;
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
    // A folder is refused; a pipe or device is read as a stream. Binary
    // mode: the line ends are taken off here, the same on every
    // platform.
    FILE* stream = openNamedFile(path);
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
