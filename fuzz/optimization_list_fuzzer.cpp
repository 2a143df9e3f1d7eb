// parseOptimizationList on any list. The first eight bytes of the input are
// the mask it starts from, the rest is the list.
#include <cstdint>
#include <cstring>
#include <string>

#include "driver/optimization_options.h"
#include "fuzz/fuzz_support.h"

namespace {

// Every bit some row of the table can set.
OptimizationFlags settableBits() {
    OptimizationFlags bits = 0;
    for (const OptimizationOption* row = kOptimizationOptions; row->name != nullptr; ++row) {
        bits |= row->bits;
    }
    return bits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OptimizationFlags mask = 0;
    size_t maskBytes = size < sizeof mask ? size : sizeof mask;
    std::memcpy(&mask, data, maskBytes);
    std::string list(reinterpret_cast<const char*>(data) + maskBytes, size - maskBytes);

    OptimizationFlags result = parseOptimizationList(mask, list.c_str());
    // A list sets only bits of the table and clears a bit only through a
    // row; the array-symbol bit is in no row, so it survives unless a
    // resetting row clears the whole mask.
    static const OptimizationFlags settable = settableBits();
    FUZZ_CHECK((result & ~(mask | settable)) == 0);
    FUZZ_CHECK((result & kLimitArraySymbols) == 0 || (mask & kLimitArraySymbols) != 0);
    if ((mask & kLimitArraySymbols) != 0 && (result & kLimitArraySymbols) == 0) {
        FUZZ_CHECK(result == 0 || list.find("none") != std::string::npos ||
                   list.find('0') != std::string::npos);
    }
    // Null and empty lists change nothing.
    FUZZ_CHECK(parseOptimizationList(mask, nullptr) == mask);
    FUZZ_CHECK(parseOptimizationList(mask, "") == mask);
    return 0;
}
