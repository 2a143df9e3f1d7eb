#include "driver/command_line.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "driver/dependency_file.h"
#include "driver/usage.h"
#include "platform/exit_codes.h"
#include "platform/file_system.h"
#include "platform/process_exit.h"
#include "source/shader_source.h"
#include "source/stream_out_list.h"

namespace {

constexpr const char* kDefaultOutputPath = "output.vrx";
constexpr const char* kUnsupportedGpuMessage = "Error: Unsupported GPU version\n";
constexpr const char* kUnsupportedLanguageMessage = "Unsupported shader language type specified\n";
constexpr const char* kProblemOpeningFileFormat = "Problem opening file \"%s\".\n";
constexpr const char* kMissingArgumentFormat = "Missing parameter argument %s <arg>\n";
constexpr const char* kUnrecognizedFormat = "Unrecognized command line parameter \"%s\". Exiting.";

// Full paths of the stage files; the options point into them for the whole
// process.
char vertexFullPath[kFullPathBufferSize];
char pixelFullPath[kFullPathBufferSize];
char geometryFullPath[kFullPathBufferSize];
char computeFullPath[kFullPathBufferSize];

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
    {"-force_uniformblock", Option::ForceUniformBlock, Argument::None},
    {"-O", Option::Optimize, Argument::None},
    {"-t", Option::Language, Argument::Required},
    {"-align", Option::Align, Argument::None},
    {"-endianbugfix", Option::EndianBugFix, Argument::None},
    {"-pt4", Option::Pt4, Argument::None},
    {"-d", Option::DumpDebugInfo, Argument::None},
    {"-noquarn", Option::NoQuarn, Argument::None},
    {"-quarndir", Option::QuarnDirectory, Argument::Required},
    {"-istats", Option::InstructionStats, Argument::None},
    {"-no_limit_array_syms", Option::NoLimitArraySymbols, Argument::None},
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

bool isWhiteSpace(char character) {
    return character == ' ' || character == '\t' || character == '\n' || character == '\v' ||
           character == '\f' || character == '\r';
}

// Decimal value of `text`: leading white space, an optional sign, then digits
// up to the first other character; no digits give 0, and values beyond the
// 32-bit range saturate rather than wrap.
int32_t parseDecimal(const char* text) {
    while (isWhiteSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    const long long limit = negative ? -static_cast<long long>(INT32_MIN) : INT32_MAX;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > limit) {
            value = limit;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

[[noreturn]] void failWith(int exitCode, const char* format, const char* text) {
    std::printf(format, text);
    exitProcess(exitCode);
}

// Loads a stage's file into its text and records its full path (or the
// argument itself when the full path does not fit the buffer).
void loadStage(const char* file, char*& source, const char*& path, char* fullPathBuffer) {
    if (!loadShaderSource(file, &source)) {
        failWith(kExitCannotOpenFile, kProblemOpeningFileFormat, file);
    }
    path = convertToFullPath(fullPathBuffer, file) ? fullPathBuffer : file;
}

void readStreamOut(const char* file, CommandLineOptions& options) {
    uint32_t count = options.streamOutCount;
    char** names = readStreamOutList(file, count);
    if (names == nullptr) {
        failWith(kExitCannotOpenFile, kProblemOpeningFileFormat, file);
    }
    noteDependency(file);
    // A later list replaces an earlier one.
    freeStringArray(options.streamOutVaryings, options.streamOutCount);
    options.streamOutVaryings = names;
    options.streamOutCount = count;
}

[[noreturn]] void printUsageAndExit() {
    printUsage();
    exitProcess(kExitSuccess);
}

}  // namespace

bool parseCommandLine(int argumentCount, char** arguments, CommandLineOptions& options,
                      uint32_t libraryAbiVersion) {
    std::memset(&options, 0, sizeof options);
    options.gpuVersion = 2;
    options.outputPath = kDefaultOutputPath;

    if (argumentCount == 1) {
        printUsageAndExit();
    }
    int index = 1;
    while (index < argumentCount) {
        const char* element = arguments[index];
        const OptionRow* row = findOptionRow(element);
        if (row == nullptr) {
            failWith(kExitBadCommandLine, kUnrecognizedFormat, element);
        }
        const char* argument = index + 1 < argumentCount ? arguments[index + 1] : nullptr;
        if (row->argument == Argument::Required && argument == nullptr) {
            failWith(kExitBadCommandLine, kMissingArgumentFormat, row->text);
        }
        index += (row->argument == Argument::None || argument == nullptr) ? 1 : 2;

        switch (row->option) {
            case Option::GpuVersion:
                options.gpuVersion = parseDecimal(argument);
                if (options.gpuVersion != 1 && options.gpuVersion != 2) {
                    std::fputs(kUnsupportedGpuMessage, stdout);
                    exitProcess(kExitUnsupportedGpu);
                }
                break;
            case Option::VertexShader:
                loadStage(argument, options.vertexSource, options.vertexPath, vertexFullPath);
                break;
            case Option::PixelShader:
                loadStage(argument, options.pixelSource, options.pixelPath, pixelFullPath);
                break;
            case Option::GeometryShader:
                loadStage(argument, options.geometrySource, options.geometryPath, geometryFullPath);
                break;
            case Option::ComputeShader:
                loadStage(argument, options.computeSource, options.computePath, computeFullPath);
                break;
            case Option::StreamOut:
                readStreamOut(argument, options);
                break;
            case Option::OutputAppend:
                options.appendOutput = 1;
                [[fallthrough]];
            case Option::Output:
                if (argument != nullptr) {
                    options.outputPath = argument;
                }
                break;
            case Option::OutputHeader:
                options.headerOutput = 1;
                if (argument != nullptr) {
                    options.outputPath = argument;
                }
                break;
            case Option::HelpQuestionMark:
            case Option::Help:
                printUsageAndExit();
            case Option::ForceUniformBlock:
                options.forceUniformBlock = 1;
                break;
            case Option::Optimize:
                // A bare -O chooses every optimisation, replacing earlier lists.
                options.optimizationFlags =
                    element[2] == '\0'
                        ? kAllOptimizations
                        : parseOptimizationList(options.optimizationFlags, element + 2);
                break;
            case Option::Language:
                if (std::strcmp(argument, "essl") == 0) {
                    options.esslLanguage = 1;
                } else if (std::strcmp(argument, "glsl") == 0) {
                    options.esslLanguage = 0;
                } else {
                    std::fputs(kUnsupportedLanguageMessage, stdout);
                    exitProcess(kExitUnsupportedLanguage);
                }
                break;
            case Option::Align:
                options.alignPadding = 1;
                break;
            case Option::EndianBugFix:
                options.endianBugFix = 1;
                break;
            case Option::Pt4:
                break;
            case Option::DumpDebugInfo:
                options.dumpDebugInfo = 1;
                break;
            case Option::NoQuarn:
                options.noQuarn = 1;
                break;
            case Option::QuarnDirectory:
                options.quarnDirectory = argument;
                break;
            case Option::InstructionStats:
                options.instructionStats = 1;
                break;
            case Option::NoLimitArraySymbols:
                options.noLimitArraySymbols = 1;
                break;
            case Option::Version:
                printVersionReport(libraryAbiVersion);
                exitProcess(kExitSuccess);
        }
    }
    return true;
}
