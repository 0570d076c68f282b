// Tests of the parameter record: layout and factory values, every operation of
// the block procedure, conversion of older builds, the version test, the
// slider/edit control table and the edit text rules.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "params/filter_parameters.h"
#include "tests/test_support.h"

namespace {

struct BlockDeleter {
    void operator()(void* block) const { FreeParameterBlock(block); }
};
using Block = std::unique_ptr<void, BlockDeleter>;

Block TakeBlock(intptr_t result) { return Block(reinterpret_cast<void*>(result)); }

FilterParameters RecordOf(const void* block) {
    FilterParameters record;
    std::memcpy(&record, block, sizeof record);
    return record;
}

// A full 255-byte block holding the record, tail zeroed, as files and the
// registry deliver them.
std::vector<unsigned char> BlockBytes(const FilterParameters& record) {
    std::vector<unsigned char> bytes(PARAMETER_BLOCK_SIZE, 0);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

FilterParameters MakeRecord(int16_t major, int16_t minor, int16_t revision, int16_t build) {
    FilterParameters record = FACTORY_PARAMETERS;
    record.slot[SLOT_MAJOR_VERSION] = major;
    record.slot[SLOT_MINOR_VERSION] = minor;
    record.slot[SLOT_REVISION] = revision;
    record.slot[SLOT_BUILD] = build;
    return record;
}

// Every value slot different from the factory value and from its neighbours.
FilterParameters DistinctValues() {
    FilterParameters record = MakeRecord(0, 0, 0, 6);
    for (int i = FIRST_VALUE_SLOT; i < PARAMETER_SLOT_COUNT; ++i) {
        record.slot[i] = static_cast<int16_t>(i * 3 + 1);
    }
    return record;
}

bool TailIsZero(const void* block) {
    const unsigned char* bytes = static_cast<const unsigned char*>(block);
    for (size_t i = PARAMETER_RECORD_SIZE; i < PARAMETER_BLOCK_SIZE; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

void ExpectBlockAllocatedInFull(const void* block) {
#if defined(__GLIBC__)
    EXPECT_GE(malloc_usable_size(const_cast<void*>(block)), PARAMETER_BLOCK_SIZE);
#else
    (void)block;
#endif
}

// Installs a record as the current record for one test and removes it after.
class CurrentRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        current = DistinctValues();
        SetCurrentParameterRecord(&current);
    }
    void TearDown() override { SetCurrentParameterRecord(nullptr); }

    FilterParameters current{};
};

// The same fixture, with no record installed.
class NoCurrentRecordTest : public ::testing::Test {
protected:
    void SetUp() override { SetCurrentParameterRecord(nullptr); }
};

const int16_t EXPECTED_FACTORY[PARAMETER_SLOT_COUNT] = {0, 0, 0, 6, 50, 50, 0, 4, 50, 30, 50, 50, 50, 50, 0, 50, 0, 30};

} // namespace

// ---- layout and factory values ----

TEST(ParameterRecordLayout, FactoryRecordSlotBySlot) {
    for (int i = 0; i < PARAMETER_SLOT_COUNT; ++i) {
        EXPECT_EQ(FACTORY_PARAMETERS.slot[i], EXPECTED_FACTORY[i]) << "slot " << i;
    }
}

TEST(ParameterRecordLayout, NamedSlotsMatchTheirPositions) {
    FilterParameters record = FACTORY_PARAMETERS;
    EXPECT_EQ(record.slot[SLOT_BUILD], 6);
    EXPECT_EQ(record.slot[SLOT_NUMBER_OF_POINTS], 4);
    EXPECT_EQ(record.slot[SLOT_COLOR_SATURATION], 30);
    EXPECT_EQ(record.slot[SLOT_RING_FLARE_INTENSITY], 30);
    EXPECT_EQ(record.slot[SLOT_EFFECTS_ONLY], 0);
    EXPECT_EQ(SLOT_INTENSITY, 4);
    EXPECT_EQ(SLOT_ANGLE, 6);
    EXPECT_EQ(SLOT_EFFECTS_ONLY, 14);
    EXPECT_EQ(SLOT_QUANTITY, 15);
    EXPECT_EQ(SLOT_COLOR_HUE, 16);
    EXPECT_EQ(SLOT_RING_FLARE_INTENSITY, 17);
}

TEST(ParameterRecordLayout, StoredBytesAreLittleEndianAtTwiceTheSlot) {
    FilterParameters record{};
    record.slot[SLOT_BUILD] = 6;
    record.slot[SLOT_ANGLE] = -900;                      // 0xFC7C
    record.slot[SLOT_RING_FLARE_INTENSITY] = 0x1234;
    unsigned char bytes[PARAMETER_RECORD_SIZE];
    std::memcpy(bytes, &record, sizeof bytes);
    EXPECT_EQ(bytes[6], 0x06);
    EXPECT_EQ(bytes[7], 0x00);
    EXPECT_EQ(bytes[12], 0x7C);
    EXPECT_EQ(bytes[13], 0xFC);
    EXPECT_EQ(bytes[34], 0x34);
    EXPECT_EQ(bytes[35], 0x12);
    EXPECT_EQ(sizeof(FilterParameters), 36u);
    EXPECT_EQ(PARAMETER_BLOCK_SIZE, 255u);
}

// ---- operation 0: version ----

TEST(ParameterBlockVersionOperation, PointsAtStampZeroZeroZeroSix) {
    const int16_t* stamp = reinterpret_cast<const int16_t*>(ParameterBlockProc(PARAMETER_OP_VERSION, nullptr));
    ASSERT_NE(stamp, nullptr);
    EXPECT_EQ(stamp[0], 0);
    EXPECT_EQ(stamp[1], 0);
    EXPECT_EQ(stamp[2], 0);
    EXPECT_EQ(stamp[3], 6);
    // The same lasting stamp every time; the caller never frees it.
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_VERSION, nullptr), reinterpret_cast<intptr_t>(stamp));
}

