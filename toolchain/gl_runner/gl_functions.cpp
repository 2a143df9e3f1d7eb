#include "toolchain/gl_runner/gl_functions.h"

#include <EGL/egl.h>

namespace gl_runner {

bool bindGlFunctions(GlFunctions& functions, std::string& missing) {
    bool complete = true;
    auto bind = [&](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(eglGetProcAddress(name));
        if (slot == nullptr && complete) {
            missing = name;
            complete = false;
        }
    };
#define GL_RUNNER_BIND(type, name) bind(functions.name, #name);
    GL_RUNNER_FUNCTIONS(GL_RUNNER_BIND)
#undef GL_RUNNER_BIND
    return complete;
}

}  // namespace gl_runner
