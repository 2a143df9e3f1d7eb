#include "toolchain/gl_runner/gl_context.h"

#include <EGL/eglext.h>

#include <cstring>

namespace gl_runner {

GlDisplay::~GlDisplay() {
    if (display != EGL_NO_DISPLAY) {
        eglTerminate(display);
    }
}

bool GlDisplay::open(std::string& error) {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) {
        error = "EGL has no eglGetPlatformDisplayEXT";
        return false;
    }
    display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (display == EGL_NO_DISPLAY || eglInitialize(display, &major, &minor) == EGL_FALSE) {
        display = EGL_NO_DISPLAY;
        error = "no EGL display on the surfaceless platform";
        return false;
    }
    return true;
}

GlContext::~GlContext() {
    if (context == EGL_NO_CONTEXT) {
        return;
    }
    if (framebuffer != 0) {
        functions.glDeleteFramebuffers(1, &framebuffer);
        functions.glDeleteRenderbuffers(2, renderbuffers);
    }
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
}

bool GlContext::open(const GlDisplay& owner, Profile profile, int width, int height,
                     std::string& error) {
    display = owner.handle();
    if (eglBindAPI(EGL_OPENGL_API) == EGL_FALSE) {
        error = "EGL cannot bind the OpenGL API";
        return false;
    }
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                 4,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 5,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 profile == Profile::core
                                     ? EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT
                                     : EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                 EGL_NONE};
    context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT ||
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_FALSE) {
        error = "no OpenGL 4.5 context";
        return false;
    }
    if (!bindGlFunctions(functions, error)) {
        error = "the driver lacks " + error;
        return false;
    }
    const GlFunctions& gl = functions;
    gl.glGenRenderbuffers(2, renderbuffers);
    gl.glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
    gl.glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    gl.glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
    gl.glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    gl.glGenFramebuffers(1, &framebuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                 renderbuffers[0]);
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                 renderbuffers[1]);
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        error = "the framebuffer is not complete";
        return false;
    }
    gl.glViewport(0, 0, width, height);
    targetWidth = width;
    targetHeight = height;
    contextProfile = profile;
    return true;
}

bool GlContext::hasExtension(const std::string& name) const {
    GLint count = 0;
    functions.glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint index = 0; index < count; ++index) {
        const auto* extension = reinterpret_cast<const char*>(
            functions.glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(index)));
        if (extension != nullptr && name == extension) {
            return true;
        }
    }
    return false;
}

}  // namespace gl_runner