// ---- operation 1: new defaults ----

TEST_F(NoCurrentRecordTest, NewDefaultsNeedsNoCurrentRecord) {
    Block block = TakeBlock(ParameterBlockProc(PARAMETER_OP_NEW_DEFAULTS, nullptr));
    ASSERT_NE(block.get(), nullptr);
    FilterParameters record = RecordOf(block.get());
    for (int i = 0; i < PARAMETER_SLOT_COUNT; ++i) {
        EXPECT_EQ(record.slot[i], EXPECTED_FACTORY[i]) << "slot " << i;
    }
}

TEST_F(CurrentRecordTest, NewDefaultsIsAFullZeroTailedBlockAndLeavesCurrentAlone) {
    const FilterParameters before = current;
    Block block = TakeBlock(ParameterBlockProc(PARAMETER_OP_NEW_DEFAULTS, nullptr));
    ASSERT_NE(block.get(), nullptr);
    ExpectBlockAllocatedInFull(block.get());
    EXPECT_TRUE(TailIsZero(block.get()));
    EXPECT_EQ(std::memcmp(block.get(), &FACTORY_PARAMETERS, sizeof FACTORY_PARAMETERS), 0);
    EXPECT_EQ(std::memcmp(&current, &before, sizeof current), 0);
}

TEST(ParameterBlockNewDefaults, EachCallGivesASeparateBlock) {
    Block first = TakeBlock(ParameterBlockProc(PARAMETER_OP_NEW_DEFAULTS, nullptr));
    Block second = TakeBlock(ParameterBlockProc(PARAMETER_OP_NEW_DEFAULTS, nullptr));
    ASSERT_NE(first.get(), nullptr);
    ASSERT_NE(second.get(), nullptr);
    EXPECT_NE(first.get(), second.get());
}

// ---- operation 2: new copy of current ----

TEST_F(CurrentRecordTest, NewCopyTakesValuesAndCurrentStamp) {
    // The current record carries whatever stamp was applied last.
    current.slot[SLOT_MAJOR_VERSION] = 3;
    current.slot[SLOT_MINOR_VERSION] = 2;
    current.slot[SLOT_REVISION] = 1;
    current.slot[SLOT_BUILD] = 5;
    const FilterParameters before = current;

    Block block = TakeBlock(ParameterBlockProc(PARAMETER_OP_NEW_COPY, nullptr));
    ASSERT_NE(block.get(), nullptr);
    ExpectBlockAllocatedInFull(block.get());
    EXPECT_TRUE(TailIsZero(block.get()));
    FilterParameters copy = RecordOf(block.get());
    EXPECT_EQ(copy.slot[SLOT_MAJOR_VERSION], 0);
    EXPECT_EQ(copy.slot[SLOT_MINOR_VERSION], 0);
    EXPECT_EQ(copy.slot[SLOT_REVISION], 0);
    EXPECT_EQ(copy.slot[SLOT_BUILD], 6);
    for (int i = FIRST_VALUE_SLOT; i < PARAMETER_SLOT_COUNT; ++i) {
        EXPECT_EQ(copy.slot[i], before.slot[i]) << "slot " << i;
    }
    // The copy is a snapshot, and the current record keeps its own stamp.
    EXPECT_EQ(std::memcmp(&current, &before, sizeof current), 0);
    current.slot[SLOT_LENGTH] = 99;
    EXPECT_EQ(RecordOf(block.get()).slot[SLOT_LENGTH], before.slot[SLOT_LENGTH]);
}

TEST_F(NoCurrentRecordTest, NewCopyWithoutCurrentRecordIsNull) {
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_NEW_COPY, nullptr), 0);
}

// ---- operation 3: apply ----

