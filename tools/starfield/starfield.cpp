// Star-field generation and rendering.
#include "tools/starfield/starfield.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "tools/starfield/starfield_random.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSigmaToFwhm = 2.3548200450309493;  // 2 sqrt(2 ln 2)
// Light below this is not drawn; it keeps the Moffat wings finite.
constexpr double kFaintest = 1e-6;
constexpr double kLargestExtent = 512.0;

// One stream per part of the field.
enum : uint64_t {
    STREAM_STARS = 1,
    STREAM_NEBULAE = 2,
    STREAM_FLATS = 3,
    STREAM_NOISE = 4,
    STREAM_GALAXIES = 5,
};

bool Fail(std::string* error, const char* text) {
    if (error) *error = text;
    return false;
}

// Half-width of the square a star is drawn into.
double StarExtent(const StarfieldStar& star) {
    double extent;
    const double ratio = std::max(star.peak / kFaintest, 2.718281828);
    if (star.profile == STARFIELD_PROFILE_MOFFAT)
        extent = star.alpha * std::sqrt(std::pow(ratio, 1.0 / star.beta) - 1.0);
    else
        extent = star.sigma * std::sqrt(2.0 * std::log(ratio));
    return std::min(extent + 1.0, kLargestExtent);
}

double DrawPeak(const StarfieldOptions& options, StarfieldRandom* random) {
    const double u = NextUniform(random);
    const double low = options.minPeak, high = options.maxPeak;
    if (high <= low) return low;
    if (options.fluxLaw == STARFIELD_FLUX_UNIFORM) return low + u * (high - low);
    // Inverse of the cumulative distribution of p^-index on [low, high].
    const double a = options.powerLawIndex;
    if (std::fabs(a - 1.0) < 1e-9) return low * std::pow(high / low, u);
    const double e = 1.0 - a;
    const double lowE = std::pow(low, e), highE = std::pow(high, e);
    return std::pow(lowE + u * (highE - lowE), 1.0 / e);
}

void Normalize(float rgb[3]) {
    const float largest = std::max({rgb[0], rgb[1], rgb[2]});
    if (largest > 0)
        for (int c = 0; c < 3; ++c) rgb[c] /= largest;
}

std::vector<StarfieldFlat> AllFlats(const StarfieldOptions& options) {
    std::vector<StarfieldFlat> flats = options.flats;
    StarfieldRandom random;
    SeedStarfieldRandom(&random, options.seed, STREAM_FLATS);
    const int32_t shorter = std::min(options.width, options.height);
    for (int32_t i = 0; i < options.randomFlatCount; ++i) {
        StarfieldFlat flat;
        flat.width = std::max(1, static_cast<int32_t>(shorter * NextUniform(&random, 0.05, 0.2)));
        flat.height = std::max(1, static_cast<int32_t>(shorter * NextUniform(&random, 0.05, 0.2)));
        flat.left = static_cast<int32_t>(NextUniform(&random) * std::max(1, options.width - flat.width));
        flat.top = static_cast<int32_t>(NextUniform(&random) * std::max(1, options.height - flat.height));
        const float value = static_cast<float>(NextUniform(&random, 0.1, 0.9));
        flat.value[0] = flat.value[1] = flat.value[2] = value;
        flats.push_back(flat);
    }
    return flats;
}

bool InsideFlat(const std::vector<StarfieldFlat>& flats, double x, double y, double reach) {
    for (const StarfieldFlat& f : flats) {
        if (x >= f.left - 0.5 - reach && x < f.left + f.width - 0.5 + reach && y >= f.top - 0.5 - reach &&
            y < f.top + f.height - 0.5 + reach)
            return true;
    }
    return false;
}

void PaintSky(const StarfieldOptions& options, StarfieldImage* image) {
    for (int32_t y = 0; y < image->height; ++y) {
        const double fy = (y + 0.5) / image->height - 0.5;
        for (int32_t x = 0; x < image->width; ++x) {
            const double fx = (x + 0.5) / image->width - 0.5;
            const float sky =
                static_cast<float>(options.skyLevel + options.skyGradientX * fx + options.skyGradientY * fy);
            float* p = image->Pixel(x, y);
            p[0] = p[1] = p[2] = sky;
        }
    }
}

