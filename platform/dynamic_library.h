// Loading shared libraries by bare file name and looking up their exports.
#pragma once

using LibraryHandle = void*;

// File names of the two libraries the driver loads on this platform.
extern const char* const kCompilerLibraryFileName;  // mendrix.dll / libmendrix.so
extern const char* const kWriterLibraryFileName;    // tmb.dll / libtmb.so

// Loads `fileName` through the platform's standard search order (the
// executable's own folder included). Null when it does not load.
LibraryHandle loadDynamicLibrary(const char* fileName);

// Address of the export `name`, or null when the library lacks it.
void* findLibrarySymbol(LibraryHandle library, const char* name);

void freeDynamicLibrary(LibraryHandle library);
