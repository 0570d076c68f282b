// The preview window on the virtual display, driven by real window messages:
// a parent window stands in for the dialog (with the zoom buttons, the zoom
// display and the scroll bars it would own), the background task runs with
// stub renderer procedures that record every parameter set they are given,
// and the light source table holds a few stars of a 400 x 300 host image.
//
// Positions are computed the renderer's way from the rendered sets (the
// image placement of preview/proxy_display.h translated by the scroll
// offset, scaled by the zoom), not from the window's own rules.
#include "ui/proxy_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "analysis/light_source_table.h"
#include "gl/drawing_settings.h"
#include "host/host_image.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "image/tracked_buffer.h"
#include "params/parameter_files.h"
#include "preview/background_task.h"
#include "preview/proxy_display.h"
#include "support/debug_log.h"
#include "support/run_result.h"
#include "tests/test_support.h"
#include "ui/dialog_ids.h"

namespace {

constexpr int32_t kImageWidth = 400, kImageHeight = 300;
constexpr int kClientWidth = 202, kClientHeight = 152;  // a 200 x 150 view

struct Recorder {
    std::mutex lock;
    std::vector<ParameterSet> sets;
    std::vector<std::string> reports;  // every report but traces, from any thread
    HWND parent = nullptr, preview = nullptr;
    bool taskReady = false;
    int buttonClicks = 0;
};
Recorder* gRecorder = nullptr;

void RecordReport(uint32_t kind, const char* text) {
    if (kind == TRACE_MESSAGE || !gRecorder) return;
    const std::string line = text;
    // Wine has no colour profile for its display; the preview goes on with the default.
    if (line.find("display color profile") != std::string::npos || line.find("profile name") != std::string::npos)
        return;
    std::lock_guard<std::mutex> hold(gRecorder->lock);
    gRecorder->reports.push_back(line);
}

bool StubStart(const PreviewStartRecord& record) { return record.pixelFormat > 0; }
bool StubRender(const ParameterSet& set, HRGN) {
    std::lock_guard<std::mutex> hold(gRecorder->lock);
    gRecorder->sets.push_back(set);
    return true;
}
void StubFinish() {}
const PreviewRendererProcs kStubProcs = {StubStart, StubRender, StubFinish, nullptr, nullptr};

// The dialog's part of a set: the preview's view, the Preview check box on.
// (The preview asks for sets from its creation on, before CreateWindowEx returns.)
bool CurrentSet(ParameterSet* set) {
    HWND preview = GetDlgItem(gRecorder->parent, IDC_PREVIEW_AREA);
    if (!preview) return false;
    GetProxyViewState(preview, set);
    set->previewOn = true;
    return true;
}
bool AnalysisFinished() { return true; }

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PREVIEW_TASK_READY:
            gRecorder->taskReady = true;
            EnableProxyHideShow(gRecorder->preview, true);
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) gRecorder->buttonClicks++;
            return 0;
        case WM_HSCROLL:
        case WM_VSCROLL: ProxyScroll(gRecorder->preview, message == WM_HSCROLL ? SB_HORZ : SB_VERT, wParam); return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

class ProxyWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ForceGlobalErrorCode(RUN_OK);
        InitializeBufferUsage();
        ASSERT_TRUE(InitializeGammaTables());
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB8, nullptr));
        const ImageRect rect = {0, 0, kImageWidth, kImageHeight};
        ASSERT_TRUE(CreateImage(GetHostImage(), rect, rect, IMAGE_MODE_RGB8, GetHostProfile(), false, false));
        InitializeLightSourceList(&LightSourceTable);
        // Image positions; C is forced on (it was automatic before).
        AddStar(60, 40, LIGHT_SOURCE_AUTO, LIGHT_SOURCE_AUTO);     // A
        AddStar(150, 150, LIGHT_SOURCE_AUTO, LIGHT_SOURCE_AUTO);   // B
        AddStar(170, 160, LIGHT_SOURCE_SHOWN, LIGHT_SOURCE_AUTO);  // C
        AddStar(300, 250, LIGHT_SOURCE_AUTO, LIGHT_SOURCE_AUTO);   // D

        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        gRecorder = new Recorder();
        previousObserver = SetDebugReportObserver(RecordReport);
        HINSTANCE instance = GetModuleHandleA(nullptr);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = instance;
        wc.lpszClassName = "RaylumeProxyWindowTestParent";
        RegisterClassA(&wc);
        parent = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 20, 20, 400, 300, nullptr, nullptr,
                                 instance, nullptr);
        ASSERT_TRUE(parent);
        gRecorder->parent = parent;
        auto child = [&](const char* cls, DWORD style, int id, int x, int y, int w, int h) {
            return CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        };
        zoomIn = child("BUTTON", BS_PUSHBUTTON, IDC_ZOOM_IN, 240, 180, 20, 20);
        zoomOut = child("BUTTON", BS_PUSHBUTTON, IDC_ZOOM_OUT, 215, 180, 20, 20);
        display = child("STATIC", SS_LEFT, IDC_ZOOM_DISPLAY, 265, 180, 80, 20);
        horizontalBar = child("SCROLLBAR", SBS_HORZ, IDC_PREVIEW_HSCROLL, 10, 162, 202, 14);
        child("SCROLLBAR", SBS_VERT, IDC_PREVIEW_VSCROLL, 212, 10, 14, 152);
        ASSERT_TRUE(zoomIn && zoomOut && display && horizontalBar);

        SetPreviewRendererProcs(&kStubProcs);
        SetCurrentParameterSetProc(CurrentSet);
        SetAnalysisFinishedProcForTesting(AnalysisFinished);
        ASSERT_TRUE(CreateProxyDisplayClass(instance));
        preview = CreateWindowExA(0, "ProxyDisplay", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, kClientWidth,
                                  kClientHeight, parent, reinterpret_cast<HMENU>(IDC_PREVIEW_AREA), instance, nullptr);
        ASSERT_TRUE(preview);
        gRecorder->preview = preview;
        // The preview draws on the card: paint requests become redraw requests.
        SetGPUAccelerated(true);
        ReleaseMainDialogInitialization();  // no dialog does it here
        ASSERT_TRUE(PumpUntil([] { return gRecorder->taskReady; }, 5000)) << "the task never reported ready";
        Settle();
        ASSERT_FALSE(Sets().empty()) << "the handshake's full redraw was not rendered";
    }
    void TearDown() override {
        if (preview) DestroyWindow(preview);
        EXPECT_FALSE(BackgroundTaskRunning()) << "destroying the preview ends the task";
        if (parent) DestroyWindow(parent);
        DeleteProxyDisplayClass(GetModuleHandleA(nullptr));
        SetCurrentParameterSetProc(nullptr);
        SetAnalysisFinishedProcForTesting(nullptr);
        SetPreviewRendererProcs(nullptr);
        SetDebugReportObserver(previousObserver);
        for (const std::string& line : gRecorder->reports) ADD_FAILURE() << "unexpected report: " << line;
        delete gRecorder;
        gRecorder = nullptr;
        ReleaseLightSourceList(&LightSourceTable);
        ReleaseImage(GetHostImage());
        ReleaseColorManagement();
        ReleaseGammaTables();
        ForceGlobalErrorCode(RUN_OK);
    }

    static void AddStar(int32_t x, int32_t y, int32_t state, int32_t savedState) {
        LightSourceList* t = &LightSourceTable;
        ASSERT_EQ(0, ReallocateBufferPreserveContents((t->count + 2) * LIGHT_SOURCE_RECORD_SIZE, &t->records));
        LightSource s = {};
        s.x = x;
        s.y = y;
        s.radius = 2;
        s.radiusSquared = 4;
        s.state = state;
        s.savedState = savedState;
        LightSourceRecords(t)[t->count++] = s;
    }
    static const LightSource& Star(int i) { return LightSourceRecords(&LightSourceTable)[i]; }

    template <class Done>
    static bool PumpUntil(Done done, DWORD milliseconds) {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (done()) return true;
            if (GetTickCount() - start > milliseconds) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    // Pumps until the task has had nothing new to render for a while.
    static void Settle() {
        int32_t count = BackgroundRenderCount();
        DWORD quietSince = GetTickCount();
        PumpUntil(
            [&] {
                const int32_t now = BackgroundRenderCount();
                if (now != count) {
                    count = now;
                    quietSince = GetTickCount();
                }
                return GetTickCount() - quietSince > 250;
            },
            5000);
    }
    static std::vector<ParameterSet> Sets() {
        std::lock_guard<std::mutex> hold(gRecorder->lock);
        return gRecorder->sets;
    }
    static ParameterSet Last() {
        Settle();
        std::lock_guard<std::mutex> hold(gRecorder->lock);
        return gRecorder->sets.back();
    }
    static size_t SetCount() {
        std::lock_guard<std::mutex> hold(gRecorder->lock);
        return gRecorder->sets.size();
    }

    // Where the renderer draws image point (x, y) for a set, and which image
    // point it shows at a client point.
    static POINT ClientOf(const ParameterSet& set, double x, double y) {
        const RECT client = {set.previewRect.left, set.previewRect.top, set.previewRect.right, set.previewRect.bottom};
        const ImagePlacement place = PlaceImage(client, kImageWidth, kImageHeight, set.scale);
        return {static_cast<LONG>(std::lround(place.visible.left - set.scrollX + x * set.scale / 100.0)),
                static_cast<LONG>(std::lround(place.visible.top - set.scrollY + y * set.scale / 100.0))};
    }
    static void ImageAt(const ParameterSet& set, double cx, double cy, double* x, double* y) {
        const RECT client = {set.previewRect.left, set.previewRect.top, set.previewRect.right, set.previewRect.bottom};
        const ImagePlacement place = PlaceImage(client, kImageWidth, kImageHeight, set.scale);
        *x = (cx - place.visible.left + set.scrollX) * 100.0 / set.scale;
        *y = (cy - place.visible.top + set.scrollY) * 100.0 / set.scale;
    }

    // Modifier keys as the window's thread sees them.
    static void HoldKeys(std::initializer_list<int> keys) {
        BYTE state[256];
        GetKeyboardState(state);
        for (int key = 0; key < 256; ++key) state[key] &= 0x7F;
        for (int key : keys) state[key] |= 0x80;
        SetKeyboardState(state);
    }
    void Wheel(int delta) { SendMessageA(preview, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(100, 100)); }
    void Click(POINT at) { Drag(at, at); }
    void Drag(POINT from, POINT to) {
        SendMessageA(preview, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
        SendMessageA(preview, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
        SendMessageA(preview, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
    }
    std::string DisplayText() {
        char text[64] = {};
        GetWindowTextA(display, text, sizeof text);
        return text;
    }
    void Key(WPARAM key, int repeat = 1) { SendMessageA(preview, WM_KEYDOWN, key, repeat); }

    DebugReportObserver previousObserver = nullptr;
    HWND parent = nullptr, preview = nullptr, zoomIn = nullptr, zoomOut = nullptr, display = nullptr,
         horizontalBar = nullptr;
};

}  // namespace

TEST_F(ProxyWindow, EveryChangeOfViewReachesTheRendererAndTheControls) {
    // The first frame: 100 % with the image's middle in the view's middle.
    ParameterSet set = Last();
    EXPECT_EQ(set.scale, 100.0);
    EXPECT_EQ(set.previewRect.right, kClientWidth);
    EXPECT_EQ(set.previewRect.bottom, kClientHeight);
    EXPECT_EQ(set.markRect.right, 0);
    double x, y;
    ImageAt(set, 101, 76, &x, &y);
    EXPECT_NEAR(x, 200, 1);
    EXPECT_NEAR(y, 150, 1);
    EXPECT_EQ(DisplayText(), " 100.00%");

    // Alt and the wheel zoom by 1.1 per notch about the view's middle.
    HoldKeys({VK_MENU});
    Wheel(WHEEL_DELTA);
    set = Last();
    EXPECT_NEAR(set.scale, 110.0, 1e-9);
    EXPECT_EQ(GetProxyZoom(preview), set.scale);
    EXPECT_EQ(DisplayText(), " 110.00%");
    ImageAt(set, 101, 76, &x, &y);
    EXPECT_NEAR(x, 200, 1);
    EXPECT_NEAR(y, 150, 1);
    Wheel(-2 * WHEEL_DELTA);
    EXPECT_NEAR(Last().scale, 110.0 / 1.21, 1e-9);
    HoldKeys({});

    // The zoom steps from an off-level zoom to the next level, then level by level.
    ProxyZoomStep(preview, 1);
    EXPECT_EQ(Last().scale, 100.0);
    ProxyZoomStep(preview, 1);
    EXPECT_EQ(Last().scale, 200.0);
    ProxyZoomStep(preview, -2);
    EXPECT_EQ(Last().scale, 66.67);
    ProxyZoomStep(preview, 1);
    set = Last();
    EXPECT_EQ(set.scale, 100.0);

    // Scrolling by keys and by the scroll bar moves the image under the view,
    // and the scroll bar shows where the view is.
    Key(VK_RIGHT, 5);
    ParameterSet moved = Last();
    EXPECT_EQ(moved.scrollX, set.scrollX + 5);
    EXPECT_EQ(moved.scrollY, set.scrollY);
    EXPECT_EQ(GetScrollPos(horizontalBar, SB_CTL), moved.scrollX);
    SendMessageA(parent, WM_HSCROLL, SB_LINEDOWN, reinterpret_cast<LPARAM>(horizontalBar));
    EXPECT_EQ(Last().scrollX, moved.scrollX + 10);
    // The Hand drags the image with the cursor.
    set = Last();
    SelectProxyTool(preview, PREVIEW_TOOL_PAN);
    SendMessageA(preview, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 80));
    SendMessageA(preview, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(60, 50));
    PumpUntil([] { return false; }, 100);
    SendMessageA(preview, WM_LBUTTONUP, 0, MAKELPARAM(60, 50));
    moved = Last();
    EXPECT_EQ(moved.scrollX, set.scrollX + 40);
    EXPECT_EQ(moved.scrollY, set.scrollY + 30);
    EXPECT_EQ(moved.scale, set.scale);
    // Dragging a frame out of the view scrolls towards the cursor; losing the
    // capture ends the drag without zooming and removes the frame.
    SelectProxyTool(preview, PREVIEW_TOOL_ZOOM);
    SendMessageA(preview, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 80));
    SendMessageA(preview, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-19, 80));
    PumpUntil([] { return false; }, 350);
    ReleaseCapture();
    set = Last();
    EXPECT_LE(set.scrollX, moved.scrollX - 40);
    EXPECT_EQ(set.scrollY, moved.scrollY);
    EXPECT_EQ(set.scale, moved.scale);
    EXPECT_EQ(set.markRect.right, 0);

    Key(VK_HOME);
    set = Last();
    const POINT corner = ClientOf(set, 0, 0);
    EXPECT_EQ(corner.x, 1);
    EXPECT_EQ(corner.y, 1);
    Key(VK_END);
    set = Last();
    const POINT farCorner = ClientOf(set, kImageWidth, kImageHeight);
    EXPECT_EQ(farCorner.x, kClientWidth - 1);
    EXPECT_EQ(farCorner.y, kClientHeight - 1);
    EXPECT_EQ(GetScrollPos(horizontalBar, SB_CTL), set.scrollX);

    // Fit in View: the whole image, centred, without scrolling.
    ProxyFitInView(preview);
    set = Last();
    EXPECT_EQ(set.scale, 50.0);
    EXPECT_EQ(set.scrollX, 0);
    EXPECT_EQ(ClientOf(set, 0, 0).x, 1);
    EXPECT_EQ(ClientOf(set, kImageWidth, kImageHeight).x, kClientWidth - 1);

    // The dialog grows the preview: the same image point stays in the middle.
    ProxySetZoom(preview, 100);  // the image's middle in the view's
    set = Last();
    double midX, midY;
    ImageAt(set, kClientWidth / 2, kClientHeight / 2, &midX, &midY);
    SetWindowPos(preview, nullptr, 0, 0, kClientWidth + 60, kClientHeight + 40, SWP_NOMOVE | SWP_NOZORDER);
    ProxyDialogResized(preview);
    set = Last();
    EXPECT_EQ(set.previewRect.right, kClientWidth + 60);
    EXPECT_EQ(set.previewRect.bottom, kClientHeight + 40);
    ImageAt(set, (kClientWidth + 60) / 2, (kClientHeight + 40) / 2, &x, &y);
    EXPECT_NEAR(x, midX, 1);
    EXPECT_NEAR(y, midY, 1);
    SetWindowPos(preview, nullptr, 0, 0, kClientWidth, kClientHeight, SWP_NOMOVE | SWP_NOZORDER);
    ProxyDialogResized(preview);

    // Drawing off screen, the renderer's note that it published a frame makes
    // the window paint the screen bitmap and asks for nothing new; any other
    // redraw message is a request.
    Settle();
    SetGPUAccelerated(false);
    const size_t before = SetCount();
    RECT whole = {0, 0, kClientWidth, kClientHeight};
    HRGN published = CreateRectRgnIndirect(&whole);
    PostMessageA(preview, WM_PREVIEW_REDRAW, reinterpret_cast<WPARAM>(published), PROXY_REDRAW_TAG_PUBLISHED);
    Settle();
    EXPECT_EQ(GetObjectType(published), 0u) << "the region of the message is deleted";
    EXPECT_FALSE(GetUpdateRect(preview, nullptr, FALSE)) << "the window was painted";
    EXPECT_EQ(SetCount(), before);
    SetGPUAccelerated(true);
    PostMessageA(preview, WM_PREVIEW_REDRAW, 0, REDRAW_FROM_HANDSHAKE);
    Settle();
    EXPECT_EQ(SetCount(), before + 1);
}

