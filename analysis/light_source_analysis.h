// What one analysis pass does at one candidate pixel: decide whether it is
// the peak of a new light source, measure the source's sub-pixel centre,
// radius, brightness and colour, judge whether its profile looks like a star,
// and add it to the section's list.
#pragma once

#include <cstdint>

#include "analysis/light_source_table.h"
#include "effects/shape_cache.h"
#include "image/image.h"
#include "support/os.h"

constexpr int32_t SHAPE_BANK_SIZE = 1056;  // disks and rings of radius k / 4, k = 0..1055
constexpr float DIAGONAL_FACTOR = 1.4142137f;  // one unit in the last place above the float nearest to the root of 2

// Everything one analysing thread works with.
struct AnalyzerContext {
    Image* image;                  // the analysis image (its mask is written by flood fills)
    ShapeCache* disks;             // SHAPE_BANK_SIZE disk shapes
    int32_t diskCount;
    ShapeCache* rings;             // SHAPE_BANK_SIZE ring shapes
    int32_t ringCount;
    LightSourceList* list;         // the section list
    const LightSourceList* table;  // sources of earlier passes (may be null)
    float scale;                   // pass scale: 0.25 or 1.0
    uint32_t peak;                 // peak brightness P of the host image
    const volatile uint8_t* stop;  // the analysis stop flag
    // Flat areas the section has deselected: one bit per pixel of the
    // section's rows (rowsTop..rowsBottom, image width, row after row), set =
    // deselected.
    // Each section owns its rows, so no thread ever reads what another is
    // writing and the outcome never depends on which thread runs first.
    // Null: deselection writes the analysis image's mask (one thread only).
    uint8_t* deselected;
    int32_t rowsTop, rowsBottom;
};

// True when the section has deselected (x, y) as part of a flat area.
bool IsDeselected(const AnalyzerContext* context, int32_t x, int32_t y);

typedef ShapePosition QuarterPosition;

// The shape generators of the analysis banks; each reads its radius (pixels)
// through the cache's radius pointer.
bool GenerateDiskShape(ShapeCache* cache, int32_t a, int32_t b);
bool GenerateRingShape(ShapeCache* cache, int32_t a, int32_t b);

// A pixel that passes the candidate test: selected, not transparent, and at
// least a quarter of the peak brightness. (The section also skips the pixels
// it deselected: IsDeselected.)
bool IsCandidate(const PixelValue& pixel, uint32_t peak);
void AnalyzeCandidate(AnalyzerContext* context, int32_t x, int32_t y);

// The steps, exposed for tests.
struct RadiusStatistics {
    float mean;
    float deviation;  // -1 (with mean -1) when no radius was valid or accepted
};
// Eight edge radii from the position (-1 where none was found). False when the
// position lay in a flat area that was deselected instead (all radii -1).
bool MeasureEdgeRadii(AnalyzerContext* context, int32_t x, int32_t y, float radii[8]);
RadiusStatistics ComputeRadiusStatistics(float radii[8], float tolerance);
bool CenterFromRadii(int32_t x, int32_t y, const float radii[8], QuarterPosition* centre);
bool ValidateCandidate(AnalyzerContext* context, int32_t* x, int32_t* y);
bool CheckEdgeContrast(AnalyzerContext* context, const QuarterPosition& centre, float r);
bool FitDiskToSource(AnalyzerContext* context, QuarterPosition* centre, float* r);
bool AdjustRadius(AnalyzerContext* context, const QuarterPosition& centre, float* r);
bool AdjustCenter(AnalyzerContext* context, QuarterPosition* centre, float r);
int32_t ClassifyProfile(AnalyzerContext* context, const QuarterPosition& centre, float r);
// Deselects the 4-connected area of colours within 1/8 of `reference` around
// (x, y), within the section's own rows.
bool FloodFillDeselect(AnalyzerContext* context, int32_t x, int32_t y, const PixelValue& reference);

// Moves a quarter-pixel position by quarter steps, carrying into the pixel.
QuarterPosition MoveQuarters(const QuarterPosition& p, int32_t dxQuarters, int32_t dyQuarters);
