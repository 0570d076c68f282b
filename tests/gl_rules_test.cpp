// The OpenGL layer's rules that need no context: vendor classes, the default
// setting, the drawing settings, GLSL versions, tiles and half floats.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "gl/gl_rules.h"
#include "gl/half_float.h"

namespace {
OpenGLCapabilities Caps(const char* vendor, const char* renderer, double version) {
    OpenGLCapabilities c;
    c.vendor = vendor;
    c.renderer = renderer;
    c.vendorRead = true;
    c.version14 = version >= 1.4;
    c.version15 = version >= 1.5;
    c.version20 = version >= 2.0;
    c.version21 = version >= 2.1;
    c.version30 = version >= 3.0;
    return c;
}
}  // namespace

TEST(OpenGLRules, VendorClassNeedsTheWholeWordAndTheFirstListedNameWins) {
    EXPECT_EQ(VendorClassOf("ATI Technologies Inc."), VENDOR_ATI);
    EXPECT_EQ(VendorClassOf("nvidia corporation"), VENDOR_NVIDIA);
    EXPECT_EQ(VendorClassOf("Microsoft Corporation"), VENDOR_MICROSOFT);
    EXPECT_EQ(VendorClassOf("VMware, Inc."), VENDOR_VMWARE);
    EXPECT_EQ(VendorClassOf("Mesa Project"), VENDOR_MESA);
    // No blank after the name: not that vendor.
    EXPECT_EQ(VendorClassOf("Intel"), VENDOR_OTHER);
    EXPECT_EQ(VendorClassOf("Mesa/X.org"), VENDOR_OTHER);
    EXPECT_EQ(VendorClassOf("CORATI NVIDIA "), VENDOR_ATI);  // searched anywhere, even inside a word
    EXPECT_EQ(VendorClassOf("NVIDIA under ATI emulation"), VENDOR_ATI);  // ATI is tested first
    EXPECT_EQ(VendorClassOf(""), VENDOR_OTHER);
}

TEST(OpenGLRules, DefaultSettingFollowsAccelerationVersionAndVendor) {
    OpenGLCapabilities none;
    EXPECT_EQ(ChooseOptimizationSetting(false, true, none), OPTIMIZE_NOT_DETERMINED);
    EXPECT_EQ(ChooseOptimizationSetting(false, false, none), OPTIMIZE_NONE);
    EXPECT_EQ(ChooseOptimizationSetting(true, false, Caps("NVIDIA Corporation", "x", 4.6)), OPTIMIZE_NONE);
    EXPECT_EQ(ChooseOptimizationSetting(true, true, Caps("Mesa/X.org", "llvmpipe", 4.5)), OPTIMIZE_FOR_QUALITY);
    EXPECT_EQ(ChooseOptimizationSetting(true, true, Caps("Mesa/X.org", "llvmpipe", 1.5)), OPTIMIZE_FOR_COMPATIBILITY);

    OpenGLCapabilities geforce = Caps("NVIDIA Corporation", "GeForce 8600 GT/PCI/SSE2", 2.0);
    EXPECT_EQ(ChooseOptimizationSetting(true, true, geforce), OPTIMIZE_FOR_COMPATIBILITY);  // no float buffers
    geforce.nvFloatBuffer = true;
    EXPECT_EQ(ChooseOptimizationSetting(true, true, geforce), OPTIMIZE_FOR_SPEED);
    geforce.renderer = "GeForce GTX 1080/PCIe/SSE2";
    EXPECT_EQ(ChooseOptimizationSetting(true, true, geforce), OPTIMIZE_FOR_QUALITY);

    EXPECT_EQ(ChooseOptimizationSetting(true, true, Caps("Intel", "HD 3000", 1.4)), OPTIMIZE_NONE);
    EXPECT_EQ(ChooseOptimizationSetting(true, true, Caps("Intel", "HD 3000", 3.1)), OPTIMIZE_FOR_QUALITY);
    EXPECT_EQ(ChooseOptimizationSetting(true, true, Caps("ATI Technologies Inc.", "Radeon HD 5770", 4.0)),
              OPTIMIZE_FOR_QUALITY);
    EXPECT_EQ(ChooseOptimizationSetting(true, true, Caps("ATI Technologies Inc.", "FireGL V3100", 4.0)),
              OPTIMIZE_FOR_COMPATIBILITY);
}

