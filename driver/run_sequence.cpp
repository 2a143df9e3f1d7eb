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
#include "platform/process_exit.h"
#include "source/stream_out_list.h"

namespace {

constexpr const char* kOptimizeVariable = "VRXCOMPILE_OPTIMIZE";
constexpr const char* kComputeWithStagesMessage =
    "Error: compute shader must be compiled on its own.\n";
constexpr const char* kMissingEntryPointFormat = "ERROR: Unable to find %s function in %s\n";

// The compiler entry points the run calls. A library without one of them is
// refused before it is used, rather than crashing on a null slot.
void requireCalledEntryPoints(BoundLibraries& libraries) {
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
            freeLibraries(libraries);
            exitProcess(kExitInitializeFailed);
        }
    }
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

}  // namespace

int runCompile(int argumentCount, char** arguments) {
    BoundLibraries libraries;
    bindLibraries(libraries);

    uint32_t libraryAbiVersion = 0;
    if (libraries.compiler.getABIVersion != nullptr) {
        libraryAbiVersion = libraries.compiler.getABIVersion();
    }

    CommandLineOptions options;
    CompiledShaderSet set;
    CompilerSetup setup;
    WriterOptions writerOptions;
    CompileRequest request;
    std::memset(&options, 0, sizeof options);
    std::memset(&set, 0, sizeof set);
    std::memset(&setup, 0, sizeof setup);
    std::memset(&writerOptions, 0, sizeof writerOptions);
    std::memset(&request, 0, sizeof request);
    request.abiVersion = kCompilerRecordStamp;
    set.abiVersion = kCompilerRecordStamp;
    set.compiledProgramAbiVersion = kCompilerRecordStamp;

    // Only a run asked for a dependency file listens to the files it reads.
    const char* depfilePath = dependencyFilePath();
    DependencyList dependencies;
    if (depfilePath != nullptr) {
        startCollectingDependencies(dependencies);
    }

    parseCommandLine(argumentCount, arguments, options, libraryAbiVersion);
    requireCalledEntryPoints(libraries);
    const CompilerLibrary& compiler = libraries.compiler;

    setup.gpuVersion = static_cast<uint32_t>(options.gpuVersion);
    CompilerHandle compilerHandle = compiler.initialize(&setup);
    if (compilerHandle == nullptr) {
        freeLibraries(libraries);
        exitProcess(kExitInitializeFailed);
    }

    // The environment's list acts on what the command line chose; set but
    // empty changes nothing.
    OptimizationFlags finalMask = options.optimizationFlags;
    if (const char* list = std::getenv(kOptimizeVariable)) {
        finalMask = parseOptimizationList(finalMask, list);
    }

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
        if (options.vertexSource != nullptr || options.pixelSource != nullptr ||
            options.geometrySource != nullptr) {
            std::fputs(kComputeWithStagesMessage, stderr);
            exitProcess(kExitComputeWithStages);
        }
        request.computePath = options.computePath;
    } else {
        request.vertexPath = options.vertexPath;
        request.pixelPath = options.pixelPath;
        request.geometryPath = options.geometryPath;
    }

    // One cleared block per present stage, filled by the compiler; they live
    // in this frame until the end of the run.
    ShaderStats vertexStats{}, pixelStats{}, geometryStats{}, computeStats{};
    if (options.instructionStats != 0) {
        if (computeRun) {
            request.computeStats = &computeStats;
        } else {
            request.vertexStats = options.vertexSource != nullptr ? &vertexStats : nullptr;
            request.pixelStats = options.pixelSource != nullptr ? &pixelStats : nullptr;
            request.geometryStats = options.geometrySource != nullptr ? &geometryStats : nullptr;
        }
    }

    int exitCode = kExitSuccess;
    if (compiler.compileProgram3(compilerHandle, &request, &set) == 0) {
        exitCode = kExitCompileFailed;
    } else {
        writerOptions.magic = kWriterOptionsMagic;
        writerOptions.vertexShader = options.vertexSource != nullptr ? &set.vertexShader : nullptr;
        writerOptions.pixelShader = options.pixelSource != nullptr ? &set.pixelShader : nullptr;
        writerOptions.geometryShader =
            options.geometrySource != nullptr ? &set.geometryShader : nullptr;
        writerOptions.computeShader = computeRun ? &set.computeShader : nullptr;

        // The files the run wrote, which the dependency file must not replace.
        std::vector<std::string> writtenFiles;
        writeSideFiles(options, request, set, writtenFiles);
        exitCode = writeOutputFile(libraries.writer, outputSettingsFor(options), writerOptions);
        if (exitCode == kExitSuccess && depfilePath != nullptr) {
            writtenFiles.emplace_back(options.outputPath);
            writeDependencyFile(depfilePath, options.outputPath, dependencies, writtenFiles);
        }
    }

    if (set.compileLog != nullptr) {
        std::fprintf(stderr, "%s\n", set.compileLog);
    }
    compiler.destroyPT4Program3(compilerHandle, compiledProgramOf(set));
    compiler.destroy(compilerHandle);

    releaseInputs(options);
    freeLibraries(libraries);
    return exitCode;
}
