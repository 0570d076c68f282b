// PluginMain's selectors as a host drives them: the plug-in's entry linked in
// with the host simulator, which also reports every misuse of the host
// interface (handles left locked, suites not released, writes outside the
// record, procedures the host did not offer).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_abi.h"
#include "host/plugin_state.h"
#include "host/resource_description.h"
#include "host/scripting.h"
#include "params/filter_parameters.h"
#include "tests/host_test_support.h"
#include "tests/test_support.h"
#include "tools/hostsim/host_simulator.h"

extern "C" void PluginMain(int16 selector, void* block, intptr_t* data, int16* result);

namespace {

constexpr int16 kMissingHandles = -30100;

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n  " + line;
    return text;
}

// Every test starts and must end with the plug-in's per-run state torn down,
// and without a violation of the host interface.
class PluginSelectors : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(gPlugin.initialised) << "an earlier test left the plug-in's run state up";
        host.document = MakeSimDocument(plugInModeRGBColor, 64, 48);
    }
    void TearDown() override {
        if (host.InRun()) host.EndRun();
        EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
        EXPECT_FALSE(gPlugin.initialised) << "the plug-in's run state is still up";
    }

    FilterParameters ParametersInHandle() {
        FilterParameters record{};
        const std::vector<uint8_t> bytes = host.HandleBytes(host.Parameters());
        EXPECT_EQ(bytes.size(), PARAMETER_RECORD_SIZE);
        if (bytes.size() >= sizeof record) std::memcpy(&record, bytes.data(), sizeof record);
        return record;
    }
    int ShowDialogByte() {
        const std::vector<uint8_t> bytes = host.HandleBytes(reinterpret_cast<Handle>(host.DataSlot()));
        return bytes.size() == 1 ? bytes[0] : -1;
    }

    HostSimulator host{PluginMain};
};

