// The scripting descriptor and registry through the host simulator: partial
// and empty descriptors, older registry blocks, and a record-replay round trip.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/plugin_state.h"
#include "host/resource_description.h"
#include "host/scripting.h"
#include "params/filter_parameters.h"
#include "tests/test_support.h"
#include "tools/hostsim/host_simulator.h"

extern "C" void PluginMain(int16 selector, void* block, intptr_t* data, int16* result);

namespace {

class Scripting : public ::testing::Test {
protected:
    void SetUp() override {
        current = FACTORY_PARAMETERS;
        current.slot[SLOT_LENGTH] = 99;  // a value in use that a replay must not keep
        SetCurrentParameterRecord(&current);
        host.document = MakeSimDocument(plugInModeRGBColor, 32, 24);
    }
    void TearDown() override {
        if (host.InRun()) host.EndRun();
        SetCurrentParameterRecord(nullptr);
    }
    // Reads the descriptor the host replays, as the start selector does.
    int16 Read(int16 playInfo, const SimDescriptor& d, uint8_t* show) {
        host.options.playInfo = playInfo;
        host.PlayDescriptor(d);
        host.BeginRun();
        int16 result = ReadScriptingDescriptor(host.Record(), show, "C:\\Editor\\editor.exe");
        errorString = host.Record()->errorString ? std::string(reinterpret_cast<char*>(*host.Record()->errorString) + 1,
                                                               (*host.Record()->errorString)[0])
                                                 : std::string();
        host.EndRun();
        return result;
    }
    FilterParameters current;
    std::string errorString;
    HostSimulator host{PluginMain};
};

SimDescriptor Partial() {
    SimDescriptor d;
    d.UnitFloat(FourCC("qntY"), FourCC("#Prc"), 77).UnitFloat(FourCC("Intn"), FourCC("#Prc"), 12);
    return d;
}

const char kIncomplete[] =
    "The settings provided by the editor do not match the expected set.  Some settings may have been set to defaults.";

}  // namespace

TEST_F(Scripting, APartialDescriptorWarnsTakesFactoryValuesAndAsksForTheDialog) {
    for (int16 playInfo : {PLAY_INFO_DONT_DISPLAY, PLAY_INFO_DISPLAY}) {
        CapturedReports reports;
        current.slot[SLOT_LENGTH] = 99;
        uint8_t show = 0;
        ASSERT_EQ(Read(playInfo, Partial(), &show), 0);
        EXPECT_EQ(show, 1) << playInfo;
        EXPECT_EQ(current.slot[SLOT_QUANTITY], 77);
        EXPECT_EQ(current.slot[SLOT_INTENSITY], 12);
        EXPECT_EQ(current.slot[SLOT_LENGTH], 50);  // the factory value, not the one in use
        EXPECT_TRUE(reports.Contains(std::string("User Message: 'Incomplete Settings' - '") + kIncomplete));
    }
    uint8_t show = 1;
    ASSERT_EQ(Read(PLAY_INFO_SILENT, Partial(), &show), 0);
    EXPECT_EQ(show, 0);
    EXPECT_EQ(errorString, kIncomplete);  // 112 characters as a Pascal string
}

TEST_F(Scripting, AnEmptyDescriptorWarnsAboutNothing) {
    CapturedReports reports;
    uint8_t show = 0;
    ASSERT_EQ(Read(PLAY_INFO_DONT_DISPLAY, SimDescriptor(), &show), 0);
    EXPECT_EQ(show, 1);
    EXPECT_FALSE(reports.Contains("Incomplete Settings"));
    EXPECT_EQ(current.slot[SLOT_LENGTH], 50);
}

TEST_F(Scripting, AnUnknownKeyMakesTheSettingsIncomplete) {
    CapturedReports reports;
    SimDescriptor d = Partial();
    d.Integer(FourCC("zzzz"), 3);
    uint8_t show = 0;
    ASSERT_EQ(Read(PLAY_INFO_DISPLAY, d, &show), 0);
    EXPECT_TRUE(reports.Contains("Incomplete Settings"));
}

TEST_F(Scripting, ARegistryBlockOfBuildFourIsConvertedAndApplied) {
    FilterParameters old = FACTORY_PARAMETERS;
    old.slot[SLOT_BUILD] = 4;
    old.slot[SLOT_INTENSITY] = 64;
    old.slot[SLOT_ANGLE] = 300;
    std::vector<uint8_t> block(PARAMETER_BLOCK_SIZE, 0);
    std::memcpy(block.data(), &old, sizeof old);
    SimDescriptor entry;
    entry.Data(FourCC("PBlk"), block);
    host.SetRegistryEntry(kFilterUniqueString, entry, true);
    host.BeginRun();
    EXPECT_EQ(ReadRegistryParameters(host.Record()), 0);
    host.EndRun();
    EXPECT_EQ(current.slot[SLOT_BUILD], 6);
    EXPECT_EQ(current.slot[SLOT_ANGLE], 300);
    EXPECT_EQ(current.slot[SLOT_QUANTITY], 64);  // build 4 had no Quantity: it takes the Intensity
    EXPECT_EQ(current.slot[SLOT_RING_FLARE_INTENSITY], 0);
}

TEST_F(Scripting, ARecordedRunReplaysToExactlyTheSameParameters) {
    SetCurrentParameterRecord(nullptr);
    host.options.offerRegistrySuite = false;
    // Record: the user's values go into the host's handle, and finish writes them.
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    FilterParameters chosen = FACTORY_PARAMETERS;
    const int16_t values[14] = {77, 23, -455, 9, 61, -40, 12, 88, 5, 70, 1, 35, 55, 17};
    for (int i = 0; i < 14; i++) chosen.slot[FIRST_VALUE_SLOT + i] = values[i];
    std::vector<uint8_t> bytes(sizeof chosen);
    std::memcpy(bytes.data(), &chosen, sizeof chosen);
    std::memcpy(*host.Parameters(), bytes.data(), bytes.size());
    ASSERT_EQ(host.Call(filterSelectorFinish), noErr);
    host.EndRun();
    ASSERT_NE(host.RecordedDescriptor(), nullptr);
    SimDescriptor recorded = *host.RecordedDescriptor();

    // Replay in a new host session: nothing kept but the descriptor.
    HostSimulator replay(PluginMain);
    replay.options.offerRegistrySuite = false;
    replay.options.callParameters = false;
    replay.options.playInfo = PLAY_INFO_SILENT;
    replay.document = MakeSimDocument(plugInModeGray16, 24, 16);
    replay.PlayDescriptor(recorded);
    RunLog run = replay.RunFilter();
    ASSERT_EQ(run.Result(filterSelectorStart), noErr);
    FilterParameters replayed;
    std::memcpy(&replayed, replay.HandleBytes(replay.Parameters()).data(), sizeof replayed);
    EXPECT_EQ(std::memcmp(&replayed.slot[FIRST_VALUE_SLOT], &chosen.slot[FIRST_VALUE_SLOT], 28), 0);
    ASSERT_TRUE(run.wroteDescriptor);
    EXPECT_TRUE(run.writtenDescriptor == recorded) << DescribeSimDescriptor(run.writtenDescriptor);
}
