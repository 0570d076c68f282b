#include "preview/background_task.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <new>

#include "analysis/analysis_task.h"
#include "effects/effect_tables.h"
#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "gl/screen_bitmap.h"
#include "image/document_image.h"
#include "image/color_management.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"

namespace {

constexpr uint32_t DEFAULT_STOP_LIMIT = 10000;  // ms DestroyBackgroundTask waits for the thread
constexpr uint32_t FIRST_WAIT_SLICE = 200;      // ms, until the hook's start sets its own
constexpr uint32_t HOOK_WAIT_SLICE = 250;
constexpr DWORD BUSY_SECTION_SPIN_COUNT = 1024;
constexpr const char* EXIT_CAPTION = "Error - Exiting Plug-in";

// Everything the task shares between the user-interface thread and its own.
// The handles are made before the thread starts and closed after it ended.
struct BackgroundTask {
    HWND previewWindow = nullptr;
    HWND dialog = nullptr;
    DWORD uiThread = 0;
    int32_t width = 0, height = 0;
    bool accelerated = false;

    HANDLE parametersAvailableEvent = nullptr;         // auto-reset: a set went into the empty mailbox
    HANDLE proxyUpdateTerminateEvent = nullptr;        // manual: the task must end
    HANDLE proxyUpdateRenderingStartedEvent = nullptr; // manual: the preview window is ready
    HANDLE proxySizeChangedEvent = nullptr;            // manual: kept with the others, nothing waits on it
    HANDLE pendingRenderingParametersMutex = nullptr;  // the mailbox and the size-move state
    HANDLE resizeInProgressMutex = nullptr;            // held by the UI thread while the preview is resized
    HANDLE waitForMainDialogInitializationMutex = nullptr;  // owned by the UI thread until the dialog is ready

    CRITICAL_SECTION backgroundBusyCriticalSection;
    bool busySectionValid = false;
    int32_t busyCount = 0;

    HANDLE thread = nullptr;
    PendingParameterSet* pending = nullptr;  // the mailbox's one slot
};
BackgroundTask gTask;

// One abort flag for each layer that polls them (the frame, the host image
// textures, the OpenGL shapes, the CPU effects, the presentation). They are
// always raised and cleared together, so any of them answers for all.
constexpr int ABORT_FLAG_COUNT = 5;
std::atomic<uint8_t> gAbortFlags[ABORT_FLAG_COUNT] = {};
std::atomic<bool> gSizeMoveInProgress{false};
// The dialog asked the task to end: its end is then no failure of the run.
std::atomic<bool> gStopRequested{false};
std::atomic<int32_t> gRenderCount{0};
std::atomic<int32_t> gNextSetId{1};

const PreviewRendererProcs* gProcs = nullptr;
CurrentParameterSetProc gCurrentSetProc = nullptr;
uint32_t gStopLimit = DEFAULT_STOP_LIMIT;
bool (*gAnalysisFinishedProc)() = nullptr;

void SetAbortFlags() {
    for (auto& flag : gAbortFlags) flag.store(1, std::memory_order_relaxed);
}
void ClearAbortFlags() {
    for (auto& flag : gAbortFlags) flag.store(0, std::memory_order_relaxed);
}

void Trace(uint32_t line, const char* message) { DebugEvent(line, TRACE_MESSAGE).Report("%s", message); }

void ReportSystemError(uint32_t line, const char* message) {
    DebugEvent(line, SYSTEM_ERROR, GetLastError()).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "%s", message);
}

bool OnUserInterfaceThread() { return gTask.uiThread != 0 && GetCurrentThreadId() == gTask.uiThread; }

void PostToDialog(UINT message, WPARAM wParam, LPARAM lParam) {
    if (gTask.dialog) PostMessageA(gTask.dialog, message, wParam, lParam);
}

RECT PreviewClientRect() {
    RECT client = {0, 0, gTask.width, gTask.height};
    if (gTask.previewWindow) GetClientRect(gTask.previewWindow, &client);
    return client;
}

// Nothing is painted during the handshake: the window's pending paint is done.
void MarkPreviewDrawn() {
    if (gTask.previewWindow) ValidateRect(gTask.previewWindow, nullptr);
}

bool AnalysisFinished() { return gAnalysisFinishedProc ? gAnalysisFinishedProc() : IsAnalysisComplete(); }

void FreeEntry(PendingParameterSet* entry) {
    if (!entry) return;
    delete entry->set;
    if (entry->region) DeleteObject(entry->region);
    delete entry;
}

