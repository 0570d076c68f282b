#include "params/user_data_folders.h"

#include <cstdio>

#include "support/debug_log.h"
#include "support/os.h"

const char kProductFolderName[] = "RaylumePro2";
const char kProductTitle[] = "Raylume Pro 2";

namespace {

constexpr size_t kMaxPath = 1000;

struct UserFolders {
    bool ready = false;
    std::string settings;
    std::string parameters;
    std::string logs;
    std::string common;
    std::string productCommon;
};
UserFolders gFolders;

// "Corvane\%s\Settings" and friends, with the separator of the platform.
std::string SubPath(const char* leaf) {
    std::string path = "Corvane";
    path += OS_PATH_SEPARATOR;
    path += kProductFolderName;
    path += OS_PATH_SEPARATOR;
    path += leaf;
    return path;
}

bool GetUserDataFolder(std::string& root) {
    uint32_t result = 0;
    if (!OsGetUserDataRoot(root, &result)) {
        ReportUnexpected(__LINE__, "SHGetFolderPath failed with GetFolderResult = '%X' and  Last Error = '%X'", result,
                         OsGetLastError());
        ReportUnexpected(__LINE__, "GetUserDataFolder() failed.");
        return false;
    }
    return true;
}

bool CreateFolder(const std::string& path) {
    if (path.size() >= kMaxPath) {
        ReportUnexpected(__LINE__, "SHCreateDirectoryEx failed.  Result = '%X' and Last Error = '%X'",
                         OS_ERROR_FILENAME_EXCED_RANGE, OsGetLastError());
        return false;
    }
    uint32_t result = OsCreateDirectoryTree(path);
    switch (result) {
        case 0:
        case OS_ERROR_FILE_EXISTS:
        case OS_ERROR_ALREADY_EXISTS: return OsFolderExists(path);
        case OS_ERROR_PATH_NOT_FOUND:
        case OS_ERROR_BAD_PATHNAME:
        case OS_ERROR_FILENAME_EXCED_RANGE:
        case OS_ERROR_CANCELLED:
            ReportUnexpected(__LINE__, "SHCreateDirectoryEx failed.  Result = '%X' and Last Error = '%X'", result,
                             OsGetLastError());
            return false;
        default:
            ReportUnexpected(__LINE__, "SHCreateDirectoryEx failed with unexpected Result = '%X' and Last Error = '%X'",
                             result, OsGetLastError());
            return false;
    }
}

bool MakeOne(const char* leaf, const char* failure, std::string& out) {
    std::string root;
    out.clear();
    if (GetUserDataFolder(root)) {
        std::string path = OsJoinPath(root, SubPath(leaf));
        if (CreateFolder(path)) {
            out = path;
            return true;
        }
        ReportUnexpected(__LINE__, failure, path.c_str());
    } else {
        ReportUnexpected(__LINE__, failure, SubPath(leaf).c_str());
    }
    return false;
}

bool ReadyOrReport(const char* what) {
    if (gFolders.ready) return true;
    ReportUnexpected(__LINE__, "%s", what);
    return false;
}

}  // namespace

bool MakeUserDataFolder() {
    bool ok = true;
    ok &= MakeOne("Settings", "MakeUserDataFolder() failed with Settings Subdirectory = '%s'", gFolders.settings);
    ok &= MakeOne("Parameters", "MakeUserDataFolder() failed with Parameters Subdirectory = '%s'", gFolders.parameters);
    ok &= MakeOne("Logs", "MakeUserDataFolder() failed with DebugLog Subdirectory = '%s'", gFolders.logs);
    std::string root;
    uint32_t result = 0;
    gFolders.common.clear();
    if (OsGetCommonDataRoot(root, &result) && CreateFolder(OsJoinPath(root, "CorvaneSoftware"))) {
        gFolders.common = OsJoinPath(root, "CorvaneSoftware");
    } else {
        ReportUnexpected(__LINE__, "GetCommonDataFolder() failed to initialize the common data directory.");
        ok = false;
    }
    gFolders.productCommon = gFolders.common.empty() ? std::string() : OsJoinPath(gFolders.common, kProductTitle);
    gFolders.ready = ok;
    // The log writes into the Logs folder only when every folder is there.
    SetDebugLogFolder(ok ? gFolders.logs : std::string());
    return ok;
}

bool AreUserDataFoldersReady() { return gFolders.ready; }

bool GetUserSettingsFolder(std::string& path) {
    if (!ReadyOrReport("GetUserDataFolder() failed.")) return false;
    path = gFolders.settings;
    return true;
}

bool GetUserParametersFolder(std::string& path) {
    if (!ReadyOrReport("GetUserParametersFolder() failed.")) return false;
    path = gFolders.parameters;
    return true;
}

bool GetUserLogsFolder(std::string& path) {
    if (!gFolders.ready) return false;  // the log cannot report its own folder
    path = gFolders.logs;
    return true;
}

bool GetCommonDataFolder(std::string& path) {
    if (!ReadyOrReport("GetUserDataFolder() failed.")) return false;
    path = gFolders.common;
    return true;
}

bool GetProductCommonFolder(std::string& path) {
    if (!ReadyOrReport("GetUserDataFolder() failed.")) return false;
    path = gFolders.productCommon;
    return true;
}

void ResetUserDataFolders() {
    gFolders = UserFolders();
    SetDebugLogFolder(std::string());
}
