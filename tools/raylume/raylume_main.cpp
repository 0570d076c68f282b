// raylume: the filter from the command line. The engine (analysis, Quantity
// selection, render, Effects Only) is called directly on the file's pixels;
// every pixel no effect touches comes back with its exact bytes.
//
//   raylume [options] INPUT OUTPUT
//   raylume [options] INPUT... -o FOLDER
//   raylume --list INPUT
//   raylume [options] --save-settings FILE.rlp      (no input: only the settings)
//
// Exit codes: 0 done; 1 the engine failed; 2 bad arguments; 3 an input could
// not be read or is not supported; 4 an output could not be written; 5 not
// enough memory; 6 memory ran out while effects were drawn, so the picture
// misses some (nothing is written unless --accept-partial); 130 cancelled.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#define RAYLUME_ISATTY _isatty
#define RAYLUME_FILENO _fileno
#else
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#define RAYLUME_ISATTY isatty
#define RAYLUME_FILENO fileno
#endif

#include "analysis/light_source_edits.h"
#include "analysis/light_source_table.h"
#include "image/tracked_buffer.h"
#include "params/filter_parameters.h"
#include "params/parameter_files.h"
#include "params/user_data_folders.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"
#include "tools/raylume/catalogue.h"
#include "tools/raylume/filter_raster.h"
#include "tools/raylume/output_files.h"
#include "tools/raylume/preset_folders.h"
#include "tools/raylume/raster.h"