// ---- the mailbox ----

// Takes PendingRenderingParametersMutex. An abandoned mutex is owned all the
// same (its owner died; the slot holds at worst a stale entry).
bool LockMailbox() {
    DWORD result = WaitForSingleObject(gTask.pendingRenderingParametersMutex, INFINITE);
    if (result == WAIT_OBJECT_0) return true;
    ReportUnexpected(__LINE__, "Unexpected result 0x%X returned by WaitForSingleObject()",
                     static_cast<unsigned>(result));
    return result == WAIT_ABANDONED;
}
void UnlockMailbox() { ReleaseMutex(gTask.pendingRenderingParametersMutex); }

// With the mailbox locked: frees the queued entry and lowers the abort flags.
void EmptyMailbox(const char* message) {
    if (gTask.pending) {
        TraceParametersRecord trace = {message, gTask.pending->set};
        BackgroundTaskHook(HOOK_TRACE_PARAMETERS, &trace);
        FreeEntry(gTask.pending);
        gTask.pending = nullptr;
    }
    ClearAbortFlags();
}

// Queues an entry, which the mailbox then owns; on failure it stays the caller's.
bool PutEntry(PendingParameterSet* entry) {
    if (!entry) {
        ReportUnexpected(__LINE__, "No rendering parameters provided.");
        return false;
    }
    if (!LockMailbox()) return false;
    bool stored = true;
    if (!gTask.pending) {
        if (!SetEvent(gTask.parametersAvailableEvent)) {
            ReportSystemError(__LINE__, "NewBackgroundTaskParameters() - Could not set ParametersAvailableEvent");
            stored = false;
        } else {
            gTask.pending = entry;
        }
    } else {
        // The newer set replaces the older; whatever the older would have
        // redrawn is added to the newer one's region. The event stays as it
        // is: still set from the first put, or the task is taking the slot.
        PendingParameterSet* older = gTask.pending;
        if (!entry->region) {
            entry->region = older->region;
            older->region = nullptr;
        } else if (older->region && CombineRgn(entry->region, entry->region, older->region, RGN_OR) == ERROR) {
            ReportUnexpected(__LINE__, "NewBackgroundTaskParameters() - Could not combine invalidation regions.");
            stored = false;
        }
        if (stored) {
            EmptyMailbox("NewBackgroundTaskParameters() - Removed pending requests.");
            gTask.pending = entry;
        }
    }
    UnlockMailbox();
    return stored;
}

PendingParameterSet* TakeEntry() {
    if (!LockMailbox()) return nullptr;
    PendingParameterSet* entry = gTask.pending;
    gTask.pending = nullptr;
    ClearAbortFlags();
    UnlockMailbox();
    return entry;
}

// ---- redraw requests ----

// The handshake's full redraw: the client rectangle as a region, queued
// through the preview window so that the set is made on the UI thread.
bool RequestHandshakeRedraw() {
    RECT client = PreviewClientRect();
    HRGN region = CreateRectRgnIndirect(&client);
    if (!region) ReportUnexpected(__LINE__, "Could not create InvalidationRegion for Proxy client rectangle.");
    if (OnUserInterfaceThread()) {
        NewBackgroundTaskParameters(region);
        return true;
    }
    WPARAM wParam = reinterpret_cast<WPARAM>(region);
    if (!PostMessageA(gTask.previewWindow, WM_PREVIEW_REDRAW, wParam, REDRAW_FROM_HANDSHAKE)) {
        ReportSystemError(__LINE__, "WaitForInitializationComplete() - Could not post the full redraw request.");
        if (region) DeleteObject(region);
        return false;
    }
    return true;
}

// A full redraw after a move or resize. A bitmap-drawing preview is repainted
// by invalidating it; its paint request then queues the set.
void RequestSizeChangeRedraw(PreviewRedrawSender sender) {
    if (!gTask.previewWindow) return;
    if (!OnUserInterfaceThread()) {
        RECT client = PreviewClientRect();
        HRGN region = CreateRectRgnIndirect(&client);
        if (!region) ReportUnexpected(__LINE__, "Could not create InvalidationRegion for Proxy client rectangle.");
        if (!PostMessageA(gTask.previewWindow, WM_PREVIEW_REDRAW, reinterpret_cast<WPARAM>(region), sender) && region)
            DeleteObject(region);
    } else if (gTask.accelerated) {
        NewBackgroundTaskParameters(nullptr);
    } else {
        InvalidateRect(gTask.previewWindow, nullptr, FALSE);
    }
}

