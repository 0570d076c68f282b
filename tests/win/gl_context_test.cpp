// Contexts, extension tables, drawing settings, texture formats and the
// registry settings on real OpenGL under Wine (Mesa: llvmpipe on the virtual
// display for window contexts, software for bitmap contexts).
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <set>
#include <string>

#include "gl/screen_bitmap.h"
#include "image/tracked_buffer.h"
#include "tests/test_support.h"
#include "tests/win/gl_test_support.h"

namespace {
const char kTestKey[] = "Software\\RaylumeTests\\OpenGLSettings";

HWND MakeWindow(int w, int h) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RaylumeGLTestKinds";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, w, h, nullptr, nullptr, wc.hInstance, nullptr);
}

uint32_t PixelAt(const void* bits, int width, int x, int y) {
    return static_cast<const uint32_t*>(bits)[static_cast<size_t>(y) * width + x] & 0x00FFFFFFu;
}
}  // namespace

TEST(OpenGLContexts, PixelFormatsForHardwareAndSoftware) {
    HWND window = MakeWindow(32, 32);
    ASSERT_NE(window, nullptr);
    PIXELFORMATDESCRIPTOR pfd;
    bool accelerated = false;
    ASSERT_GT(SelectPixelFormat(window, false, &pfd, &accelerated), 0);
    EXPECT_TRUE(accelerated);
    EXPECT_TRUE((pfd.dwFlags & PFD_DOUBLEBUFFER) && (pfd.dwFlags & PFD_DRAW_TO_WINDOW));
    EXPECT_FALSE(pfd.dwFlags & (PFD_GENERIC_FORMAT | PFD_GENERIC_ACCELERATED));
    EXPECT_EQ(pfd.cColorBits, 32);
    EXPECT_GT(pfd.cAlphaBits, 0);

    // Software only, and a machine whose only formats are generic, both take
    // the single-buffered GDI bitmap format.
    for (bool hideHardware : {false, true}) {
        CapturedReports reports;
        SetHardwarePixelFormatsHiddenForTesting(hideHardware);
        int format = SelectPixelFormat(window, !hideHardware, &pfd, &accelerated);
        SetHardwarePixelFormatsHiddenForTesting(false);
        ASSERT_GT(format, 0);
        EXPECT_FALSE(accelerated);
        EXPECT_TRUE((pfd.dwFlags & PFD_GENERIC_FORMAT) && (pfd.dwFlags & PFD_DRAW_TO_BITMAP) &&
                    (pfd.dwFlags & PFD_SUPPORT_GDI));
        EXPECT_FALSE(pfd.dwFlags & PFD_DOUBLEBUFFER);
        EXPECT_TRUE(reports.Contains("Selected pixel format = " + std::to_string(format) + ", GPU Acceleration = No."));
    }
    DestroyWindow(window);
}

TEST(OpenGLContexts, EachKindDrawsWhereItSays) {
    HWND window = MakeWindow(40, 30);
    ASSERT_NE(window, nullptr);
    RECT client = {0, 0, 40, 30};
    PIXELFORMATDESCRIPTOR pfd;
    bool accelerated = false;
    int hardware = SelectPixelFormat(window, false, &pfd, &accelerated);
    ASSERT_TRUE(accelerated);

    CapturedReports reports;
    OpenGLContext screen;
    ASSERT_TRUE(CreateScreenContext(&screen, window, client, hardware, pfd));
    EXPECT_EQ(screen.type, OPENGL_CONTEXT_WINDOW);
    EXPECT_TRUE(reports.Contains("OpenGL Implementation for Rendering Context"));
    EXPECT_TRUE(reports.Contains("     Available Extensions:\n          GL_"));
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    uint8_t rgba[4] = {};
    glReadPixels(39, 29, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    EXPECT_EQ(rgba[1], 255);
    EXPECT_EQ(rgba[0], 0);
    // The viewport and projection are the client rectangle's, y downwards.
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 40);
    EXPECT_EQ(viewport[3], 30);
    ReleaseOpenGLContext(&screen);
    EXPECT_EQ(screen.type, OPENGL_CONTEXT_NONE);
    EXPECT_EQ(wglGetCurrentContext(), nullptr);

    // A bitmap context of its own: the pixels land in its DIB (blue, green, red bytes).
    HWND plain = MakeWindow(40, 30);  // a window keeps its first pixel format
    int software = SelectPixelFormat(plain, true, &pfd, &accelerated);
    OpenGLContext own;
    ASSERT_TRUE(CreateBitmapContextWithBitmap(&own, plain, client, software, pfd));
    EXPECT_EQ(own.type, OPENGL_CONTEXT_BITMAP);
    EXPECT_EQ(own.bitmapHeader.bV5Height, 30);  // bottom-up rows
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
    EXPECT_EQ(PixelAt(own.bitmapBits, 40, 0, 0), 0x00FF0000u);
    EXPECT_EQ(PixelAt(own.bitmapBits, 40, 39, 29), 0x00FF0000u);
    ReleaseOpenGLContext(&own);

    // The preview's background bitmap: drawn into, then handed to the front.
    ASSERT_TRUE(InitializeScreenBitmapAccess());
    OpenGLContext background;
    ASSERT_TRUE(CreateBitmapContext(&background, plain, client, software, pfd));
    ASSERT_NE(BackScreenBitmap()->bits, nullptr);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
    EXPECT_EQ(PixelAt(BackScreenBitmap()->bits, 40, 20, 10), 0x000000FFu);
    ASSERT_TRUE(DetachBackgroundBitmap(background.deviceContext));
    PublishScreenBitmap();
    ASSERT_TRUE(WaitForScreenBitmap(1000));
    EXPECT_TRUE(TakeFrontWaiting());
    EXPECT_EQ(PixelAt(FrontScreenBitmap()->bits, 40, 20, 10), 0x000000FFu);
    ReleaseScreenBitmapMutex();
    ReleaseOpenGLContext(&background);
    ReleaseScreenBitmaps();
    EXPECT_EQ(CountGLEWContexts(), 0);
    DestroyWindow(plain);
    DestroyWindow(window);
}

