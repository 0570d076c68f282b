// The Options dialog (see ui/options_dialog.h): one OptionsDialogState per
// run, kept in the dialog's GWLP_USERDATA from WM_INITDIALOG on.
#include "ui/options_dialog.h"
#include "ui/guarded_procedure.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "gl/drawing_settings.h"
#include "support/debug_log.h"
#include "ui/accelerators.h"
#include "ui/dialog_ids.h"
#include "ui/help_viewer.h"

namespace {

const char kTemplateTitle[] = "Raylume Pro 2 Plug-in Options";
const char kShownTitle[] = "64 Bit Raylume Pro 2 Plug-in Options";  // "64 Bit %s" of the template's
const char kMutexName[] = "Global\\{5689CB75-6BB5-416B-AE08-87A3E0639F13}";
constexpr COLORREF kLinkColor = RGB(0, 102, 204);
constexpr UINT_PTR kLinkSubclassId = 1;
const char kLinkProperty[] = "RaylumeLink";  // marks a link control for LinkControlColor

std::string gUpdatesKey = kProductUpdatesKey;
HACCEL gOptionsAccelerators = nullptr;

const DialogTooltip kOptionsTooltips[] = {
    {IDC_OPTIONS_HELP_ICON, "Help (?) - Click to see help for this Dialog."},
    {IDC_UPDATE_CHECK, "Check this box to enable online update checking."},
    {IDC_UPDATE_INTERVAL, "Enter the number of days to wait between update checks."},
    {IDC_PROXY_SERVER, "Configure the plug-in for Proxy Server operation. Please read the manual first."},
    {IDC_OPENGL_COMPATIBILITY, "Select this option for the greatest compatibility with your current software."},
    {IDC_OPENGL_SPEED, "Select this option for a faster display but with reduced display quality."},
    {IDC_OPENGL_QUALITY, "Select this option for the best display quality."},
    {IDC_OPTIONS_LOGO, "Visit the Corvane Software web site"},
    {IDC_OPTIONS_OK, "OK - Commit changes and return to the editor"},
    {IDC_OPTIONS_CANCEL, "Cancel (Esc) - Close the dialog without making any changes"},
};

// The radio buttons and the settings they stand for.
struct OpenGLRadio {
    int control;
    uint32_t setting;
};
const OpenGLRadio kOpenGLRadios[] = {
    {IDC_OPENGL_QUALITY, OPTIMIZE_FOR_QUALITY},
    {IDC_OPENGL_SPEED, OPTIMIZE_FOR_SPEED},
    {IDC_OPENGL_COMPATIBILITY, OPTIMIZE_FOR_COMPATIBILITY},
    {IDC_OPENGL_SOFTWARE, OPTIMIZE_NONE},
};

struct OptionsDialogState : PeripheryDialog {
    UpdatePreferences preferences;  // as shown; written on OK
    OpenGLRegistrySettings opengl;  // as read: lastStoredSetting tells whether the choice changed
    uint32_t pendingSetting;        // the radio button checked
};

// ---- the registry ----

bool QueryDword(HKEY key, const char* name, uint32_t* value) {
    DWORD data = 0, size = sizeof(data), type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    *value = data;
    return true;
}

bool QueryQword(HKEY key, const char* name, uint64_t* value) {
    uint64_t data = 0;
    DWORD size = sizeof(data), type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_QWORD)
        return false;
    *value = data;
    return true;
}

bool SetDword(HKEY key, const char* name, uint32_t value) {
    DWORD data = value;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)) ==
           ERROR_SUCCESS;
}

bool SetQword(HKEY key, const char* name, uint64_t value) {
    return RegSetValueExA(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

// The five values a new key starts with.
void WriteDefaultPreferences(HKEY key) {
    const UpdatePreferences defaults;
    bool ok = SetDword(key, kUpdateCheckEnabledValue, defaults.checkEnabled ? 1 : 0);
    ok = SetDword(key, kUpdateIntervalValue, defaults.intervalDays) && ok;
    ok = SetQword(key, kLastUpdateCheckTimeValue, defaults.lastCheckTime) && ok;
    for (const char* name : {kUpdateMessageVersionValue, kUpdateSoftwareVersionValue})
        ok = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1) == ERROR_SUCCESS && ok;
    if (!ok) ReportUnexpected(__LINE__, "Could not write the default product update settings.");
}

}  // namespace