namespace {

enum ExitCode {
    EXIT_DONE = 0,
    EXIT_ENGINE = 1,
    EXIT_ARGUMENTS = 2,
    EXIT_INPUT = 3,
    EXIT_OUTPUT = 4,
    EXIT_MEMORY = 5,
    EXIT_PARTIAL = 6,
    EXIT_CANCELLED = 130,
};

// The dialog's controls, by the long option that sets each.
struct ValueOption {
    const char* name;
    const char* alias;  // the tool's earlier short name, still taken
    int row;            // slider row, or -1 for Effects Only
    const char* label;
};
const ValueOption kValueOptions[] = {
    {"--quantity", nullptr, SLIDER_ROW_QUANTITY, "Quantity: how many stars get effects, brightest first (%)"},
    {"--intensity", nullptr, SLIDER_ROW_INTENSITY, "Intensity of the main spikes (%)"},
    {"--length", nullptr, SLIDER_ROW_LENGTH, "Length of the spikes (%)"},
    {"--angle", nullptr, SLIDER_ROW_ANGLE, "Angle of the first spike, clockwise (degrees)"},
    {"--number-of-points", "--points", SLIDER_ROW_NUMBER_OF_POINTS, "Number of Points: main spikes per star"},
    {"--spike-sharpness", "--sharpness", SLIDER_ROW_SPIKE_SHARPNESS, "Spike Sharpness (%)"},
    {"--color-saturation", "--saturation", SLIDER_ROW_COLOR_SATURATION, "Color Saturation of the effects (%)"},
    {"--color-hue", "--hue", SLIDER_ROW_COLOR_HUE, "Color Hue: positive greener, negative more purple"},
    {"--rainbow-intensity", nullptr, SLIDER_ROW_RAINBOW_INTENSITY, "Rainbow Intensity along the spikes (%)"},
    {"--rainbow-frequency", nullptr, SLIDER_ROW_RAINBOW_FREQUENCY, "Rainbow Frequency (%)"},
    {"--secondary-spike-intensity", "--secondary", SLIDER_ROW_SECONDARY_SPIKE_INTENSITY,
     "Secondary Spike Intensity (%)"},
    {"--soft-flare-intensity", "--soft-flare", SLIDER_ROW_SOFT_FLARE_INTENSITY, "Soft Flare Intensity (%)"},
    {"--ring-flare-intensity", "--ring-flare", SLIDER_ROW_RING_FLARE_INTENSITY, "Ring Flare Intensity (%)"},
    {"--effects-only", nullptr, -1, "Effects Only: the effects on black, without the image (0 or 1)"},
};

// --hide and --show reach this far from the point given without a radius;
// a --hide-file row, whose centre is the catalogue's, this far.
constexpr double kPickRadius = 20.0;
constexpr double kHideFileRadius = 2.0;

struct Settings {
    FilterParameters parameters = FACTORY_PARAMETERS;
    LightSourceChoices choices;
    std::vector<std::string> pickNames;  // how each pick was given, for the notes on picks that found nothing
    std::string executable;              // argv[0], to find the presets folder
    std::vector<std::string> inputs;
    std::string output;        // OUTPUT of the two-argument form
    std::string folder;        // -o FOLDER
    std::string starsCsv, starsJson, saveSettings;
    std::string hdu;  // --hdu: a FITS file's image
    RasterFileFormat format = RASTER_FORMAT_UNKNOWN;  // --format
    int32_t depth = 0;                                 // --depth
    bool list = false, quiet = false, acceptPartial = false;
};

std::atomic<int> gCancelled{0};

// Ctrl+C, a closed terminal, kill: the run stops and no temporary is left.
void OnInterrupt(int) {
    gCancelled.store(1);
    CancelFilterRun();
    RemoveTemporariesNow();
}

int NoMessageBox(OsWindow, const char* text, const char* caption, uint32_t) {
    std::fprintf(stderr, "raylume: %s%s%s\n", caption && *caption ? caption : "", caption && *caption ? ": " : "",
                 text ? text : "");
    return 1;
}

std::string RangeText(const SliderControlRow* row) {
    char text[96];
    if (row->decimals)
        std::snprintf(text, sizeof text, "%.1f to %.1f", row->minimum / 10.0, row->maximum / 10.0);
    else
        std::snprintf(text, sizeof text, "%d to %d", row->minimum, row->maximum);
    return text;
}

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: raylume [options] INPUT OUTPUT\n"
                 "       raylume [options] INPUT... -o FOLDER\n"
                 "       raylume --list INPUT\n"
                 "\n"
                 "Finds the stars of a photograph and paints diffraction spikes, colour, rainbow,\n"
                 "secondary spikes, soft flare and ring flare around each.\n"
                 "Files: TIFF (8/16-bit, 32-bit float), PNG (8/16-bit), FITS (2-D or RGB cube),\n"
                 "PGM/PPM (8/16-bit) and PFM (float). The output keeps the input's format, depth\n"
                 "and colour profile; the output's extension chooses its format.\n"
                 "\n"
                 "Effects (as the dialog's controls; default in brackets):\n");
    for (const ValueOption& o : kValueOptions) {
        std::string range = "0 or 1", def = std::to_string(FACTORY_PARAMETERS.slot[SLOT_EFFECTS_ONLY]);
        if (o.row >= 0) {
            const SliderControlRow* row = GetSliderControlRow(o.row);
            range = RangeText(row);
            def = FormatParameterValue(o.row, FACTORY_PARAMETERS.slot[row->slot]);
        }
        std::fprintf(out, "  %-30s %s, %s [%s]\n", (std::string(o.name) + " N").c_str(), o.label, range.c_str(),
                     def.c_str());
    }
    std::fprintf(out,
                 "\n"
                 "Files and output:\n"
                 "  -o, --output-folder FOLDER     write each result into FOLDER under its input's name\n"
                 "  --format tiff|png|fits|ppm|pgm|pfm  the output format (must agree with OUTPUT's extension)\n"
                 "  --hdu N|NAME                   the image of a FITS file to filter: extension N (0 the\n"
                 "                                 primary HDU) or the extension named NAME; by default the\n"
                 "                                 first HDU holding an image. A FITS output keeps the others\n"
                 "  --depth 8|16|32                bits per output sample (32: float; TIFF and FITS only\n"
                 "                                 hold every depth, PFM only 32)\n"
                 "  --stars-csv FILE               write the star catalogue as CSV (a FOLDER with several inputs)\n"
                 "  --stars-json FILE              write the star catalogue as JSON (a FOLDER with several inputs)\n"
                 "  --list                         print the light sources found to standard output\n"
                 "  --load-settings FILE.rlp       start from a parameter file (later options override it)\n"
                 "  --preset NAME|FILE.rlp         start from a preset (Natural, Cross45, SixPoint, ... in the\n"
                 "                                 presets folder, or a set saved in the dialog); later options\n"
                 "                                 override it\n"
                 "  --save-settings FILE.rlp       write the parameters used to a parameter file (without\n"
                 "                                 INPUT and OUTPUT, only that is done)\n"
                 "  --accept-partial               write the picture even when memory ran out while\n"
                 "                                 effects were drawn (some are then missing)\n"
                 "  --quiet                        print nothing but errors\n"
                 "  --help, --version\n"
                 "\n"
                 "Which light sources get effects (applied in this order, before the render):\n"
                 "  --stars-only                   hide sources that are extended or elongated compared with\n"
                 "                                 the frame's stars of similar brightness (galaxies); saturated\n"
                 "                                 stars are kept\n"
                 "  --hide-file FILE.csv           hide the source at each row's x, y (within 2 pixels): a CSV\n"
                 "                                 with x and y columns, such as a catalogue cut down\n"
                 "  --hide X,Y[,R]                 hide the source nearest pixel X,Y within R pixels (default 20),\n"
                 "                                 as the preview's Hide tool does (repeatable)\n"
                 "  --show X,Y[,R]                 give effects to that source whatever the Quantity, as the\n"
                 "                                 Show tool does (repeatable; also brings back a hidden one)\n"
                 "\n"
                 "The catalogue lists every source in its final state, with measures of its shape.\n"
                 "Values outside a control's range are refused. A progress bar shows on a terminal;\n"
                 "Ctrl+C cancels and leaves no output behind.\n"
                 "Exit codes: 0 done, 1 the engine failed, 2 bad arguments, 3 an input cannot be read\n"
                 "or is not supported, 4 an output cannot be written, 5 not enough memory (also said\n"
                 "before the work when the run cannot have what it needs), 6 memory ran\n"
                 "out while effects were drawn (nothing written without --accept-partial), 130 cancelled.\n");
}

bool Refuse(const std::string& text) {
    std::fprintf(stderr, "raylume: %s\n", text.c_str());
    return false;
}

