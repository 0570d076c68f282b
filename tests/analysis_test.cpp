// Light source analysis: the ray and radius arithmetic, the bank shapes, and
// whole analyses of synthetic star fields whose true stars are known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/analysis_task.h"
#include "analysis/light_source_analysis.h"
#include "analysis/light_source_table.h"
#include "support/thread_pool.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "support/run_result.h"
#include "tests/test_support.h"
#include "tools/starfield/starfield.h"

namespace {

float Radii(std::initializer_list<float> values, float* out) {
    int i = 0;
    for (float v : values) out[i++] = v;
    return 0;
}

}  // namespace

TEST(RadiusStatistics, InvalidRadiiAreIgnoredAndOutliersClipped) {
    float r[8];
    Radii({2, 2, 2, 2, -1, 2, 2, 10}, r);
    RadiusStatistics all = ComputeRadiusStatistics(r, 0.0f);
    EXPECT_FLOAT_EQ(all.mean, 22.0f / 7);
    EXPECT_GT(all.deviation, 2.0f);
    EXPECT_FLOAT_EQ(r[7], 10.0f);  // tolerance 0 accepts every valid radius
    RadiusStatistics clipped = ComputeRadiusStatistics(r, 1.2f);
    float m = 22.0f / 7;
    EXPECT_FLOAT_EQ(r[7], m + 1.2f);  // above the mean: clipped to mean + tolerance
    EXPECT_FLOAT_EQ(r[4], -1.0f);     // invalid stays invalid
    EXPECT_FLOAT_EQ(clipped.mean, 2.0f);  // the six radii within 1.2 of the mean
    Radii({2, 2, 2, 2, -1, 2, 2, 10}, r);
    EXPECT_EQ(ComputeRadiusStatistics(r, 1.0f).mean, -1.0f);  // none within 1.0: nothing accepted
    EXPECT_FLOAT_EQ(r[0], m - 1.0f);
    float none[8];
    Radii({-1, -1, -1, -1, -1, -1, -1, -1}, none);
    EXPECT_EQ(ComputeRadiusStatistics(none, 0.0f).deviation, -1.0f);
    float low[8];
    Radii({0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.0f}, low);
    ComputeRadiusStatistics(low, 2.0f);  // mean below the tolerance: everything accepted
    Radii({5, 5, 5, 5, 5, 5, 5, 0.2f}, low);
    ComputeRadiusStatistics(low, 4.8f);  // 0.2 lies within 4.8 of the mean 4.4: accepted
    EXPECT_FLOAT_EQ(low[7], 0.2f);
    Radii({5, 5, 5, 5, 5, 5, 5, 0.0f}, low);
    ComputeRadiusStatistics(low, 1.0f);
    EXPECT_NEAR(low[7], 4.375f - 1.0f, 1e-5);  // below: mean - tolerance
}

TEST(CentreFromRadii, ShiftsByTheFullDifferenceAndQuantisesToQuarters) {
    float r[8];
    const float k = DIAGONAL_FACTOR;
    Radii({3, 3 * k, 3, 3 * k, 3, 3 * k, 3, 3 * k}, r);
    QuarterPosition c;
    ASSERT_TRUE(CenterFromRadii(10, 20, r, &c));
    EXPECT_EQ(c.x, 10);
    EXPECT_EQ(c.xQuarter, 0);
    EXPECT_EQ(c.y, 20);
    EXPECT_EQ(c.yQuarter, 0);
    // East 3.5 and west 3: the centre moves half a pixel east.
    Radii({3.5f, 3.5f * k, 3, 3 * k, 3, 3 * k, 3, 3.5f * k}, r);
    ASSERT_TRUE(CenterFromRadii(10, 20, r, &c));
    float east = (3.5f + 3.5f + 3.5f) / 3, south = (3.5f + 3 + 3) / 3, west = (3 + 3 + 3) / 3,
          north = (3 + 3 + 3.5f) / 3;
    float cx = 10 - west + east + 0.125f, cy = 20 - north + south + 0.125f;
    EXPECT_EQ(c.x, static_cast<int32_t>(cx));
    EXPECT_EQ(c.xQuarter, static_cast<int32_t>((cx - static_cast<int32_t>(cx)) * 4));
    EXPECT_EQ(c.y, static_cast<int32_t>(cy));
    // A group without a valid ray (a star on the border) fails.
    Radii({-1, -1, 3, 3, 3, 3, 3, -1}, r);
    EXPECT_FALSE(CenterFromRadii(10, 20, r, &c));
}

