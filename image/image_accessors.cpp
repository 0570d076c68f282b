// Pixel accessors: one reader and one writer per stored format, in a plain
// and an edge-safe form, chosen once per image so that per-pixel work has no
// branch on the format.
#include <cmath>
#include <cstring>

#include "image/fixed_point.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "support/debug_log.h"

namespace {

inline uint32_t MaskOf(const Image* image, int32_t x, int32_t y) {
    return image->mask.size ? AlphaTable8()[*MaskAddress(image, x, y)] : UNIT_ONE;
}

inline void WriteMask(Image* image, uint32_t mask, int32_t x, int32_t y) {
    if (mask != PIXEL_KEEP && image->mask.size) *MaskAddress(image, x, y) = AlphaInverseTable8()[mask >> 16];
}

// Float samples may lie outside 0..1. Below 0 (and NaN) read as black; above,
// the value is kept up to the largest colour the common scale can carry
// (0xFFFFFFFE, about 256 × full scale), never wrapped.
inline uint32_t FloatToColor(float v, double gamma) {
    double d = v;
    if (!(d > 0.0)) return 0;
    if (gamma != 1.0) d = std::pow(d, gamma);
    d *= 16777215.0;
    return d < 4294967294.0 ? RoundToU32(d) : UNIT_ONE;
}

// Float alpha outside 0..1 (or NaN) is held to the range.
inline uint32_t FloatToAlpha(float a) {
    double d = a;
    if (!(d > 0.0)) return 0;
    return d < 1.0 ? RoundToU32(d * 4294967294.0) : UNIT_ONE;
}

inline float ColorToFloat(uint32_t c, double gamma) {
    if (c > 0xFFFFFE) return 1.0f;
    double d = c / 16777215.0;
    if (gamma != 1.0) d = std::pow(d, 1.0 / gamma);
    return static_cast<float>(d);
}

inline uint8_t Inverse8(const Image* image, uint32_t c) { return c > 0xFFFFFE ? 255 : image->tables.inverse8[c >> 8]; }
inline uint16_t Inverse16(const Image* image, uint32_t c) {
    return c > 0xFFFFFE ? 0xFFFF : image->tables.inverse16[c >> 8];
}

// ---- stored formats: colours and alpha of one pixel at `p` ----

struct Gray8 {
    static void Read(const Image* im, const uint8_t* p, PixelValue* v) {
        v->c0 = v->c1 = v->c2 = im->tables.forward8[p[0]];
        v->alpha = AlphaTable8()[p[3]];
    }
    static void Write(const Image* im, uint8_t* p, const PixelValue* v) {
        if (v->c0 != PIXEL_KEEP) p[0] = p[1] = p[2] = Inverse8(im, v->c0);
        if (v->alpha != PIXEL_KEEP) p[3] = AlphaInverseTable8()[v->alpha >> 16];
    }
};

template <int R, int B>
struct Color8 {
    static void Read(const Image* im, const uint8_t* p, PixelValue* v) {
        const uint32_t* f = im->tables.forward8;
        v->c0 = f[p[R]];
        v->c1 = f[p[1]];
        v->c2 = f[p[B]];
        v->alpha = AlphaTable8()[p[3]];
    }
    static void Write(const Image* im, uint8_t* p, const PixelValue* v) {
        if (v->c0 != PIXEL_KEEP) p[R] = Inverse8(im, v->c0);
        if (v->c1 != PIXEL_KEEP) p[1] = Inverse8(im, v->c1);
        if (v->c2 != PIXEL_KEEP) p[B] = Inverse8(im, v->c2);
        if (v->alpha != PIXEL_KEEP) p[3] = AlphaInverseTable8()[v->alpha >> 16];
    }
};
typedef Color8<2, 0> Bgra8;
typedef Color8<0, 2> Rgba8;

struct Gray16 {
    static void Read(const Image* im, const uint8_t* p, PixelValue* v) {
        const auto* s = reinterpret_cast<const uint16_t*>(p);
        v->c0 = v->c1 = v->c2 = im->tables.forward16[s[0]];
        v->alpha = AlphaTable16()[s[3]];
    }
    static void Write(const Image* im, uint8_t* p, const PixelValue* v) {
        auto* s = reinterpret_cast<uint16_t*>(p);
        if (v->c0 != PIXEL_KEEP) s[0] = s[1] = s[2] = Inverse16(im, v->c0);
        if (v->alpha != PIXEL_KEEP) s[3] = AlphaInverseTable16()[v->alpha >> 16];
    }
};

struct Rgb16 {
    static void Read(const Image* im, const uint8_t* p, PixelValue* v) {
        const auto* s = reinterpret_cast<const uint16_t*>(p);
        const uint32_t* f = im->tables.forward16;
        v->c0 = f[s[0]];
        v->c1 = f[s[1]];
        v->c2 = f[s[2]];
        v->alpha = AlphaTable16()[s[3]];
    }
    static void Write(const Image* im, uint8_t* p, const PixelValue* v) {
        auto* s = reinterpret_cast<uint16_t*>(p);
        if (v->c0 != PIXEL_KEEP) s[0] = Inverse16(im, v->c0);
        if (v->c1 != PIXEL_KEEP) s[1] = Inverse16(im, v->c1);
        if (v->c2 != PIXEL_KEEP) s[2] = Inverse16(im, v->c2);
        if (v->alpha != PIXEL_KEEP) s[3] = AlphaInverseTable16()[v->alpha >> 16];
    }
};

struct RgbFloat {
    static void Read(const Image* im, const uint8_t* p, PixelValue* v) {
        const auto* s = reinterpret_cast<const float*>(p);
        v->c0 = FloatToColor(s[0], im->gamma);
        v->c1 = FloatToColor(s[1], im->gamma);
        v->c2 = FloatToColor(s[2], im->gamma);
        v->alpha = FloatToAlpha(s[3]);
    }
    static void Write(const Image* im, uint8_t* p, const PixelValue* v) {
        auto* s = reinterpret_cast<float*>(p);
        if (v->c0 != PIXEL_KEEP) s[0] = ColorToFloat(v->c0, im->gamma);
        if (v->c1 != PIXEL_KEEP) s[1] = ColorToFloat(v->c1, im->gamma);
        if (v->c2 != PIXEL_KEEP) s[2] = ColorToFloat(v->c2, im->gamma);
        if (v->alpha != PIXEL_KEEP) s[3] = static_cast<float>(v->alpha / 4294967296.0);
    }
};

struct GrayFloat {
    static void Read(const Image* im, const uint8_t* p, PixelValue* v) {
        const auto* s = reinterpret_cast<const float*>(p);
        v->c0 = v->c1 = v->c2 = FloatToColor(s[0], im->gamma);
        v->alpha = FloatToAlpha(s[3]);
    }
    static void Write(const Image* im, uint8_t* p, const PixelValue* v) {
        auto* s = reinterpret_cast<float*>(p);
        if (v->c0 != PIXEL_KEEP) s[0] = ColorToFloat(v->c0, im->gamma);
        if (v->alpha != PIXEL_KEEP) s[3] = static_cast<float>(v->alpha / 4294967296.0);
    }
};

struct Linear32 {
    static void Read(const Image*, const uint8_t* p, PixelValue* v) {
        const auto* s = reinterpret_cast<const uint32_t*>(p);
        v->c0 = s[0];
        v->c1 = s[1];
        v->c2 = s[2];
        v->alpha = s[3];
    }
    static void Write(const Image*, uint8_t* p, const PixelValue* v) {
        auto* s = reinterpret_cast<uint32_t*>(p);
        if (v->c0 != PIXEL_KEEP) s[0] = v->c0;
        if (v->c1 != PIXEL_KEEP) s[1] = v->c1;
        if (v->c2 != PIXEL_KEEP) s[2] = v->c2;
        if (v->alpha != PIXEL_KEEP) s[3] = v->alpha;
    }
};

// ---- plain and edge-safe accessors over a format ----

template <class F>
void ReadPlain(const Image* im, PixelValue* v, int32_t x, int32_t y) {
    F::Read(im, PixelAddress(im, x, y), v);
    v->mask = MaskOf(im, x, y);
}

template <class F>
void WritePlain(Image* im, const PixelValue* v, int32_t x, int32_t y) {
    F::Write(im, PixelAddress(im, x, y), v);
    WriteMask(im, v->mask, x, y);
}

template <class F>
void ReadEdgeSafe(const Image* im, PixelValue* v, int32_t x, int32_t y) {
    const ImageRect& b = im->bufferRect;
    int32_t cx = x < b.left ? b.left : (x >= b.right ? b.right - 1 : x);
    int32_t cy = y < b.top ? b.top : (y >= b.bottom ? b.bottom - 1 : y);
    F::Read(im, PixelAddress(im, cx, cy), v);
    if (cx != x || cy != y) {
        v->alpha = 0;
        v->mask = 0;
    } else {
        v->mask = MaskOf(im, x, y);
    }
}

template <class F>
void WriteEdgeSafe(Image* im, const PixelValue* v, int32_t x, int32_t y) {
    const ImageRect& b = im->bufferRect;
    if (x < b.left || x >= b.right || y < b.top || y >= b.bottom) return;
    F::Write(im, PixelAddress(im, x, y), v);
    WriteMask(im, v->mask, x, y);
}

void ReadNothing(const Image*, PixelValue* v, int32_t, int32_t) { *v = PixelValue{0, 0, 0, 0, 0}; }

void WriteNothing(Image*, const PixelValue*, int32_t, int32_t) {
    ReportUnexpected(__LINE__, "OutputImage mode not implemented.");
}

template <class F>
void Choose(Image* image) {
    image->InputImage = image->edgeSafe ? ReadEdgeSafe<F> : ReadPlain<F>;
    image->OutputImage = image->edgeSafe ? WriteEdgeSafe<F> : WritePlain<F>;
}

}  // namespace

