#include "toolchain/common/folded_path.h"

#include <vector>

namespace toolchain {

std::string foldPath(std::string_view path) {
#ifdef _WIN32
    constexpr std::string_view kSeparators = "/\\";
#else
    constexpr std::string_view kSeparators = "/";
#endif
    bool rooted = !path.empty() && kSeparators.find(path.front()) != std::string_view::npos;
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of(kSeparators, start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        std::string_view part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!rooted) {
                parts.push_back(part);
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string folded = rooted ? std::string(1, path.front()) : std::string();
    for (size_t index = 0; index < parts.size(); ++index) {
        if (index > 0) {
            folded += '/';
        }
        folded += parts[index];
    }
    return folded.empty() ? std::string(".") : folded;
}

}  // namespace toolchain