bool SameRecord(const FilterParameters& a, const FilterParameters& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// ---------------------------------------------------------------------------
// Handles
// ---------------------------------------------------------------------------

TEST_F(PluginSelectors, StartWithoutHandlesFailsAndTearsDownSoTheNextCallStartsAfresh) {
    CapturedReports reports;
    EXPECT_EQ(host.Call(filterSelectorStart), kMissingHandles);
    EXPECT_FALSE(gPlugin.initialised);
    // No other work: no handle made, nothing rendered, the watch property untouched.
    EXPECT_EQ(host.DataSlot(), 0);
    EXPECT_EQ(host.Parameters(), nullptr);
    EXPECT_TRUE(host.Run().properties.empty());
    EXPECT_FALSE(reports.Contains("rendering is not available"));
    // The suites taken for the run went back in the same call.
    EXPECT_EQ(host.Run().Acquisitions(PROPERTY_SUITE_NAME), 1);
    EXPECT_EQ(host.Run().Releases(PROPERTY_SUITE_NAME), 1);
    EXPECT_EQ(host.Run().Releases(ERROR_SUITE_NAME), 1);
    host.EndRun();

    // A new run from the start: the suites are acquired again.
    host.BeginRun();
    EXPECT_EQ(host.Call(filterSelectorParameters), noErr);
    EXPECT_EQ(host.Run().Acquisitions(PROPERTY_SUITE_NAME), 1);
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
    host.EndRun();
}

TEST_F(PluginSelectors, ParametersMakesBothHandlesWithFactoryValuesAndAsksForTheDialog) {
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_TRUE(host.HandleAlive(host.Parameters()));
    ASSERT_NE(host.DataSlot(), 0);
    EXPECT_EQ(host.HandleBytes(host.Parameters()).size(), 36u);
    EXPECT_EQ(host.HandleBytes(reinterpret_cast<Handle>(host.DataSlot())).size(), 1u);
    EXPECT_TRUE(SameRecord(ParametersInHandle(), FACTORY_PARAMETERS));
    EXPECT_EQ(ShowDialogByte(), 1);
    // Both handles are unlocked again when the selector returns.
    EXPECT_EQ(host.HandleLockCount(host.Parameters()), 0);
    EXPECT_EQ(host.HandleLockCount(reinterpret_cast<Handle>(host.DataSlot())), 0);
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

TEST_F(PluginSelectors, ParametersResetsKeptHandlesInPlace) {
    std::vector<uint8_t> used(PARAMETER_RECORD_SIZE, 0x11);
    Handle parameters = host.NewHostHandle(used);
    Handle flag = host.NewHostHandle({0});
    host.SetParameters(parameters);
    host.SetDataSlot(reinterpret_cast<intptr_t>(flag));

    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    EXPECT_EQ(host.Parameters(), parameters) << "a kept parameters handle is reused, not replaced";
    EXPECT_EQ(host.DataSlot(), reinterpret_cast<intptr_t>(flag));
    EXPECT_TRUE(SameRecord(ParametersInHandle(), FACTORY_PARAMETERS));
    EXPECT_EQ(ShowDialogByte(), 1);
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

TEST_F(PluginSelectors, ParametersStoresTheActiveWindowOnlyWhenTheHostGaveNone) {
    host.options.hostWindow = 0x1234;
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    EXPECT_EQ(host.Record()->platformData->hwnd, 0x1234);
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

TEST_F(PluginSelectors, PrepareWithoutAParametersCallMakesTheHandlesItself) {
    host.options.callParameters = false;
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    ASSERT_TRUE(host.HandleAlive(host.Parameters()));
    EXPECT_TRUE(SameRecord(ParametersInHandle(), FACTORY_PARAMETERS));
    EXPECT_EQ(ShowDialogByte(), 1);
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

TEST_F(PluginSelectors, PrepareKeepsTheValuesOfExistingHandles) {
    FilterParameters mine = FACTORY_PARAMETERS;
    mine.slot[SLOT_INTENSITY] = 77;
    std::vector<uint8_t> bytes(PARAMETER_RECORD_SIZE);
    std::memcpy(bytes.data(), &mine, sizeof mine);
    host.SetParameters(host.NewHostHandle(bytes));
    host.SetDataSlot(reinterpret_cast<intptr_t>(host.NewHostHandle({0})));
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_TRUE(SameRecord(ParametersInHandle(), mine));
    EXPECT_EQ(ShowDialogByte(), 0);
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

// ---------------------------------------------------------------------------
// Result codes
// ---------------------------------------------------------------------------

class UnknownSelectors : public PluginSelectors, public ::testing::WithParamInterface<int16> {};

TEST_P(UnknownSelectors, LeaveTheResultAsTheHostSetItAndDoNothing) {
    const int16 preset = 1234;
    EXPECT_EQ(host.Call(GetParam(), preset), preset);
    EXPECT_EQ(host.DataSlot(), 0);
    const Handle parameters = host.Record()->parameters;  // a copy: the record is packed
    EXPECT_EQ(parameters, nullptr);
    EXPECT_EQ(host.Record()->bufferSpace, 0);
    // A failing start ends whatever the call began.
    EXPECT_EQ(host.Call(filterSelectorStart), kMissingHandles);
}

INSTANTIATE_TEST_SUITE_P(PluginSelectors, UnknownSelectors, ::testing::Values<int16>(6, 7, 77, -1, 32767));

// Each known selector owns its result: whatever the host put there (1 as
// one host does on About, an error left from another call), the selector
// starts from "no error" and answers only what happened in it.
TEST_F(PluginSelectors, EveryKnownSelectorAnswersForItselfWhateverTheHostPreset) {
    for (int16 preset : {int16(1), memFullErr, errReportString}) {
        EXPECT_EQ(host.Call(filterSelectorAbout, preset), noErr) << preset;
        EXPECT_FALSE(gPlugin.initialised);
        EXPECT_EQ(host.Call(filterSelectorParameters, preset), noErr) << preset;
        EXPECT_EQ(host.Call(filterSelectorPrepare, preset), noErr) << preset;
        EXPECT_EQ(host.Call(filterSelectorStart, preset), noErr) << preset;
        EXPECT_EQ(host.Call(filterSelectorContinue, preset), noErr) << preset;
        EXPECT_EQ(host.Call(filterSelectorFinish, preset), noErr) << preset;
        EXPECT_FALSE(gPlugin.initialised);
        const RunLog& run = host.EndRun();
        EXPECT_GT(run.advanceStateCalls, 1) << "the image was read and written back";
        EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
    }
    // A failure is the selector's own, not hidden behind the preset.
    host.SetParameters(nullptr);
    host.SetDataSlot(0);
    EXPECT_EQ(host.Call(filterSelectorStart, 1), kMissingHandles);
    EXPECT_FALSE(gPlugin.initialised);
}

TEST_F(PluginSelectors, AFailedAllocationIsReportedAsOutOfMemoryNotAsMissingHandles) {
    host.options.failNewHandle = true;
    EXPECT_EQ(host.Call(filterSelectorParameters), memFullErr);
    EXPECT_FALSE(gPlugin.initialised);
}

TEST_F(PluginSelectors, AFailedLockIsReportedAsOutOfMemory) {
    host.options.failLockHandle = true;
    EXPECT_EQ(host.Call(filterSelectorParameters), memFullErr);
    EXPECT_FALSE(gPlugin.initialised);
}

TEST_F(PluginSelectors, AHostWithoutTheLockProcedureGetsOutOfMemoryAndNoCallIntoTheGap) {
    host.options.handleProcCount = 4;  // newProc to setSizeProc only
    EXPECT_EQ(host.Call(filterSelectorParameters), memFullErr);
    EXPECT_FALSE(gPlugin.initialised);
}

// ---------------------------------------------------------------------------
// Prepare: the memory the plug-in asks for
// ---------------------------------------------------------------------------

struct PrepareCase {
    int16 mode;
    int32 width;
    int32 height;
    bool maskDataPresent;
    int32 offeredMaxSpace;
};

// What prepare must leave: bufferSpace = min(16 (b W H + 1,250,000), 10^9) and
// maxSpace lowered to 2 min(H,1024) min(W,1024) P when that is smaller.
void ExpectedSpace(const PrepareCase& c, int32 planes, int64_t* bufferSpace, int64_t* maxSpace) {
    const int64_t b = SimBytesPerSample(c.mode);
    int64_t request = 16 * (b * c.width * c.height + 1250000);
    *bufferSpace = request < 1000000000 ? request : 1000000000;
    const int64_t p = planes + (c.maskDataPresent ? 1 : 0);
    const int64_t tile = 2 * std::min<int64_t>(c.height, 1024) * std::min<int64_t>(c.width, 1024) * p;
    *maxSpace = tile < c.offeredMaxSpace ? tile : c.offeredMaxSpace;
}

class PrepareSpace : public PluginSelectors, public ::testing::WithParamInterface<PrepareCase> {};

TEST_P(PrepareSpace, AsksForBufferSpaceAndLowersMaxSpace) {
    const PrepareCase& c = GetParam();
    host.document = MakeSimDocument(c.mode, c.width, c.height);
    host.options.maxSpace = c.offeredMaxSpace;
    host.BeginRun();
    uint8_t maskRow[16] = {};
    if (c.maskDataPresent) host.Record()->maskData = maskRow;  // a host that hands mask data out early
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    int64_t bufferSpace, maxSpace;
    ExpectedSpace(c, host.document.PlaneCount(), &bufferSpace, &maxSpace);
    EXPECT_EQ(host.Run().bufferSpace, bufferSpace);
    EXPECT_EQ(host.Run().maxSpace, maxSpace);
    EXPECT_LE(host.Run().bufferSpace, 1000000000);
    host.Record()->maskData = nullptr;
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

INSTANTIATE_TEST_SUITE_P(
    PluginSelectors, PrepareSpace,
    ::testing::Values(PrepareCase{plugInModeGrayScale, 640, 480, false, 1 << 30},
                      PrepareCase{plugInModeRGBColor, 640, 480, false, 1 << 30},
                      PrepareCase{plugInModeRGBColor, 640, 480, true, 1 << 30},
                      PrepareCase{plugInModeGray16, 3000, 2000, false, 1 << 30},
                      PrepareCase{plugInModeRGB48, 3000, 2000, true, 1 << 30},
                      PrepareCase{plugInModeGray32, 1500, 900, true, 1 << 30},
                      PrepareCase{plugInModeRGB96, 5000, 4000, false, 1 << 30},
                      PrepareCase{plugInModeRGBColor, 2048, 2048, false, 1000000},  // below the tile: kept
                      PrepareCase{plugInModeRGB48, 7, 3, false, 1 << 30}));

TEST_F(PluginSelectors, PrepareCapsTheBufferSpaceOfAHuge16BitImageAtExactlyOneBillion) {
    host.document = MakeSimDocument(plugInModeRGB48, 30000, 30000);
    host.options.maxSpace = 2000000000;
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Run().bufferSpace, 1000000000);
    EXPECT_EQ(host.Run().maxSpace, 2 * 1024 * 1024 * 3);
    EXPECT_FALSE(host.document.Allocated()) << "prepare needs no pixels";
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

TEST_F(PluginSelectors, PrepareCountsAnUnknownModeAsOneByteAndSaysSo) {
    CapturedReports reports;
    host.document = MakeSimDocument(20, 100, 100);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Run().bufferSpace, 16 * (100 * 100 + 1250000));
    EXPECT_TRUE(reports.Contains("Error:  Unrecognized image mode.")) << Joined(reports.Lines());
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

// ---------------------------------------------------------------------------
// Big documents
// ---------------------------------------------------------------------------

TEST_F(PluginSelectors, WithBigDocumentDataTheFilterRectangleIsReadInItsThirtyTwoBitForm) {
    host.document = MakeSimDocument(plugInModeGrayScale, 40000, 10);  // wider than a 16-bit rectangle
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.BigDocument()->PluginUsing32BitCoordinates, 1);
    EXPECT_EQ(host.Run().bufferSpace, 16 * (40000 * 10 + 1250000));
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

TEST_F(PluginSelectors, ContinueClearsTheThirtyTwoBitRectanglesWhenTheHostOffersThem) {
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    BigDocumentStruct* big = host.BigDocument();
    ASSERT_NE(big, nullptr);
    ASSERT_EQ(big->PluginUsing32BitCoordinates, 1);
    big->inRect32 = VRect{0, 0, 10, 20};
    big->outRect32 = VRect{5, 5, 15, 25};
    big->maskRect32 = VRect{1, 2, 3, 4};
    ASSERT_EQ(host.Call(filterSelectorContinue), noErr);
    for (const VRect& r : {big->inRect32, big->outRect32, big->maskRect32}) {
        EXPECT_EQ(r.top, 0);
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.bottom, 0);
        EXPECT_EQ(r.right, 0);
    }
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
    EXPECT_TRUE(host.EndRun().used32BitCoordinates);
}

class ShortRecordHost : public PluginSelectors, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ShortRecordHost, WorksWithSixteenBitRectanglesAndNeverWritesPastTheRecord) {
    host.options.recordSize = GetParam();
    host.options.bigDocument = false;  // a 556-byte record has none anyway
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Record()->bigDocumentData, nullptr);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Run().bufferSpace, 16 * (64 * 48 + 1250000));
    host.Record()->inRect = Rect{0, 0, 10, 20};
    host.Record()->outRect = Rect{0, 0, 10, 20};
    host.Record()->maskRect = Rect{0, 0, 10, 20};
    ASSERT_EQ(host.Call(filterSelectorContinue), noErr);
    const Rect rects[] = {host.Record()->inRect, host.Record()->outRect, host.Record()->maskRect};
    for (const Rect& r : rects) EXPECT_TRUE(r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0);
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
    // Writes past a 556-byte record would be reported by the host's guard bytes.
}

INSTANTIATE_TEST_SUITE_P(PluginSelectors, ShortRecordHost, ::testing::Values(556u, 608u));

// ---------------------------------------------------------------------------
// Start, as far as it goes today
// ---------------------------------------------------------------------------

TEST_F(PluginSelectors, StartSetsTheWatchPropertyThroughThePropertySuite) {
    RunLog run = host.RunFilter();
    const auto& properties = run.properties;
    ASSERT_EQ(properties.size(), 1u);
    EXPECT_TRUE(properties[0].set);
    EXPECT_EQ(properties[0].signature, FourCC("8BIM"));
    EXPECT_EQ(properties[0].key, FourCC("wtch"));
    EXPECT_EQ(properties[0].index, 0);
    EXPECT_EQ(properties[0].value, 1);
    EXPECT_EQ(properties[0].selector, filterSelectorStart);
}

TEST_F(PluginSelectors, StartWithoutThePropertySuiteSetsNothingAndGoesOn) {
    host.options.offerPropertySuite = false;
    RunLog run = host.RunFilter();
    EXPECT_TRUE(run.properties.empty());
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    EXPECT_EQ(run.Acquisitions(PROPERTY_SUITE_NAME), 0);
}

// A whole run: the image is read, analysed, rendered and written back, and
// the host gets every rectangle empty and every suite back.
TEST_F(PluginSelectors, AWholeRunCompletesAndTearsDownCleanly) {
    CapturedReports reports;
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorParameters), noErr);
    EXPECT_EQ(run.Result(filterSelectorPrepare), noErr);
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    // One request each (every plane of the one tile together): read, written back, released.
    EXPECT_EQ(run.advanceStateCalls, 3);
    EXPECT_EQ(run.Result(filterSelectorFinish), noErr);
    EXPECT_FALSE(reports.Contains("not available in this build")) << Joined(reports.Lines());
    EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
    EXPECT_EQ(run.Acquisitions(PROPERTY_SUITE_NAME), run.Releases(PROPERTY_SUITE_NAME));
    EXPECT_EQ(run.Acquisitions(ERROR_SUITE_NAME), run.Releases(ERROR_SUITE_NAME));
    // The handles stay with the host for the next run, unlocked.
    EXPECT_TRUE(host.HandleAlive(host.Parameters()));
    EXPECT_EQ(host.HandleLockCount(host.Parameters()), 0);
}

TEST_F(PluginSelectors, RepeatedRunsStartAfreshAndKeepTheHostsHandles) {
    RunLog first = host.RunFilter();
    ASSERT_EQ(first.Result(filterSelectorStart), noErr);
    const Handle parameters = host.Parameters();
    const intptr_t data = host.DataSlot();

    // The "last filter" command: no parameters selector.
    host.options.callParameters = false;
    for (int i = 0; i < 3; i++) {
        RunLog run = host.RunFilter();
        EXPECT_FALSE(run.Called(filterSelectorParameters));
        EXPECT_EQ(run.Result(filterSelectorPrepare), noErr);
        EXPECT_EQ(run.Result(filterSelectorStart), noErr);
        EXPECT_EQ(run.Acquisitions(PROPERTY_SUITE_NAME), 1) << "run " << i;
        EXPECT_EQ(run.Releases(PROPERTY_SUITE_NAME), 1) << "run " << i;
        ASSERT_EQ(run.properties.size(), 1u);
        EXPECT_EQ(host.Parameters(), parameters);
        EXPECT_EQ(host.DataSlot(), data);
    }
}

TEST_F(PluginSelectors, AHostThatKeepsNothingBetweenRunsGetsFreshHandlesEachTime) {
    host.options.keepDataSlot = false;
    host.options.keepParameters = false;
    host.options.callParameters = false;
    for (int i = 0; i < 2; i++) {
        RunLog run = host.RunFilter();
        EXPECT_EQ(run.Result(filterSelectorPrepare), noErr);
        EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    }
}

TEST_F(PluginSelectors, AHostWithoutSuitesOrScriptingStillRuns) {
    host.options.offerBasicSuite = false;
    host.options.offerDescriptorParameters = false;
    host.options.offerErrorString = false;
    host.options.offerPlatformData = false;
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorParameters), noErr);
    EXPECT_EQ(run.Result(filterSelectorPrepare), noErr);
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    EXPECT_TRUE(run.suites.empty());
}

