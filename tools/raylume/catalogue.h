// The star catalogue of a run: one row per light source, brightest first.
//
// Columns (CSV header names; the JSON objects use the same keys):
//   index       0-based rank, brightest first
//   x, y        the source's centre in pixels: 0-based, origin at the top-left
//               pixel as displayed, integers at pixel centres, in quarters
//   fits_x, fits_y  (FITS input only) the same centre in FITS pixel
//               coordinates: 1-based, row 1 at the bottom
//   diameter    in pixels
//   brightness  0..1, relative to the brightest visible source
//   red, green, blue  the effect colour, 0..1, largest channel 1
//   state       hidden, auto (Quantity decides) or shown (forced on)
//   selected    1 when the source gets effects in this run, else 0
//   intensity   its effect intensity, 0..1 (0 when not selected)
// and how star-like it is (analysis/star_shape.h; empty in CSV and null in
// JSON where the source was too faint or too near the edge to measure):
//   size           second-moment radius in pixels (σ of a Gaussian star)
//   ellipticity    0 round .. 1 a line
//   concentration  light within 1.5 reference sizes over light within 4
//   relative_size  size² over that of the stars of similar brightness
//   saturated      1 when its core is a plateau (judged by its wings)
//   extended       1 when the shape rule calls it extended (--stars-only hides it)
#pragma once

#include <string>
#include <vector>

#include "tools/raylume/filter_raster.h"

// Text of the catalogue; `fits` adds the FITS columns for an image of `height` rows.
std::string CatalogueCsv(const std::vector<CatalogueEntry>& entries, bool fits, int32_t height);
std::string CatalogueJson(const std::vector<CatalogueEntry>& entries, bool fits, int32_t width, int32_t height,
                          const std::string& image);
// Writes text through a temporary file beside `path` and a rename.
bool WriteTextFile(const std::string& path, const std::string& text, std::string* error);
// The same up to the last step (tools/raylume/output_files.h).
struct PendingOutput;
bool WriteTextPending(const std::string& path, const std::string& text, PendingOutput* output, std::string* error);
