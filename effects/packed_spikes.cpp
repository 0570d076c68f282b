// The final render's spikes, kept packed: see the header.
#include "effects/packed_spikes.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "effects/effect_tables.h"
#include "effects/shape_generators.h"
#include "image/blend.h"
#include "image/fixed_point.h"

namespace {

inline uint32_t CodeAt(int32_t dx, int32_t dy, int32_t a, int32_t b) {
    const int64_t x = 4 * static_cast<int64_t>(dx) - a, y = 4 * static_cast<int64_t>(dy) - b;
    return ComputeDistanceCode(static_cast<uint64_t>(x * x + y * y));
}

// The largest code at which a ray of intensity g and length L can still
// store an element: an element's intensity is at most g ⊗ F(A), and F falls
// with A.
uint32_t LastCodeOfRay(uint32_t g, int32_t length, uint32_t limit) {
    if (length < 1 || UnitProduct(g, SpikeFalloff(0, length)) < EffectThreshold) return 0;
    uint32_t low = 0, high = limit;
    while (low < high) {
        uint32_t mid = low + (high - low + 1) / 2;
        if (UnitProduct(g, SpikeFalloff(mid, length)) >= EffectThreshold) low = mid; else high = mid - 1;
    }
    return low;
}

void FreePacked(PackedSubShape* shape) {
    std::free(shape->elements);
    std::free(shape->chunk);
    shape->elements = nullptr;
    shape->chunk = nullptr;
    shape->count = shape->chunks = 0;
}

// Packs the spike cache's sub-shape (a, b), building it first; called with
// the shape-creation lock held. When memory runs out here, or an element is
// not what the table gives, the full sub-shape is kept and drawn instead.
void Pack(PackedSpikes* spikes, int32_t a, int32_t b) {
    PackedSubShape* shape = &spikes->entry[a][b];
    ShapeCache* cache = EffectShapeCache(SPIKE_SHAPE);
    SubShapeEntry* entry = &cache->entry[a][b];
    // A partial shape left by a low-memory stop is drawn as it is.
    if (!entry->built && cache->generator) cache->generator(cache, a, b);
    shape->left = entry->left;
    shape->top = entry->top;
    shape->right = entry->right;
    shape->bottom = entry->bottom;
    const uint32_t count = entry->count > 0 ? static_cast<uint32_t>(entry->count) : 0;
    const ShapeElement* elements = SubShapeElements(entry);
    shape->unpacked = true;
    if (count > 0 && elements) {
        shape->count = count;
        shape->chunks = (count + PACKED_CHUNK_ELEMENTS - 1) / PACKED_CHUNK_ELEMENTS;
        shape->elements = static_cast<PackedElement*>(std::malloc(sizeof(PackedElement) * count));
        shape->chunk = static_cast<PackedChunk*>(std::malloc(sizeof(PackedChunk) * shape->chunks));
        bool packed = shape->elements && shape->chunk;
        for (uint32_t c = 0; packed && c < shape->chunks; c++) {
            PackedChunk run = {INT16_MAX, INT16_MAX, INT16_MIN, INT16_MIN, 0};
            const uint32_t end = (c + 1) * PACKED_CHUNK_ELEMENTS < count ? (c + 1) * PACKED_CHUNK_ELEMENTS : count;
            for (uint32_t i = c * PACKED_CHUNK_ELEMENTS; i < end; i++) {
                const ShapeElement& e = elements[i];
                const uint32_t code = CodeAt(e.dx, e.dy, a, b);
                if (code >= spikes->codes) {
                    packed = false;
                    break;
                }
                const uint32_t* rgb = spikes->colours + 3 * static_cast<size_t>(code);
                if (rgb[0] != e.red || rgb[1] != e.green || rgb[2] != e.blue) {
                    packed = false;
                    break;
                }
                shape->elements[i] = PackedElement{e.dx, e.dy, e.intensity};
                if (e.dx < run.left) run.left = e.dx;
                if (e.dx > run.right) run.right = e.dx;
                if (e.dy < run.top) run.top = e.dy;
                if (e.dy > run.bottom) run.bottom = e.dy;
                if (e.intensity > run.largest) run.largest = e.intensity;
            }
            shape->chunk[c] = run;
        }
        if (packed) {
            shape->unpacked = false;
            DeallocateBuffer(&entry->elements);
            *entry = SubShapeEntry{};
        } else {
            FreePacked(shape);
        }
    } else if (count == 0) {
        shape->unpacked = false;  // nothing to draw
    }
    __atomic_store_n(&shape->built, true, __ATOMIC_RELEASE);
}

}  // namespace