TEST_F(ProxyWindow, ZoomStopsAtItsLimitsAndTheZoomToolClicksAndDrags) {
    ProxySetZoom(preview, 6400);
    EXPECT_FALSE(IsWindowEnabled(zoomIn));
    EXPECT_TRUE(IsWindowEnabled(zoomOut));
    ProxyZoomStep(preview, 1);
    EXPECT_EQ(Last().scale, 6400.0);
    EXPECT_EQ(GetProxyZoom(preview), 6400.0);
    EXPECT_FALSE(IsWindowEnabled(zoomIn)) << "zooming in from 6400 keeps the button disabled";
    EXPECT_EQ(DisplayText(), " 6400.00%");
    ProxyZoomStep(preview, -1);
    EXPECT_EQ(Last().scale, 3200.0);
    EXPECT_TRUE(IsWindowEnabled(zoomIn));
    ProxySetZoom(preview, 0.01);
    EXPECT_EQ(GetProxyZoom(preview), 0.3);
    EXPECT_FALSE(IsWindowEnabled(zoomOut));
    ProxyZoomStep(preview, -1);
    EXPECT_EQ(Last().scale, 0.3);

    // With the Zoom tool a move within the drag distance is a click: one step
    // in, the clicked image point brought to the view's middle.
    ProxySetZoom(preview, 100);
    SelectProxyTool(preview, PREVIEW_TOOL_ZOOM);
    ParameterSet set = Last();
    double x, y;
    ImageAt(set, 60, 50, &x, &y);
    const int cx = GetSystemMetrics(SM_CXDRAG);
    Drag({60, 50}, {60 + cx, 50});
    set = Last();
    EXPECT_EQ(set.scale, 200.0);
    double mx, my;
    ImageAt(set, 101, 76, &mx, &my);
    EXPECT_NEAR(mx, x, 1);
    EXPECT_NEAR(my, y, 1);

    // A drag spans a frame that the renderer is given while the button is
    // down, and then fills the view: 50 x 25 pixels of a 200 x 150 view zoom by 4.
    ImageAt(set, 75, 63, &x, &y);  // the middle of the frame below
    SendMessageA(preview, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
    SendMessageA(preview, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, 75));
    ParameterSet view;
    GetProxyViewState(preview, &view);
    EXPECT_EQ(view.markRect.left, 50);
    EXPECT_EQ(view.markRect.top, 50);
    EXPECT_EQ(view.markRect.right, 100);
    EXPECT_EQ(view.markRect.bottom, 75);
    EXPECT_EQ(Last().markRect.right, 100) << "the frame's paint becomes a redraw with the frame";
    SendMessageA(preview, WM_LBUTTONUP, 0, MAKELPARAM(100, 75));
    set = Last();
    EXPECT_EQ(set.scale, 800.0);
    EXPECT_EQ(set.markRect.right, 0) << "the frame is gone after the zoom";
    ImageAt(set, 101, 76, &mx, &my);
    EXPECT_NEAR(mx, x, 1);
    EXPECT_NEAR(my, y, 1);
}

