// A headless OpenGL 4.5 context on the EGL surfaceless platform, drawing
// into a framebuffer object of the test's size (8-bit RGBA colour, 24-bit
// depth and 8-bit stencil), which stays bound.
#pragma once

#include <EGL/egl.h>

#include <string>

#include "toolchain/gl_runner/gl_functions.h"

namespace gl_runner {

enum class Profile { compatibility, core };

// The EGL display, initialised once for every context of the process.
class GlDisplay {
public:
    GlDisplay() = default;
    ~GlDisplay();
    GlDisplay(const GlDisplay&) = delete;
    GlDisplay& operator=(const GlDisplay&) = delete;

    // False, with the reason, when EGL or its surfaceless platform is missing.
    bool open(std::string& error);
    EGLDisplay handle() const { return display; }

private:
    EGLDisplay display = EGL_NO_DISPLAY;
};

// One context, current while it lives, with its framebuffer.
class GlContext {
public:
    GlContext() = default;
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    bool open(const GlDisplay& display, Profile profile, int width, int height, std::string& error);

    const GlFunctions& gl() const { return functions; }
    int width() const { return targetWidth; }
    int height() const { return targetHeight; }
    Profile profile() const { return contextProfile; }
    // The context's extensions hold `name` (for example "GL_ARB_gl_spirv").
    bool hasExtension(const std::string& name) const;

private:
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GlFunctions functions;
    GLuint framebuffer = 0;
    GLuint renderbuffers[2] = {0, 0};
    int targetWidth = 0;
    int targetHeight = 0;
    Profile contextProfile = Profile::compatibility;
};

}  // namespace gl_runner
