#include <dlfcn.h>
#include <limits.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/dynamic_library.h"

const char* const kCompilerLibraryFileName = "libmendrix.so";
const char* const kWriterLibraryFileName = "libtmb.so";

namespace {

// Where the private library folder lies, relative to the executable's.
constexpr const char kInstalledLibraryFolder[] = "../lib/vrxcompile/";

// The longest own folder kept, with its trailing '/'.
constexpr size_t kOwnFolderCapacity = PATH_MAX;

// Length of the folder part of `path`: up to and including the last '/'.
size_t folderLengthOf(const char* path, size_t length) {
    while (length > 0 && path[length - 1] != '/') {
        --length;
    }
    return length;
}

// The folder of the name the executable was started by, as the kernel hands
// it to the process. It names the executable's own folder unless that name
// is a link (then the link's target counts), or is too long to keep. Folder
// links on the way need no care: the library's path is resolved through them
// the same way, ".." included. Reading this costs no system call, where
// /proc/self/exe costs the first look into /proc of each new process, a
// noticeable share of a call.
size_t folderOfStartName(char* buffer) {
    const char* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    size_t length = std::strlen(name);
    struct stat status;
    if (length >= kOwnFolderCapacity || lstat(name, &status) != 0 || S_ISLNK(status.st_mode)) {
        return 0;
    }
    size_t folderLength = folderLengthOf(name, length);
    if (folderLength == 0) {
        // Started by a name without a folder: the current one, which the
        // process has not left yet. "./" keeps the loader from searching.
        std::memcpy(buffer, "./", 3);
        return 2;
    }
    std::memcpy(buffer, name, folderLength);
    buffer[folderLength] = '\0';
    return folderLength;
}

// The executable's own folder with a trailing '/', found once per run; an
// empty text when it cannot be had.
const char* ownFolder(size_t& length) {
    static char folder[kOwnFolderCapacity];
    static size_t folderLength = 0;
    static bool known = false;
    if (!known) {
        known = true;
        folderLength = folderOfStartName(folder);
        if (folderLength == 0) {
            // A link that fills the buffer may have been cut short.
            ssize_t linkLength = readlink("/proc/self/exe", folder, sizeof folder - 1);
            bool whole = linkLength > 0 && static_cast<size_t>(linkLength) < sizeof folder - 1;
            folderLength = whole ? folderLengthOf(folder, static_cast<size_t>(linkLength)) : 0;
        }
        folder[folderLength] = '\0';
    }
    length = folderLength;
    return folder;
}

}  // namespace

LibraryHandle loadApplicationLibrary(const char* fileName) {
    // Full paths keep the loader from searching anything, and without a
    // RUNPATH on the driver the C library is no longer looked for in its
    // folder either. Loading comes first and the file's presence is asked
    // only when it fails: the common call pays for nothing more. A file
    // that is there but does not load ends the search.
    size_t folderLength = 0;
    const char* folder = ownFolder(folderLength);
    size_t nameLength = std::strlen(fileName);
    if (folderLength != 0 && nameLength <= NAME_MAX) {
        char path[kOwnFolderCapacity + sizeof kInstalledLibraryFolder + NAME_MAX + 1];
        std::memcpy(path, folder, folderLength);
        // Beside the driver, then in the installed layout's library folder.
        const char* const places[] = {"", kInstalledLibraryFolder};
        for (const char* place : places) {
            size_t placeLength = std::strlen(place);
            std::memcpy(path + folderLength, place, placeLength);
            std::memcpy(path + folderLength + placeLength, fileName, nameLength + 1);
            LibraryHandle library = loadDynamicLibrary(path);
            if (library != nullptr || access(path, F_OK) == 0) {
                return library;
            }
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
