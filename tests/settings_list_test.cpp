// The settings list: filling from the Parameters folder, choosing and
// re-checking, Save / Load / Delete.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "params/filter_parameters.h"
#include "params/parameter_files.h"
#include "params/settings_list.h"
#include "params/user_data_folders.h"
#include "support/os.h"
#include "tests/test_support.h"

namespace {

// A 255-byte file image: the stamp, every value slot set to `fill`, zeros after.
std::string FileBytes(int16_t build, int16_t fill) {
    std::string bytes(PARAMETER_BLOCK_SIZE, '\0');
    int16_t slots[PARAMETER_SLOT_COUNT];
    for (int i = 0; i < PARAMETER_SLOT_COUNT; i++) slots[i] = fill;
    slots[SLOT_MAJOR_VERSION] = 0;
    slots[SLOT_MINOR_VERSION] = 0;
    slots[SLOT_REVISION] = 0;
    slots[SLOT_BUILD] = build;
    std::memcpy(&bytes[0], slots, sizeof(slots));
    return bytes;
}

int16_t SlotOf(const void* bytes, int slot) {
    int16_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(bytes) + 2 * slot, 2);
    return v;
}

std::vector<std::string> Texts(const SettingsList& list) {
    std::vector<std::string> texts;
    for (const auto& item : list.items) texts.push_back(item.text);
    return texts;
}

int gBoxAnswer = 1;
int AnswerBox(OsWindow, const char* text, const char* caption, uint32_t style) {
    ShownMessageBoxes().push_back({text ? text : "", caption ? caption : "", style});
    return gBoxAnswer;
}

struct AppliedLog {
    int calls = 0;
    bool chosenJustNowSeen = false;
    int selectionAfterRecheck = -2;
    int16_t quantityLimit = 100;  // the Quantity control's maximum
    SettingsList* list = nullptr;
};

// Stands in for the dialog: re-reading the controls after a choice queues a
// parameter change, which re-checks the list.
void OnApplied(void* context) {
    auto* log = static_cast<AppliedLog*>(context);
    log->calls++;
    log->chosenJustNowSeen = log->list->chosenJustNow;
    FilterParameters* record = GetCurrentParameterRecord();
    if (record->slot[SLOT_QUANTITY] > log->quantityLimit) record->slot[SLOT_QUANTITY] = log->quantityLimit;
    log->selectionAfterRecheck = RecheckSettingsSelection(*log->list);
}

class SettingsListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeUserDataFolder());
        ASSERT_TRUE(GetUserParametersFolder(parameters));
        EmptyFolder(parameters);
        elsewhere = OsJoinPath(TestScratchFolder(), "settings-imports");
        OsCreateDirectoryTree(elsewhere);
        EmptyFolder(elsewhere);
        record = FACTORY_PARAMETERS;
        SetCurrentParameterRecord(&record);
        ShownMessageBoxes().clear();
        log.list = &list;
        list.applied = OnApplied;
        list.appliedContext = &log;
        previousShower = OsSetMessageBoxShower(AnswerBox);
        gBoxAnswer = 1;
    }
    void TearDown() override {
        FreeSettingsList(list);
        OsSetMessageBoxShower(previousShower);
        SetCurrentParameterRecord(nullptr);
    }
    std::string InFolder(const std::string& name) { return OsJoinPath(parameters, name); }

    std::string parameters, elsewhere;
    FilterParameters record;
    SettingsList list;
    AppliedLog log;
    OsMessageBoxShower previousShower = nullptr;
};

}  // namespace

TEST_F(SettingsListTest, FillPutsFixedItemsFirstThenValidFilesAndSelectsInitial) {
    ASSERT_TRUE(WriteWholeFile(InFolder("zeta.rlp"), FileBytes(CURRENT_BUILD, 11)));
    ASSERT_TRUE(WriteWholeFile(InFolder("alpha.rlp"), FileBytes(CURRENT_BUILD, 22)));
    ASSERT_TRUE(WriteWholeFile(InFolder("short.rlp"), std::string(20, '\1')));
    ASSERT_TRUE(WriteWholeFile(InFolder("notes.txt"), FileBytes(CURRENT_BUILD, 33)));
    record.slot[SLOT_QUANTITY] = 77;

    ASSERT_TRUE(FillSettingsList(list));

    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "alpha", "zeta"}));
    EXPECT_EQ(SlotOf(list.items[0].block, SLOT_QUANTITY), FACTORY_PARAMETERS.slot[SLOT_QUANTITY]);
    EXPECT_EQ(SlotOf(list.items[1].block, SLOT_QUANTITY), 77);
    EXPECT_EQ(SlotOf(list.items[2].block, SLOT_QUANTITY), 22);
    EXPECT_EQ(SlotOf(list.items[3].block, SLOT_QUANTITY), 11);
    EXPECT_EQ(list.selected, SETTINGS_ITEM_INITIAL);
    EXPECT_EQ(RecheckSettingsSelection(list), SETTINGS_ITEM_INITIAL);
    // The too-short file was deleted after telling the user.
    EXPECT_FALSE(OsFileExists(InFolder("short.rlp")));
    EXPECT_TRUE(OsFileExists(InFolder("notes.txt")));
    EXPECT_EQ(log.calls, 0);  // filling applies nothing
}

