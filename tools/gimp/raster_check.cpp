// rl_raster_check: the image files of the tests that hold the GIMP plug-in's
// output against raylume's.
//
//   rl_raster_check diff A B [--region X,Y,W,H [--outside]] [--colours]
//                   [--unchanged-in C D] [--tolerance T] [--relative R] [--differ]
//   rl_raster_check untag IN OUT
//
// diff compares the samples of two files. Files are read by raylume's
// readers; TIFFs of the sample kinds GIMP writes and raylume does not read
// (32-bit integers, half and double floats) by a small libtiff reader here.
// Samples are compared as numbers with white at 1 (integers divided by their
// largest value, floats as they are), so files of different depths can be
// compared. A pair is beyond the bound when |a - b| > T + R * max(|a|, |b|)
// (T and R default to 0: identical); two NaNs are equal. --region limits the
// pixels compared to a rectangle, --outside to everything but it; --colours
// leaves alpha out (it is left out anyway when only one file has it).
// --unchanged-in C D compares only the pixels whose samples are identical in
// files C and D (those an effect left alone there). It prints one line: how
// many samples were compared, how many differ at all, the largest difference
// and how many lie beyond the bound; exit code 0 when none lies beyond it
// (with --differ: when some sample differs at all), 1 otherwise, 2 when a file
// cannot be read or the two do not match in size or colours.
//
// untag writes IN's samples, format and details again without its colour
// profile, as a file that says nothing of its colours (GIMP tags every file
// it exports). Exit code 0, or 2 when IN cannot be read or OUT written.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <tiffio.h>

#include <vector>

#include "gl/half_float.h"
#include "tools/raylume/raster.h"

namespace {

// A file's samples as numbers, white at 1, top row first, colours then alpha.
struct Samples {
    int32_t width = 0, height = 0, colours = 0;
    bool alpha = false;
    std::vector<double> values;
    int32_t Channels() const { return colours + (alpha ? 1 : 0); }
    double At(size_t pixel, int channel) const { return values[pixel * Channels() + channel]; }
};

void FromRaster(const Raster& raster, Samples* out) {
    out->width = raster.width;
    out->height = raster.height;
    out->colours = raster.colours;
    out->alpha = raster.alpha;
    const size_t count = static_cast<size_t>(raster.width) * raster.height * raster.Channels();
    out->values.resize(count);
    const uint8_t* samples = raster.samples.data();
    for (size_t i = 0; i < count; i++) {
        if (raster.depth == 8) {
            out->values[i] = samples[i] / 255.0;
        } else if (raster.depth == 16) {
            uint16_t v;
            std::memcpy(&v, samples + i * 2, 2);
            out->values[i] = v / 65535.0;
        } else {
            float v;
            std::memcpy(&v, samples + i * 4, 4);
            out->values[i] = v;
        }
    }
}

// Contiguous strips of 32-bit unsigned integers, half floats or doubles.
bool ReadOtherTiff(const std::string& path, Samples* out, std::string* error) {
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return false;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, format = SAMPLEFORMAT_UINT, channels = 1, planar = PLANARCONFIG_CONTIG, extra = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra, &extraKinds);
    const bool known = (format == SAMPLEFORMAT_UINT && bits == 32) ||
                       (format == SAMPLEFORMAT_IEEEFP && (bits == 16 || bits == 64));
    if (!known || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tiff) || channels < 1 || channels > 4 ||
        extra > 1 || channels - extra < 1) {
        TIFFClose(tiff);
        *error = "a TIFF of a kind neither raylume nor this tool reads";
        return false;
    }
    out->width = static_cast<int32_t>(width);
    out->height = static_cast<int32_t>(height);
    out->colours = channels - extra;
    out->alpha = extra == 1;
    out->values.resize(static_cast<size_t>(width) * height * channels);
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tiff)));
    const size_t perLine = static_cast<size_t>(width) * channels;
    for (uint32_t y = 0; y < height; y++) {
        if (TIFFReadScanline(tiff, line.data(), y, 0) < 0) {
            TIFFClose(tiff);
            *error = "row " + std::to_string(y) + " cannot be read";
            return false;
        }
        double* row = out->values.data() + y * perLine;
        for (size_t i = 0; i < perLine; i++) {
            if (bits == 32) {
                uint32_t v;
                std::memcpy(&v, line.data() + i * 4, 4);
                row[i] = v / 4294967295.0;
            } else if (bits == 16) {
                uint16_t v;
                std::memcpy(&v, line.data() + i * 2, 2);
                row[i] = HalfToFloat(v);
            } else {
                std::memcpy(&row[i], line.data() + i * 8, 8);
            }
        }
    }
    TIFFClose(tiff);
    return true;
}

bool Load(const std::string& path, Samples* out) {
    Raster raster;
    RasterFailure failure = RASTER_OK;
    std::string error;
    if (ReadRaster(path, &raster, &failure, &error)) {
        FromRaster(raster, out);
        return true;
    }
    std::string other;
    if (failure == RASTER_UNSUPPORTED && ReadOtherTiff(path, out, &other)) return true;
    std::fprintf(stderr, "rl_raster_check: cannot read '%s': %s\n", path.c_str(),
                 other.empty() ? error.c_str() : other.c_str());
    return false;
}

