// Keyboard accelerators for modal dialogs. A modal dialog's own message loop
// never calls TranslateAccelerator, so the plug-in watches that loop through
// one message-filter hook on the user-interface thread: a key message whose
// active window has an enabled accelerator table and which that table
// translates becomes a WM_COMMAND to the window and goes no further.
//
// The registry of windows and tables lives until FreeAcceleratorKeys (the
// run's tear-down); the tables belong to the caller (tables loaded with
// LoadAccelerators are freed by the system with their module).
// All functions belong to the user-interface thread.
#pragma once

#include <windows.h>

// Installs the message-filter hook once for the calling thread. False
// (reported) when it cannot be installed.
bool InitializeAcceleratorKeys();

// Gives `window` the table (replacing one it had) and enables it; installs
// the hook when needed. False when the hook is missing or the entry cannot be
// made.
bool RegisterAcceleratorKeys(HWND window, HACCEL table);

// Turns the window's table on or off. False (reported) for a window without a table.
bool EnableAcceleratorKeys(HWND window, bool enabled);

// Forgets the window's entry. False when it had none.
bool UnregisterAcceleratorKeys(HWND window);

// Removes the hook and releases every entry.
void FreeAcceleratorKeys();

// The number of registered windows and whether the hook is installed (for tests).
int RegisteredAcceleratorWindowCount();
bool AcceleratorHookInstalled();