// A whole number, or a decimal with at most `decimals` places, times 10^decimals.
bool ParseValue(const std::string& text, int decimals, long* value) {
    if (text.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
    long whole = 0;
    int digits = 0, places = 0;
    bool point = false;
    for (; i < text.size(); i++) {
        char c = text[i];
        if (c == '.' && !point && decimals > 0) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return false;
        if (point && ++places > decimals) return false;
        whole = whole * 10 + (c - '0');
        if (++digits > 7) return false;
    }
    if (digits == 0) return false;
    for (; places < decimals; places++) whole *= 10;
    *value = negative ? -whole : whole;
    return true;
}

bool SetValue(const ValueOption& o, const std::string& text, FilterParameters* p) {
    if (o.row < 0) {
        if (text != "0" && text != "1") return Refuse(std::string(o.name) + " takes 0 or 1, not '" + text + "'");
        p->slot[SLOT_EFFECTS_ONLY] = static_cast<int16_t>(text == "1");
        return true;
    }
    const SliderControlRow* row = GetSliderControlRow(o.row);
    long v = 0;
    const std::string kind = row->decimals ? "a number with at most one decimal" : "a whole number";
    if (!ParseValue(text, row->decimals, &v) || v < row->minimum || v > row->maximum)
        return Refuse(std::string(o.name) + " takes " + kind + " from " + RangeText(row) + ", not '" + text + "'");
    p->slot[row->slot] = static_cast<int16_t>(v);
    return true;
}

bool ParseFormat(const std::string& text, RasterFileFormat* format) {
    std::string t = text;
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    *format = t == "tiff" || t == "tif"                  ? RASTER_FORMAT_TIFF
              : t == "png"                               ? RASTER_FORMAT_PNG
              : t == "fits" || t == "fit"                ? RASTER_FORMAT_FITS
              : t == "ppm" || t == "pgm" || t == "pnm"   ? RASTER_FORMAT_PNM
              : t == "pfm"                               ? RASTER_FORMAT_PFM
                                                         : RASTER_FORMAT_UNKNOWN;
    return *format != RASTER_FORMAT_UNKNOWN;
}

// Reads a parameter file with a reason for every refusal; older builds are
// converted, and the tool says so.
bool LoadSettings(const std::string& path, FilterParameters* p) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return Refuse("cannot read settings from '" + path + "': " + std::strerror(errno));
    uint8_t block[PARAMETER_BLOCK_SIZE] = {};
    size_t n = std::fread(block, 1, sizeof block, f);
    std::fclose(f);
    if (n < PARAMETER_RECORD_SIZE)
        return Refuse("cannot read settings from '" + path + "': it holds " + std::to_string(n) +
                      " bytes, a parameter file at least " + std::to_string(PARAMETER_RECORD_SIZE));
    FilterParameters record;
    std::memcpy(&record, block, sizeof record);
    if (std::memcmp(record.slot, CURRENT_PARAMETER_VERSION, sizeof(int16_t) * VERSION_SLOT_COUNT) != 0) {
        char version[64];
        std::snprintf(version, sizeof version, "%d.%d.%d.%d", record.slot[0], record.slot[1], record.slot[2],
                      record.slot[3]);
        FilterParameters current = FACTORY_PARAMETERS;
        SetCurrentParameterRecord(&current);
        void* converted = reinterpret_cast<void*>(ParameterBlockProc(PARAMETER_OP_CONVERT, block));
        SetCurrentParameterRecord(nullptr);
        if (!converted)
            return Refuse("cannot read settings from '" + path + "': version " + version +
                          " is not one this version can convert");
        std::memcpy(&record, converted, sizeof record);
        FreeParameterBlock(converted);
        std::fprintf(stderr, "raylume: note: '%s' was written by version %s; its values were converted\n",
                     path.c_str(), version);
    }
    int held = ClampFilterParameters(&record);
    if (held) std::fprintf(stderr, "raylume: note: %d value(s) in '%s' were outside their ranges and were held to them\n",
                           held, path.c_str());
    *p = record;
    return true;
}

bool IsFolder(const std::string& path) { return OsFolderExists(path); }

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Stem(const std::string& path) {
    std::string base = BaseName(path);
    const size_t dot = base.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

const char* ExtensionOf(RasterFileFormat format, int32_t colours) {
    switch (format) {
        case RASTER_FORMAT_TIFF: return ".tif";
        case RASTER_FORMAT_PNG: return ".png";
        case RASTER_FORMAT_FITS: return ".fits";
        case RASTER_FORMAT_PFM: return ".pfm";
        default: return colours == 1 ? ".pgm" : ".ppm";
    }
}

// Checks before the long work that a file can be written at `path` (through
// its symbolic links): its folder exists and takes a new file, it is not a
// folder and not read-only.
bool CanWrite(const std::string& path, const char* what) {
    std::string target, error;
    if (!ResolveOutputTarget(path, &target, &error))
        return Refuse(std::string("cannot write the ") + what + " '" + path + "': " + error);
    return true;
}

// The file a path names, for telling two names of one file apart: links
// followed, the folder made absolute. A file that does not exist yet is named
// by its folder's real path and its own name.
std::string SameFileKey(const std::string& path) {
    std::string target, error;
    if (!ResolveOutputTarget(path, &target, &error)) target = path;
#ifdef _WIN32
    char full[4096];
    if (GetFullPathNameA(target.c_str(), sizeof full, full, nullptr)) target = full;
    for (char& c : target) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return target;
#else
    char real[4096];
    if (realpath(target.c_str(), real)) return real;
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1);
    if (realpath(folder.c_str(), real)) return std::string(real) + "/" + target.substr(slash + 1);
    return target;
#endif
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The folder of the running program: the system's record of it where there
// is one, else the folder argv[0] names.
std::string ProgramFolder(const std::string& argv0) {
#ifndef _WIN32
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) {
        path[n] = 0;
        return FolderOf(path);
    }
#endif
    return FolderOf(argv0);
}