// Soft elliptical glows: emission red, oxygen teal, reflection blue, dust.
void PaintNebulae(const StarfieldOptions& options, StarfieldImage* image) {
    static const float kTints[4][3] = {
        {1.0f, 0.35f, 0.4f}, {0.35f, 0.9f, 1.0f}, {0.5f, 0.65f, 1.0f}, {1.0f, 0.85f, 0.7f}};
    StarfieldRandom random;
    SeedStarfieldRandom(&random, options.seed, STREAM_NEBULAE);
    const double shorter = std::min(image->width, image->height);
    for (int32_t n = 0; n < options.nebulaCount; ++n) {
        const double cx = NextUniform(&random, 0.0, image->width);
        const double cy = NextUniform(&random, 0.0, image->height);
        const double major = std::max(1.0, options.nebulaSize * shorter * NextUniform(&random, 0.5, 1.5));
        const double minor = major * NextUniform(&random, 0.3, 1.0);
        const double angle = NextUniform(&random, 0.0, kPi);
        const double amplitude = options.nebulaLevel * NextUniform(&random, 0.3, 1.0);
        const uint32_t pick = NextRandom32(&random) % 4;
        float tint[3] = {kTints[pick][0], kTints[pick][1], kTints[pick][2]};
        if (options.gray) tint[0] = tint[1] = tint[2] = 1.0f;
        const double ca = std::cos(angle), sa = std::sin(angle);
        const double reach = 4.0 * major;
        const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(cx - reach)));
        const int32_t x1 = std::min(image->width - 1, static_cast<int32_t>(std::ceil(cx + reach)));
        const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(cy - reach)));
        const int32_t y1 = std::min(image->height - 1, static_cast<int32_t>(std::ceil(cy + reach)));
        for (int32_t y = y0; y <= y1; ++y) {
            for (int32_t x = x0; x <= x1; ++x) {
                const double dx = x - cx, dy = y - cy;
                const double u = (dx * ca + dy * sa) / major;
                const double v = (-dx * sa + dy * ca) / minor;
                const double value = amplitude * std::exp(-0.5 * (u * u + v * v));
                float* p = image->Pixel(x, y);
                for (int c = 0; c < 3; ++c) p[c] += static_cast<float>(value * tint[c]);
            }
        }
    }
}

void AddNoise(const StarfieldOptions& options, StarfieldImage* image) {
    if (options.noise <= 0) return;
    StarfieldRandom random;
    SeedStarfieldRandom(&random, options.seed, STREAM_NOISE);
    const size_t pixels = static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
    float* p = image->pixels.data();
    for (size_t i = 0; i < pixels; ++i, p += 3) {
        if (options.gray) {
            const float n = static_cast<float>(options.noise * NextGaussian(&random));
            p[0] += n;
            p[1] += n;
            p[2] += n;
        } else {
            for (int c = 0; c < 3; ++c) p[c] += static_cast<float>(options.noise * NextGaussian(&random));
        }
    }
}

void Clip(const StarfieldOptions& options, StarfieldImage* image) {
    for (float& v : image->pixels) {
        if (!(v > 0.0f)) v = 0.0f;  // also clears NaN
        if (options.clip && v > 1.0f) v = 1.0f;
    }
}

void PaintFlats(const StarfieldOptions& options, const std::vector<StarfieldFlat>& flats, StarfieldImage* image) {
    for (const StarfieldFlat& f : flats) {
        const int32_t x0 = std::max(0, f.left), x1 = std::min(image->width, f.left + f.width);
        const int32_t y0 = std::max(0, f.top), y1 = std::min(image->height, f.top + f.height);
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) {
                float* p = image->Pixel(x, y);
                for (int c = 0; c < 3; ++c) p[c] = options.gray ? f.value[0] : f.value[c];
            }
    }
}