// ---- the task thread ----

// Waits until the dialog has released its initialisation mutex, or the task
// is told to end meanwhile. False: the task must end.
bool WaitForMainDialogInitialization() {
    HANDLE objects[2] = {gTask.proxyUpdateTerminateEvent, gTask.waitForMainDialogInitializationMutex};
    DWORD result = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
    switch (result) {
        case WAIT_OBJECT_0:
            return false;
        case WAIT_OBJECT_0 + 1:
            if (!ReleaseMutex(gTask.waitForMainDialogInitializationMutex))
                ReportSystemError(__LINE__, "Failed to release WaitForMainDialogInitializationMutex.");
            return true;
        case WAIT_ABANDONED_0 + 1:
            SetEvent(gTask.proxyUpdateTerminateEvent);
            ReportUnexpected(__LINE__, "UI Thread exited while waiting for main dialog initialization.");
            ReleaseMutex(gTask.waitForMainDialogInitializationMutex);
            return false;
        case WAIT_FAILED:
            SetEvent(gTask.proxyUpdateTerminateEvent);
            ReportSystemError(__LINE__, "Wait for main dialog initialization failed.");
            return false;
        default:
            SetEvent(gTask.proxyUpdateTerminateEvent);
            ReportUnexpected(__LINE__, "Unexpected result 0x%X while waiting for main dialog initialization.",
                             static_cast<unsigned>(result));
            return false;
    }
}

// Precise arithmetic only where the preview shows its difference: an
// accelerated context optimising for quality with a real 16-bit format.
void ChooseEffectArithmetic(const PreviewRendererProcs* procs) {
    if (procs->preciseArithmetic && procs->preciseArithmetic()) {
        const Image* host = GetHostImage();
        SetEffectArithmetic(true, host && host->mode ? host->mode : IMAGE_MODE_RGB8);
    } else {
        SetEffectArithmetic(false, IMAGE_MODE_RGB8);
    }
}

uint32_t BackgroundTaskThread(void* argument) {
    std::unique_ptr<PreviewStartRecord> record(static_cast<PreviewStartRecord*>(argument));
    const PreviewRendererProcs* procs = gProcs;
    bool going = procs && procs->start && procs->render && procs->start(*record);
    if (!going) SetEvent(gTask.proxyUpdateTerminateEvent);

    if (!WaitForMainDialogInitialization()) going = false;

    if (going) {
        if (WaitForInitializationComplete()) {
            ChooseEffectArithmetic(procs);
            PostToDialog(WM_PREVIEW_TASK_READY, 0, 0);
        } else {
            SetEvent(gTask.proxyUpdateTerminateEvent);
            going = false;
        }
    }

    PendingParameterSet entry;
    while (going && WaitForParameters(&entry)) {
        if (!entry.set) {
            ReportUnexpected(__LINE__, "Invalid parameter set was received.");
            if (entry.region) DeleteObject(entry.region);
            continue;
        }
        bool rendered = procs->render(*entry.set, entry.region);
        if (PreviewAbortRequested())
            Trace(__LINE__, "Background Task - Parameter Set Processing Aborted.");
        else if (!rendered)
            Trace(__LINE__, "Background Task - Parameter Set Processing Failed.");
        delete entry.set;
        if (entry.region) DeleteObject(entry.region);
        ClearAbortFlags();
        gRenderCount.fetch_add(1);
    }

    if (procs && procs->finish) procs->finish();
    // The task only ends unasked when it could not go on: the dialog closes.
    // It closes on the next message it handles, so one is sent now (clearing
    // the progress display), or it would wait for the user to move the mouse.
    if (!gStopRequested.load()) {
        SetGlobalErrorCode(RUN_BAD_PARAMETERS);
        PostToDialog(WM_PREVIEW_PROGRESS, 0, 0);
    }
    return 0;
}

bool CreateEventWithReport(HANDLE* event, bool manualReset, const char* failure) {
    *event = CreateEventA(nullptr, manualReset, FALSE, nullptr);
    if (!*event) ReportSystemError(__LINE__, failure);
    return *event != nullptr;
}

bool CreateMutexWithReport(HANDLE* mutex, bool owned, const char* failure) {
    *mutex = CreateMutexA(nullptr, owned, nullptr);
    if (!*mutex) ReportSystemError(__LINE__, failure);
    return *mutex != nullptr;
}

