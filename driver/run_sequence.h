// One run of the driver, from the command line to the exit code.
#pragma once

// Binds the libraries, parses the command line, compiles one program, writes
// the side files and the output file, prints the compiler's messages,
// releases what the run made and returns the exit code, which main ends the
// process with. An early ending (usage, -version, a command-line error, out
// of memory, a library that does not load, the compute-stage error) calls no
// further entry point and frees no library; a compiler library without an
// entry point the run calls, or one that does not start, frees both.
int runCompile(int argumentCount, char** arguments);
