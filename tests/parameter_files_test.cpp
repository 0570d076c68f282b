// Parameter files, the last-saved set and the interface settings file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "params/filter_parameters.h"
#include "params/parameter_files.h"
#include "params/user_data_folders.h"
#include "support/os.h"
#include "tests/test_support.h"

namespace {

std::string Block(int16_t major, int16_t minor, int16_t revision, int16_t build, int16_t fill) {
    std::string bytes(PARAMETER_BLOCK_SIZE, '\0');
    int16_t slots[18];
    for (int i = 0; i < 18; i++) slots[i] = fill;
    slots[0] = major;
    slots[1] = minor;
    slots[2] = revision;
    slots[3] = build;
    std::memcpy(&bytes[0], slots, sizeof(slots));
    return bytes;
}

int16_t SlotOf(const std::vector<uint8_t>& bytes, int slot) {
    int16_t v;
    std::memcpy(&v, bytes.data() + 2 * slot, 2);
    return v;
}

class ParameterFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeUserDataFolder());
        ASSERT_TRUE(GetUserSettingsFolder(settings));
        ASSERT_TRUE(GetUserParametersFolder(parameters));
        EmptyFolder(settings);
        EmptyFolder(parameters);
        elsewhere = OsJoinPath(TestScratchFolder(), "imports");
        OsCreateDirectoryTree(elsewhere);
        EmptyFolder(elsewhere);
        record = FACTORY_PARAMETERS;
        SetCurrentParameterRecord(&record);
    }
    void TearDown() override { SetCurrentParameterRecord(nullptr); }
    std::string settings, parameters, elsewhere;
    FilterParameters record;
};

}  // namespace

TEST_F(ParameterFiles, AFirstRunFindsNeitherFileAndKeepsDefaults) {
    CapturedReports reports;
    EXPECT_FALSE(LoadLastSavedParameters());
    InterfaceSettings ui = DefaultInterfaceSettings();
    EXPECT_FALSE(LoadInterfaceSettings(&ui));
    EXPECT_EQ(ui.previewTool, PREVIEW_TOOL_ZOOM);
    EXPECT_EQ(ui.previewChecked, 1);
    EXPECT_EQ(ui.windowRect[0] | ui.windowRect[1] | ui.windowRect[2] | ui.windowRect[3], 0);
    EXPECT_EQ(std::memcmp(&record, &FACTORY_PARAMETERS, sizeof(record)), 0);
    EXPECT_TRUE(reports.Contains("LastSavedParameters.rlp' does not yet exist. "));
    EXPECT_TRUE(reports.Contains("UISettings.bin' does not yet exist. "));
    for (const auto& line : reports.Lines()) EXPECT_EQ(line.find("User Message"), std::string::npos) << line;
}

TEST_F(ParameterFiles, LastSavedRoundTripAndConversion) {
    record.slot[SLOT_QUANTITY] = 77;
    record.slot[SLOT_ANGLE] = -450;
    ASSERT_TRUE(SaveLastSavedParameters());
    auto bytes = ReadWholeFile(OsJoinPath(settings, "LastSavedParameters.rlp"));
    ASSERT_EQ(bytes.size(), PARAMETER_BLOCK_SIZE);
    EXPECT_EQ(SlotOf(bytes, SLOT_QUANTITY), 77);
    record = FACTORY_PARAMETERS;
    ASSERT_TRUE(LoadLastSavedParameters());
    EXPECT_EQ(record.slot[SLOT_QUANTITY], 77);
    EXPECT_EQ(record.slot[SLOT_ANGLE], -450);

    ASSERT_TRUE(WriteWholeFile(OsJoinPath(settings, "LastSavedParameters.rlp"), Block(0, 0, 0, 5, 20)));
    ASSERT_TRUE(LoadLastSavedParameters());
    EXPECT_EQ(record.slot[SLOT_BUILD], 6);
    EXPECT_EQ(record.slot[SLOT_COLOR_HUE], 20);
    EXPECT_EQ(record.slot[SLOT_RING_FLARE_INTENSITY], 0);

    CapturedReports reports;
    ASSERT_TRUE(WriteWholeFile(OsJoinPath(settings, "LastSavedParameters.rlp"), Block(0, 0, 0, 2, 20)));
    EXPECT_FALSE(LoadLastSavedParameters());
    EXPECT_TRUE(reports.Contains("'Debug:  Warning' - 'No parameter file conversion could be done, using defaults.  "
                                 "Stored version = 0.0.0.2, current version = 0.0.0.6"));
    ASSERT_TRUE(WriteWholeFile(OsJoinPath(settings, "LastSavedParameters.rlp"), std::string(20, '\0')));
    EXPECT_FALSE(LoadLastSavedParameters());  // too short to hold a record
}

