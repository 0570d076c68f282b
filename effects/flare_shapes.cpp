// The soft flare and the ring flare: white elements whose intensity depends
// only on the distance to the light source's centre, visited on concentric
// squares around it.
#include <cmath>

#include "effects/effect_tables.h"
#include "effects/shape_generators.h"
#include "image/fixed_point.h"

namespace {

constexpr double SOFT_FLARE_PEAK = 67108860.0;  // 1/64 of full intensity
constexpr float RING_FLARE_PEAK = 4194303.0f;   // about 1/1024
constexpr uint32_t SOFT_FLARE_FLOOR = 1024;

enum RingStep { RING_NEXT, RING_STOP, RING_FAILED };

// Visits the border of the square of half-size r (quarter pixels, a
// multiple of 4) once per pixel, starting at (r, 0). `visit` gets the
// position and whether it is the ring's first one.
template <class Visit>
RingStep WalkRing(int32_t r, Visit visit) {
    for (int32_t s = 0; s <= r; s += 4) {
        const bool side = s != 0 && s != r;
        const int32_t positions[8][2] = {{r, s}, {s, r}, {-s, r}, {-r, s}, {-r, -s}, {-s, -r}, {s, -r}, {r, -s}};
        for (int k = 0; k < 8; k++) {
            if ((k & 1) && !side) continue;
            RingStep step = visit(positions[k][0], positions[k][1], s == 0 && k == 0);
            if (step != RING_NEXT) return step;
        }
    }
    return RING_NEXT;
}

uint64_t DistanceSquared(int32_t px, int32_t py, int32_t a, int32_t b) {
    int64_t dx = static_cast<int64_t>(px) - a, dy = static_cast<int64_t>(py) - b;
    return static_cast<uint64_t>(dx * dx + dy * dy);
}

uint32_t ComputeSoftFlare(uint32_t half, int32_t length) {
    double x = (half + 1.0) / 2000.0 + 1.0;
    double q = std::trunc(SOFT_FLARE_PEAK / std::pow(x, 24.0 - length / 5.0));
    return q <= SOFT_FLARE_FLOOR ? 0 : static_cast<uint32_t>(q) - SOFT_FLARE_FLOOR;
}

uint32_t ComputeRingFlare(uint32_t code, int32_t ringSize) {
    const int64_t g = static_cast<int64_t>(ringSize) + 1;
    const int64_t inner = 20 * g, peak = 34 * g, outer = 69 * g;
    const int64_t a = code;
    if (a < inner || a > outer) return 0;
    float d, span;
    if (a < peak) {
        d = static_cast<float>(a - inner);
        span = static_cast<float>(peak - inner);
    } else {
        d = static_cast<float>(outer - a);
        span = static_cast<float>(outer - peak);
    }
    return static_cast<uint32_t>((d * d * d * d) / (span * span * span * span) * RING_FLARE_PEAK);
}

// Bounds around the rings walked: up to ring r exclusive, or including ring
// r when the walk broke off inside it.
void SetRingBounds(SubShapeEntry* entry, int32_t r, bool partialRing) {
    int32_t extent = r / 4;
    entry->left = entry->top = -extent;
    entry->right = entry->bottom = partialRing ? extent + 1 : extent;
}

}  // namespace

uint32_t SoftFlareValue(uint32_t distanceCode, int32_t length) {
    if (length < 0) length = 0;
    uint32_t half = distanceCode / 2;
    if (half >= static_cast<uint32_t>(MEMO_SLOTS)) return ComputeSoftFlare(half, length);
    EffectMemoSlot* slot = &SoftFlareMemo[half];
    if (slot->key != length) {
        slot->value = ComputeSoftFlare(half, length);
        slot->key = length;
    }
    return slot->value;
}

int32_t RingFlareSize(int32_t length) {
    float side = static_cast<float>(length + 25);
    return static_cast<int32_t>(std::trunc(side * side / 100.0f));
}

uint32_t RingFlareValue(uint32_t distanceCode, int32_t ringSize) {
    if (distanceCode >= static_cast<uint32_t>(MEMO_SLOTS)) return ComputeRingFlare(distanceCode, ringSize);
    EffectMemoSlot* slot = &RingFlareMemo[distanceCode];
    if (slot->key != ringSize) {
        slot->value = ComputeRingFlare(distanceCode, ringSize);
        slot->key = ringSize;
    }
    return slot->value;
}

bool GenerateSoftFlareShape(ShapeCache* cache, int32_t a, int32_t b) {
    if (a < 0 || a > 3 || b < 0 || b > 3) return false;
    const int32_t length = GeneratorParameters(cache).length;
    BeginSubShape(cache, a, b);
    SubShapeEntry* entry = &cache->entry[a][b];
    if (length < 1) {
        FinishSubShape(cache, a, b);
        return true;
    }
    const uint32_t threshold = EffectThreshold;
    const int32_t extent = 4 * ShapeReach;
    auto value = [&](int32_t px, int32_t py) {
        return SoftFlareValue(DistanceCode(SOFT_FLARE_SHAPE, DistanceSquared(px, py, a, b)), length);
    };

    // The centre is always present, whatever its value.
    bool stored = AppendWhiteElement(entry, 0, 0, value(0, 0));
    int32_t r = 4;
    RingStep step = stored ? RING_NEXT : RING_FAILED;
    for (; step == RING_NEXT && r <= extent; r += 4) {
        step = WalkRing(r, [&](int32_t px, int32_t py, bool first) {
            uint32_t v = value(px, py);
            if (v < threshold) return first ? RING_STOP : RING_NEXT;
            return AppendWhiteElement(entry, px / 4, py / 4, v) ? RING_NEXT : RING_FAILED;
        });
        if (step != RING_NEXT) break;
    }
    SetRingBounds(entry, r, step == RING_FAILED);
    FinishSubShape(cache, a, b);
    return step != RING_FAILED;
}

bool GenerateRingFlareShape(ShapeCache* cache, int32_t a, int32_t b) {
    if (a < 0 || a > 3 || b < 0 || b > 3) return false;
    const int32_t length = GeneratorParameters(cache).length;
    BeginSubShape(cache, a, b);
    SubShapeEntry* entry = &cache->entry[a][b];
    if (length < 1) {
        FinishSubShape(cache, a, b);
        return true;
    }
    const uint32_t threshold = EffectThreshold;
    const int32_t ringSize = RingFlareSize(length);
    const int32_t limit = (69 * (ringSize + 1)) / 10;  // the outer radius in quarter pixels
    auto value = [&](int32_t px, int32_t py) {
        return RingFlareValue(DistanceCode(RING_FLARE_SHAPE, DistanceSquared(px, py, a, b)), ringSize);
    };

    bool stored = AppendWhiteElement(entry, 0, 0, value(0, 0));
    int32_t r = 4;
    RingStep step = stored ? RING_NEXT : RING_FAILED;
    for (; step == RING_NEXT && r <= limit; r += 4) {
        step = WalkRing(r, [&](int32_t px, int32_t py, bool) {
            uint32_t v = value(px, py);
            if (v < threshold) return RING_NEXT;
            return AppendWhiteElement(entry, px / 4, py / 4, v) ? RING_NEXT : RING_FAILED;
        });
        if (step != RING_NEXT) break;
    }
    SetRingBounds(entry, r, step == RING_FAILED);
    FinishSubShape(cache, a, b);
    return step != RING_FAILED;
}
