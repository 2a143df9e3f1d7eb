#include "toolchain/mendrix/front_end/line_map.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "platform/file_system.h"
#include "source/include_walk.h"
#include "toolchain/common/folded_path.h"

namespace mendrix {

namespace {

constexpr std::string_view kErrorLineStart = "#error \"";

// One piece of the rebuilt expansion: text of a file from a line on, or the
// error line of an include that failed at a directive.
struct Piece {
    size_t begin = 0;  // in Rebuild::text; for a failure, in Rebuild::suffixes
    size_t end = 0;
    uint32_t fileIndex = 0;
    int64_t line = 0;
    bool failure = false;
};

// The expansion rebuilt by the include walk, with the origin of each piece.
struct Rebuild {
    std::string text;
    // For each failure, the end of its error line behind the path:
    // ": <line>: <message>\"\n".
    std::string suffixes;
    std::vector<Piece> pieces;
    std::vector<std::string>* files = nullptr;
    std::unordered_map<std::string, uint32_t> fileIndexes;
    std::vector<uint32_t> openFiles;               // the file being read at each level
    std::vector<std::pair<size_t, size_t>> marks;  // text and piece counts at each open
};

uint32_t indexOfFile(Rebuild& rebuild, const char* path) {
    std::string folded = toolchain::foldPath(path);
    auto [found, added] =
        rebuild.fileIndexes.emplace(folded, static_cast<uint32_t>(rebuild.files->size()));
    if (added) {
        rebuild.files->push_back(std::move(folded));
    }
    return found->second;
}

void addText(void* context, const char* bytes, size_t count, int64_t line) {
    auto* rebuild = static_cast<Rebuild*>(context);
    size_t begin = rebuild->text.size();
    rebuild->text.append(bytes, count);
    rebuild->pieces.push_back(
        {begin, rebuild->text.size(), rebuild->openFiles.back(), line, false});
}

// Includes that are no regular file are never opened by the walk: they fail
// here as in the driver, at their directive.
void addFailure(void* context, const char* /*path*/, int64_t line, const char* message) {
    auto* rebuild = static_cast<Rebuild*>(context);
    size_t begin = rebuild->suffixes.size();
    rebuild->suffixes += ": " + std::to_string(line) + ": " + message + "\"\n";
    rebuild->pieces.push_back(
        {begin, rebuild->suffixes.size(), rebuild->openFiles.back(), line, true});
}

void openInclude(void* context, const char* path, int32_t /*depth*/) {
    auto* rebuild = static_cast<Rebuild*>(context);
    rebuild->marks.emplace_back(rebuild->text.size(), rebuild->pieces.size());
    rebuild->openFiles.push_back(indexOfFile(*rebuild, path));
}

void closeInclude(void* context, bool complete) {
    auto* rebuild = static_cast<Rebuild*>(context);
    if (!complete) {
        rebuild->text.resize(rebuild->marks.back().first);
        rebuild->pieces.resize(rebuild->marks.back().second);
    }
    rebuild->marks.pop_back();
    rebuild->openFiles.pop_back();
}

// Matches the rebuilt pieces against the end of `text`, from the last piece
// back. Returns the offset where the expansion starts in `text`, or npos when
// it does not match.
size_t matchTail(std::string_view text, const Rebuild& rebuild) {
    size_t cursor = text.size();
    for (size_t index = rebuild.pieces.size(); index-- > 0;) {
        const Piece& piece = rebuild.pieces[index];
        if (!piece.failure) {
            size_t count = piece.end - piece.begin;
            if (count > cursor ||
                text.compare(cursor - count, count, rebuild.text, piece.begin, count) != 0) {
                return std::string_view::npos;
            }
            cursor -= count;
            continue;
        }
        // `#error "<any path>: <line>: <message>"\n`, all on one line.
        std::string_view suffix(rebuild.suffixes.data() + piece.begin, piece.end - piece.begin);
        if (suffix.size() > cursor ||
            text.substr(cursor - suffix.size(), suffix.size()) != suffix) {
            return std::string_view::npos;
        }
        size_t pathEnd = cursor - suffix.size();
        size_t lineStart = text.substr(0, pathEnd).rfind('\n');
        lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
        size_t start = text.substr(lineStart, pathEnd - lineStart).rfind(kErrorLineStart);
        if (start == std::string_view::npos) {
            return std::string_view::npos;
        }
        cursor = lineStart + start;
    }
    // The expansion of a file follows the closing newline of the one before.
    if (cursor > 0 && text[cursor - 1] != '\n') {
        return std::string_view::npos;
    }
    return cursor;
}

// Appends text line `textLine` as line `fileLine` of file `fileIndex`.
void addLine(std::vector<LineSegment>& segments, uint32_t textLine, uint32_t fileIndex,
             int64_t fileLine) {
    if (!segments.empty()) {
        LineSegment& last = segments.back();
        if (last.fileIndex == fileIndex && last.firstTextLine + last.lineCount == textLine &&
            last.firstFileLine + last.lineCount == fileLine) {
            ++last.lineCount;
            return;
        }
    }
    segments.push_back({textLine, 1, fileIndex, fileLine});
}

// The segments of the rebuilt expansion, whose first line is text line
// `firstLine`: each line maps to the file and line of its first byte.
void addSegments(const Rebuild& rebuild, uint32_t firstLine, std::vector<LineSegment>& segments) {
    uint32_t textLine = firstLine;
    bool atLineStart = true;
    for (const Piece& piece : rebuild.pieces) {
        if (piece.failure) {
            if (atLineStart) {
                addLine(segments, textLine, piece.fileIndex, piece.line);
            }
            ++textLine;
            atLineStart = true;
            continue;
        }
        const char* bytes = rebuild.text.data() + piece.begin;
        const char* end = rebuild.text.data() + piece.end;
        int64_t fileLine = piece.line;
        for (const char* cursor = bytes; cursor < end; ++fileLine, ++textLine) {
            if (atLineStart) {
                addLine(segments, textLine, piece.fileIndex, fileLine);
            }
            const void* newline = std::memchr(cursor, '\n', static_cast<size_t>(end - cursor));
            if (newline == nullptr) {
                atLineStart = false;
                break;
            }
            cursor = static_cast<const char*>(newline) + 1;
            atLineStart = true;
        }
    }
    // The front end places the end of the text on the line behind its closing
    // newline: that is where the last file ends.
    if (atLineStart && !segments.empty()) {
        const LineSegment& last = segments.back();
        if (last.firstTextLine + last.lineCount == textLine) {
            segments.push_back(
                {textLine, 1, last.fileIndex, last.firstFileLine + last.lineCount - 1});
        }
    }
}

// Offset and 1-based line of the first `#line` directive of `text`; false
// when there is none.
bool findLineDirective(std::string_view text, size_t& offset, uint32_t& line) {
    uint32_t number = 1;
    for (size_t start = 0; start < text.size(); ++number) {
        size_t cursor = start;
        while (cursor < text.size() && (text[cursor] == ' ' || text[cursor] == '\t')) {
            ++cursor;
        }
        if (cursor < text.size() && text[cursor] == '#') {
            ++cursor;
            while (cursor < text.size() && (text[cursor] == ' ' || text[cursor] == '\t')) {
                ++cursor;
            }
            if (text.substr(cursor, 4) == "line" &&
                (cursor + 4 == text.size() || std::strchr(" \t\r\n", text[cursor + 4]))) {
                offset = start;
                line = number;
                return true;
            }
        }
        size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos) {
            break;
        }
        start = newline + 1;
    }
    return false;
}

// Rebuilds the expansion of `fullPath` into `rebuild`; the fallback that
// applies when it cannot be had.
LineMapFallback rebuildExpansion(const char* fullPath, Rebuild& rebuild) {
    // A pipe or device was read by the driver already and is never opened
    // again; a missing file or a folder gives nothing to compare either.
    if (!isRegularFile(fullPath)) {
        return LineMapFallback::notRegularFile;
    }
    // Nor is a file of /proc or /sys, whose content need not be what the
    // driver read and whose size says nothing of what reading costs.
    FILE* file = openIncludedFile(fullPath);
    if (file == nullptr) {
        return LineMapFallback::unreadable;
    }
    // Left uninitialised: a walk touches only the buffers of the levels it
    // reaches.
    std::unique_ptr<char[]> buffers(new char[kIncludeReadBuffersSize]);
    rebuild.openFiles.push_back(indexOfFile(rebuild, fullPath));
    IncludeWalk walk{
        {&rebuild, addText, addFailure, openInclude, closeInclude}, buffers.get(), false};
    bool complete = walkSourceStream(walk, file, fullPath, 1, 0);
    std::fclose(file);
    if (!complete) {
        return LineMapFallback::unreadable;
    }
    return LineMapFallback::none;
}

}  // namespace

