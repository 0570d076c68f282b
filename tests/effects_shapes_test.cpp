// Effect shapes: the tables, the three generators and the guard on the
// parameters they read. Expected values are worked out here from the
// formulas of the effects (falloff, coverage, rainbow, flare profiles), not
// read back from the code under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "effects/effect_tables.h"
#include "effects/parameter_set.h"
#include "effects/shape_cache.h"
#include "effects/shape_generators.h"
#include "image/fixed_point.h"
#include "image/image.h"
#include "params/filter_parameters.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t Round(double v) { return static_cast<uint32_t>(static_cast<uint64_t>(std::nearbyint(v))); }
uint32_t Precise(uint32_t u, uint32_t v) { return static_cast<uint32_t>((static_cast<uint64_t>(u) * v) >> 32); }

float TableSine(int i) {
    if (i < 1800) return std::sin(static_cast<float>(i) * 3.1415927f / 1800.0f);
    return -std::sin(static_cast<float>(i - 1800) * 3.1415927f / 1800.0f);
}

uint32_t Code(uint64_t d2) { return static_cast<uint32_t>(10.0 * std::sqrt(static_cast<double>(d2)) + 0.5); }

uint32_t Falloff(uint32_t code, int length) {
    return Round(4294967294.0 / std::pow(code / 100.0 + 1.0, 155.0 / (length + 33.0)));
}

// The rainbow colour of a spike element, from its definition.
void Rainbow(uint32_t code, int ri, int rf, bool gray, uint32_t out[3]) {
    uint32_t k = code * 80u / static_cast<uint32_t>(103 - rf);
    uint32_t full = static_cast<uint32_t>(ri) * 42949672u;
    uint32_t p = k > 5999 ? full : k * (full / 6000u);
    int64_t c[3];
    for (int i = 0; i < 3; i++) {
        int idx = static_cast<int>((k + 1200u * i) % 3600u);
        float s = TableSine(idx);
        uint32_t table = Round((0.5 + static_cast<double>(s) / 2.0) * 4294967294.0);
        c[i] = 4294967294LL - Precise(p, table);
    }
    for (int i = 0; i < 3; i++) {
        int64_t others = (c[(i + 1) % 3] + c[(i + 2) % 3]) / 2;
        int64_t v = c[i] + 2 * (c[i] - others);
        out[i] = static_cast<uint32_t>(std::min<int64_t>(std::max<int64_t>(v, 0), 4294967294LL));
    }
    if (gray) out[1] = out[2] = out[0];
}

uint32_t SoftFlare(uint32_t code, int length) {
    uint32_t j = code / 2;
    double x = (j + 1) / 2000.0 + 1.0;
    double q = std::trunc(67108860.0 / std::pow(x, 24.0 - length / 5.0));
    return q <= 1024.0 ? 0 : static_cast<uint32_t>(q) - 1024;
}

uint32_t RingFlare(uint32_t code, int length) {
    int g = static_cast<int>(std::trunc(static_cast<float>((length + 25) * (length + 25)) / 100.0f));
    int64_t ri = 20 * (g + 1), rp = 34 * (g + 1), ro = 69 * (g + 1), a = code;
    if (a < ri || a > ro) return 0;
    float d = static_cast<float>(a < rp ? a - ri : ro - a);
    float span = static_cast<float>(a < rp ? rp - ri : ro - rp);
    return static_cast<uint32_t>((d * d * d * d) / (span * span * span * span) * 4194303.0f);
}

typedef std::map<std::pair<int, int>, uint64_t> IntensityMap;

class EffectShapesTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeEffectTables();
        SetEffectArithmetic(true, IMAGE_MODE_RGB8);
        SetEffectImage(IMAGE_MODE_RGB8, 300, 400);  // reach 501 pixels
        cache = ShapeCache();
        std::memset(&parameters, 0, sizeof(parameters));
        CopyEffectValues(&parameters, FACTORY_PARAMETERS);
        cache.parameters = &parameters;
    }
    void TearDown() override {
        ReleaseShapeCache(&cache);
        SetEffectArithmetic(true, IMAGE_MODE_RGB8);
        SetEffectImage(IMAGE_MODE_RGB8, 300, 400);
    }
    // Builds sub-shape (a, b) afresh with a generator and returns its elements.
    std::vector<ShapeElement> Generate(ShapeGenerator generator, int a = 0, int b = 0, bool fresh = false) {
        if (fresh) InitializeEffectTables();
        cache.entry[a][b].built = false;
        EXPECT_TRUE(generator(&cache, a, b));
        const SubShapeEntry& e = cache.entry[a][b];
        EXPECT_TRUE(e.built);
        const ShapeElement* p = SubShapeElements(&e);
        return std::vector<ShapeElement>(p, p + e.count);
    }
    std::vector<ShapeElement> Spikes(int a = 0, int b = 0, bool fresh = false) {
        return Generate(GenerateSpikeShape, a, b, fresh);
    }
    static IntensityMap Map(const std::vector<ShapeElement>& elements) {
        IntensityMap map;
        for (const auto& e : elements) map[{e.dx, e.dy}] += e.intensity;
        return map;
    }
    static uint64_t At(const IntensityMap& map, int dx, int dy) {
        auto it = map.find({dx, dy});
        return it == map.end() ? 0 : it->second;
    }
    void ExpectInsideBounds(int a, int b, const char* what) {
        const SubShapeEntry& e = cache.entry[a][b];
        const ShapeElement* p = SubShapeElements(&e);
        for (int32_t i = 0; i < e.count; i++) {
            ASSERT_TRUE(p[i].dx >= e.left && p[i].dx < e.right && p[i].dy >= e.top && p[i].dy < e.bottom)
                << what << " (" << a << "," << b << ") element " << p[i].dx << "," << p[i].dy << " bounds "
                << e.left << "," << e.top << "," << e.right << "," << e.bottom;
            ASSERT_LE(std::abs(p[i].dx), ShapeReach) << what;
            ASSERT_LE(std::abs(p[i].dy), ShapeReach) << what;
        }
    }
    // Number of separate directions in which elements lie between two radii.
    static int CountRays(const std::vector<ShapeElement>& elements, double inner, double outer) {
        std::vector<double> angles;
        for (const auto& e : elements) {
            double r = std::hypot(e.dx, e.dy);
            if (r >= inner && r <= outer) angles.push_back(std::atan2(e.dx, -e.dy) * 180.0 / kPi);
        }
        if (angles.empty()) return 0;
        std::sort(angles.begin(), angles.end());
        int gaps = 0;
        for (size_t i = 0; i < angles.size(); i++) {
            double next = i + 1 < angles.size() ? angles[i + 1] : angles[0] + 360.0;
            if (next - angles[i] > 15.0) gaps++;
        }
        return gaps == 0 ? 1 : gaps;
    }

    ShapeCache cache;
    ParameterSet parameters;
};

}  // namespace

// ---- tables and conventions ----

TEST_F(EffectShapesTest, SineTableIsTheSinglePrecisionSine) {
    for (int i : {0, 1, 2, 450, 899, 900, 901, 1350, 1799, 1800, 1801, 2250, 2700, 3599}) {
        float expected = TableSine(i);
        EXPECT_EQ(std::memcmp(&SineTable[i], &expected, sizeof(float)), 0) << i << ": " << SineTable[i];
    }
    EXPECT_EQ(SineTable[900], 1.0f);
    EXPECT_EQ(SineTable[2700], -1.0f);
}

TEST_F(EffectShapesTest, RainbowTableIsTheHalfSineAsUnitFractions) {
    for (int i : {0, 1, 300, 900, 1200, 1799, 1800, 1801, 2400, 2700, 3599}) {
        double s = TableSine(i);
        EXPECT_EQ(RainbowTable[i], Round((0.5 + s / 2.0) * 4294967294.0)) << i;
    }
    // 0.5 × 4294967294, the full fraction at the top of the sine, nothing at its foot.
    EXPECT_EQ(RainbowTable[0], 2147483647u);
    EXPECT_EQ(RainbowTable[900], 4294967294u);
    EXPECT_EQ(RainbowTable[2700], 0u);
}

TEST_F(EffectShapesTest, AnglesReduceIntoOneTurn) {
    EXPECT_EQ(ReduceAngle(0), 0);
    EXPECT_EQ(ReduceAngle(3599), 3599);
    EXPECT_EQ(ReduceAngle(3600), 0);
    EXPECT_EQ(ReduceAngle(7201), 1);
    EXPECT_EQ(ReduceAngle(-1), 3599);
    EXPECT_EQ(ReduceAngle(-3600), 0);
    EXPECT_EQ(ReduceAngle(-3601), 3599);
    EXPECT_EQ(ReduceAngle(-900), 2700);
    int32_t extreme = ReduceAngle(INT32_MIN);
    EXPECT_TRUE(extreme >= 0 && extreme < 3600);
    EXPECT_EQ(ReduceAngle(INT32_MAX), INT32_MAX % 3600);
}

TEST_F(EffectShapesTest, ThresholdFollowsTheArithmeticMode) {
    // round(2^-n × 16777215): 2^-12 for 8 and 16 bits, 2^-13 for floats
    // precise; 2^-9 fast.
    SetEffectArithmetic(true, IMAGE_MODE_GRAY8);
    EXPECT_TRUE(PreciseMultiply);
    EXPECT_EQ(EffectThreshold, static_cast<uint32_t>(std::lround(16777215.0 / 4096)));
    SetEffectArithmetic(true, IMAGE_MODE_RGB16);
    EXPECT_EQ(EffectThreshold, static_cast<uint32_t>(std::lround(16777215.0 / 4096)));
    SetEffectArithmetic(true, IMAGE_MODE_GRAY_FLOAT);
    EXPECT_EQ(EffectThreshold, static_cast<uint32_t>(std::lround(16777215.0 / 8192)));
    SetEffectArithmetic(false, IMAGE_MODE_RGB16);
    EXPECT_FALSE(PreciseMultiply);
    EXPECT_EQ(EffectThreshold, static_cast<uint32_t>(std::lround(16777215.0 / 512)));
}

