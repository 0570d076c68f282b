// Parameter files, the last-saved set and the interface settings file.
#include "params/parameter_files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "params/user_data_folders.h"
#include "support/debug_log.h"
#include "support/os.h"

#ifdef _WIN32
#define PathPrefixCompare _strnicmp  // Windows paths ignore case
#else
#define PathPrefixCompare strncmp
#endif

const char kLastSavedParametersFile[] = "LastSavedParameters.rlp";
const char kInterfaceSettingsFile[] = "UISettings.bin";
const char kParameterFileExtension[] = "rlp";

namespace {

constexpr size_t kMaxPath = 1000;
const int16_t kInterfaceSettingsVersion[4] = {0, 0, 0, 9};

bool SettingsPath(const char* name, std::string& path) {
    std::string folder;
    if (!GetUserSettingsFolder(folder)) return false;
    if (folder.size() >= kMaxPath) {
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, ERANGE)
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "_tcscpy_s() failed with Settings Directory = '%s'",
                    folder.c_str());
        return false;
    }
    path = OsJoinPath(folder, name);
    if (path.size() >= kMaxPath) {
        ReportUnexpected(__LINE__, "_stprintf_s() failed with Filename = '%s' and  errno = '%d'", name, ERANGE);
        return false;
    }
    return true;
}

// Writes through a temporary file that then replaces the old one, so that a
// failed write leaves the previous file as it was.
// Each writer has its own temporary name (process, thread and a count), so
// that two runs saving the same file at once never share one.
std::atomic<uint32_t> gTemporaryCount{0};
bool gFailWritesForTesting = false;

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    std::string temporary = path + ".new-" + std::to_string(OsGetCurrentProcessId()) + "-" +
                            std::to_string(OsGetCurrentThreadId()) + "-" + std::to_string(gTemporaryCount.fetch_add(1));
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        int e = errno;
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(e))
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "_tfopen() failed with FilePath = '%s'  and  errno = '%d'",
                    path.c_str(), e);
        return false;
    }
    errno = 0;
    bool ok = !gFailWritesForTesting && std::fwrite(data, 1, size, file) == size;
    int e = gFailWritesForTesting ? ENOSPC : errno;
    if (std::fclose(file) != 0) {
        if (ok) e = errno;
        ok = false;
    }
    if (ok && !OsReplaceFile(temporary, path)) {
        e = errno ? errno : EIO;
        ok = false;
    }
    if (!ok && e == 0) e = EIO;
    if (!ok) {
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(e))
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "fwrite() failed with FilePath = '%s'  and  error = '%s'",
                    path.c_str(), RunTimeErrorText(e).c_str());
        std::remove(temporary.c_str());
    }
    return ok;
}

void TellUser(uint32_t icon, const char* caption, const std::string& text) {
    DebugEvent(__LINE__, USER_MESSAGE).Report(icon, caption, "%s", text.c_str());
}

std::string Format(const char* format, const std::string& path) {
    char buffer[2 * kMaxPath + 512];
    std::snprintf(buffer, sizeof(buffer), format, path.c_str());
    return buffer;
}

std::string FormatObsolete(const char* format, const std::string& path, const int16_t* stamp) {
    char buffer[2 * kMaxPath + 512];
    std::snprintf(buffer, sizeof(buffer), format, path.c_str(), stamp[0], stamp[1], stamp[2], stamp[3]);
    return buffer;
}

void* NewBlockFrom(const uint8_t* bytes) {
    void* block = std::calloc(1, PARAMETER_BLOCK_SIZE);
    if (block) std::memcpy(block, bytes, PARAMETER_BLOCK_SIZE);
    return block;
}

