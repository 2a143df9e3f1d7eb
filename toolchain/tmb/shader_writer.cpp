#include "toolchain/tmb/shader_writer.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <type_traits>

#include "platform/failure.h"
#include "platform/safe_files.h"
#include "toolchain/common/stage_record.h"
#include "toolchain/tmb/vrx_format.h"

namespace tmb {

namespace {

// Copies the stage record at the start of a stage slot into a Stage.
bool readStageRecord(const void* slot, uint32_t expectedKind, Stage& stage,
                     uint32_t& recordGpuVersion, std::string& error) {
    toolchain::StageRecord record;
    std::memcpy(&record, slot, sizeof record);
    const std::string where = std::string(stageKindName(expectedKind)) + " stage record";
    if (record.magic != toolchain::kStageRecordMagic) {
        return fail(error, where + ": not a compiled stage (bad magic)");
    }
    if (record.kind != expectedKind) {
        return fail(error, where + ": holds a " + stageKindName(record.kind) + " stage");
    }
    constexpr uint64_t kMaxSection = 0xFFFFFFFFu;
    if (record.binary == nullptr || record.binarySize == 0 || record.binarySize > kMaxSection) {
        return fail(error, where + ": no binary or an impossible binary size");
    }
    if ((record.reflection == nullptr) != (record.reflectionSize == 0) ||
        record.reflectionSize > kMaxSection) {
        return fail(error, where + ": reflection pointer and size disagree");
    }
    stage.kind = record.kind;
    stage.binaryFormat = record.binaryFormat;
    stage.flags = record.flags;
    stage.languageVersion = record.languageVersion;
    stage.optimizationFlags = record.optimizationFlags;
    if ((record.flags & toolchain::kStageFlagHashPresent) != 0) {
        std::memcpy(stage.hash.data(), record.hash, stage.hash.size());
    }
    stage.binary.assign(record.binary, record.binary + record.binarySize);
    if (record.reflection != nullptr) {
        stage.reflection.assign(record.reflection, record.reflection + record.reflectionSize);
    }
    if (recordGpuVersion == 0) {
        recordGpuVersion = record.gpuVersion;
    }
    return true;
}

// One program from the stage slots of one record, indexed by kind - 1.
bool programFromSlots(const void* const (&slots)[4], Program& program, uint32_t& recordGpuVersion,
                      std::string& error) {
    for (uint32_t i = 0; i < 4; ++i) {
        if (slots[i] == nullptr) {
            continue;
        }
        Stage stage;
        if (!readStageRecord(slots[i], i + 1, stage, recordGpuVersion, error)) {
            return false;
        }
        program.stages.push_back(std::move(stage));
    }
    if (program.stages.empty()) {
        return fail(error, "the record names no stage");
    }
    return true;
}

template <typename Record>
bool programsFrom(const Record* records, uint32_t recordCount, std::vector<Program>& programs,
                  uint32_t& recordGpuVersion, std::string& error) {
    programs.clear();
    recordGpuVersion = 0;
    if (records == nullptr) {
        return fail(error, "no shader records");
    }
    if (recordCount == 0 || recordCount > kMaxPrograms) {
        return fail(error, "record count " + std::to_string(recordCount) + " is outside 1.." +
                               std::to_string(kMaxPrograms));
    }
    for (uint32_t r = 0; r < recordCount; ++r) {
        const Record& record = records[r];
        const void* compute = nullptr;
        if constexpr (std::is_same_v<Record, WriterOptions>) {
            if (record.magic != kWriterOptionsMagic) {
                return fail(error, "record " + std::to_string(r) + " has a bad magic");
            }
            compute = record.computeShader;
        }
        const void* const slots[4] = {record.vertexShader, record.pixelShader,
                                      record.geometryShader, compute};
        Program program;
        if (!programFromSlots(slots, program, recordGpuVersion, error)) {
            error = "record " + std::to_string(r) + ": " + error;
            return false;
        }
        programs.push_back(std::move(program));
    }
    return true;
}

bool encodeOrExplain(const ShaderFile& file, std::vector<uint8_t>& bytes, std::string& error) {
    if (!encodeShaderFile(file, bytes, error)) {
        error = "cannot lay out the shader file: " + error;
        return false;
    }
    return true;
}

}  // namespace

bool programsFromRecords(const WriterOptions* records, uint32_t recordCount,
                         std::vector<Program>& programs, uint32_t& recordGpuVersion,
                         std::string& error) {
    return programsFrom(records, recordCount, programs, recordGpuVersion, error);
}

bool programsFromRecords(const WriterShaders* records, uint32_t recordCount,
                         std::vector<Program>& programs, uint32_t& recordGpuVersion,
                         std::string& error) {
    return programsFrom(records, recordCount, programs, recordGpuVersion, error);
}

bool writeShaderFile(const std::string& path, const ShaderFile& file, std::string& error) {
    std::vector<uint8_t> bytes;
    return encodeOrExplain(file, bytes, error) &&
           safe_files::replaceFile(path, bytes.data(), bytes.size(), error);
}

bool appendShaderFile(const std::string& path, const ShaderFile& additions, std::string& error) {
    std::string existing;
    if (!safe_files::readWholeFile(path, existing, error)) {
        error = "cannot append: " + error;
        return false;
    }
    ShaderFile file;
    if (!decodeShaderFile(asBytes(existing), file, error)) {
        error = "cannot append: " + error;
        return false;
    }
    if (file.gpuVersion != additions.gpuVersion) {
        return fail(error, "cannot append: it holds GPU version " +
                               std::to_string(file.gpuVersion) + ", not " +
                               std::to_string(additions.gpuVersion));
    }
    if (file.endianSwapMode != additions.endianSwapMode) {
        return fail(error, "cannot append: it uses endian swap mode " +
                               std::to_string(file.endianSwapMode) + ", not " +
                               std::to_string(additions.endianSwapMode));
    }
    if (file.aligned != additions.aligned) {
        return fail(error, std::string("cannot append: its alignment padding is ") +
                               (file.aligned ? "on" : "off"));
    }
    // The whole file is rewritten, so a version-1 file becomes version 2.
    file.formatVersion = kFormatVersion;
    file.programs.insert(file.programs.end(), additions.programs.begin(), additions.programs.end());
    std::vector<uint8_t> bytes;
    return encodeOrExplain(file, bytes, error) &&
           safe_files::replaceFile(path, bytes.data(), bytes.size(), error);
}

bool writeShaderHeader(const std::string& path, const ShaderFile& file, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!encodeOrExplain(file, bytes, error)) {
        return false;
    }
    const std::string text = headerText(headerIdentifier(path), bytes);
    return safe_files::replaceFile(path, text.data(), text.size(), error);
}