void CloseAndClear(HANDLE* handle) {
    if (*handle) CloseHandle(*handle);
    *handle = nullptr;
}

bool ChoosePreviewPixelFormat(HWND window, int* format, PIXELFORMATDESCRIPTOR* descriptor, bool* accelerated) {
    bool softwareOnly = OpenGLOptimizationSetting() == OPTIMIZE_NONE;
    *format = SelectPixelFormat(window, softwareOnly, descriptor, accelerated);
    SetGPUAccelerated(*accelerated);
    // NOTE: only a format the card draws with goes onto the window. Without
    // acceleration OpenGL draws into a bitmap (the bitmap's own device context
    // takes the format) and the window is painted with GDI; a GL format on the
    // window makes some drivers (Wine's) route the window's GDI output away
    // from the screen, and the preview stays black.
    if (*format > 0 && !*accelerated) return true;
    HDC deviceContext = GetDC(window);
    bool set = *format > 0 && deviceContext &&
               (GetPixelFormat(deviceContext) == *format || SetPixelFormat(deviceContext, *format, descriptor));
    if (!set)
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, EXIT_CAPTION, "Could not set pixel format for OpenGL operations.");
    if (deviceContext) ReleaseDC(window, deviceContext);
    return set;
}

}  // namespace

// ---- configuration ----

void SetPreviewRendererProcs(const PreviewRendererProcs* procs) { gProcs = procs; }
void SetCurrentParameterSetProc(CurrentParameterSetProc proc) { gCurrentSetProc = proc; }

// ---- the hook dispatcher ----

bool BackgroundTaskHook(int32_t kind, void* data) {
    switch (kind) {
        case HOOK_WAIT_FOR_INITIALIZATION:
            return WaitForInitialization(static_cast<InitializationHookRecord*>(data));
        case HOOK_TRACE_PARAMETERS: {
            auto* record = static_cast<TraceParametersRecord*>(data);
            TraceRenderingParameters(record->message, record->set);
            return true;
        }
        case HOOK_NEW_PARAMETER_SET: {
            auto** out = static_cast<ParameterSet**>(data);
            *out = nullptr;
            auto* set = new (std::nothrow) ParameterSet();
            if (!set) {
                ReportUnexpected(__LINE__, "Could not allocate a ParameterSet buffer.");
                return false;
            }
            if (!gCurrentSetProc || !gCurrentSetProc(set)) {
                delete set;
                return false;
            }
            set->id = gNextSetId.fetch_add(1);
            set->createdTicks = GetTickCount();
            set->reserved = 0;
            *out = set;
            return true;
        }
        default:
            ReportUnexpected(__LINE__, "BackgroundTaskHook() - Unknown hook kind %d.", kind);
            return false;
    }
}

bool WaitForInitialization(InitializationHookRecord* record) {
    switch (record->state) {
        case INITSTATE_START:
            *record->waitSlice = HOOK_WAIT_SLICE;
            [[fallthrough]];
        case INITSTATE_WAIT:
        case INITSTATE_PARAMETERS_RECEIVED:
        case INITSTATE_BACKGROUND_INIT_COMPLETE:
            if (AnalysisFinished()) record->analysisFinished = true;
            PostToDialog(WM_PREVIEW_PROGRESS, static_cast<WPARAM>(GetAnalysisProgressCount()),
                         static_cast<LPARAM>(GetAnalysisProgressTotal()));
            if (gProcs && gProcs->drawWait) gProcs->drawWait(record->client);
            break;
        case INITSTATE_FINISHED:
        case INITSTATE_TERMINATED:
            PostToDialog(WM_PREVIEW_PROGRESS, 0, 0);
            break;
        default:
            ReportUnexpected(__LINE__, "WaitForInitialization() - An invalid state value was received.");
            break;
    }
    return true;
}

void TraceRenderingParameters(const char* message, const ParameterSet* set) {
    const char* text = message ? message : "";
    if (!set) {
        ReportUnexpected(__LINE__,
                         "TraceRenderingParameters() - A NULL pointer was specified for Parameter Set argument.  "
                         "Message: '%s'",
                         text);
        return;
    }
    DebugEvent(__LINE__, TRACE_MESSAGE)
        .Report("%s  Parameter Set %d, created at %u ms.", text, set->id, static_cast<unsigned>(set->createdTicks));
}

// ---- the user-interface thread ----

