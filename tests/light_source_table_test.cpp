// The light source table: duplicates, growth, merging, rescaling,
// finalisation, sort orders, the table text lines and the tools' edits.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "analysis/light_source_edits.h"
#include "analysis/light_source_table.h"
#include "image/fixed_point.h"
#include "image/tracked_buffer.h"
#include "support/debug_log.h"
#include "tests/test_support.h"

namespace {

// A list released at the end of the test.
struct ScopedList {
    LightSourceList list;
    ScopedList() { InitializeLightSourceList(&list); }
    ~ScopedList() { ReleaseLightSourceList(&list); }
    LightSourceList* operator->() { return &list; }
    LightSourceList* get() { return &list; }
    const LightSource& operator[](uint32_t i) const { return LightSourceRecords(&list)[i]; }
    LightSource& operator[](uint32_t i) { return LightSourceRecords(&list)[i]; }
};

struct AllocationLimit {
    explicit AllocationLimit(uint64_t size) { SetBufferAllocationLimitForTesting(size); }
    ~AllocationLimit() { SetBufferAllocationLimitForTesting(0); }
};

struct MultiplyMode {
    bool saved;
    explicit MultiplyMode(bool precise) : saved(PreciseMultiply) { PreciseMultiply = precise; }
    ~MultiplyMode() { PreciseMultiply = saved; }
};

// Adds a source with the colour (1, 2, 3) and brightness 2.
void Add(LightSourceList* list, int32_t x, int32_t xq, int32_t y, int32_t yq, float radius, int32_t state = 1,
         const LightSourceList* table = nullptr, uint32_t brightness = 2) {
    AddLightSource(table, list, LightSourceCentre{x, xq, y, yq}, radius, radius * radius, brightness, 1, 2, 3, state);
}

LightSource Record(int32_t x, int32_t y, float radius, int32_t state = 1, uint32_t brightness = 0) {
    LightSource r = {};
    r.x = x;
    r.y = y;
    r.radius = radius;
    r.radiusSquared = radius * radius;
    r.brightness = brightness;
    r.intensity = UNIT_ONE;
    r.spare = LIGHT_SOURCE_SPARE_INITIAL;
    r.state = state;
    r.savedState = 1;
    return r;
}

// Fills a list directly (as a finished section thread leaves it).
void Fill(LightSourceList* list, const std::vector<LightSource>& records) {
    ASSERT_EQ(0, ReallocateBuffer(records.size() * LIGHT_SOURCE_RECORD_SIZE + LIGHT_SOURCE_RECORD_SIZE,
                                  &list->records));
    list->count = 0;
    for (const LightSource& r : records) {
        LightSourceRecords(list)[list->count++] = r;
        if (r.radius > list->maxRadius) list->maxRadius = r.radius;
        if (r.y < list->minY) list->minY = r.y;
        if (r.y > list->maxY) list->maxY = r.y;
    }
}

std::vector<int32_t> Rows(const LightSourceList* list) {
    std::vector<int32_t> rows;
    for (uint32_t i = 0; i < list->count; ++i) rows.push_back(LightSourceRecords(list)[i].y);
    return rows;
}

}  // namespace

TEST(LightSourceRecord, IsFourteenWordsInTheStatedOrder) {
    EXPECT_EQ(56u, sizeof(LightSource));
    EXPECT_EQ(0u, offsetof(LightSource, x));
    EXPECT_EQ(4u, offsetof(LightSource, xQuarter));
    EXPECT_EQ(8u, offsetof(LightSource, y));
    EXPECT_EQ(12u, offsetof(LightSource, yQuarter));
    EXPECT_EQ(16u, offsetof(LightSource, radius));
    EXPECT_EQ(20u, offsetof(LightSource, radiusSquared));
    EXPECT_EQ(24u, offsetof(LightSource, brightness));
    EXPECT_EQ(28u, offsetof(LightSource, red));
    EXPECT_EQ(40u, offsetof(LightSource, intensity));
    EXPECT_EQ(44u, offsetof(LightSource, spare));
    EXPECT_EQ(48u, offsetof(LightSource, state));
    EXPECT_EQ(52u, offsetof(LightSource, savedState));
}

TEST(LightSourceList, NewListIsEmptyWithNoSmallestRow) {
    ScopedList list;
    EXPECT_EQ(0u, list->count);
    EXPECT_EQ(0u, LightSourceCapacity(list.get()));
    EXPECT_EQ(2147483647, list->minY);
    EXPECT_EQ(0, list->maxY);
    EXPECT_EQ(0.0f, list->maxRadius);
}

