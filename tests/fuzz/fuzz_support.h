// What every fuzz target shares: a private data folder, no message boxes,
// and a scratch file to hand a reader that opens paths.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "params/user_data_folders.h"
#include "support/os.h"

inline int NoMessageBox(OsWindow, const char*, const char*, uint32_t) { return 1; }

// Once per process: the per-user folders in a folder of its own.
inline const std::string& FuzzFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/raylume-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        std::string path = made ? made : "/tmp";
        setenv("XDG_DATA_HOME", path.c_str(), 1);
        OsSetMessageBoxShower(NoMessageBox);
        MakeUserDataFolder();
        return path;
    }();
    return folder;
}

// Writes the bytes to `path`; false when it could not be written.
inline bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}
