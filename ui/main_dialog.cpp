// The main dialog (see ui/main_dialog.h): one MainDialogState per run, kept
// in the dialog's GWLP_USERDATA from WM_INITDIALOG on; the layout table, the
// off-screen surface and the accelerator entry live as long as the window.
#include "ui/main_dialog.h"
#include "ui/guarded_procedure.h"

#include <commctrl.h>
#include <windowsx.h>

#include <string>

#include "analysis/light_source_table.h"
#include "params/parameter_files.h"
#include "params/settings_list.h"
#include "preview/background_task.h"
#include "support/debug_log.h"
#include "support/run_result.h"
#include "ui/about_box.h"
#include "ui/accelerators.h"
#include "ui/dialog_ids.h"
#include "ui/dialog_layout.h"
#include "ui/light_source_table_dialog.h"
#include "ui/options_dialog.h"
#include "ui/help_viewer.h"
#include "ui/proxy_window.h"
#include "ui/settings_menu_win32.h"

namespace {

const char kDefaultProductTitle[] = "Raylume Pro 2";
// NOTE: the maker's address is not fixed anywhere else yet; the Options
// dialog and the About box open the same page.
const char kMakerWebSite[] = "https://www.corvanesoftware.com/";
const char kHelpAndSupportText[] = "Help and Support";
constexpr UINT_PTR kSubclassId = 1;
// The hand cursor over links (in the plug-in's resources; the system's otherwise).
constexpr COLORREF kLinkColor = RGB(0, 102, 204);

struct TooltipText {
    int control;
    const char* text;
};
const TooltipText kDialogTooltips[] = {
    {IDC_PREVIEW_CHECK,
     "Preview (P) - Check to see a preview of the modified image, uncheck to see the original image"},
    {IDOK, "OK - Commit changes and return to the editor"},
    {IDCANCEL, "Cancel (Esc) - Close the dialog without making any changes"},
    {IDC_CONFIGURE, "(F10) - Configure plug-in options"},
    {IDC_HELP_AND_SUPPORT, "Click here for links to help and support resources"},
    {IDC_WEB_LINK, "Visit the Corvane Software web site"},
    {IDC_LOGO, "Click to see Raylume Pro 2 version information, help, and online resources"},
    {IDC_HELP_ICON, "Help (?) - Click to see help for this Dialog."},
};

// Check boxes bound to a record slot; the list ends with id 0.
struct CheckBoxRow {
    int control;
    const char* tooltip;
    int slot;
};
const CheckBoxRow kCheckBoxTable[] = {
    {IDC_EFFECTS_ONLY, "Effects Only (O) - Check to output the effects only, excluding the original image",
     SLOT_EFFECTS_ONLY},
    {0, nullptr, 0},
};

// The accelerator commands that focus a value edit, in slider table order.
const int kFocusCommands[SLIDER_ROW_COUNT] = {
    IDM_FOCUS_QUANTITY,          IDM_FOCUS_INTENSITY,         IDM_FOCUS_LENGTH,    IDM_FOCUS_ANGLE,
    IDM_FOCUS_POINTS,            IDM_FOCUS_SHARPNESS,         IDM_FOCUS_SATURATION, IDM_FOCUS_HUE,
    IDM_FOCUS_RAINBOW_INTENSITY, IDM_FOCUS_RAINBOW_FREQUENCY, IDM_FOCUS_SECONDARY, IDM_FOCUS_SOFT_FLARE,
    IDM_FOCUS_RING_FLARE,
};

const int kToolControls[4] = {IDC_TOOL_PAN, IDC_TOOL_ZOOM, IDC_TOOL_HIDE, IDC_TOOL_SHOW};
// The preview window's cursors double as the tool pictures.
const WORD kToolCursors[4] = {IDC_CURSOR_HAND_OPEN, IDC_CURSOR_ZOOM_IN, IDC_CURSOR_HIDE, IDC_CURSOR_SHOW};
const char* const kToolLetters[4] = {"H", "Z", "X", "+"};
const char* const kToolTooltips[4] = {
    "Pan (H) - Drag to move the view; double-click to fit the image in the view",
    "Zoom (Z) - Click to zoom in, Alt+click to zoom out, drag a rectangle to fill the view; double-click for 100%",
    "Hide (X) - Click a star or drag a rectangle to hide its effects; hold Alt to reveal hidden effects",
    "Show (+) - Click a star or drag a rectangle to show its effects; hold Alt to undo",
};

// One slider-and-edit pair at run time.
struct SliderBinding {
    const SliderControlRow* row;
    int index;  // row of SLIDER_CONTROL_TABLE
    HWND slider;
    HWND edit;
    bool hasFocus;  // the edit has the keyboard focus
};

struct MainDialogState {
    const MainDialogInputs* inputs;
    HWND dialog;
    HWND preview;
    HWND tooltip;
    SliderBinding sliders[SLIDER_ROW_COUNT];
    SettingsList settings;
    InterfaceSettings interfaceSettings;
    HACCEL accelerators;
    OsWindow previousMessageOwner;

    int tool;               // the tool shown selected (PreviewTool)
    bool hideShowEnabled;   // the background task is ready for the Hide and Show tools
    bool previewOn;         // the "&Preview" check box
    bool ending;            // EndDialog was called
    UINT dpi;               // dots per inch the layout table is in
    bool writingText;       // an edit's text is being set by the dialog itself
    bool busy;              // the preview renderer is busy

    HBRUSH faceBrush;
    HFONT logoFont;
    HICON helpIcon;
    HCURSOR toolImages[4];

