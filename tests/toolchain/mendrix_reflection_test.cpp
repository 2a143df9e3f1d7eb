// Reflection per stage against expected lines and against spirv-dis; the
// optimisation rows keep the code valid and change its size as documented.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/toolchain/mendrix_support.h"
#include "toolchain/mendrix/output/spirv_optimizer.h"

namespace {

using namespace mendrix_test;

const char* const kVertex =
    "#version 450\nin vec3 position;\nin vec3 normal;\nuniform mat4 model;\n"
    "uniform mat4 viewProj;\nuniform vec4 items[6];\nuniform vec3 lightDir;\nout vec3 vNormal;\n"
    "void main() { vNormal = mat3(model) * normal * dot(lightDir, vec3(1)) + items[2].xyz;\n"
    "gl_Position = viewProj * model * vec4(position, 1.0); }\n";
const char* const kPixel =
    "#version 450\nuniform sampler2D albedo;\nuniform vec3 lightDir;\nuniform vec4 unused;\n"
    "layout(location = 20) uniform float gain;\nin vec3 vNormal;\nout vec4 color;\n"
    "float dead(float x) { return x * unused.x; }\n"
    "void main() { color = texture(albedo, vNormal.xy) * dot(vNormal, lightDir) * gain; }\n";
const char* const kGeometry =
    "#version 450\nlayout(triangles) in;\nlayout(triangle_strip, max_vertices = 3) out;\n"
    "in vec3 vNormal[];\nout vec3 n;\nuniform float push;\nvoid main() {\n"
    "for (int i = 0; i < 3; ++i) { n = vNormal[i];\n"
    "gl_Position = gl_in[i].gl_Position + vec4(n * push, 0.0); EmitVertex(); } }\n";
const char* const kCompute =
    "#version 450\nlayout(local_size_x = 8) in;\n"
    "layout(std430, binding = 1) buffer Particles { vec4 pos[]; } particles;\n"
    "uniform float dt;\nlayout(binding = 2) uniform Params { float scale; };\n"
    "void main() { particles.pos[gl_GlobalInvocationID.x] *= dt * scale; }\n";
const char* const kDeadCode =
    "#version 450\nin vec2 uv;\nout vec4 color;\nuniform vec4 tint;\nuniform float deadScale;\n"
    "float helper(float x) { return sin(x) * deadScale + cos(x * 3.0); }\n"
    "vec4 shade(vec4 c) { float k = 2.0 * 3.0 + 1.0; return c * (k / 7.0); }\n"
    "void main() { float a = 4.0 * 0.25; vec4 v = vec4(helper(uv.x));\n"
    "color = shade(tint) * a; }\n";

// "stage category location name" per entry, one line each.
std::string describe(const CompiledShaderSet& set) {
    std::string text;
    const std::pair<const char*, const void*> stages[] = {{"vertex", &set.vertexShader},
                                                          {"geometry", &set.geometryShader},
                                                          {"pixel", &set.pixelShader},
                                                          {"compute", &set.computeShader}};
    for (const auto& [stage, slot] : stages) {
        toolchain::ToolchainStageRecord record = recordAt(slot);
        if (record.magic != toolchain::kStageRecordMagic) {
            continue;
        }
        for (const auto& e : reflectionOf(record)) {
            text += std::string(stage) + " " + toolchain::reflectionCategoryName(e.category) + " " +
                    std::to_string(e.location) + " " + e.name + "\n";
        }
    }
    return text;
}

// Location and Binding decorations by variable name, from spirv-dis.
std::map<std::string, int> decorations(const toolchain::ToolchainStageRecord& record,
                                       const TempFolder& folder) {
    std::map<std::string, int> found;
    std::istringstream lines(disassemble(record, folder));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string op, target, decoration;
        int value = 0;
        if (words >> op >> target >> decoration >> value && op == "OpDecorate" &&
            (decoration == "Location" || decoration == "Binding")) {
            found[target.substr(1) + " " + decoration] = value;
        }
    }
    return found;
}

struct ReflectCase {
    const char* name;
    Sources sources;
    uint64_t optimizationFlags;
    const char* expected;
};

// clang-format off
const ReflectCase kCases[] = {
    {"vertex+pixel, shared and separate uniforms, limited array", {kVertex, kPixel}, 0x40,
     "vertex attribute 0 position\nvertex attribute 1 normal\nvertex uniform 0 model\nvertex uniform 1 viewProj\n"
     "vertex uniform 2 items[0]\nvertex uniform 3 items[1]\nvertex uniform 7 items[5]\nvertex uniform 8 lightDir\n"
     "vertex varying-out 0 vNormal\npixel varying-in 0 vNormal\npixel uniform 8 lightDir\npixel uniform 20 gain\n"
     "pixel sampler 9 albedo\npixel varying-out 0 color\n"},
    {"every array element without the limit", {"#version 450\nuniform vec4 items[3];\nout vec4 c;\n"
     "void main() { c = items[1]; }\n"}, 0,
     "vertex uniform 0 items[0]\nvertex uniform 1 items[1]\nvertex uniform 2 items[2]\nvertex varying-out 0 c\n"},
    {"geometry: no built-ins", {"#version 450\nin vec3 p;\nout vec3 vNormal;\nvoid main() { vNormal = p; }\n",
     "#version 450\nin vec3 n;\nout vec4 c;\nvoid main() { c = vec4(n, 1); }\n", kGeometry}, 0x40,
     "vertex attribute 0 p\nvertex varying-out 0 vNormal\ngeometry varying-in 0 vNormal\n"
     "geometry uniform 0 push\ngeometry varying-out 0 n\npixel varying-in 0 n\npixel varying-out 0 c\n"},
    {"compute with a storage buffer", {nullptr, nullptr, nullptr, kCompute}, 0x40,
     "compute uniform 0 dt\ncompute uniform-block 2 Params\ncompute storage-block 1 Particles\n"},
};
// clang-format on

