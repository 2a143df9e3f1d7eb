// The compile service's request reader on any bytes. What it accepts must
// be safe to compile: every line map segment names a file the map holds and
// the #line split lies inside its text, and the compile request made from
// it points only into the decoded record.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "toolchain/mendrix/service/service_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    mendrix::ServiceRequest request;
    if (!mendrix::decodeServiceRequest(bytes, request)) {
        return 0;
    }
    for (const mendrix::ServiceStage& stage : request.stages) {
        FUZZ_CHECK(stage.lineMap.lineDirectiveOffset <= stage.text.size());
        FUZZ_CHECK(std::strlen(stage.text.c_str()) == stage.text.size());
        for (const mendrix::LineSegment& segment : stage.lineMap.segments) {
            FUZZ_CHECK(segment.fileIndex < stage.lineMap.files.size());
        }
    }
    mendrix::RequestView view;
    mendrix::viewServiceRequest(request, view);
    FUZZ_CHECK(view.request.streamOutCount == request.streamOutNames.size());
    return 0;
}
