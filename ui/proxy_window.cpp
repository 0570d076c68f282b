#include "ui/proxy_window.h"
#include "ui/guarded_procedure.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "analysis/light_source_table.h"
#include "gl/drawing_settings.h"
#include "gl/screen_bitmap.h"
#include "image/document_image.h"
#include "params/parameter_files.h"
#include "preview/background_task.h"
#include "preview/proxy_display.h"
#include "support/debug_log.h"
#include "ui/dialog_ids.h"
#include "ui/zoom_rules.h"

namespace {

constexpr char kClassName[] = "ProxyDisplay";
constexpr UINT_PTR TIMER_PAN = 1;    // panning: the view follows the cursor
constexpr UINT_PTR TIMER_TRACK = 2;  // a frame is dragged: scrolls when the cursor is outside the view
constexpr UINT PAN_INTERVAL = 15;
constexpr UINT TRACK_INTERVAL = 100;
constexpr DWORD SCREEN_BITMAP_WAIT = 250;  // ms the painting waits for the renderer's exchange
constexpr int32_t SCROLL_LINE = 10;        // pixels per scroll bar line
constexpr DWORD TOOLTIP_VISIBLE = 30000;   // ms

WNDPROC gStaticProc = nullptr;

// The keyboard hook serves the one preview window of the thread.
HHOOK gKeyboardHook = nullptr;
HWND gHookWindow = nullptr;
bool gSpaceHeld = false;  // Space is swallowed over the preview, so its key state is kept here

const WORD kCursorIds[PROXY_CURSOR_COUNT] = {
    0,  // the arrow, from the system
    IDC_CURSOR_HAND_OPEN,
    IDC_CURSOR_HAND_GRAB,
    IDC_CURSOR_ZOOM_IN,
    IDC_CURSOR_ZOOM_OUT,
    IDC_CURSOR_ZOOM_LIMIT,
    IDC_CURSOR_HIDE,
    IDC_CURSOR_SHOW,
};

// Everything the window keeps, in GWLP_USERDATA from WM_NCCREATE to WM_NCDESTROY.
struct ProxyWindow {
    HWND window = nullptr;
    HWND dialog = nullptr;
    DWORD uiThread = 0;
    bool primaryIsRight = false;  // the buttons are swapped
    bool ownsTask = false;        // this window started (or tried to start) the background task
    bool taskStarted = false;     // and it runs
    bool hideShowEnabled = false;
    int32_t tool = PREVIEW_TOOL_ZOOM;
    ZoomView view;
    // The press and the drag.
    int32_t mouseState = MOUSE_IDLE;
    ZoomPoint down = {0, 0};        // client pixels
    ZoomPoint downZoomed = {0, 0};  // the same point in zoomed-image pixels: the frame's corner follows scrolling
    ZoomPoint cursor = {0, 0};      // the last known cursor position, client pixels
    ZoomPoint lastTick = {0, 0};    // the cursor at the previous panning tick
    ZoomRect frame = {0, 0, 0, 0};  // the tracking frame (client pixels)
    int32_t wheelRemainder = 0;
    HCURSOR cursors[PROXY_CURSOR_COUNT] = {};
    HWND tooltip = nullptr;
};

ProxyWindow* StateOf(HWND window) {
    char name[sizeof kClassName + 1] = {};
    if (!window || !GetClassNameA(window, name, sizeof name) || lstrcmpiA(name, kClassName) != 0) return nullptr;
    return reinterpret_cast<ProxyWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CallStatic(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return gStaticProc ? CallWindowProcA(gStaticProc, window, message, wParam, lParam)
                       : DefWindowProcA(window, message, wParam, lParam);
}

KeyModifiers CurrentKeys() {
    KeyModifiers keys;
    keys.ctrl = GetKeyState(VK_CONTROL) < 0;
    keys.alt = GetKeyState(VK_MENU) < 0;
    keys.shift = GetKeyState(VK_SHIFT) < 0;
    keys.space = gSpaceHeld || GetKeyState(VK_SPACE) < 0;
    return keys;
}

bool CursorOverWindow(HWND window) {
    POINT at;
    return GetCursorPos(&at) && WindowFromPoint(at) == window;
}

ZoomPoint PointOf(LPARAM lParam) {
    return {static_cast<double>(static_cast<short>(LOWORD(lParam))),
            static_cast<double>(static_cast<short>(HIWORD(lParam)))};
}

RECT ToRect(const ZoomRect& r) { return {r.left, r.top, r.right, r.bottom}; }
// A frame is "none" when all zeros; one without width or height (a straight drag) still counts.
bool HasFrame(const ZoomRect& r) { return r.left != 0 || r.top != 0 || r.right != 0 || r.bottom != 0; }

// ---- the view and the controls around it ----

// The client and image sizes as they are now.
void RefreshGeometry(ProxyWindow* p) {
    RECT client = {0, 0, 0, 0};
    GetClientRect(p->window, &client);
    p->view.clientWidth = client.right - client.left;
    p->view.clientHeight = client.bottom - client.top;
    const Image* host = GetHostImage();
    const int64_t w = host ? host->width : 0, h = host ? host->height : 0;
    p->view.imageWidth = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(w, 1), INT32_MAX));
    p->view.imageHeight = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(h, 1), INT32_MAX));
}

void UpdateScrollBar(HWND bar, int32_t zoomed, int32_t view, int32_t position) {
    if (!bar) return;
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = std::max(zoomed - 1, 0);
    info.nPage = static_cast<UINT>(std::max(view, 0));
    info.nPos = position;
    SetScrollInfo(bar, SB_CTL, &info, TRUE);
}

