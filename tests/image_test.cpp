// Image records: accessors in every mode, tables, buffers and bulk copies.
// Expected values are computed here from the formulas, not read back from
// the code under test, so that a wrong table entry or a swapped channel shows.
#include <gtest/gtest.h>

#include <lcms2.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include "image/fixed_point.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "image/tracked_buffer.h"
#include "support/run_result.h"
#include "tests/test_support.h"

namespace {

uint32_t Round(double v) { return static_cast<uint32_t>(static_cast<uint64_t>(std::nearbyint(v))); }

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitializeGammaTables());
        ForceGlobalErrorCode(0);
    }
    void TearDown() override {
        for (Image& image : images) ReleaseImage(&image);
        ReleaseGammaTables();
        ForceGlobalErrorCode(0);
        SetBufferAllocationLimitForTesting(0);
        SetGammaTableAllocationFailureForTesting(false);
    }
    // A fresh image with gamma 1.0 (unless given) over rect, buffer = rect.
    Image* Make(int32_t mode, ImageRect rect, bool mask = false, bool edgeSafe = false, double gamma = 1.0) {
        images.emplace_back();
        Image* image = &images.back();
        EXPECT_TRUE(CreateImage(image, rect, rect, mode, nullptr, mask, edgeSafe));
        if (gamma != 1.0) AttachImageGamma(image, gamma, edgeSafe);
        std::memset(image->pixels.pointer, 0, image->pixels.size);
        if (image->mask.size) std::memset(image->mask.pointer, 0, image->mask.size);
        return image;
    }
    std::deque<Image> images;
};

const ImageRect kSmall = {0, 0, 4, 3};
const int32_t kAllModes[] = {IMAGE_MODE_GRAY8,      IMAGE_MODE_RGB8,      IMAGE_MODE_GRAY16, IMAGE_MODE_RGB16,
                             IMAGE_MODE_RGB_FLOAT, IMAGE_MODE_GRAY_FLOAT, IMAGE_MODE_LINEAR32};

}  // namespace

// Rounding to the nearest with ties to even, as the library's nearbyint
// does, over halves, near-halves, large values and the limits.
TEST(Rounding, RoundToU32MatchesNearbyint) {
    uint64_t state = 12345;
    auto next = [&] { return state = state * 6364136223846793005ull + 1442695040888963407ull; };
    std::vector<double> values = {0.0, -1.0, -0.5, 0.5, 1.5, 2.5, 0.49999999999999994, 4294967294.5, 4294967295.0,
                                  4503599627370495.5, 4503599627370497.0, 1e300, std::nan("")};
    for (int i = 0; i < 200000; i++) {
        const double scale = std::ldexp(1.0, static_cast<int>(next() % 34));
        values.push_back(static_cast<double>(next() >> 11) / 9007199254740992.0 * scale);
        values.push_back(std::floor(values.back()) + 0.5);  // an exact tie
    }
    for (double v : values) {
        double clipped = v >= 9.2e18 ? 9.2e18 : v;
        const uint32_t expected =
            v > 0.0 ? static_cast<uint32_t>(static_cast<uint64_t>(std::nearbyint(clipped))) : 0u;
        ASSERT_EQ(RoundToU32(v), expected) << std::hexfloat << v;
    }
}

TEST_F(ImageTest, RecordFieldsFollowTheMode) {
    struct Expect {
        int32_t mode;
        int64_t bytes;
        int32_t type, format;
    } cases[] = {{IMAGE_MODE_GRAY8, 1, 0x1401, 0x80E1},  {IMAGE_MODE_RGB8, 1, 0x1401, 0x80E1},
                 {IMAGE_MODE_GRAY16, 2, 0x1403, 0x1908}, {IMAGE_MODE_RGB16, 2, 0x1403, 0x1908},
                 {IMAGE_MODE_RGB_FLOAT, 4, 0x1406, 0x1908}, {IMAGE_MODE_GRAY_FLOAT, 4, 0x1406, 0x1908},
                 {IMAGE_MODE_LINEAR32, 4, 0x1405, 0x1908}};
    for (const auto& c : cases) {
        Image* image = Make(c.mode, {10, 20, 15, 23}, true);
        EXPECT_EQ(image->bytesPerChannel, c.bytes) << c.mode;
        EXPECT_EQ(image->pixelType, c.type) << c.mode;
        EXPECT_EQ(image->pixelFormat, c.format) << c.mode;
        EXPECT_EQ(image->channels, 4);
        EXPECT_EQ(image->width, 5);
        EXPECT_EQ(image->height, 3);
        EXPECT_EQ(image->pixels.size, static_cast<uint64_t>((3 + 1) * 5 * 4 * c.bytes));  // one spare row
        EXPECT_EQ(image->mask.size, static_cast<uint64_t>((3 + 1) * 5));
    }
    EXPECT_EQ(BytesPerColor(9), 1);
    EXPECT_EQ(BytesPerColor(15), 2);
    CapturedReports reports;
    EXPECT_EQ(BytesPerColor(40), 1);
    EXPECT_TRUE(reports.Contains("Error:  Unrecognized image mode."));
}

