// raylume: the filter from the command line. The image is handed to the
// plug-in's own entry point by the host simulator, exactly as an image editor
// replays a recorded filter without its dialog; the effect values travel in
// the scripting descriptor.
//
//   raylume INPUT OUTPUT [options]
//   raylume --list INPUT            print the light sources found
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/light_source_table.h"
#include "host/scripting.h"
#include "params/filter_parameters.h"
#include "support/os.h"
#include "tools/hostsim/host_simulator.h"
#include "tools/hostsim/image_files.h"

extern "C" void PluginMain(int16 selector, void* block, intptr_t* data, int16* result);

namespace {

struct Option {
    const char* name;
    int slot;
};
const Option kOptions[] = {
    {"--quantity", SLOT_QUANTITY},
    {"--intensity", SLOT_INTENSITY},
    {"--length", SLOT_LENGTH},
    {"--angle", SLOT_ANGLE},  // tenths of a degree
    {"--points", SLOT_NUMBER_OF_POINTS},
    {"--sharpness", SLOT_SPIKE_SHARPNESS},
    {"--saturation", SLOT_COLOR_SATURATION},
    {"--hue", SLOT_COLOR_HUE},
    {"--rainbow-intensity", SLOT_RAINBOW_INTENSITY},
    {"--rainbow-frequency", SLOT_RAINBOW_FREQUENCY},
    {"--secondary", SLOT_SECONDARY_SPIKE_INTENSITY},
    {"--soft-flare", SLOT_SOFT_FLARE_INTENSITY},
    {"--ring-flare", SLOT_RING_FLARE_INTENSITY},
    {"--effects-only", SLOT_EFFECTS_ONLY},
};

void Usage() {
    std::fprintf(stderr,
                 "usage: raylume INPUT OUTPUT [options]\n"
                 "       raylume --list INPUT\n"
                 "Images: binary PGM/PPM (8 or 16 bit) and PFM (32-bit float), gray or RGB.\n"
                 "Options (values as in the dialog; the angle in tenths of a degree):\n");
    for (const Option& o : kOptions) std::fprintf(stderr, "  %s N\n", o.name);
    std::fprintf(stderr,
                 "  --load-settings FILE   start from a parameter file (.rlp)\n"
                 "  --save-settings FILE   write the parameters used to a parameter file\n"
                 "  --quiet                print nothing but errors\n");
}

// The fourteen values as a scripting descriptor, as a recording host keeps them.
SimDescriptor DescriptorOf(const FilterParameters& p) {
    SimDescriptor d;
    for (int i = 0; i < 14; i++) {
        const ScriptingKey& k = kScriptingKeys[i];
        int16_t v = p.slot[k.slot];
        if (k.type == FourCC("bool"))
            d.Bool(k.key, v != 0);
        else if (k.type == FourCC("long"))
            d.Integer(k.key, v);
        else if (k.unit)
            d.UnitFloat(k.key, k.unit, k.slot == SLOT_ANGLE ? v / 10.0 : v);
        else
            d.Float(k.key, v);
    }
    return d;
}

bool ReadSettings(const char* path, FilterParameters* p) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t block[PARAMETER_BLOCK_SIZE] = {};
    size_t n = std::fread(block, 1, sizeof(block), f);
    std::fclose(f);
    if (n < PARAMETER_RECORD_SIZE) return false;
    FilterParameters record;
    std::memcpy(&record, block, sizeof(record));
    if (std::memcmp(record.slot, CURRENT_PARAMETER_VERSION, 8) != 0) {
        FilterParameters current = FACTORY_PARAMETERS;
        SetCurrentParameterRecord(&current);
        void* converted = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_CONVERT, block));
        SetCurrentParameterRecord(nullptr);
        if (!converted) return false;
        std::memcpy(&record, converted, sizeof(record));
        FreeParameterBlock(converted);
    }
    *p = record;
    return true;
}

bool WriteSettings(const char* path, const FilterParameters& p) {
    uint8_t block[PARAMETER_BLOCK_SIZE] = {};
    std::memcpy(block, &p, sizeof(p));
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(block, 1, sizeof(block), f) == sizeof(block);
    return std::fclose(f) == 0 && ok;
}

