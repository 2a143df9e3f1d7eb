#include "driver/side_files.h"

#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "platform/safe_files.h"

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

constexpr const char* kDumpNotWrittenFormat =
    "vrxCompile: warning: dump file \"%s\" not written: %s\n";
constexpr const char* kStatisticsNotWrittenFormat =
    "vrxCompile: warning: statistics file \"%s\" not written: %s\n";

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

// The bytes a text-mode stream would write for `text`.
std::string withTextLineEnds(const std::string& text) {
    if (std::strcmp(kTextLineEnd, "\n") == 0) {
        return text;
    }
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') {
            bytes += kTextLineEnd;
        } else {
            bytes += c;
        }
    }
    return bytes;
}

// Writes one side file as text. A file that cannot be opened or created is
// skipped without a word; one that fails while it is written is warned about
// and removed, so that neither a cut text nor an earlier run's is taken for
// this run's.
void writeSideFile(const char* fileName, const std::string& text, const char* what,
                   const char* warningFormat) {
    const std::string bytes = withTextLineEnds(text);
    std::string error;
    if (safe_files::replaceOrRemoveFile(fileName, bytes.data(), bytes.size(), what, error) ==
        safe_files::ReplaceOutcome::failedStoring) {
        std::fprintf(stderr, warningFormat, fileName, error.c_str());
    }
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
    std::string text = kStatisticsTitle;
    for (const StatisticsLine& line : kStatisticsLines) {
        char formatted[64];
        // Counters are reported as signed values.
        std::snprintf(formatted, sizeof formatted, line.format,
                      static_cast<int32_t>(stats.*line.counter));
        text += formatted;
    }
    writeSideFile(fileName, text, "statistics file", kStatisticsNotWrittenFormat);
}

void writeSideFiles(const CommandLineOptions& options, const CompileRequest& request,
                    const CompiledShaderSet& set, std::vector<std::string>& fileNames) {
    char baseName[kMaxSideFileNameLength + 1];
    if (!makeDumpBaseName(baseName, sizeof baseName, options.outputPath)) {
        return;
    }
    char fileName[kMaxSideFileNameLength + 1];
    if (options.dumpDebugInfo) {
        for (const SideFileStage& stage : kSideFileStages) {
            const char* text = set.*stage.dump;
            if (text != nullptr && formatSideFileName(fileName, stage.dumpFormat, baseName)) {
                writeSideFile(fileName, text, "dump file", kDumpNotWrittenFormat);
                fileNames.emplace_back(fileName);
            }
        }
    }
    if (options.instructionStats) {
        for (const SideFileStage& stage : kSideFileStages) {
            const ShaderStats* stats = request.*stage.stats;
            if (stats != nullptr &&
                formatSideFileName(fileName, stage.statisticsFormat, baseName)) {
                writeShaderStatistics(fileName, *stats);
                fileNames.emplace_back(fileName);
            }
        }
    }
}
