// The final render: Quantity selection, star colouring, and renders that
// must leave every pixel away from an effect exactly as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/light_source_table.h"
#include "effects/effect_tables.h"
#include "effects/final_render.h"
#include "effects/packed_spikes.h"
#include "effects/radial_flare.h"
#include "effects/shape_cache.h"
#include "image/blend.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "support/run_result.h"
#include "tests/test_support.h"

namespace {

LightSource Source(int32_t state, uint32_t brightness, uint32_t intensity = 0xFFFFFFFE) {
    LightSource s;
    std::memset(&s, 0, sizeof(s));
    s.state = state;
    s.brightness = brightness;
    s.intensity = intensity;
    s.red = s.green = s.blue = 0xFFFFFF;
    return s;
}

ParameterSet Parameters(int16_t quantity = 50) {
    ParameterSet p;
    std::memset(&p, 0, sizeof(p));
    p.scale = 100.0;
    FilterParameters factory = FACTORY_PARAMETERS;
    CopyEffectValues(&p, factory);
    p.quantity = quantity;
    return p;
}

}  // namespace

TEST(QuantityRule, ThresholdAndFadeIn) {
    EXPECT_EQ(QuantityThreshold(100), 0u);
    EXPECT_EQ(QuantityThreshold(0), 0xFFFFFFFEu);
    EXPECT_EQ(QuantityThreshold(50), static_cast<uint32_t>(0.25 * 4294967294.0));
    uint32_t I = 0;
    // Quantity 0: only sources the user forced on.
    EXPECT_FALSE(SelectLightSource(Source(1, 0xFFFFFFFE), QuantityThreshold(0), &I));
    EXPECT_TRUE(SelectLightSource(Source(2, 0, 12345), QuantityThreshold(0), &I));
    EXPECT_EQ(I, 12345u);
    EXPECT_FALSE(SelectLightSource(Source(0, 0xFFFFFFFE), 0, &I));
    // Quantity 100: every automatic source at (almost exactly) full strength.
    ASSERT_TRUE(SelectLightSource(Source(1, 1000, 0x80000000u), 0, &I));
    EXPECT_NEAR(static_cast<double>(I), 0x80000000u, 2.0);
    // Just above the threshold a source fades in; far above it is nearly full.
    uint32_t t = QuantityThreshold(50);
    uint32_t faint = 0, strong = 0;
    ASSERT_TRUE(SelectLightSource(Source(1, t + t / 100), t, &faint));
    ASSERT_TRUE(SelectLightSource(Source(1, 0xF0000000u), t, &strong));
    EXPECT_LT(faint, strong / 20);
    double r = 0xF0000000u, q = t;
    double expected = (r - q) / r / (1 - q / 4294967294.0) * 4294967294.0;
    EXPECT_NEAR(static_cast<double>(strong), expected, expected * 1e-6);
    EXPECT_FALSE(SelectLightSource(Source(1, t), t, &I));  // at the threshold: not drawn
}

TEST(ColourRule, HueAndSaturation) {
    ParameterSet p = Parameters();
    p.colorHue = 0;
    p.colorSaturation = 0;
    uint32_t rgb[3] = {9000000, 6000000, 3000000};
    ColourLightSource(rgb, p);
    EXPECT_EQ(rgb[0], 9000000u);
    EXPECT_EQ(rgb[1], 6000000u);
    EXPECT_EQ(rgb[2], 3000000u);

    p.colorHue = 10;  // greener: h = 10 × ⌊6000000 / 3000⌋ = 20000
    ColourLightSource(rgb, p);
    EXPECT_EQ(rgb[1], 6020000u);
    EXPECT_EQ(rgb[0], 9000000u - 40000u);
    EXPECT_EQ(rgb[2], 3000000u - 60000u);

    p.colorHue = 0;
    p.colorSaturation = 30;  // each channel moves away from the mean of the others by 3 times its distance
    uint32_t c[3] = {4000, 2000, 2000};
    ColourLightSource(c, p);
    EXPECT_EQ(c[0], 4000u + 3 * 2000u);
    EXPECT_EQ(c[1], 0u);  // 2000 + 3 × (2000 - 3000) clamps at 0
    p.colorSaturation = -100;  // two thirds of the way towards it
    uint32_t d[3] = {4000, 1000, 1000};
    ColourLightSource(d, p);
    EXPECT_EQ(d[0], 4000u - 2000u);
    EXPECT_EQ(d[1], 1000u + 1000u);

    p.colorHue = -100;  // purple, with saturation at the top
    uint32_t e[3] = {0xFFFFFFF0u, 0x3000000u, 0xFFFFFFF0u};
    p.colorSaturation = 0;
    ColourLightSource(e, p);
    EXPECT_EQ(e[0], 0xFFFFFFFEu);
    EXPECT_EQ(e[2], 0xFFFFFFFEu);
}