bool StartBackgroundTask(HWND previewWindow, HWND dialog, int32_t width, int32_t height) {
    if (gTask.thread) {
        ReportUnexpected(__LINE__, "StartBackgroundTask() - The Background Task is already running.");
        return false;
    }
    gTask.previewWindow = previewWindow;
    gTask.dialog = dialog;
    gTask.uiThread = GetCurrentThreadId();
    gTask.width = width;
    gTask.height = height;
    gTask.pending = nullptr;
    gTask.busyCount = 0;
    gStopRequested.store(false);
    gSizeMoveInProgress.store(false);
    gRenderCount.store(0);
    ClearAbortFlags();

    // A missing object is reported; the task goes on without it and fails
    // where it needs it.
    CreateEventWithReport(&gTask.parametersAvailableEvent, false, "Could not create ParametersAvailableEvent.");
    CreateEventWithReport(&gTask.proxyUpdateTerminateEvent, true, "Could not create ProxyUpdateTerminateEvent.");
    CreateEventWithReport(&gTask.proxyUpdateRenderingStartedEvent, true,
                          "Could not create ProxyUpdateRenderingStartedEvent.");
    CreateEventWithReport(&gTask.proxySizeChangedEvent, true, "Could not create ProxySizeChangedEvent.");
    CreateMutexWithReport(&gTask.pendingRenderingParametersMutex, false,
                          "Could not create PendingRenderingParametersMutex.");
    CreateMutexWithReport(&gTask.resizeInProgressMutex, false, "Could not create ResizeInProgressMutex.");
    CreateMutexWithReport(&gTask.waitForMainDialogInitializationMutex, true,
                          "Could not create WaitForMainDialogInitializationMutex.");

    gTask.busySectionValid =
        InitializeCriticalSectionAndSpinCount(&gTask.backgroundBusyCriticalSection, BUSY_SECTION_SPIN_COUNT) != 0;
    if (!gTask.busySectionValid) {
        ReportSystemError(__LINE__, "Could not initialize BackgroundBusyCriticalSection.");
        SetGlobalErrorCode(RUN_BAD_PARAMETERS);
        return false;
    }
    if (!GetDisplayProfile(reinterpret_cast<OsWindow>(previewWindow))) {
        ReportUnexpected(__LINE__, "StartBackgroundTask() - Could not get the display color profile.");
        SetGlobalErrorCode(RUN_BAD_PARAMETERS);
        return false;
    }
    auto record = std::make_unique<PreviewStartRecord>();
    record->previewWindow = previewWindow;
    record->width = width;
    record->height = height;
    if (!ChoosePreviewPixelFormat(previewWindow, &record->pixelFormat, &record->descriptor, &record->accelerated)) {
        SetGlobalErrorCode(RUN_BAD_PARAMETERS);
        return false;
    }
    gTask.accelerated = record->accelerated;
    if (!InitializeScreenBitmapAccess()) {
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, EXIT_CAPTION, "Could not set up access to screen bitmap.");
        SetGlobalErrorCode(RUN_BAD_PARAMETERS);
        return false;
    }

    errno = 0;
    OsHandle thread = OsCreateThread(BackgroundTaskThread, record.get(), 0, nullptr);
    if (!thread) {
        int error = errno ? errno : ENOMEM;
        ReportUnexpected(__LINE__, "Could not start Proxy Background Task thread : %s.",
                         RunTimeErrorText(error).c_str());
        return false;
    }
    record.release();  // the thread frees it
    gTask.thread = reinterpret_cast<HANDLE>(thread);
    return true;
}

void ReleaseMainDialogInitialization() {
    if (gTask.waitForMainDialogInitializationMutex && !ReleaseMutex(gTask.waitForMainDialogInitializationMutex))
        ReportSystemError(__LINE__, "ReleaseMainDialogInitialization() - Failed to release "
                                    "WaitForMainDialogInitializationMutex.");
}

void SignalPreviewRenderingStarted() {
    if (gTask.proxyUpdateRenderingStartedEvent) SetEvent(gTask.proxyUpdateRenderingStartedEvent);
}

