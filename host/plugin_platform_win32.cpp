// Windows side of the shell: the module handle, COM, common controls and the
// resources loaded at start-up, and the two stand-alone entry points.
#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstring>

#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "gl/glew_version.h"
#include "preview/preview_renderer.h"
#include "ui/about_box.h"
#include "ui/accelerators.h"
#include "ui/help_viewer.h"
#include "ui/main_dialog.h"
#include "ui/options_dialog.h"
#include "host/plugin_state.h"
#include "image/lcms_version.h"
#include "params/user_data_folders.h"
#include "support/debug_log.h"

namespace {
HMODULE gRichEdit = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            gPlugin.instance = instance;
            gPlugin.processAttachCount++;
            char path[2048] = {};
            DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path) - 1);
            gPlugin.hostExecutablePath.assign(path, n);
            const char* base = path;
            for (const char* p = path; *p; p++)
                if (*p == '\\' || *p == '/') base = p + 1;
            std::string name = base;
            size_t dot = name.rfind('.');
            if (dot != std::string::npos) name.resize(dot);
            if (name.size() > 260) name.resize(260);
            gPlugin.hostExecutableName = name;
            break;
        }
        case DLL_PROCESS_DETACH: gPlugin.processAttachCount--; break;
        case DLL_THREAD_ATTACH: gPlugin.threadAttachCount++; break;
        case DLL_THREAD_DETACH: gPlugin.threadAttachCount--; break;
    }
    return TRUE;
}

bool PlatformCoInitialize(int32_t* hresult) {
    HRESULT hr = CoInitialize(nullptr);
    *hresult = static_cast<int32_t>(hr);
    return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
}

void PlatformCoUninitialize() { CoUninitialize(); }

bool PlatformLoadRichEdit() {
    if (!gRichEdit) gRichEdit = LoadLibraryA("riched20.dll");
    return gRichEdit != nullptr;
}

bool PlatformInitCommonControls() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_LINK_CLASS |
                                                           ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS |
                                                           ICC_TAB_CLASSES};
    return InitCommonControlsEx(&controls) != 0;
}

void* PlatformLoadToolCursor() {
    return LoadCursorA(static_cast<HINSTANCE>(GetPluginInstance()), MAKEINTRESOURCEA(194));
}

void* PlatformLoadSettingsMenu() {
    HMENU menu = LoadMenuA(static_cast<HINSTANCE>(GetPluginInstance()), MAKEINTRESOURCEA(234));
    return menu;
}

// The splash picture of the About box is BITMAP resource 2001 of the module: a
// 24-bit, bottom-up bitmap loaded as a DIB section, so that its pixels can be
// read back for the preview's texture. A missing bitmap is logged only.
constexpr int kSplashBitmapId = 2001;

void* PlatformLoadSplashBitmap() {
    HANDLE bitmap = LoadImageA(static_cast<HINSTANCE>(GetPluginInstance()), MAKEINTRESOURCEA(kSplashBitmapId),
                               IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    if (!bitmap)
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report("PlatformLoadSplashBitmap() - Could not load the splash bitmap (resource %d).", kSplashBitmapId);
    return bitmap;
}

// The stored OpenGL setting and the graphics adapter, read at plug-in start.
void PlatformLoadOpenGLSettings() {
    LoadOpenGLDrawingSettings();
    LogPrimaryGPU();
}

void PlatformInitializeHelp() { InitializeHelpViewer(); }

void PlatformCloseHelpViewer() { CloseHelpViewer(); }

bool PlatformRunDialog() {
    SetPreviewRendererProcs(PreviewRenderer());
    SetPreviewSplashBitmap(static_cast<HBITMAP>(gPlugin.splashBitmap));
    MainDialogInputs inputs = {};
    inputs.instance = static_cast<HINSTANCE>(GetPluginInstance());
    inputs.owner = reinterpret_cast<HWND>(gPlugin.hostWindow);
    inputs.record = gPlugin.parameters;
    inputs.settingsMenu = static_cast<HMENU>(gPlugin.settingsMenu);
    inputs.productTitle = gPlugin.productTitle;
    bool ok = RunMainDialog(inputs);
    SetPreviewRendererProcs(nullptr);
    return ok;
}

void PlatformRunAboutBox() {
    ShowAboutBox(static_cast<HINSTANCE>(GetPluginInstance()), reinterpret_cast<HWND>(gPlugin.hostWindow));
}

void PlatformFreeResources() {
    FreeAcceleratorKeys();  // the dialog's keyboard hook lives until the run ends
    if (gPlugin.settingsMenu) DestroyMenu(static_cast<HMENU>(gPlugin.settingsMenu));
    gPlugin.settingsMenu = nullptr;
    if (gPlugin.splashBitmap) DeleteObject(static_cast<HGDIOBJ>(gPlugin.splashBitmap));
    gPlugin.splashBitmap = nullptr;
}

// Stand-alone Options entry (a start-menu shortcut calls it through rundll32).
// Started a second time while its dialog is open, it brings that dialog to
// the front instead (ClaimStandaloneOptionsDialog).
namespace {
void RunConfigureOptions(HWND owner) {
    GetPluginInstance();  // reports a missing module handle; the dialog then fails to load
    if (!gPlugin.initialised) InitializePluginState(filterSelectorAbout, reinterpret_cast<OsWindow>(owner));
    HANDLE mutex = nullptr;
    if (ClaimStandaloneOptionsDialog(&mutex) && StartCom()) {
        ShowOptionsDialog(static_cast<HINSTANCE>(GetPluginInstance()), owner);
        LeaveCom();
    }
    ReleaseStandaloneOptionsDialog(mutex);
    TearDownPluginState();
}
}  // namespace

extern "C" __declspec(dllexport) void CALLBACK ConfigureOptions(HWND owner, HINSTANCE, LPSTR, int) {
    // Nothing may escape into the caller (a start-menu shortcut through rundll32).
    try {
        RunConfigureOptions(owner);
    } catch (...) {
        try {
            TearDownPluginState();
        } catch (...) {
        }
    }
}

// Installer entry: characterises the installation into an installation log.
namespace {
void RunInstallConfiguration(LPSTR commandLine) {
    SetInstallationLog(true);
    SetUserInterfaceThread(OsGetCurrentThreadId());
    OpenDebugLog("Raylume Pro 2", nullptr);
    MakeUserDataFolder();
    OpenDebugLogFile(LOGGING_IMMEDIATE);
    DebugEvent(__LINE__, TRACE_MESSAGE).Report("Beginning Installation Configuration");
    DebugEvent(__LINE__, TRACE_MESSAGE)
        .Report("Product version '%s', Little CMS %d, %s", commandLine ? commandLine : "", GetLittleCmsVersion(),
                GetGlewVersionText());
    ConfigureOpenGLInstallation(commandLine);
    CloseDebugLog();
}
}  // namespace

extern "C" __declspec(dllexport) void CALLBACK InstallConfiguration(HWND, HINSTANCE, LPSTR commandLine, int) {
    // The installer goes on whatever happens here: nothing escapes into it.
    try {
        RunInstallConfiguration(commandLine);
    } catch (...) {
        try {
            CloseDebugLog();
        } catch (...) {
        }
    }
}

#endif
