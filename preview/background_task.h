// The background preview task: one thread per open dialog that owns the
// preview's OpenGL context and draws every frame of the preview.
//
// The user-interface thread never draws. Whenever the preview must change it
// captures the complete rendering inputs in a ParameterSet together with the
// region of the preview to redraw (NewBackgroundTaskParameters) and puts them
// into a one-slot mailbox: the newest set replaces one not yet taken, and the
// regions of both are merged so that nothing still to be drawn is lost. The
// task takes the set, renders it through the preview layer and frees it.
//
// Before its first frame the task runs a handshake with the user-interface
// thread: it waits until the dialog has finished its initialisation, the
// preview window has reported ready and the light source analysis has ended,
// showing a wait display and the analysis progress meanwhile. Sets requested
// during the handshake are dropped; the handshake ends by asking the preview
// window for a full redraw, which becomes the first real frame.
//
// Threads: StartBackgroundTask, NewBackgroundTaskParameters, the resize pair,
// ReleaseMainDialogInitialization and DestroyBackgroundTask belong to the
// user-interface thread (the one that called StartBackgroundTask).
// WaitForParameters, WaitForInitializationComplete and WaitForInitialization
// run on the task thread. Lock order: ResizeInProgressMutex before
// PendingRenderingParametersMutex.
#pragma once

#include <windows.h>

#include <cstdint>

#include "effects/parameter_set.h"

// ---- messages ----
// To the dialog: wParam steps done, lParam total; (0, 0) clears the progress display.
constexpr UINT WM_PREVIEW_PROGRESS = WM_APP + 4;
// To the dialog: the task is initialised (the Hide and Show tools may be enabled).
constexpr UINT WM_PREVIEW_TASK_READY = WM_APP + 5;
// To the preview window: wParam an invalidation region (HRGN, or 0 for the
// whole preview) that the receiver owns, lParam a PreviewRedrawSender. The
// window procedure hands both to HandlePreviewRedrawMessage.
constexpr UINT WM_PREVIEW_REDRAW = WM_APP + 6;
// To the dialog: wParam 1 when the preview renderer becomes busy, 0 when it is idle again.
constexpr UINT WM_PREVIEW_BUSY = WM_APP + 8;

// Who asked for a full redraw by WM_PREVIEW_REDRAW.
enum PreviewRedrawSender : LPARAM {
    REDRAW_FROM_HANDSHAKE = 1,  // the end of the task's initialisation
    REDRAW_FROM_SIZE_MOVE = 2,  // the end of a move or resize of the dialog
    REDRAW_FROM_RESIZE = 3,     // a size change of the preview window
};

// ---- what the task runs ----

// What the task thread runs; the preview layer supplies it (tests supply stubs).
struct PreviewStartRecord {
    HWND previewWindow;
    int32_t width, height;          // the preview window's client size at creation
    int pixelFormat;                // chosen for the preview window
    PIXELFORMATDESCRIPTOR descriptor;
    bool accelerated;               // the format draws on the card (else into a bitmap)
};
struct PreviewRendererProcs {
    // On the task thread: context, drawing settings and the preview layer. False ends the task.
    bool (*start)(const PreviewStartRecord& record);
    // One frame for a set taken from the mailbox (region null: the whole preview).
    bool (*render)(const ParameterSet& set, HRGN region);
    // Flush pending drawing, release the layer and the context.
    void (*finish)();
    // The wait display and analysis progress during the handshake (may be null).
    void (*drawWait)(const RECT& client);
    // Whether the preview context is accelerated, optimising for quality with a
    // distinct 16-bit texture format (chooses precise arithmetic; may be null).
    bool (*preciseArithmetic)();
};
// The procedures are read when the thread starts; `procs` must outlive the
// task. `finish` is called once at the end of every task whose thread ran,
// also when `start` failed (it releases whatever `start` made).
void SetPreviewRendererProcs(const PreviewRendererProcs* procs);
// The current state as a parameter set (the dialog supplies it; kind 2 of the hook dispatcher). False when none can be made.
// The task numbers the set (id, createdTicks, reserved) after the call; the
// procedure fills in the view context and the effect values.
typedef bool (*CurrentParameterSetProc)(ParameterSet* set);
void SetCurrentParameterSetProc(CurrentParameterSetProc proc);

// ---- the mailbox entry and the initialisation hook ----

// A queued request. Both members are owned by whoever holds the entry: the
// set is a ParameterSet allocated with new, the region a GDI region or null
// (the whole preview).
struct PendingParameterSet {
    ParameterSet* set;
    HRGN region;
};

