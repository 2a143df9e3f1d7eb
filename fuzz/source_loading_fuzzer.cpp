// Source loading with #include expansion over a small file tree that the
// input describes: the text of t/main.vert, then any number of further files,
// each introduced by a line "@@@ <name>". Names are single file names in t/.
//
// The input is skipped when its includes could make the expansion explode
// (every directive may name a file that includes itself again, down to the
// nesting limit), or when a directive names anything outside t/.
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/allocation.h"
#include "tests/seams/fault_injection.h"
#include "platform/file_system.h"
#include "source/shader_source.h"

namespace {

constexpr std::string_view kFileMarker = "\n@@@ ";
constexpr size_t kMaxFiles = 8;
constexpr size_t kMaxNameLength = 64;
constexpr uint64_t kMaxFilesRead = 256;
constexpr uint64_t kMaxBytesRead = 1u << 20;

struct TreeFile {
    std::string name;
    std::string_view bytes;
};

bool isValidName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") {
        return false;
    }
    for (char c : name) {
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '.' || c == '-';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

// The files the input describes; a later file of the same name wins.
std::vector<TreeFile> splitTree(std::string_view input) {
    std::map<std::string, std::string_view> files;
    size_t cut = input.find(kFileMarker);
    files["main.vert"] = input.substr(0, cut);
    while (cut != std::string_view::npos && files.size() <= kMaxFiles) {
        size_t nameStart = cut + kFileMarker.size();
        size_t nameEnd = input.find('\n', nameStart);
        if (nameEnd == std::string_view::npos) {
            break;
        }
        std::string_view name = input.substr(nameStart, nameEnd - nameStart);
        cut = input.find(kFileMarker, nameEnd);
        std::string_view bytes =
            input.substr(nameEnd + 1, cut == std::string_view::npos ? std::string_view::npos
                                                                    : cut - nameEnd - 1);
        if (isValidName(name)) {
            files[std::string(name)] = bytes;
        }
    }
    std::vector<TreeFile> tree;
    for (const auto& [name, bytes] : files) {
        tree.push_back({name, bytes});
    }
    return tree;
}

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Every file that a directive in `bytes` could open (an index into `tree`,
// once per directive), found by a looser reading than the loader's: any
// "include" followed by white space and a quoted name on the same line.
// False when such a name could reach outside t/.
bool possibleIncludes(std::string_view bytes, const std::vector<TreeFile>& tree,
                      std::vector<size_t>& targets) {
    for (size_t at = bytes.find("include"); at != std::string_view::npos;
         at = bytes.find("include", at + 1)) {
        size_t cursor = at + 7;
        if (cursor >= bytes.size() || !isWhiteSpace(bytes[cursor])) {
            continue;
        }
        while (cursor < bytes.size() && isWhiteSpace(bytes[cursor]) && bytes[cursor] != '\n') {
            ++cursor;
        }
        if (cursor >= bytes.size() || bytes[cursor] != '"') {
            continue;
        }
        size_t nameEnd = bytes.find_first_of(std::string_view("\"\n\0", 3), cursor + 1);
        if (nameEnd == std::string_view::npos || bytes[nameEnd] != '"') {
            continue;
        }
        std::string_view name = bytes.substr(cursor + 1, nameEnd - cursor - 1);
        if (name.find('/') != std::string_view::npos) {
            return false;
        }
        for (size_t index = 0; index < tree.size(); ++index) {
            if (tree[index].name == name) {
                targets.push_back(index);
            }
        }
    }
    return true;
}

// Whether loading main.vert stays within the read limits, counting every
// possible include as carried out.
bool expansionIsBounded(const std::vector<TreeFile>& tree) {
    std::vector<std::vector<size_t>> includes(tree.size());
    for (size_t index = 0; index < tree.size(); ++index) {
        if (!possibleIncludes(tree[index].bytes, tree, includes[index])) {
            return false;
        }
    }
    // reads[d][f]: files read when f is read at nesting level d; likewise bytes.
    const int levels = kIncludeNestingLimit + 1;
    std::vector<std::vector<uint64_t>> reads(levels, std::vector<uint64_t>(tree.size()));
    std::vector<std::vector<uint64_t>> bytes(levels, std::vector<uint64_t>(tree.size()));
    for (int level = levels - 1; level >= 0; --level) {
        for (size_t index = 0; index < tree.size(); ++index) {
            uint64_t fileReads = 1;
            uint64_t fileBytes = tree[index].bytes.size();
            if (level + 1 < levels) {
                for (size_t target : includes[index]) {
                    fileReads += reads[level + 1][target];
                    fileBytes += bytes[level + 1][target];
                    if (fileReads > kMaxFilesRead || fileBytes > kMaxBytesRead) {
                        return false;
                    }
                }
            }
            reads[level][index] = fileReads;
            bytes[level][index] = fileBytes;
        }
    }
    for (size_t index = 0; index < tree.size(); ++index) {
        if (tree[index].name == "main.vert") {
            return reads[0][index] <= kMaxFilesRead && bytes[0][index] <= kMaxBytesRead;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<TreeFile> tree =
        splitTree(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!expansionIsBounded(tree)) {
        return -1;
    }
    emptyFolder(".");
    if (mkdir("t", 0700) != 0) {
        reportFinding("cannot make the tree folder");
    }
    for (const TreeFile& file : tree) {
        writeFile("t/" + file.name, file.bytes);
    }

    // Odd sizes take the path of a file whose size cannot be had.
    injectFileSizeFailure(size % 2 == 1);
    ShaderSourceLoader loader;
    char* text = nullptr;
    const LoadResult loaded = loader.load("t/main.vert", &text);
    injectFileSizeFailure(false);
    FUZZ_CHECK(loaded == LoadResult::loaded);
    FUZZ_CHECK(loader.includeDepth == 0);
    FUZZ_CHECK(text != nullptr);
    std::string first = text;
    FUZZ_CHECK(!first.empty() && first.back() == '\n');

    // The same file again for the same stage appends the same expansion.
    FUZZ_CHECK(loader.load("t/main.vert", &text) == LoadResult::loaded);
    FUZZ_CHECK(loader.includeDepth == 0);
    FUZZ_CHECK(std::strlen(text) == 2 * first.size());
    FUZZ_CHECK(first.compare(0, first.size(), text + first.size()) == 0);
    releaseMemory(text);
    return 0;
}
