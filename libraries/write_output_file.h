// Writing the compiled program through the writer library.
#pragma once

#include <cstdint>

#include "libraries/writer_library.h"

enum class OutputMode { Write, Append, Header };

struct OutputSettings {
    OutputMode mode;
    const char* outputPath;
    uint32_t gpuVersion;      // 1 or 2; not passed in header mode
    uint32_t endianSwapMode;  // 2: 8-in-32 byte swap of the output data; 0: none
    uint32_t
        alignPadding;  // 1: alignment blocks between header and data; not passed in header mode
};

// Calls at most one write entry point: the mode's newer form when bound,
// otherwise its older form (refused for a compute stage). Returns exit code 0
// when the writer reported success, 4 otherwise; the driver's own messages
// for a writer that cannot be used go to standard error.
int writeOutputFile(const WriterLibrary& writer, const OutputSettings& settings,
                    const WriterOptions& shaders);