    // The off-screen surface the dialog's background is painted from.
    HDC surface;
    HBITMAP surfaceBitmap;
    HGDIOBJ surfaceOldBitmap;
};

// ---- the layout table, read by the preview side from other threads ----

CRITICAL_SECTION gDialogItemsSection;
bool gDialogItemsSectionValid = false;
DialogLayoutTable gLayout;
int32_t gGrowthX = 0, gGrowthY = 0;

HWND gDialog = nullptr;
MainDialogState* gState = nullptr;

LayoutRect ToLayout(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
RECT ToRect(const LayoutRect& r) { return {r.left, r.top, r.right, r.bottom}; }

void LockLayout() {
    if (gDialogItemsSectionValid) EnterCriticalSection(&gDialogItemsSection);
}
void UnlockLayout() {
    if (gDialogItemsSectionValid) LeaveCriticalSection(&gDialogItemsSection);
}

struct EnumRecord {
    HWND dialog;
    bool full;
};

BOOL CALLBACK AddChildToLayout(HWND child, LPARAM data) {
    auto* record = reinterpret_cast<EnumRecord*>(data);
    if (GetParent(child) != record->dialog || record->full) return TRUE;
    RECT window, client;
    GetWindowRect(child, &window);
    MapWindowPoints(nullptr, record->dialog, reinterpret_cast<POINT*>(&window), 2);
    GetClientRect(child, &client);
    if (!AddLayoutItem(&gLayout, child, GetDlgCtrlID(child), ToLayout(window), ToLayout(client))) {
        ReportUnexpected(__LINE__, "Number of controls has exceeded InitialDialogItems[] table size");
        record->full = true;
    }
    return TRUE;
}

// The window's dots per inch: its monitor's in a host aware of each
// monitor's density (Windows 10 and later), else the system's.
UINT WindowDpi(HWND window) {
    using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) {
        if (UINT dpi = getDpiForWindow(window)) return dpi;
    }
    HDC dc = GetDC(window);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
    if (dc) ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void BuildLayoutTable(HWND dialog) {
    if (!gDialogItemsSectionValid) {
        if (InitializeCriticalSectionAndSpinCount(&gDialogItemsSection, 0x80000400))
            gDialogItemsSectionValid = true;
        else
            DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not initialize DialogItemsSection.");
    }
    RECT window, client;
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    LockLayout();
    ResetLayoutTable(&gLayout, ToLayout(window), ToLayout(client));
    gGrowthX = gGrowthY = 0;
    EnumRecord record = {dialog, false};
    EnumChildWindows(dialog, AddChildToLayout, reinterpret_cast<LPARAM>(&record));
    UnlockLayout();
}

// The section itself stays: the preview window, and with it the background
// task that may still read the table, is destroyed after the dialog.
void ClearLayoutTable() {
    LockLayout();
    ResetLayoutTable(&gLayout, {0, 0, 0, 0}, {0, 0, 0, 0});
    gGrowthX = gGrowthY = 0;
    UnlockLayout();
}

// Moves every control by its rules in one deferred pass.
bool RepositionControls(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    LockLayout();
    LayoutGrowth(&gLayout, client.right - client.left, client.bottom - client.top, &gGrowthX, &gGrowthY);
    HDWP positions = BeginDeferWindowPos(gLayout.count);
    if (!positions) {
        UnlockLayout();
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "BeginDeferWindowPos() failed");
        return false;
    }
    bool moved = true;
    for (int32_t i = 0; i < gLayout.count && positions; i++) {
        const LayoutItem& item = gLayout.items[i];
        if (!item.valid) continue;
        LayoutRect place = ApplyLayoutRules(item.initialWindow, item.rules, gGrowthX, gGrowthY);
        HDWP next = DeferWindowPos(positions, static_cast<HWND>(item.window), nullptr, place.left, place.top,
                                   LayoutWidth(place), LayoutHeight(place), SWP_NOZORDER | SWP_NOACTIVATE);
        if (!next) {
            DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                        "DeferWindowPos() failed. Control ID = %u, New Position = (%d,%d), New Width = %d, New "
                        "Height = %d",
                        static_cast<unsigned>(item.controlId), place.left, place.top, LayoutWidth(place),
                        LayoutHeight(place));
            ReportUnexpected(__LINE__, "RepositionItem() failed");
            moved = false;
        }
        positions = next;  // a failed DeferWindowPos has released the whole pass
    }
    UnlockLayout();
    if (positions && !EndDeferWindowPos(positions)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "EndDeferWindowPos() failed");
        moved = false;
    }
    return moved && positions;
}

// ---- the off-screen surface ----

void ReleaseSurface(MainDialogState* state) {
    if (state->surface) {
        if (state->surfaceOldBitmap) SelectObject(state->surface, state->surfaceOldBitmap);
        DeleteDC(state->surface);
    }
    if (state->surfaceBitmap) DeleteObject(state->surfaceBitmap);
    state->surface = nullptr;
    state->surfaceBitmap = nullptr;
    state->surfaceOldBitmap = nullptr;
}

// A bitmap the size of the dialog window, filled with the button face.
void CreateSurface(MainDialogState* state) {
    ReleaseSurface(state);
    RECT window;
    GetWindowRect(state->dialog, &window);
    const int width = window.right - window.left, height = window.bottom - window.top;
    HDC screen = GetDC(state->dialog);
    state->surface = CreateCompatibleDC(screen);
    state->surfaceBitmap = CreateCompatibleBitmap(screen, width > 0 ? width : 1, height > 0 ? height : 1);
    ReleaseDC(state->dialog, screen);
    if (!state->surface || !state->surfaceBitmap) {
        ReportUnexpected(__LINE__, "CreateOffscreenSurface() - Could not create the dialog's drawing surface.");
        ReleaseSurface(state);
        return;
    }
    state->surfaceOldBitmap = SelectObject(state->surface, state->surfaceBitmap);
    RECT all = {0, 0, width, height};
    FillRect(state->surface, &all, state->faceBrush);
}

void PaintFromSurface(MainDialogState* state) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(state->dialog, &paint);
    if (!dc) return;
    const RECT& r = paint.rcPaint;
    if (state->surface)
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, state->surface, r.left, r.top, SRCCOPY);
    else
        FillRect(dc, &r, state->faceBrush);
    EndPaint(state->dialog, &paint);
}

// ---- values ----

FilterParameters* Record(MainDialogState* state) { return state->inputs->record; }

void PostValueChanged(MainDialogState* state) { PostMessageA(state->dialog, WM_DIALOG_VALUE_CHANGED, 0, 0); }

void RequestPreview() {
    if (BackgroundTaskRunning()) NewBackgroundTaskParameters(nullptr);
}

void ShowValue(MainDialogState* state, const SliderBinding& binding, int16_t value) {
    if (!binding.edit) return;
    std::string text = FormatParameterValue(binding.index, value);
    state->writingText = true;
    SetWindowTextA(binding.edit, text.c_str());
    state->writingText = false;
}

void SetSliderPosition(const SliderBinding& binding, int16_t value) {
    if (binding.slider) SendMessageA(binding.slider, TBM_SETPOS, TRUE, value);
}

// Stores a value of a row and shows it; a change is announced with
// WM_DIALOG_VALUE_CHANGED. True when the record changed.
bool StoreValue(MainDialogState* state, const SliderBinding& binding, int32_t value, bool show, bool moveSlider) {
    const int16_t clamped = ClampToSliderRow(binding.index, value);
    int16_t& slot = Record(state)->slot[binding.row->slot];
    const bool changed = slot != clamped;
    slot = clamped;
    if (moveSlider) SetSliderPosition(binding, clamped);
    if (show) ShowValue(state, binding, clamped);
    if (changed) PostValueChanged(state);
    return changed;
}

