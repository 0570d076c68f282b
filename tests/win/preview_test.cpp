// The preview end to end under Wine: the background task draws real frames
// of a star field through the OpenGL layer, read back through the harness.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "analysis/analysis_task.h"
#include "analysis/light_source_table.h"
#include "effects/effect_tables.h"
#include "effects/final_render.h"
#include "gl/drawing_settings.h"
#include "gl/screen_bitmap.h"
#include "gl/texture_sets.h"
#include "host/host_image.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "image/tracked_buffer.h"
#include "preview/background_task.h"
#include "preview/gl_shapes.h"
#include "preview/preview_harness.h"
#include "preview/proxy_display.h"
#include "support/run_result.h"
#include "tests/test_support.h"
#include "tests/win/gl_test_support.h"
#include "tools/previewtool/starfield_host_image.h"
#include "tools/starfield/starfield.h"

namespace {

const char kTestKey[] = "Software\\RaylumeTests\\OpenGLSettings";

ParameterSet Effects() {
    ParameterSet p = {};
    p.scale = 100.0;
    p.previewOn = true;
    p.intensity = 60;
    p.length = 40;
    p.angle = 450;
    p.numberOfPoints = 4;
    p.spikeSharpness = 50;
    p.colorSaturation = 0;
    p.rainbowIntensity = 0;
    p.rainbowFrequency = 50;
    p.secondarySpikeIntensity = 20;
    p.softFlareIntensity = 30;
    p.quantity = 60;
    p.colorHue = 0;
    p.ringFlareIntensity = 0;
    return p;
}

// The run's services and a host image of a star field with its analysed light sources.
class Preview : public ::testing::Test {
protected:
    void SetUp() override {
        ForceGlobalErrorCode(0);
        InitializeBufferUsage();
        ASSERT_TRUE(InitializeGammaTables());
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB16, nullptr));
        ASSERT_TRUE(CreateShapeCreationMutex());
        InitializeEffectTables();
        SetOpenGLRegistryKeyForTesting(kTestKey);
    }
    void TearDown() override {
        ClosePreviewHarness();
        ReleaseLightSourceList(&LightSourceTable);
        ReleaseHostProxyPyramid();
        ReleaseImage(GetHostImage());
        ReleaseEffectShapeCaches();
        CloseShapeCreationMutex();
        ReleaseColorManagement();
        ReleaseGammaTables();
        SetOpenGLRegistryKeyForTesting(nullptr);
        ForceGlobalErrorCode(0);
    }

    // A 16-bit host image of a star field (encoded with gamma 2.2, as the
    // default profile stores it), optionally transparent in a rectangle.
    void MakeField(int32_t width, int32_t height, int32_t stars, uint64_t seed, const RECT* transparent = nullptr) {
        StarfieldOptions options;
        options.seed = seed;
        options.width = width;
        options.height = height;
        options.starCount = stars;
        options.minPeak = 0.2;
        options.maxPeak = 3.0;
        options.skyLevel = 0.02;
        options.margin = 8;
        StarfieldImage field;
        std::vector<StarfieldStar> truth;
        std::string error;
        ASSERT_TRUE(CreateStarfield(options, &field, &truth, &error)) << error;
        TransparentRect clear = {};
        if (transparent) clear = {transparent->left, transparent->top, transparent->right, transparent->bottom};
        ASSERT_TRUE(StarfieldToHostImage(field, transparent ? &clear : nullptr));
        Image* host = GetHostImage();
        InitializeLightSourceList(&LightSourceTable);
        ASSERT_EQ(RunLightSourceAnalysis(host), 0);
        ASSERT_GT(LightSourceTable.count, 0u);
    }

    static double Luminance(const uint8_t* p) { return (p[0] + p[1] + p[2]) / 3.0; }
};

