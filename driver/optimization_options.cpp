#include "driver/optimization_options.h"

#include <cstdio>
#include <cstring>

const OptimizationOption kOptimizationOptions[] = {
    {"1", nullptr, kAllOptimizations},
    {"0", nullptr, 0},
    {"const", "additional constant propagation optimizations", kOptimizeConstants},
    {"fastmath", "enable optimizations that may violate strict IEEE semantics", kOptimizeFastMath},
    {"loopexpr", "allow unrolling of loops with complex expressions", kOptimizeLoopUnroll},
    {"loopvar", "analyze variables to find loop variable initialization", kOptimizeLoopVariables},
    {"sc", "enable backend shader compiler optimizations", kOptimizeBackend},
    {"unusedvar", "remove assignments to variables that are never used", kOptimizeUnusedStores},
    {"glsl", "run an initial glsl->glsl optimization pass to remove unused code and variables",
     kOptimizeUnusedCode},
    {"all", "enable all optimizations", kAllOptimizations},
    {"none", nullptr, 0},
    {nullptr, nullptr, 0},
};

namespace {

constexpr const char* kUnknownOptionFormat = "Unknown optimization option: %s\n";

// The row whose name is the whole item at `cursor` (ended by the list's end
// or a comma), or null.
const OptimizationOption* findOption(const char* cursor) {
    for (const OptimizationOption* row = kOptimizationOptions; row->name != nullptr; ++row) {
        size_t length = std::strlen(row->name);
        if (std::strncmp(cursor, row->name, length) == 0 &&
            (cursor[length] == '\0' || cursor[length] == ',')) {
            return row;
        }
    }
    return nullptr;
}

}  // namespace

OptimizationFlags parseOptimizationList(OptimizationFlags mask, const char* list) {
    if (list == nullptr) {
        return mask;
    }
    const char* cursor = list;
    while (*cursor != '\0') {
        bool negated = false;
        if (std::strncmp(cursor, "no-", 3) == 0) {
            cursor += 3;
            negated = true;
        } else if (*cursor == '!') {
            cursor += 1;
            negated = true;
        }
        const OptimizationOption* row = findOption(cursor);
        if (row == nullptr) {
            std::fprintf(stderr, kUnknownOptionFormat, cursor);
            return mask;
        }
        if (row->bits == 0) {
            mask = 0;
        } else if (negated) {
            mask &= ~row->bits;
        } else {
            mask |= row->bits;
        }
        cursor += std::strlen(row->name);
        while (*cursor == ',') {
            ++cursor;
        }
    }
    return mask;
}
