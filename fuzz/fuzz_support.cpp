#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string scratchFolder;

void removeScratchFolder() {
    std::error_code ignored;
    fs::remove_all(scratchFolder, ignored);
}

}  // namespace

const std::string& enterScratchFolder() {
    if (!scratchFolder.empty()) {
        return scratchFolder;
    }
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "vrx-fuzz-XXXXXX").string();
    if (error || mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
        reportFinding("cannot make the scratch folder");
    }
    scratchFolder = pattern;
    std::atexit(removeScratchFolder);
    return scratchFolder;
}

void writeFile(const std::string& path, std::string_view bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        reportFinding("cannot write a scratch file");
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        reportFinding("cannot write a scratch file");
    }
}

void emptyFolder(const std::string& path) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        fs::remove_all(entry.path(), error);
    }
}

void reportFinding(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::fflush(stderr);
    std::abort();
}