void SetUpdatePreferencesKeyForTesting(const char* subKey) { gUpdatesKey = subKey ? subKey : kProductUpdatesKey; }

bool ReadUpdatePreferences(UpdatePreferences* preferences) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, gUpdatesKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS) {
        DebugEvent(__LINE__, SYSTEM_ERROR, static_cast<uint32_t>(status))
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "Could not open the product family updates registry key");
        *preferences = ResolveUpdatePreferences(StoredUpdateValues(), nullptr);
        return false;
    }
    if (disposition == REG_CREATED_NEW_KEY) WriteDefaultPreferences(key);
    StoredUpdateValues stored;
    stored.hasEnabled = QueryDword(key, kUpdateCheckEnabledValue, &stored.enabled);
    stored.hasInterval = QueryDword(key, kUpdateIntervalValue, &stored.interval);
    stored.hasLastCheck = QueryQword(key, kLastUpdateCheckTimeValue, &stored.lastCheck);
    std::vector<std::string> missing;
    *preferences = ResolveUpdatePreferences(stored, &missing);
    for (const std::string& text : missing) ReportUnexpected(__LINE__, "%s", text.c_str());
    RegCloseKey(key);
    return true;
}

bool WriteUpdatePreferences(const UpdatePreferences& preferences) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, gUpdatesKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        DebugEvent(__LINE__, SYSTEM_ERROR, static_cast<uint32_t>(status))
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "Could not open the product family updates registry key");
        return false;
    }
    bool ok = true;
    auto check = [&ok](bool written, const char* failure) {
        if (written) return;
        ReportUnexpected(__LINE__, "%s", failure);
        ok = false;
    };
    check(SetDword(key, kUpdateCheckEnabledValue, preferences.checkEnabled ? 1 : 0),
          "Could not write the UpdateCheckEnabled flag.");
    check(SetDword(key, kUpdateIntervalValue, preferences.intervalDays), "Could not write the UpdateIntervalInDays.");
    check(SetQword(key, kLastUpdateCheckTimeValue, preferences.lastCheckTime),
          "Could not write the LastUpdateCheckTime.");
    check(RegCloseKey(key) == ERROR_SUCCESS, "Could not close the product family updates registry key");
    return ok;
}

// ---- shared with the About box ----

void PlaceDialogOverOwner(HWND dialog, HWND owner) {
    RECT area = {};
    // A hidden owner (rundll32 passes one) has no area worth centring on.
    if (owner && IsWindowVisible(owner) && !IsIconic(owner) && GetClientRect(owner, &area)) {
        MapWindowPoints(owner, nullptr, reinterpret_cast<POINT*>(&area), 2);
    } else {
        GetWindowRect(GetDesktopWindow(), &area);
    }
    RECT window;
    GetWindowRect(dialog, &window);
    int32_t x = 0, y = 0;
    PlaceDialogInArea({area.left, area.top, area.right, area.bottom}, window.right - window.left,
                      window.bottom - window.top, GetSystemMetrics(SM_CXVIRTUALSCREEN),
                      GetSystemMetrics(SM_CYVIRTUALSCREEN), &x, &y);
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// What a link control holds; freed with the control.
struct LinkRecord {
    const char* address;
    bool withOwner;
    HCURSOR cursor;
    HFONT font;
};

void OpenLink(HWND control, const LinkRecord& link) {
    HWND owner = link.withOwner ? GetParent(control) : nullptr;
    HINSTANCE result = ShellExecuteA(owner, "open", link.address, nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) <= 32)
        ReportUnexpected(__LINE__, "OpenWebSite() - ShellExecute() failed with result %d for '%s'.",
                         static_cast<int>(reinterpret_cast<INT_PTR>(result)), link.address);
}

LRESULT CALLBACK LinkSubclass(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);