// Log-uniform in [low, high].
double LogUniform(StarfieldRandom* random, double low, double high) {
    if (high <= low) return low;
    return low * std::pow(high / low, NextUniform(random));
}

// Elliptical geometry of a galaxy, shared by its extent and its drawing.
struct GalaxyShape {
    double cosine, sine;  // of the major axis' angle
    double axisRatio;     // minor / major
    double b, inverseN;   // b(n), 1/n
};

GalaxyShape ShapeOf(const StarfieldGalaxy& g) {
    GalaxyShape s;
    const double radians = g.angle * kPi / 180.0;
    s.cosine = std::cos(radians);
    s.sine = std::sin(radians);
    s.axisRatio = std::max(1.0 - g.ellipticity, 0.05);
    s.b = StarfieldSersicB(g.sersicIndex);
    s.inverseN = 1.0 / g.sersicIndex;
    return s;
}

// The profile before the seeing, 1.0 at the half-light radius.
double SersicValue(const StarfieldGalaxy& g, const GalaxyShape& s, double dx, double dy) {
    const double u = dx * s.cosine + dy * s.sine;
    const double v = (-dx * s.sine + dy * s.cosine) / s.axisRatio;
    const double r = std::sqrt(u * u + v * v) / g.effectiveRadius;
    return std::exp(-s.b * (std::pow(r, s.inverseN) - 1.0));
}

// Half-width of the square a galaxy is drawn into before the seeing: where
// its major axis falls to the faintest light drawn (taking the centre value
// as the peak, which it is not below), at most ten half-light radii (the
// wings of a steep profile go on far below any noise).
double GalaxyExtent(const StarfieldGalaxy& g, const GalaxyShape& s) {
    const double centre = std::exp(s.b);  // the profile at r = 0
    const double ratio = std::max(g.peak / kFaintest * centre, 2.718281828);
    const double r = std::pow(std::log(ratio) / s.b, g.sersicIndex) * g.effectiveRadius;
    return std::min({r, 10.0 * g.effectiveRadius, kLargestExtent});
}

// The weights of a Gaussian of `sigma` over whole pixels -reach..reach,
// integrated over each pixel, summing to 1.
std::vector<double> SeeingKernel(double sigma, int32_t reach) {
    std::vector<double> kernel(static_cast<size_t>(2 * reach + 1));
    const double scale = 1.0 / (sigma * std::sqrt(2.0));
    double sum = 0.0;
    for (int32_t k = -reach; k <= reach; ++k) {
        const double w = 0.5 * (std::erf((k + 0.5) * scale) - std::erf((k - 0.5) * scale));
        kernel[static_cast<size_t>(k + reach)] = w;
        sum += w;
    }
    for (double& w : kernel) w /= sum;
    return kernel;
}

}  // namespace

