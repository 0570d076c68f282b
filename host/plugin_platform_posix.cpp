// Natively there is no COM, no common controls and no module resources: the
// shell's platform services succeed without doing anything.
#ifndef _WIN32
#include "host/plugin_state.h"

bool PlatformCoInitialize(int32_t* hresult) {
    *hresult = 0;
    return true;
}
void PlatformCoUninitialize() {}
bool PlatformLoadRichEdit() { return true; }
bool PlatformInitCommonControls() { return true; }
void* PlatformLoadToolCursor() { return nullptr; }
void* PlatformLoadSettingsMenu() { return nullptr; }
void* PlatformLoadSplashBitmap() { return nullptr; }
void PlatformLoadOpenGLSettings() {}
void PlatformInitializeHelp() {}
void PlatformCloseHelpViewer() {}
bool PlatformRunDialog() { return true; }
void PlatformRunAboutBox() {}
void PlatformFreeResources() {}
#endif
