// What every front end does around a render: the process-wide state a run of
// the engine needs (gamma tables, the shape creation lock, the effect tables
// and the run's colour profiles) and its release. The plug-in's start
// selector and the command-line tool call the same two functions.
#pragma once

#include <cstdint>

#include "image/color_management.h"

// Prepares a run for an image of `imageMode` whose colour profile comes from
// `profile` (null: the default profile of the mode). False, with the run's
// result set to RUN_BAD_PARAMETERS, when the gamma tables or the colour
// management could not be had; the caller still calls EndEffectsRun.
bool BeginEffectsRun(int32_t imageMode, const HostProfileSource* profile);
// Releases the shape caches, the analysis, the colour management, the shape
// creation lock and the gamma tables of the run. Safe after a failed start.
void EndEffectsRun();