TEST_F(ProxyWindow, HideToolChangesTheStarsUnderClicksAndRectangles) {
    ProxyFitInView(preview);  // 50 %: every star is in the view, the pick radius is 20 screen pixels
    SelectProxyTool(preview, PREVIEW_TOOL_HIDE);
    ParameterSet set = Last();
    ASSERT_EQ(set.scale, 50.0);
    const int32_t startEdits = set.lightSourceEdits;

    // A click near A hides it and the next frame knows of the edit.
    POINT a = ClientOf(set, 60, 40);
    Click({a.x + 3, a.y});
    set = Last();
    EXPECT_EQ(Star(0).state, LIGHT_SOURCE_HIDDEN);
    EXPECT_EQ(Star(0).savedState, LIGHT_SOURCE_AUTO);
    EXPECT_GT(set.lightSourceEdits, startEdits);

    // A click far from every star changes nothing, but still counts an edit and redraws.
    const size_t sets = SetCount();
    const POINT empty = ClientOf(set, 240, 60);
    Click(empty);
    ParameterSet after = Last();
    EXPECT_EQ(Star(1).state, LIGHT_SOURCE_AUTO);
    EXPECT_EQ(Star(2).state, LIGHT_SOURCE_SHOWN);
    EXPECT_EQ(Star(3).state, LIGHT_SOURCE_AUTO);
    EXPECT_GT(after.lightSourceEdits, set.lightSourceEdits);
    EXPECT_GT(SetCount(), sets);

    // A rectangle over B and C hides both; with Alt the same rectangle
    // reveals them, each in its earlier state (C forced on again). A, hidden
    // outside the rectangle, stays hidden; D is untouched.
    const POINT from = ClientOf(after, 135, 135), to = ClientOf(after, 185, 175);
    Drag(from, to);
    EXPECT_EQ(Star(1).state, LIGHT_SOURCE_HIDDEN);
    EXPECT_EQ(Star(2).state, LIGHT_SOURCE_HIDDEN);
    EXPECT_EQ(Star(3).state, LIGHT_SOURCE_AUTO);
    set = Last();
    EXPECT_GT(set.lightSourceEdits, after.lightSourceEdits);
    EXPECT_EQ(set.markRect.right, 0) << "the frame is removed";
    HoldKeys({VK_MENU});
    Drag(from, to);
    HoldKeys({});
    EXPECT_EQ(Star(1).state, LIGHT_SOURCE_AUTO);
    EXPECT_EQ(Star(2).state, LIGHT_SOURCE_SHOWN);
    EXPECT_EQ(Star(0).state, LIGHT_SOURCE_HIDDEN);
    EXPECT_EQ(Star(3).state, LIGHT_SOURCE_AUTO);
    EXPECT_GT(Last().lightSourceEdits, set.lightSourceEdits);

    // Until the task is initialised the tool leaves the table alone.
    EnableProxyHideShow(preview, false);
    const uint32_t edits = GetLightSourceChangeCount(&LightSourceTable);
    const POINT d = ClientOf(Last(), 300, 250);
    Click(d);
    Drag(from, to);
    EXPECT_EQ(Star(3).state, LIGHT_SOURCE_AUTO);
    EXPECT_EQ(Star(1).state, LIGHT_SOURCE_AUTO);
    EXPECT_EQ(GetLightSourceChangeCount(&LightSourceTable), edits);
}