void NewBackgroundTaskParameters(HRGN region) {
    ParameterSet* set = nullptr;
    if (!OnUserInterfaceThread() || !BackgroundTaskHook(HOOK_NEW_PARAMETER_SET, &set)) {
        ReportUnexpected(__LINE__, "NewBackgroundTaskParameters() - Could not get current parameter set.");
        if (region) DeleteObject(region);
        return;
    }
    DWORD result = WaitForSingleObject(gTask.proxyUpdateTerminateEvent, 0);
    if (result != WAIT_TIMEOUT) {
        // The task is ending (or its event is unusable): nothing more is drawn.
        if (result != WAIT_OBJECT_0)
            ReportUnexpected(__LINE__, "NewBackgroundTaskParameters() - Test of ProxyUpdateTerminateEvent failed with "
                                       "Result = 0x%X.", static_cast<unsigned>(result));
        delete set;
        if (region) DeleteObject(region);
        return;
    }
    auto* entry = new (std::nothrow) PendingParameterSet{set, region};
    if (!entry) {
        ReportUnexpected(__LINE__, "Failed to allocate Parameter Data block.");
        ReportUnexpected(__LINE__, "NewBackgroundTaskParameters() - Could not create new Parameter Set");
        delete set;
        if (region) DeleteObject(region);
        return;
    }
    if (!PutEntry(entry)) {
        ReportUnexpected(__LINE__, "NewBackgroundTaskParameters() - Could not queue new Parameter Set");
        FreeEntry(entry);
    }
}

void HandlePreviewRedrawMessage(WPARAM region, LPARAM) {
    NewBackgroundTaskParameters(reinterpret_cast<HRGN>(region));
}

void FlushParameterSets(const char* message) {
    if (!LockMailbox()) return;
    EmptyMailbox(message && *message ? message : "FlushParameterSets() - Removed Parameter Set");
    // The mailbox is empty now: a wake-up left from the flushed set would
    // hand the task an empty slot.
    if (gTask.parametersAvailableEvent) ResetEvent(gTask.parametersAvailableEvent);
    UnlockMailbox();
}

void SetSizeMoveInProgress(bool inProgress) {
    if (!LockMailbox()) return;
    bool was = gSizeMoveInProgress.load();
    if (inProgress && was)
        ReportUnexpected(__LINE__, "SetSizeMoveInProgress() - Repeated Size/Move Event %s.", "WM_ENTERSIZEMOVE");
    gSizeMoveInProgress.store(inProgress);
    UnlockMailbox();
    if (was && !inProgress) RequestSizeChangeRedraw(REDRAW_FROM_SIZE_MOVE);
}

bool SizeMoveInProgress() { return gSizeMoveInProgress.load(std::memory_order_relaxed); }

bool BeginPreviewResize() {
    DWORD result = WaitForSingleObject(gTask.resizeInProgressMutex, INFINITE);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
    ReportSystemError(__LINE__, "Could not aquire the ResizeInProgressMutex mutex during a size change.");
    return false;
}

void EndPreviewResize() {
    RequestSizeChangeRedraw(REDRAW_FROM_RESIZE);
    if (!ReleaseMutex(gTask.resizeInProgressMutex))
        ReportSystemError(__LINE__, "EndPreviewResize() - Failed to release ResizeInProgressMutex.");
}

bool PreviewAbortRequested() {
    for (const auto& flag : gAbortFlags)
        if (flag.load(std::memory_order_relaxed)) return true;
    return false;
}

void RequestBackgroundAbort() {
    gStopRequested.store(true);
    SetAbortFlags();
    if (gTask.proxyUpdateTerminateEvent) SetEvent(gTask.proxyUpdateTerminateEvent);
}