bool SameSize(const Samples& a, const Samples& b, const std::string& nameA, const std::string& nameB) {
    if (a.width == b.width && a.height == b.height && a.colours == b.colours) return true;
    std::fprintf(stderr, "rl_raster_check: '%s' is %d x %d with %d colour(s), '%s' %d x %d with %d\n", nameA.c_str(),
                 a.width, a.height, a.colours, nameB.c_str(), b.width, b.height, b.colours);
    return false;
}

// Whether every sample of the pixel is the same number in both (NaN equal to NaN).
bool SamePixel(const Samples& a, const Samples& b, size_t pixel) {
    for (int c = 0; c < a.colours; c++) {
        const double va = a.At(pixel, c), vb = b.At(pixel, c);
        if (va != vb && !(std::isnan(va) && std::isnan(vb))) return false;
    }
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: rl_raster_check diff A B [--region X,Y,W,H [--outside]] [--colours] [--unchanged-in C D]\n"
                 "                       [--tolerance T] [--relative R] [--differ]\n"
                 "       rl_raster_check untag IN OUT\n");
    return 2;
}

int Untag(const std::string& in, const std::string& out) {
    Raster raster;
    RasterFailure failure = RASTER_OK;
    std::string error;
    if (!ReadRaster(in, &raster, &failure, &error)) {
        std::fprintf(stderr, "rl_raster_check: cannot read '%s': %s\n", in.c_str(), error.c_str());
        return 2;
    }
    raster.icc.clear();
    if (!WriteRaster(out, raster, raster.format, &error)) {
        std::fprintf(stderr, "rl_raster_check: cannot write '%s': %s\n", out.c_str(), error.c_str());
        return 2;
    }
    return 0;
}

int Diff(int argc, char** argv) {
    std::string paths[4];  // A, B, then C and D of --unchanged-in
    int pathCount = 0;
    long region[4] = {0, 0, -1, -1};
    bool hasRegion = false, outside = false, coloursOnly = false, differ = false, unchangedIn = false;
    double tolerance = 0, relative = 0;
    for (int i = 2; i < argc; i++) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--region" && hasValue) {
            hasRegion = std::sscanf(argv[++i], "%ld,%ld,%ld,%ld", &region[0], &region[1], &region[2], &region[3]) == 4;
            if (!hasRegion) return Usage();
        } else if (a == "--unchanged-in" && i + 2 < argc) {
            unchangedIn = true;
            paths[2] = argv[++i];
            paths[3] = argv[++i];
        } else if (a == "--outside") {
            outside = true;
        } else if (a == "--colours") {
            coloursOnly = true;
        } else if (a == "--differ") {
            differ = true;
        } else if (a == "--tolerance" && hasValue) {
            tolerance = std::atof(argv[++i]);
        } else if (a == "--relative" && hasValue) {
            relative = std::atof(argv[++i]);
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage();
        } else if (pathCount < 2) {
            paths[pathCount++] = a;
        } else {
            return Usage();
        }
    }
    if (pathCount != 2 || (outside && !hasRegion)) return Usage();
    InitializeHalfFloatTables();

    Samples files[4];
    const int fileCount = unchangedIn ? 4 : 2;
    for (int k = 0; k < fileCount; k++) {
        if (!Load(paths[k], &files[k])) return 2;
        if (k > 0 && !SameSize(files[0], files[k], paths[0], paths[k])) return 2;
    }
    const Samples& a = files[0];
    const Samples& b = files[1];
    const int compared = a.colours + (a.alpha && b.alpha && !coloursOnly ? 1 : 0);
    uint64_t count = 0, differing = 0, beyond = 0;
    double largest = 0;
    for (int32_t y = 0; y < a.height; y++)
        for (int32_t x = 0; x < a.width; x++) {
            const bool inRegion = !hasRegion || (x >= region[0] && x < region[0] + region[2] && y >= region[1] &&
                                                 y < region[1] + region[3]);
            if (inRegion == outside) continue;
            const size_t pixel = static_cast<size_t>(y) * a.width + x;
            if (unchangedIn && !SamePixel(files[2], files[3], pixel)) continue;
            for (int c = 0; c < compared; c++) {
                const double va = a.At(pixel, c), vb = b.At(pixel, c);
                count++;
                if (va == vb || (std::isnan(va) && std::isnan(vb))) continue;
                const double difference = std::isnan(va) || std::isnan(vb) ? INFINITY : std::fabs(va - vb);
                differing++;
                if (difference > largest) largest = difference;
                if (difference > tolerance + relative * std::fmax(std::fabs(va), std::fabs(vb))) beyond++;
            }
        }
    std::printf("%s vs %s: %llu samples, %llu differ, largest difference %.3g (%.2f 16-bit steps), %llu beyond the "
                "bound\n",
                paths[0].c_str(), paths[1].c_str(), static_cast<unsigned long long>(count),
                static_cast<unsigned long long>(differing), largest, largest * 65535.0,
                static_cast<unsigned long long>(beyond));
    if (differ) return differing > 0 ? 0 : 1;
    return beyond == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "untag" && argc == 4) return Untag(argv[2], argv[3]);
    if (command == "diff") return Diff(argc, argv);
    return Usage();
}