namespace {

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForceGlobalErrorCode(0);
        ASSERT_TRUE(InitializeGammaTables());
        ASSERT_TRUE(CreateShapeCreationMutex());
        InitializeEffectTables();
        InitializeLightSourceList(&table);
    }
    void TearDown() override {
        ReleaseImage(&image);
        ReleaseLightSourceList(&table);
        ReleaseEffectShapeCaches();
        CloseShapeCreationMutex();
        ReleaseColorManagement();
        ReleaseGammaTables();
        ForceGlobalErrorCode(0);
    }
    // A faint gradient: the shadows a careless composite would damage.
    void MakeGradient(int32_t mode) {
        ASSERT_TRUE(InitializeColorManagement(mode, nullptr));
        ImageRect r = {0, 0, 96, 64};
        ASSERT_TRUE(CreateImage(&image, r, r, mode, GetHostProfile(), false, false));
        uint8_t* p = static_cast<uint8_t*>(image.pixels.pointer);
        size_t bytes = static_cast<size_t>(image.width * image.height * 4 * image.bytesPerChannel);
        for (size_t i = 0; i < bytes; i++) {
            if (image.bytesPerChannel == 4) {
                reinterpret_cast<float*>(p)[i / 4] = 0.0001f * static_cast<float>((i / 4) % 97);
                i += 3;
            } else {
                p[i] = static_cast<uint8_t>((i * 7) % 5);  // tiny values in every byte
            }
        }
    }
    void AddStar(int32_t x, int32_t y) {
        LightSourceCentre c = {x, 1, y, 2};
        AddLightSource(nullptr, &table, c, 2.0f, 4.0f, 0xFFFFFFFE, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 1);
        FinalizeLightSourceTable(&table, nullptr);
    }
    Image image;
    LightSourceList table;
};

}  // namespace

TEST_F(RenderTest, NothingDrawnLeavesEveryDepthBitIdentical) {
    for (int32_t mode : {IMAGE_MODE_RGB8, IMAGE_MODE_RGB16, IMAGE_MODE_RGB_FLOAT, IMAGE_MODE_GRAY16}) {
        MakeGradient(mode);
        std::vector<uint8_t> before(static_cast<uint8_t*>(image.pixels.pointer),
                                    static_cast<uint8_t*>(image.pixels.pointer) + image.pixels.size);
        ParameterSet p = Parameters(100);
        AddStar(40, 30);
        p.intensity = p.secondarySpikeIntensity = p.softFlareIntensity = p.ringFlareIntensity = 0;
        ASSERT_EQ(RenderEffectsIntoImage(&image, p, &table, mode), 0);
        EXPECT_EQ(std::memcmp(before.data(), image.pixels.pointer, before.size()), 0) << "mode " << mode;
        ReleaseLightSourceList(&table);
        InitializeLightSourceList(&table);
        ReleaseImage(&image);
        ReleaseColorManagement();
    }
}

