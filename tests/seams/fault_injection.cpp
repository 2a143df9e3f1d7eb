// Test and fuzz builds' definitions of the allocation functions and of the
// link seams, with failures to order. Every name that allocation.cpp and
// seam_defaults.cpp define is defined here too, so neither of those objects
// is taken from the archive once this one is linked.
#include "tests/seams/fault_injection.h"

#include <cstdlib>

#include "platform/allocation.h"
#include "platform/file_system.h"
#include "platform/link_seams.h"

namespace {

unsigned long long failureCountdown = 0;
unsigned long long allocationCount = 0;
bool fileSizeFailureInjected = false;
safe_files::BeforeRenameHook beforeRenameHook = nullptr;

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

int64_t fileSizeOf(FILE* stream) {
    return fileSizeFailureInjected ? -1 : measureFileSize(stream);
}

void injectFileSizeFailure(bool fail) {
    fileSizeFailureInjected = fail;
}

namespace safe_files {

void beforeRename() {
    if (beforeRenameHook != nullptr) {
        beforeRenameHook();
    }
}

void setBeforeRenameHook(BeforeRenameHook hook) {
    beforeRenameHook = hook;
}

}  // namespace safe_files