TEST_F(CurrentRecordTest, ApplyCopiesAllEighteenSlotsIncludingStamp) {
    FilterParameters source = MakeRecord(0, 0, 0, 5);
    source.slot[SLOT_INTENSITY] = 77;
    source.slot[SLOT_ANGLE] = -455;
    source.slot[SLOT_EFFECTS_ONLY] = 1;
    source.slot[SLOT_RING_FLARE_INTENSITY] = 12;
    std::vector<unsigned char> bytes = BlockBytes(source);

    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_APPLY, bytes.data()), 1);
    for (int i = 0; i < PARAMETER_SLOT_COUNT; ++i) {
        EXPECT_EQ(current.slot[i], source.slot[i]) << "slot " << i;
    }
}

TEST_F(CurrentRecordTest, ApplyTakesValuesOutsideTheControlRangesAsTheyAre) {
    FilterParameters source = FACTORY_PARAMETERS;
    source.slot[SLOT_QUANTITY] = 500;
    source.slot[SLOT_ANGLE] = -3000;
    source.slot[SLOT_NUMBER_OF_POINTS] = 0;
    std::vector<unsigned char> bytes = BlockBytes(source);
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_APPLY, bytes.data()), 1);
    EXPECT_EQ(current.slot[SLOT_QUANTITY], 500);
    EXPECT_EQ(current.slot[SLOT_ANGLE], -3000);
    EXPECT_EQ(current.slot[SLOT_NUMBER_OF_POINTS], 0);
}

TEST_F(CurrentRecordTest, ApplyReadsABlockAtAnOddAddress) {
    FilterParameters source = FACTORY_PARAMETERS;
    source.slot[SLOT_COLOR_HUE] = -42;
    std::vector<unsigned char> buffer(PARAMETER_BLOCK_SIZE + 1, 0);
    std::memcpy(buffer.data() + 1, &source, sizeof source);
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_APPLY, buffer.data() + 1), 1);
    EXPECT_EQ(current.slot[SLOT_COLOR_HUE], -42);
    EXPECT_EQ(current.slot[SLOT_BUILD], 6);
}

TEST_F(CurrentRecordTest, ApplyWithoutBlockFailsAndKeepsCurrent) {
    const FilterParameters before = current;
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_APPLY, nullptr), 0);
    EXPECT_EQ(std::memcmp(&current, &before, sizeof current), 0);
}

TEST_F(NoCurrentRecordTest, ApplyWithoutCurrentRecordFails) {
    std::vector<unsigned char> bytes = BlockBytes(FACTORY_PARAMETERS);
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_APPLY, bytes.data()), 0);
}

// ---- operation 4: compare ----

TEST_F(CurrentRecordTest, CompareEqualValuesGivesOne) {
    std::vector<unsigned char> bytes = BlockBytes(current);
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_COMPARE, bytes.data()), 1);
}

TEST_F(CurrentRecordTest, CompareIgnoresTheStamp) {
    FilterParameters other = current;
    other.slot[SLOT_MAJOR_VERSION] = 1;
    other.slot[SLOT_MINOR_VERSION] = 2;
    other.slot[SLOT_REVISION] = 3;
    other.slot[SLOT_BUILD] = 4;
    std::vector<unsigned char> bytes = BlockBytes(other);
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_COMPARE, bytes.data()), 1);
}

TEST_F(CurrentRecordTest, CompareSeesADifferenceInEveryValueSlot) {
    for (int i = FIRST_VALUE_SLOT; i < PARAMETER_SLOT_COUNT; ++i) {
        FilterParameters other = current;
        other.slot[i] = static_cast<int16_t>(other.slot[i] + 1);
        std::vector<unsigned char> bytes = BlockBytes(other);
        EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_COMPARE, bytes.data()), 0) << "slot " << i;
    }
}

TEST_F(CurrentRecordTest, CompareWithoutBlockIsZero) {
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_COMPARE, nullptr), 0);
}

TEST_F(NoCurrentRecordTest, CompareWithoutCurrentRecordIsZero) {
    std::vector<unsigned char> bytes = BlockBytes(FACTORY_PARAMETERS);
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_COMPARE, bytes.data()), 0);
}

// ---- operation 6: reset ----

TEST_F(CurrentRecordTest, ResetWritesFactoryRecordIncludingStamp) {
    current.slot[SLOT_BUILD] = 3;
    current.slot[SLOT_MAJOR_VERSION] = 9;
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_RESET, nullptr), 1);
    for (int i = 0; i < PARAMETER_SLOT_COUNT; ++i) {
        EXPECT_EQ(current.slot[i], EXPECTED_FACTORY[i]) << "slot " << i;
    }
}

TEST_F(NoCurrentRecordTest, ResetWithoutCurrentRecordIsZero) {
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_RESET, nullptr), 0);
}

// ---- unknown operations ----

