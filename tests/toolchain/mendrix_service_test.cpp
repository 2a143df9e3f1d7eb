// The compile service's request and answer, without the socket: what the
// service answers fills a set exactly as an in-process compile does, and a
// damaged request or answer is refused whole.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/allocation.h"
#include "platform/service_process.h"
#include "source/shader_source.h"
#include "tests/toolchain/mendrix_support.h"
#include "toolchain/mendrix/compile_cache.h"
#include "toolchain/mendrix/compile_steps.h"
#include "toolchain/mendrix/service/service_compile.h"
#include "toolchain/mendrix/service/service_request.h"

using namespace mendrix_test;

namespace {

const std::string kExamples = MENDRIX_EXAMPLES_DIR;
const std::string kCorpus = MENDRIX_CORPUS_DIR;

// One program: its files, read whole.
struct Program {
    std::string vertex, pixel, geometry, compute;
    std::string vertexPath, pixelPath, geometryPath, computePath;
    std::vector<std::string> streamOut;
    std::vector<char*> names;
    CompileRequest request{};
    std::array<ShaderStats, 4> stats{};

    Program(const std::vector<std::string>& paths, bool essl, uint32_t flags) {
        Sources sources;
        sources.essl = essl;
        for (const std::string& path : paths) {
            std::string* text = path.ends_with(".vert")   ? &vertex
                                : path.ends_with(".frag") ? &pixel
                                : path.ends_with(".geom") ? &geometry
                                                          : &compute;
            (text == &vertex     ? vertexPath
             : text == &pixel    ? pixelPath
             : text == &geometry ? geometryPath
                                 : computePath) = path;
            ShaderSourceLoader loader;
            char* loaded = nullptr;
            EXPECT_EQ(loader.load(path.c_str(), &loaded), LoadResult::loaded) << path;
            *text = loaded != nullptr ? loaded : "";
            releaseMemory(loaded);
        }
        auto use = [](const std::string& text, const char*& field) {
            field = text.empty() ? nullptr : text.c_str();
        };
        use(vertex, sources.vertex), use(vertexPath, sources.vertexPath);
        use(pixel, sources.pixel), use(pixelPath, sources.pixelPath);
        use(geometry, sources.geometry), use(geometryPath, sources.geometryPath);
        use(compute, sources.compute), use(computePath, sources.computePath);
        request = makeRequest(sources, flags);
        request.vertexStats = &stats[0];
        request.pixelStats = &stats[1];
    }
};

// The client's steps around the service's, as compileThroughService takes
// them, with the messages handed over in memory.
struct ThroughService {
    CompiledShaderSet set{};
    mendrix::ProgramStorage storage;
    mendrix::Diagnostics diagnostics;
    std::vector<mendrix::DebugInfoStage> debugInfoStages;
    std::string request;
    std::string answer;
    mendrix::ServiceAnswerKind kind = mendrix::ServiceAnswerKind::failed;
    bool filled = false;

