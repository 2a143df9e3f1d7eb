// What differs between Windows and POSIX as seen from outside the driver:
// how the arguments reach it, where the libraries are searched, and which
// files are read and written as text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/double_log.h"
#include "tests/support/driver_run.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Windows hands a program one command line that its C runtime splits again;
// every argument must come through unchanged, as it does through exec.
TEST(PlatformBehaviour, ArgumentsArriveUnchanged) {
    const std::string values[] = {
        "",
        "with space",
        "two  spaces and\ta tab",
        "quote\"inside",
        "\"quoted\"",
        "back\\slash",
        "trailing backslash\\",
        "trailing backslashes \\\\",
        "backslash before quote\\\"x",
        "\\\\server\\share\\",
        "C:\\Program Files\\",
    };
    for (const std::string& value : values) {
        SCOPED_TRACE(value);
        TempFolder folder;
        DriverResult result = DriverRunner().run(folder, {"-quarndir", value, "-o", "out put.vrx"});
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
        auto calls = parseDoubleLog(result.log);
        EXPECT_EQ(findCall(calls, "VRX2CompileProgram3")["request.quarnDirectory"],
                  loggedText(value));
        EXPECT_EQ(findCall(calls, "TMBWriteFileShader2")["outputPath"], loggedText("out put.vrx"));
    }
}

// The libraries are loaded from the driver's own folder, else from the
// installed layout's ../lib/vrxcompile; never from the working folder.
TEST(PlatformBehaviour, LibrarySearch) {
    {
        SCOPED_TRACE("application folder before the working folder");
        TempFolder folder;
        fs::copy_file(fs::path(VRX_DOUBLES_DIR) / "mendrix-no-abi" / compilerLibraryFileName(),
                      folder.path() / compilerLibraryFileName());
        DriverResult result = DriverRunner().run(folder, {"-pt4"});
        EXPECT_EQ(result.exitCode, 0);
        // Only the full variant beside the driver exports the ABI query.
        EXPECT_EQ(callNames(parseDoubleLog(result.log)).front(), "VRX2GetABIVersion");
    }
    for (const char* place : {".", "lib/vrxcompile"}) {
        SCOPED_TRACE(place);
        TempFolder folder;
        fs::create_directories(folder.path() / place);
        fs::copy_file(fs::path(VRX_DOUBLES_DIR) / "mendrix-full" / compilerLibraryFileName(),
                      folder.path() / place / compilerLibraryFileName());
        DriverRunner runner;
        runner.compilerVariant = "";
        DriverResult result = runner.run(folder, {"-pt4"});
        bool installed = std::string(place) != ".";
        EXPECT_EQ(result.exitCode, installed ? 0 : 8);
        EXPECT_EQ(
            result.standardOutput,
            installed ? "" : "Failed to load DLL " + compilerLibraryFileName() + ". Exiting.");
    }
}

#ifndef _WIN32
// The driver's folder is the one its file lies in, whatever name started it:
// a relative one, or a link from another folder (which holds no libraries).
TEST(PlatformBehaviour, LibrariesBesideTheDriverWhateverItsStartName) {
    for (const char* startName : {"bin/vrxCompile", "link/vrxCompile", "link/up/bin/vrxCompile"}) {
        SCOPED_TRACE(startName);
        TempFolder folder;
        fs::create_directories(folder.path() / "link");
        fs::create_directory_symlink("..", folder.path() / "link" / "up");
        fs::create_symlink("../bin/vrxCompile", folder.path() / "link" / "vrxCompile");
        DriverRunner runner;
        runner.startName = startName;
        DriverResult result = runner.run(folder, {"-pt4"});
        EXPECT_EQ(result.exitCode, 0) << result.standardOutput;
        EXPECT_EQ(callNames(parseDoubleLog(result.log)).front(), "VRX2GetABIVersion");
    }
}
#endif

