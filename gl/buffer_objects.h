// Buffer objects (vertex, element and pixel buffers) through the core entry
// points on OpenGL 1.5 and later, or the ARB ones on OpenGL 1.4 with
// GL_ARB_vertex_buffer_object, whichever the current context has.
#pragma once

#include "gl/glew_table.h"

void GenBuffer(GLuint* name);
// Deletes the buffer when there is one and sets the name to 0.
void DeleteBuffer(GLuint* name);
void BindBuffer(GLenum target, GLuint name);
void BufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage);
// Replaces `size` bytes from the start of the bound buffer.
void BufferSubData(GLenum target, GLsizeiptr size, const void* data);
void* MapBuffer(GLenum target, GLenum access);
bool UnmapBuffer(GLenum target);
