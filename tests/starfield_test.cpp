// The star-field generator: determinism, star placement and light, clipping,
// and the files it writes.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tools/starfield/starfield.h"
#include "tools/starfield/starfield_files.h"
#include "tools/starfield/starfield_random.h"

namespace {

StarfieldOptions BusyField(uint64_t seed) {
    StarfieldOptions o;
    o.seed = seed;
    o.width = 160;
    o.height = 120;
    o.starCount = 60;
    o.profile = STARFIELD_PROFILE_MIXED;
    o.minSigma = 0.8;
    o.maxSigma = 2.5;
    o.noise = 0.01;
    o.skyLevel = 0.05;
    o.skyGradientX = 0.02;
    o.nebulaCount = 2;
    o.randomFlatCount = 1;
    return o;
}

// One star well inside a dark, noiseless field.
StarfieldOptions LoneStar(uint64_t seed, StarfieldProfile profile) {
    StarfieldOptions o;
    o.seed = seed;
    o.width = 64;
    o.height = 64;
    o.starCount = 1;
    o.margin = 24;
    o.profile = profile;
    o.minSigma = 0.7;
    o.maxSigma = 2.0;
    o.minAlpha = 1.0;
    o.maxAlpha = 3.0;
    o.minPeak = 0.2;
    o.maxPeak = 0.9;
    o.colorMode = STARFIELD_COLOR_FIXED;
    return o;
}

struct Field {
    StarfieldImage image;
    std::vector<StarfieldStar> stars;
};

Field Make(const StarfieldOptions& options) {
    Field field;
    std::string error;
    EXPECT_TRUE(CreateStarfield(options, &field.image, &field.stars, &error)) << error;
    return field;
}

std::string Scratch(const std::string& name) { return TestScratchFolder() + "/" + name; }

// A TIFF read back through libtiff.
struct TiffContents {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, format = 0, photometric = 0;
    std::vector<uint8_t> data;  // rows in file order
};

bool ReadTiff(const std::string& path, TiffContents* out) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return false;
    bool ok = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &out->width) == 1 &&
              TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &out->height) == 1 &&
              TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &out->bits) == 1 &&
              TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &out->samples) == 1 &&
              TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &out->photometric) == 1;
    if (ok && TIFFGetField(tiff, TIFFTAG_SAMPLEFORMAT, &out->format) != 1) out->format = SAMPLEFORMAT_UINT;
    const tmsize_t line = TIFFScanlineSize(tiff);
    if (ok) out->data.resize(static_cast<size_t>(line) * out->height);
    for (uint32_t y = 0; ok && y < out->height; ++y)
        ok = TIFFReadScanline(tiff, out->data.data() + static_cast<size_t>(line) * y, y, 0) == 1;
    TIFFClose(tiff);
    return ok;
}

}  // namespace

TEST(StarfieldRandom, SeedAndStreamSelectTheSequence) {
    StarfieldRandom a, b, c;
    SeedStarfieldRandom(&a, 42, 1);
    SeedStarfieldRandom(&b, 42, 1);
    SeedStarfieldRandom(&c, 42, 2);
    bool streamsDiffer = false;
    for (int i = 0; i < 100; ++i) {
        const uint32_t va = NextRandom32(&a);
        ASSERT_EQ(va, NextRandom32(&b));
        streamsDiffer |= va != NextRandom32(&c);
    }
    EXPECT_TRUE(streamsDiffer);
    double sum = 0, sumSquares = 0;
    for (int i = 0; i < 20000; ++i) {
        const double u = NextUniform(&a);
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        const double g = NextGaussian(&b);
        sum += g;
        sumSquares += g * g;
    }
    EXPECT_NEAR(0.0, sum / 20000, 0.03);
    EXPECT_NEAR(1.0, sumSquares / 20000, 0.05);
}

