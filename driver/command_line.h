// The command line: everything it decides, and the parser that fills it.
#pragma once

#include <cstdint>

#include "driver/dependency_file.h"
#include "driver/optimization_options.h"
#include "platform/file_system.h"
#include "source/shader_source.h"

// Filled by parseCommandLine and kept for the whole run: the stage paths and
// the request point into it, so it is never copied.
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
    // Full paths of the stage files, which the paths above point to.
    char vertexFullPath[kFullPathBufferSize];
    char pixelFullPath[kFullPathBufferSize];
    char geometryFullPath[kFullPathBufferSize];
    char computeFullPath[kFullPathBufferSize];
};

// What the parser works with besides the arguments.
struct ParseContext {
    uint32_t libraryAbiVersion;  // only reported by -version; 0: unknown
    ShaderSourceLoader* loader;  // loads every source
    // Gets every file read (sources, includes, the stream-out list); null
    // when no dependency file is asked for.
    DependencyList* dependencies;
};

// How a parse ended: the run goes on, or it ends with `exitCode`, every
// message already printed.
struct ParseResult {
    bool proceed;
    int exitCode;
};

// Parses the whole command line into `options` (cleared first) in one pass,
// loading each source and the stream-out list when its option is met. The
// usage text, -version and every error end the parse at once, after their
// message: nothing after them is looked at or opened. Whatever ending, the
// texts loaded so far are in `options` for the caller to release.
ParseResult parseCommandLine(int argumentCount, char** arguments, CommandLineOptions& options,
                             ParseContext& context);