// A relative path beyond MAX_PATH (260) works as on POSIX, an include beside
// it too.
TEST(PlatformBehaviour, RelativePathOf300Characters) {
    TempFolder folder;
    std::string relative = std::string(200, 'd') + "/" + std::string(94, 's') + ".vert";
    folder.write(relative, "#include \"inc.glsl\"\n");
    folder.write(std::string(200, 'd') + "/inc.glsl", "void main() {}\n");
    DriverResult result = DriverRunner().run(folder, {"-v", relative});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    LoggedCall compile = findCall(parseDoubleLog(result.log), "VRX2CompileProgram3");
    EXPECT_EQ(compile["request.vertexPath"],
              loggedText((folder.path() / relative).lexically_normal().string()));
    EXPECT_EQ(compile["request.vertexSource"], loggedText("void main() {}\n\n\n"));
}

// Console output is text: on Windows each line ends with CR LF.
TEST(PlatformBehaviour, ConsoleLinesEndThePlatformWay) {
    TempFolder folder;
    DriverResult parserEnd = DriverRunner().run(folder, {"-gpu", "3"});
    EXPECT_EQ(parserEnd.exitCode, 1);
    EXPECT_EQ(parserEnd.standardOutputBytes, textLines("Error: Unsupported GPU version\n"));

    DriverResult warning = DriverRunner().run(folder, {"-Obogus"});
    EXPECT_EQ(warning.exitCode, 0);
    EXPECT_EQ(warning.standardErrorBytes, textLines("Unknown optimization option: bogus\n"));

    // A message without a line end gains nothing.
    DriverRunner alone;
    alone.compilerVariant = "";
    DriverResult loadFailure = alone.run(folder, {});
    EXPECT_EQ(loadFailure.exitCode, 8);
    EXPECT_EQ(loadFailure.standardOutputBytes,
              "Failed to load DLL " + compilerLibraryFileName() + ". Exiting.");
}

struct TextCase {
    const char* name;
    std::string bytes;
    std::string windows;  // what arrives on Windows
    std::string posix;    // and elsewhere
};

// Sources are read byte for byte everywhere; the stream-out list loses one
// line end per line everywhere, and on Windows ends at a Ctrl-Z byte.
TEST(PlatformBehaviour, SourcesAreBytesTheStreamOutListIsText) {
    const TextCase sources[] = {
        {"CR LF kept", "a\r\nb\r\n", "\"a\\r\\nb\\r\\n\\n\"", "\"a\\r\\nb\\r\\n\\n\""},
        {"Ctrl-Z kept", "a\x1a\nb\n", "\"a\\x1a\\nb\\n\\n\"", "\"a\\x1a\\nb\\n\\n\""},
    };
    for (const TextCase& testCase : sources) {
        SCOPED_TRACE(testCase.name);
        TempFolder folder;
        folder.write("s.vert", testCase.bytes);
        DriverResult result = DriverRunner().run(folder, {"-v", "s.vert"});
        ASSERT_EQ(result.exitCode, 0);
        EXPECT_EQ(
            findCall(parseDoubleLog(result.log), "VRX2CompileProgram3")["request.vertexSource"],
            kWindows ? testCase.windows : testCase.posix);
    }
    const TextCase lists[] = {
        {"CR LF", "pos\r\ncolor\r\n", "[\"pos\",\"color\"]", "[\"pos\",\"color\"]"},
        {"Ctrl-Z", "pos\ncol\x1aor\nuv\n", "[\"pos\",\"col\"]", "[\"pos\",\"col\\x1aor\",\"uv\"]"},
        {"one line end", "n1\r\r\nn2\n", "[\"n1\\r\",\"n2\"]", "[\"n1\\r\",\"n2\"]"},
    };
    for (const TextCase& testCase : lists) {
        SCOPED_TRACE(testCase.name);
        TempFolder folder;
        folder.write("list.txt", testCase.bytes);
        DriverResult result = DriverRunner().run(folder, {"-so", "list.txt"});
        ASSERT_EQ(result.exitCode, 0);
        EXPECT_EQ(findCall(parseDoubleLog(result.log),
                           "VRX2CompileProgram3")["request.streamOutVaryings"],
                  kWindows ? testCase.windows : testCase.posix);
    }
}

}  // namespace