std::string headerIdentifier(const std::string& path) {
    const std::string stem = std::filesystem::path(path).stem().string();
    std::string name;
    for (char c : stem) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool valid = u < 0x80 && (std::isalnum(u) != 0);
        const char mapped = valid ? c : '_';
        // No runs of underscores: a double underscore is reserved in C++.
        if (mapped != '_' || (!name.empty() && name.back() != '_')) {
            name.push_back(mapped);
        }
    }
    while (!name.empty() && name.back() == '_') {
        name.pop_back();
    }
    if (name.empty()) {
        return "vrx_shader";
    }
    if (std::isdigit(static_cast<unsigned char>(name.front())) != 0) {
        name.insert(0, "vrx_");
    }
    return name;
}

std::string headerText(const std::string& identifier, const std::vector<uint8_t>& fileBytes) {
    std::string upper;
    for (char c : identifier) {
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    const std::string guard = "VRX_" + upper + "_H";
    const std::string aligned = "VRX_" + upper + "_ALIGNED";
    const std::string unused = "VRX_" + upper + "_UNUSED";
    const std::string size = std::to_string(fileBytes.size());
    const std::string alignment = std::to_string(kHeaderArrayAlignment);

    std::string text;
    text.reserve(fileBytes.size() * 6 + 2048);
    text += "/* A .vrx shader file as code, written by the tmb writer library.\n";
    text += "   " + identifier + "_data holds the file's " + identifier + "_size bytes, aligned\n";
    text += "   to " + alignment + " bytes so the stage binaries can be used in place. */\n";
    text += "#ifndef " + guard + "\n#define " + guard + "\n\n#include <stdint.h>\n\n";
    text += "#if defined(_MSC_VER)\n";
    text += "#define " + aligned + " __declspec(align(" + alignment + "))\n";
    text += "#define " + unused + "\n";
    text += "#elif defined(__GNUC__)\n";
    text += "#define " + aligned + " __attribute__((aligned(" + alignment + "), unused))\n";
    text += "#define " + unused + " __attribute__((unused))\n";
    text += "#elif defined(__cplusplus) && __cplusplus >= 201103L\n";
    text += "#define " + aligned + " alignas(" + alignment + ")\n";
    text += "#define " + unused + "\n";
    text += "#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L\n";
    text += "#define " + aligned + " _Alignas(" + alignment + ")\n";
    text += "#define " + unused + "\n";
    text += "#else\n";
    text += "#define " + aligned + "\n";
    text += "#define " + unused + "\n";
    text += "#endif\n\n";
    text += unused + " static const uint32_t " + identifier + "_size = " + size + "u;\n\n";
    text += aligned + " static const uint8_t " + identifier + "_data[" + size + "] = {\n";
    for (size_t i = 0; i < fileBytes.size(); ++i) {
        text += (i % 16 == 0) ? "    " : " ";
        text += toHex(fileBytes[i], 2);
        text += ',';
        if (i % 16 == 15 || i + 1 == fileBytes.size()) {
            text += '\n';
        }
    }
    text += "};\n\n#undef " + aligned + "\n#undef " + unused + "\n\n#endif /* " + guard + " */\n";
    return text;
}

}  // namespace tmb