void EnableZoomButton(ProxyWindow* p, int id, bool enabled) {
    HWND button = GetDlgItem(p->dialog, id);
    if (!button || (IsWindowEnabled(button) != FALSE) == enabled) return;
    if (!enabled && GetFocus() == button) SetFocus(p->window);
    EnableWindow(button, enabled);
}

// The scroll bars, the zoom display and the zoom buttons from the view.
void UpdateControls(ProxyWindow* p) {
    if (!p->dialog) return;
    const ZoomPlacement place = PlaceView(p->view);
    UpdateScrollBar(GetDlgItem(p->dialog, IDC_PREVIEW_HSCROLL), place.zoomedWidth, place.view.right - place.view.left,
                    place.scrollX);
    UpdateScrollBar(GetDlgItem(p->dialog, IDC_PREVIEW_VSCROLL), place.zoomedHeight, place.view.bottom - place.view.top,
                    place.scrollY);
    if (HWND display = GetDlgItem(p->dialog, IDC_ZOOM_DISPLAY))
        SetWindowTextA(display, ZoomDisplayText(p->view.zoom).c_str());
    EnableZoomButton(p, IDC_ZOOM_IN, p->view.zoom < ZOOM_MAX);
    EnableZoomButton(p, IDC_ZOOM_OUT, p->view.zoom > ZOOM_MIN);
}

HCURSOR CurrentCursor(ProxyWindow* p) {
    const KeyModifiers keys = CurrentKeys();
    const bool hideShowTool = p->tool == PREVIEW_TOOL_HIDE || p->tool == PREVIEW_TOOL_SHOW;
    ProxyCursor kind = CursorFor(p->tool, keys, p->mouseState == MOUSE_PANNING, p->view.zoom);
    // Until the light sources are known the Hide and Show tools do nothing.
    if (hideShowTool && !p->hideShowEnabled && (kind == PROXY_CURSOR_HIDE || kind == PROXY_CURSOR_SHOW))
        kind = PROXY_CURSOR_ARROW;
    return p->cursors[kind] ? p->cursors[kind] : p->cursors[PROXY_CURSOR_ARROW];
}

void UpdateCursor(ProxyWindow* p) {
    if (GetCapture() == p->window || CursorOverWindow(p->window)) SetCursor(CurrentCursor(p));
}

// A redraw of the whole preview by the background task. The off-screen
// preview is told which part to redraw; the accelerated one redraws all.
void RequestRedraw(ProxyWindow* p) {
    if (!p->taskStarted) return;
    HRGN region = nullptr;
    if (UseOffscreenBitmap()) {
        RECT client;
        GetClientRect(p->window, &client);
        region = CreateRectRgnIndirect(&client);
        if (!region) ReportUnexpected(__LINE__, "Could not create InvalidationRegion for Proxy client rectangle.");
    }
    if (GetCurrentThreadId() == p->uiThread) {
        NewBackgroundTaskParameters(region);
    } else if (!PostMessageA(p->window, WM_PREVIEW_REDRAW, reinterpret_cast<WPARAM>(region), 0) && region) {
        DeleteObject(region);
    }
}

// After every change of view: the controls, the cursor and the preview follow.
void ViewChanged(ProxyWindow* p) {
    UpdateControls(p);
    UpdateCursor(p);
    RequestRedraw(p);
}

// The single entry of every zoom change: `anchor` in zoomed-image pixels, or
// null for the view centre.
void SetZoom(ProxyWindow* p, const ZoomPoint* anchor, double zoom) {
    RefreshGeometry(p);
    SetViewZoom(&p->view, zoom, anchor);
    ViewChanged(p);
}

void FitInView(ProxyWindow* p) {
    RefreshGeometry(p);
    SetZoom(p, nullptr, FitZoom(p->view.clientWidth, p->view.clientHeight, p->view.imageWidth, p->view.imageHeight));
}

// Scrolls by zoomed-image pixels; nothing is redrawn when the view did not move.
void ScrollBy(ProxyWindow* p, double dx, double dy) {
    RefreshGeometry(p);
    const ZoomPlacement before = PlaceView(p->view);
    ScrollViewBy(&p->view, dx, dy);
    const ZoomPlacement after = PlaceView(p->view);
    if (after.scrollX != before.scrollX || after.scrollY != before.scrollY) ViewChanged(p);
}

void ScrollTo(ProxyWindow* p, double left, double top) {
    RefreshGeometry(p);
    const ZoomPlacement before = PlaceView(p->view);
    ScrollViewTo(&p->view, left, top);
    const ZoomPlacement after = PlaceView(p->view);
    if (after.scrollX != before.scrollX || after.scrollY != before.scrollY) ViewChanged(p);
}

int32_t PageWidth(const ProxyWindow* p) { return std::max(p->view.clientWidth - 2, 1); }
int32_t PageHeight(const ProxyWindow* p) { return std::max(p->view.clientHeight - 2, 1); }

// One step in or out anchored at a click, the click held inside the view.
void ZoomAtClick(ProxyWindow* p, ZoomPoint click, int steps) {
    const ZoomRect view = PlaceView(p->view).view;
    click.x = std::min(std::max(click.x, static_cast<double>(view.left)), static_cast<double>(view.right - 1));
    click.y = std::min(std::max(click.y, static_cast<double>(view.top)), static_cast<double>(view.bottom - 1));
    const ZoomPoint anchor = ClientToZoomed(p->view, click);
    SetZoom(p, &anchor, StepZoom(p->view.zoom, steps));
}

