#include "toolchain/mendrix/service/service_warm.h"

#include <cstring>
#include <string_view>

#include "toolchain/mendrix/compile_steps.h"

namespace mendrix {

namespace {

constexpr const char kSlotLetters[] = "vpgc";  // by slot: vertex, pixel, geometry, compute

// The smallest body each stage compiles.
constexpr const char* kTinyBodies[4] = {
    "void main() {}\n",
    "void main() {}\n",
    "layout(points) in;\nlayout(points, max_vertices = 1) out;\nvoid main() {}\n",
    "layout(local_size_x = 1) in;\nvoid main() {}\n",
};

std::string versionText(const VersionLine& version) {
    if (!version.found) {
        return "-";
    }
    std::string text = std::to_string(version.version);
    if (version.es && version.version != 100) {
        text += " es";
    }
    if (version.compatibility) {
        text += " compatibility";
    }
    return text;
}

// Only digits, letters and blanks: a shape never becomes more than a
// #version line.
bool plainVersion(std::string_view text) {
    for (char c : text) {
        if (!(c == ' ' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-')) {
            return false;
        }
    }
    return !text.empty() && text.size() < 32;
}

}  // namespace

std::string programShape(const std::vector<StageJob>& jobs) {
    std::string shape;
    for (const StageJob& job : jobs) {
        shape += kSlotLetters[job.storageIndex];
        shape += ' ';
        shape += versionText(job.version);
        shape += ';';
    }
    return shape;
}

std::vector<std::string> commonProgramShapes() {
    return {"v 450;p 450;", "v 330;p 330;", "v 300 es;p 300 es;", "v 310 es;p 310 es;",
            "c 430;",       "c 450;",       "v 450;g 450;p 450;"};
}

void warmProgramShape(const std::string& shape) {
    std::string texts[4];
    bool essl = false;
    size_t at = 0;
    while (at < shape.size()) {
        const size_t end = shape.find(';', at);
        if (end == std::string::npos || end - at < 3 || shape[at + 1] != ' ') {
            return;
        }
        const char* letter = std::strchr(kSlotLetters, shape[at]);
        const std::string_view version(shape.data() + at + 2, end - at - 2);
        if (letter == nullptr || *letter == '\0' || !plainVersion(version)) {
            return;
        }
        const size_t slot = static_cast<size_t>(letter - kSlotLetters);
        texts[slot] = (version == "-" ? std::string() : "#version " + std::string(version) + "\n") +
                      kTinyBodies[slot];
        essl = essl || version.ends_with(" es") || version == "100";
        at = end + 1;
    }
    CompileRequest request;
    std::memset(&request, 0, sizeof request);
    const char** sources[4] = {&request.vertexSource, &request.pixelSource, &request.geometrySource,
                               &request.computeSource};
    for (size_t slot = 0; slot < 4; ++slot) {
        *sources[slot] = texts[slot].empty() ? nullptr : texts[slot].c_str();
    }
    request.esslLanguage = essl ? 1 : 0;
    try {
        ProgramWork work;
        if (collectJobs(request, work.set, work.jobs, work.diagnostics)) {
            applyVersionPolicy(work.jobs, essl, work.diagnostics);
            compileJobs(request, 2, work.jobs, work.storage, work.diagnostics,
                        work.debugInfoStages);
        }
    } catch (...) {
        // Warming is an optimisation only.
    }
}

}  // namespace mendrix
