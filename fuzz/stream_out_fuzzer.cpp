// readStreamOutList on a file holding the input.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "source/stream_out_list.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    writeFile("list.so", bytes);
    uint32_t count = 12345;
    char** names = readStreamOutList("list.so", count);
    FUZZ_CHECK(names != nullptr);

    // One name per line; a last line without a newline is a name too.
    size_t lines = 0;
    size_t lineStart = 0;
    for (size_t newline = bytes.find('\n'); newline != std::string_view::npos;
         newline = bytes.find('\n', lineStart)) {
        std::string_view line = bytes.substr(lineStart, newline - lineStart);
        FUZZ_CHECK(lines < count);
        // A name is its line without the line end, cut at a NUL byte.
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        std::string_view expected = line.substr(0, line.find('\0'));
        FUZZ_CHECK(expected == names[lines]);
        ++lines;
        lineStart = newline + 1;
    }
    if (lineStart < bytes.size()) {
        FUZZ_CHECK(lines < count);
        std::string_view line = bytes.substr(lineStart);
        FUZZ_CHECK(line.substr(0, line.find('\0')) == names[lines]);
        ++lines;
    }
    FUZZ_CHECK(lines == count);
    freeStringArray(names, count);
    return 0;
}