void FitOnScreen(ProxyWindow* p) {
    if (p->dialog) {
        MONITORINFO info = {};
        info.cbSize = sizeof info;
        HMONITOR monitor = MonitorFromWindow(p->dialog, MONITOR_DEFAULTTONEAREST);
        if (monitor && GetMonitorInfoA(monitor, &info)) {
            const RECT& work = info.rcWork;
            // The dialog lays its controls out again (and tells the preview) before this returns.
            SetWindowPos(p->dialog, nullptr, work.left, work.top, work.right - work.left, work.bottom - work.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        } else {
            ReportUnexpected(__LINE__, "ProxyFitOnScreen() - Could not get the monitor of the dialog.");
        }
    }
    FitInView(p);
}

// ---- the tracking frame ----

void SetFrame(ProxyWindow* p, const ZoomRect& frame) {
    const ZoomRect& old = p->frame;
    if (std::memcmp(&old, &frame, sizeof frame) == 0) return;
    RECT a = ToRect(old), b = ToRect(frame), both;
    // An empty frame (a click, a straight drag) is kept for the release but draws nothing.
    const bool hadOld = !ZoomRectEmpty(old), hasNew = !ZoomRectEmpty(frame);
    if (!hadOld && !hasNew) {
        p->frame = frame;
        return;
    }
    if (hadOld && hasNew) {
        both = {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
    } else {
        both = hadOld ? a : b;
    }
    p->frame = frame;
    InflateRect(&both, 1, 1);
    InvalidateRect(p->window, &both, FALSE);
}

void RemoveFrame(ProxyWindow* p) { SetFrame(p, {0, 0, 0, 0}); }

void UpdateFrame(ProxyWindow* p) {
    SetFrame(p, TrackingFrame(p->view, ZoomedToClient(p->view, p->downZoomed), p->cursor));
}

// ---- the mouse ----

void StopTimers(ProxyWindow* p) {
    KillTimer(p->window, TIMER_PAN);
    KillTimer(p->window, TIMER_TRACK);
}

void ButtonDown(ProxyWindow* p, ZoomPoint at) {
    if (GetFocus() != p->window) SetFocus(p->window);
    if (p->mouseState != MOUSE_IDLE) return;
    int32_t state = MouseStateFor(p->tool, CurrentKeys());
    if (state == MOUSE_STATE_INVALID) {
        ReportUnexpected(__LINE__, "Invalid Tool encountered in event WM_LBUTTONDOWN");
        return;
    }
    // The table may still be filled by the analysis until the task is initialised.
    if (HideShowOperationFor(state) >= 0 && !p->hideShowEnabled) state = MOUSE_NO_ACTION;
    RefreshGeometry(p);
    SetCapture(p->window);
    p->mouseState = state;
    p->down = p->cursor = p->lastTick = at;
    p->downZoomed = ClientToZoomed(p->view, at);
    if (state == MOUSE_PANNING) SetTimer(p->window, TIMER_PAN, PAN_INTERVAL, nullptr);
    if (IsTrackingState(state)) SetTimer(p->window, TIMER_TRACK, TRACK_INTERVAL, nullptr);
    UpdateCursor(p);
}

void MouseMoved(ProxyWindow* p, ZoomPoint at) {
    p->cursor = at;
    if (!IsValidMouseState(p->mouseState)) {
        ReportUnexpected(__LINE__, "Invalid Mouse State encountered in event WM_MOUSEMOVE");
        return;
    }
    if (IsTrackingState(p->mouseState)) UpdateFrame(p);
}

void TimerTick(ProxyWindow* p, UINT_PTR timer) {
    if (timer == TIMER_PAN && p->mouseState == MOUSE_PANNING) {
        // The image follows the cursor.
        const double dx = p->cursor.x - p->lastTick.x, dy = p->cursor.y - p->lastTick.y;
        p->lastTick = p->cursor;
        if (dx != 0 || dy != 0) ScrollBy(p, -dx, -dy);
    } else if (timer == TIMER_TRACK && IsTrackingState(p->mouseState)) {
        // Outside the view the view scrolls towards the cursor, by how far it is out.
        const ZoomRect view = PlaceView(p->view).view;
        double dx = 0, dy = 0;
        if (p->cursor.x < view.left) dx = p->cursor.x - view.left;
        if (p->cursor.x >= view.right) dx = p->cursor.x - (view.right - 1);
        if (p->cursor.y < view.top) dy = p->cursor.y - view.top;
        if (p->cursor.y >= view.bottom) dy = p->cursor.y - (view.bottom - 1);
        if (dx != 0 || dy != 0) {
            ScrollBy(p, dx, dy);
            UpdateFrame(p);
        }
    }
}

void ButtonUp(ProxyWindow* p, ZoomPoint at) {
    const int32_t state = p->mouseState;
    if (state == MOUSE_IDLE) return;
    p->cursor = at;
    if (IsTrackingState(state)) UpdateFrame(p);
    StopTimers(p);
    p->mouseState = MOUSE_IDLE;  // before the capture goes, so that its loss ends nothing
    const bool drag = IsDrag(p->down, at, GetSystemMetrics(SM_CXDRAG), GetSystemMetrics(SM_CYDRAG));
    const ZoomRect frame = p->frame;
    const bool haveFrame = HasFrame(frame);
    const ZoomPoint click = p->down;  // a click acts where the button went down
    switch (state) {
        case MOUSE_NO_ACTION:
        case MOUSE_PANNING: break;
        case MOUSE_ZOOM_OUT_CLICK: ZoomAtClick(p, click, -1); break;
        case MOUSE_ZOOM_IN_CLICK: ZoomAtClick(p, click, 1); break;
        case MOUSE_ZOOM:
            RemoveFrame(p);
            if (drag && haveFrame) {
                const ZoomPlacement place = PlaceView(p->view);
                const double zoom =
                    DragRectZoom(p->view.zoom, frame.right - frame.left, frame.bottom - frame.top,
                                 place.view.right - place.view.left, place.view.bottom - place.view.top);
                const ZoomPoint anchor =
                    ClientToZoomed(p->view, {(frame.left + frame.right) / 2.0, (frame.top + frame.bottom) / 2.0});
                SetZoom(p, &anchor, zoom);
            } else {
                ZoomAtClick(p, click, 1);
            }
            break;
        case MOUSE_HIDE:
        case MOUSE_REVEAL:
        case MOUSE_SHOW:
        case MOUSE_UNDO_SHOW: {
            const int32_t operation = HideShowOperationFor(state);
            RemoveFrame(p);
            if (drag) {
                if (haveFrame && HideShowInRect(&LightSourceTable, p->view, frame, operation)) RequestRedraw(p);
            } else {
                HideShowNearest(&LightSourceTable, p->view, click, operation);
                RequestRedraw(p);
            }
            break;
        }
        default:
            ReportUnexpected(__LINE__, "Invalid Mouse State encountered in event WM_LBUTTONUP");
            RemoveFrame(p);
            break;
    }
    if (GetCapture() == p->window) ReleaseCapture();
    UpdateCursor(p);
}

void CaptureLost(ProxyWindow* p) {
    if (p->mouseState == MOUSE_IDLE) return;
    if (!IsValidMouseState(p->mouseState))
        ReportUnexpected(__LINE__, "Invalid Mouse State encountered in event WM_CAPTURECHANGED");
    StopTimers(p);
    p->mouseState = MOUSE_IDLE;
    RemoveFrame(p);
    UpdateCursor(p);
}

void Wheel(ProxyWindow* p, WPARAM wParam) {
    KeyModifiers keys;
    keys.ctrl = (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) != 0;
    keys.shift = (GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT) != 0;
    keys.alt = GetKeyState(VK_MENU) < 0;
    const WheelAction action = WheelRule(&p->wheelRemainder, GET_WHEEL_DELTA_WPARAM(wParam), keys);
    switch (action.kind) {
        case WHEEL_ZOOM_STEPS: SetZoom(p, nullptr, StepZoom(p->view.zoom, action.amount)); break;
        case WHEEL_ZOOM_FACTOR: SetZoom(p, nullptr, WheelZoom(p->view.zoom, action.amount)); break;
        case WHEEL_PAGE_X: ScrollBy(p, static_cast<double>(action.amount) * PageWidth(p), 0); break;
        case WHEEL_SCROLL_X: ScrollBy(p, action.amount, 0); break;
        case WHEEL_PAGE_Y: ScrollBy(p, 0, static_cast<double>(action.amount) * PageHeight(p)); break;
        case WHEEL_SCROLL_Y: ScrollBy(p, 0, action.amount); break;
        case WHEEL_NONE: break;
    }
}

// Keys in the preview; true when handled.
bool KeyDown(ProxyWindow* p, WPARAM key, LPARAM lParam) {
    const double r = std::max<int>(LOWORD(lParam), 1);
    const bool ctrl = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
    const double step = ctrl ? 10 * r : r;
    switch (key) {
        case VK_LEFT: ScrollBy(p, -step, 0); return true;
        case VK_RIGHT: ScrollBy(p, step, 0); return true;
        case VK_UP: ScrollBy(p, 0, -step); return true;
        case VK_DOWN: ScrollBy(p, 0, step); return true;
        case VK_HOME: ScrollTo(p, 0, 0); return true;
        case VK_END: ScrollTo(p, INT32_MAX, INT32_MAX); return true;
        case VK_PRIOR:
        case VK_NEXT: {
            const double sign = key == VK_PRIOR ? -1 : 1;
            if (shift)
                ctrl ? ScrollBy(p, sign * 10 * r, 0) : ScrollBy(p, 0, sign * 10 * r);
            else
                ctrl ? ScrollBy(p, sign * r * PageWidth(p), 0) : ScrollBy(p, 0, sign * r * PageHeight(p));
            return true;
        }
        case VK_CONTROL:
        case VK_SHIFT:
        case VK_MENU: UpdateCursor(p); return true;
        default: return false;
    }
}

// ---- the zoom menu ----

void ZoomMenu(ProxyWindow* p, POINT screen, UINT alignment, const ZoomPoint* anchor) {
    HMENU menu = CreatePopupMenu();
    if (!menu) {
        ReportUnexpected(__LINE__, "TrackPopupMenu() failed with error code 0x%X",
                         static_cast<unsigned>(GetLastError()));
        return;
    }
    bool checked = false;
    for (int i = 0; i < ZOOM_MENU_ENTRY_COUNT; ++i) {
        const ZoomMenuEntry& entry = ZOOM_MENU_ENTRIES[i];
        if (entry.kind != ZOOM_MENU_SET && ZOOM_MENU_ENTRIES[i - 1].kind == ZOOM_MENU_SET)
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        UINT flags = MF_STRING;
        if (entry.kind == ZOOM_MENU_SET && !checked && entry.zoom == p->view.zoom) {
            flags |= MF_CHECKED;
            checked = true;
        }
        AppendMenuA(menu, flags, static_cast<UINT_PTR>(ZOOM_MENU_FIRST_COMMAND + i), entry.text);
    }
    const UINT flags =
        alignment | TPM_RETURNCMD | TPM_NONOTIFY | (p->primaryIsRight ? TPM_RIGHTBUTTON : TPM_LEFTBUTTON);
    SetLastError(0);
    const int chosen = static_cast<int>(TrackPopupMenu(menu, flags, screen.x, screen.y, 0, p->window, nullptr));
    const DWORD error = GetLastError();
    DestroyMenu(menu);
    if (chosen == 0) {
        if (error != 0)
            ReportUnexpected(__LINE__, "TrackPopupMenu() failed with error code 0x%X", static_cast<unsigned>(error));
        return;
    }
    const int index = chosen - ZOOM_MENU_FIRST_COMMAND;
    if (index < 0 || index >= ZOOM_MENU_ENTRY_COUNT) {
        ReportUnexpected(__LINE__, "TrackPopupMenu() returned unexpected value 0x%X", static_cast<unsigned>(chosen));
        return;
    }
    const ZoomMenuEntry& entry = ZOOM_MENU_ENTRIES[index];
    switch (entry.kind) {
        case ZOOM_MENU_SET: SetZoom(p, anchor, entry.zoom); break;
        case ZOOM_MENU_FIT_IN_VIEW: FitInView(p); break;
        case ZOOM_MENU_FIT_ON_SCREEN: FitOnScreen(p); break;
    }
}

void ContextMenu(ProxyWindow* p, LPARAM lParam) {
    POINT screen = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    RefreshGeometry(p);
    if (lParam == -1) {  // from the keyboard: at the middle of the preview
        screen = {p->view.clientWidth / 2, p->view.clientHeight / 2};
        ClientToScreen(p->window, &screen);
    }
    POINT client = screen;
    ScreenToClient(p->window, &client);
    const ZoomRect view = PlaceView(p->view).view;
    const bool inView =
        client.x >= view.left && client.x < view.right && client.y >= view.top && client.y < view.bottom;
    const ZoomPoint anchor = ClientToZoomed(p->view, {static_cast<double>(client.x), static_cast<double>(client.y)});
    ZoomMenu(p, screen, TPM_LEFTALIGN | TPM_TOPALIGN, inView ? &anchor : nullptr);
}

// ---- painting ----

// With the accelerated context the task draws the window itself: what needs
// painting becomes a redraw request.
void PaintAccelerated(ProxyWindow* p) {
    HRGN update = CreateRectRgn(0, 0, 0, 0);
    if (!update) {
        ReportUnexpected(__LINE__, "Could not create UpdateRegion.");
    } else if (GetUpdateRgn(p->window, update, FALSE) == ERROR) {
        ReportUnexpected(__LINE__, "Could not get update region for proxy display.");
        DeleteObject(update);
        update = nullptr;
    }
    ValidateRect(p->window, nullptr);
    if (p->taskStarted) {
        NewBackgroundTaskParameters(update);
    } else if (update) {
        DeleteObject(update);
    }
}

// The tracking frame drawn over the bitmap, as the accelerated renderer
// outlines it: black, then white dots.
void DrawFrame(HDC dc, const ZoomRect& frame) {
    if (ZoomRectEmpty(frame)) return;
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    HPEN black = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HPEN dots = CreatePen(PS_DOT, 1, RGB(255, 255, 255));
    HGDIOBJ oldPen = SelectObject(dc, black);
    Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, dots);
    Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(black);
    DeleteObject(dots);
}

// With the off-screen context the task publishes a screen bitmap: it goes
// where the renderer placed it (centred there, its middle when larger), the
// rest of the update region gets the background.
void PaintScreenBitmap(ProxyWindow* p) {
    HRGN update = CreateRectRgn(0, 0, 0, 0);
    if (!update) {
        ReportUnexpected(__LINE__, "Could not create UpdateRegion.");
    } else if (GetUpdateRgn(p->window, update, FALSE) == ERROR) {
        ReportUnexpected(__LINE__, "Could not get update region for proxy display.");
        DeleteObject(update);
        update = nullptr;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(p->window, &paint);
    if (!dc) {
        if (update) DeleteObject(update);
        return;
    }
    if (!update) update = CreateRectRgnIndirect(&paint.rcPaint);
    RECT drawn = {0, 0, 0, 0};
    if (p->taskStarted && WaitForScreenBitmap(SCREEN_BITMAP_WAIT)) {
        const ScreenBitmap* front = FrontScreenBitmap();
        TakeFrontWaiting();
        if (front->bits && front->width > 0 && front->height > 0) {
            const RECT target = PresentedBitmapRect();
            const int32_t targetWidth = target.right - target.left, targetHeight = target.bottom - target.top;
            const int32_t w = std::min(front->width, targetWidth), h = std::min(front->height, targetHeight);
            if (w > 0 && h > 0) {
                const int32_t x = target.left + (targetWidth - w) / 2, y = target.top + (targetHeight - h) / 2;
                const int32_t sourceX = (front->width - w) / 2, sourceTop = (front->height - h) / 2;
                drawn = {x, y, x + w, y + h};
                HRGN copy = CreateRectRgnIndirect(&drawn);
                if (!copy) {
                    ReportUnexpected(__LINE__, "Could not create CopyRegion.");
                } else {
                    const int overlap = update ? CombineRgn(copy, copy, update, RGN_AND) : SIMPLEREGION;
                    if (overlap == ERROR) {
                        ReportUnexpected(__LINE__, "Could not combine copy region with update region.");
                    } else if (overlap != NULLREGION) {
                        // The bitmap is bottom-up: its source rectangle is given from its lower-left corner.
                        const int copied = SetDIBitsToDevice(
                            dc, x, y, static_cast<DWORD>(w), static_cast<DWORD>(h), sourceX,
                            front->height - (sourceTop + h), 0, static_cast<UINT>(front->height), front->bits,
                            reinterpret_cast<const BITMAPINFO*>(&front->header), DIB_RGB_COLORS);
                        if (copied == 0) ReportUnexpected(__LINE__, "Could not copy screen bitmap.");
                    }
                    DeleteObject(copy);
                }
            }
        }
        ReleaseScreenBitmapMutex();
    }
    HRGN draw = CreateRectRgnIndirect(&drawn);
    HRGN fill = CreateRectRgn(0, 0, 0, 0);
    if (!draw) ReportUnexpected(__LINE__, "Could not create DrawRegion.");
    if (!fill) {
        ReportUnexpected(__LINE__, "Could not create FillRegion.");
    } else if (update && draw) {
        if (CombineRgn(fill, update, draw, RGN_DIFF) == ERROR)
            ReportUnexpected(__LINE__, "Could not combine fill region with draw region.");
        else if (!FillRgn(dc, fill, reinterpret_cast<HBRUSH>(GetClassLongPtrA(p->window, GCLP_HBRBACKGROUND))))
            ReportUnexpected(__LINE__, "Could not fill the background of the proxy display.");
    }
    DrawFrame(dc, p->frame);
    if (fill) DeleteObject(fill);
    if (draw) DeleteObject(draw);
    if (update) DeleteObject(update);
    EndPaint(p->window, &paint);
}

// Gaining or losing the focus redraws only the focus outline.
void FocusChanged(ProxyWindow* p) {
    if (!p->taskStarted) return;
    HRGN region = nullptr;
    if (UseOffscreenBitmap()) {
        region = CreateRectRgn(0, 0, 0, 0);
        if (!region) ReportUnexpected(__LINE__, "Could not create empty InvalidationRegion.");
    }
    NewBackgroundTaskParameters(region);
}

// ---- the keyboard hook ----

LRESULT CALLBACK KeyboardHook(int code, WPARAM key, LPARAM lParam);

LRESULT KeyboardHookBody(int code, WPARAM key, LPARAM lParam) {
    if (code >= 0 && gHookWindow && (key == VK_CONTROL || key == VK_MENU || key == VK_SPACE)) {
        const bool up = (lParam & 0x80000000) != 0, wasDown = (lParam & 0x40000000) != 0;
        if (code == HC_ACTION) {
            if (key == VK_SPACE) gSpaceHeld = !up;
            if (up || !wasDown) PostMessageA(gHookWindow, WM_PROXY_TOOL_CHANGED, 0, 0);
        }
        // Space over the preview must not press the focused button.
        if (key == VK_SPACE && CursorOverWindow(gHookWindow)) return 1;
    }
    return CallNextHookEx(gKeyboardHook, code, key, lParam);
}

LRESULT CALLBACK KeyboardHook(int code, WPARAM key, LPARAM lParam) {
    return GuardedProcedure<LRESULT>(0, [&] { return KeyboardHookBody(code, key, lParam); });
}

void InstallKeyboardHook(ProxyWindow* p) {
    gHookWindow = p->window;
    gSpaceHeld = false;
    if (gKeyboardHook) return;
    gKeyboardHook = SetWindowsHookExA(WH_KEYBOARD, KeyboardHook, nullptr, GetCurrentThreadId());
    if (!gKeyboardHook)
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not install the preview's keyboard hook.");
}

void RemoveKeyboardHook(ProxyWindow* p) {
    if (gHookWindow != p->window) return;
    gHookWindow = nullptr;
    gSpaceHeld = false;
    if (gKeyboardHook) UnhookWindowsHookEx(gKeyboardHook);
    gKeyboardHook = nullptr;
}

// ---- creation and destruction ----

void LoadCursors(ProxyWindow* p) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(p->window, GWLP_HINSTANCE));
    p->cursors[PROXY_CURSOR_ARROW] = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    for (int i = 1; i < PROXY_CURSOR_COUNT; ++i) {
        p->cursors[i] = LoadCursorA(instance, MAKEINTRESOURCEA(kCursorIds[i]));
        if (!p->cursors[i])
            ReportUnexpected(__LINE__, "Could not load the preview cursor %u.", static_cast<unsigned>(kCursorIds[i]));
    }
}

