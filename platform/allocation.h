// Heap allocation for the buffers whose failure the program handles itself
// (source texts, the stream-out list). Thin wrappers over the C allocation
// functions, so that a failure is a null pointer and never an exception. Test
// and fuzz builds link other definitions that can fail on purpose
// (fault_injection.h).
#pragma once

#include <cstddef>

void* allocateMemory(size_t size);
void* reallocateMemory(void* block, size_t size);
void releaseMemory(void* block);
