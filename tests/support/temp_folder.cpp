#include "tests/support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        std::string name = "vrx-test-" + std::to_string(stamp) + "-" + std::to_string(seed()) +
                           "-" + std::to_string(counter++);
        fs::path candidate = fs::temp_directory_path() / name;
        if (fs::create_directory(candidate)) {
            root = candidate;
            return;
        }
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // Folders made read-only by a test must be writable again to be removed.
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root, ignored);
}

std::string TempFolder::file(const std::string& relative) const {
    return (root / relative).string();
}

std::string TempFolder::write(const std::string& relative, const std::string& bytes) const {
    fs::path target = root / relative;
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return target.string();
}

std::string readFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