TEST_F(EffectShapesTest, ReachIsTheWorkingImageDiagonal) {
    SetEffectImage(IMAGE_MODE_RGB8, 3, 4);
    EXPECT_EQ(ShapeReach, 6);  // √25 + 1
    SetEffectImage(IMAGE_MODE_RGB8, 10, 10);
    EXPECT_EQ(ShapeReach, 15);  // trunc(14.14 + 1)
    SetEffectImage(IMAGE_MODE_RGB8, 0, 0);
    EXPECT_EQ(ShapeReach, 1);
    // Element offsets are 16-bit, so the reach stops there.
    SetEffectImage(IMAGE_MODE_RGB8, 100000, 100000);
    EXPECT_EQ(ShapeReach, MAXIMUM_SHAPE_REACH);
    for (int32_t mode : {IMAGE_MODE_GRAY8, IMAGE_MODE_GRAY16, IMAGE_MODE_GRAY_FLOAT}) {
        SetEffectImage(mode, 3, 4);
        EXPECT_TRUE(EffectGrayImage) << mode;
    }
    for (int32_t mode : {IMAGE_MODE_RGB8, IMAGE_MODE_RGB16, IMAGE_MODE_RGB_FLOAT}) {
        SetEffectImage(mode, 3, 4);
        EXPECT_FALSE(EffectGrayImage) << mode;
    }
}

TEST_F(EffectShapesTest, DistanceCodesAreTenthsOfAQuarterPixel) {
    for (uint64_t d2 : {0ull, 1ull, 2ull, 16ull, 18ull, 1000ull, 429482ull, 429483ull, 10000000000ull}) {
        for (int kind = 0; kind < EFFECT_SHAPE_KINDS; kind++) {
            EXPECT_EQ(DistanceCode(static_cast<EffectShapeKind>(kind), d2), Code(d2)) << d2;
            EXPECT_EQ(DistanceCode(static_cast<EffectShapeKind>(kind), d2), Code(d2)) << d2 << " memoised";
        }
    }
    EXPECT_EQ(DistanceCode(SPIKE_SHAPE, 16), 40u);  // one pixel
}

TEST_F(EffectShapesTest, InitializationInvalidatesMemosAndInstallsTheCpuCaches) {
    parameters.length = 50;
    parameters.secondarySpikeIntensity = 0;
    Spikes();
    EXPECT_EQ(SpikeFalloffMemo[40].key, 50) << "one pixel out, filled for length 50";
    InitializeEffectTables();
    for (int i : {0, 40, SPIKE_FALLOFF_SLOTS - 1}) EXPECT_EQ(SpikeFalloffMemo[i].key, -1) << i;
    for (int i : {0, 1, 100, MEMO_SLOTS - 1}) {
        EXPECT_EQ(SoftFlareMemo[i].key, -1) << i;
        EXPECT_EQ(RingFlareMemo[i].key, -1) << i;
    }
    const ShapeGenerator generators[] = {GenerateSpikeShape, GenerateSoftFlareShape, GenerateRingFlareShape};
    for (int kind = 0; kind < EFFECT_SHAPE_KINDS; kind++) {
        ShapeCache* c = EffectShapeCache(static_cast<EffectShapeKind>(kind));
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->generator, generators[kind]);
        EXPECT_EQ(c->shapeType, SHAPE_IMAGE);
        ASSERT_NE(c->parameters, nullptr);
        ASSERT_NE(c->builtWith, nullptr);
        EXPECT_NE(c->parameters, c->builtWith);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(c->builtWith);
        for (size_t i = 0; i < sizeof(ParameterSet); i++) ASSERT_EQ(bytes[i], 0xFF) << kind << " byte " << i;
        for (int a = 0; a < 4; a++)
            for (int b = 0; b < 4; b++) EXPECT_FALSE(c->entry[a][b].built);
    }
    EXPECT_EQ(EffectShapeCache(EFFECT_SHAPE_KINDS), nullptr);
}

TEST_F(EffectShapesTest, LoadedParametersReachAllThreeCaches) {
    ParameterSet set;
    std::memset(&set, 0, sizeof(set));
    CopyEffectValues(&set, FACTORY_PARAMETERS);
    set.scale = 100.0;
    set.length = 77;
    set.rainbowFrequency = 150;
    LoadEffectParameters(set);
    for (int kind = 0; kind < EFFECT_SHAPE_KINDS; kind++) {
        const ParameterSet* p = EffectShapeCache(static_cast<EffectShapeKind>(kind))->parameters;
        EXPECT_EQ(p->length, 77);
        EXPECT_EQ(p->rainbowFrequency, 100) << "held to its range on the way in";
        EXPECT_EQ(p->scale, 100.0);
    }
}