// ---------------------------------------------------------------------------
// Where a run's parameters come from and where they go
// ---------------------------------------------------------------------------

std::vector<uint8_t> BlockOf(const FilterParameters& record) {
    std::vector<uint8_t> block(PARAMETER_BLOCK_SIZE, 0);
    std::memcpy(block.data(), &record, sizeof record);
    return block;
}

SimDescriptor RegistryEntryOf(const FilterParameters& record) {
    SimDescriptor entry;
    entry.Data(FourCC("PBlk"), BlockOf(record));
    return entry;
}

// Writes into the kept parameters handle, as the dialog would have.
void SetSlotInHandle(HostSimulator& host, int slot, int16_t value) {
    ASSERT_TRUE(host.HandleAlive(host.Parameters()));
    std::memcpy(*host.Parameters() + 2 * slot, &value, 2);
}

TEST_F(PluginSelectors, FinishRecordsTheFourteenKeysAndRemembersTheBlockInTheRegistry) {
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    SetSlotInHandle(host, SLOT_ANGLE, -123);
    SetSlotInHandle(host, SLOT_NUMBER_OF_POINTS, 7);
    ASSERT_EQ(host.Call(filterSelectorFinish), noErr);
    const RunLog& run = host.EndRun();

    ASSERT_TRUE(run.wroteDescriptor);
    const std::vector<SimDescriptorItem>& items = run.writtenDescriptor.items;
    const char* const order[] = {"opsO", "qntY", "Intn", "Lngt", "Angl", "numP", "spsH",
                                 "Strt", "H   ", "rbwI", "rbwF", "sspI", "sflB", "rflB"};
    ASSERT_EQ(items.size(), 14u) << DescribeSimDescriptor(run.writtenDescriptor);
    for (size_t i = 0; i < 14; i++) {
        const char* key = order[i];
        EXPECT_EQ(items[i].key, FourCC({key[0], key[1], key[2], key[3], 0})) << "key " << i;
    }
    const SimDescriptorItem* angle = run.writtenDescriptor.Find(FourCC("Angl"));
    ASSERT_NE(angle, nullptr);
    EXPECT_EQ(angle->type, typeUnitFloat);
    EXPECT_EQ(angle->unit, unitAngle);
    EXPECT_DOUBLE_EQ(angle->number, -12.3);
    const SimDescriptorItem* points = run.writtenDescriptor.Find(FourCC("numP"));
    ASSERT_NE(points, nullptr);
    EXPECT_EQ(points->type, typeInteger);
    EXPECT_EQ(points->integer, 7);

    const auto registry = host.RegistryEntries();
    ASSERT_EQ(registry.count(kFilterUniqueString), 1u);
    const SimDescriptorItem* block = registry.at(kFilterUniqueString).Find(FourCC("PBlk"));
    ASSERT_NE(block, nullptr);
    FilterParameters expected = FACTORY_PARAMETERS;
    expected.slot[SLOT_ANGLE] = -123;
    expected.slot[SLOT_NUMBER_OF_POINTS] = 7;
    EXPECT_EQ(block->data, BlockOf(expected));
}

