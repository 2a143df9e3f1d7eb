// The command line seen from outside: usage text, version report, every
// parser message and exit code, and what the parsed options hand on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "tests/support/double_log.h"
#include "tests/support/driver_run.h"

using ::testing::HasSubstr;

namespace {

const char* const kUsageText =
    "\n"
    "vrxCompile\n"
    "\n"
    "Usage:  vrxCompile -v vs_file -p ps_file -g gs_file -o output_file -force_uniformblock\n"
    "        vrxCompile -c cs_file -o output_file -force_uniformblock\n"
    "        vrxCompile -version\n\n"
    "-v                      : Vertex Shader file\n"
    "-p                      : Pixel Shader file\n"
    "-g                      : Geometry Shader file\n"
    "-c                      : Compute Shader file\n"
    "-so                     : Stream Out Varings file\n"
    "-o                      : Output file name\n"
    "-oa                     : Existing output file name to append shaders.\n"
    "-oh                     : Output header file name to write shaders as code.\n"
    "-force_uniformblock     : Force uniform block usage\n"
    "-no_limit_array_syms    : Create symbols all elements of uniform arrays (not just the first "
    "2 and last 1)\n"
    "-endianbugfix           : Performs 8-in-32 byte swap on the output texture\n"
    "                          data. This is a bug workaround for the prototype\n"
    "                          hardware.\n"
    "-align                  : Adds alignment padding blocks between the header\n"
    "                          and the image. The amount of padding depends \n"
    "                          upon hardware requirements.\n"
    "-h                      : Show this help message\n"
    "-d                      : Dump Debug Information to a file\n"
    "                          Dump files:\n"
    "                               <output_file>_vs.dmp\n"
    "                               <output_file>_gs.dmp\n"
    "                               <output_file>_ps.dmp\n"
    "-istats                 : Dump shader instruction statistics to a file\n"
    "                          File names: <output_file>_vs.stat, <output_file>_ps.stat, etc.\n"
    "-noquarn                : Omit Quarn debug information. Without this option a\n"
    "                          16 byte hash is appended to each shader, and a debug\n"
    "                          information file is written to directory\n"
    "                          $(LOCALAPPDATA)\\Temp\\Korvane\\Lumo\\ShaderSymbols\n"
    "                          or the directory specified via -quarndir option.\n"
    "-quarndir path          : Override the default Quarn debug information\n"
    "                          directory.\n"
    "-O<options>             : Perform additional optimizations:\n"
    "    <options> is a comma separated list of optimizations to enable:\n"
    "     const        : additional constant propagation optimizations\n"
    "     fastmath     : enable optimizations that may violate strict IEEE semantics\n"
    "     loopexpr     : allow unrolling of loops with complex expressions\n"
    "     loopvar      : analyze variables to find loop variable initialization\n"
    "     sc           : enable backend shader compiler optimizations\n"
    "     unusedvar    : remove assignments to variables that are never used\n"
    "     glsl         : run an initial glsl->glsl optimization pass to remove unused code and "
    "variables\n"
    "     all          : enable all optimizations\n"
    "    Any of the optimizations may be disabled by prefixing them with ! or no-\n"
    "    For example:\n"
    "      -Oall,no-fastmath\n"
    "    will enable all optimizations except fastmath.\n"
    "    Just plain -O is equivalent to -Oall.\n"
    "\n";

struct MessageCase {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    std::string standardOutput;
};

// Every case ends inside the parser: nothing of the compiler is called.
TEST(CommandLine, EndingsInsideTheParser) {
    TempFolder folder;
    folder.write("a.vert", "void main() {}\n");
    const MessageCase cases[] = {
        {"bare invocation", {}, 0, kUsageText},
        {"-?", {"-?"}, 0, kUsageText},
        {"-help", {"-help"}, 0, kUsageText},
        {"help after other options", {"-d", "-O", "-help", "-bogus"}, 0, kUsageText},
        {"-h is not accepted", {"-h"}, 5, "Unrecognized command line parameter \"-h\". Exiting."},
        {"stray file name",
         {"a.vert"},
         5,
         "Unrecognized command line parameter \"a.vert\". Exiting."},
        {"case matters",
         {"-V", "a.vert"},
         5,
         "Unrecognized command line parameter \"-V\". Exiting."},
        {"-O with a separate word",
         {"-O", "all"},
         5,
         "Unrecognized command line parameter \"all\". Exiting."},
        {"-gpu 3", {"-gpu", "3"}, 1, "Error: Unsupported GPU version\n"},
        {"-gpu x", {"-gpu", "x"}, 1, "Error: Unsupported GPU version\n"},
        {"-gpu 0x2", {"-gpu", "0x2"}, 1, "Error: Unsupported GPU version\n"},
        {"-gpu -1", {"-gpu", "-1"}, 1, "Error: Unsupported GPU version\n"},
        {"-gpu wraps no further", {"-gpu", "4294967297"}, 1, "Error: Unsupported GPU version\n"},
        {"-t GLSL", {"-t", "GLSL"}, 2, "Unsupported shader language type specified\n"},
        {"-t empty", {"-t", ""}, 2, "Unsupported shader language type specified\n"},
        {"missing file", {"-v", "missing.vert"}, 3, "Problem opening file \"missing.vert\".\n"},
        {"missing file before help",
         {"-p", "missing.frag", "-help"},
         3,
         "Problem opening file \"missing.frag\".\n"},
        {"help before missing file", {"-help", "-v", "missing.vert"}, 0, kUsageText},
        {"folder as a source", {"-g", "."}, 3, "Problem opening file \".\".\n"},
        {"missing stream-out file",
         {"-so", "missing.txt"},
         3,
         "Problem opening file \"missing.txt\".\n"},
    };
    for (const MessageCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        DriverResult result = DriverRunner().run(folder, testCase.arguments);
        EXPECT_EQ(result.exitCode, testCase.exitCode);
        EXPECT_EQ(result.standardOutput, testCase.standardOutput);
        EXPECT_EQ(result.standardError, "");
        for (const LoggedCall& call : parseDoubleLog(result.log)) {
            EXPECT_EQ(call.name, "VRX2GetABIVersion");
        }
    }
}

TEST(CommandLine, OptionWithoutItsArgument) {
    for (const char* option : {"-gpu", "-v", "-p", "-g", "-c", "-so", "-t", "-quarndir"}) {
        SCOPED_TRACE(option);
        TempFolder folder;
        DriverResult result = DriverRunner().run(folder, {"-d", option});
        EXPECT_EQ(result.exitCode, 5);
        EXPECT_EQ(result.standardOutput,
                  std::string("Missing parameter argument ") + option + " <arg>\n");
    }
}

// The build date in the preprocessor's form, as "Jun 26 2014" or "Jun  6 2014".
bool looksLikeBuildDate(const std::string& text) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 11 || text[3] != ' ' || text[6] != ' ') {
        return false;
    }
    bool knownMonth = false;
    for (const char* month : months) {
        knownMonth = knownMonth || text.compare(0, 3, month) == 0;
    }
    bool dayOk = (text[4] == ' ' || (text[4] >= '1' && text[4] <= '3')) && isdigit(text[5]);
    return knownMonth && dayOk &&
           text.substr(7).find_first_not_of("0123456789") == std::string::npos;
}

