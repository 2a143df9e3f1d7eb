// What the fuzz targets share: a scratch folder of their own that is the
// working folder while they run, and byte-exact file helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Makes a fresh folder under the system's temporary folder, makes it the
// working folder and removes it with its contents when the process ends.
// Returns its absolute path. Later calls return the same folder.
const std::string& enterScratchFolder();

// Writes `bytes` exactly to `path` (relative to the working folder), replacing
// what was there. Aborts when it cannot, since every later check would be
// meaningless.
void writeFile(const std::string& path, std::string_view bytes);

// Removes every entry of the folder `path`, keeping the folder.
void emptyFolder(const std::string& path);

// Ends the fuzz run with a finding: prints `what` and aborts, so that the
// fuzzer keeps the input that led here.
[[noreturn]] void reportFinding(const char* what);

#define FUZZ_CHECK(condition)                                      \
    do {                                                           \
        if (!(condition)) {                                        \
            reportFinding(__FILE__ ": check failed: " #condition); \
        }                                                          \
    } while (false)