TEST_F(ImageTest, FullScaleValuesReadAsFullScale) {
    Image* g8 = Make(IMAGE_MODE_GRAY8, kSmall);
    uint8_t* p = PixelAddress(g8, 1, 1);
    p[0] = 255;
    p[3] = 255;
    PixelValue v;
    g8->InputImage(g8, &v, 1, 1);
    EXPECT_EQ(v.c0, 0xFFFFFFu);
    EXPECT_EQ(v.c2, 0xFFFFFFu);
    EXPECT_EQ(v.alpha, 0xFFFFFFFEu);
    EXPECT_EQ(v.mask, 0xFFFFFFFEu);  // no mask: fully selected

    Image* g16 = Make(IMAGE_MODE_RGB16, kSmall, false, false, 2.2);
    auto* s = reinterpret_cast<uint16_t*>(PixelAddress(g16, 2, 0));
    s[0] = 65535;
    s[1] = 0;
    s[2] = 32768;
    s[3] = 65535;
    g16->InputImage(g16, &v, 2, 0);
    EXPECT_EQ(v.c0, 0xFFFFFFu);
    EXPECT_EQ(v.c1, 0u);
    EXPECT_EQ(v.c2, Round(std::pow(32768 / 65535.0, 2.2) * 16777215.0));
    EXPECT_EQ(v.alpha, 0xFFFFFFFEu);
}

TEST_F(ImageTest, EightBitRgbKeepsRedAndBlueInTheirPlaces) {
    Image* bgra = Make(IMAGE_MODE_RGB8, kSmall);
    ASSERT_EQ(bgra->pixelFormat, PIXEL_FORMAT_BGRA);
    PixelValue red = {0xFFFFFF, 0, 0x808080, 0xFFFFFFFE, PIXEL_KEEP};
    bgra->OutputImage(bgra, &red, 0, 0);
    const uint8_t* p = PixelAddress(bgra, 0, 0);
    EXPECT_EQ(p[2], 255);  // R
    EXPECT_EQ(p[1], 0);    // G
    EXPECT_EQ(p[0], Round(0x808080 / 16777215.0 * 255.0));  // B, gamma 1
    EXPECT_EQ(p[3], 255);

    Image* rgba = Make(IMAGE_MODE_RGB8, kSmall);
    rgba->pixelFormat = PIXEL_FORMAT_RGBA;
    ChooseImageAccessors(rgba);
    rgba->OutputImage(rgba, &red, 0, 0);
    p = PixelAddress(rgba, 0, 0);
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[2], Round(0x808080 / 16777215.0 * 255.0));
    PixelValue back;
    rgba->InputImage(rgba, &back, 0, 0);
    EXPECT_EQ(back.c0, 0xFFFFFFu);
    EXPECT_EQ(back.c1, 0u);
}

TEST_F(ImageTest, WritesSaturateAndKeepLeavesComponentsAlone) {
    for (int32_t mode : kAllModes) {
        Image* image = Make(mode, kSmall, true);
        PixelValue start = {0x100000, 0x200000, 0x300000, 0x80000000u, 0x80000000u};
        image->OutputImage(image, &start, 3, 2);
        PixelValue before, after;
        image->InputImage(image, &before, 3, 2);
        PixelValue keep = {PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP};
        image->OutputImage(image, &keep, 3, 2);
        image->InputImage(image, &after, 3, 2);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0) << "mode " << mode;

        if (mode == IMAGE_MODE_LINEAR32) continue;  // stored as given, no saturation
        PixelValue over = {0xFFFFFF, 0x1000000, 0xFFFFFFFE, PIXEL_KEEP, PIXEL_KEEP};
        image->OutputImage(image, &over, 3, 2);
        image->InputImage(image, &after, 3, 2);
        EXPECT_EQ(after.c0, 0xFFFFFFu) << "mode " << mode;
        EXPECT_EQ(after.c2, 0xFFFFFFu) << "mode " << mode;
        EXPECT_EQ(after.alpha, before.alpha) << "mode " << mode;
        EXPECT_EQ(after.mask, before.mask) << "mode " << mode;
    }
}