TEST(OpenGLContexts, EveryContextHasItsOwnTableAndAFifthIsRefused) {
    OpenGLContext contexts[GLEW_CONTEXT_SLOTS + 1];
    PIXELFORMATDESCRIPTOR pfd;
    std::set<const void*> tables;
    for (int i = 0; i < GLEW_CONTEXT_SLOTS; ++i) {
        bool accelerated = true;
        ASSERT_TRUE(CreateHiddenOpenGLContext(&contexts[i], &pfd, &accelerated)) << i;
        tables.insert(glewGetContext());
        // The table really serves this context: an extension entry point works.
        GLuint buffer = 0;
        glGenBuffers(1, &buffer);
        EXPECT_NE(buffer, 0u);
        glDeleteBuffers(1, &buffer);
    }
    EXPECT_EQ(tables.size(), static_cast<size_t>(GLEW_CONTEXT_SLOTS));
    EXPECT_EQ(CountGLEWContexts(), GLEW_CONTEXT_SLOTS);
    {
        CapturedReports reports;
        bool accelerated = true;
        EXPECT_FALSE(CreateHiddenOpenGLContext(&contexts[GLEW_CONTEXT_SLOTS], &pfd, &accelerated));
        EXPECT_TRUE(reports.Contains("CreateGLEWContext() - The GLEW context descriptor array is full."));
        EXPECT_EQ(contexts[GLEW_CONTEXT_SLOTS].type, OPENGL_CONTEXT_NONE);
    }
    // Switching contexts switches tables.
    wglMakeCurrent(contexts[0].deviceContext, contexts[0].renderingContext);
    const void* first = glewGetContext();
    wglMakeCurrent(contexts[1].deviceContext, contexts[1].renderingContext);
    EXPECT_NE(glewGetContext(), first);
    for (int i = 0; i < GLEW_CONTEXT_SLOTS; ++i) DestroyHiddenOpenGLContext(&contexts[i]);
    EXPECT_EQ(CountGLEWContexts(), 0);
    // Without any context an extension call does nothing instead of crashing.
    GLuint buffer = 7;
    glGenBuffers(1, &buffer);
    EXPECT_EQ(buffer, 7u);
}