// A preset by name: NAME.rlp (any case) in the presets folder beside the
// program (installed), one or two folders up (the project, from its build
// folder), then in the dialog's Parameters folder. A name with a folder in
// it or ending in .rlp is a path.
bool FindPreset(const std::string& name, const std::string& argv0, std::string* path) {
    const std::string lower = Lower(name);
    if (name.find_first_of("/\\") != std::string::npos ||
        (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".rlp") == 0)) {
        *path = name;
        return true;
    }
    const std::string program = ProgramFolder(argv0);
    std::vector<std::string> folders = PresetFolderCandidates(program);
    const std::string saved = ParameterFilePath(name);
    if (!saved.empty()) folders.push_back(FolderOf(saved));
    std::string known;
    for (const std::string& folder : folders) {
        std::vector<std::string> names;
        if (!IsFolder(folder) || !OsFindFiles(folder, "*.rlp", names)) continue;
        for (const std::string& file : names) {
            if (Lower(Stem(file)) == lower) {
                *path = folder + "/" + file;
                return true;
            }
            if (known.find(Stem(file)) == std::string::npos) known += (known.empty() ? "" : ", ") + Stem(file);
        }
    }
    return Refuse("no preset named '" + name + "'" +
                  (known.empty() ? " (no presets folder was found)" : " (there are " + known + ")"));
}

// The cells of one CSV line, trimmed of blanks, a carriage return and quotes.
std::vector<std::string> CsvCells(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        std::string cell = line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        while (!cell.empty() && (cell.back() == '\r' || cell.back() == ' ' || cell.back() == '\t')) cell.pop_back();
        while (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t')) cell.erase(0, 1);
        if (cell.size() >= 2 && cell.front() == '"' && cell.back() == '"') cell = cell.substr(1, cell.size() - 2);
        out.push_back(cell);
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

bool ParseNumber(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && !*end && std::isfinite(*value);
}

// "X,Y" or "X,Y,R" in pixels.
bool ParsePick(const std::string& option, const std::string& text, int32_t operation, LightSourcePick* pick) {
    const std::vector<std::string> items = CsvCells(text);
    double values[3] = {0, 0, kPickRadius};
    bool ok = items.size() == 2 || items.size() == 3;
    for (size_t i = 0; ok && i < items.size(); i++) ok = ParseNumber(items[i], &values[i]);
    if (!ok || values[2] < 0)
        return Refuse(option + " takes X,Y or X,Y,R in pixels (R not negative), not '" + text + "'");
    *pick = LightSourcePick{values[0], values[1], values[2], operation};
    return true;
}

// The rows of a catalogue-shaped CSV: a header naming x and y columns, then
// one source a line (other columns are ignored).
bool ReadHideFile(const std::string& path, Settings* s) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return Refuse("cannot read the hide file '" + path + "': " + std::strerror(errno));
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    std::fclose(f);
    size_t at = 0, lineNumber = 0;
    int xColumn = -1, yColumn = -1;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        lineNumber++;
        if (line.find_first_not_of(" \r\t") == std::string::npos) continue;
        const std::vector<std::string> row = CsvCells(line);
        if (xColumn < 0) {
            for (size_t i = 0; i < row.size(); i++) {
                if (Lower(row[i]) == "x") xColumn = static_cast<int>(i);
                if (Lower(row[i]) == "y") yColumn = static_cast<int>(i);
            }
            if (xColumn < 0 || yColumn < 0)
                return Refuse("the hide file '" + path + "' needs a header line naming an x and a y column");
            continue;
        }
        double xy[2];
        for (int k = 0; k < 2; k++) {
            const size_t column = static_cast<size_t>(k == 0 ? xColumn : yColumn);
            if (column >= row.size() || !ParseNumber(row[column], &xy[k]))
                return Refuse("line " + std::to_string(lineNumber) + " of the hide file '" + path +
                              "' has no number in its " + (k == 0 ? "x" : "y") + " column");
        }
        s->choices.picks.push_back(LightSourcePick{xy[0], xy[1], kHideFileRadius, LIGHT_SOURCE_OP_HIDE});
        s->pickNames.push_back("--hide-file " + path + " line " + std::to_string(lineNumber));
    }
    if (xColumn < 0) return Refuse("the hide file '" + path + "' is empty");
    return true;
}

