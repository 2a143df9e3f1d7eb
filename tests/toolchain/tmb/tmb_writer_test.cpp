// The writer library's entry points, called as the driver calls them, over
// stage records built in memory: round trips in every mode, append, and the
// failures that must leave every existing file exactly as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <thread>
#include <tuple>

#include "platform/safe_files.h"
#include "tests/support/temp_folder.h"
#include "tests/toolchain/tmb/fake_stages.h"
#include "toolchain/tmb/tmb_entry_points.h"
#include "toolchain/tmb/vrx_format.h"

#ifdef __linux__
#include <sys/resource.h>
#include <csignal>
#endif

namespace fs = std::filesystem;

namespace {

using ::testing::ElementsAre;
using tmb_test::FakeProgram;

std::set<std::string> folderEntries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The file read back through the same reader as the append path and vrxInfo.
tmb::ShaderFile readBack(const std::string& path) {
    std::string bytes;
    std::string error;
    tmb::ShaderFile file;
    EXPECT_TRUE(safe_files::readWholeFile(path, bytes, error)) << error;
    EXPECT_TRUE(tmb::decodeShaderFile(tmb::asBytes(bytes), file, error)) << error;
    return file;
}

tmb::ShaderFile expectedFile(uint32_t gpu, uint32_t swap, bool aligned,
                             std::vector<const FakeProgram*> programs) {
    tmb::ShaderFile file;
    file.gpuVersion = gpu;
    file.endianSwapMode = swap;
    file.aligned = aligned;
    for (const FakeProgram* program : programs) {
        file.programs.push_back(program->expected);
    }
    return file;
}

std::string vrxBytes(const tmb::ShaderFile& file) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(tmb::encodeShaderFile(file, bytes, error)) << error;
    return std::string(bytes.begin(), bytes.end());
}

// Newer (WriterOptions) or older (WriterShaders) entry points; GPU version;
// endian swap mode; alignment padding.
using Modes = std::tuple<bool, uint32_t, uint32_t, uint32_t>;

class WriterRoundTrip : public ::testing::TestWithParam<Modes> {
protected:
    int32_t write(FakeProgram& program) {
        auto [newer, gpu, swap, align] = GetParam();
        if (newer) {
            const WriterOptions options = program.options();
            return TMBWriteFileShader2(path.c_str(), gpu, swap, align, 1, &options);
        }
        const WriterShaders shaders = program.shaders();
        return TMBWriteFileShader(path.c_str(), gpu, swap, align, 1, &shaders);
    }
    int32_t append(std::vector<FakeProgram*> programs) {
        auto [newer, gpu, swap, align] = GetParam();
        const auto count = static_cast<uint32_t>(programs.size());
        if (newer) {
            std::vector<WriterOptions> records;
            for (FakeProgram* program : programs) {
                records.push_back(program->options());
            }
            return TMBAppendWriteFileShader2(path.c_str(), gpu, swap, align, count, records.data());
        }
        std::vector<WriterShaders> records;
        for (FakeProgram* program : programs) {
            records.push_back(program->shaders());
        }
        return TMBAppendWriteFileShader(path.c_str(), gpu, swap, align, count, records.data());
    }

    TempFolder folder;
    std::string path = folder.file("out.vrx");
};

TEST_P(WriterRoundTrip, WritesAndAppendsProgramsThatReadBackUnchanged) {
    auto [newer, gpu, swap, align] = GetParam();
    FakeProgram first, second, third, fourth;
    first.withStage(toolchain::kStageVertex, 1, 128)
        .withStage(toolchain::kStagePixel, 2, 62)
        .withStage(toolchain::kStageGeometry, 3, 36, false);
    second.withStage(toolchain::kStageVertex, 4, 8, true, false);
    third.withStage(toolchain::kStageVertex, 5, 300).withStage(toolchain::kStagePixel, 6, 12);
    fourth.withStage(toolchain::kStagePixel, 7, 20);

    ASSERT_NE(write(first), 0);
    EXPECT_EQ(readBack(path), expectedFile(gpu, swap, align != 0, {&first}));
    EXPECT_EQ(readFileBytes(path), vrxBytes(expectedFile(gpu, swap, align != 0, {&first})));

    ASSERT_NE(append({&second, &third}), 0);
    ASSERT_NE(append({&fourth}), 0);
    const tmb::ShaderFile all = readBack(path);
    EXPECT_EQ(all, expectedFile(gpu, swap, align != 0, {&first, &second, &third, &fourth}));
    for (uint32_t offset : tmb::binaryOffsets(all)) {
        EXPECT_EQ(offset % (align != 0 ? tmb::kPaddedAlignment : tmb::kPlainAlignment), 0u);
    }
    EXPECT_THAT(folderEntries(folder.path()), ElementsAre("out.vrx"));
}