TEST_F(ImageTest, RoundTripsThroughEveryModeStayClose) {
    for (int32_t mode : kAllModes) {
        for (double gamma : {1.0, 2.2}) {
            Image* image = Make(mode, kSmall, true, false, gamma);
            PixelValue in = {0x123456, 0xABCDEF, 0x7F0000, 0xC0000000u, 0xFFFFFFFEu};
            bool gray = mode == IMAGE_MODE_GRAY8 || mode == IMAGE_MODE_GRAY16 || mode == IMAGE_MODE_GRAY_FLOAT;
            if (gray) in.c1 = in.c2 = in.c0;
            image->OutputImage(image, &in, 1, 2);
            PixelValue out;
            image->InputImage(image, &out, 1, 2);
            // 8-bit stores lose most; the tolerance is one step of the stored value.
            double step = image->bytesPerChannel == 1 ? 16777215.0 / 255 * (gamma == 1.0 ? 1 : 3)
                                                      : (image->bytesPerChannel == 2 ? 16777215.0 / 65535 * 3 : 2);
            EXPECT_NEAR(out.c0, in.c0, step) << mode << " " << gamma;
            EXPECT_NEAR(out.c1, in.c1, step) << mode << " " << gamma;
            EXPECT_NEAR(out.c2, in.c2, step) << mode << " " << gamma;
            EXPECT_NEAR(static_cast<double>(out.alpha), in.alpha, 4294967294.0 / 255) << mode;
            EXPECT_NEAR(static_cast<double>(out.mask), in.mask, 4294967294.0 / 255) << mode;
        }
    }
}

TEST_F(ImageTest, MaskBytesAroundHalfReadOnEitherSideOfHalf) {
    Image* image = Make(IMAGE_MODE_GRAY8, kSmall, true);
    *MaskAddress(image, 0, 0) = 128;
    *MaskAddress(image, 1, 0) = 127;
    *MaskAddress(image, 2, 0) = 255;
    PixelValue v;
    image->InputImage(image, &v, 0, 0);
    EXPECT_GE(v.mask, 0x7FFFFFFFu);
    image->InputImage(image, &v, 1, 0);
    EXPECT_LT(v.mask, 0x7FFFFFFFu);
    image->InputImage(image, &v, 2, 0);
    EXPECT_EQ(v.mask, 0xFFFFFFFEu);
}

TEST_F(ImageTest, EdgeSafeAccessorsClampReadsAndIgnoreWritesOutside) {
    for (int32_t mode : kAllModes) {
        Image* image = Make(mode, kSmall, true, true);
        PixelValue left = {0x400000, 0x400000, 0x400000, 0xFFFFFFFE, 0xFFFFFFFE};
        image->OutputImage(image, &left, 0, 1);
        PixelValue v;
        image->InputImage(image, &v, -1, 1);
        EXPECT_NEAR(v.c0, 0x400000, 0x20000) << mode;
        EXPECT_EQ(v.alpha, 0u) << mode;
        EXPECT_EQ(v.mask, 0u) << mode;
        image->InputImage(image, &v, 0, 1);
        EXPECT_NE(v.alpha, 0u) << mode;

        std::vector<uint8_t> before(static_cast<const uint8_t*>(image->pixels.pointer),
                                    static_cast<const uint8_t*>(image->pixels.pointer) + image->pixels.size);
        PixelValue white = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFFFE, 0xFFFFFFFE};
        for (auto xy : {std::make_pair(-1, 0), std::make_pair(4, 0), std::make_pair(0, -1), std::make_pair(0, 3),
                        std::make_pair(100000, -100000)})
            image->OutputImage(image, &white, xy.first, xy.second);
        EXPECT_EQ(std::memcmp(before.data(), image->pixels.pointer, before.size()), 0) << mode;
    }
}

