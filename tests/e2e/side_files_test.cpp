// Debug dump files and statistics reports left beside the output file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/driver_run.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().parent_path().filename() != "bin") {
            names.push_back(fs::relative(entry.path(), folder).generic_string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SideFiles, DumpsAndReportsForAVertexAndPixelProgram) {
    TempFolder folder;
    folder.write("a.vert", "void main() {}\n");
    folder.write("a.frag", "void main() {}\n");
    DriverRunner runner;
    runner.environment = {{"MENDRIX_VERTEX_DUMP", "vertex listing\nline 2\n"},
                          {"MENDRIX_PIXEL_DUMP", "pixel listing"},
                          {"MENDRIX_STATS", "123456,2,3,4,5,6,7,8,2147483648"}};
    DriverResult result = runner.run(folder, {"-v", "a.vert", "-p", "a.frag", "-d", "-istats"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_THAT(filesIn(folder.path()),
                ::testing::ElementsAre("a.frag", "a.vert", "output.vrx", "output_ps.dmp",
                                       "output_ps.stat", "output_vs.dmp", "output_vs.stat"));
    EXPECT_EQ(readFileBytes(folder.path() / "output_vs.dmp"),
              textLines("vertex listing\nline 2\n"));
    EXPECT_EQ(readFileBytes(folder.path() / "output_ps.dmp"), "pixel listing");
    EXPECT_EQ(readFileBytes(folder.path() / "output_vs.stat"),
              textLines("Hardware Usage Statistics\n"
                        "\n"
                        "Total HW instructions used:      123456\n"
                        "  ALU instructions used:             5\n"
                        "  Tfetch instructions used:          6\n"
                        "  Vfetch instructions used:          7\n"
                        "  Control flow instructions:         8\n"
                        "GPR pool size:                       4\n"
                        "Num HW GPRs used:                    2\n"
                        "Num HW clause temps used:            3\n"
                        "External (API) ALU consts:       -2147483648\n"));
}

TEST(SideFiles, ComputeProgramGetsOnlyItsOwnReport) {
    TempFolder folder;
    folder.write("a.comp", "void main() {}\n");
    DriverRunner runner;
    runner.environment = {{"MENDRIX_STATS", "-1,0,0,0,0,0,0,0,7"},
                          {"MENDRIX_COMPUTE_DUMP", "compute listing"},
                          {"MENDRIX_VERTEX_DUMP", "stray listing"}};
    DriverResult result = runner.run(folder, {"-c", "a.comp", "-istats", "-d", "-o", "k.vrx"});
    ASSERT_EQ(result.exitCode, 0);
    // The library may return dump text for any stage; each present text is written.
    EXPECT_THAT(filesIn(folder.path()),
                ::testing::ElementsAre("a.comp", "k.vrx", "k_cs.dmp", "k_cs.stat", "k_vs.dmp"));
    EXPECT_THAT(readFileBytes(folder.path() / "k_cs.stat"),
                ::testing::HasSubstr(textLines("Total HW instructions used:         -1\n")));
    EXPECT_THAT(readFileBytes(folder.path() / "k_cs.stat"),
                ::testing::HasSubstr(textLines("External (API) ALU consts:           7\n")));
}

struct NameCase {
    const char* outputPath;
    const char* dumpFile;  // relative to the test folder
};

TEST(SideFiles, NamesComeFromTheOutputPath) {
    const NameCase cases[] = {
        {"shaders/prog.vrx", "shaders/prog_vs.dmp"},
        {"prog.tar.vrx", "prog.tar_vs.dmp"},
        {"prog", "prog_vs.dmp"},
        {"prog.", "prog_vs.dmp"},
        {".vrx", "_vs.dmp"},
        // A dot in a folder name is not an extension.
        {"build.out/prog", "build.out/prog_vs.dmp"},
        {"work/../out", "work/../out_vs.dmp"},
    };
    for (const NameCase& testCase : cases) {
        SCOPED_TRACE(testCase.outputPath);
        TempFolder folder;
        fs::create_directories(folder.path() / "shaders");
        fs::create_directories(folder.path() / "build.out");
        fs::create_directories(folder.path() / "work");
        DriverRunner runner;
        runner.environment = {{"MENDRIX_VERTEX_DUMP", "listing"}};
        DriverResult result = runner.run(folder, {"-d", "-o", testCase.outputPath});
        ASSERT_EQ(result.exitCode, 0);
        EXPECT_EQ(readFileBytes(folder.path() / testCase.dumpFile), "listing");
    }
}

TEST(SideFiles, AbsentTextLeavesAnExistingDumpUntouched) {
    TempFolder folder;
    folder.write("output_vs.dmp", "old vertex");
    folder.write("output_ps.dmp", "old pixel");
    DriverRunner runner;
    runner.environment = {{"MENDRIX_PIXEL_DUMP", "new pixel"}};
    DriverResult result = runner.run(folder, {"-d"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(readFileBytes(folder.path() / "output_vs.dmp"), "old vertex");
    EXPECT_EQ(readFileBytes(folder.path() / "output_ps.dmp"), "new pixel");
}

TEST(SideFiles, UnwritableFolderIsSilent) {
    TempFolder folder;
    folder.write("a.vert", "void main() {}\n");
    DriverRunner runner;
    runner.environment = {{"MENDRIX_VERTEX_DUMP", "listing"},
                          {"MENDRIX_STATS", "1,2,3,4,5,6,7,8,9"}};
    DriverResult result =
        runner.run(folder, {"-v", "a.vert", "-d", "-istats", "-o", "missing/folder/out.vrx"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "");
    EXPECT_FALSE(fs::exists(folder.path() / "missing"));
}

TEST(SideFiles, NameTooLongIsSkippedNotShortened) {
    TempFolder folder;
    folder.write("a.vert", "void main() {}\n");
    // 248 characters: the dump name (+7) fits 255, the report name (+8) does not.
    std::string output(248, 'o');
    DriverRunner runner;
    runner.environment = {{"MENDRIX_VERTEX_DUMP", "listing"},
                          {"MENDRIX_STATS", "1,2,3,4,5,6,7,8,9"}};
    DriverResult result = runner.run(folder, {"-v", "a.vert", "-d", "-istats", "-o", output});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(readFileBytes(folder.path() / (output + "_vs.dmp")), "listing");
    for (const std::string& name : filesIn(folder.path())) {
        EXPECT_EQ(name.find(".stat"), std::string::npos) << name;
    }
}

#ifndef _WIN32
// A side file that fails while it is written (here past the file size limit)
// is warned about and leaves no file, not even an earlier run's; one that
// cannot be opened is left alone without a word.
TEST(SideFiles, AFailedWriteWarnsAndLeavesNoFile) {
    const struct {
        const char* limit;  // file size limit of the run; "" for none
        const char* warning;
        const char* dumpAfter;  // "" when no file is left
    } cases[] = {
        {"", "", "old"},  // a read-only dump file
        {"--fsize=16384",
         "vrxCompile: warning: dump file \"output_vs.dmp\" not written: cannot write the "
         "temporary file: File too large\n",
         ""},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        folder.write("a.vert", "void main() {}\n");
        folder.write("output_vs.dmp", "old");
        if (c.limit[0] == '\0') {
            fs::permissions(folder.path() / "output_vs.dmp", fs::perms::owner_read);
        }
        DriverRunner runner;
        runner.environment = {{"MENDRIX_VERTEX_DUMP", std::string(40000, 'x')},
                              {"MENDRIX_STATS", "1,2,3,4,5,6,7,8,9"}};
        std::vector<std::string> arguments = {"-v", "a.vert", "-d", "-istats"};
        if (c.limit[0] != '\0') {
            runner.startName = "/usr/bin/prlimit";
            arguments.insert(arguments.begin(), {c.limit, "bin/" + driverFileName()});
        }
        DriverResult result = runner.run(folder, arguments);
        EXPECT_EQ(result.exitCode, 0) << c.limit;
        EXPECT_EQ(result.standardError, c.warning);
        EXPECT_EQ(readFileBytes(folder.path() / "output_vs.dmp").substr(0, 8), c.dumpAfter);
        std::vector<std::string> files = {"a.vert", "output.vrx", "output_vs.dmp",
                                          "output_vs.stat"};
        if (c.dumpAfter[0] == '\0') {
            files.erase(files.begin() + 2);
        }
        EXPECT_EQ(filesIn(folder.path()), files);  // and no temporary file
    }
}
#endif

}  // namespace
