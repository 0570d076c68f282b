// The command-line tool's files and its engine run: every format, depth,
// grey/RGB and alpha comes back bit-identical when nothing is drawn, with its
// profile and header; damaged and lying files are refused; FITS rows count
// from the bottom; the tool's picture equals the plug-in's; a linear image
// gets its effects in its own colour space.

#include <gtest/gtest.h>

#include <fitsio.h>
#include <lcms2.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "params/filter_parameters.h"
#include "support/run_result.h"
#include "tests/test_support.h"
#include "tools/raylume/filter_raster.h"
#include "tools/raylume/raster.h"
#include "tools/starfield/starfield.h"
#include "tests/raster_test_support.h"

namespace {

std::string Scratch(const std::string& name) { return TestScratchFolder() + "/" + name; }

FilterParameters NoEffects() {
    FilterParameters p = FACTORY_PARAMETERS;
    p.slot[SLOT_INTENSITY] = p.slot[SLOT_SECONDARY_SPIKE_INTENSITY] = 0;
    p.slot[SLOT_SOFT_FLARE_INTENSITY] = p.slot[SLOT_RING_FLARE_INTENSITY] = 0;
    return p;
}

// A profile with sRGB primaries (or grey) and a pure power curve.
std::vector<uint8_t> PowerProfileBytes(bool grey, double gamma) {
    cmsToneCurve* linear = cmsBuildGamma(nullptr, gamma);
    cmsHPROFILE profile;
    if (grey) {
        profile = cmsCreateGrayProfile(cmsD50_xyY(), linear);
    } else {
        cmsCIExyY white;
        cmsWhitePointFromTemp(&white, 6504);
        cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
        cmsToneCurve* curves[3] = {linear, linear, linear};
        profile = cmsCreateRGBProfile(&white, &primaries, curves);
    }
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(linear);
    return bytes;
}

std::vector<uint8_t> LinearProfileBytes(bool grey) { return PowerProfileBytes(grey, 1.0); }

bool SameSamples(const Raster& a, const Raster& b) {
    return a.width == b.width && a.height == b.height && a.colours == b.colours && a.alpha == b.alpha &&
           a.depth == b.depth && a.samples == b.samples;
}

struct Shape {
    RasterFileFormat format;
    int32_t depth, colours;
    bool alpha;
};

std::vector<Shape> EveryShape() {
    std::vector<Shape> shapes;
    for (RasterFileFormat f : {RASTER_FORMAT_TIFF, RASTER_FORMAT_PNG, RASTER_FORMAT_FITS, RASTER_FORMAT_PNM,
                               RASTER_FORMAT_PFM})
        for (int32_t depth : {8, 16, 32})
            for (int32_t colours : {1, 3})
                for (bool alpha : {false, true}) {
                    if (!FormatHoldsDepth(f, depth)) continue;
                    if (alpha && f != RASTER_FORMAT_TIFF && f != RASTER_FORMAT_PNG) continue;
                    shapes.push_back({f, depth, colours, alpha});
                }
    return shapes;
}

std::string NameOf(const Shape& s) {
    return std::string(FormatName(s.format)) + " " + std::to_string(s.depth) + "-bit " +
           (s.colours == 1 ? "grey" : "RGB") + (s.alpha ? " with alpha" : "");
}

const char* Extension(RasterFileFormat f) {
    switch (f) {
        case RASTER_FORMAT_TIFF: return ".tif";
        case RASTER_FORMAT_PNG: return ".png";
        case RASTER_FORMAT_FITS: return ".fits";
        case RASTER_FORMAT_PFM: return ".pfm";
        default: return ".pnm";
    }
}

class RasterFiles : public ::testing::Test {
protected:
    void TearDown() override { ForceGlobalErrorCode(0); }
};

TEST_F(RasterFiles, EveryFormatDepthAndLayoutComesBackBitIdenticalWhenNothingIsDrawn) {
    int index = 0;
    for (const Shape& shape : EveryShape()) {
        Raster written = Field(61, 47, shape.colours, shape.alpha, shape.depth, 100 + index);
        written.format = shape.format;
        if (shape.format == RASTER_FORMAT_TIFF || shape.format == RASTER_FORMAT_PNG)
            written.icc = LinearProfileBytes(shape.colours == 1);
        const std::string in = Scratch("in" + std::to_string(index) + Extension(shape.format));
        const std::string out = Scratch("out" + std::to_string(index++) + Extension(shape.format));
        std::string error;
        ASSERT_TRUE(WriteRaster(in, written, shape.format, &error)) << NameOf(shape) << ": " << error;
        Raster read;
        RasterFailure failure;
        ASSERT_TRUE(ReadRaster(in, &read, &failure, &error)) << NameOf(shape) << ": " << error;
        EXPECT_TRUE(SameSamples(written, read)) << NameOf(shape);
        EXPECT_EQ(written.icc, read.icc) << NameOf(shape);

        Raster filtered = read;
        ForceGlobalErrorCode(0);
        FilterOutcome outcome = FilterRaster(&filtered, NoEffects(), nullptr);
        ASSERT_EQ(outcome.result, 0) << NameOf(shape);
        EXPECT_TRUE(SameSamples(read, filtered)) << NameOf(shape) << ": a run that draws nothing changed pixels";
        if (shape.depth == 32) {
            EXPECT_GE(outcome.nonFinite, 2u) << NameOf(shape);
        }
        ASSERT_TRUE(WriteRaster(out, filtered, shape.format, &error)) << NameOf(shape) << ": " << error;
        EXPECT_EQ(ReadWholeFile(in), ReadWholeFile(out)) << NameOf(shape) << ": the file changed";
    }
}

// TIFF in tiles and with each compression, with its text tags; FITS with
// BZERO/BSCALE scaling and its header cards; each filtered with nothing
// drawn gives back its exact data.
TEST_F(RasterFiles, TiledTiffsAndScaledFitsKeepTheirDataAndDescriptions) {
    for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE}) {
        const std::string path = Scratch("tiled" + std::to_string(compression) + ".tif");
        Raster field = Field(100, 70, 3, false, 16, compression);
        TIFF* t = TIFFOpen(path.c_str(), "w");
        ASSERT_TRUE(t);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 100);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 70);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 32);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 32);
        TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "M45 from the back garden");
        std::vector<uint8_t> tile(32 * 32 * 6);
        for (uint32_t ty = 0; ty < 70; ty += 32)
            for (uint32_t tx = 0; tx < 100; tx += 32) {
                std::fill(tile.begin(), tile.end(), 0);
                for (uint32_t r = 0; r < 32 && ty + r < 70; r++)
                    std::memcpy(tile.data() + r * 32 * 6, field.Row(static_cast<int32_t>(ty + r)) + tx * 6,
                                std::min<uint32_t>(32, 100 - tx) * 6);
                ASSERT_GE(TIFFWriteEncodedTile(t, TIFFComputeTile(t, tx, ty, 0, 0), tile.data(), tile.size()), 0);
            }
        TIFFClose(t);
        Raster read;
        RasterFailure failure;
        std::string error;
        ASSERT_TRUE(ReadRaster(path, &read, &failure, &error)) << error;
        EXPECT_EQ(read.samples, field.samples) << "compression " << compression;
        ASSERT_TRUE(WriteRaster(Scratch("strips.tif"), read, RASTER_FORMAT_TIFF, &error)) << error;
        Raster again;
        ASSERT_TRUE(ReadRaster(Scratch("strips.tif"), &again, &failure, &error)) << error;
        EXPECT_EQ(again.samples, field.samples);
        EXPECT_EQ(again.tiff.compression, compression);
        ASSERT_EQ(again.tiff.texts.size(), 1u);
        EXPECT_EQ(again.tiff.texts[0].second, "M45 from the back garden");
    }

    struct FitsCase {
        int bitpix;
        double bzero, bscale;
    } cases[] = {{LONG_IMG, 0, 1}, {DOUBLE_IMG, 0, 1}, {FLOAT_IMG, 0, 1}, {SHORT_IMG, 0, 1}, {SHORT_IMG, 100, 2.5}};
    for (const FitsCase& c : cases) {
        const std::string path = Scratch("scaled" + std::to_string(c.bitpix) + ".fits");
        std::remove(path.c_str());
        fitsfile* f = nullptr;
        int status = 0;
        long naxes[2] = {90, 60};
        fits_create_diskfile(&f, path.c_str(), &status);
        fits_create_img(f, c.bitpix, 2, naxes, &status);
        fits_write_key_str(f, "OBSERVER", "Test Observer", "who took it", &status);
        if (c.bzero != 0 || c.bscale != 1) {
            fits_write_key_dbl(f, "BZERO", c.bzero, -15, nullptr, &status);
            fits_write_key_dbl(f, "BSCALE", c.bscale, -15, nullptr, &status);
            fits_set_bscale(f, 1.0, 0.0, &status);
        }
        std::vector<double> raw(90 * 60);
        std::mt19937 random(c.bitpix + 77);
        for (size_t i = 0; i < raw.size(); i++) {
            raw[i] = static_cast<double>(random() % 3000) - 200;  // some negative
            if (c.bitpix < 0) raw[i] += 0.123456789;
        }
        raw[90 * 30 + 45] = 20000;  // one bright star
        long first[2] = {1, 1};
        fits_write_pix(f, TDOUBLE, first, static_cast<LONGLONG>(raw.size()), raw.data(), &status);
        fits_close_file(f, &status);
        ASSERT_EQ(status, 0);

        Raster read;
        RasterFailure failure;
        std::string error;
        ASSERT_TRUE(ReadRaster(path, &read, &failure, &error)) << error;
        ForceGlobalErrorCode(0);
        ASSERT_EQ(FilterRaster(&read, NoEffects(), nullptr).result, 0);
        const std::string out = Scratch("scaled-out.fits");
        ASSERT_TRUE(WriteRaster(out, read, RASTER_FORMAT_FITS, &error)) << error;
        fitsfile* g = nullptr;
        fits_open_diskfile(&g, out.c_str(), READONLY, &status);
        int bitpix = 0;
        fits_get_img_type(g, &bitpix, &status);
        EXPECT_EQ(bitpix, c.bitpix);
        char observer[FLEN_VALUE] = {};
        fits_read_key_str(g, "OBSERVER", observer, nullptr, &status);
        EXPECT_STREQ(observer, "Test Observer");
        fits_set_bscale(g, 1.0, 0.0, &status);
        std::vector<double> back(raw.size());
        fits_read_pix(g, TDOUBLE, first, static_cast<LONGLONG>(back.size()), nullptr, back.data(), nullptr, &status);
        fits_close_file(g, &status);
        ASSERT_EQ(status, 0);
        for (size_t i = 0; i < raw.size(); i++) {
            const double expected = c.bitpix == FLOAT_IMG ? static_cast<float>(raw[i]) : raw[i];
            ASSERT_EQ(back[i], expected) << "BITPIX " << c.bitpix << " sample " << i;
        }
    }
}

