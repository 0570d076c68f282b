// Blend modes. a = source alpha; x ⊗ y is the product of a value and a unit
// fraction, with x taking the shift by 14 and y the shift by 18 in fast mode.
#include "image/blend.h"

#include "image/fixed_point.h"
#include "support/debug_log.h"

namespace {

uint32_t LargestColor(const PixelValue& value) {
    uint32_t largest = value.c0 > value.c1 ? value.c0 : value.c1;
    return largest > value.c2 ? largest : value.c2;
}

// d_k + s_k ⊗ a, kept only while it stays below 1.0 (no wrap at the top).
void BlendAdd(uint32_t* d, uint32_t s, uint32_t a) {
    uint64_t sum = static_cast<uint64_t>(*d) + UnitProduct(s, a);
    if (sum < UNIT_ONE) *d = static_cast<uint32_t>(sum);
}

// Colours above the colour range are folded into alpha: the colour is
// divided by f and alpha multiplied by it, both at 8 bits less precision.
void BlendStore(PixelValue* d, const PixelValue& s) {
    uint32_t a = s.alpha;
    uint32_t largest = LargestColor(s);
    if (a == 0 || largest <= COLOR_FULL) {
        *d = s;
        return;
    }
    uint32_t alpha8 = a >> 8;
    uint32_t byAlpha = UNIT_ONE / (alpha8 > 1 ? alpha8 : 1);
    uint32_t byColor = largest / 65535;
    uint32_t f = byAlpha < byColor ? byAlpha : byColor;
    if (f < 1) f = 1;
    d->alpha = alpha8 * f;
    d->c0 = (s.c0 / f) << 8;
    d->c1 = (s.c1 / f) << 8;
    d->c2 = (s.c2 / f) << 8;
    d->mask = s.mask;
}

void BlendScreen(PixelValue* d, const PixelValue& s) { BlendScreenWithHue(d, ScreenHueOf(s), s.alpha); }

}  // namespace

ScreenHue ScreenHueOf(const PixelValue& s) {
    ScreenHue hue;
    hue.largest = LargestColor(s);
    const uint32_t source[3] = {s.c0, s.c1, s.c2};
    for (int k = 0; k < 3; k++) {
        // The source colour's hue as a fraction of its largest component.
        uint32_t u = UNIT_ONE;
        if (hue.largest != 0) {
            uint64_t ratio = (static_cast<uint64_t>(source[k]) << 32) / hue.largest;
            u = ratio < UNIT_ONE ? static_cast<uint32_t>(ratio) : UNIT_ONE;
        }
        hue.complement[k] = UNIT_ONE - u;
    }
    return hue;
}

void BlendScreenWithHue(PixelValue* d, const ScreenHue& hue, uint32_t alpha) {
    uint32_t l = UnitProduct(hue.largest, alpha);
    l = l < 0x1000000u ? l << 8 : UNIT_ONE;
    uint32_t* colors[3] = {&d->c0, &d->c1, &d->c2};
    for (int k = 0; k < 3; k++) {
        uint32_t dk = *colors[k];
        uint32_t screened = COLOR_FULL - UnitProduct(COLOR_FULL - dk, hue.complement[k]);
        *colors[k] = UnitProduct(dk, UNIT_ONE - l) + UnitProduct(l, screened);
    }
}

void BlendPixel(PixelValue* d, const PixelValue& s, uint32_t mode) {
    uint32_t a = s.alpha;
    switch (mode) {
        case BLEND_ADD:
            BlendAdd(&d->c0, s.c0, a);
            BlendAdd(&d->c1, s.c1, a);
            BlendAdd(&d->c2, s.c2, a);
            break;
        case BLEND_PREMULTIPLY:
            // Alpha takes the shift by 14 here, the colour the shift by 18.
            d->c0 = UnitProduct(a, s.c0);
            d->c1 = UnitProduct(a, s.c1);
            d->c2 = UnitProduct(a, s.c2);
            d->alpha = UNIT_ONE;
            d->mask = s.mask;
            break;
        case BLEND_STORE:
            BlendStore(d, s);
            break;
        case BLEND_NORMAL:
            d->c0 = UnitProduct(d->c0, UNIT_ONE - a) + UnitProduct(s.c0, a);
            d->c1 = UnitProduct(d->c1, UNIT_ONE - a) + UnitProduct(s.c1, a);
            d->c2 = UnitProduct(d->c2, UNIT_ONE - a) + UnitProduct(s.c2, a);
            break;
        case BLEND_SCREEN:
            BlendScreen(d, s);
            break;
        default:
            ReportUnexpected(__LINE__, "Blending mode not implemented.");
            break;
    }
}