TEST_F(ImageTest, UnsupportedModesReadZerosAndWriteNothing) {
    CapturedReports reports;
    Image* image = Make(4, kSmall);
    EXPECT_TRUE(reports.Contains("InputImage mode not implemented."));
    auto* p = static_cast<uint8_t*>(image->pixels.pointer);
    std::memset(p, 0x55, image->pixels.size);
    PixelValue v = {1, 2, 3, 4, 5};
    image->InputImage(image, &v, 0, 0);
    EXPECT_EQ(v.c0 | v.c1 | v.c2 | v.alpha | v.mask, 0u);
    PixelValue white = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFFFE, 0xFFFFFFFE};
    image->OutputImage(image, &white, 0, 0);
    EXPECT_EQ(p[0], 0x55);
    EXPECT_TRUE(reports.Contains("OutputImage mode not implemented."));
    Image* odd = Make(99, kSmall);
    EXPECT_TRUE(reports.Contains("Invalid InputImage mode."));
    odd->InputImage(odd, &v, 0, 0);
    EXPECT_EQ(v.c0, 0u);
}

TEST_F(ImageTest, CreateImageReusesAndNeverShrinksItsBuffers) {
    Image* image = Make(IMAGE_MODE_RGB16, {0, 0, 100, 100}, true);
    void* pixels = image->pixels.pointer;
    uint64_t size = image->pixels.size;
    ASSERT_TRUE(CreateImage(image, {0, 0, 10, 10}, {0, 0, 10, 10}, IMAGE_MODE_RGB8, nullptr, false, false));
    EXPECT_EQ(image->pixels.pointer, pixels);
    EXPECT_EQ(image->pixels.size, size);
    EXPECT_EQ(image->mask.size, 0u);  // no mask asked: released
    ASSERT_TRUE(CreateImage(image, {0, 0, 200, 100}, {0, 0, 200, 100}, IMAGE_MODE_RGB16, nullptr, false, false));
    EXPECT_EQ(image->pixels.size, static_cast<uint64_t>(101 * 200 * 8));
}

TEST_F(ImageTest, CreateImageFailureTellsTheUserAndSetsTheRunResult) {
    CapturedReports reports;
    Image* image = Make(IMAGE_MODE_GRAY8, kSmall);
    SetBufferAllocationLimitForTesting(1 << 20);
    EXPECT_FALSE(CreateImage(image, {0, 0, 2000, 2000}, {0, 0, 2000, 2000}, IMAGE_MODE_RGB16, nullptr, false, false));
    EXPECT_EQ(GetGlobalErrorCode(), -108);
    EXPECT_TRUE(reports.Contains("User Message: 'Error - Exiting Plug-in' - 'Could not allocate memory for an image.'"));
    EXPECT_TRUE(reports.Contains("ReallocateBuffer() Allocation Failed: Requested = 32016000"));
    EXPECT_EQ(image->pixels.size, 0u);
    EXPECT_EQ(image->pixels.pointer, nullptr);
}

TEST_F(ImageTest, ResamplingToAHalfAveragesTwoByTwoBlocks) {
    Image* source = Make(IMAGE_MODE_LINEAR32, {0, 0, 4, 4}, true);
    for (int32_t y = 0; y < 4; y++)
        for (int32_t x = 0; x < 4; x++) {
            PixelValue v = {static_cast<uint32_t>(x * 100 + y * 10), 0xFFFFFF, 0, 0xFFFFFFFE,
                            (x + y) % 2 ? 0xFFFFFFFEu : 0u};
            source->OutputImage(source, &v, x, y);
        }
    Image* half = Make(IMAGE_MODE_LINEAR32, {0, 0, 2, 2}, true);
    ASSERT_TRUE(ResampleImage(source, half, nullptr));
    PixelValue v;
    half->InputImage(half, &v, 1, 1);
    // Block x 2..3, y 2..3: mean of 220, 230, 320, 330.
    EXPECT_EQ(v.c0, 275u);
    EXPECT_EQ(v.c1, 0xFFFFFFu);
    EXPECT_EQ(v.alpha, 4 * (0xFFFFFFFEu >> 2));
    // Half selected, stored in a mask byte: 127 or 128.
    EXPECT_NEAR(static_cast<double>(v.mask), 0x7FFFFFFF, 4294967294.0 / 255);
}