bool ParseArguments(int argc, char** argv, Settings* s, int* exitCode) {
    *exitCode = EXIT_ARGUMENTS;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i], value;
        bool hasInlineValue = false;
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            const size_t eq = a.find('=');
            if (eq != std::string::npos) {
                value = a.substr(eq + 1);
                a = a.substr(0, eq);
                hasInlineValue = true;
            }
        }
        auto takeValue = [&](std::string* out) {
            if (hasInlineValue) {
                *out = value;
            } else if (i + 1 < argc) {
                *out = argv[++i];
            } else {
                return Refuse(a + " needs a value");
            }
            if (out->empty()) return Refuse(a + " needs a value, not an empty one");
            return true;
        };
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            *exitCode = EXIT_DONE;
            return false;
        }
        if (a == "--version") {
            std::printf("raylume %d.%d.%d.%d\n", RAYLUME_VERSION_MAJOR, RAYLUME_VERSION_MINOR, RAYLUME_VERSION_REVISION,
                        RAYLUME_VERSION_BUILD);
            *exitCode = EXIT_DONE;
            return false;
        }
        if (a == "--list") {
            s->list = true;
            continue;
        }
        if (a == "--accept-partial") {
            s->acceptPartial = true;
            continue;
        }
        if (a == "--quiet" || a == "-q") {
            s->quiet = true;
            continue;
        }
        if (a == "--stars-only") {
            s->choices.starsOnly = true;
            continue;
        }
        std::string v;
        if (a == "-o" || a == "--output-folder") {
            if (!takeValue(&v)) return false;
            s->folder = v;
            continue;
        }
        if (a == "--stars-csv" || a == "--stars-json" || a == "--save-settings") {
            if (!takeValue(&v)) return false;
            (a == "--stars-csv" ? s->starsCsv : a == "--stars-json" ? s->starsJson : s->saveSettings) = v;
            continue;
        }
        if (a == "--load-settings") {
            if (!takeValue(&v)) return false;
            if (!LoadSettings(v, &s->parameters)) return false;
            continue;
        }
        if (a == "--preset") {
            std::string path;
            if (!takeValue(&v) || !FindPreset(v, s->executable, &path) || !LoadSettings(path, &s->parameters))
                return false;
            continue;
        }
        if (a == "--hide" || a == "--show") {
            LightSourcePick pick;
            if (!takeValue(&v) || !ParsePick(a, v, a == "--hide" ? LIGHT_SOURCE_OP_HIDE : LIGHT_SOURCE_OP_SHOW, &pick))
                return false;
            s->choices.picks.push_back(pick);
            s->pickNames.push_back(a + " " + v);
            continue;
        }
        if (a == "--hide-file") {
            if (!takeValue(&v) || !ReadHideFile(v, s)) return false;
            continue;
        }
        if (a == "--format") {
            if (!takeValue(&v)) return false;
            if (!ParseFormat(v, &s->format)) return Refuse("--format takes tiff, png, fits, ppm, pgm or pfm, not '" + v + "'");
            continue;
        }
        if (a == "--hdu") {
            if (!takeValue(&v)) return false;
            s->hdu = v;
            continue;
        }
        if (a == "--depth") {
            if (!takeValue(&v)) return false;
            if (v != "8" && v != "16" && v != "32") return Refuse("--depth takes 8, 16 or 32, not '" + v + "'");
            s->depth = std::atoi(v.c_str());
            continue;
        }
        const ValueOption* option = nullptr;
        for (const ValueOption& o : kValueOptions)
            if (a == o.name || (o.alias && a == o.alias)) option = &o;
        if (option) {
            if (!takeValue(&v) || !SetValue(*option, v, &s->parameters)) return false;
            continue;
        }
        if (a.size() > 1 && a[0] == '-') return Refuse("unknown option '" + a + "' (see raylume --help)");
        positional.push_back(a);
    }
    if (positional.empty()) {
        if (!s->saveSettings.empty()) return true;  // only the settings file
        Usage(stderr);
        return false;
    }
    if (!s->folder.empty()) {
        s->inputs = positional;
        if (!IsFolder(s->folder)) {
            // The same mistake as a missing folder in OUTPUT: an output problem.
            *exitCode = EXIT_OUTPUT;
            return Refuse("cannot write into '" + s->folder + "': the folder does not exist");
        }
    } else if (s->list && positional.size() == 1) {
        s->inputs = positional;
    } else if (positional.size() == 2) {
        s->inputs = {positional[0]};
        s->output = positional[1];
        if (IsFolder(s->output)) {
            s->folder = s->output;
            s->output.clear();
        }
    } else {
        return Refuse(positional.size() == 1 ? "an OUTPUT file or -o FOLDER is needed (see raylume --help)"
                                             : "several inputs need -o FOLDER (see raylume --help)");
    }
    if (s->inputs.size() > 1) {
        for (const std::string* path : {&s->starsCsv, &s->starsJson})
            if (!path->empty() && !IsFolder(*path))
                return Refuse("with several inputs, the catalogue option needs a folder, not '" + *path + "'");
    }
    return true;
}

// ---- the progress bar ----

struct Bar {
    bool on = false;
    std::string name;
    int shown = -1;
    std::string stage;
};

void ShowProgress(void* context, const char* stage, double fraction) {
    auto* bar = static_cast<Bar*>(context);
    if (!bar->on) return;
    int percent = static_cast<int>(fraction * 100.0 + 0.5);
    if (percent == bar->shown && bar->stage == stage) return;
    bar->shown = percent;
    bar->stage = stage;
    char cells[31];
    int filled = percent * 30 / 100;
    for (int i = 0; i < 30; i++) cells[i] = i < filled ? '#' : '-';
    cells[30] = 0;
    std::fprintf(stderr, "\rraylume: %-24.24s [%s] %3d%% %-8s", bar->name.c_str(), cells, percent, stage);
    std::fflush(stderr);
}

void EndProgress(Bar* bar) {
    if (bar->on && bar->shown >= 0) std::fprintf(stderr, "\r%*s\r", 79, "");
    bar->shown = -1;
}

// ---- one input ----

struct Job {
    std::string input, output, csv, json;
    RasterFileFormat format;
};

int DecideOutput(const Settings& s, const std::string& input, Job* job) {
    job->input = input;
    job->output = s.output;
    if (!s.folder.empty()) {
        std::string name = BaseName(input);
        if (s.format != RASTER_FORMAT_UNKNOWN) name = Stem(input) + ExtensionOf(s.format, 3);
        job->output = s.folder + "/" + name;
    }
    if (!job->output.empty()) {
        RasterFileFormat byName = FormatOfName(job->output);
        if (byName == RASTER_FORMAT_UNKNOWN && s.format == RASTER_FORMAT_UNKNOWN) {
            Refuse("cannot tell the format of '" + job->output +
                   "' from its extension; use .tif, .png, .fits, .ppm/.pgm or .pfm, or --format");
            return EXIT_ARGUMENTS;
        }
        if (byName != RASTER_FORMAT_UNKNOWN && s.format != RASTER_FORMAT_UNKNOWN && byName != s.format) {
            Refuse("--format " + std::string(FormatName(s.format)) + " contradicts the extension of '" + job->output + "'");
            return EXIT_ARGUMENTS;
        }
        job->format = byName != RASTER_FORMAT_UNKNOWN ? byName : s.format;
        if (job->output == input) {
            // Allowed: the result replaces the input only once it is completely written.
        }
    }
    const bool several = s.inputs.size() > 1;
    job->csv = s.starsCsv.empty() ? "" : several ? s.starsCsv + "/" + Stem(input) + ".csv" : s.starsCsv;
    job->json = s.starsJson.empty() ? "" : several ? s.starsJson + "/" + Stem(input) + ".json" : s.starsJson;
    if (!job->output.empty() && !CanWrite(job->output, "image")) return EXIT_OUTPUT;
    if (!job->csv.empty() && !CanWrite(job->csv, "catalogue")) return EXIT_OUTPUT;
    if (!job->json.empty() && !CanWrite(job->json, "catalogue")) return EXIT_OUTPUT;
    return EXIT_DONE;
}

