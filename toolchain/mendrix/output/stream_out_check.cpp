#include "toolchain/mendrix/output/stream_out_check.h"

#include <string>
#include <string_view>

namespace mendrix {

namespace {

// Names that the last stage before rasterisation always offers to stream-out,
// and the markers that stream-out lists may hold.
bool isBuiltInStreamOutName(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "gl_Position",        "gl_PointSize",       "gl_ClipDistance",    "gl_CullDistance",
        "gl_ClipVertex",      "gl_Layer",           "gl_ViewportIndex",   "gl_PrimitiveID",
        "gl_NextBuffer",      "gl_SkipComponents1", "gl_SkipComponents2", "gl_SkipComponents3",
        "gl_SkipComponents4",
    };
    for (std::string_view known : kNames) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

// The output a stream-out name refers to, or null. "name[3]" refers to
// "name"; a block member may be named "Block.member" or "member".
const ReflectionEntry* findOutput(const std::vector<ReflectionEntry>& outputs,
                                  std::string_view name) {
    size_t bracket = name.find('[');
    std::string_view base = name.substr(0, bracket);
    for (const ReflectionEntry& output : outputs) {
        std::string_view declared = output.name;
        if (declared == base) {
            return &output;
        }
        size_t dot = declared.find('.');
        if (dot != std::string_view::npos && declared.substr(dot + 1) == base) {
            return &output;
        }
    }
    return nullptr;
}

}  // namespace

const StageJob* streamOutStageOf(const std::vector<StageJob>& jobs) {
    const StageJob* stage = nullptr;
    for (const StageJob& job : jobs) {
        if (job.kind == toolchain::kStageVertex || job.kind == toolchain::kStageGeometry) {
            stage = &job;
        }
    }
    return stage;
}

std::vector<ReflectionEntry> checkStreamOut(const CompileRequest& request,
                                            const std::vector<StageJob>& jobs,
                                            const glslang::TProgram& program,
                                            Diagnostics& diagnostics) {
    std::vector<ReflectionEntry> streamOut;
    if (request.streamOutCount == 0) {
        return streamOut;
    }
    const StageJob* stage = streamOutStageOf(jobs);
    if (stage == nullptr) {
        diagnostics.warning(jobs.front().label, 0,
                            "stream-out varyings ignored: the program has no vertex or "
                            "geometry stage");
        return streamOut;
    }
    if (request.streamOutVaryings == nullptr) {
        diagnostics.error(stage->label, 0, "stream-out list missing");
        return streamOut;
    }
    StageInterface interface = collectStageInterface(*program.getIntermediate(stage->language));
    for (uint32_t i = 0; i < request.streamOutCount; ++i) {
        const char* name = request.streamOutVaryings[i];
        std::string_view text = name != nullptr ? name : "";
        const ReflectionEntry* output = findOutput(interface.outputs, text);
        if (output == nullptr && !isBuiltInStreamOutName(text.substr(0, text.find('[')))) {
            diagnostics.error(stage->label, 0,
                              "stream-out varying '" + std::string(text) +
                                  "' is not an output of the " + stage->stageName + " shader");
            continue;
        }
        streamOut.push_back({toolchain::kReflectStreamOut, static_cast<int32_t>(i),
                             output != nullptr ? output->type : 0, 1, std::string(text)});
    }
    return streamOut;
}

}  // namespace mendrix
