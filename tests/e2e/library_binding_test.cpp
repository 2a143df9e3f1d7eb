// Loading the two libraries and binding their entry points, seen from outside.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/double_log.h"
#include "tests/support/driver_run.h"

using ::testing::ElementsAre;

namespace {

std::string loadFailure(const std::string& fileName) {
    return "Failed to load DLL " + fileName + ". Exiting.";
}

struct LoadCase {
    const char* name;
    const char* compilerVariant;
    const char* writerVariant;
    std::vector<std::string> arguments;
    bool compilerNamed;  // which library the message names
};

TEST(LibraryBinding, MissingLibraryStopsEveryInvocation) {
    const LoadCase cases[] = {
        {"nothing, bare", "", "", {}, true},
        {"nothing, -version", "", "", {"-version"}, true},
        {"nothing, bad option", "", "", {"-h"}, true},
        {"writer only", "", "tmb-full", {"-help"}, true},
        {"compiler only, bare", "mendrix-full", "", {}, false},
        {"compiler only, -version", "mendrix-full", "", {"-version"}, false},
    };
    for (const LoadCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempFolder folder;
        DriverRunner runner;
        runner.compilerVariant = testCase.compilerVariant;
        runner.writerVariant = testCase.writerVariant;
        DriverResult result = runner.run(folder, testCase.arguments);
        EXPECT_EQ(result.exitCode, 8);
        EXPECT_EQ(result.standardOutput,
                  loadFailure(testCase.compilerNamed ? compilerLibraryFileName()
                                                     : writerLibraryFileName()));
        EXPECT_EQ(result.standardError, "");
        // The compiler library was loaded in the second case, but nothing of
        // it is called before both libraries are there.
        EXPECT_EQ(result.log, "");
    }
}

TEST(LibraryBinding, AbiVersionIsAskedOnlyWhenExported) {
    TempFolder folder;
    DriverRunner runner;
    DriverResult withAbi = runner.run(folder, {"-pt4"});
    EXPECT_EQ(withAbi.exitCode, 0);
    EXPECT_THAT(callNames(parseDoubleLog(withAbi.log)),
                ElementsAre("VRX2GetABIVersion", "VRX2Initialize", "VRX2CompileProgram3",
                            "TMBWriteFileShader2", "VRX2DestroyPT4Program3", "VRX2Destroy"));

    runner.compilerVariant = "mendrix-no-abi";
    DriverResult withoutAbi = runner.run(folder, {"-pt4"});
    EXPECT_EQ(withoutAbi.exitCode, 0);
    EXPECT_THAT(callNames(parseDoubleLog(withoutAbi.log)),
                ElementsAre("VRX2Initialize", "VRX2CompileProgram3", "TMBWriteFileShader2",
                            "VRX2DestroyPT4Program3", "VRX2Destroy"));
}

}  // namespace