TEST(AddLightSource, AppendsANewSourceWithItsInitialWords) {
    ScopedList list;
    AddLightSource(nullptr, list.get(), LightSourceCentre{10, 1, 20, 3}, 2.5f, 6.25f, 0x123456, 7, 8, 9, 0);
    ASSERT_EQ(1u, list->count);
    EXPECT_EQ(LIGHT_SOURCE_GROWTH, LightSourceCapacity(list.get()));
    const LightSource& r = list[0];
    EXPECT_EQ(10, r.x);
    EXPECT_EQ(1, r.xQuarter);
    EXPECT_EQ(20, r.y);
    EXPECT_EQ(3, r.yQuarter);
    EXPECT_EQ(2.5f, r.radius);
    EXPECT_EQ(6.25f, r.radiusSquared);
    EXPECT_EQ(0x123456u, r.brightness);
    EXPECT_EQ(7u, r.red);
    EXPECT_EQ(8u, r.green);
    EXPECT_EQ(9u, r.blue);
    EXPECT_EQ(0xFFFFFFFEu, r.intensity);
    EXPECT_EQ(0xFFFFFFFFu, r.spare);
    EXPECT_EQ(0, r.state);
    EXPECT_EQ(1, r.savedState);
    EXPECT_EQ(2.5f, list->maxRadius);
    EXPECT_EQ(20, list->minY);
    EXPECT_EQ(20, list->maxY);
    EXPECT_EQ(0u, list->changeCount);
}

TEST(AddLightSource, OverlapUsesQuarterPixelCentresAndIsStrict) {
    ScopedList list;
    Add(list.get(), 10, 0, 10, 0, 1.75f);
    // 1.75 pixels to the right: exactly on the radius, no overlap.
    Add(list.get(), 11, 3, 10, 0, 1.0f);
    EXPECT_EQ(2u, list->count);
    // 1.5 pixels down from the first: inside its radius.
    Add(list.get(), 10, 0, 11, 2, 1.0f);
    EXPECT_EQ(2u, list->count);

    LightSource a = Record(0, 0, 1.0f), b = Record(0, 0, 1.0f);
    b.xQuarter = 3;  // 0.75 apart
    EXPECT_TRUE(LightSourcesOverlap(a, b));
    b.state = 0;
    EXPECT_FALSE(LightSourcesOverlap(a, b));

    // Faint sources half a pixel across, found a pixel apart: one source.
    ScopedList faint;
    Add(faint.get(), 40, 0, 40, 0, 0.25f);
    Add(faint.get(), 41, 0, 40, 0, 0.5f);   // 1 pixel away
    Add(faint.get(), 40, 2, 41, 0, 0.25f);  // 1.1 pixels away
    EXPECT_EQ(1u, faint->count);
    EXPECT_EQ(LightSourceRecords(faint.get())[0].x, 41) << "the larger detection's measurement";
    Add(faint.get(), 39, 2, 40, 0, 0.25f);  // 1.5 pixels from it: another source
    EXPECT_EQ(2u, faint->count);
}

TEST(AddLightSource, LargerAutomaticDuplicateTakesOverTheMeasurementButNotTheState) {
    ScopedList list;
    Add(list.get(), 50, 0, 50, 0, 3.0f);
    list[0].intensity = 0x1234;
    list[0].spare = 0x5678;
    list[0].savedState = 2;
    AddLightSource(nullptr, list.get(), LightSourceCentre{51, 2, 49, 1}, 5.0f, 25.0f, 0xABCDEF, 10, 20, 30, 1);
    ASSERT_EQ(1u, list->count);
    const LightSource& r = list[0];
    EXPECT_EQ(51, r.x);
    EXPECT_EQ(2, r.xQuarter);
    EXPECT_EQ(49, r.y);
    EXPECT_EQ(1, r.yQuarter);
    EXPECT_EQ(5.0f, r.radius);
    EXPECT_EQ(25.0f, r.radiusSquared);
    EXPECT_EQ(0xABCDEFu, r.brightness);
    EXPECT_EQ(10u, r.red);
    EXPECT_EQ(20u, r.green);
    EXPECT_EQ(30u, r.blue);
    EXPECT_EQ(0x1234u, r.intensity);
    EXPECT_EQ(0x5678u, r.spare);
    EXPECT_EQ(1, r.state);
    EXPECT_EQ(2, r.savedState);
    EXPECT_EQ(5.0f, list->maxRadius);
    EXPECT_EQ(49, list->minY);
    EXPECT_EQ(50, list->maxY);
}

TEST(AddLightSource, SmallerOrEqualDuplicateIsDropped) {
    ScopedList list;
    Add(list.get(), 50, 0, 50, 0, 3.0f);
    Add(list.get(), 51, 0, 50, 0, 2.0f);
    Add(list.get(), 49, 0, 50, 0, 3.0f);
    ASSERT_EQ(1u, list->count);
    EXPECT_EQ(50, list[0].x);
    EXPECT_EQ(3.0f, list[0].radius);
}

TEST(AddLightSource, HiddenDuplicateNeverTakesOver) {
    ScopedList list;
    Add(list.get(), 50, 0, 50, 0, 2.0f, 0);
    Add(list.get(), 51, 0, 50, 0, 6.0f, 0);
    ASSERT_EQ(1u, list->count);
    EXPECT_EQ(50, list[0].x);
    EXPECT_EQ(2.0f, list[0].radius);
    EXPECT_EQ(2.0f, list->maxRadius);
}

TEST(AddLightSource, DetectionsOfDifferentStatesBothStay) {
    ScopedList list;
    Add(list.get(), 50, 0, 50, 0, 4.0f, 1);
    Add(list.get(), 50, 1, 50, 1, 4.0f, 0);
    EXPECT_EQ(2u, list->count);
}