TEST_F(RasterFiles, DamagedAndLyingFilesAreRefusedWithAReason) {
    std::string error;
    Raster r = Field(80, 60, 3, false, 16, 5);
    for (RasterFileFormat f : {RASTER_FORMAT_TIFF, RASTER_FORMAT_PNG, RASTER_FORMAT_FITS, RASTER_FORMAT_PNM}) {
        r.format = f;
        const std::string path = Scratch(std::string("whole") + Extension(f));
        ASSERT_TRUE(WriteRaster(path, r, f, &error)) << error;
        std::vector<uint8_t> bytes = ReadWholeFile(path);
        for (size_t keep : {bytes.size() / 2, bytes.size() - 7, static_cast<size_t>(20), static_cast<size_t>(3)}) {
            const std::string cut = Scratch(std::string("cut") + Extension(f));
            ASSERT_TRUE(WriteWholeFile(cut, std::string(bytes.begin(), bytes.begin() + keep)));
            Raster read;
            RasterFailure failure = RASTER_OK;
            error.clear();
            EXPECT_FALSE(ReadRaster(cut, &read, &failure, &error)) << FormatName(f) << " cut to " << keep;
            EXPECT_FALSE(error.empty());
            EXPECT_NE(failure, RASTER_OK);
        }
    }
    struct Lie {
        const char* name;
        std::string bytes;
        RasterFailure kind;
    } lies[] = {
        {"huge.ppm", "P6\n1000000 1000000\n255\nabc", RASTER_UNREADABLE},
        {"overflow.ppm", "P6\n99999999999 2\n255\n", RASTER_UNREADABLE},
        {"ascii.ppm", "P3\n2 2\n255\n0 0 0 0 0 0 0 0 0 0 0 0\n", RASTER_UNSUPPORTED},
        {"text.tif", "this is not an image at all", RASTER_UNSUPPORTED},
        {"empty.fits", "", RASTER_UNREADABLE},
    };
    for (const Lie& lie : lies) {
        ASSERT_TRUE(WriteWholeFile(Scratch(lie.name), lie.bytes));
        Raster read;
        RasterFailure failure = RASTER_OK;
        EXPECT_FALSE(ReadRaster(Scratch(lie.name), &read, &failure, &error)) << lie.name;
        EXPECT_NE(failure, RASTER_OK) << lie.name;
    }
    // Kinds the tool does not take: one sentence, and the unsupported kind.
    const std::string cube = Scratch("cube.fits");
    std::remove(cube.c_str());
    fitsfile* f = nullptr;
    int status = 0;
    long naxes[4] = {8, 8, 2, 2};
    fits_create_diskfile(&f, cube.c_str(), &status);
    fits_create_img(f, SHORT_IMG, 4, naxes, &status);
    fits_close_file(f, &status);
    Raster read;
    RasterFailure failure = RASTER_OK;
    EXPECT_FALSE(ReadRaster(cube, &read, &failure, &error));
    EXPECT_EQ(failure, RASTER_UNSUPPORTED);
    EXPECT_NE(error.find("4 axes"), std::string::npos) << error;
    TIFF* t = TIFFOpen(Scratch("cmyk.tif").c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 4);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    uint8_t row[16] = {};
    for (uint32_t y = 0; y < 4; y++) TIFFWriteScanline(t, row, y, 0);
    TIFFClose(t);
    EXPECT_FALSE(ReadRaster(Scratch("cmyk.tif"), &read, &failure, &error));
    EXPECT_EQ(failure, RASTER_UNSUPPORTED);
    EXPECT_NE(error.find("CMYK"), std::string::npos) << error;
}