void buildLineMap(std::string_view text, const char* fullPath, LineMap& map) {
    map = LineMap{};
    if (findLineDirective(text, map.lineDirectiveOffset, map.lineDirectiveLine) &&
        map.lineDirectiveLine == 1) {
        map.fallback = LineMapFallback::lineDirective;
        return;
    }
    if (fullPath == nullptr || fullPath[0] == '\0') {
        map.fallback = LineMapFallback::noPath;
        return;
    }
    Rebuild rebuild;
    rebuild.files = &map.files;
    map.fallback = rebuildExpansion(fullPath, rebuild);
    size_t start =
        map.fallback == LineMapFallback::none ? matchTail(text, rebuild) : std::string_view::npos;
    if (map.fallback == LineMapFallback::none && start == std::string_view::npos) {
        map.fallback = LineMapFallback::differentText;
    }
    if (map.fallback != LineMapFallback::none) {
        map.files.clear();
        return;
    }
    if (start > 0) {
        map.fallback = LineMapFallback::repeatedStage;
    }
    uint64_t firstLine = 1;
    for (size_t at = text.find('\n'); at < start; at = text.find('\n', at + 1)) {
        ++firstLine;
    }
    if (firstLine + text.size() > UINT32_MAX) {
        map.files.clear();
        map.fallback = LineMapFallback::differentText;
        return;
    }
    addSegments(rebuild, static_cast<uint32_t>(firstLine), map.segments);
    if (map.lineDirectiveLine == 0) {
        return;
    }
    // From the directive on the front end counts by the directive.
    map.fallback = LineMapFallback::lineDirective;
    while (!map.segments.empty() && map.segments.back().firstTextLine >= map.lineDirectiveLine) {
        map.segments.pop_back();
    }
    if (!map.segments.empty()) {
        LineSegment& last = map.segments.back();
        last.lineCount = std::min(last.lineCount, map.lineDirectiveLine - last.firstTextLine);
    }
}