TEST_F(ImageTest, ResamplingToAQuarterAveragesFourByFourBlocks) {
    Image* source = Make(IMAGE_MODE_LINEAR32, {0, 0, 8, 8});
    for (int32_t y = 0; y < 8; y++)
        for (int32_t x = 0; x < 8; x++) {
            PixelValue v = {static_cast<uint32_t>(1000 * (x / 4) + x + y), 0, 0, 0xFFFFFFFE, PIXEL_KEEP};
            source->OutputImage(source, &v, x, y);
        }
    Image* quarter = Make(IMAGE_MODE_LINEAR32, {0, 0, 2, 2});
    ASSERT_TRUE(ResampleImage(source, quarter, nullptr));
    PixelValue v;
    quarter->InputImage(quarter, &v, 1, 0);
    // x 4..7, y 0..3: 1000 + mean(x + y) = 1000 + 5.5 + 1.5 = 1007 (integer division).
    EXPECT_EQ(v.c0, 1007u);
    EXPECT_EQ(v.alpha, ((0xFFFFFFFEu >> 8) * 16 / 16) << 8);
}

TEST_F(ImageTest, ResamplingLargeReductionsUseWideSums) {
    Image* source = Make(IMAGE_MODE_LINEAR32, {0, 0, 40, 40});
    PixelValue bright = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFFFE, PIXEL_KEEP};
    FillImageRect(source, bright, source->imageRect);
    Image* tiny = Make(IMAGE_MODE_LINEAR32, {0, 0, 2, 2});  // 20 x 20 blocks: 400 pixels
    ASSERT_TRUE(ResampleImage(source, tiny, nullptr));
    PixelValue v;
    tiny->InputImage(tiny, &v, 0, 1);
    EXPECT_EQ(v.c0, 0xFFFFFFu);
    EXPECT_EQ(v.alpha, 0xFFFFFFFEu);
}

TEST_F(ImageTest, ResamplingStopsWhenAskedAndCopiesSameRectangles) {
    Image* source = Make(IMAGE_MODE_RGB16, {0, 0, 8, 8}, true);
    Image* other = Make(IMAGE_MODE_RGB16, {0, 0, 4, 4});
    uint8_t stop = 1;
    EXPECT_FALSE(ResampleImage(source, other, &stop));
    auto* s = static_cast<uint16_t*>(source->pixels.pointer);
    for (size_t i = 0; i < source->pixels.size / 2; i++) s[i] = static_cast<uint16_t>(i * 7);
    std::memset(source->mask.pointer, 9, source->mask.size);
    Image* copy = Make(IMAGE_MODE_RGB16, {0, 0, 8, 8}, true);
    stop = 0;
    ASSERT_TRUE(ResampleImage(source, copy, &stop));
    EXPECT_EQ(std::memcmp(copy->pixels.pointer, source->pixels.pointer, 8 * 8 * 8), 0);
    EXPECT_EQ(static_cast<uint8_t*>(copy->mask.pointer)[63], 9);
    Image* unmasked = Make(IMAGE_MODE_RGB16, {0, 0, 8, 8});
    ASSERT_TRUE(ResampleImage(unmasked, copy, nullptr));
    EXPECT_EQ(static_cast<uint8_t*>(copy->mask.pointer)[10], 255);  // no source mask: all selected
}

TEST_F(ImageTest, LinearizationMapsThroughTheInverseOfGamma) {
    Image* image = Make(IMAGE_MODE_RGB8, kSmall, false, false, 2.2);
    uint8_t* p = PixelAddress(image, 0, 0);
    p[0] = 128;
    p[1] = 255;
    p[2] = 10;
    p[3] = 77;
    LinearizeImage(image);
    EXPECT_EQ(p[0], Round(std::pow(128 * 256 / 65535.0, 2.2) * 255.0));
    EXPECT_EQ(p[1], Round(std::pow(255 * 256 / 65535.0, 2.2) * 255.0));  // the table index is b × 256
    EXPECT_EQ(p[2], Round(std::pow(10 * 256 / 65535.0, 2.2) * 255.0));
    EXPECT_EQ(p[3], 77);  // alpha stays
    EXPECT_EQ(image->gamma, 1.0);

    CapturedReports reports;
    Image* floats = Make(IMAGE_MODE_RGB_FLOAT, kSmall, false, false, 2.2);
    reinterpret_cast<float*>(floats->pixels.pointer)[0] = 0.5f;
    LinearizeImage(floats);
    EXPECT_TRUE(reports.Contains("Pixel type 0x1406 is not recognized in function LinearizeImage."));
    EXPECT_EQ(floats->gamma, 1.0);
    EXPECT_EQ(reinterpret_cast<float*>(floats->pixels.pointer)[0], 0.5f);
}

