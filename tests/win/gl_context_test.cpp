// The OpenGL layer on real contexts under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "tests/test_support.h"

TEST(OpenGLContexts, HiddenContextDraws) {
    OpenGLContext context;
    PIXELFORMATDESCRIPTOR pfd;
    bool accelerated = true;
    ASSERT_TRUE(CreateHiddenOpenGLContext(&context, &pfd, &accelerated));
    EXPECT_EQ(context.type, OPENGL_CONTEXT_WINDOW);
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    uint8_t pixel[4] = {};
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_EQ(pixel[0], 255);
    EXPECT_EQ(CountGLEWContexts(), 1);
    DestroyHiddenOpenGLContext(&context);
    EXPECT_EQ(CountGLEWContexts(), 0);
}
