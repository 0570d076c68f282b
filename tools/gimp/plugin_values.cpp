#include "tools/gimp/plugin_values.h"

#include <cmath>
#include <cstdio>

const EffectArgument kEffectArguments[EFFECT_ARGUMENT_COUNT] = {
    {"quantity", "_Quantity:", SLIDER_ROW_QUANTITY, "How many stars get effects, brightest first (%)"},
    {"intensity", "_Intensity:", SLIDER_ROW_INTENSITY, "Brightness of the main spikes (%)"},
    {"length", "_Length:", SLIDER_ROW_LENGTH, "Length of the spikes and size of the flares (%)"},
    {"angle", "_Angle:", SLIDER_ROW_ANGLE, "Angle of the first spike, clockwise (degrees)"},
    {"number-of-points", "_Number of points:", SLIDER_ROW_NUMBER_OF_POINTS, "Main spikes around each star"},
    {"spike-sharpness", "Spike s_harpness:", SLIDER_ROW_SPIKE_SHARPNESS, "Sharpness of the spikes (%)"},
    {"color-saturation", "_Color saturation:", SLIDER_ROW_COLOR_SATURATION,
     "Strength of the star's colour in its effects (%)"},
    {"color-hue", "Color h_ue:", SLIDER_ROW_COLOR_HUE, "Tint of the effects: positive greener, negative more purple"},
    {"rainbow-intensity", "_Rainbow intensity:", SLIDER_ROW_RAINBOW_INTENSITY, "Rainbow along the spikes (%)"},
    {"rainbow-frequency", "Rainbow _frequency:", SLIDER_ROW_RAINBOW_FREQUENCY, "How often the rainbow repeats (%)"},
    {"secondary-spike-intensity", "Secon_dary spikes:", SLIDER_ROW_SECONDARY_SPIKE_INTENSITY,
     "Brightness of the secondary spikes (%)"},
    {"soft-flare-intensity", "S_oft flare:", SLIDER_ROW_SOFT_FLARE_INTENSITY, "Brightness of the soft flare (%)"},
    {"ring-flare-intensity", "Rin_g flare:", SLIDER_ROW_RING_FLARE_INTENSITY, "Brightness of the ring flare (%)"},
    {"effects-only", "_Effects only", -1, "The effects on black, without the picture { FALSE (0), TRUE (1) }"},
};

int SlotOfArgument(const EffectArgument& argument) {
    return argument.row < 0 ? SLOT_EFFECTS_ONLY : GetSliderControlRow(argument.row)->slot;
}

std::string ArgumentRange(int index) {
    const EffectArgument& argument = kEffectArguments[index];
    if (argument.row < 0) return "0 or 1";
    const SliderControlRow* row = GetSliderControlRow(argument.row);
    char text[64];
    if (row->decimals)
        std::snprintf(text, sizeof text, "%.1f to %.1f", row->minimum / 10.0, row->maximum / 10.0);
    else
        std::snprintf(text, sizeof text, "%d to %d", row->minimum, row->maximum);
    return text;
}

bool SetEffectArgument(int index, double value, FilterParameters* parameters, std::string* error) {
    const EffectArgument& argument = kEffectArguments[index];
    int decimals = 0, minimum = 0, maximum = 1;
    if (argument.row >= 0) {
        const SliderControlRow* row = GetSliderControlRow(argument.row);
        decimals = row->decimals;
        minimum = row->minimum;
        maximum = row->maximum;
    }
    const double scale = decimals ? 10.0 : 1.0;
    const double scaled = value * scale;
    // A value typed as 12.3 arrives as the nearest double; anything further
    // from a tenth than rounding explains has digits the control cannot show.
    const double steps = std::nearbyint(scaled);
    if (!std::isfinite(value) || std::fabs(scaled - steps) > 1e-6 * (1.0 + std::fabs(scaled)) || steps < minimum ||
        steps > maximum) {
        char shown[48];
        std::snprintf(shown, sizeof shown, "%g", value);
        *error = std::string(argument.name) + " takes " +
                 (decimals ? "a number with at most one decimal" : argument.row < 0 ? "" : "a whole number") +
                 (argument.row < 0 ? "" : " from ") + ArgumentRange(index) + ", not " + shown;
        return false;
    }
    parameters->slot[SlotOfArgument(argument)] = static_cast<int16_t>(steps);
    return true;
}

double EffectArgumentValue(int index, const FilterParameters& parameters) {
    const EffectArgument& argument = kEffectArguments[index];
    const int16_t value = parameters.slot[SlotOfArgument(argument)];
    if (argument.row >= 0 && GetSliderControlRow(argument.row)->decimals) return value / 10.0;
    return value;
}
