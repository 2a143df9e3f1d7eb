#include <dlfcn.h>

#include "platform/dynamic_library.h"

const char* const kCompilerLibraryFileName = "libmendrix.so";
const char* const kWriterLibraryFileName = "libtmb.so";

LibraryHandle loadDynamicLibrary(const char* fileName) {
    // A bare name makes the loader search LD_LIBRARY_PATH, then the
    // executable's RUNPATH ($ORIGIN), then the system folders.
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* findLibrarySymbol(LibraryHandle library, const char* name) {
    return dlsym(library, name);
}

void freeDynamicLibrary(LibraryHandle library) {
    dlclose(library);
}
