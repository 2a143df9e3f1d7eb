// Which writer entry point a run calls, with what, and what it reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/double_log.h"
#include "tests/support/driver_run.h"

namespace {

struct WriterCase {
    const char* name;
    const char* writerVariant;
    std::vector<std::string> arguments;
    int exitCode;
    const char* writerCall;  // null: no writer entry point is called
    std::string standardError;
};

const char* const kComputeMessage =
    "ERROR: This version of tmb.dll is unable to handle compute shaders\n";

TEST(OutputWriting, ModesFallbacksAndMessages) {
    const WriterCase cases[] = {
        {"write, newer", "tmb-full", {"-v", "s.vert"}, 0, "TMBWriteFileShader2", ""},
        {"append, newer",
         "tmb-full",
         {"-v", "s.vert", "-oa", "x.vrx"},
         0,
         "TMBAppendWriteFileShader2",
         ""},
        {"header, newer",
         "tmb-full",
         {"-v", "s.vert", "-oh", "x.h"},
         0,
         "TMBWriteFileShaderAsCode2",
         ""},
        {"header wins over append",
         "tmb-full",
         {"-oa", "x.vrx", "-oh", "x.h"},
         0,
         "TMBWriteFileShaderAsCode2",
         ""},
        {"header wins, either order",
         "tmb-full",
         {"-oh", "x.h", "-oa", "x.vrx"},
         0,
         "TMBWriteFileShaderAsCode2",
         ""},
        {"write, older",
         "tmb-older",
         {"-v", "s.vert", "-g", "s.geom"},
         0,
         "TMBWriteFileShader",
         ""},
        {"append, older",
         "tmb-older",
         {"-v", "s.vert", "-oa", "x.vrx"},
         0,
         "TMBAppendWriteFileShader",
         ""},
        {"header, older",
         "tmb-older",
         {"-p", "s.frag", "-oh", "x.h"},
         0,
         "TMBWriteFileShaderAsCode",
         ""},
        {"compute, newer", "tmb-full", {"-c", "s.comp"}, 0, "TMBWriteFileShader2", ""},
        {"compute, older write", "tmb-older", {"-c", "s.comp"}, 4, nullptr, kComputeMessage},
        {"compute, older append",
         "tmb-older",
         {"-c", "s.comp", "-oa"},
         4,
         nullptr,
         kComputeMessage},
        {"compute, older header",
         "tmb-older",
         {"-c", "s.comp", "-oh"},
         4,
         nullptr,
         kComputeMessage},
        {"compute, no writer", "tmb-none", {"-c", "s.comp", "-oh"}, 4, nullptr, kComputeMessage},
        {"write, no writer",
         "tmb-none",
         {"-v", "s.vert"},
         4,
         nullptr,
         "ERROR: Unable to find WriteFileShader function in tmb.dll\n"},
        {"append, no writer",
         "tmb-none",
         {"-v", "s.vert", "-oa"},
         4,
         nullptr,
         "ERROR: Unable to find AppendWriteFileShader function in tmb.dll\n"},
        {"header, no writer",
         "tmb-none",
         {"-v", "s.vert", "-oh"},
         4,
         nullptr,
         "ERROR: Unable to find WriteFileShaderAsCode function in tmb.dll\n"},
    };
    for (const WriterCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempFolder folder;
        for (const char* file : {"s.vert", "s.frag", "s.geom", "s.comp"}) {
            folder.write(file, "void main() {}\n");
        }
        DriverRunner runner;
        runner.writerVariant = testCase.writerVariant;
        DriverResult result = runner.run(folder, testCase.arguments);
        EXPECT_EQ(result.exitCode, testCase.exitCode);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_EQ(result.standardError, testCase.standardError);
        auto calls = parseDoubleLog(result.log);
        std::vector<std::string> writerCalls;
        for (const LoggedCall& call : calls) {
            if (call.name.rfind("TMB", 0) == 0) {
                writerCalls.push_back(call.name);
            }
        }
        if (testCase.writerCall != nullptr) {
            EXPECT_EQ(writerCalls, std::vector<std::string>{testCase.writerCall});
        } else {
            EXPECT_TRUE(writerCalls.empty());
        }
        // The compile is released in every case.
        EXPECT_EQ(callNames(calls).back(), "VRX2Destroy");
    }
}

TEST(OutputWriting, OlderEntryPointsGetTheThreeDrawingStages) {
    TempFolder folder;
    folder.write("s.vert", "void main() {}\n");
    folder.write("s.geom", "void main() {}\n");
    DriverRunner runner;
    runner.writerVariant = "tmb-older";
    DriverResult result = runner.run(
        folder, {"-g", "s.geom", "-v", "s.vert", "-gpu", "1", "-align", "-endianbugfix"});
    ASSERT_EQ(result.exitCode, 0);
    LoggedCall write = findCall(parseDoubleLog(result.log), "TMBWriteFileShader");
    EXPECT_EQ(write["gpuVersion"], "1");
    EXPECT_EQ(write["endianSwapMode"], "2");
    EXPECT_EQ(write["alignPadding"], "1");
    EXPECT_EQ(write["recordCount"], "1");
    EXPECT_EQ(write["shaders.vertexShader"], "set+16");
    EXPECT_EQ(write["shaders.pixelShader"], "null");
    EXPECT_EQ(write["shaders.geometryShader"], "set+648");
}

TEST(OutputWriting, HeaderOutputPassesNeitherGpuVersionNorAlignment) {
    TempFolder folder;
    DriverResult result =
        DriverRunner().run(folder, {"-oh", "shaders.h", "-gpu", "1", "-align", "-endianbugfix"});
    ASSERT_EQ(result.exitCode, 0);
    LoggedCall write = findCall(parseDoubleLog(result.log), "TMBWriteFileShaderAsCode2");
    EXPECT_EQ(write["outputPath"], "\"shaders.h\"");
    EXPECT_EQ(write["endianSwapMode"], "2");
    EXPECT_EQ(write["gpuVersion"], "<absent>");
    EXPECT_EQ(write["alignPadding"], "<absent>");
    EXPECT_EQ(write["shaders.magic"], "0x546d6200");
}

TEST(OutputWriting, WriterFailureComesBeforeTheCompilerLog) {
    TempFolder folder;
    DriverRunner runner;
    runner.environment = {{"TMB_RESULT", "0"}, {"MENDRIX_COMPILE_LOG", "a warning"}};
    DriverResult result = runner.run(folder, {"-pt4"});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.standardError, "a warning\n");

    runner.writerVariant = "tmb-none";
    result = runner.run(folder, {"-pt4"});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.standardError,
              "ERROR: Unable to find WriteFileShader function in tmb.dll\na warning\n");
}

}  // namespace
