// The light source table and section lists: duplicates, growth, merging,
// rescaling, finalisation, sorting and the table's text lines.
#include "analysis/light_source_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "image/fixed_point.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"

LightSourceList LightSourceTable;

namespace {

bool Stopped(const volatile uint8_t* stop) { return OsFlagIsSet(stop); }

// Conversion toward zero, held to the int32 range (an empty list's minY of
// 2147483647 must survive a rescale).
int32_t TruncToInt32(double value) {
    if (!(value > -2147483648.0)) return value != value ? 0 : INT32_MIN;
    if (value >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(value);
}

// Half-width of the duplicate window around a source: the largest radius in
// play, in whole pixels, plus four.
int32_t WindowFor(float radiusA, float radiusB) {
    return TruncToInt32(std::max(radiusA, radiusB)) + 4;
}

// Grows the buffer to hold `records` records, keeping its contents.
int EnsureCapacity(LightSourceList* list, uint64_t records) {
    if (LightSourceCapacity(list) >= records) return 0;
    return ReallocateBufferPreserveContents(records * LIGHT_SOURCE_RECORD_SIZE, &list->records);
}

void NoteRecord(LightSourceList* list, float radius, int32_t y) {
    if (radius > list->maxRadius) list->maxRadius = radius;
    if (y < list->minY) list->minY = y;
    if (y > list->maxY) list->maxY = y;
}

bool OverlapsEarlierPass(const LightSourceList* table, const LightSource& candidate) {
    if (!table || table->count == 0) return false;
    const int32_t window = WindowFor(table->maxRadius, candidate.radius);
    const LightSource* begin = LightSourceRecords(table);
    const LightSource* end = begin + table->count;
    // The table is in y order during a pass.
    const int64_t low = static_cast<int64_t>(candidate.y) - window;
    const LightSource* g = std::lower_bound(begin, end, low, [](const LightSource& r, int64_t value) {
        return static_cast<int64_t>(r.y) < value;
    });
    for (; g != end; ++g) {
        const int64_t dy = static_cast<int64_t>(g->y) - candidate.y;
        if (dy > window) break;
        const int64_t dx = static_cast<int64_t>(g->x) - candidate.x;
        if (dy < -window || dx > window || dx < -window) continue;
        if (LightSourcesOverlap(*g, candidate)) return true;
    }
    return false;
}

// Marks the section records the candidate overlaps; outgrown ones take its
// measurements when it is shown automatically. A candidate that outgrows
// several records replaces the first of them and the others are dropped, so
// that one star never stays in the list twice. True when any overlapped.
bool MatchSectionRecords(LightSourceList* list, const LightSource& candidate) {
    if (list->count == 0) return false;
    const int32_t window = WindowFor(list->maxRadius, candidate.radius);
    LightSource* records = LightSourceRecords(list);
    const int64_t low = static_cast<int64_t>(candidate.y) - window;
    // Records are in the order they were found, which is nearly, not
    // strictly, y order: walk to the first one inside the window.
    uint32_t first = 0;
    while (first < list->count && static_cast<int64_t>(records[first].y) < low) ++first;
    bool matched = false, replaced = false;
    uint32_t kept = first;
    for (uint32_t j = first; j < list->count; ++j) {
        LightSource& g = records[j];
        const int64_t dy = static_cast<int64_t>(g.y) - candidate.y;
        const int64_t dx = static_cast<int64_t>(g.x) - candidate.x;
        bool drop = false;
        if (dy <= window && dy >= -window && dx <= window && dx >= -window && LightSourcesOverlap(g, candidate)) {
            matched = true;
            if (candidate.state == LIGHT_SOURCE_AUTO && candidate.radiusSquared > g.radiusSquared) {
                if (replaced) {
                    drop = true;
                } else {
                    g.x = candidate.x;
                    g.xQuarter = candidate.xQuarter;
                    g.y = candidate.y;
                    g.yQuarter = candidate.yQuarter;
                    g.radius = candidate.radius;
                    g.radiusSquared = candidate.radiusSquared;
                    g.brightness = candidate.brightness;
                    g.red = candidate.red;
                    g.green = candidate.green;
                    g.blue = candidate.blue;
                    NoteRecord(list, candidate.radius, candidate.y);
                    replaced = true;
                }
            }
        }
        if (!drop) records[kept++] = records[j];
    }
    list->count = kept;
    return matched;
}

}  // namespace

void InitializeLightSourceList(LightSourceList* list) {
    list->count = 0;
    list->records = TrackedBuffer();
    list->changeCount = 0;
    list->maxRadius = 0.0f;
    list->minY = LIGHT_SOURCE_NO_MIN_Y;
    list->maxY = 0;
}

void ReleaseLightSourceList(LightSourceList* list) {
    if (list->records.pointer || list->records.size) DeallocateBuffer(&list->records);
    InitializeLightSourceList(list);
}

bool LightSourcesOverlap(const LightSource& a, const LightSource& b) {
    if (a.state != b.state) return false;
    const float dx = static_cast<float>((a.x - b.x) * 4 + a.xQuarter - b.xQuarter) / 4.0f;
    const float dy = static_cast<float>((a.y - b.y) * 4 + a.yQuarter - b.yQuarter) / 4.0f;
    const float distanceSquared = dx * dx + dy * dy;
    // Two centres closer than a pixel and a half are one source whatever the
    // radii: faint sources half a pixel across were found twice, a pixel apart.
    return distanceSquared < std::max({a.radiusSquared, b.radiusSquared, LIGHT_SOURCE_MIN_SEPARATION_SQUARED});
}

void AddLightSource(const LightSourceList* table, LightSourceList* list, const LightSourceCentre& centre,
                    float radius, float radiusSquared, uint32_t brightness, uint32_t red, uint32_t green,
                    uint32_t blue, int32_t state) {
    LightSource candidate;
    candidate.x = centre.x;
    candidate.xQuarter = centre.xQuarter;
    candidate.y = centre.y;
    candidate.yQuarter = centre.yQuarter;
    candidate.radius = radius;
    candidate.radiusSquared = radiusSquared;
    candidate.brightness = brightness;
    candidate.red = red;
    candidate.green = green;
    candidate.blue = blue;
    candidate.intensity = UNIT_ONE;
    candidate.spare = LIGHT_SOURCE_SPARE_INITIAL;
    candidate.state = state;
    candidate.savedState = LIGHT_SOURCE_AUTO;

    // Already found by an earlier pass: the earlier measurement stands.
    if (OverlapsEarlierPass(table, candidate)) return;
    if (MatchSectionRecords(list, candidate)) return;

    if (list->count >= LightSourceCapacity(list)) {
        // Half again, at least LIGHT_SOURCE_GROWTH records.
        const uint64_t capacity = LightSourceCapacity(list);
        const uint64_t grown = capacity + (capacity / 2 > LIGHT_SOURCE_GROWTH ? capacity / 2 : LIGHT_SOURCE_GROWTH);
        if (ReallocateBufferPreserveContents(grown * LIGHT_SOURCE_RECORD_SIZE, &list->records) != 0) {
            ReportUnexpected(__LINE__,
                             "AddLightSource() - Could not grow the section list to %llu light sources; "
                             "the source at x = %d, y = %d is dropped.",
                             static_cast<unsigned long long>(grown), centre.x, centre.y);
            // A table short of sources would draw a different picture without
            // saying so: the run ends for want of memory instead.
            SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
            return;
        }
    }
    LightSourceRecords(list)[list->count] = candidate;
    NoteRecord(list, radius, centre.y);
    ++list->count;
}

void MergeSectionList(LightSourceList* table, const LightSourceList* list, const volatile uint8_t* stop) {
    if (list->count == 0 || Stopped(stop)) return;
    const uint64_t needed = static_cast<uint64_t>(table->count) + list->count;
    if (LightSourceCapacity(table) < needed &&
        ReallocateBufferPreserveContents(needed * LIGHT_SOURCE_RECORD_SIZE, &table->records) != 0) {
        ReportUnexpected(__LINE__, "Allocation Failed:  Requested %u bytes.",
                         static_cast<uint32_t>(needed * LIGHT_SOURCE_RECORD_SIZE));
        // A section's sources left out would be a silently different picture.
        SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
        return;
    }
    const LightSource* incoming = LightSourceRecords(list);

    if (table->count == 0) {
        std::memcpy(table->records.pointer, incoming, static_cast<size_t>(list->count) * LIGHT_SOURCE_RECORD_SIZE);
        table->count = list->count;
        table->changeCount = list->changeCount;
        table->maxRadius = list->maxRadius;
        table->minY = list->minY;
        table->maxY = list->maxY;
        return;
    }

    const float maxRadius = std::max(table->maxRadius, list->maxRadius);
    const int32_t window = TruncToInt32(maxRadius) + 4;
    table->maxRadius = maxRadius;
    const int64_t low = static_cast<int64_t>(list->minY) - window;
    const int64_t high = static_cast<int64_t>(table->maxY) + window;
    table->minY = std::min(table->minY, list->minY);
    table->maxY = std::max(table->maxY, list->maxY);

    LightSource* records = LightSourceRecords(table);
    // Only table records from the last one above the list's window onwards
    // can meet a record of the list.
    uint32_t start = 0;
    for (uint32_t i = table->count; i > 0; --i) {
        if (static_cast<int64_t>(records[i - 1].y) < low) {
            start = i;
            break;
        }
    }
    const uint32_t compared = table->count;  // records appended below are not compared

    uint32_t e = 0;
    for (; e < list->count && static_cast<int64_t>(incoming[e].y) <= high; ++e) {
        if (Stopped(stop)) return;
        const LightSource& source = incoming[e];
        bool matched = false;
        for (uint32_t j = start; j < compared; ++j) {
            LightSource& g = records[j];
            const int64_t dx = static_cast<int64_t>(source.x) - g.x;
            if (dx > window || dx < -window || g.state != source.state) continue;
            if (!LightSourcesOverlap(source, g)) continue;
            // The same star seen from both sides of a section boundary: keep
            // the larger measurement (the table's on a tie).
            if (source.radiusSquared > g.radiusSquared) g = source;
            matched = true;
            break;
        }
        if (!matched) records[table->count++] = source;
    }
    if (Stopped(stop)) return;
    // Below the table's reach: nothing to compare with.
    for (; e < list->count; ++e) records[table->count++] = incoming[e];
    if (Stopped(stop)) return;
    SortLightSourcesByY(table);
}

int ReserveLightSources(LightSourceList* table, uint32_t count) {
    const int result = EnsureCapacity(table, static_cast<uint64_t>(table->count) + count);
    if (result != 0)
        ReportUnexpected(__LINE__, "Allocation Failed:  Requested = %u light sources (%u bytes).", count,
                         static_cast<uint32_t>(static_cast<uint64_t>(count) * LIGHT_SOURCE_RECORD_SIZE));
    return result;
}

void KeepLightSourcesInRows(LightSourceList* list, int32_t top, int32_t bottom) {
    LightSource* records = LightSourceRecords(list);
    uint32_t kept = 0;
    list->maxRadius = 0.0f;
    list->minY = LIGHT_SOURCE_NO_MIN_Y;
    list->maxY = 0;
    for (uint32_t i = 0; i < list->count; ++i) {
        if (records[i].y < top || records[i].y >= bottom) continue;
        records[kept++] = records[i];
        NoteRecord(list, records[i].radius, records[i].y);
    }
    list->count = kept;
}

void ScaleLightSourceTable(LightSourceList* table, float scale) {
    LightSource* records = LightSourceRecords(table);
    for (uint32_t i = 0; i < table->count; ++i) {
        LightSource& r = records[i];
        r.radius = r.radius * scale;
        r.radiusSquared = r.radius * r.radius;
        const int32_t qx = TruncToInt32(static_cast<float>(r.x * 4 + r.xQuarter) * scale + 0.5);
        const int32_t qy = TruncToInt32(static_cast<float>(r.y * 4 + r.yQuarter) * scale + 0.5);
        r.x = qx / 4;
        r.xQuarter = qx % 4;
        r.y = qy / 4;
        r.yQuarter = qy % 4;
    }
    table->maxRadius = table->maxRadius * scale;
    table->minY = TruncToInt32(static_cast<float>(table->minY) * scale);
    table->maxY = TruncToInt32(static_cast<float>(table->maxY) * scale) + 1;
}

void MapLightSourceTable(LightSourceList* table, const ImageRect& from, const ImageRect& to, float radiusScale) {
    const double fromWidth = from.right - from.left, fromHeight = from.bottom - from.top;
    if (!(fromWidth > 0) || !(fromHeight > 0)) return;
    // Pixel centres map to pixel centres: a pixel of the reduced image stands
    // for the block of full-resolution pixels it averages, whose centre lies
    // half a block in, whatever the rectangles' alignment.
    const double sx = (to.right - to.left) / fromWidth, sy = (to.bottom - to.top) / fromHeight;
    auto map = [](int32_t integer, int32_t quarter, int32_t fromOrigin, int32_t toOrigin, double s, int32_t* outInteger,
                  int32_t* outQuarter) {
        const double at = integer + quarter / 4.0;
        const double mapped = toOrigin + (at - fromOrigin + 0.5) * s - 0.5;
        const double q = std::floor(mapped * 4.0 + 0.5);
        const int32_t quarters = TruncToInt32(q);
        *outInteger = static_cast<int32_t>(std::floor(quarters / 4.0));
        *outQuarter = quarters - *outInteger * 4;
    };
    LightSource* records = LightSourceRecords(table);
    for (uint32_t i = 0; i < table->count; ++i) {
        LightSource& r = records[i];
        r.radius = r.radius * radiusScale;
        r.radiusSquared = r.radius * r.radius;
        map(r.x, r.xQuarter, from.left, to.left, sx, &r.x, &r.xQuarter);
        map(r.y, r.yQuarter, from.top, to.top, sy, &r.y, &r.yQuarter);
    }
    table->maxRadius = table->maxRadius * radiusScale;
    if (table->count == 0) {
        table->minY = LIGHT_SOURCE_NO_MIN_Y;
        table->maxY = 0;
        return;
    }
    table->minY = TruncToInt32(std::floor(to.top + (table->minY - from.top) * sy));
    table->maxY = TruncToInt32(std::floor(to.top + (table->maxY - from.top + 1) * sy));
}

namespace {
// A source's colour channel weighted by its size (diameter over 256, to the
// power 1.4) and its brightness as a fraction of full scale.
struct WeightedColour {
    uint64_t channel[3];
};

WeightedColour WeighLightSource(const LightSource& r) {
    const float size = powf(2.0f * r.radius / 256.0f, 1.4f);
    const double w = static_cast<double>(size) * (r.brightness / 16777215.0) * 4294967296.0;
    const uint64_t weight = w > 0.0 ? static_cast<uint64_t>(std::nearbyint(w)) : 0;
    const uint32_t channels[3] = {r.red, r.green, r.blue};
    WeightedColour c;
    for (int k = 0; k < 3; k++)
        c.channel[k] = static_cast<uint64_t>((static_cast<unsigned __int128>(channels[k]) * weight) >> 32);
    return c;
}
}  // namespace

uint32_t FinalizeLightSourceTable(LightSourceList* table, const volatile uint8_t* stop) {
    LightSource* records = LightSourceRecords(table);
    const uint32_t count = table->count;

    // Sources wider than 256 pixels weigh more than 1.0: the weighted colours
    // are kept in 64 bits until the largest visible one is known, so that a
    // big bright source cannot wrap to a faint one. Only their ratios matter.
    // The weights are computed twice rather than stored, so that finishing the
    // table needs no memory and cannot fail.
    uint64_t largest = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (Stopped(stop)) return count;
        if (records[i].state == LIGHT_SOURCE_HIDDEN) continue;
        const WeightedColour c = WeighLightSource(records[i]);
        for (int k = 0; k < 3; k++) largest = std::max(largest, c.channel[k]);
    }