// The preview at 100 % against the final render of the same parameters, on
// the card (gamma shader, 16-bit textures) and in software.
//
// Expected differences: the preview draws each effect from one rendered
// shape (a light source at a pixel corner) moved to its quarter-pixel place
// and sampled bilinearly, at nine brightness levels instead of exact
// intensities; it uses fast arithmetic (faint tails end at 2^-9 instead of
// 2^-12), draws the main spikes 2 % longer and 10 % sharper, and shows 8-bit
// display values. These move light along a spike by a pixel or shorten a
// faint tail, so single pixels may differ a lot; what is compared is the
// light the effects add in all, and the pixels away from the effects.
TEST_F(Preview, AFrameAtFullSizeAgreesWithTheFinalRender) {
    const int32_t w = 300, h = 200;
    MakeField(w, h, 25, 3);
    ParameterSet p = Effects();
    // The final render, then brought to 8-bit display values.
    Image final;
    ImageRect rect = {0, 0, w, h};
    ASSERT_TRUE(CreateImage(&final, rect, rect, IMAGE_MODE_RGB16, GetHostProfile(), false, false));
    std::memcpy(final.pixels.pointer, GetHostImage()->pixels.pointer, final.pixels.size);
    ASSERT_EQ(RenderEffectsIntoImage(&final, p, &LightSourceTable, IMAGE_MODE_RGB16), RUN_OK);

    for (uint32_t setting : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_NONE}) {
        ASSERT_TRUE(OpenPreviewHarness(w + 2, h + 2, setting));  // a one-pixel border: the image at (1, 1)
        PreviewFrame frame;
        ASSERT_TRUE(RenderPreviewFrame(p, &frame)) << setting;
        ParameterSet none = p;
        none.previewOn = false;  // the effects switched off: the image alone
        PreviewFrame plain;
        ASSERT_TRUE(RenderPreviewFrame(none, &plain)) << setting;
        ClosePreviewHarness();

        double addedFinal = 0, addedPreview = 0, untouchedError = 0, plainError = 0;
        int untouched = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const uint16_t* f = reinterpret_cast<const uint16_t*>(PixelAddress(&final, x, y));
                const uint16_t* o = reinterpret_cast<const uint16_t*>(PixelAddress(GetHostImage(), x, y));
                const size_t at = (static_cast<size_t>(y + 1) * (w + 2) + (x + 1)) * 4;
                double finalLum = (f[0] + f[1] + f[2]) / 3.0 / 257.0, originalLum = (o[0] + o[1] + o[2]) / 3.0 / 257.0;
                double previewLum = Luminance(&frame.rgba[at]), plainLum = Luminance(&plain.rgba[at]);
                // The image alone shows the host pixels (through the display profile).
                plainError += std::fabs(plainLum - originalLum);
                addedFinal += finalLum - originalLum;
                addedPreview += previewLum - plainLum;
                if (finalLum - originalLum < 0.5) {
                    untouchedError += std::fabs(previewLum - plainLum);
                    ++untouched;
                }
            }
        std::printf("preview vs final render, setting %u: image alone off by %.2f on average; effects add %.0f "
                    "(final) and %.0f (preview); away from the effects off by %.3f\n",
                    setting, plainError / (w * h), addedFinal, addedPreview, untouchedError / untouched);
        EXPECT_LT(plainError / (w * h), 2.0) << "setting " << setting;
        ASSERT_GT(addedFinal, 1000.0);
        EXPECT_NEAR(addedPreview / addedFinal, 1.0, 0.25) << "setting " << setting;
        EXPECT_LT(untouchedError / untouched, 1.0) << "setting " << setting;
    }
    ReleaseImage(&final);
}