TEST_F(SettingsListTest, FillingAgainDoesNotDuplicateItems) {
    ASSERT_TRUE(WriteWholeFile(InFolder("one.rlp"), FileBytes(CURRENT_BUILD, 10)));
    ASSERT_TRUE(FillSettingsList(list));
    ASSERT_TRUE(FillSettingsList(list));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "one"}));
}

TEST_F(SettingsListTest, Build5FileInTheFolderIsConvertedRewrittenAndListed) {
    std::string path = InFolder("older.rlp");
    ASSERT_TRUE(WriteWholeFile(path, FileBytes(5, 40)));
    CapturedReports reports;
    ASSERT_TRUE(FillSettingsList(list));

    ASSERT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "older"}));
    EXPECT_EQ(SlotOf(list.items[2].block, SLOT_BUILD), CURRENT_BUILD);
    EXPECT_EQ(SlotOf(list.items[2].block, SLOT_COLOR_HUE), 40);
    EXPECT_EQ(SlotOf(list.items[2].block, SLOT_RING_FLARE_INTENSITY), 0);
    auto bytes = ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), PARAMETER_BLOCK_SIZE);
    EXPECT_EQ(SlotOf(bytes.data(), SLOT_BUILD), CURRENT_BUILD);
    EXPECT_TRUE(reports.Contains("User Message: 'Parameter Set Conversion' - 'Your Parameter Set file '" + path +
                                 "' was saved in an older format and has been converted."));
}

TEST_F(SettingsListTest, Build1FileInTheFolderIsDeletedAndNotListed) {
    std::string path = InFolder("ancient.rlp");
    ASSERT_TRUE(WriteWholeFile(path, FileBytes(1, 40)));
    CapturedReports reports;
    ASSERT_TRUE(FillSettingsList(list));

    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings"}));
    EXPECT_FALSE(OsFileExists(path));
    EXPECT_TRUE(reports.Contains("User Message: 'Parameter Set Conversion' - 'Your Parameter Set file '" + path +
                                 "' (Major Version = '0', Minor Version = '0', Revision = '0', Build = '1')was saved "
                                 "in an obsolete format and cannot be converted. The file will be deleted."));
}

TEST_F(SettingsListTest, ChoosingAppliesTheBlockAndChangesClearAndRestoreTheSelection) {
    ASSERT_TRUE(WriteWholeFile(InFolder("soft.rlp"), FileBytes(CURRENT_BUILD, 33)));
    ASSERT_TRUE(FillSettingsList(list));

    ASSERT_TRUE(ChooseSettingsItem(list, 2));
    EXPECT_EQ(record.slot[SLOT_QUANTITY], 33);
    EXPECT_EQ(record.slot[SLOT_ANGLE], 33);
    EXPECT_EQ(log.calls, 1);
    EXPECT_TRUE(log.chosenJustNowSeen);
    EXPECT_EQ(log.selectionAfterRecheck, 2);
    EXPECT_FALSE(list.chosenJustNow);
    EXPECT_EQ(list.selected, 2);

    record.slot[SLOT_QUANTITY] = 34;
    EXPECT_EQ(RecheckSettingsSelection(list), SETTINGS_NO_SELECTION);
    EXPECT_EQ(list.selected, SETTINGS_NO_SELECTION);
    record.slot[SLOT_QUANTITY] = 33;
    EXPECT_EQ(RecheckSettingsSelection(list), 2);
    EXPECT_EQ(list.selected, 2);
}