TEST_F(PluginSelectors, StartTakesTheParametersRememberedInTheRegistry) {
    FilterParameters remembered = FACTORY_PARAMETERS;
    remembered.slot[SLOT_INTENSITY] = 77;
    remembered.slot[SLOT_COLOR_HUE] = -40;
    host.SetRegistryEntry(kFilterUniqueString, RegistryEntryOf(remembered), true);
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    EXPECT_TRUE(SameRecord(ParametersInHandle(), remembered));
}

TEST_F(PluginSelectors, WithoutARegistryStartTakesTheLastSavedParameters) {
    host.options.offerRegistrySuite = false;
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    SetSlotInHandle(host, SLOT_LENGTH, 66);
    ASSERT_EQ(host.Call(filterSelectorFinish), noErr);  // writes the last-saved file
    host.EndRun();

    HostSimulator next(PluginMain);  // a new host session without the handles
    next.options.offerRegistrySuite = false;
    next.document = MakeSimDocument(plugInModeGrayScale, 20, 20);
    RunLog run = next.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    FilterParameters record;
    std::memcpy(&record, next.HandleBytes(next.Parameters()).data(), sizeof record);
    EXPECT_EQ(record.slot[SLOT_LENGTH], 66);
    EXPECT_TRUE(next.Violations().empty()) << Joined(next.Violations());
}

