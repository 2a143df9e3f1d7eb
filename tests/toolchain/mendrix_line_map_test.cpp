// Diagnostics at the file and line of the mistake: each corpus layout under
// corpus/includes is loaded by the driver's loader and compiled with the
// stage's full path, and the log must name where the one mistake stands.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/allocation.h"
#include "source/shader_source.h"
#include "tests/toolchain/mendrix_support.h"
#include "toolchain/common/folded_path.h"
#include "toolchain/mendrix/front_end/line_map.h"

namespace {

using mendrix_test::Compiled;
using mendrix_test::makeRequest;
using mendrix_test::Sources;

const std::string kLayouts = std::string(MENDRIX_CORPUS_DIR) + "/includes/";

// The driver's text for `paths`, loaded one after the other into one stage.
std::string loaded(std::initializer_list<std::string> paths) {
    ShaderSourceLoader loader;
    char* text = nullptr;
    for (const std::string& path : paths) {
        EXPECT_EQ(loader.load(path.c_str(), &text), LoadResult::loaded) << path;
    }
    std::string result = text != nullptr ? text : "";
    releaseMemory(text);
    return result;
}

// The log of compiling `text` as the stage of `path`'s extension, under `path`.
std::string logOf(const std::string& text, const std::string& path) {
    Sources sources;
    bool pixel = path.ends_with(".frag");
    (pixel ? sources.pixel : sources.vertex) = text.c_str();
    (pixel ? sources.pixelPath : sources.vertexPath) = path.c_str();
    mendrix::Compiler compiler(2);
    Compiled compiled(compiler, makeRequest(sources));
    return compiled.log();
}

TEST(MendrixLineMap, EveryMistakeIsReportedAtItsFileAndLine) {
    // clang-format off
    // Stage and the file of the mistake, relative to the layout's folder.
    const struct { const char *folder, *stage, *file; int line; } layouts[] = {
        {"after_include", "main.frag", "main.frag", 9},
        {"in_include", "main.frag", "lib/light.glsl", 4},
        {"nested", "shaders/main.vert", "common/b.glsl", 3},
        {"twice", "main.frag", "main.frag", 8},
        {"crlf", "main.vert", "inc.glsl", 3},
        {"long_line", "main.vert", "inc.glsl", 3},
        {"end_of_file", "main.vert", "main.vert", 6},
    };
    // clang-format on
    for (const auto& layout : layouts) {
        std::string stage = toolchain::foldPath(kLayouts + layout.folder + "/" + layout.stage);
        std::string file = toolchain::foldPath(kLayouts + layout.folder + "/" + layout.file);
        std::string log = logOf(loaded({stage}), stage);
        EXPECT_NE(log.find(file + ":" + std::to_string(layout.line) + ": error: "),
                  std::string::npos)
            << layout.folder << "\n"
            << log;
    }
}

TEST(MendrixLineMap, TextsThatCannotBeVouchedForKeepTheFlatNumbering) {
    // fallback/: main.vert includes inc.glsl on its line 2, whose line 2 is a
    // mistake (flat line 3); first.vert has one on its line 3, clean_first.vert
    // none, and tail.vert includes inc.glsl on its line 1. before_directive.vert
    // has a #line directive after the include of inc.glsl, directive.vert one
    // before its mistake.
    std::string folder = kLayouts + "fallback/";
    std::string stage = folder + "main.vert";
    std::string tail = folder + "tail.vert";
    std::string inc = folder + "inc.glsl";
    std::string text = loaded({stage});
    std::string edited = text;
    edited.insert(edited.find("void main"), "// a line the file does not have\n");
#ifdef _WIN32
    // No FIFOs here: a folder stands for the file that is not a regular one.
    std::string fifo = testing::TempDir() + "line_map_test_pipe.vert";
    std::filesystem::remove_all(fifo);
    ASSERT_TRUE(std::filesystem::create_directory(fifo));
#else
    std::string fifo = testing::TempDir() + "line_map_test_" + std::to_string(getpid()) + ".vert";
    ::unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#endif
    std::string before = folder + "before_directive.vert";
    std::string after = folder + "directive.vert";
    // The driver's error line keeps naming the directive, by the typed path.
    std::string missing = kLayouts + "missing/main.vert";
    // clang-format off
    const struct { const char* name; std::string text, path, expected; } cases[] = {
        {"mapped", text, stage, inc + ":2: error"},
        {"edited text", edited, stage, stage + ":3: error"},
        {"no such file", text, folder + "gone.vert", folder + "gone.vert:3: error"},
        {"pipe is never opened", text, fifo, fifo + ":3: error"},
        {"repeated stage, earlier file", loaded({folder + "first.vert", tail}), tail, tail + ":3: error"},
        {"repeated stage, last file", loaded({folder + "clean_first.vert", tail}), tail, inc + ":2: error"},
        {"before a #line directive", loaded({before}), before, inc + ":2: error"},
        {"after a #line directive", loaded({after}), after, after + ":100: error"},
        {"missing include", loaded({missing}), missing, missing + ":2: error: unable to open file not_there.glsl"},
    };
    // clang-format on
    for (const auto& row : cases) {
        std::string log = logOf(row.text, row.path);
        EXPECT_NE(log.find(row.expected), std::string::npos) << row.name << "\n" << log;
    }
    std::filesystem::remove_all(fifo);
}

TEST(MendrixLineMap, RebuildStopsWhereTheLoaderStopsAtTheIncludeBound) {
    // bound/main.vert includes light.glsl, whose line 2 gets a warning, then
    // twice t1.glsl of a tree where t1 to t16 each include the next twice:
    // the 65537th include, on line 2 of t16.glsl, crosses the bound. The
    // compiler's rebuild stops there too, so the warning keeps its place.
    // The warning names the file as the line map folds it ('/' on Windows
    // too); the error line names it as the loader's include line does.
    TempFolder folder;
    std::filesystem::copy(kLayouts + "bound", folder.path());
    for (int level = 1; level < 17; ++level) {
        std::string next = "#include \"t" + std::to_string(level + 1) + ".glsl\"\n";
        folder.write("t" + std::to_string(level) + ".glsl", next + next);
    }
    folder.write("t17.glsl", "\n");
    std::string main = folder.file("main.vert");
    EXPECT_EQ(
        logOf(loaded({main}), main),
        toolchain::foldPath(folder.file("light.glsl")) +
            ":2: warning: '#extension' : extension not supported: GL_ARB_no_such_extension\n" +
            folder.file("t16.glsl") + ":2: error: more than 65536 #includes");
}

TEST(MendrixLineMap, SerialisedMapChangesWithTheFilesLines) {
    std::string folder = kLayouts + "fallback/";
    std::string text = loaded({folder + "main.vert"});
    mendrix::LineMap map;
    mendrix::buildLineMap(text, (folder + "main.vert").c_str(), map);
    mendrix::LineMap shifted;
    mendrix::buildLineMap("\n" + text, (folder + "main.vert").c_str(), shifted);
    ASSERT_EQ(map.files.size(), 2u);
    EXPECT_NE(mendrix::serializeLineMap(map), mendrix::serializeLineMap(shifted));
}

TEST(MendrixLineMap, PathsAreFolded) {
    // clang-format off
    const struct { const char* path; const char* folded; } cases[] = {
        {"/a/b/../c/./d.glsl", "/a/c/d.glsl"}, {"/a//b/", "/a/b"}, {"/../x", "/x"},
        {"a/../../x", "../x"}, {"./", "."},
    };
    // clang-format on
    for (const auto& row : cases) {
        EXPECT_EQ(toolchain::foldPath(row.path), row.folded) << row.path;
    }
}

}  // namespace
