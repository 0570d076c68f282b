// Shape caches: element storage, the lazy build of sub-shapes, and drawing,
// sampling and measuring an image under a shape.
#include "effects/shape_cache.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "effects/effect_tables.h"
#include "image/blend.h"
#include "image/fixed_point.h"
#include "support/debug_log.h"

namespace {

OsHandle gShapeCreationMutex = nullptr;

const char* const kLowMemoryWarning = "Low memory.  Check image - some effects may not be rendered.";
std::atomic<bool> gEffectsDropped{false};
std::atomic<bool> gLowMemoryWarned{false};

}  // namespace

// Takes ShapeCreationMutex; every failure is reported and leaves it free.
bool LockShapeCreation() {
    uint32_t result = OsWaitForSingleObject(gShapeCreationMutex, OS_INFINITE);
    switch (result) {
        case OS_WAIT_OBJECT_0:
            return true;
        case OS_WAIT_ABANDONED_0:
            ReportUnexpected(__LINE__,
                             "Wait for shape creation cache access failed since the owning thread exited:  "
                             "WAIT_ABANDONED");
            OsReleaseMutex(gShapeCreationMutex);
            return false;
        case OS_WAIT_TIMEOUT:
            ReportUnexpected(__LINE__, "Wait for shape creation cache access timed out:  WAIT_TIMEOUT");
            return false;
        default:
            DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                        "Attempt to wait for shape creation cache access failed.");
            return false;
    }
}

void UnlockShapeCreation() { OsReleaseMutex(gShapeCreationMutex); }