// A star at a known FITS pixel is listed there: FITS row 1 is the bottom row.
TEST_F(RasterFiles, FitsRowsCountFromTheBottom) {
    const std::string path = Scratch("star.fits");
    std::remove(path.c_str());
    const long width = 120, height = 90, starX = 40, starY = 20;  // 1-based FITS pixel
    std::vector<float> data(width * height, 0.02f);
    for (long y = 1; y <= height; y++)
        for (long x = 1; x <= width; x++) {
            double d2 = (x - starX) * (x - starX) + (y - starY) * (y - starY);
            data[(y - 1) * width + (x - 1)] += static_cast<float>(0.9 * std::exp(-d2 / (2 * 1.6 * 1.6)));
        }
    fitsfile* f = nullptr;
    int status = 0;
    long naxes[2] = {width, height};
    fits_create_diskfile(&f, path.c_str(), &status);
    fits_create_img(f, FLOAT_IMG, 2, naxes, &status);
    long first[2] = {1, 1};
    fits_write_pix(f, TFLOAT, first, width * height, data.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    Raster read;
    RasterFailure failure;
    std::string error;
    ASSERT_TRUE(ReadRaster(path, &read, &failure, &error)) << error;
    ForceGlobalErrorCode(0);
    FilterOutcome outcome = FilterRaster(&read, FACTORY_PARAMETERS, nullptr);
    ASSERT_EQ(outcome.result, 0);
    ASSERT_GE(outcome.catalogue.size(), 1u);
    const LightSource& s = outcome.catalogue[0].source;
    const double x = s.x + s.xQuarter / 4.0, y = s.y + s.yQuarter / 4.0;
    EXPECT_NEAR(x + 1, starX, 0.5);
    EXPECT_NEAR(height - y, starY, 0.5);  // FITS y of the raster's top-origin row
}

// A 16-bit image in linear light, with its linear profile, gets the same
// effects as the same image encoded with gamma 2.2 (the engine's own model of
// an encoded image, so that only the colour space differs).
TEST_F(RasterFiles, ALinearImageGetsItsEffectsInItsOwnColourSpace) {
    Raster srgb = Field(160, 110, 3, false, 16, 9);
    srgb.icc = PowerProfileBytes(false, 2.2);
    Raster linear = srgb;
    linear.icc = LinearProfileBytes(false);
    cmsHPROFILE linearProfile = cmsOpenProfileFromMem(linear.icc.data(), static_cast<cmsUInt32Number>(linear.icc.size()));
    cmsHPROFILE standard = cmsOpenProfileFromMem(srgb.icc.data(), static_cast<cmsUInt32Number>(srgb.icc.size()));
    cmsHTRANSFORM toLinear = cmsCreateTransform(standard, TYPE_RGB_16, linearProfile, TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHTRANSFORM toStandard = cmsCreateTransform(linearProfile, TYPE_RGB_16, standard, TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    ASSERT_TRUE(toLinear && toStandard);
    cmsDoTransform(toLinear, srgb.samples.data(), linear.samples.data(), 160 * 110);
    ForceGlobalErrorCode(0);
    auto o1 = FilterRaster(&srgb, FACTORY_PARAMETERS, nullptr);
    ASSERT_EQ(o1.result, 0);
    ForceGlobalErrorCode(0);
    auto o2 = FilterRaster(&linear, FACTORY_PARAMETERS, nullptr);
    ASSERT_EQ(o2.result, 0);
    std::vector<uint8_t> back(linear.samples.size());
    cmsDoTransform(toStandard, linear.samples.data(), back.data(), 160 * 110);
    cmsDeleteTransform(toLinear);
    cmsDeleteTransform(toStandard);
    cmsCloseProfile(linearProfile);
    cmsCloseProfile(standard);
    const auto* a = reinterpret_cast<const uint16_t*>(srgb.samples.data());
    const auto* b = reinterpret_cast<const uint16_t*>(back.data());
    double worst = 0, sum = 0;
    const size_t n = srgb.samples.size() / 2;
    for (size_t i = 0; i < n; i++) {
        double d = std::fabs(static_cast<double>(a[i]) - b[i]);
        worst = std::max(worst, d);
        sum += d;
    }
    // Shadows lose a little in the 16-bit linear storage (a mean of about 16
    // units, at most about 140); read as if it were sRGB, the linear image
    // would be off by about 11000.
    EXPECT_LT(sum / n, 40.0);
    EXPECT_LT(worst, 400.0);
}

}  // namespace

namespace {

// The bytes of HDU `n` (1-based) of a FITS file, header and data.
std::vector<uint8_t> HduBytes(const std::string& path, int n) {
    fitsfile* f = nullptr;
    int status = 0, type = 0;
    LONGLONG start = 0, data = 0, end = 0;
    fits_open_diskfile(&f, path.c_str(), READONLY, &status);
    fits_movabs_hdu(f, n, &type, &status);
    fits_get_hduaddrll(f, &start, &data, &end, &status);
    fits_close_file(f, &status);
    if (status) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(end - start));
    FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, static_cast<long>(start), SEEK_SET);
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    bytes.resize(got);
    return bytes;
}

}  // namespace

