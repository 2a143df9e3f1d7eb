// The OpenGL entry points the runner calls, bound by name through EGL once a
// context exists. Core entry points come with their prototypes' types from
// glcorearb.h; the few of the compatibility profile are declared here.
#pragma once

#include <GL/glcorearb.h>

#include <string>

namespace gl_runner {

using PfnEnableClientState = void(APIENTRYP)(GLenum array);
using PfnTexCoordPointer = void(APIENTRYP)(GLint size, GLenum type, GLsizei stride,
                                           const void* pointer);
using PfnMatrixMode = void(APIENTRYP)(GLenum mode);
using PfnLoadIdentity = void(APIENTRYP)();
using PfnOrtho = void(APIENTRYP)(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top,
                                 GLdouble nearValue, GLdouble farValue);

// X(type, name): every entry point, in the order they are bound.
#define GL_RUNNER_FUNCTIONS(X)                                       \
    X(PFNGLGETSTRINGPROC, glGetString)                               \
    X(PFNGLGETSTRINGIPROC, glGetStringi)                             \
    X(PFNGLGETINTEGERVPROC, glGetIntegerv)                           \
    X(PFNGLGETERRORPROC, glGetError)                                 \
    X(PFNGLVIEWPORTPROC, glViewport)                                 \
    X(PFNGLCLEARCOLORPROC, glClearColor)                             \
    X(PFNGLCLEARPROC, glClear)                                       \
    X(PFNGLREADPIXELSPROC, glReadPixels)                             \
    X(PFNGLPIXELSTOREIPROC, glPixelStorei)                           \
    X(PFNGLENABLEPROC, glEnable)                                     \
    X(PFNGLDISABLEPROC, glDisable)                                   \
    X(PFNGLFINISHPROC, glFinish)                                     \
    X(PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffers)                   \
    X(PFNGLDELETEFRAMEBUFFERSPROC, glDeleteFramebuffers)             \
    X(PFNGLBINDFRAMEBUFFERPROC, glBindFramebuffer)                   \
    X(PFNGLGENRENDERBUFFERSPROC, glGenRenderbuffers)                 \
    X(PFNGLDELETERENDERBUFFERSPROC, glDeleteRenderbuffers)           \
    X(PFNGLBINDRENDERBUFFERPROC, glBindRenderbuffer)                 \
    X(PFNGLRENDERBUFFERSTORAGEPROC, glRenderbufferStorage)           \
    X(PFNGLFRAMEBUFFERRENDERBUFFERPROC, glFramebufferRenderbuffer)   \
    X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, glCheckFramebufferStatus)     \
    X(PFNGLCREATESHADERPROC, glCreateShader)                         \
    X(PFNGLDELETESHADERPROC, glDeleteShader)                         \
    X(PFNGLSHADERSOURCEPROC, glShaderSource)                         \
    X(PFNGLCOMPILESHADERPROC, glCompileShader)                       \
    X(PFNGLSHADERBINARYPROC, glShaderBinary)                         \
    X(PFNGLSPECIALIZESHADERARBPROC, glSpecializeShaderARB)           \
    X(PFNGLGETSHADERIVPROC, glGetShaderiv)                           \
    X(PFNGLGETSHADERINFOLOGPROC, glGetShaderInfoLog)                 \
    X(PFNGLCREATEPROGRAMPROC, glCreateProgram)                       \
    X(PFNGLDELETEPROGRAMPROC, glDeleteProgram)                       \
    X(PFNGLATTACHSHADERPROC, glAttachShader)                         \
    X(PFNGLBINDATTRIBLOCATIONPROC, glBindAttribLocation)             \
    X(PFNGLLINKPROGRAMPROC, glLinkProgram)                           \
    X(PFNGLGETPROGRAMIVPROC, glGetProgramiv)                         \
    X(PFNGLGETPROGRAMINFOLOGPROC, glGetProgramInfoLog)               \
    X(PFNGLUSEPROGRAMPROC, glUseProgram)                             \
    X(PFNGLGETUNIFORMLOCATIONPROC, glGetUniformLocation)             \
    X(PFNGLGETATTRIBLOCATIONPROC, glGetAttribLocation)               \
    X(PFNGLUNIFORM1FVPROC, glUniform1fv)                             \
    X(PFNGLUNIFORM2FVPROC, glUniform2fv)                             \
    X(PFNGLUNIFORM3FVPROC, glUniform3fv)                             \
    X(PFNGLUNIFORM4FVPROC, glUniform4fv)                             \
    X(PFNGLUNIFORM1IVPROC, glUniform1iv)                             \
    X(PFNGLUNIFORM2IVPROC, glUniform2iv)                             \
    X(PFNGLUNIFORM3IVPROC, glUniform3iv)                             \
    X(PFNGLUNIFORM4IVPROC, glUniform4iv)                             \
    X(PFNGLUNIFORM1UIVPROC, glUniform1uiv)                           \
    X(PFNGLUNIFORM2UIVPROC, glUniform2uiv)                           \
    X(PFNGLUNIFORM3UIVPROC, glUniform3uiv)                           \
    X(PFNGLUNIFORM4UIVPROC, glUniform4uiv)                           \
    X(PFNGLUNIFORM1DVPROC, glUniform1dv)                             \
    X(PFNGLUNIFORM2DVPROC, glUniform2dv)                             \
    X(PFNGLUNIFORM3DVPROC, glUniform3dv)                             \
    X(PFNGLUNIFORM4DVPROC, glUniform4dv)                             \
    X(PFNGLUNIFORMMATRIX2FVPROC, glUniformMatrix2fv)                 \
    X(PFNGLUNIFORMMATRIX3FVPROC, glUniformMatrix3fv)                 \
    X(PFNGLUNIFORMMATRIX4FVPROC, glUniformMatrix4fv)                 \
    X(PFNGLUNIFORMMATRIX2X3FVPROC, glUniformMatrix2x3fv)             \
    X(PFNGLUNIFORMMATRIX2X4FVPROC, glUniformMatrix2x4fv)             \
    X(PFNGLUNIFORMMATRIX3X2FVPROC, glUniformMatrix3x2fv)             \
    X(PFNGLUNIFORMMATRIX3X4FVPROC, glUniformMatrix3x4fv)             \
    X(PFNGLUNIFORMMATRIX4X2FVPROC, glUniformMatrix4x2fv)             \
    X(PFNGLUNIFORMMATRIX4X3FVPROC, glUniformMatrix4x3fv)             \
    X(PFNGLUNIFORMMATRIX2DVPROC, glUniformMatrix2dv)                 \
    X(PFNGLUNIFORMMATRIX3DVPROC, glUniformMatrix3dv)                 \
    X(PFNGLUNIFORMMATRIX4DVPROC, glUniformMatrix4dv)                 \
    X(PFNGLUNIFORMMATRIX2X3DVPROC, glUniformMatrix2x3dv)             \
    X(PFNGLUNIFORMMATRIX2X4DVPROC, glUniformMatrix2x4dv)             \
    X(PFNGLUNIFORMMATRIX3X2DVPROC, glUniformMatrix3x2dv)             \
    X(PFNGLUNIFORMMATRIX3X4DVPROC, glUniformMatrix3x4dv)             \
    X(PFNGLUNIFORMMATRIX4X2DVPROC, glUniformMatrix4x2dv)             \
    X(PFNGLUNIFORMMATRIX4X3DVPROC, glUniformMatrix4x3dv)             \
    X(PFNGLGENVERTEXARRAYSPROC, glGenVertexArrays)                   \
    X(PFNGLDELETEVERTEXARRAYSPROC, glDeleteVertexArrays)             \
    X(PFNGLBINDVERTEXARRAYPROC, glBindVertexArray)                   \
    X(PFNGLGENBUFFERSPROC, glGenBuffers)                             \
    X(PFNGLDELETEBUFFERSPROC, glDeleteBuffers)                       \
    X(PFNGLBINDBUFFERPROC, glBindBuffer)                             \
    X(PFNGLBUFFERDATAPROC, glBufferData)                             \
    X(PFNGLVERTEXATTRIBPOINTERPROC, glVertexAttribPointer)           \
    X(PFNGLVERTEXATTRIBIPOINTERPROC, glVertexAttribIPointer)         \
    X(PFNGLVERTEXATTRIBLPOINTERPROC, glVertexAttribLPointer)         \
    X(PFNGLENABLEVERTEXATTRIBARRAYPROC, glEnableVertexAttribArray)   \
    X(PFNGLDISABLEVERTEXATTRIBARRAYPROC, glDisableVertexAttribArray) \
    X(PFNGLDRAWARRAYSPROC, glDrawArrays)                             \
    X(PFNGLACTIVETEXTUREPROC, glActiveTexture)                       \
    X(PFNGLGENTEXTURESPROC, glGenTextures)                           \
    X(PFNGLDELETETEXTURESPROC, glDeleteTextures)                     \
    X(PFNGLBINDTEXTUREPROC, glBindTexture)                           \
    X(PFNGLTEXIMAGE2DPROC, glTexImage2D)                             \
    X(PFNGLTEXPARAMETERIPROC, glTexParameteri)                       \
    X(PFNGLDRAWARRAYSINSTANCEDPROC, glDrawArraysInstanced)           \
    X(PfnEnableClientState, glEnableClientState)                     \
    X(PfnEnableClientState, glDisableClientState)                    \
    X(PfnTexCoordPointer, glTexCoordPointer)                         \
    X(PfnMatrixMode, glMatrixMode)                                   \
    X(PfnLoadIdentity, glLoadIdentity)                               \
    X(PfnOrtho, glOrtho)

struct GlFunctions {
#define GL_RUNNER_SLOT(type, name) type name = nullptr;
    GL_RUNNER_FUNCTIONS(GL_RUNNER_SLOT)
#undef GL_RUNNER_SLOT
};

// Binds every slot through eglGetProcAddress. False, naming the first entry
// point the driver lacks, when one is missing.
bool bindGlFunctions(GlFunctions& functions, std::string& missing);

}  // namespace gl_runner