TEST(AddLightSource, ALargerDetectionOverTwoRecordsLeavesOneRecord) {
    ScopedList list;
    Add(list.get(), 40, 0, 40, 0, 2.0f);
    Add(list.get(), 45, 0, 40, 0, 2.0f);
    Add(list.get(), 80, 0, 40, 0, 2.0f);  // far away: untouched
    EXPECT_EQ(3u, list->count);
    // Between the first two and larger than both: it overlaps each of them,
    // and one star must not stay in the list twice.
    Add(list.get(), 42, 2, 41, 0, 4.0f);
    ASSERT_EQ(2u, list->count);
    EXPECT_EQ(42, list[0].x);
    EXPECT_EQ(2, list[0].xQuarter);
    EXPECT_EQ(41, list[0].y);
    EXPECT_EQ(4.0f, list[0].radius);
    EXPECT_EQ(80, list[1].x);
    EXPECT_EQ(2.0f, list[1].radius);
}

TEST(AddLightSource, SourceInsideAnEarlierPassIsDroppedWhateverItsSize) {
    ScopedList table, list;
    Fill(table.get(), {Record(100, 100, 3.0f, 1), Record(300, 300, 3.0f, 0)});
    Add(list.get(), 101, 0, 101, 0, 20.0f, 1, table.get());
    EXPECT_EQ(0u, list->count);
    // A different state is another source.
    Add(list.get(), 100, 1, 100, 0, 1.0f, 0, table.get());
    EXPECT_EQ(1u, list->count);
    Add(list.get(), 300, 0, 301, 0, 1.0f, 1, table.get());
    EXPECT_EQ(2u, list->count);
    Add(list.get(), 300, 2, 301, 0, 1.0f, 0, table.get());
    EXPECT_EQ(2u, list->count);
    // Away from every earlier source.
    Add(list.get(), 200, 0, 200, 0, 2.0f, 1, table.get());
    EXPECT_EQ(3u, list->count);
}

TEST(AddLightSource, GrowsByWholeBlocksKeepingTheRecords) {
    ScopedList list;
    const uint32_t n = LIGHT_SOURCE_GROWTH + 1;
    for (uint32_t i = 0; i < n; ++i) {
        Add(list.get(), static_cast<int32_t>(i % 128) * 10, 0, static_cast<int32_t>(i / 128) * 10, 0, 1.0f, 1,
            nullptr, i);
        if (i == LIGHT_SOURCE_GROWTH - 1) {
            EXPECT_EQ(LIGHT_SOURCE_GROWTH, LightSourceCapacity(list.get()));
        }
    }
    ASSERT_EQ(n, list->count);
    EXPECT_EQ(2 * LIGHT_SOURCE_GROWTH, LightSourceCapacity(list.get()));
    EXPECT_EQ(2 * LIGHT_SOURCE_GROWTH * 56u, list->records.size);
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(i, list[i].brightness);
        ASSERT_EQ(static_cast<int32_t>(i % 128) * 10, list[i].x);
    }
    EXPECT_EQ(0, list->minY);
    EXPECT_EQ(640, list->maxY);
}

TEST(AddLightSource, ListThatCannotGrowDropsTheSourceWithAReport) {
    ScopedList list;
    for (uint32_t i = 0; i < LIGHT_SOURCE_GROWTH; ++i)
        Add(list.get(), static_cast<int32_t>(i % 128) * 10, 0, static_cast<int32_t>(i / 128) * 10, 0, 1.0f);
    ASSERT_EQ(LIGHT_SOURCE_GROWTH, list->count);
    CapturedReports reports;
    {
        AllocationLimit limit(2 * LIGHT_SOURCE_GROWTH * 56u);
        Add(list.get(), 5000, 0, 5000, 0, 1.0f);
    }
    EXPECT_EQ(LIGHT_SOURCE_GROWTH, list->count);
    EXPECT_EQ(LIGHT_SOURCE_GROWTH, LightSourceCapacity(list.get()));
    EXPECT_EQ(1270, list[LIGHT_SOURCE_GROWTH - 1].x);
    EXPECT_EQ(630, list[LIGHT_SOURCE_GROWTH - 1].y);
    EXPECT_TRUE(reports.Contains("AddLightSource() - Could not grow the section list to 16384 light sources"));
    // The list is still usable once memory is back.
    Add(list.get(), 5000, 0, 5000, 0, 1.0f);
    EXPECT_EQ(LIGHT_SOURCE_GROWTH + 1, list->count);
}

TEST(MergeSectionList, EmptySectionMergesNothing) {
    ScopedList table, list;
    Fill(table.get(), {Record(1, 1, 1.0f)});
    MergeSectionList(table.get(), list.get(), nullptr);
    EXPECT_EQ(1u, table->count);
}

TEST(MergeSectionList, FirstSectionIsCopiedWhole) {
    ScopedList table, list;
    Fill(list.get(), {Record(5, 10, 2.0f), Record(9, 12, 7.0f), Record(2, 30, 1.0f, 0)});
    list->changeCount = 3;
    MergeSectionList(table.get(), list.get(), nullptr);
    ASSERT_EQ(3u, table->count);
    EXPECT_EQ(3u, table->changeCount);
    EXPECT_EQ((std::vector<int32_t>{10, 12, 30}), Rows(table.get()));
    EXPECT_EQ(7.0f, table->maxRadius);
    EXPECT_EQ(10, table->minY);
    EXPECT_EQ(30, table->maxY);
    EXPECT_EQ(9, table[1].x);
}

