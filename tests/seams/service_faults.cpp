// The tests' definition of the service's seam: a program whose text holds
// a marker crashes or hangs the child that compiles it.
#include <cstdlib>
#include <cstring>
#include <thread>

#include "toolchain/mendrix/service/service_seams.h"

namespace mendrix {

void beforeServiceCompile(const CompileRequest& request) {
    const char* texts[] = {request.vertexSource, request.pixelSource, request.geometrySource,
                           request.computeSource};
    for (const char* text : texts) {
        if (text != nullptr && std::strstr(text, "service-test: abort") != nullptr) {
            std::abort();
        }
        if (text != nullptr && std::strstr(text, "service-test: hang") != nullptr) {
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
    }
}

}  // namespace mendrix
