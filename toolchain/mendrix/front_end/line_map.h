// Where each line of a stage's text came from. The driver hands over one
// flat text with its includes expanded and no markers; the compiler rebuilds
// the same expansion from the stage's full path with the loader's own include
// walk, and when the rebuilt text equals the one received (the paths inside
// the driver's `#error "path: line: message"` lines aside) it knows the file
// and line of every line. Otherwise, and for lines it cannot vouch for, the
// front end's numbering of the flat text stays.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mendrix {

// Consecutive lines of the text that stand on consecutive lines of one file.
struct LineSegment {
    uint32_t firstTextLine = 0;  // 1-based line of the stage's text
    uint32_t lineCount = 0;
    uint32_t fileIndex = 0;     // into LineMap::files
    int64_t firstFileLine = 0;  // 1-based line of that file
};

// Why a text keeps the front end's numbering (wholly or in part).
enum class LineMapFallback : uint8_t {
    none,            // every line is mapped
    noPath,          // the request names no path for the stage
    notRegularFile,  // the stage's path names no regular file (a pipe, device, folder)
    unreadable,      // the stage's file cannot be opened or read to its end
    differentText,   // the rebuilt expansion is not the text received
    repeatedStage,   // only the tail (the last file of the stage) is mapped
    lineDirective,   // lines from the first #line directive on are not mapped
};

struct LineMap {
    // Full paths with "." and ".." folded, each once, in the order first met;
    // the stage's own file first. Empty when nothing is mapped.
    std::vector<std::string> files;
    // Ascending and disjoint. Lines outside every segment keep the front end's
    // numbering.
    std::vector<LineSegment> segments;
    // 1-based text line of the first #line directive; 0 when there is none.
    // The front end reads the text from there as a string of its own, so that
    // its numbering there can be told from the mapped lines.
    uint32_t lineDirectiveLine = 0;
    // Byte offset of that line in the text; 0 when there is none.
    size_t lineDirectiveOffset = 0;
    LineMapFallback fallback = LineMapFallback::none;
};

// Builds the map of `text` (the stage's text from the request) by rebuilding
// the expansion of the file at `fullPath` (may be null). Opens files by the
// include rules only (ordinary files on a disk, never a stream or a file of
// /proc or /sys), and stops where the loader stops at the bounds on what
// includes add. Throws std::bad_alloc like any allocation.
void buildLineMap(std::string_view text, const char* fullPath, LineMap& map);

// The file and line where line `textLine` of the text came from. False, with
// both left alone, when the map does not cover that line.
bool placeLine(const LineMap& map, int textLine, std::string& path, int& fileLine);

// The whole map as bytes, the same for equal maps, for a cache key.
std::string serializeLineMap(const LineMap& map);

}  // namespace mendrix