TEST_F(ParameterFiles, AnOlderFileInTheFolderIsConvertedAndRewritten) {
    std::string path = OsJoinPath(parameters, "Old Set.rlp");
    ASSERT_TRUE(WriteWholeFile(path, Block(0, 0, 0, 5, 33)));
    CapturedReports reports;
    void* block = CheckParameterFileInFolder(path);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<int16_t*>(block)[SLOT_BUILD], 6);
    FreeParameterBlock(block);
    auto bytes = ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), PARAMETER_BLOCK_SIZE);
    EXPECT_EQ(SlotOf(bytes, SLOT_BUILD), 6);
    EXPECT_EQ(SlotOf(bytes, SLOT_COLOR_HUE), 33);
    EXPECT_TRUE(reports.Contains("User Message: 'Parameter Set Conversion' - 'Your Parameter Set file '" + path +
                                 "' was saved in an older format and has been converted."));
}

TEST_F(ParameterFiles, TheSameFileImportedFromElsewhereIsLeftAsItWas) {
    std::string path = OsJoinPath(elsewhere, "Old Set.rlp");
    std::string original = Block(0, 0, 0, 5, 33);
    ASSERT_TRUE(WriteWholeFile(path, original));
    EXPECT_FALSE(IsInParametersFolder(path));
    CapturedReports reports;
    void* block = CheckImportedParameterFile(path);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<int16_t*>(block)[SLOT_BUILD], 6);
    FreeParameterBlock(block);
    auto bytes = ReadWholeFile(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), original);
    EXPECT_TRUE(reports.Contains("You may want to look over the loaded settings as a double-check."));
}

TEST_F(ParameterFiles, ObsoleteAndInvalidFilesAreDeletedOnlyInTheFolder) {
    std::string inside = OsJoinPath(parameters, "Ancient.rlp");
    std::string outside = OsJoinPath(elsewhere, "Ancient.rlp");
    ASSERT_TRUE(WriteWholeFile(inside, Block(0, 0, 0, 1, 10)));
    ASSERT_TRUE(WriteWholeFile(outside, Block(0, 0, 0, 1, 10)));
    EXPECT_TRUE(IsInParametersFolder(inside));
    CapturedReports reports;
    EXPECT_EQ(CheckParameterFileInFolder(inside), nullptr);
    EXPECT_FALSE(OsFileExists(inside));
    EXPECT_TRUE(reports.Contains("(Major Version = '0', Minor Version = '0', Revision = '0', Build = '1')was saved in "
                                 "an obsolete format and cannot be converted. The file will be deleted."));
    EXPECT_EQ(CheckImportedParameterFile(outside), nullptr);
    EXPECT_TRUE(OsFileExists(outside));
    EXPECT_TRUE(reports.Contains("cannot be converted.  Your current settings have not been changed."));

    std::string shortInside = OsJoinPath(parameters, "Short.rlp");
    ASSERT_TRUE(WriteWholeFile(shortInside, std::string(35, '\0')));
    EXPECT_EQ(CheckParameterFileInFolder(shortInside), nullptr);
    EXPECT_FALSE(OsFileExists(shortInside));
    EXPECT_TRUE(reports.Contains("User Message: 'Invalid Parameter Set' - 'Your Parameter Set file '" + shortInside +
                                 "' is invalid and cannot be used. The file is being deleted."));
}

TEST_F(ParameterFiles, CurrentFilesAreTakenAsTheyAreAndTheirTailIgnored) {
    std::string path = OsJoinPath(parameters, "Fine.rlp");
    std::string bytes = Block(0, 0, 0, 6, 12);
    bytes[200] = 'x';  // meaningless tail
    ASSERT_TRUE(WriteWholeFile(path, bytes));
    void* block = CheckParameterFileInFolder(path);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<int16_t*>(block)[SLOT_INTENSITY], 12);
    EXPECT_EQ(static_cast<uint8_t*>(block)[200], 0);
    FreeParameterBlock(block);
}