// Pixels whose band stays black (no effect there) must come back untouched.
TEST_F(RenderTest, AStarChangesOnlyThePixelsItsEffectsReach) {
    ParameterSet p = Parameters(100);
    p.length = 5;
    MakeGradient(IMAGE_MODE_RGB16);
    AddStar(20, 20);
    // The footprint: the band the render draws, over the whole image.
    SetEffectArithmetic(true, IMAGE_MODE_RGB16);
    SetEffectImage(IMAGE_MODE_RGB16, image.width, image.height);
    LoadEffectParameters(p);
    Image band;
    ASSERT_TRUE(CreateImage(&band, image.imageRect, image.imageRect, IMAGE_MODE_RGB16, GetWorkingProfile(), false,
                            false));
    ASSERT_TRUE(DrawEffectsIntoBand(&band, image.imageRect, p, &table, false));
    std::vector<bool> footprint(96 * 64);
    size_t lit = 0;
    for (int32_t i = 0; i < 96 * 64; i++) {
        PixelValue v;
        band.InputImage(&band, &v, i % 96, i / 96);
        footprint[static_cast<size_t>(i)] = (v.c0 | v.c1 | v.c2) != 0;
        lit += footprint[static_cast<size_t>(i)];
    }
    ReleaseImage(&band);
    EXPECT_GT(lit, 10u);
    EXPECT_LT(lit, 96u * 64u);

    std::vector<uint8_t> before(static_cast<uint8_t*>(image.pixels.pointer),
                                static_cast<uint8_t*>(image.pixels.pointer) + image.pixels.size);
    ASSERT_EQ(RenderEffectsIntoImage(&image, p, &table, IMAGE_MODE_RGB16), 0);
    const uint16_t* now = static_cast<const uint16_t*>(image.pixels.pointer);
    const uint16_t* was = reinterpret_cast<const uint16_t*>(before.data());
    EXPECT_GT(now[(20 * 96 + 20) * 4], was[(20 * 96 + 20) * 4]);  // brighter at the star
    size_t changedOutside = 0, changedInside = 0;
    for (int32_t i = 0; i < 96 * 64; i++) {
        bool changed = std::memcmp(now + i * 4, was + i * 4, 8) != 0;
        if (footprint[static_cast<size_t>(i)])
            changedInside += changed;
        else
            changedOutside += changed;
    }
    EXPECT_EQ(changedOutside, 0u);
    EXPECT_GT(changedInside, 0u);
}

TEST_F(RenderTest, EffectsOnlyKeepsOnlyTheEffects) {
    MakeGradient(IMAGE_MODE_RGB8);
    AddStar(50, 32);
    ParameterSet p = Parameters(100);
    p.length = 5;
    p.effectsOnly = 1;
    ASSERT_EQ(RenderEffectsIntoImage(&image, p, &table, IMAGE_MODE_RGB8), 0);
    PixelValue centre;
    image.InputImage(&image, &centre, 50, 32);
    EXPECT_GT(centre.c1, 0u);
    size_t black = 0;
    for (int32_t y = 0; y < 64; y++)
        for (int32_t x = 0; x < 96; x++) {
            const uint8_t* px = PixelAddress(&image, x, y);
            black += (px[0] | px[1] | px[2]) == 0;
        }
    // The gradient is gone wherever no effect reaches: a corner far from the
    // star among them.
    EXPECT_GT(black, 200u);
    const uint8_t* corner = PixelAddress(&image, 95, 63);
    EXPECT_EQ(corner[0] | corner[1] | corner[2], 0);
}

// Light sources to draw with: white at full strength, a bright red one, and
// a faint grey one that most of a shape cannot reach.
const ShapeColor kDrawColours[] = {{0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFFFE},
                                   {0xFFFFFF, 0x400000, 0x100000, 0x30000000},
                                   {0x800000, 0x800000, 0x800000, 0x00400000}};

