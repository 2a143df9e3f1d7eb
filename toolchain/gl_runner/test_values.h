// Values as tests write them: decimal numbers, or "0x" and the hex bits of
// the value's own type (float and double bit patterns, two's complement
// integers), and the GLSL types they fill.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gl_runner {

enum class BaseType { floatType, doubleType, intType, uintType };

struct GlslType {
    std::string_view name;  // "vec3", "dmat2x4", "uint", ...
    BaseType base;
    int columns;  // 1 for scalars and vectors
    int rows;     // components of a vector or of a matrix column
};

// The type named `name`, or null.
const GlslType* glslTypeNamed(std::string_view name);
// Bytes of one component: 8 for double, 4 otherwise.
size_t componentSize(BaseType base);

// Appends the component `word` as `base` in the machine's byte order. False
// when `word` is not a number.
bool appendComponent(const std::string& word, BaseType base, std::vector<uint8_t>& bytes);

}  // namespace gl_runner