// A telescope's layout: an empty primary HDU, the image in an extension, a
// table after it. The image is found (or chosen by number or name), and a
// FITS output keeps every other HDU byte for byte. A damaged keyword is told
// when the file is read.
TEST_F(RasterFiles, FitsImagesInExtensionsAndTheOtherHdusKept) {
    const std::string path = Scratch("mef.fits");
    std::remove(path.c_str());
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_diskfile(&f, path.c_str(), &status);
    fits_create_img(f, SHORT_IMG, 0, nullptr, &status);
    fits_write_key_str(f, "TELESCOP", "Test", "an empty primary HDU", &status);
    long naxes[2] = {40, 30};
    fits_create_img(f, FLOAT_IMG, 2, naxes, &status);
    fits_write_key_str(f, "EXTNAME", "SCI", nullptr, &status);
    fits_write_key_str(f, "OBSERVER", "Someone", nullptr, &status);
    std::vector<float> pixels(40 * 30, 12.0f);
    pixels[15 * 40 + 20] = 900.0f;
    fits_write_img(f, TFLOAT, 1, static_cast<LONGLONG>(pixels.size()), pixels.data(), &status);
    char* names[] = {const_cast<char*>("FLUX")};
    char* forms[] = {const_cast<char*>("1E")};
    fits_create_tbl(f, BINARY_TBL, 2, 1, names, forms, nullptr, "CAT", &status);
    float flux[2] = {1.5f, 2.5f};
    fits_write_col(f, TFLOAT, 1, 1, 1, 2, flux, &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);

    Raster read;
    RasterFailure failure = RASTER_OK;
    std::string error;
    ASSERT_TRUE(ReadRaster(path, &read, &failure, &error)) << error;
    EXPECT_EQ(read.width, 40);
    EXPECT_EQ(read.fits.hdu, 2);
    EXPECT_EQ(read.fits.hduCount, 3);
    for (const char* hdu : {"1", "SCI", "sci"}) {
        Raster chosen;
        EXPECT_TRUE(ReadRaster(path, hdu, &chosen, &failure, &error)) << hdu << ": " << error;
        EXPECT_EQ(chosen.fits.hdu, 2) << hdu;
    }
    for (const char* hdu : {"0", "2", "7", "NOPE"}) {
        Raster refused;
        EXPECT_FALSE(ReadRaster(path, hdu, &refused, &failure, &error)) << hdu;
        EXPECT_FALSE(error.empty());
    }
    // Written back with a changed pixel: the primary HDU and the table as they were.
    float v = 0.5f;
    std::memcpy(read.samples.data() + 4 * 3, &v, 4);
    read.fits.SetRaw(3, 450.0);
    const std::string out = Scratch("mef-out.fits");
    ASSERT_TRUE(WriteRaster(out, read, RASTER_FORMAT_FITS, &error)) << error;
    EXPECT_EQ(HduBytes(out, 1), HduBytes(path, 1));
    EXPECT_EQ(HduBytes(out, 3), HduBytes(path, 3));
    EXPECT_FALSE(HduBytes(out, 3).empty());
    Raster back;
    ASSERT_TRUE(ReadRaster(out, &back, &failure, &error)) << error;
    EXPECT_EQ(back.fits.hdu, 2);
    EXPECT_EQ(back.fits.Raw(3), 450.0);
    EXPECT_EQ(back.fits.Raw(static_cast<size_t>((29 - 15) * 40 + 20)), 900.0) << "the rest as it was";

    // A card with a byte FITS does not allow (a degree sign in Latin-1): refused
    // while reading, naming it, not after the run when it cannot be written back.
    std::vector<uint8_t> bytes = HduBytes(path, 2);
    const std::string header(bytes.begin(), bytes.end());
    const size_t at = header.find("OBSERVER= 'Someone");
    ASSERT_NE(at, std::string::npos);
    const size_t offset = HduBytes(path, 1).size() + at;
    FILE* file = std::fopen(path.c_str(), "r+b");
    std::fseek(file, static_cast<long>(offset + 10), SEEK_SET);
    std::fputs("'Someone at 12\xB0 N'", file);
    std::fclose(file);
    Raster damaged;
    EXPECT_FALSE(ReadRaster(path, &damaged, &failure, &error));
    EXPECT_EQ(failure, RASTER_UNREADABLE);
    EXPECT_NE(error.find("OBSERVER"), std::string::npos) << error;
}