TEST(Starfield, SameSeedGivesIdenticalBytes) {
    const Field one = Make(BusyField(7));
    const Field two = Make(BusyField(7));
    ASSERT_EQ(one.image.pixels.size(), two.image.pixels.size());
    EXPECT_EQ(0, std::memcmp(one.image.pixels.data(), two.image.pixels.data(), one.image.pixels.size() * 4));
    EXPECT_EQ(StarfieldCsvText(one.stars), StarfieldCsvText(two.stars));

    StarfieldWriteOptions w;
    std::string error;
    ASSERT_TRUE(WriteStarfieldImage(one.image, Scratch("same1.tif"), w, &error)) << error;
    ASSERT_TRUE(WriteStarfieldImage(two.image, Scratch("same2.tif"), w, &error)) << error;
    const std::vector<uint8_t> a = ReadWholeFile(Scratch("same1.tif")), b = ReadWholeFile(Scratch("same2.tif"));
    ASSERT_GT(a.size(), 160u * 120u * 6u);
    EXPECT_EQ(a, b);
}

TEST(Starfield, DifferentSeedGivesADifferentField) {
    const Field one = Make(BusyField(7));
    const Field two = Make(BusyField(8));
    EXPECT_NE(0, std::memcmp(one.image.pixels.data(), two.image.pixels.data(), one.image.pixels.size() * 4));
    EXPECT_NE(one.stars[0].x, two.stars[0].x);
    EXPECT_NE(StarfieldCsvText(one.stars), StarfieldCsvText(two.stars));
}

TEST(Starfield, ChangingTheNoiseLeavesTheStarsWhereTheyWere) {
    StarfieldOptions quiet = BusyField(3), noisy = BusyField(3);
    noisy.noise = 0.05;
    EXPECT_EQ(StarfieldCsvText(GenerateStarfieldStars(quiet)), StarfieldCsvText(GenerateStarfieldStars(noisy)));
}

TEST(Starfield, BrightestPixelOfALoneStarIsAtItsRoundedCentre) {
    for (StarfieldProfile profile : {STARFIELD_PROFILE_GAUSSIAN, STARFIELD_PROFILE_MOFFAT}) {
        for (uint64_t seed = 1; seed <= 12; ++seed) {
            const Field f = Make(LoneStar(seed, profile));
            ASSERT_EQ(1u, f.stars.size());
            const StarfieldStar& star = f.stars[0];
            EXPECT_EQ(profile, star.profile);
            int32_t bestX = -1, bestY = -1;
            float best = -1;
            for (int32_t y = 0; y < f.image.height; ++y)
                for (int32_t x = 0; x < f.image.width; ++x)
                    if (f.image.Pixel(x, y)[1] > best) {
                        best = f.image.Pixel(x, y)[1];
                        bestX = x;
                        bestY = y;
                    }
            EXPECT_EQ(std::lround(star.x), bestX) << "seed " << seed << " x " << star.x;
            EXPECT_EQ(std::lround(star.y), bestY) << "seed " << seed << " y " << star.y;
            EXPECT_LE(best, star.peak);
            EXPECT_GT(best, 0.3 * star.peak);
        }
    }
}

TEST(Starfield, TotalLightOfAGaussianStarIsItsFlux) {
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        const Field f = Make(LoneStar(seed, STARFIELD_PROFILE_GAUSSIAN));
        const StarfieldStar& star = f.stars[0];
        EXPECT_NEAR(2 * 3.14159265358979 * star.sigma * star.sigma * star.peak, star.flux, 1e-9);
        EXPECT_NEAR(star.sigma * 2.35482, star.fwhm, 1e-4);
        double total = 0;
        for (float v : f.image.pixels) total += v;
        EXPECT_NEAR(star.flux, total / 3, star.flux * 1e-4) << "seed " << seed;
    }
}

TEST(Starfield, TotalLightOfAMoffatStarIsCloseToItsFlux) {
    StarfieldOptions o = LoneStar(5, STARFIELD_PROFILE_MOFFAT);
    o.width = o.height = 160;
    o.margin = 75;
    o.beta = 4.0;
    const Field f = Make(o);
    const StarfieldStar& star = f.stars[0];
    EXPECT_NEAR(3.14159265358979 * star.alpha * star.alpha / 3.0 * star.peak, star.flux, 1e-9);
    double total = 0;
    for (float v : f.image.pixels) total += v;
    EXPECT_NEAR(star.flux, total / 3, star.flux * 5e-3);
}

