// Stars, not galaxies: generated fields whose true stars and galaxies are
// known are analysed as a filter run analyses them, every source is measured
// and judged, and the judgement is held against the truth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/analysis_task.h"
#include "analysis/light_source_table.h"
#include "analysis/star_shape.h"
#include "effects/effect_tables.h"
#include "effects/final_render.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "params/filter_parameters.h"
#include "support/run_result.h"
#include "tools/starfield/starfield.h"

namespace {

// A deep field: many stars with one point-spread function, galaxies of
// several sizes, Sérsic indices, ellipticities and angles, some brighter
// than the faint stars, kept apart so that each source has one true object.
StarfieldOptions DeepField(uint64_t seed) {
    StarfieldOptions o;
    o.seed = seed;
    o.width = 1200;
    o.height = 900;
    o.noise = 0.004;
    o.skyLevel = 0.04;
    o.skyGradientX = 0.02;
    o.skyGradientY = 0.01;
    o.nebulaCount = 2;
    o.margin = 8;
    o.minSeparation = 12;
    o.minGalaxyPeak = 0.1;
    o.maxGalaxyPeak = 0.8;
    o.minGalaxyRadius = 2;
    o.maxGalaxyRadius = 10;
    return o;
}

enum TruthKind { TRUE_NOTHING, TRUE_STAR, TRUE_GALAXY };
struct Truth {
    TruthKind kind = TRUE_NOTHING;
    size_t index = 0;
};

class StarShapeRun : public ::testing::Test {
protected:
    void SetUp() override {
        ForceGlobalErrorCode(0);
        ASSERT_TRUE(InitializeGammaTables());
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB16, nullptr));
        InitializeLightSourceList(&LightSourceTable);
        AnalysisStopFlag = 0;
    }
    void TearDown() override {
        ReleaseImage(&host);
        ReleaseLightSourceList(&LightSourceTable);
        ReleaseColorManagement();
        ReleaseGammaTables();
        ForceGlobalErrorCode(0);
    }

    // Makes the field, puts it into a 16-bit host image (each linear value
    // raised to `stretch`: below 1, as a photograph stretched for display
    // lifts its faint light), analyses it and measures every source.
    void Run(const StarfieldOptions& options, double stretch) {
        std::string error;
        ASSERT_TRUE(CreateStarfield(options, &field, &stars, &error, &galaxies)) << error;
        ReleaseImage(&host);
        ReleaseLightSourceList(&LightSourceTable);
        const ImageRect r = {0, 0, field.width, field.height};
        ASSERT_TRUE(CreateImage(&host, r, r, IMAGE_MODE_RGB16, GetHostProfile(), false, false));
        for (int32_t y = 0; y < field.height; y++)
            for (int32_t x = 0; x < field.width; x++) {
                const float* p = field.Pixel(x, y);
                uint32_t c[3];
                for (int k = 0; k < 3; k++) c[k] = static_cast<uint32_t>(std::pow(p[k], stretch) * 16777215.0);
                const PixelValue v = {c[0], c[1], c[2], 0xFFFFFFFE, PIXEL_KEEP};
                host.OutputImage(&host, &v, x, y);
            }
        ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
        shapes.assign(LightSourceTable.count, StarShape());
        ASSERT_EQ(MeasureLightSourceShapes(&host, &LightSourceTable, shapes.data(), nullptr), RUN_OK);
    }

    // The true object within 2.5 pixels of source i, the nearest.
    Truth TruthOf(uint32_t i) const {
        const LightSource& s = LightSourceRecords(&LightSourceTable)[i];
        const double x = s.x + s.xQuarter / 4.0, y = s.y + s.yQuarter / 4.0;
        Truth truth;
        double best = 2.5;
        for (size_t k = 0; k < stars.size(); k++)
            if (std::hypot(stars[k].x - x, stars[k].y - y) < best) {
                best = std::hypot(stars[k].x - x, stars[k].y - y);
                truth = {TRUE_STAR, k};
            }
        for (size_t k = 0; k < galaxies.size(); k++)
            if (std::hypot(galaxies[k].x - x, galaxies[k].y - y) < best) {
                best = std::hypot(galaxies[k].x - x, galaxies[k].y - y);
                truth = {TRUE_GALAXY, k};
            }
        return truth;
    }

    // Whether source i gets effects at the factory Quantity.
    static bool GetsEffects(uint32_t i) {
        uint32_t intensity = 0;
        return SelectLightSource(LightSourceRecords(&LightSourceTable)[i],
                                 QuantityThreshold(FACTORY_PARAMETERS.slot[SLOT_QUANTITY]), &intensity) &&
               intensity > EffectThreshold;
    }

    Image host;
    StarfieldImage field;
    std::vector<StarfieldStar> stars;
    std::vector<StarfieldGalaxy> galaxies;
    std::vector<StarShape> shapes;
};

struct Tally {
    int galaxiesWithEffects = 0, galaxiesHidden = 0;
    int starsWithEffects = 0, starsKept = 0;
};

}  // namespace

