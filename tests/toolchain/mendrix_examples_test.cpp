// The example programs in examples/ compile, includes expanded the way the
// driver does it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/toolchain/mendrix_support.h"

namespace fs = std::filesystem;
using namespace mendrix_test;

namespace {

// Replaces each line `#include "name"` with the named file's text (one
// level is enough for the examples).
std::string loadExample(const std::string& name) {
    fs::path folder = MENDRIX_EXAMPLES_DIR;
    std::string text = readFileBytes(folder / name);
    EXPECT_FALSE(text.empty()) << name;
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(pos, end - pos);
        if (line.rfind("#include \"", 0) == 0) {
            size_t close = line.find('"', 10);
            out += readFileBytes(folder / line.substr(10, close - 10)) + "\n";
        } else {
            out += line;
        }
        pos = end;
    }
    return out;
}

TEST(MendrixExamples, EveryExampleProgramCompiles) {
    mendrix::Compiler compiler(2);
    std::string texturedVert = loadExample("textured.vert");
    std::string texturedFrag = loadExample("textured.frag");
    std::string explodedVert = loadExample("exploded.vert");
    std::string explodedGeom = loadExample("exploded.geom");
    std::string explodedFrag = loadExample("exploded.frag");
    std::string blur = loadExample("blur.comp");
    std::string quadVert = loadExample("quad_es.vert");
    std::string quadFrag = loadExample("quad_es.frag");
    std::string faceNormal = "faceNormal";
    std::string position = "gl_Position";
    char* streamOut[] = {faceNormal.data(), position.data()};

    struct Case {
        const char* name;
        Sources sources;
        bool streamOut;
    } cases[] = {
        {"textured", {.vertex = texturedVert.c_str(), .pixel = texturedFrag.c_str()}, false},
        {"exploded",
         {.vertex = explodedVert.c_str(),
          .pixel = explodedFrag.c_str(),
          .geometry = explodedGeom.c_str()},
         true},
        {"blur", {.compute = blur.c_str()}, false},
        {"quad_es", {.vertex = quadVert.c_str(), .pixel = quadFrag.c_str(), .essl = true}, false},
    };
    for (const Case& c : cases) {
        CompileRequest request = makeRequest(c.sources);
        if (c.streamOut) {
            request.streamOutVaryings = streamOut;
            request.streamOutCount = 2;
        }
        Compiled compiled(compiler, request);
        EXPECT_TRUE(compiled.ok) << c.name << "\n" << compiled.log();
        EXPECT_EQ(compiled.set.compileLog, nullptr) << c.name << "\n" << compiled.log();
    }
}

}  // namespace