void ChooseImageAccessors(Image* image) {
    EnsureFixedAlphaTables();
    bool tables = image->tables.forward8 && image->tables.forward16 && image->tables.inverse8 &&
                  image->tables.inverse16;
    switch (image->mode) {
        case IMAGE_MODE_GRAY8:
            if (tables) return Choose<Gray8>(image);
            break;
        case IMAGE_MODE_RGB8:
            if (tables) return image->pixelFormat == PIXEL_FORMAT_RGBA ? Choose<Rgba8>(image) : Choose<Bgra8>(image);
            break;
        case IMAGE_MODE_GRAY16:
            if (tables) return Choose<Gray16>(image);
            break;
        case IMAGE_MODE_RGB16:
            if (tables) return Choose<Rgb16>(image);
            break;
        case IMAGE_MODE_RGB_FLOAT: return Choose<RgbFloat>(image);
        case IMAGE_MODE_GRAY_FLOAT: return Choose<GrayFloat>(image);
        case IMAGE_MODE_LINEAR32: return Choose<Linear32>(image);
        case 0:
        case 2:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 12:
        case 13:
        case 14:
        case 15:
            ReportUnexpected(__LINE__, "InputImage mode not implemented.");
            ReportUnexpected(__LINE__, "InputImage mode not yet implemented.");
            image->InputImage = ReadNothing;
            image->OutputImage = WriteNothing;
            return;
        default:
            ReportUnexpected(__LINE__, "Invalid InputImage mode.");
            ReportUnexpected(__LINE__, "Unrecognized image mode.");
            image->InputImage = ReadNothing;
            image->OutputImage = WriteNothing;
            return;
    }
    // A supported mode without gamma tables (none could be had) must not
    // touch memory through missing tables: it reads zeros and writes nothing.
    ReportUnexpected(__LINE__, "ChooseImageAccessors() - No gamma tables for image mode %d.", image->mode);
    image->InputImage = ReadNothing;
    image->OutputImage = WriteNothing;
}
