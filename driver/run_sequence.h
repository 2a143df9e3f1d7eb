// One run of the driver, from the command line to the exit code.
#pragma once

// Binds the libraries, parses the command line, compiles one program, writes
// the side files and the output file, prints the compiler's messages,
// releases everything and returns the exit code. Fatal conditions end the
// process before returning.
int runCompile(int argumentCount, char** arguments);