INSTANTIATE_TEST_SUITE_P(EveryMode, WriterRoundTrip,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(1u, 2u),
                                            ::testing::Values(0u, 2u), ::testing::Values(0u, 1u)));

TEST(TmbWriter, StoresComputeProgramsAndEveryRecordOfAnArray) {
    TempFolder folder;
    const std::string path = folder.file("compute.vrx");
    FakeProgram compute, graphics;
    compute.withStage(toolchain::kStageCompute, 9, 44);
    graphics.withStage(toolchain::kStageVertex, 10, 16).withStage(toolchain::kStagePixel, 11, 16);
    const WriterOptions records[2] = {compute.options(), graphics.options()};
    ASSERT_NE(TMBWriteFileShader2(path.c_str(), 2, 0, 0, 2, records), 0);
    EXPECT_EQ(readBack(path), expectedFile(2, 0, false, {&compute, &graphics}));
}

TEST(TmbWriter, WriteReplacesWhateverWasThere) {
    TempFolder folder;
    const std::string path = folder.write("out.vrx", "an older, longer file of another kind\n");
    FakeProgram program;
    program.withStage(toolchain::kStageVertex, 1);
    const WriterOptions options = program.options();
    ASSERT_NE(TMBWriteFileShader2(path.c_str(), 2, 0, 0, 1, &options), 0);
    EXPECT_EQ(readBack(path), expectedFile(2, 0, false, {&program}));
    EXPECT_THAT(folderEntries(folder.path()), ElementsAre("out.vrx"));
}

// A previous good file at out.vrx; every call of a case must fail and leave
// it, and the folder, exactly as they were.
class UntouchedTarget : public ::testing::Test {
protected:
    void SetUp() override {
        previous.withStage(toolchain::kStageVertex, 1).withStage(toolchain::kStagePixel, 2);
        const WriterOptions options = previous.options();
        ASSERT_NE(TMBWriteFileShader2(path.c_str(), 2, 0, 0, 1, &options), 0);
        before = readFileBytes(path);
    }
    void expectUntouched(const std::string& name) {
        EXPECT_EQ(readFileBytes(path), before) << name;
        EXPECT_THAT(folderEntries(folder.path()), ElementsAre("out.vrx")) << name;
    }

    TempFolder folder;
    std::string path = folder.file("out.vrx");
    FakeProgram previous;
    std::string before;
};

TEST_F(UntouchedTarget, BadArgumentsAndRecordsFailInEveryMode) {
    struct Case {
        const char* name;
        std::function<void(FakeProgram&)> prepare;
        uint32_t gpu = 2, swap = 0, align = 0, count = 1;
        uint32_t magic = kWriterOptionsMagic;
    };
    auto alter = [](uint32_t kind, std::function<void(toolchain::StageRecord&)> change) {
        return [=](FakeProgram& program) {
            program.withStage(kind, 5);
            toolchain::StageRecord record = program.record(kind);
            change(record);
            program.setRecord(kind, record);
        };
    };
    auto vertex = [](FakeProgram& program) { program.withStage(toolchain::kStageVertex, 5); };
    const Case cases[] = {
        {"no stage at all", [](FakeProgram&) {}},
        {"slot given, stage not compiled",
         [](FakeProgram& program) {
             program.withStage(toolchain::kStageVertex, 5).withEmptySlot(toolchain::kStagePixel);
         }},
        {"record of another kind in the slot",
         alter(toolchain::kStagePixel, [](auto& r) { r.kind = toolchain::kStageGeometry; })},
        {"binary missing", alter(toolchain::kStageVertex, [](auto& r) { r.binary = nullptr; })},
        {"binary empty", alter(toolchain::kStageVertex, [](auto& r) { r.binarySize = 0; })},
        {"reflection size without data",
         alter(toolchain::kStageVertex, [](auto& r) { r.reflection = nullptr; })},
        {"malformed reflection",
         alter(toolchain::kStageVertex, [](auto& r) { r.reflectionSize -= 4; })},
        {"unknown binary format",
         alter(toolchain::kStageVertex, [](auto& r) { r.binaryFormat = 0; })},
        {"gpu version 3", vertex, 3},
        {"gpu version 0", vertex, 0},
        {"endian swap mode 1", vertex, 2, 1},
        {"alignment padding 2", vertex, 2, 0, 2},
        {"record count 0", vertex, 2, 0, 0, 0},
        {"bad options magic", vertex, 2, 0, 0, 1, 0},
    };
    for (const Case& c : cases) {
        FakeProgram program;
        c.prepare(program);
        WriterOptions options = program.options();
        options.magic = c.magic;
        const WriterShaders shaders = program.shaders();
        const std::string name = c.name;
        EXPECT_EQ(TMBWriteFileShader2(path.c_str(), c.gpu, c.swap, c.align, c.count, &options), 0)
            << name;
        EXPECT_EQ(
            TMBAppendWriteFileShader2(path.c_str(), c.gpu, c.swap, c.align, c.count, &options), 0)
            << name;
        if (c.magic == kWriterOptionsMagic) {  // the older records carry no magic
            EXPECT_EQ(TMBWriteFileShader(path.c_str(), c.gpu, c.swap, c.align, c.count, &shaders),
                      0)
                << name;
            EXPECT_EQ(
                TMBAppendWriteFileShader(path.c_str(), c.gpu, c.swap, c.align, c.count, &shaders),
                0)
                << name;
        }
        expectUntouched(name);
    }
    EXPECT_EQ(TMBWriteFileShader2(path.c_str(), 2, 0, 0, 1, nullptr), 0);
    EXPECT_EQ(TMBAppendWriteFileShader(path.c_str(), 2, 0, 0, 1, nullptr), 0);
    EXPECT_EQ(TMBWriteFileShader2(nullptr, 2, 0, 0, 1, nullptr), 0);
    expectUntouched("null records");
}