    explicit ThroughService(const CompileRequest& compileRequest, uint32_t gpu = 2) {
        std::vector<mendrix::StageJob> jobs;
        EXPECT_TRUE(mendrix::collectJobs(compileRequest, set, jobs, diagnostics));
        mendrix::buildLineMaps(jobs);
        mendrix::applyVersionPolicy(jobs, compileRequest.esslLanguage != 0, diagnostics);
        request = mendrix::encodeServiceRequest(compileRequest, gpu, jobs);
        std::string shape;
        EXPECT_TRUE(mendrix::answerServiceRequest(request, answer, shape));
        std::string_view bytes;
        EXPECT_TRUE(mendrix::decodeServiceAnswer(answer, kind, bytes));
        if (kind == mendrix::ServiceAnswerKind::failed) {
            diagnostics.appendWarningLog(bytes);
            return;
        }
        filled = mendrix::takeFromEntry(bytes, mendrix::serviceAnswerKey(request), compileRequest,
                                        gpu, jobs, storage, diagnostics, debugInfoStages);
    }
};

// A record's fields and the bytes its pointers lead to.
std::string recordBytes(const void* slot) {
    toolchain::StageRecord record = recordAt(slot);
    std::string bytes;
    if (record.binary != nullptr) {
        bytes.append(reinterpret_cast<const char*>(record.binary), record.binarySize);
    }
    if (record.reflection != nullptr) {
        bytes.append(reinterpret_cast<const char*>(record.reflection), record.reflectionSize);
    }
    bytes += record.sourcePath != nullptr ? record.sourcePath : "(none)";
    record.binary = nullptr;
    record.reflection = nullptr;
    record.sourcePath = nullptr;
    return bytes + std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

std::string dumpOf(const char* dump) {
    return dump != nullptr ? dump : "(none)";
}

}  // namespace

TEST(MendrixService, AnswersFillTheSetAsAnInProcessCompile) {
    const struct Case {
        const char* name;
        std::vector<std::string> paths;
        bool essl;
        uint32_t flags;
        uint64_t optimization;
        bool compiles = true;
    } cases[] = {
        {"textured", {kExamples + "/textured.vert", kExamples + "/textured.frag"}, false, 0, 0x40},
        {"dumps and statistics",
         {kExamples + "/textured.vert", kExamples + "/textured.frag"},
         false,
         kCompileFlagDumpDebugInfo | kCompileFlagInstructionStats,
         0x40},
        {"debug hashes, optimised",
         {kExamples + "/exploded.vert", kExamples + "/exploded.geom", kExamples + "/exploded.frag"},
         false,
         0,
         0xff},
        {"compute", {kExamples + "/blur.comp"}, false, kCompileFlagOptimize, 0x40},
        {"essl", {kExamples + "/quad_es.vert", kExamples + "/quad_es.frag"}, true, 0, 0x40},
        {"errors", {kCorpus + "/invalid_undeclared.frag"}, false, 0, 0x40, false},
        {"error in an include",
         {kCorpus + "/includes/in_include/main.frag"},
         false,
         0,
         0x40,
         false},
        {"link error",
         {kCorpus + "/valid_glsl330.vert", kCorpus + "/invalid_nomain.frag"},
         false,
         0,
         0x40,
         false},
    };
    mendrix::Compiler compiler(2);
    for (const Case& row : cases) {
        Program program(row.paths, row.essl, row.flags);
        program.request.optimizationFlags = row.optimization;
        if (std::string(row.name) == "debug hashes, optimised") {
            program.request.compileFlags &= ~kCompileFlagNoQuarn;
            program.request.quarnDirectory = "";
        }
        Compiled local(compiler, program.request);
        EXPECT_EQ(local.ok, row.compiles) << row.name << local.log();
        const std::array<ShaderStats, 4> localStats = program.stats;
        program.stats = {};
        ThroughService served(program.request);
        EXPECT_EQ(served.filled || served.kind == mendrix::ServiceAnswerKind::failed, true)
            << row.name;
        EXPECT_EQ(served.kind == mendrix::ServiceAnswerKind::compiled, local.ok) << row.name;
        EXPECT_EQ(served.diagnostics.text(), local.log()) << row.name;
        if (!local.ok) {
            continue;
        }
        const CompiledShaderSet& a = local.set;
        const CompiledShaderSet& b = served.set;
        EXPECT_EQ(recordBytes(&a.vertexShader), recordBytes(&b.vertexShader)) << row.name;
        EXPECT_EQ(recordBytes(&a.pixelShader), recordBytes(&b.pixelShader)) << row.name;
        EXPECT_EQ(recordBytes(&a.geometryShader), recordBytes(&b.geometryShader)) << row.name;
        EXPECT_EQ(recordBytes(&a.computeShader), recordBytes(&b.computeShader)) << row.name;
        EXPECT_EQ(dumpOf(a.vertexDump), dumpOf(b.vertexDump)) << row.name;
        EXPECT_EQ(dumpOf(a.pixelDump), dumpOf(b.pixelDump)) << row.name;
        EXPECT_EQ(0, std::memcmp(&localStats, &program.stats, sizeof localStats)) << row.name;
    }
}

TEST(MendrixService, DamagedMessagesAreRefusedWhole) {
    Program program({kExamples + "/textured.vert", kExamples + "/textured.frag"}, false, 0);
    ThroughService served(program.request);
    ASSERT_TRUE(served.filled) << served.diagnostics.text();
    mendrix::ServiceRequest decoded;
    ASSERT_TRUE(mendrix::decodeServiceRequest(served.request, decoded));
    std::string answer;
    std::string shape;
    for (size_t size = 0; size < served.request.size(); size += 7) {
        EXPECT_FALSE(mendrix::decodeServiceRequest(served.request.substr(0, size), decoded))
            << size;
        EXPECT_FALSE(mendrix::answerServiceRequest(served.request.substr(0, size), answer, shape));
    }
    EXPECT_FALSE(mendrix::decodeServiceRequest(served.request + '\0', decoded));

    // An answer that is damaged, or was made for another request, fills nothing.
    mendrix::ServiceAnswerKind kind;
    std::string_view entry;
    ASSERT_TRUE(mendrix::decodeServiceAnswer(served.answer, kind, entry));
    std::string flipped(entry);
    flipped[flipped.size() / 2] ^= 0x20;
    const std::string otherRequest = served.request + "x";
    const struct {
        std::string_view bytes;
        std::string_view request;
    } refused[] = {{flipped, served.request},
                   {entry.substr(0, entry.size() - 1), served.request},
                   {entry, otherRequest}};
    for (const auto& row : refused) {
        CompiledShaderSet set{};
        std::vector<mendrix::StageJob> jobs;
        mendrix::Diagnostics diagnostics;
        mendrix::ProgramStorage storage;
        std::vector<mendrix::DebugInfoStage> debugInfoStages;
        ASSERT_TRUE(mendrix::collectJobs(program.request, set, jobs, diagnostics));
        mendrix::applyVersionPolicy(jobs, false, diagnostics);
        EXPECT_FALSE(mendrix::takeFromEntry(row.bytes, mendrix::serviceAnswerKey(row.request),
                                            program.request, 2, jobs, storage, diagnostics,
                                            debugInfoStages));
        EXPECT_EQ(recordAt(&set.vertexShader).magic, 0u);
    }
}

// The service starts with the user's environment and one allocator setting
// added to a list the user may have set already: nothing of theirs is lost
// or overridden.
TEST(MendrixService, StartingEnvironmentKeepsTheUsersLists) {
    const struct {
        std::vector<std::string> environment;
        std::vector<std::string> expected;
    } rows[] = {
        {{"HOME=/h"}, {"HOME=/h", "LIST=a=1"}},
        {{"LIST=b=2", "HOME=/h"}, {"LIST=b=2:a=1", "HOME=/h"}},
        {{"LIST="}, {"LIST=a=1"}},
        {{"LIST=b=2:a=0:c"}, {"LIST=b=2:a=0:c"}},
        {{"LIST=ab=0:b=a"}, {"LIST=ab=0:b=a:a=1"}},
        {{"LISTS=c", "XLIST=d"}, {"LISTS=c", "XLIST=d", "LIST=a=1"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(service_process::environmentWith(row.environment, {"LIST=a=1"}), row.expected)
            << row.environment.front();
    }
}
