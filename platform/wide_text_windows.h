// Conversions between the ANSI code page the C runtime hands the driver its
// arguments in and the wide text of the Windows W functions, which are not
// limited to MAX_PATH characters.
#pragma once

#include <string>

// `text` converted from the ANSI code page. False when it does not convert.
bool widenAnsiText(const char* text, std::wstring& wide);

// `wide` converted to the ANSI code page into `buffer` of `size` bytes with a
// terminator. False when it does not convert or does not fit.
bool narrowToAnsiText(const std::wstring& wide, char* buffer, size_t size);

// The absolute form of `path` (no MAX_PATH limit), or `path` itself when it
// cannot be had.
std::wstring wideFullPath(const std::wstring& path);