// The render draws the flares from their profile instead of their stored
// sub-shapes: for every quarter offset, depth, Length and colour, and clipped
// to a strip or the image's edge, the pixels must be those the stored shapes
// give, byte for byte.
TEST_F(RenderTest, FlaresDrawnFromTheirProfileEqualTheirStoredShapes) {
    struct Depth {
        int32_t mode;
        bool precise;
    } depths[] = {{IMAGE_MODE_RGB8, true}, {IMAGE_MODE_RGB16, true}, {IMAGE_MODE_RGB_FLOAT, true},
                  {IMAGE_MODE_RGB16, false}};
    const ShapeColor* colours = kDrawColours;
    size_t drawn = 0;
    for (const Depth& depth : depths) {
        MakeGradient(depth.mode);
        Image stored;
        ASSERT_TRUE(CreateImage(&stored, image.imageRect, image.imageRect, depth.mode, GetHostProfile(), false, false));
        for (int16_t length : {0, 1, 13, 60, 100}) {
            for (EffectShapeKind kind : {SOFT_FLARE_SHAPE, RING_FLARE_SHAPE}) {
                InitializeEffectTables();
                SetEffectArithmetic(depth.precise, depth.mode);
                SetEffectImage(depth.mode, image.width, image.height);
                ParameterSet p = Parameters(100);
                p.length = length;
                LoadEffectParameters(p);
                RadialFlare flare = {};
                ASSERT_TRUE(PrepareRadialFlare(&flare, kind, p));
                std::memcpy(stored.pixels.pointer, image.pixels.pointer, image.pixels.size);
                std::vector<uint8_t> profile(static_cast<uint8_t*>(image.pixels.pointer),
                                             static_cast<uint8_t*>(image.pixels.pointer) + image.pixels.size);
                Image drawnImage = image;
                drawnImage.pixels.pointer = profile.data();
                const ImageRect clips[] = {image.imageRect, {0, 20, 96, 44}};
                for (int32_t i = 0; i < 16 * 3; i++) {
                    const ShapePosition at = {-3 + (i * 37) % 100, i % 4, -2 + (i * 23) % 70, (i / 4) % 4};
                    const ShapeColor& colour = colours[i % 3];
                    const ImageRect& clip = clips[(i / 16) % 2];
                    ASSERT_TRUE(DrawShapeInto(&stored, clip, EffectShapeCache(kind), colour, at, BLEND_SCREEN));
                    DrawRadialFlareInto(&drawnImage, clip, flare, colour, at, BLEND_SCREEN);
                }
                ASSERT_EQ(std::memcmp(stored.pixels.pointer, profile.data(), profile.size()), 0)
                    << "mode " << depth.mode << (depth.precise ? " precise" : " fast") << " length " << length
                    << " kind " << kind;
                drawn += std::memcmp(image.pixels.pointer, profile.data(), profile.size()) != 0;
                ReleaseRadialFlare(&flare);
            }
        }
        ReleaseImage(&stored);
        ReleaseImage(&image);
        ReleaseColorManagement();
    }
    EXPECT_GE(drawn, 20u);  // the comparisons were of flares that changed the picture
}

// The render keeps the spikes packed and skips the runs a strip or a faint
// light source cannot show: byte for byte what the full sub-shapes give, with
// rainbow, secondary spikes, grey images and fast products.
TEST_F(RenderTest, PackedSpikesEqualTheirStoredShapes) {
    struct Case {
        int32_t mode;
        bool precise;
        int16_t length, points, sharpness, rainbow, secondary;
    } cases[] = {{IMAGE_MODE_RGB16, true, 100, 32, 100, 100, 100}, {IMAGE_MODE_RGB8, true, 40, 4, 0, 50, 50},
                 {IMAGE_MODE_RGB_FLOAT, true, 70, 6, 30, 0, 100},  {IMAGE_MODE_GRAY16, true, 60, 5, 50, 80, 0},
                 {IMAGE_MODE_RGB16, false, 90, 8, 70, 100, 60},    {IMAGE_MODE_RGB16, true, 0, 4, 50, 50, 50}};
    const ShapeColor* colours = kDrawColours;
    size_t changed = 0;
    for (const Case& c : cases) {
        MakeGradient(c.mode);
        Image stored;
        ASSERT_TRUE(CreateImage(&stored, image.imageRect, image.imageRect, c.mode, GetHostProfile(), false, false));
        std::memcpy(stored.pixels.pointer, image.pixels.pointer, image.pixels.size);
        std::vector<uint8_t> packedPixels(static_cast<uint8_t*>(image.pixels.pointer),
                                          static_cast<uint8_t*>(image.pixels.pointer) + image.pixels.size);
        Image packedImage = image;
        packedImage.pixels.pointer = packedPixels.data();
        InitializeEffectTables();
        SetEffectArithmetic(c.precise, c.mode);
        SetEffectImage(c.mode, image.width, image.height);
        ParameterSet p = Parameters(100);
        p.length = c.length;
        p.numberOfPoints = c.points;
        p.spikeSharpness = c.sharpness;
        p.rainbowIntensity = c.rainbow;
        p.secondarySpikeIntensity = c.secondary;
        p.intensity = 100;
        p.angle = 137;
        LoadEffectParameters(p);
        PackedSpikes spikes = {};
        ASSERT_TRUE(PreparePackedSpikes(&spikes, p));
        const ImageRect clips[] = {image.imageRect, {0, 20, 96, 44}};
        for (int32_t i = 0; i < 16 * 3; i++) {
            const ShapePosition at = {-3 + (i * 37) % 100, i % 4, -2 + (i * 23) % 70, (i / 4) % 4};
            const ShapeColor& colour = colours[i % 3];
            const ImageRect& clip = clips[(i / 16) % 2];
            ASSERT_TRUE(DrawShapeInto(&stored, clip, EffectShapeCache(SPIKE_SHAPE), colour, at, BLEND_SCREEN));
            ASSERT_TRUE(DrawPackedSpikesInto(&packedImage, clip, &spikes, colour, at, BLEND_SCREEN));
        }
        ASSERT_EQ(std::memcmp(stored.pixels.pointer, packedPixels.data(), packedPixels.size()), 0)
            << "mode " << c.mode << (c.precise ? " precise" : " fast") << " length " << c.length;
        changed += std::memcmp(image.pixels.pointer, packedPixels.data(), packedPixels.size()) != 0;
        ReleasePackedSpikes(&spikes);
        ReleaseImage(&stored);
        ReleaseImage(&image);
        ReleaseColorManagement();
    }
    EXPECT_EQ(changed, 5u);  // every case but Length 0 drew spikes
}