TEST_F(ImageTest, AlphaCopiesConvertBetweenDepths) {
    Image* a8 = Make(IMAGE_MODE_RGB8, kSmall);
    Image* a16 = Make(IMAGE_MODE_RGB16, kSmall);
    Image* af = Make(IMAGE_MODE_RGB_FLOAT, kSmall);
    PixelAddress(a8, 1, 1)[3] = 255;
    PixelAddress(a8, 2, 1)[3] = 128;
    ASSERT_TRUE(CopyImageAlpha(a8, a16, kSmall, kSmall));
    EXPECT_EQ(reinterpret_cast<uint16_t*>(PixelAddress(a16, 1, 1))[3], 65535);
    EXPECT_EQ(reinterpret_cast<uint16_t*>(PixelAddress(a16, 2, 1))[3], Round(128 / 255.0 * 4294967294.0) >> 16);
    ASSERT_TRUE(CopyImageAlpha(a16, af, kSmall, kSmall));
    EXPECT_NEAR(reinterpret_cast<float*>(PixelAddress(af, 1, 1))[3], 1.0f, 1e-6);
    // Shifted copy: only the overlap of the moved rectangle is written.
    ASSERT_TRUE(CopyImageAlpha(a8, a16, {1, 1, 4, 3}, {0, 0, 3, 2}));
    EXPECT_EQ(reinterpret_cast<uint16_t*>(PixelAddress(a16, 0, 0))[3], 65535);
}

TEST_F(ImageTest, OverlappingAlphaCopiesInsideOneImageReadBeforeWriting) {
    const ImageRect row = {0, 0, 8, 2};
    for (int direction : {+1, -1}) {
        Image* image = Make(IMAGE_MODE_GRAY8, row);
        for (int32_t x = 0; x < 8; x++) PixelAddress(image, x, 0)[3] = static_cast<uint8_t>(10 * (x + 1));
        ImageRect from = direction > 0 ? ImageRect{0, 0, 6, 1} : ImageRect{2, 0, 8, 1};
        ImageRect to = direction > 0 ? ImageRect{2, 0, 8, 1} : ImageRect{0, 0, 6, 1};
        ASSERT_TRUE(CopyImageAlpha(image, image, from, to));
        for (int32_t k = 0; k < 6; k++) {
            int32_t x = to.left + k;
            EXPECT_EQ(PixelAddress(image, x, 0)[3], 10 * (from.left + k + 1)) << direction << " " << x;
        }
    }
    // Down by one row: the destination lies below the source.
    Image* image = Make(IMAGE_MODE_GRAY8, {0, 0, 2, 4}, true);
    for (int32_t y = 0; y < 4; y++) *MaskAddress(image, 0, y) = static_cast<uint8_t>(y + 1);
    ASSERT_TRUE(CopyImageMask(image, image, {0, 0, 2, 3}, {0, 1, 2, 4}));
    EXPECT_EQ(*MaskAddress(image, 0, 1), 1);
    EXPECT_EQ(*MaskAddress(image, 0, 2), 2);
    EXPECT_EQ(*MaskAddress(image, 0, 3), 3);
}

TEST_F(ImageTest, MaskCopyWithoutASourceMaskSelectsTheArea) {
    Image* unmasked = Make(IMAGE_MODE_GRAY8, kSmall);
    Image* masked = Make(IMAGE_MODE_GRAY8, kSmall, true);
    ASSERT_TRUE(CopyImageMask(unmasked, masked, {0, 0, 2, 2}, {1, 1, 3, 3}));
    EXPECT_EQ(*MaskAddress(masked, 1, 1), 255);
    EXPECT_EQ(*MaskAddress(masked, 2, 2), 255);
    EXPECT_EQ(*MaskAddress(masked, 0, 0), 0);
    EXPECT_EQ(*MaskAddress(masked, 3, 2), 0);
}

TEST_F(ImageTest, FillWritesOnlyDefinedComponentsInsideTheImage) {
    Image* image = Make(IMAGE_MODE_LINEAR32, kSmall);
    ASSERT_TRUE(FillImageRect(image, {1, 2, 3, 4, 5}, kSmall));
    ASSERT_TRUE(FillImageRect(image, {PIXEL_KEEP, 9, PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP}, {2, 1, 10, 10}));
    PixelValue v;
    image->InputImage(image, &v, 3, 2);
    EXPECT_EQ(v.c0, 1u);
    EXPECT_EQ(v.c1, 9u);
    EXPECT_EQ(v.alpha, 4u);
    image->InputImage(image, &v, 1, 2);
    EXPECT_EQ(v.c1, 2u);
}