TEST(MendrixReflection, StagesListWhatTheyUseAndAgreeWithTheDisassembly) {
    mendrix::Compiler compiler(2);
    TempFolder folder;
    for (const ReflectCase& c : kCases) {
        CompileRequest request = makeRequest(c.sources);
        request.optimizationFlags = c.optimizationFlags;
        Compiled compiled(compiler, request);
        ASSERT_TRUE(compiled.ok) << c.name << compiled.log();
        EXPECT_EQ(describe(compiled.set), c.expected) << c.name;
        const CompiledShaderSet& set = compiled.set;
        for (const void* slot : {static_cast<const void*>(&set.vertexShader),
                                 static_cast<const void*>(&set.geometryShader),
                                 static_cast<const void*>(&set.pixelShader),
                                 static_cast<const void*>(&set.computeShader)}) {
            toolchain::ToolchainStageRecord record = recordAt(slot);
            if (record.magic != toolchain::kStageRecordMagic) {
                continue;
            }
#ifdef _WIN32
            continue;  // spirv-dis is a host tool: it cannot run beside the emulated test
#endif
            std::map<std::string, int> decorated = decorations(record, folder);
            for (const auto& e : reflectionOf(record)) {
                size_t bracket = e.name.find('[');
                std::string base = e.name.substr(0, bracket);
                if (base.find('.') != std::string::npos ||
                    e.category == toolchain::kReflectStreamOut) {
                    continue;  // struct members: their variable is the struct
                }
                bool block = e.category == toolchain::kReflectUniformBlock ||
                             e.category == toolchain::kReflectStorageBlock;
                std::string key =
                    block ? (e.category == toolchain::kReflectStorageBlock ? "particles Binding"
                                                                           : "_ Binding")
                          : base + " Location";
                int element =
                    bracket == std::string::npos ? 0 : std::stoi(e.name.substr(bracket + 1));
                ASSERT_TRUE(decorated.count(key)) << c.name << ": " << key;
                EXPECT_EQ(decorated[key] + element, e.location) << c.name << ": " << e.name;
            }
        }
    }
}

// clang-format off
const struct { const char* name; uint64_t bits; int change; } kOptimizations[] = {
    // change: -1 smaller, 0 the same or either way, +1 larger
    {"all (-O)", 0xFFFFFFFFFFFFFF3Full, -1}, {"sc", 0x1, -1}, {"loopvar", 0x4, -1},
    {"unusedvar", 0x20, -1}, {"glsl", 0x80, -1}, {"const", 0x8, 0}, {"loopexpr", 0x10, 0},
    {"fastmath", 0x2, +1},
};
// clang-format on

TEST(MendrixOptimizer, EveryOptionKeepsValidCodeAndChangesItsSize) {
    mendrix::Compiler compiler(2);
    Compiled plain(compiler, makeRequest({nullptr, kDeadCode}));
    ASSERT_TRUE(plain.ok) << plain.log();
    uint64_t plainSize = recordAt(&plain.set.pixelShader).binarySize;
    EXPECT_TRUE(hasEntry(reflectionOf(recordAt(&plain.set.pixelShader)), toolchain::kReflectUniform,
                         "deadScale"));
    for (const auto& row : kOptimizations) {
        CompileRequest request = makeRequest({nullptr, kDeadCode}, kCompileFlagOptimize);
        request.optimizationFlags = row.bits | 0x40;
        Compiled compiled(compiler, request);
        ASSERT_TRUE(compiled.ok) << row.name << compiled.log();
        EXPECT_EQ(compiled.log(), "") << row.name;
        toolchain::ToolchainStageRecord record = recordAt(&compiled.set.pixelShader);
        ASSERT_EQ(record.binaryFormat, toolchain::kBinarySpirv) << row.name;
        std::vector<uint32_t> words(record.binarySize / 4);
        std::memcpy(words.data(), record.binary, words.size() * 4);
        std::string problem;
        EXPECT_TRUE(mendrix::validateSpirv(words, problem)) << row.name << ": " << problem;
        // Where inlining lets the dead code go (sc), its uniform leaves the
        // code and the reflection.
        EXPECT_EQ(hasEntry(reflectionOf(record), toolchain::kReflectUniform, "deadScale"),
                  (row.bits & 0x1) == 0)
            << row.name;
        if (row.change < 0) {
            EXPECT_LT(record.binarySize, plainSize) << row.name;
        } else if (row.change > 0) {
            EXPECT_GT(record.binarySize, plainSize) << row.name;
        }
    }
}

}  // namespace
