// The compile service's messages. A request carries everything that decides
// the compile's result: per stage its text, path, whether statistics are
// wanted and the include line map the client built; the handle's GPU
// version, flags, language, optimisation mask and stream-out names. The
// debug-file folder stays with the client, which writes that file.
//   request: uint32 "VRXQ", uint32 format version, uint64 body size, body
//   answer:  uint32 "VRXA", uint32 outcome, uint64 size, bytes: a cache
//            entry (cache_entry.h) of the compiled program, keyed by the
//            request's checksum, or the log of a failed compile
// The service sends one byte (kServiceStartedByte) first, as soon as it
// takes the request up. Decoders trust nothing: a short, long or damaged
// message is refused whole.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "libraries/compiler_records.h"
#include "toolchain/mendrix/cache/cache_key.h"
#include "toolchain/mendrix/front_end/line_map.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

constexpr uint32_t kServiceRequestMagic = 0x51585256u;  // "VRXQ"
constexpr uint32_t kServiceAnswerMagic = 0x41585256u;   // "VRXA"
constexpr uint32_t kServiceFormatVersion = 1;
constexpr size_t kServiceHeaderSize = 4 + 4 + 8;
constexpr char kServiceStartedByte = 'S';
// The largest message either side reads.
constexpr uint64_t kServiceMessageMaxBytes = uint64_t{256} << 20;

enum class ServiceAnswerKind : uint32_t {
    compiled = 1,  // a cache entry
    failed = 2,    // the failed compile's log
};

struct ServiceStage {
    bool present = false;
    std::string text;
    bool hasPath = false;
    std::string path;
    bool wantsStats = false;  // the request gives the stage a statistics block
    LineMap lineMap;
};

struct ServiceRequest {
    uint32_t gpuVersion = 0;
    uint32_t compileFlags = 0;
    uint32_t esslLanguage = 0;
    uint64_t optimizationFlags = 0;
    std::array<ServiceStage, 4> stages;  // by slot: vertex, pixel, geometry, compute
    std::vector<std::string> streamOutNames;
};

// The request of a compile whose jobs have their line maps and version
// policy applied. Every job's slot (storageIndex) names its stage.
std::string encodeServiceRequest(const CompileRequest& request, uint32_t gpuVersion,
                                 const std::vector<StageJob>& jobs);

// The body of a whole message (after its header); false for anything but
// a complete message of `magic` and this format version.
bool bodyOfMessage(std::string_view message, uint32_t magic, std::string_view& body);

// Size of the message whose header `header` (kServiceHeaderSize bytes) is;
// 0 when the header is not one of `magic` or the size is beyond the bound.
uint64_t messageSizeFromHeader(std::string_view header, uint32_t magic);

bool decodeServiceRequest(std::string_view message, ServiceRequest& request);

// The key a compiled answer carries: the checksum of the request message.
CacheKey serviceAnswerKey(std::string_view requestMessage);

std::string encodeServiceAnswer(ServiceAnswerKind kind, std::string_view bytes);
bool decodeServiceAnswer(std::string_view message, ServiceAnswerKind& kind,
                         std::string_view& bytes);

// A CompileRequest that points into a decoded request, for the compiler.
struct RequestView {
    CompileRequest request{};
    std::array<ShaderStats, 4> stats{};
    std::vector<char*> names;
};

void viewServiceRequest(ServiceRequest& decoded, RequestView& view);

}  // namespace mendrix
