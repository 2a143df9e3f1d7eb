// A whole run through the doubles: the request the compiler gets, the order
// of the calls, and the exit code of every ending after the parser.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/double_log.h"
#include "tests/support/driver_run.h"

using ::testing::ElementsAre;

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kFullRun = {"VRX2GetABIVersion",      "VRX2Initialize",
                                           "VRX2CompileProgram3",    "TMBWriteFileShader2",
                                           "VRX2DestroyPT4Program3", "VRX2Destroy"};

TEST(RunSequence, WorkedExample) {
    TempFolder folder;
    folder.write("a.vert", "void main() { gl_Position = vec4(0.0); }\n");
    folder.write("a.frag", "void main() {}");
    DriverResult result =
        DriverRunner().run(folder, {"-v", "a.vert", "-p", "a.frag", "-o", "out.vrx"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "");
    auto calls = parseDoubleLog(result.log);
    EXPECT_EQ(callNames(calls), kFullRun);

    EXPECT_EQ(findCall(calls, "VRX2Initialize")["setup.gpuVersion"], "2");
    LoggedCall compile = findCall(calls, "VRX2CompileProgram3");
    EXPECT_EQ(compile["handle"], "ok");
    EXPECT_EQ(compile["request.abiVersion"], "0xab810003");
    EXPECT_EQ(compile["request.vertexSource"],
              "\"void main() { gl_Position = vec4(0.0); }\\n\\n\"");
    EXPECT_EQ(compile["request.pixelSource"], "\"void main() {}\\n\"");
    EXPECT_EQ(compile["request.geometrySource"], "null");
    EXPECT_EQ(compile["request.computeSource"], "null");
    EXPECT_EQ(compile["request.streamOutVaryings"], "null");
    EXPECT_EQ(compile["request.streamOutCount"], "0");
    EXPECT_EQ(compile["request.compileFlags"], "0x00000010");
    EXPECT_EQ(compile["request.optimizationFlags"], "0x0000000000000040");
    EXPECT_EQ(compile["request.computePath"], "null");
    for (const char* stats : {"request.vertexStats", "request.pixelStats", "request.geometryStats",
                              "request.computeStats"}) {
        EXPECT_EQ(compile[stats], "null");
    }
    EXPECT_EQ(compile["request.unusedBytes"], "zero");
    EXPECT_EQ(compile["set.abiVersion"], "0xab810003");
    EXPECT_EQ(compile["set.compiledProgram.abiVersion"], "0xab810003");
    EXPECT_EQ(compile["set.otherBytes"], "zero");

    LoggedCall write = findCall(calls, "TMBWriteFileShader2");
    EXPECT_EQ(write["outputPath"], "\"out.vrx\"");
    EXPECT_EQ(write["gpuVersion"], "2");
    EXPECT_EQ(write["endianSwapMode"], "0");
    EXPECT_EQ(write["alignPadding"], "0");
    EXPECT_EQ(write["recordCount"], "1");
    EXPECT_EQ(write["shaders.magic"], "0x546d6200");
    EXPECT_EQ(write["shaders.vertexShader"], "set+16");
    EXPECT_EQ(write["shaders.pixelShader"], "set+376");
    EXPECT_EQ(write["shaders.geometryShader"], "null");
    EXPECT_EQ(write["shaders.computeShader"], "null");

    EXPECT_EQ(findCall(calls, "VRX2DestroyPT4Program3")["compiledProgram"], "set+8");
    EXPECT_EQ(findCall(calls, "VRX2DestroyPT4Program3")["handle"], "ok");
    EXPECT_EQ(findCall(calls, "VRX2Destroy")["handle"], "ok");
    EXPECT_EQ(readFileBytes(folder.path() / "out.vrx"), "written by TMBWriteFileShader2\n");
}

struct FlagCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* optimizeVariable;  // null: unset
    const char* compileFlags;
    const char* optimizationFlags;
    const char* standardError;
};

