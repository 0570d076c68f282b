// The Options dialog and the About box without Win32: the update-check
// preferences with their registry names, defaults and fallbacks, the wording
// of the interval label, the notice shown after a new OpenGL setting, where
// these dialogs open on the screen, and the maker's addresses they link to.
//
// The registry reads and writes themselves are in ui/options_dialog.cpp.
// Nothing here checks for product updates: the preferences are kept for an
// update check this build does not make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The per-user key (under HKEY_CURRENT_USER) and its five values.
extern const char kProductUpdatesKey[];           // "Software\\Corvane Software\\RaylumePro\\2.0\\Product Updates"
extern const char kUpdateCheckEnabledValue[];     // "UpdateCheckEnabled", REG_DWORD, 1: check online
extern const char kUpdateIntervalValue[];         // "UpdateIntervalInDays", REG_DWORD
extern const char kLastUpdateCheckTimeValue[];    // "LastUpdateCheckTime", REG_QWORD
extern const char kUpdateMessageVersionValue[];   // "UpdateMessageVersion", REG_SZ (the update notice's)
extern const char kUpdateSoftwareVersionValue[];  // "UpdateSoftwareVersion", REG_SZ (the update notice's)

// What the Options dialog reads and writes. The member defaults are the
// values a newly created key receives (the two version texts empty).
struct UpdatePreferences {
    bool checkEnabled = true;
    uint32_t intervalDays = 7;
    uint64_t lastCheckTime = 0;
};

// The values found in an existing key; `has...` false for a missing one.
struct StoredUpdateValues {
    bool hasEnabled = false;
    uint32_t enabled = 0;  // non-zero: on
    bool hasInterval = false;
    uint32_t interval = 0;
    bool hasLastCheck = false;
    uint64_t lastCheck = 0;
};

// The preferences of an existing key. A missing value counts as on, 1 day
// and time 0 (note: 1 day, not the 7 a new key gets) and appends its report
// text ("Could not read the UpdateIntervalInDays value.", ...) to `missing`
// (may be null).
UpdatePreferences ResolveUpdatePreferences(const StoredUpdateValues& stored, std::vector<std::string>* missing);

// The interval edit's text as a number: leading blanks skipped, then decimal
// digits up to the first other character, at most the first 64 characters
// read. No digit: 0. Saturates at 4294967295.
uint32_t ParseIntervalText(const char* text);

// The label after the interval: "day." for 1, "days." for every other number.
const char* IntervalUnitText(uint32_t days);

// The note shown after OK stored a new OpenGL setting (1 to 4 name the
// setting; other values leave the name out).
std::string OpenGLSettingNotice(uint32_t setting);

// Where a dialog of `width` x `height` opens over `area` (the owner's client
// area in screen coordinates, or the desktop): centred across it, its top one
// third of the way down the free height (no free height counts as none). A
// dialog that would then reach past the virtual screen's width or height is
// moved left or up to end at that edge, but not to a negative coordinate.
struct PlacementArea {
    int32_t left, top, right, bottom;
};
void PlaceDialogInArea(const PlacementArea& area, int32_t width, int32_t height, int32_t screenWidth,
                       int32_t screenHeight, int32_t* x, int32_t* y);

// The maker's pages the logos and links open.
extern const char kMakerWebSiteAddress[];   // the logos of both dialogs
extern const char kProductPageAddress[];    // the About box's product link
extern const char kAccountPageAddress[];    // the user's account page
extern const char kSupportMailAddress[];    // a mailto: address