TEST(OpenGLRules, DrawingSettingsFollowSettingAccelerationAndVersion) {
    OpenGLCapabilities modern = Caps("Mesa/X.org", "llvmpipe", 4.5);
    modern.arbTextureNonPowerOfTwo = true;
    DrawingSettings q = DeriveDrawingSettings(OPTIMIZE_FOR_QUALITY, true, modern);
    EXPECT_TRUE(q.useShaderProgram && q.useVertexBufferObjects && q.useFrameBufferObjects && q.usePixelBufferObjects);
    EXPECT_FALSE(q.useOffscreenBitmap || q.mustUsePowerOfTwoSizedTextures);

    // Software, compatibility or no acceleration: nothing beyond OpenGL 1.1.
    for (DrawingSettings s : {DeriveDrawingSettings(OPTIMIZE_NONE, true, modern),
                              DeriveDrawingSettings(OPTIMIZE_FOR_COMPATIBILITY, true, modern),
                              DeriveDrawingSettings(OPTIMIZE_FOR_QUALITY, false, modern)}) {
        EXPECT_FALSE(s.useShaderProgram || s.useVertexBufferObjects || s.useFrameBufferObjects ||
                     s.usePixelBufferObjects);
        EXPECT_TRUE(s.mustUsePowerOfTwoSizedTextures);
    }
    EXPECT_TRUE(DeriveDrawingSettings(OPTIMIZE_FOR_SPEED, false, modern).useOffscreenBitmap);

    OpenGLCapabilities old = Caps("Other", "r", 1.4);
    EXPECT_FALSE(DeriveDrawingSettings(OPTIMIZE_FOR_SPEED, true, old).useVertexBufferObjects);
    old.arbVertexBufferObject = old.arbPixelBufferObject = old.arbFramebufferObject = true;
    DrawingSettings o = DeriveDrawingSettings(OPTIMIZE_FOR_SPEED, true, old);
    EXPECT_TRUE(o.useVertexBufferObjects);
    EXPECT_FALSE(o.usePixelBufferObjects || o.useFrameBufferObjects);  // those need 2.0 / 2.1
    EXPECT_TRUE(o.mustUsePowerOfTwoSizedTextures);
    old.arbTextureNonPowerOfTwo = true;
    EXPECT_FALSE(DeriveDrawingSettings(OPTIMIZE_FOR_SPEED, true, old).mustUsePowerOfTwoSizedTextures);

    OpenGLCapabilities nvidia = Caps("NVIDIA Corporation", "r", 2.0);
    EXPECT_TRUE(DeriveDrawingSettings(OPTIMIZE_FOR_QUALITY, true, nvidia).mustUsePowerOfTwoSizedTextures);
    nvidia.arbTextureNonPowerOfTwo = true;
    EXPECT_FALSE(DeriveDrawingSettings(OPTIMIZE_FOR_QUALITY, true, nvidia).mustUsePowerOfTwoSizedTextures);

    std::string log = DrawingSettingsLogText(q);
    EXPECT_NE(log.find("OpenGL Optimization Setting = OPTIMIZE_FOR_QUALITY\n"), std::string::npos);
    EXPECT_NE(log.find("MustUsePowerOfTwoSizedTextures = false\n"), std::string::npos);
    EXPECT_STREQ(OptimizationSettingName(9), "Unrecognized Setting");
}

TEST(OpenGLRules, TextureFormatNamesForTheLog) {
    TextureFormat basic = BasicTextureFormat();
    std::string log = TextureFormatsLogText(basic, {0x881A, 8, 0x140B}, {0x8814, 16, 0x1406});
    EXPECT_NE(log.find("8  bit color: Format = GL_RGBA8, Pixel Depth = 4 bytes, Data Type = GL_UNSIGNED_BYTE\n"),
              std::string::npos);
    EXPECT_NE(log.find("16 bit color: Format = GL_RGBA16F, Pixel Depth = 8 bytes, Data Type = GL_HALF_FLOAT\n"),
              std::string::npos);
    EXPECT_NE(log.find("32 bit color: Format = GL_RGBA32F, Pixel Depth = 16 bytes, Data Type = GL_FLOAT\n"),
              std::string::npos);
    EXPECT_STREQ(InternalFormatName(0x888A), "GL_FLOAT_RGBA16_NV");
    EXPECT_STREQ(InternalFormatName(0x12345), "Unrecognized");
    EXPECT_EQ(DataTypeName(0x1234), "Unrecognized: 0x1234");
}

