#include "gl/glew_version.h"

#include "gl/glew_table.h"

const char* GetGlewVersionText() {
    const GLubyte* text = glewGetString(GLEW_VERSION);
    return text ? reinterpret_cast<const char*>(text) : "";
}
