// What the three generators share: the start and end of a sub-shape and the
// parameters as they read them.
#include "effects/shape_generators.h"

#include <cstring>

#include "image/fixed_point.h"

void BeginSubShape(ShapeCache* cache, int32_t a, int32_t b) {
    // Written only when it changes: drawing threads read it without the lock.
    if (cache->shapeType != SHAPE_IMAGE) cache->shapeType = SHAPE_IMAGE;
    SubShapeEntry* entry = &cache->entry[a][b];
    entry->count = 0;
    entry->left = entry->top = entry->right = entry->bottom = 0;
}

// Published last: a band thread that sees the flag sees the whole entry.
void FinishSubShape(ShapeCache* cache, int32_t a, int32_t b) {
    __atomic_store_n(&cache->entry[a][b].built, true, __ATOMIC_RELEASE);
}

ParameterSet GeneratorParameters(const ShapeCache* cache) {
    ParameterSet set;
    std::memset(&set, 0, sizeof(set));
    if (cache->parameters) set = *cache->parameters;
    // A set written past LoadShapeCacheParameters is held to the same ranges.
    ClampEffectParameters(&set);
    return set;
}

bool AppendWhiteElement(SubShapeEntry* entry, int32_t dx, int32_t dy, uint32_t intensity) {
    ShapeElement element = {static_cast<int16_t>(dx), static_cast<int16_t>(dy), UNIT_ONE, UNIT_ONE, UNIT_ONE,
                            intensity};
    return AppendShapeElement(entry, element, SHAPE_ELEMENT_GROWTH);
}
