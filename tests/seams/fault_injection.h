// Failure injection, in test and fuzz builds only: their targets link
// fault_injection.cpp (target vrx_fault_injection) ahead of vrx_platform, and
// its definitions of the allocation functions, of fileSizeOf and of the
// moment before a rename take the place of the production ones. A production
// build contains none of this.
#pragma once

// The `countdown`-th allocation or reallocation from now on fails (1 = the
// next one); 0 turns failure injection off. Returns the number of
// allocations made since the last call, so a test can size its sweep.
unsigned long long injectAllocationFailure(unsigned long long countdown);

// While `fail` is true, fileSizeOf answers -1 as for a file whose size
// cannot be taken.
void injectFileSizeFailure(bool fail);

namespace safe_files {

// Called after a temporary file is written and flushed and before it is
// renamed over its target. Null (the default) does nothing. A test sets one
// that ends the process to imitate a kill at the worst moment.
using BeforeRenameHook = void (*)();
void setBeforeRenameHook(BeforeRenameHook hook);

}  // namespace safe_files
