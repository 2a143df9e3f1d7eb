#include "toolchain/gl_runner/test_values.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace gl_runner {

namespace {

constexpr GlslType kTypes[] = {
    {"float", BaseType::floatType, 1, 1},    {"vec2", BaseType::floatType, 1, 2},
    {"vec3", BaseType::floatType, 1, 3},     {"vec4", BaseType::floatType, 1, 4},
    {"double", BaseType::doubleType, 1, 1},  {"dvec2", BaseType::doubleType, 1, 2},
    {"dvec3", BaseType::doubleType, 1, 3},   {"dvec4", BaseType::doubleType, 1, 4},
    {"int", BaseType::intType, 1, 1},        {"ivec2", BaseType::intType, 1, 2},
    {"ivec3", BaseType::intType, 1, 3},      {"ivec4", BaseType::intType, 1, 4},
    {"uint", BaseType::uintType, 1, 1},      {"uvec2", BaseType::uintType, 1, 2},
    {"uvec3", BaseType::uintType, 1, 3},     {"uvec4", BaseType::uintType, 1, 4},
    {"mat2", BaseType::floatType, 2, 2},     {"mat3", BaseType::floatType, 3, 3},
    {"mat4", BaseType::floatType, 4, 4},     {"mat2x2", BaseType::floatType, 2, 2},
    {"mat2x3", BaseType::floatType, 2, 3},   {"mat2x4", BaseType::floatType, 2, 4},
    {"mat3x2", BaseType::floatType, 3, 2},   {"mat3x3", BaseType::floatType, 3, 3},
    {"mat3x4", BaseType::floatType, 3, 4},   {"mat4x2", BaseType::floatType, 4, 2},
    {"mat4x3", BaseType::floatType, 4, 3},   {"mat4x4", BaseType::floatType, 4, 4},
    {"dmat2", BaseType::doubleType, 2, 2},   {"dmat3", BaseType::doubleType, 3, 3},
    {"dmat4", BaseType::doubleType, 4, 4},   {"dmat2x2", BaseType::doubleType, 2, 2},
    {"dmat2x3", BaseType::doubleType, 2, 3}, {"dmat2x4", BaseType::doubleType, 2, 4},
    {"dmat3x2", BaseType::doubleType, 3, 2}, {"dmat3x3", BaseType::doubleType, 3, 3},
    {"dmat3x4", BaseType::doubleType, 3, 4}, {"dmat4x2", BaseType::doubleType, 4, 2},
    {"dmat4x3", BaseType::doubleType, 4, 3}, {"dmat4x4", BaseType::doubleType, 4, 4},
};

bool isHex(const std::string& word) {
    size_t at = (!word.empty() && (word[0] == '-' || word[0] == '+')) ? 1 : 0;
    return word.size() > at + 2 && word[at] == '0' && (word[at + 1] == 'x' || word[at + 1] == 'X');
}

// The whole word as an integer, in hex after "0x", else decimal.
bool wholeInteger(const std::string& word, long long& value, unsigned long long& bits) {
    errno = 0;
    char* end = nullptr;
    if (isHex(word) && word[0] != '-') {
        bits = std::strtoull(word.c_str(), &end, 16);
        value = static_cast<long long>(bits);
    } else {
        value = std::strtoll(word.c_str(), &end, isHex(word) ? 16 : 10);
        bits = static_cast<unsigned long long>(value);
    }
    return end != word.c_str() && *end == '\0' && errno != ERANGE;
}

template <typename T>
void append(std::vector<uint8_t>& bytes, T value) {
    uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

}  // namespace

const GlslType* glslTypeNamed(std::string_view name) {
    for (const GlslType& type : kTypes) {
        if (type.name == name) {
            return &type;
        }
    }
    return nullptr;
}

size_t componentSize(BaseType base) {
    return base == BaseType::doubleType ? 8 : 4;
}

bool appendComponent(const std::string& word, BaseType base, std::vector<uint8_t>& bytes) {
    long long value = 0;
    unsigned long long bits = 0;
    if (base == BaseType::intType || base == BaseType::uintType ||
        (isHex(word) && word[0] != '-')) {
        if (!wholeInteger(word, value, bits)) {
            return false;
        }
        if (componentSize(base) == 8) {
            append(bytes, static_cast<uint64_t>(bits));
        } else {
            append(bytes, static_cast<uint32_t>(bits));
        }
        return true;
    }
    char* end = nullptr;
    if (base == BaseType::doubleType) {
        append(bytes, std::strtod(word.c_str(), &end));
    } else {
        append(bytes, std::strtof(word.c_str(), &end));
    }
    return end != word.c_str() && *end == '\0';
}

}  // namespace gl_runner