TEST_F(UntouchedTarget, AppendRefusesADifferentGpuVersionOrMode) {
    FakeProgram more;
    more.withStage(toolchain::kStageVertex, 3);
    const WriterOptions options = more.options();
    const WriterShaders shaders = more.shaders();
    const struct {
        uint32_t gpu, swap, align;
    } cases[] = {{1, 0, 0}, {2, 2, 0}, {2, 0, 1}, {1, 2, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(TMBAppendWriteFileShader2(path.c_str(), c.gpu, c.swap, c.align, 1, &options), 0);
        EXPECT_EQ(TMBAppendWriteFileShader(path.c_str(), c.gpu, c.swap, c.align, 1, &shaders), 0);
        expectUntouched("gpu " + std::to_string(c.gpu) + " swap " + std::to_string(c.swap) +
                        " align " + std::to_string(c.align));
    }
}

TEST(TmbWriter, AppendLeavesEveryUnacceptableFileByteForByte) {
    FakeProgram good, more;
    good.withStage(toolchain::kStageVertex, 1, 100).withStage(toolchain::kStagePixel, 2, 40);
    more.withStage(toolchain::kStageVertex, 3);
    const std::string valid = vrxBytes(expectedFile(2, 0, false, {&good}));
    std::string flipped = valid;
    flipped[valid.size() / 2] ^= 0x10;
    std::string wrongSize = valid;
    wrongSize += std::string(4, '\0');

    const struct {
        const char* name;
        std::string contents;
    } cases[] = {
        {"empty file", ""},
        {"another format", "#version 450\nvoid main() {}\n"},
        {"only a magic", valid.substr(0, 4)},
        {"truncated header", valid.substr(0, 47)},
        {"truncated data", valid.substr(0, valid.size() - 4)},
        {"one byte corrupt", flipped},
        {"trailing bytes", wrongSize},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const std::string path = folder.write("out.vrx", c.contents);
        const WriterOptions options = more.options();
        EXPECT_EQ(TMBAppendWriteFileShader2(path.c_str(), 2, 0, 0, 1, &options), 0) << c.name;
        EXPECT_EQ(readFileBytes(path), c.contents) << c.name;
        EXPECT_THAT(folderEntries(folder.path()), ElementsAre("out.vrx")) << c.name;
    }
}

TEST(TmbWriter, UnusableDestinationsFailAndLeaveNothingBehind) {
    FakeProgram program;
    program.withStage(toolchain::kStageVertex, 1);
    const WriterOptions options = program.options();
    TempFolder folder;
    folder.write("dir.vrx/inside.txt", "keep me");
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"missing folder", folder.file("missing/out.vrx")},
        {"missing file for append", folder.file("absent.vrx")},
        {"path is a folder", folder.file("dir.vrx")},
        {"path names no file", folder.file("dir.vrx") + "/"},
    };
    for (const auto& c : cases) {
        const bool appendOnly = std::string(c.name).find("append") != std::string::npos;
        if (!appendOnly) {
            EXPECT_EQ(TMBWriteFileShader2(c.path.c_str(), 2, 0, 0, 1, &options), 0) << c.name;
            EXPECT_EQ(TMBWriteFileShaderAsCode2(c.path.c_str(), 0, &options), 0) << c.name;
        }
        EXPECT_EQ(TMBAppendWriteFileShader2(c.path.c_str(), 2, 0, 0, 1, &options), 0) << c.name;
    }
    EXPECT_THAT(folderEntries(folder.path()), ElementsAre("dir.vrx"));
    EXPECT_THAT(folderEntries(folder.path() / "dir.vrx"), ElementsAre("inside.txt"));
    EXPECT_EQ(readFileBytes(folder.path() / "dir.vrx" / "inside.txt"), "keep me");
}