TEST_F(ProxyWindow, TheCursorAndSpaceFollowTheToolAndTheModifierKeys) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    auto cursor = [](int id) { return LoadCursorA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)); };
    for (int id = IDC_CURSOR_HAND_OPEN; id <= IDC_CURSOR_SHOW; ++id) {
        ICONINFO info = {};
        ASSERT_TRUE(cursor(id) && GetIconInfo(cursor(id), &info)) << "cursor " << id;
        BITMAP mask = {};
        GetObjectA(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, 32) << "cursor " << id;
        EXPECT_FALSE(info.fIcon);
        DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
    }
    (void)instance;
    auto shown = [&] {
        SendMessageA(preview, WM_SETCURSOR, reinterpret_cast<WPARAM>(preview), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return GetCursor();
    };
    SelectProxyTool(preview, PREVIEW_TOOL_ZOOM);
    EXPECT_EQ(shown(), cursor(IDC_CURSOR_ZOOM_IN));
    HoldKeys({VK_MENU});
    EXPECT_EQ(shown(), cursor(IDC_CURSOR_ZOOM_OUT));
    HoldKeys({});
    ProxySetZoom(preview, 6400);
    EXPECT_EQ(shown(), cursor(IDC_CURSOR_ZOOM_LIMIT));
    SelectProxyTool(preview, PREVIEW_TOOL_HIDE);
    EXPECT_EQ(shown(), cursor(IDC_CURSOR_HIDE));
    HoldKeys({VK_MENU});
    EXPECT_EQ(shown(), cursor(IDC_CURSOR_SHOW)) << "Alt with the Hide tool reveals";
    HoldKeys({VK_CONTROL});
    EXPECT_EQ(shown(), cursor(IDC_CURSOR_ZOOM_LIMIT)) << "Ctrl borrows the Zoom tool, at its limit here";
    HoldKeys({});
    SelectProxyTool(preview, PREVIEW_TOOL_PAN);
    EXPECT_EQ(shown(), cursor(IDC_CURSOR_HAND_OPEN));

    // A real Space press over the preview: the Hand is borrowed while it is
    // held, and the focused button is not pressed.
    SelectProxyTool(preview, PREVIEW_TOOL_SHOW);
    SetForegroundWindow(parent);
    SetFocus(zoomOut);
    POINT middle = {kClientWidth / 2, kClientHeight / 2};
    ClientToScreen(preview, &middle);
    SetCursorPos(middle.x, middle.y);
    PumpUntil([&] { return GetFocus() == zoomOut; }, 1000);
    ASSERT_EQ(GetFocus(), zoomOut);
    keybd_event(VK_SPACE, 0x39, 0, 0);
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(GetCursor(), cursor(IDC_CURSOR_HAND_OPEN)) << "Space borrows the Hand";
    EXPECT_EQ(shown(), cursor(IDC_CURSOR_HAND_OPEN));
    keybd_event(VK_SPACE, 0x39, KEYEVENTF_KEYUP, 0);
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(GetCursor(), cursor(IDC_CURSOR_SHOW));
    EXPECT_EQ(gRecorder->buttonClicks, 0) << "Space over the preview must not press the focused button";
}
