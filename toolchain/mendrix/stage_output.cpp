#include "toolchain/mendrix/stage_output.h"

#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv-tools/libspirv.hpp>

#include <cstring>
#include <string>
#include <string_view>

#include "toolchain/mendrix/compiler.h"
#include "toolchain/mendrix/statistics.h"

namespace mendrix {

namespace {

std::vector<uint8_t> validatedForm(const StageJob& job, int version, bool es) {
    size_t length = static_cast<size_t>(job.length);
    std::vector<uint8_t> bytes((kValidatedFormHeaderSize + length + 3) & ~size_t{3}, 0);
    auto put = [&bytes](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    put(0, kValidatedFormMagic);
    put(4, 1);  // form version
    put(8, job.kind);
    put(12, static_cast<uint32_t>(version));
    put(16, es ? 1 : 0);
    put(20, static_cast<uint32_t>(job.length));
    if (length > 0) {
        std::memcpy(bytes.data() + kValidatedFormHeaderSize, job.text, length);
    }
    return bytes;
}

std::string disassemble(const std::vector<uint32_t>& words) {
    spvtools::SpirvTools tools(SPV_ENV_OPENGL_4_5);
    std::string text;
    if (!tools.Disassemble(
            words, &text,
            SPV_BINARY_TO_TEXT_OPTION_FRIENDLY_NAMES | SPV_BINARY_TO_TEXT_OPTION_INDENT)) {
        return "; disassembly failed\n";
    }
    return text;
}

std::string_view trimmedLines(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    return text;
}

// Generates the stage's SPIR-V; the generator's messages become warnings.
std::vector<uint32_t> generateSpirv(const StageJob& job, glslang::TIntermediate& intermediate,
                                    uint32_t flags, Diagnostics& diagnostics) {
    std::vector<uint32_t> words;
    glslang::SpvOptions options;
    options.disableOptimizer = (flags & kCompileFlagOptimize) == 0;
    spv::SpvBuildLogger logger;
    glslang::GlslangToSpv(intermediate, words, &logger, &options);
    std::string messages = logger.getAllMessages();
    for (std::string_view rest = messages; !rest.empty();) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty()) {
            diagnostics.warning(job.label, 0, tidyMessage(line));
        }
    }
    return words;
}

// Reflection: attributes or varyings in, uniforms, samplers, blocks,
// varyings out, then the stream-out names.
std::vector<uint8_t> stageReflection(const ProgramOutput& program, const StageJob& job,
                                     glslang::TIntermediate& intermediate) {
    glslang::TProgram& linked = *program.run->program;
    std::vector<ReflectionEntry> entries;
    StageInterface interface = collectStageInterface(intermediate);
    if (job.kind == toolchain::kStageVertex) {
        collectAttributes(linked, entries);
    } else {
        entries.insert(entries.end(), interface.inputs.begin(), interface.inputs.end());
    }
    collectUniforms(linked, 1u << job.language, entries);
    entries.insert(entries.end(), interface.outputs.begin(), interface.outputs.end());
    if (&job == program.streamOutStage) {
        entries.insert(entries.end(), program.streamOut->begin(), program.streamOut->end());
    }
    return encodeReflection(entries);
}

}  // namespace

void emitStage(const ProgramOutput& program, StageJob& job, size_t index, StageStorage& out,
               Diagnostics& diagnostics, std::vector<QuarnStage>& quarnStages) {
    const CompileRequest& request = *program.request;
    uint32_t flags = request.compileFlags;
    glslang::TIntermediate& intermediate = *program.run->program->getIntermediate(job.language);
    bool es = intermediate.getProfile() == EEsProfile;
    int languageVersion = intermediate.getVersion();

    std::vector<uint32_t> words;
    bool spirv = program.spirvKept && job.spirv;
    if (spirv) {
        words = generateSpirv(job, intermediate, flags, diagnostics);
        const auto* bytes = reinterpret_cast<const uint8_t*>(words.data());
        out.binary.assign(bytes, bytes + words.size() * sizeof(uint32_t));
    } else {
        out.binary = validatedForm(job, languageVersion, es);
    }
    out.reflection = stageReflection(program, job, intermediate);
    if (job.requestPath != nullptr) {
        out.path = job.requestPath;
    }

    toolchain::ToolchainStageRecord record{};
    record.magic = toolchain::kStageRecordMagic;
    record.kind = job.kind;
    record.binaryFormat = spirv ? toolchain::kBinarySpirv : toolchain::kBinaryValidated;
    record.flags =
        (es ? toolchain::kStageFlagEssl : 0) |
        ((flags & kCompileFlagForceUniformBlock) != 0 ? toolchain::kStageFlagForceUniformBlock : 0);
    record.optimizationFlags = request.optimizationFlags;
    record.binary = out.binary.data();
    record.binarySize = out.binary.size();
    record.reflection = out.reflection.data();
    record.reflectionSize = out.reflection.size();
    record.gpuVersion = program.gpuVersion;
    record.languageVersion = static_cast<uint32_t>(languageVersion);
    record.sourcePath = job.requestPath != nullptr ? out.path.c_str() : nullptr;
    if ((flags & kCompileFlagNoQuarn) == 0) {
        Hash128 hash = hash128(
            std::string_view(reinterpret_cast<const char*>(out.binary.data()), out.binary.size()));
        std::memcpy(record.hash, hash.data(), hash.size());
        record.flags |= toolchain::kStageFlagHashPresent;
        quarnStages.push_back({job.stageName, std::string_view(out.path),
                               std::string_view(job.text, job.length),
                               spirv ? "spirv" : "validated", out.binary.size(), hash});
    }
    std::memcpy(job.slot, &record, sizeof record);

    if ((flags & kCompileFlagDumpDebugInfo) != 0) {
        if (spirv) {
            out.dump = disassemble(words);
        } else {
            out.dump = trimmedLines(program.run->shaders[index]->getInfoDebugLog());
            out.dump += '\n';
        }
        *job.dumpField = out.dump.c_str();
    }
    if (job.stats != nullptr && (flags & kCompileFlagInstructionStats) != 0) {
        *job.stats =
            spirv ? statsFromSpirv(words, job.kind == toolchain::kStageVertex, program.gpuVersion)
                  : statsFromTree(intermediate, program.gpuVersion);
    }
}

}  // namespace mendrix
