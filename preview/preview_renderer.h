// The preview's renderer as the background task runs it: the OpenGL context
// on the preview window (or its background bitmap), the drawing settings and
// the scaled display; the wait display during the task's handshake. The
// dialog's preview and the headless harness use the same one.
#pragma once

#include <windows.h>

#include "preview/background_task.h"

// The procedures to hand to SetPreviewRendererProcs.
const PreviewRendererProcs* PreviewRenderer();
// The splash picture shown while the preview waits (a DIB section; may be null).
void SetPreviewSplashBitmap(HBITMAP splash);
// Whether the running preview's context is accelerated.
bool PreviewRendererAccelerated();