TEST_F(CurrentRecordTest, UnknownOperationsAreNullAndTouchNothing) {
    const FilterParameters before = current;
    std::vector<unsigned char> bytes = BlockBytes(FACTORY_PARAMETERS);
    for (int32_t operation : {7, 8, -1, 255, 0x7FFFFFFF}) {
        EXPECT_EQ(ParameterBlockProc(operation, bytes.data()), 0) << "operation " << operation;
    }
    EXPECT_EQ(std::memcmp(&current, &before, sizeof current), 0);
}

// ---- operation 5: convert ----

namespace {

Block Convert(const FilterParameters& source) {
    std::vector<unsigned char> bytes = BlockBytes(source);
    return TakeBlock(ParameterBlockProc(PARAMETER_OP_CONVERT, bytes.data()));
}

void ExpectCurrentStamp(const FilterParameters& record) {
    EXPECT_EQ(record.slot[SLOT_MAJOR_VERSION], 0);
    EXPECT_EQ(record.slot[SLOT_MINOR_VERSION], 0);
    EXPECT_EQ(record.slot[SLOT_REVISION], 0);
    EXPECT_EQ(record.slot[SLOT_BUILD], 6);
}

// An old record whose slots are all distinct and whose unused trailing slots
// hold leftovers that a conversion must not carry over.
FilterParameters OldRecord(int16_t build) {
    FilterParameters record = MakeRecord(0, 0, 0, build);
    record.slot[SLOT_INTENSITY] = 63;
    record.slot[SLOT_LENGTH] = 71;
    record.slot[SLOT_ANGLE] = 45;
    record.slot[SLOT_NUMBER_OF_POINTS] = 6;
    record.slot[SLOT_SPIKE_SHARPNESS] = 22;
    record.slot[SLOT_COLOR_SATURATION] = -40;
    record.slot[SLOT_RAINBOW_INTENSITY] = 11;
    record.slot[SLOT_RAINBOW_FREQUENCY] = 88;
    record.slot[SLOT_SECONDARY_SPIKE_INTENSITY] = 33;
    record.slot[SLOT_SOFT_FLARE_INTENSITY] = 44;
    record.slot[SLOT_EFFECTS_ONLY] = 1;
    record.slot[SLOT_QUANTITY] = 17;
    record.slot[SLOT_COLOR_HUE] = -25;
    record.slot[SLOT_RING_FLARE_INTENSITY] = 90;
    return record;
}

void ExpectSlotsCopied(const FilterParameters& source, const FilterParameters& result, int first, int last) {
    for (int i = first; i <= last; ++i) {
        EXPECT_EQ(result.slot[i], source.slot[i]) << "slot " << i;
    }
}

} // namespace

TEST(ParameterBlockConvert, BuildThreeAngleInTenthsQuantityFromIntensityHueAndRingCleared) {
    const FilterParameters source = OldRecord(3);
    Block block = Convert(source);
    ASSERT_NE(block.get(), nullptr);
    ExpectBlockAllocatedInFull(block.get());
    EXPECT_TRUE(TailIsZero(block.get()));
    const FilterParameters result = RecordOf(block.get());
    ExpectCurrentStamp(result);
    ExpectSlotsCopied(source, result, SLOT_INTENSITY, SLOT_LENGTH);
    EXPECT_EQ(result.slot[SLOT_ANGLE], 450);
    ExpectSlotsCopied(source, result, SLOT_NUMBER_OF_POINTS, SLOT_EFFECTS_ONLY);
    EXPECT_EQ(result.slot[SLOT_QUANTITY], 63);
    EXPECT_EQ(result.slot[SLOT_COLOR_HUE], 0);
    EXPECT_EQ(result.slot[SLOT_RING_FLARE_INTENSITY], 0);
}

TEST(ParameterBlockConvert, BuildThreeNegativeAngle) {
    FilterParameters source = OldRecord(3);
    source.slot[SLOT_ANGLE] = -90;
    Block block = Convert(source);
    ASSERT_NE(block.get(), nullptr);
    EXPECT_EQ(RecordOf(block.get()).slot[SLOT_ANGLE], -900);
}

TEST(ParameterBlockConvert, BuildThreeAngleWrapsIn16Bits) {
    FilterParameters source = OldRecord(3);
    source.slot[SLOT_ANGLE] = 4000;  // 40000 does not fit: 40000 - 65536
    Block block = Convert(source);
    ASSERT_NE(block.get(), nullptr);
    EXPECT_EQ(RecordOf(block.get()).slot[SLOT_ANGLE], -25536);

    source.slot[SLOT_ANGLE] = -3300;  // -33000 + 65536
    block = Convert(source);
    ASSERT_NE(block.get(), nullptr);
    EXPECT_EQ(RecordOf(block.get()).slot[SLOT_ANGLE], 32536);
}

