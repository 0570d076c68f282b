// The background preview task on a real (hidden) preview window under Wine.
// Stub renderer procedures record what the task thread hands them; the test's
// main thread is the user-interface thread and pumps messages while it waits,
// since the task asks the preview window for redraws by posted message.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "image/color_management.h"
#include "preview/background_task.h"
#include "support/debug_log.h"
#include "support/run_result.h"
#include "tests/test_support.h"

namespace {

enum RenderMode { RENDER_QUICK, RENDER_HOLD, RENDER_POLL_ABORT, RENDER_IGNORE_ABORT };

struct Frame {
    int32_t id;
    int16_t marker;  // what the test stamped into the set when it asked for it
    HRGN region;     // a copy of the frame's region, or null (the whole preview)
};

struct Stub {
    std::mutex lock;
    std::vector<Frame> frames;
    std::vector<MSG> dialogMessages;  // progress and ready messages, kinds only (UI thread only)
    std::atomic<int> mode{RENDER_QUICK};
    std::atomic<bool> startSucceeds{true}, analysisFinished{false}, sawAbort{false};
    std::atomic<int> finishCalls{0}, waitDrawings{0};
    std::atomic<int16_t> marker{0};
    std::atomic<DWORD> taskThread{0};
    HANDLE gate = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ~Stub() { CloseHandle(gate); }
    size_t FrameCount() {
        std::lock_guard<std::mutex> hold(lock);
        return frames.size();
    }
    Frame FrameAt(size_t i) {
        std::lock_guard<std::mutex> hold(lock);
        return frames.at(i);
    }
};
Stub* gStub = nullptr;

bool StubStart(const PreviewStartRecord& record) {
    gStub->taskThread = GetCurrentThreadId();
    return gStub->startSucceeds && record.pixelFormat > 0;
}
bool StubRender(const ParameterSet& set, HRGN region) {
    HRGN copy = nullptr;
    if (region) {
        copy = CreateRectRgn(0, 0, 0, 0);
        CombineRgn(copy, region, nullptr, RGN_COPY);
    }
    {
        std::lock_guard<std::mutex> hold(gStub->lock);
        gStub->frames.push_back({set.id, set.quantity, copy});
    }
    switch (gStub->mode.load()) {
        case RENDER_HOLD: WaitForSingleObject(gStub->gate, 10000); break;
        case RENDER_POLL_ABORT:
            for (int i = 0; i < 4000; i++, Sleep(5))
                if (PreviewAbortRequested()) {
                    gStub->sawAbort = true;
                    return false;
                }
            break;
        case RENDER_IGNORE_ABORT: Sleep(20000); break;
    }
    return true;
}
void StubFinish() { gStub->finishCalls++; }
void StubDrawWait(const RECT&) { gStub->waitDrawings++; }
const PreviewRendererProcs kStubProcs = {StubStart, StubRender, StubFinish, StubDrawWait, nullptr};

bool StubCurrentSet(ParameterSet* set) {
    set->quantity = gStub->marker;
    return true;
}
bool StubAnalysisFinished() { return gStub->analysisFinished; }

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PREVIEW_REDRAW) {
        HandlePreviewRedrawMessage(wParam, lParam);
        return 0;
    }
    if (message == WM_PREVIEW_PROGRESS || message == WM_PREVIEW_TASK_READY) {
        MSG seen = {};
        seen.message = message;
        gStub->dialogMessages.push_back(seen);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The task thread reports too: the capture is serialised and read under the same lock.
std::mutex gReportLock;
DebugReportObserver gCapture = nullptr;
void LockedCapture(uint32_t kind, const char* line) {
    std::lock_guard<std::mutex> hold(gReportLock);
    gCapture(kind, line);
}

class BackgroundTask : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB8, nullptr));
        ForceGlobalErrorCode(RUN_OK);
        gStub = new Stub();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = TestWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "RaylumeBackgroundTaskTest";
        RegisterClassA(&wc);
        auto make = [&](int w, int h) {
            return CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, w, h, nullptr, nullptr, wc.hInstance,
                                   nullptr);
        };
        preview = make(200, 150);
        dialog = make(50, 50);
        ASSERT_TRUE(preview && dialog);
        SetPreviewRendererProcs(&kStubProcs);
        SetCurrentParameterSetProc(StubCurrentSet);
        SetAnalysisFinishedProcForTesting(StubAnalysisFinished);
        gCapture = SetDebugReportObserver(LockedCapture);
    }
    void TearDown() override {
        DestroyBackgroundTask();
        SetDebugReportObserver(gCapture);
        SetBackgroundTaskStopLimitForTesting(0);
        SetAnalysisFinishedProcForTesting(nullptr);
        SetCurrentParameterSetProc(nullptr);
        SetPreviewRendererProcs(nullptr);
        DestroyWindow(preview);
        DestroyWindow(dialog);
        for (Frame& frame : gStub->frames)
            if (frame.region) DeleteObject(frame.region);
        delete gStub;
        gStub = nullptr;
        ReleaseColorManagement();
        ForceGlobalErrorCode(RUN_OK);
    }

    template <class Done>
    bool PumpUntil(Done done, DWORD milliseconds) {
        DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            if (done()) return true;
            if (GetTickCount() - start > milliseconds) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    void Pump(DWORD milliseconds) { PumpUntil([] { return false; }, milliseconds); }
    bool TaskReported() {
        const std::vector<MSG>& m = gStub->dialogMessages;
        return std::any_of(m.begin(), m.end(), [](const MSG& x) { return x.message == WM_PREVIEW_TASK_READY; });
    }

    // Asks for a set stamped with `marker`; the region is a rectangle or none.
    void Queue(int16_t marker, const RECT* rect) {
        gStub->marker = marker;
        NewBackgroundTaskParameters(rect ? CreateRectRgnIndirect(rect) : nullptr);
    }
    bool WaitForFrames(size_t count) { return PumpUntil([=] { return gStub->FrameCount() >= count; }, 5000); }
    bool WaitForRenders(int32_t count) { return PumpUntil([=] { return BackgroundRenderCount() >= count; }, 5000); }

    // A started task past its handshake, its first frame (the full redraw) rendered.
    bool StartServing() {
        if (!StartBackgroundTask(preview, dialog, 200, 150)) return false;
        ReleaseMainDialogInitialization();
        SignalPreviewRenderingStarted();
        gStub->analysisFinished = true;
        return WaitForRenders(1);
    }
    static bool RegionIs(HRGN region, const std::vector<RECT>& rects) {
        HRGN expected = CreateRectRgn(0, 0, 0, 0);
        for (const RECT& r : rects) {
            HRGN part = CreateRectRgnIndirect(&r);
            CombineRgn(expected, expected, part, RGN_OR);
            DeleteObject(part);
        }
        bool equal = region && EqualRgn(region, expected);
        DeleteObject(expected);
        return equal;
    }
    bool Reported(const std::string& text) {
        std::lock_guard<std::mutex> hold(gReportLock);
        return reports.Contains(text);
    }

    CapturedReports reports;  // made before SetUp wraps its observer
    HWND preview = nullptr, dialog = nullptr;
};

