// The document's pixels as a run holds them, and the pyramid of reduced
// copies the preview draws from. A front end (the plug-in's host exchange)
// fills the image; the preview layers read it and the pyramid from here,
// without knowing where the pixels came from.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "support/os.h"

// The internal copy of the host's image (empty between runs).
Image* GetHostImage();
// The length of its diagonal in pixels plus one, set by whoever fills it.
int64_t GetImageDiagonal();
void SetImageDiagonal(int64_t diagonal);
// Frees the image and the pyramid.
void ReleaseDocumentImage();

// ---- the preview pyramid ----
constexpr int HOST_PROXY_LEVELS = 16;
// Called with 1 when a level is ready and 16 when the pyramid was already complete.
typedef void (*PyramidNotification)(int32_t code);
void SetPyramidNotification(PyramidNotification notify);
// Builds the 16 levels from the internal image; `window` picks the display profile.
bool BuildHostProxyPyramid(OsWindow window, bool sixteenBitLevels);
// The level to draw for the scale pair (sx, sy), whose factors replace the pair.
bool GetHostProxyImageInfo(Image** level, double* sx, double* sy);
bool IsHostProxyPyramidComplete();
void ReleaseHostProxyPyramid();
