// The parameter record: version stamp, factory values, the block procedure,
// conversion of records written by older builds, and the slider/edit control
// table with its value-to-text and text-to-value rules.

#include "params/filter_parameters.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/debug_log.h"

const int16_t CURRENT_PARAMETER_VERSION[VERSION_SLOT_COUNT] = {
    CURRENT_MAJOR_VERSION, CURRENT_MINOR_VERSION, CURRENT_REVISION, CURRENT_BUILD,
};

namespace {

FilterParameters* CurrentRecord = nullptr;

// Blocks may come from files or the host and need not be aligned for int16_t,
// so records are always moved in and out of them with memcpy.
FilterParameters LoadRecord(const void* block) {
    FilterParameters record;
    std::memcpy(&record, block, sizeof record);
    return record;
}

// A new zeroed block holding the record in its first bytes; null when memory
// runs out.
void* NewBlock(const FilterParameters& record) {
    void* block = std::calloc(1, PARAMETER_BLOCK_SIZE);
    if (block != nullptr) {
        std::memcpy(block, &record, sizeof record);
    }
    return block;
}

void StampCurrentVersion(FilterParameters& record) {
    for (int i = 0; i < VERSION_SLOT_COUNT; ++i) {
        record.slot[i] = CURRENT_PARAMETER_VERSION[i];
    }
}

bool ValuesEqual(const FilterParameters& a, const FilterParameters& b) {
    for (int i = FIRST_VALUE_SLOT; i < PARAMETER_SLOT_COUNT; ++i) {
        if (a.slot[i] != b.slot[i]) {
            return false;
        }
    }
    return true;
}

// Whole degrees to tenths, wrapping like the 16-bit arithmetic that wrote the
// old records.
int16_t DegreesToTenths(int16_t degrees) {
    const uint16_t tenths = static_cast<uint16_t>(static_cast<uint16_t>(degrees) * 10u);
    return static_cast<int16_t>(tenths);
}

// Records of builds 3, 4 and 5 (all 0.0.0.x) are brought up to the current
// layout; anything else cannot be converted.
bool ConvertOlderRecord(const FilterParameters& source, FilterParameters& result) {
    if (source.slot[SLOT_MAJOR_VERSION] != 0 || source.slot[SLOT_MINOR_VERSION] != 0 ||
        source.slot[SLOT_REVISION] != 0) {
        return false;
    }
    const int16_t build = source.slot[SLOT_BUILD];
    if (build != 3 && build != 4 && build != 5) {
        return false;
    }

    result = FilterParameters{};
    StampCurrentVersion(result);
    for (int i = FIRST_VALUE_SLOT; i <= SLOT_QUANTITY; ++i) {
        result.slot[i] = source.slot[i];
    }
    result.slot[SLOT_RING_FLARE_INTENSITY] = 0;

    if (build == 5) {
        result.slot[SLOT_COLOR_HUE] = source.slot[SLOT_COLOR_HUE];
        return true;
    }

    // Builds 3 and 4 had no Quantity control; the stars were selected by the
    // Intensity value. Build 3 also kept the angle in whole degrees.
    result.slot[SLOT_QUANTITY] = source.slot[SLOT_INTENSITY];
    result.slot[SLOT_COLOR_HUE] = 0;
    if (build == 3) {
        result.slot[SLOT_ANGLE] = DegreesToTenths(source.slot[SLOT_ANGLE]);
    }
    return true;
}

intptr_t BlockResult(void* block) { return reinterpret_cast<intptr_t>(block); }

} // namespace

void SetCurrentParameterRecord(FilterParameters* record) { CurrentRecord = record; }

FilterParameters* GetCurrentParameterRecord() { return CurrentRecord; }

intptr_t ParameterBlockProc(int32_t operation, void* block) {
    switch (operation) {
    case PARAMETER_OP_VERSION:
        return reinterpret_cast<intptr_t>(CURRENT_PARAMETER_VERSION);

    case PARAMETER_OP_NEW_DEFAULTS:
        return BlockResult(NewBlock(FACTORY_PARAMETERS));

    case PARAMETER_OP_NEW_COPY: {
        if (CurrentRecord == nullptr) {
            ReportUnexpected(__LINE__, "ParameterBlockProc() - No current parameter record to copy.");
            return 0;
        }
        FilterParameters copy = *CurrentRecord;
        StampCurrentVersion(copy);
        return BlockResult(NewBlock(copy));
    }

    case PARAMETER_OP_APPLY:
        if (CurrentRecord == nullptr || block == nullptr) {
            ReportUnexpected(__LINE__, "ParameterBlockProc() - Apply needs a current record and a block (record %p, block %p).",
                             static_cast<void*>(CurrentRecord), block);
            return 0;
        }
        *CurrentRecord = LoadRecord(block);
        return 1;

    case PARAMETER_OP_COMPARE:
        if (CurrentRecord == nullptr || block == nullptr) {
            ReportUnexpected(__LINE__, "ParameterBlockProc() - Compare needs a current record and a block (record %p, block %p).",
                             static_cast<void*>(CurrentRecord), block);
            return 0;
        }
        return ValuesEqual(LoadRecord(block), *CurrentRecord) ? 1 : 0;

    case PARAMETER_OP_CONVERT: {
        if (block == nullptr) {
            ReportUnexpected(__LINE__, "ParameterBlockProc() - A NULL pointer was specified for the block to convert.");
            return 0;
        }
        FilterParameters converted;
        if (!ConvertOlderRecord(LoadRecord(block), converted)) {
            return 0;
        }
        return BlockResult(NewBlock(converted));
    }

    case PARAMETER_OP_RESET:
        if (CurrentRecord == nullptr) {
            ReportUnexpected(__LINE__, "ParameterBlockProc() - No current parameter record to reset.");
            return 0;
        }
        *CurrentRecord = FACTORY_PARAMETERS;
        return 1;

    default:
        return 0;
    }
}