    // The largest channel of a visible source becomes full scale.
    for (uint32_t i = 0; i < count; ++i) {
        if (Stopped(stop)) return count;
        LightSource& r = records[i];
        const WeightedColour c = WeighLightSource(r);
        uint32_t* channels[3] = {&r.red, &r.green, &r.blue};
        for (int k = 0; k < 3; k++) {
            if (largest == 0) {
                *channels[k] = UNIT_ONE;
            } else {
                const unsigned __int128 scaled = (static_cast<unsigned __int128>(c.channel[k]) << 32) / largest;
                *channels[k] = scaled < UNIT_ONE ? static_cast<uint32_t>(scaled) : UNIT_ONE;
            }
        }
        r.brightness = LightSourceBrightness(r.red, r.green, r.blue);
    }
    if (Stopped(stop)) return count;
    SortLightSourcesByBrightness(table);
    return count;
}

void SortLightSourcesByY(LightSourceList* list) {
    LightSource* records = LightSourceRecords(list);
    if (!records || list->count < 2) return;
    std::sort(records, records + list->count, [](const LightSource& a, const LightSource& b) { return a.y < b.y; });
}

void SortLightSourcesByBrightness(LightSourceList* list) {
    LightSource* records = LightSourceRecords(list);
    if (!records || list->count < 2) return;
    std::sort(records, records + list->count,
              [](const LightSource& a, const LightSource& b) { return a.brightness > b.brightness; });
}

