// Heap allocation for the buffers whose failure the program handles itself
// (source texts, the stream-out list). Thin wrappers over the C allocation
// functions, with a hook that lets tests make a chosen allocation fail.
#pragma once

#include <cstddef>

void* allocateMemory(size_t size);
void* reallocateMemory(void* block, size_t size);
void releaseMemory(void* block);

// Test hook: the `countdown`-th allocation or reallocation from now on fails
// (1 = the next one); 0 turns failure injection off. Returns the number of
// allocations made since the last call, so a test can size its sweep.
unsigned long long injectAllocationFailure(unsigned long long countdown);