TEST(CommandLine, VersionReport) {
    struct Case {
        const char* abiSetting;
        const char* compilerVariant;
        std::string abiLine;
    } cases[] = {
        {"0x12345678", "mendrix-full", "mendrix version: 0x12345678\n"},
        {"0xab", "mendrix-full", "mendrix version: 0x000000AB\n"},
        {"0", "mendrix-full", "mendrix version unknown\n"},
        {"0x1", "mendrix-no-abi", "mendrix version unknown\n"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.abiLine);
        TempFolder folder;
        DriverRunner runner;
        runner.compilerVariant = testCase.compilerVariant;
        runner.environment = {{"MENDRIX_ABI_VERSION", testCase.abiSetting}};
        DriverResult result = runner.run(folder, {"-d", "-version", "-bogus"});
        EXPECT_EQ(result.exitCode, 0);
        const std::string prefix = "vrxCompile compiled on ";
        ASSERT_EQ(result.standardOutput.compare(0, prefix.size(), prefix), 0);
        size_t lineEnd = result.standardOutput.find('\n');
        EXPECT_TRUE(looksLikeBuildDate(
            result.standardOutput.substr(prefix.size(), lineEnd - prefix.size())))
            << result.standardOutput;
        EXPECT_EQ(result.standardOutput.substr(lineEnd + 1), testCase.abiLine);
    }
}

