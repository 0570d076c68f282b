// Windows side of the settings list and menu: the combo box mirrors the model,
// the menu commands open the common file boxes and hand the path to the model.
#ifdef _WIN32
#include "ui/settings_menu_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <string>

#include "params/parameter_files.h"
#include "params/user_data_folders.h"
#include "support/debug_log.h"

const char kSettingsListTooltip[] = "Settings (T) - Select a set of saved parameters";
const char kSettingsMenuTooltip[] = "Menu (M) - Save, load, or delete the current parameter set";

namespace {

// Path buffers of the file boxes, as every path buffer of the plug-in.
constexpr DWORD kPathBufferSize = 1000;

// "Parameter Files" with the pattern " *.rlp" (the blank is part of the stored
// pattern and is harmless to the file box), then the list terminator.
const char kParameterFileFilter[] = "Parameter Files\0 *.rlp\0";

HWND SettingsCombo(HWND dialog) { return GetDlgItem(dialog, IDC_SETTINGS_LIST); }

void AddTooltip(HWND tooltip, HWND dialog, int control, const char* text) {
    HWND window = GetDlgItem(dialog, control);
    if (!tooltip || !window) return;
    TOOLINFOA info = {};
    info.cbSize = sizeof(info);
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = dialog;
    info.uId = reinterpret_cast<UINT_PTR>(window);
    info.lpszText = const_cast<char*>(text);
    SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void ShowSelection(HWND dialog, const SettingsList& list) {
    SendMessageA(SettingsCombo(dialog), CB_SETCURSEL, static_cast<WPARAM>(list.selected), 0);
}

std::string FileBoxTitle(const char* format) {
    char title[256];
    std::snprintf(title, sizeof(title), format, kProductTitle);
    return title;
}

// Fills the parts the Load and Save boxes share.
void PrepareFileBox(OPENFILENAMEA& box, HWND dialog, char* path, const std::string& title,
                    const std::string& folder) {
    ZeroMemory(&box, sizeof(box));
    box.lStructSize = sizeof(box);
    box.hwndOwner = dialog;
    box.lpstrFilter = kParameterFileFilter;
    box.nFilterIndex = 1;
    box.lpstrFile = path;
    box.nMaxFile = kPathBufferSize;
    box.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    box.lpstrTitle = title.c_str();
    box.lpstrDefExt = kParameterFileExtension;
}

void LoadSettingsCommand(HWND dialog, SettingsList& list) {
    char path[kPathBufferSize] = {};
    std::string folder;
    GetUserParametersFolder(folder);
    std::string title = FileBoxTitle("Load %s Parameter File");
    OPENFILENAMEA box;
    PrepareFileBox(box, dialog, path, title, folder);
    box.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_DONTADDTORECENT;
    if (!GetOpenFileNameA(&box)) {
        DWORD error = CommDlgExtendedError();
        if (error != 0) ReportUnexpected(__LINE__, "GetOpenFileName() failed with error = '%d'", static_cast<int>(error));
        return;
    }
    LoadSettingsFile(list, path);
    ShowSettingsList(dialog, list);
}

void SaveSettingsCommand(HWND dialog, SettingsList& list) {
    char path[kPathBufferSize] = {};
    std::string folder;
    GetUserParametersFolder(folder);
    std::string title = FileBoxTitle("Save %s Parameter File");
    OPENFILENAMEA box;
    PrepareFileBox(box, dialog, path, title, folder);
    box.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN | OFN_DONTADDTORECENT;
    if (!GetSaveFileNameA(&box)) {
        DWORD error = CommDlgExtendedError();
        if (error != 0) ReportUnexpected(__LINE__, "GetSaveFileName() failed with error = '%d'", static_cast<int>(error));
        return;
    }
    SaveSettingsFile(list, path);
    ShowSettingsList(dialog, list);
}

void DeleteSettingsCommand(HWND dialog, SettingsList& list) {
    DeleteSettingsItem(list, list.selected, reinterpret_cast<OsWindow>(dialog));
    ShowSettingsList(dialog, list);
}

}  // namespace

bool InitSettingsControls(HWND dialog, HWND tooltip, SettingsList& list) {
    AddTooltip(tooltip, dialog, IDC_SETTINGS_LIST, kSettingsListTooltip);
    AddTooltip(tooltip, dialog, IDC_SETTINGS_MENU_BUTTON, kSettingsMenuTooltip);
    bool filled = FillSettingsList(list);
    ShowSettingsList(dialog, list);
    return filled;
}

void ShowSettingsList(HWND dialog, const SettingsList& list) {
    HWND combo = SettingsCombo(dialog);
    if (!combo) return;
    SendMessageA(combo, WM_SETREDRAW, FALSE, 0);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const auto& item : list.items) {
        LRESULT at = SendMessageA(combo, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(item.text.c_str()));
        if (at >= 0) SendMessageA(combo, CB_SETITEMDATA, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(item.block));
    }
    ShowSelection(dialog, list);
    SendMessageA(combo, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(combo, nullptr, TRUE);
}

bool OnSettingsSelectionChange(HWND dialog, SettingsList& list) {
    LRESULT index = SendMessageA(SettingsCombo(dialog), CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return false;
    ChooseSettingsItem(list, static_cast<int>(index));
    ShowSelection(dialog, list);
    return true;
}

void RecheckSettingsControls(HWND dialog, SettingsList& list) {
    int before = list.selected;
    if (RecheckSettingsSelection(list) != before ||
        SendMessageA(SettingsCombo(dialog), CB_GETCURSEL, 0, 0) != static_cast<LRESULT>(list.selected))
        ShowSelection(dialog, list);
}

void RunSettingsMenu(HWND dialog, HMENU menu, SettingsList& list) {
    HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
    HWND button = GetDlgItem(dialog, IDC_SETTINGS_MENU_BUTTON);
    if (!popup || !button) {
        ReportUnexpected(__LINE__, "RunSettingsMenu() - The settings menu (%p) or its button (%p) is missing.",
                         static_cast<void*>(popup), static_cast<void*>(button));
        return;
    }
    EnableMenuItem(popup, IDM_DELETE_SETTINGS,
                   MF_BYCOMMAND | (CanDeleteSettingsItem(list, list.selected) ? MF_ENABLED : MF_GRAYED));

    RECT rect;
    GetWindowRect(button, &rect);
    SetLastError(0);
    UINT command = static_cast<UINT>(
        TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD, rect.right, rect.bottom, 0, dialog, nullptr));
    if (command == 0) {
        DWORD error = GetLastError();
        if (error != 0)
            DebugEvent(__LINE__, SYSTEM_ERROR, error)
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "TrackPopupMenu() failed with error code 0x%X",
                        static_cast<unsigned>(error));
        return;
    }
    switch (command) {
        case IDM_LOAD_SETTINGS: LoadSettingsCommand(dialog, list); break;
        case IDM_SAVE_SETTINGS: SaveSettingsCommand(dialog, list); break;
        case IDM_DELETE_SETTINGS: DeleteSettingsCommand(dialog, list); break;
        default:
            ReportUnexpected(__LINE__, "TrackPopupMenu() returned unexpected value 0x%X", command);
            break;
    }
}

void FreeSettingsControls(HWND dialog, SettingsList& list) {
    FreeSettingsList(list);
    HWND combo = SettingsCombo(dialog);
    if (combo) SendMessageA(combo, CB_RESETCONTENT, 0, 0);
}
#endif