// The same picture as 8 and 16 bits (each 16-bit value 257 times the 8-bit
// one), many overlapping effects on a dark sky: the 8-bit result is the
// 16-bit one rounded to 8 bits, within a level, and no weaker on the whole.
TEST_F(RenderTest, EffectsDoNotDependOnTheDepthBeyondRounding) {
    std::vector<uint8_t> result[2];
    for (int pass = 0; pass < 2; pass++) {
        const int32_t mode = pass == 0 ? IMAGE_MODE_RGB8 : IMAGE_MODE_RGB16;
        ASSERT_TRUE(InitializeColorManagement(mode, nullptr));
        const ImageRect r = {0, 0, 160, 120};
        ASSERT_TRUE(CreateImage(&image, r, r, mode, GetHostProfile(), false, false));
        // 8-bit samples may lie blue first in memory.
        const int at[3] = {pass == 0 && image.pixelFormat != PIXEL_FORMAT_RGBA ? 2 : 0, 1,
                           pass == 0 && image.pixelFormat != PIXEL_FORMAT_RGBA ? 0 : 2};
        for (int32_t y = 0; y < 120; y++)
            for (int32_t x = 0; x < 160; x++) {
                const uint32_t sky = static_cast<uint32_t>(3 + (x * 7 + y * 13) % 9);  // a dark, uneven sky
                uint8_t* p = PixelAddress(&image, x, y);
                for (int k = 0; k < 3; k++) {
                    if (pass == 0)
                        p[at[k]] = static_cast<uint8_t>(sky + k);
                    else
                        reinterpret_cast<uint16_t*>(p)[at[k]] = static_cast<uint16_t>((sky + k) * 257);
                }
            }
        for (int32_t i = 0; i < 24; i++) {
            LightSourceCentre c = {10 + (i * 37) % 140, i % 4, 8 + (i * 23) % 104, (i / 4) % 4};
            const uint32_t brightness = 0xFFFFFFFEu / 24 * static_cast<uint32_t>(24 - i);
            AddLightSource(nullptr, &table, c, 2.0f + (i % 3), 4.0f, brightness, 0xFFFFFF, 0xC0C0C0 + i, 0x909090, 1);
        }
        FinalizeLightSourceTable(&table, nullptr);
        ParameterSet p = Parameters(100);
        p.length = 30;
        ASSERT_EQ(RenderEffectsIntoImage(&image, p, &table, mode), 0);
        for (int32_t y = 0; y < 120; y++)
            for (int32_t x = 0; x < 160; x++) {
                const uint8_t* px = PixelAddress(&image, x, y);
                for (int k = 0; k < 3; k++)
                    result[pass].push_back(pass == 0 ? px[at[k]]
                                                     : static_cast<uint8_t>(
                                                           (reinterpret_cast<const uint16_t*>(px)[at[k]] + 128) / 257));
            }
        ReleaseLightSourceList(&table);
        InitializeLightSourceList(&table);
        ReleaseImage(&image);
        ReleaseColorManagement();
    }
    int64_t sum8 = 0, sum16 = 0;
    size_t off = 0;
    for (size_t i = 0; i < result[0].size(); i++) {
        sum8 += result[0][i];
        sum16 += result[1][i];
        off += std::abs(result[0][i] - result[1][i]) > 1;
    }
    EXPECT_EQ(off, 0u) << "samples more than a level from the 16-bit result";
    EXPECT_LE(std::llabs(sum8 - sum16), static_cast<long long>(result[0].size() / 100)) << "8-bit total " << sum8
                                                                                         << ", 16-bit " << sum16;
}