bool ValidateStarfieldOptions(const StarfieldOptions& o, std::string* error) {
    if (o.width < 1 || o.height < 1 || o.width > 65535 || o.height > 65535)
        return Fail(error, "width and height must be 1 to 65535");
    if (static_cast<int64_t>(o.width) * o.height > 400000000) return Fail(error, "the image is too large");
    if (o.starCount < 0 || o.starCount > 10000000) return Fail(error, "the star count must be 0 to 10000000");
    if (!(o.minPeak > 0) || !(o.maxPeak >= o.minPeak) || !std::isfinite(o.maxPeak))
        return Fail(error, "peaks must be positive, minimum not above maximum");
    if (!std::isfinite(o.powerLawIndex)) return Fail(error, "bad power-law index");
    if (!(o.minSigma > 0) || !(o.maxSigma >= o.minSigma) || !std::isfinite(o.maxSigma))
        return Fail(error, "sigma must be positive, minimum not above maximum");
    if (!(o.minAlpha > 0) || !(o.maxAlpha >= o.minAlpha) || !std::isfinite(o.maxAlpha))
        return Fail(error, "alpha must be positive, minimum not above maximum");
    if (!(o.beta > 1) || !std::isfinite(o.beta)) return Fail(error, "beta must be above 1");
    if (!(o.minTemperature > 0) || !(o.maxTemperature >= o.minTemperature) || !std::isfinite(o.maxTemperature))
        return Fail(error, "temperatures must be positive, minimum not above maximum");
    if (!(o.colorSaturation >= 0) || !std::isfinite(o.colorSaturation))
        return Fail(error, "colour saturation must not be negative");
    for (float c : o.fixedColor)
        if (!(c >= 0) || !std::isfinite(c)) return Fail(error, "the fixed colour must not be negative");
    if (!(o.noise >= 0) || !std::isfinite(o.noise)) return Fail(error, "noise must not be negative");
    if (!std::isfinite(o.skyLevel) || !std::isfinite(o.skyGradientX) || !std::isfinite(o.skyGradientY))
        return Fail(error, "bad sky level or gradient");
    if (o.nebulaCount < 0 || o.nebulaCount > 10000) return Fail(error, "the nebula count must be 0 to 10000");
    if (!(o.nebulaSize > 0) || !std::isfinite(o.nebulaSize) || !std::isfinite(o.nebulaLevel))
        return Fail(error, "bad nebula size or level");
    if (!(o.margin >= 0) || 2 * o.margin >= o.width || 2 * o.margin >= o.height)
        return Fail(error, "the margin must leave room for the stars");
    if (!(o.minSeparation >= 0) || !std::isfinite(o.minSeparation)) return Fail(error, "bad star separation");
    for (const StarfieldFlat& f : o.flats)
        if (f.width < 0 || f.height < 0) return Fail(error, "flat areas need a positive size");
    if (o.randomFlatCount < 0 || o.randomFlatCount > 10000) return Fail(error, "the flat count must be 0 to 10000");
    if (o.galaxyCount < 0 || o.galaxyCount > 100000) return Fail(error, "the galaxy count must be 0 to 100000");
    if (!(o.minGalaxyPeak > 0) || !(o.maxGalaxyPeak >= o.minGalaxyPeak) || !std::isfinite(o.maxGalaxyPeak))
        return Fail(error, "galaxy peaks must be positive, minimum not above maximum");
    if (!(o.minGalaxyRadius >= 0.5) || !(o.maxGalaxyRadius >= o.minGalaxyRadius) || o.maxGalaxyRadius > 200)
        return Fail(error, "galaxy radii must be 0.5 to 200 pixels, minimum not above maximum");
    if (!(o.minSersicIndex >= 0.3) || !(o.maxSersicIndex >= o.minSersicIndex) || o.maxSersicIndex > 10)
        return Fail(error, "Sersic indices must be 0.3 to 10, minimum not above maximum");
    if (!(o.maxEllipticity >= 0) || !(o.maxEllipticity <= 0.9)) return Fail(error, "the ellipticity must be 0 to 0.9");
    if (!(o.galaxySeeing > 0) || !std::isfinite(o.galaxySeeing)) return Fail(error, "the seeing must be positive");
    if (!(o.minGalaxyTemperature > 0) || !(o.maxGalaxyTemperature >= o.minGalaxyTemperature) ||
        !std::isfinite(o.maxGalaxyTemperature))
        return Fail(error, "galaxy temperatures must be positive, minimum not above maximum");
    return true;
}

double StarfieldProfileFlux(int32_t profile, double sigma, double alpha, double beta) {
    if (profile == STARFIELD_PROFILE_MOFFAT) return kPi * alpha * alpha / (beta - 1.0);
    return 2.0 * kPi * sigma * sigma;
}

void StarfieldTemperatureTint(double kelvin, float rgb[3]) {
    // Planck's law at the middle of the red, green and blue bands, relative
    // to a 6500 K source.
    static const double kWavelengths[3] = {610e-9, 550e-9, 465e-9};
    const double c2 = 1.4387769e-2;  // second radiation constant, m·K
    for (int c = 0; c < 3; ++c) {
        const double l = kWavelengths[c];
        const double source = 1.0 / (std::pow(l, 5.0) * std::expm1(c2 / (l * kelvin)));
        const double white = 1.0 / (std::pow(l, 5.0) * std::expm1(c2 / (l * 6500.0)));
        rgb[c] = static_cast<float>(source / white);
    }
    Normalize(rgb);
}