void AddTooltip(ProxyWindow* p, HWND control, const char* text) {
    if (!control) return;
    TOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = p->dialog ? p->dialog : p->window;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = const_cast<char*>(text);
    SendMessageA(p->tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void CreateTooltips(ProxyWindow* p) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(p->window, GWLP_HINSTANCE));
    p->tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, p->dialog ? p->dialog : p->window,
                                 nullptr, instance, nullptr);
    if (!p->tooltip) return;  // the preview works without
    SendMessageA(p->tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(3 * GetDoubleClickTime(), 0));
    SendMessageA(p->tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(TOOLTIP_VISIBLE, 0));
    SendMessageA(p->tooltip, TTM_SETMAXTIPWIDTH, 0, 400);
    if (!p->dialog) return;
    AddTooltip(p, GetDlgItem(p->dialog, IDC_ZOOM_IN), "Zoom In (Ctrl++)");
    AddTooltip(p, GetDlgItem(p->dialog, IDC_ZOOM_OUT), "Zoom Out (Ctrl+-)");
    AddTooltip(p, GetDlgItem(p->dialog, IDC_ZOOM_DISPLAY), "Zoom level - Click to select a zoom level (V)");
    AddTooltip(p, GetDlgItem(p->dialog, IDC_ZOOM_MENU_ARROW), "Select a zoom level (V)");
}

