// The final render's flares, drawn from their radial profile: see the header.
#include "effects/radial_flare.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "effects/shape_generators.h"
#include "image/blend.h"
#include "image/fixed_point.h"

namespace {

// ⌊√v⌋ exactly.
uint64_t FloorSqrt(uint64_t v) {
    uint64_t s = static_cast<uint64_t>(std::sqrt(static_cast<double>(v)));
    while (s > 0 && s * s > v) s--;
    while ((s + 1) * (s + 1) <= v) s++;
    return s;
}

// The largest squared distance whose code is at most `code`.
uint64_t LargestSquareOfCode(uint32_t code) {
    double r = (code + 0.5) / 10.0;
    uint64_t d = static_cast<uint64_t>(r * r);
    while (d > 0 && ComputeDistanceCode(d) > code) d--;
    while (ComputeDistanceCode(d + 1) <= code) d++;
    return d;
}

// The smallest squared distance whose code is at least `code`.
uint64_t SmallestSquareOfCode(uint32_t code) {
    if (code == 0) return 0;
    double r = (code - 0.5) / 10.0;
    uint64_t d = static_cast<uint64_t>(r * r);
    while (d > 0 && ComputeDistanceCode(d - 1) >= code) d--;
    while (ComputeDistanceCode(d) < code) d++;
    return d;
}

inline int32_t FloorDiv4(int64_t v) { return static_cast<int32_t>(v >= 0 ? v / 4 : -((3 - v) / 4)); }
inline int32_t CeilDiv4(int64_t v) { return -FloorDiv4(-v); }

// The first index in [low, high) whose value is at least `floor` on a
// rising run (`rising`) or the last such index on a falling one; -1: none.
int64_t SearchRun(const uint32_t* values, int64_t low, int64_t high, uint32_t floor, bool rising) {
    if (low >= high) return -1;
    if (rising) {
        if (values[high - 1] < floor) return -1;
        while (low < high) {
            int64_t mid = low + (high - low) / 2;
            if (values[mid] >= floor) high = mid; else low = mid + 1;
        }
        return low;
    }
    if (values[low] < floor) return -1;
    while (high - low > 1) {
        int64_t mid = low + (high - low) / 2;
        if (values[mid] >= floor) low = mid; else high = mid;
    }
    return low;
}

}  // namespace

bool PrepareRadialFlare(RadialFlare* flare, EffectShapeKind kind, const ParameterSet& parameters) {
    ReleaseRadialFlare(flare);
    flare->kind = kind;
    flare->threshold = EffectThreshold;
    ParameterSet p = parameters;
    ClampEffectParameters(&p);
    flare->empty = p.length < 1;
    if (flare->empty) return true;
    const uint32_t threshold = EffectThreshold;
    const int64_t extent = 4 * static_cast<int64_t>(ShapeReach);
    if (kind == SOFT_FLARE_SHAPE) {
        // The value falls with the distance: the table ends at the first
        // entry below the threshold, and no ring is drawn past it.
        flare->codeShift = 1;
        uint32_t count = 0;
        while (SoftFlareValue(2 * count, p.length) >= threshold) count++;
        flare->count = count + 1;
        flare->values = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * flare->count));
        if (!flare->values) return false;
        for (uint32_t j = 0; j < flare->count; j++) flare->values[j] = SoftFlareValue(2 * j, p.length);
        for (int32_t a = 0; a < 4; a++)
            for (int32_t b = 0; b < 4; b++) {
                flare->centre[a][b] = SoftFlareValue(ComputeDistanceCode(static_cast<uint64_t>(a * a + b * b)), p.length);
                // The walk stops at the first ring whose position (r, 0) is below the threshold.
                int64_t r = 4;
                for (; r <= extent; r += 4) {
                    const uint64_t d2 = static_cast<uint64_t>((r - a) * (r - a) + b * b);
                    if (SoftFlareValue(ComputeDistanceCode(d2), p.length) < threshold) break;
                }
                flare->rings[a][b] = static_cast<int32_t>(r / 4 - 1);
            }
        return true;
    }
    flare->codeShift = 0;
    const int32_t ringSize = RingFlareSize(p.length);
    const int32_t limit = (69 * (ringSize + 1)) / 10;  // the outer radius in quarter pixels
    flare->count = static_cast<uint32_t>(69 * (ringSize + 1)) + 1;  // the value is 0 past the outer code
    flare->values = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * flare->count));
    if (!flare->values) return false;
    for (uint32_t code = 0; code < flare->count; code++) {
        flare->values[code] = RingFlareValue(code, ringSize);
        if (flare->values[code] > flare->values[flare->peak]) flare->peak = code;
    }
    for (int32_t a = 0; a < 4; a++)
        for (int32_t b = 0; b < 4; b++) {
            flare->centre[a][b] = RingFlareValue(ComputeDistanceCode(static_cast<uint64_t>(a * a + b * b)), ringSize);
            flare->rings[a][b] = limit / 4;
        }
    return true;
}

void ReleaseRadialFlare(RadialFlare* flare) {
    std::free(flare->values);
    std::memset(static_cast<void*>(flare), 0, sizeof(RadialFlare));
}

