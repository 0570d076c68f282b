// Where the presets are, for the command-line tool and the GIMP plug-in alike:
// the program's own folder in a build tree or an unpacked copy, then the
// installed data folder (share/raylume/presets), found relative to the
// program (an installation under any prefix) and at the prefix the build was
// configured for (the GIMP plug-in sits deep under lib/).
#pragma once

#include <string>
#include <vector>

#ifndef RAYLUME_INSTALLED_DATA_DIR
#define RAYLUME_INSTALLED_DATA_DIR "/usr/share/raylume"
#endif

inline std::vector<std::string> PresetFolderCandidates(const std::string& programFolder) {
    return {programFolder + "/presets", programFolder + "/../presets", programFolder + "/../../presets",
            programFolder + "/../share/raylume/presets", std::string(RAYLUME_INSTALLED_DATA_DIR) + "/presets"};
}
