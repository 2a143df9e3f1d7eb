#include "driver/run_sequence.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/command_line.h"
#include "driver/dependency_file.h"
#include "driver/side_files.h"
#include "libraries/bind_libraries.h"
#include "libraries/write_output_file.h"
#include "platform/allocation.h"
#include "platform/exit_codes.h"
#include "source/stream_out_list.h"

namespace {

constexpr const char* kOptimizeVariable = "VRXCOMPILE_OPTIMIZE";
constexpr const char* kComputeWithStagesMessage =
    "Error: compute shader must be compiled on its own.\n";
constexpr const char* kMissingEntryPointFormat = "ERROR: Unable to find %s function in %s\n";

// The compiler entry points the run calls. A library without one of them is
// refused before it is used, rather than crashing on a null slot: false,
// after the message.
bool hasCalledEntryPoints(const BoundLibraries& libraries) {
    const CompilerLibrary& compiler = libraries.compiler;
    const struct {
        bool bound;
        const char* name;
    } required[] = {
        {compiler.initialize != nullptr, "VRX2Initialize"},
        {compiler.compileProgram3 != nullptr, "VRX2CompileProgram3"},
        {compiler.destroyPT4Program3 != nullptr, "VRX2DestroyPT4Program3"},
        {compiler.destroy != nullptr, "VRX2Destroy"},
    };
    for (const auto& entry : required) {
        if (!entry.bound) {
            std::fprintf(stderr, kMissingEntryPointFormat, entry.name, kCompilerLibraryFileName);
            return false;
        }
    }
    return true;
}

uint32_t compileFlagsFor(const CommandLineOptions& options, OptimizationFlags finalMask) {
    uint32_t flags = kCompileFlagAlways;
    if (options.forceUniformBlock != 0) {
        flags |= kCompileFlagForceUniformBlock;
    }
    if (options.dumpDebugInfo != 0) {
        flags |= kCompileFlagDumpDebugInfo;
    }
    if (options.noQuarn != 0) {
        flags |= kCompileFlagNoQuarn;
    }
    if (finalMask != 0) {
        flags |= kCompileFlagOptimize;
    }
    if (options.instructionStats != 0) {
        flags |= kCompileFlagInstructionStats;
    }
    return flags;
}

OutputSettings outputSettingsFor(const CommandLineOptions& options) {
    OutputSettings settings;
    settings.mode = options.headerOutput != 0   ? OutputMode::Header
                    : options.appendOutput != 0 ? OutputMode::Append
                                                : OutputMode::Write;
    settings.outputPath = options.outputPath;
    settings.gpuVersion = options.gpuVersion == 1 ? 1 : 2;
    settings.endianSwapMode = options.endianBugFix != 0 ? 2 : 0;
    settings.alignPadding = options.alignPadding != 0 ? 1 : 0;
    return settings;
}

void releaseInputs(CommandLineOptions& options) {
    releaseMemory(options.vertexSource);
    releaseMemory(options.pixelSource);
    releaseMemory(options.geometrySource);
    releaseMemory(options.computeSource);
    freeStringArray(options.streamOutVaryings, options.streamOutCount);
}

// The stages' statistics blocks, cleared, which the compiler fills; they live
// until the end of the run.
struct StageStatistics {
    ShaderStats vertex, pixel, geometry, compute;
};

// Fills the request from the options; `finalMask` is the optimisation mask
// once the environment's list has acted on it.
void fillRequest(const CommandLineOptions& options, OptimizationFlags finalMask,
                 StageStatistics& statistics, CompileRequest& request) {
    request.vertexSource = options.vertexSource;
    request.pixelSource = options.pixelSource;
    request.geometrySource = options.geometrySource;
    request.computeSource = options.computeSource;
    request.streamOutVaryings = options.streamOutVaryings;
    request.streamOutCount = options.streamOutCount;
    request.esslLanguage = static_cast<uint32_t>(options.esslLanguage);
    request.quarnDirectory = options.quarnDirectory;
    request.compileFlags = compileFlagsFor(options, finalMask);
    request.optimizationFlags =
        options.noLimitArraySymbols != 0 ? finalMask : finalMask | kLimitArraySymbols;

    const bool computeRun = options.computeSource != nullptr;
    if (computeRun) {
        request.computePath = options.computePath;
    } else {
        request.vertexPath = options.vertexPath;
        request.pixelPath = options.pixelPath;
        request.geometryPath = options.geometryPath;
    }
    // One block per present stage.
    if (options.instructionStats != 0) {
        if (computeRun) {
            request.computeStats = &statistics.compute;
        } else {
            request.vertexStats = options.vertexSource != nullptr ? &statistics.vertex : nullptr;
            request.pixelStats = options.pixelSource != nullptr ? &statistics.pixel : nullptr;
            request.geometryStats =
                options.geometrySource != nullptr ? &statistics.geometry : nullptr;
        }
    }
}

// Writes the side files, the output file and, once the output is written,
// the dependency file; returns the exit code.
int writeResults(const WriterLibrary& writer, const CommandLineOptions& options,
                 const CompileRequest& request, CompiledShaderSet& set, const char* depfilePath,
                 const DependencyList& dependencies) {
    WriterOptions writerOptions;
    std::memset(&writerOptions, 0, sizeof writerOptions);
    writerOptions.magic = kWriterOptionsMagic;
    writerOptions.vertexShader = options.vertexSource != nullptr ? &set.vertexShader : nullptr;
    writerOptions.pixelShader = options.pixelSource != nullptr ? &set.pixelShader : nullptr;
    writerOptions.geometryShader =
        options.geometrySource != nullptr ? &set.geometryShader : nullptr;
    writerOptions.computeShader = options.computeSource != nullptr ? &set.computeShader : nullptr;

    // The files the run wrote, which the dependency file must not replace.
    std::vector<std::string> writtenFiles;
    writeSideFiles(options, request, set, writtenFiles);
    const int exitCode = writeOutputFile(writer, outputSettingsFor(options), writerOptions);
    if (exitCode == kExitSuccess && depfilePath != nullptr) {
        writtenFiles.emplace_back(options.outputPath);
        writeDependencyFile(depfilePath, options.outputPath, dependencies, writtenFiles);
    }
    return exitCode;
}

// Everything after the parse: starts the compiler, compiles the program,
// writes what it made and releases the compiler. The compute-stage error
// ends the run after VRX2Initialize without releasing anything; a missing
// entry point or a compiler that does not start frees both libraries.
int compileAndWrite(BoundLibraries& libraries, const CommandLineOptions& options,
                    const char* depfilePath, const DependencyList& dependencies) {
    if (!hasCalledEntryPoints(libraries)) {
        freeLibraries(libraries);
        return kExitInitializeFailed;
    }
    const CompilerLibrary& compiler = libraries.compiler;
    CompilerSetup setup;
    std::memset(&setup, 0, sizeof setup);
    setup.gpuVersion = static_cast<uint32_t>(options.gpuVersion);
    CompilerHandle compilerHandle = compiler.initialize(&setup);
    if (compilerHandle == nullptr) {
        freeLibraries(libraries);
        return kExitInitializeFailed;
    }

    // The environment's list acts on what the command line chose; set but
    // empty changes nothing.
    OptimizationFlags finalMask = options.optimizationFlags;
    if (const char* list = std::getenv(kOptimizeVariable)) {
        finalMask = parseOptimizationList(finalMask, list);
    }
    if (options.computeSource != nullptr &&
        (options.vertexSource != nullptr || options.pixelSource != nullptr ||
         options.geometrySource != nullptr)) {
        std::fputs(kComputeWithStagesMessage, stderr);
        return kExitComputeWithStages;
    }

    CompileRequest request;
    CompiledShaderSet set;
    std::memset(&request, 0, sizeof request);
    std::memset(&set, 0, sizeof set);
    request.abiVersion = kCompilerRecordStamp;
    set.abiVersion = kCompilerRecordStamp;
    set.compiledProgramAbiVersion = kCompilerRecordStamp;
    StageStatistics statistics{};
    fillRequest(options, finalMask, statistics, request);

    int exitCode = kExitCompileFailed;
    if (compiler.compileProgram3(compilerHandle, &request, &set) != 0) {
        exitCode = writeResults(libraries.writer, options, request, set, depfilePath, dependencies);
    }
    if (set.compileLog != nullptr) {
        std::fprintf(stderr, "%s\n", set.compileLog);
    }
    compiler.destroyPT4Program3(compilerHandle, compiledProgramOf(set));
    compiler.destroy(compilerHandle);
    freeLibraries(libraries);
    return exitCode;
}

}  // namespace

int runCompile(int argumentCount, char** arguments) {
    BoundLibraries libraries;
    if (!bindLibraries(libraries)) {
        return kExitLibraryNotLoaded;
    }
    uint32_t libraryAbiVersion = 0;
    if (libraries.compiler.getABIVersion != nullptr) {
        libraryAbiVersion = libraries.compiler.getABIVersion();
    }

    // Only a run asked for a dependency file lists the files it reads.
    const char* depfilePath = dependencyFilePath();
    DependencyList dependencies;
    ShaderSourceLoader loader;
    if (depfilePath != nullptr) {
        loader.listFilesRead();
    }
    ParseContext context{libraryAbiVersion, &loader,
                         depfilePath != nullptr ? &dependencies : nullptr};
    // Kept for the whole run: the request points into it.
    CommandLineOptions options;
    const ParseResult parsed = parseCommandLine(argumentCount, arguments, options, context);
    const int exitCode = parsed.proceed
                             ? compileAndWrite(libraries, options, depfilePath, dependencies)
                             : parsed.exitCode;
    releaseInputs(options);
    return exitCode;
}