TEST(ParameterBlockConvert, BuildFourKeepsAngleQuantityFromIntensity) {
    FilterParameters source = OldRecord(4);
    source.slot[SLOT_ANGLE] = 455;
    Block block = Convert(source);
    ASSERT_NE(block.get(), nullptr);
    EXPECT_TRUE(TailIsZero(block.get()));
    const FilterParameters result = RecordOf(block.get());
    ExpectCurrentStamp(result);
    ExpectSlotsCopied(source, result, SLOT_INTENSITY, SLOT_EFFECTS_ONLY);
    EXPECT_EQ(result.slot[SLOT_ANGLE], 455);
    EXPECT_EQ(result.slot[SLOT_QUANTITY], 63);
    EXPECT_EQ(result.slot[SLOT_COLOR_HUE], 0);
    EXPECT_EQ(result.slot[SLOT_RING_FLARE_INTENSITY], 0);
}

TEST(ParameterBlockConvert, BuildFiveKeepsHueAndQuantityClearsRing) {
    const FilterParameters source = OldRecord(5);
    Block block = Convert(source);
    ASSERT_NE(block.get(), nullptr);
    EXPECT_TRUE(TailIsZero(block.get()));
    const FilterParameters result = RecordOf(block.get());
    ExpectCurrentStamp(result);
    ExpectSlotsCopied(source, result, SLOT_INTENSITY, SLOT_COLOR_HUE);
    EXPECT_EQ(result.slot[SLOT_ANGLE], 45);
    EXPECT_EQ(result.slot[SLOT_QUANTITY], 17);
    EXPECT_EQ(result.slot[SLOT_COLOR_HUE], -25);
    EXPECT_EQ(result.slot[SLOT_RING_FLARE_INTENSITY], 0);
}

TEST(ParameterBlockConvert, RefusesOtherStamps) {
    struct Stamp {
        int16_t major, minor, revision, build;
    };
    const Stamp refused[] = {
        {0, 0, 1, 6}, {0, 0, 0, 7}, {0, 1, 0, 5}, {1, 0, 0, 5}, {0, 0, 1, 3},
        {0, 0, 0, 2}, {0, 0, 0, 0}, {0, 0, 0, 6}, {0, 0, 0, -3}, {-1, -1, -1, -1},
    };
    for (const Stamp& s : refused) {
        Block block = Convert(MakeRecord(s.major, s.minor, s.revision, s.build));
        EXPECT_EQ(block.get(), nullptr) << s.major << "." << s.minor << "." << s.revision << "." << s.build;
    }
}

TEST(ParameterBlockConvert, NullBlockIsNull) {
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_CONVERT, nullptr), 0);
}

TEST_F(CurrentRecordTest, ConvertLeavesCurrentRecordAlone) {
    const FilterParameters before = current;
    Block block = Convert(OldRecord(3));
    ASSERT_NE(block.get(), nullptr);
    EXPECT_EQ(std::memcmp(&current, &before, sizeof current), 0);
}

TEST_F(CurrentRecordTest, ConvertedBlockPassesVersionTestAndApplies) {
    Block block = Convert(OldRecord(4));
    ASSERT_NE(block.get(), nullptr);
    EXPECT_TRUE(ParameterBlockVersionMatches(block.get()));
    EXPECT_EQ(ParameterBlockProc(PARAMETER_OP_APPLY, block.get()), 1);
    EXPECT_EQ(current.slot[SLOT_BUILD], 6);
    EXPECT_EQ(current.slot[SLOT_QUANTITY], 63);
}

// ---- version test ----

TEST(ParameterBlockVersion, FactoryBlockMatches) {
    Block block = TakeBlock(ParameterBlockProc(PARAMETER_OP_NEW_DEFAULTS, nullptr));
    ASSERT_NE(block.get(), nullptr);
    EXPECT_TRUE(ParameterBlockVersionMatches(block.get()));
}

TEST(ParameterBlockVersion, ADifferenceInAnyStampSlotIsAMismatch) {
    for (int i = 0; i < VERSION_SLOT_COUNT; ++i) {
        FilterParameters record = FACTORY_PARAMETERS;
        record.slot[i] = static_cast<int16_t>(record.slot[i] + 1);
        std::vector<unsigned char> bytes = BlockBytes(record);
        EXPECT_FALSE(ParameterBlockVersionMatches(bytes.data())) << "slot " << i;
    }
}

TEST(ParameterBlockVersion, ValuesDoNotAffectTheVersionTest) {
    FilterParameters record = DistinctValues();
    std::vector<unsigned char> bytes = BlockBytes(record);
    EXPECT_TRUE(ParameterBlockVersionMatches(bytes.data()));
}

TEST(ParameterBlockVersion, NullBlockDoesNotMatch) {
    EXPECT_FALSE(ParameterBlockVersionMatches(nullptr));
}