TEST_F(EffectShapesTest, MemosAreKeyedByTheirParameter) {
    // Every code gets its own value whatever was asked before it: neighbouring
    // codes asked in either order, and again after the length changed.
    EXPECT_NE(Falloff(41, 50), Falloff(43, 50));
    for (uint32_t code : {41u, 43u, 131071u})
        for (int32_t length : {50, 60, 50}) EXPECT_EQ(SpikeFalloff(code, length), Falloff(code, length)) << code;
    for (uint32_t code : {44u, 42u, 131070u}) EXPECT_EQ(SpikeFalloff(code, 50), Falloff(code, 50)) << code;
    EXPECT_EQ(SpikeFalloffMemo[43].key, 50);
    // Past the memo every code is computed.
    EXPECT_EQ(SpikeFalloff(200001, 50), Falloff(200001, 50));
    EXPECT_EQ(SpikeFalloff(200003, 50), Falloff(200003, 50));

    EXPECT_EQ(SoftFlareValue(1001, 40), SoftFlare(1001, 40));
    EXPECT_EQ(SoftFlareMemo[500].key, 40);
    EXPECT_EQ(SoftFlareValue(1001, 41), SoftFlare(1001, 41));
    EXPECT_EQ(SoftFlareValue(90001, 41), SoftFlare(90001, 41));

    EXPECT_EQ(RingFlareValue(1500, RingFlareSize(50)), RingFlare(1500, 50));
    EXPECT_EQ(RingFlareMemo[1500].key, RingFlareSize(50));
    EXPECT_EQ(RingFlareValue(1500, RingFlareSize(30)), RingFlare(1500, 30));
    EXPECT_EQ(RingFlareValue(40000, RingFlareSize(100)), RingFlare(40000, 100));
}

// ---- spikes ----

TEST_F(EffectShapesTest, LengthZeroLeavesEveryShapeEmpty) {
    parameters.length = 0;
    parameters.intensity = 100;
    parameters.secondarySpikeIntensity = 100;
    const ShapeGenerator generators[] = {GenerateSpikeShape, GenerateSoftFlareShape, GenerateRingFlareShape};
    for (ShapeGenerator generator : generators) {
        EXPECT_TRUE(Generate(generator, 1, 2).empty());
        const SubShapeEntry& e = cache.entry[1][2];
        EXPECT_EQ(e.left, 0);
        EXPECT_EQ(e.top, 0);
        EXPECT_EQ(e.right, 0);
        EXPECT_EQ(e.bottom, 0);
    }
}

TEST_F(EffectShapesTest, OnePointAtAngleZeroPointsStraightUp) {
    parameters.numberOfPoints = 1;
    parameters.angle = 0;
    parameters.secondarySpikeIntensity = 0;
    auto elements = Spikes();
    ASSERT_FALSE(elements.empty());
    int farthest = 0;
    for (const auto& e : elements) {
        EXPECT_LE(e.dy, -1) << "the upward ray starts one row above the light source";
        EXPECT_LE(std::abs(e.dx), 1);
        farthest = std::min<int>(farthest, e.dy);
    }
    EXPECT_LT(farthest, -50);
}

TEST_F(EffectShapesTest, ElementsAlongARayFollowFalloffCoverageAndRainbow) {
    const int intensity = 80, length = 50, sharpness = 50, ri = 60, rf = 40;
    parameters.numberOfPoints = 1;
    parameters.angle = 900;  // to the right: marched by columns from the light source's own column
    parameters.intensity = intensity;
    parameters.length = length;
    parameters.spikeSharpness = sharpness;
    parameters.rainbowIntensity = ri;
    parameters.rainbowFrequency = rf;
    parameters.secondarySpikeIntensity = 0;
    std::map<std::pair<int, int>, ShapeElement> byPixel;
    for (const auto& e : Spikes(0, 0, true)) byPixel[{e.dx, e.dy}] = e;

    // On the centre line, a pixel is covered 0.5 + (core half-width / 4) × k.
    double w = sharpness * 0.65 / 100.0 + 0.06;
    double k = std::min(1.0 * w, 0.65);
    uint32_t coverage = Round((0.5 + 1.3 / 4.0 * k) * 4294967294.0);
    uint32_t g = static_cast<uint32_t>(intensity) * 42949672u;
    for (int dx = 1; dx <= 60; dx++) {
        auto it = byPixel.find({dx, 0});
        ASSERT_NE(it, byPixel.end()) << dx;
        uint32_t code = 40u * dx;  // 4·dx quarter pixels
        uint32_t expected = Precise(Precise(g, Falloff(code, length)), coverage);
        EXPECT_EQ(it->second.intensity, expected) << dx;
        uint32_t rgb[3];
        Rainbow(code, ri, rf, false, rgb);
        EXPECT_EQ(it->second.red, rgb[0]) << dx;
        EXPECT_EQ(it->second.green, rgb[1]) << dx;
        EXPECT_EQ(it->second.blue, rgb[2]) << dx;
    }
    // Nothing to the left of the light source's column.
    for (const auto& entry : byPixel) EXPECT_GE(entry.first.first, 0);
}

TEST_F(EffectShapesTest, FourPointsLieOnTheAxesWithFourfoldSymmetry) {
    parameters.numberOfPoints = 4;
    parameters.angle = 0;
    parameters.secondarySpikeIntensity = 0;
    parameters.rainbowIntensity = 70;
    auto elements = Spikes(0, 0, true);
    ASSERT_FALSE(elements.empty());
    for (const auto& e : elements)
        ASSERT_LE(std::min(std::abs(e.dx), std::abs(e.dy)), 1) << e.dx << "," << e.dy << " off the axes";
    IntensityMap map = Map(elements);
    for (int d = 2; d <= 60; d++) {
        for (int r = -1; r <= 1; r++) {
            uint64_t right = At(map, d, r);
            EXPECT_EQ(right, At(map, -d, r)) << d << "," << r;
            EXPECT_EQ(right, At(map, r, d)) << d << "," << r;
            EXPECT_EQ(right, At(map, r, -d)) << d << "," << r;
        }
        EXPECT_GT(At(map, d, 0), 0u) << d;
    }
}