int NoMessageBox(OsWindow, const char* text, const char* caption, uint32_t) {
    std::fprintf(stderr, "raylume: %s: %s\n", caption ? caption : "", text ? text : "");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    OsSetMessageBoxShower(NoMessageBox);
    FilterParameters parameters = FACTORY_PARAMETERS;
    const char* input = nullptr;
    const char* output = nullptr;
    const char* saveSettings = nullptr;
    bool list = false, quiet = false;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            Usage();
            return 0;
        }
        if (std::strcmp(a, "--list") == 0) {
            list = true;
            continue;
        }
        if (std::strcmp(a, "--quiet") == 0) {
            quiet = true;
            continue;
        }
        if (std::strcmp(a, "--load-settings") == 0 && i + 1 < argc) {
            if (!ReadSettings(argv[++i], &parameters)) {
                std::fprintf(stderr, "raylume: cannot read settings from '%s'\n", argv[i]);
                return 2;
            }
            continue;
        }
        if (std::strcmp(a, "--save-settings") == 0 && i + 1 < argc) {
            saveSettings = argv[++i];
            continue;
        }
        bool matched = false;
        for (const Option& o : kOptions) {
            if (std::strcmp(a, o.name) == 0 && i + 1 < argc) {
                char* end = nullptr;
                long v = std::strtol(argv[++i], &end, 10);
                if (!end || *end || v < -32768 || v > 32767) {
                    std::fprintf(stderr, "raylume: %s needs a whole number, not '%s'\n", o.name, argv[i]);
                    return 2;
                }
                parameters.slot[o.slot] = static_cast<int16_t>(v);
                matched = true;
            }
        }
        if (matched) continue;
        if (a[0] == '-' && a[1]) {
            std::fprintf(stderr, "raylume: unknown option '%s'\n", a);
            Usage();
            return 2;
        }
        if (!input)
            input = a;
        else if (!output)
            output = a;
        else {
            Usage();
            return 2;
        }
    }
    if (!input || (!output && !list)) {
        Usage();
        return 2;
    }
    // Out-of-range values are held to the dialog's ranges, as the dialog does.
    for (int row = 0; row < SLIDER_ROW_COUNT; row++) {
        const SliderControlRow* r = GetSliderControlRow(row);
        parameters.slot[r->slot] = ClampToSliderRow(row, parameters.slot[r->slot]);
    }
    parameters.slot[SLOT_EFFECTS_ONLY] = parameters.slot[SLOT_EFFECTS_ONLY] ? 1 : 0;

    HostOptions options;
    options.callParameters = false;
    options.offerRegistrySuite = false;  // every run starts from the values given here
    HostSimulator host(PluginMain, options);
    std::string error;
    if (!ReadImageFile(input, host.document, &error)) {
        std::fprintf(stderr, "raylume: cannot read '%s': %s\n", input, error.c_str());
        return 3;
    }
    host.options.playInfo = PLAY_INFO_SILENT;
    host.PlayDescriptor(DescriptorOf(parameters));
    auto started = std::chrono::steady_clock::now();
    RunLog log = host.RunFilter();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    int16 result = log.Result(filterSelectorStart);
    for (const auto& v : log.violations) std::fprintf(stderr, "raylume: host check: %s\n", v.c_str());
    if (result != 0) {
        std::fprintf(stderr, "raylume: the filter ended with result %d%s\n", result,
                     result == -128 ? " (cancelled)" : "");
        return 4;
    }
    if (list) {
        char line[LIGHT_SOURCE_LINE_SIZE];
        LightSourceTextCursor cursor;
        bool first = true;
        while (NextLightSourceTableLine(&LightSourceTable, first, &cursor, line)) {
            std::fputs(line, stdout);
            if (!first) std::fputc('\n', stdout);
            first = false;
        }
    }
    if (output && !WriteImageFile(output, host.document, &error)) {
        std::fprintf(stderr, "raylume: cannot write '%s': %s\n", output, error.c_str());
        return 5;
    }
    if (saveSettings && !WriteSettings(saveSettings, parameters)) {
        std::fprintf(stderr, "raylume: cannot write settings to '%s'\n", saveSettings);
        return 5;
    }
    if (!quiet && output)
        std::fprintf(stderr, "raylume: %d x %d, %u light sources, %.2f s -> %s\n", host.document.width,
                     host.document.height, LightSourceTable.count, seconds, output);
    return log.violations.empty() ? 0 : 6;
}
