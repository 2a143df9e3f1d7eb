#include "driver/command_line.h"

#include <cstdio>
#include <cstring>

#include "driver/usage.h"
#include "platform/decimal.h"
#include "platform/exit_codes.h"
#include "source/stream_out_list.h"

namespace {

constexpr const char* kDefaultOutputPath = "output.vrx";
constexpr const char* kUnsupportedGpuMessage = "Error: Unsupported GPU version\n";
constexpr const char* kUnsupportedLanguageMessage = "Unsupported shader language type specified\n";
constexpr const char* kProblemOpeningFileFormat = "Problem opening file \"%s\".\n";
constexpr const char* kMissingArgumentFormat = "Missing parameter argument %s <arg>\n";
constexpr const char* kUnrecognizedFormat = "Unrecognized command line parameter \"%s\". Exiting.";

constexpr ParseResult kProceed = {true, 0};

ParseResult endWith(int exitCode) {
    return {false, exitCode};
}

enum class Option {
    GpuVersion,
    VertexShader,
    PixelShader,
    GeometryShader,
    ComputeShader,
    StreamOut,
    Output,
    OutputAppend,
    OutputHeader,
    HelpQuestionMark,
    Help,
    ForceUniformBlock,
    Optimize,
    Language,
    Align,
    EndianBugFix,
    Pt4,
    DumpDebugInfo,
    NoQuarn,
    QuarnDirectory,
    InstructionStats,
    NoLimitArraySymbols,
    Version,
};

enum class Argument { None, Required, Optional };

struct OptionRow {
    const char* text;
    Option option;
    Argument argument;
    // The switch that the option only sets to 1, or null.
    int32_t CommandLineOptions::*flag = nullptr;
};

// Tested in this order; the first match is taken. "-O" matches as a prefix.
constexpr OptionRow kOptionRows[] = {
    {"-gpu", Option::GpuVersion, Argument::Required},
    {"-v", Option::VertexShader, Argument::Required},
    {"-p", Option::PixelShader, Argument::Required},
    {"-g", Option::GeometryShader, Argument::Required},
    {"-c", Option::ComputeShader, Argument::Required},
    {"-so", Option::StreamOut, Argument::Required},
    {"-o", Option::Output, Argument::Optional},
    {"-oa", Option::OutputAppend, Argument::Optional},
    {"-oh", Option::OutputHeader, Argument::Optional},
    {"-?", Option::HelpQuestionMark, Argument::None},
    {"-help", Option::Help, Argument::None},
    {"-force_uniformblock", Option::ForceUniformBlock, Argument::None,
     &CommandLineOptions::forceUniformBlock},
    {"-O", Option::Optimize, Argument::None},
    {"-t", Option::Language, Argument::Required},
    {"-align", Option::Align, Argument::None, &CommandLineOptions::alignPadding},
    {"-endianbugfix", Option::EndianBugFix, Argument::None, &CommandLineOptions::endianBugFix},
    {"-pt4", Option::Pt4, Argument::None},
    {"-d", Option::DumpDebugInfo, Argument::None, &CommandLineOptions::dumpDebugInfo},
    {"-noquarn", Option::NoQuarn, Argument::None, &CommandLineOptions::noQuarn},
    {"-quarndir", Option::QuarnDirectory, Argument::Required},
    {"-istats", Option::InstructionStats, Argument::None, &CommandLineOptions::instructionStats},
    {"-no_limit_array_syms", Option::NoLimitArraySymbols, Argument::None,
     &CommandLineOptions::noLimitArraySymbols},
    {"-version", Option::Version, Argument::None},
};

const OptionRow* findOptionRow(const char* element) {
    for (const OptionRow& row : kOptionRows) {
        bool matches = row.option == Option::Optimize ? std::strncmp(element, "-O", 2) == 0
                                                      : std::strcmp(element, row.text) == 0;
        if (matches) {
            return &row;
        }
    }
    return nullptr;
}

ParseResult failWith(int exitCode, const char* format, const char* text) {
    std::printf(format, text);
    return endWith(exitCode);
}

// Adds the files the loader read since the last call to the dependencies.
void noteFilesRead(ParseContext& context) {
    std::vector<std::string> files = context.loader->takeFilesRead();
    if (context.dependencies != nullptr) {
        for (const std::string& file : files) {
            addDependency(*context.dependencies, file.c_str());
        }
    }
}

// Loads a stage's file into its text and records its full path (or the
// argument itself when the full path does not fit the buffer).
ParseResult loadStage(const char* file, char*& source, const char*& path, char* fullPathBuffer,
                      ParseContext& context) {
    // Out of memory has printed its message; the run ends without
    // allocating more.
    const LoadResult loaded = context.loader->load(file, &source);
    if (loaded == LoadResult::outOfMemory) {
        return endWith(kExitOutOfMemory);
    }
    if (loaded == LoadResult::notOpened) {
        return failWith(kExitCannotOpenFile, kProblemOpeningFileFormat, file);
    }
    noteFilesRead(context);
    path = convertToFullPath(fullPathBuffer, file) ? fullPathBuffer : file;
    return kProceed;
}

ParseResult readStreamOut(const char* file, CommandLineOptions& options, ParseContext& context) {
    uint32_t count = options.streamOutCount;
    char** names = readStreamOutList(file, count);
    if (names == nullptr) {
        return failWith(kExitCannotOpenFile, kProblemOpeningFileFormat, file);
    }
    if (context.dependencies != nullptr) {
        addDependency(*context.dependencies, file);
    }
    // A later list replaces an earlier one.
    freeStringArray(options.streamOutVaryings, options.streamOutCount);
    options.streamOutVaryings = names;
    options.streamOutCount = count;
    return kProceed;
}

ParseResult printUsageAndEnd() {
    printUsage();
    return endWith(kExitSuccess);
}

ParseResult setOutputPath(const char* argument, CommandLineOptions& options) {
    if (argument != nullptr) {
        options.outputPath = argument;
    }
    return kProceed;
}

ParseResult setGpuVersion(const char* argument, CommandLineOptions& options) {
    options.gpuVersion = parseDecimalInt32(argument);
    if (options.gpuVersion != 1 && options.gpuVersion != 2) {
        std::fputs(kUnsupportedGpuMessage, stdout);
        return endWith(kExitUnsupportedGpu);
    }
    return kProceed;
}

ParseResult setLanguage(const char* argument, CommandLineOptions& options) {
    if (std::strcmp(argument, "essl") == 0) {
        options.esslLanguage = 1;
    } else if (std::strcmp(argument, "glsl") == 0) {
        options.esslLanguage = 0;
    } else {
        std::fputs(kUnsupportedLanguageMessage, stdout);
        return endWith(kExitUnsupportedLanguage);
    }
    return kProceed;
}

// Carries out one option whose argument (null when it takes none or none
// is left) has been taken.
ParseResult applyOption(const OptionRow& row, const char* element, const char* argument,
                        CommandLineOptions& options, ParseContext& context) {
    if (row.flag != nullptr) {
        options.*row.flag = 1;
        return kProceed;
    }
    switch (row.option) {
        case Option::GpuVersion:
            return setGpuVersion(argument, options);
        case Option::VertexShader:
            return loadStage(argument, options.vertexSource, options.vertexPath,
                             options.vertexFullPath, context);
        case Option::PixelShader:
            return loadStage(argument, options.pixelSource, options.pixelPath,
                             options.pixelFullPath, context);
        case Option::GeometryShader:
            return loadStage(argument, options.geometrySource, options.geometryPath,
                             options.geometryFullPath, context);
        case Option::ComputeShader:
            return loadStage(argument, options.computeSource, options.computePath,
                             options.computeFullPath, context);
        case Option::StreamOut:
            return readStreamOut(argument, options, context);
        case Option::OutputAppend:
            options.appendOutput = 1;
            return setOutputPath(argument, options);
        case Option::Output:
            return setOutputPath(argument, options);
        case Option::OutputHeader:
            options.headerOutput = 1;
            return setOutputPath(argument, options);
        case Option::HelpQuestionMark:
        case Option::Help:
            return printUsageAndEnd();
        case Option::Optimize:
            // A bare -O chooses every optimisation, replacing earlier lists.
            options.optimizationFlags =
                element[2] == '\0' ? kAllOptimizations
                                   : parseOptimizationList(options.optimizationFlags, element + 2);
            return kProceed;
        case Option::Language:
            return setLanguage(argument, options);
        case Option::QuarnDirectory:
            options.quarnDirectory = argument;
            return kProceed;
        case Option::Version:
            printVersionReport(context.libraryAbiVersion);
            return endWith(kExitSuccess);
        default:
            // -pt4 is accepted and changes nothing; the other switches have
            // their flag.
            return kProceed;
    }
}

}  // namespace

ParseResult parseCommandLine(int argumentCount, char** arguments, CommandLineOptions& options,
                             ParseContext& context) {
    std::memset(&options, 0, sizeof options);
    options.gpuVersion = 2;
    options.outputPath = kDefaultOutputPath;

    if (argumentCount == 1) {
        return printUsageAndEnd();
    }
    int index = 1;
    while (index < argumentCount) {
        const char* element = arguments[index];
        const OptionRow* row = findOptionRow(element);
        if (row == nullptr) {
            return failWith(kExitBadCommandLine, kUnrecognizedFormat, element);
        }
        const char* argument = index + 1 < argumentCount ? arguments[index + 1] : nullptr;
        if (row->argument == Argument::Required && argument == nullptr) {
            return failWith(kExitBadCommandLine, kMissingArgumentFormat, row->text);
        }
        index += (row->argument == Argument::None || argument == nullptr) ? 1 : 2;
        const ParseResult result = applyOption(*row, element, argument, options, context);
        if (!result.proceed) {
            return result;
        }
    }
    return kProceed;
}
