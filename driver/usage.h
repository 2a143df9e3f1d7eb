// The help text and the version report, both on standard output.
#pragma once

#include <cstdint>

void printUsage();

// "vrxCompile compiled on <build date>" and the compiler library's ABI
// version, or that it is unknown when `libraryAbiVersion` is 0.
void printVersionReport(uint32_t libraryAbiVersion);
