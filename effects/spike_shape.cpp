// The spike shape: the main rays of a star and its secondary spikes.
//
// A ray is marched in whole pixels along its major axis (x when |sin| ≥ |cos|,
// else y). In each column (or row) the pixels across the ray are walked both
// ways from the ray's centre line until the coverage of the ray's band drops
// to nothing; the march ends at the first column in which no pixel reached
// the threshold. Geometry is in quarter pixels: pixel offset d lies at 4·d,
// the light source's centre at (a, b).
#include <algorithm>
#include <cmath>

#include "effects/effect_tables.h"
#include "effects/shape_generators.h"
#include "image/fixed_point.h"
#include "image/gamma_tables.h"

const SecondarySpike SecondarySpikeTable[SECONDARY_SPIKE_COUNT] = {
    {40, 32},   {110, 17},  {180, 42},  {270, 19},  {340, 16},  {410, 31},  {470, 14},  {550, 24},  {640, 22},
    {760, 34},  {860, 16},  {1000, 20}, {1070, 14}, {1160, 38}, {1250, 16}, {1360, 28}, {1450, 20}, {1520, 21},
    {1630, 28}, {1750, 23}, {1830, 19}, {1890, 26}, {1990, 18}, {2070, 28}, {2150, 21}, {2260, 23}, {2330, 16},
    {2460, 31}, {2510, 14}, {2600, 17}, {2770, 18}, {2840, 16}, {2910, 25}, {2960, 15}, {3020, 18}, {3110, 15},
    {3190, 27}, {3220, 14}, {3310, 18}, {3380, 21}, {3470, 31}, {3520, 20},
};

namespace {

constexpr uint32_t FALLOFF_MEMO_LIMIT = SPIKE_FALLOFF_SLOTS - 1;  // largest distance code with a falloff slot
constexpr uint32_t RAINBOW_FADE_STEPS = 6000;    // the rainbow fades in over this many steps of K

inline int32_t Clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : (v > high ? high : v); }

uint32_t ComputeFalloff(uint32_t distanceCode, int32_t length) {
    double exponent = 155.0 / (static_cast<double>(length) + 33.0);
    return RoundToU32(4294967294.0 / std::pow(distanceCode / 100.0 + 1.0, exponent));
}

uint32_t ClampToUnit(int64_t v) { return v < 0 ? 0 : (v > UNIT_ONE ? UNIT_ONE : static_cast<uint32_t>(v)); }

// What one ray reads besides its own arguments.
struct RayContext {
    SubShapeEntry* entry;
    int32_t rainbowIntensity;
    int32_t rainbowFrequency;
    uint32_t threshold;
    int32_t extent;  // the reach in quarter pixels
};

// Outcome of one pixel of a walk across the ray.
enum CellResult { CELL_NEXT, CELL_END, CELL_FAILED };

// Marches one ray. Major is the axis marched along, minor the one walked
// across; `columns` says the major axis is x.
template <bool columns>
bool MarchRay(const RayContext& ray, double sMajor, double sMinor, int32_t aMajor, int32_t aMinor, double steepness,
              double core, int32_t length, uint32_t intensity) {
    SubShapeEntry* entry = ray.entry;
    int32_t& lowMinor = columns ? entry->top : entry->left;
    int32_t& highMinor = columns ? entry->bottom : entry->right;
    int32_t& lowMajor = columns ? entry->left : entry->top;
    int32_t& highMajor = columns ? entry->right : entry->bottom;

    const int32_t step = sMajor > 0 ? 4 : -4;
    const double slope = sMinor / sMajor;
    const double stepShift = step * slope;                    // centre line change per step
    const double lineAtZero = aMinor - slope * aMajor;        // centre line at major = 0
    const double halfHeight = 2.0 * core / std::fabs(sMajor);  // band half-height across the march
    const double edge = std::min(std::fabs(sMajor) * steepness, 0.65);
    const uint32_t threshold = ray.threshold;
    const int32_t extent = ray.extent;

    // The ray going the positive way includes the light source's own column.
    int32_t major = step > 0 ? 0 : -4;
    double centre = step > 0 ? lineAtZero : lineAtZero + stepShift;
    int32_t lastMajor = major;

    auto cell = [&](int32_t minor, uint32_t* largest) -> CellResult {
        int64_t dMinor = static_cast<int64_t>(minor) - aMinor, dMajor = static_cast<int64_t>(major) - aMajor;
        uint32_t code = DistanceCode(SPIKE_SHAPE, static_cast<uint64_t>(dMinor * dMinor + dMajor * dMajor));
        uint32_t level = UnitProduct(intensity, SpikeFalloff(code, length));
        double coverage = std::min((centre + halfHeight - minor) / 4.0 * edge + 0.5,
                                   0.5 - (centre - halfHeight - minor) / 4.0 * edge);
        if (coverage > 1.0)
            coverage = 1.0;
        else if (!(coverage > 0.0))
            return CELL_END;
        uint32_t alpha = UnitProduct(level, RoundToU32(coverage * 4294967294.0));
        if (alpha >= threshold) {
            uint32_t rgb[3];
            SpikeColor(code, ray.rainbowIntensity, ray.rainbowFrequency, rgb);
            int32_t dx = (columns ? major : minor) / 4, dy = (columns ? minor : major) / 4;
            ShapeElement element = {static_cast<int16_t>(dx), static_cast<int16_t>(dy), rgb[0], rgb[1], rgb[2], alpha};
            if (!AppendShapeElement(entry, element, SHAPE_ELEMENT_GROWTH)) return CELL_FAILED;
        }
        if (alpha > *largest) *largest = alpha;
        return CELL_NEXT;
    };

    while (std::abs(major) <= extent) {
        lastMajor = major;
        int32_t start = 4 * (static_cast<int32_t>(std::trunc(centre)) / 4);
        uint32_t largest = 0;
        int32_t minor = start;
        for (; std::abs(minor) <= extent; minor -= 4) {
            CellResult result = cell(minor, &largest);
            if (result == CELL_FAILED) return false;
            if (result == CELL_END) break;
        }
        lowMinor = std::min(lowMinor, minor / 4);
        for (minor = start + 4; std::abs(minor) <= extent; minor += 4) {
            CellResult result = cell(minor, &largest);
            if (result == CELL_FAILED) return false;
            if (result == CELL_END) break;
        }
        highMinor = std::max(highMinor, minor / 4 + 1);
        if (largest < threshold) break;
        major += step;
        centre += stepShift;
    }
    lowMajor = std::min(lowMajor, lastMajor / 4);
    highMajor = std::max(highMajor, lastMajor / 4 + 1);
    return true;
}

}  // namespace