TEST_F(Preview, OnlyWhatChangedIsRebuilt) {
    MakeField(200, 150, 20, 5);
    ASSERT_TRUE(OpenPreviewHarness(202, 152, OPTIMIZE_FOR_QUALITY));
    ParameterSet p = Effects();
    PreviewFrame frame;
    ASSERT_TRUE(RenderPreviewFrame(p, &frame));
    const PreviewShapeStats before = PreviewShapeStatistics(PREVIEW_MAIN_SPIKES);
    const uint32_t hostBuilds = HostImageRebuildCount();
    p.quantity = 80;  // more light sources: new quads, the same textures
    ASSERT_TRUE(RenderPreviewFrame(p, &frame));
    PreviewShapeStats after = PreviewShapeStatistics(PREVIEW_MAIN_SPIKES);
    EXPECT_EQ(after.textureBuilds, before.textureBuilds);
    EXPECT_EQ(after.quadBuilds, before.quadBuilds + 1);
    EXPECT_GE(after.quads, before.quads);
    EXPECT_EQ(HostImageRebuildCount(), hostBuilds);  // the image did not change
    p.length = 60;  // longer spikes: textures and quads
    ASSERT_TRUE(RenderPreviewFrame(p, &frame));
    PreviewShapeStats longer = PreviewShapeStatistics(PREVIEW_MAIN_SPIKES);
    EXPECT_EQ(longer.textureBuilds, after.textureBuilds + 1);
    EXPECT_EQ(longer.quadBuilds, after.quadBuilds + 1);
    // Switching the effects off rebuilds the image (the view changed) but not the effects.
    const uint32_t effectBuilds = EffectsRebuildCount();
    p.previewOn = false;
    ASSERT_TRUE(RenderPreviewFrame(p, &frame));
    EXPECT_EQ(EffectsRebuildCount(), effectBuilds);
    EXPECT_EQ(HostImageRebuildCount(), hostBuilds + 1);
}

TEST_F(Preview, ManyStarsSpillIntoASecondVertexBlock) {
    MakeField(130, 130, 2, 7);
    // 4200 light sources of four points, two pixels apart: 16800 main-spike quads.
    ReleaseLightSourceList(&LightSourceTable);
    InitializeLightSourceList(&LightSourceTable);
    for (int i = 0; i < 4200; ++i) {
        LightSourceCentre c = {(i % 65) * 2, 0, (i / 65) * 2, 0};
        AddLightSource(nullptr, &LightSourceTable, c, 1.0f, 1.0f, 0xFFFFFFFE, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 1);
    }
    ASSERT_EQ(LightSourceTable.count, 4200u);
    ASSERT_TRUE(OpenPreviewHarness(132, 132, OPTIMIZE_FOR_QUALITY));
    ParameterSet p = Effects();
    p.quantity = 100;
    CapturedReports reports;
    PreviewFrame frame;
    ASSERT_TRUE(RenderPreviewFrame(p, &frame));
    const PreviewShapeStats& stats = PreviewShapeStatistics(PREVIEW_MAIN_SPIKES);
    EXPECT_EQ(stats.quads, 4200u * 4);
    EXPECT_EQ(stats.vertexBlocks, 2u);
    EXPECT_FALSE(reports.Contains("OpenGL Error")) << reports.Count();
    // Every star is white and full: the field is lit everywhere.
    double lit = 0;
    for (size_t i = 0; i < frame.rgba.size(); i += 4) lit += Luminance(&frame.rgba[i]);
    EXPECT_GT(lit / (frame.rgba.size() / 4), 200.0);
}

// What the preview shows depends on the values alone, not on the frames
// before: after each change a frame equals one of a fresh preview opened on
// the final values. The changes are those that reuse what an earlier build
// left: blocks of quads from a larger build (the secondary spikes of many
// stars spill into a second block), then fewer quads, then textures kept
// from a longer spike.
TEST_F(Preview, AFrameAfterChangesEqualsAFreshOne) {
    const int32_t w = 400, h = 300;
    MakeField(w, h, 900, 13);
    ParameterSet p = Effects();
    p.quantity = 100;
    p.secondarySpikeIntensity = 60;
    struct Change {
        const char* what;
        void (*apply)(ParameterSet*);
    };
    const Change changes[] = {
        {"Angle after many stars", [](ParameterSet* s) { s->angle = 300; }},
        {"Quantity 10", [](ParameterSet* s) { s->quantity = 10; }},
        {"Length 100", [](ParameterSet* s) { s->length = 100; }},
        {"Length 20", [](ParameterSet* s) { s->length = 20; }},
    };
    for (uint32_t setting : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_NONE}) {
        ParameterSet set = p;
        ASSERT_TRUE(OpenPreviewHarness(w + 2, h + 2, setting));
        PreviewFrame frame;
        ASSERT_TRUE(RenderPreviewFrame(set, &frame));
        ASSERT_GE(PreviewShapeStatistics(PREVIEW_SECONDARY_SPIKES).vertexBlocks, 2u) << "a second block in use";
        std::vector<PreviewFrame> after;
        for (const Change& change : changes) {
            change.apply(&set);
            after.emplace_back();
            ASSERT_TRUE(RenderPreviewFrame(set, &after.back())) << change.what;
        }
        ClosePreviewHarness();
        set = p;
        for (size_t i = 0; i < after.size(); ++i) {
            changes[i].apply(&set);
            ASSERT_TRUE(OpenPreviewHarness(w + 2, h + 2, setting));
            PreviewFrame fresh;
            ASSERT_TRUE(RenderPreviewFrame(set, &fresh));
            ClosePreviewHarness();
            ASSERT_EQ(fresh.rgba.size(), after[i].rgba.size());
            int differing = 0, largest = 0;
            for (size_t k = 0; k < fresh.rgba.size(); ++k) {
                int d = std::abs(static_cast<int>(fresh.rgba[k]) - static_cast<int>(after[i].rgba[k]));
                differing += d > 1;
                largest = std::max(largest, d);
            }
            // Bilinear sampling of a texture kept larger may round a level apart.
            EXPECT_EQ(differing, 0) << changes[i].what << ", setting " << setting << ": up to " << largest;
        }
    }
}

