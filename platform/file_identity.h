// Whether two paths name one file, as the file system sees it rather than as
// the names are spelled: "out.vrx", "./out.vrx", a symbolic link to it and a
// hard link to it are all the same file.
#pragma once

#include <cstdint>
#include <string>

// What tells one file from another. A file that exists is known by its
// device and file number (on Windows its volume serial number and file
// index); a file that does not exist yet by the full path a write would
// create, with the symbolic links on the way to it resolved (on Windows in
// upper case, as names there are compared).
struct FileIdentity {
    bool exists;
    uint64_t device;
    uint64_t fileNumber;
    std::string resolvedPath;
};

// The identity of the file at `path`. False when it cannot be told (a folder
// on the way that cannot be searched, a loop of links).
bool identifyFile(const char* path, FileIdentity& identity);

// True when both identities are of one file.
bool isSameFile(const FileIdentity& first, const FileIdentity& second);
