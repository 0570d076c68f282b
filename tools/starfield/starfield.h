// Synthetic star fields for tests, benchmarks and the demo: stars with
// Gaussian or Moffat profiles, tinted like black bodies or in one colour,
// galaxies with Sérsic profiles, on a sky with a gradient, soft nebulae,
// noise and flat rectangles, with the lists of the true stars and galaxies.
// The same options and seed give the same field, to the byte.
//
// Coordinates: pixel (i, j) covers [i - 0.5, i + 0.5) × [j - 0.5, j + 0.5),
// so its centre is (i, j) and a star at (x, y) peaks in pixel
// (round(x), round(y)). Values are linear, 1.0 = full scale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum StarfieldFluxLaw : int32_t {
    STARFIELD_FLUX_POWER_LAW = 0,  // density of peaks ∝ peak^-index: many faint stars, few bright ones
    STARFIELD_FLUX_UNIFORM = 1,
};

enum StarfieldProfile : int32_t {
    STARFIELD_PROFILE_GAUSSIAN = 0,
    STARFIELD_PROFILE_MOFFAT = 1,
    STARFIELD_PROFILE_MIXED = 2,  // options only: each star picks one of the two
};

enum StarfieldColorMode : int32_t {
    STARFIELD_COLOR_TEMPERATURE = 0,  // black-body-like tints from a temperature range
    STARFIELD_COLOR_FIXED = 1,        // every star in fixedColor
};

// A rectangle of one constant value, laid over everything else.
struct StarfieldFlat {
    int32_t left = 0, top = 0, width = 0, height = 0;
    float value[3] = {0.5f, 0.5f, 0.5f};
};

struct StarfieldOptions {
    uint64_t seed = 1;
    int32_t width = 512;
    int32_t height = 512;
    int32_t starCount = 100;

    // Peak of a star above the sky in its brightest channel; above 1.0 the
    // core saturates.
    StarfieldFluxLaw fluxLaw = STARFIELD_FLUX_POWER_LAW;
    double minPeak = 0.05;
    double maxPeak = 2.0;
    double powerLawIndex = 2.0;

    StarfieldProfile profile = STARFIELD_PROFILE_GAUSSIAN;
    double minSigma = 1.2, maxSigma = 1.2;  // Gaussian, pixels
    double minAlpha = 2.0, maxAlpha = 2.0;  // Moffat core width, pixels
    double beta = 3.0;                      // Moffat wing slope, > 1

    StarfieldColorMode colorMode = STARFIELD_COLOR_TEMPERATURE;
    double minTemperature = 3000.0, maxTemperature = 12000.0;  // kelvin
    double colorSaturation = 1.0;  // 0 = white stars, 1 = full black-body tint
    float fixedColor[3] = {1.0f, 1.0f, 1.0f};
    bool gray = false;  // one channel: white stars, the same noise in r, g and b

    bool clip = true;  // clip at full scale (values below 0 are always clipped)
    // Saturated stars spill along their column, as a sensor's full wells do:
    // a one-pixel trail at full scale, 2 σ × (peak − 1) pixels each way.
    bool bleed = false;
    double noise = 0.0;  // standard deviation of the Gaussian noise
    double skyLevel = 0.0;  // sky at the image centre
    double skyGradientX = 0.0;  // sky change from the left edge to the right edge
    double skyGradientY = 0.0;  // sky change from the top edge to the bottom edge

    int32_t nebulaCount = 0;
    double nebulaLevel = 0.1;  // peak of the strongest nebula
    double nebulaSize = 0.15;  // typical extent as a fraction of the shorter side

    double margin = 0.0;         // star centres keep this far from the edges
    double minSeparation = 0.0;  // between star centres (best effort)
    std::vector<StarfieldFlat> flats;
    int32_t randomFlatCount = 0;  // more flats at random places, in gray

    // Galaxies: Sérsic profiles, placed after the stars (their own random
    // stream, so adding galaxies moves no star), kept from the margin, the
    // flats and, like the stars, minSeparation from every star and galaxy.
    int32_t galaxyCount = 0;
    double minGalaxyPeak = 0.05, maxGalaxyPeak = 0.8;   // centre value, drawn log-uniform
    double minGalaxyRadius = 2.0, maxGalaxyRadius = 12.0;  // half-light radius of the major axis, log-uniform
    double minSersicIndex = 0.5, maxSersicIndex = 4.0;  // 0.5 Gaussian-like, 1 disk, 4 elliptical
    double maxEllipticity = 0.7;  // 1 - minor/major, uniform from 0
    // The seeing: σ of the Gaussian every galaxy is blurred by, as the
    // atmosphere and the optics blur the stars (give it the stars' sigma).
    double galaxySeeing = 1.2;
    double minGalaxyTemperature = 4000.0, maxGalaxyTemperature = 7000.0;  // kelvin, tinted as stars are
};

