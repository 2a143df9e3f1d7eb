#include "driver/side_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DumpBaseName, DropsTheExtensionOfTheLastComponentOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"output.vrx", "output"},
        {"shaders/prog.vrx", "shaders/prog"},
        {"prog.tar.vrx", "prog.tar"},
        {"prog", "prog"},
        {"prog.", "prog"},
        {".vrx", ""},
        {"build.out/prog", "build.out/prog"},
        {"../out", "../out"},
        {"..\\dir.x\\out.vrx", "..\\dir.x\\out"},
        {"dir.x\\out", "dir.x\\out"},
        {"", ""},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        char buffer[256];
        ASSERT_TRUE(makeDumpBaseName(buffer, sizeof buffer, path));
        EXPECT_STREQ(buffer, expected);
    }
}

TEST(DumpBaseName, RefusesWhatDoesNotFit) {
    char buffer[256];
    std::string fits(255, 'a');
    std::string tooLong(256, 'a');
    EXPECT_TRUE(makeDumpBaseName(buffer, sizeof buffer, fits.c_str()));
    EXPECT_FALSE(makeDumpBaseName(buffer, sizeof buffer, tooLong.c_str()));
}

}  // namespace
