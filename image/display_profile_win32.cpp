// The display profile on Windows: the colour profile of the monitor that
// shows the dialog, from the Windows colour system, cached per monitor.
#include <windows.h>

#include <cstdlib>

#include "image/color_management.h"
#include "support/debug_log.h"

namespace {

struct DisplayProfileEntry {
    HMONITOR monitor;
    cmsHPROFILE profile;  // null: free
};

// Not locked: used by the user-interface thread, the preview task and the
// analysis task without overlap in practice (first filled during start-up).
DisplayProfileEntry gDisplayProfiles[DISPLAY_PROFILE_CACHE_SIZE];

// Opens the profile Windows associates with the monitor; null when any step fails.
cmsHPROFILE OpenMonitorProfile(HMONITOR monitor) {
    MONITORINFOEXA information = {};
    information.cbSize = sizeof(information);
    if (!GetMonitorInfoA(monitor, &information)) {
        ReportUnexpected(__LINE__, "Could not get information for the specified monitor.");
        return nullptr;
    }
    HDC context = CreateDCA(information.szDevice, nullptr, nullptr, nullptr);
    if (!context) {
        ReportUnexpected(__LINE__, "Could not get a device context for the specified monitor.");
        return nullptr;
    }

    cmsHPROFILE profile = nullptr;
    DWORD length = 0;
    if (GetICMProfileA(context, &length, nullptr) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) {
        ReportUnexpected(__LINE__, "Could not get the size of the buffer to contain the profile name.");
    } else {
        auto* name = static_cast<char*>(std::calloc(length + 1, 1));
        if (!name) {
            ReportUnexpected(__LINE__, "Could not get specified color space.");
        } else {
            if (!GetICMProfileA(context, &length, name)) {
                ReportUnexpected(__LINE__, "Could not get color space name.");
            } else {
                profile = cmsOpenProfileFromFile(name, "r");
                if (!profile) ReportUnexpected(__LINE__, "Could not open monitor color profile.");
            }
            std::free(name);
        }
    }
    DeleteDC(context);
    return profile;
}

}  // namespace

ColorProfile GetDisplayProfile(OsWindow window) {
    HMONITOR monitor = MonitorFromWindow(reinterpret_cast<HWND>(window), MONITOR_DEFAULTTONEAREST);
    if (!monitor) {
        ReportUnexpected(__LINE__, "Could not get a handle for the current monitor.");
        return GetStandardProfile();
    }
    for (const DisplayProfileEntry& entry : gDisplayProfiles)
        if (entry.monitor == monitor && entry.profile) return entry.profile;

    cmsHPROFILE profile = OpenMonitorProfile(monitor);
    if (!profile) {
        ReportUnexpected(__LINE__, "Could not get a display color profile for the current monitor.");
        return GetStandardProfile();
    }
    for (DisplayProfileEntry& entry : gDisplayProfiles) {
        if (entry.profile) continue;
        entry = {monitor, profile};
        return profile;
    }
    ReportUnexpected(__LINE__, "The display profile cache is full.");
    CloseColorProfile(profile);
    return GetStandardProfile();
}

void ReleaseDisplayProfiles() {
    for (DisplayProfileEntry& entry : gDisplayProfiles) {
        CloseColorProfile(entry.profile);
        entry = {nullptr, nullptr};
    }
}
