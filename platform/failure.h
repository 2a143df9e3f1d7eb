// Failures reported as a value with a reason, the form every function of
// platform/ that can fail takes: `return fail(error, "cannot ...");`.
// Included by implementation files only, so that it never meets a helper of
// the same name in a file that includes a public header.
#pragma once

#include <string>
#include <utility>

// Stores `message` in `error` and returns false.
inline bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}