int16_t SliderPosition(const SliderBinding& binding) {
    return static_cast<int16_t>(SendMessageA(binding.slider, TBM_GETPOS, 0, 0));
}

void SelectEditText(const SliderBinding& binding) {
    if (binding.edit) SendMessageA(binding.edit, EM_SETSEL, 0, -1);
}

SliderBinding* BindingOfWindow(MainDialogState* state, HWND window) {
    for (SliderBinding& binding : state->sliders)
        if (window && (binding.slider == window || binding.edit == window)) return &binding;
    return nullptr;
}

SliderBinding* BindingOfEditId(MainDialogState* state, int id) {
    for (SliderBinding& binding : state->sliders)
        if (binding.row && binding.row->editId == id) return &binding;
    return nullptr;
}

// Every slider, edit and check box from the record. A value from a file
// outside its control's range is held to it in the record too, so that what
// is shown, previewed, rendered and saved is one value.
void RefreshControls(MainDialogState* state) {
    for (SliderBinding& binding : state->sliders) {
        if (!binding.slider || !binding.edit) continue;
        int16_t& slot = Record(state)->slot[binding.row->slot];
        slot = ClampToSliderRow(binding.index, slot);
        const int16_t value = slot;
        SetSliderPosition(binding, value);
        ShowValue(state, binding, value);
    }
    for (const CheckBoxRow* row = kCheckBoxTable; row->control; row++)
        CheckDlgButton(state->dialog, row->control, Record(state)->slot[row->slot] ? BST_CHECKED : BST_UNCHECKED);
}

// ---- value edits ----

LRESULT CALLBACK EditSubclass(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);

