// The rule text of the dependency file: escaping for Make and Ninja, the
// empty rules, wrapping, and the list of files read.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/dependency_file.h"
#include "platform/file_system.h"

namespace {

// A rule for the file "/b/o.d".
std::string ruleFor(const char* target, const std::vector<std::string>& dependencies) {
    DependencyRule rule;
    EXPECT_TRUE(formatDependencyRule(target, dependencies, "/b/o.d", rule));
    return rule.text;
}

TEST(DependencyRule, EscapesNamesAsMakeAndNinjaReadThem) {
    const std::string drive = kPathsHaveDrives ? "C:" : "C\\:";
    const struct {
        const char* target;
        std::vector<std::string> dependencies;
        std::string rule;
    } cases[] = {
        // clang-format off
        {"out.vrx", {"/s/a.vert", "/s/c.glsl"}, "out.vrx: /s/a.vert /s/c.glsl\n\n/s/a.vert:\n\n/s/c.glsl:\n"},
        {"my out.vrx", {"/s p/a b"}, "my\\ out.vrx: /s\\ p/a\\ b\n\n/s\\ p/a\\ b:\n"},
        {"o", {"/s/#1"}, "o: /s/\\#1\n\n/s/\\#1:\n"},
        {"o", {"/s/$x$"}, "o: /s/$$x$$\n\n/s/$$x$$:\n"},
        {"o", {"/s/co:lon"}, "o: /s/co\\:lon\n\n/s/co\\:lon:\n"},
        {"o", {"/s/a\\ b"}, "o: /s/a\\\\\\ b\n\n/s/a\\\\\\ b:\n"},
        {"o", {"C:\\s\\a.vert"}, "o: " + drive + "\\s\\a.vert\n\n" + drive + "\\s\\a.vert:\n"},
        {"o", {"/s/\xc3\xa9t\xc3\xa9.glsl"}, "o: /s/\xc3\xa9t\xc3\xa9.glsl\n\n/s/\xc3\xa9t\xc3\xa9.glsl:\n"},
        {"o", {}, "o:\n"},
        // Names the two tools do not both read give way to one that never exists.
        {"o", {"/s/a\tb", "/s/c;d", "/s/e"}, "o: /s/e /b/o.d/unlistable-file-name\n\n/s/e:\n\n/b/o.d/unlistable-file-name:\n"},
        {"it's", {"/s/e"}, "it's: /s/e /b/o.d/unlistable-file-name\n\n/s/e:\n\n/b/o.d/unlistable-file-name:\n"},
        {"a;b", {}, "/b/o.d/unlistable-output-name: /b/o.d/unlistable-file-name\n\n/b/o.d/unlistable-file-name:\n"},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ruleFor(c.target, c.dependencies), c.rule) << c.rule;
    }
    DependencyRule rule;
    EXPECT_FALSE(formatDependencyRule("o", {"/s/c;d"}, "", rule));
}

TEST(DependencyRule, WrapsLinesBeforeTheyGrowTooLong) {
    const std::string a = "/" + std::string(40, 'a');
    const std::string b = "/" + std::string(40, 'b');
    const std::string c = "/" + std::string(90, 'c');
    const std::string rule = ruleFor("out.vrx", {a, b, c});
    EXPECT_EQ(rule.substr(0, rule.find("\n\n")), "out.vrx: " + a + " \\\n " + b + " \\\n " + c);
}

TEST(DependencyList, KeepsEachFileOnceByFullPathInFirstReadOrder) {
    const std::string here = std::filesystem::current_path().string();
    DependencyList list;
    for (const char* path : {"b.glsl", "./a.glsl", "b.glsl", "x/../a.glsl"}) {
        addDependency(list, path);
    }
    EXPECT_EQ(list.paths,
              (std::vector<std::string>{(std::filesystem::path(here) / "b.glsl").string(),
                                        (std::filesystem::path(here) / "a.glsl").string()}));
}

}  // namespace
