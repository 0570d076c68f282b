// The global plug-in state that lives between PluginMain calls, and the
// per-run start-up and tear-down that every entry point shares.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_abi.h"
#include "params/filter_parameters.h"
#include "support/os.h"

struct PluginState {
    void* instance = nullptr;          // the module handle (HINSTANCE)
    std::string hostExecutableName;    // base name of the host program
    std::string hostExecutablePath;
    int32_t processAttachCount = 0;
    int32_t threadAttachCount = 0;

    FilterRecord* filterRecord = nullptr;  // the record of the current call (null for about)
    AboutRecord* aboutRecord = nullptr;
    intptr_t* data = nullptr;
    int16* result = nullptr;
    FilterParameters* parameters = nullptr;  // the locked parameters handle
    uint8_t* showDialog = nullptr;           // the locked data handle
    bool handlesLocked = false;
    bool initialised = false;
    bool comInitialised = false;
    bool suitesAcquired = false;
    bool bigDocument = false;  // rectangles in their 32-bit form
    SPBasicSuite* basicSuite = nullptr;  // the host's SPBasic the two suites came from
    const PropertyProcs* propertySuite = nullptr;
    const ErrorSuite1* errorSuite = nullptr;
    uint32_t uiThreadId = 0;
    OsWindow hostWindow = nullptr;
    const char* productTitle = "Raylume Pro 2";
    intptr_t (*parameterBlockProc)(int32_t, void*) = nullptr;
    void* settingsMenu = nullptr;
    void* toolCursor = nullptr;
    void* splashBitmap = nullptr;
};

extern PluginState gPlugin;

// The run's result code: the first error is kept, later ones are dropped.
void SetResultError(int16 code);
int16 GetResult();

// Reports "The application's instance handle has not been initialized." when unset.
void* GetPluginInstance();

bool InitializePluginState(int16 selector, OsWindow hostWindow);
void TearDownPluginState();
bool StartCom();
void LeaveCom();

// Platform services of the shell (Windows resources and COM; no-ops natively).
bool PlatformCoInitialize(int32_t* hresult);
void PlatformCoUninitialize();
bool PlatformLoadRichEdit();
bool PlatformInitCommonControls();
void* PlatformLoadToolCursor();
void* PlatformLoadSettingsMenu();
void* PlatformLoadSplashBitmap();
void PlatformLoadOpenGLSettings();
// Finds the manual and the help viewer; at tear-down ends the viewer help started.
void PlatformInitializeHelp();
void PlatformCloseHelpViewer();
// The main dialog on the host's window, editing *gPlugin.parameters. True on
// OK (render); false on Cancel or an error (the result says which). Without a
// dialog (natively) it renders with the values as they are.
bool PlatformRunDialog();
// The About box on the host's window (natively nothing).
void PlatformRunAboutBox();
void PlatformFreeResources();
