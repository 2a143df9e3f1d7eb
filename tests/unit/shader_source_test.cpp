#include "source/shader_source.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/allocation.h"
#include "tests/seams/fault_injection.h"
#include "platform/file_system.h"
#include "tests/support/temp_folder.h"

namespace {

std::string errorLine(const std::string& path, int line, const std::string& message) {
    return "#error \"" + path + ": " + std::to_string(line) + ": " + message + "\"\n";
}

// Loads `path` as the first file of a stage and gives the text, checking
// that the load succeeded and left no include level behind.
std::string loadNew(const std::string& path) {
    ShaderSourceLoader loader;
    char* text = nullptr;
    EXPECT_EQ(loader.load(path.c_str(), &text), LoadResult::loaded);
    EXPECT_EQ(loader.includeDepth, 0);
    std::string result = text == nullptr ? "<null>" : text;
    releaseMemory(text);
    return result;
}

// Number of allocations that loading `path` for a new stage makes, once the
// loader has its read buffers.
unsigned long long allocationsToLoad(const std::string& path) {
    ShaderSourceLoader loader;
    char* text = nullptr;
    EXPECT_EQ(loader.load(path.c_str(), &text), LoadResult::loaded);
    releaseMemory(text);
    text = nullptr;
    injectAllocationFailure(0);
    EXPECT_EQ(loader.load(path.c_str(), &text), LoadResult::loaded);
    unsigned long long made = injectAllocationFailure(0);
    releaseMemory(text);
    return made;
}

// Loads `path` with the `failing`-th allocation made to fail and gives the
// result, the text (null or its content) and what reached standard error.
struct FailedLoad {
    LoadResult result;
    std::string text;
    std::string standardError;
};

FailedLoad loadFailing(ShaderSourceLoader& loader, const std::string& path, char*& text,
                       unsigned long long failing) {
    testing::internal::CaptureStderr();
    injectAllocationFailure(failing);
    FailedLoad load{loader.load(path.c_str(), &text), "", ""};
    injectAllocationFailure(0);
    load.standardError = testing::internal::GetCapturedStderr();
    load.text = text == nullptr ? "<null>" : text;
    EXPECT_EQ(loader.includeDepth, 0);
    releaseMemory(text);
    text = nullptr;
    return load;
}

struct TextCase {
    const char* name;
    std::string file;
    std::string expected;
};

void expectLoadedTexts(const std::vector<TextCase>& cases) {
    for (const TextCase& row : cases) {
        TempFolder folder;
        std::string path = folder.write("main.vert", row.file);
        EXPECT_EQ(loadNew(path), row.expected) << row.name;
    }
}

TEST(ShaderSourceByteOrderMark, DroppedOnlyWhenTheFileBeginsWithAllThreeBytes) {
    expectLoadedTexts({
        {"empty file", "", "\n"},
        {"mark alone", "\xEF\xBB\xBF", "\n"},
        {"mark before text", "\xEF\xBB\xBFvoid main() {}\n", "void main() {}\n\n"},
        {"mark then directive", "\xEF\xBB\xBF#version 310 es\n", "#version 310 es\n\n"},
        {"third byte differs", "\xEF\xBBXy\n", "\xEF\xBBXy\n\n"},
        {"two bytes only", "\xEF\xBB", "\xEF\xBB\n"},
        {"newline among the first bytes", "a\nb", "a\nb\n"},
        {"mark not at the start", "a\n\xEF\xBB\xBF\n", "a\n\xEF\xBB\xBF\n\n"},
        {"second mark kept", "\xEF\xBB\xBF\xEF\xBB\xBFx", "\xEF\xBB\xBFx\n"},
    });
}

TEST(ShaderSourceByteOrderMark, DroppedAtTheStartOfIncludedFiles) {
    TempFolder folder;
    std::string main = folder.write("main.vert", "\xEF\xBB\xBF#include \"inc.glsl\"\nx\n");
    folder.write("inc.glsl", "\xEF\xBB\xBFinc\n");
    EXPECT_EQ(loadNew(main), "inc\n\nx\n\n");
}

TEST(ShaderSourceLineEnds, TextArrivesByteForByteWithAClosingNewline) {
    std::string longLine(1300, 'a');
    expectLoadedTexts({
        {"no final newline", "a", "a\n"},
        {"final newline", "a\n", "a\n\n"},
        {"blank lines", "\n\n", "\n\n\n"},
        {"carriage returns kept", "a\r\nb\r\n", "a\r\nb\r\n\n"},
        {"lone carriage return", "a\rb", "a\rb\n"},
        {"line of several chunks", longLine + "\nb\n", longLine + "\nb\n\n"},
        {"long last line", longLine, longLine + "\n"},
        {"leading blanks and directives", "  #version 310 es\n\t#define A 1\n",
         "  #version 310 es\n\t#define A 1\n\n"},
        {"bytes above 0x7F", "\x80\xFF\n", "\x80\xFF\n\n"},
    });
}

TEST(ShaderSourceLineEnds, NulByteEndsWhatIsTakenOfItsChunk) {
    std::string nul(1, '\0');
    // The first chunk of the last case holds the NUL and 510 'a's; only the
    // second chunk of that line is taken.
    expectLoadedTexts({
        {"rest of the line dropped", "ab" + nul + "cd\nef\n", "abef\n\n"},
        {"NUL first", nul + "x\ny", "y\n"},
        {"line taken after a NUL-only line", "a\n" + nul + "\nb\n", "a\nb\n\n"},
        {"later chunk of the same line kept", nul + std::string(600, 'a') + "\n",
         std::string(90, 'a') + "\n\n"},
    });
}

TEST(ShaderSourceLineEnds, NewlineDroppedWithANulIsNotCounted) {
    TempFolder folder;
    std::string nul(1, '\0');
    std::string main = folder.write("main.vert", "a" + nul + "\n#include \"m\"\n");
    EXPECT_EQ(loadNew(main), "a" + errorLine(main, 1, "unable to open file m") + "\n");
}

TEST(ShaderSourceLineEnds, LargeFileIsCutIntoChunksOfItsLines) {
    // Lines of many lengths, some of several chunks and some with a NUL byte,
    // fill far more than one read of the file. The expected text follows the
    // chunk rule line by line: pieces of 511 bytes, each cut at a NUL, and a
    // line counted when its newline is taken.
    std::string file;
    std::string expected;
    int counted = 0;
    size_t length = 0;
    for (int index = 0; file.size() < 400 * 1024; ++index) {
        std::string line(length, static_cast<char>('a' + index % 26));
        if (index % 3 == 0 && length > 2) {
            line[length / 2] = '\0';
        }
        line += "\n";
        file += line;
        for (size_t start = 0; start < line.size(); start += 511) {
            std::string piece = line.substr(start, 511);
            size_t nul = piece.find('\0');
            expected += piece.substr(0, nul);
            counted += nul == std::string::npos && piece.back() == '\n';
        }
        length = (length * 7 + 13) % 1500;
    }
    TempFolder folder;
    std::string main = folder.write("main.vert", file + "#include \"m\"\n");
    EXPECT_EQ(loadNew(main),
              expected + errorLine(main, counted + 1, "unable to open file m") + "\n");
}

TEST(ShaderSourceDirective, RecognisedOnlyInItsExactForm) {
    TempFolder folder;
    folder.write("inc.glsl", "INC\n");
    std::string path = folder.file("main.vert");
    const std::string included = "INC\n\n";
    auto error = [&](const std::string& message) { return errorLine(path, 1, message); };
    std::vector<TextCase> cases = {
        {"plain", "#include \"inc.glsl\"\n", included + "\n"},
        {"blanks around the hash", "  #\tinclude \"inc.glsl\"\n", included + "\n"},
        {"tab before the quote", "#include\t\"inc.glsl\"\n", included + "\n"},
        {"several white spaces", "#include \f\v \"inc.glsl\"\n", included + "\n"},
        {"trailing comment dropped", "#include \"inc.glsl\" // common\n", included + "\n"},
        {"carriage return line end", "#include \"inc.glsl\"\r\n", included + "\n"},
        {"no final newline", "#include \"inc.glsl\"", included + "\n"},
        {"inside a block comment", "/*\n#include \"inc.glsl\"\n*/\n", "/*\n" + included + "*/\n\n"},
        {"inside a skipped block", "#if 0\n#include \"inc.glsl\"\n#endif\n",
         "#if 0\n" + included + "#endif\n\n"},
        {"capitals", "#INCLUDE \"inc.glsl\"\n", "#INCLUDE \"inc.glsl\"\n\n"},
        {"quote right behind the word", "#include\"inc.glsl\"\n", "#include\"inc.glsl\"\n\n"},
        {"longer word", "#includes \"inc.glsl\"\n", "#includes \"inc.glsl\"\n\n"},
        {"text before the hash", "x #include \"inc.glsl\"\n", "x #include \"inc.glsl\"\n\n"},
        {"other white space after the hash", "#\vinclude \"inc.glsl\"\n",
         "#\vinclude \"inc.glsl\"\n\n"},
        {"word alone", "#include\n", error("expected quote after #include") + "\n"},
        {"word and blanks", "#include   \n", error("expected quote after #include") + "\n"},
        {"angle brackets", "#include <inc.glsl>\n", error("expected quote after #include") + "\n"},
        {"no closing quote", "#include \"inc.glsl\n",
         error("missing quote at end of #include") + "\n"},
    };
    for (const TextCase& row : cases) {
        folder.write("main.vert", row.file);
        EXPECT_EQ(loadNew(path), row.expected) << row.name;
    }
}

TEST(ShaderSourceDirective, LaterChunkOfALongLineIsADirective) {
    TempFolder folder;
    folder.write("inc.glsl", "INC\n");
    std::string head(511, 'a');
    std::string main = folder.write("main.vert", head + "  #include \"inc.glsl\"\nb\n");
    EXPECT_EQ(loadNew(main), head + "INC\n\nb\n\n");
}

TEST(ShaderSourceInclude, NamesAreTakenRelativeToTheIncludingFile) {
    TempFolder folder;
    std::string main =
        folder.write("dir/sub/a.vert", "#include \"b.glsl\"\n#include \"../c.glsl\"\n");
    folder.write("dir/sub/b.glsl", "B\n");
    folder.write("dir/c.glsl", "C\n#include \"d.glsl\"\n");
    folder.write("dir/d.glsl", "D\n");
    EXPECT_EQ(loadNew(main), "B\n\nC\nD\n\n\n\n");
}

TEST(ShaderSourceInclude, BothSeparatorsEndTheFolder) {
    // Where '\' is no separator these names are files whose names hold a
    // backslash; the joined paths name them all the same.
    TempFolder folder;
    std::string main = folder.write(
        "main.vert", "#include \"one/two\\first.glsl\"\n#include \"three\\four/second.glsl\"\n");
    folder.write("one/two\\first.glsl", "#include \"leaf.glsl\"\n");
    folder.write("one/two\\leaf.glsl", "backslash last\n");
    folder.write("three\\four/second.glsl", "#include \"leaf.glsl\"\n");
    folder.write("three\\four/leaf.glsl", "slash last\n");
    EXPECT_EQ(loadNew(main), "backslash last\n\n\nslash last\n\n\n\n");
}

TEST(ShaderSourceInclude, PathWithoutFolderUsesTheNameAlone) {
    TempFolder folder;
    folder.write("a.vert", "#include \"b.glsl\"\n#include \"missing.glsl\"\n");
    folder.write("b.glsl", "B\n");
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    std::string text = loadNew("a.vert");
    std::filesystem::current_path(previous);
    EXPECT_EQ(text, "B\n\n" + errorLine("a.vert", 2, "unable to open file missing.glsl") + "\n");
}

TEST(ShaderSourceInclude, NameIsJoinedAsWritten) {
    TempFolder folder;
    folder.write("abs.glsl", "ABS\n");
    folder.write(" spaced.glsl", "SPACED\n");
    folder.write("folder/x.glsl", "X\n");
    std::string path = folder.file("main.vert");
    std::vector<TextCase> cases = {
        // An absolute name still goes behind the including file's folder.
        {"absolute name", "#include \"/abs.glsl\"\n", "ABS\n\n\n"},
        {"blanks kept", "#include \" spaced.glsl\"\n", "SPACED\n\n\n"},
        {"missing file named as written", "#include \"../nowhere/x.glsl\"\n",
         errorLine(path, 1, "unable to open file ../nowhere/x.glsl") + "\n"},
        {"folder", "#include \"folder\"\n",
         errorLine(path, 1, "unable to open file folder") + "\n"},
        {"empty name", "#include \"\"\n", errorLine(path, 1, "unable to open file ") + "\n"},
    };
    for (const TextCase& row : cases) {
        folder.write("main.vert", row.file);
        EXPECT_EQ(loadNew(path), row.expected) << row.name;
    }
}

// Expected text of level `level` of a chain where file i includes file i+1.
std::string expectedChain(const TempFolder& folder, int level) {
    std::string name = "l" + std::to_string(level) + ".glsl";
    std::string inner = level == kIncludeNestingLimit
                            ? errorLine(folder.file(name), 2, "#includes nested too deeply")
                            : expectedChain(folder, level + 1);
    return "begin " + std::to_string(level) + "\n" + inner + "end\n\n";
}

TEST(ShaderSourceNesting, TwentyFourLevelsAreReadAndTheNextIsRefused) {
    TempFolder folder;
    for (int level = 0; level <= kIncludeNestingLimit + 1; ++level) {
        folder.write("l" + std::to_string(level) + ".glsl",
                     "begin " + std::to_string(level) + "\n#include \"l" +
                         std::to_string(level + 1) + ".glsl\"\nend\n");
    }
    EXPECT_EQ(loadNew(folder.file("l0.glsl")), expectedChain(folder, 0));
}

TEST(ShaderSourceNesting, SelfIncludeStopsAtTheLimitAndReadingGoesOn) {
    TempFolder folder;
    std::string path = folder.write("self.vert", "A\n#include \"self.vert\"\nB\n");
    std::string expected = errorLine(path, 2, "#includes nested too deeply");
    for (int copy = 0; copy <= kIncludeNestingLimit; ++copy) {
        expected = "A\n" + expected + "B\n\n";
    }
    EXPECT_EQ(loadNew(path), expected);
}

// An include that grows right after it opened (to 256 MiB, sparse): the
// bound counts bytes read, never a size seen before.
TEST(ShaderSourceIncludeBound, FileThatGrowsOnceOpenedEndsAtTheBound) {
    TempFolder folder;
    std::string main = folder.write("main.vert", "#include \"grows.glsl\"\nx\n");
    struct Seen {
        std::string grows;
        std::string failures;
    } seen{folder.write("grows.glsl", "small\n"), ""};
    IncludeWalkSink sink{
        &seen, [](void*, const char*, size_t, int64_t) {},
        [](void* context, const char* path, int64_t line, const char* message) {
            static_cast<Seen*>(context)->failures += errorLine(path, line, message);
        },
        [](void* context, const char*, int32_t) {
            std::filesystem::resize_file(static_cast<Seen*>(context)->grows, 256u << 20);
        },
        [](void*, bool) {}};
    std::vector<char> buffers(kIncludeReadBuffersSize);
    IncludeWalk walk{sink, buffers.data(), false};
    FILE* stream = std::fopen(main.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(walkSourceStream(walk, stream, main.c_str(), 1, 0));
    std::fclose(stream);
    EXPECT_EQ(seen.failures, errorLine(main, 1, kTooMuchIncludedTextMessage));
}

TEST(ShaderSourceErrorLine, NamesTheIncludingFileAndTheDirectiveLine) {
    TempFolder folder;
    std::string longLine(700, 'x');
    std::string main = folder.write("main.vert", "a\n#include \"m1\"\n" + longLine +
                                                     "\n#include \"inc.glsl\"\n#include \"m2\"\n");
    std::string inc = folder.write("inc.glsl", "\n\n#include \"m3\"\n");
    EXPECT_EQ(loadNew(main), "a\n" + errorLine(main, 2, "unable to open file m1") + longLine +
                                 "\n\n\n" + errorLine(inc, 3, "unable to open file m3") + "\n" +
                                 errorLine(main, 5, "unable to open file m2") + "\n");
}

TEST(ShaderSourceErrorLine, StreamWithoutPathIsUnknown) {
    FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::fputs("a\n#include <m>\n", stream);
    std::rewind(stream);
    ShaderSourceLoader loader;
    char* text = nullptr;
    EXPECT_EQ(loader.loadStream(stream, nullptr, &text), LoadResult::loaded);
    std::fclose(stream);
    EXPECT_EQ(std::string(text), "a\n#error \"(unknown): 2: expected quote after #include\"\n\n");
    releaseMemory(text);
}

TEST(ShaderSourceErrorLine, MessageWithoutMemoryIsOutOfMemory) {
    TempFolder folder;
    std::string main = folder.write("main.vert", "#include \"missing.glsl\"\n");
    // The read buffers, the first buffer, the joined path, then the message
    // buffer.
    ShaderSourceLoader loader;
    char* text = nullptr;
    FailedLoad load = loadFailing(loader, main, text, 4);
    EXPECT_EQ(load.result, LoadResult::loaded);
    EXPECT_EQ(load.text, errorLine(main, 1, "Out of memory") + "\n");
}

TEST(ShaderSourceRepeatedLoad, FilesOfOneStageFollowEachOther) {
    TempFolder folder;
    std::string first = folder.write("first.vert", "first");
    std::string second = folder.write("second.vert", "#include \"inc.glsl\"\nsecond\n");
    folder.write("inc.glsl", std::string(2000, 'i'));
    ShaderSourceLoader loader;
    char* text = nullptr;
    ASSERT_EQ(loader.load(first.c_str(), &text), LoadResult::loaded);
    ASSERT_EQ(loader.load(second.c_str(), &text), LoadResult::loaded);
    ASSERT_EQ(loader.load(first.c_str(), &text), LoadResult::loaded);
    EXPECT_EQ(loader.includeDepth, 0);
    EXPECT_EQ(std::string(text), "first\n" + std::string(2000, 'i') + "\nsecond\n\nfirst\n");
    releaseMemory(text);
}

TEST(ShaderSourceRepeatedLoad, FileThatCannotBeOpenedLeavesTheTextAlone) {
    TempFolder folder;
    std::string first = folder.write("first.vert", "first\n");
    folder.write("folder/x.glsl", "X\n");
    std::vector<std::string> unopenable = {folder.file("missing.vert"), folder.file("folder")};
    for (const std::string& path : unopenable) {
        ShaderSourceLoader loader;
        char* text = nullptr;
        EXPECT_EQ(loader.load(path.c_str(), &text), LoadResult::notOpened) << path;
        EXPECT_EQ(text, nullptr) << path;
        ASSERT_EQ(loader.load(first.c_str(), &text), LoadResult::loaded);
        char* before = text;
        EXPECT_EQ(loader.load(path.c_str(), &text), LoadResult::notOpened) << path;
        EXPECT_EQ(text, before) << path;
        EXPECT_EQ(std::string(text), "first\n\n") << path;
        releaseMemory(text);
    }
}

// A file of this system that opens as an ordinary file but fails to be read,
// or an empty string where there is none.
std::string unreadableFile(const TempFolder& folder) {
#ifdef __linux__
    // Reading a process's memory at address 0 fails.
    std::error_code failed;
    std::filesystem::create_symlink("/proc/self/mem", folder.path() / "mem", failed);
    std::string path = folder.file("mem");
    if (failed || !isRegularFile(path.c_str())) {
        return "";
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return "";
    }
    char byte;
    bool readFails = std::fread(&byte, 1, 1, file) == 0 && std::ferror(file) != 0;
    std::fclose(file);
    return readFails ? path : "";
#else
    (void)folder;
    return "";
#endif
}

#ifdef __GLIBC__
// A stream that gives `bytes` and then ends, or fails.
struct ScriptedStream {
    std::string bytes;
    bool failAtEnd;
    size_t given = 0;
};

ssize_t readScripted(void* cookie, char* buffer, size_t size) {
    auto* script = static_cast<ScriptedStream*>(cookie);
    size_t count = std::min(size, script->bytes.size() - script->given);
    if (count == 0) {
        return script->failAtEnd ? -1 : 0;
    }
    std::memcpy(buffer, script->bytes.data() + script->given, count);
    script->given += count;
    return static_cast<ssize_t>(count);
}
#endif

TEST(ShaderSourceReadError, ErrorInTheMiddleOfAFileIsReported) {
#ifdef __GLIBC__
    std::string lines;
    while (lines.size() < 300 * 1024) {
        lines += "vec4 position = vec4(0.0);\n";
    }
    for (bool failAtEnd : {false, true}) {
        ScriptedStream script{lines, failAtEnd};
        FILE* stream = fopencookie(&script, "rb", {readScripted, nullptr, nullptr, nullptr});
        ASSERT_NE(stream, nullptr);
        ShaderSourceLoader loader;
        char* text = nullptr;
        LoadResult result = loader.loadStream(stream, "scripted", &text);
        std::fclose(stream);
        if (failAtEnd) {
            // What was read before the failure is dropped.
            EXPECT_EQ(result, LoadResult::notOpened);
            EXPECT_EQ(text, nullptr);
        } else {
            EXPECT_EQ(result, LoadResult::loaded);
            EXPECT_EQ(std::string(text), lines + "\n");
        }
        releaseMemory(text);
    }
#else
    GTEST_SKIP() << "no scripted streams in this C library";
#endif
}

TEST(ShaderSourceReadError, FileThatCannotBeReadIsNotLoaded) {
    TempFolder folder;
    std::string unreadable = unreadableFile(folder);
    if (unreadable.empty()) {
        GTEST_SKIP() << "no unreadable ordinary file on this system";
    }
    std::string first = folder.write("first.vert", "first\n");
    ShaderSourceLoader loader;
    char* text = nullptr;
    EXPECT_EQ(loader.load(unreadable.c_str(), &text), LoadResult::notOpened);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(loader.load(first.c_str(), &text), LoadResult::loaded);
    EXPECT_EQ(loader.load(unreadable.c_str(), &text), LoadResult::notOpened);
    EXPECT_EQ(std::string(text), "first\n\n");
    releaseMemory(text);
    EXPECT_EQ(loader.includeDepth, 0);
}

TEST(ShaderSourceReadError, IncludeThatCannotBeReadIsAnErrorLine) {
    TempFolder folder;
    if (unreadableFile(folder).empty()) {
        GTEST_SKIP() << "no unreadable ordinary file on this system";
    }
    std::string main = folder.write("main.vert", "a\n#include \"mem\"\nb\n");
    EXPECT_EQ(loadNew(main), "a\n" + errorLine(main, 2, "unable to open file mem") + "b\n\n");
}

TEST(ShaderSourceMemory, FileWithoutIncludesNeedsOneAllocation) {
    // The first buffer holds the file and its closing newline exactly; a text
    // that is exactly full does not grow.
    TempFolder folder;
    std::string path = folder.write("main.vert", std::string(5000, 'a') + "\n");
    EXPECT_EQ(allocationsToLoad(path), 1u);
}

TEST(ShaderSourceMemory, LargeExpansionGrowsGeometrically) {
    // 2000 includes of 100 bytes each: every include allocates its joined
    // path once; the text itself must grow only a few dozen times, not once
    // per 512 characters.
    TempFolder folder;
    folder.write("part.glsl", std::string(99, 'x') + "\n");
    std::string main;
    for (int index = 0; index < 2000; ++index) {
        main += "#include \"part.glsl\"\n";
    }
    std::string path = folder.write("main.vert", main);
    unsigned long long made = allocationsToLoad(path);
    EXPECT_GE(made, 2001u);
    EXPECT_LT(made, 2001u + 40u);
}

TEST(ShaderSourceMemory, UnknownSizeStartsWithTheTerminatorAlone) {
    TempFolder folder;
    std::string path = folder.write("main.vert", "void main() {}\n");
    injectFileSizeFailure(true);
    unsigned long long made = allocationsToLoad(path);
    std::string text = loadNew(path);
    injectFileSizeFailure(false);
    EXPECT_EQ(made, 2u);
    EXPECT_EQ(text, "void main() {}\n\n");
}

TEST(ShaderSourceMemory, AllocationFailuresEndTheLoadAsTheirKindSays) {
    TempFolder folder;
    std::string main = folder.write("main.vert", "#include \"inc.glsl\"\n");
    folder.write("inc.glsl", std::string(100, 'i'));
    std::string first = folder.write("first.vert", "first\n");
    struct Case {
        const char* name;
        const std::string& path;
        bool loadedBefore;  // the stage has a text already
        unsigned long long failing;
        LoadResult expected;
    } cases[] = {
        {"read buffers", main, false, 1, LoadResult::notOpened},
        {"first buffer", main, false, 2, LoadResult::notOpened},
        {"joined path", main, false, 3, LoadResult::outOfMemory},
        {"growth for the included text", main, false, 4, LoadResult::outOfMemory},
        {"growth of a stage's text by a further file", first, true, 1, LoadResult::outOfMemory},
    };
    for (const Case& row : cases) {
        ShaderSourceLoader loader;
        char* text = nullptr;
        if (row.loadedBefore) {
            ASSERT_EQ(loader.load(row.path.c_str(), &text), LoadResult::loaded);
        }
        FailedLoad load = loadFailing(loader, row.path, text, row.failing);
        EXPECT_EQ(load.result, row.expected) << row.name;
        // Out of memory gives the text up with its message; a load that did
        // not open leaves the text as it was.
        const bool outOfMemory = row.expected == LoadResult::outOfMemory;
        EXPECT_EQ(load.standardError, outOfMemory ? kOutOfMemoryMessage : "") << row.name;
        EXPECT_EQ(load.text, outOfMemory || !row.loadedBefore ? "<null>" : "first\n\n") << row.name;
    }
}

}  // namespace
