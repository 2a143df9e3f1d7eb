// Records exchanged with the shader compiler library. Their layout is fixed by
// the library's binary interface: 64-bit pointers, little-endian integers.
#pragma once

#include <cstddef>
#include <cstdint>

// Stamped into the abiVersion words of the request and of the compiled set.
// Stored, never compared, and never replaced by what the library reports.
constexpr uint32_t kCompilerRecordStamp = 0xab810003u;

// The compileFlags bits of CompileRequest.
constexpr uint32_t kCompileFlagForceUniformBlock = 0x1;
constexpr uint32_t kCompileFlagDumpDebugInfo = 0x2;
constexpr uint32_t kCompileFlagNoQuarn = 0x4;
constexpr uint32_t kCompileFlagOptimize = 0x8;
constexpr uint32_t kCompileFlagAlways = 0x10;
constexpr uint32_t kCompileFlagInstructionStats = 0x20;

// The optimizationFlags bits of CompileRequest. Each but kLimitArraySymbols
// chooses optimiser passes; the names in quotes are those of -O lists.
constexpr uint64_t kOptimizeBackend = 0x1;        // "sc"
constexpr uint64_t kOptimizeFastMath = 0x2;       // "fastmath"
constexpr uint64_t kOptimizeLoopVariables = 0x4;  // "loopvar"
constexpr uint64_t kOptimizeConstants = 0x8;      // "const"
constexpr uint64_t kOptimizeLoopUnroll = 0x10;    // "loopexpr"
constexpr uint64_t kOptimizeUnusedStores = 0x20;  // "unusedvar"
// Not an optimisation: limits uniform arrays to symbols for their first two
// and last elements (reflection only).
constexpr uint64_t kLimitArraySymbols = 0x40;
constexpr uint64_t kOptimizeUnusedCode = 0x80;  // "glsl", a pre-pass over the source
// What "all" chooses: every bit but the array-symbol limit and the pre-pass.
constexpr uint64_t kAllOptimizations = ~(kLimitArraySymbols | kOptimizeUnusedCode);
static_assert(kAllOptimizations == 0xFFFFFFFFFFFFFF3Full);

struct CompilerSetup {
    uint32_t gpuVersion;
};
static_assert(sizeof(CompilerSetup) == 4);
static_assert(offsetof(CompilerSetup, gpuVersion) == 0);

// Nine hardware-usage counters of one stage, filled by the compiler.
struct ShaderStats {
    uint32_t totalInstructions;
    uint32_t gprsUsed;
    uint32_t clauseTempsUsed;
    uint32_t gprPoolSize;
    uint32_t aluInstructions;
    uint32_t tfetchInstructions;
    uint32_t vfetchInstructions;
    uint32_t controlFlowInstructions;
    uint32_t externalAluConstants;
};
static_assert(sizeof(ShaderStats) == 36);
static_assert(offsetof(ShaderStats, totalInstructions) == 0);
static_assert(offsetof(ShaderStats, gprsUsed) == 4);
static_assert(offsetof(ShaderStats, clauseTempsUsed) == 8);
static_assert(offsetof(ShaderStats, gprPoolSize) == 12);
static_assert(offsetof(ShaderStats, aluInstructions) == 16);
static_assert(offsetof(ShaderStats, tfetchInstructions) == 20);
static_assert(offsetof(ShaderStats, vfetchInstructions) == 24);
static_assert(offsetof(ShaderStats, controlFlowInstructions) == 28);
static_assert(offsetof(ShaderStats, externalAluConstants) == 32);