TEST(QuarterSteps, CarryIntoThePixel) {
    QuarterPosition p = {5, 3, 7, 0};
    QuarterPosition q = MoveQuarters(p, 1, -1);
    EXPECT_EQ(q.x, 6);
    EXPECT_EQ(q.xQuarter, 0);
    EXPECT_EQ(q.y, 6);
    EXPECT_EQ(q.yQuarter, 3);
}

namespace {
struct BankShape {
    ShapeCache cache;
    float radius;
    BankShape(float r, bool ring) : radius(r) {
        std::memset(static_cast<void*>(&cache), 0, sizeof(cache));
        cache.generator = ring ? GenerateRingShape : GenerateDiskShape;
        cache.radius = &radius;
    }
    ~BankShape() { ReleaseShapeCache(&cache); }
};
double WeightSum(const SubShapeEntry& e) {
    double sum = 0;
    const ShapeElement* el = SubShapeElements(&e);
    for (int32_t i = 0; i < e.count; i++) sum += el[i].intensity / 4294967294.0;
    return sum;
}
}  // namespace

TEST(BankShapes, DisksCoverTheirAreaAndFadeAtTheRim) {
    for (float c : {0.0f, 2.0f, 7.5f, 40.0f}) {
        BankShape disk(c, false);
        ASSERT_TRUE(GenerateDiskShape(&disk.cache, 1, 2));
        const SubShapeEntry& e = disk.cache.entry[1][2];
        EXPECT_TRUE(e.built);
        double expected = 3.14159265358979 * (c + 0.1) * (c + 0.1);
        if (c >= 2.0f) {
            EXPECT_NEAR(WeightSum(e), expected, expected * 0.03) << c;
        }
        const ShapeElement* el = SubShapeElements(&e);
        for (int32_t i = 0; i < e.count; i++) {
            double rho = std::hypot(el[i].dx - 0.25, el[i].dy - 0.5);
            EXPECT_LT(rho, c + 0.6 + 1e-6);
            if (rho <= c - 0.4) {
                EXPECT_EQ(el[i].intensity, 0xFFFFFFFEu);
            }
            EXPECT_GE(el[i].dx, e.left);
            EXPECT_LT(el[i].dx, e.right);
        }
    }
}

TEST(BankShapes, RingsLieOnTheirRadius) {
    BankShape ring(12.0f, true);
    ASSERT_TRUE(GenerateRingShape(&ring.cache, 0, 0));
    const SubShapeEntry& e = ring.cache.entry[0][0];
    ASSERT_GT(e.count, 40);
    const ShapeElement* el = SubShapeElements(&e);
    for (int32_t i = 0; i < e.count; i++) {
        double rho = std::hypot(el[i].dx, el[i].dy);
        EXPECT_NEAR(rho, 12.0, 0.6 + 0.125 + 1e-6);
    }
    BankShape empty(0.0f, true);
    ASSERT_TRUE(GenerateRingShape(&empty.cache, 3, 3));
    EXPECT_GE(empty.cache.entry[3][3].count, 1);
}

namespace {

// A host image (16-bit RGB, sRGB) holding a rendered star field.
class AnalysisRun : public ::testing::Test {
protected:
    void SetUp() override {
        ForceGlobalErrorCode(0);
        ASSERT_TRUE(InitializeGammaTables());
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB16, nullptr));
        InitializeLightSourceList(&LightSourceTable);
        AnalysisStopFlag = 0;
    }
    void TearDown() override {
        SetProcessorCountForTesting(0);
        ReleaseImage(&host);
        ReleaseLightSourceList(&LightSourceTable);
        ReleaseColorManagement();
        ReleaseGammaTables();
        ForceGlobalErrorCode(0);
    }
    // The field becomes the host image, its top-left pixel at document (left, top).
    void Load(const StarfieldImage& field, int32_t left = 0, int32_t top = 0) {
        ImageRect r = {left, top, left + field.width, top + field.height};
        ASSERT_TRUE(CreateImage(&host, r, r, IMAGE_MODE_RGB16, GetHostProfile(), false, false));
        for (int32_t y = 0; y < field.height; y++)
            for (int32_t x = 0; x < field.width; x++) {
                const float* p = field.Pixel(x, y);
                PixelValue v = {static_cast<uint32_t>(p[0] * 16777215.0f), static_cast<uint32_t>(p[1] * 16777215.0f),
                                static_cast<uint32_t>(p[2] * 16777215.0f), 0xFFFFFFFE, PIXEL_KEEP};
                host.OutputImage(&host, &v, left + x, top + y);
            }
    }
    Image host;
};

}  // namespace