TEST(Starfield, SaturatedCoresClipAtFullScale) {
    StarfieldOptions o = LoneStar(9, STARFIELD_PROFILE_GAUSSIAN);
    o.minPeak = o.maxPeak = 6.0;
    o.minSigma = o.maxSigma = 2.0;
    const Field clipped = Make(o);
    EXPECT_TRUE(clipped.stars[0].saturated);
    const float top = *std::max_element(clipped.image.pixels.begin(), clipped.image.pixels.end());
    EXPECT_EQ(1.0f, top);
    EXPECT_GT(std::count(clipped.image.pixels.begin(), clipped.image.pixels.end(), 1.0f), 3 * 9);

    o.clip = false;
    const Field open = Make(o);
    EXPECT_FALSE(open.stars[0].saturated);
    EXPECT_GT(*std::max_element(open.image.pixels.begin(), open.image.pixels.end()), 4.0f);

    o.clip = true;
    o.minPeak = o.maxPeak = 0.5;
    EXPECT_FALSE(Make(o).stars[0].saturated);
}

TEST(Starfield, FlatAreasStayConstantUnderNoiseAndKeepStarsAway) {
    StarfieldOptions o = BusyField(11);
    o.noise = 0.05;
    o.randomFlatCount = 0;
    o.starCount = 300;
    StarfieldFlat flat;
    flat.left = 20;
    flat.top = 30;
    flat.width = 40;
    flat.height = 25;
    flat.value[0] = 0.25f;
    flat.value[1] = 0.5f;
    flat.value[2] = 0.75f;
    o.flats.push_back(flat);
    const Field f = Make(o);
    for (int32_t y = 30; y < 55; ++y)
        for (int32_t x = 20; x < 60; ++x) {
            const float* p = f.image.Pixel(x, y);
            ASSERT_EQ(0.25f, p[0]);
            ASSERT_EQ(0.5f, p[1]);
            ASSERT_EQ(0.75f, p[2]);
        }
    EXPECT_NE(0.25f, f.image.Pixel(19, 30)[0]);
    for (const StarfieldStar& s : f.stars) {
        const bool inside = s.x >= 19.5 && s.x < 59.5 && s.y >= 29.5 && s.y < 54.5;
        EXPECT_FALSE(inside) << s.x << "," << s.y;
    }
}

TEST(Starfield, SkyHasItsLevelAtTheCentreAndItsGradient) {
    StarfieldOptions o;
    o.width = 100;
    o.height = 50;
    o.starCount = 0;
    o.skyLevel = 0.2;
    o.skyGradientX = 0.1;
    o.skyGradientY = -0.04;
    const Field f = Make(o);
    EXPECT_NEAR(0.2 + 0.1 * (0.5 / 100 - 0.5) - 0.04 * (0.5 / 50 - 0.5), f.image.Pixel(0, 0)[0], 1e-6);
    EXPECT_NEAR(0.2 + 0.1 * (99.5 / 100 - 0.5) - 0.04 * (49.5 / 50 - 0.5), f.image.Pixel(99, 49)[2], 1e-6);
    EXPECT_NEAR(0.2, (f.image.Pixel(49, 24)[1] + f.image.Pixel(50, 25)[1]) / 2, 1e-6);
}

TEST(Starfield, PeaksFollowTheChosenLaw) {
    StarfieldOptions o;
    o.starCount = 4000;
    o.minPeak = 0.1;
    o.maxPeak = 1.0;
    o.fluxLaw = STARFIELD_FLUX_UNIFORM;
    std::vector<StarfieldStar> uniform = GenerateStarfieldStars(o);
    o.fluxLaw = STARFIELD_FLUX_POWER_LAW;
    o.powerLawIndex = 2.0;
    std::vector<StarfieldStar> power = GenerateStarfieldStars(o);
    auto median = [](std::vector<StarfieldStar> stars) {
        std::vector<double> peaks;
        for (const StarfieldStar& s : stars) {
            EXPECT_GE(s.peak, 0.1);
            EXPECT_LE(s.peak, 1.0);
            peaks.push_back(s.peak);
        }
        std::sort(peaks.begin(), peaks.end());
        return peaks[peaks.size() / 2];
    };
    // Uniform: 0.55. Index 2 on [0.1, 1]: the median is 2 / 11 ≈ 0.18.
    EXPECT_NEAR(0.55, median(uniform), 0.03);
    EXPECT_NEAR(2.0 / 11.0, median(power), 0.02);
}

