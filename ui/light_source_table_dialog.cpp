// The light source table dialog (see ui/light_source_table_dialog.h). Its
// state is made at WM_INITDIALOG, kept in GWLP_USERDATA and freed at
// WM_NCDESTROY, so that the exported procedure also works when a caller runs
// the template with it directly.
#include "ui/light_source_table_dialog.h"
#include "ui/guarded_procedure.h"

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/debug_log.h"
#include "ui/dialog_ids.h"

namespace {

constexpr UINT_PTR kListSubclassId = 1;
constexpr LRESULT kLongestLine = 4095;
constexpr char kCharSelectAll = 0x01;  // Ctrl+A as a character
constexpr char kCharCopy = 0x03;       // Ctrl+C as a character
constexpr LPARAM kReplayedControlUp = 0x4001;

enum { HEADER = 0, LIST = 1, OK_BUTTON = 2, CONTROL_COUNT = 3 };
const int kControlIds[CONTROL_COUNT] = {IDC_LIGHT_SOURCE_COUNT, IDC_LIGHT_SOURCE_LIST, IDOK};

struct LightSourceTableState {
    const LightSourceList* table;
    HWND dialog;
    HWND controls[CONTROL_COUNT];
    RECT saved[CONTROL_COUNT];  // after the last layout change, in dialog client coordinates
    int widthChange, heightChange;  // of the last resize
    RECT initialWindow;             // the smallest size the dialog may take
    bool initialKnown;
    bool controlHeld;               // Ctrl is down over the list box
    LPARAM controlKeyData;          // of the first Ctrl press
    OsWindow previousMessageOwner;
};

LightSourceTableState* StateOf(HWND dialog) {
    return reinterpret_cast<LightSourceTableState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

void SaveControlRects(LightSourceTableState* state) {
    for (int i = 0; i < CONTROL_COUNT; i++) {
        if (!state->controls[i]) continue;
        GetWindowRect(state->controls[i], &state->saved[i]);
        MapWindowPoints(nullptr, state->dialog, reinterpret_cast<POINT*>(&state->saved[i]), 2);
    }
}

void PlaceControl(HWND control, const RECT& r) {
    if (control)
        SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
}

// The header and the list widen with the dialog, the list also grows in
// height; OK stays centred under it and moves down.
void FollowResize(LightSourceTableState* state) {
    const int dx = state->widthChange, dy = state->heightChange;
    RECT header = state->saved[HEADER], list = state->saved[LIST], ok = state->saved[OK_BUTTON];
    header.right += dx;
    list.right += dx;
    list.bottom += dy;
    OffsetRect(&ok, dx / 2, dy);
    PlaceControl(state->controls[HEADER], header);
    PlaceControl(state->controls[LIST], list);
    PlaceControl(state->controls[OK_BUTTON], ok);
    SaveControlRects(state);
}

void RestoreControlRects(LightSourceTableState* state) {
    for (int i = 0; i < CONTROL_COUNT; i++) PlaceControl(state->controls[i], state->saved[i]);
}

LRESULT CALLBACK ListKeys(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);

LRESULT ListKeysBody(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* state = reinterpret_cast<LightSourceTableState*>(data);
    switch (message) {
        case WM_KEYDOWN:
            if (wParam == VK_CONTROL) {
                if (!state->controlHeld) state->controlKeyData = lParam;
                state->controlHeld = true;
                return 0;
            }
            break;
        case WM_KEYUP:
            if (wParam == VK_CONTROL) {
                state->controlHeld = false;
                return 0;
            }
            break;
        case WM_CHAR:
            if (!state->controlHeld) break;
            if (wParam == static_cast<WPARAM>(kCharSelectAll)) {
                SendMessageA(list, LB_SETSEL, TRUE, -1);
                return 0;
            }
            if (wParam == static_cast<WPARAM>(kCharCopy)) {
                CopyListSelectionToClipboard(list);
                return 0;
            }
            {
                // The list box never saw the Ctrl press: replay it around the character.
                DefSubclassProc(list, WM_KEYDOWN, VK_CONTROL, state->controlKeyData);
                const LRESULT result = DefSubclassProc(list, message, wParam, lParam);
                DefSubclassProc(list, WM_KEYUP, VK_CONTROL, kReplayedControlUp);
                return result;
            }
        case WM_NCDESTROY:
            RemoveWindowSubclass(list, ListKeys, kListSubclassId);
            break;
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

LRESULT CALLBACK ListKeys(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
    return GuardedProcedure<LRESULT>(0, [&] { return ListKeysBody(list, message, wParam, lParam, id, data); });
}

void InitializeTableDialog(LightSourceTableState* state) {
    HWND dialog = state->dialog;
    state->previousMessageOwner = SetMessageOwnerWindow(reinterpret_cast<OsWindow>(dialog));
    for (int i = 0; i < CONTROL_COUNT; i++) state->controls[i] = GetDlgItem(dialog, kControlIds[i]);
    HWND list = state->controls[LIST];
    if (list) SetWindowSubclass(list, ListKeys, kListSubclassId, reinterpret_cast<DWORD_PTR>(state));

    char line[LIGHT_SOURCE_LINE_SIZE];
    LightSourceTextCursor cursor;
    if (NextLightSourceTableLine(state->table, true, &cursor, line)) SetWindowTextA(state->controls[HEADER], line);
    if (list) {
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        SendMessageA(list, LB_INITSTORAGE, state->table->count, state->table->count * 80);
        while (NextLightSourceTableLine(state->table, false, &cursor, line))
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    }
    GetWindowRect(dialog, &state->initialWindow);
    state->initialKnown = true;
    SaveControlRects(state);
}

INT_PTR HandleMessage(LightSourceTableState* state, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitializeTableDialog(state);
            return TRUE;
        case WM_GETMINMAXINFO:
            if (state->initialKnown) {
                auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
                info->ptMinTrackSize.x = state->initialWindow.right - state->initialWindow.left;
                info->ptMinTrackSize.y = state->initialWindow.bottom - state->initialWindow.top;
            }
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_NCCALCSIZE:
            if (wParam) {
                const auto* sizes = reinterpret_cast<const NCCALCSIZE_PARAMS*>(lParam);
                const RECT& now = sizes->rgrc[0];
                const RECT& before = sizes->rgrc[1];
                state->widthChange = (now.right - now.left) - (before.right - before.left);
                state->heightChange = (now.bottom - now.top) - (before.bottom - before.top);
            }
            return FALSE;  // the system still computes the client area
        case WM_WINDOWPOSCHANGED: {
            const auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
            if ((position->flags & SWP_NOSIZE) || (position->flags & SWP_FRAMECHANGED))
                SaveControlRects(state);
            else
                FollowResize(state);
            return FALSE;  // the default handling still sends WM_SIZE and WM_MOVE
        }
        case WM_SIZE:
            if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) {
                RestoreControlRects(state);
                if (wParam == SIZE_MAXIMIZED) ShowWindow(dialog, SW_RESTORE);
            }
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, 0);
                return TRUE;
            }
            return FALSE;
        case WM_POSTED_USER_MESSAGE:
            ShowPostedMessage(reinterpret_cast<OsWindow>(dialog), reinterpret_cast<void*>(lParam));
            return TRUE;
        case WM_DESTROY:
            SetMessageOwnerWindow(state->previousMessageOwner);
            return FALSE;
    }
    return FALSE;
}