TEST_F(AnalysisRun, IsolatedStarsAreFoundAtTheirCentres) {
    StarfieldOptions options;
    options.seed = 7;
    options.width = 240;
    options.height = 160;
    options.starCount = 6;
    options.fluxLaw = STARFIELD_FLUX_UNIFORM;
    options.minPeak = 0.6;
    options.maxPeak = 0.9;
    options.minSigma = 1.5;
    options.maxSigma = 2.5;
    options.margin = 20;
    options.minSeparation = 40;
    options.skyLevel = 0.02;
    StarfieldImage field;
    std::vector<StarfieldStar> stars;
    std::string error;
    ASSERT_TRUE(CreateStarfield(options, &field, &stars, &error)) << error;
    Load(field);
    ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
    ASSERT_EQ(LightSourceTable.count, stars.size());
    const LightSource* found = LightSourceRecords(&LightSourceTable);
    for (const StarfieldStar& star : stars) {
        bool matched = false;
        for (uint32_t i = 0; i < LightSourceTable.count; i++) {
            double x = found[i].x + found[i].xQuarter / 4.0, y = found[i].y + found[i].yQuarter / 4.0;
            if (std::hypot(x - star.x, y - star.y) <= 0.75) {
                matched = true;
                EXPECT_GT(found[i].radius, 0.5f);
                EXPECT_LT(found[i].radius, 4.0f * static_cast<float>(star.sigma) + 2.0f);
            }
        }
        EXPECT_TRUE(matched) << "star at " << star.x << ", " << star.y;
    }
    // Sorted by brightness after finalisation, brightest first.
    for (uint32_t i = 1; i < LightSourceTable.count; i++) EXPECT_GE(found[i - 1].brightness, found[i].brightness);
    EXPECT_GE(GetAnalysisProgressCount(), static_cast<int32_t>(options.height));
}

TEST_F(AnalysisRun, ADarkImageHasNoSources) {
    StarfieldImage field;
    field.width = 64;
    field.height = 48;
    field.pixels.assign(64 * 48 * 3, 0.0f);
    Load(field);
    ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
    EXPECT_EQ(GetPeakBrightness(), 0u);
    EXPECT_EQ(LightSourceTable.count, 0u);
}

TEST_F(AnalysisRun, AFlatBrightAreaIsDeselectedAndYieldsNoSource) {
    StarfieldImage field;
    field.width = 600;
    field.height = 40;
    field.pixels.assign(600 * 40 * 3, 0.8f);  // one colour, far wider than a ray
    Load(field);
    ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
    EXPECT_EQ(LightSourceTable.count, 0u);
}

TEST_F(AnalysisRun, TheTaskSignalsCompletionAlsoWhenStopped) {
    StarfieldImage field;
    field.width = 64;
    field.height = 64;
    field.pixels.assign(64 * 64 * 3, 0.1f);
    Load(field);
    StartLightSourceAnalysis(&host);
    StopLightSourceAnalysis();  // raises the stop flag and waits for the event
    EXPECT_FALSE(IsAnalysisComplete());  // the event is closed with the run
    EXPECT_EQ(GetGlobalErrorCode(), 0);
}

namespace {

// A flat-topped disk of `radius` with a one-pixel soft rim, added to the field.
void AddDisk(StarfieldImage* field, double cx, double cy, double radius, float level) {
    for (int32_t y = 0; y < field->height; y++)
        for (int32_t x = 0; x < field->width; x++) {
            double d = std::hypot(x - cx, y - cy);
            double cover = d <= radius - 0.5 ? 1.0 : (d >= radius + 0.5 ? 0.0 : radius + 0.5 - d);
            float* p = field->Pixel(x, y);
            for (int k = 0; k < 3; k++) p[k] = std::min(1.0f, p[k] + static_cast<float>(cover) * level);
        }
}

StarfieldImage DarkField(int32_t width, int32_t height) {
    StarfieldImage field;
    field.width = width;
    field.height = height;
    field.pixels.assign(static_cast<size_t>(width) * height * 3, 0.01f);
    return field;
}

double ListedX(const LightSource& s) { return s.x + s.xQuarter / 4.0; }
double ListedY(const LightSource& s) { return s.y + s.yQuarter / 4.0; }

}  // namespace

