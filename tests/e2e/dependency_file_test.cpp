// The dependency file asked for with VRXCOMPILE_DEPFILE: what it lists, and
// that it never changes a run's result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/driver_run.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The rule with its wrapped lines (" \\\n ") joined, so the expectation does not depend
// on the length of the temporary folder's name.
std::string unwrapped(std::string rule) {
    for (size_t at; (at = rule.find(" \\\n")) != std::string::npos;) {
        rule.erase(at + 1, 3);
    }
    return rule;
}

void writeProgram(const TempFolder& folder) {
    folder.write("inc/common.glsl", "float shared;\n");
    folder.write("a.vert", "#include \"inc/common.glsl\"\nvoid main() {}\n");
    folder.write("a.frag", "#include \"inc/common.glsl\"\n#include \"absent.glsl\"\n");
    folder.write("list.so", "position\n");
}

TEST(DependencyFile, ListsEveryFileReadOnceInTheOrderRead) {
    TempFolder folder;
    writeProgram(folder);
    DriverRunner runner;
    runner.environment = {{"VRXCOMPILE_DEPFILE", "out.d"}};
    DriverResult result = runner.run(folder, {"-v", "a.vert", "-so", "list.so", "-p", "a.frag",
                                              "-so", "list.so", "-o", "o.vrx"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput;
    EXPECT_EQ(result.standardError, "");
    std::string names;
    std::string emptyRules;
    for (const char* file : {"a.vert", "inc/common.glsl", "list.so", "a.frag"}) {
        const std::string full =
            (folder.path() / file).lexically_normal().make_preferred().string();
        names += " " + full;
        emptyRules += "\n" + full + ":\n";
    }
    EXPECT_EQ(unwrapped(readFileBytes(folder.path() / "out.d")),
              "o.vrx:" + names + "\n" + emptyRules);
}

TEST(DependencyFile, NeverChangesTheRunsResult) {
    const struct {
        const char* depfile;
        const char* compileResult;  // of the compiler double: "0" fails
        int exitCode;
        const char* warning;       // on standard error; "" for none
        const char* depfileAfter;  // content of folder/old.d afterwards
    } cases[] = {
        // clang-format off
        {"old.d", "0", 6, "", "kept"},
        {"missing/out.d", "1", 0, "warning: dependency file \"missing/out.d\" not written", "kept"},
        {"inc", "1", 0, "warning: dependency file \"inc\" not written", "kept"},
        {"", "1", 0, "", "kept"},
        // clang-format on
    };
    for (const auto& c : cases) {
        TempFolder folder;
        writeProgram(folder);
        folder.write("old.d", "kept");
        DriverRunner runner;
        runner.environment = {{"VRXCOMPILE_DEPFILE", c.depfile},
                              {"MENDRIX_COMPILE_RESULT", c.compileResult}};
        DriverResult result = runner.run(folder, {"-v", "a.vert", "-p", "a.frag"});
        EXPECT_EQ(result.exitCode, c.exitCode) << c.depfile;
        if (c.warning[0] == '\0') {
            EXPECT_THAT(result.standardError, ::testing::Not(::testing::HasSubstr("warning")));
        } else {
            EXPECT_THAT(result.standardError, ::testing::HasSubstr(c.warning)) << c.depfile;
        }
        EXPECT_EQ(readFileBytes(folder.path() / "old.d"), c.depfileAfter) << c.depfile;
        EXPECT_TRUE(fs::is_directory(folder.path() / "inc"));
        EXPECT_FALSE(fs::exists(folder.path() / "missing")) << c.depfile;
    }
}

TEST(DependencyFile, RefusesToReplaceAFileOfTheRun) {
    const struct {
        const char* depfile;  // a name of the file below, or a link to it
        const char* file;
        const char* what;  // what the run did with it
    } cases[] = {
        {"o.vrx", "o.vrx", "wrote"},           {"./a.vert", "a.vert", "read"},
        {"hard.d", "list.so", "read"},         {"o_vs.dmp", "o_vs.dmp", "wrote"},
#ifndef _WIN32
        {"link.d", "inc/common.glsl", "read"}, {"link.d", "o_ps.stat", "wrote"},
#endif
    };
    for (const auto& c : cases) {
        TempFolder folder;
        writeProgram(folder);
        const std::string file = folder.file(c.file);
        if (std::string(c.depfile) == "link.d") {
            fs::create_symlink(file, folder.path() / "link.d");
        } else if (std::string(c.depfile) == "hard.d") {
            fs::create_hard_link(file, folder.path() / "hard.d");
        }
        DriverRunner runner;
        runner.environment = {{"VRXCOMPILE_DEPFILE", c.depfile},
                              {"MENDRIX_VERTEX_DUMP", "listing"},
                              {"MENDRIX_STATS", "1,2,3,4,5,6,7,8,9"}};
        DriverResult result = runner.run(folder, {"-v", "a.vert", "-so", "list.so", "-p", "a.frag",
                                                  "-d", "-istats", "-o", "o.vrx"});
        EXPECT_EQ(result.exitCode, 0);
        const std::string named =
            std::string(c.what) == "wrote"
                ? c.file
                : (folder.path() / c.file).lexically_normal().make_preferred().string();
        EXPECT_EQ(result.standardError, "vrxCompile: warning: dependency file \"" +
                                            std::string(c.depfile) +
                                            "\" not written: it is the same file as \"" + named +
                                            "\", which the run " + c.what + "\n");
        EXPECT_THAT(readFileBytes(file), ::testing::Not(::testing::HasSubstr("o.vrx:")));
    }
}

#ifndef _WIN32
TEST(DependencyFile, IsWrittenIntoDevicesPipesAndTheUsersLinks) {
    enum class Kind { device, pipe, link };
    for (const Kind kind : {Kind::device, Kind::pipe, Kind::link}) {
        TempFolder folder;
        writeProgram(folder);
        const fs::path depfile = folder.path() / "deps.d";
        const fs::path real = folder.path() / "real/deps.d";
        int reader = -1;
        if (kind == Kind::device &&
            (geteuid() != 0 || mknod(depfile.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)) {
            std::printf("device row skipped: making a device node needs the superuser\n");
            continue;
        } else if (kind == Kind::pipe) {
            ASSERT_EQ(mkfifo(depfile.c_str(), 0600), 0);
            reader = open(depfile.c_str(), O_RDONLY | O_NONBLOCK);
        } else if (kind == Kind::link) {
            folder.write("real/deps.d", "old");
            fs::create_symlink("real/deps.d", depfile);
        }
        // Time-limited: a driver that opened the pipe for reading would wait forever.
        DriverRunner runner;
        runner.environment = {{"VRXCOMPILE_DEPFILE", "deps.d"}};
        runner.startName = "/usr/bin/timeout";
        DriverResult result =
            runner.run(folder, {"20", "bin/" + driverFileName(), "-v", "a.vert", "-o", "o.vrx"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.standardError, "");
        const fs::file_status status = fs::symlink_status(depfile);
        if (kind == Kind::device) {
            EXPECT_TRUE(fs::is_character_file(status));
        } else if (kind == Kind::pipe) {
            char received[64] = {};
            EXPECT_TRUE(fs::is_fifo(status));
            EXPECT_GT(read(reader, received, sizeof received - 1), 0);
            EXPECT_THAT(received, ::testing::StartsWith("o.vrx:"));
            close(reader);
        } else {
            EXPECT_TRUE(fs::is_symlink(status));
            EXPECT_THAT(readFileBytes(real), ::testing::StartsWith("o.vrx:"));
        }
    }
}

// The lines of `text` that start with `prefix`, without it.
std::vector<std::string> linesAfter(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    for (size_t at = 0; (at = text.find("\n" + prefix, at)) != std::string::npos;) {
        at += 1 + prefix.size();
        lines.push_back(text.substr(at, text.find('\n', at) - at));
    }
    return lines;
}

// Builds with the real make and ninja (deps = gcc and plain depfile): each
// must read back the names the file holds, rebuild after an included file
// changed, and rebuild on every run while a name cannot be held.
TEST(DependencyFile, MakeAndNinjaReadItBackAndRebuildWhenTheyMust) {
    if (!fs::exists("/usr/bin/make") || !fs::exists("/usr/bin/ninja")) {
        GTEST_SKIP() << "make and ninja are needed";
    }
    const std::string standIn = "deps.d/unlistable-file-name";
    const struct {
        const char* vertexFile;
        const char* vertexWord;  // as the recipes' shell reads it
        std::vector<std::string> includes;
        const char* output;
        const char* makeTarget;  // "" when make cannot name the output
        const char* ninjaTarget;
        std::vector<std::string> listed;  // what both tools read; empty: every file
    } cases[] = {
        // clang-format off
        {"a.vert", "a.vert", {"co:lon", "sp ace", "ha#sh", "dol$lar", "pa(re)n", "br[a", "!@+,~{}", "ba\\ ck", "\xc3\xa9t\xc3\xa9"}, "my out.vrx", "my\\ out.vrx", "my$ out.vrx", {}},
        {"a.vert", "a.vert", {"plain", "semi;colon", "per%cent", "st*r", "[ab]"}, "o.vrx", "o.vrx", "o.vrx", {"a.vert", "plain", standIn}},
        {"line\nbreak.vert", "\"$$(printf 'line\\nbreak.vert')\"", {"plain"}, "o.vrx", "o.vrx", "o.vrx", {"plain", standIn}},
        {"a.vert", "a.vert", {"plain"}, "it's.vrx", "it's.vrx", "it's.vrx", {"a.vert", "plain", standIn}},
        {"a.vert", "a.vert", {"plain"}, "a;b.vrx", "", "a;b.vrx", {"a.vert", "plain", standIn}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output + std::string(" ") + c.includes[0]);
        std::vector<std::string> listed = c.listed;
        if (listed.empty()) {
            listed = c.includes;
            listed.insert(listed.begin(), c.vertexFile);
        }
        const bool always = listed.back() == standIn;
        for (const std::string tool : {"make", "ninja deps", "ninja"}) {
            const bool make = tool == "make";
            if (make && c.makeTarget[0] == '\0') {
                continue;
            }
            TempFolder folder;
            std::string vertex;
            std::string names;
            std::vector<std::string> paths;
            for (const std::string& name : listed) {
                paths.push_back(folder.file(name));
                names += (names.empty() ? "" : " ") + paths.back();
            }
            for (const std::string& include : c.includes) {
                folder.write(include, "float x;\n");
                vertex += "#include \"" + include + "\"\n";
            }
            folder.write(c.vertexFile, vertex);
            const std::string command =
                std::string("VRXCOMPILE_DEPFILE=deps.d bin/vrxCompile -v ") + c.vertexWord + " -o ";
            folder.write("Makefile", std::string(c.makeTarget) + ":\n\t" + command +
                                         "\"$@\"\n\t$(file >names.txt,$^)\n\techo built >> "
                                         "built.log\n-include deps.d\n");
            folder.write("build.ninja",
                         "rule vrx\n  command = " + command +
                             "$out && echo built >> built.log\n  depfile = deps.d\n" +
                             (tool == "ninja deps" ? "  deps = gcc\n" : "") + "build " +
                             c.ninjaTarget + ": vrx\n");
            DriverRunner runner;
            runner.startName = make ? "/usr/bin/make" : "/usr/bin/ninja";
            ASSERT_EQ(runner.run(folder, {}).exitCode, 0) << tool;
            const fs::path output = folder.path() / c.output;
            fs::last_write_time(output, fs::last_write_time(output) - std::chrono::seconds(100));
            ASSERT_EQ(runner.run(folder, {}).exitCode, 0) << tool;
            const DriverResult last = runner.run(folder, {});
            EXPECT_EQ(readFileBytes(folder.path() / "built.log"),
                      always ? "built\nbuilt\nbuilt\n" : "built\nbuilt\n")
                << tool;
            // Ninja passes on what a command prints on its own standard output.
            const std::string printed = "\n" + last.standardOutput + last.standardError;
            EXPECT_EQ(linesAfter(printed, "vrxCompile: warning:").size(), always ? 1u : 0u) << tool;
            if (make) {
                EXPECT_EQ(readFileBytes(folder.path() / "names.txt"), names + "\n");
            } else if (tool == "ninja deps") {
                runner.startName = "/usr/bin/ninja";
                EXPECT_EQ(linesAfter(runner.run(folder, {"-t", "deps"}).standardOutput, "    "),
                          paths);
            }
        }
    }
}
#endif

}  // namespace
