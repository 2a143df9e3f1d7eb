// Loading a storage client library (libhiredis, libcurl) on first use, by
// its soname, and binding its entry points by name. A library is loaded at
// most once per process and never unloaded: it may hold threads and global
// state of its own.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/dynamic_library.h"
#include "toolchain/mendrix/remote/storage_client.h"

namespace mendrix::remote {

struct EntryPointName {
    const char* name;
    size_t offset;  // of the function pointer in the table
};

// Fills the table at `table` with the entry points `names` of the library
// `soname`; false with `error` when the library or one of them is missing.
inline bool bindClientLibrary(const char* soname, const EntryPointName* names, size_t count,
                              void* table, std::string& error) {
    LibraryHandle library = loadDynamicLibrary(soname);
    if (library == nullptr) {
        error = std::string(soname) + " cannot be loaded";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        void* address = findLibrarySymbol(library, names[i].name);
        if (address == nullptr) {
            error = std::string(soname) + " lacks " + names[i].name;
            return false;
        }
        std::memcpy(static_cast<char*>(table) + names[i].offset, &address, sizeof address);
    }
    return true;
}

// Runs `request` with the entry points `bind` gives, or answers
// `unavailable` with why the library cannot be used.
template <typename EntryPoints, typename Request>
StorageAnswer withClientLibrary(const EntryPoints* (*bind)(std::string&), const Request& request) {
    std::string error;
    const EntryPoints* api = bind(error);
    if (api == nullptr) {
        StorageAnswer answer;
        answer.outcome = StorageOutcome::unavailable;
        answer.error = error;
        return answer;
    }
    return request(*api);
}

}  // namespace mendrix::remote