// A float TIFF in counts (an instrument's units, far above 1) is scaled as
// FITS is: stars are found, and the file comes back in its own units, every
// sample no effect reached bit for bit.
TEST_F(RasterFiles, FloatTiffInCountsIsScaledAndKeepsItsUnits) {
    Raster field = Field(160, 120, 3, false, 32, 41, 10);
    const size_t count = static_cast<size_t>(field.width) * field.height * 3;
    for (size_t i = 0; i < count; i++) {
        float v;
        std::memcpy(&v, field.samples.data() + 4 * i, 4);
        // The field's odd samples (over-range, non-finite) become sky here.
        if (!std::isfinite(v) || v > 2.0f || v < 0.0f) v = 0.03f;
        v = v * 52000.0f + 800.0f;
        std::memcpy(field.samples.data() + 4 * i, &v, 4);
    }
    field.format = RASTER_FORMAT_TIFF;
    std::string error;
    const std::string path = Scratch("counts.tif"), out = Scratch("counts-out.tif");
    ASSERT_TRUE(WriteRaster(path, field, RASTER_FORMAT_TIFF, &error)) << error;
    Raster read;
    RasterFailure failure = RASTER_OK;
    ASSERT_TRUE(ReadRaster(path, &read, &failure, &error)) << error;
    EXPECT_TRUE(read.fits.scaled);
    EXPECT_GT(read.fits.fullScale, 1000.0);
    FilterOutcome outcome = FilterRaster(&read, FACTORY_PARAMETERS, nullptr);
    ASSERT_EQ(outcome.result, 0);
    EXPECT_GE(outcome.catalogue.size(), 5u) << "the stars are found";
    ASSERT_TRUE(WriteRaster(out, read, RASTER_FORMAT_TIFF, &error)) << error;
    Raster back;
    ASSERT_TRUE(ReadRaster(out, &back, &failure, &error)) << error;
    size_t same = 0, brighter = 0, darker = 0;
    for (size_t i = 0; i < count; i++) {
        float a, b;
        std::memcpy(&a, field.samples.data() + 4 * i, 4);
        std::memcpy(&b, back.fits.raw.data() + 4 * i, 4);
        if (!std::isfinite(a)) continue;
        if (std::memcmp(&a, &b, 4) == 0) same++;
        else if (b > a) brighter++;
        else darker++;
    }
    EXPECT_GT(brighter, 100u) << "effects were drawn, in counts";
    EXPECT_EQ(darker, 0u);
    EXPECT_GT(same, count / 4) << "untouched samples bit for bit";
}

