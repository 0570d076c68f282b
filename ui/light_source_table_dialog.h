// The light source table dialog (template 210): a diagnostic, resizable list
// of the light source table, one line per source, from which lines can be
// selected (Ctrl+A: all) and copied to the clipboard (Ctrl+C). It reads the
// table once, when it opens, and changes nothing in it. The main dialog opens
// it with Ctrl+T once the preview is ready (the analysis has finished).
//
// User-interface thread only.
#pragma once

#include <windows.h>

#include "analysis/light_source_table.h"

// Runs the dialog modally over `owner` (may be null) on `table` (null: the
// run's LightSourceTable); the dialog's end code (0, or -1 when it could not
// be made). Nothing is left for the caller to free.
INT_PTR ShowLightSourceTableDialog(HINSTANCE instance, HWND owner, const LightSourceList* table);

// The dialog procedure, exported so that it can be found by name. Its
// WM_INITDIALOG lParam is the table (null: the run's LightSourceTable); it
// keeps its own state from then until the window is destroyed.
extern "C" __declspec(dllexport) INT_PTR CALLBACK DisplayLightSourceTableProc(HWND dialog, UINT message,
                                                                              WPARAM wParam, LPARAM lParam);

// Copies the selected lines of a list box to the clipboard as plain text,
// each followed by CR LF. True when nothing is selected (nothing is copied)
// or the copy succeeded; every failure is reported and gives false.
bool CopyListSelectionToClipboard(HWND listBox);
