// Tables built once per run and the engine's mode switches.
#include "effects/effect_tables.h"

#include <cmath>
#include <cstring>

#include "effects/shape_generators.h"
#include "image/fixed_point.h"
#include "image/gamma_tables.h"
#include "image/image.h"

float SineTable[ANGLE_STEPS];
uint32_t RainbowTable[ANGLE_STEPS];
uint32_t EffectThreshold = EFFECT_THRESHOLD_8BIT;
int32_t ShapeReach = 0;
bool EffectGrayImage = false;

EffectMemoSlot SpikeFalloffMemo[SPIKE_FALLOFF_SLOTS];
EffectMemoSlot SoftFlareMemo[MEMO_SLOTS];
EffectMemoSlot RingFlareMemo[MEMO_SLOTS];

namespace {

// Codes by D², one table per kind; 0 means not yet computed. They never go
// stale: a distance code does not depend on any parameter.
uint16_t gDistanceCodes[EFFECT_SHAPE_KINDS][DISTANCE_CODE_MEMO_LIMIT + 1];

ShapeCache gShapeCaches[EFFECT_SHAPE_KINDS];
ParameterSet gCurrentParameters[EFFECT_SHAPE_KINDS];
ParameterSet gBuiltWithParameters[EFFECT_SHAPE_KINDS];

const ShapeGenerator kGenerators[EFFECT_SHAPE_KINDS] = {GenerateSpikeShape, GenerateSoftFlareShape,
                                                        GenerateRingFlareShape};

// round(power of two × 16777215) with the power as a float.
uint32_t ThresholdOf(int exponent) {
    return static_cast<uint32_t>(std::lround(static_cast<double>(std::ldexp(1.0f, exponent)) * 16777215.0));
}

bool GrayMode(int32_t mode) {
    return mode == IMAGE_MODE_GRAY8 || mode == IMAGE_MODE_GRAY16 || mode == IMAGE_MODE_GRAY_FLOAT;
}

void InvalidateMemo(EffectMemoSlot* memo, int32_t slots) {
    for (int32_t i = 0; i < slots; i++) memo[i] = EffectMemoSlot{-1, 0};
}

}  // namespace

void InitializeEffectTables() {
    for (int32_t i = 0; i < ANGLE_STEPS / 2; i++) {
        SineTable[i] = std::sin(static_cast<float>(i) * 3.1415927f / 1800.0f);
        // 0.5 + s/2 is exact in double for a float s.
        RainbowTable[i] = RoundToU32((0.5 + static_cast<double>(SineTable[i]) / 2.0) * 4294967294.0);
    }
    for (int32_t i = ANGLE_STEPS / 2; i < ANGLE_STEPS; i++) {
        float s = SineTable[i - ANGLE_STEPS / 2];
        SineTable[i] = -s;
        RainbowTable[i] = RoundToU32((0.5 - static_cast<double>(s) / 2.0) * 4294967294.0);
    }
    InvalidateMemo(SpikeFalloffMemo, SPIKE_FALLOFF_SLOTS);
    InvalidateMemo(SoftFlareMemo, MEMO_SLOTS);
    InvalidateMemo(RingFlareMemo, MEMO_SLOTS);
    for (int32_t kind = 0; kind < EFFECT_SHAPE_KINDS; kind++) {
        ShapeCache* cache = &gShapeCaches[kind];
        ReleaseShapeCache(cache);
        cache->shapeType = SHAPE_IMAGE;
        cache->generator = kGenerators[kind];
        cache->parameters = &gCurrentParameters[kind];
        cache->builtWith = &gBuiltWithParameters[kind];
        std::memset(cache->builtWith, 0xFF, sizeof(ParameterSet));
    }
}

void SetEffectArithmetic(bool precise, int32_t hostImageMode) {
    PreciseMultiply = precise;
    if (!precise) {
        EffectThreshold = ThresholdOf(-9);
        return;
    }
    // 8-bit pictures take the 16-bit threshold: effects are summed in linear
    // light, where 2^-10 of full scale is several 8-bit levels of a dark sky
    // once encoded, and cutting there made 8-bit results visibly weaker.
    switch (BytesPerColor(hostImageMode)) {
        case 4: EffectThreshold = ThresholdOf(-13); break;
        default: EffectThreshold = ThresholdOf(-12); break;
    }
}

void SetEffectImage(int32_t hostImageMode, int64_t width, int64_t height) {
    EffectGrayImage = GrayMode(hostImageMode);
    float w = static_cast<float>(width), h = static_cast<float>(height);
    float reach = std::trunc(std::sqrt(w * w + h * h) + 1.0f);
    // Element offsets are 16-bit; no shape may reach further than that.
    ShapeReach = reach < static_cast<float>(MAXIMUM_SHAPE_REACH) ? static_cast<int32_t>(reach) : MAXIMUM_SHAPE_REACH;
}

uint32_t DistanceCode(EffectShapeKind kind, uint64_t distanceSquared) {
    if (distanceSquared > DISTANCE_CODE_MEMO_LIMIT) return ComputeDistanceCode(distanceSquared);
    uint16_t* slot = &gDistanceCodes[kind][distanceSquared];
    if (*slot == 0) *slot = static_cast<uint16_t>(ComputeDistanceCode(distanceSquared));
    return *slot;
}

ShapeCache* EffectShapeCache(EffectShapeKind kind) {
    return kind >= 0 && kind < EFFECT_SHAPE_KINDS ? &gShapeCaches[kind] : nullptr;
}

void LoadEffectParameters(const ParameterSet& set) {
    for (int32_t kind = 0; kind < EFFECT_SHAPE_KINDS; kind++) {
        ShapeCache* cache = &gShapeCaches[kind];
        if (!cache->parameters) cache->parameters = &gCurrentParameters[kind];
        LoadShapeCacheParameters(cache, set);
    }
}

void DiscardEffectShapes() {
    for (ShapeCache& cache : gShapeCaches)
        for (auto& column : cache.entry)
            for (SubShapeEntry& entry : column) {
                DeallocateBuffer(&entry.elements);
                entry = SubShapeEntry{};
            }
}

void ReleaseEffectShapeCaches() {
    for (int32_t kind = 0; kind < EFFECT_SHAPE_KINDS; kind++) ReleaseShapeCache(&gShapeCaches[kind]);
}
