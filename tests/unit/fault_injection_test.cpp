// Allocation failure at every point of a command line's loads: a source tree
// with includes (two files for one stage, so the text also grows when it is
// extended) and a stream-out list that makes its array grow. Each run is a
// child process that fails the Nth allocation; it must either finish with the
// texts a normal run gives, or end as the driver does when memory runs out:
// "Ran out of memory while reading data!\n" and exit code 2 while a text
// grows, "Problem opening file" and exit code 3 when a first buffer or the
// list cannot be had. Under the sanitizer build a leak fails the child too.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "platform/allocation.h"
#include "platform/fault_injection.h"
#include "source/shader_source.h"
#include "source/stream_out_list.h"
#include "tests/support/temp_folder.h"

namespace {

#ifndef _WIN32
constexpr const char* kOutOfMemoryMessage = "Ran out of memory while reading data!\n";
// Exit code of a child whose texts differ from those of a normal run.
constexpr int kWrongTexts = 9;

struct LoadedInputs {
    std::string vertex;
    std::vector<std::string> names;
};

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

struct ChildOutcome {
    int exitCode;  // -1: did not exit normally
    std::string standardOutput;
    std::string standardError;
};

std::string readWhole(const std::string& path) {
    return readFileBytes(path);
}

// Runs the parser in a child process with the `failing`-th allocation made
// to fail. The child compares the loaded texts with `expected` (or the
// variant whose missing include reads "Out of memory", when the message
// buffer was the allocation that failed) and releases them.
ChildOutcome runChild(const TempFolder& folder, std::vector<std::string> arguments,
                      unsigned long long failing, const LoadedInputs& expected,
                      const LoadedInputs& expectedWithoutMessage) {
    std::string outPath = folder.file("child.out");
    std::string errPath = folder.file("child.err");
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(100);
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        CommandLineOptions options;
        injectAllocationFailure(failing);
        parseCommandLine(static_cast<int>(argv.size() - 1), argv.data(), options, 0);
        injectAllocationFailure(0);
        bool nested = includeDepth != 0;
        LoadedInputs loaded = takeInputs(options);
        bool same =
            loaded.names == expected.names &&
            (loaded.vertex == expected.vertex || loaded.vertex == expectedWithoutMessage.vertex);
        std::fflush(stdout);
        std::exit(same && !nested ? 0 : kWrongTexts);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readWhole(outPath), readWhole(errPath)};
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

    // A normal run: what every successful child must load, and how many
    // allocations there are to fail.
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    CommandLineOptions options;
    injectAllocationFailure(0);
    parseCommandLine(static_cast<int>(argv.size() - 1), argv.data(), options, 0);
    unsigned long long allocations = injectAllocationFailure(0);
    LoadedInputs expected = takeInputs(options);
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
        ChildOutcome outcome = runChild(folder, arguments, failing, expected, withoutMessage);
        switch (outcome.exitCode) {
            case 0:
                ++succeeded;
                EXPECT_EQ(outcome.standardOutput, "");
                EXPECT_EQ(outcome.standardError, "");
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
    // The sweep met every kind of ending: the first buffer of the stage, the
    // growing texts, the list, and the allocations past the last.
    EXPECT_EQ(mainRefused, 1);
    EXPECT_GT(outOfMemory, 3);
    EXPECT_GT(listRefused, 120);
    EXPECT_GE(succeeded, 2);
}

#else

TEST(FaultInjection, EveryFailedAllocationOfTheLoadsEndsCleanly) {
    GTEST_SKIP() << "the sweep runs each case in a forked child";
}

#endif

}  // namespace
