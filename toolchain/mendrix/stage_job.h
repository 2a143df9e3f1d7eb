// What one compile works on: a job per stage of the request, the front end's
// runs over them, and the storage the compiled set points into.
#pragma once

#include <glslang/Public/ShaderLang.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "libraries/compiler_records.h"
#include "toolchain/common/stage_record.h"
#include "toolchain/mendrix/cache/cache_store.h"
#include "toolchain/mendrix/front_end/diagnostics.h"
#include "toolchain/mendrix/front_end/line_map.h"
#include "toolchain/mendrix/front_end/version_line.h"

namespace mendrix {

// Everything one compile hands out through the set, released as one.
struct StageStorage {
    std::vector<uint8_t> binary;
    std::vector<uint8_t> reflection;
    std::string path;
    std::string dump;
};

struct ProgramStorage {
    std::string log;
    std::array<StageStorage, 4> stages;
    PendingCacheStore pendingStore;  // stored when the program is released
};

struct StageJob {
    toolchain::StageKind kind = toolchain::kStageAbsent;
    EShLanguage language = EShLangVertex;
    const char* stageName = nullptr;  // for the log and the debug file
    const char* source = nullptr;
    const char* requestPath = nullptr;
    ShaderStats* stats = nullptr;
    uint8_t* slot = nullptr;
    const char** dumpField = nullptr;
    size_t storageIndex = 0;

    std::string label;  // the path the log names
    // Where each line of `source` came from (files and line segments); see
    // serializeLineMap for its bytes.
    LineMap lineMap;
    VersionLine version;
    bool spirv = false;
    int length = 0;  // of `source`, once the version policy has measured it
    // The strings the front end reads: `source` up to the first #line
    // directive under `label`, and the rest (if any) under
    // kAfterLineDirective. The front end keeps these pointers until the
    // program is gone.
    std::array<const char*, 2> strings{};
    std::array<int, 2> stringLengths{};
    std::array<const char*, 2> stringNames{};
    int stringCount = 0;
};

// The front end's name for the part of a text from its first #line directive
// on; diagnostics located there keep the front end's numbering.
constexpr const char* kAfterLineDirective = "(after #line)";

// One run of the front end over all stages, in SPIR-V mode or plain.
struct FrontEndRun {
    std::vector<std::unique_ptr<glslang::TShader>> shaders;  // parallel to the jobs
    std::unique_ptr<glslang::TProgram> program;              // destroyed before the shaders
    Diagnostics diagnostics;
    // Loose uniforms' layout(location), as declared (before mapping).
    std::map<std::string, int32_t> declaredUniformLocations;
    bool ok = false;
};

}  // namespace mendrix
