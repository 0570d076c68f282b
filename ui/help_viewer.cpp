// Context help (see ui/help_viewer.h): the help table, the help file and
// viewer paths found once at start-up, and the one viewer process of ours.
#include "ui/help_viewer.h"

#include <windows.h>

#include <cerrno>

#include "params/user_data_folders.h"
#include "support/debug_log.h"

namespace {

// Control identifiers as in the dialog templates; menu command identifiers
// for the preview's context menu and the settings menu. The rows of the
// About box, Options, proxy server, product update and announcement dialogs
// serve the peripheral dialogs.
const HelpEntry kHelpTable[] = {
    {0, 1192, "MainDialog.htm"},  // the main dialog's help icon
    {0, 1193, "AboutBox.htm"},
    {0, 1195, "ProxyServerDialog.htm"},
    {0, 1196, "ConfigurationDialog.htm"},  // the Options dialog's help icon
    {0, 1197, "ProductUpdateDialog.htm"},
    {0, 1210, "AnnouncementDialog.htm"},
    {0, 1023, "SelectingPredefinedSettings.htm"},  // the settings list
    {0, 1191, "ConfigureButton.htm"},
    {0, 1002, "ViewportPreviewCheckbox.htm"},
    {0, 1122, "EffectsOnly.htm"},
    {0, 1040, "DisplayViewport.htm"},  // the preview area
    {0, 1049, "DisplayViewport.htm"},  // and its frame
    {0, 1, "MainDialog.htm"},          // OK
    {0, 2, "MainDialog.htm"},          // Cancel
    // The value edits and sliders.
    {0, 1025, "QuantityControl.htm"},
    {0, 1026, "QuantityControl.htm"},
    {0, 1004, "IntensityControl.htm"},
    {0, 1005, "IntensityControl.htm"},
    {0, 1006, "LengthControl.htm"},
    {0, 1007, "LengthControl.htm"},
    {0, 1008, "AngleControl.htm"},
    {0, 1009, "AngleControl.htm"},
    {0, 1010, "NumberOfPointsControl.htm"},
    {0, 1011, "NumberOfPointsControl.htm"},
    {0, 1024, "SpikeSharpnessControl.htm"},
    {0, 1022, "SpikeSharpnessControl.htm"},
    {0, 1012, "ColorSaturationControl.htm"},
    {0, 1013, "ColorSaturationControl.htm"},
    {0, 1181, "ColorHueControl.htm"},
    {0, 1180, "ColorHueControl.htm"},
    {0, 1014, "RainbowIntensityControl.htm"},
    {0, 1015, "RainbowIntensityControl.htm"},
    {0, 1016, "RainbowFrequencyControl.htm"},
    {0, 1017, "RainbowFrequencyControl.htm"},
    {0, 1018, "SecondarySpikeIntensityControl.htm"},
    {0, 1019, "SecondarySpikeIntensityControl.htm"},
    {0, 1020, "SoftFlareIntensityControl.htm"},
    {0, 1021, "SoftFlareIntensityControl.htm"},
    {0, 1029, "RingFlareIntensityControl.htm"},
    {0, 1027, "RingFlareIntensityControl.htm"},
    // The preview's context menu (the zoom levels, Actual Pixels, Fit in View, Fit on Screen).
    {0, 40017, "ViewportContextMenu.htm"},
    {0, 40016, "ViewportContextMenu.htm"},
    {0, 40015, "ViewportContextMenu.htm"},
    {0, 40014, "ViewportContextMenu.htm"},
    {0, 40013, "ViewportContextMenu.htm"},
    {0, 40012, "ViewportContextMenu.htm"},
    {0, 40011, "ViewportContextMenu.htm"},
    {0, 40010, "ViewportContextMenu.htm"},
    {0, 40009, "ViewportContextMenu.htm"},
    {0, 40008, "ViewportContextMenu.htm"},
    {0, 40007, "ViewportContextMenu.htm"},
    {0, 40006, "ViewportContextMenu.htm"},
    {0, 40005, "ViewportContextMenu.htm"},
    {0, 40004, "ViewportContextMenu.htm"},
    {0, 40003, "ViewportContextMenu.htm"},
    {0, 40002, "ViewportContextMenu.htm"},
    {0, 40001, "ViewportContextMenu.htm"},
    {0, 40018, "ViewportContextMenu.htm"},
    {0, 40019, "ViewportContextMenu.htm"},
    {0, 40020, "ViewportContextMenu.htm"},
    // The settings menu: Load, Save, Delete.
    {0, 40096, "SaveLoadControl.htm"},
    {0, 40097, "SaveLoadControl.htm"},
    {0, 40098, "SaveLoadControl.htm"},
    // The About box.
    {0, 1175, "AboutBox.htm"},
    {0, 1116, "AboutBox.htm"},
    {0, 1117, "AboutBox.htm"},
    {0, 1198, "AboutBox.htm"},
    {0, 1151, "ConfigureButton.htm"},  // its Configure Options button
    // The Options dialog.
    {0, 1152, "ConfigurationDialog.htm"},
    {0, 1159, "ConfigurationDialog.htm"},
    {0, 1186, "ConfigurationDialog.htm"},
    {0, 1199, "ConfigurationDialog.htm"},
    {0, 1200, "ConfigurationDialog.htm"},
    {0, 1153, "ConfigurationDialog.htm"},
    {0, 1154, "ConfigurationDialog.htm"},
    {0, 1190, "OpenGLDrawingOptions.htm"},  // the OpenGL option buttons
    {0, 1188, "OpenGLDrawingOptions.htm"},
    {0, 1189, "OpenGLDrawingOptions.htm"},
    // The proxy server, product update and announcement dialogs.
    {0, 1145, "ProxyServerOptions.htm"},
    {0, 1141, "ProxyServerOptions.htm"},
    {0, 1139, "ProxyServerOptions.htm"},
    {0, 1140, "ProxyServerOptions.htm"},
    {0, 1142, "ProxyServerOptions.htm"},
    {0, 1143, "ProxyServerOptions.htm"},
    {0, 1144, "ProxyServerOptions.htm"},
    {0, 1201, "ProxyServerDialog.htm"},
    {0, 1202, "ProxyServerDialog.htm"},
    {0, 1158, "ProductUpdateDialog.htm"},
    {0, 1162, "ProductUpdateDialog.htm"},
    {0, 1223, "ProductUpdateDialog.htm"},
    {0, 1206, "ProductUpdateDialog.htm"},
    {0, 1224, "ProductUpdateDialog.htm"},
    {0, 1217, "AnnouncementDialog.htm"},
    {0, 1220, "AnnouncementDialog.htm"},
    {0, 1219, "AnnouncementDialog.htm"},
    {0, 1211, "AnnouncementDialog.htm"},
};
constexpr size_t kHelpTableRows = sizeof(kHelpTable) / sizeof(kHelpTable[0]);

// The fixed buffers these paths and command lines have always been built in.
constexpr size_t kMaxPath = 1000;
constexpr size_t kMaxDocument = 2000;

std::string gHelpFilePath;
std::string gViewerPath;

// The viewer started last; null handles when there is none.
HANDLE gViewerProcess = nullptr;
HANDLE gViewerThread = nullptr;
DWORD gViewerThreadId = 0;
DWORD gViewerProcessId = 0;
std::string gViewerDocument;
// How long a viewer started a moment ago may take to be ready for WM_QUIT.
constexpr DWORD kViewerStartMs = 5000;

// The folder of the module this code is linked into (the .8bf), with a
// trailing separator; empty when it cannot be had.
std::string ModuleFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&ModuleFolder), &module))
        return std::string();
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    std::string folder(path, n);
    const size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The installed manual: "<product common folder>\<title>.chm". False when it
