#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "libraries/bind_libraries.h"
#include "platform/decimal.h"
#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::string expectedFullPath(const std::string& relative) {
    return (fs::current_path() / relative).lexically_normal().string();
}

TEST(Decimal, DigitsAreReadUpToTheFirstOtherCharacterAndMustFit) {
    const struct {
        const char* text;
        const char* rest;  // null: refused
        uint64_t value;
    } cases[] = {
        {"0", "", 0},
        {"1234k", "k", 1234},
        {"18446744073709551615", "", UINT64_MAX},
        {"18446744073709551616", nullptr, 0},
        {"99999999999999999999", nullptr, 0},
        {"", nullptr, 0},
        {"-1", nullptr, 0},
        {" 1", nullptr, 0},
    };
    for (const auto& row : cases) {
        uint64_t value = 0;
        const char* rest = parseDecimalDigits(row.text, value);
        ASSERT_EQ(rest == nullptr, row.rest == nullptr) << row.text;
        if (rest != nullptr) {
            EXPECT_STREQ(rest, row.rest) << row.text;
            EXPECT_EQ(value, row.value) << row.text;
        }
    }
}

TEST(FullPath, ResolvesAgainstTheCurrentFolderAndFoldsDots) {
    for (const char* relative : {"a.vert", "./a.vert", "x/../a.vert", "x/./y/../../b/c.glsl"}) {
        SCOPED_TRACE(relative);
        char buffer[kFullPathBufferSize];
        ASSERT_TRUE(convertToFullPath(buffer, relative));
        EXPECT_EQ(std::string(buffer), expectedFullPath(relative));
    }
}

// A relative name that makes the full path exactly `length` characters.
std::string nameForFullLength(size_t length) {
    return std::string(length - fs::current_path().string().size() - 1, 'n');
}

// The same limit on every platform: Windows is not cut at MAX_PATH (260).
TEST(FullPath, LimitIs511Characters) {
    char buffer[kFullPathBufferSize];
    for (size_t length : {259u, 260u, 400u, 511u}) {
        SCOPED_TRACE(length);
        std::string fits = nameForFullLength(length);
        ASSERT_TRUE(convertToFullPath(buffer, fits.c_str()));
        EXPECT_EQ(std::string(buffer), expectedFullPath(fits));
    }
    EXPECT_FALSE(convertToFullPath(buffer, nameForFullLength(512).c_str()));
}

TEST(RegularFile, OnlyOrdinaryFilesQualify) {
    TempFolder folder;
    std::string file = folder.write("a.txt", "x");
    EXPECT_TRUE(isRegularFile(file.c_str()));
    EXPECT_FALSE(isRegularFile(folder.path().string().c_str()));
    EXPECT_FALSE(isRegularFile(folder.file("missing").c_str()));
}

// Binding against the doubles, loaded by their full paths.
struct BindingCase {
    const char* variant;
    const char* fileName;
    const char* const* names;
    int count;
    std::vector<const char*> absent;
};

TEST(Binding, MissingNamesLeaveTheirSlotsNull) {
    const BindingCase cases[] = {
        {"mendrix-full",
         kCompilerLibraryFileName,
         kCompilerEntryPointNames,
         kCompilerEntryPointCount,
         {}},
        {"mendrix-no-abi",
         kCompilerLibraryFileName,
         kCompilerEntryPointNames,
         kCompilerEntryPointCount,
         {"VRX2GetABIVersion"}},
        {"tmb-full", kWriterLibraryFileName, kWriterEntryPointNames, kWriterEntryPointCount, {}},
        {"tmb-older",
         kWriterLibraryFileName,
         kWriterEntryPointNames,
         kWriterEntryPointCount,
         {"TMBWriteFileShaderAsCode2", "TMBWriteFileShader2", "TMBAppendWriteFileShader2"}},
        {"tmb-none",
         kWriterLibraryFileName,
         kWriterEntryPointNames,
         kWriterEntryPointCount,
         {"TMBWriteFileShaderAsCode", "TMBWriteFileShader", "TMBAppendWriteFileShader",
          "TMBWriteFileShaderAsCode2", "TMBWriteFileShader2", "TMBAppendWriteFileShader2"}},
    };
    for (const BindingCase& testCase : cases) {
        SCOPED_TRACE(testCase.variant);
        std::string path =
            (fs::path(VRX_DOUBLES_DIR) / testCase.variant / testCase.fileName).string();
        LibraryHandle library = loadDynamicLibrary(path.c_str());
        ASSERT_NE(library, nullptr);
        void* slots[16];
        bindEntryPoints(library, testCase.names, testCase.count, slots);
        for (int index = 0; index < testCase.count; ++index) {
            bool expectAbsent = false;
            for (const char* name : testCase.absent) {
                expectAbsent = expectAbsent || std::string(name) == testCase.names[index];
            }
            EXPECT_EQ(slots[index] == nullptr, expectAbsent) << testCase.names[index];
        }
        freeDynamicLibrary(library);
    }
}

TEST(Binding, AMissingLibraryDoesNotLoad) {
    EXPECT_EQ(loadDynamicLibrary("libvrx-no-such-library.so"), nullptr);
}

}  // namespace