struct CompileRequest {
    uint32_t abiVersion;
    uint32_t padding0;
    const char* vertexSource;
    const char* pixelSource;
    const char* geometrySource;
    char** streamOutVaryings;
    uint32_t streamOutCount;
    uint32_t compileFlags;
    uint32_t esslLanguage;
    uint32_t padding1;
    const char* vertexPath;
    const char* pixelPath;
    const char* geometryPath;
    const char* quarnDirectory;
    uint64_t optimizationFlags;
    ShaderStats* pixelStats;
    ShaderStats* vertexStats;
    ShaderStats* geometryStats;
    ShaderStats* computeStats;
    const char* computeSource;
    const char* computePath;
    uint8_t reserved[64];
};
static_assert(sizeof(CompileRequest) == 208);
static_assert(offsetof(CompileRequest, abiVersion) == 0);
static_assert(offsetof(CompileRequest, padding0) == 4);
static_assert(offsetof(CompileRequest, vertexSource) == 8);
static_assert(offsetof(CompileRequest, pixelSource) == 16);
static_assert(offsetof(CompileRequest, geometrySource) == 24);
static_assert(offsetof(CompileRequest, streamOutVaryings) == 32);
static_assert(offsetof(CompileRequest, streamOutCount) == 40);
static_assert(offsetof(CompileRequest, compileFlags) == 44);
static_assert(offsetof(CompileRequest, esslLanguage) == 48);
static_assert(offsetof(CompileRequest, padding1) == 52);
static_assert(offsetof(CompileRequest, vertexPath) == 56);
static_assert(offsetof(CompileRequest, pixelPath) == 64);
static_assert(offsetof(CompileRequest, geometryPath) == 72);
static_assert(offsetof(CompileRequest, quarnDirectory) == 80);
static_assert(offsetof(CompileRequest, optimizationFlags) == 88);
static_assert(offsetof(CompileRequest, pixelStats) == 96);
static_assert(offsetof(CompileRequest, vertexStats) == 104);
static_assert(offsetof(CompileRequest, geometryStats) == 112);
static_assert(offsetof(CompileRequest, computeStats) == 120);
static_assert(offsetof(CompileRequest, computeSource) == 128);
static_assert(offsetof(CompileRequest, computePath) == 136);
static_assert(offsetof(CompileRequest, reserved) == 144);

// Stage records are opaque to the driver: it only passes their addresses on
// to the writer library.
struct VertexShaderRecord {
    uint8_t bytes[360];
};
struct PixelShaderRecord {
    uint8_t bytes[272];
};
struct GeometryShaderRecord {
    uint8_t bytes[240];
};
struct ComputeShaderRecord {
    uint8_t bytes[216];
};

// What the compiler fills. The part from offset 8 on is the compiled program
// that VRX2DestroyPT4Program3 releases; its address is that of
// compiledProgramAbiVersion.
struct CompiledShaderSet {
    uint32_t abiVersion;
    uint32_t unused0;
    uint32_t compiledProgramAbiVersion;
    uint32_t unused1;
    VertexShaderRecord vertexShader;
    PixelShaderRecord pixelShader;
    GeometryShaderRecord geometryShader;
    ComputeShaderRecord computeShader;
    const char* compileLog;
    const char* vertexDump;
    const char* geometryDump;
    const char* pixelDump;
    const char* computeDump;
    uint8_t unused2[32];
};
static_assert(sizeof(CompiledShaderSet) == 1176);
static_assert(offsetof(CompiledShaderSet, abiVersion) == 0);
static_assert(offsetof(CompiledShaderSet, unused0) == 4);
static_assert(offsetof(CompiledShaderSet, compiledProgramAbiVersion) == 8);
static_assert(offsetof(CompiledShaderSet, unused1) == 12);
static_assert(offsetof(CompiledShaderSet, vertexShader) == 16);
static_assert(offsetof(CompiledShaderSet, pixelShader) == 376);
static_assert(offsetof(CompiledShaderSet, geometryShader) == 648);
static_assert(offsetof(CompiledShaderSet, computeShader) == 888);
static_assert(offsetof(CompiledShaderSet, compileLog) == 1104);
static_assert(offsetof(CompiledShaderSet, vertexDump) == 1112);
static_assert(offsetof(CompiledShaderSet, geometryDump) == 1120);
static_assert(offsetof(CompiledShaderSet, pixelDump) == 1128);
static_assert(offsetof(CompiledShaderSet, computeDump) == 1136);
static_assert(offsetof(CompiledShaderSet, unused2) == 1144);

// Offset of the compiled program inside the set.
constexpr size_t kCompiledProgramOffset = offsetof(CompiledShaderSet, compiledProgramAbiVersion);

inline void* compiledProgramOf(CompiledShaderSet& set) {
    return &set.compiledProgramAbiVersion;
}
