// The host's progress bar and cancel check. Only the user-interface thread
// calls the host; worker threads advance the bar through calls queued to
// that thread, which run while it waits alertably for them.
#pragma once

#include <cstdint>

#include "host/host_abi.h"

// The record whose progressProc and abortProc the bar uses (null: none).
void SetProgressHost(FilterRecord* record);
// Per-run start-up on the user-interface thread: the progress lock and a
// handle of this thread for queued calls. Sets -108 when the lock cannot be made.
void InitializeImageEditorProgressBar();
// Tear-down: deletes the lock and closes the thread handle.
void ReleaseImageEditorProgressBar();
// Starts a progress of `total` units (at most 100 steps are shown); false
// when the user cancelled.
bool StartImageEditorProgress(int64_t total);
// Adds units from any thread; false when the update could not be queued.
bool AdvanceImageEditorProgress(int64_t units);
// Shows done/total and asks the host whether to go on; user-interface thread only.
bool DisplayImageEditorProgressBar(int32_t done, int32_t total);
// Steps shown so far and in all (tests).
void GetImageEditorProgress(int32_t* done, int32_t* total);