TEST(OpenGLDrawingSettings, QualityOnTheCardUsesEverythingAndKeepsSixteenBits) {
    GLTestContext gl;
    ASSERT_TRUE(gl.Open(64, 64, OPTIMIZE_FOR_QUALITY, false));
    const DrawingSettings& s = CurrentDrawingSettings();
    EXPECT_TRUE(s.useShaderProgram && s.useVertexBufferObjects && s.useFrameBufferObjects && s.usePixelBufferObjects);
    EXPECT_FALSE(s.useOffscreenBitmap || s.mustUsePowerOfTwoSizedTextures);
    EXPECT_EQ(OpenGLVersionNumber().substr(0, 2), "4.");

    // The 16- and 32-bit formats hold more than 256 levels: a 1024-step ramp
    // written as floats comes back with (nearly) every step distinct.
    for (const TextureFormat* f : {&TextureFormat16(), &TextureFormat32()}) {
        ASSERT_NE(f->internalFormat, TextureFormat8().internalFormat) << InternalFormatName(f->internalFormat);
        std::vector<float> ramp(1024 * 4);
        for (int i = 0; i < 1024; ++i) ramp[i * 4] = ramp[i * 4 + 1] = ramp[i * 4 + 2] = ramp[i * 4 + 3] = i / 1023.0f;
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, f->internalFormat, 1024, 1, 0, GL_RGBA, GL_FLOAT, ramp.data());
        std::vector<float> back(ramp.size());
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, back.data());
        std::set<float> levels;
        for (int i = 0; i < 1024; ++i) levels.insert(back[i * 4]);
        EXPECT_GT(levels.size(), 900u) << InternalFormatName(f->internalFormat);
        EXPECT_NEAR(back[512 * 4], 512 / 1023.0f, 1e-3);
        glDeleteTextures(1, &texture);
        EXPECT_EQ(glGetError(), 0u);
    }
    EXPECT_GE(TextureFormat16().bytesPerPixel, 8u);
    EXPECT_EQ(TextureFormat32().bytesPerPixel, 16u);
}

TEST(OpenGLDrawingSettings, SoftwareAndMicrosoftContextsStayWithTheBasics) {
    {
        GLTestContext gl;
        ASSERT_TRUE(gl.Open(32, 32, OPTIMIZE_NONE, true));
        const DrawingSettings& s = CurrentDrawingSettings();
        EXPECT_TRUE(s.useOffscreenBitmap && s.mustUsePowerOfTwoSizedTextures);
        EXPECT_FALSE(s.useShaderProgram || s.useVertexBufferObjects || s.useFrameBufferObjects ||
                     s.usePixelBufferObjects);
        EXPECT_EQ(TextureFormat8().bytesPerPixel, 4u);
    }
    // Microsoft's renderer keeps GL_RGBA8 for every depth, whatever it offers.
    OpenGLCapabilities microsoft;
    microsoft.vendor = "Microsoft Corporation";
    microsoft.renderer = "GDI Generic";
    microsoft.version = "1.1.0";
    microsoft.vendorRead = true;
    SetCapabilityOverrideForTesting(&microsoft);
    CapturedReports reports;
    GLTestContext gl;
    bool opened = gl.Open(32, 32, OPTIMIZE_FOR_QUALITY, false);
    SetCapabilityOverrideForTesting(nullptr);
    ASSERT_TRUE(opened);
    EXPECT_EQ(OpenGLVendorClass(), VENDOR_MICROSOFT);
    EXPECT_TRUE(CurrentDrawingSettings().mustUsePowerOfTwoSizedTextures);  // a 1.1 context
    for (const char* depth : {"8  bit", "16 bit", "32 bit"})
        EXPECT_TRUE(reports.Contains(std::string(depth) +
                                     " color: Format = GL_RGBA8, Pixel Depth = 4 bytes, Data Type = GL_UNSIGNED_BYTE"))
            << depth;
}

