// Screen compositing in the picture's own precision: see composite.h.
#include "image/composite.h"

#include <cmath>
#include <cstring>

#include "image/fixed_point.h"
#include "image/tracked_buffer.h"
#include "support/debug_log.h"

namespace {

// Exact decoding of an integer format and the rounding points back: for a
// stored value v, linear[v] = (v / max)^gamma and upper[v] = ((v + ½) / max)^gamma,
// the linear value from which on the encoding rounds to v + 1.
struct IntegerCoding {
    const double* linear;
    const double* upper;
    const uint32_t* guide;  // guide[k]: the stored value of linear value k / GUIDE_BINS
    uint32_t maximum;
};

// The guide's bins over 0..1: a power of two, so that d × GUIDE_BINS is exact.
constexpr uint32_t GUIDE_BINS = 65536;

// The storage: linear and upper (maximum + 1 doubles each), then the guide
// (GUIDE_BINS + 1 values).
uint64_t CodingBytes(uint32_t maximum) {
    return 2 * (static_cast<uint64_t>(maximum) + 1) * sizeof(double) + (GUIDE_BINS + 1) * sizeof(uint32_t);
}

IntegerCoding CodingIn(const TrackedBuffer& storage, uint32_t maximum) {
    const auto* linear = static_cast<const double*>(storage.pointer);
    const double* upper = linear + maximum + 1;
    return IntegerCoding{linear, upper, reinterpret_cast<const uint32_t*>(upper + maximum + 1), maximum};
}

bool BuildCoding(uint32_t maximum, double gamma, TrackedBuffer* storage) {
    uint64_t entries = static_cast<uint64_t>(maximum) + 1;
    if (ReallocateBuffer(CodingBytes(maximum), storage) != 0) return false;
    auto* linear = static_cast<double*>(storage->pointer);
    double* upper = linear + entries;
    for (uint64_t v = 0; v < entries; v++) {
        double at = static_cast<double>(v) / maximum, next = (static_cast<double>(v) + 0.5) / maximum;
        linear[v] = gamma == 1.0 ? at : std::pow(at, gamma);
        upper[v] = gamma == 1.0 ? next : std::pow(next, gamma);
    }
    upper[maximum] = HUGE_VAL;
    auto* guide = reinterpret_cast<uint32_t*>(upper + entries);
    uint32_t w = 0;
    for (uint32_t k = 0; k <= GUIDE_BINS; k++) {
        const double d = static_cast<double>(k) / GUIDE_BINS;
        while (!(upper[w] > d)) w++;
        guide[k] = w;
    }
    return true;
}

// The stored value whose rounding interval holds `d`: the first value whose
// upper bound exceeds d. It is never below v (d is never below linear[v]),
// and lies between the guide's values for the bin of d and the next one.
inline uint32_t EncodeUpFrom(const IntegerCoding& c, uint32_t v, double d) {
    if (d < c.upper[v]) return v;
    const double scaled = d * GUIDE_BINS;
    const uint32_t bin = scaled >= GUIDE_BINS ? GUIDE_BINS - 1 : static_cast<uint32_t>(scaled);
    uint32_t low = c.guide[bin] > v + 1 ? c.guide[bin] : v + 1, high = c.guide[bin + 1];
    if (high < low) high = low;
    while (low < high) {
        uint32_t mid = low + (high - low) / 2;
        if (d < c.upper[mid])
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}

// The fraction of full scale an effects channel adds by screening.
inline double Contribution(uint32_t colour, double alpha) {
    double e = static_cast<double>(colour) / COLOR_FULL * alpha;
    return e < 1.0 ? e : 1.0;
}

template <typename Sample>
inline void ScreenInteger(const IntegerCoding& c, Sample* stored, double e) {
    uint32_t v = *stored;
    if (v >= c.maximum) return;
    double d = c.linear[v];
    *stored = static_cast<Sample>(EncodeUpFrom(c, v, d + e * (1.0 - d)));
}

inline void ScreenFloat(float* stored, double e, double gamma) {
    double v = *stored;
    if (!(v < 1.0)) return;  // white, over-range or not a number: a screen adds nothing
    double d = v;
    if (gamma != 1.0) d = v < 0.0 ? -std::pow(-v, gamma) : std::pow(v, gamma);
    // A sample below black (a bias-subtracted frame's noise) gets the light
    // an effect adds to black: it keeps its offset, and the screen does not
    // amplify the effect on it.
    double screened = d + e * (1.0 - (d > 0.0 ? d : 0.0));
    double out = screened;
    if (gamma != 1.0) out = screened < 0.0 ? -std::pow(-screened, 1.0 / gamma) : std::pow(screened, 1.0 / gamma);
    float written = static_cast<float>(out);
    if (written > *stored) *stored = written;
}

// Channel positions of a stored format: `count` colour samples at `offset`.
struct Layout {
    int count;
    int offset[3];
};

Layout LayoutOf(const Image* picture) {
    switch (picture->mode) {
        case IMAGE_MODE_GRAY8:
        case IMAGE_MODE_GRAY16:
        case IMAGE_MODE_GRAY_FLOAT:
            return Layout{1, {0, 0, 0}};
        case IMAGE_MODE_RGB8:
            if (picture->pixelFormat != PIXEL_FORMAT_RGBA) return Layout{3, {2, 1, 0}};  // B, G, R in memory
            return Layout{3, {0, 1, 2}};
        default:
            return Layout{3, {0, 1, 2}};
    }
}

// Walks the area row by row; `apply` gets the picture's pixel and the three
// contributions (channel 0 only for grey pictures, whose effects are grey).
template <typename Sample, typename Apply>
void WalkArea(Image* picture, const Image* effects, const ImageRect& area, const Layout& layout, Apply apply) {
    PixelValue s;
    const size_t lightBytes = 3 * static_cast<size_t>(effects->bytesPerChannel);
    const size_t pixelBytes = 4 * static_cast<size_t>(effects->bytesPerChannel);
    for (int32_t y = area.top; y < area.bottom; y++) {
        auto* row = reinterpret_cast<Sample*>(PixelAddress(picture, area.left, y));
        const uint8_t* light = PixelAddress(effects, area.left, y);
        for (int32_t x = area.left; x < area.right; x++, row += 4, light += pixelBytes) {
            // Most of an effects image is black: a stored zero reads as zero
            // in every format, so such pixels are passed over unread.
            bool dark = true;
            for (size_t b = 0; b < lightBytes && dark; b++) dark = light[b] == 0;
            if (dark) continue;
            effects->InputImage(effects, &s, x, y);
            if ((s.c0 | s.c1 | s.c2) == 0 || s.alpha == 0) continue;
            double alpha = s.alpha >= UNIT_ONE ? 1.0 : static_cast<double>(s.alpha) / UNIT_ONE;
            const uint32_t colours[3] = {s.c0, s.c1, s.c2};
            for (int k = 0; k < layout.count; k++) {
                if (colours[k] == 0) continue;
                apply(row + layout.offset[k], Contribution(colours[k], alpha));
            }
        }
    }
}

}  // namespace

bool PrepareScreenCoding(const Image* picture, ScreenCoding* coding) {
    coding->mode = picture->mode;
    coding->gamma = picture->gamma;
    switch (picture->mode) {
        case IMAGE_MODE_GRAY8:
        case IMAGE_MODE_RGB8:
            if (BuildCoding(255, picture->gamma, &coding->storage)) return true;
            break;
        case IMAGE_MODE_GRAY16:
        case IMAGE_MODE_RGB16:
            if (BuildCoding(65535, picture->gamma, &coding->storage)) return true;
            break;
        case IMAGE_MODE_RGB_FLOAT:
        case IMAGE_MODE_GRAY_FLOAT:
            return true;
        default:
            ReportUnexpected(__LINE__, "PrepareScreenCoding() - Image mode %d is not composited.", picture->mode);
            return false;
    }
    ReportUnexpected(__LINE__, "PrepareScreenCoding() - No memory for the %u-value coding tables.",
                     picture->mode == IMAGE_MODE_GRAY8 || picture->mode == IMAGE_MODE_RGB8 ? 256u : 65536u);
    return false;
}

void ReleaseScreenCoding(ScreenCoding* coding) {
    if (coding->storage.pointer) DeallocateBuffer(&coding->storage);
}

bool ScreenCompositeImage(Image* picture, const Image* effects, const ImageRect& area, const ScreenCoding& coding) {
    if (coding.mode != picture->mode) return false;
    ImageRect inside = IntersectImageRect(IntersectImageRect(area, picture->imageRect), effects->imageRect);
    if (ImageRectEmpty(inside)) return true;
    Layout layout = LayoutOf(picture);
    auto integer = [&](uint32_t maximum) { return CodingIn(coding.storage, maximum); };
    switch (picture->mode) {
        case IMAGE_MODE_GRAY8:
        case IMAGE_MODE_RGB8: {
            const IntegerCoding c = integer(255);
            WalkArea<uint8_t>(picture, effects, inside, layout, [&](uint8_t* v, double e) { ScreenInteger(c, v, e); });
            return true;
        }
        case IMAGE_MODE_GRAY16:
        case IMAGE_MODE_RGB16: {
            const IntegerCoding c = integer(65535);
            WalkArea<uint16_t>(picture, effects, inside, layout, [&](uint16_t* v, double e) { ScreenInteger(c, v, e); });
            return true;
        }
        case IMAGE_MODE_RGB_FLOAT:
        case IMAGE_MODE_GRAY_FLOAT: {
            const double gamma = coding.gamma;
            WalkArea<float>(picture, effects, inside, layout, [gamma](float* v, double e) { ScreenFloat(v, e, gamma); });
            return true;
        }
        default:
            return false;
    }
}
