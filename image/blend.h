// Blending of one pixel into another, in the common value scale: colours
// 0..0xFFFFFF, alpha and mask as unit fractions. Products of fractions are
// precise or fast as PreciseMultiply selects.
#pragma once

#include <cstdint>

#include "image/image.h"

constexpr uint32_t FourCharCode(char a, char b, char c, char d) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) | static_cast<uint32_t>(static_cast<uint8_t>(d));
}

// Blend modes, compared as 32-bit values.
constexpr uint32_t BLEND_ADD = FourCharCode('C', 'V', 'a', 'd');          // add the weighted colour
constexpr uint32_t BLEND_PREMULTIPLY = FourCharCode('C', 'V', 'p', 'a');  // premultiplied copy
constexpr uint32_t BLEND_STORE = FourCharCode('C', 'V', 's', 't');        // store, folding over-range colour into alpha
constexpr uint32_t BLEND_NORMAL = FourCharCode('n', 'o', 'r', 'm');
constexpr uint32_t BLEND_SCREEN = FourCharCode('s', 'c', 'r', 'n');

// Combines `source` into `destination` in `mode`. An unknown mode is
// reported and leaves the destination as it was.
void BlendPixel(PixelValue* destination, const PixelValue& source, uint32_t mode);

// The screen blend in two steps: the source colour's hue (each channel's
// fraction of the largest), which every element of a white shape shares, and
// the blend of one pixel with that hue at an alpha. Together they are
// BlendPixel's BLEND_SCREEN.
struct ScreenHue {
    uint32_t largest;        // the largest colour channel
    uint32_t complement[3];  // one minus each channel's fraction of it
};
ScreenHue ScreenHueOf(const PixelValue& source);
void BlendScreenWithHue(PixelValue* destination, const ScreenHue& hue, uint32_t alpha);
