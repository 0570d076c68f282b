// End-to-end properties of the picture, checked in every host mode through
// the real PluginMain and the host simulator: a screen never darkens, pixels
// the effects do not reach keep their bytes, hostile parameter values are held
// to their ranges, and the same image gives the same picture whatever the
// worker count and however often it is run.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/light_source_table.h"
#include "support/thread_pool.h"
#include "host/host_abi.h"
#include "host/plugin_state.h"
#include "host/scripting.h"
#include "params/filter_parameters.h"
#include "tests/host_test_support.h"
#include "image/tracked_buffer.h"
#include "tests/test_support.h"
#include "tools/hostsim/host_simulator.h"

extern "C" void PluginMain(int16 selector, void* block, intptr_t* data, int16* result);

namespace {

const int16 kModes[] = {plugInModeRGBColor, plugInModeRGB48,  plugInModeRGB96,
                        plugInModeGrayScale, plugInModeGray16, plugInModeGray32};

FilterParameters EveryPassAtFull() {
    FilterParameters p = FACTORY_PARAMETERS;
    for (int slot : {SLOT_INTENSITY, SLOT_LENGTH, SLOT_RAINBOW_INTENSITY, SLOT_SECONDARY_SPIKE_INTENSITY,
                     SLOT_SOFT_FLARE_INTENSITY, SLOT_RING_FLARE_INTENSITY, SLOT_QUANTITY})
        p.slot[slot] = 100;
    return p;
}

struct Star {
    double x, y, radius, peak;
};

// A faint sky rising from 0 to 2 % of full scale across the image, with a few
// bright stars (some on the bottom row and near section boundaries).
void FillFaintField(SimDocument& document, const std::vector<Star>& stars) {
    document.Allocate();
    const double white = SimWhite(document.mode);
    const int32 colours = document.ColorPlanes();
    for (int32 y = 0; y < document.height; y++)
        for (int32 x = 0; x < document.width; x++) {
            double sky = 0.02 * (x + y * 0.3) / (document.width + document.height * 0.3);
            for (int32 p = 0; p < colours; p++) {
                double v = sky * (p == 2 ? 0.8 : 1.0);
                for (const Star& s : stars) {
                    double d2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
                    v += s.peak * std::exp(-d2 / (2 * s.radius * s.radius)) * (p == 0 ? 1.0 : 0.9);
                }
                if (v > 1.0) v = 1.0;
                double stored = v * white;
                if (!document.IsFloat()) stored = std::floor(stored + 0.5);
                document.Set(p, x, y, stored);
            }
        }
}

std::vector<Star> FewStars(int32 width, int32 height) {
    return {{width * 0.3, height * 0.25, 2.0, 1.0},
            {width * 0.7, height * 0.5 - 0.5, 2.5, 0.9},
            {width * 0.45, height - 1.0, 1.8, 0.95},
            {width * 0.85, height * 0.8, 1.5, 0.8}};
}

class PictureProperties : public ::testing::Test {
protected:
    void TearDown() override {
        SetProcessorCountForTesting(0);
        EXPECT_FALSE(gPlugin.initialised);
    }
    // Runs the filter silently with `parameters` on `document`; the result.
    int16 Run(SimDocument& document, const FilterParameters& parameters) {
        HostSimulator host{PluginMain};
        host.document = document;
        host.options.callParameters = false;
        host.options.playInfo = PLAY_INFO_SILENT;
        host.PlayDescriptor(DescriptorOfRecord(parameters));
        RunLog run = host.RunFilter();
        EXPECT_TRUE(run.violations.empty());
        document = host.document;
        return run.Result(filterSelectorStart);
    }
};

// Reads sample (plane, index) of a document as a number.
double Sample(SimDocument& d, int32 plane, int32 x, int32 y) { return d.Get(plane, x, y); }

TEST_F(PictureProperties, AScreenNeverDarkensAndUntouchedPixelsKeepTheirBytes) {
    for (int16 mode : kModes) {
        for (const FilterParameters& parameters : {FACTORY_PARAMETERS, EveryPassAtFull()}) {
            SimDocument input = MakeSimDocument(mode, 160, 120);
            FillFaintField(input, FewStars(160, 120));
            SimDocument output = input, effects = input;
            ASSERT_EQ(noErr, Run(output, parameters)) << SimModeName(mode);
            FilterParameters only = parameters;
            only.slot[SLOT_EFFECTS_ONLY] = 1;
            ASSERT_EQ(noErr, Run(effects, only)) << SimModeName(mode);

            int64_t darker = 0, changedWithoutEffect = 0, brighter = 0;
            for (int32 p = 0; p < input.ColorPlanes(); p++)
                for (int32 y = 0; y < input.height; y++)
                    for (int32 x = 0; x < input.width; x++) {
                        double before = Sample(input, p, x, y), after = Sample(output, p, x, y);
                        if (after < before) darker++;
                        if (after > before) brighter++;
                        bool noEffect = true;
                        for (int32 q = 0; q < input.ColorPlanes(); q++)
                            if (Sample(effects, q, x, y) != 0) noEffect = false;
                        if (noEffect && std::memcmp(input.SampleAddress(p, x, y), output.SampleAddress(p, x, y),
                                                    input.BytesPerSample()) != 0)
                            changedWithoutEffect++;
                    }
            EXPECT_EQ(0, darker) << SimModeName(mode);
            EXPECT_EQ(0, changedWithoutEffect) << SimModeName(mode);
            EXPECT_GT(brighter, 1000) << SimModeName(mode) << ": the effects must show";
        }
    }
}

TEST_F(PictureProperties, FloatValuesAboveWhiteAreKeptAndDoNotHideTheStars) {
    SimDocument field = MakeSimDocument(plugInModeRGB96, 160, 120);
    FillFaintField(field, FewStars(160, 120));
    // The reference holds the pixel at white, which is what the analysis sees
    // of any brighter value.
    for (int32 p = 0; p < 3; p++) field.Set(p, 2, 2, 1.0);
    SimDocument plain = field;
    ASSERT_EQ(noErr, Run(plain, FACTORY_PARAMETERS));
    std::vector<LightSource> expected(LightSourceRecords(&LightSourceTable),
                                      LightSourceRecords(&LightSourceTable) + LightSourceTable.count);
    ASSERT_GE(expected.size(), 3u);

    for (double hot : {1.2, 3.0, 1e6}) {
        SimDocument withHot = field;
        // One hot pixel in an empty corner, far from every star.
        for (int32 p = 0; p < 3; p++) withHot.Set(p, 2, 2, hot);
        ASSERT_EQ(noErr, Run(withHot, FACTORY_PARAMETERS)) << hot;
        ASSERT_EQ(expected.size(), LightSourceTable.count) << "hot pixel " << hot;
        for (size_t i = 0; i < expected.size(); i++) {
            bool found = false;
            for (uint32_t j = 0; j < LightSourceTable.count; j++) {
                const LightSource& s = LightSourceRecords(&LightSourceTable)[j];
                found |= s.x == expected[i].x && s.y == expected[i].y && s.xQuarter == expected[i].xQuarter &&
                         s.yQuarter == expected[i].yQuarter;
            }
            EXPECT_TRUE(found) << "source " << i << " with a hot pixel of " << hot;
        }
        // The over-range value itself comes back as it was: a screen cannot brighten white.
        EXPECT_EQ(static_cast<float>(hot), static_cast<float>(withHot.Get(0, 2, 2)));
        for (int32 p = 0; p < 3; p++)
            for (int32 y = 0; y < withHot.height; y++)
                for (int32 x = 0; x < withHot.width; x++) EXPECT_TRUE(std::isfinite(withHot.Get(p, x, y)));
    }
}

TEST_F(PictureProperties, OutOfRangeParametersAreHeldToTheDialogsRanges) {
    struct Case {
        int slot;
        int16_t hostile, held;
    } cases[] = {{SLOT_SOFT_FLARE_INTENSITY, 150, 100}, {SLOT_RING_FLARE_INTENSITY, 150, 100},
                 {SLOT_COLOR_HUE, 1000, 100},         {SLOT_EFFECTS_ONLY, 7, 1},
                 {SLOT_NUMBER_OF_POINTS, -3, 1},      {SLOT_RAINBOW_FREQUENCY, 32000, 100},
                 {SLOT_LENGTH, -500, 0},              {SLOT_QUANTITY, 300, 100}};
    SimDocument field = MakeSimDocument(plugInModeRGB48, 120, 90);
    FillFaintField(field, FewStars(120, 90));
    for (const Case& c : cases) {
        FilterParameters hostile = FACTORY_PARAMETERS, held = FACTORY_PARAMETERS;
        hostile.slot[c.slot] = c.hostile;
        held.slot[c.slot] = c.held;
        SimDocument a = field, b = field;
        ASSERT_EQ(noErr, Run(a, hostile)) << "slot " << c.slot;
        ASSERT_EQ(noErr, Run(b, held)) << "slot " << c.slot;
        EXPECT_TRUE(a.planes == b.planes) << "slot " << c.slot << " = " << c.hostile;
    }
    FilterParameters record = FACTORY_PARAMETERS;
    record.slot[SLOT_SOFT_FLARE_INTENSITY] = 150;
    record.slot[SLOT_ANGLE] = -2000;
    record.slot[SLOT_EFFECTS_ONLY] = -1;
    EXPECT_EQ(3, ClampFilterParameters(&record));
    EXPECT_EQ(100, record.slot[SLOT_SOFT_FLARE_INTENSITY]);
    EXPECT_EQ(-900, record.slot[SLOT_ANGLE]);
    EXPECT_EQ(0, record.slot[SLOT_EFFECTS_ONLY]);
    EXPECT_EQ(0, ClampFilterParameters(&record));
}

// Runs per mode of the repeat test: 15, or RAYLUME_REPEATED_RUNS for a longer hunt.
int RepeatedRunCount() {
    const char* text = std::getenv("RAYLUME_REPEATED_RUNS");
    int count = text ? std::atoi(text) : 0;
    return count > 0 ? count : 15;
}

// A run's picture depends only on the image and the parameters: not on the
// run before it, the worker count or the threads' timing.
TEST_F(PictureProperties, RepeatedRunsWithOneToFiveWorkersAreByteIdentical) {
    for (int16 mode : kModes) {
        SimDocument field = MakeSimDocument(mode, 200, 150);
        std::vector<Star> stars = FewStars(200, 150);
        // Stars across the boundaries of two, three, four and five sections.
        stars.push_back({40, 75 - 0.5, 2.2, 0.9});
        stars.push_back({120, 50, 2.0, 0.85});
        stars.push_back({170, 37.5, 1.7, 0.9});
        stars.push_back({15, 149, 2.0, 1.0});
        FillFaintField(field, stars);
        SimDocument first = field;
        SetProcessorCountForTesting(1);
        ASSERT_EQ(noErr, Run(first, FACTORY_PARAMETERS));
        const uint32_t sources = LightSourceTable.count;
        ASSERT_GE(sources, 6u) << SimModeName(mode);
        int differing = 0;
        for (int run = 0; run < RepeatedRunCount(); run++) {
            SetProcessorCountForTesting(1 + run % 5);
            SimDocument again = field;
            ASSERT_EQ(noErr, Run(again, FACTORY_PARAMETERS));
            EXPECT_EQ(sources, LightSourceTable.count) << SimModeName(mode) << " run " << run;
            if (!(again.planes == first.planes)) differing++;
        }
        EXPECT_EQ(0, differing) << SimModeName(mode);
    }
}

}  // namespace

namespace {

// When memory runs out while effect shapes are built, the run still ends
// well, and the user is told once, through the host's window, that some
// effects may be missing.
TEST_F(PictureProperties, EffectsDroppedForLowMemoryAreToldToTheUserOnce) {
    SimDocument field = MakeSimDocument(plugInModeRGB48, 800, 600);
    FillFaintField(field, FewStars(800, 600));
    FilterParameters longSpikes = FACTORY_PARAMETERS;
    longSpikes.slot[SLOT_LENGTH] = 100;
    ShownMessageBoxes().clear();
    // Images, strips and the analysis banks stay below this size; the
    // element lists of spikes across the whole picture do not.
    SetBufferAllocationLimitForTesting(5 << 20);
    SimDocument output = field;
    const int16 result = Run(output, longSpikes);
    SetBufferAllocationLimitForTesting(0);
    EXPECT_EQ(noErr, result);
    int warnings = 0;
    for (const ShownMessageBox& box : ShownMessageBoxes())
        if (box.text.find("Low memory") != std::string::npos) warnings++;
    EXPECT_EQ(1, warnings);
    EXPECT_FALSE(output.planes == field.planes) << "the effects that fitted are drawn";
}

}  // namespace