LRESULT LinkSubclassBody(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* link = reinterpret_cast<LinkRecord*>(data);
    switch (message) {
        case WM_SETCURSOR:
            if (link->cursor) {
                SetCursor(link->cursor);
                return TRUE;
            }
            break;
        case WM_LBUTTONUP:
            OpenLink(control, *link);
            break;
        case WM_GETDLGCODE:
            if (wParam == VK_RETURN) return DefSubclassProc(control, message, wParam, lParam) | DLGC_WANTMESSAGE;
            break;
        case WM_KEYDOWN:
            if (wParam == VK_RETURN) {
                OpenLink(control, *link);
                return 0;
            }
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(control, LinkSubclass, kLinkSubclassId);
            RemovePropA(control, kLinkProperty);
            if (link->font) DeleteObject(link->font);
            delete link;
            return DefSubclassProc(control, message, wParam, lParam);
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

LRESULT CALLBACK LinkSubclass(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
    return GuardedProcedure<LRESULT>(0, [&] { return LinkSubclassBody(control, message, wParam, lParam, id, data); });
}

}  // namespace

void MakeLinkControl(HWND control, HINSTANCE instance, const char* address, bool withOwner) {
    if (!control) return;
    auto* link = new LinkRecord{address, withOwner, nullptr, nullptr};
    link->cursor = LoadCursorA(instance, MAKEINTRESOURCEA(IDC_CURSOR_LINK));
    if (!link->cursor) link->cursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND));
    LOGFONTA font = {};
    HFONT base = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    if (base && GetObjectA(base, sizeof(font), &font)) {
        font.lfUnderline = TRUE;
        link->font = CreateFontIndirectA(&font);
        if (link->font) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(link->font), FALSE);
    }
    if (!SetWindowSubclass(control, LinkSubclass, kLinkSubclassId, reinterpret_cast<DWORD_PTR>(link))) {
        if (link->font) DeleteObject(link->font);
        delete link;
        return;
    }
    SetPropA(control, kLinkProperty, link);
}

HBRUSH LinkControlColor(HWND control, HDC dc) {
    if (!GetPropA(control, kLinkProperty)) return nullptr;
    SetTextColor(dc, kLinkColor);
    SetBkMode(dc, TRANSPARENT);
    return GetSysColorBrush(COLOR_BTNFACE);
}

HWND CreateDialogTooltips(HWND dialog, HINSTANCE instance, const DialogTooltip* tips, size_t count) {
    HWND tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr,
                                   instance, nullptr);
    if (!tooltip) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "InitializeDialog() - Could not create the tooltips.");
        return nullptr;
    }
    SendMessageA(tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, static_cast<LPARAM>(3 * GetDoubleClickTime()));
    SendMessageA(tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    SendMessageA(tooltip, TTM_SETMAXTIPWIDTH, 0, 360);
    for (size_t i = 0; i < count; i++) {
        HWND control = GetDlgItem(dialog, tips[i].control);
        if (!control) continue;
        TOOLINFOA info = {};
        info.cbSize = sizeof(info);
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = dialog;
        info.uId = reinterpret_cast<UINT_PTR>(control);
        info.lpszText = const_cast<char*>(tips[i].text);
        SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
    }
    return tooltip;
}

void SetHelpIcon(HWND dialog, int control) {
    // A shared system icon: nothing to free.
    HANDLE icon = LoadImageA(nullptr, reinterpret_cast<LPCSTR>(IDI_QUESTION), IMAGE_ICON,
                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    if (icon) SendDlgItemMessageA(dialog, control, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
}

HACCEL LoadDialogAccelerators(HINSTANCE instance, int tableId, HACCEL* cache) {
    if (!*cache) {
        *cache = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(tableId));
        if (!*cache)
            DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                        "LoadDialogResources() - Failed to load keyboard accelerator table for about dialog.");
    }
    return *cache;
}

void FinishPeripheryDialogStart(PeripheryDialog* d, const DialogTooltip* tips, size_t count) {
    d->tooltip = CreateDialogTooltips(d->dialog, d->instance, tips, count);
    if (!d->accelerators || !RegisterAcceleratorKeys(d->dialog, d->accelerators))
        ReportUnexpected(__LINE__, "InitializeDialog() - No accelerator key table could registered for window 0x%X.",
                         static_cast<unsigned>(reinterpret_cast<uintptr_t>(d->dialog)));
    PlaceDialogOverOwner(d->dialog, d->owner);
}

bool AnswerPeripheryMessage(PeripheryDialog* d, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* answer) {
    switch (message) {
        case WM_CTLCOLORSTATIC:
            *answer = reinterpret_cast<INT_PTR>(
                LinkControlColor(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam)));
            return true;
        case WM_POSTED_USER_MESSAGE:
            ShowPostedMessage(reinterpret_cast<OsWindow>(d->dialog), reinterpret_cast<void*>(lParam));
            *answer = TRUE;
            return true;
        case WM_DESTROY:
            SetMessageOwnerWindow(d->previousMessageOwner);
            UnregisterAcceleratorKeys(d->dialog);
            if (d->tooltip) DestroyWindow(d->tooltip);
            d->tooltip = nullptr;
            *answer = FALSE;
            return true;
    }
    return false;
}

