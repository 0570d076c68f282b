// A real OpenGL context for the Wine tests: a pop-up window of the asked size,
// the pixel format the preview would choose (or the software one), and the
// drawing settings of an optimisation setting. Registry settings go to a test
// key under HKCU.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "tests/test_support.h"

struct GLTestContext {
    HWND window = nullptr;
    OpenGLContext context = {};
    bool accelerated = false;
    int width = 0, height = 0;

    // softwareOnly picks the generic bitmap format (a bitmap context of its own).
    bool Open(int w, int h, uint32_t setting, bool softwareOnly) {
        CapturedReports reports;
        bool opened = OpenContext(w, h, setting, softwareOnly);
        if (!opened)
            for (const std::string& line : reports.Lines()) std::fprintf(stderr, "%s", line.c_str());
        return opened;
    }
    bool OpenContext(int w, int h, uint32_t setting, bool softwareOnly) {
        static const char kClass[] = "RaylumeGLTest";
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassA(&wc);
        width = w;
        height = h;
        window = CreateWindowExA(0, kClass, "", WS_POPUP, 0, 0, w, h, nullptr, nullptr, wc.hInstance, nullptr);
        if (!window) return false;
        PIXELFORMATDESCRIPTOR pfd = {};
        int format = SelectPixelFormat(window, softwareOnly, &pfd, &accelerated);
        if (!format) return false;
        RECT client = {0, 0, w, h};
        bool made = accelerated ? CreateScreenContext(&context, window, client, format, pfd)
                                : CreateBitmapContextWithBitmap(&context, window, client, format, pfd);
        if (!made) return false;
        SetOpenGLRegistryKeyForTesting("Software\\RaylumeTests\\OpenGLSettings");
        ResetDrawingSettingsForTesting();
        SetGPUAccelerated(accelerated);
        OpenGLRegistry().optimizationSetting = setting;
        return InitializeOpenGLDrawingSettings();
    }
    void Close() {
        if (context.type != OPENGL_CONTEXT_NONE) ReleaseOpenGLContext(&context);
        if (window) DestroyWindow(window);
        window = nullptr;
        SetOpenGLRegistryKeyForTesting(nullptr);
    }
    ~GLTestContext() { Close(); }

    // The window's pixels as RGBA bytes, top row first.
    std::vector<uint8_t> ReadPixels(int x, int y, int w, int h) {
        glFinish();
        std::vector<uint8_t> bottomUp(static_cast<size_t>(w) * h * 4), out(bottomUp.size());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, height - y - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
        for (int r = 0; r < h; ++r)
            std::copy_n(&bottomUp[static_cast<size_t>(h - 1 - r) * w * 4], static_cast<size_t>(w) * 4,
                        &out[static_cast<size_t>(r) * w * 4]);
        return out;
    }
};
