// The vrxInfo inspector, run as a program on files the writer made.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/temp_folder.h"
#include "tests/toolchain/tmb/fake_stages.h"
#include "toolchain/tmb/tmb_entry_points.h"
#include "vrx_version.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

using ::testing::HasSubstr;
using tmb_test::FakeProgram;

struct Result {
    int exitCode = -1;
    std::string out, err;
};

Result runInfo(const TempFolder& folder, const std::string& arguments) {
    const std::string out = folder.file("info-out.txt");
    const std::string err = folder.file("info-err.txt");
    const std::string command = std::string("\"") + VRX_INFO_PATH + "\" " + arguments + " > \"" +
                                out + "\" 2> \"" + err + "\"";
    Result result;
#ifdef _WIN32
    // cmd.exe strips the first and the last quote of a command that begins
    // with one: an outer pair keeps the program's quotes.
    const int status = std::system(("\"" + command + "\"").c_str());
    result.exitCode = status;
#else
    const int status = std::system(command.c_str());
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    result.out = readFileBytes(out);
    result.err = readFileBytes(err);
#ifdef _WIN32
    // The program's console output is text: lines end with CR LF.
    for (std::string* text : {&result.out, &result.err}) {
        std::erase(*text, '\r');
    }
#endif
    return result;
}

TEST(VrxInfo, PrintsChecksAndRefusesFiles) {
    TempFolder folder;
    const std::string good = folder.file("good.vrx");
    FakeProgram first, second;
    first.withStage(toolchain::kStageVertex, 1, 64).withStage(toolchain::kStagePixel, 2, 32);
    second.withStage(toolchain::kStageCompute, 3, 16, false, false);
    const WriterOptions firstOptions = first.options();
    const WriterOptions secondOptions = second.options();
    ASSERT_NE(TMBWriteFileShader2(good.c_str(), 2, 2, 1, 1, &firstOptions), 0);
    ASSERT_NE(TMBAppendWriteFileShader2(good.c_str(), 2, 2, 1, 1, &secondOptions), 0);
    std::string corrupt = readFileBytes(good);
    corrupt[corrupt.size() - 1] ^= 1;
    const std::string bad = folder.write("bad.vrx", corrupt);

    const Result printed = runInfo(folder, "\"" + good + "\"");
    EXPECT_EQ(printed.exitCode, 0) << printed.err;
    for (const char* expected :
         {"endian swap mode: 2", "alignment:        256 (padded)", "programs:         2",
          "program 1: 1 stage\n  compute stage", "position", "textures"}) {
        EXPECT_THAT(printed.out, HasSubstr(expected));
    }

    const struct {
        std::string arguments;
        int exitCode;
        const char* out;
        const char* err;
    } cases[] = {
        {"--check \"" + good + "\"", 0, ": ok", ""},
        {"--json \"" + good + "\"", 0, "{\"formatVersion\": 2, \"fileSize\": ", ""},
        {"--json \"" + good + "\"", 0,
         "\"programs\": [\n  {\"stages\": [\n    {\"kind\": \"vertex\"", ""},
        {"--json \"" + good + "\"", 0, "{\"category\": \"sampler\", \"location\": 3", ""},
        {"--json \"" + bad + "\"", 1, "", "checksum mismatch"},
        {"--check \"" + bad + "\"", 1, "", "checksum mismatch"},
        {"\"" + bad + "\"", 1, "", "checksum mismatch"},
        {"--check \"" + good + "\" \"" + bad + "\"", 1, ": ok", "checksum mismatch"},
        {"--check \"" + folder.file("absent.vrx") + "\"", 1, "", "does not exist"},
        {"", 2, "", "Usage: vrxInfo"},
        {"--bogus x", 2, "", "unknown option --bogus"},
        {"--version", 0, "vrxInfo " VRX_VERSION_STRING "\ncompile cache remote storage: ", ""},
    };
    for (const auto& c : cases) {
        const Result result = runInfo(folder, c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments;
        EXPECT_THAT(result.out, HasSubstr(c.out)) << c.arguments;
        EXPECT_THAT(result.err, HasSubstr(c.err)) << c.arguments;
    }
}

}  // namespace