// ---- the dialog ----

namespace {

OptionsDialogState* StateOf(HWND dialog) {
    return reinterpret_cast<OptionsDialogState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

void ShowInterval(OptionsDialogState* state) {
    SetDlgItemTextA(state->dialog, IDC_UPDATE_INTERVAL_UNIT, IntervalUnitText(state->preferences.intervalDays));
}

void CheckOpenGLRadio(OptionsDialogState* state, int control) {
    CheckRadioButton(state->dialog, IDC_OPENGL_SOFTWARE, IDC_OPENGL_COMPATIBILITY, control);
}

void InitializeOptionsDialog(OptionsDialogState* state) {
    HWND dialog = state->dialog;
    state->previousMessageOwner = SetMessageOwnerWindow(reinterpret_cast<OsWindow>(dialog));
    char title[256] = {};
    GetWindowTextA(dialog, title, sizeof(title));
    SetWindowTextA(dialog, (std::string("64 Bit ") + (title[0] ? title : kTemplateTitle)).c_str());
    ShowWindow(GetDlgItem(dialog, IDC_OPENGL_NOTE), SW_SHOW);
    MakeLinkControl(GetDlgItem(dialog, IDC_OPTIONS_LOGO), state->instance, kMakerWebSiteAddress, true);
    SetHelpIcon(dialog, IDC_OPTIONS_HELP_ICON);
    // No online update check exists in this build, so there is no proxy server to configure.
    EnableWindow(GetDlgItem(dialog, IDC_PROXY_SERVER), FALSE);

    ReadUpdatePreferences(&state->preferences);
    CheckDlgButton(dialog, IDC_UPDATE_CHECK, state->preferences.checkEnabled ? BST_CHECKED : BST_UNCHECKED);
    char interval[16];
    wsprintfA(interval, "%u", state->preferences.intervalDays);
    SetDlgItemTextA(dialog, IDC_UPDATE_INTERVAL, interval);
    EnableWindow(GetDlgItem(dialog, IDC_UPDATE_INTERVAL), state->preferences.checkEnabled);
    ShowInterval(state);
    SendDlgItemMessageA(dialog, IDC_UPDATE_INTERVAL, WM_SETFONT,
                        reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FONT)), FALSE);

    ReadOpenGLRegistryData(&state->opengl);
    state->pendingSetting = state->opengl.optimizationSetting;
    for (const OpenGLRadio& radio : kOpenGLRadios) {
        if (state->pendingSetting == OPTIMIZE_NOT_DETERMINED) EnableWindow(GetDlgItem(dialog, radio.control), FALSE);
        if (state->pendingSetting == radio.setting) CheckOpenGLRadio(state, radio.control);
    }

    FinishPeripheryDialogStart(state, kOptionsTooltips, sizeof(kOptionsTooltips) / sizeof(kOptionsTooltips[0]));
}

void OnIntervalChanged(OptionsDialogState* state) {
    char text[65] = {};
    GetDlgItemTextA(state->dialog, IDC_UPDATE_INTERVAL, text, sizeof(text));
    state->preferences.intervalDays = ParseIntervalText(text);
    ShowInterval(state);
}

void OnOk(OptionsDialogState* state) {
    WriteUpdatePreferences(state->preferences);
    if (state->pendingSetting != state->opengl.lastStoredSetting) {
        state->opengl.optimizationSetting = state->pendingSetting;
        bool forEveryUser = false;
        if (StoreOpenGLSettingChoice(&state->opengl, &forEveryUser))
            DebugEvent(__LINE__, USER_MESSAGE)
                .Report(OS_MB_ICONINFORMATION, "Please Note", "%s", OpenGLSettingNotice(state->pendingSetting).c_str());
    }
    EndDialog(state->dialog, 1);
}

