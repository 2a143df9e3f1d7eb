#include "toolchain/mendrix/output/stage_output.h"

#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv-tools/libspirv.hpp>

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>

#include "toolchain/common/validated_form.h"
#include "toolchain/mendrix/compiler.h"
#include "toolchain/mendrix/output/spirv_optimizer.h"
#include "toolchain/mendrix/output/spirv_uniform_locations.h"
#include "toolchain/mendrix/output/statistics.h"

namespace mendrix {

namespace {

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
                                    Diagnostics& diagnostics) {
    std::vector<uint32_t> words;
    glslang::SpvOptions options;
    options.disableOptimizer = true;  // spirv_optimizer.cpp does that
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

// The stage's SPIR-V, validated, optimised when the request asks for it,
// and validated again. False, with the reason, when the code is not valid.
bool finalSpirv(const ProgramOutput& program, const StageJob& job,
                const std::map<std::string, int32_t>& uniformLocations,
                std::vector<uint32_t>& words, Diagnostics& diagnostics, std::string& problem) {
    const CompileRequest& request = *program.request;
    glslang::TIntermediate& intermediate = *program.run->program->getIntermediate(job.language);
    words = generateSpirv(job, intermediate, diagnostics);
    relocateUniforms(words, uniformLocations);
    if (!validateSpirv(words, problem)) {
        return false;
    }
    if ((request.compileFlags & kCompileFlagOptimize) == 0) {
        return true;
    }
    return optimizeSpirv(words, request.optimizationFlags, problem) &&
           validateSpirv(words, problem);
}

// How a stage is handed out: as SPIR-V or in the validated form, in which
// language and version.
struct StageForm {
    bool spirv = false;
    bool es = false;
    int languageVersion = 0;
};

// The bytes the stage record points at: the binary, the reflection block
// and the path.
void fillStageStorage(const StageJob& job, const StageForm& form,
                      const std::vector<uint32_t>& words,
                      const std::vector<ReflectionEntry>& reflection, StageStorage& out) {
    if (form.spirv) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(words.data());
        out.binary.assign(bytes, bytes + words.size() * sizeof(uint32_t));
    } else {
        out.binary = toolchain::encodeValidatedForm(
            job.kind, static_cast<uint32_t>(form.languageVersion), form.es,
            std::string_view(job.source, static_cast<size_t>(job.length)));
    }
    out.reflection = toolchain::encodeReflection(reflection);
    if (job.requestPath != nullptr) {
        out.path = job.requestPath;
    }
}

// The record describing what `out` holds; with the debug hash of its binary
// (also listed for the debug information file) unless the request omits it.
toolchain::StageRecord stageRecordOf(const ProgramOutput& program, const StageJob& job,
                                     const StageForm& form, const StageStorage& out,
                                     std::vector<DebugInfoStage>& debugInfoStages) {
    const CompileRequest& request = *program.request;
    const uint32_t flags = request.compileFlags;
    toolchain::StageRecord record{};
    record.magic = toolchain::kStageRecordMagic;
    record.kind = job.kind;
    record.binaryFormat = form.spirv ? toolchain::kBinarySpirv : toolchain::kBinaryValidated;
    record.flags =
        (form.es ? toolchain::kStageFlagEssl : 0) |
        ((flags & kCompileFlagForceUniformBlock) != 0 ? toolchain::kStageFlagForceUniformBlock : 0);
    record.optimizationFlags = request.optimizationFlags;
    record.binary = out.binary.data();
    record.binarySize = out.binary.size();
    record.reflection = out.reflection.data();
    record.reflectionSize = out.reflection.size();
    record.gpuVersion = program.gpuVersion;
    record.languageVersion = static_cast<uint32_t>(form.languageVersion);
    record.sourcePath = job.requestPath != nullptr ? out.path.c_str() : nullptr;
    if ((flags & kCompileFlagNoQuarn) == 0) {
        toolchain::Hash128 hash = toolchain::hash128(
            std::string_view(reinterpret_cast<const char*>(out.binary.data()), out.binary.size()));
        std::memcpy(record.hash, hash.data(), hash.size());
        record.flags |= toolchain::kStageFlagHashPresent;
        debugInfoStages.push_back({job.stageName, std::string_view(out.path),
                                   std::string_view(job.source, job.length),
                                   form.spirv ? "spirv" : "validated", out.binary.size(), hash});
    }
    return record;
}

// The dump and the statistics block, where the request asks for them.
void emitDumpAndStats(const ProgramOutput& program, StageJob& job, size_t index,
                      const std::vector<uint32_t>& words, bool spirv, StageStorage& out) {
    const uint32_t flags = program.request->compileFlags;
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
        glslang::TIntermediate& intermediate = *program.run->program->getIntermediate(job.language);
        *job.stats =
            spirv ? statsFromSpirv(words, job.kind == toolchain::kStageVertex, program.gpuVersion)
                  : statsFromTree(intermediate, program.gpuVersion);
    }
}