TEST_F(PluginSelectors, AnUnconvertibleRegistryEntryFallsBackToTheFactoryRecordNotTheLastSavedFile) {
    // A last-saved file that differs from the factory record.
    host.options.offerRegistrySuite = false;
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    SetSlotInHandle(host, SLOT_LENGTH, 66);
    ASSERT_EQ(host.Call(filterSelectorFinish), noErr);
    host.EndRun();

    FilterParameters ancient = FACTORY_PARAMETERS;
    ancient.slot[SLOT_BUILD] = 2;  // no conversion exists for build 2
    ancient.slot[SLOT_LENGTH] = 99;
    host.options.offerRegistrySuite = true;
    host.SetRegistryEntry(kFilterUniqueString, RegistryEntryOf(ancient), true);
    host.options.callParameters = false;
    SetSlotInHandle(host, SLOT_LENGTH, 12);
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    EXPECT_TRUE(SameRecord(ParametersInHandle(), FACTORY_PARAMETERS));
}

TEST_F(PluginSelectors, AReplayedDescriptorIsAppliedOverTheFactoryValues) {
    host.options.offerRegistrySuite = false;
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Call(filterSelectorFinish), noErr);
    host.EndRun();
    ASSERT_NE(host.RecordedDescriptor(), nullptr) << "finish recorded no descriptor";
    SimDescriptor recorded = *host.RecordedDescriptor();
    recorded.UnitFloat(FourCC("Angl"), unitAngle, 12.35);  // becomes 123 tenths
    recorded.UnitFloat(FourCC("Intn"), unitPercent, 81.9);  // truncated to 81
    recorded.Integer(FourCC("numP"), 9);

    // Replayed silently: the host's handle held other values, the descriptor wins.
    host.options.callParameters = false;
    host.options.playInfo = PLAY_INFO_SILENT;
    host.PlayDescriptor(recorded);
    SetSlotInHandle(host, SLOT_INTENSITY, 5);
    SetSlotInHandle(host, SLOT_SOFT_FLARE_INTENSITY, 5);
    ShownMessageBoxes().clear();
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    FilterParameters expected = FACTORY_PARAMETERS;
    expected.slot[SLOT_ANGLE] = 123;
    expected.slot[SLOT_INTENSITY] = 81;
    expected.slot[SLOT_NUMBER_OF_POINTS] = 9;
    EXPECT_TRUE(SameRecord(ParametersInHandle(), expected));
    EXPECT_TRUE(ShownMessageBoxes().empty()) << "a complete descriptor warns about nothing";
}

