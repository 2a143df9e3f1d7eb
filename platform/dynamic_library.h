// Loading the driver's shared libraries and looking up their exports.
#pragma once

using LibraryHandle = void*;

// File names of the two libraries the driver loads on this platform.
extern const char* const kCompilerLibraryFileName;  // mendrix.dll / libmendrix.so
extern const char* const kWriterLibraryFileName;    // tmb.dll / libtmb.so

// Loads the library `fileName` by one rule on every platform:
// 1. <the executable's own folder>/<fileName>, by full path, when that file
//    exists;
// 2. otherwise <own folder>/../lib/vrxcompile/<fileName> when it exists (the
//    installed layout: executables in PREFIX/bin, libraries in a private
//    PREFIX/lib/vrxcompile);
// 3. otherwise the bare name through the platform's search (LD_LIBRARY_PATH
//    and the system folders; on Windows the system folders and PATH, with
//    the current folder taken out). The current folder is never searched.
// A file found in step 1 or 2 that does not load is not replaced by another
// one. Null when nothing loads.
LibraryHandle loadApplicationLibrary(const char* fileName);

// Loads the library at `path` (a full path, or a bare name searched as in
// step 3 above). Null when it does not load.
LibraryHandle loadDynamicLibrary(const char* path);

// Address of the export `name`, or null when the library lacks it.
void* findLibrarySymbol(LibraryHandle library, const char* name);

void freeDynamicLibrary(LibraryHandle library);