// One true star, as rendered.
struct StarfieldStar {
    double x = 0, y = 0;    // centre
    double peak = 0;        // amplitude of the profile in the brightest channel
    double flux = 0;        // integral of the profile in the brightest channel
    int32_t profile = STARFIELD_PROFILE_GAUSSIAN;
    double sigma = 0;       // Gaussian sigma; for Moffat that of the Gaussian of equal FWHM
    double alpha = 0, beta = 0;  // Moffat only
    double fwhm = 0;
    double temperature = 0;  // 0 with fixed colours
    float r = 1, g = 1, b = 1;  // tint, largest channel 1
    bool saturated = false;  // the centre pixel reached full scale before noise
};

// One true galaxy, as rendered: the Sérsic profile
//   exp(-b(n) × ((r / Re)^(1/n) - 1))
// of the elliptical radius r = sqrt(u² + (v / (1 - ellipticity))²) along the
// major (u) and minor (v) axes, integrated over each pixel, blurred by a
// Gaussian of σ = seeing and scaled so that its brightest pixel is `peak`;
// b(n) makes Re the half-light radius before the blur.
struct StarfieldGalaxy {
    double x = 0, y = 0;          // centre
    double peak = 0;              // brightest pixel, brightest channel
    double flux = 0;              // light drawn, brightest channel (as summed over the pixels)
    double effectiveRadius = 0;   // Re, pixels
    double sersicIndex = 1;       // n
    double ellipticity = 0;
    double angle = 0;             // major axis, degrees clockwise from the +x axis (rows run down)
    double seeing = 0;
    double temperature = 0;       // 0 with fixed colours
    float r = 1, g = 1, b = 1;    // tint, largest channel 1
    bool saturated = false;       // the centre pixel reached full scale before noise
};

// A linear RGB image, rows top to bottom, three floats per pixel.
struct StarfieldImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<float> pixels;

    float* Pixel(int32_t x, int32_t y) {
        return pixels.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    }
    const float* Pixel(int32_t x, int32_t y) const {
        return pixels.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    }
};

// False with a reason when the options cannot make a field.
bool ValidateStarfieldOptions(const StarfieldOptions& options, std::string* error);

// The whole field: stars and galaxies drawn from the seed, then rendered.
// `galaxies` receives the list of the true galaxies and may be null (they
// are drawn all the same).
bool CreateStarfield(const StarfieldOptions& options, StarfieldImage* image, std::vector<StarfieldStar>* stars,
                     std::string* error, std::vector<StarfieldGalaxy>* galaxies = nullptr);

// The parts of CreateStarfield, for callers that place stars themselves.
std::vector<StarfieldStar> GenerateStarfieldStars(const StarfieldOptions& options);
// The galaxies of the options, kept apart from `stars`.
std::vector<StarfieldGalaxy> GenerateStarfieldGalaxies(const StarfieldOptions& options,
                                                       const std::vector<StarfieldStar>& stars);
// Sky, nebulae, the galaxies and the stars (their saturated flags and the
// galaxies' fluxes are set here), bleed trails, noise, clipping and flat areas. `galaxies`
// may be null.
void RenderStarfield(const StarfieldOptions& options, std::vector<StarfieldStar>* stars, StarfieldImage* image,
                     std::vector<StarfieldGalaxy>* galaxies = nullptr);

// Adds one star's light to the image (no clipping).
void DrawStarfieldStar(const StarfieldStar& star, StarfieldImage* image);
// Adds one galaxy's light to the image (no clipping); returns the light
// added in the brightest channel.
double DrawStarfieldGalaxy(const StarfieldGalaxy& galaxy, StarfieldImage* image);
// b(n) of a Sérsic profile of index n: half the light lies within Re.
double StarfieldSersicB(double n);
// Integral of a profile with unit peak.
double StarfieldProfileFlux(int32_t profile, double sigma, double alpha, double beta);
// Black-body-like tint of a temperature, 6500 K white, largest channel 1.
void StarfieldTemperatureTint(double kelvin, float rgb[3]);
