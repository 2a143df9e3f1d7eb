#include "toolchain/gl_runner/reflected_names.h"

#include <cstdlib>

namespace gl_runner {

namespace {

// `depth` bounds the recursion over the indices of a name.
std::optional<int32_t> locationOf(const std::map<std::string, int32_t>& uniforms,
                                  const std::string& name, int depth) {
    auto found = uniforms.find(name);
    if (found != uniforms.end()) {
        return found->second;
    }
    if (depth > 8) {
        return std::nullopt;
    }
    for (size_t open = name.find('['); open != std::string::npos; open = name.find('[', open + 1)) {
        size_t close = name.find(']', open);
        if (close == std::string::npos) {
            return std::nullopt;
        }
        long index = std::strtol(name.c_str() + open + 1, nullptr, 10);
        if (index <= 0) {
            continue;
        }
        std::string head = name.substr(0, open + 1);
        std::string tail = name.substr(close);
        std::optional<int32_t> first = locationOf(uniforms, head + "0" + tail, depth + 1);
        if (!first) {
            return std::nullopt;
        }
        std::optional<int32_t> second = locationOf(uniforms, head + "1" + tail, depth + 1);
        int32_t stride = second ? *second - *first : 1;
        return *first + static_cast<int32_t>(index) * stride;
    }
    if (name.find('[') == std::string::npos) {
        return locationOf(uniforms, name + "[0]", depth + 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<int32_t> reflectedLocation(const std::map<std::string, int32_t>& locations,
                                         const std::string& name) {
    return locationOf(locations, name, 0);
}

}  // namespace gl_runner