TEST_F(ParameterFiles, AFailedWriteLeavesThePreviousFile) {
    std::string path = OsJoinPath(parameters, "Keep.rlp");
    ASSERT_TRUE(WriteWholeFile(path, Block(0, 0, 0, 6, 1)));
    // The write goes through a temporary file of its own; a full disk makes it fail.
    std::string replacement = Block(0, 0, 0, 6, 99);
    CapturedReports reports;
    SetSettingsWriteFailureForTesting(true);
    EXPECT_FALSE(WriteParameterFile(replacement.data(), path));
    SetSettingsWriteFailureForTesting(false);
    auto bytes = ReadWholeFile(path);
    EXPECT_EQ(SlotOf(bytes, SLOT_INTENSITY), 1);
    EXPECT_TRUE(reports.Contains("fwrite() failed with FilePath = '" + path + "'  and  error = "));
    EXPECT_FALSE(reports.Contains("error = 'Success'"));
    std::vector<std::string> left;
    OsFindFiles(parameters, "Keep.rlp.new*", left);
    EXPECT_TRUE(left.empty()) << "a temporary file stayed behind";
}

TEST_F(ParameterFiles, InterfaceSettingsRoundTripAndStampCheck) {
    InterfaceSettings ui = DefaultInterfaceSettings();
    ui.windowRect[0] = 10;
    ui.windowRect[1] = 20;
    ui.windowRect[2] = 810;
    ui.windowRect[3] = 620;
    ui.previewTool = PREVIEW_TOOL_HIDE;
    ui.previewChecked = 0;
    ASSERT_TRUE(WriteInterfaceSettings(ui));
    auto bytes = ReadWholeFile(OsJoinPath(settings, "UISettings.bin"));
    ASSERT_EQ(bytes.size(), 52u);
    EXPECT_EQ(SlotOf(bytes, 3), 9);
    int32_t tool;
    std::memcpy(&tool, bytes.data() + 24, 4);
    EXPECT_EQ(tool, PREVIEW_TOOL_HIDE);
    InterfaceSettings back = DefaultInterfaceSettings();
    ASSERT_TRUE(LoadInterfaceSettings(&back));
    EXPECT_EQ(back.windowRect[2], 810);
    EXPECT_EQ(back.previewChecked, 0);

    bytes[6] = 8;  // stamp 0.0.0.8
    ASSERT_TRUE(WriteWholeFile(OsJoinPath(settings, "UISettings.bin"), std::string(bytes.begin(), bytes.end())));
    InterfaceSettings kept = DefaultInterfaceSettings();
    CapturedReports reports;
    EXPECT_FALSE(LoadInterfaceSettings(&kept));
    EXPECT_EQ(kept.previewTool, PREVIEW_TOOL_ZOOM);
    EXPECT_TRUE(reports.Contains("User Setting File version mismatch. File Version = '0','0','0','8'"));
}

TEST_F(ParameterFiles, NamesAndPaths) {
    EXPECT_EQ(ParameterFileBaseName(OsJoinPath(parameters, "My.Set.rlp")), "My");
    EXPECT_EQ(ParameterFileBaseName("plain"), "plain");
    EXPECT_EQ(ParameterFilePath("alpha"), OsJoinPath(parameters, "alpha.rlp"));
    ResetUserDataFolders();
    CapturedReports reports;
    EXPECT_TRUE(ParameterFilePath("alpha").empty());
    uint8_t block[PARAMETER_BLOCK_SIZE];
    EXPECT_FALSE(ReadParameterFile(OsJoinPath(parameters, "x.rlp"), block));
    EXPECT_TRUE(reports.Contains("GetUserParametersFolder() failed."));
}

TEST_F(ParameterFiles, AnOversizedFileIsReadAsItsFirstBlock) {
    std::string path = OsJoinPath(parameters, "Big.rlp");
    std::string bytes = Block(0, 0, 0, 6, 44) + std::string(500, 'x');
    ASSERT_TRUE(WriteWholeFile(path, bytes));
    void* block = CheckParameterFileInFolder(path);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<int16_t*>(block)[SLOT_INTENSITY], 44);
    EXPECT_EQ(static_cast<uint8_t*>(block)[254], 0);  // nothing of the excess is kept
    FreeParameterBlock(block);
}
