// The final render as the plug-in drives it for a host: wait for the light
// source analysis with the host's progress bar, render the effects into the
// image read from the host, and write it back.
#pragma once

#include "host/host_abi.h"
#include "params/filter_parameters.h"

// The driver of a filter run: waits for the analysis with host progress,
// renders, and writes the image back. Sets the run's result on failure.
bool RenderFilterEffects(FilterRecord* record, bool bigDocument, const FilterParameters& parameters);