TEST_F(ImageTest, ColorManagementFormatWords) {
    EXPECT_EQ(GetImageColorTransform(Make(IMAGE_MODE_GRAY8, kSmall)), 0x30189u);
    EXPECT_EQ(GetImageColorTransform(Make(IMAGE_MODE_RGB8, kSmall)), static_cast<uint32_t>(TYPE_BGRA_8));
    EXPECT_EQ(GetImageColorTransform(Make(IMAGE_MODE_GRAY16, kSmall)), 0x3018Au);
    EXPECT_EQ(GetImageColorTransform(Make(IMAGE_MODE_RGB16, kSmall)), static_cast<uint32_t>(TYPE_RGBA_16));
    EXPECT_EQ(GetImageColorTransform(Make(IMAGE_MODE_RGB_FLOAT, kSmall)), static_cast<uint32_t>(TYPE_RGBA_FLT));
    EXPECT_EQ(GetImageColorTransform(Make(IMAGE_MODE_GRAY_FLOAT, kSmall)), 0x43018Cu);
    CapturedReports reports;
    EXPECT_EQ(GetImageColorTransform(Make(IMAGE_MODE_LINEAR32, kSmall)), 0u);
    EXPECT_TRUE(reports.Contains("Error:  Unrecognized image mode 64 in GetImageColorTransform()."));
}

// ---- gamma tables ----

TEST_F(ImageTest, GammaOneTablesAreExact) {
    GammaTables t;
    ASSERT_TRUE(GetGammaTables(1.0, &t));
    for (int i = 0; i < 256; i++) ASSERT_EQ(t.forward8[i], static_cast<uint32_t>(i) * 65793u) << i;
    for (int i = 0; i < 65536; i += 257) ASSERT_EQ(t.forward16[i], static_cast<uint32_t>(i) * 256u + i / 256) << i;
    for (int i = 0; i < 65536; i++) {
        ASSERT_EQ(t.inverse16[i], i) << i;
        ASSERT_EQ(t.inverse8[i], Round(i / 65535.0 * 255.0)) << i;
    }
    EXPECT_EQ(t.forward16[65535], 0xFFFFFFu);
}

TEST_F(ImageTest, GammaTablesFollowThePowerLaw) {
    GammaTables t;
    ASSERT_TRUE(GetGammaTables(2.2, &t));
    for (int i : {1, 17, 128, 200, 254}) EXPECT_EQ(t.forward8[i], Round(std::pow(i / 255.0, 2.2) * 16777215.0)) << i;
    EXPECT_EQ(t.forward8[255], 0xFFFFFFu);
    for (int i : {1, 1000, 32768, 65534})
        EXPECT_EQ(t.forward16[i], Round(std::pow(i / 65535.0, 2.2) * 16777215.0)) << i;
    for (int i : {0, 1, 300, 40000, 65535}) {
        EXPECT_EQ(t.inverse8[i], Round(std::pow(i / 65535.0, 1 / 2.2) * 255.0)) << i;
        EXPECT_EQ(t.inverse16[i], Round(std::pow(i / 65535.0, 1 / 2.2) * 65535.0)) << i;
    }
}

TEST_F(ImageTest, FixedAlphaTables) {
    EXPECT_EQ(AlphaTable8()[0], 0u);
    EXPECT_EQ(AlphaTable8()[255], 0xFFFFFFFEu);
    EXPECT_EQ(AlphaTable8()[1], Round(4294967294.0 / 255));
    EXPECT_EQ(AlphaTable16()[65535], 0xFFFFFFFEu);
    EXPECT_EQ(AlphaTable16()[1], Round(4294967294.0 / 65535));
    EXPECT_EQ(AlphaInverseTable8()[65535], 255);
    EXPECT_EQ(AlphaInverseTable8()[32896], Round(32896 / 65535.0 * 255));
    EXPECT_EQ(AlphaInverseTable16()[12345], 12345);
}

TEST_F(ImageTest, TheThirtyThirdGammaGetsTheNearestSet) {
    GammaTables t;
    for (int i = 0; i < 32; i++) ASSERT_TRUE(GetGammaTables(1.0 + i * 0.1, &t));
    EXPECT_EQ(GetGammaTableSetCount(), 32);
    GammaTables near, expected;
    ASSERT_TRUE(GetGammaTables(1.52, &near));
    EXPECT_EQ(GetGammaTableSetCount(), 32);
    ASSERT_TRUE(GetGammaTables(1.5, &expected));
    EXPECT_EQ(near.forward8, expected.forward8);
    ASSERT_TRUE(GetGammaTables(1.5, &t));  // the same gamma gives the same set
    EXPECT_EQ(t.inverse16, expected.inverse16);
}

