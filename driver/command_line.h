// The command line: everything it decides, and the parser that fills it.
#pragma once

#include <cstdint>

#include "driver/optimization_options.h"

struct CommandLineOptions {
    char* vertexSource;  // loaded texts (heap); null: stage not given
    char* pixelSource;
    char* geometrySource;
    const char* vertexPath;  // full path, or the argument when it has none
    const char* pixelPath;
    const char* geometryPath;
    char** streamOutVaryings;  // names of the -so file (heap), or null
    uint32_t streamOutCount;
    int32_t gpuVersion;      // 1 or 2
    const char* outputPath;  // the argument, or "output.vrx"
    int32_t esslLanguage;
    int32_t endianBugFix;
    int32_t alignPadding;
    int32_t appendOutput;
    int32_t forceUniformBlock;
    int32_t headerOutput;
    int32_t dumpDebugInfo;
    OptimizationFlags optimizationFlags;
    int32_t noQuarn;
    const char* quarnDirectory;  // the argument, or null
    char* computeSource;
    const char* computePath;
    int32_t instructionStats;
    int32_t noLimitArraySymbols;
};

// Parses the whole command line into `options` (cleared first) in one pass,
// loading each source and the stream-out list when its option is met.
// Returns true; the usage text, -version and every error end the process.
// `libraryAbiVersion` (0: unknown) is only reported by -version.
bool parseCommandLine(int argumentCount, char** arguments, CommandLineOptions& options,
                      uint32_t libraryAbiVersion);
