#include "gl/gl_check.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "gl/glew_table.h"

uint32_t TakeOpenGLError() {
    uint32_t first = glGetError();
    if (first == GL_NO_ERROR) return 0;
    // A lost context answers an error forever: stop after a few.
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    return first;
}

bool CheckOpenGL(uint32_t line, const char* caption, const char* format, ...) {
    uint32_t code = TakeOpenGLError();
    if (code == 0) return true;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    OpenGLDebugEvent(line, code).Report(OS_MB_ICONERROR, caption, "%s", text);
    return false;
}

void ReportSystemError(uint32_t line, const char* format, ...) {
    uint32_t code = GetLastError();
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    DebugEvent(line, SYSTEM_ERROR, code).Report(OS_MB_ICONERROR, GL_CAPTION_SYSTEM, "%s", text);
}
