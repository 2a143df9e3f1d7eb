#include "toolchain/tmb/vrx_describe.h"

#include <algorithm>

namespace tmb {

namespace {

// `text` padded with spaces to `width` characters.
std::string padded(std::string text, size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

std::string flagNames(uint32_t flags) {
    static const struct {
        uint32_t bit;
        const char* name;
    } kNames[] = {{0x1, "hash"}, {0x2, "force-uniform-block"}, {0x4, "essl"}};
    std::string names;
    for (const auto& entry : kNames) {
        if ((flags & entry.bit) != 0) {
            names += names.empty() ? "" : ", ";
            names += entry.name;
        }
    }
    return names.empty() ? "none" : names;
}

}  // namespace

std::string describeShaderFile(const ShaderFile& file, size_t fileSize) {
    using std::to_string;
    std::string text;
    text += "format version:   " + to_string(file.formatVersion) + "\n";
    text += "file size:        " + to_string(fileSize) + " bytes\n";
    text += "GPU version:      " + to_string(file.gpuVersion) + "\n";
    text += "endian swap mode: " + to_string(file.endianSwapMode) +
            (file.endianSwapMode == kSwap8In32 ? " (8-in-32 byte swap of stage binaries)\n"
                                               : " (none)\n");
    text += "alignment:        " + to_string(file.aligned ? kPaddedAlignment : kPlainAlignment) +
            (file.aligned ? " (padded)\n" : " (unpadded)\n");
    text += "programs:         " + to_string(file.programs.size()) + "\n";

    const std::vector<uint32_t> offsets = binaryOffsets(file);
    size_t stageIndex = 0;
    for (size_t p = 0; p < file.programs.size(); ++p) {
        const Program& program = file.programs[p];
        text += "\nprogram " + to_string(p) + ": " + to_string(program.stages.size()) +
                (program.stages.size() == 1 ? " stage\n" : " stages\n");
        for (const Stage& stage : program.stages) {
            const uint32_t offset = stageIndex < offsets.size() ? offsets[stageIndex] : 0;
            ++stageIndex;
            text += std::string("  ") + stageKindName(stage.kind) + " stage\n";
            text += std::string("    binary:       ") + binaryFormatName(stage.binaryFormat) +
                    ", " + to_string(stage.binary.size()) + " bytes at offset " + toHex(offset) +
                    "\n";
            text +=
                "    flags:        " + toHex(stage.flags) + " (" + flagNames(stage.flags) + ")\n";
            text += "    language:     " + to_string(stage.languageVersion) + "\n";
            text += "    optimisation: " + toHex(stage.optimizationFlags, 16) + "\n";
            text += "    hash:         ";
            if ((stage.flags & kStageFlagHash) != 0) {
                for (uint8_t b : stage.hash) {
                    text += toHex(b, 2).substr(2);
                }
                text += "\n";
            } else {
                text += "none\n";
            }
            std::vector<ReflectionEntry> entries;
            std::string error;
            if (!parseReflection(stage.reflection, entries, error)) {
                text += "    reflection:   invalid (" + error + ")\n";
                continue;
            }
            text += "    reflection:   " + to_string(entries.size()) +
                    (entries.size() == 1 ? " entry\n" : " entries\n");
            for (const ReflectionEntry& entry : entries) {
                text += "      " + padded(reflectionCategoryName(entry.category), 14) +
                        "location " + padded(to_string(entry.location), 5) + "type " +
                        padded(toHex(entry.type, 4), 11) + "array " +
                        padded(to_string(entry.arraySize), 5) + entry.name + "\n";
            }
        }
    }
    return text;
}

}  // namespace tmb
