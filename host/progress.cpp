// Progress: units accumulate into at most 100 steps; each new step is shown
// through the host on the user-interface thread.
#include "host/progress.h"

#include <atomic>
#include <thread>

#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"

namespace {

struct ProgressState {
    FilterRecord* record = nullptr;
    OsCriticalSection section;
    int32_t totalSteps = 0;
    int32_t stepsDone = 0;
    int64_t accumulated = 0;
    int64_t unitsPerStep = 1;
    uint32_t uiThreadId = 0;
    OsHandle uiThread = nullptr;
    bool queuedDelivery = false;
};
ProgressState gProgress;
// Band threads advance the counters together; when the critical section was
// not created (a run without a host bar) a spin lock stands in for it.
std::atomic_flag gProgressSpin = ATOMIC_FLAG_INIT;

void LockProgress() {
    if (OsCriticalSectionValid(&gProgress.section)) {
        OsEnterCriticalSection(&gProgress.section);
        return;
    }
    while (gProgressSpin.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}
void UnlockProgress() {
    if (OsCriticalSectionValid(&gProgress.section)) {
        OsLeaveCriticalSection(&gProgress.section);
        return;
    }
    gProgressSpin.clear(std::memory_order_release);
}

// Runs inside a wait of the user-interface thread while worker threads draw:
// nothing may leave it by exception, or the wait would end with them still
// running.
void ShowQueuedProgress(uintptr_t packed) noexcept {
    int32_t done = static_cast<int32_t>(packed >> 16);
    int32_t total = static_cast<int32_t>(packed & 0xFFFF);
    try {
        if (!DisplayImageEditorProgressBar(done, total)) SetGlobalErrorCode(-128);
    } catch (...) {
        SetGlobalErrorCode(-108);
    }
}

}  // namespace

void SetProgressHost(FilterRecord* record) { gProgress.record = record; }

void InitializeImageEditorProgressBar() {
    gProgress.uiThreadId = OsGetCurrentThreadId();
    if (!OsCriticalSectionValid(&gProgress.section) &&
        !OsInitializeCriticalSection(&gProgress.section, 0x80000400u)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "Could not create 'ProgressComputationSection' critical section.");
        SetGlobalErrorCode(-108);
    }
    if (!gProgress.uiThread) {
        gProgress.uiThread = OsOpenCurrentThread();
        if (!gProgress.uiThread)
            ReportUnexpected(__LINE__, "InitializeImageEditorProgressBar() - Could not get handle for UI thread.");
    }
}

void ReleaseImageEditorProgressBar() {
    if (OsCriticalSectionValid(&gProgress.section)) OsDeleteCriticalSection(&gProgress.section);
    if (gProgress.uiThread) OsCloseHandle(gProgress.uiThread);
    gProgress.uiThread = nullptr;
    gProgress.queuedDelivery = false;
}

bool StartImageEditorProgress(int64_t total) {
    gProgress.queuedDelivery = true;
    gProgress.stepsDone = 0;
    gProgress.accumulated = 0;
    if (total > 100) {
        gProgress.unitsPerStep = total / 100;
        gProgress.totalSteps = 100;
    } else {
        gProgress.unitsPerStep = 1;
        gProgress.totalSteps = total > 0 ? static_cast<int32_t>(total) : 0;
    }
    return DisplayImageEditorProgressBar(0, gProgress.totalSteps);
}

bool AdvanceImageEditorProgress(int64_t units) {
    LockProgress();
    gProgress.accumulated += units;
    int32_t counted = 0;
    while (gProgress.unitsPerStep > 0 && gProgress.accumulated >= gProgress.unitsPerStep) {
        gProgress.accumulated -= gProgress.unitsPerStep;
        // Rounding of the step size (and passes that count without being in
        // the total) must not carry the bar past its end.
        if (gProgress.stepsDone >= gProgress.totalSteps) continue;
        gProgress.stepsDone++;
        counted++;
    }
    int32_t done = gProgress.stepsDone, total = gProgress.totalSteps;
    UnlockProgress();
    if (counted == 0) return true;
    if (gProgress.queuedDelivery) {
        uintptr_t packed = (static_cast<uintptr_t>(done & 0xFFFF) << 16) | static_cast<uintptr_t>(total & 0xFFFF);
        if (!gProgress.uiThread || !OsQueueUserCall(ShowQueuedProgress, gProgress.uiThread, packed)) {
            ReportUnexpected(__LINE__, "AdvanceImageEditorProgress() - Could not queue progress bar update to APC queue.");
            return false;
        }
        return true;
    }
    return DisplayImageEditorProgressBar(done, total);
}

bool DisplayImageEditorProgressBar(int32_t done, int32_t total) {
    if (OsGetCurrentThreadId() != gProgress.uiThreadId) {
        ReportUnexpected(__LINE__, "DisplayImageEditorProgressBar() - Function was not called from UI thread.");
        return false;
    }
    FilterRecord* record = gProgress.record;
    if (!record) return true;
    if (record->progressProc) record->progressProc(done, total);
    return !(record->abortProc && record->abortProc());
}

void GetImageEditorProgress(int32_t* done, int32_t* total) {
    LockProgress();
    *done = gProgress.stepsDone;
    *total = gProgress.totalSteps;
    UnlockProgress();
}
