// Every exit code of vrxCompile, with its cause.
#pragma once

constexpr int kExitSuccess = 0;              // output written; also usage text and -version
constexpr int kExitComputeWithStages = 1;    // compute shader with another stage
constexpr int kExitUnsupportedGpu = 1;       // -gpu value other than 1 or 2
constexpr int kExitUnsupportedLanguage = 2;  // -t word other than essl or glsl
constexpr int kExitOutOfMemory = 2;          // a source text cannot grow
constexpr int kExitCannotOpenFile = 3;       // a source or stream-out file cannot be read
constexpr int kExitWriterFailed = 4;         // the writer failed or cannot be used
constexpr int kExitBadCommandLine = 5;       // unrecognised option or missing argument
constexpr int kExitCompileFailed = 6;        // VRX2CompileProgram3 returned 0
constexpr int kExitInitializeFailed =
    7;  // VRX2Initialize returned null, or an entry point is missing
constexpr int kExitLibraryNotLoaded = 8;  // a library does not load
