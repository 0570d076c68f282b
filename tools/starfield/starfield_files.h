// Writing star fields: TIFF (8-bit, 16-bit, 32-bit float; RGB or gray),
// binary PGM/PPM (P5/P6, maxval 255 or 65535), PFM (Pf gray, PF colour),
// and the CSV lists of the true stars and galaxies.
//
// Samples are the linear values, optionally raised to 1 / gamma, clamped to
// 0..1 for the integer formats and scaled to 255 or 65535 with rounding.
// Float formats keep values above 1. Gray is the Rec. 709 luminance of the
// three channels (exactly the value when they are equal). PFM rows run
// bottom to top, little-endian (scale -1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/starfield/starfield.h"

enum StarfieldDepth : int32_t {
    STARFIELD_DEPTH_8 = 8,
    STARFIELD_DEPTH_16 = 16,
    STARFIELD_DEPTH_FLOAT = 32,
};

struct StarfieldWriteOptions {
    StarfieldDepth depth = STARFIELD_DEPTH_16;  // TIFF and PGM/PPM; PFM is always float
    bool gray = false;  // TIFF and PFM; PGM is always gray, PPM always colour
    double gamma = 1.0;  // 1 = linear
};

// The value written for one channel (or for gray) of pixel (x, y), before
// quantisation.
float StarfieldSample(const StarfieldImage& image, int32_t x, int32_t y, int32_t channel, bool gray,
                      double gamma);
uint8_t StarfieldQuantize8(float value);
uint16_t StarfieldQuantize16(float value);

bool WriteStarfieldTiff(const StarfieldImage& image, const std::string& path, const StarfieldWriteOptions& options,
                        std::string* error);
// `gray` chooses P5 over P6; the depth must be 8 or 16.
bool EncodeStarfieldPnm(const StarfieldImage& image, const StarfieldWriteOptions& options,
                        std::vector<uint8_t>* bytes, std::string* error);
std::vector<uint8_t> EncodeStarfieldPfm(const StarfieldImage& image, const StarfieldWriteOptions& options);
bool WriteStarfieldPnm(const StarfieldImage& image, const std::string& path, const StarfieldWriteOptions& options,
                       std::string* error);
bool WriteStarfieldPfm(const StarfieldImage& image, const std::string& path, const StarfieldWriteOptions& options,
                       std::string* error);
// The format from the extension: .tif/.tiff, .pgm (gray), .ppm (colour),
// .pnm (gray or colour as asked), .pfm.
bool WriteStarfieldImage(const StarfieldImage& image, const std::string& path, const StarfieldWriteOptions& options,
                         std::string* error);

// Header "id,x,y,peak,flux,profile,sigma,alpha,beta,fwhm,temperature,r,g,b,saturated"
// and one line per star, each ended by a line feed.
std::string StarfieldCsvText(const std::vector<StarfieldStar>& stars);
bool WriteStarfieldCsv(const std::vector<StarfieldStar>& stars, const std::string& path, std::string* error);
// Header "id,x,y,peak,flux,effective_radius,sersic,ellipticity,angle,seeing,temperature,r,g,b,saturated"
// and one line per galaxy, each ended by a line feed.
std::string StarfieldGalaxyCsvText(const std::vector<StarfieldGalaxy>& galaxies);
bool WriteStarfieldGalaxyCsv(const std::vector<StarfieldGalaxy>& galaxies, const std::string& path,
                             std::string* error);
