// Half-precision floats (the card's 16-bit float textures) and the display
// gamma applied on the processor when no gamma shader runs: values raised to
// 1 / 2.2, as the gamma shader does on the card.
#pragma once

#include <cstdint>

// Builds the conversion and gamma tables once (thread-safe). False when the
// memory for them cannot be had.
bool InitializeHalfFloatTables();
// Table-driven conversions (round to nearest even for float -> half; values
// above the half range become infinity, NaN stays NaN).
float HalfToFloat(uint16_t half);
uint16_t FloatToHalf(float value);

// Display gamma 2.2 for read-back pixels: value (0..max) -> round(max * (value / max)^(1/2.2)).
// The 16-bit and half tables have 65536 entries; the half table is indexed by
// round(value * 65535) and holds the half of DisplayGamma16[index] / 65535.
const uint8_t* DisplayGammaTable8();
const uint16_t* DisplayGammaTable16();
const uint16_t* DisplayGammaTableHalf();