TEST(MergeSectionList, StarSplitByABoundaryKeepsTheLargerRecord) {
    ScopedList table, lower;
    Fill(table.get(), {Record(10, 20, 2.0f), Record(100, 99, 4.0f)});
    LightSource larger = Record(101, 101, 5.0f);
    larger.spare = 0x77;
    larger.intensity = 0x1111;
    Fill(lower.get(), {larger, Record(50, 140, 2.0f)});
    MergeSectionList(table.get(), lower.get(), nullptr);
    ASSERT_EQ(3u, table->count);
    EXPECT_EQ((std::vector<int32_t>{20, 101, 140}), Rows(table.get()));
    // All 56 bytes of the table record were replaced.
    EXPECT_EQ(101, table[1].x);
    EXPECT_EQ(5.0f, table[1].radius);
    EXPECT_EQ(0x77u, table[1].spare);
    EXPECT_EQ(0x1111u, table[1].intensity);
    EXPECT_EQ(5.0f, table->maxRadius);
    EXPECT_EQ(20, table->minY);
    EXPECT_EQ(140, table->maxY);
}

TEST(MergeSectionList, OnEqualRadiiTheTableRecordStays) {
    ScopedList table, lower;
    Fill(table.get(), {Record(100, 99, 4.0f)});
    LightSource same = Record(101, 101, 4.0f);
    same.spare = 0x77;
    Fill(lower.get(), {same});
    MergeSectionList(table.get(), lower.get(), nullptr);
    ASSERT_EQ(1u, table->count);
    EXPECT_EQ(100, table[0].x);
    EXPECT_EQ(0xFFFFFFFFu, table[0].spare);
}

TEST(MergeSectionList, OverlappingRecordsOfDifferentStatesBothStay) {
    ScopedList table, lower;
    Fill(table.get(), {Record(100, 99, 4.0f, 0)});
    Fill(lower.get(), {Record(100, 100, 4.0f, 1)});
    MergeSectionList(table.get(), lower.get(), nullptr);
    EXPECT_EQ(2u, table->count);
}

TEST(MergeSectionList, RecordsAppendedByTheMergeAreNotCompared) {
    ScopedList table, lower;
    Fill(table.get(), {Record(10, 10, 2.0f)});
    // Two overlapping records of the section, neither meeting the table's.
    Fill(lower.get(), {Record(200, 11, 3.0f), Record(201, 12, 3.0f)});
    MergeSectionList(table.get(), lower.get(), nullptr);
    EXPECT_EQ(3u, table->count);
}

TEST(MergeSectionList, TableRecordsAboveTheWindowAreNotCompared) {
    // A record whose radius squared reaches far: only its row decides
    // whether it is compared. The window is trunc(2) + 4 = 6 rows.
    LightSource far = Record(100, 100, 2.0f);
    far.radiusSquared = 10000.0f;
    LightSource other = Record(500, 200, 2.0f);
    {
        // The section starts 7 rows below it: the scan starts after it.
        ScopedList table, lower;
        Fill(table.get(), {far, other});
        Fill(lower.get(), {Record(100, 107, 2.0f)});
        MergeSectionList(table.get(), lower.get(), nullptr);
        EXPECT_EQ(3u, table->count);
    }
    {
        // 6 rows below: compared, and the far-reaching record absorbs it.
        ScopedList table, lower;
        Fill(table.get(), {far, other});
        Fill(lower.get(), {Record(100, 106, 2.0f)});
        MergeSectionList(table.get(), lower.get(), nullptr);
        EXPECT_EQ(2u, table->count);
    }
    {
        // Rows below the table's last row plus the window are appended unseen.
        ScopedList table, lower;
        Fill(table.get(), {far});
        Fill(lower.get(), {Record(100, 107, 2.0f)});
        MergeSectionList(table.get(), lower.get(), nullptr);
        EXPECT_EQ(2u, table->count);
    }
}

TEST(MergeSectionList, SectionsMergedInOrderLeaveTheTableSortedByRow) {
    ScopedList table, s0, s1, s2;
    Fill(s0.get(), {Record(10, 5, 2.0f), Record(30, 40, 2.0f), Record(60, 49, 3.0f)});
    Fill(s1.get(), {Record(60, 51, 2.0f), Record(5, 52, 1.0f), Record(90, 70, 2.0f), Record(15, 99, 2.0f)});
    Fill(s2.get(), {Record(15, 101, 3.0f), Record(44, 130, 2.0f), Record(80, 300, 1.0f)});
    MergeSectionList(table.get(), s0.get(), nullptr);
    MergeSectionList(table.get(), s1.get(), nullptr);
    MergeSectionList(table.get(), s2.get(), nullptr);
    // (60, 51) fell to (60, 49); (15, 99) was outgrown by (15, 101).
    EXPECT_EQ((std::vector<int32_t>{5, 40, 49, 52, 70, 101, 130, 300}), Rows(table.get()));
    EXPECT_EQ(3.0f, table[2].radius);
    EXPECT_EQ(3.0f, table[5].radius);
    EXPECT_EQ(5, table->minY);
    EXPECT_EQ(300, table->maxY);
    EXPECT_EQ(3.0f, table->maxRadius);
}