uint32_t SpikeFalloff(uint32_t distanceCode, int32_t length) {
    if (length < 0) length = 0;
    if (distanceCode > FALLOFF_MEMO_LIMIT) return ComputeFalloff(distanceCode, length);
    EffectMemoSlot* slot = &SpikeFalloffMemo[distanceCode];
    if (slot->key != length) {
        slot->value = ComputeFalloff(distanceCode, length);
        slot->key = length;
    }
    return slot->value;
}

void SpikeColor(uint32_t distanceCode, int32_t rainbowIntensity, int32_t rainbowFrequency, uint32_t rgb[3]) {
    uint32_t amountFull = static_cast<uint32_t>(Clamp(rainbowIntensity, 0, 100)) * PERCENT_UNIT;
    // The divisor stays at 3 or more however the frequency came in.
    uint32_t divisor = 103u - static_cast<uint32_t>(Clamp(rainbowFrequency, 0, 100));
    uint32_t k = distanceCode * 80u / divisor;
    uint32_t amount = k > RAINBOW_FADE_STEPS - 1 ? amountFull : k * (amountFull / RAINBOW_FADE_STEPS);
    int64_t c0 = UNIT_ONE - UnitProduct(amount, RainbowTable[k % ANGLE_STEPS]);
    int64_t c1 = UNIT_ONE - UnitProduct(amount, RainbowTable[(k + 1200) % ANGLE_STEPS]);
    int64_t c2 = UNIT_ONE - UnitProduct(amount, RainbowTable[(k + 2400) % ANGLE_STEPS]);
    rgb[0] = ClampToUnit(c0 + 2 * (c0 - (c1 + c2) / 2));
    rgb[1] = ClampToUnit(c1 + 2 * (c1 - (c0 + c2) / 2));
    rgb[2] = ClampToUnit(c2 + 2 * (c2 - (c0 + c1) / 2));
    if (EffectGrayImage) rgb[1] = rgb[2] = rgb[0];
}

bool DrawSpikeRay(ShapeCache* cache, int32_t a, int32_t b, int32_t angle, double steepness, double core,
                  int32_t length, uint32_t intensity) {
    if (a < 0 || a > 3 || b < 0 || b > 3) return false;
    if (length < 1 || intensity < EffectThreshold) return true;
    // Only a positive steepness ends the walks across the ray.
    if (!(steepness > 0.0) || !(core >= 0.0) || !std::isfinite(core)) return true;

    int32_t theta = ReduceAngle(angle);
    double sx = SineTable[theta];
    double sy = -SineTable[(theta + 900) % ANGLE_STEPS];
    ParameterSet parameters = GeneratorParameters(cache);
    RayContext ray = {&cache->entry[a][b], parameters.rainbowIntensity, parameters.rainbowFrequency, EffectThreshold,
                      4 * ShapeReach};
    if (std::fabs(sx) >= std::fabs(sy)) return MarchRay<true>(ray, sx, sy, a, b, steepness, core, length, intensity);
    return MarchRay<false>(ray, sy, sx, b, a, steepness, core, length, intensity);
}

bool GenerateSpikeShape(ShapeCache* cache, int32_t a, int32_t b) {
    if (a < 0 || a > 3 || b < 0 || b > 3) return false;
    ParameterSet p = GeneratorParameters(cache);
    BeginSubShape(cache, a, b);
    bool stored = true;
    if (p.length >= 1) {
        double steepness = p.spikeSharpness * 0.65 / 100.0 + 0.06;
        uint32_t intensity = static_cast<uint32_t>(p.intensity) * PERCENT_UNIT;
        for (int32_t i = 0; stored && i < p.numberOfPoints; i++) {
            int32_t theta = p.angle + (i * ANGLE_STEPS) / p.numberOfPoints;
            stored = DrawSpikeRay(cache, a, b, theta, steepness, 0.65, p.length, intensity);
        }
    }
    if (stored && p.secondarySpikeIntensity >= 1 && p.length >= 1) {
        int32_t length = (80 * (p.length + 1)) / 100;
        double steepness = (40 * p.spikeSharpness) * 0.65 / 10000.0 + 0.06;
        uint32_t intensity = static_cast<uint32_t>(p.secondarySpikeIntensity) * PERCENT_UNIT / 100u;
        for (int i = 0; stored && i < SECONDARY_SPIKE_COUNT; i++) {
            const SecondarySpike& spike = SecondarySpikeTable[i];
            stored = DrawSpikeRay(cache, a, b, p.angle + spike.offset, steepness, 0.65, length,
                                  intensity * static_cast<uint32_t>(spike.weight));
        }
    }
    FinishSubShape(cache, a, b);
    return stored;
}
