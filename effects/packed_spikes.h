// The final render's spikes, kept packed.
//
// A spike sub-shape at the longest Length and most points holds about a
// million elements of 20 bytes; the render keeps up to sixteen. Its colour is
// a function of the distance code alone, and the code follows from the
// element's offset and the sub-shape's quarter offsets, so the render keeps
// each element as its offset and intensity (8 bytes) and looks the colour up
// in one table per render. The elements are grouped in runs of
// PACKED_CHUNK_ELEMENTS, each with its bounds and its largest intensity: a
// strip skips the runs outside it, and a faint light source skips the runs
// that cannot show after its own intensity is applied. The elements keep
// their stored order, so the picture is the one the full sub-shapes give,
// byte for byte.
#pragma once

#include <cstdint>

#include "effects/parameter_set.h"
#include "effects/shape_cache.h"
#include "image/image.h"

constexpr uint32_t PACKED_CHUNK_ELEMENTS = 128;

struct PackedElement {
    int16_t dx, dy;
    uint32_t intensity;
};

struct PackedChunk {
    int16_t left, top, right, bottom;  // inclusive bounds of its elements
    uint32_t largest;                  // its largest element intensity
};

struct PackedSubShape {
    bool built;     // published last (acquire/release): a thread that sees it sees the rest
    bool unpacked;  // memory ran out while packing: drawn from the spike cache's own entry
    int32_t left, top, right, bottom;
    uint32_t count;
    PackedElement* elements;
    uint32_t chunks;
    PackedChunk* chunk;
};

struct PackedSpikes {
    PackedSubShape entry[4][4];
    uint32_t* colours;  // red, green, blue by distance code
    uint32_t codes;     // entries of `colours`: every code a spike element can have
};

// Builds the colour table for the engine's current parameters, threshold and
// reach; the sub-shapes are packed as the band threads first need them. Not
// thread-safe (it fills the shared memo tables): call it before the threads
// start. False when memory ran out.
bool PreparePackedSpikes(PackedSpikes* spikes, const ParameterSet& parameters);
void ReleasePackedSpikes(PackedSpikes* spikes);

// Draws the spike shape at a position, as DrawShapeInto draws the spike
// cache's sub-shape, building and packing the sub-shape first if need be
// (under the shape-creation lock). False when the lock or the shape failed.
bool DrawPackedSpikesInto(Image* destination, const ImageRect& clipRect, PackedSpikes* spikes,
                          const ShapeColor& color, const ShapePosition& position, uint32_t blendMode);
