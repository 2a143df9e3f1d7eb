// Runs the built driver as its own process in a test folder, next to chosen
// variants of the library doubles, and collects what it left behind.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_folder.h"

struct DriverResult {
    int exitCode;
    // The console output as a text reader sees it: line ends as "\n".
    std::string standardOutput;
    std::string standardError;
    // The same bytes as written. Standard output and error are text streams,
    // so on Windows every line there ends with "\r\n".
    std::string standardOutputBytes;
    std::string standardErrorBytes;
    std::string log;  // the doubles' call log
};

struct DriverRunner {
    // Library variants copied beside the driver: folder names under
    // build/doubles/ ("mendrix-full", "tmb-older", ...); empty: none.
    std::string compilerVariant = "mendrix-full";
    std::string writerVariant = "tmb-full";
    // The driver's standard input: this file, or the null device when empty.
    std::string standardInputFile;
    // The name the driver is started by, relative to the working folder
    // (a link to it, say); empty: its full path.
    std::string startName;
    // Extra environment: a value sets the variable, nullopt removes it.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    // For a run whose fault would hang or exhaust memory: seconds until the
    // driver is killed, and its address space (not on Windows or under
    // AddressSanitizer, which reserves far more). 0: no limit.
    unsigned timeLimitSeconds = 0;
    unsigned long long memoryLimitBytes = 0;

    // Runs the driver with `arguments` in `folder` (the working directory);
    // the driver and libraries are copied to folder/bin first.
    DriverResult run(const TempFolder& folder, const std::vector<std::string>& arguments) const;
};

// `text` with its line ends as a text stream writes them on this platform:
// "\r\n" on Windows, unchanged elsewhere.
std::string textLines(const std::string& text);

// File names of the driver and the two libraries on this platform.
std::string driverFileName();
std::string compilerLibraryFileName();
std::string writerLibraryFileName();
