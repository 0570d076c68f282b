// The light source table: one record per star with its quarter-pixel centre,
// radius, brightness, colour and effect state, and the list that holds such
// records. The same list serves each analysis thread's section list and the
// run's LightSourceTable.
//
// A section list is filled by its own thread through AddLightSource, sorted
// by y when the thread ends and merged into the table after the pass. The
// table is rescaled by 4 between the quarter-resolution and the
// full-resolution pass, and finalised (intensity normalisation, brightness
// order) once after the last pass. From then on only state, savedState and
// changeCount change, through the preview tools.
//
// The loops that may run long (merging, finalising) test the analysis stop
// flag, passed in as a pointer; a null pointer never stops them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"
#include "image/tracked_buffer.h"

enum LightSourceState : int32_t {
    LIGHT_SOURCE_HIDDEN = 0,  // effects hidden (profile failed, or hidden by the user)
    LIGHT_SOURCE_AUTO = 1,    // shown when the Quantity parameter selects it
    LIGHT_SOURCE_SHOWN = 2,   // shown by the user, whatever the Quantity
};

// One light source: fourteen 32-bit words.
struct LightSource {
    int32_t x;             // integer column of the centre
    int32_t xQuarter;      // quarter-pixel part of the column, 0..3
    int32_t y;             // integer row of the centre
    int32_t yQuarter;      // quarter-pixel part of the row, 0..3
    float radius;          // pixels
    float radiusSquared;   // radius × radius
    uint32_t brightness;   // measured B while the table is built, normalised after finalisation
    uint32_t red;          // colour channels
    uint32_t green;
    uint32_t blue;
    uint32_t intensity;    // unit fraction the renderer uses for state 2; full at creation
    uint32_t spare;        // 0xFFFFFFFF at creation, carried along with the record
    int32_t state;         // LightSourceState
    int32_t savedState;    // state to return to when a user override is undone
};
static_assert(sizeof(LightSource) == 56, "a light source record is fourteen 32-bit words");

constexpr uint32_t LIGHT_SOURCE_RECORD_SIZE = 56;
// Section lists grow by this many records at a time.
constexpr uint32_t LIGHT_SOURCE_GROWTH = 8192;
constexpr int32_t LIGHT_SOURCE_NO_MIN_Y = 2147483647;
constexpr uint32_t LIGHT_SOURCE_SPARE_INITIAL = 0xFFFFFFFFu;
// Size of the buffer a table text line is formatted into.
constexpr size_t LIGHT_SOURCE_LINE_SIZE = 256;

struct LightSourceList {
    uint32_t count = 0;           // records in use
    TrackedBuffer records;        // capacity = records.size / 56
    uint32_t changeCount = 0;     // bumped atomically by the preview tools; 0 in a section list
    float maxRadius = 0.0f;       // largest radius in the list
    int32_t minY = LIGHT_SOURCE_NO_MIN_Y;  // smallest y in the list
    int32_t maxY = 0;             // largest y in the list
};

// A quarter-pixel position: x + xQuarter / 4, y + yQuarter / 4.
struct LightSourceCentre {
    int32_t x, xQuarter, y, yQuarter;
};

// The table of the filter run: empty when the analysis starts, released at
// the end of the run.
extern LightSourceList LightSourceTable;

inline LightSource* LightSourceRecords(const LightSourceList* list) {
    return static_cast<LightSource*>(list->records.pointer);
}
inline uint32_t LightSourceCapacity(const LightSourceList* list) {
    return static_cast<uint32_t>(list->records.size / LIGHT_SOURCE_RECORD_SIZE);
}

// An empty list (minY = 2147483647) that holds no buffer; whatever the
// record held before is forgotten, not freed.
void InitializeLightSourceList(LightSourceList* list);
// Frees the records and empties the list.
void ReleaseLightSourceList(LightSourceList* list);

// Pixel brightness of a colour triple: the mean of the channels shifted
// right by 2, shifted back left by 2 (unsigned 32-bit arithmetic).
inline uint32_t LightSourceBrightness(uint32_t c0, uint32_t c1, uint32_t c2) {
    return (((c0 >> 2) + (c1 >> 2) + (c2 >> 2)) / 3) << 2;
}