// Closing the dialog during a slow frame: the effects stop building at the
// abort request, without a report, and the next frame builds them whole.
int gCachesDone = 0;
void CountCache() { ++gCachesDone; }

TEST_F(Preview, TheEffectsStopAtAnAbortRequestAndBuildAgainAfter) {
    MakeField(300, 200, 60, 17);
    GLTestContext gl;
    ASSERT_TRUE(gl.Open(64, 64, OPTIMIZE_FOR_QUALITY, false));
    ASSERT_TRUE(InitializePreviewShapes());
    ParameterSet p = Effects();
    p.ringFlareIntensity = 40;
    RequestBackgroundAbort();  // no task runs: only the flags go up
    gCachesDone = 0;
    {
        CapturedReports reports;
        EXPECT_FALSE(DrawPreviewEffects(p, &LightSourceTable, false, CountCache));
        EXPECT_EQ(reports.Count(), 0u) << "an abort is no failure";
    }
    for (int kind = 0; kind < PREVIEW_SHAPE_KINDS; ++kind) {
        const PreviewShapeStats& stats = PreviewShapeStatistics(static_cast<PreviewShapeKind>(kind));
        EXPECT_EQ(stats.textureBuilds + stats.quadBuilds, 0u) << kind;
    }
    EXPECT_EQ(gCachesDone, 0);
    DestroyBackgroundTask();  // lowers the flags
    ASSERT_FALSE(PreviewAbortRequested());
    EXPECT_TRUE(DrawPreviewEffects(p, &LightSourceTable, false, CountCache));
    EXPECT_EQ(gCachesDone, PREVIEW_SHAPE_KINDS) << "each cache counts towards the dialog's progress";
    for (int kind = 0; kind < PREVIEW_SHAPE_KINDS; ++kind) {
        const PreviewShapeStats& stats = PreviewShapeStatistics(static_cast<PreviewShapeKind>(kind));
        EXPECT_EQ(stats.textureBuilds, 1u) << kind;
        EXPECT_GT(stats.quads, 0u) << kind;
    }
    DestroyFilterEffects_OpenGL();
    gl.Close();
}

