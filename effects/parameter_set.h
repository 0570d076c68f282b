// One complete set of rendering inputs: the view context of the request
// followed by the fourteen effect values in the order of the stored
// parameter record. The preview makes one per redraw, the final render one
// with a zeroed context, and every shape cache points at one as the
// parameters its generator reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "params/filter_parameters.h"

struct ViewRect {
    int32_t left, top, right, bottom;
};

struct ParameterSet {
    int32_t id;             // one higher for each set created
    uint32_t createdTicks;  // system tick count (ms) at creation
    uint32_t reserved;      // 0
    ViewRect previewRect;   // client rectangle of the preview window
    ViewRect markRect;      // tracking frame of the preview tool, else zeros
    double scale;           // preview zoom in percent; 100.0 in the final render
    int32_t scrollX, scrollY;
    bool previewOn;         // the Preview check box is ticked
    uint8_t hasFocus;       // the preview window has the keyboard focus
    void* monitor;          // monitor that shows the dialog
    int32_t lightSourceEdits;  // the light source table's change count

    // The effect values, slots 4..17 of the parameter record in order.
    int16_t intensity;
    int16_t length;
    int16_t angle;  // tenths of a degree, clockwise from up
    int16_t numberOfPoints;
    int16_t spikeSharpness;
    int16_t colorSaturation;
    int16_t rainbowIntensity;
    int16_t rainbowFrequency;
    int16_t secondarySpikeIntensity;
    int16_t softFlareIntensity;
    int16_t effectsOnly;
    int16_t quantity;
    int16_t colorHue;
    int16_t ringFlareIntensity;
};

static_assert(std::is_standard_layout<ParameterSet>::value, "a parameter set is plain data");
static_assert(std::is_trivially_copyable<ParameterSet>::value, "parameter sets are copied byte for byte");
static_assert(sizeof(void*) == 8, "the module is 64-bit");
static_assert(offsetof(ParameterSet, createdTicks) == 4 && offsetof(ParameterSet, reserved) == 8, "header words");
static_assert(offsetof(ParameterSet, previewRect) == 12 && offsetof(ParameterSet, markRect) == 28, "rectangles");
static_assert(offsetof(ParameterSet, scale) == 48, "the zoom is 8-aligned after the rectangles");
static_assert(offsetof(ParameterSet, scrollX) == 56 && offsetof(ParameterSet, scrollY) == 60, "scroll positions");
static_assert(offsetof(ParameterSet, previewOn) == 64 && offsetof(ParameterSet, hasFocus) == 65, "flags");
static_assert(offsetof(ParameterSet, monitor) == 72 && offsetof(ParameterSet, lightSourceEdits) == 80, "monitor");
static_assert(offsetof(ParameterSet, intensity) == 84, "the effect values follow the edit count");
static_assert(offsetof(ParameterSet, ringFlareIntensity) ==
                  offsetof(ParameterSet, intensity) + (PARAMETER_VALUE_COUNT - 1) * sizeof(int16_t),
              "fourteen contiguous effect values");
static_assert(sizeof(ParameterSet) == 112, "112 bytes in all");

// The effect values as the record's slots 4..17.
inline int16_t* EffectValues(ParameterSet* set) { return &set->intensity; }
inline const int16_t* EffectValues(const ParameterSet* set) { return &set->intensity; }

inline void CopyEffectValues(ParameterSet* set, const FilterParameters& record) {
    std::memcpy(EffectValues(set), &record.slot[FIRST_VALUE_SLOT], PARAMETER_VALUE_COUNT * sizeof(int16_t));
}

// Values from scripting or a hand-edited parameter file may lie outside the
// dialog's ranges; some of them would divide by zero (a Rainbow Frequency of
// 103 or more, no points) or make the generators walk the whole image. Every
// value is held to its slider's range; Effects Only to 0 or 1. The angle is
// left alone: any angle is reduced to 0..3599 where it is used.
inline void ClampEffectParameters(ParameterSet* set) {
    set->quantity = ClampToSliderRow(SLIDER_ROW_QUANTITY, set->quantity);
    set->intensity = ClampToSliderRow(SLIDER_ROW_INTENSITY, set->intensity);
    set->length = ClampToSliderRow(SLIDER_ROW_LENGTH, set->length);
    set->numberOfPoints = ClampToSliderRow(SLIDER_ROW_NUMBER_OF_POINTS, set->numberOfPoints);
    set->spikeSharpness = ClampToSliderRow(SLIDER_ROW_SPIKE_SHARPNESS, set->spikeSharpness);
    set->colorSaturation = ClampToSliderRow(SLIDER_ROW_COLOR_SATURATION, set->colorSaturation);
    set->colorHue = ClampToSliderRow(SLIDER_ROW_COLOR_HUE, set->colorHue);
    set->rainbowIntensity = ClampToSliderRow(SLIDER_ROW_RAINBOW_INTENSITY, set->rainbowIntensity);
    set->rainbowFrequency = ClampToSliderRow(SLIDER_ROW_RAINBOW_FREQUENCY, set->rainbowFrequency);
    set->secondarySpikeIntensity =
        ClampToSliderRow(SLIDER_ROW_SECONDARY_SPIKE_INTENSITY, set->secondarySpikeIntensity);
    set->softFlareIntensity = ClampToSliderRow(SLIDER_ROW_SOFT_FLARE_INTENSITY, set->softFlareIntensity);
    set->ringFlareIntensity = ClampToSliderRow(SLIDER_ROW_RING_FLARE_INTENSITY, set->ringFlareIntensity);
    set->effectsOnly = set->effectsOnly < 0 ? 0 : (set->effectsOnly > 1 ? 1 : set->effectsOnly);
}
