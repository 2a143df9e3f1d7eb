// Shared by the library doubles: the call log and the scripted settings.
//
// Every call is appended to the file named by VRXDOUBLE_LOG as one line with
// the entry point's name, followed by one line per decoded field:
//     VRX2CompileProgram3
//       request.compileFlags=0x00000010
// Texts are written in double quotes with C escapes; absent pointers as null.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#define DOUBLE_EXPORT extern "C" __declspec(dllexport)
#else
#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The text, quoted, with non-printable bytes escaped so one field stays on one line.
inline std::string quoted(const char* text) {
    if (text == nullptr) {
        return "null";
    }
    std::string result = "\"";
    for (const unsigned char* cursor = reinterpret_cast<const unsigned char*>(text); *cursor;
         ++cursor) {
        switch (*cursor) {
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\t':
                result += "\\t";
                break;
            case '"':
                result += "\\\"";
                break;
            case '\\':
                result += "\\\\";
                break;
            default:
                if (*cursor < 0x20 || *cursor >= 0x7f) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\x%02x", *cursor);
                    result += escape;
                } else {
                    result += static_cast<char>(*cursor);
                }
        }
    }
    return result + "\"";
}

inline std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

inline std::string hex64(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(value));
    return text;
}

// True when a log file is named, so that entries are worth making.
inline bool loggingRequested() {
    return std::getenv("VRXDOUBLE_LOG") != nullptr;
}

// Appends a finished entry to the log file, if one is named.
inline void appendToLog(const std::string& entry) {
    const char* path = std::getenv("VRXDOUBLE_LOG");
    if (path == nullptr) {
        return;
    }
    if (FILE* file = std::fopen(path, "ab")) {
        std::fwrite(entry.data(), 1, entry.size(), file);
        std::fclose(file);
    }
}

inline void addField(std::string& entry, const char* key, const std::string& value) {
    entry += "  ";
    entry += key;
    entry += '=';
    entry += value;
    entry += '\n';
}

// A numeric setting (decimal, or hexadecimal with 0x), or `fallback` when unset.
inline long long numberSetting(const char* name, long long fallback) {
    const char* value = std::getenv(name);
    return value == nullptr ? fallback : std::strtoll(value, nullptr, 0);
}

// Stage records are tagged by the compiler double with the set's address so
// that the writer double can tell which record of which set it was given.
constexpr char kStageTag[8] = {'V', 'R', 'X', 'S', 'T', 'A', 'G', 'E'};

inline std::string describeStagePointer(const void* record) {
    if (record == nullptr) {
        return "null";
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(record);
    if (std::memcmp(bytes, kStageTag, sizeof kStageTag) != 0) {
        return "untagged";
    }
    uint64_t setAddress;
    std::memcpy(&setAddress, bytes + 8, sizeof setAddress);
    uint64_t address = reinterpret_cast<uintptr_t>(record);
    return "set+" + std::to_string(address - setAddress);
}