TEST_F(EffectShapesTest, NumberOfPointsSetsTheNumberOfRays) {
    parameters.secondarySpikeIntensity = 0;
    parameters.intensity = 100;
    parameters.angle = 37;
    for (int n : {1, 2, 3, 5, 7, 12}) {
        parameters.numberOfPoints = static_cast<int16_t>(n);
        EXPECT_EQ(CountRays(Spikes(), 30.0, 40.0), n) << n << " points";
    }
}

TEST_F(EffectShapesTest, AnglesBeyondOneTurnWrap) {
    parameters.numberOfPoints = 3;
    auto compare = [&](int16_t a1, int16_t a2) {
        parameters.angle = a1;
        auto first = Spikes(1, 2, true);
        parameters.angle = a2;
        auto second = Spikes(1, 2, true);
        ASSERT_EQ(first.size(), second.size()) << a1 << " vs " << a2;
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(ShapeElement)), 0);
    };
    compare(3600, 0);
    compare(-1, 3599);
    compare(-900, 2700);
}

TEST_F(EffectShapesTest, RayAtFortyFiveDegreesIsMarchedByColumns) {
    // A column march includes the light source's own column from its own
    // row; a row march upward would start one row above.
    ASSERT_GE(std::fabs(SineTable[450]), std::fabs(SineTable[1350]));
    parameters.numberOfPoints = 1;
    parameters.angle = 450;
    parameters.secondarySpikeIntensity = 0;
    IntensityMap map = Map(Spikes());
    EXPECT_GT(At(map, 0, 0), 0u);
    EXPECT_GT(At(map, 20, -20), 0u);
    EXPECT_EQ(At(map, -20, 20), 0u);
}

TEST_F(EffectShapesTest, QuarterPixelOffsetsShiftTheRay) {
    parameters.numberOfPoints = 1;
    parameters.angle = 900;
    parameters.secondarySpikeIntensity = 0;
    // A light source at the top of its pixel (b = 0) puts its ray on row 0;
    // three quarters down (b = 3) the ray runs closer to row 1.
    IntensityMap top = Map(Spikes(0, 0));
    IntensityMap low = Map(Spikes(0, 3));
    for (int dx = 5; dx <= 30; dx++) {
        EXPECT_EQ(At(top, dx, 1), At(top, dx, -1)) << dx;
        EXPECT_GT(At(low, dx, 1), At(low, dx, -1)) << dx;
        EXPECT_GT(At(low, dx, 1), At(top, dx, 1)) << dx;
    }
    // A horizontal shift of the centre changes the distances, not the rows.
    IntensityMap shifted = Map(Spikes(2, 0));
    EXPECT_NE(At(shifted, 10, 0), At(top, 10, 0));
}

TEST_F(EffectShapesTest, SecondarySpikesFollowTheirTableWithoutMainSpikes) {
    parameters.intensity = 0;
    parameters.secondarySpikeIntensity = 0;
    parameters.angle = 0;
    EXPECT_TRUE(Spikes().empty()) << "no intensity at all";

    parameters.secondarySpikeIntensity = 100;
    parameters.spikeSharpness = 100;  // narrow rays: soft edges end within 2.5 pixels
    auto elements = Spikes();
    ASSERT_FALSE(elements.empty());
    auto nearest = [&](int tenths, double radius) {
        double theta = tenths * kPi / 1800.0;  // clockwise from up
        double x = radius * std::sin(theta), y = -radius * std::cos(theta), best = 1e9;
        for (const auto& e : elements) best = std::min(best, std::hypot(e.dx - x, e.dy - y));
        return best;
    };
    for (int i = 0; i < SECONDARY_SPIKE_COUNT; i++) {
        const SecondarySpike& spike = SecondarySpikeTable[i];
        EXPECT_LT(nearest(spike.offset, 40.0), 1.0) << spike.offset;
        EXPECT_LT(nearest(spike.offset, 120.0), 1.0) << spike.offset;
        // Halfway to the next ray, where the two are 7° or more apart, 120
        // pixels out lies more than 7 pixels from either: nothing there.
        int next = i + 1 < SECONDARY_SPIKE_COUNT ? SecondarySpikeTable[i + 1].offset
                                                 : SecondarySpikeTable[0].offset + 3600;
        if (next - spike.offset >= 70) {
            EXPECT_GT(nearest((spike.offset + next) / 2, 120.0), 1.0) << spike.offset;
        }
    }
    EXPECT_EQ(SecondarySpikeTable[0].offset, 40);
    EXPECT_EQ(SecondarySpikeTable[SECONDARY_SPIKE_COUNT - 1].weight, 20);
}