TEST(MergeSectionList, StopFlagMergesNothing) {
    ScopedList table, lower;
    Fill(table.get(), {Record(10, 10, 2.0f)});
    Fill(lower.get(), {Record(10, 50, 2.0f)});
    volatile uint8_t stop = 1;
    MergeSectionList(table.get(), lower.get(), &stop);
    EXPECT_EQ(1u, table->count);
    EXPECT_EQ(10, table->maxY);
}

TEST(MergeSectionList, TableThatCannotGrowLosesTheSectionWithAReport) {
    ScopedList table, lower;
    Fill(table.get(), {Record(10, 10, 2.0f)});  // room for 2 records
    Fill(lower.get(), {Record(10, 50, 2.0f), Record(10, 60, 2.0f), Record(10, 70, 2.0f)});
    CapturedReports reports;
    {
        AllocationLimit limit(4 * 56);
        MergeSectionList(table.get(), lower.get(), nullptr);
    }
    EXPECT_EQ(1u, table->count);
    EXPECT_TRUE(reports.Contains("Allocation Failed:  Requested 224 bytes."));
    EXPECT_TRUE(reports.Contains(DEBUG_CAPTION_UNEXPECTED));
}

TEST(ReserveLightSources, MakesRoomForTheComingRecords) {
    ScopedList table;
    Fill(table.get(), {Record(1, 1, 1.0f), Record(1, 9, 1.0f)});
    EXPECT_EQ(0, ReserveLightSources(table.get(), 100));
    EXPECT_EQ(102u, LightSourceCapacity(table.get()));
    EXPECT_EQ(9, table[1].y);
    // Enough room already: nothing changes.
    EXPECT_EQ(0, ReserveLightSources(table.get(), 50));
    EXPECT_EQ(102u, LightSourceCapacity(table.get()));
}

TEST(ReserveLightSources, FailureIsReportedAndReturned) {
    ScopedList table;
    CapturedReports reports;
    int result;
    {
        AllocationLimit limit(1000);
        result = ReserveLightSources(table.get(), 100000);
    }
    EXPECT_EQ(-108, result);
    EXPECT_TRUE(reports.Contains("Allocation Failed:  Requested = 100000 light sources (5600000 bytes)."));
    EXPECT_EQ(0u, LightSourceCapacity(table.get()));
}

TEST(ScaleLightSourceTable, ByFourMovesQuarterCentresToFullResolution) {
    ScopedList table;
    LightSource a = Record(10, 3, 2.5f);
    a.xQuarter = 1;
    a.yQuarter = 3;
    LightSource b = Record(0, 7, 1.25f);
    b.xQuarter = 3;
    b.yQuarter = 2;
    Fill(table.get(), {a, b});
    ScaleLightSourceTable(table.get(), 4.0f);
    // 10.25 → 41.00, 3.75 → 15.00
    EXPECT_EQ(41, table[0].x);
    EXPECT_EQ(0, table[0].xQuarter);
    EXPECT_EQ(15, table[0].y);
    EXPECT_EQ(0, table[0].yQuarter);
    EXPECT_EQ(10.0f, table[0].radius);
    EXPECT_EQ(100.0f, table[0].radiusSquared);
    EXPECT_EQ(3, table[1].x);
    EXPECT_EQ(0, table[1].xQuarter);
    EXPECT_EQ(30, table[1].y);
    EXPECT_EQ(5.0f, table[1].radius);
    EXPECT_EQ(25.0f, table[1].radiusSquared);
    EXPECT_EQ(10.0f, table->maxRadius);
    EXPECT_EQ(12, table->minY);
    EXPECT_EQ(29, table->maxY);
}

TEST(ScaleLightSourceTable, OtherFactorsRoundToTheNearestQuarter) {
    ScopedList table;
    LightSource a = Record(10, 5, 3.0f);
    a.xQuarter = 1;  // 41 quarters × 0.5 + 0.5 = 21 → 5.25
    a.yQuarter = 3;  // 23 quarters × 0.5 + 0.5 = 12 → 3.00
    Fill(table.get(), {a});
    ScaleLightSourceTable(table.get(), 0.5f);
    EXPECT_EQ(5, table[0].x);
    EXPECT_EQ(1, table[0].xQuarter);
    EXPECT_EQ(3, table[0].y);
    EXPECT_EQ(0, table[0].yQuarter);
    EXPECT_EQ(1.5f, table[0].radius);
    EXPECT_EQ(2.25f, table[0].radiusSquared);
    EXPECT_EQ(2, table->minY);
    EXPECT_EQ(3, table->maxY);
}