TEST_F(SettingsListTest, TheRefreshAfterAChoiceDoesNotClearTheSelection) {
    // The dialog's controls limit what they show; a saved value beyond the
    // limit changes the record while the choice is applied.
    ASSERT_TRUE(WriteWholeFile(InFolder("wide.rlp"), FileBytes(CURRENT_BUILD, 90)));
    ASSERT_TRUE(FillSettingsList(list));
    log.quantityLimit = 80;
    ASSERT_TRUE(ChooseSettingsItem(list, 2));
    EXPECT_EQ(record.slot[SLOT_QUANTITY], 80);
    EXPECT_EQ(log.selectionAfterRecheck, 2);
    EXPECT_EQ(list.selected, 2);
    // The next change by the user is checked again.
    EXPECT_EQ(RecheckSettingsSelection(list), SETTINGS_NO_SELECTION);
}

TEST_F(SettingsListTest, ChoosingAFixedItemAppliesIt) {
    record.slot[SLOT_INTENSITY] = 5;
    ASSERT_TRUE(FillSettingsList(list));
    record.slot[SLOT_INTENSITY] = 90;
    EXPECT_EQ(RecheckSettingsSelection(list), SETTINGS_NO_SELECTION);
    ASSERT_TRUE(ChooseSettingsItem(list, SETTINGS_ITEM_INITIAL));
    EXPECT_EQ(record.slot[SLOT_INTENSITY], 5);
    ASSERT_TRUE(ChooseSettingsItem(list, SETTINGS_ITEM_DEFAULT));
    EXPECT_EQ(std::memcmp(&record, &FACTORY_PARAMETERS, sizeof(record)), 0);
    EXPECT_FALSE(ChooseSettingsItem(list, 2));
    EXPECT_FALSE(ChooseSettingsItem(list, SETTINGS_NO_SELECTION));
}

TEST_F(SettingsListTest, ABlockOfAnotherVersionIsReportedAndNotApplied) {
    ASSERT_TRUE(FillSettingsList(list));
    void* block = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_NEW_DEFAULTS, nullptr));
    ASSERT_NE(block, nullptr);
    int16_t build = 5, quantity = 99;
    std::memcpy(static_cast<uint8_t*>(block) + 2 * SLOT_BUILD, &build, 2);
    std::memcpy(static_cast<uint8_t*>(block) + 2 * SLOT_QUANTITY, &quantity, 2);
    list.items.push_back({"stale", block});
    record.slot[SLOT_QUANTITY] = 12;
    log.calls = 0;

    CapturedReports reports;
    EXPECT_FALSE(ChooseSettingsItem(list, 2));
    EXPECT_EQ(record.slot[SLOT_QUANTITY], 12);
    EXPECT_EQ(record.slot[SLOT_BUILD], CURRENT_BUILD);
    EXPECT_EQ(log.calls, 0);
    EXPECT_TRUE(reports.Contains(
        "Parameter Set version mismatch: Major Version = '0', Minor Version = '0', Revision = '0', Build = '5'"));
}

TEST_F(SettingsListTest, SavingUnderAnExistingNameReplacesItsBlock) {
    ASSERT_TRUE(FillSettingsList(list));
    record.slot[SLOT_QUANTITY] = 10;
    ASSERT_TRUE(SaveSettingsFile(list, InFolder("mine.rlp")));
    ASSERT_EQ(list.items.size(), 3u);
    record.slot[SLOT_QUANTITY] = 20;
    ASSERT_TRUE(SaveSettingsFile(list, InFolder("mine.rlp")));

    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "mine"}));
    EXPECT_EQ(SlotOf(list.items[2].block, SLOT_QUANTITY), 20);
    EXPECT_EQ(list.selected, 2);
    auto bytes = ReadWholeFile(InFolder("mine.rlp"));
    ASSERT_EQ(bytes.size(), PARAMETER_BLOCK_SIZE);
    EXPECT_EQ(SlotOf(bytes.data(), SLOT_QUANTITY), 20);
    EXPECT_EQ(SlotOf(bytes.data(), SLOT_BUILD), CURRENT_BUILD);
    for (size_t i = PARAMETER_RECORD_SIZE; i < bytes.size(); i++) ASSERT_EQ(bytes[i], 0) << i;
}

