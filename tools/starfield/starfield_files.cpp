// Star-field image files and the star list.
#include "tools/starfield/starfield_files.h"

#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

std::string Extension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return Fail(error, "cannot create " + path);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) return Fail(error, "cannot write " + path);
    return true;
}

void AppendFloat(std::vector<uint8_t>* bytes, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

}  // namespace

float StarfieldSample(const StarfieldImage& image, int32_t x, int32_t y, int32_t channel, bool gray, double gamma) {
    const float* p = image.Pixel(x, y);
    float value;
    if (gray)
        value = (p[0] == p[1] && p[1] == p[2]) ? p[0] : 0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2];
    else
        value = p[channel];
    if (gamma != 1.0 && value > 0.0f) value = static_cast<float>(std::pow(static_cast<double>(value), 1.0 / gamma));
    return value;
}

uint8_t StarfieldQuantize8(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 255;
    return static_cast<uint8_t>(std::lround(value * 255.0));
}

uint16_t StarfieldQuantize16(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 65535;
    return static_cast<uint16_t>(std::lround(value * 65535.0));
}

bool WriteStarfieldTiff(const StarfieldImage& image, const std::string& path, const StarfieldWriteOptions& options,
                        std::string* error) {
    const int depth = options.depth;
    if (depth != 8 && depth != 16 && depth != 32) return Fail(error, "TIFF depth must be 8, 16 or 32");
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff) return Fail(error, "cannot create " + path);
    const uint16_t samples = options.gray ? 1 : 3;
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width)) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height)) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(depth)) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT,
                           static_cast<uint16_t>(depth == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT)) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                           static_cast<uint16_t>(options.gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG)) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, static_cast<uint16_t>(COMPRESSION_NONE)) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<uint16_t>(ORIENTATION_TOPLEFT)) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    const size_t rowBytes = static_cast<size_t>(image.width) * samples * static_cast<size_t>(depth / 8);
    std::vector<uint8_t> row(rowBytes);
    for (int32_t y = 0; ok && y < image.height; ++y) {
        size_t at = 0;
        for (int32_t x = 0; x < image.width; ++x) {
            for (int32_t c = 0; c < samples; ++c) {
                const float value = StarfieldSample(image, x, y, c, options.gray, options.gamma);
                if (depth == 8) {
                    row[at++] = StarfieldQuantize8(value);
                } else if (depth == 16) {
                    const uint16_t v = StarfieldQuantize16(value);
                    std::memcpy(&row[at], &v, 2);
                    at += 2;
                } else {
                    std::memcpy(&row[at], &value, 4);
                    at += 4;
                }
            }
        }
        ok = TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    TIFFClose(tiff);
    if (!ok) return Fail(error, "cannot write " + path);
    return true;
}

bool EncodeStarfieldPnm(const StarfieldImage& image, const StarfieldWriteOptions& options,
                        std::vector<uint8_t>* bytes, std::string* error) {
    if (options.depth != STARFIELD_DEPTH_8 && options.depth != STARFIELD_DEPTH_16)
        return Fail(error, "PGM and PPM files hold 8 or 16 bits");
    const bool wide = options.depth == STARFIELD_DEPTH_16;
    char header[64];
    const int length = std::snprintf(header, sizeof header, "P%c\n%d %d\n%d\n", options.gray ? '5' : '6',
                                     image.width, image.height, wide ? 65535 : 255);
    const int samples = options.gray ? 1 : 3;
    bytes->assign(header, header + length);
    bytes->reserve(bytes->size() +
                   static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * samples * (wide ? 2 : 1));
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x)
            for (int c = 0; c < samples; ++c) {
                const float value = StarfieldSample(image, x, y, c, options.gray, options.gamma);
                if (wide) {
                    const uint16_t v = StarfieldQuantize16(value);
                    bytes->push_back(static_cast<uint8_t>(v >> 8));  // most significant byte first
                    bytes->push_back(static_cast<uint8_t>(v));
                } else {
                    bytes->push_back(StarfieldQuantize8(value));
                }
            }
    return true;
}