void Created(ProxyWindow* p) {
    p->dialog = GetParent(p->window);
    p->uiThread = GetCurrentThreadId();
    p->primaryIsRight = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    LoadCursors(p);
    RefreshGeometry(p);
    p->view.zoom = 100.0;
    p->view.centreX = p->view.imageWidth / 2.0;
    p->view.centreY = p->view.imageHeight / 2.0;
    ClampViewCentre(&p->view);
    CreateTooltips(p);
    InstallKeyboardHook(p);
    // One task per process: a second preview window must not end the first one's.
    p->ownsTask = !BackgroundTaskRunning();
    if (p->ownsTask)
        p->taskStarted = StartBackgroundTask(p->window, p->dialog, p->view.clientWidth, p->view.clientHeight);
    UpdateControls(p);
    if (p->taskStarted) SignalPreviewRenderingStarted();
}

void Destroyed(ProxyWindow* p) {
    StopTimers(p);
    p->mouseState = MOUSE_IDLE;
    if (GetCapture() == p->window) ReleaseCapture();
    if (p->ownsTask) DestroyBackgroundTask();  // also after a failed start: it frees what the start made
    p->taskStarted = p->ownsTask = false;
    if (p->tooltip) DestroyWindow(p->tooltip);
    p->tooltip = nullptr;
    RemoveKeyboardHook(p);
}