// The states the handshake hands to WaitForInitialization.
enum InitializationState : int32_t {
    INITSTATE_START = 0,                     // once, before waiting
    INITSTATE_WAIT = 1,                      // a wait slice passed with no event
    INITSTATE_PARAMETERS_RECEIVED = 2,       // ParametersAvailableEvent was signalled
    INITSTATE_BACKGROUND_INIT_COMPLETE = 3,  // ProxyUpdateRenderingStartedEvent was signalled
    INITSTATE_FINISHED = 4,                  // initialisation over
    INITSTATE_TERMINATED = 5,                // ProxyUpdateTerminateEvent was signalled
};

struct InitializationHookRecord {
    int32_t state;             // an InitializationState
    uint32_t* waitSlice;       // the handshake's wait slice in ms (the hook may change it)
    bool analysisFinished;     // written by the hook: the light source analysis has ended
    HWND previewWindow;
    RECT client;               // the preview's client rectangle
};

// The hook dispatcher: the task reaches the product-specific code only through here.
enum BackgroundHookKind : int32_t {
    HOOK_WAIT_FOR_INITIALIZATION = 0,  // data: InitializationHookRecord*
    HOOK_TRACE_PARAMETERS = 1,         // data: TraceParametersRecord*
    HOOK_NEW_PARAMETER_SET = 2,        // data: ParameterSet** receiving a new set (the caller deletes it)
};
struct TraceParametersRecord {
    const char* message;
    const ParameterSet* set;
};
// False for an unknown kind, or when the hook itself fails.
bool BackgroundTaskHook(int32_t kind, void* data);

// ---- the user-interface thread ----

// Called while the preview window is created: remembers the window, its dialog
// and the calling thread as the user-interface thread, creates the task's
// events and mutexes, takes the display profile, chooses and sets the window's
// pixel format, sets up the screen bitmaps and starts the thread. The calling
// thread owns WaitForMainDialogInitializationMutex until it calls
// ReleaseMainDialogInitialization. False when no thread was started; the run's
// result is then -50 unless only the thread itself could not be made.
bool StartBackgroundTask(HWND previewWindow, HWND dialog, int32_t width, int32_t height);
// The end of the dialog's initialisation: lets the task begin its handshake.
void ReleaseMainDialogInitialization();
// The preview window is ready to be drawn (sets ProxyUpdateRenderingStartedEvent).
void SignalPreviewRenderingStarted();

// Queues the current state with `region` (taken over; null: the whole
// preview). Only on the user-interface thread; elsewhere, or while the task is
// ending, the request is dropped and the region deleted.
void NewBackgroundTaskParameters(HRGN region);
// WM_PREVIEW_REDRAW: the preview window procedure passes its parameters here.
void HandlePreviewRedrawMessage(WPARAM region, LPARAM tag);
// Removes and frees the queued entry, tracing it with `message` (or with
// "FlushParameterSets() - Removed Parameter Set" when it is null or empty).
void FlushParameterSets(const char* message);
// Traces a set with a message.
void TraceRenderingParameters(const char* message, const ParameterSet* set);

// The dialog's move or resize starts (true) or ends, or it loses activation
// (false). The end asks for a full redraw of the preview.
void SetSizeMoveInProgress(bool inProgress);
bool SizeMoveInProgress();
// Around a size change of the preview window: the task takes no set in between.
// Begin is false (reported) when ResizeInProgressMutex could not be taken, and
// End must then not be called. End asks for a full redraw.
bool BeginPreviewResize();
void EndPreviewResize();

// Polled by the preview renderer and the effects drawing: stop the frame.
bool PreviewAbortRequested();
// Raises the abort flags and tells the task to end (the dialog is closing).
void RequestBackgroundAbort();
// Called when the preview window is destroyed: ends the thread (terminating it
// after the stop limit, 10000 ms) and releases every object of the task.
void DestroyBackgroundTask();

// The preview renderer's busy count, around work the user should see as busy;
// the dialog gets WM_PREVIEW_BUSY when the count leaves and returns to 0.
void EnterPreviewBusy();
void LeavePreviewBusy();

// ---- the task thread's steps ----

// The wait for work: false when the task must end. True with an entry whose
// set may be null (reported); the caller owns the entry's set and region.
bool WaitForParameters(PendingParameterSet* entry);
// The initialisation handshake, run once by the task. False when the task must end.
bool WaitForInitializationComplete();
// The product's part of the handshake, for each state; always true.
bool WaitForInitialization(InitializationHookRecord* record);

// ---- for tests ----

// Sets rendered since the task started (each render counted when it returns).
int32_t BackgroundRenderCount();
bool BackgroundTaskRunning();
// The stop limit of DestroyBackgroundTask in ms; 0 restores 10000.
void SetBackgroundTaskStopLimitForTesting(uint32_t milliseconds);
// Replaces IsAnalysisComplete() in the hook; null restores it.
void SetAnalysisFinishedProcForTesting(bool (*proc)());