TEST(ParameterBlockVersion, AMismatchIsLoggedWithTheBlocksStamp) {
    CapturedReports reports;
    FilterParameters record = FACTORY_PARAMETERS;
    record.slot[SLOT_MINOR_VERSION] = 2;
    record.slot[SLOT_REVISION] = -3;
    record.slot[SLOT_BUILD] = 4;
    std::vector<unsigned char> bytes = BlockBytes(record);
    EXPECT_FALSE(ParameterBlockVersionMatches(bytes.data()));
    EXPECT_TRUE(reports.Contains("Debug Message: 'Debug:  Unexpected Error' - 'User Setting File version mismatch. "
                                 "File Version = '0','2','-3','4''"));
    size_t before = reports.Count();
    EXPECT_TRUE(ParameterBlockVersionMatches(BlockBytes(FACTORY_PARAMETERS).data()));
    EXPECT_EQ(reports.Count(), before);  // a match is silent
}

TEST(TraceRenderingParametersHook, OnlyAMissingSetIsReported) {
    CapturedReports reports;
    FilterParameters record = FACTORY_PARAMETERS;
    TraceRenderingParameters("preview", &record);
    EXPECT_EQ(reports.Count(), 0u);
    TraceRenderingParameters("final render", nullptr);
    ASSERT_EQ(reports.Count(), 1u);
    EXPECT_TRUE(reports.Contains("'TraceRenderingParameters() - A NULL pointer was specified for Parameter Set "
                                 "argument.  Message: 'final render''"));
}

// ---- slider and edit control table ----

TEST(SliderControlTable, RowsBindTheirSlotsInDialogOrder) {
    const int16_t slots[SLIDER_ROW_COUNT] = {15, 4, 5, 6, 7, 8, 9, 16, 10, 11, 12, 13, 17};
    for (int row = 0; row < SLIDER_ROW_COUNT; ++row) {
        EXPECT_EQ(SLIDER_CONTROL_TABLE[row].slot, slots[row]) << "row " << row;
    }
}

TEST(SliderControlTable, ControlIds) {
    const int32_t editIds[SLIDER_ROW_COUNT] = {1025, 1005, 1007, 1009, 1011, 1022, 1013, 1180, 1015, 1017, 1019, 1021, 1027};
    const int32_t sliderIds[SLIDER_ROW_COUNT] = {1026, 1004, 1006, 1008, 1010, 1024, 1012, 1181, 1014, 1016, 1018, 1020, 1029};
    std::set<int32_t> seen;
    for (int row = 0; row < SLIDER_ROW_COUNT; ++row) {
        EXPECT_EQ(SLIDER_CONTROL_TABLE[row].editId, editIds[row]) << "row " << row;
        EXPECT_EQ(SLIDER_CONTROL_TABLE[row].sliderId, sliderIds[row]) << "row " << row;
        seen.insert(SLIDER_CONTROL_TABLE[row].editId);
        seen.insert(SLIDER_CONTROL_TABLE[row].sliderId);
    }
    EXPECT_EQ(seen.size(), 2u * SLIDER_ROW_COUNT);
}

TEST(SliderControlTable, RangesStepsAndDecimals) {
    struct Expected {
        int16_t minimum, maximum, line, page, large, decimals;
    };
    const Expected expected[SLIDER_ROW_COUNT] = {
        {0, 100, 1, 10, 10, 0},   {0, 100, 1, 10, 10, 0},   {0, 100, 1, 10, 10, 0},   {-900, 900, 1, 100, 10, 1},
        {1, 32, 1, 8, 2, 0},      {0, 100, 1, 10, 10, 0},   {-100, 100, 1, 10, 10, 0}, {-100, 100, 1, 10, 10, 0},
        {0, 100, 1, 10, 10, 0},   {0, 100, 1, 10, 10, 0},   {0, 100, 1, 10, 10, 0},   {0, 100, 1, 10, 10, 0},
        {0, 100, 1, 10, 10, 0},
    };
    for (int row = 0; row < SLIDER_ROW_COUNT; ++row) {
        const SliderControlRow& r = SLIDER_CONTROL_TABLE[row];
        EXPECT_EQ(r.minimum, expected[row].minimum) << "row " << row;
        EXPECT_EQ(r.maximum, expected[row].maximum) << "row " << row;
        EXPECT_EQ(r.lineStep, expected[row].line) << "row " << row;
        EXPECT_EQ(r.pageStep, expected[row].page) << "row " << row;
        EXPECT_EQ(r.largeStep, expected[row].large) << "row " << row;
        EXPECT_EQ(r.decimals, expected[row].decimals) << "row " << row;
        EXPECT_EQ(r.textLimit, 4) << "row " << row;
    }
}

TEST(SliderControlTable, AngleRow) {
    const SliderControlRow* angle = GetSliderControlRow(SLIDER_ROW_ANGLE);
    ASSERT_NE(angle, nullptr);
    EXPECT_EQ(SLIDER_ROW_ANGLE, 3);
    EXPECT_EQ(angle->slot, SLOT_ANGLE);
    EXPECT_EQ(angle->editId, 1009);
    EXPECT_EQ(angle->sliderId, 1008);
    EXPECT_EQ(angle->decimals, 1);
    EXPECT_EQ(angle->pageStep, 100);
    EXPECT_STREQ(angle->editTooltip, "Angle (A) - Set the rotation angle of the spikes");
    EXPECT_STREQ(angle->sliderTooltip, "Angle (A) - Move right to rotate the spikes clockwise");
}

