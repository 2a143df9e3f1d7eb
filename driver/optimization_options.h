// The optimisation mask handed to the compiler and the named options that
// build it from lists such as "all,no-fastmath".
#pragma once

#include <cstdint>

#include "libraries/compiler_records.h"

using OptimizationFlags = uint64_t;

struct OptimizationOption {
    const char* name;         // null only in the closing row
    const char* description;  // null: accepted in lists, not listed in the help text
    OptimizationFlags bits;   // set, cleared, or (when 0) the mask reset to 0
};

// The table of named options, closed by a row whose name is null.
extern const OptimizationOption kOptimizationOptions[];

// Applies the comma-separated `list` (null or empty: no change) to `mask` and
// returns the result. Each item may carry one prefix, "no-" or "!", that
// clears the row's bits instead of setting them; rows with bits 0 reset the
// mask either way. An item that names no row is reported on standard error
// with the rest of the list, and the items from there on are ignored.
OptimizationFlags parseOptimizationList(OptimizationFlags mask, const char* list);