TEST(FinalizeLightSourceTable, WeightsNormalisesAndSortsByBrightness) {
    MultiplyMode precise(true);
    ScopedList table;
    // f = (2 × 128 / 256)^1.4 = 1, k = round(8388608 / 16777215 × 2^32) = 0x80000080.
    LightSource a = Record(1, 1, 128.0f, 1, 8388608);
    a.red = 0x800000;
    a.green = 0x400000;
    a.blue = 0x200000;
    // Radius 0: f = 0, the colour vanishes.
    LightSource b = Record(2, 2, 0.0f, 1, 16777215);
    b.red = b.green = b.blue = 0xFFFFFF;
    // Hidden: not part of the largest channel, so it clips at full.
    LightSource c = Record(3, 3, 128.0f, 0, 8388608);
    c.red = c.green = 0xFFFFFF;
    c.blue = 0x100000;
    Fill(table.get(), {b, a, c});
    EXPECT_EQ(3u, FinalizeLightSourceTable(table.get(), nullptr));

    EXPECT_EQ(3, table[0].x);
    EXPECT_EQ(0xFFFFFFFEu, table[0].red);
    EXPECT_EQ(0xFFFFFFFEu, table[0].green);
    EXPECT_EQ(0x20000000u, table[0].blue);
    EXPECT_EQ(0xB5555550u, table[0].brightness);

    EXPECT_EQ(1, table[1].x);
    EXPECT_EQ(0xFFFFFFFEu, table[1].red);
    EXPECT_EQ(0x80000000u, table[1].green);
    EXPECT_EQ(0x40000000u, table[1].blue);
    EXPECT_EQ(0x95555554u, table[1].brightness);

    EXPECT_EQ(2, table[2].x);
    EXPECT_EQ(0u, table[2].red);
    EXPECT_EQ(0u, table[2].brightness);
    // Intensity and states are not touched.
    EXPECT_EQ(0xFFFFFFFEu, table[1].intensity);
    EXPECT_EQ(0, table[0].state);
}

TEST(FinalizeLightSourceTable, SourcesWiderThan256PixelsDoNotWrapToFaintOnes) {
    MultiplyMode precise(true);
    // Bright sources of radius 126, 134 and 300 beside a 19-pixel one: the
    // size weight exceeds 1.0 from radius 128 on and must keep growing.
    for (float big : {126.0f, 134.0f, 300.0f}) {
        ScopedList table;
        LightSource small = Record(10, 10, 19.0f, 1, 0xF00000);
        LightSource large = Record(500, 500, big, 1, 0xFFFFFF);
        small.red = small.green = small.blue = UNIT_ONE;
        large.red = large.green = large.blue = UNIT_ONE;
        Fill(table.get(), {small, large});
        FinalizeLightSourceTable(table.get(), nullptr);
        EXPECT_EQ(big, table[0].radius) << "radius " << big;
        EXPECT_EQ(UNIT_ONE, table[0].red);
        EXPECT_LT(table[1].brightness, table[0].brightness / 10) << "radius " << big;
    }
}

TEST(FinalizeLightSourceTable, OnlyHiddenSourcesGiveFullChannels) {
    MultiplyMode precise(true);
    ScopedList table;
    LightSource a = Record(1, 1, 10.0f, 0, 5000);
    a.red = 100;
    LightSource b = Record(2, 2, 3.0f, 0, 9000);
    Fill(table.get(), {a, b});
    EXPECT_EQ(2u, FinalizeLightSourceTable(table.get(), nullptr));
    for (uint32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(0xFFFFFFFEu, table[i].red);
        EXPECT_EQ(0xFFFFFFFEu, table[i].green);
        EXPECT_EQ(0xFFFFFFFEu, table[i].blue);
        EXPECT_EQ(0xFFFFFFFCu, table[i].brightness);
    }
}

TEST(FinalizeLightSourceTable, StopFlagLeavesTheTableAsItStands) {
    ScopedList table;
    LightSource a = Record(1, 1, 128.0f, 1, 8388608);
    a.red = 0x800000;
    Fill(table.get(), {a});
    volatile uint8_t stop = 1;
    EXPECT_EQ(1u, FinalizeLightSourceTable(table.get(), &stop));
    EXPECT_EQ(0x800000u, table[0].red);
    EXPECT_EQ(8388608u, table[0].brightness);
}

TEST(SortLightSources, ByRowAscending) {
    ScopedList list;
    Fill(list.get(), {Record(0, 30, 1.0f), Record(0, -2, 1.0f), Record(0, 7, 1.0f), Record(0, 30, 1.0f),
                      Record(0, 0, 1.0f)});
    SortLightSourcesByY(list.get());
    EXPECT_EQ((std::vector<int32_t>{-2, 0, 7, 30, 30}), Rows(list.get()));
}

TEST(SortLightSources, ByBrightnessDescendingUnsigned) {
    ScopedList list;
    Fill(list.get(), {Record(0, 0, 1.0f, 1, 5), Record(1, 0, 1.0f, 1, 0x80000000u),
                      Record(2, 0, 1.0f, 1, 0x7FFFFFFFu), Record(3, 0, 1.0f, 1, 0xFFFFFFFCu)});
    SortLightSourcesByBrightness(list.get());
    EXPECT_EQ(0xFFFFFFFCu, list[0].brightness);
    EXPECT_EQ(0x80000000u, list[1].brightness);
    EXPECT_EQ(0x7FFFFFFFu, list[2].brightness);
    EXPECT_EQ(5u, list[3].brightness);
}