TEST(Starfield, TemperatureTintsRunFromRedToBlue) {
    float cool[3], white[3], hot[3];
    StarfieldTemperatureTint(3000, cool);
    StarfieldTemperatureTint(6500, white);
    StarfieldTemperatureTint(20000, hot);
    EXPECT_EQ(1.0f, cool[0]);
    EXPECT_LT(cool[2], 0.5f * cool[0]);
    EXPECT_NEAR(1.0f, white[0], 1e-6);
    EXPECT_NEAR(1.0f, white[1], 1e-6);
    EXPECT_NEAR(1.0f, white[2], 1e-6);
    EXPECT_EQ(1.0f, hot[2]);
    EXPECT_LT(hot[0], hot[2]);

    StarfieldOptions o;
    o.starCount = 50;
    o.colorSaturation = 0.0;
    for (const StarfieldStar& s : GenerateStarfieldStars(o)) {
        EXPECT_EQ(1.0f, s.r);
        EXPECT_EQ(1.0f, s.b);
    }
    o.gray = true;
    o.colorSaturation = 1.0;
    o.noise = 0.02;
    const Field gray = Make(o);
    for (size_t i = 0; i < gray.image.pixels.size(); i += 3) {
        ASSERT_EQ(gray.image.pixels[i], gray.image.pixels[i + 1]);
        ASSERT_EQ(gray.image.pixels[i], gray.image.pixels[i + 2]);
    }
}

TEST(Starfield, SeparationKeepsStarsApart) {
    StarfieldOptions o;
    o.starCount = 40;
    o.width = o.height = 200;
    o.minSeparation = 15;
    const std::vector<StarfieldStar> stars = GenerateStarfieldStars(o);
    for (size_t i = 0; i < stars.size(); ++i)
        for (size_t j = i + 1; j < stars.size(); ++j)
            EXPECT_GE(std::hypot(stars[i].x - stars[j].x, stars[i].y - stars[j].y), 15.0);
}

// A lone galaxy's brightest pixel is its peak and its pixels sum to its
// flux; its second moments lie along its angle with about its axis ratio,
// widened by the seeing, which no galaxy can be narrower than.
TEST(Starfield, GalaxiesHaveTheirPeakFluxOrientationAndSeeing) {
    StarfieldOptions o;
    o.width = o.height = 200;
    o.starCount = 0;
    o.galaxyCount = 1;
    o.margin = 95;
    o.colorMode = STARFIELD_COLOR_FIXED;
    o.minGalaxyPeak = o.maxGalaxyPeak = 0.5;
    o.minGalaxyRadius = o.maxGalaxyRadius = 6.0;
    o.minSersicIndex = o.maxSersicIndex = 1.0;
    o.maxEllipticity = 0.6;
    o.galaxySeeing = 1.2;
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        o.seed = seed;
        StarfieldImage image;
        std::vector<StarfieldStar> stars;
        std::vector<StarfieldGalaxy> galaxies;
        std::string error;
        ASSERT_TRUE(CreateStarfield(o, &image, &stars, &error, &galaxies)) << error;
        ASSERT_EQ(1u, galaxies.size());
        const StarfieldGalaxy& g = galaxies[0];
        double top = 0, sum = 0, mx = 0, my = 0;
        for (int32_t y = 0; y < image.height; ++y)
            for (int32_t x = 0; x < image.width; ++x) {
                const double v = image.Pixel(x, y)[1];
                top = std::max(top, v);
                sum += v;
                mx += v * x;
                my += v * y;
            }
        EXPECT_NEAR(g.peak, top, 1e-6);
        EXPECT_NEAR(g.flux, sum, g.flux * 1e-5);
        mx /= sum;
        my /= sum;
        EXPECT_NEAR(g.x, mx, 0.05);
        EXPECT_NEAR(g.y, my, 0.05);
        double xx = 0, yy = 0, xy = 0;
        for (int32_t y = 0; y < image.height; ++y)
            for (int32_t x = 0; x < image.width; ++x) {
                const double v = image.Pixel(x, y)[1] / sum;
                xx += v * (x - mx) * (x - mx);
                yy += v * (y - my) * (y - my);
                xy += v * (x - mx) * (y - my);
            }
        const double spread = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
        const double major = 0.5 * (xx + yy) + spread, minor = 0.5 * (xx + yy) - spread;
        const double ratio = std::sqrt(minor / major), axisRatio = 1.0 - g.ellipticity;
        EXPECT_GE(ratio, axisRatio - 0.02) << "seed " << seed;
        EXPECT_LE(ratio, axisRatio + 0.1) << "seed " << seed;
        if (g.ellipticity > 0.2) {
            double angle = 0.5 * std::atan2(2 * xy, xx - yy) * 180.0 / 3.14159265358979;
            double off = std::fmod(std::fabs(angle - g.angle), 180.0);
            EXPECT_LT(std::min(off, 180.0 - off), 2.0) << "seed " << seed << ": " << angle << " against " << g.angle;
        }
    }
    // Smaller than the seeing: as wide as the seeing on every axis.
    o.minGalaxyRadius = o.maxGalaxyRadius = 0.5;
    o.minSersicIndex = o.maxSersicIndex = 4.0;
    o.maxEllipticity = 0.0;
    StarfieldImage image;
    std::vector<StarfieldStar> stars;
    std::vector<StarfieldGalaxy> galaxies;
    std::string error;
    ASSERT_TRUE(CreateStarfield(o, &image, &stars, &error, &galaxies)) << error;
    double sum = 0, xx = 0;
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            const double v = image.Pixel(x, y)[1];
            sum += v;
            xx += v * (x - galaxies[0].x) * (x - galaxies[0].x);
        }
    EXPECT_GE(xx / sum, 1.2 * 1.2);
}

