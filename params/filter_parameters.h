// The filter's parameter record: a four-part version stamp followed by the
// fourteen effect values, eighteen signed 16-bit slots in all. The same
// 36 bytes are the host's parameters handle, the body of a parameter file,
// the descriptor registry entry and the source of every rendering request.
//
// Everything outside this module creates, applies, compares, converts and
// resets records through ParameterBlockProc and reads or writes single values
// of the current record through its slot constants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

// ---- record layout ----

constexpr int SLOT_MAJOR_VERSION = 0;
constexpr int SLOT_MINOR_VERSION = 1;
constexpr int SLOT_REVISION = 2;
constexpr int SLOT_BUILD = 3;
constexpr int SLOT_INTENSITY = 4;                  // 0..100 percent
constexpr int SLOT_LENGTH = 5;                     // 0..100 percent
constexpr int SLOT_ANGLE = 6;                      // -900..900 tenths of a degree, clockwise
constexpr int SLOT_NUMBER_OF_POINTS = 7;           // 1..32 primary spikes
constexpr int SLOT_SPIKE_SHARPNESS = 8;            // 0..100 percent
constexpr int SLOT_COLOR_SATURATION = 9;           // -100..100 percent
constexpr int SLOT_RAINBOW_INTENSITY = 10;         // 0..100 percent
constexpr int SLOT_RAINBOW_FREQUENCY = 11;         // 0..100 percent
constexpr int SLOT_SECONDARY_SPIKE_INTENSITY = 12; // 0..100 percent
constexpr int SLOT_SOFT_FLARE_INTENSITY = 13;      // 0..100 percent
constexpr int SLOT_EFFECTS_ONLY = 14;              // 0 or 1
constexpr int SLOT_QUANTITY = 15;                  // 0..100 percent of the stars, brightest first
constexpr int SLOT_COLOR_HUE = 16;                 // -100 (purple)..100 (green)
constexpr int SLOT_RING_FLARE_INTENSITY = 17;      // 0..100 percent

constexpr int VERSION_SLOT_COUNT = 4;
constexpr int FIRST_VALUE_SLOT = 4;
constexpr int PARAMETER_VALUE_COUNT = 14;
constexpr int PARAMETER_SLOT_COUNT = 18;

constexpr size_t PARAMETER_RECORD_SIZE = 36;
// Records are handed out, stored in files and kept in the descriptor registry
// as blocks of this size; the bytes after the record are zero.
constexpr size_t PARAMETER_BLOCK_SIZE = 255;

// Slot i sits at byte 2 * i, least significant byte first. Every platform the
// plug-in runs on is little-endian, so the record is read and written as the
// in-memory int16_t array without byte swapping.
struct FilterParameters {
    int16_t slot[PARAMETER_SLOT_COUNT];
};

#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the parameter record is stored little-endian");
#endif
static_assert(sizeof(int16_t) == 2, "slots are 16 bits");
static_assert(sizeof(FilterParameters) == PARAMETER_RECORD_SIZE, "the parameter record is 36 bytes, no padding");
static_assert(offsetof(FilterParameters, slot) == 0, "slot 0 starts the record");
static_assert(std::is_standard_layout<FilterParameters>::value, "the record is plain data");
static_assert(std::is_trivially_copyable<FilterParameters>::value, "the record is copied byte for byte");

constexpr size_t ParameterSlotByteOffset(int slot) { return static_cast<size_t>(slot) * sizeof(int16_t); }
static_assert(ParameterSlotByteOffset(SLOT_BUILD) == 6, "Build at byte 6");
static_assert(ParameterSlotByteOffset(SLOT_INTENSITY) == 8, "Intensity at byte 8");
static_assert(ParameterSlotByteOffset(SLOT_ANGLE) == 12, "Angle at byte 12");
static_assert(ParameterSlotByteOffset(SLOT_EFFECTS_ONLY) == 28, "Effects Only at byte 28");
static_assert(ParameterSlotByteOffset(SLOT_QUANTITY) == 30, "Quantity at byte 30");
static_assert(ParameterSlotByteOffset(SLOT_RING_FLARE_INTENSITY) == 34, "Ring Flare Intensity at byte 34");

// ---- version stamp and factory values ----

constexpr int16_t CURRENT_MAJOR_VERSION = 0;
constexpr int16_t CURRENT_MINOR_VERSION = 0;
constexpr int16_t CURRENT_REVISION = 0;
constexpr int16_t CURRENT_BUILD = 6;

// The stamp every record written by this version carries (0.0.0.6).
extern const int16_t CURRENT_PARAMETER_VERSION[VERSION_SLOT_COUNT];

inline constexpr FilterParameters FACTORY_PARAMETERS = {{
    CURRENT_MAJOR_VERSION, CURRENT_MINOR_VERSION, CURRENT_REVISION, CURRENT_BUILD,
    50,  // Intensity
    50,  // Length
    0,   // Angle
    4,   // Number of Points
    50,  // Spike Sharpness
    30,  // Color Saturation
    50,  // Rainbow Intensity
    50,  // Rainbow Frequency
    50,  // Secondary Spike Intensity
    50,  // Soft Flare Intensity
    0,   // Effects Only
    50,  // Quantity
    0,   // Color Hue
    30,  // Ring Flare Intensity
}};