TEST_F(EffectShapesTest, SecondaryRaysAreShorterSofterAndWeighted) {
    const int length = 60, sharpness = 70, secondary = 90;
    const SecondarySpike& first = SecondarySpikeTable[0];
    parameters.intensity = 0;
    parameters.length = length;
    parameters.spikeSharpness = sharpness;
    parameters.secondarySpikeIntensity = secondary;
    parameters.rainbowIntensity = 0;
    parameters.angle = static_cast<int16_t>(900 - first.offset);  // the first secondary ray points right
    auto elements = Spikes(0, 0, true);
    const int shortened = 80 * (length + 1) / 100;
    double w = (40.0 * sharpness) * 0.65 / 10000.0 + 0.06;
    uint32_t coverage = Round((0.5 + 1.3 / 4.0 * std::min(w, 0.65)) * 4294967294.0);
    uint32_t g = static_cast<uint32_t>(secondary) * 42949672u / 100u * static_cast<uint32_t>(first.weight);
    for (int dx = 1; dx <= 40; dx++) {
        uint32_t expected = Precise(Precise(g, Falloff(40u * dx, shortened)), coverage);
        bool found = false;
        for (const auto& e : elements) found |= e.dx == dx && e.dy == 0 && e.intensity == expected;
        EXPECT_TRUE(found) << dx;
    }
}

TEST_F(EffectShapesTest, RainbowIntensityZeroGivesWhiteSpikes) {
    parameters.rainbowIntensity = 0;
    parameters.rainbowFrequency = 100;
    for (const auto& e : Spikes()) {
        ASSERT_EQ(e.red, UNIT_ONE);
        ASSERT_EQ(e.green, UNIT_ONE);
        ASSERT_EQ(e.blue, UNIT_ONE);
    }
}

TEST_F(EffectShapesTest, GreyImagesGetGreySpikes) {
    parameters.rainbowIntensity = 100;
    parameters.rainbowFrequency = 90;
    bool coloured = false;
    for (const auto& e : Spikes()) coloured |= e.red != e.green || e.green != e.blue;
    EXPECT_TRUE(coloured) << "a colour image shows the rainbow";
    SetEffectImage(IMAGE_MODE_GRAY16, 300, 400);
    auto elements = Spikes();
    ASSERT_FALSE(elements.empty());
    for (const auto& e : elements) {
        ASSERT_EQ(e.green, e.red);
        ASSERT_EQ(e.blue, e.red);
    }
}

TEST_F(EffectShapesTest, FastModeKeepsOnlyElementsAboveItsThreshold) {
    size_t precise = Spikes(0, 0, true).size();
    SetEffectArithmetic(false, IMAGE_MODE_RGB8);
    auto elements = Spikes(0, 0, true);
    ASSERT_FALSE(elements.empty());
    for (const auto& e : elements) ASSERT_GE(e.intensity, EffectThreshold);
    EXPECT_LT(elements.size(), precise);
}

// ---- flares ----

TEST_F(EffectShapesTest, SoftFlareSubShapesFollowTheirOffsets) {
    const int length = 40;
    parameters.length = length;
    std::map<std::pair<int, int>, uint32_t> corner;
    for (auto ab : {std::make_pair(0, 0), std::make_pair(3, 3), std::make_pair(2, 1)}) {
        int a = ab.first, b = ab.second;
        auto elements = Generate(GenerateSoftFlareShape, a, b);
        ASSERT_FALSE(elements.empty());
        EXPECT_EQ(elements[0].dx, 0);
        EXPECT_EQ(elements[0].dy, 0);
        int innerMost = INT_MAX;
        for (size_t i = 0; i < elements.size(); i++) {
            const auto& e = elements[i];
            uint64_t d2 = static_cast<uint64_t>((4 * e.dx - a) * (4 * e.dx - a) + (4 * e.dy - b) * (4 * e.dy - b));
            ASSERT_EQ(e.intensity, SoftFlare(Code(d2), length)) << a << "," << b << " at " << e.dx << "," << e.dy;
            ASSERT_EQ(e.red, UNIT_ONE);
            ASSERT_EQ(e.blue, UNIT_ONE);
            if (i > 0) {
                ASSERT_GE(e.intensity, EffectThreshold);
            }
            innerMost = std::min(innerMost, std::max(std::abs(e.dx), std::abs(e.dy)));
            if (a == 0 && b == 0) corner[{e.dx, e.dy}] = e.intensity;
        }
        // The walk stops at the first ring whose point (r, 0) is below the threshold.
        int stop = 1;
        while (SoftFlare(Code(static_cast<uint64_t>((4 * stop - a) * (4 * stop - a) + b * b)), length) >=
               EffectThreshold)
            stop++;
        int outer = 0;
        for (const auto& e : elements) outer = std::max(outer, std::max(std::abs(e.dx), std::abs(e.dy)));
        EXPECT_EQ(outer, stop - 1) << a << "," << b;
        ExpectInsideBounds(a, b, "soft flare");
        EXPECT_EQ(cache.entry[a][b].right, stop);
        EXPECT_EQ(cache.entry[a][b].left, -stop);
    }
    // The same pixel differs between a centre on the pixel and three quarters off it.
    const ShapeElement* far = SubShapeElements(&cache.entry[3][3]);
    uint32_t centre = corner[std::make_pair(0, 0)];
    EXPECT_NE(far[0].intensity, centre);
}

