#include "toolchain/mendrix/front_end/front_end.h"

#include <glslang/Public/ResourceLimits.h>

#include <string>
#include <string_view>
#include <utility>

#include "toolchain/mendrix/output/reflection.h"

namespace mendrix {

namespace {

// The text goes to the front end as one string, or as two when it has a #line
// directive past its first line: the second string's messages then name it,
// and are not taken for mapped lines.
void splitAtLineDirective(StageJob& job) {
    size_t split = job.lineMap.lineDirectiveOffset;
    job.strings = {job.source, nullptr};
    job.stringLengths = {job.length, 0};
    job.stringNames = {job.label.c_str(), kAfterLineDirective};
    job.stringCount = 1;
    if (split > 0 && split < static_cast<size_t>(job.length)) {
        job.stringLengths = {static_cast<int>(split), job.length - static_cast<int>(split)};
        job.strings[1] = job.source + split;
        job.stringCount = 2;
    }
}

// Parses every job into run.shaders. False when one of them fails.
bool parseStages(std::vector<StageJob>& jobs, bool allowSpirv, bool treeDumps, FrontEndRun& run,
                 bool& anySpirv) {
    anySpirv = false;
    bool parsed = true;
    for (StageJob& job : jobs) {
        auto shader = std::make_unique<glslang::TShader>(job.language);
        splitAtLineDirective(job);
        shader->setStringsWithLengthsAndNames(job.strings.data(), job.stringLengths.data(),
                                              job.stringNames.data(), job.stringCount);
        bool spirv = allowSpirv && job.spirv;
        int messages = EShMsgDefault;
        if (spirv) {
            anySpirv = true;
            shader->setEnvInput(glslang::EShSourceGlsl, job.language, glslang::EShClientOpenGL,
                                100);
            shader->setEnvClient(glslang::EShClientOpenGL, glslang::EShTargetOpenGL_450);
            shader->setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
            shader->setAutoMapLocations(true);
            shader->setAutoMapBindings(true);
            messages |= EShMsgSpvRules;
        } else if (treeDumps) {
            messages |= EShMsgAST;
        }
        // The language's default when the text has no #version.
        int defaultVersion = job.version.es ? 100 : 110;
        bool ok = shader->parse(GetDefaultResources(), defaultVersion, ENoProfile, false, false,
                                static_cast<EShMessages>(messages));
        run.diagnostics.addStageLog(shader->getInfoLog(), job.label, job.version.line,
                                    &job.lineMap);
        parsed = parsed && ok;
        run.shaders.push_back(std::move(shader));
    }
    return parsed;
}

// The front end's stage names.
constexpr std::pair<std::string_view, EShLanguage> kNames[] = {
    {"vertex", EShLangVertex},
    {"fragment", EShLangFragment},
    {"geometry", EShLangGeometry},
    {"compute", EShLangCompute},
};

std::string_view nameOf(EShLanguage language) {
    for (const auto& [name, stageLanguage] : kNames) {
        if (stageLanguage == language) {
            return name;
        }
    }
    return "unknown";
}

// The linker compares program-wide objects (uniforms, blocks) of a stage
// with those of the stages linked before it, which it calls "unknown stage".
// Those are the stages ahead of that one in pipeline order, named here: "vertex"
// or "vertex or geometry".
std::string nameUnknownStages(std::string_view log, const std::vector<StageJob>& jobs) {
    static constexpr std::string_view kUnknown = "unknown stage";
    static constexpr std::string_view kLinkingUnknown = "Linking unknown stage and ";
    std::string named;
    std::string earlier = std::string(kUnknown);
    while (!log.empty()) {
        size_t end = log.find('\n');
        std::string_view line = log.substr(0, end == std::string_view::npos ? log.size() : end + 1);
        log.remove_prefix(line.size());
        size_t linking = line.find(kLinkingUnknown);
        if (linking != std::string_view::npos) {
            std::string_view rest = line.substr(linking + kLinkingUnknown.size());
            std::string_view later = rest.substr(0, rest.find(' '));
            std::string stages;
            for (const StageJob& job : jobs) {
                if (nameOf(job.language) == later) {
                    break;
                }
                stages += (stages.empty() ? "" : " or ") + std::string(nameOf(job.language));
            }
            earlier = stages.empty() ? std::string(kUnknown) : stages;
        }
        for (size_t at = line.find(kUnknown); at != std::string_view::npos;
             at = line.find(kUnknown)) {
            named += line.substr(0, at);
            named += earlier;
            line.remove_prefix(at + kUnknown.size());
        }
        named += line;
    }
    return named;
}

// The log path of the job whose front-end stage name is `stage` ("vertex",
// "fragment", ...); the first job's when none matches.
std::string pathOfStage(const std::vector<StageJob>& jobs, std::string_view stage) {
    for (const auto& [name, language] : kNames) {
        if (name != stage) {
            continue;
        }
        for (const StageJob& job : jobs) {
            if (job.language == language) {
                return job.label;
            }
        }
    }
    return jobs.front().label;
}

}  // namespace

void runFrontEnd(std::vector<StageJob>& jobs, bool allowSpirv, bool treeDumps, FrontEndRun& run) {
    bool anySpirv = false;
    if (!parseStages(jobs, allowSpirv, treeDumps, run, anySpirv)) {
        return;
    }
    run.program = std::make_unique<glslang::TProgram>();
    for (auto& shader : run.shaders) {
        run.program->addShader(shader.get());
    }
    EShMessages linkMessages = anySpirv ? EShMsgSpvRules : EShMsgDefault;
    bool linked = run.program->link(linkMessages);
    auto stagePath = [&jobs](std::string_view stage) { return pathOfStage(jobs, stage); };
    run.diagnostics.addLinkLog(nameUnknownStages(run.program->getInfoLog(), jobs), stagePath);
    if (!linked || run.diagnostics.hasErrors()) {
        return;
    }
    run.declaredUniformLocations = declaredUniformLocations(*run.program);
    if (anySpirv && !run.program->mapIO()) {
        run.diagnostics.addLinkLog(run.program->getInfoLog(), stagePath);
        if (!run.diagnostics.hasErrors()) {
            run.diagnostics.error(jobs.front().label, 0,
                                  "inputs, outputs and resources could not be assigned locations");
        }
        return;
    }
    run.program->buildReflection(EShReflectionDefault);
    run.ok = true;
}

std::unique_ptr<FrontEndRun> runFrontEndWithFallback(std::vector<StageJob>& jobs, bool treeDumps,
                                                     bool& spirvKept) {
    bool anySpirv = false;
    for (const StageJob& job : jobs) {
        anySpirv = anySpirv || job.spirv;
    }
    auto run = std::make_unique<FrontEndRun>();
    runFrontEnd(jobs, true, treeDumps, *run);
    spirvKept = anySpirv;
    if (run->ok || !anySpirv) {
        return run;
    }
    // SPIR-V generation has rules of its own; a program that only breaks
    // those is kept in validated form, with its first complaint as a
    // warning. Otherwise the plain run's messages are the verdict.
    auto plain = std::make_unique<FrontEndRun>();
    runFrontEnd(jobs, false, treeDumps, *plain);
    if (plain->ok) {
        if (const Diagnostics::Entry* first = run->diagnostics.firstError()) {
            plain->diagnostics.warning(
                first->path, first->line,
                "SPIR-V not generated, the validated form is kept: " + first->message);
        }
    }
    spirvKept = false;
    // The SPIR-V run's front-end objects go before the plain run's results
    // are used, so that its memory pool is not current.
    run.reset();
    return plain;
}

}  // namespace mendrix