TEST(SliderControlTable, DefaultsAreTheFactoryValuesOfTheirSlots) {
    for (int row = 0; row < SLIDER_ROW_COUNT; ++row) {
        const SliderControlRow& r = SLIDER_CONTROL_TABLE[row];
        EXPECT_EQ(r.defaultValue, FACTORY_PARAMETERS.slot[r.slot]) << "row " << row;
        EXPECT_GE(r.defaultValue, r.minimum) << "row " << row;
        EXPECT_LE(r.defaultValue, r.maximum) << "row " << row;
    }
}

TEST(SliderControlTable, EveryValueSlotButEffectsOnlyHasOneRow) {
    std::set<int> slots;
    for (int row = 0; row < SLIDER_ROW_COUNT; ++row) {
        slots.insert(SLIDER_CONTROL_TABLE[row].slot);
    }
    EXPECT_EQ(slots.size(), static_cast<size_t>(SLIDER_ROW_COUNT));
    EXPECT_EQ(slots.count(SLOT_EFFECTS_ONLY), 0u);
    for (int slot = FIRST_VALUE_SLOT; slot < PARAMETER_SLOT_COUNT; ++slot) {
        if (slot != SLOT_EFFECTS_ONLY) {
            EXPECT_EQ(slots.count(slot), 1u) << "slot " << slot;
        }
    }
}

TEST(SliderControlTable, TooltipTexts) {
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[0].editTooltip,
                 "Quantity (Q) - Set how many stars, ranked by brightness, will be given effects");
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[0].sliderTooltip,
                 "Quantity (Q) - Move right to increase the number of dimmer stars given effects");
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[1].sliderTooltip,
                 "Intensity (I) - Move right to increase the brightness of primary spikes");
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[7].editTooltip, "Color Hue (U) - Change the color tint of the spikes");
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[7].sliderTooltip,
                 "Color Hue (U) - Move left to make the color more purplish, right to make it more greenish");
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[9].sliderTooltip,
                 "Rainbow Frequency (F) - Move right to make the multicolored 'rainbow' pattern change color more rapidly in the spikes");
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[10].editTooltip,
                 "Secondary Spike Intensity (E) - Set the brightness of secondary central 'mini-spikes' around a star");
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[12].editTooltip,
                 "Ring Flare Intensity (G) - Set the brightness of the ring flare around stars");
    EXPECT_STREQ(SLIDER_CONTROL_TABLE[12].sliderTooltip,
                 "Ring Flare Intensity (G) - Move right to increase the brightness of the ring flare around stars");
}

TEST(SliderControlTable, EditAndSliderTooltipsNameTheSameControl) {
    const char* keys[SLIDER_ROW_COUNT] = {"(Q)", "(I)", "(L)", "(A)", "(N)", "(S)", "(C)",
                                          "(U)", "(R)", "(F)", "(E)", "(Y)", "(G)"};
    for (int row = 0; row < SLIDER_ROW_COUNT; ++row) {
        const std::string edit = SLIDER_CONTROL_TABLE[row].editTooltip;
        const std::string slider = SLIDER_CONTROL_TABLE[row].sliderTooltip;
        const size_t cut = edit.find(" - ");
        ASSERT_NE(cut, std::string::npos) << "row " << row;
        EXPECT_EQ(slider.compare(0, cut + 3, edit, 0, cut + 3), 0) << "row " << row;
        EXPECT_NE(edit.find(keys[row]), std::string::npos) << "row " << row;
        EXPECT_NE(slider.find(" - Move "), std::string::npos) << "row " << row;
    }
}

TEST(SliderControlTable, RowLookupOutOfRange) {
    EXPECT_EQ(GetSliderControlRow(-1), nullptr);
    EXPECT_EQ(GetSliderControlRow(SLIDER_ROW_COUNT), nullptr);
    EXPECT_EQ(GetSliderControlRow(0), &SLIDER_CONTROL_TABLE[0]);
    EXPECT_EQ(GetSliderControlRow(12), &SLIDER_CONTROL_TABLE[12]);
}

TEST(SliderControlTable, ClampToRow) {
    EXPECT_EQ(ClampToSliderRow(SLIDER_ROW_ANGLE, 1000), 900);
    EXPECT_EQ(ClampToSliderRow(SLIDER_ROW_ANGLE, -1000), -900);
    EXPECT_EQ(ClampToSliderRow(SLIDER_ROW_ANGLE, -455), -455);
    EXPECT_EQ(ClampToSliderRow(SLIDER_ROW_NUMBER_OF_POINTS, 0), 1);
    EXPECT_EQ(ClampToSliderRow(SLIDER_ROW_NUMBER_OF_POINTS, 33), 32);
    EXPECT_EQ(ClampToSliderRow(SLIDER_ROW_COLOR_HUE, -101), -100);
    EXPECT_EQ(ClampToSliderRow(SLIDER_ROW_QUANTITY, 40000), 100);
    EXPECT_EQ(ClampToSliderRow(SLIDER_ROW_COUNT, 500), 500);
}

