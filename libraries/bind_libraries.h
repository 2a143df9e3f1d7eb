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
// by name; a name a library lacks leaves its slot null. False when a library
// does not load: "Failed to load DLL <name>. Exiting." is then printed on
// standard output, a compiler library already loaded stays loaded, and the
// run ends with kExitLibraryNotLoaded.
bool bindLibraries(BoundLibraries& libraries);

// Fills `table` (a record of `count` pointer-sized slots) from `library` by
// the `names` given, in order.
void bindEntryPoints(LibraryHandle library, const char* const* names, int count, void* table);

// Frees the compiler library, then the writer library.
void freeLibraries(BoundLibraries& libraries);