// The rule for float samples outside 0..1: one that is not a number (NaN,
// ±Inf) is never changed, an effect over it or not; one below black gets the
// light an effect adds to black (a sample of 0 beside it); one above white
// keeps its value.
TEST_F(RasterFiles, SamplesThatAreNoNumberStayAndNoneGetsDarker) {
    Raster field = Field(96, 64, 3, false, 32, 77, 1);
    // A bright star in the middle, its flare over a row of odd samples, each
    // with a black sample beside it.
    for (int32_t y = 28; y < 36; y++)
        for (int32_t x = 44; x < 52; x++)
            for (int c = 0; c < 3; c++) {
                const float v = 1.0f;
                std::memcpy(field.Row(y) + (static_cast<size_t>(x) * 3 + c) * 4, &v, 4);
            }
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::infinity(), -0.5f, 3.0f};
    auto at = [](Raster& r, int32_t x, int c) { return reinterpret_cast<float*>(r.Row(20) + (static_cast<size_t>(x) * 3 + c) * 4); };
    for (int i = 0; i < 5; i++)
        for (int c = 0; c < 3; c++) {
            *at(field, 40 + 4 * i, c) = odd[i];
            *at(field, 41 + 4 * i, c) = 0.0f;
        }
    Raster before = field;
    FilterParameters p = FACTORY_PARAMETERS;
    p.slot[SLOT_QUANTITY] = 100;
    ASSERT_EQ(FilterRaster(&field, p, nullptr).result, 0);
    for (int i = 0; i < 5; i++)
        for (int c = 0; c < 3; c++) {
            const float a = *at(before, 40 + 4 * i, c), b = *at(field, 40 + 4 * i, c);
            const float black = *at(field, 41 + 4 * i, c);
            ASSERT_GT(black, 0.001f) << "the flare reaches the row";
            if (!std::isfinite(a)) {
                EXPECT_EQ(std::memcmp(&a, &b, 4), 0) << i << " is no number and stays";
            } else if (a > 1.0f) {
                EXPECT_EQ(a, b) << "above white";
            } else {
                // In light (an untagged float file is encoded with gamma 2.2).
                auto light = [](double v) { return v < 0 ? -std::pow(-v, 2.2) : std::pow(v, 2.2); };
                EXPECT_NEAR(light(b) - light(a), light(black), 0.03 * light(black))
                    << "below black: the light black gets";
            }
        }
}