LRESULT EditSubclassBody(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* state = reinterpret_cast<MainDialogState*>(data);
    SliderBinding* binding = BindingOfWindow(state, edit);
    if (!binding) return DefSubclassProc(edit, message, wParam, lParam);
    switch (message) {
        case WM_CHAR:
            switch (FilterEditCharacter(static_cast<uint32_t>(wParam))) {
                case EDIT_CHARACTER_ACCEPT: break;
                case EDIT_CHARACTER_SWALLOW: return 0;
                case EDIT_CHARACTER_BEEP: MessageBeep(MB_OK); return 0;
            }
            break;
        case WM_KEYDOWN: {
            EditStepKey key;
            switch (wParam) {
                case VK_PRIOR: key = EDIT_STEP_PAGE_UP; break;
                case VK_NEXT: key = EDIT_STEP_PAGE_DOWN; break;
                case VK_UP: key = EDIT_STEP_LINE_UP; break;
                case VK_DOWN: key = EDIT_STEP_LINE_DOWN; break;
                default: return DefSubclassProc(edit, message, wParam, lParam);
            }
            const bool control = GetKeyState(VK_CONTROL) < 0;
            const int16_t value = SteppedSliderValue(*binding->row, SliderPosition(*binding), key,
                                                     static_cast<uint32_t>(lParam & 0xFFFF), control);
            StoreValue(state, *binding, value, true, true);
            SelectEditText(*binding);
            return 0;
        }
        case WM_SETFOCUS: {
            LRESULT result = DefSubclassProc(edit, message, wParam, lParam);
            binding->hasFocus = true;
            SelectEditText(*binding);
            return result;
        }
        case WM_KILLFOCUS:
            binding->hasFocus = false;
            if (reinterpret_cast<HWND>(wParam) != binding->slider)
                ShowValue(state, *binding, Record(state)->slot[binding->row->slot]);
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(edit, EditSubclass, kSubclassId);
            break;
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

LRESULT CALLBACK EditSubclass(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
    return GuardedProcedure<LRESULT>(0, [&] { return EditSubclassBody(edit, message, wParam, lParam, id, data); });
}

// EN_CHANGE: the text the user typed becomes the value.
void OnEditChanged(MainDialogState* state, SliderBinding& binding) {
    if (state->writingText || !binding.hasFocus || GetFocus() != binding.edit) return;
    char text[32] = {};
    GetWindowTextA(binding.edit, text, sizeof(text));
    const int16_t current = Record(state)->slot[binding.row->slot];
    const int16_t value = ParseParameterEntry(binding.index, text, current);
    StoreValue(state, binding, value, false, true);
}

// ---- sliders ----

LRESULT CALLBACK SliderSubclass(HWND slider, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);

LRESULT SliderSubclassBody(HWND slider, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* state = reinterpret_cast<MainDialogState*>(data);
    SliderBinding* binding = BindingOfWindow(state, slider);
    if (!binding) return DefSubclassProc(slider, message, wParam, lParam);
    switch (message) {
        case WM_LBUTTONDOWN: {
            POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            RECT thumb = {}, channel = {};
            SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
            if (PtInRect(&thumb, at)) {
                LRESULT result = DefSubclassProc(slider, message, wParam, lParam);
                SelectEditText(*binding);
                return result;
            }
            SendMessageA(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
            const int32_t value =
                SliderClickValue(at.x, channel.left, channel.right - channel.left, thumb.right - thumb.left,
                                 binding->row->minimum, binding->row->maximum);
            StoreValue(state, *binding, value, true, true);
            // The press goes on at the thumb's new centre, so that dragging continues from there.
            SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
            return DefSubclassProc(slider, message, wParam,
                                   MAKELPARAM((thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2));
        }
        case WM_MOUSEMOVE: {
            LRESULT result = DefSubclassProc(slider, message, wParam, lParam);
            if ((wParam & MK_LBUTTON) && GetCapture() == slider) {
                const int16_t position = SliderPosition(*binding);
                if (position != Record(state)->slot[binding->row->slot])
                    StoreValue(state, *binding, position, true, false);
            }
            return result;
        }
        case WM_LBUTTONUP: {
            LRESULT result = DefSubclassProc(slider, message, wParam, lParam);
            const int16_t position = SliderPosition(*binding);
            if (position != Record(state)->slot[binding->row->slot]) StoreValue(state, *binding, position, true, false);
            SetFocus(binding->edit);
            SelectEditText(*binding);
            return result;
        }
        case WM_ERASEBKGND:
            return TRUE;
        case WM_KILLFOCUS:
            if (reinterpret_cast<HWND>(wParam) != binding->edit)
                ShowValue(state, *binding, Record(state)->slot[binding->row->slot]);
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(slider, SliderSubclass, kSubclassId);
            break;
    }
    return DefSubclassProc(slider, message, wParam, lParam);
}

LRESULT CALLBACK SliderSubclass(HWND slider, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
    return GuardedProcedure<LRESULT>(0, [&] { return SliderSubclassBody(slider, message, wParam, lParam, id, data); });
}

// WM_HSCROLL from a slider (keyboard on the slider, dragging, TBM_SETPOS by tools).
void OnSliderScroll(MainDialogState* state, SliderBinding& binding) {
    const int16_t position = SliderPosition(binding);
    if (position != Record(state)->slot[binding.row->slot]) StoreValue(state, binding, position, true, false);
}

// ---- binding ----

void AddTooltip(MainDialogState* state, HWND control, const char* text) {
    if (!state->tooltip || !control || !text) return;
    TOOLINFOA info = {};
    info.cbSize = sizeof(info);
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = state->dialog;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = const_cast<char*>(text);
    SendMessageA(state->tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void CreateTooltips(MainDialogState* state) {
    state->tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, state->dialog,
                                     nullptr, state->inputs->instance, nullptr);
    if (!state->tooltip) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "InitializeDialog() - Could not create the tooltips.");
        return;
    }
    SendMessageA(state->tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, static_cast<LPARAM>(3 * GetDoubleClickTime()));
    SendMessageA(state->tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    SendMessageA(state->tooltip, TTM_SETMAXTIPWIDTH, 0, 360);
    for (const TooltipText& tip : kDialogTooltips) AddTooltip(state, GetDlgItem(state->dialog, tip.control), tip.text);
    for (int i = 0; i < 4; i++) AddTooltip(state, GetDlgItem(state->dialog, kToolControls[i]), kToolTooltips[i]);
}

void BindCheckBoxes(MainDialogState* state) {
    for (const CheckBoxRow* row = kCheckBoxTable; row->control; row++) {
        HWND box = GetDlgItem(state->dialog, row->control);
        AddTooltip(state, box, row->tooltip);
        CheckDlgButton(state->dialog, row->control, Record(state)->slot[row->slot] ? BST_CHECKED : BST_UNCHECKED);
    }
}

void BindSliders(MainDialogState* state) {
    for (int i = 0; i < SLIDER_ROW_COUNT; i++) {
        SliderBinding& binding = state->sliders[i];
        const SliderControlRow& row = SLIDER_CONTROL_TABLE[i];
        binding.row = &row;
        binding.index = i;
        binding.slider = GetDlgItem(state->dialog, row.sliderId);
        binding.edit = GetDlgItem(state->dialog, row.editId);
        binding.hasFocus = false;
        if (!binding.slider || !binding.edit) {
            ReportUnexpected(__LINE__, "BindSliderControls() - The controls of row %d are missing.", i);
            Record(state)->slot[row.slot] = row.defaultValue;
            binding.slider = binding.edit = nullptr;
            continue;
        }
        SetWindowSubclass(binding.edit, EditSubclass, kSubclassId, reinterpret_cast<DWORD_PTR>(state));
        SetWindowSubclass(binding.slider, SliderSubclass, kSubclassId, reinterpret_cast<DWORD_PTR>(state));
        SendMessageA(binding.edit, EM_LIMITTEXT, static_cast<WPARAM>(row.textLimit), 0);
        SendMessageA(binding.slider, TBM_SETRANGEMIN, FALSE, row.minimum);
        SendMessageA(binding.slider, TBM_SETRANGEMAX, FALSE, row.maximum);
        SendMessageA(binding.slider, TBM_SETPAGESIZE, 0, row.pageStep);
        SendMessageA(binding.slider, TBM_SETLINESIZE, 0, row.lineStep);
        AddTooltip(state, binding.edit, row.editTooltip);
        AddTooltip(state, binding.slider, row.sliderTooltip);

        const int16_t value = ClampToSliderRow(i, Record(state)->slot[row.slot]);
        if (row.minimum < 0) SendMessageA(binding.slider, TBM_SETPOS, FALSE, row.minimum);
        SetSliderPosition(binding, value);
        ShowValue(state, binding, value);
        Record(state)->slot[row.slot] = value;
    }
}

// ---- tools ----

int ToolOfControl(int control) {
    for (int i = 0; i < 4; i++)
        if (kToolControls[i] == control) return i + PREVIEW_TOOL_PAN;
    return 0;
}

void RedrawToolIcons(MainDialogState* state) {
    for (int control : kToolControls) InvalidateRect(GetDlgItem(state->dialog, control), nullptr, FALSE);
}

// Selects a tool for the preview. A user's choice is remembered in the
// interface settings.
void SelectTool(MainDialogState* state, int tool, bool remember) {
    if (tool < PREVIEW_TOOL_PAN || tool > PREVIEW_TOOL_SHOW) return;
    if ((tool == PREVIEW_TOOL_HIDE || tool == PREVIEW_TOOL_SHOW) && !state->hideShowEnabled) return;
    const bool changed = tool != state->tool;
    state->tool = tool;
    if (state->preview) SelectProxyTool(state->preview, tool);
    if (remember) state->interfaceSettings.previewTool = tool;
    if (changed) RedrawToolIcons(state);
}

void DrawToolIcon(MainDialogState* state, const DRAWITEMSTRUCT& item) {
    const int tool = ToolOfControl(static_cast<int>(item.CtlID));
    if (!tool) return;
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool selected = tool == state->tool;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_3DLIGHT : COLOR_BTNFACE));
    if (selected || (item.itemState & ODS_SELECTED))
        DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT);
    else
        DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    HCURSOR image = state->toolImages[tool - PREVIEW_TOOL_PAN];
    if (image) {
        const int size = 32;
        const int x = (r.left + r.right - size) / 2, y = (r.top + r.bottom - size) / 2;
        DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(image), 0, x, y, size, size,
                   DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
    } else {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        DrawTextA(dc, kToolLetters[tool - PREVIEW_TOOL_PAN], -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    if (item.itemState & ODS_FOCUS) {
        RECT focus = r;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(dc, &focus);
    }
}

void DrawZoomMenuArrow(const DRAWITEMSTRUCT& item) {
    RECT r = item.rcItem;
    UINT state = DFCS_SCROLLCOMBOBOX;
    if (item.itemState & ODS_SELECTED) state |= DFCS_PUSHED;
    if (item.itemState & ODS_DISABLED) state |= DFCS_INACTIVE;
    DrawFrameControl(item.hDC, &r, DFC_SCROLL, state);
}

// The zoom menu opens just above the control's middle.
void ShowZoomMenuAt(MainDialogState* state, int control) {
    HWND window = GetDlgItem(state->dialog, control);
    if (!window || !state->preview) return;
    RECT r;
    GetWindowRect(window, &r);
    POINT at = {(r.left + r.right) / 2, r.top - 2};
    ShowProxyZoomMenu(state->preview, at);
}

// ---- fonts, icons, cursors ----

HFONT DerivedFont(HWND dialog, int heightFactor, bool bold, bool underline) {
    HFONT base = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA font = {};
    if (!base || !GetObjectA(base, sizeof(font), &font)) return nullptr;
    font.lfHeight *= heightFactor;
    if (bold) font.lfWeight = FW_BOLD;
    font.lfUnderline = underline ? TRUE : FALSE;
    return CreateFontIndirectA(&font);
}

void LoadDialogImages(MainDialogState* state) {
    HINSTANCE instance = state->inputs->instance;
    for (int i = 0; i < 4; i++) state->toolImages[i] = LoadCursorA(instance, MAKEINTRESOURCEA(kToolCursors[i]));
    state->helpIcon = static_cast<HICON>(LoadImageA(nullptr, reinterpret_cast<LPCSTR>(IDI_QUESTION), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                    LR_SHARED));
    state->logoFont = DerivedFont(state->dialog, 2, true, false);
    if (state->logoFont) SendDlgItemMessageA(state->dialog, IDC_LOGO, WM_SETFONT, reinterpret_cast<WPARAM>(state->logoFont), FALSE);
    if (state->helpIcon)
        SendDlgItemMessageA(state->dialog, IDC_HELP_ICON, STM_SETICON, reinterpret_cast<WPARAM>(state->helpIcon), 0);
}

void FreeDialogImages(MainDialogState* state) {
    if (state->logoFont) DeleteObject(state->logoFont);
    state->logoFont = nullptr;
    // The cursors and the shared icon belong to their modules.
}

// ---- placement ----

LayoutRect VirtualScreen() {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

void PlaceDialog(MainDialogState* state) {
    HWND dialog = state->dialog;
    int32_t* saved = state->interfaceSettings.windowRect;
    const int32_t minimumWidth = LayoutWidth(gLayout.initialWindow);
    const int32_t minimumHeight = LayoutHeight(gLayout.initialWindow);
    LayoutRect place = {saved[0], saved[1], saved[2], saved[3]};
    const LayoutRect screen = VirtualScreen();
    if (place == LayoutRect{0, 0, 0, 0}) {
        HWND owner = state->inputs->owner;
        RECT parent;
        if (!owner || !IsWindowVisible(owner) || IsIconic(owner) || !GetWindowRect(owner, &parent))
            GetWindowRect(GetDesktopWindow(), &parent);
        place = CentreOnParent(minimumWidth, minimumHeight, ToLayout(parent), screen);
        saved[0] = place.left;
        saved[1] = place.top;
        saved[2] = place.right;
        saved[3] = place.bottom;
    }
    if (LayoutWidth(place) < minimumWidth) place.right = place.left + minimumWidth;
    if (LayoutHeight(place) < minimumHeight) place.bottom = place.top + minimumHeight;
    if (!LayoutRectInside(place, screen)) {
        RECT wanted = ToRect(place);
        HMONITOR monitor = MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST);
        if (!monitor) {
            DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not get destination monitor handle.");
            return;
        }
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        if (!GetMonitorInfoA(monitor, &info)) {
            DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not get destination monitor information.");
            return;
        }
        place = FitOnMonitor(place, ToLayout(info.rcMonitor), minimumWidth, minimumHeight);
    }
    SetWindowPos(dialog, nullptr, place.left, place.top, LayoutWidth(place), LayoutHeight(place),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- commands ----

void FocusEdit(MainDialogState* state, int row) {
    const SliderBinding& binding = state->sliders[row];
    if (!binding.edit) return;
    SetFocus(binding.edit);
    SelectEditText(binding);
}

void OnEffectsOnlyClicked(MainDialogState* state) {
    const int16_t value = IsDlgButtonChecked(state->dialog, IDC_EFFECTS_ONLY) == BST_CHECKED ? 1 : 0;
    int16_t& slot = Record(state)->slot[SLOT_EFFECTS_ONLY];
    if (slot != value) {
        slot = value;
        PostValueChanged(state);
    }
}

void OnPreviewClicked(MainDialogState* state) {
    state->previewOn = IsDlgButtonChecked(state->dialog, IDC_PREVIEW_CHECK) == BST_CHECKED;
    if (state->preview) RequestProxyRedraw(state->preview);
}

void EndMainDialog(MainDialogState* state, INT_PTR result) {
    if (state->ending) return;
    state->ending = true;
    EndDialog(state->dialog, result);
}

void OnOk(MainDialogState* state) {
    RECT window;
    if (GetWindowRect(state->dialog, &window)) {
        int32_t* saved = state->interfaceSettings.windowRect;
        saved[0] = window.left;
        saved[1] = window.top;
        saved[2] = window.right;
        saved[3] = window.bottom;
    }
    state->interfaceSettings.previewChecked = state->previewOn ? 1 : 0;
    WriteInterfaceSettings(state->interfaceSettings);
    SaveLastSavedParameters();
    EndMainDialog(state, IDOK);
}

// Runs the settings list's choice: the controls follow the record, the focus
// is cleared and the whole preview is asked for.
void SettingsApplied(void* context) {
    auto* state = static_cast<MainDialogState*>(context);
    RefreshControls(state);
    SetFocus(nullptr);
    RequestPreview();
}

bool OnCommand(MainDialogState* state, int id, int code, HWND control) {
    // Accelerator commands and menu-less tools.
    for (int row = 0; row < SLIDER_ROW_COUNT; row++) {
        if (id == kFocusCommands[row]) {
            FocusEdit(state, row);
            return true;
        }
    }
    if (SliderBinding* binding = BindingOfEditId(state, id)) {
        if (code == EN_CHANGE) OnEditChanged(state, *binding);
        return true;
    }
    switch (id) {
        case IDOK:
            if (code == BN_CLICKED) OnOk(state);
            return true;
        case IDCANCEL:
            if (code == BN_CLICKED) {
                SetGlobalErrorCode(RUN_CANCELLED);
                EndMainDialog(state, IDCANCEL);
            }
            return true;
        case IDC_EFFECTS_ONLY:
            if (code == BN_CLICKED) OnEffectsOnlyClicked(state);
            return true;
        case IDC_PREVIEW_CHECK:
            if (code == BN_CLICKED) OnPreviewClicked(state);
            return true;
        case IDM_TOGGLE_EFFECTS_ONLY: {
            HWND box = GetDlgItem(state->dialog, IDC_EFFECTS_ONLY);
            CheckDlgButton(state->dialog, IDC_EFFECTS_ONLY,
                           IsDlgButtonChecked(state->dialog, IDC_EFFECTS_ONLY) == BST_CHECKED ? BST_UNCHECKED
                                                                                               : BST_CHECKED);
            SetFocus(box);
            SendMessageA(state->dialog, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            OnEffectsOnlyClicked(state);
            return true;
        }
        case IDM_TOGGLE_PREVIEW:
            CheckDlgButton(state->dialog, IDC_PREVIEW_CHECK, state->previewOn ? BST_UNCHECKED : BST_CHECKED);
            OnPreviewClicked(state);
            return true;
        case IDM_FOCUS_SETTINGS: {
            HWND list = GetDlgItem(state->dialog, IDC_SETTINGS_LIST);
            SetFocus(list);
            SendMessageA(list, CB_SHOWDROPDOWN, TRUE, 0);
            return true;
        }
        case IDM_SETTINGS_MENU:
        case IDC_SETTINGS_MENU_BUTTON:
            if (state->inputs->settingsMenu && (id == IDM_SETTINGS_MENU || code == BN_CLICKED))
                RunSettingsMenu(state->dialog, state->inputs->settingsMenu, state->settings);
            return true;
        case IDC_SETTINGS_LIST:
            if (code == CBN_SELCHANGE) {
                if (OnSettingsSelectionChange(state->dialog, state->settings)) SetFocus(control);
            } else if (code == CBN_SETFOCUS) {
                EnableAcceleratorKeys(state->dialog, false);
            } else if (code == CBN_KILLFOCUS) {
                EnableAcceleratorKeys(state->dialog, true);
            }
            return true;
        case IDM_TOOL_PAN: SelectTool(state, PREVIEW_TOOL_PAN, true); return true;
        case IDM_TOOL_ZOOM: SelectTool(state, PREVIEW_TOOL_ZOOM, true); return true;
        case IDM_TOOL_HIDE: SelectTool(state, PREVIEW_TOOL_HIDE, true); return true;
        case IDM_TOOL_SHOW: SelectTool(state, PREVIEW_TOOL_SHOW, true); return true;
        case IDC_TOOL_PAN:
        case IDC_TOOL_ZOOM:
        case IDC_TOOL_HIDE:
        case IDC_TOOL_SHOW:
            if (code == BN_CLICKED || code == BN_DOUBLECLICKED) SelectTool(state, ToolOfControl(id), true);
            if (code == BN_DOUBLECLICKED && state->preview) {
                if (id == IDC_TOOL_PAN) ProxyFitInView(state->preview);
                if (id == IDC_TOOL_ZOOM) ProxySetZoom(state->preview, 100.0);
            }
            return true;
        case IDM_FOCUS_PREVIEW:
            if (state->preview) SetFocus(state->preview);
            return true;
        case IDM_ZOOM_MENU: {
            // As if the zoom menu arrow were clicked in its middle.
            HWND arrow = GetDlgItem(state->dialog, IDC_ZOOM_MENU_ARROW);
            if (!arrow) return true;
            RECT r;
            GetClientRect(arrow, &r);
            const LPARAM middle = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
            SendMessageA(arrow, WM_LBUTTONDOWN, MK_LBUTTON, middle);
            SendMessageA(arrow, WM_LBUTTONUP, 0, middle);
            return true;
        }
        case IDC_ZOOM_MENU_ARROW:
            if (code == BN_CLICKED) ShowZoomMenuAt(state, IDC_ZOOM_MENU_ARROW);
            return true;
        case IDC_ZOOM_DISPLAY:
            if (code == STN_CLICKED || code == STN_DBLCLK) ShowZoomMenuAt(state, IDC_ZOOM_DISPLAY);
            return true;
        case IDM_ZOOM_IN:
        case IDC_ZOOM_IN:
            if (state->preview && (id == IDM_ZOOM_IN || code == BN_CLICKED)) ProxyZoomStep(state->preview, 1);
            return true;
        case IDM_ZOOM_OUT:
        case IDC_ZOOM_OUT:
            if (state->preview && (id == IDM_ZOOM_OUT || code == BN_CLICKED)) ProxyZoomStep(state->preview, -1);
            return true;
        case IDM_FIT_ON_SCREEN:
            if (state->preview) ProxyFitOnScreen(state->preview);
            return true;
        case IDM_FIT_IN_VIEW:
            if (state->preview) ProxyFitInView(state->preview);
            return true;
        case IDM_OPTIONS:
        case IDC_CONFIGURE:
            if (id == IDM_OPTIONS || code == BN_CLICKED) {
                ShowOptionsDialog(state->inputs->instance, state->dialog);
                if (state->preview) RequestProxyRedraw(state->preview);
            }
            return true;
        case IDC_LOGO:
        case IDC_HELP_AND_SUPPORT:
            if (code == BN_CLICKED || code == STN_CLICKED) {
                ShowAboutBox(state->inputs->instance, state->dialog);
                if (state->preview) RequestProxyRedraw(state->preview);
            }
            return true;
        case IDM_LIGHT_SOURCE_TABLE:
            // The table is complete once the preview is ready (Hide and Show enabled).
            if (state->hideShowEnabled)
                ShowLightSourceTableDialog(state->inputs->instance, state->dialog, &LightSourceTable);
            return true;
        case IDM_HELP:
            DisplayHelpInViewer(GetHelpFilePath().c_str());  // the manual at its start page
            return true;
        case IDM_CONTEXT_HELP:
        case IDC_HELP_ICON:
            if (id == IDM_CONTEXT_HELP || code == STN_CLICKED) DisplayHTMLControlHelp(IDC_HELP_ICON);
            return true;
    }
    return false;
}

// Buttons other than OK give the default back to OK when they lose the focus.
void OnButtonKillFocus(MainDialogState* state, int id) {
    if (id != IDOK) SendMessageA(state->dialog, DM_SETDEFID, IDOK, 0);
}

// ---- WM_INITDIALOG ----

void InitializeDialog(MainDialogState* state) {
    HWND dialog = state->dialog;
    BuildLayoutTable(dialog);
    state->dpi = WindowDpi(dialog);
    state->previousMessageOwner = SetMessageOwnerWindow(reinterpret_cast<OsWindow>(dialog));
    SetWindowTextA(dialog, state->inputs->productTitle ? state->inputs->productTitle : kDefaultProductTitle);
    PlaceDialog(state);

    CreateSurface(state);
    if (!state->accelerators || !RegisterAcceleratorKeys(dialog, state->accelerators))
        ReportUnexpected(__LINE__, "InitializeDialog() - No accelerator key table could registered for window 0x%X.",
                         static_cast<unsigned>(reinterpret_cast<uintptr_t>(dialog)));
    Record(state)->slot[SLOT_EFFECTS_ONLY] = 0;
    state->previewOn = true;
    CheckDlgButton(dialog, IDC_PREVIEW_CHECK, BST_CHECKED);
    SetDlgItemTextA(dialog, IDC_HELP_AND_SUPPORT, kHelpAndSupportText);
    // The maker's web site: the same link control as the Options dialog's.
    MakeLinkControl(GetDlgItem(dialog, IDC_WEB_LINK), state->inputs->instance, kMakerWebSite, true);
    LoadDialogImages(state);
    CreateTooltips(state);
    state->settings.applied = SettingsApplied;
    state->settings.appliedContext = state;
    InitSettingsControls(dialog, state->tooltip, state->settings);
    BindCheckBoxes(state);
    BindSliders(state);

    // The preview and its tools: Hide and Show wait for the background task.
    state->preview = GetDlgItem(dialog, IDC_PREVIEW_AREA);
    state->hideShowEnabled = false;
    EnableWindow(GetDlgItem(dialog, IDC_TOOL_HIDE), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_TOOL_SHOW), FALSE);
    if (state->preview) EnableProxyHideShow(state->preview, false);
    int tool = state->interfaceSettings.previewTool;
    if (tool < PREVIEW_TOOL_PAN || tool > PREVIEW_TOOL_SHOW) tool = PREVIEW_TOOL_ZOOM;
    if (tool == PREVIEW_TOOL_HIDE || tool == PREVIEW_TOOL_SHOW) tool = PREVIEW_TOOL_ZOOM;
    state->tool = 0;
    SelectTool(state, tool, false);

    if (GetGlobalErrorCode() == RUN_OK) FocusEdit(state, SLIDER_ROW_QUANTITY);
    ReleaseMainDialogInitialization();
}

void DestroyDialog(MainDialogState* state) {
    RequestBackgroundAbort();
    UnregisterAcceleratorKeys(state->dialog);
    FreeSettingsControls(state->dialog, state->settings);
    if (state->tooltip) DestroyWindow(state->tooltip);
    state->tooltip = nullptr;
    FreeDialogImages(state);
    ReleaseSurface(state);
    ClearLayoutTable();
    SetMessageOwnerWindow(state->previousMessageOwner);
}

// ---- the dialog procedure ----

// A result for the dialog manager in DWLP_MSGRESULT.
INT_PTR Answer(HWND dialog, LRESULT result) {
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR HandleMessage(MainDialogState* state, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitializeDialog(state);
            return FALSE;  // the focus has been set
        case WM_COMMAND: {
            const int id = LOWORD(wParam), code = HIWORD(wParam);
            if (code == BN_KILLFOCUS && reinterpret_cast<HWND>(lParam) && id != IDC_SETTINGS_LIST)
                OnButtonKillFocus(state, id);
            return OnCommand(state, id, code, reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
        }
        case WM_HSCROLL:
        case WM_VSCROLL: {
            HWND from = reinterpret_cast<HWND>(lParam);
            if (from && from == GetDlgItem(dialog, IDC_PREVIEW_HSCROLL)) {
                if (state->preview) ProxyScroll(state->preview, SB_HORZ, wParam);
            } else if (from && from == GetDlgItem(dialog, IDC_PREVIEW_VSCROLL)) {
                if (state->preview) ProxyScroll(state->preview, SB_VERT, wParam);
            } else if (SliderBinding* binding = BindingOfWindow(state, from)) {
                if (from == binding->slider) OnSliderScroll(state, *binding);
            }
            return TRUE;
        }
        case WM_DIALOG_VALUE_CHANGED:
            RecheckSettingsControls(dialog, state->settings);
            RequestPreview();
            return TRUE;
        case WM_DIALOG_REFRESH:
            RefreshControls(state);
            return TRUE;
        case WM_PREVIEW_PROGRESS: {
            HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
            if (!bar) return TRUE;
            if (lParam <= 0) {
                SendMessageA(bar, PBM_SETPOS, 0, 0);
            } else {
                SendMessageA(bar, PBM_SETRANGE32, 0, lParam);
                SendMessageA(bar, PBM_SETPOS, wParam, 0);
            }
            return TRUE;
        }
        case WM_PREVIEW_TASK_READY:
            state->hideShowEnabled = true;
            EnableWindow(GetDlgItem(dialog, IDC_TOOL_HIDE), TRUE);
            EnableWindow(GetDlgItem(dialog, IDC_TOOL_SHOW), TRUE);
            if (state->preview) EnableProxyHideShow(state->preview, true);
            SelectTool(state, state->interfaceSettings.previewTool, true);
            RedrawToolIcons(state);
            return TRUE;
        case WM_PREVIEW_BUSY:
            state->busy = wParam != 0;
            return TRUE;
        case WM_DIALOG_REDRAW_PREVIEW_AREA: {
            RECT area;
            if (GetMainDialogItemRect(IDC_PREVIEW_AREA, &area, nullptr))
                RedrawWindow(dialog, &area, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
            return TRUE;
        }
        case WM_POSTED_USER_MESSAGE:
            ShowPostedMessage(reinterpret_cast<OsWindow>(dialog), reinterpret_cast<void*>(lParam));
            return TRUE;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlID == IDC_ZOOM_MENU_ARROW)
                DrawZoomMenuArrow(*item);
            else
                DrawToolIcon(state, *item);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkMode(dc, TRANSPARENT);
            const bool link = reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, IDC_WEB_LINK);
            SetTextColor(dc, link ? kLinkColor : GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<INT_PTR>(state->faceBrush);
        }
        case WM_CTLCOLOREDIT: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkColor(dc, RGB(255, 255, 255));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
        }
        case WM_PAINT:
            PaintFromSurface(state);
            return TRUE;
        case WM_ERASEBKGND:
            return Answer(dialog, TRUE);
        case WM_SETCURSOR:
            if (state->busy && LOWORD(lParam) == HTCLIENT && reinterpret_cast<HWND>(wParam) != state->preview) {
                SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_APPSTARTING)));
                return Answer(dialog, TRUE);
            }
            return FALSE;
        case WM_DPICHANGED: {
            // Dragged to a monitor of another density in a host aware of each
            // monitor's: the layout's creation rectangles follow, then the
            // window takes the size the system suggests and the rules place
            // every control from there.
            const UINT dpi = LOWORD(wParam);
            LockLayout();
            ScaleLayoutTable(&gLayout, static_cast<int32_t>(dpi), static_cast<int32_t>(state->dpi ? state->dpi : 96));
            UnlockLayout();
            state->dpi = dpi;
            if (const RECT* suggested = reinterpret_cast<const RECT*>(lParam))
                SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                             suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            return Answer(dialog, 0);
        }
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = LayoutWidth(gLayout.initialWindow);
            info->ptMinTrackSize.y = LayoutHeight(gLayout.initialWindow);
            return Answer(dialog, 0);
        }
        case WM_WINDOWPOSCHANGED: {
            const auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
            if (!(position->flags & SWP_NOSIZE)) {
                RepositionControls(dialog);
                if (GetGlobalErrorCode() == RUN_OK) {
                    if (state->preview) ProxyDialogResized(state->preview);
                    CreateSurface(state);
                }
                RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
            }
            return FALSE;  // the default handling still sends WM_SIZE and WM_MOVE
        }
        case WM_ENTERSIZEMOVE:
            SetSizeMoveInProgress(true);
            return TRUE;
        case WM_EXITSIZEMOVE:
            SetSizeMoveInProgress(false);
            return TRUE;
        case WM_ACTIVATEAPP:
            if (!wParam) {
                if (state->preview) ProxyDialogDeactivated(state->preview);
                SetSizeMoveInProgress(false);
            }
            return FALSE;
        case WM_HELP:
            // F1 on a control, or on an entry of a menu (the page of its command).
            if (const HELPINFO* info = reinterpret_cast<const HELPINFO*>(lParam))
                DisplayHTMLControlHelp(static_cast<uint32_t>(info->iCtrlId));
            return TRUE;
        case WM_QUERYENDSESSION:
            return Answer(dialog, TRUE);
        case WM_ENDSESSION:
            if (wParam) {
                SetGlobalErrorCode(RUN_CANCELLED);
                EndMainDialog(state, IDCANCEL);
            }
            return Answer(dialog, 0);
        case WM_DESTROY:
            DestroyDialog(state);
            return FALSE;
    }
    return FALSE;
}

}  // namespace

