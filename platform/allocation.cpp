#include "platform/allocation.h"

#include <cstdlib>

namespace {
unsigned long long failureCountdown = 0;
unsigned long long allocationCount = 0;

bool shouldFail() {
    ++allocationCount;
    if (failureCountdown == 0) {
        return false;
    }
    return --failureCountdown == 0;
}
}  // namespace

void* allocateMemory(size_t size) {
    return shouldFail() ? nullptr : std::malloc(size);
}

void* reallocateMemory(void* block, size_t size) {
    return shouldFail() ? nullptr : std::realloc(block, size);
}

void releaseMemory(void* block) {
    std::free(block);
}

unsigned long long injectAllocationFailure(unsigned long long countdown) {
    unsigned long long made = allocationCount;
    allocationCount = 0;
    failureCountdown = countdown;
    return made;
}