// Centres closer than this (1.5 pixels, squared) are one source.
constexpr float LIGHT_SOURCE_MIN_SEPARATION_SQUARED = 2.25f;
// True when two records overlap: the same state and their quarter-pixel
// centres closer than the larger of the two radii, or than 1.5 pixels.
bool LightSourcesOverlap(const LightSource& a, const LightSource& b);

// A new detection of a section thread. It is dropped when it overlaps a
// source of `table` (earlier passes); when it overlaps records of `list` it
// is not appended, and it replaces the centre, size, brightness and colour of
// those it outgrows when its state is 1. Otherwise it is appended, growing
// the list by 8192 records when full; when the list cannot grow the source is
// dropped and the failure reported. `table` may be null (no earlier pass).
void AddLightSource(const LightSourceList* table, LightSourceList* list, const LightSourceCentre& centre,
                    float radius, float radiusSquared, uint32_t brightness, uint32_t red, uint32_t green,
                    uint32_t blue, int32_t state);

// Moves the records of a finished section list (sorted by y) into `table`,
// keeping one record of a star found in two sections; the table ends sorted
// by y. Called for each section in section order after a pass. A table that
// cannot grow is reported and the section's records are lost.
void MergeSectionList(LightSourceList* table, const LightSourceList* list, const volatile uint8_t* stop);

// Room for `count` more records, so that the merges of a pass need not grow
// the table. 0, or the allocation error code (reported).
int ReserveLightSources(LightSourceList* table, uint32_t count);

// Drops the records whose centre row lies outside top..bottom − 1 and
// recomputes the list's radius and row range.
void KeepLightSourcesInRows(LightSourceList* list, int32_t top, int32_t bottom);

// Rescales centres, radii and the y range by `scale` (4 between the
// quarter-resolution and the full-resolution pass).
void ScaleLightSourceTable(LightSourceList* table, float scale);
// Moves the sources found on a reduced copy of an image (`from`, its image
// rectangle) to the image itself (`to`): each centre goes to the centre of
// the block of pixels its pixel averages, exact to the quarter pixel and
// independent of the rectangles' alignment; radii are multiplied by
// `radiusScale`; the y range follows.
void MapLightSourceTable(LightSourceList* table, const ImageRect& from, const ImageRect& to, float radiusScale);

// The final normalisation after the last pass: each colour is weighted by the
// source's size and brightness, all colours are scaled so that the largest
// channel of a visible source becomes full, brightness is recomputed from
// the colour, and the table is sorted by brightness, brightest first.
// Returns the record count.
uint32_t FinalizeLightSourceTable(LightSourceList* table, const volatile uint8_t* stop);

// Unstable sorts: y ascending; brightness descending (unsigned).
void SortLightSourcesByY(LightSourceList* list);
void SortLightSourcesByBrightness(LightSourceList* list);

// ---- table text, one line at a time, for the light source table dialog ----

// Where the next line comes from.
struct LightSourceTextCursor {
    uint32_t next = 0;  // index of the next record to print
};
// The header "NumberOfLightSources = %d\n\n" when `firstLine` is set (the
// cursor restarts at the first record), otherwise the line of the next record.
// False after the last record or when the line cannot be formatted into the
// LIGHT_SOURCE_LINE_SIZE-character buffer.
bool NextLightSourceTableLine(const LightSourceList* table, bool firstLine, LightSourceTextCursor* cursor,
                              char* buffer);
// The line of one record: "LightSourceTable[%04d] x = %.2f, y = %.2f, Diam =
// %.2f, Bright = %X" followed by " (D)" for a hidden source.
bool FormatLightSourceLine(const LightSource& source, int32_t index, char* buffer, size_t size);

// ---- the preview tools' state changes (each bumps changeCount) ----

// State 0, keeping a non-zero state in savedState.
void HideLightSource(LightSourceList* table, uint32_t index);
// State 2, keeping a state other than 2 in savedState.
void ShowLightSource(LightSourceList* table, uint32_t index);
// Back to savedState.
void RestoreLightSourceState(LightSourceList* table, uint32_t index);
// Atomic increment; returns the new value.
uint32_t IncrementLightSourceChangeCount(LightSourceList* table);
uint32_t GetLightSourceChangeCount(const LightSourceList* table);
