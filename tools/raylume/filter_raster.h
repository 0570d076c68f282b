// The filter on a raster: the engine's own analysis and render, called
// directly (no host in between), the picture coming back lossless.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/light_source_table.h"
#include "analysis/star_shape.h"
#include "params/filter_parameters.h"
#include "tools/raylume/raster.h"

// What the tool shows of a long run: the stage ("analysis", "render") and
// how far it is (0..1). Called on the calling thread for the analysis and
// from render threads for the render (serialised by the caller's lock).
struct FilterProgress {
    void* context;
    void (*show)(void* context, const char* stage, double fraction);
};

// One light source as the catalogue lists it, in its final state.
struct CatalogueEntry {
    LightSource source;
    bool selected;      // Quantity (or a forced state) gives it effects
    uint32_t intensity; // its effect intensity when selected (unit fraction)
    bool hasShape;      // `shape` was measured (LightSourceChoices::measureShapes or starsOnly)
    StarShape shape;
};

// One edit as the preview's tools make it: the source nearest (x, y) that
// the operation applies to, within `radius`.
struct LightSourcePick {
    double x, y;        // image pixels, as in the catalogue
    double radius;      // pixels
    int32_t operation;  // LightSourceOperation
};

// What a run does to the light sources after the analysis and before the
// render, in this order.
struct LightSourceChoices {
    bool measureShapes = false;          // measure every source's shape for the catalogue
    bool starsOnly = false;              // hide the sources the shape rule calls extended (measures them)
    std::vector<LightSourcePick> picks;  // applied one after another
    // Called last with the table, for a front end that sets states itself.
    void (*edit)(void* context, LightSourceList* table) = nullptr;
    void* editContext = nullptr;
};

struct FilterOutcome {
    int16_t result = 0;                    // RUN_OK or the run's failure code
    std::vector<CatalogueEntry> catalogue; // brightest first
    uint64_t nonFinite = 0;                // NaN or infinite float samples met
    bool effectsDropped = false;           // memory ran out while shapes were built: some effects are missing
    uint32_t hiddenAsExtended = 0;         // sources the shape rule hid (starsOnly)
    std::vector<int32_t> picked;           // per pick: the index it changed, or -1 when none was in reach
    // The picture looks linear (not stretched): half its pixels darker than
    // 1 % of full scale and 99 % darker than 4 %, as a frame straight from the
    // camera is. The effects are then scaled to its brightest stars and end
    // hard in its faint light: a stretch afterwards shows discs and streaks.
    bool looksLinear = false;
    double medianLevel = 0, level99 = 0;   // fractions of full scale (samples as stored)
};

// What filtering a raster will take, part by part, in bytes.
struct FilterMemory {
    uint64_t image = 0;     // the engine's copy of the picture
    uint64_t analysis = 0;  // the analysis's copies (quarter and full size)
    uint64_t effects = 0;   // the render's shapes, strips and tables at these settings
    uint64_t more = 0;      // the most held at once beyond what the raster holds now
};
// Measured before the long work (the spike shape's size by building one of
// its sixteen sub-shapes); nothing is kept.
FilterMemory EstimateFilterMemory(const Raster& raster, const FilterParameters& parameters);
// "it needs about N MiB more (the engine's copy of the image ..., ...)": the
// figures the front ends give when memory is short.
std::string MemoryNeedText(const FilterMemory& memory);
// Whole MiB, rounded up.
std::string MiB(uint64_t bytes);

// The words the front ends give a picture that looks linear.
std::string LinearImageWarning(const FilterOutcome& outcome);

// Filters `raster` in place with `parameters` (held to their ranges first).
// Samples no effect changes keep their exact bytes (and FITS raw values);
// non-finite float samples are judged as black (NaN, -Inf) or white (+Inf)
// and written back as they were. While the engine runs, the raster's
// samples are released (the engine's image holds them), so the picture is
// in memory once. The run's result code is left for the caller to reset
// between files; CancelFilterRun ends a run with RUN_CANCELLED, after which
// (as after any failure) the raster must not be written.
// `choices` (may be null: the table as the analysis left it) are applied
// between the analysis and the render.
FilterOutcome FilterRaster(Raster* raster, const FilterParameters& parameters, const FilterProgress* progress,
                           const LightSourceChoices* choices = nullptr);

// Raises the engine's stop flags (safe from a signal handler).
void CancelFilterRun();