// ---- value display ----

TEST(ParameterValueText, WholeNumberRowsPrintSignedIntegers) {
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_QUANTITY, 50), "50");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_QUANTITY, 0), "0");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_COLOR_SATURATION, -100), "-100");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_COLOR_HUE, -7), "-7");
}

TEST(ParameterValueText, AngleShowsTenthsOfADegree) {
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_ANGLE, 123), "12.3");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_ANGLE, 0), "0.0");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_ANGLE, -900), "-90.0");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_ANGLE, 900), "90.0");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_ANGLE, -5), "-0.5");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_ANGLE, 3), "0.3");
}

TEST(ParameterValueText, UnknownRowIsEmpty) {
    EXPECT_EQ(FormatParameterValue(-1, 5), "");
    EXPECT_EQ(FormatParameterValue(SLIDER_ROW_COUNT, 5), "");
}

TEST(ParameterValueText, EveryValueInEveryRowReadsBackUnchanged) {
    for (int row = 0; row < SLIDER_ROW_COUNT; ++row) {
        const SliderControlRow& r = SLIDER_CONTROL_TABLE[row];
        for (int value = r.minimum; value <= r.maximum; ++value) {
            const std::string text = FormatParameterValue(row, static_cast<int16_t>(value));
            const int16_t elsewhere = value == r.minimum ? r.maximum : r.minimum;
            ASSERT_EQ(ParseParameterEntry(row, text.c_str(), elsewhere), value) << "row " << row << " text " << text;
        }
    }
}

// ---- value entry ----

TEST(ParameterEntry, AngleTruncatesToTenths) {
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "12.34", 0), 123);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "12.39", 0), 123);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "45", 0), 450);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "+45", 0), 450);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "45.", 0), 450);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, ".5", 0), 5);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "0.09", 7), 0);
}

TEST(ParameterEntry, NegativeDecimalsTruncateTowardZero) {
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "-12.34", 0), -123);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "-12.39", 0), -123);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "-0.3", 0), -3);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "-.5", 0), -5);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "-0.05", 7), 0);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_COLOR_SATURATION, "-33.9", 0), -33);
}

TEST(ParameterEntry, TenthsAreExactDespiteBinaryFractions) {
    // 0.3 and friends have no exact binary form; scaling them must not lose a tenth.
    for (int tenths = -900; tenths <= 900; ++tenths) {
        const int whole = (tenths < 0 ? -tenths : tenths) / 10;
        const int fraction = (tenths < 0 ? -tenths : tenths) % 10;
        const std::string text = std::string(tenths < 0 ? "-" : "") + std::to_string(whole) + "." + std::to_string(fraction);
        ASSERT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, text.c_str(), 1000), tenths) << text;
    }
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "0.3", 0), 3);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "0.7", 0), 7);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "8.2", 0), 82);
}

TEST(ParameterEntry, ClampsToTheRowRange) {
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "-95", 0), -900);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "95", 0), 900);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "150", 50), 100);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "-5", 50), 0);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_NUMBER_OF_POINTS, "0", 4), 1);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_NUMBER_OF_POINTS, "99", 4), 32);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_COLOR_HUE, "-101", 0), -100);
}

TEST(ParameterEntry, WholeNumberRowsDropTheFraction) {
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "33.9", 0), 33);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_INTENSITY, "7", 0), 7);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_INTENSITY, "007", 0), 7);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_INTENSITY, " 7", 0), 7);
}

TEST(ParameterEntry, HugeNumbersClampInsteadOfWrapping) {
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "65586", 50), 100);  // 65586 - 65536 = 50 if wrapped
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "99999999999999999999999", 50), 100);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "-99999999999999999999999", 0), -900);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "4294967296.1", 0), 900);
}

TEST(ParameterEntry, TextWithoutANumberKeepsTheCurrentValue) {
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "", 37), 37);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "-", 37), 37);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "+", 37), 37);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, ".", -123), -123);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "-.", -123), -123);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "abc", -123), -123);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "--5", -123), -123);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, nullptr, -123), -123);
    // The current value comes back as it is, even outside the range.
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "x", 500), 500);
}

TEST(ParameterEntry, TrailingTextAfterTheNumberIsIgnored) {
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "12abc", 0), 12);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_QUANTITY, "1-2", 0), 1);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_ANGLE, "1.2.3", 0), 12);
}

TEST(ParameterEntry, UnknownRowKeepsTheCurrentValue) {
    EXPECT_EQ(ParseParameterEntry(-1, "5", 9), 9);
    EXPECT_EQ(ParseParameterEntry(SLIDER_ROW_COUNT, "5", 9), 9);
}
