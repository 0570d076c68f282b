// The per-user and common data folders of the product, made once per run.
#pragma once

#include <string>

// Makes the Settings, Parameters and Logs folders under the per-user data root
// and finds the common folder; sets the folders-ready flag when all four exist.
bool MakeUserDataFolder();
bool AreUserDataFoldersReady();
// Each getter fails (reporting it) while the folders are not ready.
bool GetUserSettingsFolder(std::string& path);
bool GetUserParametersFolder(std::string& path);
bool GetUserLogsFolder(std::string& path);
bool GetCommonDataFolder(std::string& path);
bool GetProductCommonFolder(std::string& path);
// Forgets the folders (tests, and a run that starts afresh).
void ResetUserDataFolders();

extern const char kProductFolderName[];   // "RaylumePro2"
extern const char kProductTitle[];        // "Raylume Pro 2"