static INT_PTR CALLBACK RaylumeProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* state = reinterpret_cast<MainDialogState*>(lParam);
        state->dialog = dialog;
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        gDialog = dialog;
        gState = state;
    }
    auto* state = reinterpret_cast<MainDialogState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!state) return FALSE;  // messages before WM_INITDIALOG
    const INT_PTR result = HandleMessage(state, dialog, message, wParam, lParam);

    if (message == WM_DESTROY) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
        gDialog = nullptr;
        gState = nullptr;
        return result;
    }
    // Private messages sent from other threads: let the sender go at once.
    if (message >= WM_APP && (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND)
        ReplyMessage(result);
    // A failure anywhere in the run closes the dialog.
    if (!state->ending && GetGlobalErrorCode() != RUN_OK) EndMainDialog(state, IDCANCEL);
    return result;
}

extern "C" INT_PTR CALLBACK RaylumeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedProcedure<INT_PTR>(0, [&] { return RaylumeProcBody(dialog, message, wParam, lParam); });
}

HWND CurrentMainDialog() { return gDialog; }

bool FillCurrentParameterSet(ParameterSet* set) {
    MainDialogState* state = gState;
    if (!state || !set) return false;
    CopyEffectValues(set, *Record(state));
    set->previewOn = state->previewOn;
    set->monitor = MonitorFromWindow(state->dialog, MONITOR_DEFAULTTONEAREST);
    set->lightSourceEdits = static_cast<int32_t>(GetLightSourceChangeCount(&LightSourceTable));
    if (state->preview) GetProxyViewState(state->preview, set);
    return true;
}

