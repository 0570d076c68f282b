// The final render: the effects of every selected light source are
// accumulated in black band images on one thread per band, converted to the
// image's colour space and screen-blended onto the image, which then goes
// back to the host.
#pragma once

#include <cstdint>

#include "analysis/light_source_table.h"
#include "effects/parameter_set.h"
#include "host/host_abi.h"
#include "image/image.h"

// Set by the driver to stop every band thread at its next light source.
extern volatile uint8_t RenderAbortFlag;

// The Quantity threshold θq as a unit fraction.
uint32_t QuantityThreshold(int32_t quantity);
// The effect intensity of a light source under the Quantity rule; false when
// it is not drawn.
bool SelectLightSource(const LightSource& source, uint32_t threshold, uint32_t* intensity);
// Color Hue and Color Saturation applied to a colour (pixel scale, may exceed full).
void ColourLightSource(uint32_t rgb[3], const ParameterSet& parameters);

// Draws the three passes into a band image (already in the effects colour space).
bool DrawEffectsIntoBand(Image* band, const ImageRect& bandRect, const ParameterSet& parameters,
                         const LightSourceList* table, bool grayImage);
// Renders every effect into `working` on the thread pool (no host involved):
// 0, -20, -128 or -1715.
int16_t RenderEffectsIntoImage(Image* working, const ParameterSet& parameters, const LightSourceList* table,
                               int32_t hostMode);
// The driver of a filter run: waits for the analysis with host progress,
// renders, and writes the image back. Sets the run's result on failure.
bool RenderFilterEffects(FilterRecord* record, bool bigDocument, const FilterParameters& parameters);