// Another writer holds the file's lock past the (shortened) time-out: every
// mode fails and the file stays as it was. The calls run on another thread,
// since a Windows mutex lets its owning thread in again.
TEST(TmbWriter, WritersGiveUpOnAFileLockedTooLong) {
    TempFolder folder;
    const std::string path = folder.write("out.vrx", "old contents");
    safe_files::PathLock lock;
    std::string error;
    ASSERT_EQ(safe_files::lockPath(path, 1000, lock, error), safe_files::LockResult::acquired);
#ifdef _WIN32
    _putenv_s("TMB_LOCK_TIMEOUT_MS", "100");
#else
    setenv("TMB_LOCK_TIMEOUT_MS", "100", 1);
#endif
    FakeProgram program;
    program.withStage(toolchain::kStageVertex, 1);
    const WriterOptions options = program.options();
    int32_t results[3] = {-1, -1, -1};
    std::thread([&] {
        results[0] = TMBWriteFileShader2(path.c_str(), 2, 0, 0, 1, &options);
        results[1] = TMBAppendWriteFileShader2(path.c_str(), 2, 0, 0, 1, &options);
        results[2] = TMBWriteFileShaderAsCode2(path.c_str(), 0, &options);
    }).join();
#ifdef _WIN32
    _putenv_s("TMB_LOCK_TIMEOUT_MS", "");
#else
    unsetenv("TMB_LOCK_TIMEOUT_MS");
#endif
    lock.release();
    EXPECT_THAT(results, ElementsAre(0, 0, 0));
    EXPECT_EQ(readFileBytes(path), "old contents");
    EXPECT_THAT(folderEntries(folder.path()), ElementsAre("out.vrx"));
}

#ifndef _WIN32
TEST(TmbWriter, ReadOnlyFolderFailsAndKeepsTheOldFile) {
    TempFolder folder;
    const std::string path = folder.write("locked/out.vrx", "old contents");
    const fs::path locked = folder.path() / "locked";
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    std::FILE* probe = std::fopen((locked / "probe").string().c_str(), "wb");
    if (probe != nullptr) {
        std::fclose(probe);
        fs::remove(locked / "probe");
        GTEST_SKIP() << "permissions are not enforced for this user";
    }
    FakeProgram program;
    program.withStage(toolchain::kStageVertex, 1);
    const WriterOptions options = program.options();
    EXPECT_EQ(TMBWriteFileShader2(path.c_str(), 2, 0, 0, 1, &options), 0);
    EXPECT_EQ(TMBWriteFileShaderAsCode2(path.c_str(), 0, &options), 0);
    EXPECT_EQ(readFileBytes(path), "old contents");
    EXPECT_THAT(folderEntries(locked), ElementsAre("out.vrx"));
}
#endif

#ifdef __linux__
// A file size limit makes writes fail part-way the way a full disk does.
TEST(TmbWriter, FailedWritesKeepTheOldFileAndRemoveTheTemporaryOne) {
    TempFolder folder;
    const std::string path = folder.file("out.vrx");
    FakeProgram small, large;
    small.withStage(toolchain::kStageVertex, 1, 16);
    large.withStage(toolchain::kStageVertex, 2, 64 * 1024);
    const WriterOptions smallOptions = small.options();
    const WriterOptions largeOptions = large.options();
    ASSERT_NE(TMBWriteFileShader2(path.c_str(), 2, 0, 0, 1, &smallOptions), 0);
    const std::string before = readFileBytes(path);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 8 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int32_t written = TMBWriteFileShader2(path.c_str(), 2, 0, 0, 1, &largeOptions);
    const int32_t appended = TMBAppendWriteFileShader2(path.c_str(), 2, 0, 0, 1, &largeOptions);
    const int32_t header = TMBWriteFileShaderAsCode2(path.c_str(), 0, &largeOptions);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(written, 0);
    EXPECT_EQ(appended, 0);
    EXPECT_EQ(header, 0);
    EXPECT_EQ(readFileBytes(path), before);
    EXPECT_THAT(folderEntries(folder.path()), ElementsAre("out.vrx"));
}
#endif

}  // namespace
