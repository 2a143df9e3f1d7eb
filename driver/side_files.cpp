#include "driver/side_files.h"

#include <cstdio>
#include <cstring>

namespace {

struct SideFileStage {
    const char* dumpFormat;
    const char* statisticsFormat;
    const char* CompiledShaderSet::*dump;
    ShaderStats* CompileRequest::*stats;
};

constexpr SideFileStage kSideFileStages[] = {
    {"%s_vs.dmp", "%s_vs.stat", &CompiledShaderSet::vertexDump, &CompileRequest::vertexStats},
    {"%s_gs.dmp", "%s_gs.stat", &CompiledShaderSet::geometryDump, &CompileRequest::geometryStats},
    {"%s_ps.dmp", "%s_ps.stat", &CompiledShaderSet::pixelDump, &CompileRequest::pixelStats},
    {"%s_cs.dmp", "%s_cs.stat", &CompiledShaderSet::computeDump, &CompileRequest::computeStats},
};

constexpr const char* kStatisticsTitle = "Hardware Usage Statistics\n\n";

struct StatisticsLine {
    const char* format;
    uint32_t ShaderStats::*counter;
};

constexpr StatisticsLine kStatisticsLines[] = {
    {"Total HW instructions used:      %5d\n", &ShaderStats::totalInstructions},
    {"  ALU instructions used:         %5d\n", &ShaderStats::aluInstructions},
    {"  Tfetch instructions used:      %5d\n", &ShaderStats::tfetchInstructions},
    {"  Vfetch instructions used:      %5d\n", &ShaderStats::vfetchInstructions},
    {"  Control flow instructions:     %5d\n", &ShaderStats::controlFlowInstructions},
    {"GPR pool size:                   %5d\n", &ShaderStats::gprPoolSize},
    {"Num HW GPRs used:                %5d\n", &ShaderStats::gprsUsed},
    {"Num HW clause temps used:        %5d\n", &ShaderStats::clauseTempsUsed},
    {"External (API) ALU consts:       %5d\n", &ShaderStats::externalAluConstants},
};

// Forms a side file name; false when it would be longer than the limit.
bool formatSideFileName(char (&name)[kMaxSideFileNameLength + 1], const char* format,
                        const char* baseName) {
    int length = std::snprintf(name, sizeof name, format, baseName);
    return length >= 0 && static_cast<size_t>(length) <= kMaxSideFileNameLength;
}

void writeDumpFile(const char* fileName, const char* text) {
    FILE* file = std::fopen(fileName, "w");
    if (file == nullptr) {
        return;
    }
    std::fputs(text, file);
    std::fflush(file);
    std::fclose(file);
}

}  // namespace

bool makeDumpBaseName(char* buffer, size_t size, const char* outputPath) {
    size_t length = std::strlen(outputPath);
    if (length + 1 > size) {
        return false;
    }
    std::memcpy(buffer, outputPath, length + 1);
    char* lastComponent = buffer;
    for (char* cursor = buffer; *cursor != '\0'; ++cursor) {
        if (*cursor == '/' || *cursor == '\\') {
            lastComponent = cursor + 1;
        }
    }
    if (char* dot = std::strrchr(lastComponent, '.')) {
        *dot = '\0';
    }
    return true;
}

void writeShaderStatistics(const char* fileName, const ShaderStats& stats) {
    FILE* file = std::fopen(fileName, "w");
    if (file == nullptr) {
        return;
    }
    std::fputs(kStatisticsTitle, file);
    for (const StatisticsLine& line : kStatisticsLines) {
        // Counters are reported as signed values.
        std::fprintf(file, line.format, static_cast<int32_t>(stats.*line.counter));
    }
    std::fclose(file);
}

void writeSideFiles(const CommandLineOptions& options, const CompileRequest& request,
                    const CompiledShaderSet& set) {
    char baseName[kMaxSideFileNameLength + 1];
    if (!makeDumpBaseName(baseName, sizeof baseName, options.outputPath)) {
        return;
    }
    char fileName[kMaxSideFileNameLength + 1];
    if (options.dumpDebugInfo) {
        for (const SideFileStage& stage : kSideFileStages) {
            const char* text = set.*stage.dump;
            if (text != nullptr && formatSideFileName(fileName, stage.dumpFormat, baseName)) {
                writeDumpFile(fileName, text);
            }
        }
    }
    if (options.instructionStats) {
        for (const SideFileStage& stage : kSideFileStages) {
            const ShaderStats* stats = request.*stage.stats;
            if (stats != nullptr &&
                formatSideFileName(fileName, stage.statisticsFormat, baseName)) {
                writeShaderStatistics(fileName, *stats);
            }
        }
    }
}
