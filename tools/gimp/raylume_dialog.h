// The plug-in's dialog (GTK 2, as GIMP 2.10): a zoomable preview of the
// drawable that the engine renders on the preview's reduced copy whenever a
// control changes, a presets menu, the thirteen sliders, Effects Only and
// the choice of a new layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/gimp/plugin_values.h"

// Runs the dialog on `drawable` starting from `values`. True, with `values`
// as the controls left them, when the user pressed OK; false (values as they
// came) on Cancel or when the window was closed. Needs the engine set up
// (the preview runs it) and gimp_ui_init done.
bool RunRaylumeDialog(int32_t image, int32_t drawable, PlugInValues* values);

// A parameter file the presets menu offers.
struct PresetFile {
    std::string name;  // the file's name without ".rlp"
    std::string path;
};

// The presets beside the installed plug-in ("presets" in its folder, or the
// project's presets/ when run from a build folder), then the sets the user
// saved in the product's Parameters folder; sorted by name within each
// folder, a name that comes again left out.
std::vector<PresetFile> FindPresetFiles();

// The values of a parameter file, converted when it comes from an older
// version and held to the controls' ranges. False (the user told why) when
// the file cannot be used.
bool LoadPresetFile(const std::string& path, FilterParameters* parameters);