// Of the sources that get effects at factory settings, the rule hides the
// galaxies and leaves the stars, on a stretched field with Moffat stars and
// on a linear one with Gaussian stars. Hiding keeps each state to restore.
TEST_F(StarShapeRun, HidesTheGalaxiesThatWouldGetEffectsAndKeepsTheStars) {
    Tally total;
    for (int field = 0; field < 2; field++) {
        StarfieldOptions options = DeepField(1);
        double stretch = 1.0;
        if (field == 0) {
            options.starCount = 1400;
            options.galaxyCount = 150;
            options.profile = STARFIELD_PROFILE_MOFFAT;
            options.minAlpha = 1.8;
            options.maxAlpha = 2.2;
            options.galaxySeeing = 0.9;
            options.maxPeak = 3.0;
            stretch = 0.55;
        } else {
            options.starCount = 800;
            options.galaxyCount = 160;
            options.minSigma = 1.2;
            options.maxSigma = 1.4;
            options.galaxySeeing = 1.3;
            options.maxPeak = 1.0;
        }
        Run(options, stretch);
        const uint32_t count = LightSourceTable.count;
        std::vector<bool> before(count);
        std::vector<int32_t> states(count);
        for (uint32_t i = 0; i < count; i++) {
            before[i] = GetsEffects(i);
            states[i] = LightSourceRecords(&LightSourceTable)[i].state;
        }
        const uint32_t hidden = HideExtendedLightSources(&LightSourceTable, shapes.data());
        uint32_t extended = 0;
        Tally tally;
        for (uint32_t i = 0; i < count; i++) {
            const LightSource& s = LightSourceRecords(&LightSourceTable)[i];
            if (shapes[i].extended) {
                extended += states[i] != LIGHT_SOURCE_HIDDEN;
                EXPECT_EQ(s.state, LIGHT_SOURCE_HIDDEN);
                if (states[i] != LIGHT_SOURCE_HIDDEN) {
                    EXPECT_EQ(s.savedState, states[i]);
                }
            } else {
                EXPECT_EQ(s.state, states[i]);
            }
            if (!before[i]) continue;
            const Truth truth = TruthOf(i);
            if (truth.kind == TRUE_GALAXY) {
                tally.galaxiesWithEffects++;
                tally.galaxiesHidden += !GetsEffects(i);
            } else if (truth.kind == TRUE_STAR) {
                tally.starsWithEffects++;
                tally.starsKept += GetsEffects(i);
            }
        }
        EXPECT_EQ(hidden, extended);
        // Each field puts both kinds among the sources with effects.
        EXPECT_GE(tally.galaxiesWithEffects, 15) << "field " << field;
        EXPECT_GE(tally.starsWithEffects, 20) << "field " << field;
        std::printf("field %d: galaxies hidden %d of %d, stars kept %d of %d\n", field, tally.galaxiesHidden,
                    tally.galaxiesWithEffects, tally.starsKept, tally.starsWithEffects);
        total.galaxiesWithEffects += tally.galaxiesWithEffects;
        total.galaxiesHidden += tally.galaxiesHidden;
        total.starsWithEffects += tally.starsWithEffects;
        total.starsKept += tally.starsKept;
    }
    RecordProperty("galaxies_hidden",
                   std::to_string(total.galaxiesHidden) + "/" + std::to_string(total.galaxiesWithEffects));
    RecordProperty("stars_kept", std::to_string(total.starsKept) + "/" + std::to_string(total.starsWithEffects));
    EXPECT_GE(total.galaxiesHidden, 0.90 * total.galaxiesWithEffects);
    EXPECT_GE(total.starsKept, 0.98 * total.starsWithEffects);
}

// Sources whose cores are clipped are judged by their wings: stars, many
// with bleed trails, are kept though the flat tops and trails make some of
// them look extended by their moments, and galaxies whose cores are clipped
// too are hidden.
TEST_F(StarShapeRun, SaturatedSourcesAreJudgedByTheirWings) {
    StarfieldOptions options = DeepField(4);
    options.starCount = 900;
    options.galaxyCount = 100;
    options.minPeak = 0.05;
    options.maxPeak = 8.0;
    options.bleed = true;
    options.minSigma = 1.2;
    options.maxSigma = 1.4;
    options.galaxySeeing = 1.3;
    options.minGalaxyPeak = 0.5;
    options.maxGalaxyPeak = 4.0;
    Run(options, 0.55);
    int saturated = 0, distorted = 0, saturatedGalaxies = 0, galaxiesHidden = 0, largeGalaxies = 0, largeHidden = 0;
    for (uint32_t i = 0; i < LightSourceTable.count; i++) {
        const Truth truth = TruthOf(i);
        const StarShape& s = shapes[i];
        if (truth.kind == TRUE_GALAXY && s.saturated) {
            saturatedGalaxies++;
            galaxiesHidden += s.extended;
            if (galaxies[truth.index].effectiveRadius >= 7.5) {
                largeGalaxies++;
                largeHidden += s.extended;
            }
        }
        if (truth.kind != TRUE_STAR || !stars[truth.index].saturated) continue;
        saturated++;
        EXPECT_FALSE(s.extended) << "star at " << stars[truth.index].x << ", " << stars[truth.index].y;
        if (s.saturated) {
            EXPECT_GT(s.wingQuarter, s.wingCore);
        }
        distorted += s.measured && (s.relativeSize > STAR_SHAPE_SIZE_LIMIT ||
                                    s.ellipticity > s.referenceEllipticity + STAR_SHAPE_ELLIPTICITY_LIMIT ||
                                    s.concentration < s.referenceConcentration - STAR_SHAPE_CONCENTRATION_LIMIT);
    }
    std::printf("saturated stars %d (%d distorted), saturated galaxies hidden %d of %d (%d of %d of 7.5 px and more)\n",
                saturated, distorted, galaxiesHidden, saturatedGalaxies, largeHidden, largeGalaxies);
    EXPECT_GE(saturated, 30);
    EXPECT_GT(distorted, 0);
    // Small round galaxies with clipped cores fall as steeply as a
    // photograph's bright stars (whose halos the rule allows for) and keep
    // their effects; the large ones and the flat ones are hidden.
    EXPECT_GE(largeGalaxies, 5);
    EXPECT_GE(largeHidden, 0.8 * largeGalaxies);
    EXPECT_GE(galaxiesHidden, 0.3 * saturatedGalaxies);
}
