// PluginMain: selector dispatch and the per-run start-up and tear-down.
#include <cstring>
#include <exception>

#include "host/host_abi.h"
#include "host/plugin_state.h"
#include "params/filter_parameters.h"
#include "params/user_data_folders.h"
#include "support/debug_log.h"
#include "support/os.h"

#ifdef _WIN32
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PluginState gPlugin;

namespace {

constexpr int16 kMissingParameters = -30100;
constexpr int16 kNotBuilt = -50;

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
    if (GetResult() != noErr) {
        LeaveComAndTearDown();
        UnlockHandles();
        return;
    }
    AllocateAndResetHandles();
    if (GetResult() == noErr && !StartCom()) SetResultError(memFullErr);
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

void DoStart() {
    LockHandles();
    if (GetResult() == noErr) {
        const PropertyProcs* property = gPlugin.propertySuite;
        if (property && property->numPropertyProcs >= 2 && property->setPropertyProc)
            property->setPropertyProc(FourCC("8BIM"), FourCC("wtch"), 0, 1, nullptr);
        // Reading the image, the analysis and the render arrive with their own
        // modules; until then a run ends with a clear error, not a silent success.
        ReportUnexpected(__LINE__, "PluginMain() - Filter rendering is not available in this build.");
        SetResultError(kNotBuilt);
    }
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
    LeaveComAndTearDown();
    UnlockHandles();
}

void DoAbout() {
    if (StartCom()) {
        DebugEvent(__LINE__, TRACE_MESSAGE).Report("About box requested.");
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
    gPlugin.result = nullptr;
}