// The common part of both checks: the block of a readable file, converted
// when it is older. `inFolder` rewrites converted files and deletes bad ones.
void* CheckParameterFile(const std::string& path, bool inFolder) {
    uint8_t bytes[PARAMETER_BLOCK_SIZE];
    if (!ReadParameterFile(path, bytes)) {
        if (inFolder) {
            TellUser(OS_MB_ICONERROR, "Invalid Parameter Set",
                     Format("Your Parameter Set file '%s' is invalid and cannot be used. The file is being deleted.\r\n",
                            path));
            DeleteParameterFile(path);
        } else {
            TellUser(OS_MB_ICONERROR, "Invalid Parameter Set",
                     Format("Your Parameter Set file '%s' is invalid and cannot be used.", path));
        }
        return nullptr;
    }
    if (ParameterBlockVersionMatches(bytes)) return NewBlockFrom(bytes);
    void* converted = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_CONVERT, bytes));
    if (converted) {
        if (!inFolder) {
            TellUser(OS_MB_ICONINFORMATION, "Parameter Set Conversion",
                     Format("Your Parameter Set file '%s' was saved in an older format and has been converted.\n\nYou "
                            "may want to look over the loaded settings as a double-check.",
                            path));
        } else if (WriteParameterFile(converted, path)) {
            TellUser(OS_MB_ICONINFORMATION, "Parameter Set Conversion",
                     Format("Your Parameter Set file '%s' was saved in an older format and has been "
                            "converted.\r\n\r\nThe converted Parameter Set has been saved, replacing the original file.",
                            path));
        } else {
            TellUser(OS_MB_ICONWARNING, "Parameter Set Conversion",
                     Format("Your Parameter Set file '%s' was saved in an older format and has been converted but "
                            "theconverted Parameter Set could not be saved.\r\n\r\nYou should save the converted "
                            "parameter set (which is now current) to a new file.",
                            path));
        }
        return converted;
    }
    int16_t stamp[4];
    std::memcpy(stamp, bytes, sizeof(stamp));
    if (inFolder) {
        TellUser(OS_MB_ICONERROR, "Parameter Set Conversion",
                 FormatObsolete("Your Parameter Set file '%s' (Major Version = '%d', Minor Version = '%d', Revision = "
                                "'%d', Build = '%d')was saved in an obsolete format and cannot be converted. The file "
                                "will be deleted.",
                                path, stamp));
        DeleteParameterFile(path);
    } else {
        TellUser(OS_MB_ICONERROR, "Parameter Set Conversion",
                 FormatObsolete("Your Parameter Set file '%s' (Major Version = '%d', Minor Version = '%d', Revision = "
                                "'%d', Build = '%d')was saved in an obsolete format and cannot be converted.  Your "
                                "current settings have not been changed.",
                                path, stamp));
    }
    return nullptr;
}

}  // namespace

bool ReadSettingsFile(const char* name, void* buffer, size_t size, size_t* read) {
    if (read) *read = 0;
    std::string path;
    if (!SettingsPath(name, path)) return false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        int e = errno;
        if (e == ENOENT)
            DebugEvent(__LINE__).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "UI settings file '%s' does not yet exist. ",
                                        path.c_str());
        else
            DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(e))
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "fopen() failed to open file '%s' : %s", path.c_str(),
                        RunTimeErrorText(e).c_str());
        return false;
    }
    size_t n = std::fread(buffer, 1, size, file);
    bool failed = std::ferror(file) != 0;
    int e = errno;
    std::fclose(file);
    if (failed) {
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(e))
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "fread() failed to read file '%s' : '%s'", path.c_str(),
                    RunTimeErrorText(e).c_str());
        return false;
    }
    if (read) *read = n;
    return true;
}

bool WriteSettingsFile(const char* name, const void* buffer, size_t size) {
    std::string path;
    if (!SettingsPath(name, path)) return false;
    return WriteWholeFile(path, buffer, size);
}

bool ReadParameterFile(const std::string& path, uint8_t block[PARAMETER_BLOCK_SIZE]) {
    std::memset(block, 0, PARAMETER_BLOCK_SIZE);
    if (!AreUserDataFoldersReady()) {
        ReportUnexpected(__LINE__, "GetUserParametersFolder() failed.");
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        int e = errno;
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(e))
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "_tfopen() failed with FilePath = '%s'  and  error = '%s'",
                    path.c_str(), RunTimeErrorText(e).c_str());
        return false;
    }
    size_t n = std::fread(block, 1, PARAMETER_BLOCK_SIZE, file);
    bool failed = std::ferror(file) != 0;
    int e = errno;
    std::fclose(file);
    if (failed || n < PARAMETER_RECORD_SIZE) {
        // Only the first 36 bytes carry meaning; a shorter file holds no record.
        std::memset(block, 0, PARAMETER_BLOCK_SIZE);
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(failed ? e : EIO))
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "fread() failed with errno = '%s'",
                    failed ? RunTimeErrorText(e).c_str() : "file too short");
        return false;
    }
    // The tail has no meaning; it is kept zero.
    std::memset(block + PARAMETER_RECORD_SIZE, 0, PARAMETER_BLOCK_SIZE - PARAMETER_RECORD_SIZE);
    return true;
}

bool WriteParameterFile(const void* block, const std::string& path) {
    if (!block) return false;
    if (!AreUserDataFoldersReady()) {
        ReportUnexpected(__LINE__, "GetUserParametersFolder() failed.");
        return false;
    }
    return WriteWholeFile(path, block, PARAMETER_BLOCK_SIZE);
}

