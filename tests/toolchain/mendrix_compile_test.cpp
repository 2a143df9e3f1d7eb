// Whole-program compiles through the compiler behind the entry points: real
// shaders of every stage and language version, the log, the flags and the
// release of everything a compile hands out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tests/toolchain/mendrix_support.h"
#include "toolchain/common/hash128.h"
#include "toolchain/common/validated_form.h"
#include "toolchain/mendrix/output/debug_info.h"

namespace fs = std::filesystem;
using namespace mendrix_test;

namespace {

// ---- shaders ---------------------------------------------------------------

const char* const kVert110 =
    "#version 110\n"
    "attribute vec4 pos;\n"
    "varying vec2 uv;\n"
    "void main() { uv = pos.xy; gl_Position = pos; }\n";
const char* const kFrag110 =
    "#version 110\n"
    "uniform sampler2D tex;\n"
    "varying vec2 uv;\n"
    "void main() { gl_FragColor = texture2D(tex, uv); }\n";
const char* const kVert120NoVersion =
    "attribute vec4 pos;\n"
    "void main() { gl_Position = pos; }\n";
const char* const kVert150 =
    "#version 150\n"
    "in vec4 pos;\n"
    "out vec3 normal;\n"
    "void main() { normal = pos.xyz; gl_Position = pos; }\n";
const char* const kGeom150 =
    "#version 150\n"
    "layout(triangles) in;\n"
    "layout(triangle_strip, max_vertices = 3) out;\n"
    "in vec3 normal[];\n"
    "out vec3 gNormal;\n"
    "void main() {\n"
    "  for (int i = 0; i < 3; ++i) {\n"
    "    gNormal = normal[i]; gl_Position = gl_in[i].gl_Position; EmitVertex();\n"
    "  }\n"
    "  EndPrimitive();\n"
    "}\n";
const char* const kFrag150 =
    "#version 150\n"
    "in vec3 gNormal;\n"
    "out vec4 color;\n"
    "void main() { color = vec4(normalize(gNormal), 1.0); }\n";
const char* const kVert330 =
    "#version 330\n"
    "in vec4 pos;\n"
    "in vec2 texCoord;\n"
    "out vec2 vUv;\n"
    "uniform mat4 mvp;\n"
    "void main() { vUv = texCoord; gl_Position = mvp * pos; }\n";
const char* const kFrag330 =
    "#version 330\n"
    "in vec2 vUv;\n"
    "uniform sampler2D tex;\n"
    "uniform vec4 tint;\n"
    "layout(std140) uniform Light { vec4 direction; vec4 colour; };\n"
    "out vec4 color;\n"
    "void main() { color = texture(tex, vUv) * tint * colour; }\n";
const char* const kFrag130 =
    "#version 130\n"
    "in vec2 vUv;\n"
    "out vec4 color;\n"
    "void main() { color = vec4(vUv, 0.0, 1.0); }\n";
const char* const kVert450 =
    "#version 450\n"
    "layout(location = 0) in vec4 pos;\n"
    "out Block { vec3 normal; } vs;\n"
    "void main() { vs.normal = pos.xyz; gl_Position = pos; }\n";
const char* const kGeom450 =
    "#version 450\n"
    "layout(points) in;\n"
    "layout(points, max_vertices = 1) out;\n"
    "in Block { vec3 normal; } vs[];\n"
    "out vec3 gNormal;\n"
    "void main() { gNormal = vs[0].normal; gl_Position = gl_in[0].gl_Position; EmitVertex(); }\n";
const char* const kFrag450 =
    "#version 450\n"
    "in vec3 gNormal;\n"
    "layout(location = 0) out vec4 color;\n"
    "void main() { color = vec4(gNormal, 1.0); }\n";
const char* const kComp430 =
    "#version 430\n"
    "layout(local_size_x = 64) in;\n"
    "layout(std430, binding = 0) buffer Data { float values[]; };\n"
    "void main() { values[gl_GlobalInvocationID.x] *= 2.0; }\n";
const char* const kVertEs100 =
    "attribute vec4 pos;\n"
    "void main() { gl_Position = pos; }\n";
const char* const kFragEs100 =
    "#version 100\n"
    "precision mediump float;\n"
    "void main() { gl_FragColor = vec4(1.0); }\n";
const char* const kVertEs300 =
    "#version 300 es\n"
    "in vec4 pos;\n"
    "void main() { gl_Position = pos; }\n";
const char* const kFragEs300 =
    "#version 300 es\n"
    "precision mediump float;\n"
    "out vec4 color;\n"
    "void main() { color = vec4(1.0); }\n";
const char* const kVertEs310 =
    "#version 310 es\n"
    "in vec4 pos;\n"
    "out vec2 uv;\n"
    "void main() { uv = pos.xy; gl_Position = pos; }\n";
const char* const kFragEs310 =
    "#version 310 es\n"
    "precision mediump float;\n"
    "uniform sampler2D tex;\n"
    "in vec2 uv;\n"
    "out vec4 color;\n"
    "void main() { color = texture(tex, uv); }\n";
const char* const kVertEs320 =
    "#version 320 es\n"
    "in vec4 pos;\n"
    "void main() { gl_Position = pos; }\n";
const char* const kGeomEs320 =
    "#version 320 es\n"
    "layout(points) in;\n"
    "layout(points, max_vertices = 1) out;\n"
    "void main() { gl_Position = gl_in[0].gl_Position; EmitVertex(); }\n";
const char* const kCompEs310 =
    "#version 310 es\n"
    "layout(local_size_x = 8) in;\n"
    "layout(std430, binding = 0) buffer Data { highp float values[]; };\n"
    "void main() { values[gl_GlobalInvocationID.x] += 1.0; }\n";

// ---- every stage and language version --------------------------------------

struct ValidCase {
    const char* name;
    Sources sources;
    toolchain::BinaryFormat format;  // of every stage of the program
    uint32_t languageVersion;        // of the first stage
};

void PrintTo(const ValidCase& c, std::ostream* out) {
    *out << c.name;
}

class ValidPrograms : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidPrograms, CompileIntoOneRecordPerStage) {
    const ValidCase& c = GetParam();
    mendrix::Compiler compiler(2);
    Compiled compiled(compiler, makeRequest(c.sources, kCompileFlagForceUniformBlock));
    ASSERT_TRUE(compiled.ok) << compiled.log();
    EXPECT_EQ(compiled.set.compileLog, nullptr) << compiled.log();

