#include "toolchain/tmb/vrx_json.h"

#include <cstdio>

namespace tmb {

namespace {

std::string escapedByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", byte);
    return text;
}

// Length of the valid UTF-8 sequence starting at `at`, 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
size_t utf8Length(std::string_view bytes, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    const unsigned char lead = byte(0);
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (lead >= 0xF5 || lead == 0xC0 || lead == 0xC1 || length == 0 || bytes.size() - at < length) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const unsigned char second = byte(1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) {
        return 0;
    }
    return length;
}

}  // namespace

std::string jsonString(std::string_view bytes) {
    std::string out = "\"";
    for (size_t at = 0; at < bytes.size();) {
        const unsigned char byte = static_cast<unsigned char>(bytes[at]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || byte == 0x7F) {
            out += escapedByte(byte);
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
        } else if (size_t length = utf8Length(bytes, at); length != 0) {
            out.append(bytes.substr(at, length));
            at += length;
            continue;
        } else {
            out += escapedByte(byte);
        }
        ++at;
    }
    return out + "\"";
}

std::string describeShaderFileJson(const ShaderFile& file, size_t fileSize) {
    using std::to_string;
    std::string json =
        "{\"formatVersion\": " + to_string(file.formatVersion) +
        ", \"fileSize\": " + to_string(fileSize) +
        ", \"gpuVersion\": " + to_string(file.gpuVersion) +
        ", \"endianSwapMode\": " + to_string(file.endianSwapMode) +
        ", \"alignment\": " + to_string(file.aligned ? kPaddedAlignment : kPlainAlignment) +
        ",\n \"programs\": [";
    const std::vector<uint32_t> offsets = binaryOffsets(file);
    size_t stageIndex = 0;
    for (size_t p = 0; p < file.programs.size(); ++p) {
        json += p == 0 ? "\n  {\"stages\": [" : ",\n  {\"stages\": [";
        const std::vector<Stage>& stages = file.programs[p].stages;
        for (size_t s = 0; s < stages.size(); ++s, ++stageIndex) {
            const Stage& stage = stages[s];
            json += std::string(s == 0 ? "\n" : ",\n") +
                    "    {\"kind\": " + jsonString(stageKindName(stage.kind)) +
                    ", \"binaryFormat\": " + jsonString(binaryFormatName(stage.binaryFormat)) +
                    ", \"binarySize\": " + to_string(stage.binary.size()) + ", \"binaryOffset\": " +
                    to_string(stageIndex < offsets.size() ? offsets[stageIndex] : 0) +
                    ", \"flags\": " + to_string(stage.flags) +
                    ", \"languageVersion\": " + to_string(stage.languageVersion) +
                    ", \"optimizationFlags\": " + jsonString(toHex(stage.optimizationFlags, 16)) +
                    ", \"hash\": ";
            if ((stage.flags & kStageFlagHash) != 0) {
                std::string hex;
                for (uint8_t b : stage.hash) {
                    hex += toHex(b, 2).substr(2);
                }
                json += jsonString(hex);
            } else {
                json += "null";
            }
            std::vector<ReflectionEntry> entries;
            std::string error;
            parseReflection(stage.reflection, entries, error);  // the file was validated
            json += ",\n     \"reflection\": [";
            for (size_t e = 0; e < entries.size(); ++e) {
                const ReflectionEntry& entry = entries[e];
                json += std::string(e == 0 ? "\n" : ",\n") + "      {\"category\": " +
                        jsonString(reflectionCategoryName(entry.category)) +
                        ", \"location\": " + to_string(entry.location) +
                        ", \"type\": " + to_string(entry.type) +
                        ", \"arraySize\": " + to_string(entry.arraySize) +
                        ", \"name\": " + jsonString(entry.name) + "}";
            }
            json += "]}";
        }
        json += "]}";
    }
    return json + "]}\n";
}

}  // namespace tmb
