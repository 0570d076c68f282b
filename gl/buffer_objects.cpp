#include "gl/buffer_objects.h"

#include "gl/gl_context.h"

namespace {
bool CoreBuffers() {
    const OpenGLCapabilities* caps = CurrentOpenGLCapabilities();
    return !caps || caps->version15;
}
}  // namespace

void GenBuffer(GLuint* name) { CoreBuffers() ? glGenBuffers(1, name) : glGenBuffersARB(1, name); }

void DeleteBuffer(GLuint* name) {
    if (*name) CoreBuffers() ? glDeleteBuffers(1, name) : glDeleteBuffersARB(1, name);
    *name = 0;
}

void BindBuffer(GLenum target, GLuint name) {
    CoreBuffers() ? glBindBuffer(target, name) : glBindBufferARB(target, name);
}

void BufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage) {
    CoreBuffers() ? glBufferData(target, size, data, usage) : glBufferDataARB(target, size, data, usage);
}

void BufferSubData(GLenum target, GLsizeiptr size, const void* data) {
    CoreBuffers() ? glBufferSubData(target, 0, size, data) : glBufferSubDataARB(target, 0, size, data);
}

void* MapBuffer(GLenum target, GLenum access) {
    return CoreBuffers() ? glMapBuffer(target, access) : glMapBufferARB(target, access);
}

bool UnmapBuffer(GLenum target) { return (CoreBuffers() ? glUnmapBuffer(target) : glUnmapBufferARB(target)) == GL_TRUE; }
