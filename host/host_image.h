// Pixels between the host and the internal image: the read at the start of a
// run, the write-back at its end, and the pyramid of reduced copies the
// preview draws from.
#pragma once

#include <cstdint>

#include "host/host_abi.h"
#include "image/image.h"
#include "support/os.h"

// Host 16-bit samples run 0..32768; the internal image uses 0..65535. Both
// directions round to nearest, so that every host value comes back exactly.
inline uint16_t HostSampleToInternal16(uint16_t v) {
    if (v >= 32768) return 65535;
    return static_cast<uint16_t>((static_cast<uint32_t>(v) * 65535u + 16384u) >> 15);
}
inline uint16_t InternalToHostSample16(uint16_t w) {
    return static_cast<uint16_t>((static_cast<uint32_t>(w) * 65536u + 65535u) / 131070u);
}

// Reads the filter area of the host image tile by tile into the internal
// image (with the selection mask when the host has one), every plane of a
// tile in one request, interleaved. `bigDocument` says the rectangles are in
// their 32-bit form. False (with the result set) on failure.
bool ReadHostImage(FilterRecord* record, bool bigDocument);
// Writes `image` (normally the internal image) back in blocks of 2048 × 2048,
// every plane of a block in one request, interleaved.
bool WriteHostImage(FilterRecord* record, bool bigDocument, const Image* image);
// End of a run: tells the host no more data is needed (when all went well)
// and frees the internal image and the pyramid.
void ReleaseHostImage(FilterRecord* record, bool bigDocument);

Image* GetHostImage();
int64_t GetImageDiagonal();
int32_t GetHostColorPlanes();
int32_t GetHostExtraPlanes();

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