void FreeParameterBlock(void* block) { std::free(block); }

bool ParameterBlockVersionMatches(const void* block) {
    if (block == nullptr) {
        ReportUnexpected(__LINE__, "ParameterBlockVersionMatches() - A NULL pointer was specified for the block.");
        return false;
    }
    const FilterParameters record = LoadRecord(block);
    for (int i = 0; i < VERSION_SLOT_COUNT; ++i) {
        if (record.slot[i] != CURRENT_PARAMETER_VERSION[i]) {
            DebugEvent(__LINE__).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                                        "User Setting File version mismatch. File Version = '%d','%d','%d','%d'",
                                        record.slot[SLOT_MAJOR_VERSION], record.slot[SLOT_MINOR_VERSION],
                                        record.slot[SLOT_REVISION], record.slot[SLOT_BUILD]);
            return false;
        }
    }
    return true;
}

void TraceRenderingParameters(const char* message, const void* parameterSet) {
    if (parameterSet == nullptr) {
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                                    "TraceRenderingParameters() - A NULL pointer was specified for Parameter Set argument.  Message: '%s'",
                                    message != nullptr ? message : "");
    }
}

// ---- slider and edit controls ----

const SliderControlRow SLIDER_CONTROL_TABLE[SLIDER_ROW_COUNT] = {
    {0, 100, 1, 10, 10, 50, SLIDER_EDIT_TEXT_LIMIT, 1025, 1026,
     "Quantity (Q) - Set how many stars, ranked by brightness, will be given effects",
     "Quantity (Q) - Move right to increase the number of dimmer stars given effects",
     0, SLOT_QUANTITY},
    {0, 100, 1, 10, 10, 50, SLIDER_EDIT_TEXT_LIMIT, 1005, 1004,
     "Intensity (I) - Set the brightness of the primary spike effects",
     "Intensity (I) - Move right to increase the brightness of primary spikes",
     0, SLOT_INTENSITY},
    {0, 100, 1, 10, 10, 50, SLIDER_EDIT_TEXT_LIMIT, 1007, 1006,
     "Length (L) - Set the length of the spikes and the size of the flare effects",
     "Length (L) - Move right to increase the length of the spikes and the size of the flare effects",
     0, SLOT_LENGTH},
    {-900, 900, 1, 100, 10, 0, SLIDER_EDIT_TEXT_LIMIT, 1009, 1008,
     "Angle (A) - Set the rotation angle of the spikes",
     "Angle (A) - Move right to rotate the spikes clockwise",
     1, SLOT_ANGLE},
    {1, 32, 1, 8, 2, 4, SLIDER_EDIT_TEXT_LIMIT, 1011, 1010,
     "Number of Points (N) - Set the number of primary spikes around a star",
     "Number of Points (N) - Move right to increase the number of primary spikes around a star",
     0, SLOT_NUMBER_OF_POINTS},
    {0, 100, 1, 10, 10, 50, SLIDER_EDIT_TEXT_LIMIT, 1022, 1024,
     "Spike Sharpness (S) - Set the fuzziness or sharpness of the spikes",
     "Spike Sharpness (S) - Move right to increase the sharpness of the spikes",
     0, SLOT_SPIKE_SHARPNESS},
    {-100, 100, 1, 10, 10, 30, SLIDER_EDIT_TEXT_LIMIT, 1013, 1012,
     "Color Saturation (C) - Set the intensity of the star color used in the effects",
     "Color Saturation (C) - Move right to increase the intensity of the star color in the effects",
     0, SLOT_COLOR_SATURATION},
    {-100, 100, 1, 10, 10, 0, SLIDER_EDIT_TEXT_LIMIT, 1180, 1181,
     "Color Hue (U) - Change the color tint of the spikes",
     "Color Hue (U) - Move left to make the color more purplish, right to make it more greenish",
     0, SLOT_COLOR_HUE},
    {0, 100, 1, 10, 10, 50, SLIDER_EDIT_TEXT_LIMIT, 1015, 1014,
     "Rainbow Intensity (R) - Set the brightness of the multicolored 'rainbow' pattern in the spikes",
     "Rainbow Intensity (R) - Move right to increase the brightness of the multicolored 'rainbow' pattern in the spikes",
     0, SLOT_RAINBOW_INTENSITY},
    {0, 100, 1, 10, 10, 50, SLIDER_EDIT_TEXT_LIMIT, 1017, 1016,
     "Rainbow Frequency (F) - Set how quickly the multicolored 'rainbow' pattern changes color in the spikes",
     "Rainbow Frequency (F) - Move right to make the multicolored 'rainbow' pattern change color more rapidly in the spikes",
     0, SLOT_RAINBOW_FREQUENCY},
    {0, 100, 1, 10, 10, 50, SLIDER_EDIT_TEXT_LIMIT, 1019, 1018,
     "Secondary Spike Intensity (E) - Set the brightness of secondary central 'mini-spikes' around a star",
     "Secondary Spike Intensity (E) - Move right to increase the brightness of secondary central 'mini-spikes' around a star",
     0, SLOT_SECONDARY_SPIKE_INTENSITY},
    {0, 100, 1, 10, 10, 50, SLIDER_EDIT_TEXT_LIMIT, 1021, 1020,
     "Soft Flare Intensity (Y) - Set the brightness of the soft flare around stars",
     "Soft Flare Intensity (Y) - Move right to increase the brightness of the soft flare around stars",
     0, SLOT_SOFT_FLARE_INTENSITY},
    {0, 100, 1, 10, 10, 30, SLIDER_EDIT_TEXT_LIMIT, 1027, 1029,
     "Ring Flare Intensity (G) - Set the brightness of the ring flare around stars",
     "Ring Flare Intensity (G) - Move right to increase the brightness of the ring flare around stars",
     0, SLOT_RING_FLARE_INTENSITY},
};