bool GetMainDialogItemRect(int controlId, RECT* windowRect, RECT* clientRect) {
    bool found = false;
    LockLayout();
    if (const LayoutItem* item = FindLayoutItem(&gLayout, controlId)) {
        if (windowRect) *windowRect = ToRect(ApplyLayoutRules(item->initialWindow, item->rules, gGrowthX, gGrowthY));
        if (clientRect) {
            int32_t dWidth = 0, dHeight = 0;
            LayoutSizeChange(item->rules, gGrowthX, gGrowthY, &dWidth, &dHeight);
            *clientRect = ToRect(item->initialClient);
            clientRect->right += dWidth;
            clientRect->bottom += dHeight;
        }
        found = true;
    }
    UnlockLayout();
    return found;
}

namespace {

// Version 6 of the common controls for the dialog, from the module's manifest.
// The dialog still runs with the process's controls when there is none.
struct CommonControlsContext {
    HANDLE context = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie = 0;
    bool active = false;

    explicit CommonControlsContext(HINSTANCE module) {
        char path[MAX_PATH] = {};
        if (!GetModuleFileNameA(module, path, MAX_PATH)) return;
        ACTCTXA request = {};
        request.cbSize = sizeof(request);
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
        request.lpSource = path;
        request.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
        request.hModule = module;
        context = CreateActCtxA(&request);
        if (context != INVALID_HANDLE_VALUE) active = ActivateActCtx(context, &cookie) != FALSE;
    }
    ~CommonControlsContext() {
        if (active) DeactivateActCtx(0, cookie);
        if (context != INVALID_HANDLE_VALUE) ReleaseActCtx(context);
    }
};

}  // namespace

