#include "platform/allocation.h"

#include <cstdlib>

void* allocateMemory(size_t size) {
    return std::malloc(size);
}

void* reallocateMemory(void* block, size_t size) {
    return std::realloc(block, size);
}

void releaseMemory(void* block) {
    std::free(block);
}
