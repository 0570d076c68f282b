// The Options dialog (template 206): the OpenGL drawing setting (taking
// effect at the next start of the plug-in) and the update-check preferences
// (params/options_settings.h). It opens from the main dialog's Configure
// button and F10, from the About box, and on its own through the exported
// ConfigureOptions entry (host/plugin_platform_win32.cpp), which allows one
// stand-alone dialog per session.
//
// Also here, because the About box shares them: placing a dialog over its
// owner, links and logos, tooltips, the help icon, accelerator tables.
//
// User-interface thread only.
#pragma once

#include <windows.h>

#include <cstddef>

#include "params/options_settings.h"
#include "support/os.h"

// ---- the preferences in the registry (HKEY_CURRENT_USER) ----

// Opens the key with RegCreateKeyExA (all access); a key made by that call
// first receives the five defaults. Values missing from an existing key take
// their fallbacks and are reported. False (with the fallbacks in
// *preferences) when the key cannot be opened.
bool ReadUpdatePreferences(UpdatePreferences* preferences);
// Writes the enabled flag (0 or 1), the interval and the last-check time.
// Every failure is reported; false after any.
bool WriteUpdatePreferences(const UpdatePreferences& preferences);
// Test hook: another key under HKEY_CURRENT_USER (null: the product's).
void SetUpdatePreferencesKeyForTesting(const char* subKey);

// ---- the dialog ----

// The title the dialog shows (the template's with the 64-bit prefix):
// "64 Bit Raylume Pro 2 Plug-in Options".
const char* OptionsDialogTitle();

// Runs the dialog modally over `owner` (may be null). True when it was
// closed with OK: the preferences were written and, when the OpenGL setting
// changed, the new setting too (with a note to the user). Cancel writes
// nothing. The accelerator table is loaded from `instance` once per process;
// nothing is left for the caller to free.
bool ShowOptionsDialog(HINSTANCE instance, HWND owner);

// The stand-alone dialog is guarded by the named mutex
// "Global\{5689CB75-6BB5-416B-AE08-87A3E0639F13}". True, with the mutex owned
// in *mutex, when the caller may open the dialog. When one is already open,
// that dialog is brought to the foreground and the result is false (*mutex
// null); so it is when the mutex cannot be made (reported).
bool ClaimStandaloneOptionsDialog(HANDLE* mutex);
// Gives the mutex up (null does nothing).
void ReleaseStandaloneOptionsDialog(HANDLE mutex);

// ---- shared with the About box ----

// Moves `dialog` over the owner's client area (the desktop's without a
// visible owner) by PlaceDialogInArea.
void PlaceDialogOverOwner(HWND dialog, HWND owner);

// Turns a notifying static into a link: underlined in the link colour (the
// parent answers WM_CTLCOLORSTATIC with LinkControlColor), the hand cursor
// over it, and a left-button release or Enter opens `address` with the
// system shell, owned by the parent dialog when `withOwner`. The address must
// outlive the control; what the link holds is freed with the control.
void MakeLinkControl(HWND control, HINSTANCE instance, const char* address, bool withOwner);
// For WM_CTLCOLORSTATIC: the brush to answer with for a link control (its
// colours set into `dc`), null for any other control.
HBRUSH LinkControlColor(HWND control, HDC dc);

struct DialogTooltip {
    int control;
    const char* text;
};
// A tooltip window for `dialog` (initial delay three double-click times,
// shown 30 s) with a tip for each listed control; null (reported) when it
// cannot be made. The dialog destroys it with itself.
HWND CreateDialogTooltips(HWND dialog, HINSTANCE instance, const DialogTooltip* tips, size_t count);

// Sets the small question-mark icon into a help-icon static.
void SetHelpIcon(HWND dialog, int control);

// Loads an accelerator table once per process into *cache; a failure is
// reported (and retried on the next call).
HACCEL LoadDialogAccelerators(HINSTANCE instance, int tableId, HACCEL* cache);

// What the About box and the Options dialog hold alike; each one's state
// derives from it.
struct PeripheryDialog {
    HINSTANCE instance;
    HWND owner;
    HWND dialog;
    HWND tooltip;
    HACCEL accelerators;
    OsWindow previousMessageOwner;
};
// The end of WM_INITDIALOG: the tooltips, the accelerator keys, and the
// dialog placed over its owner.
void FinishPeripheryDialogStart(PeripheryDialog* d, const DialogTooltip* tips, size_t count);
// The messages they answer alike: link colours, a user message posted by a
// worker thread, and WM_DESTROY (the message owner back, the accelerator
// keys and the tooltips gone). True when `message` was one of them, with the
// dialog procedure's answer in *answer.
bool AnswerPeripheryMessage(PeripheryDialog* d, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* answer);