int Cancelled(const Job& job) {
    std::fprintf(stderr, "raylume: cancelled; nothing was written for '%s'\n", job.input.c_str());
    return EXIT_CANCELLED;
}

int RunJob(const Settings& s, const Job& job) {
    Raster raster;
    RasterFailure failure = RASTER_OK;
    std::string error;
    if (!ReadRaster(job.input, s.hdu, &raster, &failure, &error)) {
        Refuse("cannot read '" + job.input + "': " + error);
        return failure == RASTER_NO_MEMORY ? EXIT_MEMORY : EXIT_INPUT;
    }
    if (!s.hdu.empty() && raster.format != RASTER_FORMAT_FITS) {
        Refuse("--hdu chooses the image of a FITS file, and '" + job.input + "' is a " + FormatName(raster.format) +
               " file");
        return EXIT_ARGUMENTS;
    }
    if (raster.format == RASTER_FORMAT_PNG && raster.png.fromPalette && !s.quiet)
        std::fprintf(stderr, "raylume: note: '%s' is a palette image: it is filtered as RGB and the output is RGB\n",
                     job.input.c_str());
    if (raster.format == RASTER_FORMAT_TIFF && raster.fits.scaled && !s.quiet)
        std::fprintf(stderr,
                     "raylume: note: '%s' holds values in counts (up to %g): the largest is taken as white, as for "
                     "FITS, and the result keeps the file's units\n",
                     job.input.c_str(), raster.fits.fullScale);
    if (raster.format == RASTER_FORMAT_FITS && raster.fits.hduCount > 1 && !s.quiet)
        std::fprintf(stderr, "raylume: note: '%s': the image of HDU %d (of %d) is filtered; the other HDUs are %s\n",
                     job.input.c_str(), raster.fits.hdu - 1, raster.fits.hduCount,
                     job.format == RASTER_FORMAT_FITS ? "copied to the output as they are" : "left out of this format");
    if (raster.format == RASTER_FORMAT_TIFF && raster.tiff.pages > 1 && !job.output.empty()) {
        // One page is filtered and written; the file's others would be lost.
        if (SameFileKey(job.output) == SameFileKey(job.input)) {
            Refuse("'" + job.input + "' holds " + std::to_string(raster.tiff.pages) +
                   " pages and only the first is filtered: writing over it would lose the others; "
                   "write the result to another file");
            return EXIT_OUTPUT;
        }
        std::fprintf(stderr, "raylume: warning: '%s' holds %d pages; only the first is filtered and written to '%s'\n",
                     job.input.c_str(), raster.tiff.pages, job.output.c_str());
    }
    // What the run will take is known before the long work: a run that
    // cannot have it is refused at once, with the figure.
    const FilterMemory memory = EstimateFilterMemory(raster, s.parameters);
    const std::string needs = MemoryNeedText(memory);
    const uint64_t available = OsAvailableMemory();
    if (memory.more > available) {
        const std::string have = "about " + MiB(available) + " MiB are available";
        if (!s.acceptPartial) {
            Refuse("not enough memory to filter '" + job.input + "': " + needs + " and " + have +
                   "; close other programs, lower Length, Number of Points or Spike Sharpness, or pass "
                   "--accept-partial to draw what fits");
            return EXIT_MEMORY;
        }
        std::fprintf(stderr, "raylume: warning: '%s': %s and %s; going on (--accept-partial): some effects may be "
                     "missing\n", job.input.c_str(), needs.c_str(), have.c_str());
    }
    Bar bar;
    bar.on = !s.quiet && RAYLUME_ISATTY(RAYLUME_FILENO(stderr));
    bar.name = BaseName(job.input);
    FilterProgress progress = {&bar, ShowProgress};
    auto started = std::chrono::steady_clock::now();
    ForceGlobalErrorCode(RUN_OK);
    LightSourceChoices choices = s.choices;
    choices.measureShapes = !job.csv.empty() || !job.json.empty();
    FilterOutcome outcome = FilterRaster(&raster, s.parameters, &progress, &choices);
    EndProgress(&bar);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (gCancelled.load() || outcome.result == RUN_CANCELLED) return Cancelled(job);
    if (outcome.result == RUN_OUT_OF_MEMORY) {
        Refuse("not enough memory to filter '" + job.input + "': " + needs + " and it ran out on the way; close "
               "other programs or lower Length, Number of Points or Spike Sharpness");
        return EXIT_MEMORY;
    }
    if (outcome.result != RUN_OK) {
        Refuse("the filter failed on '" + job.input + "' (engine result " + std::to_string(outcome.result) + ")");
        return EXIT_ENGINE;
    }
    bool partial = false;
    if (outcome.effectsDropped) {
        ShowDeferredUserMessages();  // the engine's own warning, once
        if (!s.acceptPartial) {
            Refuse("memory ran out while the effects of '" + job.input +
                   "' were drawn, so some are missing; nothing was written (--accept-partial writes it anyway)");
            return EXIT_PARTIAL;
        }
        partial = true;
    }
    if (outcome.looksLinear)
        std::fprintf(stderr, "raylume: warning: '%s': %s\n", job.input.c_str(), LinearImageWarning(outcome).c_str());
    for (size_t i = 0; i < outcome.picked.size() && i < s.pickNames.size(); i++)
        if (outcome.picked[i] < 0)
            std::fprintf(stderr, "raylume: note: %s: no light source in reach in '%s' that it could change\n",
                         s.pickNames[i].c_str(), job.input.c_str());
    if (outcome.nonFinite)
        std::fprintf(stderr,
                     "raylume: warning: '%s' holds %llu samples that are not finite numbers; they were judged as "
                     "black (NaN, -Inf) or white (+Inf) and are written back as they were\n",
                     job.input.c_str(), static_cast<unsigned long long>(outcome.nonFinite));
    if (s.list) {
        // The table dialog's lines, with the brightness as a fraction of full
        // scale (0 to 1) rather than the dialog's hexadecimal unit fraction.
        const LightSource* records = LightSourceRecords(&LightSourceTable);
        std::printf("NumberOfLightSources = %u\n\n", LightSourceTable.count);
        for (uint32_t i = 0; i < LightSourceTable.count; i++) {
            const LightSource& r = records[i];
            std::printf("LightSourceTable[%04u] x = %.2f, y = %.2f, Diam = %.2f, Bright = %.6f%s\n", i,
                        r.x + r.xQuarter / 4.0, r.y + r.yQuarter / 4.0,
                        2.0 * std::sqrt(static_cast<double>(r.radiusSquared)), r.brightness / 4294967294.0,
                        r.state == LIGHT_SOURCE_HIDDEN ? " (D)" : "");
        }
    }
    // Every output of the job is written beside its target first and put in
    // place only when all of them are complete: both, or neither.
    const bool fits = raster.format == RASTER_FORMAT_FITS;
    std::vector<PendingOutput> outputs;
    auto pendText = [&](const std::string& path, const std::string& text) {
        outputs.emplace_back();
        if (WriteTextPending(path, text, &outputs.back(), &error)) return true;
        outputs.pop_back();
        DiscardOutputs(&outputs);
        if (gCancelled.load()) return false;
        Refuse("cannot write the catalogue '" + path + "': " + error);
        return false;
    };
    if (!job.csv.empty() && !pendText(job.csv, CatalogueCsv(outcome.catalogue, fits, raster.height)))
        return gCancelled.load() ? Cancelled(job) : EXIT_OUTPUT;
    if (!job.json.empty() &&
        !pendText(job.json, CatalogueJson(outcome.catalogue, fits, raster.width, raster.height, job.input)))
        return gCancelled.load() ? Cancelled(job) : EXIT_OUTPUT;
    if (!job.output.empty()) {
        int32_t depth = s.depth ? s.depth : raster.depth;
        if (!FormatHoldsDepth(job.format, depth)) {
            int32_t fitting = job.format == RASTER_FORMAT_PFM ? 32 : 16;
            if (s.depth) {
                Refuse(std::string(FormatName(job.format)) + " cannot hold " + std::to_string(depth) + "-bit samples");
                return EXIT_ARGUMENTS;
            }
            if (!s.quiet)
                std::fprintf(stderr, "raylume: note: %s holds no %d-bit samples; writing %d bits\n",
                             FormatName(job.format), depth, fitting);
            depth = fitting;
        }
        ConvertRasterDepth(&raster, depth);
        if (raster.alpha && (job.format == RASTER_FORMAT_FITS || job.format == RASTER_FORMAT_PNM ||
                             job.format == RASTER_FORMAT_PFM)) {
            if (!s.quiet) std::fprintf(stderr, "raylume: note: %s holds no alpha; it is left out\n", FormatName(job.format));
            Raster opaque = raster;
            opaque.alpha = false;
            opaque.samples.clear();
            RasterFailure f;
            if (!AllocateRaster(&opaque, &f, &error)) {
                Refuse("cannot write '" + job.output + "': " + error);
                return EXIT_MEMORY;
            }
            const size_t bytes = raster.SampleBytes();
            for (size_t i = 0, n = static_cast<size_t>(raster.width) * raster.height; i < n; i++)
                std::memcpy(opaque.samples.data() + i * raster.colours * bytes,
                            raster.samples.data() + i * raster.Channels() * bytes, raster.colours * bytes);
            raster.samples.swap(opaque.samples);
            raster.alpha = false;
        }
        if (gCancelled.load()) {
            DiscardOutputs(&outputs);
            return Cancelled(job);
        }
        outputs.emplace_back();
        if (!WriteRasterPending(job.output, raster, job.format, &outputs.back(), &error)) {
            outputs.pop_back();
            DiscardOutputs(&outputs);
            if (gCancelled.load()) return Cancelled(job);
            Refuse("cannot write '" + job.output + "': " + error);
            return EXIT_OUTPUT;
        }
    }
    if (gCancelled.load()) {
        DiscardOutputs(&outputs);
        return Cancelled(job);
    }
    if (!CommitOutputs(&outputs, &error)) {
        Refuse(error);
        return EXIT_OUTPUT;
    }
    if (!s.quiet) {
        char extended[64] = "";
        if (s.choices.starsOnly)
            std::snprintf(extended, sizeof extended, " (%u hidden as extended)", outcome.hiddenAsExtended);
        std::fprintf(stderr, "raylume: %s: %d x %d, %zu light sources%s, %.2f s%s%s\n", job.input.c_str(), raster.width,
                     raster.height, outcome.catalogue.size(), extended, seconds, job.output.empty() ? "" : " -> ",
                     job.output.c_str());
    }
    (void)partial;  // accepted: said above, and the picture is written
    return EXIT_DONE;
}