// Galaxies come on their own stream: adding them moves no star; they keep
// the separation from the stars and from each other; their list is written.
TEST(Starfield, GalaxiesJoinAFieldWithoutMovingItsStars) {
    StarfieldOptions o = BusyField(8);
    o.width = o.height = 300;
    o.starCount = 40;
    o.minSeparation = 12;
    const std::vector<StarfieldStar> alone = GenerateStarfieldStars(o);
    o.galaxyCount = 15;
    StarfieldImage image;
    std::vector<StarfieldStar> stars;
    std::vector<StarfieldGalaxy> galaxies;
    std::string error;
    ASSERT_TRUE(CreateStarfield(o, &image, &stars, &error, &galaxies)) << error;
    EXPECT_EQ(StarfieldCsvText(alone), StarfieldCsvText(GenerateStarfieldStars(o)));
    ASSERT_EQ(15u, galaxies.size());
    for (size_t i = 0; i < galaxies.size(); ++i) {
        for (const StarfieldStar& s : stars) EXPECT_GE(std::hypot(s.x - galaxies[i].x, s.y - galaxies[i].y), 12.0);
        for (size_t j = i + 1; j < galaxies.size(); ++j)
            EXPECT_GE(std::hypot(galaxies[j].x - galaxies[i].x, galaxies[j].y - galaxies[i].y), 12.0);
    }
    const std::string text = StarfieldGalaxyCsvText(galaxies);
    EXPECT_EQ(0u, text.find("id,x,y,peak,flux,effective_radius,sersic,ellipticity,angle,seeing,temperature,r,g,b,"
                            "saturated\n"));
    EXPECT_EQ(16, std::count(text.begin(), text.end(), '\n'));
}

TEST(Starfield, BadOptionsAreRefused) {
    StarfieldImage image;
    std::vector<StarfieldStar> stars;
    std::string error;
    StarfieldOptions o;
    o.width = 0;
    EXPECT_FALSE(CreateStarfield(o, &image, &stars, &error));
    EXPECT_FALSE(error.empty());
    o = StarfieldOptions();
    o.beta = 1.0;
    EXPECT_FALSE(ValidateStarfieldOptions(o, &error));
    o = StarfieldOptions();
    o.minPeak = 2.0;
    o.maxPeak = 1.0;
    EXPECT_FALSE(ValidateStarfieldOptions(o, &error));
    o = StarfieldOptions();
    o.margin = 300;
    EXPECT_FALSE(ValidateStarfieldOptions(o, &error));
    o = StarfieldOptions();
    o.minSersicIndex = 0.1;
    EXPECT_FALSE(ValidateStarfieldOptions(o, &error));
    o = StarfieldOptions();
    o.maxEllipticity = 0.95;
    EXPECT_FALSE(ValidateStarfieldOptions(o, &error));
    EXPECT_TRUE(ValidateStarfieldOptions(StarfieldOptions(), &error));
}

