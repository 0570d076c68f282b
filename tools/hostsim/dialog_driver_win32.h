// The user in front of the simulated host: a thread that watches this
// process's windows, answers the filter's dialog (OK, Cancel or Esc, after
// an optional pause and scripted steps), closes the plug-in's About box and
// Options dialog with Cancel after reading their texts, and dismisses every
// message box, so that no test or tool ever waits on a window nobody will
// close.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum DialogAction : int32_t {
    DIALOG_PRESS_OK = 1,
    DIALOG_PRESS_CANCEL = 2,
    DIALOG_PRESS_ESCAPE = 3,
};

struct DialogDriverOptions {
    DialogAction action = DIALOG_PRESS_OK;
    // Wait for the preview to report ready (its Hide tool enabled) before
    // acting, at most this long; 0 acts as soon as the dialog is visible.
    uint32_t readyTimeoutMilliseconds = 0;
    // Then wait this much longer (for frames to arrive).
    uint32_t settleMilliseconds = 0;
    // Called on the driver's thread before the action (send messages to the
    // dialog, take a screenshot).
    std::function<void(HWND dialog)> beforeAction;
    // Also watch the windows of other processes (a dialog the plug-in shows
    // inside rundll32 started from a shortcut); by default only this one's.
    bool otherProcesses = false;
};

void StartDialogDriver(const DialogDriverOptions& options);
void StopDialogDriver();
// How many filter dialogs were answered, and the texts of the message boxes dismissed.
int32_t DialogsAnswered();
std::vector<std::string> DismissedMessageBoxes();
// An About box or Options dialog (found by its title) as it was before the
// driver cancelled it: its title and the texts of its visible static controls.
struct ClosedDialog {
    std::string title;
    std::vector<std::string> texts;
};
std::vector<ClosedDialog> ClosedDialogs();
// The filter's main dialog if one is open in this process.
HWND FindFilterDialog();
// Waits (sleeping in slices) until the dialog's Hide tool is enabled: the preview is ready.
bool WaitForPreviewReady(HWND dialog, uint32_t timeoutMilliseconds);
