// A generated star field as the plug-in's internal host image: 16-bit RGB
// encoded with gamma 2.2 (as the default profile stores it), opaque except
// in an optional rectangle. For the preview's tests and tools.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "host/host_image.h"
#include "image/color_management.h"
#include "image/image.h"
#include "tools/starfield/starfield.h"

struct TransparentRect {
    int32_t left, top, right, bottom;
};

inline bool StarfieldToHostImage(const StarfieldImage& field, const TransparentRect* transparent = nullptr) {
    Image* host = GetHostImage();
    ImageRect rect = {0, 0, field.width, field.height};
    if (!CreateImage(host, rect, rect, IMAGE_MODE_RGB16, GetHostProfile(), false, false)) return false;
    for (int32_t y = 0; y < field.height; ++y)
        for (int32_t x = 0; x < field.width; ++x) {
            auto* p = reinterpret_cast<uint16_t*>(PixelAddress(host, x, y));
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<uint16_t>(std::lround(65535.0 * std::pow(std::min(1.0f, field.Pixel(x, y)[c]), 1 / 2.2)));
            const bool clear = transparent && x >= transparent->left && x < transparent->right &&
                               y >= transparent->top && y < transparent->bottom;
            p[3] = clear ? 0 : 65535;
        }
    return true;
}