TEST(StarfieldFiles, TiffRoundTripsAtEveryDepth) {
    StarfieldOptions o = BusyField(21);
    o.randomFlatCount = 0;
    StarfieldFlat half;
    half.left = half.top = 0;
    half.width = half.height = 2;
    half.value[0] = half.value[1] = half.value[2] = 0.5f;
    o.flats.push_back(half);
    const Field f = Make(o);

    for (int depth : {8, 16, 32}) {
        for (bool gray : {false, true}) {
            StarfieldWriteOptions w;
            w.depth = static_cast<StarfieldDepth>(depth);
            w.gray = gray;
            const std::string path = Scratch("round" + std::to_string(depth) + (gray ? "g" : "c") + ".tiff");
            std::string error;
            ASSERT_TRUE(WriteStarfieldImage(f.image, path, w, &error)) << error;
            TiffContents t;
            ASSERT_TRUE(ReadTiff(path, &t)) << path;
            EXPECT_EQ(160u, t.width);
            EXPECT_EQ(120u, t.height);
            EXPECT_EQ(depth, t.bits);
            EXPECT_EQ(gray ? 1 : 3, t.samples);
            EXPECT_EQ(depth == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT, t.format);
            EXPECT_EQ(gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB, t.photometric);
            const int samples = gray ? 1 : 3;
            ASSERT_EQ(static_cast<size_t>(160 * 120 * samples * depth / 8), t.data.size());
            size_t mismatches = 0;
            for (int32_t y = 0; y < 120; ++y)
                for (int32_t x = 0; x < 160; ++x)
                    for (int c = 0; c < samples; ++c) {
                        const size_t index = (static_cast<size_t>(y) * 160 + x) * samples + c;
                        const float value = StarfieldSample(f.image, x, y, c, gray, 1.0);
                        if (depth == 8) {
                            mismatches += t.data[index] != StarfieldQuantize8(value);
                        } else if (depth == 16) {
                            uint16_t v;
                            std::memcpy(&v, &t.data[index * 2], 2);
                            mismatches += v != StarfieldQuantize16(value);
                        } else {
                            float v;
                            std::memcpy(&v, &t.data[index * 4], 4);
                            mismatches += v != value;
                        }
                    }
            EXPECT_EQ(0u, mismatches) << path;
            // The flat corner: one half of full scale.
            if (depth == 8) {
                EXPECT_EQ(128, t.data[0]);
            } else if (depth == 16) {
                EXPECT_EQ(32768, t.data[0] | (t.data[1] << 8));
            } else {
                float v;
                std::memcpy(&v, t.data.data(), 4);
                EXPECT_EQ(0.5f, v);
            }
        }
    }
}

