// Star shapes: the sky, adaptive moments, the comparison with stars of
// similar brightness, concentration and the verdict.
#include "analysis/star_shape.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/tracked_buffer.h"
#include "support/debug_log.h"
#include "support/thread_pool.h"
#include "support/os.h"
#include "support/run_result.h"

namespace {

constexpr double kFullScale = 16777215.0;
constexpr int32_t kSkyCell = 32;
constexpr int32_t kMinHalfWidth = 12;
constexpr int32_t kMaxHalfWidth = 64;
constexpr int32_t kMaxIterations = 40;
// A saturated core is a plateau: at least kPlateauPixels pixels of the core
// within kPlateauTolerance of the source's own brightest light, which is at
// least half the frame's brightest channel (a faint flat top is no clipping).
constexpr double kPlateauTolerance = 0.02;
constexpr int32_t kPlateauPixels = 3;
constexpr double kPlateauLevel = 0.5;
// Or pixels of the core at the frame's clipping level (within this fraction).
constexpr double kClippedTolerance = 1.0 / 512.0;
constexpr int32_t kClippedPixels = 2;
// Peaks below this many sky noise deviations give moments not worth judging.
constexpr double kMeasurablePeak = 5.0;
constexpr double kReferenceSpan = 0.6931471805599453;  // log 2: peaks within a factor of 2
constexpr uint32_t kMinNeighbours = 16;
constexpr uint32_t kMaxNeighbours = 64;
constexpr double kSizePercentile = 0.3;
constexpr double kConcentrationPercentile = 0.7;
constexpr double kInnerAperture = 1.5;  // reference sizes
constexpr double kOuterAperture = 4.0;

bool Stopped(const volatile uint8_t* stop) { return OsFlagIsSet(stop); }

// Buffers that are given back however the measuring ends.
struct Scratch {
    TrackedBuffer sky, window, order, spans, rings;
    ~Scratch() {
        for (TrackedBuffer* b : {&sky, &window, &order, &spans, &rings})
            if (b->pointer) DeallocateBuffer(b);
    }
};

// Light of a pixel (mean of the channels held to full scale, 1.0 = full) and
// its brightest channel.
struct PixelLight {
    double light, brightest;
};

PixelLight LightAt(const Image* image, int32_t x, int32_t y) {
    PixelValue p;
    image->InputImage(image, &p, x, y);
    const double c0 = std::min<double>(p.c0, kFullScale), c1 = std::min<double>(p.c1, kFullScale),
                 c2 = std::min<double>(p.c2, kFullScale);
    return PixelLight{(c0 + c1 + c2) / (3.0 * kFullScale), std::max({c0, c1, c2}) / kFullScale};
}

// ---- the sky ----

struct SkyMap {
    const float* level;  // one value per cell, row after row
    int32_t columns, rows;
    int32_t left, top;
    double noise;        // median over the cells of the sky's deviation
    double clipping;     // the brightest channel anywhere in the frame
};

double Median(float* values, size_t count) {
    std::nth_element(values, values + count / 2, values + count);
    return values[count / 2];
}

// The sky of one cell from its pixels' light (`values`, reordered; `kept`
// holds the same values and is overwritten): the median without the pixels
// more than 3 deviations above it (stars and galaxies lie above the sky), and
// the deviation from the median absolute deviation.
void CellSky(float* values, float* kept, size_t count, float* level, float* deviation) {
    const float median = static_cast<float>(Median(values, count));
    for (size_t i = 0; i < count; i++) values[i] = std::fabs(kept[i] - median);
    const float spread = static_cast<float>(1.4826 * Median(values, count));
    size_t faint = 0;
    for (size_t i = 0; i < count; i++)
        if (kept[i] <= median + 3.0f * spread) kept[faint++] = kept[i];
    *level = faint > count / 4 ? static_cast<float>(Median(kept, faint)) : median;
    *deviation = spread;
}

// The cells of some rows of the sky grid, measured by one thread.
struct SkyRows {
    const Image* image;
    SkyMap* sky;
    float* raw;
    float* deviations;
    double* brightest;  // per row of cells: the brightest channel in it
    const volatile uint8_t* stop;
};

bool MeasureSkyRows(void* context, int32_t firstRow, int32_t endRow) {
    const SkyRows& job = *static_cast<SkyRows*>(context);
    const ImageRect& r = job.image->imageRect;
    const SkyMap* sky = job.sky;
    float values[kSkyCell * kSkyCell], kept[kSkyCell * kSkyCell];
    for (int32_t row = firstRow; row < endRow; row++) {
        if (Stopped(job.stop)) return false;
        double brightest = 0.0;
        for (int32_t column = 0; column < sky->columns; column++) {
            const int32_t x0 = r.left + column * kSkyCell, y0 = r.top + row * kSkyCell;
            const int32_t x1 = std::min(x0 + kSkyCell, r.right), y1 = std::min(y0 + kSkyCell, r.bottom);
            size_t count = 0;
            for (int32_t y = y0; y < y1; y++)
                for (int32_t x = x0; x < x1; x++) {
                    const PixelLight p = LightAt(job.image, x, y);
                    values[count] = kept[count] = static_cast<float>(p.light);
                    count++;
                    brightest = std::max(brightest, p.brightest);
                }
            float level, deviation;
            CellSky(values, kept, count, &level, &deviation);
            job.raw[row * sky->columns + column] = level;
            job.deviations[row * sky->columns + column] = deviation;
        }
        job.brightest[row] = brightest;
    }
    return true;
}

bool MeasureSky(const Image* image, Scratch* scratch, SkyMap* sky, const volatile uint8_t* stop) {
    const ImageRect& r = image->imageRect;
    const int32_t width = r.right - r.left, height = r.bottom - r.top;
    sky->columns = (width + kSkyCell - 1) / kSkyCell;
    sky->rows = (height + kSkyCell - 1) / kSkyCell;
    sky->left = r.left;
    sky->top = r.top;
    sky->clipping = 0.0;
    const uint64_t cells = static_cast<uint64_t>(sky->columns) * sky->rows;
    // Three floats a cell, then (8-byte aligned) a double a row of cells.
    const uint64_t floats = (cells * 3 + 1) & ~static_cast<uint64_t>(1);
    if (ReallocateBuffer(floats * sizeof(float) + static_cast<uint64_t>(sky->rows) * sizeof(double), &scratch->sky) !=
        0) {
        ReportUnexpected(__LINE__, "MeasureLightSourceShapes() - No memory for the sky of %llu cells.",
                         static_cast<unsigned long long>(cells));
        return false;
    }
    auto* raw = static_cast<float*>(scratch->sky.pointer);
    float* deviations = raw + cells;
    float* smoothed = raw + 2 * cells;
    auto* brightest = reinterpret_cast<double*>(raw + floats);
    // The cells are measured on every processor, a section of rows each.
    SkyRows job = {image, sky, raw, deviations, brightest, stop};
    if (!RunInRowSections(0, sky->rows, MeasureSkyRows, &job)) return false;
    for (int32_t row = 0; row < sky->rows; row++) sky->clipping = std::max(sky->clipping, brightest[row]);
    // A cell that a large galaxy or a bright star fills reads high: the
    // median of each 3 × 3 block of cells stands for its centre.
    for (int32_t row = 0; row < sky->rows; row++)
        for (int32_t column = 0; column < sky->columns; column++) {
            float block[9];
            int n = 0;
            for (int32_t dy = -1; dy <= 1; dy++)
                for (int32_t dx = -1; dx <= 1; dx++) {
                    const int32_t a = column + dx, b = row + dy;
                    if (a >= 0 && b >= 0 && a < sky->columns && b < sky->rows) block[n++] = raw[b * sky->columns + a];
                }
            smoothed[row * sky->columns + column] = static_cast<float>(Median(block, static_cast<size_t>(n)));
        }
    sky->noise = Median(deviations, static_cast<size_t>(cells));
    sky->level = smoothed;
    return true;
}

// The sky at (x, y), interpolated between the cell centres.
double SkyAt(const SkyMap& sky, double x, double y) {
    const double u = std::clamp((x - sky.left + 0.5) / kSkyCell - 0.5, 0.0, sky.columns - 1.0);
    const double v = std::clamp((y - sky.top + 0.5) / kSkyCell - 0.5, 0.0, sky.rows - 1.0);
    const int32_t i = std::min(static_cast<int32_t>(u), sky.columns - 1);
    const int32_t j = std::min(static_cast<int32_t>(v), sky.rows - 1);
    const int32_t i1 = std::min(i + 1, sky.columns - 1), j1 = std::min(j + 1, sky.rows - 1);
    const double fu = u - i, fv = v - j;
    const float* l = sky.level;
    const double top = l[j * sky.columns + i] * (1 - fu) + l[j * sky.columns + i1] * fu;
    const double bottom = l[j1 * sky.columns + i] * (1 - fu) + l[j1 * sky.columns + i1] * fu;
    return top * (1 - fv) + bottom * fv;
}

// ---- one source's window ----

// The light above the sky around a centre, clipped to the image.
struct Window {
    double* light;           // width × height values, row after row
    int32_t left, top, width, height;
    int32_t plateau;         // pixels of the core within the plateau's tolerance of its brightest
    int32_t clipped;         // pixels of the core at the frame's clipping level
    double peak;             // brightest of the 3 × 3 around the centre
    double coreLight;        // brightest light of the core (sky included)
};

void ReadWindow(const Image* image, const SkyMap& sky, double cx, double cy, int32_t half, double core, double* buffer,
                Window* w) {
    const ImageRect& r = image->imageRect;
    const int32_t x = static_cast<int32_t>(std::lround(cx)), y = static_cast<int32_t>(std::lround(cy));
    w->left = std::max(r.left, x - half);
    w->top = std::max(r.top, y - half);
    w->width = std::max(0, std::min(r.right, x + half + 1) - w->left);
    w->height = std::max(0, std::min(r.bottom, y + half + 1) - w->top);
    w->light = buffer;
    w->plateau = 0;
    w->clipped = 0;
    w->peak = 0.0;
    const double clippedLevel = sky.clipping * (1.0 - kClippedTolerance);
    w->coreLight = 0.0;
    const double background = SkyAt(sky, cx, cy);
    auto inCore = [&](int32_t px, int32_t py) {
        const double dx = px - cx, dy = py - cy;
        return dx * dx + dy * dy <= core * core;
    };
    for (int32_t j = 0; j < w->height; j++)
        for (int32_t i = 0; i < w->width; i++) {
            const int32_t px = w->left + i, py = w->top + j;
            const PixelLight p = LightAt(image, px, py);
            const double value = p.light - background;
            buffer[j * w->width + i] = value;
            if (inCore(px, py)) {
                w->coreLight = std::max(w->coreLight, p.light);
                w->clipped += p.brightest >= clippedLevel;
            }
            if (std::abs(px - x) <= 1 && std::abs(py - y) <= 1) w->peak = std::max(w->peak, value);
        }
    if (core <= 0.0 || w->coreLight < kPlateauLevel * sky.clipping) return;
    const double flat = w->coreLight * (1.0 - kPlateauTolerance) - background;
    for (int32_t j = 0; j < w->height; j++)
        for (int32_t i = 0; i < w->width; i++)
            if (buffer[j * w->width + i] >= flat && inCore(w->left + i, w->top + j)) w->plateau++;
}

struct Moments {
    double x, y;           // centre
    double xx, yy, xy;     // second moments
};

// Moments weighted by an elliptical Gaussian that is matched to the source
// step by step: the weight's moments become twice the weighted moments, and
// the centre follows the weighted light. False when the light under the
// weight is not positive, the moments degenerate, or the centre wanders more
// than 2 pixels (towards a brighter neighbour: such a source is not judged).
bool AdaptiveMoments(const Window& w, double startSigma, Moments* m) {
    const double limit = std::pow(std::min(w.width, w.height) / 3.0, 2.0);
    m->xx = m->yy = startSigma * startSigma;
    m->xy = 0.0;
    const double startX = m->x, startY = m->y;
    for (int32_t iteration = 0; iteration < kMaxIterations; iteration++) {
        const double det = m->xx * m->yy - m->xy * m->xy;
        if (!(det > 0)) return false;
        const double ixx = m->yy / det, iyy = m->xx / det, ixy = -m->xy / det;
        double s0 = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        for (int32_t j = 0; j < w.height; j++) {
            const double dy = w.top + j - m->y;
            for (int32_t i = 0; i < w.width; i++) {
                const double dx = w.left + i - m->x;
                const double rho = dx * dx * ixx + 2 * dx * dy * ixy + dy * dy * iyy;
                if (rho > 20.0) continue;
                const double v = std::exp(-0.5 * rho) * w.light[j * w.width + i];
                s0 += v;
                sx += v * dx;
                sy += v * dy;
                sxx += v * dx * dx;
                syy += v * dy * dy;
                sxy += v * dx * dy;
            }
        }
        if (!(s0 > 0)) return false;
        const double ex = sx / s0, ey = sy / s0;
        const double cxx = sxx / s0 - ex * ex, cyy = syy / s0 - ey * ey, cxy = sxy / s0 - ex * ey;
        double nxx = 2 * cxx, nyy = 2 * cyy, nxy = 2 * cxy;
        if (!(nxx > 0.05) || !(nyy > 0.05) || !(nxx * nyy - nxy * nxy > 0)) return false;
        // Larger than the window can show: held at its limit, which still
        // reads as far larger than any star it was sized for.
        const double largest = 0.5 * (nxx + nyy) + std::sqrt(0.25 * (nxx - nyy) * (nxx - nyy) + nxy * nxy);
        bool held = false;
        if (largest > limit) {
            const double s = limit / largest;
            nxx *= s;
            nyy *= s;
            nxy *= s;
            held = true;
        }
        const double change = std::fabs(nxx - m->xx) + std::fabs(nyy - m->yy) + std::fabs(nxy - m->xy);
        m->x += ex;
        m->y += ey;
        m->xx = nxx;
        m->yy = nyy;
        m->xy = nxy;
        // A centre that wanders off belongs to a neighbour.
        if (std::hypot(m->x - startX, m->y - startY) > 2.0) return false;
        if (held || (change < 1e-4 * (nxx + nyy) && std::fabs(ex) < 1e-3 && std::fabs(ey) < 1e-3)) return true;
    }
    return true;
}

// The light within radius r of (cx, cy): pixels cut by the circle count with
// the part of their area inside (4 × 4 samples).
double ApertureLight(const Window& w, double cx, double cy, double r) {
    double sum = 0.0;
    for (int32_t j = 0; j < w.height; j++) {
        const double dy = w.top + j - cy;
        for (int32_t i = 0; i < w.width; i++) {
            const double dx = w.left + i - cx;
            const double d = std::sqrt(dx * dx + dy * dy);
            double inside;
            if (d <= r - 0.75) {
                inside = 1.0;
            } else if (d >= r + 0.75) {
                continue;
            } else {
                int n = 0;
                for (int b = 0; b < 4; b++)
                    for (int a = 0; a < 4; a++) {
                        const double sx = dx - 0.375 + a * 0.25, sy = dy - 0.375 + b * 0.25;
                        n += sx * sx + sy * sy <= r * r;
                    }
                inside = n / 16.0;
            }
            sum += inside * w.light[j * w.width + i];
        }
    }
    return sum;
}

// ---- the wings of a saturated source ----

// A sortable key of a ring bin and a value: the bin in the high half, the
// float's bits ordered as the floats are in the low half.
uint64_t RingKey(uint32_t bin, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits = (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
    return (static_cast<uint64_t>(bin) << 32) | bits;
}

float RingValue(uint64_t key) {
    uint32_t bits = static_cast<uint32_t>(key);
    bits = (bits & 0x80000000u) ? (bits & 0x7FFFFFFFu) : ~bits;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

struct WingRadii {
    double level;    // the plateau's light above the sky
    double core;     // where the profile falls below 80 % of the plateau
    double quarter;  // below 25 %: the window's radius when it never does
};

// The profile of a source as the median light of each half-pixel ring around
// (cx, cy) (the median, so that spikes, trails and neighbours covering part
// of a ring do not lift it), and the radii where it falls below 90 % and 25 %
// of its brightest ring, interpolated between rings. `keys` holds a key for
// every pixel of the window. False when the profile has no light.
bool MeasureWings(const Window& w, double cx, double cy, uint64_t* keys, WingRadii* radii) {
    const double limit = std::min({cx - w.left, w.left + w.width - 1 - cx, cy - w.top, w.top + w.height - 1 - cy});
    if (!(limit >= 2.0)) return false;
    size_t n = 0;
    for (int32_t j = 0; j < w.height; j++)
        for (int32_t i = 0; i < w.width; i++) {
            const double r = std::hypot(w.left + i - cx, w.top + j - cy);
            if (r > limit) continue;
            keys[n++] = RingKey(static_cast<uint32_t>(2.0 * r + 0.5), static_cast<float>(w.light[j * w.width + i]));
        }
    std::sort(keys, keys + n);
    constexpr size_t kRings = 2 * kMaxHalfWidth + 2;
    double median[kRings];
    bool present[kRings] = {};
    double level = 0.0;
    uint32_t levelBin = 0;
    for (size_t first = 0; first < n;) {
        const uint32_t bin = static_cast<uint32_t>(keys[first] >> 32);
        size_t last = first;
        while (last < n && static_cast<uint32_t>(keys[last] >> 32) == bin) last++;
        if (bin < kRings) {
            median[bin] = RingValue(keys[first + (last - first) / 2]);
            present[bin] = true;
            if (median[bin] > level) {
                level = median[bin];
                levelBin = bin;
            }
        }
        first = last;
    }
    // What is left of the sky: the outermost whole ring (a galaxy's halo
    // lifts the local sky estimate less than this ring's own median).
    double floor = 0.0;
    for (size_t bin = std::min<size_t>(kRings - 1, static_cast<size_t>(2.0 * limit)); bin > levelBin; bin--)
        if (present[bin]) {
            floor = median[bin];
            break;
        }
    for (size_t bin = 0; bin < kRings; bin++) median[bin] -= floor;
    level -= floor;
    if (!(level > 0.0)) return false;
    auto fallsBelow = [&](double fraction) {
        const double value = fraction * level;
        double previousRadius = levelBin / 2.0, previous = level;
        for (size_t bin = levelBin + 1; bin < kRings; bin++) {
            if (!present[bin]) continue;
            if (median[bin] < value) {
                const double radius = bin / 2.0;
                if (previous <= median[bin]) return radius;
                return previousRadius + (previous - value) / (previous - median[bin]) * (radius - previousRadius);
            }
            previousRadius = bin / 2.0;
            previous = median[bin];
        }
        return limit;
    };
    radii->level = level;
    radii->core = fallsBelow(0.8);
    radii->quarter = fallsBelow(0.05);
    return true;
}

// Whether diffraction spikes cross the annulus just outside a saturated
// core: the light of the annulus by direction shows at least two pairs of
// narrow peaks facing each other. A galaxy's elongation shows as two broad
// swells, a neighbour as one narrow peak with none opposite.
bool HasSpikes(const Window& w, double cx, double cy, const WingRadii& radii) {
    constexpr int32_t kDirections = 90;
    constexpr int32_t kWidest = 6;  // directions: wider is no spike
    const double inner = radii.core + 2.0, outer = radii.core + 8.0;
    // Sampled along circles every half pixel, between pixels bilinearly.
    auto lightAt = [&](double x, double y) -> double {
        const double u = x - w.left, v = y - w.top;
        const int32_t i = static_cast<int32_t>(std::floor(u)), j = static_cast<int32_t>(std::floor(v));
        if (i < 0 || j < 0 || i + 1 >= w.width || j + 1 >= w.height) return NAN;
        const double fu = u - i, fv = v - j;
        const double* row = w.light + j * w.width + i;
        return (row[0] * (1 - fu) + row[1] * fu) * (1 - fv) + (row[w.width] * (1 - fu) + row[w.width + 1] * fu) * fv;
    };
    float value[kDirections], spread[kDirections];
    for (int32_t d = 0; d < kDirections; d++) {
        const double angle = 6.283185307179586 * d / kDirections;
        const double c = std::cos(angle), sn = std::sin(angle);
        double sum = 0.0;
        int32_t n = 0;
        for (double r = inner; r <= outer; r += 0.5) {
            const double v = lightAt(cx + r * c, cy + r * sn);
            if (std::isnan(v)) return false;  // cut by the image's edge
            sum += v;
            n++;
        }
        value[d] = spread[d] = static_cast<float>(sum / n);
    }
    const double middle = Median(spread, kDirections);
    for (int32_t d = 0; d < kDirections; d++) spread[d] = std::fabs(value[d] - static_cast<float>(middle));
    const double deviation = std::max(1.4826 * Median(spread, kDirections), 0.002 * radii.level);
    const double high = middle + 5.0 * deviation;
    // Runs of high directions, around the circle, from a low one.
    int32_t start = 0;
    while (start < kDirections && value[start] > high) start++;
    if (start == kDirections) return false;
    double centre[kDirections];
    int32_t runs = 0;
    for (int32_t k = 1; k <= kDirections;) {
        const int32_t d = (start + k) % kDirections;
        if (value[d] <= high) {
            k++;
            continue;
        }
        int32_t length = 0;
        while (k <= kDirections && value[(start + k) % kDirections] > high) {
            length++;
            k++;
        }
        if (length <= kWidest) centre[runs++] = d + (length - 1) / 2.0;
    }
    int32_t pairs = 0;
    for (int32_t a = 0; a < runs; a++)
        for (int32_t b = a + 1; b < runs; b++) {
            const double apart = std::fabs(std::fmod(centre[b] - centre[a] + 2.0 * kDirections, kDirections) -
                                           kDirections / 2.0);
            pairs += apart <= 4.0;
        }
    return pairs >= 2;
}

// ---- comparison with stars of similar brightness ----

struct Span {
    uint32_t first, last;  // positions in the brightness order, last exclusive
};

// The sources of similar peak: the nearest in log peak, at least
// kMinNeighbours (when there are so many), more while they lie within the
// reference span, at most kMaxNeighbours. `order` holds the comparable
// sources by ascending peak; the source itself, when among them, is counted
// and left out later.
Span NeighboursOf(const StarShape* shapes, const uint32_t* order, uint32_t count, double peak) {
    const double at = std::log(peak);
    auto logPeak = [&](uint32_t position) { return std::log(static_cast<double>(shapes[order[position]].peak)); };
    uint32_t low = static_cast<uint32_t>(
        std::lower_bound(order, order + count, peak,
                         [&](uint32_t index, double value) { return shapes[index].peak < value; }) -
        order);
    uint32_t high = low;
    while (high - low < std::min(kMaxNeighbours + 1, count)) {
        const bool canLower = low > 0, canRaise = high < count;
        const double below = canLower ? at - logPeak(low - 1) : INFINITY;
        const double above = canRaise ? logPeak(high) - at : INFINITY;
        const double nearer = std::min(below, above);
        if (high - low >= kMinNeighbours && nearer > kReferenceSpan) break;
        if (below <= above)
            low--;
        else
            high++;
    }
    return Span{low, high};
}

// The value at fraction `p` of the sorted values of the span (the source
// itself left out).
template <typename Field>
double Percentile(const StarShape* shapes, const uint32_t* order, Span span, uint32_t self, double p, Field field) {
    double values[kMaxNeighbours + 1];
    uint32_t n = 0;
    for (uint32_t k = span.first; k < span.last; k++)
        if (order[k] != self) values[n++] = field(shapes[order[k]]);
    if (n == 0) return 0.0;
    const uint32_t at = static_cast<uint32_t>(p * (n - 1) + 0.5);
    std::nth_element(values, values + at, values + n);
    return values[at];
}

}  // namespace

int16_t MeasureLightSourceShapes(const Image* image, const LightSourceList* table, StarShape* shapes,
                                 const volatile uint8_t* stop) {
    const uint32_t count = table->count;
    if (count == 0) return RUN_OK;
    std::memset(static_cast<void*>(shapes), 0, static_cast<size_t>(count) * sizeof(StarShape));
    Scratch scratch;
    SkyMap sky;
    if (!MeasureSky(image, &scratch, &sky, stop)) return Stopped(stop) ? RUN_CANCELLED : RUN_OUT_OF_MEMORY;
    const uint64_t side = 2 * kMaxHalfWidth + 1;
    if (ReallocateBuffer(side * side * sizeof(double), &scratch.window) != 0 ||
        ReallocateBuffer(static_cast<uint64_t>(count) * sizeof(uint32_t), &scratch.order) != 0 ||
        ReallocateBuffer(static_cast<uint64_t>(count) * sizeof(Span), &scratch.spans) != 0 ||
        ReallocateBuffer(std::max<uint64_t>(side * side, count) * sizeof(uint64_t), &scratch.rings) != 0) {
        ReportUnexpected(__LINE__, "MeasureLightSourceShapes() - No memory to measure %u light sources.", count);
        return RUN_OUT_OF_MEMORY;
    }
    auto* buffer = static_cast<double*>(scratch.window.pointer);
    auto* order = static_cast<uint32_t*>(scratch.order.pointer);
    auto* spans = static_cast<Span*>(scratch.spans.pointer);
    auto* keys = static_cast<uint64_t*>(scratch.rings.pointer);
    const LightSource* sources = LightSourceRecords(table);

    // Each source's own moments, peak and clipping.
    for (uint32_t i = 0; i < count; i++) {
        if (Stopped(stop)) return RUN_CANCELLED;
        const LightSource& s = sources[i];
        StarShape& shape = shapes[i];
        const double cx = s.x + s.xQuarter / 4.0, cy = s.y + s.yQuarter / 4.0;
        shape.x = static_cast<float>(cx);
        shape.y = static_cast<float>(cy);
        const int32_t half =
            std::clamp(static_cast<int32_t>(4.0f * s.radius) + kMinHalfWidth, kMinHalfWidth, kMaxHalfWidth);
        Window w;
        ReadWindow(image, sky, cx, cy, half, std::max(2.0, s.radius + 1.0), buffer, &w);
        shape.peak = static_cast<float>(w.peak);
        shape.saturated = w.plateau >= kPlateauPixels || w.clipped >= kClippedPixels;
        if (w.width < 5 || w.height < 5 || !(w.peak > kMeasurablePeak * sky.noise)) continue;
        Moments m = {cx, cy, 0, 0, 0};
        if (!AdaptiveMoments(w, std::max(1.0, 0.6 * s.radius), &m)) continue;
        shape.measured = 1;
        shape.x = static_cast<float>(m.x);
        shape.y = static_cast<float>(m.y);
        const double trace = m.xx + m.yy;
        shape.size = static_cast<float>(std::sqrt(0.5 * trace));
        shape.ellipticity = static_cast<float>(std::sqrt((m.xx - m.yy) * (m.xx - m.yy) + 4 * m.xy * m.xy) / trace);
        // The long axis within 15° of the columns: 2θ within 30° of 180°.
        const double doubled = std::atan2(2 * m.xy, m.xx - m.yy);
        shape.alongColumns = std::fabs(doubled) >= 2.6179938779914944;  // 150° in radians
    }

    // The comparable sources by peak.
    uint32_t comparable = 0;
    for (uint32_t i = 0; i < count; i++)
        if (shapes[i].measured && !shapes[i].saturated) order[comparable++] = i;
    std::sort(order, order + comparable, [&](uint32_t a, uint32_t b) {
        return shapes[a].peak < shapes[b].peak || (shapes[a].peak == shapes[b].peak && a < b);
    });
    if (comparable < STAR_SHAPE_MIN_REFERENCES) return RUN_OK;

    // Reference size and ellipticity, then each source's concentration in
    // apertures of its reference size.
    for (uint32_t i = 0; i < count; i++) {
        if (Stopped(stop)) return RUN_CANCELLED;
        StarShape& shape = shapes[i];
        if (!shape.measured) continue;
        spans[i] = NeighboursOf(shapes, order, comparable, shape.peak);
        shape.referenceSize = static_cast<float>(
            Percentile(shapes, order, spans[i], i, kSizePercentile, [](const StarShape& s) { return s.size; }));
        shape.referenceEllipticity = static_cast<float>(Percentile(shapes, order, spans[i], i, kSizePercentile,
                                                                   [](const StarShape& s) { return s.ellipticity; }));
        const double reference = std::max(0.5f, shape.referenceSize);
        shape.relativeSize = static_cast<float>((shape.size / reference) * (shape.size / reference));
        const double outer = kOuterAperture * reference;
        const int32_t half = std::clamp(static_cast<int32_t>(std::ceil(outer)) + 2, 4, kMaxHalfWidth);
        Window w;
        ReadWindow(image, sky, shape.x, shape.y, half, 0.0, buffer, &w);
        const double total = ApertureLight(w, shape.x, shape.y, outer);
        if (total > 0)
            shape.concentration =
                static_cast<float>(ApertureLight(w, shape.x, shape.y, kInnerAperture * reference) / total);
        else
            shape.measured = 0;  // no light above the sky where a star would have nearly all of it
    }

    // The frame's stars' size: the compact end of every comparable source.
    auto* sizes = reinterpret_cast<float*>(keys);
    for (uint32_t k = 0; k < comparable; k++) sizes[k] = shapes[order[k]].size;
    const uint32_t at = static_cast<uint32_t>(kSizePercentile * (comparable - 1) + 0.5);
    std::nth_element(sizes, sizes + at, sizes + comparable);
    const double starSize = sizes[at];

    // A saturated source by its wings: a star's light falls from its plateau
    // to a quarter within a span set by the plateau's size (brighter stars
    // spread wider) and the frame's stars; a galaxy's falls slowly.
    for (uint32_t i = 0; i < count; i++) {
        if (Stopped(stop)) return RUN_CANCELLED;
        StarShape& shape = shapes[i];
        if (!shape.saturated) continue;
        const LightSource& s = sources[i];
        const double cx = s.x + s.xQuarter / 4.0, cy = s.y + s.yQuarter / 4.0;
        const int32_t half =
            std::clamp(static_cast<int32_t>(std::ceil(8.0 * (s.radius + 1.0))) + 16, 32, kMaxHalfWidth);
        Window w;
        ReadWindow(image, sky, cx, cy, half, 0.0, buffer, &w);
        WingRadii radii;
        if (!MeasureWings(w, cx, cy, keys, &radii)) continue;
        shape.wingCore = static_cast<float>(radii.core);
        shape.wingQuarter = static_cast<float>(radii.quarter);
        const bool slowWings =
            radii.quarter > STAR_SHAPE_WING_SLOPE * radii.core + STAR_SHAPE_WING_STAR_SIZES * starSize;
        const bool flat = shape.measured && shape.ellipticity > STAR_SHAPE_SATURATED_ELLIPTICITY && !shape.alongColumns;
        shape.extended = (slowWings || flat) && !HasSpikes(w, cx, cy, radii);
    }

    // The reference concentration and the verdict.
    for (uint32_t i = 0; i < count; i++) {
        StarShape& shape = shapes[i];
        if (!shape.measured || shape.saturated) continue;
        shape.referenceConcentration = static_cast<float>(Percentile(
            shapes, order, spans[i], i, kConcentrationPercentile, [](const StarShape& s) { return s.concentration; }));
        shape.extended = (shape.relativeSize > STAR_SHAPE_SIZE_LIMIT ||
                          shape.ellipticity > shape.referenceEllipticity + STAR_SHAPE_ELLIPTICITY_LIMIT ||
                          shape.concentration < shape.referenceConcentration - STAR_SHAPE_CONCENTRATION_LIMIT);
    }
    return RUN_OK;
}

uint32_t HideExtendedLightSources(LightSourceList* table, const StarShape* shapes) {
    uint32_t hidden = 0;
    const LightSource* sources = LightSourceRecords(table);
    for (uint32_t i = 0; i < table->count; i++) {
        if (!shapes[i].extended || sources[i].state == LIGHT_SOURCE_HIDDEN) continue;
        HideLightSource(table, i);
        hidden++;
    }
    return hidden;
}
