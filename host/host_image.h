// Pixels between the host and the internal image (image/document_image.h):
// the read at the start of a run and the write-back at its end.
#pragma once

#include <cstdint>

#include "host/host_abi.h"
#include "image/document_image.h"
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

int32_t GetHostColorPlanes();
int32_t GetHostExtraPlanes();