std::vector<StarfieldStar> GenerateStarfieldStars(const StarfieldOptions& options) {
    std::vector<StarfieldStar> stars;
    stars.reserve(static_cast<size_t>(std::max(0, options.starCount)));
    const std::vector<StarfieldFlat> flats = AllFlats(options);
    StarfieldRandom random;
    SeedStarfieldRandom(&random, options.seed, STREAM_STARS);
    const double separation2 = options.minSeparation * options.minSeparation;

    for (int32_t i = 0; i < options.starCount; ++i) {
        StarfieldStar star;
        star.peak = DrawPeak(options, &random);

        int32_t profile = options.profile;
        if (profile == STARFIELD_PROFILE_MIXED)
            profile = NextUniform(&random) < 0.5 ? STARFIELD_PROFILE_GAUSSIAN : STARFIELD_PROFILE_MOFFAT;
        star.profile = profile;
        if (profile == STARFIELD_PROFILE_MOFFAT) {
            star.alpha = NextUniform(&random, options.minAlpha, options.maxAlpha);
            star.beta = options.beta;
            star.fwhm = 2.0 * star.alpha * std::sqrt(std::pow(2.0, 1.0 / star.beta) - 1.0);
            star.sigma = star.fwhm / kSigmaToFwhm;
        } else {
            star.sigma = NextUniform(&random, options.minSigma, options.maxSigma);
            star.fwhm = star.sigma * kSigmaToFwhm;
        }
        star.flux = star.peak * StarfieldProfileFlux(profile, star.sigma, star.alpha, star.beta);

        float tint[3] = {1.0f, 1.0f, 1.0f};
        if (options.colorMode == STARFIELD_COLOR_TEMPERATURE) {
            star.temperature = NextUniform(&random, options.minTemperature, options.maxTemperature);
            StarfieldTemperatureTint(star.temperature, tint);
            for (float& c : tint) c = static_cast<float>(1.0 + options.colorSaturation * (c - 1.0));
        } else {
            for (int c = 0; c < 3; ++c) tint[c] = options.fixedColor[c];
        }
        if (options.gray) tint[0] = tint[1] = tint[2] = 1.0f;
        Normalize(tint);
        star.r = tint[0];
        star.g = tint[1];
        star.b = tint[2];

        // Place it: away from the edges, from flat areas, and (when asked)
        // from the stars already placed; after 100 tries the last place stands.
        const double reach = 2.0 * star.fwhm;
        for (int attempt = 0; attempt < 100; ++attempt) {
            star.x = NextUniform(&random, options.margin - 0.5, options.width - 0.5 - options.margin);
            star.y = NextUniform(&random, options.margin - 0.5, options.height - 0.5 - options.margin);
            bool crowded = InsideFlat(flats, star.x, star.y, reach);
            for (size_t j = 0; !crowded && separation2 > 0 && j < stars.size(); ++j) {
                const double dx = stars[j].x - star.x, dy = stars[j].y - star.y;
                crowded = dx * dx + dy * dy < separation2;
            }
            if (!crowded) break;
        }
        stars.push_back(star);
    }
    return stars;
}

double StarfieldSersicB(double n) {
    // The asymptotic expansion: within 0.3 % of the exact root from n = 0.5 up.
    return 2.0 * n - 1.0 / 3.0 + 4.0 / (405.0 * n) + 46.0 / (25515.0 * n * n) + 131.0 / (1148175.0 * n * n * n);
}

