#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>

#include "platform/dynamic_library.h"

const char* const kCompilerLibraryFileName = "libmendrix.so";
const char* const kWriterLibraryFileName = "libtmb.so";

namespace {

// Where the private library folder lies, relative to the executable's.
constexpr const char kInstalledLibraryFolder[] = "../lib/vrxcompile/";

// Writes the executable's own folder with a trailing '/' into `buffer` and
// returns its length, or 0 when it cannot be had or leaves less than
// `reserve` bytes free behind it.
size_t ownFolder(char* buffer, size_t size, size_t reserve) {
    ssize_t length = readlink("/proc/self/exe", buffer, size);
    if (length <= 0 || static_cast<size_t>(length) + reserve >= size) {
        return 0;
    }
    while (length > 0 && buffer[length - 1] != '/') {
        --length;
    }
    return static_cast<size_t>(length);
}

bool fileExists(const char* path) {
    return access(path, F_OK) == 0;
}

}  // namespace

LibraryHandle loadApplicationLibrary(const char* fileName) {
    // Full paths keep the loader from searching anything, and without a
    // RUNPATH on the driver the C library is no longer looked for in its
    // folder either.
    char path[PATH_MAX + sizeof kInstalledLibraryFolder + NAME_MAX];
    size_t nameLength = std::strlen(fileName);
    size_t folderLength =
        ownFolder(path, sizeof path, sizeof kInstalledLibraryFolder + nameLength + 1);
    if (folderLength != 0) {
        std::memcpy(path + folderLength, fileName, nameLength + 1);
        if (fileExists(path)) {
            return loadDynamicLibrary(path);
        }
        std::memcpy(path + folderLength, kInstalledLibraryFolder, sizeof kInstalledLibraryFolder);
        std::memcpy(path + folderLength + sizeof kInstalledLibraryFolder - 1, fileName,
                    nameLength + 1);
        if (fileExists(path)) {
            return loadDynamicLibrary(path);
        }
    }
    // A bare name: LD_LIBRARY_PATH, then the system folders; never the
    // current folder.
    return loadDynamicLibrary(fileName);
}

LibraryHandle loadDynamicLibrary(const char* path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* findLibrarySymbol(LibraryHandle library, const char* name) {
    return dlsym(library, name);
}

void freeDynamicLibrary(LibraryHandle library) {
    dlclose(library);
}
