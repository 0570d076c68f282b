// The main dialog's settings list (combo box 1023) and settings menu (menu
// 234, opened from button 1050), bound to the SettingsList model.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include "params/settings_list.h"

constexpr int IDC_SETTINGS_LIST = 1023;
constexpr int IDC_SETTINGS_MENU_BUTTON = 1050;
constexpr int IDR_SETTINGS_MENU = 234;
constexpr UINT IDM_LOAD_SETTINGS = 40096;
constexpr UINT IDM_SAVE_SETTINGS = 40097;
constexpr UINT IDM_DELETE_SETTINGS = 40098;

extern const char kSettingsListTooltip[];  // "Settings (T) - Select a set of saved parameters"
extern const char kSettingsMenuTooltip[];  // "Menu (M) - Save, load, or delete the current parameter set"

// Dialog initialisation: adds the two tooltips to `tooltip` (may be null),
// fills the model and shows it in the combo box.
bool InitSettingsControls(HWND dialog, HWND tooltip, SettingsList& list);

// Shows the model's items and selection in the combo box.
void ShowSettingsList(HWND dialog, const SettingsList& list);

// CBN_SELCHANGE of the combo box. True when an item was chosen (the dialog
// then gives the keyboard focus back to the list).
bool OnSettingsSelectionChange(HWND dialog, SettingsList& list);

// After every parameter change queued by the dialog.
void RecheckSettingsControls(HWND dialog, SettingsList& list);

// The menu button was pressed: shows the first submenu of `menu` at the
// button's bottom-right corner and runs the command picked.
void RunSettingsMenu(HWND dialog, HMENU menu, SettingsList& list);

// Dialog end: frees the model's blocks and empties the combo box. The menu
// itself belongs to whoever loaded it.
void FreeSettingsControls(HWND dialog, SettingsList& list);
#endif
