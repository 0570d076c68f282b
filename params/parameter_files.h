// Parameter files ("*.rlp", 255-byte blocks), the last-saved set and the
// dialog's interface settings ("UISettings.bin", 52 bytes), in the per-user
// Settings and Parameters folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "params/filter_parameters.h"

extern const char kLastSavedParametersFile[];   // "LastSavedParameters.rlp"
extern const char kInterfaceSettingsFile[];     // "UISettings.bin"
extern const char kParameterFileExtension[];    // "rlp"

// ---- whole files in the Settings folder ----
// Reads up to `size` bytes; `read` receives how many. False (reported) when
// the folders are not ready or the file cannot be read; a missing file is
// logged as not existing yet.
bool ReadSettingsFile(const char* name, void* buffer, size_t size, size_t* read);
bool WriteSettingsFile(const char* name, const void* buffer, size_t size);

// ---- parameter files ----
// Reads up to 255 bytes into `block` (zero-filled first); a file shorter than
// the 36-byte record is invalid.
bool ReadParameterFile(const std::string& path, uint8_t block[PARAMETER_BLOCK_SIZE]);
bool WriteParameterFile(const void* block, const std::string& path);
// Test hook: every later write of a settings or parameter file fails as on a full disk.
void SetSettingsWriteFailureForTesting(bool fail);
bool DeleteParameterFile(const std::string& path);
// "name.rlp" in the Parameters folder; empty when the folders are not ready.
std::string ParameterFilePath(const std::string& baseName);
// The file name up to its first period.
std::string ParameterFileBaseName(const std::string& path);

// Checks a parameter file inside the Parameters folder: a valid block of the
// current version is returned as it is; an older one is converted and written
// back; an unreadable or unconvertible file is deleted. The user is told what
// happened. Returns a new block (caller frees with FreeParameterBlock) or null.
void* CheckParameterFileInFolder(const std::string& path);
// The same for a file from elsewhere, which is never rewritten or deleted.
void* CheckImportedParameterFile(const std::string& path);
// Whether `path` lies in the Parameters folder.
bool IsInParametersFolder(const std::string& path);

// ---- the last-saved set ----
// Applies "LastSavedParameters.rlp" to the current record (converted when
// older). False when it is missing or cannot be converted.
bool LoadLastSavedParameters();
// Writes a copy of the current record as "LastSavedParameters.rlp".
bool SaveLastSavedParameters();

// ---- interface settings ----
enum PreviewTool : int32_t { PREVIEW_TOOL_PAN = 1, PREVIEW_TOOL_ZOOM = 2, PREVIEW_TOOL_HIDE = 3, PREVIEW_TOOL_SHOW = 4 };

#pragma pack(push, 1)
struct InterfaceSettings {
    int16_t version[4];      // 0, 0, 0, 9
    int32_t windowRect[4];   // left, top, right, bottom in screen coordinates; all zero: none saved
    int32_t previewTool;     // PreviewTool
    int32_t previewChecked;  // nonzero: "&Preview" checked
    uint8_t reserved[20];
};
#pragma pack(pop)
static_assert(sizeof(InterfaceSettings) == 52, "the interface settings file is 52 bytes");

// The values used when no file exists.
InterfaceSettings DefaultInterfaceSettings();
// Reads the file into `settings`; a missing file or another stamp keeps the
// values given. True when the file's values were taken.
bool LoadInterfaceSettings(InterfaceSettings* settings);
bool WriteInterfaceSettings(const InterfaceSettings& settings);
