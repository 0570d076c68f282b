// The settings list of the main dialog: "Default Settings", "Initial Settings"
// and the user's parameter files, each item owning a 255-byte parameter block,
// together with the Load, Save and Delete commands of the settings menu.
//
// This is the model only; the combo box and the menu are bound to it on
// Windows by ui/settings_menu_win32.cpp, which mirrors `items` and `selected`.
#pragma once

#include <string>
#include <vector>

#include "support/os.h"

constexpr int SETTINGS_NO_SELECTION = -1;
constexpr int SETTINGS_ITEM_DEFAULT = 0;   // "Default Settings"
constexpr int SETTINGS_ITEM_INITIAL = 1;   // "Initial Settings"
constexpr int SETTINGS_FIRST_FILE_ITEM = 2;

extern const char kDefaultSettingsText[];  // "Default Settings"
extern const char kInitialSettingsText[];  // "Initial Settings"

struct SettingsListItem {
    std::string text;
    void* block;  // PARAMETER_BLOCK_SIZE bytes, owned; released with FreeParameterBlock
};

// Called after a block has been applied to the current record: the dialog
// re-reads its controls from the record, clears the keyboard focus and queues
// a preview of the whole preview area.
typedef void (*SettingsAppliedHandler)(void* context);

struct SettingsList {
    std::vector<SettingsListItem> items;
    int selected = SETTINGS_NO_SELECTION;    // the item shown selected
    int remembered = SETTINGS_NO_SELECTION;  // the item last chosen, saved or loaded
    // Set while a chosen block is being applied: re-checks caused by the
    // dialog refreshing its controls from that block leave the selection alone.
    bool chosenJustNow = false;
    SettingsAppliedHandler applied = nullptr;
    void* appliedContext = nullptr;
};

// Frees whatever the list holds, then puts in the two fixed items and every
// valid parameter file of the Parameters folder (in the order the folder
// lists them, named by base name) and selects "Initial Settings". Invalid and
// obsolete files are dealt with by the in-folder check. False when a fixed
// block could not be made (the list is then empty).
bool FillSettingsList(SettingsList& list);

// The user picked item `index`: remembers it and applies its block to the
// current record. A block of another version is reported and not applied.
// True when the block was applied.
bool ChooseSettingsItem(SettingsList& list, int index);

// After a parameter change: keeps the remembered item selected while its
// block equals the current record, else shows no selection. Returns the
// selection. Does nothing while a choice is being applied.
int RecheckSettingsSelection(SettingsList& list);

// Gives the item named exactly `name` the block (freeing its old one), or
// inserts a new item in case-insensitive order among the file items; then
// applies the block as a choice would and selects the item. The list takes
// the block. Returns the item's index.
int AddOrReplaceSettingsItem(SettingsList& list, const std::string& name, void* block);

// Only file items can be deleted; the fixed items and "no item" cannot.
bool CanDeleteSettingsItem(const SettingsList& list, int index);

// Asks the user (OK / Cancel) and on OK removes item `index` and deletes its
// file from the Parameters folder. True when the item was removed.
bool DeleteSettingsItem(SettingsList& list, int index, OsWindow owner);

// Loads a parameter file the user picked. From elsewhere: the block is applied
// and the list shows no selection (the list is not changed). From the
// Parameters folder: it becomes (or replaces) the item named by its base name.
bool LoadSettingsFile(SettingsList& list, const std::string& path);

// Writes the current record to `path`. When `path` lies in the Parameters
// folder the saved block also becomes (or replaces) the item named by its
// base name.
bool SaveSettingsFile(SettingsList& list, const std::string& path);

// Frees every item's block and empties the list.
void FreeSettingsList(SettingsList& list);
