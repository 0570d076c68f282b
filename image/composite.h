// Screen compositing of an effects image onto a picture, in the picture's own
// precision.
//
// The effects image holds, per pixel, linear colour in the common scale
// (0..0xFFFFFF) and an alpha; each channel's contribution is
// e = colour / 0xFFFFFF × alpha. The picture's channel, decoded exactly to
// linear light d = (v / max)^gamma, becomes d + e × (1 − d) and is encoded
// back by rounding in the stored scale. So:
//  - a screen can only brighten: no stored value ever goes down;
//  - there is no intermediate coarser than the picture itself (a 16-bit
//    shadow is not squeezed through a 16-bit linear step);
//  - a pixel whose result rounds back to its stored value keeps its bytes,
//    and pixels where the effects image is black are not touched at all;
//  - alpha and the selection mask are never written.
// Float pictures keep values at or above 1.0 (and non-finite ones) as they
// are; a screen cannot brighten white.
#pragma once

#include "image/image.h"

// The exact decoding and the rounding points of a picture's stored values,
// made once for a picture and used for every area composited onto it.
struct ScreenCoding {
    TrackedBuffer storage;  // linear values and rounding points (integer pictures)
    int32_t mode = 0;
    double gamma = 1.0;
};

// Makes the coding for `picture`. False, with a report, when its tables
// cannot be had or the picture's mode is not one this composite handles.
bool PrepareScreenCoding(const Image* picture, ScreenCoding* coding);
void ReleaseScreenCoding(ScreenCoding* coding);

// Screen-blends `effects` onto `picture` over `area` (document coordinates,
// inside both images) with the picture's coding. The effects image (of the
// picture's mode, or a finer one) is read through its accessor, the picture is
// read and written directly. False when the coding does not belong to a
// picture of this mode (the picture is then unchanged).
bool ScreenCompositeImage(Image* picture, const Image* effects, const ImageRect& area, const ScreenCoding& coding);
