// Light source analysis at one candidate pixel.
//
// Rays in eight directions find the edge of the source; their lengths give a
// first centre and radius, which disk and ring shapes of the thread's banks
// then refine; the same shapes measure colour and brightness and judge the
// profile. Every image read is tested against the analysis image first.
#include "analysis/light_source_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/fixed_point.h"
#include "image/gamma_tables.h"
#include "support/debug_log.h"
#include "support/run_result.h"

namespace {

const int32_t kDirections[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
constexpr int32_t kRaySteps = 265;
constexpr double kUnitScale = 4294967294.0;
constexpr double kPi = 3.14159265358979323846;

inline bool Inside(const Image* image, int32_t x, int32_t y) {
    const ImageRect& r = image->imageRect;
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

inline uint32_t Brightness(const PixelValue& p) { return LightSourceBrightness(p.c0, p.c1, p.c2); }

inline PixelValue Read(const AnalyzerContext* c, int32_t x, int32_t y) {
    PixelValue p;
    c->image->InputImage(c->image, &p, x, y);
    return p;
}

inline uint32_t Avg2(uint32_t a, uint32_t b) { return (a + b) >> 1; }
inline uint32_t Avg3(uint32_t a, uint32_t b, uint32_t c) { return (a + b + c) / 3; }

// Statistics of a bank shape at a position; false for an index outside the
// bank or a failed measurement.
bool Statistics(AnalyzerContext* c, bool ring, int64_t index, const QuarterPosition& at, ShapeStatistics* s) {
    int32_t count = ring ? c->ringCount : c->diskCount;
    if (index < 0 || index >= count) return false;
    ShapeCache* cache = (ring ? c->rings : c->disks) + index;
    return AnalyzeShapeFrom(c->image, cache, at, s);
}

bool Sample(AnalyzerContext* c, bool ring, int64_t index, const QuarterPosition& at, PixelValue* mean) {
    int32_t count = ring ? c->ringCount : c->diskCount;
    if (index < 0 || index >= count) return false;
    ShapeCache* cache = (ring ? c->rings : c->disks) + index;
    return SampleShapeFrom(c->image, cache, at, mean);
}

// The radius of a shape cache as the generators read it.
float ShapeRadius(const ShapeCache* cache) { return cache->radius ? *cache->radius : 0.0f; }

bool FinishSubShape(SubShapeEntry* entry, bool ok) {
    if (ok && entry->count == 0) {
        ShapeElement only = {0, 0, UNIT_ONE, UNIT_ONE, UNIT_ONE, 1073741824u};
        ok = AppendShapeElement(entry, only, 1);
    }
    entry->built = ok;
    return ok;
}

bool InsideKnownSource(const LightSourceList* list, int32_t x, int32_t y) {
    if (!list) return false;
    const LightSource* records = LightSourceRecords(list);
    for (uint32_t i = 0; i < list->count; i++) {
        int64_t dx = static_cast<int64_t>(records[i].x) - x, dy = static_cast<int64_t>(records[i].y) - y;
        if (records[i].radiusSquared >= static_cast<float>(dx * dx + dy * dy)) return true;
    }
    return false;
}

int32_t Truncate(double v) { return static_cast<int32_t>(v); }

// Edge test of a ray at step i; true (with the radius) when the step shows an edge.
bool EdgeAt(const uint32_t* h, int32_t i, bool diagonal, int32_t T, uint32_t maxB, uint32_t minB, float* radius) {
    uint32_t A, Bv;
    int32_t D2, L, threshold, divisor;
    float u;
    if (i == 2) {
        A = h[0];
        Bv = h[1];
        D2 = static_cast<int32_t>(h[1] - h[2]);
        L = 1;
        u = 0.0f;
        threshold = T;
        divisor = 141;
    } else if (i == 3) {
        A = Avg2(h[0], h[1]);
        Bv = Avg2(h[1], h[2]);
        D2 = static_cast<int32_t>(Bv - Avg2(h[2], h[3]));
        L = 1;
        u = 0.5f;
        threshold = 10 * T / 17;
        divisor = 141;
    } else if (i <= 7) {
        A = Avg2(h[i - 4], h[i - 3]);
        Bv = Avg2(h[i - 3], h[i - 2]);
        D2 = static_cast<int32_t>(Avg2(h[i - 2], h[i - 1]) - Avg2(h[i - 1], h[i]));
        L = 1;
        u = static_cast<float>(i) - 3.5f;
        threshold = 10 * T / 24;
        divisor = 141;
    } else if (i <= 11) {
        A = Avg3(h[i - 6], h[i - 5], h[i - 4]);
        Bv = Avg3(h[i - 4], h[i - 3], h[i - 2]);
        D2 = static_cast<int32_t>(Bv - Avg3(h[i - 2], h[i - 1], h[i]));
        L = 2;
        u = static_cast<float>(i - 5);
        threshold = 10 * T / 35;
        divisor = 283;
    } else {
        A = Avg3(h[i - 8], h[i - 7], h[i - 6]);
        Bv = Avg3(h[i - 5], h[i - 4], h[i - 3]);
        D2 = static_cast<int32_t>(Bv - Avg3(h[i - 2], h[i - 1], h[i]));
        L = 3;
        u = static_cast<float>(i - 7);
        threshold = 10 * T / (i + 33);
        divisor = 424;
    }
    int32_t D1 = static_cast<int32_t>(A - Bv);
    if (diagonal) {
        D1 = static_cast<int32_t>(static_cast<int64_t>(D1) * 100 / divisor);
        D2 = static_cast<int32_t>(static_cast<int64_t>(D2) * 100 / divisor);
    }
    if (!(D1 > threshold && static_cast<int64_t>(D1) - D2 > threshold)) return false;
    uint32_t mid = static_cast<uint32_t>((static_cast<uint64_t>(maxB) + minB) >> 1);
    float f = A == Bv ? 0.5f
                      : static_cast<float>(static_cast<int64_t>(A) - static_cast<int64_t>(mid)) /
                            static_cast<float>(static_cast<int64_t>(A) - static_cast<int64_t>(Bv));
    *radius = diagonal ? f * (static_cast<float>(L) * DIAGONAL_FACTOR) + u * DIAGONAL_FACTOR
                       : f * static_cast<float>(L) + u;
    return true;
}

void MeasureAndClip(AnalyzerContext* c, int32_t x, int32_t y, float radii[8], float factor) {
    MeasureEdgeRadii(c, x, y, radii);
    RadiusStatistics s = ComputeRadiusStatistics(radii, 0.0f);
    ComputeRadiusStatistics(radii, factor * s.deviation);
}

}  // namespace

QuarterPosition MoveQuarters(const QuarterPosition& p, int32_t dxQuarters, int32_t dyQuarters) {
    QuarterPosition q = p;
    q.xQuarter += dxQuarters;
    q.yQuarter += dyQuarters;
    while (q.xQuarter > 3) {
        q.xQuarter -= 4;
        q.x++;
    }
    while (q.xQuarter < 0) {
        q.xQuarter += 4;
        q.x--;
    }
    while (q.yQuarter > 3) {
        q.yQuarter -= 4;
        q.y++;
    }
    while (q.yQuarter < 0) {
        q.yQuarter += 4;
        q.y--;
    }
    return q;
}

// ---- the bank shapes ----

bool GenerateDiskShape(ShapeCache* cache, int32_t a, int32_t b) {
    SubShapeEntry* entry = &cache->entry[a][b];
    double c = ShapeRadius(cache);
    double qx = a / 4.0, qy = b / 4.0;
    entry->left = Truncate(qx - c - 0.6);
    entry->top = Truncate(qy - c - 0.6);
    entry->right = Truncate(c + qx + 1.6);
    entry->bottom = Truncate(c + qy + 1.6);
    uint32_t hint = static_cast<uint32_t>(Truncate((c + 1) * kPi * (c + 1) + 4));
    bool ok = true;
    for (int32_t dy = entry->top; dy < entry->bottom && ok; dy++) {
        for (int32_t dx = entry->left; dx < entry->right && ok; dx++) {
            float ex = static_cast<float>(dx - qx), ey = static_cast<float>(dy - qy);
            double rho = std::sqrt(ex * ex + ey * ey);
            if (!(rho < c + 0.6)) continue;
            uint32_t weight = rho <= c - 0.4 ? UNIT_ONE : RoundToU32((c + 0.6 - rho) * kUnitScale);
            ShapeElement element = {static_cast<int16_t>(dx), static_cast<int16_t>(dy), UNIT_ONE, UNIT_ONE, UNIT_ONE,
                                    weight};
            ok = AppendShapeElement(entry, element, hint);
        }
    }
    return FinishSubShape(entry, ok);
}

bool GenerateRingShape(ShapeCache* cache, int32_t a, int32_t b) {
    SubShapeEntry* entry = &cache->entry[a][b];
    double c = ShapeRadius(cache);
    double qx = a / 4.0, qy = b / 4.0;
    entry->left = Truncate(qx - c - 0.564);
    entry->top = Truncate(qy - c - 0.564);
    entry->right = Truncate(c + qx + 1.564);
    entry->bottom = Truncate(c + qy + 1.564);
    uint32_t hint = static_cast<uint32_t>(Truncate(kPi * 2 * c * 3 + 4));
    double g = c - 0.125, h = c + 0.125;
    bool ok = true;
    for (int32_t dy = entry->top; dy < entry->bottom && ok; dy++) {
        for (int32_t dx = entry->left; dx < entry->right && ok; dx++) {
            float ex = static_cast<float>(dx - qx), ey = static_cast<float>(dy - qy);
            double rho = std::sqrt(ex * ex + ey * ey);
            double lo = rho - 0.6, hi = rho + 0.6;
            uint32_t weight;
            if (c <= 1.0 && -lo > g) {
                if (g < 0) g = 0;  // stays 0 for the rest of the sub-shape
                // A small ring covers the centre pixel; a negative area gives no weight.
                weight = RoundToU32((0.6 - g * kPi * g) * DIAGONAL_FACTOR * kUnitScale);
            } else if (h > lo && hi > g) {
                if (lo <= g && h <= hi)
                    weight = UNIT_ONE;
                else if (h > hi && lo <= g)
                    weight = RoundToU32((hi - g) * 2 * kUnitScale);
                else if (lo > g && h <= hi)
                    weight = RoundToU32((h - lo) * 2 * kUnitScale);
                else
                    weight = UNIT_ONE;
            } else {
                continue;
            }
            ShapeElement element = {static_cast<int16_t>(dx), static_cast<int16_t>(dy), UNIT_ONE, UNIT_ONE, UNIT_ONE,
                                    weight};
            ok = AppendShapeElement(entry, element, hint);
        }
    }
    return FinishSubShape(entry, ok);
}

// ---- the steps ----

bool IsCandidate(const PixelValue& pixel, uint32_t peak) {
    return pixel.mask >= 0x7FFFFFFFu && pixel.alpha != 0 &&
           Brightness(pixel) >= static_cast<uint32_t>(static_cast<uint64_t>(peak) * 25 / 100);
}

bool MeasureEdgeRadii(AnalyzerContext* c, int32_t x, int32_t y, float radii[8]) {
    for (int k = 0; k < 8; k++) radii[k] = -1.0f;
    if (!Inside(c->image, x, y)) return true;
    PixelValue centre = Read(c, x, y);
    uint32_t B0 = Brightness(centre);
    int32_t T = static_cast<int32_t>(c->peak / 85);
    uint32_t h[kRaySteps + 1];
    // How far a ray that left the image saw, in pixels (-1: it did not leave).
    float visible[8];
    for (int k = 0; k < 8; k++) {
        int32_t dx = kDirections[k][0], dy = kDirections[k][1];
        bool diagonal = (k & 1) != 0;
        uint32_t maxB = B0, minB = 0xFFFFFF;
        bool colourChanged = false, ended = false;
        h[0] = B0;
        visible[k] = -1.0f;
        for (int32_t i = 1; i <= kRaySteps; i++) {
            int32_t px = x + i * dx, py = y + i * dy;
            if (!Inside(c->image, px, py)) {
                visible[k] = static_cast<float>(i - 1) * (diagonal ? DIAGONAL_FACTOR : 1.0f);
                ended = true;
                break;
            }
            PixelValue s = Read(c, px, py);
            h[i] = Brightness(s);
            if ((s.c0 > centre.c0 ? s.c0 - centre.c0 : centre.c0 - s.c0) > (centre.c0 >> 3) ||
                (s.c1 > centre.c1 ? s.c1 - centre.c1 : centre.c1 - s.c1) > (centre.c1 >> 3) ||
                (s.c2 > centre.c2 ? s.c2 - centre.c2 : centre.c2 - s.c2) > (centre.c2 >> 3))
                colourChanged = true;
            uint32_t low = h[i] < minB ? h[i] : minB;
            if (i >= 2 && low < maxB - maxB / 35) {
                float radius;
                if (EdgeAt(h, i, diagonal, T, maxB, minB, &radius)) {
                    radii[k] = radius;
                    ended = true;
                    break;
                }
            }
            if (h[i] > maxB) maxB = h[i];
            if (h[i] < minB) minB = h[i];
        }
        if (ended || colourChanged) continue;
        // A flat area of the source's own colour at least a ray long: nothing
        // to measure here; deselect it so no later candidate in it is analysed.
        FloodFillDeselect(c, x, y, centre);
        for (int j = 0; j < 8; j++) radii[j] = -1.0f;
        return false;
    }
    // A source cut by the image's edge: a ray that left the image before its
    // edge takes the radius of the ray opposite when the source would end
    // within what the ray saw (a pixel of slack), so that a star just inside
    // the edge is measured from its visible light. Otherwise the source runs
    // on beyond the edge and its centre cannot be found: the ray stays
    // unmeasured.
    for (int k = 0; k < 8; k++) {
        const float opposite = radii[(k + 4) % 8];
        if (radii[k] < 0.0f && visible[k] >= 0.0f && opposite >= 0.0f && visible[(k + 4) % 8] < 0.0f &&
            opposite <= visible[k] + 1.0f)
            radii[k] = opposite;
    }
    return true;
}

RadiusStatistics ComputeRadiusStatistics(float radii[8], float tolerance) {
    float sum = 0.0f;
    int valid = 0;
    for (int k = 0; k < 8; k++)
        if (radii[k] >= 0.0f) {
            sum += radii[k];
            valid++;
        }
    if (valid == 0) return {-1.0f, -1.0f};
    float m = sum / static_cast<float>(valid);
    float acceptedSum = 0.0f, squares = 0.0f;
    int accepted = 0;
    for (int k = 0; k < 8; k++) {
        float v = radii[k];
        if (v < 0.0f) continue;
        if (tolerance == 0.0f || std::fabs(v - m) <= tolerance) {
            acceptedSum += v;
            squares += (v - m) * (v - m);
            accepted++;
        } else if (v > m) {
            radii[k] = m + tolerance;
        } else if (m > tolerance) {
            radii[k] = m - tolerance;
        } else {
            radii[k] = 0.1f;
        }
    }
    if (accepted == 0) return {-1.0f, -1.0f};
    return {acceptedSum / static_cast<float>(accepted), std::sqrt(squares / static_cast<float>(accepted))};
}

bool CenterFromRadii(int32_t x, int32_t y, const float radii[8], QuarterPosition* centre) {
    const float k = DIAGONAL_FACTOR;
    auto group = [&](int a, bool aDiagonal, int b, bool bDiagonal, int c, bool cDiagonal, float* mean) {
        float sum = 0.0f;
        int n = 0;
        const int index[3] = {a, b, c};
        const bool diagonal[3] = {aDiagonal, bDiagonal, cDiagonal};
        for (int i = 0; i < 3; i++) {
            float v = radii[index[i]];
            if (v < 0.0f) continue;
            sum += diagonal[i] ? v / k : v;
            n++;
        }
        if (n == 0) return false;
        *mean = sum / static_cast<float>(n);
        return true;
    };
    float east, south, west, north;
    if (!group(0, false, 1, true, 7, true, &east) || !group(1, true, 2, false, 3, true, &south) ||
        !group(3, true, 4, false, 5, true, &west) || !group(5, true, 6, false, 7, true, &north))
        return false;
    auto quantise = [](float c, int32_t* integer, int32_t* quarter) {
        float t = c + 0.125f;
        int32_t ip = static_cast<int32_t>(t);
        if (t < 0.0f) ip -= 1;
        int32_t q = static_cast<int32_t>((t - static_cast<float>(ip)) * 4.0f);
        // A negative whole number would give quarter 4: carry it into the pixel.
        if (q > 3) {
            q -= 4;
            ip += 1;
        }
        *integer = ip;
        *quarter = q;
    };
    float cx = static_cast<float>(x) - west + east;
    float cy = static_cast<float>(y) - north + south;
    quantise(cx, &centre->x, &centre->xQuarter);
    quantise(cy, &centre->y, &centre->yQuarter);
    return true;
}

bool ValidateCandidate(AnalyzerContext* c, int32_t* px, int32_t* py) {
    int32_t x = *px, y = *py;
    uint32_t B0 = Brightness(Read(c, x, y));
    for (const auto& d : kDirections) {
        int32_t nx = x + d[0], ny = y + d[1];
        if (Inside(c->image, nx, ny) && Brightness(Read(c, nx, ny)) > B0) return false;
    }
    if (InsideKnownSource(c->table, x, y) || InsideKnownSource(c->list, x, y)) return false;
    float radii[8];
    MeasureAndClip(c, x, y, radii, 1.4f);
    for (int round = 0; round < 12; round++) {
        QuarterPosition centre;
        if (!CenterFromRadii(x, y, radii, &centre)) return false;
        // A centre beyond the image's edge: the source is not placed at the
        // edge in its stead (its effects would be drawn where it is not).
        if (!Inside(c->image, centre.x, centre.y)) return false;
        int32_t nx = centre.x + (centre.xQuarter >= 2 ? 1 : 0);
        int32_t ny = centre.y + (centre.yQuarter >= 2 ? 1 : 0);
        if (nx == x && ny == y) break;
        x = nx;
        y = ny;
        MeasureAndClip(c, x, y, radii, 1.4f);
    }
    // Brightest on the image's outermost row or column: the light may peak
    // beyond the edge, and the source cannot be placed from what is seen.
    const ImageRect& rect = c->image->imageRect;
    if (x == rect.left || y == rect.top || x == rect.right - 1 || y == rect.bottom - 1) return false;
    *px = x;
    *py = y;
    return !(InsideKnownSource(c->table, x, y) || InsideKnownSource(c->list, x, y));
}

bool CheckEdgeContrast(AnalyzerContext* c, const QuarterPosition& centre, float r) {
    if (!Inside(c->image, centre.x, centre.y)) return false;
    int64_t n = static_cast<int64_t>(r / 0.25f + 0.5f);
    int64_t g = n < 24 ? n / 10 + 2 : n / 18 + 4;
    if (n < g) return true;
    ShapeStatistics inner, outerA, outerB;
    if (!Statistics(c, true, n - g, centre, &inner) || !Statistics(c, true, n + g + 3, centre, &outerA) ||
        !Statistics(c, true, n + g + 11, centre, &outerB))
        return false;
    int64_t P = static_cast<int32_t>(c->peak);
    int64_t in = static_cast<int32_t>(inner.mean);
    int64_t out = static_cast<int32_t>(outerA.mean < outerB.mean ? outerA.mean : outerB.mean);
    bool weak = (P - in) * 11 >= (P - out) * 10;
    bool small = n >= 10 || (in - out) * (10 - n) <= P;
    return !(weak && small);
}

bool AdjustRadius(AnalyzerContext* c, const QuarterPosition& centre, float* r) {
    int32_t b = static_cast<int32_t>(*r / 0.25f);
    int32_t start = b;
    int direction = 0;
    if (c->peak == 0) return false;
    double P = static_cast<double>(c->peak);
    for (int e = 1; e <= 6; e++) {
        if (b < 5) {
            if (b < 1) b = 1;
            PixelValue s5, s10;
            if (!Sample(c, false, 5, centre, &s5) || !Sample(c, false, 10, centre, &s10)) break;
            uint32_t U = s5.c0 > s5.c1 ? s5.c0 : s5.c1;
            if (s5.c2 > U) U = s5.c2;
            uint32_t W = LightSourceBrightness(s10.c0, s10.c1, s10.c2);
            if (U <= W) {
                b += 1;
                direction = +1;
                continue;
            }
            int32_t target = 5;
            if (W != 0xFFFFFF && W < 0xFFFFFF) {
                uint64_t A = (static_cast<uint64_t>(U - W) << 32) / (0xFFFFFFu - W);
                if (A <= 0xFFFFFFFEu) {
                    if (A < 515396064u)
                        target = 1;
                    else if (A < 987842456u)
                        target = 2;
                    else if (A < 1632087536u)
                        target = 3;
                    else if (A < 2448131304u)
                        target = 4;
                }
            }
            if (target == 5) {
                b = 5;
                direction = +1;
                continue;
            }
            if (b > target) {
                b = target;
                direction = -1;
                continue;
            }
            if (b == target) break;
            b = target;
            direction = +1;
            continue;
        }
        int32_t step = (b / 30) / e;
        if (step < 1) step = 1;
        ShapeStatistics background, core, rim;
        if (!Statistics(c, true, 2 * static_cast<int64_t>(b), centre, &background)) break;
        double h = (static_cast<double>(background.mean) - background.deviation) / P;
        if (!Statistics(c, false, b / 2, centre, &core)) break;
        double g = ((static_cast<double>(core.mean) - core.deviation) / P - h) / (1 - h);
        if (!Statistics(c, true, b - 1, centre, &rim)) break;
        double f = ((static_cast<double>(rim.mean) - rim.deviation) / P - h) / (1 - h);
        if (g < 0.8 || f < 0.4) {
            b -= step;
            direction = -1;
            continue;
        }
        if (f > 0.75 && b < SHAPE_BANK_SIZE - 4) {
            b += step;
            if (direction == -1) break;
            direction = +1;
            continue;
        }
        break;
    }
    *r = static_cast<float>(b) * 0.25f;
    return b != start;
}

// Whether a disk of radius r at `at`, moved by (dx, dy), lies across the
// image's edge on the side it moved towards (pixel centres at whole numbers,
// the edge half a pixel beyond the outermost ones).
bool CrossesEdgeMovingTo(const Image* image, const QuarterPosition& at, float r, int32_t dx, int32_t dy) {
    const ImageRect& rect = image->imageRect;
    const float x = static_cast<float>(at.x) + at.xQuarter / 4.0f, y = static_cast<float>(at.y) + at.yQuarter / 4.0f;
    return (dx < 0 && x - r < rect.left - 0.5f) || (dx > 0 && x + r > rect.right - 0.5f) ||
           (dy < 0 && y - r < rect.top - 0.5f) || (dy > 0 && y + r > rect.bottom - 0.5f);
}

bool AdjustCenter(AnalyzerContext* c, QuarterPosition* centre, float r) {
    int64_t k = static_cast<int64_t>(r / 0.25f);
    if (k >= SHAPE_BANK_SIZE) return false;
    ShapeStatistics s;
    if (!Statistics(c, false, k, *centre, &s)) return false;
    double best = static_cast<double>(s.mean) - s.deviation;
    bool coarse = r >= 12.0f;
    bool moved = false;
    for (int round = 0; round < 4; round++) {
        int choice = -1;
        for (int d = 0; d < 8; d++) {
            QuarterPosition at = coarse ? MoveQuarters(*centre, 4 * kDirections[d][0], 4 * kDirections[d][1])
                                        : MoveQuarters(*centre, kDirections[d][0], kDirections[d][1]);
            // A disk cut by the image's edge reads brighter the further it
            // moves out (what lies beyond is not counted): no move that way.
            if (CrossesEdgeMovingTo(c->image, at, r, kDirections[d][0], kDirections[d][1])) continue;
            if (!Statistics(c, false, k, at, &s)) continue;
            double score = static_cast<double>(s.mean) - s.deviation;
            if (score > best + 0.000001) {
                best = score;
                choice = d;
            }
        }
        if (choice < 0) break;
        *centre = coarse ? MoveQuarters(*centre, 4 * kDirections[choice][0], 4 * kDirections[choice][1])
                         : MoveQuarters(*centre, kDirections[choice][0], kDirections[choice][1]);
        moved = true;
    }
    return moved;
}

bool FitDiskToSource(AnalyzerContext* c, QuarterPosition* centre, float* r) {
    if (*r >= 12.0f) {
        if (centre->xQuarter >= 2) centre->x++;
        if (centre->yQuarter >= 2) centre->y++;
        centre->xQuarter = centre->yQuarter = 0;
    }
    QuarterPosition remembered = *centre;
    bool radiusChanged = AdjustRadius(c, *centre, r);
    bool centreMoved = AdjustCenter(c, centre, *r);
    int32_t limit = static_cast<int32_t>(*r + 8.0f);
    int32_t i = 0;
    for (; i < limit && (radiusChanged || centreMoved); i++) {
        if (!Inside(c->image, centre->x, centre->y)) {
            *centre = remembered;
            break;
        }
        remembered = *centre;
        radiusChanged = AdjustRadius(c, *centre, r);
        if (centreMoved || radiusChanged) centreMoved = AdjustCenter(c, centre, *r);
    }
    return !(i >= limit && *r > 4.0f);
}

int32_t ClassifyProfile(AnalyzerContext* c, const QuarterPosition& centre, float r) {
    int64_t n = static_cast<int64_t>(r / 0.25f);
    int64_t P = c->peak;
    if (n < 3) return 1;
    if (n <= 5) {
        ShapeStatistics disk, ring;
        if (!Statistics(c, false, n - 2, centre, &disk) || !Statistics(c, true, 2 * n + 4, centre, &ring)) return 0;
        int64_t d = static_cast<int32_t>(disk.mean), g = static_cast<int32_t>(ring.mean);
        return (d - g) * (11 - n) >= P ? 1 : 0;
    }
    ShapeStatistics S1, S2, S3, S4, S5;
    if (!Statistics(c, false, n / 2, centre, &S1) || !Statistics(c, false, n - 3, centre, &S2) ||
        !Statistics(c, true, n - 3, centre, &S3) || !Statistics(c, true, 12 * n / 10 + 4, centre, &S4) ||
        !Statistics(c, true, 2 * n + 4, centre, &S5))
        return 0;
    uint32_t bg = S4.minimum < S5.minimum ? S4.minimum : S5.minimum;
    uint32_t span = c->peak > bg ? c->peak - bg : 0;
    if (span < 1) span = 1;
    auto level = [&](const ShapeStatistics& s) {
        return (static_cast<float>(s.mean) - s.deviation - static_cast<float>(bg)) / static_cast<float>(span);
    };
    float a1 = level(S1), a2 = level(S2), a3 = level(S3), a4 = level(S4);
    bool star = S1.maximum >= (c->peak / 10) * 8 && a1 >= 0.7f && 1.4f * (a1 - a3) / 2 <= a3 - a4 &&
                0.95f * a2 <= a1 && 0.95f * a3 <= a2 && 0.95f * a4 <= a3;
    return star ? 1 : 0;
}

bool IsDeselected(const AnalyzerContext* c, int32_t x, int32_t y) {
    if (!c->deselected || y < c->rowsTop || y >= c->rowsBottom) return false;
    const ImageRect& r = c->image->imageRect;
    if (x < r.left || x >= r.right) return false;
    const int64_t bit = static_cast<int64_t>(y - c->rowsTop) * (r.right - r.left) + (x - r.left);
    return (c->deselected[bit >> 3] >> (bit & 7)) & 1;
}

bool FloodFillDeselect(AnalyzerContext* c, int32_t seedX, int32_t seedY, const PixelValue& ref) {
    struct Point {
        int32_t x, y;
    };
    const PixelValue deselect = {PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP, 0};
    Image* image = c->image;
    const int64_t width = image->imageRect.right - image->imageRect.left;
    auto similar = [&](const PixelValue& p) {
        auto near = [](uint32_t v, uint32_t r) { return (v > r ? v - r : r - v) <= (r >> 3); };
        return near(p.c0, ref.c0) && near(p.c1, ref.c1) && near(p.c2, ref.c2);
    };
    // With a section map the fill stays in the section's rows and marks the
    // map; the image itself is only read.
    auto inArea = [&](int32_t x, int32_t y) {
        return Inside(image, x, y) && (!c->deselected || (y >= c->rowsTop && y < c->rowsBottom));
    };
    auto mark = [&](int32_t x, int32_t y) {
        if (c->deselected) {
            const int64_t bit = static_cast<int64_t>(y - c->rowsTop) * width + (x - image->imageRect.left);
            c->deselected[bit >> 3] = static_cast<uint8_t>(c->deselected[bit >> 3] | (1u << (bit & 7)));
        }
        else
            image->OutputImage(image, &deselect, x, y);
    };
    if (!inArea(seedX, seedY)) return true;
    TrackedBuffer stack;
    size_t count = 0;
    bool ok = true;
    mark(seedX, seedY);
    Point current = {seedX, seedY};
    for (;;) {
        const int32_t steps[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
        for (const auto& s : steps) {
            int32_t nx = current.x + s[0], ny = current.y + s[1];
            if (!inArea(nx, ny) || IsDeselected(c, nx, ny)) continue;
            PixelValue p;
            image->InputImage(image, &p, nx, ny);
            if (p.mask == 0 || !similar(p)) continue;
            mark(nx, ny);
            if ((count + 1) * sizeof(Point) > stack.size) {
                // Grows by half again (at least 0x40000 bytes), so a large
                // area is not copied over and over.
                uint64_t grown = stack.size + std::max<uint64_t>(0x40000, stack.size / 2);
                if (ReallocateBufferPreserveContents(grown, &stack) != 0) {
                    SetGlobalErrorCode(-108);
                    DebugEvent(__LINE__, USER_MESSAGE)
                        .Report(OS_MB_ICONERROR, "Error - Exiting Plug-in", "Unable to allocate memory for a flood fill list.");
                    ok = false;
                    break;
                }
            }
            static_cast<Point*>(stack.pointer)[count++] = Point{nx, ny};
        }
        if (!ok || count == 0) break;
        if (OsFlagIsSet(c->stop)) break;
        current = static_cast<Point*>(stack.pointer)[--count];
    }
    DeallocateBuffer(&stack);
    return ok;
}

// The centre of a small source's light, to the nearest quarter pixel: the
// rays' edges put a star of two or three pixels to the half pixel, and its
// spikes would start that far beside its light. The light above the sky (the
// median of a square ring just outside the source) is weighted by a Gaussian
// window of the source's size that follows the centre until it settles. A
// source larger than kCentroidLargest, one near the image's edge, or one
// whose light pulls the centre more than a pixel away keeps its centre.
constexpr float kCentroidLargest = 6.0f;

QuarterPosition CentreOfLight(AnalyzerContext* c, const QuarterPosition& centre, float r) {
    if (r > kCentroidLargest) return centre;
    const double x0 = centre.x + centre.xQuarter / 4.0, y0 = centre.y + centre.yQuarter / 4.0;
    const int32_t half = static_cast<int32_t>(std::ceil(r)) + 2, ring = half + 2;
    const int32_t px = static_cast<int32_t>(std::lround(x0)), py = static_cast<int32_t>(std::lround(y0));
    if (!Inside(c->image, px - ring - 1, py - ring - 1) || !Inside(c->image, px + ring + 1, py + ring + 1))
        return centre;
    uint32_t around[8 * (static_cast<int32_t>(kCentroidLargest) + 4)];  // 8 × ring at the largest
    int32_t n = 0;
    for (int32_t k = -ring; k < ring; k++) {
        around[n++] = Brightness(Read(c, px + k, py - ring));
        around[n++] = Brightness(Read(c, px + ring, py + k));
        around[n++] = Brightness(Read(c, px - k, py + ring));
        around[n++] = Brightness(Read(c, px - ring, py - k));
    }
    std::nth_element(around, around + n / 2, around + n);
    const double sky = around[n / 2];
    const double spread = 2.0 * std::max(1.0f, 0.5f * r) * std::max(1.0f, 0.5f * r);
    double gx = x0, gy = y0;
    for (int round = 0; round < 12; round++) {
        double sum = 0, sx = 0, sy = 0;
        for (int32_t dy = -half; dy <= half; dy++)
            for (int32_t dx = -half; dx <= half; dx++) {
                const int32_t qx = px + dx, qy = py + dy;
                const double light = static_cast<double>(Brightness(Read(c, qx, qy))) - sky;
                if (light <= 0) continue;
                const double w = light * std::exp(-((qx - gx) * (qx - gx) + (qy - gy) * (qy - gy)) / spread);
                sum += w;
                sx += w * qx;
                sy += w * qy;
            }
        if (!(sum > 0)) return centre;
        const double nx = sx / sum, ny = sy / sum;
        const bool settled = std::fabs(nx - gx) < 0.01 && std::fabs(ny - gy) < 0.01;
        gx = nx;
        gy = ny;
        if (settled) break;
    }
    if (std::hypot(gx - x0, gy - y0) > 1.0) return centre;
    QuarterPosition placed;
    const int64_t qx = std::llround(gx * 4.0), qy = std::llround(gy * 4.0);
    placed.x = static_cast<int32_t>(qx >> 2);
    placed.xQuarter = static_cast<int32_t>(qx & 3);
    placed.y = static_cast<int32_t>(qy >> 2);
    placed.yQuarter = static_cast<int32_t>(qy & 3);
    return Inside(c->image, placed.x, placed.y) ? placed : centre;
}

// A source whose disk the image's edge cuts is placed from the light on one
// side: the placement holds when the light at the edge is no brighter than
// at the same distance on the other side of the centre. Brighter means the
// source's centre lies further out, beyond what is seen.
bool SymmetricAcrossEdges(AnalyzerContext* c, const QuarterPosition& centre, float r) {
    const ImageRect& rect = c->image->imageRect;
    const float x = static_cast<float>(centre.x) + centre.xQuarter / 4.0f;
    const float y = static_cast<float>(centre.y) + centre.yQuarter / 4.0f;
    const int32_t row = centre.y + (centre.yQuarter >= 2 ? 1 : 0), column = centre.x + (centre.xQuarter >= 2 ? 1 : 0);
    if (!Inside(c->image, column, row)) return false;
    const uint64_t core = Brightness(Read(c, column, row));
    // A core that reaches the edge (a flat top cut by it) says nothing of
    // where the centre is either.
    auto holds = [&](int32_t ex, int32_t ey, int32_t mx, int32_t my) {
        if (!Inside(c->image, ex, ey) || !Inside(c->image, mx, my)) return false;
        const uint64_t edge = Brightness(Read(c, ex, ey)), mirror = Brightness(Read(c, mx, my));
        return edge * 4 <= mirror * 5 + c->peak / 50 && edge * 10 < core * 9;
    };
    auto mirrored = [](float at, int32_t edge) { return static_cast<int32_t>(std::lround(2.0f * at - edge)); };
    // Disks reaching the outermost pixels' centres count as cut.
    if (x - r <= rect.left + 0.5f && !holds(rect.left, row, mirrored(x, rect.left), row)) return false;
    if (x + r >= rect.right - 1.5f && !holds(rect.right - 1, row, mirrored(x, rect.right - 1), row)) return false;
    if (y - r <= rect.top + 0.5f && !holds(column, rect.top, column, mirrored(y, rect.top))) return false;
    if (y + r >= rect.bottom - 1.5f && !holds(column, rect.bottom - 1, column, mirrored(y, rect.bottom - 1)))
        return false;
    return true;
}

void AnalyzeCandidate(AnalyzerContext* c, int32_t x, int32_t y) {
    if (!ValidateCandidate(c, &x, &y)) return;
    float radii[8];
    MeasureEdgeRadii(c, x, y, radii);
    RadiusStatistics s = ComputeRadiusStatistics(radii, 0.0f);
    if (s.deviation == -1.0f) return;
    ComputeRadiusStatistics(radii, 0.75f * s.deviation);
    float sum = 0.0f;
    int n = 0;
    for (float v : radii)
        if (v > 0.0f) {
            sum += v;
            n++;
        }
    if (n == 0) return;
    float r = sum / static_cast<float>(n);
    if (!(r > 0.0f) || r > 128.0f) return;
    QuarterPosition centre;
    if (!CenterFromRadii(x, y, radii, &centre)) return;
    if (!CheckEdgeContrast(c, centre, r) || !FitDiskToSource(c, &centre, &r)) return;

    int64_t k = static_cast<int64_t>(r / 0.25f + 0.5f);
    uint32_t R = 0xFFFFFF, G = 0xFFFFFF, B = 0xFFFFFF;
    if (k < SHAPE_BANK_SIZE) {
        PixelValue colour;
        if (!Sample(c, true, k, centre, &colour)) return;
        R = colour.c0;
        G = colour.c1;
        B = colour.c2;
    }
    PixelValue disk;
    if (!Sample(c, false, k + 1, centre, &disk)) return;
    uint32_t brightness = LightSourceBrightness(disk.c0, disk.c1, disk.c2);

    // Green is held to the mean of red and blue; the largest channel becomes full.
    uint32_t g2 = (R + B) >> 1;
    if (G > g2) G = g2;
    uint32_t M = R > G ? R : G;
    if (B > M) M = B;
    if (M != 0) {
        auto scale = [M](uint32_t v) {
            uint64_t q = (static_cast<uint64_t>(v) << 32) / M;
            return q > 0xFFFFFFFEu ? 0xFFFFFFFEu : static_cast<uint32_t>(q);
        };
        R = scale(R);
        G = scale(G);
        B = scale(B);
    } else {
        R = G = B = 0xFFFFFFFE;
    }

    if (!Inside(c->image, centre.x, centre.y)) return;
    if (!SymmetricAcrossEdges(c, centre, r)) return;
    int32_t state = ClassifyProfile(c, centre, r);
    PixelValue at = Read(c, centre.x, centre.y);
    if (at.mask < 0x7FFFFFFFu || at.alpha == 0 || IsDeselected(c, centre.x, centre.y)) return;
    if (c->scale > 0.25f || r > 4.0f) {
        const QuarterPosition placed = CentreOfLight(c, centre, r);
        LightSourceCentre where = {placed.x, placed.xQuarter, placed.y, placed.yQuarter};
        AddLightSource(c->table, c->list, where, r, r * r, brightness, R, G, B, state);
    }
}