void ReportClipboardFailure(uint32_t line, const char* text) {
    DebugEvent(line, SYSTEM_ERROR, GetLastError()).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "%s", text);
}

}  // namespace

static INT_PTR CALLBACK DisplayLightSourceTableProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* state = new LightSourceTableState();
        state->dialog = dialog;
        const auto* table = reinterpret_cast<const LightSourceList*>(lParam);
        state->table = table ? table : &LightSourceTable;
        SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    }
    LightSourceTableState* state = StateOf(dialog);
    if (!state) return FALSE;  // the size messages before WM_INITDIALOG
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
        delete state;
        return FALSE;
    }
    return HandleMessage(state, dialog, message, wParam, lParam);
}

extern "C" INT_PTR CALLBACK DisplayLightSourceTableProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedProcedure<INT_PTR>(0, [&] { return DisplayLightSourceTableProcBody(dialog, message, wParam, lParam); });
}

INT_PTR ShowLightSourceTableDialog(HINSTANCE instance, HWND owner, const LightSourceList* table) {
    const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_LIGHT_SOURCE_TABLE), owner,
                                           DisplayLightSourceTableProc, reinterpret_cast<LPARAM>(table));
    if (result == -1)
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "ShowLightSourceTableDialog() - The light source table dialog could not be created.");
    return result;
}

bool CopyListSelectionToClipboard(HWND listBox) {
    const LRESULT selected = SendMessageA(listBox, LB_GETSELCOUNT, 0, 0);
    if (selected <= 0) return true;
    std::vector<int> indexes(static_cast<size_t>(selected));
    const LRESULT got = SendMessageA(listBox, LB_GETSELITEMS, static_cast<WPARAM>(selected),
                                     reinterpret_cast<LPARAM>(indexes.data()));
    std::string text;
    char line[kLongestLine + 1];
    for (LRESULT i = 0; i < got; i++) {
        const int index = indexes[static_cast<size_t>(i)];
        const LRESULT length = SendMessageA(listBox, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length == LB_ERR || length > kLongestLine) {
            DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "ListBox Item %d is too long.", index);
            break;
        }
        SendMessageA(listBox, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(line));
        line[length] = 0;
        text += line;
        text += "\r\n";
    }

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (!block) {
        ReportClipboardFailure(__LINE__, "Could not allocate global buffer for Clipboard.");
        return false;
    }
    void* locked = GlobalLock(block);
    if (!locked) {
        ReportClipboardFailure(__LINE__, "Could not lock global buffer for Clipboard.");
        GlobalFree(block);
        return false;
    }
    std::memcpy(locked, text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    if (!OpenClipboard(listBox)) {
        ReportClipboardFailure(__LINE__, "Could not open Clipboard.");
        GlobalFree(block);
        return false;
    }
    if (!EmptyClipboard()) {
        ReportClipboardFailure(__LINE__, "Could not empty Clipboard.");
        CloseClipboard();
        GlobalFree(block);
        return false;
    }
    if (!SetClipboardData(CF_TEXT, block)) {
        ReportClipboardFailure(__LINE__, "Could not insert selection into Clipboard.");
        CloseClipboard();
        GlobalFree(block);
        return false;
    }
    CloseClipboard();  // the clipboard owns the block now
    return true;
}
