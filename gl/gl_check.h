// OpenGL error checks: after a group of OpenGL calls, read glGetError and,
// when it is set, report through OpenGLDebugEvent with the site's line.
#pragma once

#include <cstdint>

#include "support/debug_log.h"

#define GL_CAPTION_UNEXPECTED DEBUG_CAPTION_UNEXPECTED
#define GL_CAPTION_UNEXPECTED_LOWER DEBUG_CAPTION_UNEXPECTED_LOWER
#define GL_CAPTION_SYSTEM "Debug - Unexpected Error"

// True when no error was pending. Otherwise reports the first error (with the
// error icon and `caption`), clears the rest, and returns false.
bool CheckOpenGL(uint32_t line, const char* caption, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Reads and clears every pending error; returns the first (0 when none).
uint32_t TakeOpenGLError();
// A System Error with GetLastError() under "Debug - Unexpected Error".
void ReportSystemError(uint32_t line, const char* format, ...) __attribute__((format(printf, 2, 3)));

#define GL_OK(...) CheckOpenGL(__LINE__, GL_CAPTION_UNEXPECTED, __VA_ARGS__)