void DestroyBackgroundTask() {
    gStopRequested.store(true);
    if (gTask.thread) {
        if (WaitForSingleObject(gTask.thread, 0) == WAIT_TIMEOUT) {
            SetAbortFlags();
            DWORD result = gTask.proxyUpdateTerminateEvent
                               ? SignalObjectAndWait(gTask.proxyUpdateTerminateEvent, gTask.thread, gStopLimit, FALSE)
                               : WaitForSingleObject(gTask.thread, gStopLimit);
            if (result == WAIT_TIMEOUT) {
                DWORD exitCode = 0;
                if (!GetExitCodeThread(gTask.thread, &exitCode)) {
                    ReportUnexpected(__LINE__, "DestroyBackgroundTask() - Failed to get Background Task exit status. "
                                               "Background Task is being forcibly aborted.");
                    TerminateThread(gTask.thread, 0);
                } else if (exitCode == STILL_ACTIVE) {
                    TerminateThread(gTask.thread, 0);
                    ReportUnexpected(__LINE__, "DestroyBackgroundTask() - Timed out while waiting for Background Task "
                                               "exit. Background Task is being forcibly aborted.");
                }
            } else if (result == WAIT_FAILED) {
                ReportSystemError(__LINE__, "DestroyBackgroundTask() - Wait for Background Task exit failed.");
            } else if (result != WAIT_OBJECT_0) {
                ReportUnexpected(__LINE__, "DestroyBackgroundTask() - Unexpected result 0x%X while waiting for "
                                           "Background Task termination.", static_cast<unsigned>(result));
            }
        }
        CloseAndClear(&gTask.thread);
    }
    ReleaseScreenBitmaps();
    if (gTask.pendingRenderingParametersMutex) FlushParameterSets("DestroyBackgroundTask()");
    ClearAbortFlags();
    CloseAndClear(&gTask.parametersAvailableEvent);
    CloseAndClear(&gTask.proxyUpdateTerminateEvent);
    CloseAndClear(&gTask.proxyUpdateRenderingStartedEvent);
    CloseAndClear(&gTask.proxySizeChangedEvent);
    CloseAndClear(&gTask.pendingRenderingParametersMutex);
    CloseAndClear(&gTask.resizeInProgressMutex);
    CloseAndClear(&gTask.waitForMainDialogInitializationMutex);
    if (gTask.busySectionValid) DeleteCriticalSection(&gTask.backgroundBusyCriticalSection);
    gTask.busySectionValid = false;
    gTask.busyCount = 0;
    gTask.previewWindow = nullptr;
    gTask.dialog = nullptr;
    gTask.uiThread = 0;
}

void EnterPreviewBusy() {
    if (!gTask.busySectionValid) return;
    EnterCriticalSection(&gTask.backgroundBusyCriticalSection);
    if (gTask.busyCount++ == 0) PostToDialog(WM_PREVIEW_BUSY, 1, 0);
    LeaveCriticalSection(&gTask.backgroundBusyCriticalSection);
}

void LeavePreviewBusy() {
    if (!gTask.busySectionValid) return;
    EnterCriticalSection(&gTask.backgroundBusyCriticalSection);
    if (gTask.busyCount > 0 && --gTask.busyCount == 0) PostToDialog(WM_PREVIEW_BUSY, 0, 0);
    LeaveCriticalSection(&gTask.backgroundBusyCriticalSection);
}

// ---- the task thread's steps ----

