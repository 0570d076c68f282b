// The final render's flares, drawn straight from their radial profile.
//
// A flare's sub-shape holds one white element per pixel whose value, a
// function of the distance code alone, reaches the threshold: at the largest
// Length the soft flare's sixteen sub-shapes would take about a gigabyte. The
// render needs none of them: it walks, for each light source, only the rows
// and columns whose value can still show after the light source's own colour
// and intensity are applied, and computes each value from the distance code
// as the generator does. A flare has at most one element per pixel, so the
// order of the walk does not matter: the picture is the one the stored
// sub-shapes give, byte for byte.
#pragma once

#include <cstdint>

#include "effects/effect_tables.h"
#include "effects/parameter_set.h"
#include "effects/shape_cache.h"
#include "image/image.h"

struct RadialFlare {
    EffectShapeKind kind;  // SOFT_FLARE_SHAPE or RING_FLARE_SHAPE
    bool empty;            // Length 0: the generator stores nothing, not even the centre
    uint32_t threshold;    // EffectThreshold when prepared
    int32_t codeShift;     // the value table is indexed by the distance code >> codeShift
    uint32_t* values;      // value by (distance code >> codeShift), `count` entries; beyond: below the threshold
    uint32_t count;
    uint32_t peak;          // the ring flare's largest value: its values rise to it, then fall
    uint32_t centre[4][4];  // the centre element's value per quarter offset (a, b)
    int32_t rings[4][4];    // Chebyshev radius (pixels) of the last ring drawn per (a, b)
};

// Builds the value table and ring limits of a flare kind for the engine's
// current parameters, threshold and reach. Not thread-safe (it fills the
// shared memo tables): call it before the band threads start. False when
// memory ran out.
bool PrepareRadialFlare(RadialFlare* flare, EffectShapeKind kind, const ParameterSet& parameters);
void ReleaseRadialFlare(RadialFlare* flare);

// Draws a flare at a position with a colour and intensity, as DrawShapeInto
// draws the flare's sub-shape, clipped to `clipRect` and the destination.
// Reads only `flare`: band threads call it at once.
void DrawRadialFlareInto(Image* destination, const ImageRect& clipRect, const RadialFlare& flare,
                         const ShapeColor& color, const ShapePosition& position, uint32_t blendMode);