TEST(OpenGLRules, GLSLVersionsParseAndCompareComponentByComponent) {
    const GLSLVersion minimum = {1, 10, 0}, any = {-1, -1, -1};
    GLSLVersion v;
    ASSERT_TRUE(ParseGLSLVersion("1.20 NVIDIA via Cg compiler", &v));
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 20);
    EXPECT_EQ(v.release, 0);
    EXPECT_TRUE(GLSLVersionInRange(v, minimum, any));
    ASSERT_TRUE(ParseGLSLVersion("4.50", &v));
    EXPECT_TRUE(GLSLVersionInRange(v, minimum, any));
    ASSERT_TRUE(ParseGLSLVersion("1.10.59", &v));
    EXPECT_EQ(v.release, 59);
    EXPECT_TRUE(GLSLVersionInRange(v, minimum, any));
    ASSERT_TRUE(ParseGLSLVersion("1.051", &v));  // the first language version, as early drivers wrote it
    EXPECT_EQ(v.minor, 0);
    EXPECT_FALSE(GLSLVersionInRange(v, minimum, any));
    EXPECT_FALSE(ParseGLSLVersion("OpenGL ES GLSL ES 3.20", &v));
    EXPECT_FALSE(ParseGLSLVersion("4", &v));
    EXPECT_FALSE(ParseGLSLVersion(nullptr, &v));
    EXPECT_FALSE(GLSLVersionInRange(v, any, any));  // unknown fails every variant

    // Bounds: a -1 ends the comparison at that component.
    EXPECT_TRUE(GLSLVersionInRange({1, 20, 8}, minimum, {1, 20, -1}));
    EXPECT_FALSE(GLSLVersionInRange({1, 30, 0}, minimum, {1, 20, -1}));
    EXPECT_TRUE(GLSLVersionInRange({1, 30, 0}, minimum, {1, -1, -1}));
    EXPECT_FALSE(GLSLVersionInRange({1, 9, 99}, minimum, any));
}

TEST(OpenGLRules, TilesOfTheDocumentedRegion) {
    std::vector<TileLayout> tiles = LayTiles({0, 0, 1000, 700}, 512, 512, true);
    ASSERT_EQ(tiles.size(), 4u);
    EXPECT_EQ(tiles[1].region.left, 510);
    EXPECT_EQ(tiles[1].region.right - tiles[1].region.left, 490);
    EXPECT_EQ(tiles[2].region.top, 510);
    EXPECT_EQ(tiles[2].region.bottom - tiles[2].region.top, 190);
    EXPECT_EQ(tiles[1].textureWidth, 512);
    EXPECT_EQ(tiles[2].textureHeight, 256);
    EXPECT_EQ(LayTiles({0, 0, 1000, 700}, 512, 512, false)[3].textureWidth, 490);

    std::vector<TileLayout> one = LayTiles({5, 7, 105, 57}, 512, 512, false);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].quad.left, 5);
    EXPECT_EQ(one[0].quad.right, 105);
    EXPECT_EQ(one[0].quad.bottom, 57);
    EXPECT_TRUE(LayTiles({0, 0, 0, 10}, 512, 512, false).empty());
}

TEST(OpenGLRules, TileQuadsCoverEveryPixelOnceAndReadOnlyTheirOwnTexture) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        int32_t left = random() % 50 - 20, top = random() % 50 - 20;
        TileRect region = {left, top, left + 1 + int32_t(random() % 300), top + 1 + int32_t(random() % 300)};
        int32_t maxW = 3 + random() % 130, maxH = 3 + random() % 130;
        bool powerOfTwo = trial % 2;
        int32_t w = region.right - region.left, h = region.bottom - region.top;
        std::vector<int> cover(static_cast<size_t>(w) * h, 0);
        for (const TileLayout& t : LayTiles(region, maxW, maxH, powerOfTwo)) {
            ASSERT_LE(t.region.right - t.region.left, maxW);
            ASSERT_LE(t.region.bottom - t.region.top, maxH);
            ASSERT_GE(t.textureWidth, t.region.right - t.region.left);
            ASSERT_GE(t.textureHeight, t.region.bottom - t.region.top);
            if (powerOfTwo) {
                ASSERT_EQ(t.textureWidth & (t.textureWidth - 1), 0);
            }
            // The quad lies inside the tile's own pixels.
            ASSERT_GE(t.quad.left, t.region.left);
            ASSERT_LE(t.quad.right, t.region.right);
            for (int32_t y = t.quad.top; y < t.quad.bottom; ++y)
                for (int32_t x = t.quad.left; x < t.quad.right; ++x)
                    ++cover[static_cast<size_t>(y - region.top) * w + (x - region.left)];
        }
        for (int c : cover) ASSERT_EQ(c, 1) << "trial " << trial;
    }
}

