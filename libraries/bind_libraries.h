// Loading the compiler and writer libraries and binding their entry points.
#pragma once

#include "libraries/compiler_library.h"
#include "libraries/writer_library.h"
#include "platform/dynamic_library.h"

struct BoundLibraries {
    LibraryHandle compilerModule;
    CompilerLibrary compiler;
    LibraryHandle writerModule;
    WriterLibrary writer;
};

// Loads the compiler library, then the writer library, and fills both tables
// by name; a name a library lacks leaves its slot null. Returns only when both
// libraries are loaded: otherwise prints "Failed to load DLL <name>. Exiting."
// on standard output and ends the process with exit code 8.
void bindLibraries(BoundLibraries& libraries);

// Fills `table` (a record of `count` pointer-sized slots) from `library` by
// the `names` given, in order.
void bindEntryPoints(LibraryHandle library, const char* const* names, int count, void* table);

// Frees the compiler library, then the writer library.
void freeLibraries(BoundLibraries& libraries);
