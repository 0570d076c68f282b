// Texture sets on real contexts: what goes up through a set comes back
// pixel-exact, in every drawing configuration, across tile seams and window
// edges; frame-buffer copies with and without read-back gamma; the splash.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <random>
#include <string>

#include "gl/gl_check.h"
#include "gl/texture_sets.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "tests/test_support.h"
#include "tests/win/gl_test_support.h"

namespace {

struct Configuration {
    const char* name;
    uint32_t setting;
    bool software;
};
// Quality: non-power-of-two textures, vertex, pixel and frame buffers, 16-bit
// storage. Compatibility: power-of-two textures, nothing beyond OpenGL 1.1 on
// the card. Software: the generic bitmap format.
const Configuration kConfigurations[] = {
    {"quality", OPTIMIZE_FOR_QUALITY, false},
    {"compatibility", OPTIMIZE_FOR_COMPATIBILITY, false},
    {"software", OPTIMIZE_NONE, true},
};

class TextureSets : public ::testing::TestWithParam<Configuration> {
protected:
    void SetUp() override {
        InitializeBufferUsage();
        ASSERT_TRUE(InitializeGammaTables());
        ASSERT_TRUE(gl.Open(kWidth, kHeight, GetParam().setting, GetParam().software));
        ASSERT_TRUE(InitializeTextureSets(true));
        // Small tiles: every region below is cut into many, with seams to get right.
        SetMaximumTextureSizeForTesting(64);
    }
    void TearDown() override {
        SetMaximumTextureSizeForTesting(0);
        for (TextureSet* set : {HostImageTextureSet(), EffectsTextureSet(), CompositeTextureSet(), SplashTextureSet()})
            ReleaseTextureSet(set);
        gl.Close();
        ReleaseGammaTables();
    }

    // An 8-bit picture of random colours, opaque.
    void MakePicture(Image* image, int w, int h, unsigned seed) {
        ImageRect rect = {0, 0, w, h};
        ASSERT_TRUE(CreateImage(image, rect, rect, IMAGE_MODE_RGB8, nullptr, false, false));
        std::mt19937 random(seed);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = PixelAddress(image, x, y);
                p[0] = random() & 0xFF;
                p[1] = random() & 0xFF;
                p[2] = random() & 0xFF;
                p[3] = 255;
            }
    }
    // The picture's pixel (x, y) as R, G, B.
    static void Expected(const Image* image, int x, int y, uint8_t rgb[3]) {
        const uint8_t* p = PixelAddress(image, x, y);
        bool bgra = image->pixelFormat == PIXEL_FORMAT_BGRA;
        rgb[0] = bgra ? p[2] : p[0];
        rgb[1] = p[1];
        rgb[2] = bgra ? p[0] : p[2];
    }
    // Counts the window pixels of (left, top, w, h) that differ from the
    // picture by more than `tolerance` after `transfer`.
    template <typename Transfer>
    int Mismatches(const Image* image, int left, int top, int w, int h, int tolerance, Transfer transfer) {
        std::vector<uint8_t> window = gl.ReadPixels(left, top, w, h);
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t rgb[3];
                Expected(image, x, y, rgb);
                const uint8_t* got = &window[(static_cast<size_t>(y) * w + x) * 4];
                for (int c = 0; c < 3; ++c)
                    if (std::abs(got[c] - transfer(rgb[c])) > tolerance) {
                        if (wrong < 3)
                            ADD_FAILURE() << GetParam().name << ": pixel " << x << "," << y << " channel " << c
                                          << " is " << int(got[c]) << ", expected " << int(transfer(rgb[c]));
                        ++wrong;
                    }
            }
        return wrong;
    }
    static int Same(uint8_t v) { return v; }
    void ClearWindow() {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    static constexpr int kWidth = 300, kHeight = 200;
    GLTestContext gl;
};

