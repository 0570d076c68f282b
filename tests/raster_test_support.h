// Rasters for the command-line tool's tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/raylume/raster.h"
#include "tools/starfield/starfield.h"

// A star field of the given shape: sky, a few stars (`count`, listed in
// `truth` when given), noise (and some over-range and non-finite values in
// float rasters).
inline Raster Field(int32_t width, int32_t height, int32_t colours, bool alpha, int32_t depth, uint32_t seed,
                    int32_t count = 12, std::vector<StarfieldStar>* truth = nullptr) {
    StarfieldOptions options;
    options.seed = seed;
    options.width = width;
    options.height = height;
    options.starCount = count;
    options.minPeak = 0.3;
    options.maxPeak = 1.5;
    options.minSigma = 1.0;
    options.maxSigma = 2.0;
    options.skyLevel = 0.03;
    options.noise = 0.003;
    options.gray = colours == 1;
    StarfieldImage field;
    std::vector<StarfieldStar> stars;
    std::string error;
    EXPECT_TRUE(CreateStarfield(options, &field, &stars, &error)) << error;
    if (truth) *truth = stars;
    Raster r;
    r.width = width;
    r.height = height;
    r.colours = colours;
    r.alpha = alpha;
    r.depth = depth;
    RasterFailure failure;
    EXPECT_TRUE(AllocateRaster(&r, &failure, &error));
    std::mt19937 random(seed);
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            for (int32_t c = 0; c < r.Channels(); c++) {
                double v = c < colours ? field.Pixel(x, y)[c] : (random() % 1000) / 999.0;
                uint8_t* s = r.Row(y) + (static_cast<size_t>(x) * r.Channels() + c) * r.SampleBytes();
                if (depth == 8) {
                    *s = static_cast<uint8_t>(std::lround(std::min(1.0, v) * 255));
                } else if (depth == 16) {
                    uint16_t w = static_cast<uint16_t>(std::lround(std::min(1.0, v) * 65535));
                    std::memcpy(s, &w, 2);
                } else {
                    float f = static_cast<float>(v);
                    std::memcpy(s, &f, 4);
                }
            }
    if (depth == 32) {  // a few samples a float file may hold
        const float odd[] = {-0.25f, 7.5f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()};
        for (int i = 0; i < 4; i++) std::memcpy(r.Row(2) + static_cast<size_t>(4 + i) * r.Channels() * 4, &odd[i], 4);
    }
    return r;
}

