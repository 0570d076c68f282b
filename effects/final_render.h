// The final render: the effects of every selected light source are
// accumulated in black band images on one thread per band, converted to the
// image's colour space and screen-blended onto the image. Front ends (the
// plug-in's host driver, the command-line tool) hand it an image and a place
// to report progress; it knows nothing of hosts.
#pragma once

#include <cstdint>

#include "analysis/light_source_table.h"
#include "effects/parameter_set.h"
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

// Where a render reports its progress: `start` once, on the calling thread,
// with the total of units; `advance` from the band threads as units are done
// (it must be safe to call from several threads at once). Either may be null.
// A render stops early when the run's result becomes RUN_CANCELLED.
struct RenderProgress {
    void* context;
    void (*start)(void* context, int64_t total);
    void (*advance)(void* context, int64_t units);
};

// Draws the three passes into a band image (already in the effects colour space).
bool DrawEffectsIntoBand(Image* band, const ImageRect& bandRect, const ParameterSet& parameters,
                         const LightSourceList* table, bool grayImage, const RenderProgress* progress = nullptr);
// Renders every effect into `working` (of image mode `imageMode`) on the
// thread pool: RUN_OK, RUN_RENDER_FAILED, RUN_CANCELLED or RUN_THREAD_FAILED
// (also RUN_OUT_OF_MEMORY); the run's result carries the same code.
int16_t RenderEffectsIntoImage(Image* working, const ParameterSet& parameters, const LightSourceList* table,
                               int32_t imageMode, const RenderProgress* progress = nullptr);

// What a render of an image of this size and mode with these parameters
// holds at once besides the image: the effects' shapes (measured by building
// one spike sub-shape, then let go), the strips of the threads and the
// tables. For a front end that checks the memory before the long work; call
// it inside a run of the engine (BeginEffectsRun), before the render.
uint64_t EstimateRenderMemory(int64_t width, int64_t height, int32_t imageMode, const ParameterSet& parameters);
