// A preview without a dialog: a pop-up window on the calling thread with the
// background task drawing into it, exactly as the dialog's preview does. Tests
// and tools queue parameter sets and read the frames back as pictures. The
// host image and the light source table are the caller's (the internal host
// image of host_image.h and LightSourceTable), set up before opening.
#pragma once

#include <cstdint>
#include <vector>

#include "effects/parameter_set.h"

struct PreviewFrame {
    int32_t width = 0, height = 0;  // the client rectangle
    std::vector<uint8_t> rgba;      // top row first, as the window shows it
};

// Opens the window (width x height client pixels) and starts the task with the
// optimisation setting (OPTIMIZE_NONE: the software path). The first frame is
// drawn once the task's handshake ends. False when the task could not start.
bool OpenPreviewHarness(int32_t width, int32_t height, uint32_t optimizationSetting);
// Queues `set` (its preview rectangle becomes the window's client rectangle)
// and waits, pumping messages, until a frame of it is presented; then copies
// what the window shows. False on time-out or when the task ended.
bool RenderPreviewFrame(const ParameterSet& set, PreviewFrame* frame, uint32_t timeoutMilliseconds = 30000);
// Ends the task and destroys the window.
void ClosePreviewHarness();
// Whether the harness's context is accelerated (the card's path) and uses the gamma shader.
bool PreviewHarnessAccelerated();
