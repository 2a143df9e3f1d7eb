// The rule text of the dependency file: escaping for Make and Ninja, the
// empty rules, wrapping, and the list of files read.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/dependency_file.h"

namespace {

TEST(DependencyRule, EscapesNamesAsMakeAndNinjaReadThem) {
    const struct {
        const char* target;
        std::vector<std::string> dependencies;
        const char* rule;
    } cases[] = {
        // clang-format off
        {"out.vrx", {"/s/a.vert", "/s/c.glsl"}, "out.vrx: /s/a.vert /s/c.glsl\n\n/s/a.vert:\n\n/s/c.glsl:\n"},
        {"my out.vrx", {"/s p/a b"}, "my\\ out.vrx: /s\\ p/a\\ b\n\n/s\\ p/a\\ b:\n"},
        {"o", {"/s/#1"}, "o: /s/\\#1\n\n/s/\\#1:\n"},
        {"o", {"/s/$x$"}, "o: /s/$$x$$\n\n/s/$$x$$:\n"},
        {"o", {"/s/a\tb"}, "o: /s/a\\\tb\n\n/s/a\\\tb:\n"},
        {"o", {"/s/a\\ b"}, "o: /s/a\\\\\\ b\n\n/s/a\\\\\\ b:\n"},
        {"o", {"C:\\s\\a.vert"}, "o: C:\\s\\a.vert\n\nC:\\s\\a.vert:\n"},
        {"o", {"/s/\xc3\xa9t\xc3\xa9.glsl"}, "o: /s/\xc3\xa9t\xc3\xa9.glsl\n\n/s/\xc3\xa9t\xc3\xa9.glsl:\n"},
        {"o", {}, "o:\n"},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatDependencyRule(c.target, c.dependencies), c.rule) << c.rule;
    }
}

TEST(DependencyRule, WrapsLinesBeforeTheyGrowTooLong) {
    const std::string a = "/" + std::string(40, 'a');
    const std::string b = "/" + std::string(40, 'b');
    const std::string c = "/" + std::string(90, 'c');
    const std::string rule = formatDependencyRule("out.vrx", {a, b, c});
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
