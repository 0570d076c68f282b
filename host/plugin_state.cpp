// Per-run start-up and tear-down shared by PluginMain and the stand-alone entries.
#include "host/plugin_state.h"

#include "host/progress.h"
#include "image/tracked_buffer.h"
#include "params/user_data_folders.h"
#include "support/debug_log.h"

void SetResultError(int16 code) {
    if (gPlugin.result && *gPlugin.result == noErr) *gPlugin.result = code;
}

int16 GetResult() { return gPlugin.result ? *gPlugin.result : static_cast<int16>(noErr); }

void* GetPluginInstance() {
    if (!gPlugin.instance) ReportUnexpected(__LINE__, "The application's instance handle has not been initialized.");
    return gPlugin.instance;
}

namespace {

// The host's SPBasic of the current call: the filter record's, or the about
// record's for the about selector.
SPBasicSuite* BasicSuite() {
    // The record is at least as long as its suite pointer in every host we serve.
    if (FilterRecord* record = gPlugin.filterRecord) return record->sSPBasic;
    if (AboutRecord* about = gPlugin.aboutRecord) return about->sSPBasic;
    return nullptr;
}

void AcquireHostSuites() {
    SPBasicSuite* basic = BasicSuite();
    gPlugin.basicSuite = basic;
    // Marked first: a start-up cut short still gives back what it took.
    gPlugin.suitesAcquired = true;
    if (basic && basic->AcquireSuite) {
        if (!gPlugin.propertySuite) {
            const void* suite = nullptr;
            if (basic->AcquireSuite(PROPERTY_SUITE_NAME, kPropertySuiteVersion1, &suite) == 0 && suite)
                gPlugin.propertySuite = static_cast<const PropertyProcs*>(suite);
        }
        if (!gPlugin.errorSuite) {
            const void* suite = nullptr;
            if (basic->AcquireSuite(ERROR_SUITE_NAME, kErrorSuiteVersion1, &suite) == 0 && suite)
                gPlugin.errorSuite = static_cast<const ErrorSuite1*>(suite);
        }
    }
}

void ReleaseHostSuites() {
    // The suites go back to the SPBasic they came from, even when the run ends
    // in a call whose block carries none (the about record may hold NULL).
    SPBasicSuite* basic = BasicSuite();
    if (!basic) basic = gPlugin.basicSuite;
    if (basic && basic->ReleaseSuite) {
        if (gPlugin.errorSuite) basic->ReleaseSuite(ERROR_SUITE_NAME, kErrorSuiteVersion1);
        if (gPlugin.propertySuite) basic->ReleaseSuite(PROPERTY_SUITE_NAME, kPropertySuiteVersion1);
    }
    gPlugin.errorSuite = nullptr;
    gPlugin.propertySuite = nullptr;
    gPlugin.basicSuite = nullptr;
    gPlugin.suitesAcquired = false;
}

}  // namespace

bool InitializePluginState(int16 selector, OsWindow hostWindow) {
    if (gPlugin.initialised) return true;
    if (selector != filterSelectorAbout && !gPlugin.suitesAcquired) AcquireHostSuites();
    gPlugin.uiThreadId = OsGetCurrentThreadId();
    gPlugin.hostWindow = hostWindow;
    SetUserInterfaceThread(gPlugin.uiThreadId);
    OpenDebugLog(gPlugin.productTitle, hostWindow);
    MakeUserDataFolder();
    OpenDebugLogFile(LOGGING_THREADED);
    InitializeBufferUsage();
    PlatformInitializeHelp();
    // The display adapter line joins the start-up with its module.
    InitializeImageEditorProgressBar();
    gPlugin.initialised = true;
    return true;
}

void TearDownPluginState() {
    if (!gPlugin.initialised) {
        // A start-up cut short (memory ran out) may have taken the suites already.
        if (gPlugin.suitesAcquired) ReleaseHostSuites();
        return;
    }
    ReleaseImageEditorProgressBar();
    PlatformCloseHelpViewer();
    ReportBufferUsage();
    DeleteBufferUsageSection();
    if (gPlugin.suitesAcquired) ReleaseHostSuites();
    CloseDebugLog();
    gPlugin.initialised = false;
}

bool StartCom() {
    if (gPlugin.comInitialised) return true;
    int32_t hresult = 0;
    if (!PlatformCoInitialize(&hresult)) {
        ReportUnexpected(__LINE__, "Error:  CoInitialize returned 0x%X.", static_cast<unsigned>(hresult));
        return false;
    }
    if (!PlatformLoadRichEdit()) ReportUnexpected(__LINE__, "Unable to load the 'riched20.dll' Richedit control library.");
    if (!PlatformInitCommonControls())
        ReportUnexpected(__LINE__, "Failed to initialize the selected Version 6.0 common contols.");
    gPlugin.toolCursor = PlatformLoadToolCursor();
    gPlugin.parameterBlockProc = ParameterBlockProc;
    gPlugin.productTitle = "Raylume Pro 2";
    gPlugin.settingsMenu = PlatformLoadSettingsMenu();
    gPlugin.splashBitmap = PlatformLoadSplashBitmap();
    PlatformLoadOpenGLSettings();
    gPlugin.comInitialised = true;
    return true;
}

void LeaveCom() {
    if (!gPlugin.comInitialised) return;
    PlatformFreeResources();
    PlatformCoUninitialize();
    gPlugin.comInitialised = false;
}
