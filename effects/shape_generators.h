// The generators of the three effect shapes. Each builds one sub-shape of a
// cache for a light source of unit colour and intensity whose centre lies at
// quarter-pixel offset (a, b) inside its pixel, from the cache's current
// parameter set. The render multiplies the elements by the light source's
// colour and brightness when it draws.
#pragma once

#include <cstdint>

#include "effects/shape_cache.h"

// Spikes: the main rays and the secondary spikes.
bool GenerateSpikeShape(ShapeCache* cache, int32_t a, int32_t b);
// Soft flare: a glow fading with distance.
bool GenerateSoftFlareShape(ShapeCache* cache, int32_t a, int32_t b);
// Ring flare: a thin ring around the light source.
bool GenerateRingFlareShape(ShapeCache* cache, int32_t a, int32_t b);

// Appends one ray to sub-shape [a][b]: angle in tenths of a degree (0 up,
// clockwise), edge steepness w, core half-width factor e, length parameter
// and intensity (unit fraction). A ray below the threshold, of length below
// 1, or with a steepness or core that is not positive appends nothing.
bool DrawSpikeRay(ShapeCache* cache, int32_t a, int32_t b, int32_t angle, double steepness, double core,
                  int32_t length, uint32_t intensity);

// The common start and end of a generator: shape type set, the sub-shape
// emptied with zero bounds; and at the end marked built (also after a
// low-memory stop, so a partial shape is kept).
void BeginSubShape(ShapeCache* cache, int32_t a, int32_t b);
void FinishSubShape(ShapeCache* cache, int32_t a, int32_t b);

// The cache's current parameters as the generators read them: every effect
// value held to its dialog range (all zero when the cache has none).
ParameterSet GeneratorParameters(const ShapeCache* cache);
// Appends a white element of the given intensity.
bool AppendWhiteElement(SubShapeEntry* entry, int32_t dx, int32_t dy, uint32_t intensity);

// Secondary spikes: angle offset (tenths of a degree) and weight (percent).
struct SecondarySpike {
    int32_t offset;
    int32_t weight;
};
constexpr int SECONDARY_SPIKE_COUNT = 42;
extern const SecondarySpike SecondarySpikeTable[SECONDARY_SPIKE_COUNT];

// Falloff of a spike at distance code A for ray length L (memoised).
uint32_t SpikeFalloff(uint32_t distanceCode, int32_t length);
// Colour of a spike element at distance code A: red, green, blue fractions.
void SpikeColor(uint32_t distanceCode, int32_t rainbowIntensity, int32_t rainbowFrequency, uint32_t rgb[3]);
// Element values of the flares at distance code A (memoised).
uint32_t SoftFlareValue(uint32_t distanceCode, int32_t length);
uint32_t RingFlareValue(uint32_t distanceCode, int32_t ringSize);
// The ring size G of the ring flare for a Length.
int32_t RingFlareSize(int32_t length);
