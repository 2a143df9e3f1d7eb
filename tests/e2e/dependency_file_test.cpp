// The dependency file asked for with VRXCOMPILE_DEPFILE: what it lists, and
// that it never changes a run's result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/driver_run.h"

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

}  // namespace
