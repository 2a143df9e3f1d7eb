// Where a test's uniform name ("items[3]", "lights[2].colour", "items")
// stands among the uniform locations a .vrx reflection lists. The reflection
// may list only the first two and the last element of an array; the others
// follow from elements 0 and 1, and a bare array name is its element 0.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace gl_runner {

// The location of `name`, or nothing when the reflection does not hold it.
std::optional<int32_t> reflectedLocation(const std::map<std::string, int32_t>& locations,
                                         const std::string& name);

}  // namespace gl_runner
