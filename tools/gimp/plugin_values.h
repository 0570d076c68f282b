// What the GIMP procedure takes besides its run mode, image and drawable:
// the fourteen effect values under their argument names, in the order the
// dialog shows them, then where the effects go. Ranges are the dialog's
// (params/filter_parameters.h, SLIDER_CONTROL_TABLE); the Angle is in degrees
// with one decimal, everything else whole numbers.
#pragma once

#include <cstdint>
#include <string>

#include "params/filter_parameters.h"

struct EffectArgument {
    const char* name;   // the procedure's argument name
    const char* label;  // the dialog's label, with its mnemonic
    int row;            // SLIDER_ROW_*, or -1 for Effects Only (0 or 1)
    const char* blurb;  // what the value does, for the procedure browser
};

constexpr int EFFECT_ARGUMENT_COUNT = PARAMETER_VALUE_COUNT;
extern const EffectArgument kEffectArguments[EFFECT_ARGUMENT_COUNT];

// The values a run uses, and what GIMP keeps between runs (gimp_set_data).
struct PlugInValues {
    FilterParameters parameters;  // version stamp and the fourteen values
    int32_t newLayer;             // 1: the effects alone go into a new layer in Screen mode above the drawable
};

constexpr PlugInValues DEFAULT_PLUG_IN_VALUES = {FACTORY_PARAMETERS, 0};

// The record slot an argument sets.
int SlotOfArgument(const EffectArgument& argument);

// Sets argument `index` (0..13) from the number a caller passed. False, with a
// sentence naming the argument, its range and the value, when the value is
// outside the dialog's range, not a number, or has more decimals than the
// control shows (the Angle is held to tenths of a degree, as its edit box).
bool SetEffectArgument(int index, double value, FilterParameters* parameters, std::string* error);

// The value of argument `index` as the procedure takes it (degrees for the Angle).
double EffectArgumentValue(int index, const FilterParameters& parameters);

// "0 to 100", "-90.0 to 90.0", "0 or 1".
std::string ArgumentRange(int index);