namespace {

// The entry an operation works on, built if need be. `built` tells whether
// the generator ran and failed (false) or all went well (true); without a
// generator there is no entry.
SubShapeEntry* BuildEntry(ShapeCache* cache, int32_t a, int32_t b, const char* operation, bool* generated) {
    SubShapeEntry* entry = &cache->entry[a][b];
    *generated = true;
    if (!entry->built) {
        if (!cache->generator) {
            ReportUnexpected(__LINE__, "%s found no shape generator.", operation);
            return nullptr;
        }
        *generated = cache->generator(cache, a, b);
    }
    return entry;
}

bool ShapeTypeIsImage(const ShapeCache* cache, const char* operation) {
    if (cache->shapeType == SHAPE_IMAGE) return true;
    ReportUnexpected(__LINE__, "%s detected shape type other than SHAPE_IMAGE:  %d", operation, cache->shapeType);
    return false;
}

// An entry with elements but no storage is a broken entry; an empty one
// (a shape with nothing above the threshold) is applied as nothing.
bool EntryStorageValid(const SubShapeEntry* entry) {
    if (entry->count <= 0 || entry->elements.pointer) return true;
    ReportUnexpected(__LINE__, "NULL SubShapeEntry pointer detected.");
    return false;
}

inline bool Inside(const ImageRect& r, int32_t x, int32_t y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

inline uint32_t Brightness(const PixelValue& v) { return 4 * (((v.c0 >> 2) + (v.c1 >> 2) + (v.c2 >> 2)) / 3); }

// min(⌊S × 2^24 / W⌋ × 2^8, 1.0): the w-weighted mean of a value whose
// weighted products were summed in S.
uint32_t WeightedMean(uint64_t sum, uint64_t weights) {
    if (weights == 0) return 0;
    unsigned __int128 mean = ((static_cast<unsigned __int128>(sum) << 24) / weights) << 8;
    return mean < UNIT_ONE ? static_cast<uint32_t>(mean) : UNIT_ONE;
}

}  // namespace

ShapePosition NormalizeShapePosition(const ShapePosition& p) {
    int64_t qx = p.xQuarter, qy = p.yQuarter;
    int64_t cx = qx >= 0 ? qx / 4 : -((3 - qx) / 4);
    int64_t cy = qy >= 0 ? qy / 4 : -((3 - qy) / 4);
    return ShapePosition{static_cast<int32_t>(p.x + cx), static_cast<int32_t>(qx - 4 * cx),
                         static_cast<int32_t>(p.y + cy), static_cast<int32_t>(qy - 4 * cy)};
}

bool AppendShapeElement(SubShapeEntry* entry, const ShapeElement& element, uint32_t growth) {
    uint64_t held = entry->elements.pointer ? entry->elements.size / sizeof(ShapeElement) : 0;
    uint64_t needed = static_cast<uint64_t>(entry->count) + 1;
    if (held < needed) {
        // Grows by half again, at least by `growth` elements: a long spike's
        // list is not copied over and over (an allocator that copies on every
        // reallocation would make that quadratic).
        const uint64_t old = entry->elements.pointer ? entry->elements.size : 0;
        const uint64_t step = static_cast<uint64_t>(growth ? growth : 1) * sizeof(ShapeElement);
        uint64_t size = old + (old / 2 > step ? old / 2 : step);
        if (size < needed * sizeof(ShapeElement)) size = needed * sizeof(ShapeElement);
        if (ReallocateBufferPreserveContents(size, &entry->elements) != 0) {
            ReportEffectsDroppedForLowMemory();
            return false;
        }
    }
    static_cast<ShapeElement*>(entry->elements.pointer)[entry->count] = element;
    entry->count++;
    return true;
}

void LoadShapeCacheParameters(ShapeCache* cache, const ParameterSet& set) {
    if (!cache->parameters) return;
    *cache->parameters = set;
    ClampEffectParameters(cache->parameters);
}

bool DrawShapeInto(Image* destination, const ImageRect& clipRect, ShapeCache* cache, const ShapeColor& color,
                   const ShapePosition& position, uint32_t blendMode) {
    ShapePosition at = NormalizeShapePosition(position);

    // The cache's type and entries are written by whichever band thread
    // builds a sub-shape first, under the lock; a built entry (its flag
    // published after everything else) is read without it.
    SubShapeEntry* entry = &cache->entry[at.xQuarter][at.yQuarter];
    if (__atomic_load_n(&entry->built, __ATOMIC_ACQUIRE)) {
        if (!ShapeTypeIsImage(cache, "DrawShapeInto")) return false;
    } else {
        if (!LockShapeCreation()) return false;
        if (!ShapeTypeIsImage(cache, "DrawShapeInto")) {
            OsReleaseMutex(gShapeCreationMutex);
            return false;
        }
        bool generated;
        // A partial shape left by a low-memory stop is drawn as it is.
        entry = BuildEntry(cache, at.xQuarter, at.yQuarter, "DrawShapeInto", &generated);
        OsReleaseMutex(gShapeCreationMutex);
    }
    if (!entry || !EntryStorageValid(entry)) return false;

    ImageRect bounds = {entry->left + at.x, entry->top + at.y, entry->right + at.x, entry->bottom + at.y};
    ImageRect target = IntersectImageRect(IntersectImageRect(bounds, destination->imageRect), clipRect);
    if (ImageRectEmpty(target)) return true;

    const ShapeElement* elements = SubShapeElements(entry);
    const uint32_t halfThreshold = EffectThreshold / 2;
    for (int32_t i = 0; i < entry->count; i++) {
        const ShapeElement& e = elements[i];
        int32_t x = at.x + e.dx, y = at.y + e.dy;
        if (!Inside(target, x, y)) continue;
        PixelValue source;
        source.c0 = UnitProduct(color.red, e.red);
        source.c1 = UnitProduct(color.green, e.green);
        source.c2 = UnitProduct(color.blue, e.blue);
        source.alpha = UnitProduct(e.intensity, color.intensity);
        source.mask = UNIT_ONE;
        uint32_t largest = source.c0 > source.c1 ? source.c0 : source.c1;
        if (source.c2 > largest) largest = source.c2;
        if (UnitProduct(largest, source.alpha) < halfThreshold) continue;
        PixelValue pixel;
        destination->InputImage(destination, &pixel, x, y);
        BlendPixel(&pixel, source, blendMode);
        destination->OutputImage(destination, &pixel, x, y);
    }
    return true;
}

bool SampleShapeFrom(const Image* image, ShapeCache* cache, const ShapePosition& position, PixelValue* mean) {
    *mean = PixelValue{0, 0, 0, UNIT_ONE, UNIT_ONE};
    if (!ShapeTypeIsImage(cache, "SampleShapeFrom")) return false;
    ShapePosition at = NormalizeShapePosition(position);
    bool generated;
    SubShapeEntry* entry = BuildEntry(cache, at.xQuarter, at.yQuarter, "SampleShapeFrom", &generated);
    if (!entry || !generated || !EntryStorageValid(entry)) return false;

    const ShapeElement* elements = SubShapeElements(entry);
    uint64_t weights = 0, sum0 = 0, sum1 = 0, sum2 = 0;
    for (int32_t i = 0; i < entry->count; i++) {
        const ShapeElement& e = elements[i];
        int32_t x = at.x + e.dx, y = at.y + e.dy;
        if (!Inside(image->imageRect, x, y)) continue;
        PixelValue pixel;
        image->InputImage(image, &pixel, x, y);
        weights += e.intensity;
        sum0 += UnitProduct(pixel.c0, e.intensity);
        sum1 += UnitProduct(pixel.c1, e.intensity);
        sum2 += UnitProduct(pixel.c2, e.intensity);
    }
    mean->c0 = WeightedMean(sum0, weights);
    mean->c1 = WeightedMean(sum1, weights);
    mean->c2 = WeightedMean(sum2, weights);
    return true;
}

bool AnalyzeShapeFrom(const Image* image, ShapeCache* cache, const ShapePosition& position,
                      ShapeStatistics* statistics) {
    *statistics = ShapeStatistics{UNIT_ONE, 0, 0, 0.0f};
    if (!ShapeTypeIsImage(cache, "AnalyzeShapeFrom")) return false;
    ShapePosition at = NormalizeShapePosition(position);
    bool generated;
    SubShapeEntry* entry = BuildEntry(cache, at.xQuarter, at.yQuarter, "AnalyzeShapeFrom", &generated);
    if (!entry || !generated || !EntryStorageValid(entry)) return false;

    const ShapeElement* elements = SubShapeElements(entry);
    uint64_t weights = 0, sum = 0;
    uint32_t minimum = UNIT_ONE, maximum = 0;
    for (int32_t i = 0; i < entry->count; i++) {
        const ShapeElement& e = elements[i];
        int32_t x = at.x + e.dx, y = at.y + e.dy;
        if (!Inside(image->imageRect, x, y)) continue;
        PixelValue pixel;
        image->InputImage(image, &pixel, x, y);
        uint32_t v = Brightness(pixel);
        weights += e.intensity;
        sum += UnitProduct(v, e.intensity);
        if (v > maximum) maximum = v;
        if (v < minimum) minimum = v;
    }
    uint32_t mean = WeightedMean(sum, weights);
    double deviation = 0.0;
    if (weights != 0) {
        double squares = 0.0;
        for (int32_t i = 0; i < entry->count; i++) {
            const ShapeElement& e = elements[i];
            int32_t x = at.x + e.dx, y = at.y + e.dy;
            if (!Inside(image->imageRect, x, y)) continue;
            PixelValue pixel;
            image->InputImage(image, &pixel, x, y);
            double d = static_cast<double>(static_cast<int64_t>(Brightness(pixel)) - static_cast<int64_t>(mean));
            squares += static_cast<double>(e.intensity) * d * d;
        }
        deviation = std::sqrt(squares / static_cast<double>(weights));
    }
    *statistics = ShapeStatistics{minimum, mean, maximum, static_cast<float>(deviation)};
    return true;
}

void ReleaseShapeCache(ShapeCache* cache) {
    for (auto& column : cache->entry)
        for (SubShapeEntry& entry : column) DeallocateBuffer(&entry.elements);
    std::memset(static_cast<void*>(cache), 0, sizeof(ShapeCache));
}

bool CreateShapeCreationMutex() {
    gShapeCreationMutex = OsCreateMutex(false);
    if (gShapeCreationMutex) return true;
    DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
        .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "CreateMutex for ShapeCreationMutex failed");
    return false;
}

void CloseShapeCreationMutex() {
    if (gShapeCreationMutex) OsCloseHandle(gShapeCreationMutex);
    gShapeCreationMutex = nullptr;
}

OsHandle GetShapeCreationMutex() { return gShapeCreationMutex; }

bool EffectsDroppedForLowMemory() { return gEffectsDropped.load(std::memory_order_relaxed); }

void ReportEffectsDroppedForLowMemory() {
    gEffectsDropped.store(true, std::memory_order_relaxed);
    // Once until the warning is re-armed: a preview that fails again on every
    // change would otherwise bring the message box back each time.
    if (!gLowMemoryWarned.exchange(true, std::memory_order_relaxed))
        DebugEvent(__LINE__, USER_MESSAGE).Report(OS_MB_ICONWARNING, "Warning", "%s", kLowMemoryWarning);
}

void RearmLowMemoryWarning() { gLowMemoryWarned.store(false, std::memory_order_relaxed); }
void ResetEffectsDroppedForLowMemory() {
    gEffectsDropped.store(false, std::memory_order_relaxed);
    RearmLowMemoryWarning();
}