bool DeleteParameterFile(const std::string& path) {
    if (std::remove(path.c_str()) != 0) {
        int e = errno;
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, static_cast<uint32_t>(e))
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED,
                    "_tremove() failed with error = '%d'. File to be deleted was '%s'", e, path.c_str());
        return false;
    }
    return true;
}

std::string ParameterFilePath(const std::string& baseName) {
    std::string folder;
    if (!GetUserParametersFolder(folder)) return std::string();
    if (folder.size() >= kMaxPath) {
        DebugEvent(__LINE__, CRT_LIBRARY_ERROR, ERANGE)
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "_tcscpy_s() failed with Parameters Directory = '%s'",
                    folder.c_str());
        return std::string();
    }
    return OsJoinPath(folder, baseName + "." + kParameterFileExtension);
}

std::string ParameterFileBaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool IsInParametersFolder(const std::string& path) {
    std::string folder;
    if (!GetUserParametersFolder(folder) || folder.empty()) return false;
    size_t n = folder.size() - 1;
    return path.size() >= n && PathPrefixCompare(path.c_str(), folder.c_str(), n) == 0;
}

void* CheckParameterFileInFolder(const std::string& path) { return CheckParameterFile(path, true); }
void* CheckImportedParameterFile(const std::string& path) { return CheckParameterFile(path, false); }

bool LoadLastSavedParameters() {
    uint8_t block[PARAMETER_BLOCK_SIZE] = {};
    size_t read = 0;
    if (!ReadSettingsFile(kLastSavedParametersFile, block, sizeof(block), &read)) return false;
    if (read < PARAMETER_RECORD_SIZE) {
        ReportUnexpected(__LINE__, "fread() failed to read file '%s' : '%s'", kLastSavedParametersFile, "file too short");
        return false;
    }
    if (ParameterBlockVersionMatches(block)) return ParameterBlockProc(PARAMETER_OP_APPLY, block) != 0;
    void* converted = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_CONVERT, block));
    if (!converted) {
        const int16_t* current = CURRENT_PARAMETER_VERSION;
        int16_t stored[4];
        std::memcpy(stored, block, sizeof(stored));
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, DEBUG_CAPTION_WARNING,
                                    "No parameter file conversion could be done, using defaults.  Stored version = "
                                    "%d.%d.%d.%d, current version = %d.%d.%d.%d\n",
                                    stored[0], stored[1], stored[2], stored[3], current[0], current[1], current[2],
                                    current[3]);
        return false;
    }
    bool applied = ParameterBlockProc(PARAMETER_OP_APPLY, converted) != 0;
    FreeParameterBlock(converted);
    return applied;
}

bool SaveLastSavedParameters() {
    void* copy = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_NEW_COPY, nullptr));
    if (!copy) return false;
    bool ok = WriteSettingsFile(kLastSavedParametersFile, copy, PARAMETER_BLOCK_SIZE);
    FreeParameterBlock(copy);
    return ok;
}

InterfaceSettings DefaultInterfaceSettings() {
    InterfaceSettings settings;
    std::memset(&settings, 0, sizeof(settings));
    std::memcpy(settings.version, kInterfaceSettingsVersion, sizeof(settings.version));
    settings.previewTool = PREVIEW_TOOL_ZOOM;
    settings.previewChecked = 1;
    return settings;
}

bool LoadInterfaceSettings(InterfaceSettings* settings) {
    InterfaceSettings file;
    std::memset(&file, 0, sizeof(file));
    size_t read = 0;
    if (!ReadSettingsFile(kInterfaceSettingsFile, &file, sizeof(file), &read)) return false;
    if (read < sizeof(file) || std::memcmp(file.version, kInterfaceSettingsVersion, sizeof(file.version)) != 0) {
        ReportUnexpected(__LINE__, "User Setting File version mismatch. File Version = '%d','%d','%d','%d'",
                         file.version[0], file.version[1], file.version[2], file.version[3]);
        return false;
    }
    *settings = file;
    return true;
}

bool WriteInterfaceSettings(const InterfaceSettings& settings) {
    InterfaceSettings file = settings;
    std::memcpy(file.version, kInterfaceSettingsVersion, sizeof(file.version));
    std::memset(file.reserved, 0, sizeof(file.reserved));
    return WriteSettingsFile(kInterfaceSettingsFile, &file, sizeof(file));
}

void SetSettingsWriteFailureForTesting(bool fail) { gFailWritesForTesting = fail; }