TEST_F(SettingsListTest, SavedNamesSortCaseInsensitivelyAfterTheFixedItems) {
    ASSERT_TRUE(FillSettingsList(list));
    ASSERT_TRUE(SaveSettingsFile(list, InFolder("Beta.rlp")));
    ASSERT_TRUE(SaveSettingsFile(list, InFolder("alpha.rlp")));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "alpha", "Beta"}));
    EXPECT_EQ(list.selected, 2);

    FreeSettingsList(list);
    EmptyFolder(parameters);
    ASSERT_TRUE(FillSettingsList(list));
    ASSERT_TRUE(SaveSettingsFile(list, InFolder("alpha.rlp")));
    ASSERT_TRUE(SaveSettingsFile(list, InFolder("Beta.rlp")));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "alpha", "Beta"}));
    EXPECT_EQ(list.selected, 3);

    // Names sorting before the fixed items still go after them; later ones at the end.
    ASSERT_TRUE(SaveSettingsFile(list, InFolder("Aardvark.rlp")));
    ASSERT_TRUE(SaveSettingsFile(list, InFolder("zulu.rlp")));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "Aardvark", "alpha",
                                                     "Beta", "zulu"}));
}

TEST_F(SettingsListTest, SavingElsewhereWritesTheFileButLeavesTheList) {
    ASSERT_TRUE(FillSettingsList(list));
    record.slot[SLOT_LENGTH] = 61;
    std::string path = OsJoinPath(elsewhere, "outside.rlp");
    ASSERT_TRUE(SaveSettingsFile(list, path));
    EXPECT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.selected, SETTINGS_ITEM_INITIAL);
    auto bytes = ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), PARAMETER_BLOCK_SIZE);
    EXPECT_EQ(SlotOf(bytes.data(), SLOT_LENGTH), 61);
}

TEST_F(SettingsListTest, AFailedSaveIsReportedAndLeavesTheList) {
    ASSERT_TRUE(FillSettingsList(list));
    std::string path = OsJoinPath(OsJoinPath(elsewhere, "missing-folder"), "x.rlp");
    CapturedReports reports;
    EXPECT_FALSE(SaveSettingsFile(list, path));
    EXPECT_TRUE(reports.Contains("SaveParametersFile() failed with FilePath = '" + path + "'"));
    EXPECT_EQ(list.items.size(), 2u);
}

TEST_F(SettingsListTest, ImportFromElsewhereAppliesButLeavesFilesAndListAlone) {
    ASSERT_TRUE(FillSettingsList(list));
    std::string converted = OsJoinPath(elsewhere, "older.rlp");
    std::string obsolete = OsJoinPath(elsewhere, "ancient.rlp");
    ASSERT_TRUE(WriteWholeFile(converted, FileBytes(5, 44)));
    ASSERT_TRUE(WriteWholeFile(obsolete, FileBytes(1, 55)));
    auto before = ReadWholeFile(converted);

    ASSERT_TRUE(LoadSettingsFile(list, converted));
    EXPECT_EQ(record.slot[SLOT_QUANTITY], 44);
    EXPECT_EQ(record.slot[SLOT_BUILD], CURRENT_BUILD);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.selected, SETTINGS_NO_SELECTION);
    EXPECT_EQ(RecheckSettingsSelection(list), SETTINGS_NO_SELECTION);
    EXPECT_EQ(ReadWholeFile(converted), before);

    CapturedReports reports;
    EXPECT_FALSE(LoadSettingsFile(list, obsolete));
    EXPECT_TRUE(OsFileExists(obsolete));
    EXPECT_EQ(record.slot[SLOT_QUANTITY], 44);
    EXPECT_TRUE(reports.Contains("LoadParameterStructure() failed to import parameter set '" + obsolete + "'"));
}

TEST_F(SettingsListTest, LoadingFromTheFolderAddsOrReplacesTheItem) {
    ASSERT_TRUE(WriteWholeFile(InFolder("kept.rlp"), FileBytes(CURRENT_BUILD, 15)));
    ASSERT_TRUE(FillSettingsList(list));
    ASSERT_TRUE(WriteWholeFile(InFolder("kept.rlp"), FileBytes(CURRENT_BUILD, 16)));
    ASSERT_TRUE(WriteWholeFile(InFolder("Added.rlp"), FileBytes(CURRENT_BUILD, 17)));

    ASSERT_TRUE(LoadSettingsFile(list, InFolder("kept.rlp")));
    EXPECT_EQ(list.items.size(), 3u);
    EXPECT_EQ(SlotOf(list.items[2].block, SLOT_QUANTITY), 16);
    EXPECT_EQ(record.slot[SLOT_QUANTITY], 16);

    ASSERT_TRUE(LoadSettingsFile(list, InFolder("Added.rlp")));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "Added", "kept"}));
    EXPECT_EQ(list.selected, 2);
    EXPECT_EQ(record.slot[SLOT_QUANTITY], 17);

    std::string invalid = InFolder("broken.rlp");
    ASSERT_TRUE(WriteWholeFile(invalid, "tiny"));
    CapturedReports reports;
    EXPECT_FALSE(LoadSettingsFile(list, invalid));
    EXPECT_TRUE(reports.Contains("LoadParameterStructure() failed to load parameter set '" + invalid + "'"));
    EXPECT_EQ(list.items.size(), 4u);
}