TEST(RunSequence, CompileFlagsAndOptimizationMask) {
    const FlagCase cases[] = {
        {"nothing", {"-pt4"}, nullptr, "0x00000010", "0x0000000000000040", ""},
        {"no array limit",
         {"-no_limit_array_syms"},
         nullptr,
         "0x00000010",
         "0x0000000000000000",
         ""},
        {"bare -O", {"-O"}, nullptr, "0x00000018", "0xffffffffffffff7f", ""},
        {"bare -O, no array limit",
         {"-O", "-no_limit_array_syms"},
         nullptr,
         "0x00000018",
         "0xffffffffffffff3f",
         ""},
        {"switches",
         {"-d", "-noquarn", "-force_uniformblock"},
         nullptr,
         "0x00000017",
         "0x0000000000000040",
         ""},
        {"switches and stats",
         {"-d", "-noquarn", "-force_uniformblock", "-istats"},
         nullptr,
         "0x00000037",
         "0x0000000000000040",
         ""},
        {"variable resets the command line",
         {"-Oall"},
         "none",
         "0x00000010",
         "0x0000000000000040",
         ""},
        {"empty variable changes nothing", {"-Oconst"}, "", "0x00000018", "0x0000000000000048", ""},
        {"variable adds", {"-Oconst"}, "fastmath", "0x00000018", "0x000000000000004a", ""},
        {"variable removes", {"-Oconst,sc"}, "!const", "0x00000018", "0x0000000000000041", ""},
        {"variable takes no -O",
         {"-Osc"},
         "-Oall",
         "0x00000018",
         "0x0000000000000041",
         "Unknown optimization option: -Oall\n"},
        {"glsl alone sets the flag",
         {"-Oglsl", "-no_limit_array_syms"},
         nullptr,
         "0x00000018",
         "0x0000000000000080",
         ""},
    };
    for (const FlagCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempFolder folder;
        DriverRunner runner;
        if (testCase.optimizeVariable != nullptr) {
            runner.environment = {{"VRXCOMPILE_OPTIMIZE", testCase.optimizeVariable}};
        }
        DriverResult result = runner.run(folder, testCase.arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.standardError, testCase.standardError);
        LoggedCall compile = findCall(parseDoubleLog(result.log), "VRX2CompileProgram3");
        EXPECT_EQ(compile["request.compileFlags"], testCase.compileFlags);
        EXPECT_EQ(compile["request.optimizationFlags"], testCase.optimizationFlags);
    }
}

struct StageCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> compileFields;
    std::vector<std::pair<std::string, std::string>> writerFields;
};

TEST(RunSequence, StagesStatisticsBlocksAndWriterPointers) {
    const StageCase cases[] = {
        {"vertex and geometry with stats",
         {"-v", "s.vert", "-g", "s.geom", "-istats"},
         {{"request.vertexStats", "block(cleared)"},
          {"request.pixelStats", "null"},
          {"request.geometryStats", "block(cleared)"},
          {"request.computeStats", "null"}},
         {{"shaders.vertexShader", "set+16"},
          {"shaders.pixelShader", "null"},
          {"shaders.geometryShader", "set+648"},
          {"shaders.computeShader", "null"}}},
        {"compute alone with stats and a stream-out list",
         {"-c", "s.comp", "-istats", "-so", "list.txt"},
         {{"request.computeStats", "block(cleared)"},
          {"request.vertexStats", "null"},
          {"request.computePath", "<full>"},
          {"request.vertexPath", "null"},
          {"request.streamOutVaryings", "[\"pos\"]"}},
         {{"shaders.vertexShader", "null"}, {"shaders.computeShader", "set+888"}}},
        {"no source at all",
         {"-istats"},
         {{"request.vertexSource", "null"},
          {"request.pixelSource", "null"},
          {"request.geometrySource", "null"},
          {"request.computeSource", "null"},
          {"request.vertexStats", "null"}},
         {{"shaders.vertexShader", "null"},
          {"shaders.pixelShader", "null"},
          {"shaders.geometryShader", "null"},
          {"shaders.computeShader", "null"}}},
        {"all three drawing stages",
         {"-v", "s.vert", "-p", "s.frag", "-g", "s.geom"},
         {{"request.vertexStats", "null"}, {"request.pixelStats", "null"}},
         {{"shaders.vertexShader", "set+16"},
          {"shaders.pixelShader", "set+376"},
          {"shaders.geometryShader", "set+648"}}},
    };
    for (const StageCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempFolder folder;
        for (const char* file : {"s.vert", "s.frag", "s.geom", "s.comp"}) {
            folder.write(file, "void main() {}\n");
        }
        folder.write("list.txt", "pos\n");
        DriverResult result = DriverRunner().run(folder, testCase.arguments);
        EXPECT_EQ(result.exitCode, 0);
        auto calls = parseDoubleLog(result.log);
        LoggedCall compile = findCall(calls, "VRX2CompileProgram3");
        for (const auto& [key, value] : testCase.compileFields) {
            std::string expected =
                value == "<full>" ? loggedText((folder.path() / "s.comp").string()) : value;
            EXPECT_EQ(compile[key], expected) << key;
        }
        LoggedCall write = findCall(calls, "TMBWriteFileShader2");
        for (const auto& [key, value] : testCase.writerFields) {
            EXPECT_EQ(write[key], value) << key;
        }
    }
}