TEST_F(ImageTest, GammaSetsThatCannotBeAllocatedFallBackOrFail) {
    GammaTables t;
    SetGammaTableAllocationFailureForTesting(true);
    CapturedReports reports;
    EXPECT_FALSE(GetGammaTables(1.8, &t));  // nothing to fall back on
    EXPECT_EQ(t.forward8, nullptr);
    EXPECT_EQ(GetGammaTableSetCount(), 0);
    // An 8-bit image without tables is refused like an image without memory
    // (it would read as black and take no writes); its accessors never touch
    // the missing tables.
    images.emplace_back();
    Image* image = &images.back();
    ForceGlobalErrorCode(0);
    EXPECT_FALSE(CreateImage(image, kSmall, kSmall, IMAGE_MODE_RGB8, nullptr, false, false));
    EXPECT_EQ(GetGlobalErrorCode(), -108);
    ForceGlobalErrorCode(0);
    PixelValue v = {1, 1, 1, 1, 1};
    image->InputImage(image, &v, 0, 0);
    EXPECT_EQ(v.c0, 0u);
    SetGammaTableAllocationFailureForTesting(false);
    ASSERT_TRUE(GetGammaTables(2.0, &t));
    SetGammaTableAllocationFailureForTesting(true);
    GammaTables fallback;
    ASSERT_TRUE(GetGammaTables(1.8, &fallback));
    EXPECT_EQ(fallback.forward16, t.forward16);
    EXPECT_EQ(GetGammaTableSetCount(), 1);
}

// ---- tracked buffers ----

TEST(TrackedBuffers, CountersFollowAllocationsAndFailuresLeaveTheRightState) {
    ASSERT_EQ(InitializeBufferUsage(), 0);
    uint64_t base = GetCurrentBufferUsage();
    TrackedBuffer a, b;
    ASSERT_EQ(ReallocateBuffer(1000, &a), 0);
    ASSERT_EQ(ReallocateBuffer(500, &b), 0);
    EXPECT_EQ(GetCurrentBufferUsage(), base + 1500);
    EXPECT_GE(GetPeakBufferUsage(), base + 1500);
    ASSERT_EQ(ReallocateBuffer(200, &a), 0);  // smaller: reallocated, not kept
    EXPECT_EQ(a.size, 200u);
    EXPECT_EQ(GetCurrentBufferUsage(), base + 700);

    std::memset(b.pointer, 7, 500);
    ASSERT_EQ(ReallocateBufferPreserveContents(800, &b), 0);
    EXPECT_EQ(static_cast<uint8_t*>(b.pointer)[499], 7);
    EXPECT_EQ(GetCurrentBufferUsage(), base + 1000);

    CapturedReports reports;
    SetBufferAllocationLimitForTesting(4096);
    void* kept = b.pointer;
    EXPECT_EQ(ReallocateBufferPreserveContents(8192, &b), -108);
    EXPECT_EQ(b.pointer, kept);  // the old block stays
    EXPECT_EQ(b.size, 800u);
    EXPECT_EQ(ReallocateBuffer(8192, &a), -108);
    EXPECT_EQ(a.pointer, nullptr);  // emptied
    EXPECT_EQ(a.size, 0u);
    EXPECT_EQ(GetCurrentBufferUsage(), base + 800);
    SetBufferAllocationLimitForTesting(0);
    EXPECT_TRUE(reports.Contains("ReallocateBufferPreserveContents() Allocation Failed: Requested = 8192, Previous "
                                 "Size = 800"));
    EXPECT_TRUE(reports.Contains("ReallocateBuffer() Allocation Failed: Requested = 8192, Previous Size = 200"));

    DeallocateBuffer(&b);
    DeallocateBuffer(&a);  // empty: nothing changes
    EXPECT_EQ(GetCurrentBufferUsage(), base);
    DeallocateBuffer(nullptr);
    EXPECT_TRUE(reports.Contains("'Debug:  Unexepected error.' - 'NULL buffer descriptor pointer received in "
                                 "DeallocateBuffer()'"));
    ReportBufferUsage();
    EXPECT_TRUE(reports.Contains("Trace Message: ReportBufferUsage(): Current Usage = "));
}