TEST_P(TextureSets, AnImageDrawnAtZoomOneComesBackPixelExact) {
    Image picture;
    MakePicture(&picture, 250, 170, 1);
    RECT visible = {0, 0, 250, 170};
    TextureSet* set = HostImageTextureSet();
    set->scaled = false;
    ASSERT_TRUE(CreateTextureSetFromImage(visible, set, &picture, 1.0, 1.0, POINT{0, 0}, 1.0));
    EXPECT_EQ(set->tileCount, 12u);  // 64-pixel tiles 62 apart: columns at 0, 62, 124, 186; rows at 0, 62, 124
    ClearWindow();
    ASSERT_TRUE(DrawImageTextureSet(set));
    EXPECT_EQ(Mismatches(&picture, 0, 0, 250, 170, 0, Same), 0);

    // A refill of the same region reuses every texture and changes nothing.
    uint64_t tiles = set->tileCount;
    ASSERT_TRUE(CreateTextureSetFromImage(visible, set, &picture, 1.0, 1.0, POINT{0, 0}, 1.0));
    EXPECT_EQ(set->tileCount, tiles);
    ClearWindow();
    ASSERT_TRUE(DrawImageTextureSet(set));
    EXPECT_EQ(Mismatches(&picture, 0, 0, 250, 170, 0, Same), 0);
    ReleaseImage(&picture);
}

TEST_P(TextureSets, AFrameBufferCopyComesBackPixelExactUpToTheWindowEdges) {
    Image picture;
    MakePicture(&picture, kWidth, kHeight, 2);
    RECT all = {0, 0, kWidth, kHeight};
    TextureSet* source = HostImageTextureSet();
    ASSERT_TRUE(CreateTextureSetFromImage(all, source, &picture, 1.0, 1.0, POINT{0, 0}, 1.0));
    ClearWindow();
    ASSERT_TRUE(DrawImageTextureSet(source));

    // A rectangle that ends at the window's right and bottom edges: power-of-two
    // textures reach past them and must be padded, not copied from outside.
    RECT rect = {37, 21, kWidth, kHeight};
    TextureSet* copy = CompositeTextureSet();
    ASSERT_FALSE(copy->gammaOnReadBack);
    {
        CapturedReports reports;
        ASSERT_TRUE(CreateTextureSetFromFramebuffer(rect, copy));
        EXPECT_FALSE(reports.Contains("Failed")) << GetParam().name;
    }
    EXPECT_TRUE(copy->flipVertical);
    ClearWindow();
    ASSERT_TRUE(DrawImageTextureSet(copy));
    std::vector<uint8_t> window = gl.ReadPixels(0, 0, kWidth, kHeight);
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            bool inside = x >= rect.left && y >= rect.top;
            uint8_t rgb[3] = {0, 0, 0};
            if (inside) Expected(&picture, x, y, rgb);
            const uint8_t* got = &window[(static_cast<size_t>(y) * kWidth + x) * 4];
            for (int c = 0; c < 3; ++c) wrong += got[c] != rgb[c];
        }
    EXPECT_EQ(wrong, 0) << GetParam().name;
    ReleaseImage(&picture);
}

TEST_P(TextureSets, TheSplashBitmapIsUploadedWhole) {
    // A bottom-up 24-bit DIB section with rows that are not a multiple of four bytes.
    const int w = 37, h = 23;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    const int stride = (w * 3 + 3) & ~3;
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = static_cast<uint8_t*>(bits) + row * stride + x * 3;
            p[0] = static_cast<uint8_t>(x * 7);     // blue
            p[1] = static_cast<uint8_t>(row * 11);  // green
            p[2] = static_cast<uint8_t>(200 - x);   // red
        }
    ASSERT_TRUE(CreateSplashTextureSet(bitmap));
    ClearWindow();
    ASSERT_TRUE(DrawImageTextureSet(SplashTextureSet()));
    std::vector<uint8_t> window = gl.ReadPixels(0, 0, w, h);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int row = h - 1 - y;  // the bitmap's first row is the bottom one
            const uint8_t* got = &window[(static_cast<size_t>(y) * w + x) * 4];
            wrong += got[0] != static_cast<uint8_t>(200 - x) || got[1] != static_cast<uint8_t>(row * 11) ||
                     got[2] != static_cast<uint8_t>(x * 7);
        }
    EXPECT_EQ(wrong, 0) << GetParam().name;
    DeleteObject(bitmap);
}

INSTANTIATE_TEST_SUITE_P(Configurations, TextureSets, ::testing::ValuesIn(kConfigurations),
                         [](const ::testing::TestParamInfo<Configuration>& info) { return std::string(info.param.name); });