bool FormatLightSourceLine(const LightSource& source, int32_t index, char* buffer, size_t size) {
    const double x = source.x + source.xQuarter / 4.0;
    const double y = source.y + source.yQuarter / 4.0;
    const double diameter = 2.0 * std::sqrt(static_cast<double>(source.radiusSquared));
    const int written =
        std::snprintf(buffer, size, "LightSourceTable[%04d] x = %.2f, y = %.2f, Diam = %.2f, Bright = %X%s", index, x,
                      y, diameter, source.brightness, source.state == LIGHT_SOURCE_HIDDEN ? " (D)" : "");
    return written >= 0 && static_cast<size_t>(written) < size;
}

bool NextLightSourceTableLine(const LightSourceList* table, bool firstLine, LightSourceTextCursor* cursor,
                              char* buffer) {
    if (firstLine) {
        cursor->next = 0;
        const int written = std::snprintf(buffer, LIGHT_SOURCE_LINE_SIZE, "NumberOfLightSources = %d\n\n",
                                          static_cast<int>(table->count));
        return written >= 0 && static_cast<size_t>(written) < LIGHT_SOURCE_LINE_SIZE;
    }
    if (cursor->next >= table->count) return false;
    const uint32_t index = cursor->next++;
    return FormatLightSourceLine(LightSourceRecords(table)[index], static_cast<int32_t>(index), buffer,
                                 LIGHT_SOURCE_LINE_SIZE);
}