TEST_F(EffectShapesTest, RingFlareFollowsItsProfile) {
    const int length = 50;
    parameters.length = length;
    EXPECT_EQ(RingFlareSize(50), 56);    // 75² / 100
    EXPECT_EQ(RingFlareSize(100), 156);  // 125² / 100
    const int g = 56;
    const double inner = 20.0 * (g + 1) / 40.0, peak = 34.0 * (g + 1) / 40.0, outer = 69.0 * (g + 1) / 40.0;
    for (auto ab : {std::make_pair(0, 0), std::make_pair(1, 3)}) {
        int a = ab.first, b = ab.second;
        auto elements = Generate(GenerateRingFlareShape, a, b);
        ASSERT_GT(elements.size(), 1u);
        // The centre is kept although it lies inside the ring (value 0).
        EXPECT_EQ(elements[0].dx, 0);
        EXPECT_EQ(elements[0].dy, 0);
        EXPECT_EQ(elements[0].intensity, 0u);
        uint32_t highest = 0;
        for (size_t i = 1; i < elements.size(); i++) {
            const auto& e = elements[i];
            int qx = 4 * e.dx - a, qy = 4 * e.dy - b;
            uint32_t code = Code(static_cast<uint64_t>(qx * qx + qy * qy));
            ASSERT_EQ(e.intensity, RingFlare(code, length)) << e.dx << "," << e.dy;
            ASSERT_GE(e.intensity, EffectThreshold);
            double r = std::hypot(qx / 4.0, qy / 4.0);
            ASSERT_GE(r, inner - 0.1);
            ASSERT_LE(r, outer + 0.1);
            highest = std::max(highest, e.intensity);
        }
        // Some pixel lies within half a pixel of the peak circle: (1 − 20/798)^4 of the peak.
        EXPECT_GT(highest, static_cast<uint32_t>(0.9 * 4194303));
        EXPECT_LE(highest, 4194303u);
        EXPECT_GT(peak, inner);
        ExpectInsideBounds(a, b, "ring flare");
        // The walk ends past the outer radius (69·57/10 quarter pixels).
        EXPECT_EQ(cache.entry[a][b].right, (69 * (g + 1) / 10) / 4 + 1);
    }
}

TEST_F(EffectShapesTest, BoundsHoldEveryElementOfEverySubShape) {
    parameters.numberOfPoints = 5;
    parameters.angle = 123;
    parameters.secondarySpikeIntensity = 60;
    parameters.length = 30;
    SetEffectImage(IMAGE_MODE_RGB8, 120, 90);  // reach 151: rays run into it
    for (int a = 0; a < 4; a++) {
        for (int b = 0; b < 4; b++) {
            Generate(GenerateSpikeShape, a, b);
            ExpectInsideBounds(a, b, "spikes");
            Generate(GenerateSoftFlareShape, a, b);
            ExpectInsideBounds(a, b, "soft flare");
            Generate(GenerateRingFlareShape, a, b);
            ExpectInsideBounds(a, b, "ring flare");
        }
    }
}

// ---- parameters from outside the dialog ----

TEST_F(EffectShapesTest, ClampHoldsEveryValueToItsSliderRange) {
    ParameterSet set;
    std::memset(&set, 0, sizeof(set));
    set.intensity = -50;
    set.length = 3000;
    set.angle = 12345;
    set.numberOfPoints = -5;
    set.spikeSharpness = -100;
    set.colorSaturation = -300;
    set.rainbowIntensity = -50;
    set.rainbowFrequency = 200;
    set.secondarySpikeIntensity = -50;
    set.softFlareIntensity = 101;
    set.effectsOnly = 7;
    set.quantity = 1000;
    set.colorHue = 300;
    set.ringFlareIntensity = -50;
    ParameterSet clamped = set;
    ClampEffectParameters(&clamped);
    for (int row = 0; row < SLIDER_ROW_COUNT; row++) {
        const SliderControlRow& r = SLIDER_CONTROL_TABLE[row];
        if (r.slot == SLOT_ANGLE) continue;
        int index = r.slot - FIRST_VALUE_SLOT;
        int32_t raw = EffectValues(&set)[index];
        int32_t expected = std::min<int32_t>(std::max<int32_t>(raw, r.minimum), r.maximum);
        EXPECT_EQ(EffectValues(&clamped)[index], expected) << "slot " << r.slot;
    }
    EXPECT_EQ(clamped.numberOfPoints, 1);
    EXPECT_EQ(clamped.rainbowFrequency, 100);
    EXPECT_EQ(clamped.angle, 12345) << "angles wrap instead";
    EXPECT_EQ(clamped.effectsOnly, 1);

    ShapeCache other = ShapeCache();
    ParameterSet current;
    other.parameters = &current;
    LoadShapeCacheParameters(&other, set);
    EXPECT_EQ(std::memcmp(&current, &clamped, sizeof(ParameterSet)), 0);
}

