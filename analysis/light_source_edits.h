// The user's edits of light source states, as the preview's Hide and Show
// tools make them and as front ends without a preview (the command line)
// replay them: pick the source nearest a point, then change its state.
//
// Distances are in quarter pixels: a point (x, y) in image pixels lies
// (4·(x − lx) − xQuarter, 4·(y − ly) − yQuarter) quarter pixels from the
// source whose table centre is lx + xQuarter/4, ly + yQuarter/4.
#pragma once

#include <cstdint>

#include "analysis/light_source_table.h"

enum LightSourceOperation : int32_t {
    LIGHT_SOURCE_OP_HIDE = 0,       // Hide tool: a visible source is hidden, its state kept in savedState
    LIGHT_SOURCE_OP_REVEAL = 1,     // Hide tool undone: a hidden source goes back to savedState
    LIGHT_SOURCE_OP_SHOW = 2,       // Show tool: a source not shown is shown, its state kept in savedState
    LIGHT_SOURCE_OP_UNDO_SHOW = 3,  // Show tool undone: a shown source goes back to savedState
};

// Whether `operation` applies to a source in `state`: hiding takes a source
// that is not hidden, revealing a hidden one, showing one not shown, undoing
// a show a shown one. False for an unknown operation.
bool LightSourceOperationApplies(int32_t operation, int32_t state);

// Whether a source in `state` may be picked for `operation`: hiding and
// showing consider every source (a click near a source already hidden picks
// it and changes nothing), revealing only hidden ones, undoing a show only
// shown ones.
bool LightSourceIsCandidate(int32_t operation, int32_t state);

// The index of the candidate nearest (x, y) strictly within
// `radiusQuarterPixels`, or -1. Of candidates at the same distance the first
// in table order wins.
int32_t NearestLightSource(const LightSourceList* table, double x, double y, int64_t radiusQuarterPixels,
                           int32_t operation);

// The state change of one operation on one record, without counting it:
// hiding and showing keep the state they replace in savedState, revealing and
// undoing a show return to it. False, changing nothing, when the operation
// does not apply to the record's state. Callers that change several records
// as one edit count it once (IncrementLightSourceChangeCount).
bool ChangeLightSourceState(LightSource* source, int32_t operation);

// Applies the operation to source `index` (HideLightSource, ShowLightSource
// or RestoreLightSourceState, each bumping changeCount). False, changing
// nothing, when the index is outside the table or the operation does not
// apply to the source's state.
bool ApplyLightSourceOperation(LightSourceList* table, uint32_t index, int32_t operation);

// NearestLightSource, then ApplyLightSourceOperation: the index changed, or -1.
int32_t EditNearestLightSource(LightSourceList* table, double x, double y, int64_t radiusQuarterPixels,
                               int32_t operation);