bool RunMainDialog(const MainDialogInputs& inputs) {
    if (!inputs.record) {
        ReportUnexpected(__LINE__, "RunMainDialog() - No parameter record was given.");
        SetGlobalErrorCode(RUN_CANCELLED);
        return false;
    }
    if (gDialog) {
        ReportUnexpected(__LINE__, "RunMainDialog() - The main dialog is already open.");
        return false;
    }
    MainDialogState state = {};
    state.inputs = &inputs;
    state.accelerators = LoadAcceleratorsA(inputs.instance, MAKEINTRESOURCEA(IDR_DIALOG_ACCELERATORS));
    if (!state.accelerators)
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "LoadDialogResources() - Failed to load keyboard accelerator table for main dialog.");
    state.faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    state.interfaceSettings = DefaultInterfaceSettings();
    LoadInterfaceSettings(&state.interfaceSettings);

    FilterParameters* previousRecord = GetCurrentParameterRecord();
    SetCurrentParameterRecord(inputs.record);
    INT_PTR result = -1;
    {
        CommonControlsContext controls(inputs.instance);
        INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&classes);
        const bool registered = CreateProxyDisplayClass(inputs.instance);
        SetCurrentParameterSetProc(FillCurrentParameterSet);
        if (registered) {
            result = DialogBoxParamA(inputs.instance, IDD_RAYLUME_DIALOG, inputs.owner, RaylumeProc,
                                     reinterpret_cast<LPARAM>(&state));
            if (result == -1 || result == 0)
                DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
                    .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                            "RunMainDialog() - The main dialog could not be created.");
            DeleteProxyDisplayClass(inputs.instance);
        }
        SetCurrentParameterSetProc(nullptr);
    }
    SetCurrentParameterRecord(previousRecord);
    if (state.faceBrush) DeleteObject(state.faceBrush);
    // A dialog that failed half way through its creation still cleans up.
    gDialog = nullptr;
    gState = nullptr;

    if (result == IDOK) return true;
    SetGlobalErrorCode(RUN_CANCELLED);
    return false;
}
