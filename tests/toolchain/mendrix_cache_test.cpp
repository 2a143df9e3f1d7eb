// The compile cache: a warm run hands out every byte a cold one does, and a
// changed, damaged, switched-off, full or contended cache never changes a
// result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/folder_handle.h"
#include "tests/toolchain/mendrix_support.h"
#include "toolchain/mendrix/cache/cache_entry.h"
#include "toolchain/mendrix/cache/cache_folder.h"
#include "toolchain/mendrix/cache/cache_settings.h"

namespace fs = std::filesystem;
using namespace mendrix_test;

namespace {

void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// The cache is off for every test of this program, also when it runs
// outside ctest, unless a test turns it on for a folder of its own.
[[maybe_unused]] const bool cacheOffForAllTests = (setVariable("VRXCOMPILE_CACHE", "0"), true);

// Turns the cache on for a fresh folder; back off at the end of the test.
struct CacheFolder {
    TempFolder temp;
    fs::path folder = temp.path() / "cache";
    explicit CacheFolder(const std::string& maxSize = "1G") {
        setVariable("VRXCOMPILE_CACHE", "1");
        setVariable("VRXCOMPILE_CACHE_DIR", folder.string());
        setVariable("VRXCOMPILE_CACHE_MAX_SIZE", maxSize);
    }
    ~CacheFolder() { setVariable("VRXCOMPILE_CACHE", "0"); }
    std::vector<fs::path> entries() const {
        std::vector<fs::path> found;
        for (const auto& file : fs::directory_iterator(folder)) {
            if (file.path().extension() == ".vrxc") {
                found.push_back(file.path());
            }
        }
        return found;
    }
};

// Everything a driver run leaves: exit code, console output, every file.
std::map<std::string, std::string> runDriver(const fs::path& work, const std::string& arguments) {
    fs::remove_all(work / "out");
    fs::create_directories(work / "out" / "debug");
    std::string command = "\"" + std::string(VRX_DRIVER_PATH) + "\" " + arguments + " > \"" +
                          (work / "stdout").string() + "\" 2> \"" + (work / "stderr").string() +
                          "\"";
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd.exe drops the outer quotes
#endif
    std::map<std::string, std::string> result;
    result["exit"] = std::to_string(std::system(command.c_str()));
    result["stdout"] = readFileBytes(work / "stdout");
    result["stderr"] = readFileBytes(work / "stderr");
    for (const auto& file : fs::recursive_directory_iterator(work / "out")) {
        if (file.is_regular_file()) {
            result[file.path().string()] = readFileBytes(file.path());
        }
    }
    return result;
}

TEST(MendrixCache, WarmRunsWriteAndPrintWhatColdRunsDo) {
    CacheFolder cache;
    const std::string examples = MENDRIX_EXAMPLES_DIR;
    const std::string out = (cache.temp.path() / "out").string();
    const std::string common = " -d -istats -quarndir \"" + out + "/debug\" -o \"" + out +
                               "/p.vrx\" -oh \"" + out + "/p.h\"";
    const std::string programs[] = {
        "-v " + examples + "/textured.vert -p " + examples + "/textured.frag",
        "-v " + examples + "/exploded.vert -g " + examples + "/exploded.geom -p " + examples +
            "/exploded.frag -so " + examples + "/exploded.so",
        "-c " + examples + "/blur.comp -O",
        "-t essl -v " + examples + "/quad_es.vert -p " + examples + "/quad_es.frag",
    };
    for (const std::string& program : programs) {
        setVariable("VRXCOMPILE_CACHE", "0");
        auto off = runDriver(cache.temp.path(), program + common);
        setVariable("VRXCOMPILE_CACHE", "1");
        size_t entriesBefore = fs::exists(cache.folder) ? cache.entries().size() : 0;
        auto cold = runDriver(cache.temp.path(), program + common);
        ASSERT_EQ(cache.entries().size(), entriesBefore + 1) << program;
        auto warm = runDriver(cache.temp.path(), program + common);
        EXPECT_EQ(off["exit"], "0") << program << off["stderr"];
        EXPECT_EQ(cold, off) << program;
        EXPECT_EQ(warm, off) << program;
    }
}

TEST(MendrixCache, ChangedIncludeMisses) {
    CacheFolder cache;
    const fs::path work = cache.temp.path();
    cache.temp.write("a.frag", "#version 450\n#include \"c.glsl\"\nvoid main() { o = K; }\n");
    const std::string arguments = "-p \"" + cache.temp.file("a.frag") + "\" -o \"" +
                                  (work / "out" / "a.vrx").string() + "\" -noquarn";
    cache.temp.write("c.glsl", "layout(location = 0) out vec4 o;\nconst vec4 K = vec4(1);\n");
    auto first = runDriver(work, arguments);
    cache.temp.write("c.glsl", "layout(location = 0) out vec4 o;\nconst vec4 K = vec4(2);\n");
    auto changed = runDriver(work, arguments);
    setVariable("VRXCOMPILE_CACHE", "0");
    EXPECT_EQ(changed, runDriver(work, arguments));
    EXPECT_NE(changed, first);
}

// One compile through the library, its outputs flattened for comparison.
std::string compileToBytes(const std::string& vertex, const std::string& pixel) {
    mendrix::Compiler compiler(2);
    CompileRequest request = makeRequest({.vertex = vertex.c_str(), .pixel = pixel.c_str()});
    Compiled compiled(compiler, request);
    EXPECT_TRUE(compiled.ok) << compiled.log();
    std::string bytes = compiled.log();
    for (const void* slot : {static_cast<const void*>(&compiled.set.vertexShader),
                             static_cast<const void*>(&compiled.set.pixelShader)}) {
        toolchain::ToolchainStageRecord record = recordAt(slot);
        bytes.append(reinterpret_cast<const char*>(record.binary), record.binarySize);
        record.binary = record.reflection = nullptr;
        record.sourcePath = nullptr;
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    return bytes;
}

// The disk space a file takes, as the cache counts it.
uint64_t diskUseOf(const fs::path& file) {
    safe_files::FolderHandle folder;
    safe_files::FolderFileFacts facts;
    std::string error;
    EXPECT_TRUE(safe_files::openSharedFolder(file.parent_path().string(), folder, error)) << error;
    EXPECT_TRUE(safe_files::factsOf(folder, file.filename().string(), facts)) << file;
    return facts.diskUse;
}

const std::string kVertex = "#version 450\nvoid main() { gl_Position = vec4(0); }\n";
std::string pixelWriting(int value) {
    return "#version 450\nlayout(location = 0) out vec4 o;\nvoid main() { o = vec4(" +
           std::to_string(value) + "); }\n";
}

TEST(MendrixCache, DamagedEntriesAreIgnoredAndReplaced) {
    CacheFolder cache;
    const std::string cold = compileToBytes(kVertex, pixelWriting(1));
    const fs::path entry = cache.entries().at(0);
    const std::string intact = readFileBytes(entry);
    mendrix::CacheEntry decoded;
    ASSERT_TRUE(mendrix::decodeCacheEntry(intact, decoded));
    // Every truncation and every flipped byte is refused by the reader.
    for (size_t size = 0; size < intact.size(); ++size) {
        ASSERT_FALSE(mendrix::decodeCacheEntry(intact.substr(0, size), decoded)) << size;
    }
    for (size_t at = 0; at < intact.size(); ++at) {
        std::string damaged = intact;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x20);
        ASSERT_FALSE(mendrix::decodeCacheEntry(damaged, decoded)) << at;
    }
    // Checksum-valid entries whose records do not describe what they hold,
    // or do not fit the job, are compiled again.
    using Stage = mendrix::CachedStage;
    // clang-format off
    const struct { const char* name; void (*forge)(Stage&); } forgeries[] = {
        {"binary size 100000",     [](Stage& s) { s.record.binarySize = 100000; }},
        {"binary size 4000000",    [](Stage& s) { s.record.binarySize = 4000000; }},
        {"reflection size",        [](Stage& s) { s.record.reflectionSize += 8; }},
        {"kind of another stage",  [](Stage& s) { s.record.kind = toolchain::kStageGeometry; }},
        {"slot of another stage",  [](Stage& s) { s.slot = 2; s.record.kind = toolchain::kStageGeometry; }},
        {"validated form claimed", [](Stage& s) { s.record.binaryFormat = toolchain::kBinaryValidated; }},
        {"other GPU version",      [](Stage& s) { s.record.gpuVersion = 1; }},
        {"hash flag, no hash",     [](Stage& s) { s.record.flags |= toolchain::kStageFlagHashPresent; }},
        {"dump not asked for",     [](Stage& s) { s.hasDump = true; s.dump = "x"; }},
        {"statistics not asked",   [](Stage& s) { s.hasStats = true; }},
    };
    // clang-format on
    for (const auto& forgery : forgeries) {
        mendrix::CacheEntry forged;
        ASSERT_TRUE(mendrix::decodeCacheEntry(intact, forged));
        forgery.forge(forged.stages.back());
        std::ofstream(entry, std::ios::binary | std::ios::trunc)
            << mendrix::encodeCacheEntry(forged);
        EXPECT_EQ(compileToBytes(kVertex, pixelWriting(1)), cold) << forgery.name;
        EXPECT_EQ(readFileBytes(entry), intact) << forgery.name;
    }
    // A damaged file in the cache gives the cold result and is stored again.
    std::string damaged = intact;
    damaged[damaged.size() / 2] ^= 1;
    std::ofstream(entry, std::ios::binary | std::ios::trunc) << damaged;
    EXPECT_EQ(compileToBytes(kVertex, pixelWriting(1)), cold);
    EXPECT_EQ(readFileBytes(entry), intact);
}

TEST(MendrixCache, OffSwitchReadsAndWritesNothing) {
    CacheFolder cache;
    setVariable("VRXCOMPILE_CACHE", "0");
    compileToBytes(kVertex, pixelWriting(1));
    EXPECT_FALSE(fs::exists(cache.folder));
}

TEST(MendrixCache, LeastRecentlyUsedEntriesGoWhenTheLimitIsPassed) {
    CacheFolder cache;
    compileToBytes(kVertex, pixelWriting(1));
    const fs::path first = cache.entries().at(0);
    // Room for three entries on the disk (each far smaller than the block it
    // takes); 90% of it holds two.
    setVariable("VRXCOMPILE_CACHE_MAX_SIZE", std::to_string(diskUseOf(first) * 3));
    compileToBytes(kVertex, pixelWriting(2));
    compileToBytes(kVertex, pixelWriting(3));
    compileToBytes(kVertex, pixelWriting(1));  // a hit: now the most recently used
    compileToBytes(kVertex, pixelWriting(4));  // over the limit: 2 and 3 go
    std::vector<fs::path> left = cache.entries();
    EXPECT_EQ(left.size(), 2u);
    EXPECT_TRUE(fs::exists(first));
    uint64_t total = 0;
    for (const fs::path& entry : left) {
        total += diskUseOf(entry);
    }
    EXPECT_EQ(readFileBytes(cache.folder / mendrix::kCacheCounterName), std::to_string(total));
    setVariable("VRXCOMPILE_CACHE_MAX_SIZE", "0");
    compileToBytes(kVertex, pixelWriting(5));
    EXPECT_EQ(cache.entries().size(), 2u);
}

TEST(MendrixCache, SizeLimitsAreReadOrRefusedWhole) {
    // clang-format off
    struct Case { const char* text; bool ok; uint64_t bytes; } cases[] = {
        {"0", true, 0}, {"1024", true, 1024}, {"64k", true, 65536}, {"3M", true, 3u << 20},
        {"1G", true, 1u << 30}, {"17179869183G", true, 17179869183ull << 30},
        {"17179869184G", false, 0}, {"18446744073709551616", false, 0}, {"", false, 0},
        {"-1", false, 0}, {" 1", false, 0}, {"1 ", false, 0}, {"1T", false, 0}, {"1KB", false, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        uint64_t bytes = 0;
        EXPECT_EQ(mendrix::parseCacheSize(c.text, bytes), c.ok) << c.text;
        EXPECT_EQ(bytes, c.bytes) << c.text;
    }
}

TEST(MendrixCache, ParallelStoresOfOneProgramAgree) {
    CacheFolder cache;
    setVariable("VRXCOMPILE_CACHE", "0");
    const std::string cold = compileToBytes(kVertex, pixelWriting(7));
    setVariable("VRXCOMPILE_CACHE", "1");
    std::vector<std::string> results(16);
    std::vector<std::thread> threads;
    for (std::string& result : results) {
        threads.emplace_back([&result] { result = compileToBytes(kVertex, pixelWriting(7)); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const std::string& result : results) {
        EXPECT_EQ(result, cold);
    }
    mendrix::CacheEntry decoded;
    ASSERT_EQ(cache.entries().size(), 1u);
    EXPECT_TRUE(mendrix::decodeCacheEntry(readFileBytes(cache.entries()[0]), decoded));
    EXPECT_EQ(readFileBytes(cache.folder / mendrix::kCacheCounterName),
              std::to_string(diskUseOf(cache.entries()[0])))
        << "each parallel store of the one entry counted once";
    EXPECT_EQ(compileToBytes(kVertex, pixelWriting(7)), cold);
}

}  // namespace

#ifndef _WIN32
// Runs `command` as the unprivileged user nobody, as another local user
// would; only root can.
bool runAsNobody(const std::string& command) {
    return geteuid() == 0 &&
           std::system(
               ("setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c '" + command + "'")
                   .c_str()) == 0;
}

enum class Plant {
    none,
    forged,
    forgedByNobody,
    linkToForged,
    secondName,
    sparseHuge,
    userFiles,
    earlierCache
};

TEST(MendrixCache, FoldersAndEntriesOthersCouldPlantAreNeverUsed) {
    setVariable("VRXCOMPILE_CACHE", "0");
    const std::string cold = compileToBytes(kVertex, pixelWriting(1));
    std::string name;
    std::string intact;
    {
        CacheFolder scratch;
        compileToBytes(kVertex, pixelWriting(1));
        name = scratch.entries().at(0).filename().string();
        intact = readFileBytes(scratch.entries().at(0));
    }
    // What another user who compiled the same readable sources could plant.
    mendrix::CacheEntry entry;
    ASSERT_TRUE(mendrix::decodeCacheEntry(intact, entry));
    entry.stages.back().binary.back() ^= 1;
    const std::string forged = mendrix::encodeCacheEntry(entry);
    // clang-format off
    const struct { const char* name; bool named; mode_t mode; Plant plant; const char* maxSize; const char* warning; } cases[] = {
        {"others may write",        true,  0777,  Plant::forged,         "1G",   "may be written by other users; a cache shared between users is not supported"},
        {"group may write",         true,  02770, Plant::forged,         "1G",   "may be written by other users"},
        {"sticky like /tmp",        true,  01777, Plant::forgedByNobody, "1G",   "may be written by other users"},
        {"default widened",         false, 0777,  Plant::forgedByNobody, "1G",   nullptr},
        {"link to a forged entry",  true,  0700,  Plant::linkToForged,   "1G",   nullptr},
        {"entry with a second name",true,  0700,  Plant::secondName,     "1G",   nullptr},
        {"sparse 64 GiB entry",     true,  0700,  Plant::sparseHuge,     "1G",   nullptr},
        {"a folder of the user's",  true,  0700,  Plant::userFiles,      "1G",   "holds files that are not the cache's and no CACHEDIR.TAG"},
        {"earlier release's cache", true,  0700,  Plant::earlierCache,   "1G",   nullptr},
        {"size limit not a size",   true,  0700,  Plant::none,           "50KB", "VRXCOMPILE_CACHE_MAX_SIZE '50KB' is not a size (bytes, or a number with K, M or G); the default 1G is used"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CacheFolder cache(c.maxSize);
        const fs::path folder = c.named ? cache.folder : cache.temp.path() / "xdg" / "vrxcompile";
        if (!c.named) {
            setVariable("VRXCOMPILE_CACHE_DIR", "");
            setVariable("XDG_CACHE_HOME", (cache.temp.path() / "xdg").string());
        }
        fs::create_directories(folder);
        chmod(folder.c_str(), c.mode);
        const fs::path at = folder / name;
        const std::string other = cache.temp.write("other/forged", forged);
        chmod(cache.temp.path().c_str(), 0755);  // open to nobody
        if (c.plant == Plant::forgedByNobody) {
            runAsNobody("cp " + other + " " + at.string());  // not planted unless root
        } else if (c.plant == Plant::forged || c.plant == Plant::secondName) {
            fs::create_hard_link(other, at);
        } else if (c.plant == Plant::linkToForged) {
            fs::create_symlink(other, at);
        } else if (c.plant == Plant::sparseHuge) {
            fs::resize_file(cache.temp.write("other/huge", ""), uint64_t{64} << 30);
            fs::rename(cache.temp.file("other/huge"), at);
        } else if (c.plant == Plant::userFiles || c.plant == Plant::earlierCache) {
            std::ofstream(folder / "size")
                << (c.plant == Plant::userFiles ? "my size notes" : "1234");
        }
        if (c.plant == Plant::forged) {
            fs::remove(other);  // one name: only the folder's rules keep it out
        }
        testing::internal::CaptureStderr();
        EXPECT_EQ(compileToBytes(kVertex, pixelWriting(1)), cold);
        const std::string errors = testing::internal::GetCapturedStderr();
        if (c.warning == nullptr) {
            EXPECT_EQ(errors, "");
        } else {
            EXPECT_EQ(errors.rfind("vrxcompile cache: ", 0), 0u) << errors;
            EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
            EXPECT_NE(errors.find(c.warning), std::string::npos) << errors;
        }
        const bool used = c.warning == nullptr || c.plant == Plant::none;
        EXPECT_EQ(readFileBytes(at) == intact, used)
            << "the entry is stored where the cache is used";
        EXPECT_EQ(fs::exists(folder / "CACHEDIR.TAG"), used);
        if (c.plant == Plant::userFiles || c.plant == Plant::earlierCache) {
            EXPECT_EQ(readFileBytes(folder / "size"),
                      c.plant == Plant::userFiles ? "my size notes" : "1234");
        }
        if (!c.named) {
            EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
            setVariable("XDG_CACHE_HOME", "");
        }
    }
}
#endif