TEST(LightSourceTableText, HeaderThenOneLinePerRecordThenNothing) {
    ScopedList table;
    LightSource a = Record(12, 7, 2.5f, 1, 0xABCDEF);
    a.xQuarter = 1;
    a.yQuarter = 3;
    LightSource b = Record(300, 4095, 1.0f, 0, 0xFFFFFFFC);
    b.xQuarter = 2;
    b.radiusSquared = 9.0f;  // Diam comes from the radius squared
    Fill(table.get(), {a, b});

    LightSourceTextCursor cursor;
    char line[LIGHT_SOURCE_LINE_SIZE];
    ASSERT_TRUE(NextLightSourceTableLine(table.get(), true, &cursor, line));
    EXPECT_EQ(std::string("NumberOfLightSources = 2\n\n"), line);
    ASSERT_TRUE(NextLightSourceTableLine(table.get(), false, &cursor, line));
    EXPECT_EQ(std::string("LightSourceTable[0000] x = 12.25, y = 7.75, Diam = 5.00, Bright = ABCDEF"), line);
    ASSERT_TRUE(NextLightSourceTableLine(table.get(), false, &cursor, line));
    EXPECT_EQ(std::string("LightSourceTable[0001] x = 300.50, y = 4095.00, Diam = 6.00, Bright = FFFFFFFC (D)"), line);
    EXPECT_FALSE(NextLightSourceTableLine(table.get(), false, &cursor, line));
    EXPECT_FALSE(NextLightSourceTableLine(table.get(), false, &cursor, line));
    // The first-line flag starts over.
    ASSERT_TRUE(NextLightSourceTableLine(table.get(), true, &cursor, line));
    ASSERT_TRUE(NextLightSourceTableLine(table.get(), false, &cursor, line));
    EXPECT_EQ(0u, std::string(line).find("LightSourceTable[0000] "));
}

TEST(LightSourceTableText, EmptyTableHasOnlyTheHeader) {
    ScopedList table;
    LightSourceTextCursor cursor;
    char line[LIGHT_SOURCE_LINE_SIZE];
    ASSERT_TRUE(NextLightSourceTableLine(table.get(), true, &cursor, line));
    EXPECT_EQ(std::string("NumberOfLightSources = 0\n\n"), line);
    EXPECT_FALSE(NextLightSourceTableLine(table.get(), false, &cursor, line));
}

TEST(LightSourceTableText, LongIndexAndFormattingFailure) {
    LightSource r = Record(-3, 2, 0.5f, 1, 0);
    r.xQuarter = 1;  // -3 + 0.25
    char line[LIGHT_SOURCE_LINE_SIZE];
    ASSERT_TRUE(FormatLightSourceLine(r, 12345, line, sizeof line));
    EXPECT_EQ(std::string("LightSourceTable[12345] x = -2.75, y = 2.00, Diam = 1.00, Bright = 0"), line);
    char tiny[16];
    EXPECT_FALSE(FormatLightSourceLine(r, 0, tiny, sizeof tiny));
}

TEST(LightSourceStates, HideShowAndRestoreBumpTheChangeCount) {
    ScopedList table;
    Fill(table.get(), {Record(0, 0, 1.0f, 1), Record(5, 5, 1.0f, 0)});
    HideLightSource(table.get(), 0);
    EXPECT_EQ(0, table[0].state);
    EXPECT_EQ(1, table[0].savedState);
    ShowLightSource(table.get(), 0);
    EXPECT_EQ(2, table[0].state);
    EXPECT_EQ(0, table[0].savedState);
    RestoreLightSourceState(table.get(), 0);
    EXPECT_EQ(0, table[0].state);
    // Hiding a hidden source keeps what it would return to.
    ShowLightSource(table.get(), 1);
    HideLightSource(table.get(), 1);
    EXPECT_EQ(0, table[1].state);
    EXPECT_EQ(2, table[1].savedState);
    EXPECT_EQ(5u, GetLightSourceChangeCount(table.get()));
    HideLightSource(table.get(), 7);  // no such record
    EXPECT_EQ(5u, GetLightSourceChangeCount(table.get()));
}

namespace {

// A record at a quarter-pixel centre.
LightSource At(int32_t x, int32_t xq, int32_t y, int32_t yq, int32_t state = LIGHT_SOURCE_AUTO) {
    LightSource r = Record(x, y, 1.0f, state);
    r.xQuarter = xq;
    r.yQuarter = yq;
    return r;
}

}  // namespace

