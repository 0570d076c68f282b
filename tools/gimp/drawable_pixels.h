// A GIMP drawable's pixels in the engine's form and back, through GEGL
// buffers and babl formats.
//
// GIMP keeps a drawable at its image's precision: 8, 16 or 32-bit integers,
// half, single or double floats, each either linear ("RGB", "Y") or with the
// colour space's tone curve ("R'G'B'", "Y'"), RGB or grey, with or without
// alpha, in the image's colour space. The engine takes 8-bit, 16-bit or float
// samples (raster.h), so each drawable is read in the engine type nearest to
// its own (8 -> 8, 16 -> 16, everything else -> float) with the same model
// ("R'G'B'A", "Y", ...) and space: for 8-bit, 16-bit and float drawables the
// bytes are GIMP's own; for the others babl converts once on the way in and
// once out.
// Rows are the drawable's own coordinates (0, 0 at its top left corner).
#pragma once

#include <babl/babl.h>
#include <gegl.h>
#include <libgimp/gimp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/raylume/raster.h"

// How one drawable's pixels travel, chosen once before any row is read.
struct DrawablePixels {
    int32_t width = 0, height = 0;
    int32_t colours = 3;            // 1 grey, 3 RGB
    bool alpha = false;
    int32_t depth = 16;             // engine sample bits: 8, 16 or 32 (float)
    const Babl* native = nullptr;   // the drawable's own format
    const Babl* engine = nullptr;   // the engine's format of the same model, curve and space
    // The engine's samples are GIMP's own bytes: rows go back as they are.
    // Otherwise a pixel the render left alone keeps its original bytes, so
    // that no 32-bit integer, half or double loses precision to the engine's
    // float where no effect was drawn.
    bool sameBytes = false;
};

// What the drawable holds and how it is read, from its babl format. False
// with a sentence for indexed drawables and any other that is neither RGB
// nor grey (the engine takes those only).
bool DescribeDrawable(int32_t drawable, DrawablePixels* pixels, std::string* error);

// The colour profile the engine is to interpret the samples with, as ICC
// bytes: the image's own profile when it has one; else, at a linear
// precision, GIMP's built-in linear profile for the image's mode; else none,
// so that the engine takes the samples as sRGB (or its default grey) exactly
// as raylume takes a file without a profile.
std::vector<uint8_t> EngineProfileBytes(int32_t image);

// The whole drawable in a raster of the engine's form (`pixels.engine`),
// with the profile attached. False (with a reason) when memory runs out.
bool ReadDrawable(int32_t drawable, const DrawablePixels& pixels, const std::vector<uint8_t>& profile, Raster* raster,
                  std::string* error);

// Writes `region` of the rendered raster (whole-drawable coordinates) into
// `target`, a shadow buffer. With `keepUntouched` (filtering in place, the
// drawable's own buffer as `original`) pixels the render did not change keep
// their bytes from `original`; without it (a new layer; `original` unused)
// every pixel is the rendered one converted to the target's format. `done`
// is told the fraction of rows written.
void WriteRegion(const Raster& rendered, const DrawablePixels& pixels, GeglBuffer* original, GeglBuffer* target,
                 const GeglRectangle& region, bool keepUntouched, void (*done)(void* context, double fraction),
                 void* context);
