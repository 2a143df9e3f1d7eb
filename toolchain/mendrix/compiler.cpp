#include "toolchain/mendrix/compiler.h"

#include <glslang/Include/PoolAlloc.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv-tools/libspirv.hpp>

#include <array>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "toolchain/common/stage_record.h"
#include "toolchain/mendrix/diagnostics.h"
#include "toolchain/mendrix/quarn.h"
#include "toolchain/mendrix/reflection.h"
#include "toolchain/mendrix/source_scan.h"
#include "toolchain/mendrix/statistics.h"

namespace mendrix {

// Everything one compile hands out through the set, released as one.
struct StageStorage {
    std::vector<uint8_t> binary;
    std::vector<uint8_t> reflection;
    std::string path;
    std::string dump;
};

struct ProgramStorage {
    std::string log;
    std::array<StageStorage, 4> stages;
};

namespace {

// The front end keeps per-process tables; they are set up on first use and
// torn down when the library (or the process) goes away.
struct FrontEndProcess {
    std::once_flag once;
    bool ready = false;
    ~FrontEndProcess() {
        if (ready) {
            glslang::FinalizeProcess();
        }
    }
};

FrontEndProcess& frontEndProcess() {
    static FrontEndProcess process;
    return process;
}

// The set's storage pointer lives in bytes the driver does not use.
constexpr size_t kStorageOffset = offsetof(CompiledShaderSet, unused2);

ProgramStorage* storageOf(const CompiledShaderSet& set) {
    ProgramStorage* storage = nullptr;
    std::memcpy(&storage, reinterpret_cast<const char*>(&set) + kStorageOffset, sizeof storage);
    return storage;
}

void setStorage(CompiledShaderSet& set, ProgramStorage* storage) {
    std::memcpy(reinterpret_cast<char*>(&set) + kStorageOffset, &storage, sizeof storage);
}

// Clears everything compile fills; the stamps stay.
void clearFilledFields(CompiledShaderSet& set) {
    std::memset(&set.vertexShader, 0, sizeof set.vertexShader);
    std::memset(&set.pixelShader, 0, sizeof set.pixelShader);
    std::memset(&set.geometryShader, 0, sizeof set.geometryShader);
    std::memset(&set.computeShader, 0, sizeof set.computeShader);
    set.compileLog = nullptr;
    set.vertexDump = nullptr;
    set.geometryDump = nullptr;
    set.pixelDump = nullptr;
    set.computeDump = nullptr;
    setStorage(set, nullptr);
}

struct StageJob {
    toolchain::StageKind kind = toolchain::kStageAbsent;
    EShLanguage language = EShLangVertex;
    const char* stageName = nullptr;  // for the log and the debug file
    const char* source = nullptr;
    const char* requestPath = nullptr;
    ShaderStats* stats = nullptr;
    uint8_t* slot = nullptr;
    const char** dumpField = nullptr;
    size_t storageIndex = 0;

