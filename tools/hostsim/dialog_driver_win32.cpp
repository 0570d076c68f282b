#include "tools/hostsim/dialog_driver_win32.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr int kPreviewAreaId = 1040;  // the filter dialog's preview
constexpr int kHideToolId = 1123;     // enabled once the preview is ready
// The plug-in's other dialogs the driver closes (Cancel) instead of answering.
const char* const kClosedTitles[] = {"About Raylume Pro 2", "64 Bit Raylume Pro 2 Plug-in Options"};

std::thread gThread;
std::atomic<bool> gRunning{false};
std::atomic<int32_t> gAnswered{0};
std::mutex gLock;
std::vector<std::string> gBoxes;
std::vector<ClosedDialog> gClosed;
DialogDriverOptions gOptions;

struct Found {
    HWND dialog = nullptr;
    std::vector<HWND> boxes;
    std::vector<HWND> others;  // About box, Options dialog
};

bool IsClosedByTitle(HWND window) {
    char title[128] = {};
    GetWindowTextA(window, title, sizeof(title));
    for (const char* closed : kClosedTitles)
        if (std::string(title) == closed) return true;
    return false;
}

BOOL CALLBACK Visit(HWND window, LPARAM raw) {
    auto* found = reinterpret_cast<Found*>(raw);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if ((process != GetCurrentProcessId() && !gOptions.otherProcesses) || !IsWindowVisible(window)) return TRUE;
    char name[32] = {};
    GetClassNameA(window, name, sizeof(name));
    if (std::string(name) != "#32770") return TRUE;
    if (GetDlgItem(window, kPreviewAreaId))
        found->dialog = window;
    else if (IsClosedByTitle(window))
        found->others.push_back(window);
    else
        found->boxes.push_back(window);
    return TRUE;
}

Found Scan() {
    Found found;
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&found));
    return found;
}

void Dismiss(HWND box) {
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));  // a message box's text
    {
        std::lock_guard<std::mutex> hold(gLock);
        gBoxes.push_back(text);
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
}

BOOL CALLBACK AddStaticText(HWND control, LPARAM raw) {
    char name[32] = {}, text[512] = {};
    GetClassNameA(control, name, sizeof(name));
    if (_stricmp(name, "Static") != 0 || !IsWindowVisible(control) || !GetWindowTextA(control, text, sizeof(text)))
        return TRUE;
    reinterpret_cast<ClosedDialog*>(raw)->texts.push_back(text);
    return TRUE;
}

void CloseWithCancel(HWND dialog) {
    ClosedDialog closed;
    char title[128] = {};
    GetWindowTextA(dialog, title, sizeof(title));
    closed.title = title;
    EnumChildWindows(dialog, AddStaticText, reinterpret_cast<LPARAM>(&closed));
    {
        std::lock_guard<std::mutex> hold(gLock);
        gClosed.push_back(closed);
    }
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

// The mark of a dialog the driver has answered. A window handle alone does
// not say it: the next run's dialog may get the handle of the one before.
const char kAnsweredProperty[] = "RaylumeDialogDriverAnswered";

void Answer(HWND dialog) {
    SetPropA(dialog, kAnsweredProperty, reinterpret_cast<HANDLE>(1));
    if (gOptions.readyTimeoutMilliseconds) WaitForPreviewReady(dialog, gOptions.readyTimeoutMilliseconds);
    if (gOptions.settleMilliseconds) Sleep(gOptions.settleMilliseconds);
    if (gOptions.beforeAction) gOptions.beforeAction(dialog);
    switch (gOptions.action) {
        case DIALOG_PRESS_OK: PostMessageA(dialog, WM_COMMAND, IDOK, 0); break;
        case DIALOG_PRESS_CANCEL: PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); break;
        case DIALOG_PRESS_ESCAPE:
            // The key as the dialog's message loop sees it.
            PostMessageA(GetFocus() ? GetFocus() : dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            break;
    }
    ++gAnswered;
}

void Watch() {
    std::vector<HWND> cancelled;
    while (gRunning.load()) {
        Found found = Scan();
        for (HWND box : found.boxes) Dismiss(box);
        for (HWND other : found.others) {
            bool seen = false;
            for (HWND done : cancelled) seen = seen || done == other;
            if (seen) continue;
            cancelled.push_back(other);
            CloseWithCancel(other);
        }
        if (found.others.empty()) cancelled.clear();
        if (found.dialog && !GetPropA(found.dialog, kAnsweredProperty)) Answer(found.dialog);
        Sleep(20);
    }
}

}  // namespace

void StartDialogDriver(const DialogDriverOptions& options) {
    StopDialogDriver();
    gOptions = options;
    gRunning = true;
    gThread = std::thread(Watch);
}

void StopDialogDriver() {
    if (!gRunning.exchange(false)) return;
    if (gThread.joinable()) gThread.join();
}

int32_t DialogsAnswered() { return gAnswered.load(); }

std::vector<std::string> DismissedMessageBoxes() {
    std::lock_guard<std::mutex> hold(gLock);
    return gBoxes;
}

std::vector<ClosedDialog> ClosedDialogs() {
    std::lock_guard<std::mutex> hold(gLock);
    return gClosed;
}

HWND FindFilterDialog() { return Scan().dialog; }

bool WaitForPreviewReady(HWND dialog, uint32_t timeoutMilliseconds) {
    for (uint32_t waited = 0; waited < timeoutMilliseconds; waited += 20) {
        HWND hide = GetDlgItem(dialog, kHideToolId);
        if (hide && IsWindowEnabled(hide)) return true;
        if (!IsWindow(dialog)) return false;
        Sleep(20);
    }
    return false;
}
