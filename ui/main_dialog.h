// The filter's main dialog: thirteen slider-and-edit pairs bound to the
// parameter record, Effects Only and Preview, the settings list and its menu,
// the preview window (class "ProxyDisplay", ui/proxy_window.h) with its tools,
// zoom controls and scroll bars, and OK / Cancel.
//
// Every value change is written into the caller's record at once, the
// settings list is re-checked and a new preview is queued with the
// background task (preview/background_task.h), which reads the dialog's
// state through FillCurrentParameterSet.
//
// User-interface thread only; one dialog at a time.
#pragma once

#include <windows.h>

#include "effects/parameter_set.h"
#include "params/filter_parameters.h"

// What the dialog runs on. Nothing here is taken over: the caller keeps the
// record, the menu and the module.
struct MainDialogInputs {
    HINSTANCE instance;        // the module holding the template and resources
    HWND owner;                // the host's window (may be null)
    FilterParameters* record;  // edited in place while the dialog is open
    HMENU settingsMenu;        // menu 234 (may be null: the menu button then does nothing)
    const char* productTitle;  // "Raylume Pro 2"
};

// Runs the modal dialog on the calling (user-interface) thread. True on OK.
// Cancel, Esc or an error result: false, with the run's result -128 unless an
// error is already set. On OK the dialog's window rectangle and preview tool
// are written to the interface settings file and the record to the last-saved
// parameters file. While it runs the record is the current parameter record
// (SetCurrentParameterRecord); the previous one is restored afterwards.
bool RunMainDialog(const MainDialogInputs& inputs);

// The open dialog (null when none), for tests and tools that drive it.
HWND CurrentMainDialog();

// The state the preview draws: the effect values of the record (Effects Only
// included), the Preview flag, the dialog's monitor and the light source edit
// count, then the preview window's view (zoom, scroll, frame, focus). False
// when no dialog is open.
bool FillCurrentParameterSet(ParameterSet* set);

// A control's rectangles as the dialog's size now places it: its window
// rectangle in dialog client coordinates and its own client rectangle. Safe
// from any thread while the dialog is open; false for an unknown control or
// when no dialog is open.
bool GetMainDialogItemRect(int controlId, RECT* windowRect, RECT* clientRect);

// The dialog procedure, exported so that it can be found by name.
extern "C" __declspec(dllexport) INT_PTR CALLBACK RaylumeProc(HWND dialog, UINT message, WPARAM wParam,
                                                              LPARAM lParam);