// Two jobs that would write the same file, or one that would write over
// another's input before it is read: refused before any work, naming both.
bool RefuseClashes(const std::vector<Job>& jobs, const std::string& settings) {
    struct Use {
        std::string key, path;
        size_t job;
        const char* what;
    };
    std::vector<Use> writes;
    for (size_t i = 0; i < jobs.size(); i++) {
        if (!jobs[i].output.empty()) writes.push_back({SameFileKey(jobs[i].output), jobs[i].output, i, "image"});
        if (!jobs[i].csv.empty()) writes.push_back({SameFileKey(jobs[i].csv), jobs[i].csv, i, "catalogue"});
        if (!jobs[i].json.empty()) writes.push_back({SameFileKey(jobs[i].json), jobs[i].json, i, "catalogue"});
    }
    if (!settings.empty()) writes.push_back({SameFileKey(settings), settings, jobs.size(), "settings"});
    auto inputOf = [&](size_t i) { return i < jobs.size() ? "'" + jobs[i].input + "'" : std::string("--save-settings"); };
    for (size_t a = 0; a < writes.size(); a++)
        for (size_t b = a + 1; b < writes.size(); b++)
            if (writes[a].key == writes[b].key)
                return Refuse("the " + std::string(writes[a].what) + " of " + inputOf(writes[a].job) + " and the " +
                              writes[b].what + " of " + inputOf(writes[b].job) + " would both be written to '" +
                              writes[b].path + "'; give the inputs different names or run them one at a time");
    for (const Use& w : writes)
        for (size_t i = 0; i < jobs.size(); i++)
            if (i > w.job && w.job < jobs.size() && SameFileKey(jobs[i].input) == w.key)
                return Refuse("the " + std::string(w.what) + " of '" + jobs[w.job].input + "' would be written over '" +
                              jobs[i].input + "' before it is read; choose another output folder");
    return true;
}