std::vector<StarfieldGalaxy> GenerateStarfieldGalaxies(const StarfieldOptions& options,
                                                       const std::vector<StarfieldStar>& stars) {
    std::vector<StarfieldGalaxy> galaxies;
    galaxies.reserve(static_cast<size_t>(std::max(0, options.galaxyCount)));
    const std::vector<StarfieldFlat> flats = AllFlats(options);
    StarfieldRandom random;
    SeedStarfieldRandom(&random, options.seed, STREAM_GALAXIES);
    const double separation2 = options.minSeparation * options.minSeparation;
    for (int32_t i = 0; i < options.galaxyCount; ++i) {
        StarfieldGalaxy g;
        g.peak = LogUniform(&random, options.minGalaxyPeak, options.maxGalaxyPeak);
        g.effectiveRadius = LogUniform(&random, options.minGalaxyRadius, options.maxGalaxyRadius);
        g.sersicIndex = NextUniform(&random, options.minSersicIndex, options.maxSersicIndex);
        g.ellipticity = NextUniform(&random, 0.0, options.maxEllipticity);
        g.angle = NextUniform(&random, -90.0, 90.0);
        g.seeing = options.galaxySeeing;
        float tint[3] = {1.0f, 1.0f, 1.0f};
        if (options.colorMode == STARFIELD_COLOR_TEMPERATURE) {
            g.temperature = NextUniform(&random, options.minGalaxyTemperature, options.maxGalaxyTemperature);
            StarfieldTemperatureTint(g.temperature, tint);
            for (float& c : tint) c = static_cast<float>(1.0 + options.colorSaturation * (c - 1.0));
        } else {
            for (int c = 0; c < 3; ++c) tint[c] = options.fixedColor[c];
        }
        if (options.gray) tint[0] = tint[1] = tint[2] = 1.0f;
        Normalize(tint);
        g.r = tint[0];
        g.g = tint[1];
        g.b = tint[2];
        const double reach = 2.0 * g.effectiveRadius;
        for (int attempt = 0; attempt < 100; ++attempt) {
            g.x = NextUniform(&random, options.margin - 0.5, options.width - 0.5 - options.margin);
            g.y = NextUniform(&random, options.margin - 0.5, options.height - 0.5 - options.margin);
            bool crowded = InsideFlat(flats, g.x, g.y, reach);
            for (size_t j = 0; !crowded && separation2 > 0 && j < stars.size(); ++j) {
                const double dx = stars[j].x - g.x, dy = stars[j].y - g.y;
                crowded = dx * dx + dy * dy < separation2;
            }
            for (size_t j = 0; !crowded && separation2 > 0 && j < galaxies.size(); ++j) {
                const double dx = galaxies[j].x - g.x, dy = galaxies[j].y - g.y;
                crowded = dx * dx + dy * dy < separation2;
            }
            if (!crowded) break;
        }
        galaxies.push_back(g);
    }
    return galaxies;
}