bool placeLine(const LineMap& map, int textLine, std::string& path, int& fileLine) {
    if (textLine <= 0) {
        return false;
    }
    uint32_t line = static_cast<uint32_t>(textLine);
    size_t low = 0;
    size_t high = map.segments.size();
    while (low < high) {
        size_t middle = (low + high) / 2;
        if (map.segments[middle].firstTextLine + map.segments[middle].lineCount <= line) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == map.segments.size() || map.segments[low].firstTextLine > line) {
        return false;
    }
    const LineSegment& segment = map.segments[low];
    int64_t placed = segment.firstFileLine + (line - segment.firstTextLine);
    path = map.files[segment.fileIndex];
    fileLine = placed > INT_MAX ? INT_MAX : static_cast<int>(placed);
    return true;
}

std::string serializeLineMap(const LineMap& map) {
    std::string bytes = "linemap 1 " + std::to_string(static_cast<int>(map.fallback)) + " " +
                        std::to_string(map.lineDirectiveLine) + "\n";
    bytes += "files " + std::to_string(map.files.size()) + "\n";
    for (const std::string& file : map.files) {
        bytes += std::to_string(file.size()) + ":" + file + "\n";
    }
    bytes += "segments " + std::to_string(map.segments.size()) + "\n";
    for (const LineSegment& segment : map.segments) {
        bytes += std::to_string(segment.firstTextLine) + " " + std::to_string(segment.lineCount) +
                 " " + std::to_string(segment.fileIndex) + " " +
                 std::to_string(segment.firstFileLine) + "\n";
    }
    return bytes;
}

}  // namespace mendrix