void SizeChanged(ProxyWindow* p) {
    if (!p->taskStarted) {
        RefreshGeometry(p);
        ClampViewCentre(&p->view);
        return;
    }
    if (!BeginPreviewResize()) return;
    RefreshGeometry(p);
    ClampViewCentre(&p->view);
    UpdateControls(p);
    EndPreviewResize();
}

static LRESULT CALLBACK ProxyWindowProcBody(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ProxyWindow* p = reinterpret_cast<ProxyWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        p = new (std::nothrow) ProxyWindow();
        if (!p) return FALSE;
        p->window = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(p));
        return CallStatic(window, message, wParam, lParam);
    }
    if (!p) return CallStatic(window, message, wParam, lParam);
    switch (message) {
        case WM_CREATE: {
            const LRESULT result = CallStatic(window, message, wParam, lParam);
            if (result == -1) return -1;
            Created(p);
            return 0;
        }
        case WM_DESTROY: Destroyed(p); return CallStatic(window, message, wParam, lParam);
        case WM_NCDESTROY: {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            delete p;
            return CallStatic(window, message, wParam, lParam);
        }
        case WM_NCHITTEST: return HTCLIENT;  // the static class would let clicks through
        case WM_GETDLGCODE: return DLGC_WANTARROWS;
        case WM_ERASEBKGND: return 1;  // painting covers everything
        case WM_PAINT:
            // While the dialog is moved or sized the card draws no frame to the
            // window: its frames come as the screen bitmap, as in software.
            if (UseOffscreenBitmap() || SizeMoveInProgress())
                PaintScreenBitmap(p);
            else
                PaintAccelerated(p);
            return 0;
        case WM_SIZE:
            CallStatic(window, message, wParam, lParam);
            SizeChanged(p);
            return 0;
        case WM_SETFOCUS:
        case WM_KILLFOCUS: FocusChanged(p); return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: ButtonDown(p, PointOf(lParam)); return 0;
        case WM_MOUSEMOVE: MouseMoved(p, PointOf(lParam)); return 0;
        case WM_LBUTTONUP: ButtonUp(p, PointOf(lParam)); return 0;
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lParam) != window) CaptureLost(p);
            return 0;
        case WM_TIMER: TimerTick(p, wParam); return 0;
        case WM_MOUSEWHEEL: Wheel(p, wParam); return 0;
        case WM_KEYDOWN:
            if (KeyDown(p, wParam, lParam)) return 0;
            break;
        case WM_KEYUP:
            if (wParam == VK_CONTROL || wParam == VK_SHIFT) UpdateCursor(p);
            break;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT) {
                SetCursor(CurrentCursor(p));
                return TRUE;
            }
            break;
        case WM_CONTEXTMENU: ContextMenu(p, lParam); return 0;
        case WM_PROXY_TOOL_CHANGED: UpdateCursor(p); return 0;
        case WM_PREVIEW_REDRAW:
            if (lParam == PROXY_REDRAW_TAG_PUBLISHED) {
                // The renderer published a new screen bitmap: paint it, nothing to queue.
                if (wParam) DeleteObject(reinterpret_cast<HRGN>(wParam));
                InvalidateRect(window, nullptr, FALSE);
            } else {
                HandlePreviewRedrawMessage(wParam, lParam);
            }
            return 0;
        default: break;
    }
    return CallStatic(window, message, wParam, lParam);
}

