// Writes a tree of includes for the whole-process comparison:
//     vrx_make_include_tree FOLDER MIB
// FOLDER/main.vert includes 64 group files, each of which includes 64 leaves,
// so that its expansion is about MIB MiB. Writes FOLDER/files.txt with every
// file of the tree (relative to FOLDER, one a line) and prints the exact size
// of the expanded text in bytes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/bench_files.h"

namespace {

// The length of the text the driver makes of one file: its lines but its
// include lines, and a closing newline.
size_t expandedLengthOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    size_t length = 0;
    while (std::getline(file, line)) {
        if (line.rfind("#include \"", 0) != 0) {
            length += line.size() + 1;
        }
    }
    return length + 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vrx_make_include_tree FOLDER MIB\n");
        return 2;
    }
    std::string folder = argv[1];
    long mebibytes = std::strtol(argv[2], nullptr, 10);
    if (mebibytes <= 0) {
        std::fprintf(stderr, "MIB must be a positive number\n");
        return 2;
    }
    constexpr unsigned kGroups = 64;
    constexpr unsigned kLeaves = 64;
    size_t leafBytes = (static_cast<size_t>(mebibytes) << 20) / (kGroups * kLeaves);
    bench::removeTree(folder);
    bench::SourceTree tree = bench::writeWideTree(folder, kGroups, kLeaves, leafBytes);

    std::ostringstream list;
    size_t expanded = 0;
    for (const std::string& path : tree.files) {
        expanded += expandedLengthOf(path);
        list << path.substr(folder.size() + 1) << '\n';
    }
    if (!bench::writeFile(folder + "/files.txt", list.str())) {
        std::fprintf(stderr, "cannot write %s/files.txt\n", folder.c_str());
        return 1;
    }
    std::printf("%zu\n", expanded);
    return 0;
}
