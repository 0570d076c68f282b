#include "params/options_settings.h"

const char kProductUpdatesKey[] = "Software\\Corvane Software\\RaylumePro\\2.0\\Product Updates";
const char kUpdateCheckEnabledValue[] = "UpdateCheckEnabled";
const char kUpdateIntervalValue[] = "UpdateIntervalInDays";
const char kLastUpdateCheckTimeValue[] = "LastUpdateCheckTime";
const char kUpdateMessageVersionValue[] = "UpdateMessageVersion";
const char kUpdateSoftwareVersionValue[] = "UpdateSoftwareVersion";

// NOTE: the main dialog's web link opens the same page (its own copy in ui/main_dialog.cpp).
const char kMakerWebSiteAddress[] = "https://www.corvanesoftware.com/";
const char kProductPageAddress[] = "https://www.corvanesoftware.com/raylume-pro-2/";
const char kAccountPageAddress[] = "https://www.corvanesoftware.com/account/";
const char kSupportMailAddress[] = "mailto:support@corvanesoftware.com";

UpdatePreferences ResolveUpdatePreferences(const StoredUpdateValues& stored, std::vector<std::string>* missing) {
    UpdatePreferences preferences;
    auto note = [missing](const char* text) {
        if (missing) missing->push_back(text);
    };
    preferences.checkEnabled = stored.hasEnabled ? stored.enabled != 0 : true;
    if (!stored.hasEnabled) note("Could not read the UpdateCheckEnabled flag.");
    preferences.intervalDays = stored.hasInterval ? stored.interval : 1;
    if (!stored.hasInterval) note("Could not read the UpdateIntervalInDays value.");
    preferences.lastCheckTime = stored.hasLastCheck ? stored.lastCheck : 0;
    if (!stored.hasLastCheck) note("Could not read the LastUpdateCheckTime value.");
    return preferences;
}

uint32_t ParseIntervalText(const char* text) {
    constexpr int kLongestText = 64;
    if (!text) return 0;
    int i = 0;
    while (i < kLongestText && (text[i] == ' ' || text[i] == '\t')) i++;
    uint64_t value = 0;
    for (; i < kLongestText && text[i] >= '0' && text[i] <= '9'; i++) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > UINT32_MAX) return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

const char* IntervalUnitText(uint32_t days) { return days == 1 ? "day." : "days."; }

std::string OpenGLSettingNotice(uint32_t setting) {
    const char* name = "";
    switch (setting) {
        case 1: name = ", 'Optimize for better display quality',"; break;
        case 2: name = ", 'Optimize for faster display',"; break;
        case 3: name = ", 'Optimize for greater compatibility',"; break;
        case 4: name = ", 'Use Software Rendering',"; break;
    }
    return std::string("The OpenGL drawing setting you have chosen") + name +
           " will take effect the next time the plug-in is started.";
}

void PlaceDialogInArea(const PlacementArea& area, int32_t width, int32_t height, int32_t screenWidth,
                       int32_t screenHeight, int32_t* x, int32_t* y) {
    int32_t left = area.left + ((area.right - area.left) - width) / 2;
    int32_t freeHeight = (area.bottom - area.top) - height;
    if (freeHeight < 0) freeHeight = 0;
    int32_t top = area.top + freeHeight / 3;
    if (left + width > screenWidth) left = screenWidth - width > 0 ? screenWidth - width : 0;
    if (top + height > screenHeight) top = screenHeight - height > 0 ? screenHeight - height : 0;
    *x = left;
    *y = top;
}