TEST(RunSequence, ComputeWithAnotherStageIsRefusedAfterInitialisation) {
    for (const char* other : {"-v", "-p", "-g"}) {
        SCOPED_TRACE(other);
        TempFolder folder;
        folder.write("s.comp", "void main() {}\n");
        folder.write("s.other", "void main() {}\n");
        DriverResult result =
            DriverRunner().run(folder, {"-c", "s.comp", other, "s.other", "-d", "-istats"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_EQ(result.standardError, "Error: compute shader must be compiled on its own.\n");
        EXPECT_THAT(callNames(parseDoubleLog(result.log)),
                    ElementsAre("VRX2GetABIVersion", "VRX2Initialize"));
        EXPECT_FALSE(fs::exists(folder.path() / "output.vrx"));
    }
}

TEST(RunSequence, FailedCompilePrintsOnlyTheCompilerLog) {
    TempFolder folder;
    folder.write("a.vert", "void main() {}\n");
    folder.write("output_vs.dmp", "old dump");
    DriverRunner runner;
    runner.environment = {{"MENDRIX_COMPILE_RESULT", "0"},
                          {"MENDRIX_COMPILE_LOG", "a.vert:1: error: bad"},
                          {"MENDRIX_VERTEX_DUMP", "new dump"},
                          {"MENDRIX_STATS", "1,2,3,4,5,6,7,8,9"}};
    DriverResult result = runner.run(folder, {"-v", "a.vert", "-d", "-istats"});
    EXPECT_EQ(result.exitCode, 6);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "a.vert:1: error: bad\n");
    EXPECT_THAT(callNames(parseDoubleLog(result.log)),
                ElementsAre("VRX2GetABIVersion", "VRX2Initialize", "VRX2CompileProgram3",
                            "VRX2DestroyPT4Program3", "VRX2Destroy"));
    EXPECT_FALSE(fs::exists(folder.path() / "output.vrx"));
    EXPECT_FALSE(fs::exists(folder.path() / "output_vs.stat"));
    EXPECT_EQ(readFileBytes(folder.path() / "output_vs.dmp"), "old dump");
}

TEST(RunSequence, CompilerLogFollowsASuccessfulWrite) {
    TempFolder folder;
    DriverRunner runner;
    runner.environment = {{"MENDRIX_COMPILE_LOG", "warning: something\nsecond line"}};
    DriverResult result = runner.run(folder, {"-pt4"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.standardError, "warning: something\nsecond line\n");
}

TEST(RunSequence, InitialiseFailureEndsWithoutAWord) {
    TempFolder folder;
    folder.write("a.vert", "void main() {}\n");
    DriverRunner runner;
    runner.environment = {{"MENDRIX_INIT_NULL", "1"}};
    DriverResult result = runner.run(folder, {"-v", "a.vert", "-gpu", "1"});
    EXPECT_EQ(result.exitCode, 7);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "");
    auto calls = parseDoubleLog(result.log);
    EXPECT_THAT(callNames(calls), ElementsAre("VRX2GetABIVersion", "VRX2Initialize"));
    EXPECT_EQ(findCall(calls, "VRX2Initialize")["setup.gpuVersion"], "1");
}

TEST(RunSequence, CompilerWithoutACalledEntryPointIsRefused) {
    TempFolder folder;
    DriverRunner runner;
    runner.compilerVariant = "mendrix-no-compile";
    DriverResult result = runner.run(folder, {"-pt4"});
    EXPECT_EQ(result.exitCode, 7);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "ERROR: Unable to find VRX2CompileProgram3 function in " +
                                        compilerLibraryFileName() + "\n");
    EXPECT_THAT(callNames(parseDoubleLog(result.log)), ElementsAre("VRX2GetABIVersion"));

    // Usage and version still work with such a library.
    DriverResult version = runner.run(folder, {"-version"});
    EXPECT_EQ(version.exitCode, 0);
}

}  // namespace