// Without a gamma shader the composite set applies display gamma as it reads
// the frame buffer back: through a pixel buffer (quality) or the staging
// buffer (compatibility).
TEST(TextureSetGamma, ReadBackRaisesToOneOverTwoPointTwo) {
    for (uint32_t setting : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_FOR_COMPATIBILITY}) {
        InitializeBufferUsage();
        GLTestContext gl;
        ASSERT_TRUE(gl.Open(64, 16, setting, false));
        ASSERT_TRUE(InitializeTextureSets(false));
        TextureSet* composite = CompositeTextureSet();
        ASSERT_TRUE(composite->gammaOnReadBack);
        EXPECT_EQ(composite->pixelBuffer != 0, setting == OPTIMIZE_FOR_QUALITY);
        // Columns of grey levels 0, 4, ..., 252.
        for (int x = 0; x < 64; ++x) {
            glColor3ub(static_cast<GLubyte>(x * 4), static_cast<GLubyte>(x * 4), static_cast<GLubyte>(x * 4));
            glRecti(x, 0, x + 1, 16);
        }
        RECT rect = {0, 0, 64, 16};
        ASSERT_TRUE(CreateTextureSetFromFramebuffer(rect, composite));
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor4f(1, 1, 1, 1);  // textures are modulated by the current colour
        ASSERT_TRUE(DrawImageTextureSet(composite));
        std::vector<uint8_t> window = gl.ReadPixels(0, 8, 64, 1);
        for (int x = 0; x < 64; ++x) {
            double expected = 255.0 * std::pow(x * 4 / 255.0, 1 / 2.2);
            EXPECT_NEAR(window[x * 4], expected, 1.01) << "setting " << setting << " level " << x * 4;
        }
        for (TextureSet* set : {HostImageTextureSet(), EffectsTextureSet(), CompositeTextureSet(), SplashTextureSet()})
            ReleaseTextureSet(set);
    }
}

// The effects set renders into its own frame buffer object and is read from there.
TEST(TextureSetFrameBuffers, EffectsAreDrawnOffScreenAndIncompleteSetsAreRefused) {
    InitializeBufferUsage();
    GLTestContext gl;
    ASSERT_TRUE(gl.Open(80, 60, OPTIMIZE_FOR_QUALITY, false));
    ASSERT_TRUE(InitializeTextureSets(true));
    TextureSet* effects = EffectsTextureSet();
    ASSERT_NE(effects->frameBuffer, 0u);
    // The window shows grey; the effects (a white square at image (10, 10)-(20, 20),
    // drawn at zoom 2 scrolled by (5, 5)) go only into the frame buffer object.
    glClearColor(0.5f, 0.5f, 0.5f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    SetEffectsDrawProc([] {
        glRecti(10, 10, 20, 20);
        return true;
    });
    RECT visible = {0, 0, 80, 60};
    bool made = CreateEffectsTextureSet(visible, POINT{5, 5}, 2.0);
    SetEffectsDrawProc(nullptr);
    ASSERT_TRUE(made);
    std::vector<uint8_t> window = gl.ReadPixels(0, 0, 80, 60);
    EXPECT_NEAR(window[(30 * 80 + 20) * 4], 128, 1);  // untouched by the off-screen drawing
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ASSERT_TRUE(DrawImageTextureSet(effects));
    window = gl.ReadPixels(0, 0, 80, 60);
    auto at = [&](int x, int y) { return window[(static_cast<size_t>(y) * 80 + x) * 4]; };
    // The scroll offset is in display pixels: image x 10..20 is window 2 * 10 - 5 = 15 .. 35.
    EXPECT_EQ(at(15, 15), 255);
    EXPECT_EQ(at(34, 34), 255);
    EXPECT_EQ(at(14, 20), 0);
    EXPECT_EQ(at(35, 20), 0);

    TextureSet empty = {};
    CapturedReports reports;
    EXPECT_FALSE(AttachFBOWithRenderBuffer(&empty, 16, 16));
    EXPECT_TRUE(reports.Contains("Texture was incomplete. FBO = 0, RBO = 0"));
    EXPECT_EQ(TakeOpenGLError(), 0u);
    for (TextureSet* set : {HostImageTextureSet(), EffectsTextureSet(), CompositeTextureSet(), SplashTextureSet()})
        ReleaseTextureSet(set);
}

}  // namespace