LRESULT CALLBACK ProxyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedProcedure<LRESULT>(0, [&] { return ProxyWindowProcBody(window, message, wParam, lParam); });
}

}  // namespace

bool CreateProxyDisplayClass(HINSTANCE instance) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExA(nullptr, "Static", &wc)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "CreateProxyDisplayClass() - Failed to register ProxyDisplay class.");
        return false;
    }
    gStaticProc = wc.lpfnWndProc;
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ProxyWindowProc;
    // Its own device context (the preview's pixel format lives on it), never the parent's.
    wc.style = (wc.style | CS_OWNDC | CS_DBLCLKS) & ~(CS_PARENTDC | CS_CLASSDC | CS_GLOBALCLASS);
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = kClassName;
    wc.lpszMenuName = nullptr;
    if (!RegisterClassExA(&wc)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "CreateProxyDisplayClass() - Failed to register ProxyDisplay class.");
        return false;
    }
    return true;
}

void DeleteProxyDisplayClass(HINSTANCE instance) {
    if (!UnregisterClassA(kClassName, instance))
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "DeleteProxyDisplayClass() - Failed to unregister ProxyDisplay class.");
}

void GetProxyViewState(HWND preview, ParameterSet* set) {
    ProxyWindow* p = StateOf(preview);
    if (!p || !set) return;
    RECT client = {0, 0, 0, 0};
    GetClientRect(preview, &client);
    set->previewRect = {client.left, client.top, client.right, client.bottom};
    const ZoomRect& f = p->frame;
    set->markRect = ZoomRectEmpty(f) ? ViewRect{0, 0, 0, 0} : ViewRect{f.left, f.top, f.right, f.bottom};
    set->scale = p->view.zoom;
    const ZoomPlacement place = PlaceView(p->view);
    set->scrollX = place.scrollX;
    set->scrollY = place.scrollY;
    set->hasFocus = GetFocus() == preview ? 1 : 0;
    set->lightSourceEdits = static_cast<int32_t>(GetLightSourceChangeCount(&LightSourceTable));
}