double DrawStarfieldGalaxy(const StarfieldGalaxy& galaxy, StarfieldImage* image) {
    const GalaxyShape shape = ShapeOf(galaxy);
    const int32_t reach = static_cast<int32_t>(std::ceil(4.0 * galaxy.seeing));
    const int32_t half = static_cast<int32_t>(std::ceil(GalaxyExtent(galaxy, shape))) + reach + 1;
    const int32_t cx = static_cast<int32_t>(std::lround(galaxy.x)), cy = static_cast<int32_t>(std::lround(galaxy.y));
    const int32_t side = 2 * half + 1;
    // The profile integrated over each pixel of a square around the centre
    // (n × n samples, more where it bends fastest), then blurred by the
    // seeing, one axis after the other.
    std::vector<double> stamp(static_cast<size_t>(side) * side), blurred(stamp.size());
    const double inner = std::max(3.0, 1.5 * galaxy.effectiveRadius);
    for (int32_t j = 0; j < side; ++j) {
        for (int32_t i = 0; i < side; ++i) {
            const double dx = cx - half + i - galaxy.x, dy = cy - half + j - galaxy.y;
            const double d2 = dx * dx + dy * dy;
            const int n = d2 < 4.0 ? 16 : (d2 < inner * inner ? 6 : 1);
            double sum = 0.0;
            for (int b = 0; b < n; ++b) {
                const double sy = n == 1 ? dy : dy - 0.5 + (b + 0.5) / n;
                for (int a = 0; a < n; ++a) {
                    const double sx = n == 1 ? dx : dx - 0.5 + (a + 0.5) / n;
                    sum += SersicValue(galaxy, shape, sx, sy);
                }
            }
            stamp[static_cast<size_t>(j) * side + i] = sum / (n * n);
        }
    }
    const std::vector<double> kernel = SeeingKernel(galaxy.seeing, reach);
    auto at = [side](int32_t i, int32_t j) { return static_cast<size_t>(j) * side + i; };
    auto weight = [&kernel, reach](int32_t k) { return kernel[static_cast<size_t>(k + reach)]; };
    for (int32_t j = 0; j < side; ++j)
        for (int32_t i = 0; i < side; ++i) {
            double sum = 0.0;
            for (int32_t k = -reach; k <= reach; ++k)
                if (i + k >= 0 && i + k < side) sum += weight(k) * stamp[at(i + k, j)];
            blurred[at(i, j)] = sum;
        }
    double top = 0.0;
    for (int32_t j = 0; j < side; ++j)
        for (int32_t i = 0; i < side; ++i) {
            double sum = 0.0;
            for (int32_t k = -reach; k <= reach; ++k)
                if (j + k >= 0 && j + k < side) sum += weight(k) * blurred[at(i, j + k)];
            stamp[at(i, j)] = sum;
            top = std::max(top, sum);
        }
    if (!(top > 0)) return 0.0;
    // The brightest pixel becomes the peak.
    const double scale = galaxy.peak / top;
    const float tint[3] = {galaxy.r, galaxy.g, galaxy.b};
    double total = 0.0;
    for (int32_t j = 0; j < side; ++j) {
        const int32_t y = cy - half + j;
        if (y < 0 || y >= image->height) continue;
        for (int32_t i = 0; i < side; ++i) {
            const int32_t x = cx - half + i;
            if (x < 0 || x >= image->width) continue;
            const double value = stamp[static_cast<size_t>(j) * side + i] * scale;
            total += value;
            float* p = image->Pixel(x, y);
            for (int c = 0; c < 3; ++c) p[c] += static_cast<float>(value * tint[c]);
        }
    }
    return total;
}

void DrawStarfieldStar(const StarfieldStar& star, StarfieldImage* image) {
    const double extent = StarExtent(star);
    const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(star.x - extent)));
    const int32_t x1 = std::min(image->width - 1, static_cast<int32_t>(std::ceil(star.x + extent)));
    const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(star.y - extent)));
    const int32_t y1 = std::min(image->height - 1, static_cast<int32_t>(std::ceil(star.y + extent)));
    if (x0 > x1 || y0 > y1) return;
    const float tint[3] = {star.r, star.g, star.b};

    if (star.profile != STARFIELD_PROFILE_MOFFAT) {
        // The Gaussian integrated over each pixel exactly: a product of
        // differences of error functions along x and along y.
        const double scale = 1.0 / (star.sigma * std::sqrt(2.0));
        std::vector<double> across(static_cast<size_t>(x1 - x0 + 1)), down(static_cast<size_t>(y1 - y0 + 1));
        for (int32_t x = x0; x <= x1; ++x)
            across[static_cast<size_t>(x - x0)] =
                0.5 * (std::erf((x + 0.5 - star.x) * scale) - std::erf((x - 0.5 - star.x) * scale));
        for (int32_t y = y0; y <= y1; ++y)
            down[static_cast<size_t>(y - y0)] =
                0.5 * (std::erf((y + 0.5 - star.y) * scale) - std::erf((y - 0.5 - star.y) * scale));
        const double total = star.peak * StarfieldProfileFlux(STARFIELD_PROFILE_GAUSSIAN, star.sigma, 0, 0);
        for (int32_t y = y0; y <= y1; ++y) {
            const double row = total * down[static_cast<size_t>(y - y0)];
            for (int32_t x = x0; x <= x1; ++x) {
                const double value = row * across[static_cast<size_t>(x - x0)];
                float* p = image->Pixel(x, y);
                for (int c = 0; c < 3; ++c) p[c] += static_cast<float>(value * tint[c]);
            }
        }
        return;
    }

    // Moffat: the mean of n × n samples inside each pixel, n larger near the core.
    const double alpha2 = star.alpha * star.alpha;
    for (int32_t y = y0; y <= y1; ++y) {
        for (int32_t x = x0; x <= x1; ++x) {
            const double dx = x - star.x, dy = y - star.y;
            const double distance = std::sqrt(dx * dx + dy * dy);
            const int n = distance < 3.0 * star.alpha + 2.0 ? 8 : (distance < 10.0 * star.alpha ? 3 : 1);
            double sum = 0.0;
            for (int j = 0; j < n; ++j) {
                const double sy = dy - 0.5 + (j + 0.5) / n;
                for (int i = 0; i < n; ++i) {
                    const double sx = dx - 0.5 + (i + 0.5) / n;
                    sum += std::pow(1.0 + (sx * sx + sy * sy) / alpha2, -star.beta);
                }
            }
            const double value = star.peak * sum / (n * n);
            float* p = image->Pixel(x, y);
            for (int c = 0; c < 3; ++c) p[c] += static_cast<float>(value * tint[c]);
        }
    }
}

