// Reading a secret (a password) from a file only its user can read.
#pragma once

#include <cstdint>
#include <string>

namespace safe_files {

// Reads the file at `path` whole when it is a regular file (a link at the
// last component is not followed) of this user that its group and everyone
// else can neither read nor write, and at most `maxBytes` long. Otherwise
// false with the reason in `error`. POSIX only: on Windows the ACL decides.
bool readPrivateFile(const std::string& path, uint64_t maxBytes, std::string& text,
                     std::string& error);

}  // namespace safe_files
