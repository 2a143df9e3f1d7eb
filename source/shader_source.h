// Loading one shader source file into the text a stage hands to the compiler:
// a leading UTF-8 byte order mark dropped, `#include "name"` lines replaced
// by the named file's text (recursively, relative to the including file), and
// every include that cannot be carried out turned into one `#error` line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "source/include_walk.h"

// Printed on standard error when a text cannot grow.
constexpr const char* kOutOfMemoryMessage = "Ran out of memory while reading data!\n";

// How loading a file for a stage ended.
enum class LoadResult {
    // The file's expansion is appended; include failures are `#error` lines.
    loaded,
    // The file cannot be opened or read to its end, or the first buffer
    // cannot be had: the text is as it was.
    notOpened,
    // The text cannot grow: kOutOfMemoryMessage has been printed, without
    // allocating, and the text (with what earlier loads put in it) has been
    // released and set to null.
    outOfMemory,
};

// Loads source files one after the other, for one stage or several. Owns the
// read buffers of every nesting level (taken on the first load, released
// with the loader) and, when asked, the list of files it opened. Never ends
// the process and throws nothing: every failure is a LoadResult.
class ShaderSourceLoader {
public:
    ShaderSourceLoader() = default;
    ShaderSourceLoader(const ShaderSourceLoader&) = delete;
    ShaderSourceLoader& operator=(const ShaderSourceLoader&) = delete;
    ~ShaderSourceLoader();

    // Loads the file at `path` (used as given, also in error lines) and
    // appends its expansion to `*text`; `*text` is null for a stage without
    // text yet. The text is a heap block from allocateMemory that the caller
    // releases with releaseMemory. A folder is refused; a pipe or device is
    // read as a stream whose size is unknown.
    LoadResult load(const char* path, char** text);

    // As load, for a stream already open under the name `path` (null: error
    // lines name "(unknown)"). The stream stays open.
    LoadResult loadStream(FILE* stream, const char* path, char** text);

    // From now on the files opened are listed: the path given to load (as
    // given) and each include that opened (its folder-joined name), in the
    // order opened. Costs nothing until asked for.
    void listFilesRead() { listing = true; }

    // The files listed since the last call; the list starts anew.
    std::vector<std::string> takeFilesRead();

    // Included files being read at the moment; 0 between loads. An include
    // is refused while it is kIncludeNestingLimit or more.
    int32_t includeDepth = 0;

private:
    char* readBuffers = nullptr;  // kIncludeReadBuffersSize bytes, or null
    bool listing = false;
    std::vector<std::string> filesRead;
};
