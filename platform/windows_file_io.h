// Small Windows helpers shared by the file helpers of this folder
// (safe_files_windows.cpp, folder_handle_windows.cpp); nothing outside
// platform/ includes this header.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstddef>
#include <string>

namespace safe_files::windows {

// `what`, a colon and the system's text for GetLastError().
std::string systemError(const std::string& what);

// The wide form of a path in the ANSI code page; empty when it does not
// convert, which every W function refuses as a missing file.
std::wstring widen(const std::string& text);

// The absolute form of `path` (GetFullPathNameW); `path` widened when that fails.
std::wstring fullPath(const std::string& path);

// A part of a temporary file name that no other writer draws at the same moment.
std::wstring uniqueNamePart();

// Writes all `size` bytes, in pieces the API accepts.
bool writeAll(HANDLE file, const void* data, size_t size);

}  // namespace safe_files::windows
