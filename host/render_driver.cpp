// The host driver of the final render.
#include "host/render_driver.h"

#include <cstring>

#include "analysis/analysis_task.h"
#include "effects/final_render.h"
#include "host/host_image.h"
#include "host/progress.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"

namespace {

void StartHostProgress(void*, int64_t total) { StartImageEditorProgress(total); }
void AdvanceHostProgress(void*, int64_t units) { AdvanceImageEditorProgress(units); }

}  // namespace

bool RenderFilterEffects(FilterRecord* record, bool bigDocument, const FilterParameters& parameters) {
    ParameterSet set;
    std::memset(&set, 0, sizeof(set));
    set.scale = 100.0;
    CopyEffectValues(&set, parameters);
    OsHandle complete = GetAnalysisCompleteEvent();
    while (complete && OsWaitForSingleObject(complete, 20, true) != OS_WAIT_OBJECT_0) {
        int32_t done = GetAnalysisProgressCount(), total = GetAnalysisProgressTotal();
        if (done > total) done = total;
        if (!DisplayImageEditorProgressBar(done, total)) {
            SetGlobalErrorCode(RUN_CANCELLED);
            return false;
        }
    }
    if (GetGlobalErrorCode() != RUN_OK) return false;
    Image* working = GetHostImage();
    const RenderProgress progress = {nullptr, StartHostProgress, AdvanceHostProgress};
    const bool rendered = RenderEffectsIntoImage(working, set, &LightSourceTable, record->imageMode, &progress) == RUN_OK;
    // A warning the band threads raised (low memory: some effects are
    // missing) reaches the user now, through the host's window.
    ShowDeferredUserMessages();
    if (!rendered) return false;
    return WriteHostImage(record, bigDocument, working);
}