// Distances in quarter pixels from the table's quarter centres: a source 10
// and one 13.5 pixels across, one hidden below the first.
TEST(LightSourceEdits, PicksTheNearestSourceTheToolCanChangeWithinTheRadius) {
    ScopedList table;
    Fill(table.get(), {At(10, 0, 10, 0), At(13, 2, 10, 0), At(10, 0, 20, 0, LIGHT_SOURCE_HIDDEN)});
    // One pixel right of the first: 4 quarters from it, 10 from the second;
    // a distance equal to the radius lies outside it.
    EXPECT_EQ(0, NearestLightSource(table.get(), 11.0, 10.0, 5, LIGHT_SOURCE_OP_HIDE));
    EXPECT_EQ(-1, NearestLightSource(table.get(), 11.0, 10.0, 4, LIGHT_SOURCE_OP_HIDE));
    EXPECT_EQ(1, NearestLightSource(table.get(), 12.0, 10.0, 400, LIGHT_SOURCE_OP_HIDE));  // 6 against 8
    EXPECT_EQ(1, NearestLightSource(table.get(), 13.5, 10.25, 2, LIGHT_SOURCE_OP_HIDE));  // a quarter below it
    // Half-way (7 quarters from each): the first in table order.
    EXPECT_EQ(0, NearestLightSource(table.get(), 11.75, 10.0, 8, LIGHT_SOURCE_OP_SHOW));
    std::swap(table[0], table[1]);
    EXPECT_EQ(0, NearestLightSource(table.get(), 11.75, 10.0, 8, LIGHT_SOURCE_OP_SHOW));
    std::swap(table[0], table[1]);
    // Hiding and showing consider every source, so the hidden source nearest
    // (10, 19) is picked by both (hiding it again then changes nothing);
    // revealing takes only hidden sources, undoing a show only shown ones.
    EXPECT_EQ(2, NearestLightSource(table.get(), 10.0, 19.0, 400, LIGHT_SOURCE_OP_HIDE));
    EXPECT_FALSE(ApplyLightSourceOperation(table.get(), 2, LIGHT_SOURCE_OP_HIDE));
    EXPECT_EQ(2, NearestLightSource(table.get(), 10.0, 19.0, 400, LIGHT_SOURCE_OP_REVEAL));
    EXPECT_EQ(2, NearestLightSource(table.get(), 10.0, 19.0, 400, LIGHT_SOURCE_OP_SHOW));
    EXPECT_EQ(-1, NearestLightSource(table.get(), 10.0, 19.0, 400, LIGHT_SOURCE_OP_UNDO_SHOW));
    EXPECT_EQ(-1, NearestLightSource(table.get(), 10.0, 19.0, -1, LIGHT_SOURCE_OP_SHOW));
    EXPECT_EQ(-1, NearestLightSource(table.get(), 10.0, 19.0, 400, 9));
    EXPECT_EQ(0u, GetLightSourceChangeCount(table.get()));  // looking changes nothing
}

// Each tool's second use undoes its first; an operation that does not apply
// to the source's state changes nothing, not even the change count.
TEST(LightSourceEdits, OperationsUndoEachOtherAndRefuseWhatTheyCannotChange) {
    ScopedList table;
    Fill(table.get(), {At(10, 0, 10, 0), At(30, 0, 10, 0, LIGHT_SOURCE_HIDDEN)});
    EXPECT_FALSE(ApplyLightSourceOperation(table.get(), 0, LIGHT_SOURCE_OP_REVEAL));
    EXPECT_FALSE(ApplyLightSourceOperation(table.get(), 0, LIGHT_SOURCE_OP_UNDO_SHOW));
    EXPECT_FALSE(ApplyLightSourceOperation(table.get(), 2, LIGHT_SOURCE_OP_HIDE));
    EXPECT_FALSE(ApplyLightSourceOperation(table.get(), 0, 4));
    EXPECT_EQ(0u, GetLightSourceChangeCount(table.get()));

    ASSERT_TRUE(ApplyLightSourceOperation(table.get(), 0, LIGHT_SOURCE_OP_HIDE));
    EXPECT_EQ(LIGHT_SOURCE_HIDDEN, table[0].state);
    EXPECT_FALSE(ApplyLightSourceOperation(table.get(), 0, LIGHT_SOURCE_OP_HIDE));
    ASSERT_TRUE(ApplyLightSourceOperation(table.get(), 0, LIGHT_SOURCE_OP_REVEAL));
    EXPECT_EQ(LIGHT_SOURCE_AUTO, table[0].state);
    ASSERT_TRUE(ApplyLightSourceOperation(table.get(), 0, LIGHT_SOURCE_OP_SHOW));
    EXPECT_EQ(LIGHT_SOURCE_SHOWN, table[0].state);
    ASSERT_TRUE(ApplyLightSourceOperation(table.get(), 0, LIGHT_SOURCE_OP_UNDO_SHOW));
    EXPECT_EQ(LIGHT_SOURCE_AUTO, table[0].state);
    EXPECT_EQ(4u, GetLightSourceChangeCount(table.get()));

    // A source the analysis hid, shown and then un-shown, is hidden again.
    EXPECT_EQ(1, EditNearestLightSource(table.get(), 29.0, 10.0, 8, LIGHT_SOURCE_OP_SHOW));
    EXPECT_EQ(LIGHT_SOURCE_SHOWN, table[1].state);
    EXPECT_EQ(1, EditNearestLightSource(table.get(), 29.0, 10.0, 8, LIGHT_SOURCE_OP_UNDO_SHOW));
    EXPECT_EQ(LIGHT_SOURCE_HIDDEN, table[1].state);
    EXPECT_EQ(-1, EditNearestLightSource(table.get(), 29.0, 10.0, 3, LIGHT_SOURCE_OP_REVEAL));
    EXPECT_EQ(6u, GetLightSourceChangeCount(table.get()));
}