TEST(StarfieldFiles, PgmPpmAndPfmLayout) {
    StarfieldImage image;
    image.width = 2;
    image.height = 2;
    // (0,0) white, (1,0) red, (0,1) half gray, (1,1) above full scale.
    image.pixels = {1, 1, 1, 1, 0, 0, 0.5f, 0.5f, 0.5f, 2, 2, 2};
    StarfieldWriteOptions w;
    std::vector<uint8_t> bytes;
    std::string error;

    w.depth = STARFIELD_DEPTH_8;
    ASSERT_TRUE(EncodeStarfieldPnm(image, w, &bytes, &error));
    const std::string ppm8 = "P6\n2 2\n255\n";
    ASSERT_EQ(ppm8.size() + 12, bytes.size());
    EXPECT_EQ(ppm8, std::string(bytes.begin(), bytes.begin() + static_cast<long>(ppm8.size())));
    EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 255, 0, 0, 128, 128, 128, 255, 255, 255}),
              std::vector<uint8_t>(bytes.begin() + static_cast<long>(ppm8.size()), bytes.end()));

    w.depth = STARFIELD_DEPTH_16;
    w.gray = true;
    ASSERT_TRUE(EncodeStarfieldPnm(image, w, &bytes, &error));
    const std::string pgm16 = "P5\n2 2\n65535\n";
    ASSERT_EQ(pgm16.size() + 8, bytes.size());
    EXPECT_EQ(pgm16, std::string(bytes.begin(), bytes.begin() + static_cast<long>(pgm16.size())));
    // Big-endian samples; red alone is its Rec. 709 luminance.
    const uint16_t redGray = StarfieldQuantize16(0.2126f);
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xFF, static_cast<uint8_t>(redGray >> 8), static_cast<uint8_t>(redGray),
                                    0x80, 0x00, 0xFF, 0xFF}),
              std::vector<uint8_t>(bytes.begin() + static_cast<long>(pgm16.size()), bytes.end()));

    w.depth = STARFIELD_DEPTH_FLOAT;
    EXPECT_FALSE(EncodeStarfieldPnm(image, w, &bytes, &error));

    w.gray = false;
    bytes = EncodeStarfieldPfm(image, w);
    const std::string pfm = "PF\n2 2\n-1.0\n";
    ASSERT_EQ(pfm.size() + 48, bytes.size());
    EXPECT_EQ(pfm, std::string(bytes.begin(), bytes.begin() + static_cast<long>(pfm.size())));
    // Bottom row first: (0,1) half gray, then (1,1) at 2.0, kept above full scale.
    float first[6];
    std::memcpy(first, bytes.data() + pfm.size(), sizeof first);
    EXPECT_EQ(0.5f, first[0]);
    EXPECT_EQ(2.0f, first[3]);
    EXPECT_EQ(0x00, bytes[pfm.size()]);  // little-endian 0.5f = 00 00 00 3F
    EXPECT_EQ(0x3F, bytes[pfm.size() + 3]);

    w.gray = true;
    bytes = EncodeStarfieldPfm(image, w);
    EXPECT_EQ(std::string("Pf\n2 2\n-1.0\n"), std::string(bytes.begin(), bytes.begin() + 12));
    EXPECT_EQ(12u + 16u, bytes.size());

    EXPECT_FALSE(WriteStarfieldImage(image, Scratch("field.bmp"), w, &error));
}

TEST(StarfieldFiles, GammaEncodesOnTheWayOut) {
    StarfieldImage image;
    image.width = 1;
    image.height = 1;
    image.pixels = {0.25f, 0.25f, 0.25f};
    EXPECT_FLOAT_EQ(0.5f, StarfieldSample(image, 0, 0, 0, false, 2.0));
    EXPECT_FLOAT_EQ(0.25f, StarfieldSample(image, 0, 0, 0, false, 1.0));
}

TEST(StarfieldFiles, CsvHasAHeaderAndOneLinePerStar) {
    StarfieldOptions o = BusyField(5);
    o.minPeak = 0.5;
    o.maxPeak = 4.0;
    const Field f = Make(o);
    std::string error;
    ASSERT_TRUE(WriteStarfieldCsv(f.stars, Scratch("stars.csv"), &error)) << error;
    const std::vector<uint8_t> bytes = ReadWholeFile(Scratch("stars.csv"));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(static_cast<long>(f.stars.size() + 1), std::count(text.begin(), text.end(), '\n'));
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ("id,x,y,peak,flux,profile,sigma,alpha,beta,fwhm,temperature,r,g,b,saturated", line);
    size_t saturated = 0;
    for (size_t i = 0; i < f.stars.size(); ++i) {
        ASSERT_TRUE(std::getline(in, line));
        std::vector<std::string> fields;
        std::stringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ',')) fields.push_back(cell);
        ASSERT_EQ(15u, fields.size()) << line;
        EXPECT_EQ(std::to_string(i), fields[0]);
        EXPECT_NEAR(f.stars[i].x, std::stod(fields[1]), 1e-4);
        EXPECT_NEAR(f.stars[i].y, std::stod(fields[2]), 1e-4);
        EXPECT_EQ(f.stars[i].profile == STARFIELD_PROFILE_MOFFAT ? "moffat" : "gaussian", fields[5]);
        EXPECT_EQ(f.stars[i].saturated ? "1" : "0", fields[14]);
        saturated += f.stars[i].saturated;
    }
    EXPECT_GT(saturated, 0u);
    EXPECT_LT(saturated, f.stars.size());
}