int Main(int argc, char** argv) {
    Settings settings;
    settings.executable = argc > 0 ? argv[0] : "";
    int code = EXIT_DONE;
    if (!ParseArguments(argc, argv, &settings, &code)) return code;
    std::vector<Job> jobs;
    for (const std::string& input : settings.inputs) {
        Job job;
        int decided = DecideOutput(settings, input, &job);
        if (decided != EXIT_DONE) return decided;
        jobs.push_back(job);
    }
    if (!settings.saveSettings.empty() && !CanWrite(settings.saveSettings, "settings")) return EXIT_OUTPUT;
    if (!RefuseClashes(jobs, settings.saveSettings)) return EXIT_ARGUMENTS;

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
#ifndef _WIN32
    std::signal(SIGHUP, OnInterrupt);
    std::signal(SIGQUIT, OnInterrupt);
#endif
    // What an earlier run killed outright (kill -9) left in the folders written now.
    std::vector<std::string> folders;
    for (const Job& job : jobs)
        for (const std::string* path : {&job.output, &job.csv, &job.json})
            if (!path->empty()) folders.push_back(FolderOf(SameFileKey(*path)));
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::string& folder : folders) {
        const int stale = RemoveStaleTemporaries(folder);
        if (stale && !settings.quiet)
            std::fprintf(stderr, "raylume: note: removed %d temporary file%s an interrupted run left in '%s'\n", stale,
                         stale == 1 ? "" : "s", folder.c_str());
    }
    int worst = EXIT_DONE;
    for (const Job& job : jobs) {
        int result = RunJob(settings, job);
        if (result == EXIT_CANCELLED) return EXIT_CANCELLED;
        if (result != EXIT_DONE && worst == EXIT_DONE) worst = result;
    }
    if (!settings.saveSettings.empty()) {
        uint8_t block[PARAMETER_BLOCK_SIZE] = {};
        FilterParameters record = settings.parameters;
        std::memcpy(block, &record, sizeof record);
        errno = 0;
        if (!WriteParameterFile(block, settings.saveSettings)) {
            Refuse("cannot write the settings '" + settings.saveSettings + "': " +
                   (errno ? std::string(std::strerror(errno)) : std::string("the file could not be completed")));
            if (worst == EXIT_DONE) worst = EXIT_OUTPUT;
        }
    }
    return worst;
}

}  // namespace

int main(int argc, char** argv) {
    OsSetMessageBoxShower(NoMessageBox);
    SetUserInterfaceThread(OsGetCurrentThreadId());
    OpenDebugLog("raylume", nullptr);
    MakeUserDataFolder();
    OpenDebugLogFile(LOGGING_THREADED);
    InitializeBufferUsage();
    int code = EXIT_ENGINE;
    try {
        code = Main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "raylume: not enough memory\n");
        code = EXIT_MEMORY;
    } catch (...) {
        std::fprintf(stderr, "raylume: an unexpected failure stopped the run\n");
        code = EXIT_ENGINE;
    }
    ReportBufferUsage();
    DeleteBufferUsageSection();
    CloseDebugLog();
    return code;
}
