// Shape caches: an effect shape kept as 4 × 4 sub-shapes, one per
// quarter-pixel position of a light source's centre inside its pixel, each a
// list of pixel elements built by the cache's generator the first time it is
// used. A cache applies a shape at a position three ways: drawing it into an
// image, averaging an image's colour under it, and measuring the brightness
// statistics under it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "effects/parameter_set.h"
#include "image/image.h"
#include "image/tracked_buffer.h"
#include "support/os.h"

// One pixel of a shape: an offset from the light source's pixel, a colour
// and an intensity, all three channels and the intensity as unit fractions.
struct ShapeElement {
    int16_t dx;
    int16_t dy;
    uint32_t red;
    uint32_t green;
    uint32_t blue;
    uint32_t intensity;
};
static_assert(sizeof(ShapeElement) == 20, "shape elements are 20 bytes");
static_assert(offsetof(ShapeElement, red) == 4 && offsetof(ShapeElement, intensity) == 16, "element layout");
static_assert(std::is_trivially_copyable<ShapeElement>::value, "elements are moved as bytes");

// Element buffers grow by this many elements at a time.
constexpr uint32_t SHAPE_ELEMENT_GROWTH = 16384;

constexpr int32_t SHAPE_IMAGE = 0;  // the only shape type

struct SubShapeEntry {
    bool built;  // the generator has run for this entry
    // Bounds of the elements in pixels relative to the light source's pixel;
    // right and bottom exclusive.
    int32_t left, top, right, bottom;
    int32_t count;
    TrackedBuffer elements;  // ShapeElement records
};

struct ShapeCache;
// Fills sub-shape [a][b]; false only when an element could not be stored.
typedef bool (*ShapeGenerator)(ShapeCache* cache, int32_t a, int32_t b);

struct ShapeCache {
    SubShapeEntry entry[4][4];  // [a][b]: a horizontal, b vertical quarter offset
    int32_t shapeType;
    ShapeGenerator generator;
    ParameterSet* parameters;  // what the generator reads
    ParameterSet* builtWith;   // what the content was made from; 0xFF bytes when reset
    // Disk and ring shapes of the light source analysis read their radius
    // (pixels) here instead of a parameter set.
    const float* radius;
};

// Where a shape is applied: a pixel and the quarter-pixel offsets (0..3) of
// a centre inside it. The first four words of a light source record.
struct ShapePosition {
    int32_t x, xQuarter, y, yQuarter;
};

// A colour to draw with: three channels in the 24-bit pixel scale (they may
// exceed full scale) and an intensity as a unit fraction.
struct ShapeColor {
    uint32_t red, green, blue, intensity;
};

// Brightness under a shape.
struct ShapeStatistics {
    uint32_t minimum;
    uint32_t mean;
    uint32_t maximum;
    float deviation;
};

inline const ShapeElement* SubShapeElements(const SubShapeEntry* entry) {
    return static_cast<const ShapeElement*>(entry->elements.pointer);
}

// Quarter offsets outside 0..3 carry into the pixel position, so any
// position selects one of the 16 sub-shapes.
ShapePosition NormalizeShapePosition(const ShapePosition& position);

// Appends one element, growing the buffer by `growth` elements when it is
// full. When memory runs out the user is warned, the count is unchanged and
// the result is false.
bool AppendShapeElement(SubShapeEntry* entry, const ShapeElement& element, uint32_t growth);

// Copies a parameter set into the cache's current parameters, holding every
// effect value to its dialog range on the way in.
void LoadShapeCacheParameters(ShapeCache* cache, const ParameterSet& set);

// Draws the sub-shape of the position's quarter offsets at the position,
// clipped to clipRect and the image, in `blendMode`. The sub-shape is built
// first if need be, under ShapeCreationMutex.
bool DrawShapeInto(Image* destination, const ImageRect& clipRect, ShapeCache* cache, const ShapeColor& color,
                   const ShapePosition& position, uint32_t blendMode);
// The element-weighted mean colour of the image under the shape. No lock:
// the caller owns the cache.
bool SampleShapeFrom(const Image* image, ShapeCache* cache, const ShapePosition& position, PixelValue* mean);
// Minimum, weighted mean, maximum and weighted deviation of the brightness
// under the shape. No lock.
bool AnalyzeShapeFrom(const Image* image, ShapeCache* cache, const ShapePosition& position,
                      ShapeStatistics* statistics);

// Frees every element buffer and clears the whole cache to zero.
void ReleaseShapeCache(ShapeCache* cache);

// Takes and gives back the lock of the check-and-build step; a failure to
// take it is reported and the caller does not build.
bool LockShapeCreation();
void UnlockShapeCreation();

// The lock of the check-and-build step of DrawShapeInto, one per filter run.
bool CreateShapeCreationMutex();
void CloseShapeCreationMutex();
OsHandle GetShapeCreationMutex();

// Whether memory ran out while a shape was built since the last reset, so
// that some effects are missing or partial: the picture is not the whole
// render. Reset when a run of the engine begins.
bool EffectsDroppedForLowMemory();
void ResetEffectsDroppedForLowMemory();
// Notes that effects were dropped and warns the user ("Low memory.  Check
// image - some effects may not be rendered."), once until the warning is
// re-armed: by the reset above, a final render's start, or a preview frame
// whose effects were all built.
void ReportEffectsDroppedForLowMemory();
void RearmLowMemoryWarning();
