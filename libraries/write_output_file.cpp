#include "libraries/write_output_file.h"

#include <cstdio>

#include "platform/exit_codes.h"

namespace {

constexpr const char* kComputeUnsupportedMessage =
    "ERROR: This version of tmb.dll is unable to handle compute shaders\n";
constexpr const char* kMissingHeaderWriterMessage =
    "ERROR: Unable to find WriteFileShaderAsCode function in tmb.dll\n";
constexpr const char* kMissingAppendWriterMessage =
    "ERROR: Unable to find AppendWriteFileShader function in tmb.dll\n";
constexpr const char* kMissingWriterMessage =
    "ERROR: Unable to find WriteFileShader function in tmb.dll\n";

// The result the writer returned, as an exit code.
int exitCodeOf(int32_t writerResult) {
    return writerResult != 0 ? kExitSuccess : kExitWriterFailed;
}

int failWith(const char* message) {
    std::fputs(message, stderr);
    return kExitWriterFailed;
}

}  // namespace

int writeOutputFile(const WriterLibrary& writer, const OutputSettings& settings,
                    const WriterOptions& shaders) {
    constexpr uint32_t kRecordCount = 1;
    const WriterShaders olderShaders = {shaders.vertexShader, shaders.pixelShader,
                                        shaders.geometryShader};
    const bool hasCompute = shaders.computeShader != nullptr;

    switch (settings.mode) {
        case OutputMode::Header:
            if (writer.writeFileShaderAsCode2 != nullptr) {
                return exitCodeOf(writer.writeFileShaderAsCode2(settings.outputPath,
                                                                settings.endianSwapMode, &shaders));
            }
            if (hasCompute) {
                return failWith(kComputeUnsupportedMessage);
            }
            if (writer.writeFileShaderAsCode != nullptr) {
                return exitCodeOf(writer.writeFileShaderAsCode(
                    settings.outputPath, settings.endianSwapMode, &olderShaders));
            }
            return failWith(kMissingHeaderWriterMessage);

        case OutputMode::Append:
        case OutputMode::Write: {
            const bool append = settings.mode == OutputMode::Append;
            TMBWriteFileShader2Fn newer =
                append ? writer.appendWriteFileShader2 : writer.writeFileShader2;
            TMBWriteFileShaderFn older =
                append ? writer.appendWriteFileShader : writer.writeFileShader;
            if (newer != nullptr) {
                return exitCodeOf(newer(settings.outputPath, settings.gpuVersion,
                                        settings.endianSwapMode, settings.alignPadding,
                                        kRecordCount, &shaders));
            }
            if (hasCompute) {
                return failWith(kComputeUnsupportedMessage);
            }
            if (older != nullptr) {
                return exitCodeOf(older(settings.outputPath, settings.gpuVersion,
                                        settings.endianSwapMode, settings.alignPadding,
                                        kRecordCount, &olderShaders));
            }
            return failWith(append ? kMissingAppendWriterMessage : kMissingWriterMessage);
        }
    }
    return kExitWriterFailed;
}