void SelectProxyTool(HWND preview, int tool) {
    ProxyWindow* p = StateOf(preview);
    if (!p) return;
    if (tool < PREVIEW_TOOL_PAN || tool > PREVIEW_TOOL_SHOW) {
        ReportUnexpected(__LINE__, "SelectProxyTool() - Invalid Tool %d.", tool);
        return;
    }
    p->tool = tool;
    UpdateCursor(p);
}

int GetProxyTool(HWND preview) {
    ProxyWindow* p = StateOf(preview);
    return p ? p->tool : 0;
}

void EnableProxyHideShow(HWND preview, bool enabled) {
    ProxyWindow* p = StateOf(preview);
    if (!p) return;
    p->hideShowEnabled = enabled;
    UpdateCursor(p);
}

void ProxyZoomStep(HWND preview, int steps) {
    if (ProxyWindow* p = StateOf(preview)) SetZoom(p, nullptr, StepZoom(p->view.zoom, steps));
}

void ProxyFitInView(HWND preview) {
    if (ProxyWindow* p = StateOf(preview)) FitInView(p);
}

void ProxyFitOnScreen(HWND preview) {
    if (ProxyWindow* p = StateOf(preview)) FitOnScreen(p);
}

void ProxySetZoom(HWND preview, double zoom) {
    if (ProxyWindow* p = StateOf(preview)) SetZoom(p, nullptr, zoom);
}

double GetProxyZoom(HWND preview) {
    ProxyWindow* p = StateOf(preview);
    return p ? p->view.zoom : 100.0;
}

void ShowProxyZoomMenu(HWND preview, POINT screen) {
    if (ProxyWindow* p = StateOf(preview)) ZoomMenu(p, screen, TPM_CENTERALIGN | TPM_BOTTOMALIGN, nullptr);
}

void ProxyScroll(HWND preview, int bar, WPARAM wParam) {
    ProxyWindow* p = StateOf(preview);
    if (!p) return;
    const bool horizontal = bar == SB_HORZ || bar == IDC_PREVIEW_HSCROLL;
    RefreshGeometry(p);
    const ZoomPlacement place = PlaceView(p->view);
    const int32_t page = horizontal ? PageWidth(p) : PageHeight(p);
    const int32_t last = std::max((horizontal ? place.zoomedWidth : place.zoomedHeight) - page, 0);
    double position = horizontal ? place.scrollX : place.scrollY;
    switch (LOWORD(wParam)) {
        case SB_LINEUP: position -= SCROLL_LINE; break;
        case SB_LINEDOWN: position += SCROLL_LINE; break;
        case SB_PAGEUP: position -= page; break;
        case SB_PAGEDOWN: position += page; break;
        case SB_TOP: position = 0; break;
        case SB_BOTTOM: position = last; break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: {
            SCROLLINFO info = {};
            info.cbSize = sizeof info;
            info.fMask = SIF_TRACKPOS;
            HWND control =
                p->dialog ? GetDlgItem(p->dialog, horizontal ? IDC_PREVIEW_HSCROLL : IDC_PREVIEW_VSCROLL) : nullptr;
            if (control && GetScrollInfo(control, SB_CTL, &info))
                position = info.nTrackPos;
            else
                position = HIWORD(wParam);
            break;
        }
        default: return;  // SB_ENDSCROLL
    }
    if (horizontal)
        ScrollTo(p, position, place.scrollY);
    else
        ScrollTo(p, place.scrollX, position);
}

void ProxyDialogResized(HWND preview) {
    if (ProxyWindow* p = StateOf(preview)) SetZoom(p, nullptr, p->view.zoom);
}

void ProxyDialogDeactivated(HWND preview) {
    ProxyWindow* p = StateOf(preview);
    if (!p) return;
    // The key releases and the button release may go to the other application.
    gSpaceHeld = false;
    if (p->mouseState != MOUSE_IDLE) {
        if (GetCapture() == p->window)
            ReleaseCapture();  // ends the drag through WM_CAPTURECHANGED
        else
            CaptureLost(p);
    }
}

void RequestProxyRedraw(HWND preview) {
    // From another thread only the window handle is safe to use: the request is posted.
    const DWORD thread = GetWindowThreadProcessId(preview, nullptr);
    if (thread != GetCurrentThreadId()) {
        HRGN region = nullptr;
        if (UseOffscreenBitmap()) {
            RECT client;
            GetClientRect(preview, &client);
            region = CreateRectRgnIndirect(&client);
            if (!region) ReportUnexpected(__LINE__, "Could not create InvalidationRegion for Proxy client rectangle.");
        }
        if (!PostMessageA(preview, WM_PREVIEW_REDRAW, reinterpret_cast<WPARAM>(region), 0) && region)
            DeleteObject(region);
        return;
    }
    if (ProxyWindow* p = StateOf(preview)) RequestRedraw(p);
}