TEST(OpenGLRules, PowersOfTwo) {
    EXPECT_EQ(PowerOfTwoAtLeast(1), 2u);
    EXPECT_EQ(PowerOfTwoAtLeast(190), 256u);
    EXPECT_EQ(PowerOfTwoAtLeast(512), 512u);
    EXPECT_EQ(PowerOfTwoAtLeast((1 << 24) + 1), 0u);
    EXPECT_EQ(PowerOfTwoAtMost(700), 512u);
    EXPECT_EQ(PowerOfTwoAtMost(0), 2u);
}

TEST(HalfFloats, EveryHalfSurvivesARoundTripAndFloatsRoundToTheNearest) {
    ASSERT_TRUE(InitializeHalfFloatTables());
    // An independent decoding of the half format.
    auto reference = [](uint16_t h) {
        int exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
        double sign = (h & 0x8000) ? -1.0 : 1.0;
        if (exponent == 0) return sign * std::ldexp(mantissa, -24);
        if (exponent == 31) return mantissa ? std::nan("") : sign * INFINITY;
        return sign * std::ldexp(1024 + mantissa, exponent - 25);
    };
    for (uint32_t h = 0; h < 65536; ++h) {
        double expected = reference(static_cast<uint16_t>(h));
        float got = HalfToFloat(static_cast<uint16_t>(h));
        if (std::isnan(expected)) {
            ASSERT_TRUE(std::isnan(got));
            ASSERT_TRUE(std::isnan(HalfToFloat(FloatToHalf(got))));
            continue;
        }
        ASSERT_EQ(got, expected) << std::hex << h;
        ASSERT_EQ(FloatToHalf(got), h) << std::hex << h;
    }
    // Between two neighbouring positive halves: below the midpoint rounds down,
    // above it up, and the midpoint itself to the even one.
    for (uint32_t h = 0; h < 0x7BFF; ++h) {
        double low = reference(static_cast<uint16_t>(h)), high = reference(static_cast<uint16_t>(h + 1));
        float mid = static_cast<float>((low + high) / 2);
        ASSERT_EQ(FloatToHalf(std::nextafter(mid, 0.0f)), h) << std::hex << h;
        ASSERT_EQ(FloatToHalf(std::nextafter(mid, 1e9f)), h + 1) << std::hex << h;
        ASSERT_EQ(FloatToHalf(mid), (h & 1) ? h + 1 : h) << std::hex << h;
    }
    EXPECT_EQ(FloatToHalf(1e6f), 0x7C00);   // beyond the range: infinity
    EXPECT_EQ(FloatToHalf(-1e-9f), 0x8000);  // below the smallest: signed zero
}

TEST(HalfFloats, DisplayGammaTablesRaiseToOneOverTwoPointTwo) {
    ASSERT_TRUE(InitializeHalfFloatTables());
    EXPECT_EQ(DisplayGammaTable8()[0], 0);
    EXPECT_EQ(DisplayGammaTable8()[255], 255);
    EXPECT_EQ(DisplayGammaTable8()[64], 136);  // 0.251^0.4545 = 0.5334
    EXPECT_EQ(DisplayGammaTable16()[65535], 65535);
    for (int i = 1; i < 65536; ++i) ASSERT_GE(DisplayGammaTable16()[i], DisplayGammaTable16()[i - 1]);
    // The half table holds the 16-bit table's values as halves.
    EXPECT_NEAR(HalfToFloat(DisplayGammaTableHalf()[16384]), std::pow(16384 / 65535.0, 1 / 2.2), 1e-3);
}