bool OnCommand(OptionsDialogState* state, int id, int code) {
    switch (id) {
        case IDM_OPTIONS_CONTEXT_HELP:
            DisplayHTMLControlHelp(IDC_OPTIONS_HELP_ICON);
            return true;
        case IDC_OPTIONS_HELP_ICON:
            if (code == STN_CLICKED || code == STN_DBLCLK) DisplayHTMLControlHelp(IDC_OPTIONS_HELP_ICON);
            return true;
        case IDC_UPDATE_CHECK:
            if (code == BN_CLICKED) {
                state->preferences.checkEnabled = IsDlgButtonChecked(state->dialog, IDC_UPDATE_CHECK) == BST_CHECKED;
                EnableWindow(GetDlgItem(state->dialog, IDC_UPDATE_INTERVAL), state->preferences.checkEnabled);
            }
            return true;
        case IDC_UPDATE_INTERVAL:
            if (code == EN_CHANGE) OnIntervalChanged(state);
            return true;
        case IDC_PROXY_SERVER:
            DebugEvent(__LINE__, TRACE_MESSAGE).Report("The proxy server settings are not available in this build.");
            return true;
        case IDOK:
        case IDC_OPTIONS_OK:
            if (code == BN_CLICKED) OnOk(state);
            return true;
        case IDCANCEL:
        case IDC_OPTIONS_CANCEL:
            if (code == BN_CLICKED) EndDialog(state->dialog, 0);
            return true;
    }
    for (const OpenGLRadio& radio : kOpenGLRadios) {
        if (radio.control != id) continue;
        if (code == BN_CLICKED) {
            state->pendingSetting = radio.setting;
            CheckOpenGLRadio(state, id);
        }
        return true;
    }
    return false;
}

INT_PTR HandleMessage(OptionsDialogState* state, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitializeOptionsDialog(state);
            return TRUE;
        case WM_COMMAND:
            return OnCommand(state, LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    }
    INT_PTR answer = FALSE;
    AnswerPeripheryMessage(state, message, wParam, lParam, &answer);
    return answer;
}

static INT_PTR CALLBACK OptionsProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        reinterpret_cast<OptionsDialogState*>(lParam)->dialog = dialog;
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    }
    OptionsDialogState* state = StateOf(dialog);
    if (!state) return FALSE;  // messages before WM_INITDIALOG
    const INT_PTR result = HandleMessage(state, message, wParam, lParam);
    if (message == WM_DESTROY) SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
    // A handled message sent from another thread: let the sender go on.
    if (result && (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND) ReplyMessage(result);
    return result;
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedProcedure<INT_PTR>(0, [&] { return OptionsProcBody(dialog, message, wParam, lParam); });
}

}  // namespace

const char* OptionsDialogTitle() { return kShownTitle; }

bool ShowOptionsDialog(HINSTANCE instance, HWND owner) {
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    OptionsDialogState state = {};
    state.instance = instance;
    state.owner = owner;
    state.accelerators = LoadDialogAccelerators(instance, IDR_OPTIONS_ACCELERATORS, &gOptionsAccelerators);
    const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_OPTIONS), owner, OptionsProc,
                                           reinterpret_cast<LPARAM>(&state));
    if (result == -1)
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "ShowOptionsDialog() - The Options dialog could not be created.");
    return result == 1;
}

bool ClaimStandaloneOptionsDialog(HANDLE* mutex) {
    *mutex = nullptr;
    SetLastError(0);
    HANDLE handle = CreateMutexA(nullptr, TRUE, kMutexName);
    const DWORD error = GetLastError();
    if (!handle) {
        DebugEvent(__LINE__, SYSTEM_ERROR, error)
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "ConfigureOptions() - Failed to create Options Dialog Mutex.");
        return false;
    }
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("Opening Options dialog from start menu.");
    if (error == ERROR_ALREADY_EXISTS) {
        // The dialog is found by the title it shows, which carries the 64-bit prefix.
        HWND existing = FindWindowA("#32770", kShownTitle);
        if (existing)
            SetForegroundWindow(existing);
        else
            DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                        "ConfigureOptions() - Could not find existing window.");
        CloseHandle(handle);
        return false;
    }
    if (error != ERROR_SUCCESS) {
        DebugEvent(__LINE__, SYSTEM_ERROR, error)
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "ConfigureOptions() - Failed to create Options Dialog Mutex.");
        CloseHandle(handle);
        return false;
    }
    *mutex = handle;
    return true;
}

void ReleaseStandaloneOptionsDialog(HANDLE mutex) {
    if (!mutex) return;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
