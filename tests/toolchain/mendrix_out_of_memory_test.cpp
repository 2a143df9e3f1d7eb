// Memory that runs out inside a compile ends it with a log that says so. The
// test program's operator new (not inlined, so that callers pair it with the
// default delete, which calls free) fails blocks of a chosen size or more.
// Not under AddressSanitizer, whose own new and delete pair up.
#ifndef __SANITIZE_ADDRESS__
#include <cstdlib>
#include <new>

#include "tests/toolchain/mendrix_support.h"

static size_t failingSize = 0;  // 0: no allocation fails

[[gnu::noinline]] void* operator new(size_t size) {
    void* memory = failingSize != 0 && size >= failingSize ? nullptr : std::malloc(size + 1);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

TEST(MendrixOutOfMemory, LogSaysOutOfMemory) {
    // Rebuilding the 2 MiB text for its line map is the first work of the
    // compile that needs a block of 1 MiB or more.
    TempFolder folder;
    std::string text = "void main() {}\n" + std::string(2 << 20, '\n');
    std::string path = folder.write("big.vert", text);
    text += "\n";
    mendrix::Compiler compiler(2);
    failingSize = 1 << 20;
    mendrix_test::Compiled compiled(
        compiler, mendrix_test::makeRequest({.vertex = text.c_str(), .vertexPath = path.c_str()}));
    failingSize = 0;
    EXPECT_FALSE(compiled.ok);
    EXPECT_EQ(compiled.log(), path + ":0: error: out of memory");
}
#endif