bool PreparePackedSpikes(PackedSpikes* spikes, const ParameterSet& parameters) {
    ReleasePackedSpikes(spikes);
    ParameterSet p = parameters;
    ClampEffectParameters(&p);
    // Every element lies within the reach (and a pixel beyond it).
    const uint64_t extent = 4 * static_cast<uint64_t>(ShapeReach) + 4;
    const uint32_t limit = ComputeDistanceCode(2 * extent * extent);
    uint32_t last = LastCodeOfRay(static_cast<uint32_t>(p.intensity) * PERCENT_UNIT, p.length, limit);
    if (p.secondarySpikeIntensity >= 1 && p.length >= 1) {
        uint32_t heaviest = 0;
        for (const SecondarySpike& spike : SecondarySpikeTable)
            if (static_cast<uint32_t>(spike.weight) > heaviest) heaviest = static_cast<uint32_t>(spike.weight);
        const uint32_t g = static_cast<uint32_t>(p.secondarySpikeIntensity) * PERCENT_UNIT / 100u * heaviest;
        const uint32_t secondary = LastCodeOfRay(g, (80 * (p.length + 1)) / 100, limit);
        if (secondary > last) last = secondary;
    }
    spikes->codes = last + 1;
    spikes->colours = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * 3 * spikes->codes));
    if (!spikes->colours) {
        spikes->codes = 0;
        return false;
    }
    for (uint32_t code = 0; code < spikes->codes; code++)
        SpikeColor(code, p.rainbowIntensity, p.rainbowFrequency, spikes->colours + 3 * static_cast<size_t>(code));
    return true;
}

void ReleasePackedSpikes(PackedSpikes* spikes) {
    for (auto& column : spikes->entry)
        for (PackedSubShape& shape : column) FreePacked(&shape);
    std::free(spikes->colours);
    std::memset(static_cast<void*>(spikes), 0, sizeof(PackedSpikes));
}

bool DrawPackedSpikesInto(Image* destination, const ImageRect& clipRect, PackedSpikes* spikes,
                          const ShapeColor& color, const ShapePosition& position, uint32_t blendMode) {
    const ShapePosition at = NormalizeShapePosition(position);
    const int32_t a = at.xQuarter, b = at.yQuarter;
    PackedSubShape* shape = &spikes->entry[a][b];
    if (!__atomic_load_n(&shape->built, __ATOMIC_ACQUIRE)) {
        if (!LockShapeCreation()) return false;
        if (!shape->built) Pack(spikes, a, b);
        UnlockShapeCreation();
    }
    if (shape->unpacked) return DrawShapeInto(destination, clipRect, EffectShapeCache(SPIKE_SHAPE), color, position, blendMode);

    const ImageRect bounds = {shape->left + at.x, shape->top + at.y, shape->right + at.x, shape->bottom + at.y};
    const ImageRect target = IntersectImageRect(IntersectImageRect(bounds, destination->imageRect), clipRect);
    if (ImageRectEmpty(target) || shape->count == 0) return true;

    // No element colour exceeds full scale: an element can show only when its
    // intensity reaches what the light source's brightest channel needs.
    uint32_t brightest = UnitProduct(color.red, UNIT_ONE);
    if (UnitProduct(color.green, UNIT_ONE) > brightest) brightest = UnitProduct(color.green, UNIT_ONE);
    if (UnitProduct(color.blue, UNIT_ONE) > brightest) brightest = UnitProduct(color.blue, UNIT_ONE);
    const uint32_t half = EffectThreshold / 2;
    auto mayShow = [&](uint32_t v) { return UnitProduct(brightest, UnitProduct(v, color.intensity)) >= half; };
    if (!mayShow(UNIT_ONE)) return true;
    uint32_t faintest = 0, high = UNIT_ONE;
    while (faintest < high) {
        uint32_t mid = faintest + (high - faintest) / 2;
        if (mayShow(mid)) high = mid; else faintest = mid + 1;
    }

    // The target in offsets from the light source's pixel, inclusive.
    const int32_t left = target.left - at.x, right = target.right - 1 - at.x;
    const int32_t top = target.top - at.y, bottom = target.bottom - 1 - at.y;
    const uint32_t* colours = spikes->colours;
    for (uint32_t c = 0; c < shape->chunks; c++) {
        const PackedChunk& run = shape->chunk[c];
        if (run.largest < faintest || run.right < left || run.left > right || run.bottom < top || run.top > bottom)
            continue;
        const uint32_t end = c + 1 < shape->chunks ? (c + 1) * PACKED_CHUNK_ELEMENTS : shape->count;
        for (uint32_t i = c * PACKED_CHUNK_ELEMENTS; i < end; i++) {
            const PackedElement& e = shape->elements[i];
            if (e.dx < left || e.dx > right || e.dy < top || e.dy > bottom || e.intensity < faintest) continue;
            const uint32_t* rgb = colours + 3 * static_cast<size_t>(CodeAt(e.dx, e.dy, a, b));
            PixelValue source;
            source.c0 = UnitProduct(color.red, rgb[0]);
            source.c1 = UnitProduct(color.green, rgb[1]);
            source.c2 = UnitProduct(color.blue, rgb[2]);
            source.alpha = UnitProduct(e.intensity, color.intensity);
            source.mask = UNIT_ONE;
            uint32_t largest = source.c0 > source.c1 ? source.c0 : source.c1;
            if (source.c2 > largest) largest = source.c2;
            if (UnitProduct(largest, source.alpha) < half) continue;
            const int32_t x = at.x + e.dx, y = at.y + e.dy;
            PixelValue pixel;
            destination->InputImage(destination, &pixel, x, y);
            BlendPixel(&pixel, source, blendMode);
            destination->OutputImage(destination, &pixel, x, y);
        }
    }
    return true;
}