// ---- the current record ----

// The record the run works on: the locked host parameters handle during a
// filter run. Null when no record is installed. User-interface thread only.
void SetCurrentParameterRecord(FilterParameters* record);
FilterParameters* GetCurrentParameterRecord();

// ---- the block procedure ----

enum ParameterBlockOperation : int32_t {
    PARAMETER_OP_VERSION = 0,       // -> const int16_t[4], the current stamp; not to be freed
    PARAMETER_OP_NEW_DEFAULTS = 1,  // -> new block holding the factory record
    PARAMETER_OP_NEW_COPY = 2,      // -> new block: current stamp + values of the current record
    PARAMETER_OP_APPLY = 3,         // block's 18 slots, stamp included, -> current record; 1
    PARAMETER_OP_COMPARE = 4,       // 1 when the 14 values equal the current record's, else 0
    PARAMETER_OP_CONVERT = 5,       // -> new block converted from an older build, or 0
    PARAMETER_OP_RESET = 6,         // factory record -> current record; 1
};

// The one entry through which parameter blocks are made and used. New blocks
// are PARAMETER_BLOCK_SIZE bytes from malloc, owned by the caller and released
// with FreeParameterBlock; 0 when memory runs out. Operations that need the
// current record or a block return 0 when either is missing. Unknown
// operations return 0.
intptr_t ParameterBlockProc(int32_t operation, void* block);

// Releases a block handed out by ParameterBlockProc. Null is allowed.
void FreeParameterBlock(void* block);

// True when the block's four stamp slots equal the current stamp. A mismatch
// is logged with the block's stamp; the caller then tries PARAMETER_OP_CONVERT.
bool ParameterBlockVersionMatches(const void* block);

// Debug hook for rendering requests: reports a missing parameter set together
// with the caller's message, and otherwise does nothing.
void TraceRenderingParameters(const char* message, const void* parameterSet);

// ---- slider and edit controls ----

// One slider-and-edit pair of the main dialog, bound to one record slot.
struct SliderControlRow {
    int16_t minimum;
    int16_t maximum;
    int16_t lineStep;      // arrow keys
    int16_t pageStep;      // Page Up / Page Down and the slider's page
    int16_t largeStep;     // Ctrl with the arrow keys
    int16_t defaultValue;
    int16_t textLimit;     // characters the edit accepts
    int32_t editId;
    int32_t sliderId;
    const char* editTooltip;
    const char* sliderTooltip;
    int16_t decimals;      // the value is shown divided by 10^decimals
    int16_t slot;          // record slot the row edits
};

constexpr int SLIDER_ROW_QUANTITY = 0;
constexpr int SLIDER_ROW_INTENSITY = 1;
constexpr int SLIDER_ROW_LENGTH = 2;
constexpr int SLIDER_ROW_ANGLE = 3;
constexpr int SLIDER_ROW_NUMBER_OF_POINTS = 4;
constexpr int SLIDER_ROW_SPIKE_SHARPNESS = 5;
constexpr int SLIDER_ROW_COLOR_SATURATION = 6;
constexpr int SLIDER_ROW_COLOR_HUE = 7;
constexpr int SLIDER_ROW_RAINBOW_INTENSITY = 8;
constexpr int SLIDER_ROW_RAINBOW_FREQUENCY = 9;
constexpr int SLIDER_ROW_SECONDARY_SPIKE_INTENSITY = 10;
constexpr int SLIDER_ROW_SOFT_FLARE_INTENSITY = 11;
constexpr int SLIDER_ROW_RING_FLARE_INTENSITY = 12;
constexpr int SLIDER_ROW_COUNT = 13;

constexpr int16_t SLIDER_EDIT_TEXT_LIMIT = 4;

// The rows in dialog order (Quantity first).
extern const SliderControlRow SLIDER_CONTROL_TABLE[SLIDER_ROW_COUNT];

// The row, or null when row is out of range.
const SliderControlRow* GetSliderControlRow(int row);

// The value limited to the row's minimum and maximum; value unchanged for an
// unknown row.
int16_t ClampToSliderRow(int row, int32_t value);

// Holds every effect value of the record to its slider's range and Effects
// Only to 0 or 1, as a run needs them: values from scripting, the host's
// registry or a parameter file may lie anywhere in 16 bits (a Soft Flare of
// 150 would wrap to less light, a Ring Flare of 150 leaves the fraction's
// range). The version stamp is left alone. Returns how many values changed.
int ClampFilterParameters(FilterParameters* record);

// The edit text for a record value: value / 10^d with d decimals ("%.*f"), or
// the signed integer when the row has no decimals. Empty for an unknown row.
std::string FormatParameterValue(int row, int16_t value);

// The record value for an edit text: the leading decimal number (optional
// blanks, optional sign, digits with at most one point; at least one digit)
// times 10^d, truncated toward zero, clamped to the row's range. Anything
// after the number is ignored. Text without a number (empty, "-", ".", ...),
// null text or an unknown row gives currentValue back unchanged.
int16_t ParseParameterEntry(int row, const char* text, int16_t currentValue);