const SliderControlRow* GetSliderControlRow(int row) {
    if (row < 0 || row >= SLIDER_ROW_COUNT) {
        return nullptr;
    }
    return &SLIDER_CONTROL_TABLE[row];
}

int16_t ClampToSliderRow(int row, int32_t value) {
    const SliderControlRow* entry = GetSliderControlRow(row);
    if (entry == nullptr) {
        return static_cast<int16_t>(value);
    }
    if (value < entry->minimum) {
        return entry->minimum;
    }
    if (value > entry->maximum) {
        return entry->maximum;
    }
    return static_cast<int16_t>(value);
}

int ClampFilterParameters(FilterParameters* record) {
    int changed = 0;
    for (int row = 0; row < SLIDER_ROW_COUNT; row++) {
        int16_t& value = record->slot[SLIDER_CONTROL_TABLE[row].slot];
        int16_t held = ClampToSliderRow(row, value);
        if (held != value) changed++;
        value = held;
    }
    int16_t& effectsOnly = record->slot[SLOT_EFFECTS_ONLY];
    if (effectsOnly != 0 && effectsOnly != 1) {
        effectsOnly = effectsOnly > 0 ? 1 : 0;
        changed++;
    }
    return changed;
}

std::string FormatParameterValue(int row, int16_t value) {
    const SliderControlRow* entry = GetSliderControlRow(row);
    if (entry == nullptr) {
        return std::string();
    }
    char text[32];
    if (entry->decimals == 0) {
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    } else {
        double scale = 1.0;
        for (int i = 0; i < entry->decimals; ++i) {
            scale *= 10.0;
        }
        std::snprintf(text, sizeof text, "%.*f", static_cast<int>(entry->decimals), value / scale);
    }
    return std::string(text);
}

// The number is read digit by digit rather than through a binary floating
// value, so that "0.3" on a one-decimal row is exactly 3 and "12.34" exactly
// 123; digits beyond the row's decimals are dropped, which truncates toward
// zero for either sign.
int16_t ParseParameterEntry(int row, const char* text, int16_t currentValue) {
    const SliderControlRow* entry = GetSliderControlRow(row);
    if (entry == nullptr || text == nullptr) {
        return currentValue;
    }

    // Far beyond any row's range; the magnitude stops growing here so that long
    // digit strings cannot overflow and still clamp to the row's limit.
    constexpr int64_t MAGNITUDE_CEILING = 1000000000;

    const char* p = text;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }

    int64_t magnitude = 0;
    bool sawDigit = false;
    while (*p >= '0' && *p <= '9') {
        sawDigit = true;
        if (magnitude < MAGNITUDE_CEILING) {
            magnitude = magnitude * 10 + (*p - '0');
        }
        ++p;
    }
    int fractionDigits = 0;
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') {
            sawDigit = true;
            if (fractionDigits < entry->decimals) {
                if (magnitude < MAGNITUDE_CEILING) {
                    magnitude = magnitude * 10 + (*p - '0');
                }
                ++fractionDigits;
            }
            ++p;
        }
    }
    if (!sawDigit) {
        return currentValue;
    }
    for (; fractionDigits < entry->decimals; ++fractionDigits) {
        if (magnitude < MAGNITUDE_CEILING) {
            magnitude *= 10;
        }
    }
    if (magnitude > MAGNITUDE_CEILING) {
        magnitude = MAGNITUDE_CEILING;
    }

    const int64_t value = negative ? -magnitude : magnitude;
    if (value < entry->minimum) {
        return entry->minimum;
    }
    if (value > entry->maximum) {
        return entry->maximum;
    }
    return static_cast<int16_t>(value);
}
