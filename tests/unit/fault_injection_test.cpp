// Allocation failure at every point of a command line's loads: a source tree
// with includes (two files for one stage, so the text also grows when it is
// extended) and a stream-out list that makes its array grow. Each parse
// fails the Nth allocation; it must either finish with the texts a normal
// run gives, or end as the driver does when memory runs out: "Ran out of
// memory while reading data!\n" and exit code 2 while a text grows, "Problem
// opening file" and exit code 3 when a buffer or the list cannot be had.
// Under the sanitizer build a leak of any ending fails the test too.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "platform/allocation.h"
#include "tests/seams/fault_injection.h"
#include "source/shader_source.h"
#include "source/stream_out_list.h"
#include "tests/support/temp_folder.h"

namespace {

struct LoadedInputs {
    std::string vertex;
    std::vector<std::string> names;
};

// Takes the texts out of `options` and releases them, as a run does at its
// end whatever its ending.
LoadedInputs takeInputs(CommandLineOptions& options) {
    LoadedInputs inputs;
    inputs.vertex = options.vertexSource != nullptr ? options.vertexSource : "<null>";
    for (uint32_t index = 0; index < options.streamOutCount; ++index) {
        inputs.names.emplace_back(options.streamOutVaryings[index]);
    }
    releaseMemory(options.vertexSource);
    freeStringArray(options.streamOutVaryings, options.streamOutCount);
    options.vertexSource = nullptr;
    options.streamOutVaryings = nullptr;
    return inputs;
}

struct ParseOutcome {
    int exitCode;  // 0 when the parse went through
    std::string standardOutput;
    std::string standardError;
    LoadedInputs inputs;
};

// Parses `arguments` with the `failing`-th allocation made to fail (0: none).
ParseOutcome parseFailing(std::vector<std::string> arguments, unsigned long long failing,
                          unsigned long long* allocations = nullptr) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    ShaderSourceLoader loader;
    ParseContext context{0, &loader, nullptr};
    CommandLineOptions options;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    injectAllocationFailure(failing);
    ParseResult result =
        parseCommandLine(static_cast<int>(argv.size() - 1), argv.data(), options, context);
    unsigned long long made = injectAllocationFailure(0);
    if (allocations != nullptr) {
        *allocations = made;
    }
    ParseOutcome outcome{result.proceed ? 0 : result.exitCode,
                         testing::internal::GetCapturedStdout(),
                         testing::internal::GetCapturedStderr(), takeInputs(options)};
    EXPECT_TRUE(result.proceed || result.exitCode != 0);
    EXPECT_EQ(loader.includeDepth, 0);
    return outcome;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(FaultInjection, EveryFailedAllocationOfTheLoadsEndsCleanly) {
    TempFolder folder;
    std::string main = folder.write(
        "main.vert",
        "#version 450\n#include \"inc/a.glsl\"\n#include \"missing.glsl\"\nvoid main() {}\n");
    folder.write("inc/a.glsl", std::string(1500, 'a') + "\n#include \"b.glsl\"\n");
    folder.write("inc/b.glsl",
                 "\xEF\xBB\xBF"
                 "float b;\n");
    std::string second = folder.write("second.vert", std::string(700, 's') + "\n");
    std::string list;
    for (int line = 0; line < 120; ++line) {
        list += "v" + std::to_string(line) + (line % 2 == 0 ? "\r\n" : "\n");
    }
    list += std::string(600, 'n') + "\n";
    std::string listPath = folder.write("list.so", list);
    std::vector<std::string> arguments = {"vrxCompile", "-v", main, "-v", second, "-so", listPath};

    // A normal run: what every successful parse must load, and how many
    // allocations there are to fail.
    unsigned long long allocations = 0;
    ParseOutcome normal = parseFailing(arguments, 0, &allocations);
    ASSERT_EQ(normal.exitCode, 0);
    LoadedInputs expected = normal.inputs;
    ASSERT_EQ(expected.names.size(), 121u);
    ASSERT_NE(expected.vertex.find("unable to open file missing.glsl"), std::string::npos);
    LoadedInputs withoutMessage = expected;
    withoutMessage.vertex =
        replaceAll(expected.vertex, "unable to open file missing.glsl", "Out of memory");
    ASSERT_GT(allocations, 125u);

    const std::string problemWithMain = "Problem opening file \"" + main + "\".\n";
    const std::string problemWithList = "Problem opening file \"" + listPath + "\".\n";
    int outOfMemory = 0, mainRefused = 0, listRefused = 0, succeeded = 0;
    for (unsigned long long failing = 1; failing <= allocations + 1; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing) + " of " +
                     std::to_string(allocations));
        ParseOutcome outcome = parseFailing(arguments, failing);
        switch (outcome.exitCode) {
            case 0:
                ++succeeded;
                EXPECT_EQ(outcome.standardOutput, "");
                EXPECT_EQ(outcome.standardError, "");
                EXPECT_EQ(outcome.inputs.names, expected.names);
                EXPECT_TRUE(outcome.inputs.vertex == expected.vertex ||
                            outcome.inputs.vertex == withoutMessage.vertex);
                break;
            case 2:
                ++outOfMemory;
                EXPECT_EQ(outcome.standardOutput, "");
                EXPECT_EQ(outcome.standardError, kOutOfMemoryMessage);
                break;
            case 3:
                outcome.standardOutput == problemWithMain ? ++mainRefused : ++listRefused;
                EXPECT_TRUE(outcome.standardOutput == problemWithMain ||
                            outcome.standardOutput == problemWithList)
                    << outcome.standardOutput;
                EXPECT_EQ(outcome.standardError, "");
                break;
            default:
                ADD_FAILURE() << "exit code " << outcome.exitCode << "\nstandard output:\n"
                              << outcome.standardOutput << "\nstandard error:\n"
                              << outcome.standardError;
        }
    }
    // The sweep met every kind of ending: the read buffers and the first
    // buffer of the stage, the growing texts, the list, and the allocations
    // past the last.
    EXPECT_EQ(mainRefused, 2);
    EXPECT_GT(outOfMemory, 3);
    EXPECT_GT(listRefused, 120);
    EXPECT_GE(succeeded, 2);
}

}  // namespace