std::vector<uint8_t> EncodeStarfieldPfm(const StarfieldImage& image, const StarfieldWriteOptions& options) {
    char header[64];
    const int length =
        std::snprintf(header, sizeof header, "P%c\n%d %d\n-1.0\n", options.gray ? 'f' : 'F', image.width, image.height);
    const int samples = options.gray ? 1 : 3;
    std::vector<uint8_t> bytes(header, header + length);
    bytes.reserve(bytes.size() + static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * samples * 4);
    for (int32_t y = image.height - 1; y >= 0; --y)
        for (int32_t x = 0; x < image.width; ++x)
            for (int c = 0; c < samples; ++c)
                AppendFloat(&bytes, StarfieldSample(image, x, y, c, options.gray, options.gamma));
    return bytes;
}

bool WriteStarfieldPnm(const StarfieldImage& image, const std::string& path, const StarfieldWriteOptions& options,
                       std::string* error) {
    std::vector<uint8_t> bytes;
    return EncodeStarfieldPnm(image, options, &bytes, error) && WriteBytes(path, bytes, error);
}

bool WriteStarfieldPfm(const StarfieldImage& image, const std::string& path, const StarfieldWriteOptions& options,
                       std::string* error) {
    return WriteBytes(path, EncodeStarfieldPfm(image, options), error);
}

bool WriteStarfieldImage(const StarfieldImage& image, const std::string& path, const StarfieldWriteOptions& options,
                         std::string* error) {
    const std::string ext = Extension(path);
    StarfieldWriteOptions chosen = options;
    if (ext == "tif" || ext == "tiff") return WriteStarfieldTiff(image, path, chosen, error);
    if (ext == "pfm") return WriteStarfieldPfm(image, path, chosen, error);
    if (ext == "pgm" || ext == "ppm" || ext == "pnm") {
        if (ext == "pgm") chosen.gray = true;
        if (ext == "ppm") chosen.gray = false;
        return WriteStarfieldPnm(image, path, chosen, error);
    }
    return Fail(error, "unknown image format of " + path + " (tif, tiff, pgm, ppm, pnm, pfm)");
}

std::string StarfieldCsvText(const std::vector<StarfieldStar>& stars) {
    std::string text = "id,x,y,peak,flux,profile,sigma,alpha,beta,fwhm,temperature,r,g,b,saturated\n";
    char line[512];
    for (size_t i = 0; i < stars.size(); ++i) {
        const StarfieldStar& s = stars[i];
        std::snprintf(line, sizeof line, "%zu,%.4f,%.4f,%.6f,%.6f,%s,%.4f,%.4f,%.4f,%.4f,%.0f,%.4f,%.4f,%.4f,%d\n", i,
                      s.x, s.y, s.peak, s.flux, s.profile == STARFIELD_PROFILE_MOFFAT ? "moffat" : "gaussian",
                      s.sigma, s.alpha, s.beta, s.fwhm, s.temperature, s.r, s.g, s.b, s.saturated ? 1 : 0);
        text += line;
    }
    return text;
}

bool WriteStarfieldCsv(const std::vector<StarfieldStar>& stars, const std::string& path, std::string* error) {
    const std::string text = StarfieldCsvText(stars);
    return WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()), error);
}

std::string StarfieldGalaxyCsvText(const std::vector<StarfieldGalaxy>& galaxies) {
    std::string text =
        "id,x,y,peak,flux,effective_radius,sersic,ellipticity,angle,seeing,temperature,r,g,b,saturated\n";
    char line[512];
    for (size_t i = 0; i < galaxies.size(); ++i) {
        const StarfieldGalaxy& g = galaxies[i];
        std::snprintf(line, sizeof line, "%zu,%.4f,%.4f,%.6f,%.6f,%.4f,%.4f,%.4f,%.4f,%.4f,%.0f,%.4f,%.4f,%.4f,%d\n", i,
                      g.x, g.y, g.peak, g.flux, g.effectiveRadius, g.sersicIndex, g.ellipticity, g.angle, g.seeing,
                      g.temperature, g.r, g.g, g.b, g.saturated ? 1 : 0);
        text += line;
    }
    return text;
}

bool WriteStarfieldGalaxyCsv(const std::vector<StarfieldGalaxy>& galaxies, const std::string& path,
                             std::string* error) {
    const std::string text = StarfieldGalaxyCsvText(galaxies);
    return WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()), error);
}
