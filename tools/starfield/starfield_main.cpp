// starfield: writes a synthetic star field and the list of its stars.
//
//   starfield --seed 7 --width 1024 --height 768 --stars 400 -o field.tif --csv field.csv
//
//   starfield --seed 3 --stars 300 --galaxies 40 -o deep.tif --csv stars.csv --galaxy-csv galaxies.csv
//
// Every image named with -o gets the same field; the format follows the
// extension (tif, tiff, pgm, ppm, pnm, pfm).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/starfield/starfield.h"
#include "tools/starfield/starfield_files.h"

namespace {

const char kUsage[] =
    "usage: starfield [options] -o IMAGE [-o IMAGE ...] [--csv STARS.csv]\n"
    "\n"
    "Field\n"
    "  --seed N                 random seed (default 1)\n"
    "  --width N, --height N    image size (default 512 x 512)\n"
    "  --stars N                number of stars (default 100)\n"
    "  --flux powerlaw|uniform  distribution of star peaks (default powerlaw)\n"
    "  --peak MIN:MAX           peak range above the sky; above 1 saturates (default 0.05:2)\n"
    "  --index A                power-law index, density ~ peak^-A (default 2)\n"
    "  --profile gaussian|moffat|mixed   star profile (default gaussian)\n"
    "  --sigma S[:S2]           Gaussian sigma or range, pixels (default 1.2)\n"
    "  --alpha A[:A2]           Moffat alpha or range, pixels (default 2)\n"
    "  --beta B                 Moffat beta, above 1 (default 3)\n"
    "  --color temperature|fixed   star colours (default temperature)\n"
    "  --temperature T1:T2      temperature range, kelvin (default 3000:12000)\n"
    "  --color-saturation S     0 white .. 1 full black-body tint (default 1)\n"
    "  --fixed-color R,G,B      colour of every star with --color fixed\n"
    "  --gray                   one channel (white stars, shared noise)\n"
    "  --no-clip                keep values above full scale (float outputs)\n"
    "  --bleed                  saturated stars spill along their column (bleed trails)\n"
    "  --noise S                Gaussian noise standard deviation (default 0)\n"
    "  --sky L                  sky level at the centre (default 0)\n"
    "  --gradient GX,GY         sky change across the width and the height\n"
    "  --nebulae N              number of soft nebulae (default 0)\n"
    "  --nebula-level L         largest nebula peak (default 0.1)\n"
    "  --nebula-size F          nebula extent, fraction of the shorter side (default 0.15)\n"
    "  --flat X,Y,W,H,V[,V,V]   a rectangle of constant value (repeatable)\n"
    "  --flats N                that many flat rectangles at random places\n"
    "  --margin M               keep star centres M pixels from the edges\n"
    "  --separation D           keep star centres D pixels apart (best effort)\n"
    "Galaxies (Sersic profiles)\n"
    "  --galaxies N             number of galaxies (default 0)\n"
    "  --galaxy-peak MIN:MAX    brightest pixel range, drawn log-uniform (default 0.05:0.8)\n"
    "  --galaxy-radius MIN:MAX  half-light radius range, pixels, log-uniform (default 2:12)\n"
    "  --sersic MIN:MAX         Sersic index range: 0.5 soft, 1 disk, 4 elliptical (default 0.5:4)\n"
    "  --ellipticity MAX        largest 1 - minor/major, drawn uniform from 0 (default 0.7)\n"
    "  --seeing S               sigma of the blur of the galaxies, pixels: the stars' (default 1.2)\n"
    "Output\n"
    "  -o, --output PATH        image file: .tif/.tiff, .pgm, .ppm, .pnm, .pfm (repeatable)\n"
    "  --depth 8|16|32          TIFF and PGM/PPM sample depth (default 16; 32 = float TIFF)\n"
    "  --gamma G                write value^(1/G) (default 1, linear)\n"
    "  --csv PATH               list of the true stars\n"
    "  --galaxy-csv PATH        list of the true galaxies\n"
    "  -h, --help               this text\n";

bool ParseNumber(const char* text, double* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && end && *end == '\0';
}

bool ParseInteger(const char* text, long long low, long long high, long long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtoll(text, &end, 10);
    return errno == 0 && end && *end == '\0' && *value >= low && *value <= high;
}

// "a", "a:b" or "a,b,c..." into numbers.
bool ParseList(const char* text, char separator, std::vector<double>* values) {
    values->clear();
    if (!text) return false;
    std::string item;
    for (const char* p = text;; ++p) {
        if (*p == separator || *p == '\0') {
            double v;
            if (!ParseNumber(item.c_str(), &v)) return false;
            values->push_back(v);
            item.clear();
            if (*p == '\0') break;
        } else {
            item += *p;
        }
    }
    return true;
}

bool ParseRange(const char* text, double* low, double* high) {
    std::vector<double> values;
    if (!ParseList(text, ':', &values) || values.empty() || values.size() > 2) return false;
    *low = values[0];
    *high = values.back();
    return true;
}

int Usage(const char* complaint) {
    if (complaint) std::fprintf(stderr, "starfield: %s\n\n", complaint);
    std::fputs(kUsage, complaint ? stderr : stdout);
    return complaint ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    StarfieldOptions options;
    StarfieldWriteOptions writing;
    std::vector<std::string> outputs;
    std::string csv, galaxyCsv;

    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "-h" || name == "--help") return Usage(nullptr);
        if (name == "--gray") {
            options.gray = true;
            writing.gray = true;
            continue;
        }
        if (name == "--no-clip") {
            options.clip = false;
            continue;
        }
        if (name == "--bleed") {
            options.bleed = true;
            continue;
        }
        if (i + 1 >= argc) return Usage(("missing value after " + name).c_str());
        const char* value = argv[++i];
        const std::string bad = "bad value for " + name + ": " + value;
        long long n;
        double d;
        std::vector<double> list;
        if (name == "--seed") {
            char* end = nullptr;
            errno = 0;
            options.seed = std::strtoull(value, &end, 0);
            if (errno || !end || *end || !*value) return Usage(bad.c_str());
        } else if (name == "--width") {
            if (!ParseInteger(value, 1, 65535, &n)) return Usage(bad.c_str());
            options.width = static_cast<int32_t>(n);
        } else if (name == "--height") {
            if (!ParseInteger(value, 1, 65535, &n)) return Usage(bad.c_str());
            options.height = static_cast<int32_t>(n);
        } else if (name == "--stars") {
            if (!ParseInteger(value, 0, 10000000, &n)) return Usage(bad.c_str());
            options.starCount = static_cast<int32_t>(n);
        } else if (name == "--flux") {
            if (std::strcmp(value, "powerlaw") == 0)
                options.fluxLaw = STARFIELD_FLUX_POWER_LAW;
            else if (std::strcmp(value, "uniform") == 0)
                options.fluxLaw = STARFIELD_FLUX_UNIFORM;
            else
                return Usage(bad.c_str());
        } else if (name == "--peak") {
            if (!ParseRange(value, &options.minPeak, &options.maxPeak)) return Usage(bad.c_str());
        } else if (name == "--index") {
            if (!ParseNumber(value, &options.powerLawIndex)) return Usage(bad.c_str());
        } else if (name == "--profile") {
            if (std::strcmp(value, "gaussian") == 0)
                options.profile = STARFIELD_PROFILE_GAUSSIAN;
            else if (std::strcmp(value, "moffat") == 0)
                options.profile = STARFIELD_PROFILE_MOFFAT;
            else if (std::strcmp(value, "mixed") == 0)
                options.profile = STARFIELD_PROFILE_MIXED;
            else
                return Usage(bad.c_str());
        } else if (name == "--sigma") {
            if (!ParseRange(value, &options.minSigma, &options.maxSigma)) return Usage(bad.c_str());
        } else if (name == "--alpha") {
            if (!ParseRange(value, &options.minAlpha, &options.maxAlpha)) return Usage(bad.c_str());
        } else if (name == "--beta") {
            if (!ParseNumber(value, &options.beta)) return Usage(bad.c_str());
        } else if (name == "--color") {
            if (std::strcmp(value, "temperature") == 0)
                options.colorMode = STARFIELD_COLOR_TEMPERATURE;
            else if (std::strcmp(value, "fixed") == 0)
                options.colorMode = STARFIELD_COLOR_FIXED;
            else
                return Usage(bad.c_str());
        } else if (name == "--temperature") {
            if (!ParseRange(value, &options.minTemperature, &options.maxTemperature)) return Usage(bad.c_str());
        } else if (name == "--color-saturation") {
            if (!ParseNumber(value, &options.colorSaturation)) return Usage(bad.c_str());
        } else if (name == "--fixed-color") {
            if (!ParseList(value, ',', &list) || list.size() != 3) return Usage(bad.c_str());
            for (int c = 0; c < 3; ++c) options.fixedColor[c] = static_cast<float>(list[static_cast<size_t>(c)]);
            options.colorMode = STARFIELD_COLOR_FIXED;
        } else if (name == "--noise") {
            if (!ParseNumber(value, &options.noise)) return Usage(bad.c_str());
        } else if (name == "--sky") {
            if (!ParseNumber(value, &options.skyLevel)) return Usage(bad.c_str());
        } else if (name == "--gradient") {
            if (!ParseList(value, ',', &list) || list.size() != 2) return Usage(bad.c_str());
            options.skyGradientX = list[0];
            options.skyGradientY = list[1];
        } else if (name == "--nebulae") {
            if (!ParseInteger(value, 0, 10000, &n)) return Usage(bad.c_str());
            options.nebulaCount = static_cast<int32_t>(n);
        } else if (name == "--nebula-level") {
            if (!ParseNumber(value, &options.nebulaLevel)) return Usage(bad.c_str());
        } else if (name == "--nebula-size") {
            if (!ParseNumber(value, &options.nebulaSize)) return Usage(bad.c_str());
        } else if (name == "--flat") {
            if (!ParseList(value, ',', &list) || (list.size() != 5 && list.size() != 7)) return Usage(bad.c_str());
            StarfieldFlat flat;
            flat.left = static_cast<int32_t>(list[0]);
            flat.top = static_cast<int32_t>(list[1]);
            flat.width = static_cast<int32_t>(list[2]);
            flat.height = static_cast<int32_t>(list[3]);
            for (int c = 0; c < 3; ++c)
                flat.value[c] = static_cast<float>(list.size() == 7 ? list[4 + static_cast<size_t>(c)] : list[4]);
            options.flats.push_back(flat);
        } else if (name == "--flats") {
            if (!ParseInteger(value, 0, 10000, &n)) return Usage(bad.c_str());
            options.randomFlatCount = static_cast<int32_t>(n);
        } else if (name == "--margin") {
            if (!ParseNumber(value, &options.margin)) return Usage(bad.c_str());
        } else if (name == "--separation") {
            if (!ParseNumber(value, &options.minSeparation)) return Usage(bad.c_str());
        } else if (name == "--galaxies") {
            if (!ParseInteger(value, 0, 100000, &n)) return Usage(bad.c_str());
            options.galaxyCount = static_cast<int32_t>(n);
        } else if (name == "--galaxy-peak") {
            if (!ParseRange(value, &options.minGalaxyPeak, &options.maxGalaxyPeak)) return Usage(bad.c_str());
        } else if (name == "--galaxy-radius") {
            if (!ParseRange(value, &options.minGalaxyRadius, &options.maxGalaxyRadius)) return Usage(bad.c_str());
        } else if (name == "--sersic") {
            if (!ParseRange(value, &options.minSersicIndex, &options.maxSersicIndex)) return Usage(bad.c_str());
        } else if (name == "--ellipticity") {
            if (!ParseNumber(value, &options.maxEllipticity)) return Usage(bad.c_str());
        } else if (name == "--seeing") {
            if (!ParseNumber(value, &options.galaxySeeing)) return Usage(bad.c_str());
        } else if (name == "--galaxy-csv") {
            galaxyCsv = value;
        } else if (name == "-o" || name == "--output") {
            outputs.push_back(value);
        } else if (name == "--depth") {
            if (!ParseInteger(value, 8, 32, &n) || (n != 8 && n != 16 && n != 32)) return Usage(bad.c_str());
            writing.depth = static_cast<StarfieldDepth>(n);
        } else if (name == "--gamma") {
            if (!ParseNumber(value, &d) || !(d > 0)) return Usage(bad.c_str());
            writing.gamma = d;
        } else if (name == "--csv") {
            csv = value;
        } else {
            return Usage(("unknown option " + name).c_str());
        }
    }
    if (outputs.empty() && csv.empty() && galaxyCsv.empty())
        return Usage("nothing to write: give -o IMAGE, --csv FILE or --galaxy-csv FILE");

    StarfieldImage image;
    std::vector<StarfieldStar> stars;
    std::vector<StarfieldGalaxy> galaxies;
    std::string error;
    if (!CreateStarfield(options, &image, &stars, &error, &galaxies)) return Usage(error.c_str());
    for (const std::string& path : outputs) {
        if (!WriteStarfieldImage(image, path, writing, &error)) {
            std::fprintf(stderr, "starfield: %s\n", error.c_str());
            return 1;
        }
    }
    if (!csv.empty() && !WriteStarfieldCsv(stars, csv, &error)) {
        std::fprintf(stderr, "starfield: %s\n", error.c_str());
        return 1;
    }
    if (!galaxyCsv.empty() && !WriteStarfieldGalaxyCsv(galaxies, galaxyCsv, &error)) {
        std::fprintf(stderr, "starfield: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