// The quarter-resolution pass finds large sources; their centres must come
// back to the full-resolution pixels they stand for, whatever the image's
// place in the document.
TEST_F(AnalysisRun, LargeSourcesFoundAtQuarterResolutionKeepTheirCentres) {
    struct Case {
        double cx, cy;
        int32_t left, top;
    } cases[] = {{100, 100, 0, 0},     {101.5, 100.5, 0, 0}, {100.25, 99.75, 0, 0},
                 {100, 100, 1, 2},     {100.5, 101.5, 3, 1}, {99.75, 100.25, 2, 3}};
    for (double radius : {20.0, 30.0}) {
        for (const Case& c : cases) {
            StarfieldImage field = DarkField(200, 200);
            AddDisk(&field, c.cx, c.cy, radius, 0.9f);
            ReleaseImage(&host);
            ReleaseLightSourceList(&LightSourceTable);
            InitializeLightSourceList(&LightSourceTable);
            Load(field, c.left, c.top);
            ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
            ASSERT_EQ(LightSourceTable.count, 1u) << "disk at " << c.cx << ", " << c.cy;
            const LightSource& s = LightSourceRecords(&LightSourceTable)[0];
            EXPECT_NEAR(ListedX(s), c.left + c.cx, 0.5) << "radius " << radius << " offset " << c.left;
            EXPECT_NEAR(ListedY(s), c.top + c.cy, 0.5) << "radius " << radius << " offset " << c.top;
        }
    }
}

TEST_F(AnalysisRun, BrightSourcesWiderThan256PixelsRankFirst) {
    for (double radius : {126.0, 134.0}) {
        StarfieldImage field = DarkField(400, 300);
        AddDisk(&field, 150, 150, radius, 0.95f);
        AddDisk(&field, 350, 40, 19, 0.95f);
        ReleaseImage(&host);
        ReleaseLightSourceList(&LightSourceTable);
        InitializeLightSourceList(&LightSourceTable);
        Load(field);
        ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
        ASSERT_GE(LightSourceTable.count, 2u);
        const LightSource& first = LightSourceRecords(&LightSourceTable)[0];
        EXPECT_GT(first.radius, 100.0f) << "disk of radius " << radius << " ranks below a small one";
        EXPECT_NEAR(ListedX(first), 150, 4.0);
    }
}

// The table depends only on the image: one section or many, stars on the
// sections' boundaries included, and never one star recorded twice.
TEST_F(AnalysisRun, TheSameTableForAnySectionCount) {
    for (uint64_t seed : {31, 8, 1234}) {
        StarfieldOptions options;
        options.seed = seed;
        options.width = 300;
        options.height = 203;
        options.starCount = 120;
        options.minPeak = 0.08;
        options.maxPeak = 3.0;
        options.minSigma = 0.9;
        options.maxSigma = 2.6;
        options.noise = 0.004;
        options.skyLevel = 0.03;
        StarfieldImage field;
        std::vector<StarfieldStar> stars;
        std::string error;
        ASSERT_TRUE(CreateStarfield(options, &field, &stars, &error)) << error;
        Load(field);
        std::vector<LightSource> reference;
        for (int32_t sections : {1, 2, 3, 4, 5, 7, 8}) {
            SetProcessorCountForTesting(sections);
            ReleaseLightSourceList(&LightSourceTable);
            InitializeLightSourceList(&LightSourceTable);
            ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
            std::vector<LightSource> table(LightSourceRecords(&LightSourceTable),
                                           LightSourceRecords(&LightSourceTable) + LightSourceTable.count);
            for (size_t i = 0; i < table.size(); i++)
                for (size_t j = i + 1; j < table.size(); j++)
                    EXPECT_FALSE(table[i].x == table[j].x && table[i].y == table[j].y &&
                                 table[i].xQuarter == table[j].xQuarter && table[i].yQuarter == table[j].yQuarter)
                        << "two records at " << ListedX(table[i]) << ", " << ListedY(table[i]) << " with " << sections
                        << " sections";
            if (sections == 1) {
                reference = table;
                ASSERT_GE(reference.size(), 30u);
                continue;
            }
            ASSERT_EQ(reference.size(), table.size()) << sections << " sections";
            for (size_t i = 0; i < table.size(); i++)
                EXPECT_EQ(0, std::memcmp(&reference[i], &table[i], sizeof(LightSource)))
                    << "record " << i << " at " << ListedX(reference[i]) << ", " << ListedY(reference[i]) << " with "
                    << sections << " sections";
        }
    }
}