    std::string label;  // the path the log names
    VersionLine version;
    bool spirv = false;
    // The front end keeps pointers to these until the program is gone.
    const char* text = nullptr;
    int length = 0;
    const char* name = nullptr;
};

// One run of the front end over all stages, in SPIR-V mode or plain.
struct FrontEndRun {
    std::vector<std::unique_ptr<glslang::TShader>> shaders;  // parallel to the jobs
    std::unique_ptr<glslang::TProgram> program;              // destroyed before the shaders
    Diagnostics diagnostics;
    bool ok = false;
};

void runFrontEnd(std::vector<StageJob>& jobs, bool allowSpirv, bool treeDumps, FrontEndRun& run) {
    bool anySpirv = false;
    bool parsed = true;
    for (StageJob& job : jobs) {
        auto shader = std::make_unique<glslang::TShader>(job.language);
        shader->setStringsWithLengthsAndNames(&job.text, &job.length, &job.name, 1);
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
        run.diagnostics.addStageLog(shader->getInfoLog(), job.label, job.version.line);
        parsed = parsed && ok;
        run.shaders.push_back(std::move(shader));
    }
    if (!parsed) {
        return;
    }
    run.program = std::make_unique<glslang::TProgram>();
    for (auto& shader : run.shaders) {
        run.program->addShader(shader.get());
    }
    EShMessages linkMessages = anySpirv ? EShMsgSpvRules : EShMsgDefault;
    bool linked = run.program->link(linkMessages);
    auto pathOfStage = [&jobs](std::string_view stage) {
        static constexpr std::pair<std::string_view, EShLanguage> kNames[] = {
            {"vertex", EShLangVertex},
            {"fragment", EShLangFragment},
            {"geometry", EShLangGeometry},
            {"compute", EShLangCompute},
        };
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
    };
    run.diagnostics.addLinkLog(run.program->getInfoLog(), pathOfStage);
    if (!linked || run.diagnostics.hasErrors()) {
        return;
    }
    if (anySpirv && !run.program->mapIO()) {
        run.diagnostics.addLinkLog(run.program->getInfoLog(), pathOfStage);
        if (!run.diagnostics.hasErrors()) {
            run.diagnostics.error(jobs.front().label, 0,
                                  "inputs, outputs and resources could not be assigned locations");
        }
        return;
    }
    run.program->buildReflection(EShReflectionDefault);
    run.ok = true;
}

// Names that the last stage before rasterisation always offers to stream-out,
// and the markers that stream-out lists may hold.
bool isBuiltInStreamOutName(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "gl_Position",        "gl_PointSize",       "gl_ClipDistance",    "gl_CullDistance",
        "gl_ClipVertex",      "gl_Layer",           "gl_ViewportIndex",   "gl_PrimitiveID",
        "gl_NextBuffer",      "gl_SkipComponents1", "gl_SkipComponents2", "gl_SkipComponents3",
        "gl_SkipComponents4",
    };
    for (std::string_view known : kNames) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

// The output a stream-out name refers to, or null. "name[3]" refers to
// "name"; a block member may be named "Block.member" or "member".
const ReflectionEntry* findOutput(const std::vector<ReflectionEntry>& outputs,
                                  std::string_view name) {
    size_t bracket = name.find('[');
    std::string_view base = name.substr(0, bracket);
    for (const ReflectionEntry& output : outputs) {
        std::string_view declared = output.name;
        if (declared == base) {
            return &output;
        }
        size_t dot = declared.find('.');
        if (dot != std::string_view::npos && declared.substr(dot + 1) == base) {
            return &output;
        }
    }
    return nullptr;
}

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

}  // namespace

bool initializeFrontEnd() {
    FrontEndProcess& process = frontEndProcess();
    std::call_once(process.once, [&process] { process.ready = glslang::InitializeProcess(); });
    return process.ready;
}

Compiler::Compiler(uint32_t gpuVersion) : gpu(gpuVersion) {}

Compiler::~Compiler() {
    for (ProgramStorage* storage : live) {
        delete storage;
    }
}

void Compiler::release(CompiledShaderSet& set) {
    ProgramStorage* storage = storageOf(set);
    auto found = live.find(storage);
    if (storage == nullptr || found == live.end()) {
        return;
    }
    live.erase(found);
    delete storage;
    clearFilledFields(set);
}

bool Compiler::compile(const CompileRequest& request, CompiledShaderSet& set) {
    try {
        return compileProgram(request, set);
    } catch (...) {
        // Out of memory part way: the records may point into memory that is
        // gone already, so the set is handed back empty.
        release(set);
        clearFilledFields(set);
        return false;
    }
}

bool Compiler::compileProgram(const CompileRequest& request, CompiledShaderSet& set) {
    // The front end leaves its last memory pool current; once our runs are
    // gone that pool is too, so the thread goes back to its default pool.
    struct PoolReset {
        ~PoolReset() { glslang::SetThreadPoolAllocator(nullptr); }
    } poolReset;
    // A set compiled into before is released first, so nothing is lost.
    release(set);
    clearFilledFields(set);
    auto storage = std::make_unique<ProgramStorage>();
    Diagnostics diagnostics;

    auto finish = [&](bool success) {
        if (diagnostics.hasErrors()) {
            success = false;
        }
        storage->log = diagnostics.text();
        set.compileLog = storage->log.empty() ? nullptr : storage->log.c_str();
        if (!success) {
            // A failed compile hands out nothing but its log.
            const char* log = set.compileLog;
            clearFilledFields(set);
            set.compileLog = log;
            for (StageStorage& stage : storage->stages) {
                stage = StageStorage{};
            }
        }
        setStorage(set, storage.get());
        live.insert(storage.release());
        return success;
    };

    uint32_t flags = request.compileFlags;
    std::vector<StageJob> jobs;
    jobs.reserve(4);
    auto addJob = [&](toolchain::StageKind kind, EShLanguage language, const char* stageName,
                      const char* source, const char* path, ShaderStats* stats, void* slot,
                      const char** dump, size_t index) {
        if (source == nullptr) {
            return;
        }
        StageJob job;
        job.kind = kind;
        job.language = language;
        job.stageName = stageName;
        job.source = source;
        job.requestPath = path;
        job.stats = stats;
        job.slot = static_cast<uint8_t*>(slot);
        job.dumpField = dump;
        job.storageIndex = index;
        job.label = path != nullptr ? path : stageName;
        jobs.push_back(std::move(job));
    };
    // Pipeline order, which is also the order of the log.
    addJob(toolchain::kStageVertex, EShLangVertex, "vertex", request.vertexSource,
           request.vertexPath, request.vertexStats, &set.vertexShader, &set.vertexDump, 0);
    addJob(toolchain::kStageGeometry, EShLangGeometry, "geometry", request.geometrySource,
           request.geometryPath, request.geometryStats, &set.geometryShader, &set.geometryDump, 2);
    addJob(toolchain::kStagePixel, EShLangFragment, "pixel", request.pixelSource, request.pixelPath,
           request.pixelStats, &set.pixelShader, &set.pixelDump, 1);
    bool hasCompute = request.computeSource != nullptr;
    if (hasCompute && !jobs.empty()) {
        diagnostics.error(request.computePath != nullptr ? request.computePath : "compute", 0,
                          "a compute shader must be compiled on its own, without vertex, pixel "
                          "or geometry shaders");
        return finish(false);
    }
    addJob(toolchain::kStageCompute, EShLangCompute, "compute", request.computeSource,
           request.computePath, request.computeStats, &set.computeShader, &set.computeDump, 3);
    if (jobs.empty()) {
        diagnostics.error("program", 0,
                          "no shader source given: the request holds no vertex, pixel, geometry "
                          "or compute text");
        return finish(false);
    }
    if (!initializeFrontEnd()) {
        diagnostics.error(jobs.front().label, 0, "the GLSL front end could not be initialised");
        return finish(false);
    }

    bool essl = request.esslLanguage != 0;
    for (StageJob& job : jobs) {
        size_t length = std::strlen(job.source);
        if (length > static_cast<size_t>(INT_MAX)) {
            diagnostics.error(job.label, 0, "source text too large");
            continue;
        }
        job.text = job.source;
        job.length = static_cast<int>(length);
        job.name = job.label.c_str();
        job.version = scanVersionLine(std::string_view(job.text, length));
        if (job.version.found && job.version.es != essl) {
            std::string line = "#version " + std::to_string(job.version.version);
            diagnostics.error(job.label, job.version.line,
                              essl ? "'" + line +
                                         "' is not an ESSL version; ESSL programs use 100, 300 "
                                         "es, 310 es or 320 es"
                                   : "'" + line + (job.version.es ? " es" : "") +
                                         "' is an ESSL version, but the program is compiled as "
                                         "GLSL");
        }
        if (!job.version.found) {
            job.version.es = essl;
        }
        int version = job.version.found ? job.version.version : (essl ? 100 : 110);
        job.spirv = job.version.es ? version >= 310 : version >= 330 && !job.version.compatibility;
    }
    if (diagnostics.hasErrors()) {
        return finish(false);
    }

    bool dumps = (flags & kCompileFlagDumpDebugInfo) != 0;
    bool anySpirv = false;
    for (const StageJob& job : jobs) {
        anySpirv = anySpirv || job.spirv;
    }
    auto run = std::make_unique<FrontEndRun>();
    runFrontEnd(jobs, true, dumps, *run);
    bool spirvKept = anySpirv;
    if (!run->ok && anySpirv) {
        // SPIR-V generation has rules of its own; a program that only breaks
        // those is kept in validated form, with its first complaint as a
        // warning. Otherwise the plain run's messages are the verdict.
        auto plain = std::make_unique<FrontEndRun>();
        runFrontEnd(jobs, false, dumps, *plain);
        if (plain->ok) {
            if (const Diagnostics::Entry* first = run->diagnostics.firstError()) {
                plain->diagnostics.warning(
                    first->path, first->line,
                    "SPIR-V not generated, the validated form is kept: " + first->message);
            }
        }
        spirvKept = false;
        plain.swap(run);
        // The SPIR-V run's front-end objects go before the plain run's
        // results are used, so that its memory pool is not current.
        plain.reset();
    }
    diagnostics.append(run->diagnostics);
    if (!run->ok) {
        return finish(false);
    }
    glslang::TProgram& program = *run->program;

    // Stream-out names must be outputs of the last stage before
    // rasterisation.
    const StageJob* streamOutStage = nullptr;
    for (const StageJob& job : jobs) {
        if (job.kind == toolchain::kStageVertex || job.kind == toolchain::kStageGeometry) {
            streamOutStage = &job;
        }
    }
    std::vector<ReflectionEntry> streamOut;
    if (request.streamOutCount > 0) {
        if (streamOutStage == nullptr) {
            diagnostics.warning(jobs.front().label, 0,
                                "stream-out varyings ignored: the program has no vertex or "
                                "geometry stage");
        } else if (request.streamOutVaryings == nullptr) {
            diagnostics.error(streamOutStage->label, 0, "stream-out list missing");
        } else {
            StageInterface interface =
                collectStageInterface(*program.getIntermediate(streamOutStage->language));
            for (uint32_t i = 0; i < request.streamOutCount; ++i) {
                const char* name = request.streamOutVaryings[i];
                std::string_view text = name != nullptr ? name : "";
                const ReflectionEntry* output = findOutput(interface.outputs, text);
                if (output == nullptr && !isBuiltInStreamOutName(text.substr(0, text.find('[')))) {
                    diagnostics.error(streamOutStage->label, 0,
                                      "stream-out varying '" + std::string(text) +
                                          "' is not an output of the " + streamOutStage->stageName +
                                          " shader");
                    continue;
                }
                streamOut.push_back({toolchain::kReflectStreamOut, static_cast<int32_t>(i),
                                     output != nullptr ? output->type : 0, 1, std::string(text)});
            }
        }
    }
    if (diagnostics.hasErrors()) {
        return finish(false);
    }

    std::vector<QuarnStage> quarnStages;
    for (size_t index = 0; index < jobs.size(); ++index) {
        StageJob& job = jobs[index];
        glslang::TIntermediate& intermediate = *program.getIntermediate(job.language);
        StageStorage& out = storage->stages[job.storageIndex];
        bool es = intermediate.getProfile() == EEsProfile;
        int languageVersion = intermediate.getVersion();

        std::vector<uint32_t> words;
        bool spirv = spirvKept && job.spirv;
        if (spirv) {
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
            const auto* bytes = reinterpret_cast<const uint8_t*>(words.data());
            out.binary.assign(bytes, bytes + words.size() * sizeof(uint32_t));
        } else {
            out.binary = validatedForm(job, languageVersion, es);
        }

        // Reflection: attributes or varyings in, uniforms, samplers, blocks,
        // varyings out, then the stream-out names.
        std::vector<ReflectionEntry> entries;
        StageInterface interface = collectStageInterface(intermediate);
        if (job.kind == toolchain::kStageVertex) {
            collectAttributes(program, entries);
        } else {
            entries.insert(entries.end(), interface.inputs.begin(), interface.inputs.end());
        }
        collectUniforms(program, 1u << job.language, entries);
        entries.insert(entries.end(), interface.outputs.begin(), interface.outputs.end());
        if (&job == streamOutStage) {
            entries.insert(entries.end(), streamOut.begin(), streamOut.end());
        }
        out.reflection = encodeReflection(entries);
        if (job.requestPath != nullptr) {
            out.path = job.requestPath;
        }

        toolchain::ToolchainStageRecord record{};
        record.magic = toolchain::kStageRecordMagic;
        record.kind = job.kind;
        record.binaryFormat = spirv ? toolchain::kBinarySpirv : toolchain::kBinaryValidated;
        record.flags =
            (es ? toolchain::kStageFlagEssl : 0) |
            ((flags & kCompileFlagForceUniformBlock) != 0 ? toolchain::kStageFlagForceUniformBlock
                                                          : 0);
        record.optimizationFlags = request.optimizationFlags;
        record.binary = out.binary.data();
        record.binarySize = out.binary.size();
        record.reflection = out.reflection.data();
        record.reflectionSize = out.reflection.size();
        record.gpuVersion = gpu;
        record.languageVersion = static_cast<uint32_t>(languageVersion);
        record.sourcePath = job.requestPath != nullptr ? out.path.c_str() : nullptr;
        if ((flags & kCompileFlagNoQuarn) == 0) {
            Hash128 hash = hash128(std::string_view(
                reinterpret_cast<const char*>(out.binary.data()), out.binary.size()));
            std::memcpy(record.hash, hash.data(), hash.size());
            record.flags |= toolchain::kStageFlagHashPresent;
            quarnStages.push_back({job.stageName, std::string_view(out.path),
                                   std::string_view(job.text, job.length),
                                   spirv ? "spirv" : "validated", out.binary.size(), hash});
        }
        std::memcpy(job.slot, &record, sizeof record);

        if (dumps) {
            if (spirv) {
                out.dump = disassemble(words);
            } else {
                out.dump = trimmedLines(run->shaders[index]->getInfoDebugLog());
                out.dump += '\n';
            }
            *job.dumpField = out.dump.c_str();
        }
        if (job.stats != nullptr && (flags & kCompileFlagInstructionStats) != 0) {
            *job.stats = spirv ? statsFromSpirv(words, job.kind == toolchain::kStageVertex, gpu)
                               : statsFromTree(intermediate, gpu);
        }
    }

    if (!quarnStages.empty()) {
        std::string directory = request.quarnDirectory != nullptr && request.quarnDirectory[0]
                                    ? std::string(request.quarnDirectory)
                                    : defaultQuarnDirectory();
        std::string written;
        std::string problem;
        if (!writeQuarnFile(directory, quarnStages, written, problem)) {
            diagnostics.warning(jobs.front().label, 0,
                                "debug information file not written: " + problem);
        }
    }
    return finish(true);
}

}  // namespace mendrix