// ---------------------------------------------------------------------------
// About
// ---------------------------------------------------------------------------

TEST_F(PluginSelectors, AboutWorksWithoutSPBasicAndTearsDown) {
    host.options.offerBasicSuite = false;
    RunLog run = host.RunAbout();
    EXPECT_EQ(run.Result(filterSelectorAbout), noErr);
    EXPECT_TRUE(run.suites.empty());
}

TEST_F(PluginSelectors, AboutAcquiresNoSuitesAndLeavesTheHandlesAlone) {
    RunLog run = host.RunAbout();
    EXPECT_EQ(run.Result(filterSelectorAbout), noErr);
    EXPECT_TRUE(run.suites.empty());
    EXPECT_EQ(host.DataSlot(), 0);
}

TEST_F(PluginSelectors, AboutInsideAnUnfinishedRunGivesBackTheSuitesTheRunTook) {
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Run().Acquisitions(PROPERTY_SUITE_NAME), 1);
    EXPECT_EQ(host.Call(filterSelectorAbout), noErr);
    EXPECT_EQ(host.Run().Releases(PROPERTY_SUITE_NAME), 1);
    EXPECT_EQ(host.Run().Releases(ERROR_SUITE_NAME), 1);
}

TEST_F(PluginSelectors, AboutBetweenRunsDoesNotDisturbTheNextRun) {
    host.RunFilter();
    host.RunAbout();
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorStart), noErr);
    EXPECT_EQ(run.Acquisitions(PROPERTY_SUITE_NAME), 1);
}

}  // namespace