TEST(OpenGLRegistrySettings, RoundTripAndInstallation) {
    SetOpenGLRegistryKeyForTesting(kTestKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, (std::string(kTestKey) + "\\PerUser").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
    OpenGLRegistrySettings settings;
    settings.optimizationSetting = 3;
    ASSERT_TRUE(ReadOpenGLRegistryData(&settings));  // a new key: nothing stored yet
    EXPECT_EQ(settings.optimizationSetting, 0u);
    EXPECT_EQ(settings.installedProductVersion, "");
    settings.optimizationSetting = OPTIMIZE_FOR_SPEED;
    settings.installedProductVersion = "2.0.1.5";
    ASSERT_TRUE(WriteOpenGLRegistryData(&settings));
    OpenGLRegistrySettings back;
    ASSERT_TRUE(ReadOpenGLRegistryData(&back));
    EXPECT_EQ(back.optimizationSetting, OPTIMIZE_FOR_SPEED);
    EXPECT_EQ(back.lastStoredSetting, OPTIMIZE_FOR_SPEED);
    EXPECT_EQ(back.installedProductVersion, "2.0.1.5");

    InitializeBufferUsage();
    // Installing on a machine without acceleration turns a stored 2 into 4.
    SetHardwarePixelFormatsHiddenForTesting(true);
    EXPECT_TRUE(ConfigureOpenGLInstallation("2.0.2.0"));
    SetHardwarePixelFormatsHiddenForTesting(false);
    ASSERT_TRUE(ReadOpenGLRegistryData(&back));
    EXPECT_EQ(back.optimizationSetting, OPTIMIZE_NONE);
    EXPECT_EQ(back.installedProductVersion, "2.0.2.0");
    // 4 stays 4 even with acceleration; a stored 3 is kept on an accelerated card.
    EXPECT_TRUE(ConfigureOpenGLInstallation("2.0.2.1"));
    ASSERT_TRUE(ReadOpenGLRegistryData(&back));
    EXPECT_EQ(back.optimizationSetting, OPTIMIZE_NONE);
    back.optimizationSetting = OPTIMIZE_FOR_COMPATIBILITY;
    ASSERT_TRUE(WriteOpenGLRegistryData(&back));
    EXPECT_TRUE(ConfigureOpenGLInstallation("2.0.2.2"));
    ASSERT_TRUE(ReadOpenGLRegistryData(&back));
    EXPECT_EQ(back.optimizationSetting, OPTIMIZE_FOR_COMPATIBILITY);
    // Nothing stored: chosen from the card (an OpenGL 4.5 context of no listed vendor: quality).
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
    EXPECT_TRUE(ConfigureOpenGLInstallation("2.0.2.3"));
    ASSERT_TRUE(ReadOpenGLRegistryData(&back));
    EXPECT_EQ(back.optimizationSetting, OPTIMIZE_FOR_QUALITY);
    EXPECT_EQ(CountGLEWContexts(), 0);

    // Without a display: the installation is still complete (the version
    // stored), a chosen setting stays, none is chosen in its place.
    SetHiddenWindowRefusedForTesting(true);
    EXPECT_TRUE(ConfigureOpenGLInstallation("2.0.2.5"));
    ASSERT_TRUE(ReadOpenGLRegistryData(&back, false));
    EXPECT_EQ(back.installedProductVersion, "2.0.2.5");
    EXPECT_EQ(back.optimizationSetting, OPTIMIZE_FOR_QUALITY);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kTestKey, "OpenGLOptimizationSetting");
    EXPECT_TRUE(ConfigureOpenGLInstallation("2.0.2.6"));
    ASSERT_TRUE(ReadOpenGLRegistryData(&back, false));
    EXPECT_EQ(back.optimizationSetting, OPTIMIZE_NOT_DETERMINED) << "left for the preview to choose";
    EXPECT_EQ(back.installedProductVersion, "2.0.2.6");
    SetHiddenWindowRefusedForTesting(false);
    back.optimizationSetting = OPTIMIZE_FOR_QUALITY;
    ASSERT_TRUE(WriteOpenGLRegistryData(&back));

    // The Options dialog's choice by a user who may not write the machine's
    // key: kept for that user and read before the machine's setting, which
    // the installer goes on keeping as it was.
    SetOpenGLMachineKeyReadOnlyForTesting(true);
    back.optimizationSetting = OPTIMIZE_NONE;
    bool forEveryUser = true;
    ASSERT_TRUE(StoreOpenGLSettingChoice(&back, &forEveryUser));
    EXPECT_FALSE(forEveryUser);
    OpenGLRegistrySettings read;
    ASSERT_TRUE(ReadOpenGLRegistryData(&read));
    EXPECT_EQ(read.optimizationSetting, OPTIMIZE_NONE);
    ASSERT_TRUE(ReadOpenGLRegistryData(&read, false));
    EXPECT_EQ(read.optimizationSetting, OPTIMIZE_FOR_QUALITY) << "the machine's setting is untouched";
    SetOpenGLMachineKeyReadOnlyForTesting(false);
    EXPECT_TRUE(ConfigureOpenGLInstallation("2.0.2.4"));
    ASSERT_TRUE(ReadOpenGLRegistryData(&read, false));
    EXPECT_EQ(read.optimizationSetting, OPTIMIZE_FOR_QUALITY);
    ASSERT_TRUE(ReadOpenGLRegistryData(&read));
    EXPECT_EQ(read.optimizationSetting, OPTIMIZE_NONE) << "the user's choice outlives a reinstallation";
    // An administrator's choice holds for every user.
    read.optimizationSetting = OPTIMIZE_FOR_SPEED;
    ASSERT_TRUE(StoreOpenGLSettingChoice(&read, &forEveryUser));
    EXPECT_TRUE(forEveryUser);
    ASSERT_TRUE(ReadOpenGLRegistryData(&read, false));
    EXPECT_EQ(read.optimizationSetting, OPTIMIZE_FOR_SPEED);

    RegDeleteKeyA(HKEY_CURRENT_USER, (std::string(kTestKey) + "\\PerUser").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
    SetOpenGLRegistryKeyForTesting(nullptr);
}