// The wait display reaches the window like a frame, on the card and in
// software: presented, and in the screen bitmap centred in the client area.
TEST_F(Preview, TheWaitDisplayIsPresented) {
    MakeField(64, 48, 3, 19);
    // A 40 x 20 splash of one colour (red 200, green 40, blue 10).
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 40, 20, 1, 32, BI_RGB};
    void* bits = nullptr;
    HBITMAP splash = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_TRUE(splash && bits);
    for (int i = 0; i < 40 * 20; ++i) static_cast<uint32_t*>(bits)[i] = 0xFFC8280Au;
    for (bool software : {false, true}) {
        GLTestContext gl;
        ASSERT_TRUE(gl.Open(160, 120, software ? OPTIMIZE_NONE : OPTIMIZE_FOR_QUALITY, software));
        ASSERT_TRUE(InitializeScreenBitmapAccess());
        ASSERT_TRUE(InitializeScaledProxyLayer(nullptr, gl.window));
        ASSERT_TRUE(CreateSplashTextureSet(splash));
        const uint32_t before = PresentedFrameCount();
        ASSERT_TRUE(DrawSplashScreen(RECT{0, 0, 160, 120})) << software;
        EXPECT_EQ(PresentedFrameCount(), before + 1) << software;
        ASSERT_TRUE(WaitForScreenBitmap(5000));
        const ScreenBitmap* front = FrontScreenBitmap();
        ASSERT_EQ(front->width, 160);
        ASSERT_EQ(front->height, 120);
        // Bottom-up BGRA rows: the middle is the splash, a corner the grey around it.
        auto at = [&](int x, int y) { return static_cast<const uint8_t*>(front->bits) + ((119 - y) * 160 + x) * 4; };
        const uint8_t* middle = at(80, 60);
        const uint8_t* corner = at(5, 5);
        EXPECT_GT(middle[2], 150) << software;  // red, brightened by display gamma
        EXPECT_LT(middle[0], middle[1]) << software;
        EXPECT_NEAR(corner[0], corner[2], 2) << software;  // grey
        EXPECT_NE(corner[2], middle[2]) << software;
        ReleaseScreenBitmapMutex();
        DestroyScaledProxyLayer();
        ReleaseScreenBitmaps();
        gl.Close();
    }
    DeleteObject(splash);
}

TEST_F(Preview, PlacementAtHalfSizeAndTheEffectsOnlyView) {
    // A 1001-pixel-wide image at 50 % shows 500 columns: 1001 / 2 truncated.
    ImagePlacement place = PlaceImage(RECT{0, 0, 600, 300}, 1001, 201, 50.0);
    EXPECT_EQ(place.image.right - place.image.left, 500);
    EXPECT_EQ(place.image.bottom - place.image.top, 100);
    EXPECT_EQ(place.image.left, 1 + (598 - 500) / 2);  // centred inside the one-pixel border
    place = PlaceImage(RECT{0, 0, 100, 80}, 1001, 201, 100.0);
    EXPECT_EQ(place.image.left, 1);  // larger than the area: from (1, 1)
    EXPECT_EQ(place.visible.right, 99);

    RECT clear = {0, 0, 40, 64};
    MakeField(1001, 64, 6, 11, &clear);
    ASSERT_TRUE(OpenPreviewHarness(600, 100, OPTIMIZE_FOR_QUALITY));
    ParameterSet p = Effects();
    p.scale = 50.0;
    PreviewFrame frame;
    ASSERT_TRUE(RenderPreviewFrame(p, &frame));
    // The image covers 500 columns of the middle row; the border around it is
    // grey (the outermost pixels carry the window's outline).
    const int32_t row = 50;
    int covered = 0;
    for (int32_t x = 1; x < 599; ++x) {
        const uint8_t* px = &frame.rgba[(static_cast<size_t>(row) * 600 + x) * 4];
        covered += !(px[0] == 127 && px[1] == 127 && px[2] == 127);
    }
    EXPECT_EQ(covered, 500);

    // Effects only: the opaque image is black except for the effects; the
    // transparent part shows the checkerboard (its two greys after gamma).
    p.effectsOnly = 1;
    p.quantity = 0;  // no light source: nothing but black and the checkerboard
    ASSERT_TRUE(RenderPreviewFrame(p, &frame));
    const int32_t left = 1 + (598 - 500) / 2, top = 1 + (98 - 32) / 2;
    auto at = [&](int32_t x, int32_t y) { return &frame.rgba[(static_cast<size_t>(top + y) * 600 + left + x) * 4]; };
    EXPECT_EQ(at(100, 10)[0], 0);   // opaque, no effects: black
    EXPECT_EQ(at(300, 20)[1], 0);
    const uint8_t light = at(2, 2)[0], dark = at(10, 2)[0];  // 8-pixel squares
    EXPECT_EQ(light, 255);
    EXPECT_NEAR(dark, std::lround(255 * std::pow(148 / 255.0, 1 / 2.2)), 2);
    EXPECT_EQ(at(2, 10)[0], dark);
}

}  // namespace