bool WaitForParameters(PendingParameterSet* entry) {
    *entry = PendingParameterSet{nullptr, nullptr};
    HANDLE work[2] = {gTask.proxyUpdateTerminateEvent, gTask.parametersAvailableEvent};
    DWORD result = WaitForMultipleObjects(2, work, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return false;
    if (result != WAIT_OBJECT_0 + 1) {
        SetEvent(gTask.proxyUpdateTerminateEvent);
        if (result == WAIT_ABANDONED_0)
            ReportUnexpected(__LINE__, "Event 'ProxyUpdateTerminateEvent' was abandoned.");
        else if (result == WAIT_ABANDONED_0 + 1)
            ReportUnexpected(__LINE__, "Event 'ParametersAvailableEvent' was abandoned.");
        else if (result == WAIT_TIMEOUT)
            ReportUnexpected(__LINE__, "A wait timed out in WaitForParameters().");
        else
            ReportSystemError(__LINE__, "Waiting for events failed in WaitForParameters.");
        return false;
    }

    // No set is taken while the preview window is being resized.
    HANDLE resize[2] = {gTask.proxyUpdateTerminateEvent, gTask.resizeInProgressMutex};
    result = WaitForMultipleObjects(2, resize, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return false;
    if (result != WAIT_OBJECT_0 + 1) {
        SetEvent(gTask.proxyUpdateTerminateEvent);
        if (result == WAIT_ABANDONED_0 + 1) {
            ReportUnexpected(__LINE__, "Event 'ResizeInProgressMutex' was abandoned.");
            ReleaseMutex(gTask.resizeInProgressMutex);
        } else if (result == WAIT_FAILED) {
            ReportSystemError(__LINE__, "Waiting for events failed in WaitForParameters.");
        } else {
            ReportUnexpected(__LINE__, "Unexpected result 0x%X returned by WaitForMultipleObjects()",
                             static_cast<unsigned>(result));
        }
        return false;
    }
    PendingParameterSet* taken = TakeEntry();
    if (taken) {
        *entry = *taken;
        delete taken;
        TraceParametersRecord trace = {"WaitForParameters() - Parameter Set Processing started.", entry->set};
        BackgroundTaskHook(HOOK_TRACE_PARAMETERS, &trace);
    } else {
        ReportUnexpected(__LINE__, "Invalid Parameter Set received in WaitForParameters().");
    }
    if (!ReleaseMutex(gTask.resizeInProgressMutex))
        ReportSystemError(__LINE__, "Failed to release ResizeInProgressMutex.");
    return true;
}

bool WaitForInitializationComplete() {
    uint32_t slice = FIRST_WAIT_SLICE;
    InitializationHookRecord hook = {INITSTATE_START, &slice, false, gTask.previewWindow, PreviewClientRect()};
    MarkPreviewDrawn();
    if (!BackgroundTaskHook(HOOK_WAIT_FOR_INITIALIZATION, &hook)) {
        ReportUnexpected(__LINE__, "WaitForInitializationComplete() - Product specific initialization could not be "
                                   "started.");
        return false;
    }
    bool windowReady = false;
    // In order of priority: the first signalled one is reported.
    HANDLE events[3] = {gTask.proxyUpdateTerminateEvent, gTask.parametersAvailableEvent,
                        gTask.proxyUpdateRenderingStartedEvent};
    for (;;) {
        DWORD result = WaitForMultipleObjects(3, events, FALSE, slice);
        hook.client = PreviewClientRect();
        bool finished = false;
        if (result == WAIT_OBJECT_0) {
            hook.state = INITSTATE_TERMINATED;
            BackgroundTaskHook(HOOK_WAIT_FOR_INITIALIZATION, &hook);
            return false;
        } else if (result == WAIT_OBJECT_0 + 1) {
            hook.state = INITSTATE_PARAMETERS_RECEIVED;
            if (!BackgroundTaskHook(HOOK_WAIT_FOR_INITIALIZATION, &hook)) {
                ReportUnexpected(__LINE__, "WaitForInitializationComplete() - Product specific initialization failed "
                                           "in INITSTATE_PARAMETERS_RECEIVED.");
                return false;
            }
            // Sets requested before the preview can draw are dropped; the
            // full redraw at the end replaces them all.
            FlushParameterSets("WaitForInitializationComplete() - Parameters Available Event.");
            finished = hook.analysisFinished && windowReady;
        } else if (result == WAIT_OBJECT_0 + 2) {
            hook.state = INITSTATE_BACKGROUND_INIT_COMPLETE;
            if (!BackgroundTaskHook(HOOK_WAIT_FOR_INITIALIZATION, &hook)) {
                ReportUnexpected(__LINE__, "WaitForInitializationComplete() - Product specific initialization failed "
                                           "in INITSTATE_BACKGROUND_INIT_COMPLETE.");
                return false;
            }
            FlushParameterSets("WaitForInitializationComplete() - Rendering started event.");
            windowReady = true;
            finished = hook.analysisFinished;
            if (!finished) ResetEvent(gTask.proxyUpdateRenderingStartedEvent);
        } else if (result == WAIT_TIMEOUT) {
            hook.state = INITSTATE_WAIT;
            if (!BackgroundTaskHook(HOOK_WAIT_FOR_INITIALIZATION, &hook)) {
                ReportUnexpected(__LINE__, "WaitForInitializationComplete() - Product specific initialization failed "
                                           "in INITSTATE_WAIT.");
                return false;
            }
            FlushParameterSets("WaitForInitializationComplete() - Wait for timeout event.");
            finished = hook.analysisFinished && windowReady;
        } else {
            ReportSystemError(__LINE__, "WaitForInitializationComplete() - Wait for foreground initialization failed.");
            return false;
        }
        if (finished) {
            hook.state = INITSTATE_FINISHED;
            BackgroundTaskHook(HOOK_WAIT_FOR_INITIALIZATION, &hook);
            if (!RequestHandshakeRedraw()) return false;
            if (windowReady) SetEvent(gTask.proxyUpdateRenderingStartedEvent);
            return true;
        }
        MarkPreviewDrawn();
    }
}

// ---- for tests ----

int32_t BackgroundRenderCount() { return gRenderCount.load(); }
bool BackgroundTaskRunning() { return gTask.thread && WaitForSingleObject(gTask.thread, 0) == WAIT_TIMEOUT; }
void SetBackgroundTaskStopLimitForTesting(uint32_t milliseconds) {
    gStopLimit = milliseconds ? milliseconds : DEFAULT_STOP_LIMIT;
}
void SetAnalysisFinishedProcForTesting(bool (*proc)()) { gAnalysisFinishedProc = proc; }