void HideLightSource(LightSourceList* table, uint32_t index) {
    if (index >= table->count) return;
    LightSource& r = LightSourceRecords(table)[index];
    if (r.state != LIGHT_SOURCE_HIDDEN) r.savedState = r.state;
    r.state = LIGHT_SOURCE_HIDDEN;
    IncrementLightSourceChangeCount(table);
}

void ShowLightSource(LightSourceList* table, uint32_t index) {
    if (index >= table->count) return;
    LightSource& r = LightSourceRecords(table)[index];
    if (r.state != LIGHT_SOURCE_SHOWN) r.savedState = r.state;
    r.state = LIGHT_SOURCE_SHOWN;
    IncrementLightSourceChangeCount(table);
}

void RestoreLightSourceState(LightSourceList* table, uint32_t index) {
    if (index >= table->count) return;
    LightSource& r = LightSourceRecords(table)[index];
    r.state = r.savedState;
    IncrementLightSourceChangeCount(table);
}

uint32_t IncrementLightSourceChangeCount(LightSourceList* table) {
    return __atomic_add_fetch(&table->changeCount, 1u, __ATOMIC_SEQ_CST);
}

uint32_t GetLightSourceChangeCount(const LightSourceList* table) {
    return __atomic_load_n(&table->changeCount, __ATOMIC_SEQ_CST);
}
