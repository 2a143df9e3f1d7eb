#include "toolchain/mendrix/service/service_request.h"

#include <cstring>

#include "toolchain/mendrix/cache/byte_fields.h"
#include "toolchain/mendrix/cache/cache_entry.h"

namespace mendrix {

namespace {

constexpr uint64_t kLastFallback = static_cast<uint64_t>(LineMapFallback::lineDirective);

std::string framed(uint32_t magic, uint32_t word, const std::string& body) {
    std::string message;
    message.reserve(kServiceHeaderSize + body.size());
    putNumber(message, magic, 4);
    putNumber(message, word, 4);
    putNumber(message, body.size(), 8);
    message += body;
    return message;
}

void putText(std::string& out, std::string_view text) {
    putBytes(out, text.data(), text.size());
}

void putLineMap(std::string& out, const LineMap& map) {
    putNumber(out, static_cast<uint64_t>(map.fallback), 1);
    putNumber(out, map.lineDirectiveLine, 4);
    putNumber(out, map.lineDirectiveOffset, 8);
    putNumber(out, map.files.size(), 4);
    for (const std::string& file : map.files) {
        putText(out, file);
    }
    putNumber(out, map.segments.size(), 4);
    for (const LineSegment& segment : map.segments) {
        putNumber(out, segment.firstTextLine, 4);
        putNumber(out, segment.lineCount, 4);
        putNumber(out, segment.fileIndex, 4);
        putNumber(out, static_cast<uint64_t>(segment.firstFileLine), 8);
    }
}

bool readText(ByteCursor& cursor, std::string& text) {
    std::string_view view;
    if (!cursor.view(view)) {
        return false;
    }
    text.assign(view);
    return true;
}

// A map that the client's buildLineMap could have made for `text`: every
// segment names a file it holds, and the #line split lies inside the text.
bool readLineMap(ByteCursor& cursor, const std::string& text, LineMap& map) {
    uint64_t fallback = 0;
    uint64_t directiveLine = 0;
    uint64_t directiveOffset = 0;
    uint64_t fileCount = 0;
    uint64_t segmentCount = 0;
    if (!cursor.number(fallback, 1) || fallback > kLastFallback ||
        !cursor.number(directiveLine, 4) || !cursor.number(directiveOffset, 8) ||
        directiveOffset > text.size() || !cursor.number(fileCount, 4) ||
        fileCount > cursor.rest.size() / 8) {
        return false;
    }
    map.fallback = static_cast<LineMapFallback>(fallback);
    map.lineDirectiveLine = static_cast<uint32_t>(directiveLine);
    map.lineDirectiveOffset = static_cast<size_t>(directiveOffset);
    map.files.resize(static_cast<size_t>(fileCount));
    for (std::string& file : map.files) {
        if (!readText(cursor, file)) {
            return false;
        }
    }
    if (!cursor.number(segmentCount, 4) || segmentCount > cursor.rest.size() / 20) {
        return false;
    }
    map.segments.resize(static_cast<size_t>(segmentCount));
    for (LineSegment& segment : map.segments) {
        uint64_t first = 0;
        uint64_t count = 0;
        uint64_t file = 0;
        uint64_t fileLine = 0;
        if (!cursor.number(first, 4) || !cursor.number(count, 4) || !cursor.number(file, 4) ||
            file >= fileCount || !cursor.number(fileLine, 8)) {
            return false;
        }
        segment = {static_cast<uint32_t>(first), static_cast<uint32_t>(count),
                   static_cast<uint32_t>(file), static_cast<int64_t>(fileLine)};
    }
    return true;
}

bool readStage(ByteCursor& cursor, ServiceStage& stage) {
    if (!cursor.flag(stage.present) || !readText(cursor, stage.text) ||
        !cursor.flag(stage.hasPath) || !readText(cursor, stage.path) ||
        !cursor.flag(stage.wantsStats) || !readLineMap(cursor, stage.text, stage.lineMap)) {
        return false;
    }
    // Texts and paths travel as C strings: no NUL inside.
    return stage.text.find('\0') == std::string::npos && stage.path.find('\0') == std::string::npos;
}

}  // namespace

std::string encodeServiceRequest(const CompileRequest& request, uint32_t gpuVersion,
                                 const std::vector<StageJob>& jobs) {
    std::string body;
    putNumber(body, gpuVersion, 4);
    putNumber(body, request.compileFlags, 4);
    putNumber(body, request.esslLanguage, 4);
    putNumber(body, request.optimizationFlags, 8);
    for (size_t slot = 0; slot < 4; ++slot) {
        const StageJob* job = nullptr;
        for (const StageJob& candidate : jobs) {
            job = candidate.storageIndex == slot ? &candidate : job;
        }
        static const LineMap noMap;
        putNumber(body, job != nullptr ? 1 : 0, 1);
        putText(body, job != nullptr ? std::string_view(job->source) : std::string_view());
        const bool hasPath = job != nullptr && job->requestPath != nullptr;
        putNumber(body, hasPath ? 1 : 0, 1);
        putText(body, hasPath ? std::string_view(job->requestPath) : std::string_view());
        putNumber(body, job != nullptr && job->stats != nullptr ? 1 : 0, 1);
        putLineMap(body, job != nullptr ? job->lineMap : noMap);
    }
    const uint32_t count = request.streamOutVaryings != nullptr ? request.streamOutCount : 0;
    putNumber(body, count, 4);
    for (uint32_t i = 0; i < count; ++i) {
        // A missing name is checked as an empty one.
        const char* name = request.streamOutVaryings[i];
        putText(body, name != nullptr ? name : "");
    }
    return framed(kServiceRequestMagic, kServiceFormatVersion, body);
}

uint64_t messageSizeFromHeader(std::string_view header, uint32_t magic) {
    ByteCursor cursor{header};
    uint64_t found = 0;
    uint64_t word = 0;
    uint64_t size = 0;
    if (!cursor.number(found, 4) || found != magic || !cursor.number(word, 4) ||
        !cursor.number(size, 8) || size > kServiceMessageMaxBytes - kServiceHeaderSize) {
        return 0;
    }
    return kServiceHeaderSize + size;
}

bool bodyOfMessage(std::string_view message, uint32_t magic, std::string_view& body) {
    if (message.size() < kServiceHeaderSize ||
        messageSizeFromHeader(message.substr(0, kServiceHeaderSize), magic) != message.size()) {
        return false;
    }
    body = message.substr(kServiceHeaderSize);
    return true;
}

bool decodeServiceRequest(std::string_view message, ServiceRequest& request) {
    std::string_view body;
    uint64_t version = 0;
    if (!bodyOfMessage(message, kServiceRequestMagic, body) ||
        !ByteCursor{message.substr(4)}.number(version, 4) || version != kServiceFormatVersion) {
        return false;
    }
    ByteCursor cursor{body};
    uint64_t gpu = 0;
    uint64_t flags = 0;
    uint64_t essl = 0;
    uint64_t count = 0;
    if (!cursor.number(gpu, 4) || !cursor.number(flags, 4) || !cursor.number(essl, 4) ||
        !cursor.number(request.optimizationFlags, 8)) {
        return false;
    }
    request.gpuVersion = static_cast<uint32_t>(gpu);
    request.compileFlags = static_cast<uint32_t>(flags);
    request.esslLanguage = static_cast<uint32_t>(essl);
    for (ServiceStage& stage : request.stages) {
        if (!readStage(cursor, stage)) {
            return false;
        }
    }
    if (!cursor.number(count, 4) || count > cursor.rest.size() / 8) {
        return false;
    }
    request.streamOutNames.resize(static_cast<size_t>(count));
    for (std::string& name : request.streamOutNames) {
        if (!readText(cursor, name) || name.find('\0') != std::string::npos) {
            return false;
        }
    }
    return cursor.rest.empty();
}

CacheKey serviceAnswerKey(std::string_view requestMessage) {
    return cacheEntryChecksum(requestMessage);
}

std::string encodeServiceAnswer(ServiceAnswerKind kind, std::string_view bytes) {
    return framed(kServiceAnswerMagic, static_cast<uint32_t>(kind), std::string(bytes));
}

bool decodeServiceAnswer(std::string_view message, ServiceAnswerKind& kind,
                         std::string_view& bytes) {
    uint64_t word = 0;
    if (!bodyOfMessage(message, kServiceAnswerMagic, bytes) ||
        !ByteCursor{message.substr(4)}.number(word, 4)) {
        return false;
    }
    kind = static_cast<ServiceAnswerKind>(word);
    return kind == ServiceAnswerKind::compiled || kind == ServiceAnswerKind::failed;
}

void viewServiceRequest(ServiceRequest& decoded, RequestView& view) {
    CompileRequest& request = view.request;
    std::memset(&request, 0, sizeof request);
    request.compileFlags = decoded.compileFlags;
    request.esslLanguage = decoded.esslLanguage;
    request.optimizationFlags = decoded.optimizationFlags;
    struct Fields {
        const char** source;
        const char** path;
        ShaderStats** stats;
    } const fields[4] = {
        {&request.vertexSource, &request.vertexPath, &request.vertexStats},
        {&request.pixelSource, &request.pixelPath, &request.pixelStats},
        {&request.geometrySource, &request.geometryPath, &request.geometryStats},
        {&request.computeSource, &request.computePath, &request.computeStats},
    };
    for (size_t slot = 0; slot < 4; ++slot) {
        ServiceStage& stage = decoded.stages[slot];
        if (!stage.present) {
            continue;
        }
        *fields[slot].source = stage.text.c_str();
        *fields[slot].path = stage.hasPath ? stage.path.c_str() : nullptr;
        *fields[slot].stats = stage.wantsStats ? &view.stats[slot] : nullptr;
    }
    view.names.clear();
    for (std::string& name : decoded.streamOutNames) {
        view.names.push_back(name.data());
    }
    request.streamOutVaryings = view.names.empty() ? nullptr : view.names.data();
    request.streamOutCount = static_cast<uint32_t>(view.names.size());
}

}  // namespace mendrix