void emitStage(const ProgramOutput& program, StageJob& job, size_t index,
               const std::vector<uint32_t>& words, const std::vector<ReflectionEntry>& reflection,
               StageStorage& out, std::vector<DebugInfoStage>& debugInfoStages) {
    const glslang::TIntermediate& intermediate =
        *program.run->program->getIntermediate(job.language);
    StageForm form;
    form.spirv = program.spirvKept && job.spirv;
    form.es = intermediate.getProfile() == EEsProfile;
    form.languageVersion = intermediate.getVersion();
    fillStageStorage(job, form, words, reflection, out);
    const toolchain::StageRecord record = stageRecordOf(program, job, form, out, debugInfoStages);
    std::memcpy(job.slot, &record, sizeof record);
    emitDumpAndStats(program, job, index, words, form.spirv, out);
}

// The optimiser removes uniforms that only dead code used; the reflection
// then lists only what is left, so that engines set no inactive location.
void dropRemovedUniforms(const std::vector<uint32_t>& words,
                         std::vector<ReflectionEntry>& entries) {
    std::unordered_set<std::string> left = uniformVariableNames(words);
    std::erase_if(entries, [&left](const ReflectionEntry& entry) {
        if (entry.category != toolchain::kReflectUniform &&
            entry.category != toolchain::kReflectSampler) {
            return false;
        }
        return left.count(entry.name.substr(0, entry.name.find_first_of(".["))) == 0;
    });
}

}  // namespace

void emitProgram(ProgramOutput& program, std::vector<StageJob>& jobs, ProgramStorage& storage,
                 Diagnostics& diagnostics, std::vector<DebugInfoStage>& debugInfoStages) {
    const CompileRequest& request = *program.request;
    std::vector<EShLanguage> languages;
    for (const StageJob& job : jobs) {
        languages.push_back(job.language);
    }
    ProgramReflection reflection =
        reflectProgram(*program.run->program, languages, program.run->declaredUniformLocations,
                       (request.optimizationFlags & kLimitArraySymbols) != 0);
    std::vector<std::vector<ReflectionEntry>>& reflections = reflection.stages;
    if (program.streamOutStage != nullptr) {
        std::vector<ReflectionEntry>& entries =
            reflections[static_cast<size_t>(program.streamOutStage - jobs.data())];
        entries.insert(entries.end(), program.streamOut->begin(), program.streamOut->end());
    }

    std::vector<std::vector<uint32_t>> words(jobs.size());
    for (size_t index = 0; index < jobs.size() && program.spirvKept; ++index) {
        std::string problem;
        if (jobs[index].spirv && !finalSpirv(program, jobs[index], reflection.uniformLocations,
                                             words[index], diagnostics, problem)) {
            // Not the program's fault: it is kept whole in validated form, as
            // programs that only SPIR-V rules refuse are.
            diagnostics.warning(
                jobs[index].label, 0,
                "SPIR-V failed validation, the validated form is kept: " + tidyMessage(problem));
            program.spirvKept = false;
        }
    }
    if (program.spirvKept && (request.compileFlags & kCompileFlagOptimize) != 0) {
        for (size_t index = 0; index < jobs.size(); ++index) {
            if (jobs[index].spirv) {
                dropRemovedUniforms(words[index], reflections[index]);
            }
        }
    }
    for (size_t index = 0; index < jobs.size(); ++index) {
        StageJob& job = jobs[index];
        emitStage(program, job, index, words[index], reflections[index],
                  storage.stages[job.storageIndex], debugInfoStages);
    }
}

}  // namespace mendrix
