// The start and end of a run of the engine.
#include "effects/effects_run.h"

#include "analysis/analysis_task.h"
#include "effects/effect_tables.h"
#include "effects/shape_cache.h"
#include "image/gamma_tables.h"
#include "support/run_result.h"

bool BeginEffectsRun(int32_t imageMode, const HostProfileSource* profile) {
    bool ok = true;
    ResetEffectsDroppedForLowMemory();
    ResetMemoryShortage();
    if (!InitializeGammaTables()) ok = false;
    CreateShapeCreationMutex();
    InitializeEffectTables();
    if (!InitializeColorManagement(imageMode, profile)) ok = false;
    if (!ok) SetGlobalErrorCode(FailureCodeUnlessMemory(RUN_BAD_PARAMETERS));
    return ok;
}

void EndEffectsRun() {
    ReleaseEffectShapeCaches();
    StopLightSourceAnalysis();
    ReleaseColorManagement();
    CloseShapeCreationMutex();
    ReleaseGammaTables();
}