TEST_F(SettingsListTest, DeleteAsksAndDeletesOnOk) {
    ASSERT_TRUE(WriteWholeFile(InFolder("alpha.rlp"), FileBytes(CURRENT_BUILD, 21)));
    ASSERT_TRUE(WriteWholeFile(InFolder("beta.rlp"), FileBytes(CURRENT_BUILD, 22)));
    ASSERT_TRUE(FillSettingsList(list));
    ASSERT_TRUE(ChooseSettingsItem(list, 3));
    ShownMessageBoxes().clear();

    gBoxAnswer = 1;
    ASSERT_TRUE(DeleteSettingsItem(list, 2, nullptr));
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0].caption, "Delete Raylume Pro 2 Parameter File");
    EXPECT_EQ(ShownMessageBoxes()[0].text, "The Raylume Pro 2 saved parameter file 'alpha.rlp' will be deleted.");
    EXPECT_EQ(ShownMessageBoxes()[0].style & 0xF, OS_MB_OKCANCEL);
    EXPECT_EQ(ShownMessageBoxes()[0].style & 0xF0, OS_MB_ICONWARNING);
    EXPECT_FALSE(OsFileExists(InFolder("alpha.rlp")));
    EXPECT_TRUE(OsFileExists(InFolder("beta.rlp")));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "beta"}));
    EXPECT_EQ(list.selected, SETTINGS_NO_SELECTION);
    // "beta" moved up; the re-check still finds it.
    EXPECT_EQ(RecheckSettingsSelection(list), 2);
}

TEST_F(SettingsListTest, DeleteKeepsEverythingOnCancel) {
    ASSERT_TRUE(WriteWholeFile(InFolder("alpha.rlp"), FileBytes(CURRENT_BUILD, 21)));
    ASSERT_TRUE(FillSettingsList(list));
    gBoxAnswer = 2;
    EXPECT_FALSE(DeleteSettingsItem(list, 2, nullptr));
    EXPECT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_TRUE(OsFileExists(InFolder("alpha.rlp")));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "alpha"}));
    EXPECT_NE(list.items[2].block, nullptr);
}

TEST_F(SettingsListTest, DeleteIsRefusedForTheFixedItemsAndNoSelection) {
    ASSERT_TRUE(WriteWholeFile(InFolder("alpha.rlp"), FileBytes(CURRENT_BUILD, 21)));
    ASSERT_TRUE(FillSettingsList(list));
    EXPECT_FALSE(CanDeleteSettingsItem(list, SETTINGS_ITEM_DEFAULT));
    EXPECT_FALSE(CanDeleteSettingsItem(list, SETTINGS_ITEM_INITIAL));
    EXPECT_FALSE(CanDeleteSettingsItem(list, SETTINGS_NO_SELECTION));
    EXPECT_FALSE(CanDeleteSettingsItem(list, 3));
    EXPECT_TRUE(CanDeleteSettingsItem(list, 2));

    EXPECT_FALSE(DeleteSettingsItem(list, SETTINGS_ITEM_DEFAULT, nullptr));
    EXPECT_FALSE(DeleteSettingsItem(list, SETTINGS_ITEM_INITIAL, nullptr));
    EXPECT_FALSE(DeleteSettingsItem(list, SETTINGS_NO_SELECTION, nullptr));
    EXPECT_TRUE(ShownMessageBoxes().empty());
    EXPECT_EQ(list.items.size(), 3u);
}

TEST_F(SettingsListTest, ADeleteWhoseFileIsAlreadyGoneIsReported) {
    ASSERT_TRUE(WriteWholeFile(InFolder("gone.rlp"), FileBytes(CURRENT_BUILD, 21)));
    ASSERT_TRUE(FillSettingsList(list));
    std::remove(InFolder("gone.rlp").c_str());
    CapturedReports reports;
    EXPECT_TRUE(DeleteSettingsItem(list, 2, nullptr));
    EXPECT_EQ(list.items.size(), 2u);
    EXPECT_TRUE(reports.Contains("_tremove() failed with error = '2'. File to be deleted was '" +
                                 InFolder("gone.rlp") + "'"));
}