TEST_F(EffectShapesTest, HostileValuesDrawAsTheirClampedValues) {
    // Written straight into the cache's record, past LoadShapeCacheParameters.
    auto same = [&](void (*hostile)(ParameterSet*), void (*tame)(ParameterSet*), const char* what) {
        CopyEffectValues(&parameters, FACTORY_PARAMETERS);
        hostile(&parameters);
        auto first = Spikes(2, 1, true);
        ExpectInsideBounds(2, 1, what);
        CopyEffectValues(&parameters, FACTORY_PARAMETERS);
        tame(&parameters);
        auto second = Spikes(2, 1, true);
        ASSERT_EQ(first.size(), second.size()) << what;
        EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(ShapeElement)), 0) << what;
    };
    same([](ParameterSet* p) { p->rainbowFrequency = 200; }, [](ParameterSet* p) { p->rainbowFrequency = 100; },
         "rainbow frequency 200");
    same([](ParameterSet* p) { p->rainbowFrequency = 103; }, [](ParameterSet* p) { p->rainbowFrequency = 100; },
         "rainbow frequency 103");
    same([](ParameterSet* p) { p->numberOfPoints = 0; }, [](ParameterSet* p) { p->numberOfPoints = 1; },
         "no points");
    same([](ParameterSet* p) { p->numberOfPoints = -5; }, [](ParameterSet* p) { p->numberOfPoints = 1; },
         "negative points");
    same([](ParameterSet* p) { p->spikeSharpness = -100; }, [](ParameterSet* p) { p->spikeSharpness = 0; },
         "negative sharpness");
    same([](ParameterSet* p) { p->length = 30000; }, [](ParameterSet* p) { p->length = 100; }, "length 30000");
    same([](ParameterSet* p) { p->rainbowIntensity = -50; }, [](ParameterSet* p) { p->rainbowIntensity = 0; },
         "negative rainbow");

    CopyEffectValues(&parameters, FACTORY_PARAMETERS);
    parameters.intensity = -50;
    parameters.secondarySpikeIntensity = -50;
    EXPECT_TRUE(Spikes().empty()) << "negative intensities draw nothing";
    parameters.intensity = 50;
    parameters.length = -100;
    EXPECT_TRUE(Spikes().empty());
    EXPECT_TRUE(Generate(GenerateSoftFlareShape, 3, 0).empty());
    EXPECT_TRUE(Generate(GenerateRingFlareShape, 0, 3).empty());
    parameters.length = 30000;
    ASSERT_FALSE(Generate(GenerateRingFlareShape, 0, 3).empty());
    ExpectInsideBounds(0, 3, "ring flare, length 30000");
    EXPECT_LE(cache.entry[0][3].right, (69 * (RingFlareSize(100) + 1) / 10) / 4 + 1);
    ASSERT_FALSE(Generate(GenerateSoftFlareShape, 3, 0).empty());
    ExpectInsideBounds(3, 0, "soft flare, length 30000");
}

TEST_F(EffectShapesTest, RaysWithUnusableArgumentsDrawNothing) {
    const SubShapeEntry& e = cache.entry[1][1];
    BeginSubShape(&cache, 1, 1);
    EXPECT_TRUE(DrawSpikeRay(&cache, 1, 1, 900, -1.0, 0.65, 50, UNIT_ONE));
    EXPECT_TRUE(DrawSpikeRay(&cache, 1, 1, 900, 0.0, 0.65, 50, UNIT_ONE));
    EXPECT_TRUE(DrawSpikeRay(&cache, 1, 1, 900, std::nan(""), 0.65, 50, UNIT_ONE));
    EXPECT_TRUE(DrawSpikeRay(&cache, 1, 1, 900, 0.4, -1.0, 50, UNIT_ONE));
    EXPECT_TRUE(DrawSpikeRay(&cache, 1, 1, 900, 0.4, 0.65, 0, UNIT_ONE));
    EXPECT_TRUE(DrawSpikeRay(&cache, 1, 1, 900, 0.4, 0.65, -100, UNIT_ONE));
    EXPECT_TRUE(DrawSpikeRay(&cache, 1, 1, 900, 0.4, 0.65, 50, EffectThreshold - 1));
    EXPECT_EQ(e.count, 0);
    EXPECT_FALSE(DrawSpikeRay(&cache, 7, 1, 900, 0.4, 0.65, 50, UNIT_ONE));
    EXPECT_FALSE(GenerateSpikeShape(&cache, 0, -1));
    // A very long ray stops at the reach.
    SetEffectImage(IMAGE_MODE_RGB8, 60, 80);
    EXPECT_TRUE(DrawSpikeRay(&cache, 1, 1, 1234, 0.4, 0.65, 30000, UNIT_ONE));
    EXPECT_GT(e.count, 0);
    FinishSubShape(&cache, 1, 1);
    ExpectInsideBounds(1, 1, "long ray");
    int farthest = 0;
    const ShapeElement* p = SubShapeElements(&e);
    for (int32_t i = 0; i < e.count; i++) farthest = std::max(farthest, std::max(std::abs(p[i].dx), std::abs(p[i].dy)));
    EXPECT_GE(farthest, ShapeReach - 2) << "the falloff of length 30000 barely drops";
}