    struct Slot {
        const char* source;
        const void* record;
        toolchain::StageKind kind;
    } slots[] = {
        {c.sources.vertex, &compiled.set.vertexShader, toolchain::kStageVertex},
        {c.sources.pixel, &compiled.set.pixelShader, toolchain::kStagePixel},
        {c.sources.geometry, &compiled.set.geometryShader, toolchain::kStageGeometry},
        {c.sources.compute, &compiled.set.computeShader, toolchain::kStageCompute},
    };
    bool first = true;
    for (const Slot& slot : slots) {
        toolchain::ToolchainStageRecord record = recordAt(slot.record);
        if (slot.source == nullptr) {
            EXPECT_EQ(record.magic, 0u) << "absent stage " << slot.kind << " stays zero";
            continue;
        }
        EXPECT_EQ(record.magic, toolchain::kStageRecordMagic);
        EXPECT_EQ(record.kind, slot.kind);
        EXPECT_EQ(record.binaryFormat, c.format) << "stage " << slot.kind;
        EXPECT_EQ(firstWord(record), c.format == toolchain::kBinarySpirv
                                         ? kSpirvMagic
                                         : toolchain::kValidatedFormMagic);
        EXPECT_EQ(record.gpuVersion, 2u);
        EXPECT_EQ(record.optimizationFlags, 0x40u);
        EXPECT_EQ((record.flags & toolchain::kStageFlagEssl) != 0, c.sources.essl);
        EXPECT_NE(record.flags & toolchain::kStageFlagForceUniformBlock, 0u);
        EXPECT_EQ(record.flags & toolchain::kStageFlagHashPresent, 0u) << "-noquarn";
        if (first) {
            EXPECT_EQ(record.languageVersion, c.languageVersion);
            first = false;
        }
        std::vector<mendrix::ReflectionEntry> ignored;
        EXPECT_TRUE(decodeBlock(record.reflection, record.reflectionSize, ignored));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Languages, ValidPrograms,
    ::testing::Values(
        ValidCase{
            "glsl110", {.vertex = kVert110, .pixel = kFrag110}, toolchain::kBinaryValidated, 110},
        ValidCase{
            "glslWithoutVersion", {.vertex = kVert120NoVersion}, toolchain::kBinaryValidated, 110},
        ValidCase{"glsl150Geometry",
                  {.vertex = kVert150, .pixel = kFrag150, .geometry = kGeom150},
                  toolchain::kBinaryValidated,
                  150},
        ValidCase{"glsl330", {.vertex = kVert330, .pixel = kFrag330}, toolchain::kBinarySpirv, 330},
        // A driver links no program that mixes SPIR-V and text stages.
        ValidCase{"glsl330With130Pixel",
                  {.vertex = kVert330, .pixel = kFrag130},
                  toolchain::kBinaryValidated,
                  330},
        ValidCase{"glsl450Geometry",
                  {.vertex = kVert450, .pixel = kFrag450, .geometry = kGeom450},
                  toolchain::kBinarySpirv,
                  450},
        ValidCase{"glsl430Compute", {.compute = kComp430}, toolchain::kBinarySpirv, 430},
        ValidCase{"essl100WithoutVersion",
                  {.vertex = kVertEs100, .pixel = kFragEs100, .essl = true},
                  toolchain::kBinaryValidated,
                  100},
        ValidCase{"essl300",
                  {.vertex = kVertEs300, .pixel = kFragEs300, .essl = true},
                  toolchain::kBinaryValidated,
                  300},
        ValidCase{"essl310",
                  {.vertex = kVertEs310, .pixel = kFragEs310, .essl = true},
                  toolchain::kBinarySpirv,
                  310},
        ValidCase{"essl320Geometry",
                  {.vertex = kVertEs320, .geometry = kGeomEs320, .essl = true},
                  toolchain::kBinarySpirv,
                  320},
        ValidCase{
            "essl310Compute", {.compute = kCompEs310, .essl = true}, toolchain::kBinarySpirv, 310}),
    [](const ::testing::TestParamInfo<ValidCase>& info) { return std::string(info.param.name); });

// ---- diagnostics -------------------------------------------------------------

struct FailureCase {
    const char* name;
    Sources sources;
    bool succeeds;        // warnings only
    const char* logLine;  // a whole line the log must hold
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class Diagnosed : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Diagnosed, ReportsFileAndLine) {
    const FailureCase& c = GetParam();
    mendrix::Compiler compiler(2);
    Compiled compiled(compiler, makeRequest(c.sources));
    EXPECT_EQ(compiled.ok, c.succeeds) << compiled.log();
    std::string log = "\n" + compiled.log() + "\n";
    EXPECT_NE(log.find("\n" + std::string(c.logLine) + "\n"), std::string::npos)
        << "log was:" << log;
    if (!c.succeeds) {
        for (const void* slot : {static_cast<const void*>(&compiled.set.vertexShader),
                                 static_cast<const void*>(&compiled.set.pixelShader)}) {
            EXPECT_EQ(recordAt(slot).magic, 0u) << "a failed compile hands out no stage";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Log, Diagnosed,
    ::testing::Values(
        FailureCase{"syntaxError",
                    {.vertex = kVert330,
                     .pixel = "#version 330\nout vec4 c;\nvoid main() { c = vec4(1.0) }\n",
                     .vertexPath = "/src/a.vert",
                     .pixelPath = "/src/a.frag"},
                    false,
                    "/src/a.frag:3: error: syntax error, unexpected RIGHT_BRACE, expecting "
                    "COMMA or SEMICOLON"},
        FailureCase{"typeErrorInValidatedForm",
                    {.vertex = "#version 120\nvoid main() {\n  int i = 1.5;\n  gl_Position = "
                               "vec4(0.0);\n}\n",
                     .vertexPath = "/src/t.vert"},
                    false,
                    "/src/t.vert:3: error: '=' : cannot convert from ' const float' to ' temp "
                    "int'"},
        FailureCase{"stageNameWithoutPath",
                    {.vertex = "#version 450\nvoid main() { undefinedThing = 1; }\n"},
                    false,
                    "vertex:2: error: 'undefinedThing' : undeclared identifier"},
        FailureCase{"linkErrorBetweenStages",
                    {.vertex = kVert330,
                     .pixel = "#version 330\nin vec3 vUv;\nout vec4 c;\nvoid main() { c = "
                              "vec4(vUv, 1.0); }\n",
                     .vertexPath = "/src/l.vert",
                     .pixelPath = "/src/l.frag"},
                    false,
                    "/src/l.frag:0: error: Linking vertex and fragment stages: Types must match: "
                    "vertex stage: \" vec2 vUv\" fragment stage: \" vec3 vUv\""},
        FailureCase{"missingIncludeFromDriver",
                    {.vertex = "#version 330\n#error \"shaders/main.vert: 7: unable to open "
                               "file common.glsl\"\nvoid main() {}\n",
                     .vertexPath = "/abs/shaders/main.vert"},
                    false,
                    "shaders/main.vert:7: error: unable to open file common.glsl"},
        FailureCase{"ownErrorDirective",
                    {.vertex = "#version 330\n#error not ready\nvoid main() {}\n",
                     .vertexPath = "/src/e.vert"},
                    false,
                    "/src/e.vert:2: error: #error not ready"},
        FailureCase{"missingMain",
                    {.pixel = "#version 330\nout vec4 c;\n", .pixelPath = "/src/m.frag"},
                    false,
                    "/src/m.frag:0: error: Linking fragment stage: Missing entry point: Each "
                    "stage requires one entry point"},
        FailureCase{"uniformTypesDifferAcrossStages",
                    {.vertex = "#version 330\nuniform vec4 u;\nvoid main() { gl_Position = u; }\n",
                     .pixel = "#version 330\nuniform vec3 u;\nout vec4 c;\nvoid main() { c = "
                              "vec4(u, 1.0); }\n",
                     .vertexPath = "/src/u.vert",
                     .pixelPath = "/src/u.frag"},
                    false,
                    "/src/u.frag:0: error: Linking fragment stage: Types must match: vertex "
                    "stage: \" vec4 u\" fragment stage: \" vec3 u\""},
        FailureCase{"warningOnly",
                    {.vertex = "#version 330\n#extension GL_EXT_not_there : warn\nvoid main() "
                               "{}\n",
                     .vertexPath = "/src/w.vert"},
                    true,
                    "/src/w.vert:2: warning: '#extension' : extension not supported: "
                    "GL_EXT_not_there"},
        FailureCase{"desktopVersionInEssl",
                    {.vertex = "\n#version 450\nvoid main() {}\n",
                     .vertexPath = "/src/x.vert",
                     .essl = true},
                    false,
                    "/src/x.vert:2: error: '#version 450' is not an ESSL version; ESSL programs "
                    "use 100, 300 es, 310 es or 320 es (compile GLSL with -t glsl)"},
        FailureCase{"esslVersionInGlsl",
                    {.vertex = kVertEs310, .vertexPath = "/src/y.vert"},
                    false,
                    "/src/y.vert:1: error: '#version 310 es' is an ESSL version, but the "
                    "program is compiled as GLSL (compile ESSL with -t essl)"},
        FailureCase{"unsupportedVersion",
                    {.vertex = "#version 470\nvoid main() {}\n", .vertexPath = "/src/v.vert"},
                    false,
                    "/src/v.vert:1: error: version not supported"},
        FailureCase{"noSourceAtAll",
                    {},
                    false,
                    "program:0: error: no shader source given: the request holds no vertex, "
                    "pixel, geometry or compute text"},
        FailureCase{"computeWithAnotherStage",
                    {.vertex = kVert330, .compute = kComp430, .computePath = "/src/c.comp"},
                    false,
                    "/src/c.comp:0: error: a compute shader must be compiled on its own, "
                    "without vertex, pixel or geometry shaders"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(MendrixCompile, SpirvRuleBreakKeepsTheValidatedFormWithAWarning) {
    // Valid GLSL 330 (texture2D is still there for it) that SPIR-V for
    // OpenGL does not take.
    const char* pixel =
        "#version 330\n"
        "uniform sampler2D s;\n"
        "out vec4 c;\n"
        "void main() { c = texture2D(s, vec2(0.5)); }\n";
    mendrix::Compiler compiler(2);
    Compiled compiled(compiler, makeRequest({.vertex = kVert330,
                                             .pixel = pixel,
                                             .vertexPath = "/src/k.vert",
                                             .pixelPath = "/src/k.frag"}));
    ASSERT_TRUE(compiled.ok) << compiled.log();
    EXPECT_EQ(compiled.log(),
              "/src/k.frag:4: warning: SPIR-V not generated, the validated form is kept: "
              "'texture2D' : no matching overloaded function found");
    EXPECT_EQ(recordAt(&compiled.set.pixelShader).binaryFormat, toolchain::kBinaryValidated);
    EXPECT_EQ(recordAt(&compiled.set.vertexShader).binaryFormat, toolchain::kBinaryValidated)
        << "the whole program is kept in one form";
}

// ---- stream-out --------------------------------------------------------------

struct StreamOutCase {
    const char* name;
    std::vector<std::string> varyings;
    bool withGeometry;
    const char* expectedError;  // null: accepted
};

void PrintTo(const StreamOutCase& c, std::ostream* out) {
    *out << c.name;
}

class StreamOut : public ::testing::TestWithParam<StreamOutCase> {};

TEST_P(StreamOut, NamesAreOutputsOfTheLastStageBeforeRasterisation) {
    const StreamOutCase& c = GetParam();
    std::vector<char*> names;
    for (const std::string& name : c.varyings) {
        names.push_back(const_cast<char*>(name.c_str()));
    }
    Sources sources{.vertex = kVert450,
                    .pixel = kFrag450,
                    .vertexPath = "/src/s.vert",
                    .geometryPath = "/src/s.geom"};
    if (c.withGeometry) {
        sources.geometry = kGeom450;
    }
    CompileRequest request = makeRequest(sources);
    request.streamOutVaryings = names.data();
    request.streamOutCount = static_cast<uint32_t>(names.size());
    mendrix::Compiler compiler(2);
    Compiled compiled(compiler, request);
    if (c.expectedError != nullptr) {
        EXPECT_FALSE(compiled.ok);
        EXPECT_EQ(compiled.log(), c.expectedError);
        return;
    }
    ASSERT_TRUE(compiled.ok) << compiled.log();
    const void* slot = c.withGeometry ? static_cast<const void*>(&compiled.set.geometryShader)
                                      : static_cast<const void*>(&compiled.set.vertexShader);
    auto entries = reflectionOf(recordAt(slot));
    for (const std::string& name : c.varyings) {
        EXPECT_TRUE(hasEntry(entries, toolchain::kReflectStreamOut, name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Varyings, StreamOut,
    ::testing::Values(
        StreamOutCase{"geometryOutput", {"gNormal", "gl_Position"}, true, nullptr},
        StreamOutCase{"vertexBlockMember", {"Block.normal", "gl_Position"}, false, nullptr},
        StreamOutCase{"vertexOutputIsNotGeometryOutput",
                      {"gNormal", "Block.normal"},
                      true,
                      "/src/s.geom:0: error: stream-out varying 'Block.normal' is not an output "
                      "of the geometry shader"},
        StreamOutCase{"unknownName",
                      {"nothing"},
                      false,
                      "/src/s.vert:0: error: stream-out varying 'nothing' is not an output of "
                      "the vertex shader"}),
    [](const ::testing::TestParamInfo<StreamOutCase>& info) {
        return std::string(info.param.name);
    });

// ---- reflection --------------------------------------------------------------

TEST(MendrixCompile, ReflectionDescribesEachStage) {
    for (const char* vertex : {kVert330, kVert110}) {
        const char* pixel = vertex == kVert330 ? kFrag330 : kFrag110;
        mendrix::Compiler compiler(2);
        Compiled compiled(compiler, makeRequest({.vertex = vertex, .pixel = pixel}));
        ASSERT_TRUE(compiled.ok) << compiled.log();
        auto vs = reflectionOf(recordAt(&compiled.set.vertexShader));
        auto ps = reflectionOf(recordAt(&compiled.set.pixelShader));
        EXPECT_TRUE(hasEntry(vs, toolchain::kReflectAttribute, "pos"));
        EXPECT_TRUE(hasEntry(ps, toolchain::kReflectSampler, "tex"));
        if (vertex == kVert330) {
            EXPECT_TRUE(hasEntry(vs, toolchain::kReflectAttribute, "texCoord"));
            EXPECT_TRUE(hasEntry(vs, toolchain::kReflectUniform, "mvp"));
            EXPECT_TRUE(hasEntry(vs, toolchain::kReflectVaryingOut, "vUv"));
            EXPECT_FALSE(hasEntry(vs, toolchain::kReflectUniform, "tint"))
                << "a uniform only the pixel stage uses";
            EXPECT_TRUE(hasEntry(ps, toolchain::kReflectUniform, "tint"));
            EXPECT_TRUE(hasEntry(ps, toolchain::kReflectUniformBlock, "Light"));
            EXPECT_TRUE(hasEntry(ps, toolchain::kReflectVaryingIn, "vUv"));
            EXPECT_TRUE(hasEntry(ps, toolchain::kReflectVaryingOut, "color"));
            for (const auto& entry : vs) {
                if (entry.name == "mvp") {
                    EXPECT_EQ(entry.type, 0x8B5Cu) << "mat4";
                }
            }
        } else {
            EXPECT_TRUE(hasEntry(vs, toolchain::kReflectVaryingOut, "uv"));
            EXPECT_TRUE(hasEntry(ps, toolchain::kReflectVaryingIn, "uv"));
        }
    }
}

// ---- dumps and statistics ------------------------------------------------------

TEST(MendrixCompile, DumpsListEachStageInItsForm) {
    mendrix::Compiler compiler(2);
    {
        Compiled compiled(compiler, makeRequest({.vertex = kVert330, .pixel = kFrag330},
                                                kCompileFlagDumpDebugInfo));
        ASSERT_TRUE(compiled.ok) << compiled.log();
        ASSERT_NE(compiled.set.vertexDump, nullptr);
        ASSERT_NE(compiled.set.pixelDump, nullptr);
        EXPECT_EQ(compiled.set.geometryDump, nullptr);
        EXPECT_EQ(compiled.set.computeDump, nullptr);
        EXPECT_NE(std::string(compiled.set.vertexDump).find("OpEntryPoint Vertex"),
                  std::string::npos);
        EXPECT_NE(std::string(compiled.set.pixelDump).find("OpImageSampleImplicitLod"),
                  std::string::npos);
    }
    {
        Compiled compiled(compiler, makeRequest({.vertex = kVert110, .pixel = kFrag110},
                                                kCompileFlagDumpDebugInfo));
        ASSERT_TRUE(compiled.ok) << compiled.log();
        ASSERT_NE(compiled.set.pixelDump, nullptr);
        std::string dump = compiled.set.pixelDump;
        EXPECT_NE(dump.find("Shader version: 110"), std::string::npos) << dump;
        EXPECT_NE(dump.find("texture"), std::string::npos) << dump;
    }
    {
        Compiled compiled(compiler, makeRequest({.vertex = kVert330, .pixel = kFrag330}));
        EXPECT_EQ(compiled.set.vertexDump, nullptr) << "no dumps unless asked";
    }
}

TEST(MendrixCompile, StatisticsCountTheCompiledStage) {
    const char* loopPixel330 =
        "#version 330\n"
        "uniform sampler2D tex;\n"
        "uniform vec4 weights[4];\n"
        "in vec2 vUv;\n"
        "out vec4 color;\n"
        "void main() {\n"
        "  vec4 sum = vec4(0.0);\n"
        "  for (int i = 0; i < 4; ++i) sum += texture(tex, vUv + float(i)) * weights[i];\n"
        "  color = sum;\n"
        "}\n";
    const char* loopPixel110 =
        "#version 110\n"
        "uniform sampler2D tex;\n"
        "uniform vec4 weights[4];\n"
        "varying vec2 uv;\n"
        "void main() {\n"
        "  vec4 sum = vec4(0.0);\n"
        "  for (int i = 0; i < 4; ++i) sum += texture2D(tex, uv + float(i)) * weights[i];\n"
        "  gl_FragColor = sum;\n"
        "}\n";
    struct Case {
        const char* vertex;
        const char* pixel;
        uint32_t gpu;
    } cases[] = {{kVert330, loopPixel330, 2}, {kVert110, loopPixel110, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pixel);
        mendrix::Compiler compiler(c.gpu);
        ShaderStats vertexStats{};
        ShaderStats pixelStats{};
        CompileRequest request =
            makeRequest({.vertex = c.vertex, .pixel = c.pixel}, kCompileFlagInstructionStats);
        request.vertexStats = &vertexStats;
        request.pixelStats = &pixelStats;
        Compiled compiled(compiler, request);
        ASSERT_TRUE(compiled.ok) << compiled.log();
        EXPECT_EQ(pixelStats.gprPoolSize, c.gpu == 2 ? 256u : 128u);
        EXPECT_GE(pixelStats.tfetchInstructions, 1u);
        EXPECT_GE(pixelStats.controlFlowInstructions, 1u) << "the loop";
        EXPECT_EQ(pixelStats.vfetchInstructions, 0u) << "only vertex stages fetch vertices";
        EXPECT_GE(pixelStats.externalAluConstants, 4u) << "vec4 weights[4]";
        EXPECT_GE(pixelStats.gprsUsed, 2u) << "sum and i";
        EXPECT_GE(pixelStats.totalInstructions, pixelStats.aluInstructions +
                                                    pixelStats.tfetchInstructions +
                                                    pixelStats.controlFlowInstructions);
        EXPECT_GE(pixelStats.aluInstructions, 3u);
        EXPECT_GE(vertexStats.vfetchInstructions, 1u);
        EXPECT_EQ(vertexStats.tfetchInstructions, 0u);

        // Without the flag, blocks stay as they were.
        ShaderStats untouched{};
        request.compileFlags &= ~kCompileFlagInstructionStats;
        request.pixelStats = &untouched;
        request.vertexStats = nullptr;
        Compiled plain(compiler, request);
        ASSERT_TRUE(plain.ok);
        EXPECT_EQ(untouched.totalInstructions, 0u);
        EXPECT_EQ(untouched.gprPoolSize, 0u);
    }
}

// ---- debug information ---------------------------------------------------------

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        files.push_back(entry.path());
    }
    return files;
}

TEST(MendrixCompile, DebugInformationFileMapsHashesToSources) {
    TempFolder temp;
    std::string folder = temp.file("symbols/nested");
    mendrix::Compiler compiler(2);
    CompileRequest request = makeRequest({.vertex = kVert330,
                                          .pixel = kFrag330,
                                          .vertexPath = "/src/q.vert",
                                          .pixelPath = "/src/q.frag"});
    request.compileFlags &= ~kCompileFlagNoQuarn;
    request.quarnDirectory = folder.c_str();
    Compiled compiled(compiler, request);
    ASSERT_TRUE(compiled.ok) << compiled.log();
    EXPECT_EQ(compiled.set.compileLog, nullptr);

    auto files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".quarn");
    std::string text = readFileBytes(files[0]);
    EXPECT_EQ(text.rfind("QUARN 1\nprogram ", 0), 0u);
    for (const void* slot : {static_cast<const void*>(&compiled.set.vertexShader),
                             static_cast<const void*>(&compiled.set.pixelShader)}) {
        toolchain::ToolchainStageRecord record = recordAt(slot);
        ASSERT_NE(record.flags & toolchain::kStageFlagHashPresent, 0u);
        toolchain::Hash128 hash;
        std::memcpy(hash.data(), record.hash, hash.size());
        EXPECT_EQ(hash, toolchain::hash128(std::string_view(
                            reinterpret_cast<const char*>(record.binary), record.binarySize)))
            << "the hash is that of the binary";
        EXPECT_NE(text.find(toolchain::hexOf(hash) + " spirv " + std::to_string(record.binarySize)),
                  std::string::npos)
            << text;
    }
    EXPECT_NE(text.find("path /src/q.vert\nsource " + std::to_string(std::strlen(kVert330)) + "\n" +
                        kVert330 + "\n"),
              std::string::npos);
    EXPECT_NE(text.find("path /src/q.frag\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "end\n");
}

void setVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value != nullptr ? value : "");
#else
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
#endif
}

// Sets or (with null) clears an environment variable until the object goes.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name(name) {
        const char* previous = std::getenv(name);
        saved = previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
        setVariable(name, value);
    }
    ~ScopedVariable() { setVariable(name, saved ? saved->c_str() : nullptr); }

private:
    const char* name;
    std::optional<std::string> saved;
};

// The log of one compile with debug information into the default folder.
std::string compileWithDefaultFolder() {
    mendrix::Compiler compiler(2);
    CompileRequest request = makeRequest({.vertex = kVert330, .vertexPath = "/src/d.vert"});
    request.compileFlags &= ~kCompileFlagNoQuarn;
    Compiled compiled(compiler, request);
    EXPECT_TRUE(compiled.ok) << compiled.log();
    return compiled.log();
}

TEST(MendrixCompile, DebugInformationGoesToThePrivateCacheFolder) {
#ifdef _WIN32
    GTEST_SKIP() << "the per-user folder rules and symbolic links are those of POSIX";
#endif
    TempFolder temp;
    fs::create_directories(temp.path() / "elsewhere");
    fs::create_directories(temp.path() / "linked" / "Korvane" / "Lumo");
    fs::create_directory_symlink(temp.path() / "elsewhere",
                                 temp.path() / "linked" / "Korvane" / "Lumo" / "ShaderSymbols");
    std::string xdg = temp.file("xdg"), home = temp.file("home"), linked = temp.file("linked");
    std::string widened = temp.file("widened");
    fs::create_directories(temp.path() / "widened/Korvane/Lumo/ShaderSymbols");
    fs::permissions(temp.path() / "widened/Korvane/Lumo/ShaderSymbols", fs::perms::all);
    ScopedVariable tmpdir("TMPDIR", temp.file("tmp").c_str());
    // clang-format off
    const struct { const char* name; const char* xdg; const char* home; fs::path folder; const char* warning; } cases[] = {
        {"XDG_CACHE_HOME", xdg.c_str(), home.c_str(), temp.path() / "xdg/Korvane/Lumo/ShaderSymbols", nullptr},
        {"HOME", nullptr, home.c_str(), temp.path() / "home/.cache/Korvane/Lumo/ShaderSymbols", nullptr},
        {"widened to 0777", widened.c_str(), nullptr, temp.path() / "widened/Korvane/Lumo/ShaderSymbols", nullptr},
        {"neither", nullptr, nullptr, temp.path() / "elsewhere", "neither XDG_CACHE_HOME nor HOME is set"},
        {"linked folder", linked.c_str(), nullptr, temp.path() / "elsewhere", "is a symbolic link"},
    };
    // clang-format on
    for (const auto& row : cases) {
        ScopedVariable xdgVariable("XDG_CACHE_HOME", row.xdg);
        ScopedVariable homeVariable("HOME", row.home);
        std::string log = compileWithDefaultFolder();
        auto files = filesIn(row.folder);
        if (row.warning != nullptr) {
            EXPECT_NE(log.find("/src/d.vert:0: warning: debug information file not written: "),
                      std::string::npos)
                << row.name << log;
            EXPECT_NE(log.find(row.warning), std::string::npos) << row.name << log;
            EXPECT_EQ(files.size(), 0u) << row.name;
            continue;
        }
        EXPECT_EQ(log, "") << row.name;
        ASSERT_EQ(files.size(), 1u) << row.name;
        EXPECT_EQ(fs::status(row.folder).permissions(), fs::perms::owner_all) << row.name;
        EXPECT_EQ(fs::status(files[0]).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write)
            << row.name;
    }
    EXPECT_FALSE(fs::exists(temp.path() / "tmp")) << "nothing goes to the shared temp folder";
}

TEST(MendrixCompile, ChosenDebugFolderNeverWritesThroughALinkAtTheFile) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need privileges on Windows";
#endif
    TempFolder temp;
    std::string folder = temp.file("team");
    mendrix::Compiler compiler(2);
    CompileRequest request = makeRequest({.vertex = kVert330});
    request.compileFlags &= ~kCompileFlagNoQuarn;
    request.quarnDirectory = folder.c_str();
    { Compiled first(compiler, request); }
    auto files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    std::string victim = temp.write("victim", "kept");
    fs::remove(files[0]);
    fs::create_symlink(victim, files[0]);
    Compiled second(compiler, request);
    EXPECT_TRUE(second.ok) << second.log();
    EXPECT_FALSE(fs::is_symlink(files[0]));
    EXPECT_EQ(readFileBytes(victim), "kept");
}

TEST(MendrixCompile, DebugFileIsWrittenOnceAndOnlyOwnOldTemporariesGo) {
#ifdef _WIN32
    GTEST_SKIP() << "file identities and owners are those of POSIX";
#else
    TempFolder temp;
    ScopedVariable xdg("XDG_CACHE_HOME", temp.file("xdg").c_str());
    const fs::path folder = temp.path() / "xdg/Korvane/Lumo/ShaderSymbols";
    EXPECT_EQ(compileWithDefaultFolder(), "");
    auto files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    const auto written = fs::last_write_time(files[0]);
    struct stat first {};
    ASSERT_EQ(stat(files[0].c_str(), &first), 0);
    // Left by killed runs: only this user's file older than ten minutes goes.
    std::set<std::string> kept = {files[0].filename().string(), ".vrxtmp-young.tmp"};
    for (const char* name : {".vrxtmp-old.tmp", ".vrxtmp-young.tmp", ".vrxtmp-other.tmp"}) {
        temp.write((fs::path("xdg/Korvane/Lumo/ShaderSymbols") / name).string(), "partial");
    }
    for (const char* name : {".vrxtmp-old.tmp", ".vrxtmp-other.tmp"}) {
        fs::last_write_time(folder / name, written - std::chrono::minutes(11));
    }
    if (lchown((folder / ".vrxtmp-other.tmp").c_str(), getuid() + 4321, getgid()) == 0) {
        kept.insert(".vrxtmp-other.tmp");
    }
    // Two parallel runs of the unchanged program succeed and leave the file.
    std::string logs[2];
    std::thread other([&logs] { logs[1] = compileWithDefaultFolder(); });
    logs[0] = compileWithDefaultFolder();
    other.join();
    EXPECT_EQ(logs[0] + logs[1], "");
    struct stat again {};
    ASSERT_EQ(stat(files[0].c_str(), &again), 0);
    EXPECT_EQ(again.st_ino, first.st_ino) << "an unchanged file is not written again";
    std::set<std::string> names;
    for (const fs::path& file : filesIn(folder)) {
        names.insert(file.filename().string());
    }
    EXPECT_EQ(names, kept);
#endif
}

TEST(MendrixCompile, UnwritableDebugFolderIsAWarningNotAFailure) {
    TempFolder temp;
    std::string blocker = temp.write("not-a-folder", "x");
    mendrix::Compiler compiler(2);
    CompileRequest request = makeRequest({.vertex = kVert330, .vertexPath = "/src/u.vert"});
    request.compileFlags &= ~kCompileFlagNoQuarn;
    std::string folder = blocker + "/symbols";
    request.quarnDirectory = folder.c_str();
    Compiled compiled(compiler, request);
    EXPECT_TRUE(compiled.ok);
    EXPECT_EQ(
        compiled.log().rfind("/src/u.vert:0: warning: debug information file not written: ", 0), 0u)
        << compiled.log();
}

// ---- release -----------------------------------------------------------------

TEST(MendrixCompile, ReleaseFreesEveryCompileAndIgnoresForeignSets) {
    mendrix::Compiler compiler(2);
    CompiledShaderSet never{};
    compiler.release(never);  // all zero, never filled
    EXPECT_EQ(compiler.liveProgramCount(), 0u);

    CompiledShaderSet set{};
    set.abiVersion = kCompilerRecordStamp;
    set.compiledProgramAbiVersion = kCompilerRecordStamp;
    ASSERT_FALSE(compiler.compile(makeRequest({}), set));
    EXPECT_NE(set.compileLog, nullptr);
    EXPECT_EQ(compiler.liveProgramCount(), 1u) << "the log of a failed compile is ours too";
    compiler.release(set);
    EXPECT_EQ(set.compileLog, nullptr);
    EXPECT_EQ(compiler.liveProgramCount(), 0u);
    compiler.release(set);  // twice is harmless

    // Compiling into a filled set again replaces what it held.
    ASSERT_TRUE(compiler.compile(makeRequest({.vertex = kVert330}), set));
    ASSERT_TRUE(compiler.compile(makeRequest({.vertex = kVert110}), set));
    EXPECT_EQ(compiler.liveProgramCount(), 1u);
    EXPECT_EQ(recordAt(&set.vertexShader).languageVersion, 110u);

    // A set another compiler filled is not ours to release.
    mendrix::Compiler other(2);
    other.release(set);
    EXPECT_EQ(recordAt(&set.vertexShader).magic, toolchain::kStageRecordMagic);
    compiler.release(set);
    EXPECT_EQ(recordAt(&set.vertexShader).magic, 0u);
    EXPECT_EQ(set.abiVersion, kCompilerRecordStamp) << "the stamps are the driver's";
    EXPECT_EQ(set.compiledProgramAbiVersion, kCompilerRecordStamp);
}

}  // namespace