void RenderStarfield(const StarfieldOptions& options, std::vector<StarfieldStar>* stars, StarfieldImage* image,
                     std::vector<StarfieldGalaxy>* galaxies) {
    image->width = options.width;
    image->height = options.height;
    image->pixels.assign(static_cast<size_t>(options.width) * static_cast<size_t>(options.height) * 3, 0.0f);
    PaintSky(options, image);
    PaintNebulae(options, image);
    if (galaxies)
        for (StarfieldGalaxy& galaxy : *galaxies) galaxy.flux = DrawStarfieldGalaxy(galaxy, image);
    for (const StarfieldStar& star : *stars) DrawStarfieldStar(star, image);
    // Full scale reached at the centre pixel, before noise.
    auto saturatedAt = [&](double cx, double cy) {
        const long x = std::lround(cx), y = std::lround(cy);
        if (!options.clip || x < 0 || y < 0 || x >= image->width || y >= image->height) return false;
        const float* p = image->Pixel(static_cast<int32_t>(x), static_cast<int32_t>(y));
        return p[0] >= 1.0f || p[1] >= 1.0f || p[2] >= 1.0f;
    };
    for (StarfieldStar& star : *stars) star.saturated = saturatedAt(star.x, star.y);
    if (galaxies)
        for (StarfieldGalaxy& galaxy : *galaxies) galaxy.saturated = saturatedAt(galaxy.x, galaxy.y);
    if (options.bleed && options.clip) {
        for (const StarfieldStar& star : *stars) {
            if (!star.saturated) continue;
            const int32_t x = static_cast<int32_t>(std::lround(star.x)), y = static_cast<int32_t>(std::lround(star.y));
            const int32_t reach = static_cast<int32_t>(std::lround(2.0 * star.sigma * (star.peak - 1.0)));
            // Above full scale, so that noise cannot bring the trail below it.
            for (int32_t row = std::max(0, y - reach); row <= std::min(image->height - 1, y + reach); ++row)
                for (int c = 0; c < 3; ++c) image->Pixel(x, row)[c] = std::max(image->Pixel(x, row)[c], 1.5f);
        }
    }
    AddNoise(options, image);
    Clip(options, image);
    PaintFlats(options, AllFlats(options), image);
}

bool CreateStarfield(const StarfieldOptions& options, StarfieldImage* image, std::vector<StarfieldStar>* stars,
                     std::string* error, std::vector<StarfieldGalaxy>* galaxies) {
    if (!ValidateStarfieldOptions(options, error)) return false;
    *stars = GenerateStarfieldStars(options);
    std::vector<StarfieldGalaxy> drawn = GenerateStarfieldGalaxies(options, *stars);
    RenderStarfield(options, stars, image, &drawn);
    if (galaxies) *galaxies = std::move(drawn);
    return true;
}