void DrawRadialFlareInto(Image* destination, const ImageRect& clipRect, const RadialFlare& flare,
                         const ShapeColor& color, const ShapePosition& position, uint32_t blendMode) {
    if (flare.empty || !flare.values) return;
    const ShapePosition at = NormalizeShapePosition(position);
    const int32_t a = at.xQuarter, b = at.yQuarter;
    const int32_t rings = flare.rings[a][b];
    const ImageRect square = {at.x - rings, at.y - rings, at.x + rings + 1, at.y + rings + 1};
    const ImageRect target = IntersectImageRect(IntersectImageRect(square, destination->imageRect), clipRect);
    if (ImageRectEmpty(target)) return;

    // Flare elements are white: the drawn colour is the light source's, and
    // whether an element shows depends only on its value.
    PixelValue source = {UnitProduct(color.red, UNIT_ONE), UnitProduct(color.green, UNIT_ONE),
                         UnitProduct(color.blue, UNIT_ONE), 0, UNIT_ONE};
    uint32_t largest = source.c0 > source.c1 ? source.c0 : source.c1;
    if (source.c2 > largest) largest = source.c2;
    const uint32_t half = EffectThreshold / 2;
    auto shows = [&](uint32_t value) { return UnitProduct(largest, UnitProduct(value, color.intensity)) >= half; };
    if (!shows(UNIT_ONE)) return;
    // The smallest value that shows: the products only grow with the value.
    uint32_t low = 0, high = UNIT_ONE;
    while (low < high) {
        uint32_t mid = low + (high - low) / 2;
        if (shows(mid)) high = mid; else low = mid + 1;
    }
    // Every element shares the source's hue: a screen computes it once.
    const ScreenHue hue = ScreenHueOf(source);
    const bool screen = blendMode == BLEND_SCREEN;
    auto blend = [&](int32_t x, int32_t y, uint32_t value) {
        source.alpha = UnitProduct(value, color.intensity);
        PixelValue pixel;
        destination->InputImage(destination, &pixel, x, y);
        if (screen)
            BlendScreenWithHue(&pixel, hue, source.alpha);
        else
            BlendPixel(&pixel, source, blendMode);
        destination->OutputImage(destination, &pixel, x, y);
    };

    // The centre element is kept whatever its value.
    const bool centreInside = at.x >= target.left && at.x < target.right && at.y >= target.top && at.y < target.bottom;
    if (centreInside && shows(flare.centre[a][b])) blend(at.x, at.y, flare.centre[a][b]);

    // The rings: the codes whose value reaches both the threshold and what shows.
    const uint32_t floor = low > flare.threshold ? low : flare.threshold;
    const uint32_t* values = flare.values;
    int64_t first, last;
    if (flare.kind == SOFT_FLARE_SHAPE) {
        first = values[0] >= floor ? 0 : -1;
        last = SearchRun(values, 0, flare.count, floor, false);
    } else {
        const int64_t peak = flare.peak;
        first = SearchRun(values, 0, peak + 1, floor, true);
        last = SearchRun(values, peak, flare.count, floor, false);
    }
    if (first < 0 || last < 0) return;
    const uint32_t shift = static_cast<uint32_t>(flare.codeShift);
    const uint64_t outer = LargestSquareOfCode(static_cast<uint32_t>(((last + 1) << shift) - 1));
    const uint64_t inner = SmallestSquareOfCode(static_cast<uint32_t>(first << shift));

    for (int32_t y = target.top; y < target.bottom; y++) {
        const int64_t dy = static_cast<int64_t>(y) - at.y;
        const int64_t Y = 4 * dy - b;
        const uint64_t Y2 = static_cast<uint64_t>(Y * Y);
        if (Y2 > outer) continue;
        const int64_t reach = static_cast<int64_t>(FloorSqrt(outer - Y2));
        int32_t left = CeilDiv4(a - reach) + at.x, right = FloorDiv4(a + reach) + at.x;  // inclusive
        if (left < target.left) left = target.left;
        if (right > target.right - 1) right = target.right - 1;
        // Inside the inner code nothing reaches the floor (the ring flare's hole).
        int32_t holeLeft = 1, holeRight = 0;
        if (inner > Y2) {
            const uint64_t h = inner - Y2;  // |X| must be at least √h
            uint64_t s = FloorSqrt(h);
            if (s * s == h) s--;  // |X| ≤ s has X² < h
            holeLeft = CeilDiv4(a - static_cast<int64_t>(s)) + at.x;
            holeRight = FloorDiv4(a + static_cast<int64_t>(s)) + at.x;
        }
        for (int32_t x = left; x <= right; x++) {
            if (x >= holeLeft && x <= holeRight) {
                x = holeRight;
                continue;
            }
            const int64_t dx = static_cast<int64_t>(x) - at.x;
            if (dx == 0 && dy == 0) continue;  // the centre is not on a ring
            const int64_t X = 4 * dx - a;
            const uint32_t index = ComputeDistanceCode(static_cast<uint64_t>(X * X) + Y2) >> shift;
            const uint32_t value = index < flare.count ? values[index] : 0;
            if (value >= floor) blend(x, y, value);
        }
    }
}
