// Absurd inputs through the whole driver: huge, deep, cyclic, binary, of the
// wrong kind, with extreme paths or an enormous command line. Each must end
// with the code and message of its case, never with a crash or a hang.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/double_log.h"
#include "tests/support/driver_run.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

namespace {

std::string problemOpening(const std::string& path) {
    // standardOutput is read as text: "\n" on every platform.
    return "Problem opening file \"" + path + "\".\n";
}

size_t countOf(const std::string& text, const std::string& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

// The request the compiler received in a run that got that far.
LoggedCall compileCall(const DriverResult& result) {
    return findCall(parseDoubleLog(result.log), "VRX2CompileProgram3");
}

TEST(HostileInputs, SourceOf100MiB) {
    TempFolder folder;
    std::string line = std::string(1023, 'x') + "\n";
    std::string text;
    text.reserve(100u << 20);
    while (text.size() < (100u << 20)) {
        text += line;
    }
    folder.write("big.vert", text);
    DriverResult result = DriverRunner().run(folder, {"-v", "big.vert"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    // The logged text, looked at directly: parsing a log of this size costs
    // more than the run. Each line is logged as its 1023 characters and an
    // escaped newline; the closing newline follows the last.
    const std::string field = "  request.vertexSource=";
    size_t start = result.log.find(field);
    ASSERT_NE(start, std::string::npos);
    start += field.size();
    std::string_view logged(result.log.data() + start, result.log.find('\n', start) - start);
    if (logged.ends_with('\r')) {
        logged.remove_suffix(1);
    }
    const std::string loggedLine = std::string(1023, 'x') + "\\n";
    EXPECT_EQ(logged.size(), 1 + (text.size() / line.size()) * loggedLine.size() + 2 + 1);
    EXPECT_TRUE(logged.starts_with("\"" + loggedLine));
    EXPECT_TRUE(logged.ends_with(loggedLine + "\\n\""));
}

TEST(HostileInputs, LineOf1MiBInTheSourceAndInAnInclude) {
    TempFolder folder;
    std::string longLine(1u << 20, 'y');
    // The long lines arrive as some two thousand chunks each; the included
    // one makes the text grow.
    folder.write("main.vert", longLine + "\n#include \"inc.glsl\"\nend\n");
    folder.write("inc.glsl", longLine);
    DriverResult result = DriverRunner().run(folder, {"-v", "main.vert"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    EXPECT_EQ(compileCall(result)["request.vertexSource"],
              loggedText(longLine + "\n" + longLine + "\nend\n\n"));
}

TEST(HostileInputs, IncludeChain200Deep) {
    TempFolder folder;
    for (int level = 0; level < 200; ++level) {
        folder.write("chain" + std::to_string(level) + ".glsl",
                     "// level " + std::to_string(level) + "\n#include \"chain" +
                         std::to_string(level + 1) + ".glsl\"\n");
    }
    DriverResult result = DriverRunner().run(folder, {"-v", "chain0.glsl"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    std::string source = compileCall(result)["request.vertexSource"];
    // The top-level file and 24 nested levels are read; the directive of the
    // 24th included file becomes the nesting error.
    EXPECT_THAT(source, HasSubstr("// level 24\\n"));
    EXPECT_THAT(source, Not(HasSubstr("// level 25\\n")));
    EXPECT_EQ(countOf(source, "#includes nested too deeply"), 1u);
    EXPECT_THAT(source, HasSubstr("chain24.glsl: 2: #includes nested too deeply"));
}

TEST(HostileInputs, IncludeCycle) {
    TempFolder folder;
    folder.write("a.vert", "A\n#include \"b.glsl\"\n");
    folder.write("b.glsl", "B\n#include \"a.vert\"\n");
    DriverResult result = DriverRunner().run(folder, {"-v", "a.vert"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    std::string source = compileCall(result)["request.vertexSource"];
    // 25 files are read in turn, a.vert first; the last refuses its include.
    EXPECT_EQ(countOf(source, "A\\n"), 13u);
    EXPECT_EQ(countOf(source, "B\\n"), 12u);
    EXPECT_EQ(countOf(source, "#includes nested too deeply"), 1u);
}

TEST(HostileInputs, FilesOfOnlyNulBytes) {
    TempFolder folder;
    folder.write("zeros.vert", std::string(64 * 1024, '\0'));
    folder.write("zeros.so", std::string(64 * 1024, '\0'));
    DriverResult result = DriverRunner().run(folder, {"-v", "zeros.vert", "-so", "zeros.so"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    LoggedCall compile = compileCall(result);
    // Each NUL byte ends what is taken of its chunk: only the closing newline
    // is left. The list is one line without a newline, and its name ends at
    // the first byte.
    EXPECT_EQ(compile["request.vertexSource"], loggedText("\n"));
    EXPECT_EQ(compile["request.streamOutCount"], "1");
    EXPECT_EQ(compile["request.streamOutVaryings"], "[\"\"]");
}

TEST(HostileInputs, FolderGivenAsAFile) {
    TempFolder folder;
    fs::create_directories(folder.path() / "dir.vert");
    folder.write("main.vert", "#include \"dir.vert\"\n");
    struct Case {
        std::vector<std::string> arguments;
        std::string path;
    };
    for (const Case& c : {Case{{"-v", "dir.vert"}, "dir.vert"}, Case{{"-c", "."}, "."},
                          Case{{"-so", "dir.vert"}, "dir.vert"}}) {
        SCOPED_TRACE(c.arguments[0]);
        DriverResult result = DriverRunner().run(folder, c.arguments);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(result.standardOutput, problemOpening(c.path));
    }
    // An include that names a folder cannot be opened.
    DriverResult result = DriverRunner().run(folder, {"-v", "main.vert"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    EXPECT_EQ(compileCall(result)["request.vertexSource"],
              loggedText("#error \"main.vert: 1: unable to open file dir.vert\"\n\n"));
}

// What the user names on the command line may be a pipe (process
// substitution) or a device: it is read as a stream. An include that is not
// an ordinary file gets the error line, never a read that blocks or runs on.
TEST(HostileInputs, PipesAndDevices) {
    TempFolder folder;
    const std::string text = "pos\ncolor\r\n";
    DriverRunner runner;
    runner.standardInputFile = folder.write("input.txt", text);
#ifdef _WIN32
    const char* const nullDevice = "NUL";
#else
    const char* const nullDevice = "/dev/null";
    ASSERT_EQ(mkfifo(folder.file("pipe").c_str(), 0600), 0);
#endif
    struct Case {
        const char* option;
        const char* path;
        bool fed;  // reads `text`, else nothing
    };
    // clang-format off
    const Case cases[] = {
        {"-v", nullDevice, false}, {"-so", nullDevice, false},
#ifndef _WIN32
        {"-v", "pipe", true}, {"-so", "pipe", true}, {"-v", "/dev/stdin", true}, {"-so", "/dev/stdin", true},
#endif
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.path);
        std::thread feeder;
#ifndef _WIN32
        if (std::string(c.path) == "pipe") {
            feeder = std::thread([&] { std::ofstream(folder.file("pipe")) << text; });
        }
#endif
        DriverResult result = runner.run(folder, {c.option, c.path});
        if (feeder.joinable()) {
#ifndef _WIN32
            // A driver that never opened the pipe would leave the feeder waiting.
            int unblock = open(folder.file("pipe").c_str(), O_RDONLY | O_NONBLOCK);
            feeder.join();
            close(unblock);
#endif
        }
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
        if (std::string(c.option) == "-v") {
            EXPECT_EQ(compileCall(result)["request.vertexSource"],
                      loggedText(c.fed ? text + "\n" : "\n"));
        } else {
            EXPECT_EQ(compileCall(result)["request.streamOutVaryings"],
                      c.fed ? "[\"pos\",\"color\"]" : "[]");
        }
    }
#ifndef _WIN32
    folder.write("main.vert", "#include \"pipe\"\n#include \"/dev/zero\"\n#include \"/dev/tty\"\n");
    DriverResult result = runner.run(folder, {"-v", "main.vert"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    EXPECT_EQ(compileCall(result)["request.vertexSource"],
              loggedText("#error \"main.vert: 1: unable to open file pipe\"\n"
                         "#error \"main.vert: 2: unable to open file /dev/zero\"\n"
                         "#error \"main.vert: 3: unable to open file /dev/tty\"\n\n"));
#endif
}

// Includes that would run for minutes or fill the memory end at once with one
// error line: 25 small files each including the next twice, a sparse 100 GiB
// file, files of /proc and /sys, device names with an extension on Windows.
TEST(HostileInputs, IncludesThatWouldRunAway) {
    TempFolder folder;
    for (int level = 1; level < 24; ++level) {
        std::string next = "#include \"f" + std::to_string(level + 1) + ".glsl\"\n";
        folder.write("f" + std::to_string(level) + ".glsl", next + next);
    }
    folder.write("f24.glsl", "leaf\n");
#ifdef _WIN32
    // Windows files are not sparse by default: a size the disk can hold.
    fs::resize_file(folder.write("sparse.glsl", ""), 80ull << 20);
#else
    fs::resize_file(folder.write("sparse.glsl", ""), 100ull << 30);
#endif
    // The main file, and the text's one error line between its quotes.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"#include \"f1.glsl\"\n#include \"f1.glsl\"\n", "f21.glsl: 2: more than 65536 #includes"},
        {"#include \"sparse.glsl\"\nx\n", "main.vert: 1: #included text exceeds 64 MiB"},
#ifndef _WIN32
        // Pseudo files of Linux (wine would hand them to a Windows build as files).
        {"#include \"/proc/self/pagemap\"\n", "main.vert: 1: unable to open file /proc/self/pagemap"},
        {"#include \"/sys/devices/system/cpu/online\"\n", "main.vert: 1: unable to open file /sys/devices/system/cpu/online"},
#endif
        {"#include \"nul.glsl\"\n", "main.vert: 1: unable to open file nul.glsl"},
        {"#include \"com1.h\"\n", "main.vert: 1: unable to open file com1.h"},
    };
    // clang-format on
    DriverRunner runner;
    // 65536 includes take a minute or more where opening a file is slow
    // (wine); the limit still ends a run that would go on for hours.
    runner.timeLimitSeconds = 300;
    runner.memoryLimitBytes = 1ull << 30;
    for (auto [main, message] : cases) {
        SCOPED_TRACE(main);
        folder.write("main.vert", main);
        DriverResult result = runner.run(folder, {"-v", "main.vert"});
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
        std::string source = compileCall(result)["request.vertexSource"];
        std::string error = loggedText(std::string("#error \"") + message + "\"\n");
        EXPECT_THAT(source, HasSubstr(error.substr(1, error.size() - 2)));
        EXPECT_EQ(countOf(source, "#error"), 1u);
        EXPECT_LT(source.size(), 4u << 20);
    }
}

// A program whose text outgrows the memory the run may have: each load of
// the main file adds 32768 includes of a 1000-byte leaf. The run ends with
// exit code 2 and its message, before any compiler call.
TEST(HostileInputs, TextThatOutgrowsTheMemoryEndsTheRun) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "no address space limit here";
#else
    TempFolder folder;
    for (int level = 1; level < 24; ++level) {
        std::string next = "#include \"f" + std::to_string(level + 1) + ".glsl\"\n";
        folder.write("f" + std::to_string(level) + ".glsl", next + next);
    }
    folder.write("f24.glsl", std::string(999, 'a') + "\n");
    folder.write("main.vert", "#include \"f1.glsl\"\n");
    DriverRunner runner;
    runner.timeLimitSeconds = 60;
    runner.memoryLimitBytes = 48ull << 20;
    DriverResult result =
        runner.run(folder, {"-v", "main.vert", "-v", "main.vert", "-v", "main.vert"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "Ran out of memory while reading data!\n");
    for (const LoggedCall& call : parseDoubleLog(result.log)) {
        EXPECT_EQ(call.name, "VRX2GetABIVersion");
    }
#endif
}

#ifndef _WIN32
// An absolute path of exactly `length` characters below the test folder:
// `prefix`, then folders of at most 200 characters, then a file name.
std::string pathOfLength(const TempFolder& folder, size_t length, const std::string& prefix) {
    std::string path = folder.path().string() + prefix;
    std::string name = "s.vert";
    if (length - path.size() - name.size() - 1 == 1) {
        name = "_" + name;
    }
    for (;;) {
        size_t remaining = length - path.size() - name.size() - 1;
        if (remaining == 0) {
            break;
        }
        size_t segment = std::min<size_t>(200, remaining - 1);
        if (remaining - 1 - segment == 1) {
            --segment;  // never leave room for a "/" alone
        }
        path += "/" + std::string(segment, 'd');
    }
    return path + "/" + name;
}
#endif

TEST(HostileInputs, PathsAtTheLimits) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX path limits; Windows ones are covered by the platform tests";
#else
    TempFolder folder;
    const std::string root = folder.path().string();
    struct Case {
        size_t typedLength;  // as given on the command line, with "/." inside
        bool fullPathFits;   // its folded form, 2 characters shorter, fits 511
    };
    for (Case c : {Case{513, true}, Case{514, false}, Case{4095, false}}) {
        SCOPED_TRACE(c.typedLength);
        std::string typed = pathOfLength(folder, c.typedLength, "/.");
        ASSERT_EQ(typed.size(), c.typedLength);
        std::string folded = root + typed.substr(root.size() + 2);
        fs::create_directories(fs::path(folded).parent_path());
        folder.write(folded.substr(root.size() + 1), "void main() {}\n");

        DriverResult result = DriverRunner().run(folder, {"-v", typed});
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
        EXPECT_EQ(compileCall(result)["request.vertexPath"],
                  loggedText(c.fullPathFits ? folded : typed));
    }
    // A path of 4096 characters to an existing file: with its terminator it
    // exceeds what the system opens.
    folder.write("s.vert", "void main() {}\n");
    std::string tooLong = root;
    while (tooLong.size() + 2 + 7 <= 4096) {
        tooLong += "/.";
    }
    if (tooLong.size() + 7 < 4096) {
        tooLong += "/";
    }
    tooLong += "/s.vert";
    ASSERT_EQ(tooLong.size(), 4096u);
    for (const char* option : {"-v", "-so"}) {
        DriverResult result = DriverRunner().run(folder, {option, tooLong});
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(result.standardOutput, problemOpening(tooLong));
    }
    // One character less opens, and folds to a short full path.
    std::string opens = tooLong.substr(0, tooLong.size() - 8) + "/s.vert";
    DriverResult result = DriverRunner().run(folder, {"-v", opens});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    EXPECT_EQ(compileCall(result)["request.vertexPath"], loggedText(root + "/s.vert"));
#endif
}

TEST(HostileInputs, StreamOutListOfAMillionLines) {
    TempFolder folder;
    std::string list;
    list.reserve(10u << 20);
    for (int line = 0; line < 1000000; ++line) {
        list += "v" + std::to_string(line) + "\n";
    }
    folder.write("list.so", list);
    DriverResult result = DriverRunner().run(folder, {"-so", "list.so"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    LoggedCall compile = compileCall(result);
    EXPECT_EQ(compile["request.streamOutCount"], "1000000");
    EXPECT_THAT(compile["request.streamOutVaryings"], HasSubstr(",\"v999999\"]"));
}

TEST(HostileInputs, OutputPathThatIsAFolder) {
    TempFolder folder;
    folder.write("a.vert", "void main() {}\n");
    folder.write("out.vrx/keep.txt", "keep");
    DriverRunner runner;
    // The writer fails on a folder, as the reference writer does.
    runner.environment = {{"TMB_RESULT", "0"}};
    DriverResult result = runner.run(folder, {"-v", "a.vert", "-o", "out.vrx", "-d", "-istats"});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(readFileBytes(folder.path() / "out.vrx" / "keep.txt"), "keep");
    EXPECT_EQ(findCall(parseDoubleLog(result.log), "TMBWriteFileShader2")["outputPath"],
              loggedText("out.vrx"));
}

TEST(HostileInputs, ArgumentListOf100000Elements) {
#ifdef _WIN32
    GTEST_SKIP() << "a Windows command line holds at most 32767 characters";
#else
    TempFolder folder;
    folder.write("a.vert", "void main() {}\n");
    std::vector<std::string> arguments;
    while (arguments.size() < 99998) {
        arguments.push_back("-Oconst");
        arguments.push_back("-pt4");
    }
    arguments.push_back("-v");
    arguments.push_back("a.vert");
    ASSERT_EQ(arguments.size(), 100000u);
    DriverResult result = DriverRunner().run(folder, arguments);
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    EXPECT_EQ(compileCall(result)["request.optimizationFlags"], "0x0000000000000048");

    // The last of them unrecognised.
    arguments.back() = "-bogus";
    arguments[arguments.size() - 2] = "-pt4";
    result = DriverRunner().run(folder, arguments);
    EXPECT_EQ(result.exitCode, 5);
    EXPECT_EQ(result.standardOutput, "Unrecognized command line parameter \"-bogus\". Exiting.");
#endif
}

}  // namespace