// cannot be built (reported); `path` is then empty.
bool InstalledHelpFilePath(std::string& path) {
    path.clear();
    std::string folder;
    if (!AreUserDataFoldersReady() || !GetProductCommonFolder(folder)) {
        ReportUnexpected(__LINE__, "InitializeHelpViewer() Could not get the help file directory.");
        return false;
    }
    if (folder.size() >= kMaxPath) {
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, ERANGE)
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "_tcscpy_s() failed with Parameters Directory = '%s'",
                    folder.c_str());
        ReportUnexpected(__LINE__, "InitializeHelpViewer() Could not get the help file directory.");
        return false;
    }
    std::string file = folder + "\\" + kProductTitle + ".chm";
    if (file.size() >= kMaxPath) {
        ReportUnexpected(__LINE__,
                         "InitializeHelpViewer() Could not build a path to the product %s help file. Error '%s' was "
                         "reported.",
                         kProductTitle, RunTimeErrorText(ERANGE).c_str());
        return false;
    }
    path = file;
    return true;
}

// Posts WM_QUIT to the viewer's thread while its process still runs (a
// thread id of a process that has ended may belong to another by now), then
// closes and forgets the handles. A viewer started a moment ago (Help
// pressed twice quickly) is given time to make its message queue first:
// a message posted to a thread without one is lost.
void EndRecordedViewer() {
    if (!gViewerProcess && !gViewerThread) return;
    if (gViewerProcess && WaitForSingleObject(gViewerProcess, 0) == WAIT_TIMEOUT) {
        WaitForInputIdle(gViewerProcess, kViewerStartMs);
        PostThreadMessageA(gViewerThreadId, WM_QUIT, 0, 0);
    }
    if (gViewerProcess) CloseHandle(gViewerProcess);
    if (gViewerThread) CloseHandle(gViewerThread);
    gViewerProcess = nullptr;
    gViewerThread = nullptr;
    gViewerThreadId = 0;
    gViewerProcessId = 0;
    gViewerDocument.clear();
}

}  // namespace

