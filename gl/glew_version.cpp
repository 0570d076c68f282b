#include "gl/glew_version.h"

#include <GL/glew.h>

const char* GetGlewVersionText() {
    const GLubyte* text = glewGetString(GLEW_VERSION);
    return text ? reinterpret_cast<const char*>(text) : "";
}
