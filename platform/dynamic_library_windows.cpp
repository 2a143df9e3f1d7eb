#include <windows.h>

#include <string>

#include "platform/dynamic_library.h"

const char* const kCompilerLibraryFileName = "mendrix.dll";
const char* const kWriterLibraryFileName = "tmb.dll";

LibraryHandle loadDynamicLibrary(const char* fileName) {
    // The loader takes wide names; the library names are plain ASCII.
    std::wstring wideName(fileName, fileName + std::char_traits<char>::length(fileName));
    return LoadLibraryW(wideName.c_str());
}

void* findLibrarySymbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeDynamicLibrary(LibraryHandle library) {
    FreeLibrary(static_cast<HMODULE>(library));
}
