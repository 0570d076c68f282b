// Picking a light source near a point and changing its state.
#include "analysis/light_source_edits.h"

#include <cmath>

bool LightSourceOperationApplies(int32_t operation, int32_t state) {
    switch (operation) {
        case LIGHT_SOURCE_OP_HIDE: return state != LIGHT_SOURCE_HIDDEN;
        case LIGHT_SOURCE_OP_REVEAL: return state == LIGHT_SOURCE_HIDDEN;
        case LIGHT_SOURCE_OP_SHOW: return state != LIGHT_SOURCE_SHOWN;
        case LIGHT_SOURCE_OP_UNDO_SHOW: return state == LIGHT_SOURCE_SHOWN;
        default: return false;
    }
}

bool LightSourceIsCandidate(int32_t operation, int32_t state) {
    switch (operation) {
        case LIGHT_SOURCE_OP_HIDE:
        case LIGHT_SOURCE_OP_SHOW: return true;
        case LIGHT_SOURCE_OP_REVEAL: return state == LIGHT_SOURCE_HIDDEN;
        case LIGHT_SOURCE_OP_UNDO_SHOW: return state == LIGHT_SOURCE_SHOWN;
        default: return false;
    }
}

int32_t NearestLightSource(const LightSourceList* table, double x, double y, int64_t radiusQuarterPixels,
                           int32_t operation) {
    if (radiusQuarterPixels < 0 || !std::isfinite(x) || !std::isfinite(y)) return -1;
    const LightSource* sources = LightSourceRecords(table);
    const double limit = static_cast<double>(radiusQuarterPixels) * static_cast<double>(radiusQuarterPixels);
    int32_t nearest = -1;
    double best = 0.0;
    for (uint32_t i = 0; i < table->count; i++) {
        const LightSource& s = sources[i];
        if (!LightSourceIsCandidate(operation, s.state)) continue;
        const double dx = 4.0 * (x - s.x) - s.xQuarter, dy = 4.0 * (y - s.y) - s.yQuarter;
        const double d2 = dx * dx + dy * dy;
        if (d2 >= limit || (nearest >= 0 && d2 >= best)) continue;
        nearest = static_cast<int32_t>(i);
        best = d2;
    }
    return nearest;
}

bool ChangeLightSourceState(LightSource* source, int32_t operation) {
    if (!LightSourceOperationApplies(operation, source->state)) return false;
    switch (operation) {
        case LIGHT_SOURCE_OP_HIDE:
            source->savedState = source->state;
            source->state = LIGHT_SOURCE_HIDDEN;
            break;
        case LIGHT_SOURCE_OP_SHOW:
            source->savedState = source->state;
            source->state = LIGHT_SOURCE_SHOWN;
            break;
        default: source->state = source->savedState; break;
    }
    return true;
}

bool ApplyLightSourceOperation(LightSourceList* table, uint32_t index, int32_t operation) {
    if (index >= table->count || !ChangeLightSourceState(&LightSourceRecords(table)[index], operation)) return false;
    IncrementLightSourceChangeCount(table);
    return true;
}

int32_t EditNearestLightSource(LightSourceList* table, double x, double y, int64_t radiusQuarterPixels,
                               int32_t operation) {
    const int32_t index = NearestLightSource(table, x, y, radiusQuarterPixels, operation);
    if (index >= 0) ApplyLightSourceOperation(table, static_cast<uint32_t>(index), operation);
    return index;
}
