// PluginMain: selector dispatch and the per-run start-up and tear-down.
#include <cstring>
#include <exception>

#include "host/host_abi.h"
#include "host/plugin_state.h"
#include "analysis/analysis_task.h"
#include "effects/effect_tables.h"
#include "effects/effects_run.h"
#include "host/render_driver.h"
#include "effects/shape_cache.h"
#include "host/host_image.h"
#include "host/progress.h"
#include "host/scripting.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "params/filter_parameters.h"
#include "params/parameter_files.h"
#include "params/user_data_folders.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"

#ifdef _WIN32
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PluginState gPlugin;

namespace {

constexpr int16 kMissingParameters = -30100;

void LockHandles() {
    if (gPlugin.handlesLocked) return;
    FilterRecord* record = gPlugin.filterRecord;
    Handle parameters = record ? record->parameters : nullptr;
    Handle dataHandle = gPlugin.data ? reinterpret_cast<Handle>(*gPlugin.data) : nullptr;
    if (!parameters || !dataHandle) {
        SetResultError(kMissingParameters);
        return;
    }
    const HandleProcs* procs = record->handleProcs;
    if (!procs || procs->numHandleProcs < 5 || !procs->lockProc) {
        ReportUnexpected(__LINE__, "LockHandles() - The host offers no handle lock procedure.");
        SetResultError(memFullErr);
        return;
    }
    Ptr locked = procs->lockProc(parameters, 1);
    Ptr flag = procs->lockProc(dataHandle, 1);
    if (!locked || !flag) {
        if (locked && procs->numHandleProcs >= 6 && procs->unlockProc) procs->unlockProc(parameters);
        if (flag && procs->numHandleProcs >= 6 && procs->unlockProc) procs->unlockProc(dataHandle);
        SetResultError(memFullErr);
        return;
    }
    gPlugin.parameters = reinterpret_cast<FilterParameters*>(locked);
    gPlugin.showDialog = reinterpret_cast<uint8_t*>(flag);
    SetCurrentParameterRecord(gPlugin.parameters);
    gPlugin.handlesLocked = true;
}

void UnlockHandles() {
    if (!gPlugin.handlesLocked) return;
    FilterRecord* record = gPlugin.filterRecord;
    const HandleProcs* procs = record ? record->handleProcs : nullptr;
    if (procs && procs->numHandleProcs >= 6 && procs->unlockProc) {
        if (gPlugin.data && *gPlugin.data) procs->unlockProc(reinterpret_cast<Handle>(*gPlugin.data));
        if (record->parameters) procs->unlockProc(record->parameters);
    }
    gPlugin.parameters = nullptr;
    gPlugin.showDialog = nullptr;
    SetCurrentParameterRecord(nullptr);
    gPlugin.handlesLocked = false;
}

void LeaveComAndTearDown() {
    LeaveCom();
    TearDownPluginState();
}

// Parameters selector, steps 2 and 3: allocate what is missing, lock, reset
// to the factory record and ask for the dialog.
void AllocateAndResetHandles() {
    FilterRecord* record = gPlugin.filterRecord;
    const HandleProcs* procs = record->handleProcs;
    bool canAllocate = procs && procs->numHandleProcs >= 1 && procs->newProc;
    if (!record->parameters) {
        record->parameters = canAllocate ? procs->newProc(static_cast<int32>(PARAMETER_RECORD_SIZE)) : nullptr;
        if (!record->parameters) SetResultError(memFullErr);
    }
    if (gPlugin.data && !*gPlugin.data) {
        Handle flag = canAllocate ? procs->newProc(1) : nullptr;
        if (!flag)
            SetResultError(memFullErr);
        else
            *gPlugin.data = reinterpret_cast<intptr_t>(flag);
    }
    if (GetResult() != noErr) return;
    LockHandles();
    if (GetResult() != noErr || !gPlugin.handlesLocked) return;
    ParameterBlockProc(PARAMETER_OP_RESET, nullptr);
    *gPlugin.showDialog = 1;
    if (record->platformData && record->platformData->hwnd == 0)
        record->platformData->hwnd = reinterpret_cast<intptr_t>(OsGetActiveWindow());
}

void DoParameters() {
    AllocateAndResetHandles();
    // A COM failure is reported by StartCom; only prepare turns it into an error.
    StartCom();
    if (GetResult() != noErr) LeaveComAndTearDown();
    UnlockHandles();
}

int BytesPerSample(int16 mode) {
    if (mode >= 0 && mode <= 9) return 1;
    if (mode >= 10 && mode <= 15) return 2;
    if (mode == 16 || mode == 17 || mode == 64) return 4;
    ReportUnexpected(__LINE__, "Error:  Unrecognized image mode.");
    return 1;
}

void FilterSize(int64_t* width, int64_t* height) {
    FilterRecord* record = gPlugin.filterRecord;
    if (gPlugin.bigDocument) {
        const VRect& r = record->bigDocumentData->filterRect32;
        *width = static_cast<int64_t>(r.right) - r.left;
        *height = static_cast<int64_t>(r.bottom) - r.top;
    } else {
        const Rect& r = record->filterRect;
        *width = static_cast<int64_t>(r.right) - r.left;
        *height = static_cast<int64_t>(r.bottom) - r.top;
    }
    if (*width < 0) *width = 0;
    if (*height < 0) *height = 0;
}

void DoPrepare() {
    FilterRecord* record = gPlugin.filterRecord;
    if (record->parameters && gPlugin.data && *gPlugin.data)
        LockHandles();
    else
        AllocateAndResetHandles();
    if (!StartCom()) {
        TearDownPluginState();
        SetResultError(memFullErr);
        UnlockHandles();
        return;
    }
    int64_t width = 0, height = 0;
    FilterSize(&width, &height);
    int64_t b = BytesPerSample(record->imageMode);
    int64_t request = 16 * (b * width * height + 1250000);
    if (request > 1000000000) request = 1000000000;
    record->bufferSpace = static_cast<int32>(request);
    int64_t planes = record->planes + (record->maskData ? 1 : 0);
    int64_t tile = 2 * (height < 1024 ? height : 1024) * (width < 1024 ? width : 1024) * planes;
    if (tile < record->maxSpace) record->maxSpace = static_cast<int32>(tile);
    if (GetResult() != noErr) LeaveComAndTearDown();
    UnlockHandles();
}

// Start, step 3: the registry entry if there is a usable one, else the
// last-saved file, else the factory record. An entry of an unconvertible
// version goes straight to the factory record.
void EstablishStartingParameters() {
    const int16 registry = ReadRegistryParameters(gPlugin.filterRecord);
    if (registry == kScriptingNoHostSupport) {
        if (!LoadLastSavedParameters()) ParameterBlockProc(PARAMETER_OP_RESET, nullptr);
    } else if (registry == kScriptingUnconvertible) {
        ParameterBlockProc(PARAMETER_OP_RESET, nullptr);
    }
}

// The host's ICC profile handle, locked while its bytes are copied.
struct HostProfileHandle {
    FilterRecord* record;
};
const void* LockHostProfile(void* context, size_t* size) {
    FilterRecord* record = static_cast<HostProfileHandle*>(context)->record;
    const HandleProcs* procs = record->handleProcs;
    if (!procs || procs->numHandleProcs < 6 || !procs->lockProc || !procs->unlockProc || record->iCCprofileSize <= 0)
        return nullptr;
    *size = static_cast<size_t>(record->iCCprofileSize);
    return procs->lockProc(record->iCCprofileData, 0);
}
void UnlockHostProfile(void* context) {
    FilterRecord* record = static_cast<HostProfileHandle*>(context)->record;
    record->handleProcs->unlockProc(record->iCCprofileData);
}

// Start, steps 5 to 9: colour management, the image, the analysis, the
// dialog's place, the render, and the release of the run's resources.
void RunFilter(bool showDialog) {
    FilterRecord* record = gPlugin.filterRecord;
    if (GetResult() == noErr) {
        HostProfileHandle handle = {record};
        HostProfileSource source = {&handle, LockHostProfile, UnlockHostProfile};
        bool hasProfile = record->iCCprofileData != nullptr && record->iCCprofileSize > 0;
        if (!BeginEffectsRun(record->imageMode, hasProfile ? &source : nullptr)) SetResultError(paramErr);
    }
    if (GetResult() == noErr) {
        if (!ReadHostImage(record, gPlugin.bigDocument))
            SetResultError(paramErr);
        else
            StartLightSourceAnalysis(GetHostImage());
    }
    if (GetResult() == noErr) {
        bool render = true;
        if (showDialog) {
            // The user edits the record in the dialog; Cancel leaves it as it was.
            FilterParameters before = *gPlugin.parameters;
            render = PlatformRunDialog();
            if (!render) {
                *gPlugin.parameters = before;
                if (GetResult() == noErr) SetResultError(userCanceledErr);
            }
        }
        *gPlugin.showDialog = 0;
        if (render && GetResult() == noErr) RenderFilterEffects(record, gPlugin.bigDocument, *gPlugin.parameters);
    }
    // The analysis stops before the image it reads goes.
    StopLightSourceAnalysis();
    ReleaseHostImage(record, gPlugin.bigDocument);
    EndEffectsRun();
}

void DoStart() {
    LockHandles();
    uint8_t showDialog = 0;
    if (GetResult() == noErr) {
        const PropertyProcs* property = gPlugin.propertySuite;
        if (property && property->numPropertyProcs >= 2 && property->setPropertyProc)
            property->setPropertyProc(kHostSignature, propWatchSuspension, 0, 1, nullptr);
        EstablishStartingParameters();
        // A replayed descriptor goes over the factory values and decides the dialog.
        showDialog = *gPlugin.showDialog;
        if (ReadScriptingDescriptor(gPlugin.filterRecord, &showDialog, gPlugin.hostExecutablePath.c_str()) != 0)
            SetResultError(paramErr);
        // Whatever the values came from, the run sees them in the dialog's ranges.
        int held = gPlugin.parameters ? ClampFilterParameters(gPlugin.parameters) : 0;
        if (held != 0)
            DebugEvent(__LINE__, TRACE_MESSAGE).Report("%d parameter value(s) were outside their ranges and were held to them.", held);
    }
    if (GetResult() == noErr) RunFilter(showDialog != 0);
    if (GetResult() != noErr) LeaveComAndTearDown();
    UnlockHandles();
}

void ClearRectangles() {
    FilterRecord* record = gPlugin.filterRecord;
    if (gPlugin.bigDocument) {
        BigDocumentStruct* big = record->bigDocumentData;
        std::memset(&big->inRect32, 0, sizeof(big->inRect32));
        std::memset(&big->outRect32, 0, sizeof(big->outRect32));
        std::memset(&big->maskRect32, 0, sizeof(big->maskRect32));
    } else {
        std::memset(&record->inRect, 0, sizeof(record->inRect));
        std::memset(&record->outRect, 0, sizeof(record->outRect));
        std::memset(&record->maskRect, 0, sizeof(record->maskRect));
    }
}

void DoContinue() {
    ClearRectangles();
    if (GetResult() != noErr) LeaveComAndTearDown();
    UnlockHandles();
}

void DoFinish() {
    LockHandles();
    // The parameters of the run go to the host's recording, its registry and
    // the last-saved file; failures are reported where they happen.
    WriteScriptingDescriptor(gPlugin.filterRecord);
    WriteRegistryParameters(gPlugin.filterRecord);
    SaveLastSavedParameters();
    LeaveComAndTearDown();
    UnlockHandles();
}

void DoAbout() {
    if (StartCom()) {
        DebugEvent(__LINE__, TRACE_MESSAGE).Report("About box requested.");
        PlatformRunAboutBox();
        LeaveCom();
    }
    TearDownPluginState();
}

OsWindow HostWindowOf(int16 selector, void* block) {
    intptr_t window = 0;
    if (selector == filterSelectorAbout) {
        auto* about = static_cast<AboutRecord*>(block);
        if (about && about->platformData) window = about->platformData->hwnd;
    } else {
        auto* record = static_cast<FilterRecord*>(block);
        if (record && record->platformData) window = record->platformData->hwnd;
    }
    return window ? reinterpret_cast<OsWindow>(window) : OsGetActiveWindow();
}

void Dispatch(int16 selector, void* block) {
    bool known = selector >= filterSelectorAbout && selector <= filterSelectorFinish;
    if (selector == filterSelectorAbout) {
        gPlugin.aboutRecord = static_cast<AboutRecord*>(block);
        gPlugin.filterRecord = nullptr;
    } else {
        gPlugin.filterRecord = static_cast<FilterRecord*>(block);
        gPlugin.aboutRecord = nullptr;
    }
    SetProgressHost(known ? gPlugin.filterRecord : nullptr);
    // A known selector owns its result: it starts as "no error" whatever the
    // host put there (some hosts preset 1, or keep the previous call's code),
    // and says only what happens in this call.
    if (known) *gPlugin.result = noErr;
    if (!gPlugin.initialised) {
        // An unknown selector's block is not read: its layout is not known.
        OsWindow window = known ? HostWindowOf(selector, block) : OsGetActiveWindow();
        InitializePluginState(selector, window);
    }
    if (!known) return;  // nothing else; the result stays as the host set it
    if (selector != filterSelectorAbout && !gPlugin.filterRecord) {
        SetResultError(paramErr);
        return;
    }
    gPlugin.bigDocument = false;
    if (selector != filterSelectorAbout && gPlugin.filterRecord->bigDocumentData) {
        gPlugin.filterRecord->bigDocumentData->PluginUsing32BitCoordinates = 1;
        gPlugin.bigDocument = true;
    }
    switch (selector) {
        case filterSelectorAbout: DoAbout(); break;
        case filterSelectorParameters: DoParameters(); break;
        case filterSelectorPrepare: DoPrepare(); break;
        case filterSelectorStart: DoStart(); break;
        case filterSelectorContinue: DoContinue(); break;
        case filterSelectorFinish: DoFinish(); break;
    }
}

}  // namespace

PLUGIN_EXPORT void PluginMain(int16 selector, void* pluginParamBlock, intptr_t* data, int16* result) {
    if (!result) return;
    gPlugin.data = data;
    gPlugin.result = result;
    SetRunResultTarget(result);  // every part of the run reports into the host's result
    OsSetLastError(0);
    try {
        Dispatch(selector, pluginParamBlock);
    } catch (...) {
        // Nothing may escape into the host: end the run with an error instead.
        SetResultError(memFullErr);
        try {
            UnlockHandles();
            LeaveComAndTearDown();
        } catch (...) {
        }
    }
    SetProgressHost(nullptr);
    SetRunResultTarget(nullptr);
    gPlugin.result = nullptr;
}
