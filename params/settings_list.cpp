// The settings list model: fixed items, the user's parameter files and the
// Load / Save / Delete commands.
#include "params/settings_list.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "params/filter_parameters.h"
#include "params/parameter_files.h"
#include "params/user_data_folders.h"
#include "support/debug_log.h"

const char kDefaultSettingsText[] = "Default Settings";
const char kInitialSettingsText[] = "Initial Settings";

namespace {

bool ValidIndex(const SettingsList& list, int index) {
    return index >= 0 && static_cast<size_t>(index) < list.items.size();
}

// Case-insensitive order of item texts (ASCII letters fold; the rest compare
// by byte value).
int CompareNoCase(const std::string& a, const std::string& b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; i++) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Applies a block as a choice does: version check, apply, then the dialog
// refreshes itself. The chosen-just-now flag covers the refresh.
bool ApplyChosenBlock(SettingsList& list, const void* block) {
    if (!block) return false;
    if (!ParameterBlockVersionMatches(block)) {
        int16_t stamp[VERSION_SLOT_COUNT];
        std::memcpy(stamp, block, sizeof(stamp));
        ReportUnexpected(__LINE__,
                         "Parameter Set version mismatch: Major Version = '%d', Minor Version = '%d', Revision = "
                         "'%d', Build = '%d'",
                         stamp[SLOT_MAJOR_VERSION], stamp[SLOT_MINOR_VERSION], stamp[SLOT_REVISION],
                         stamp[SLOT_BUILD]);
        return false;
    }
    if (ParameterBlockProc(PARAMETER_OP_APPLY, const_cast<void*>(block)) == 0) return false;
    list.chosenJustNow = true;
    if (list.applied) list.applied(list.appliedContext);
    list.chosenJustNow = false;
    return true;
}

}  // namespace

bool FillSettingsList(SettingsList& list) {
    FreeSettingsList(list);
    void* defaults = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_NEW_DEFAULTS, nullptr));
    void* initial = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_NEW_COPY, nullptr));
    if (!defaults || !initial) {
        ReportUnexpected(__LINE__, "FillSettingsList() - Could not make the Default and Initial Settings blocks.");
        FreeParameterBlock(defaults);
        FreeParameterBlock(initial);
        return false;
    }
    list.items.push_back({kDefaultSettingsText, defaults});
    list.items.push_back({kInitialSettingsText, initial});

    std::string folder;
    std::vector<std::string> names;
    if (GetUserParametersFolder(folder) &&
        OsFindFiles(folder, std::string("*.") + kParameterFileExtension, names)) {
        for (const auto& name : names) {
            std::string path = OsJoinPath(folder, name);
            void* block = CheckParameterFileInFolder(path);
            if (block) list.items.push_back({ParameterFileBaseName(path), block});
        }
    }
    list.selected = SETTINGS_ITEM_INITIAL;
    list.remembered = SETTINGS_ITEM_INITIAL;
    list.chosenJustNow = false;
    return true;
}

bool ChooseSettingsItem(SettingsList& list, int index) {
    if (!ValidIndex(list, index)) return false;
    list.remembered = index;
    list.selected = index;
    return ApplyChosenBlock(list, list.items[index].block);
}

int RecheckSettingsSelection(SettingsList& list) {
    if (list.chosenJustNow) return list.selected;
    if (ValidIndex(list, list.remembered) &&
        ParameterBlockProc(PARAMETER_OP_COMPARE, list.items[list.remembered].block) != 0)
        list.selected = list.remembered;
    else
        list.selected = SETTINGS_NO_SELECTION;
    return list.selected;
}

int AddOrReplaceSettingsItem(SettingsList& list, const std::string& name, void* block) {
    int index = SETTINGS_NO_SELECTION;
    for (size_t i = 0; i < list.items.size(); i++) {
        if (list.items[i].text == name) {
            index = static_cast<int>(i);
            break;
        }
    }
    if (index >= 0) {
        FreeParameterBlock(list.items[index].block);
        list.items[index].block = block;
    } else {
        size_t at = list.items.size();
        for (size_t i = SETTINGS_FIRST_FILE_ITEM; i < list.items.size(); i++) {
            if (CompareNoCase(list.items[i].text, name) > 0) {
                at = i;
                break;
            }
        }
        list.items.insert(list.items.begin() + static_cast<std::ptrdiff_t>(at), SettingsListItem{name, block});
        index = static_cast<int>(at);
    }
    list.remembered = index;
    list.selected = index;
    ApplyChosenBlock(list, block);
    return index;
}

bool CanDeleteSettingsItem(const SettingsList& list, int index) {
    return index >= SETTINGS_FIRST_FILE_ITEM && ValidIndex(list, index);
}

bool DeleteSettingsItem(SettingsList& list, int index, OsWindow owner) {
    if (!CanDeleteSettingsItem(list, index)) return false;
    const std::string text = list.items[index].text;

    char caption[256];
    std::snprintf(caption, sizeof(caption), "Delete %s Parameter File", kProductTitle);
    std::string question(std::strlen(kProductTitle) + text.size() + 80, '\0');
    int n = std::snprintf(&question[0], question.size(), "The %s saved parameter file '%s.%s' will be deleted.",
                          kProductTitle, text.c_str(), kParameterFileExtension);
    question.resize(n > 0 ? static_cast<size_t>(n) : 0);
    const int kOk = 1;
    if (OsShowMessageBox(owner, question.c_str(), caption, OS_MB_OKCANCEL | OS_MB_ICONWARNING) != kOk) return false;

    FreeParameterBlock(list.items[index].block);
    list.items.erase(list.items.begin() + index);
    if (list.remembered == index)
        list.remembered = SETTINGS_NO_SELECTION;
    else if (list.remembered > index)
        list.remembered--;
    list.selected = SETTINGS_NO_SELECTION;

    std::string path = ParameterFilePath(text);
    if (!path.empty()) DeleteParameterFile(path);
    return true;
}

bool LoadSettingsFile(SettingsList& list, const std::string& path) {
    if (!IsInParametersFolder(path)) {
        void* block = CheckImportedParameterFile(path);
        if (!block) {
            ReportUnexpected(__LINE__, "LoadParameterStructure() failed to import parameter set '%s'", path.c_str());
            return false;
        }
        bool applied = ApplyChosenBlock(list, block);
        FreeParameterBlock(block);
        list.selected = SETTINGS_NO_SELECTION;
        list.remembered = SETTINGS_NO_SELECTION;
        return applied;
    }
    void* block = CheckParameterFileInFolder(path);
    if (!block) {
        ReportUnexpected(__LINE__, "LoadParameterStructure() failed to load parameter set '%s'", path.c_str());
        return false;
    }
    AddOrReplaceSettingsItem(list, ParameterFileBaseName(path), block);
    return true;
}

bool SaveSettingsFile(SettingsList& list, const std::string& path) {
    void* copy = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_NEW_COPY, nullptr));
    if (!copy || !WriteParameterFile(copy, path)) {
        ReportUnexpected(__LINE__, "SaveParametersFile() failed with FilePath = '%s'", path.c_str());
        FreeParameterBlock(copy);
        return false;
    }
    if (!IsInParametersFolder(path)) {
        FreeParameterBlock(copy);
        return true;
    }
    AddOrReplaceSettingsItem(list, ParameterFileBaseName(path), copy);
    return true;
}

void FreeSettingsList(SettingsList& list) {
    for (auto& item : list.items) FreeParameterBlock(item.block);
    list.items.clear();
    list.selected = SETTINGS_NO_SELECTION;
    list.remembered = SETTINGS_NO_SELECTION;
    list.chosenJustNow = false;
}
