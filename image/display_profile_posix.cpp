// The display profile natively: there is no monitor profile to ask for, so
// the display is taken to show sRGB, the standard profile.
#include "image/color_management.h"

ColorProfile GetDisplayProfile(OsWindow) { return GetStandardProfile(); }

void ReleaseDisplayProfiles() {}