const HelpEntry* GetHelpTable(size_t* rowCount) {
    if (rowCount) *rowCount = kHelpTableRows;
    return kHelpTable;
}

bool InitializeHelpViewer() {
    std::string installed;
    bool ok = InstalledHelpFilePath(installed);
    // NOTE: where no installation has put the manual into the common folder,
    // the one the build writes beside the plug-in serves.
    gHelpFilePath = installed;
    if (installed.empty() || !FileExists(installed)) {
        const std::string besideModule = ModuleFolder() + kProductFolderName + ".chm";
        if (FileExists(besideModule)) {
            gHelpFilePath = besideModule;
        } else {
            DebugEvent(__LINE__, TRACE_MESSAGE)
                .Report("InitializeHelpViewer() The help file is neither at '%s' nor at '%s'.", installed.c_str(),
                        besideModule.c_str());
        }
    }

    char windows[MAX_PATH + 1] = {};
    const UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    if (n == 0 || n > MAX_PATH) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "InitializeHelpViewer() Could not get the Windows directory.");
        return false;
    }
    std::string viewer = std::string(windows, n) + "\\hh.exe";
    if (viewer.size() >= kMaxPath) {
        ReportUnexpected(__LINE__,
                         "InitializeHelpViewer() Could not build a path to the help viewer executable. Error '%s' was "
                         "reported.",
                         RunTimeErrorText(ERANGE).c_str());
        return false;
    }
    gViewerPath = viewer;
    return ok;
}

const std::string& GetHelpFilePath() { return gHelpFilePath; }

bool HelpDocumentForControl(uint32_t controlId, std::string& document) {
    document.clear();
    const HelpEntry* row = nullptr;
    for (const HelpEntry& entry : kHelpTable) {
        if (entry.controlId == controlId) {
            row = &entry;
            break;
        }
    }
    if (!row) {
        document = gHelpFilePath;
        return true;
    }
    if (row->displayMode != 0) {
        ReportUnexpected(__LINE__, "DisplayHTMLControlHelp() Invalid display mode %d specified for control %u",
                         row->displayMode, controlId);
        return false;
    }
    if (!row->page || !*row->page) return false;
    std::string built = gHelpFilePath + "::/" + row->page;
    if (built.size() >= kMaxDocument) {
        ReportUnexpected(__LINE__,
                         "DisplayHelpUsingURL() Could not build the help document name for URL '%s'. Error '%s' was "
                         "reported.",
                         row->page, RunTimeErrorText(ERANGE).c_str());
        return false;
    }
    document = built;
    return true;
}

void DisplayHTMLControlHelp(uint32_t controlId) {
    std::string document;
    if (HelpDocumentForControl(controlId, document)) DisplayHelpInViewer(document.c_str());
}

void DisplayHelpInViewer(const char* document) {
    EndRecordedViewer();
    std::string commandLine = gViewerPath + " ms-its:" + (document ? document : "");
    if (commandLine.size() >= kMaxDocument) {
        ReportUnexpected(__LINE__,
                         "DisplayHelpInViewer() Could not build a command line for the HTML Help Viewer. Error '%s' "
                         "was reported.",
                         RunTimeErrorText(ERANGE).c_str());
        return;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "DisplayHelpInViewer() failed to spawn HTML Help Viewer command line '%s'.", commandLine.c_str());
        return;
    }
    gViewerProcess = process.hProcess;
    gViewerThread = process.hThread;
    gViewerThreadId = process.dwThreadId;
    gViewerProcessId = process.dwProcessId;
    gViewerDocument = document ? document : "";
}

void CloseHelpViewer() { EndRecordedViewer(); }

uint32_t HelpViewerProcessId() { return gViewerProcessId; }

const std::string& HelpViewerDocument() { return gViewerDocument; }
