#include "preview/preview_harness.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "analysis/analysis_task.h"
#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "gl/screen_bitmap.h"
#include "preview/background_task.h"
#include "preview/preview_renderer.h"
#include "preview/proxy_display.h"
#include "support/debug_log.h"

namespace {

const char kWindowClass[] = "RaylumePreviewHarness";

struct Harness {
    HWND window = nullptr;
    int32_t width = 0, height = 0;
    ParameterSet current = {};      // what the next request shows
    ParameterSet lastRendered = {}; // the set of the newest frame
    std::atomic<uint32_t> rendered{0};
};
Harness gHarness;

LRESULT CALLBACK HarnessWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PREVIEW_REDRAW) {
        if (lParam == PROXY_REDRAW_TAG_PUBLISHED) {  // a frame to paint: the harness reads it instead
            if (wParam) DeleteObject(reinterpret_cast<HRGN>(wParam));
            return 0;
        }
        HandlePreviewRedrawMessage(wParam, lParam);
        return 0;
    }
    if (message == WM_PAINT) {
        ValidateRect(window, nullptr);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool CurrentSet(ParameterSet* set) {
    *set = gHarness.current;
    return true;
}

bool AnalysisAlreadyDone() { return true; }

// The real renderer, with the newest set remembered for the harness.
bool RenderFrame(const ParameterSet& set, HRGN region) {
    bool drawn = PreviewRenderer()->render(set, region);
    gHarness.lastRendered = set;
    gHarness.rendered.fetch_add(1);
    return drawn;
}

PreviewRendererProcs gProcs;

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool SameRequest(const ParameterSet& a, const ParameterSet& b) {
    return std::memcmp(EffectValues(&a), EffectValues(&b), PARAMETER_VALUE_COUNT * sizeof(int16_t)) == 0 &&
           a.scale == b.scale && a.scrollX == b.scrollX && a.scrollY == b.scrollY && a.previewOn == b.previewOn &&
           a.lightSourceEdits == b.lightSourceEdits;
}

}  // namespace

bool OpenPreviewHarness(int32_t width, int32_t height, uint32_t optimizationSetting) {
    WNDCLASSA wc = {};
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = HarnessWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
    gHarness.width = width;
    gHarness.height = height;
    gHarness.rendered = 0;
    gHarness.window = CreateWindowExA(0, kWindowClass, "", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                                      wc.hInstance, nullptr);
    if (!gHarness.window) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError()).Report("OpenPreviewHarness() - Could not create the preview window.");
        return false;
    }
    OpenGLRegistry().optimizationSetting = optimizationSetting;
    gProcs = *PreviewRenderer();
    gProcs.render = RenderFrame;
    gProcs.drawWait = nullptr;  // no splash here: the harness waits on grey
    SetPreviewRendererProcs(&gProcs);
    SetCurrentParameterSetProc(CurrentSet);
    if (!GetAnalysisCompleteEvent()) SetAnalysisFinishedProcForTesting(AnalysisAlreadyDone);
    gHarness.current = ParameterSet{};
    gHarness.current.previewRect = {0, 0, width, height};
    gHarness.current.scale = 100.0;
    if (!StartBackgroundTask(gHarness.window, nullptr, width, height)) {
        DestroyWindow(gHarness.window);
        gHarness.window = nullptr;
        return false;
    }
    ReleaseMainDialogInitialization();
    SignalPreviewRenderingStarted();
    return true;
}

bool RenderPreviewFrame(const ParameterSet& set, PreviewFrame* frame, uint32_t timeoutMilliseconds) {
    if (!gHarness.window) return false;
    gHarness.current = set;
    gHarness.current.previewRect = {0, 0, gHarness.width, gHarness.height};
    const uint32_t before = PresentedFrameCount();
    NewBackgroundTaskParameters(nullptr);
    const DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (PresentedFrameCount() > before && gHarness.rendered.load() > 0 &&
            SameRequest(gHarness.lastRendered, gHarness.current))
            break;
        if (!BackgroundTaskRunning() || GetTickCount() - start > timeoutMilliseconds) return false;
        Sleep(2);
    }
    if (!WaitForScreenBitmap(5000)) return false;
    const ScreenBitmap* front = FrontScreenBitmap();
    const RECT at = PresentedBitmapRect();
    frame->width = gHarness.width;
    frame->height = gHarness.height;
    frame->rgba.assign(static_cast<size_t>(gHarness.width) * gHarness.height * 4, 127);
    for (size_t i = 3; i < frame->rgba.size(); i += 4) frame->rgba[i] = 255;
    if (front->bits) {
        for (int32_t y = 0; y < front->height; ++y) {
            const int32_t row = at.top + y;
            if (row < 0 || row >= gHarness.height) continue;
            // DIB rows run bottom-up, pixels as B, G, R, x.
            const auto* in = static_cast<const uint8_t*>(front->bits) +
                             static_cast<size_t>(front->height - 1 - y) * front->width * 4;
            for (int32_t x = 0; x < front->width; ++x) {
                const int32_t column = at.left + x;
                if (column < 0 || column >= gHarness.width) continue;
                uint8_t* out = &frame->rgba[(static_cast<size_t>(row) * gHarness.width + column) * 4];
                out[0] = in[x * 4 + 2];
                out[1] = in[x * 4 + 1];
                out[2] = in[x * 4 + 0];
                out[3] = 255;
            }
        }
    }
    ReleaseScreenBitmapMutex();
    return true;
}

void ClosePreviewHarness() {
    if (!gHarness.window) return;
    RequestBackgroundAbort();
    DestroyBackgroundTask();
    DestroyWindow(gHarness.window);
    gHarness.window = nullptr;
    SetAnalysisFinishedProcForTesting(nullptr);
    SetCurrentParameterSetProc(nullptr);
    Pump();
}

bool PreviewHarnessAccelerated() { return PreviewRendererAccelerated(); }