const RECT kA = {0, 0, 10, 10}, kB = {20, 20, 30, 30}, kC = {50, 0, 60, 40}, kD = {5, 100, 25, 120};

}  // namespace

TEST_F(BackgroundTask, QueuedSetsMergeIntoTheNewestWithEveryRegion) {
    ASSERT_TRUE(StartServing());
    // While a frame is being drawn, two requests arrive: only the newer is
    // drawn, over both regions.
    gStub->mode = RENDER_HOLD;
    Queue(1, &kA);
    ASSERT_TRUE(WaitForFrames(2));
    Queue(2, &kB);
    Queue(3, &kC);
    gStub->mode = RENDER_QUICK;
    SetEvent(gStub->gate);
    ASSERT_TRUE(WaitForRenders(3));
    Pump(300);
    ASSERT_EQ(gStub->FrameCount(), 3u);
    EXPECT_EQ(gStub->FrameAt(2).marker, 3);
    EXPECT_TRUE(RegionIs(gStub->FrameAt(2).region, {kB, kC}));

    // A newer request without region takes over the region of the older one.
    gStub->mode = RENDER_HOLD;
    Queue(4, &kA);
    ASSERT_TRUE(WaitForFrames(4));
    Queue(5, &kD);
    Queue(6, nullptr);
    gStub->mode = RENDER_QUICK;
    SetEvent(gStub->gate);
    ASSERT_TRUE(WaitForRenders(5));
    Pump(300);
    ASSERT_EQ(gStub->FrameCount(), 5u);
    EXPECT_EQ(gStub->FrameAt(4).marker, 6);
    EXPECT_TRUE(RegionIs(gStub->FrameAt(4).region, {kD}));

    DestroyBackgroundTask();
    EXPECT_FALSE(BackgroundTaskRunning());
    EXPECT_EQ(gStub->finishCalls, 1);
    EXPECT_EQ(GetGlobalErrorCode(), RUN_OK) << "closing the dialog is no failure of the run";
}