// Crops of a star field cut through stars on all four sides: a source is
// listed only where a true star is (one whose centre lies beyond the edge is
// never placed at the edge in its stead), and the stars a few pixels inside
// the edges are found where they are, as in the whole field.
TEST_F(AnalysisRun, StarsCutByTheImageEdgeArePlacedFromTheirVisibleLight) {
    StarfieldOptions options;
    options.seed = 11;
    options.width = 420;
    options.height = 420;
    options.starCount = 260;
    options.fluxLaw = STARFIELD_FLUX_UNIFORM;  // many bright stars, half of them with clipped cores
    options.minPeak = 0.2;
    options.maxPeak = 6.0;
    options.profile = STARFIELD_PROFILE_MIXED;  // Gaussian and Moffat (wide wings)
    options.minSigma = 1.2;
    options.maxSigma = 2.0;
    options.minSeparation = 14;
    options.skyLevel = 0.02;
    options.noise = 0.002;
    StarfieldImage field;
    std::vector<StarfieldStar> stars;
    std::string error;
    ASSERT_TRUE(CreateStarfield(options, &field, &stars, &error)) << error;
    // The stars the whole field's analysis finds where they are.
    Load(field);
    ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
    std::vector<bool> foundWhole(stars.size(), false);
    for (size_t k = 0; k < stars.size(); k++)
        for (uint32_t i = 0; i < LightSourceTable.count; i++) {
            const LightSource& f = LightSourceRecords(&LightSourceTable)[i];
            if (std::hypot(f.x + f.xQuarter / 4.0 - stars[k].x, f.y + f.yQuarter / 4.0 - stars[k].y) <= 0.75)
                foundWhole[k] = true;
        }
    const int32_t crops[][4] = {{37, 41, 301, 297}, {12, 90, 250, 281}, {123, 7, 283, 251}, {66, 158, 317, 243},
                                {5, 5, 200, 200},   {211, 213, 200, 200}, {150, 30, 120, 360}, {30, 150, 360, 120}};
    int inside = 0, insideFound = 0, cut = 0;
    for (const auto& crop : crops) {
        StarfieldImage part;
        part.width = crop[2];
        part.height = crop[3];
        part.pixels.resize(static_cast<size_t>(part.width) * part.height * 3);
        for (int32_t y = 0; y < part.height; y++)
            std::memcpy(&part.pixels[static_cast<size_t>(y) * part.width * 3], field.Pixel(crop[0], crop[1] + y),
                        static_cast<size_t>(part.width) * 3 * sizeof(float));
        ReleaseImage(&host);
        ReleaseLightSourceList(&LightSourceTable);
        Load(part);
        ASSERT_EQ(RunLightSourceAnalysis(&host), 0);
        const LightSource* found = LightSourceRecords(&LightSourceTable);
        auto nearestStar = [&](double x, double y) {
            double best = 1e9;
            for (const StarfieldStar& s : stars) best = std::min(best, std::hypot(s.x - crop[0] - x, s.y - crop[1] - y));
            return best;
        };
        for (uint32_t i = 0; i < LightSourceTable.count; i++) {
            const double x = found[i].x + found[i].xQuarter / 4.0, y = found[i].y + found[i].yQuarter / 4.0;
            const double edge = std::min({x, y, part.width - 1 - x, part.height - 1 - y});
            if (edge > 8.0) continue;
            cut++;
            EXPECT_LE(nearestStar(x, y), 0.75) << "a source at (" << x << ", " << y << ") of crop at " << crop[0]
                                               << ", " << crop[1] << " where no star is";
        }
        for (size_t k = 0; k < stars.size(); k++) {
            const double x = stars[k].x - crop[0], y = stars[k].y - crop[1];
            const double edge = std::min({x, y, part.width - 1 - x, part.height - 1 - y});
            if (!foundWhole[k] || edge < 3.0 || edge > 8.0) continue;
            inside++;
            for (uint32_t i = 0; i < LightSourceTable.count; i++)
                if (std::hypot(found[i].x + found[i].xQuarter / 4.0 - x, found[i].y + found[i].yQuarter / 4.0 - y) <=
                    0.75) {
                    insideFound++;
                    break;
                }
        }
    }
    EXPECT_GE(cut, 20);
    EXPECT_GE(inside, 20);
    EXPECT_GE(insideFound, 0.95 * inside);
    std::printf("sources within 8 px of an edge: %d; stars 3 to 8 px inside found: %d of %d\n", cut, insideFound,
                inside);
}