TEST(CommandLine, ErrorsBeforeVersionAreReportedFirst) {
    TempFolder folder;
    DriverResult result = DriverRunner().run(folder, {"-gpu", "7", "-version"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.standardOutput, "Error: Unsupported GPU version\n");
}

// What the run hands the compiler and the writer, for a complete command line.
struct ParsedCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> compileFields;
    std::string writerCall;
    std::vector<std::pair<std::string, std::string>> writerFields;
};

TEST(CommandLine, ParsedOptionsReachTheRun) {
    const ParsedCase cases[] = {
        {"gpu 1", {"-gpu", "1"}, {}, "TMBWriteFileShader2", {{"gpuVersion", "1"}}},
        {"gpu 2x", {"-gpu", "2x"}, {}, "TMBWriteFileShader2", {{"gpuVersion", "2"}}},
        {"gpu with blanks and sign",
         {"-gpu", " +1"},
         {},
         "TMBWriteFileShader2",
         {{"gpuVersion", "1"}}},
        {"essl then glsl",
         {"-t", "essl", "-t", "glsl"},
         {{"request.esslLanguage", "0"}},
         "TMBWriteFileShader2",
         {}},
        {"essl", {"-t", "essl"}, {{"request.esslLanguage", "1"}}, "TMBWriteFileShader2", {}},
        {"default output", {"-pt4"}, {}, "TMBWriteFileShader2", {{"outputPath", "\"output.vrx\""}}},
        {"-o at the end", {"-o"}, {}, "TMBWriteFileShader2", {{"outputPath", "\"output.vrx\""}}},
        {"-oa at the end",
         {"-oa"},
         {},
         "TMBAppendWriteFileShader2",
         {{"outputPath", "\"output.vrx\""}}},
        {"last path wins, header wins",
         {"-o", "first.vrx", "-oh", "second.h"},
         {},
         "TMBWriteFileShaderAsCode2",
         {{"outputPath", "\"second.h\""}}},
        {"append stays on",
         {"-oa", "a.vrx", "-o", "b.vrx"},
         {},
         "TMBAppendWriteFileShader2",
         {{"outputPath", "\"b.vrx\""}}},
        {"-o takes an option as its path",
         {"-o", "-d"},
         {{"request.compileFlags", "0x00000010"}},
         "TMBWriteFileShader2",
         {{"outputPath", "\"-d\""}}},
        {"quarn folder not examined",
         {"-quarndir", "-nowhere"},
         {{"request.quarnDirectory", "\"-nowhere\""}},
         "TMBWriteFileShader2",
         {}},
        {"no quarn folder",
         {"-pt4"},
         {{"request.quarnDirectory", "null"}},
         "TMBWriteFileShader2",
         {}},
        {"endian and align",
         {"-endianbugfix", "-align", "-align"},
         {},
         "TMBWriteFileShader2",
         {{"endianSwapMode", "2"}, {"alignPadding", "1"}}},
        {"bare -O",
         {"-O"},
         {{"request.optimizationFlags", "0xffffffffffffff7f"}},
         "TMBWriteFileShader2",
         {}},
        {"-Oglsl then -O",
         {"-Oglsl", "-O"},
         {{"request.optimizationFlags", "0xffffffffffffff7f"}},
         "TMBWriteFileShader2",
         {}},
        {"-O then -Oglsl",
         {"-O", "-Oglsl"},
         {{"request.optimizationFlags", "0xffffffffffffffff"}},
         "TMBWriteFileShader2",
         {}},
        {"-O list",
         {"-Oall,no-fastmath", "-no_limit_array_syms"},
         {{"request.optimizationFlags", "0xffffffffffffff3d"}},
         "TMBWriteFileShader2",
         {}},
    };
    for (const ParsedCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempFolder folder;
        DriverResult result = DriverRunner().run(folder, testCase.arguments);
        EXPECT_EQ(result.exitCode, 0) << result.standardOutput;
        auto calls = parseDoubleLog(result.log);
        LoggedCall compile = findCall(calls, "VRX2CompileProgram3");
        for (const auto& [key, value] : testCase.compileFields) {
            EXPECT_EQ(compile[key], value) << key;
        }
        LoggedCall write = findCall(calls, testCase.writerCall);
        EXPECT_EQ(write.name, testCase.writerCall);
        for (const auto& [key, value] : testCase.writerFields) {
            EXPECT_EQ(write[key], value) << key;
        }
    }
}

