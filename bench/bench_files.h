// Generated shader sources for the benchmarks: plain GLSL-like lines, and
// trees of files joined by `#include "name"` lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Lines of declarations and statements, `bytes` long (the last line is cut
// to fit and still ends with a newline). `seed` varies the lines.
std::string shaderText(size_t bytes, uint32_t seed);

// Writes `text` to `path`, making its folder. False on any failure.
bool writeFile(const std::string& path, const std::string& text);

// The files of a written tree: the one to load and every file in it.
struct SourceTree {
    std::string root;
    std::vector<std::string> files;  // the root first
};

// One file of `bytes` bytes without includes.
SourceTree writeLargeFile(const std::string& folder, size_t bytes);

// A root that includes `groups` files in folders of their own, each of which
// includes `leavesPerGroup` files of `leafBytes` bytes beside it. Text stands
// between the include lines, as in real sources.
SourceTree writeWideTree(const std::string& folder, uint32_t groups, uint32_t leavesPerGroup,
                         size_t leafBytes);

// A chain of `depth` files below the root, each including the next halfway
// through its `bytesPerFile` bytes; the root includes the head of the chain
// `repeats` times.
SourceTree writeChain(const std::string& folder, uint32_t depth, size_t bytesPerFile,
                      uint32_t repeats);

// A stream-out list of `count` varying names.
bool writeStreamOutList(const std::string& path, uint32_t count);

// Removes `folder` and everything in it.
void removeTree(const std::string& folder);

}  // namespace bench
