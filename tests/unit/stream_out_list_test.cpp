#include "source/stream_out_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/allocation.h"
#include "tests/seams/fault_injection.h"
#include "tests/support/temp_folder.h"

namespace {

// Reads the list at `path`, expecting success, and gives the names.
std::vector<std::string> readNames(const std::string& path) {
    uint32_t count = 12345;
    char** names = readStreamOutList(path.c_str(), count);
    EXPECT_NE(names, nullptr);
    if (names == nullptr) {
        return {};
    }
    std::vector<std::string> result(names, names + count);
    freeStringArray(names, count);
    return result;
}

std::string numberedLines(int lines) {
    std::string text;
    for (int line = 0; line < lines; ++line) {
        text += "v" + std::to_string(line) + "\n";
    }
    return text;
}

TEST(StreamOutList, EachLineIsOneName) {
    std::string nul(1, '\0');
    std::string longName(1000, 'n');
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::string> names;
    };
    std::vector<Case> cases = {
        {"empty file", "", {}},
        {"one blank line", "\n", {""}},
        {"newline line ends", "pos\ncolor\n", {"pos", "color"}},
        {"last line without newline keeps all", "pos\ncolor", {"pos", "color"}},
        {"blank lines kept in place", "\na\n\nb\n", {"", "a", "", "b"}},
        {"blanks kept", " a \t\n\tb\n", {" a \t", "\tb"}},
        {"carriage return line ends", "pos\r\ncolor\r\n", {"pos", "color"}},
        {"carriage return line end, none at the end", "pos\r\ncolor", {"pos", "color"}},
        {"carriage return inside a line kept", "a\rb\n", {"a\rb"}},
        {"NUL first", nul + "abc\nd\n", {"", "d"}},
        {"name of 255 characters", std::string(255, 'm') + "\n", {std::string(255, 'm')}},
        {"long names whole", longName + "\n" + longName, {longName, longName}},
        {"long name with carriage return", longName + "\r\nx\n", {longName, "x"}},
    };
    for (const Case& row : cases) {
        TempFolder folder;
        std::string path = folder.write("list.txt", row.file);
        EXPECT_EQ(readNames(path), row.names) << row.name;
    }
}

TEST(StreamOutList, ArrayGrowsByFiftyEntries) {
    // One allocation for the first array, one per name, one per growth.
    struct Case {
        int lines;
        unsigned long long allocations;
    };
    for (Case row : {Case{50, 51}, Case{51, 53}, Case{101, 104}}) {
        TempFolder folder;
        std::string path = folder.write("list.txt", numberedLines(row.lines));
        injectAllocationFailure(0);
        std::vector<std::string> names = readNames(path);
        EXPECT_EQ(injectAllocationFailure(0), row.allocations) << row.lines;
        ASSERT_EQ(names.size(), static_cast<size_t>(row.lines));
        for (int line = 0; line < row.lines; ++line) {
            EXPECT_EQ(names[line], "v" + std::to_string(line));
        }
    }
}

TEST(StreamOutList, FileThatCannotBeOpenedLeavesTheCountAlone) {
    TempFolder folder;
    folder.write("folder/list.txt", "a\n");
    for (const std::string& path : {folder.file("missing.txt"), folder.file("folder")}) {
        uint32_t count = 7;
        EXPECT_EQ(readStreamOutList(path.c_str(), count), nullptr) << path;
        EXPECT_EQ(count, 7u) << path;
    }
}

TEST(StreamOutList, FileThatCannotBeReadGivesNothing) {
#ifdef __linux__
    // Reading a process's memory at address 0 fails.
    TempFolder folder;
    std::error_code failed;
    std::filesystem::create_symlink("/proc/self/mem", folder.path() / "mem", failed);
    std::string path = folder.file("mem");
    FILE* probe = failed ? nullptr : std::fopen(path.c_str(), "r");
    char byte;
    bool readFails = probe != nullptr && std::fread(&byte, 1, 1, probe) == 0 && std::ferror(probe);
    if (probe != nullptr) {
        std::fclose(probe);
    }
    if (!readFails) {
        GTEST_SKIP() << "no unreadable ordinary file on this system";
    }
    uint32_t count = 7;
    EXPECT_EQ(readStreamOutList(path.c_str(), count), nullptr);
    EXPECT_EQ(count, 0u);
#else
    GTEST_SKIP() << "no unreadable ordinary file on this system";
#endif
}

TEST(StreamOutList, LongListsGrowTheArrayByDoubling) {
    // Regression: with a fixed step of 50 a list of a million lines copied
    // the whole pointer array 20 000 times and took minutes. Capacities are
    // 50, 100, 200, 400, ... so few growths copy few pointers.
    struct Case {
        int lines;
        unsigned long long allocations;  // array, names, growths
    };
    for (Case row :
         {Case{201, 1 + 201 + 3}, Case{1000, 1 + 1000 + 5}, Case{100000, 1 + 100000 + 11}}) {
        TempFolder folder;
        std::string path = folder.write("list.txt", numberedLines(row.lines));
        injectAllocationFailure(0);
        std::vector<std::string> names = readNames(path);
        EXPECT_EQ(injectAllocationFailure(0), row.allocations) << row.lines;
        ASSERT_EQ(names.size(), static_cast<size_t>(row.lines));
        EXPECT_EQ(names.back(), "v" + std::to_string(row.lines - 1));
    }
}

TEST(StreamOutList, EveryFailedAllocationGivesNothing) {
    // 51 names make the array grow; the long one is read in several pieces.
    TempFolder folder;
    std::string path = folder.write("list.txt", std::string(700, 'x') + "\n" + numberedLines(50));
    injectAllocationFailure(0);
    uint32_t count = 0;
    char** names = readStreamOutList(path.c_str(), count);
    unsigned long long allocations = injectAllocationFailure(0);
    ASSERT_NE(names, nullptr);
    freeStringArray(names, count);
    ASSERT_GT(allocations, 53u);
    for (unsigned long long failing = 1; failing <= allocations; ++failing) {
        injectAllocationFailure(failing);
        count = 7;
        EXPECT_EQ(readStreamOutList(path.c_str(), count), nullptr) << failing;
        EXPECT_EQ(count, 0u) << failing;
    }
    injectAllocationFailure(0);
}

}  // namespace