TEST(CommandLine, UnknownOptimizationNameWarnsAndGoesOn) {
    TempFolder folder;
    DriverResult result = DriverRunner().run(folder, {"-Oconst,bogus,fastmath", "-Osc"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "Unknown optimization option: bogus,fastmath\n");
    EXPECT_EQ(
        findCall(parseDoubleLog(result.log), "VRX2CompileProgram3")["request.optimizationFlags"],
        "0x0000000000000049");
}

std::string fullPathOf(const TempFolder& folder, const std::string& relative) {
    return (folder.path() / relative).lexically_normal().string();
}

TEST(CommandLine, SourcesAreLoadedWithTheirFullPaths) {
    TempFolder folder;
    folder.write("shaders/a.vert", "// a\n");
    folder.write("shaders/b.vert", "// b\n");
    folder.write("p.frag", "// p\n");
    folder.write("list.txt", "first\nsecond\n");
    folder.write("other.txt", "third");
    DriverResult result = DriverRunner().run(
        folder, {"-v", "shaders/a.vert", "-p", "./p.frag", "-v", "shaders/../shaders/b.vert", "-so",
                 "list.txt", "-so", "other.txt"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    LoggedCall compile = findCall(parseDoubleLog(result.log), "VRX2CompileProgram3");
    // Two files for one stage: the texts one after the other, each with its
    // own closing line feed; the path is that of the last.
    EXPECT_EQ(compile["request.vertexSource"], "\"// a\\n\\n// b\\n\\n\"");
    EXPECT_EQ(compile["request.vertexPath"], loggedText(fullPathOf(folder, "shaders/b.vert")));
    EXPECT_EQ(compile["request.pixelPath"], loggedText(fullPathOf(folder, "p.frag")));
    EXPECT_EQ(compile["request.geometryPath"], "null");
    // A later list replaces an earlier one; a last line keeps all its characters.
    EXPECT_EQ(compile["request.streamOutVaryings"], "[\"third\"]");
    EXPECT_EQ(compile["request.streamOutCount"], "1");
}

TEST(CommandLine, FullPathTooLongFallsBackToTheArgument) {
    TempFolder folder;
    // A relative argument short enough to open whose full path is too long
    // to convert: longer than 511 characters, on every platform.
    const size_t fullLength = 560;
    const std::string name = "a.vert";
    size_t room = fullLength - folder.path().string().size() - 1 - name.size();
    std::string relative;
    while (room > 0) {
        size_t piece = std::min<size_t>(room, 61);
        relative += std::string(piece - 1, 'd') + "/";
        room -= piece;
    }
    relative += name;
    folder.write(relative, "// deep\n");
    DriverResult result = DriverRunner().run(folder, {"-v", relative});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    EXPECT_EQ(findCall(parseDoubleLog(result.log), "VRX2CompileProgram3")["request.vertexPath"],
              loggedText(relative));
}

}  // namespace