namespace {
SimDescriptor NoEffects() {
    FilterParameters p = FACTORY_PARAMETERS;
    p.slot[SLOT_INTENSITY] = p.slot[SLOT_SECONDARY_SPIKE_INTENSITY] = 0;
    p.slot[SLOT_SOFT_FLARE_INTENSITY] = p.slot[SLOT_RING_FLARE_INTENSITY] = 0;
    return DescriptorOfRecord(p);
}
}  // namespace

// A run that draws nothing hands every sample back exactly as it came, at
// every depth, with transparency and a selection.
TEST_F(PluginSelectors, ARunThatDrawsNothingReturnsEverySampleUnchanged) {
    for (int16 mode : {plugInModeRGBColor, plugInModeRGB48, plugInModeRGB96, plugInModeGrayScale, plugInModeGray16,
                       plugInModeGray32}) {
        host.document = MakeSimDocument(mode, 70, 50, true, true);
        FillSkyPattern(host.document, 11);
        SetEllipticSelection(host.document);
        const auto before = host.document.planes;
        host.options.callParameters = false;
        host.options.playInfo = PLAY_INFO_SILENT;
        host.PlayDescriptor(NoEffects());
        RunLog run = host.RunFilter();
        ASSERT_EQ(run.Result(filterSelectorStart), noErr) << SimModeName(mode);
        ASSERT_EQ(host.document.planes.size(), before.size());
        for (size_t p = 0; p < before.size(); p++)
            EXPECT_TRUE(host.document.planes[p] == before[p]) << SimModeName(mode) << " plane " << p;
    }
}

// A cancel at any progress step ends the run with -128 and no violation, and
// the host gets its image back as it was.
TEST_F(PluginSelectors, ACancelAtAnyProgressStepEndsTheRunCleanly) {
    for (int32 step : {0, 1, 3, 8, 30}) {
        host.document = MakeSimDocument(plugInModeRGB48, 120, 90);
        FillSkyPattern(host.document, 4);
        const auto before = host.document.planes;
        host.options.cancelAtProgressCall = step;
        RunLog run = host.RunFilter();
        if (run.cancelled) {
            EXPECT_EQ(run.Result(filterSelectorStart), userCanceledErr) << "step " << step;
            EXPECT_FALSE(run.Called(filterSelectorFinish));
        } else {
            EXPECT_EQ(run.Result(filterSelectorStart), noErr) << "step " << step << " lies past the last one";
        }
        if (run.cancelled) {
            EXPECT_TRUE(host.document.planes == before) << "step " << step;
        }
        EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
    }
}