TEST_F(BackgroundTask, RequestsAfterTheTaskWasToldToEndAreDiscarded) {
    ASSERT_TRUE(StartServing());
    gStub->mode = RENDER_HOLD;
    Queue(1, &kA);
    ASSERT_TRUE(WaitForFrames(2));
    const int32_t drawnId = gStub->FrameAt(1).id;
    Queue(2, &kB);  // waits in the mailbox behind the frame being drawn
    RequestBackgroundAbort();
    HRGN late = CreateRectRgnIndirect(&kC);
    gStub->marker = 3;
    NewBackgroundTaskParameters(late);
    EXPECT_EQ(GetObjectType(late), 0u) << "the discarded request's region is deleted";

    SetEvent(gStub->gate);
    ASSERT_TRUE(PumpUntil([] { return !BackgroundTaskRunning(); }, 5000));
    EXPECT_EQ(BackgroundRenderCount(), 2);
    EXPECT_TRUE(Reported("Background Task - Parameter Set Processing Aborted."));
    DestroyBackgroundTask();
    // Set ids rise by one per request: the queued one was still in the
    // mailbox at the end, the late one never entered it.
    EXPECT_TRUE(Reported("DestroyBackgroundTask()  Parameter Set " + std::to_string(drawnId + 1) + ","));
    EXPECT_FALSE(Reported("Parameter Set " + std::to_string(drawnId + 2) + ","));
    EXPECT_EQ(GetGlobalErrorCode(), RUN_OK);
}

TEST_F(BackgroundTask, HandshakeDropsEarlyRequestsAndEndsWithOneFullRedraw) {
    ASSERT_TRUE(StartBackgroundTask(preview, dialog, 200, 150));
    Queue(1, &kA);  // before the dialog finished its initialisation
    ReleaseMainDialogInitialization();
    Pump(100);
    Queue(2, &kB);
    SignalPreviewRenderingStarted();
    Pump(300);
    Queue(3, nullptr);
    Pump(400);
    // Ready window and dialog, but the analysis still runs: nothing is drawn.
    EXPECT_EQ(gStub->FrameCount(), 0u);
    EXPECT_GT(gStub->waitDrawings, 2) << "the wait display is drawn on each wait slice";
    EXPECT_FALSE(TaskReported());

    gStub->marker = 7;
    gStub->analysisFinished = true;
    ASSERT_TRUE(WaitForRenders(1));
    Pump(300);
    ASSERT_EQ(gStub->FrameCount(), 1u) << "requests made during the handshake are never drawn";
    EXPECT_EQ(gStub->FrameAt(0).marker, 7);
    EXPECT_TRUE(RegionIs(gStub->FrameAt(0).region, {RECT{0, 0, 200, 150}}));

    // The dialog hears once, after the last progress report, that the task is ready.
    const std::vector<MSG>& messages = gStub->dialogMessages;
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().message, WM_PREVIEW_TASK_READY);
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const MSG& m) { return m.message == WM_PREVIEW_TASK_READY; }), 1);
}

TEST_F(BackgroundTask, ClosingDuringALongRenderAbortsItOrTerminatesTheTask) {
    // A render that polls the abort flags stops, and the task ends at once.
    ASSERT_TRUE(StartServing());
    gStub->mode = RENDER_POLL_ABORT;
    Queue(1, &kA);
    ASSERT_TRUE(WaitForFrames(2));
    DWORD start = GetTickCount();
    DestroyBackgroundTask();
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_TRUE(gStub->sawAbort);
    EXPECT_FALSE(BackgroundTaskRunning());
    EXPECT_EQ(gStub->finishCalls, 1);
    EXPECT_TRUE(Reported("Background Task - Parameter Set Processing Aborted."));

    // A render that ignores them is cut off after the stop limit.
    SetBackgroundTaskStopLimitForTesting(300);
    gStub->mode = RENDER_QUICK;
    ASSERT_TRUE(StartServing());
    gStub->mode = RENDER_IGNORE_ABORT;
    Queue(2, &kB);
    ASSERT_TRUE(WaitForFrames(4));
    HANDLE task = OpenThread(SYNCHRONIZE, FALSE, gStub->taskThread);
    ASSERT_NE(task, nullptr);
    start = GetTickCount();
    DestroyBackgroundTask();
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 250u);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_EQ(WaitForSingleObject(task, 1000), WAIT_OBJECT_0) << "the thread is gone, not merely forgotten";
    CloseHandle(task);
    EXPECT_EQ(gStub->finishCalls, 1) << "a terminated task runs nothing more";
    EXPECT_TRUE(Reported("DestroyBackgroundTask() - Timed out while waiting for Background Task exit. "
                         "Background Task is being forcibly aborted."));
}

TEST_F(BackgroundTask, AFailingStartEndsTheTaskAndTheRun) {
    gStub->startSucceeds = false;
    ASSERT_TRUE(StartBackgroundTask(preview, dialog, 200, 150));
    // The dialog has not even finished its initialisation: the task ends anyway.
    ASSERT_TRUE(PumpUntil([] { return !BackgroundTaskRunning(); }, 5000));
    EXPECT_EQ(GetGlobalErrorCode(), RUN_BAD_PARAMETERS);
    EXPECT_EQ(gStub->finishCalls, 1);
    EXPECT_EQ(gStub->FrameCount(), 0u);
    EXPECT_FALSE(TaskReported());
    // The dialog hears of it at once, so that it closes without waiting for input.
    EXPECT_TRUE(PumpUntil([] { return !gStub->dialogMessages.empty(); }, 2000));
}
