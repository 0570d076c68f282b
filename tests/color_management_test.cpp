// Colour management: the profiles of a run, the default grayscale profile,
// gamma estimates, derived profiles, the transform cache, conversions of
// images and single colours, and the blend modes.
#include <gtest/gtest.h>

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/thread_pool.h"
#include "image/blend.h"
#include "image/color_management.h"
#include "image/fixed_point.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "image/tracked_buffer.h"
#include "support/run_result.h"
#include "tests/test_support.h"

namespace {

// sRGB primaries with its D65 white, and wide (BT.2020) primaries.
const cmsCIExyY kD65 = {0.3127, 0.3290, 1.0};
const cmsCIExyYTRIPLE kSrgbPrimaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
const cmsCIExyYTRIPLE kWidePrimaries = {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};

cmsHPROFILE MakeRgbProfile(const cmsCIExyYTRIPLE& primaries, cmsToneCurve* red, cmsToneCurve* green,
                           cmsToneCurve* blue) {
    cmsToneCurve* curves[3] = {red, green, blue};
    return cmsCreateRGBProfile(&kD65, &primaries, curves);
}

// A wide-gamut profile with straight-line curves: its saturated colours lie
// outside sRGB.
cmsHPROFILE MakeWideGamutProfile() {
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE profile = MakeRgbProfile(kWidePrimaries, linear, linear, linear);
    cmsFreeToneCurve(linear);
    return profile;
}

// sRGB primaries, red and blue of gamma 1.8, and the given green curve.
cmsHPROFILE MakeProfileWithGreenCurve(cmsToneCurve* green) {
    cmsToneCurve* other = cmsBuildGamma(nullptr, 1.8);
    cmsHPROFILE profile = MakeRgbProfile(kSrgbPrimaries, other, green, other);
    cmsFreeToneCurve(other);
    return profile;
}

std::vector<uint8_t> SaveProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    return bytes;
}

std::string ProfileDescription(cmsHPROFILE profile) {
    char text[256] = {};
    cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof(text));
    return text;
}

size_t CountLinesContaining(const CapturedReports& reports, const std::string& text) {
    size_t count = 0;
    for (const auto& line : reports.Lines()) count += line.find(text) != std::string::npos;
    return count;
}

// A host handing over fixed bytes, counting its lock and unlock calls.
struct FakeHostProfile {
    std::vector<uint8_t> bytes;
    bool lockFails = false;
    int locks = 0;
    int unlocks = 0;
};

const void* LockFakeHostProfile(void* context, size_t* size) {
    auto* host = static_cast<FakeHostProfile*>(context);
    host->locks++;
    if (host->lockFails) return nullptr;
    *size = host->bytes.size();
    return host->bytes.data();
}

void UnlockFakeHostProfile(void* context) { static_cast<FakeHostProfile*>(context)->unlocks++; }

HostProfileSource SourceFor(FakeHostProfile* host) { return {host, LockFakeHostProfile, UnlockFakeHostProfile}; }

// Every test runs inside a filter run of its own: fresh gamma tables, colour
// management for an RGB host without a profile, and no error code.
class ColorManagementTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForceGlobalErrorCode(0);
        ASSERT_EQ(InitializeBufferUsage(), 0);
        ASSERT_TRUE(InitializeGammaTables());
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB8, nullptr));
    }
    void TearDown() override {
        ReleaseColorManagement();
        ReleaseGammaTables();
        SetBufferAllocationLimitForTesting(0);
        SetProcessorCountForTesting(0);
        SetThreadStartFailureForTesting(-1);
        ForceGlobalErrorCode(0);
    }
};

// ---- the default grayscale profile ----

#ifndef _WIN32
uint32_t BigEndian32(const unsigned char* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

// The compiled-in bytes (on Windows the same file is a resource of the module).
TEST_F(ColorManagementTest, DefaultGrayProfileBytesHaveTheStatedHeader) {
    ASSERT_EQ(kDefaultGrayProfileSize, 912u);
    const unsigned char* bytes = kDefaultGrayProfile;
    EXPECT_EQ(BigEndian32(bytes + 0), 912u);
    EXPECT_EQ(BigEndian32(bytes + 4), 0x6C636D73u);   // 'lcms'
    EXPECT_EQ(BigEndian32(bytes + 8), 0x02100000u);   // 2.1
    EXPECT_EQ(BigEndian32(bytes + 12), 0x70727472u);  // 'prtr'
    EXPECT_EQ(BigEndian32(bytes + 16), 0x47524159u);  // 'GRAY'
    EXPECT_EQ(BigEndian32(bytes + 20), 0x58595A20u);  // 'XYZ '
    EXPECT_EQ(BigEndian32(bytes + 36), 0x61637370u);  // 'acsp'
    EXPECT_EQ(BigEndian32(bytes + 40), 0x4D534654u);  // 'MSFT'
    EXPECT_EQ(BigEndian32(bytes + 64), 0u);           // intent
    EXPECT_EQ(BigEndian32(bytes + 68), 0x0000F6D6u);  // D50 X 0.9642
    EXPECT_EQ(BigEndian32(bytes + 72), 0x00010000u);  // D50 Y 1.0
    EXPECT_EQ(BigEndian32(bytes + 76), 0x0000D32Du);  // D50 Z 0.8249
    EXPECT_EQ(BigEndian32(bytes + 80), 0x43565345u);  // 'CVSE'
    EXPECT_EQ(BigEndian32(bytes + 128), 5u);          // tag count
}
#endif

TEST_F(ColorManagementTest, DefaultGrayProfileOpensWithItsTagsAndCurve) {
    cmsHPROFILE profile = LoadDefaultGrayProfile();
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(cmsGetDeviceClass(profile), cmsSigOutputClass);
    EXPECT_EQ(cmsGetColorSpace(profile), cmsSigGrayData);
    EXPECT_EQ(cmsGetPCS(profile), cmsSigXYZData);
    EXPECT_EQ(cmsGetEncodedICCversion(profile), 0x02100000u);
    EXPECT_EQ(cmsGetHeaderRenderingIntent(profile), 0u);
    EXPECT_EQ(ProfileDescription(profile), "Default Grayscale Profile");

    ASSERT_EQ(cmsGetTagCount(profile), 5);
    const cmsTagSignature order[5] = {cmsSigCopyrightTag, cmsSigProfileDescriptionTag, cmsSigMediaWhitePointTag,
                                      cmsSigMediaBlackPointTag, cmsSigGrayTRCTag};
    for (int i = 0; i < 5; i++) EXPECT_EQ(cmsGetTagSignature(profile, i), order[i]) << "tag " << i;

    const auto* white = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigMediaWhitePointTag));
    ASSERT_NE(white, nullptr);
    EXPECT_NEAR(white->X, 0.9642, 1e-4);
    EXPECT_NEAR(white->Y, 1.0, 1e-4);
    EXPECT_NEAR(white->Z, 0.8249, 1e-4);
    const auto* black = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigMediaBlackPointTag));
    ASSERT_NE(black, nullptr);
    EXPECT_EQ(black->X, 0.0);
    EXPECT_EQ(black->Y, 0.0);
    EXPECT_EQ(black->Z, 0.0);

    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigGrayTRCTag));
    ASSERT_NE(curve, nullptr);
    ASSERT_EQ(cmsGetToneCurveEstimatedTableEntries(curve), 256u);
    const cmsUInt16Number* table = cmsGetToneCurveEstimatedTable(curve);
    for (int i = 0; i < 256; i++) {
        double expected = i <= 5 ? 16.0 * i : std::round(65535.0 * std::pow(i / 255.0, 1.737));
        EXPECT_NEAR(table[i], expected, 1.0) << "point " << i;
    }
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[255], 65535);
    CloseColorProfile(profile);
}

// ---- the profiles of a run ----

TEST_F(ColorManagementTest, RunProfilesAreStandardWorkingAndLinearWorking) {
    ASSERT_NE(GetStandardProfile(), nullptr);
    EXPECT_EQ(cmsGetColorSpace(GetStandardProfile()), cmsSigRgbData);
    EXPECT_NEAR(EstimateProfileGamma(GetWorkingProfile()), 2.2, 0.01);
    EXPECT_NEAR(EstimateProfileGamma(GetLinearWorkingProfile()), 1.0, 0.01);
    // The two derived profiles each keep a profile block.
    EXPECT_EQ(GetProfileBlockCount(), 2);
}

TEST_F(ColorManagementTest, HostWithoutProfileGetsGrayDefaultForGrayModes) {
    const int32_t grayModes[3] = {IMAGE_MODE_GRAY8, IMAGE_MODE_GRAY16, IMAGE_MODE_GRAY_FLOAT};
    for (int32_t mode : grayModes) {
        ASSERT_TRUE(InitializeColorManagement(mode, nullptr)) << "mode " << mode;
        ASSERT_NE(GetHostProfile(), nullptr);
        EXPECT_EQ(cmsGetColorSpace(GetHostProfile()), cmsSigGrayData) << "mode " << mode;
        EXPECT_EQ(ProfileDescription(GetHostProfile()), "Default Grayscale Profile");
    }
}

TEST_F(ColorManagementTest, HostWithoutProfileGetsItsOwnSrgbForColourModes) {
    const int32_t colourModes[3] = {IMAGE_MODE_RGB8, IMAGE_MODE_RGB16, IMAGE_MODE_RGB_FLOAT};
    for (int32_t mode : colourModes) {
        ASSERT_TRUE(InitializeColorManagement(mode, nullptr)) << "mode " << mode;
        ASSERT_NE(GetHostProfile(), nullptr);
        EXPECT_EQ(cmsGetColorSpace(GetHostProfile()), cmsSigRgbData);
        EXPECT_NE(GetHostProfile(), GetStandardProfile());
        EXPECT_EQ(ProfileDescription(GetHostProfile()), ProfileDescription(GetStandardProfile()));
    }
}

TEST_F(ColorManagementTest, HostProfileIsCopiedIntoABlockAndUnlockedOnce) {
    cmsHPROFILE wide = MakeWideGamutProfile();
    FakeHostProfile host;
    host.bytes = SaveProfile(wide);
    CloseColorProfile(wide);
    HostProfileSource source = SourceFor(&host);

    ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_GRAY8, &source));
    EXPECT_EQ(host.locks, 1);
    EXPECT_EQ(host.unlocks, 1);
    ASSERT_NE(GetHostProfile(), nullptr);
    // The host's RGB profile, not the gray default of the mode.
    EXPECT_EQ(cmsGetColorSpace(GetHostProfile()), cmsSigRgbData);
    EXPECT_EQ(GetProfileBlockCount(), 3);
}

TEST_F(ColorManagementTest, HostProfileThatCannotBeLockedOrOpenedFallsBackToTheDefault) {
    FakeHostProfile locked;
    locked.lockFails = true;
    HostProfileSource lockedSource = SourceFor(&locked);
    {
        CapturedReports reports;
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_GRAY16, &lockedSource));
        EXPECT_TRUE(reports.Contains("Could not acquire host editor-provided image color profile."));
    }
    EXPECT_EQ(locked.unlocks, 0);
    EXPECT_EQ(cmsGetColorSpace(GetHostProfile()), cmsSigGrayData);

    FakeHostProfile garbage;
    garbage.bytes.assign(300, 0x5A);
    HostProfileSource garbageSource = SourceFor(&garbage);
    {
        CapturedReports reports;
        ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB16, &garbageSource));
        EXPECT_TRUE(reports.Contains("System Error"));
        EXPECT_TRUE(reports.Contains("Could not open host editor-provided image color profile."));
    }
    EXPECT_EQ(garbage.locks, 1);
    EXPECT_EQ(garbage.unlocks, 1);
    EXPECT_EQ(cmsGetColorSpace(GetHostProfile()), cmsSigRgbData);
}

TEST_F(ColorManagementTest, NoHostSourceReportsNothing) {
    CapturedReports reports;
    EXPECT_EQ(AcquireHostProfile(nullptr), nullptr);
    EXPECT_EQ(reports.Count(), 0u);
}

TEST_F(ColorManagementTest, LittleCmsErrorsAreLogged) {
    CapturedReports reports;
    const uint8_t notAProfile[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(cmsOpenProfileFromMem(notAProfile, sizeof(notAProfile)), nullptr);
    EXPECT_TRUE(reports.Contains("'Debug: Unexpected error' - 'Little CMS returned error code "));
}

// ---- gamma estimates and derived profiles ----

TEST_F(ColorManagementTest, GreenCurveThatIsNoPowerLawEstimatesAs22) {
    // A tabulated curve that jumps up and down: no gamma fits it at all.
    std::vector<cmsUInt16Number> zigzag(256);
    for (size_t i = 0; i < zigzag.size(); i++) zigzag[i] = i % 2 ? 63000 : 2000;
    cmsToneCurve* green = cmsBuildTabulatedToneCurve16(nullptr, 256, zigzag.data());
    ASSERT_NE(green, nullptr);
    ASSERT_EQ(cmsEstimateGamma(green, 0.1), -1.0);
    ASSERT_EQ(cmsEstimateGamma(green, 1.0), -1.0);
    cmsHPROFILE profile = MakeProfileWithGreenCurve(green);
    cmsFreeToneCurve(green);
    ASSERT_NE(profile, nullptr);

    // Red and blue have gamma 1.8; only green counts.
    EXPECT_DOUBLE_EQ(EstimateProfileGamma(profile), 2.2);
    CloseColorProfile(profile);
}

TEST_F(ColorManagementTest, GreenCurveEstimableOnlyAtTheCoarsePrecisionGivesItsMean) {
    // The exponent drifts from 1.6 to 2.4 along the curve.
    std::vector<cmsUInt16Number> points(1024);
    for (size_t i = 0; i < points.size(); i++) {
        double x = i / 1023.0;
        points[i] = static_cast<cmsUInt16Number>(std::lround(65535.0 * std::pow(x, 1.6 + 0.8 * x)));
    }
    cmsToneCurve* green = cmsBuildTabulatedToneCurve16(nullptr, static_cast<cmsUInt32Number>(points.size()),
                                                       points.data());
    ASSERT_NE(green, nullptr);
    ASSERT_EQ(cmsEstimateGamma(green, 0.1), -1.0);
    double coarse = cmsEstimateGamma(green, 1.0);
    ASSERT_GT(coarse, 1.8);
    ASSERT_LT(coarse, 2.2);
    cmsHPROFILE profile = MakeProfileWithGreenCurve(green);
    cmsFreeToneCurve(green);

    EXPECT_DOUBLE_EQ(EstimateProfileGamma(profile), coarse);
    CloseColorProfile(profile);
}

TEST_F(ColorManagementTest, GrayProfilesAreEstimatedFromTheirGrayCurve) {
    cmsHPROFILE gray = LoadDefaultGrayProfile();
    ASSERT_NE(gray, nullptr);
    EXPECT_NEAR(EstimateProfileGamma(gray), 1.737, 0.02);
    CloseColorProfile(gray);

    // No tone curve at all: 2.2.
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    EXPECT_DOUBLE_EQ(EstimateProfileGamma(lab), 2.2);
    CloseColorProfile(lab);
}

TEST_F(ColorManagementTest, DerivedProfilesCarryTheGivenGamma) {
    cmsHPROFILE wide = MakeWideGamutProfile();
    for (double gamma : {2.2, 1.0, 1.8}) {
        cmsHPROFILE derived = DeriveProfileWithGamma(wide, gamma);
        ASSERT_NE(derived, nullptr);
        EXPECT_NEAR(EstimateProfileGamma(derived), gamma, 0.005) << "gamma " << gamma;
        EXPECT_EQ(cmsGetColorSpace(derived), cmsSigRgbData);
        for (cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigBlueTRCTag}) {
            const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(derived, tag));
            ASSERT_NE(curve, nullptr);
            EXPECT_NEAR(cmsEstimateGamma(curve, 0.01), gamma, 0.005);
        }
        CloseColorProfile(derived);
    }
    CloseColorProfile(wide);
}

TEST_F(ColorManagementTest, DerivedGrayProfileIsAnIndependentCopy) {
    cmsHPROFILE gray = LoadDefaultGrayProfile();
    ASSERT_NE(gray, nullptr);
    int32_t blocks = GetProfileBlockCount();
    cmsHPROFILE linear = DeriveProfileWithGamma(gray, 1.0);
    ASSERT_NE(linear, nullptr);
    EXPECT_EQ(GetProfileBlockCount(), blocks + 1);
    EXPECT_EQ(cmsGetColorSpace(linear), cmsSigGrayData);
    EXPECT_NEAR(EstimateProfileGamma(linear), 1.0, 0.005);
    // The original keeps its own curve.
    EXPECT_NEAR(EstimateProfileGamma(gray), 1.737, 0.02);
    CloseColorProfile(linear);
    CloseColorProfile(gray);
}

TEST_F(ColorManagementTest, ProfileBlockTableRunsOutAfter63Blocks) {
    std::vector<cmsHPROFILE> derived;
    while (GetProfileBlockCount() < PROFILE_BLOCK_COUNT) {
        cmsHPROFILE profile = DeriveProfileWithGamma(GetStandardProfile(), 2.0);
        ASSERT_NE(profile, nullptr);
        derived.push_back(profile);
    }
    CapturedReports reports;
    EXPECT_EQ(DeriveProfileWithGamma(GetStandardProfile(), 2.0), nullptr);
    EXPECT_TRUE(reports.Contains("Ran out of room in the ProfileBlock table."));
    for (cmsHPROFILE profile : derived) CloseColorProfile(profile);
}

TEST_F(ColorManagementTest, DerivingWithoutMemoryForTheCopyFailsWithoutReading) {
    int32_t blocks = GetProfileBlockCount();
    SetBufferAllocationLimitForTesting(1);
    CapturedReports reports;
    EXPECT_EQ(DeriveProfileWithGamma(GetStandardProfile(), 2.2), nullptr);
    SetBufferAllocationLimitForTesting(0);
    EXPECT_TRUE(reports.Contains("DeriveProfileWithGamma() - Could not allocate memory for the profile copy."));
    EXPECT_EQ(GetProfileBlockCount(), blocks);
    // Nothing of the failed attempt is in the way of the next one.
    cmsHPROFILE profile = DeriveProfileWithGamma(GetStandardProfile(), 2.2);
    EXPECT_NE(profile, nullptr);
    EXPECT_EQ(GetProfileBlockCount(), blocks + 1);
    CloseColorProfile(profile);
}

TEST_F(ColorManagementTest, DerivingFromNoProfileIsReported) {
    CapturedReports reports;
    EXPECT_EQ(DeriveProfileWithGamma(nullptr, 2.2), nullptr);
    EXPECT_TRUE(
        reports.Contains("Could not retrieve required input profile memory size from cmsSaveProfileToMem()."));
}

// ---- the transform cache ----

TEST_F(ColorManagementTest, TransformsAreCachedByAllFourKeys) {
    ColorProfile standard = GetStandardProfile();
    ColorProfile linear = GetLinearWorkingProfile();
    ColorTransform first = GetColorTransform(standard, COLOR_FORMAT_RGBA_8, linear, COLOR_FORMAT_RGBA_8);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetColorTransform(standard, COLOR_FORMAT_RGBA_8, linear, COLOR_FORMAT_RGBA_8), first);
    ColorTransform wider = GetColorTransform(standard, COLOR_FORMAT_RGBA_8, linear, COLOR_FORMAT_RGBA_16);
    ColorTransform reversed = GetColorTransform(linear, COLOR_FORMAT_RGBA_8, standard, COLOR_FORMAT_RGBA_8);
    EXPECT_NE(wider, nullptr);
    EXPECT_NE(reversed, nullptr);
    EXPECT_NE(wider, first);
    EXPECT_NE(reversed, first);
    EXPECT_EQ(GetTransformCacheCount(), 3);
}

TEST_F(ColorManagementTest, The33rdTransformIsReportedReturnedAndNotCached) {
    std::vector<cmsHPROFILE> inputs;
    for (int i = 0; i < TRANSFORM_CACHE_SIZE + 1; i++) inputs.push_back(cmsCreate_sRGBProfile());
    ColorProfile output = GetLinearWorkingProfile();
    std::vector<ColorTransform> cached;
    {
        CapturedReports reports;
        for (int i = 0; i < TRANSFORM_CACHE_SIZE; i++) {
            cached.push_back(GetColorTransform(inputs[i], COLOR_FORMAT_RGBA_8, output, COLOR_FORMAT_RGBA_8));
            ASSERT_NE(cached.back(), nullptr);
        }
        EXPECT_FALSE(reports.Contains("Transform cache table size exceeded."));
    }
    EXPECT_EQ(GetTransformCacheCount(), TRANSFORM_CACHE_SIZE);
    EXPECT_EQ(GetColorTransform(inputs[31], COLOR_FORMAT_RGBA_8, output, COLOR_FORMAT_RGBA_8), cached[31]);

    CapturedReports reports;
    ColorTransform extra = GetColorTransform(inputs[32], COLOR_FORMAT_RGBA_8, output, COLOR_FORMAT_RGBA_8);
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(CountLinesContaining(reports, "Transform cache table size exceeded."), 1u);
    EXPECT_EQ(GetTransformCacheCount(), TRANSFORM_CACHE_SIZE);
    // Asked again, it is built again.
    ColorTransform again = GetColorTransform(inputs[32], COLOR_FORMAT_RGBA_8, output, COLOR_FORMAT_RGBA_8);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, extra);
    EXPECT_EQ(CountLinesContaining(reports, "Transform cache table size exceeded."), 2u);
    // The uncached transform works.
    const uint8_t white[4] = {255, 255, 255, 255};
    uint8_t out[4] = {0, 0, 0, 0};
    cmsDoTransform(again, white, out, 1);
    EXPECT_EQ(out[0], 255);

    bool owned = false;
    ColorTransform mine = GetColorTransform(inputs[32], COLOR_FORMAT_RGBA_8, output, COLOR_FORMAT_RGBA_8, &owned);
    ASSERT_NE(mine, nullptr);
    EXPECT_TRUE(owned);
    DeleteColorTransform(mine);
    for (cmsHPROFILE profile : inputs) CloseColorProfile(profile);
}

TEST_F(ColorManagementTest, FailedTransformIsReportedAndNotCached) {
    CapturedReports reports;
    // A gray profile cannot take three-channel 16-bit colours.
    cmsHPROFILE gray = LoadDefaultGrayProfile();
    EXPECT_EQ(GetColorTransform(gray, COLOR_FORMAT_RGB_16, GetStandardProfile(), COLOR_FORMAT_RGB_16), nullptr);
    EXPECT_EQ(GetColorTransform(GetStandardProfile(), 0, GetStandardProfile(), COLOR_FORMAT_RGBA_8), nullptr);
    EXPECT_EQ(CountLinesContaining(reports, "Could not compute color transform."), 2u);
    EXPECT_EQ(GetTransformCacheCount(), 0);
    CloseColorProfile(gray);
}

TEST_F(ColorManagementTest, GrayProfilesTakeTheGrayFormsOfImageFormats) {
    cmsHPROFILE gray = LoadDefaultGrayProfile();
    // RGBA words with a gray profile, and gray words with an RGB profile.
    ColorTransform toGray = GetColorTransform(GetStandardProfile(), COLOR_FORMAT_GRAY_8, gray, COLOR_FORMAT_RGBA_8);
    ASSERT_NE(toGray, nullptr);
    // Input read as RGBA: components 0..2 are one gray; output written as gray + 3 extra.
    const uint8_t in[4] = {255, 255, 255, 77};
    uint8_t out[4] = {1, 2, 3, 4};
    cmsDoTransform(toGray, in, out, 1);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[3], 4);
    CloseColorProfile(gray);
}

TEST_F(ColorManagementTest, WithoutTheCacheLockNothingIsBuiltOrCached) {
    ColorProfile standard = GetStandardProfile();
    ColorProfile linear = GetLinearWorkingProfile();
    ReleaseTransformCache();  // closes TransformCacheMutex
    CapturedReports reports;
    EXPECT_EQ(GetColorTransform(standard, COLOR_FORMAT_RGBA_8, linear, COLOR_FORMAT_RGBA_8), nullptr);
    EXPECT_TRUE(reports.Contains("Attempt to wait for transform cache access failed."));
    EXPECT_EQ(GetTransformCacheCount(), 0);
}

// ---- conversions ----

// A float RGB image in the wide-gamut profile, full of saturated colours.
void FillSaturated(Image* image) {
    const float colours[6][3] = {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}};
    int n = 0;
    for (int32_t y = image->imageRect.top; y < image->imageRect.bottom; y++)
        for (int32_t x = image->imageRect.left; x < image->imageRect.right; x++, n++) {
            auto* p = reinterpret_cast<float*>(PixelAddress(image, x, y));
            p[0] = colours[n % 6][0];
            p[1] = colours[n % 6][1];
            p[2] = colours[n % 6][2];
            p[3] = 0.5f;
        }
}

TEST_F(ColorManagementTest, WideGamutColoursReallyGoNegativeInFloat) {
    // The premise of the next tests: unbounded float transforms give negatives.
    cmsHPROFILE wide = MakeWideGamutProfile();
    cmsHTRANSFORM raw = cmsCreateTransform(wide, TYPE_RGBA_FLT, GetStandardProfile(), TYPE_RGBA_FLT,
                                           INTENT_RELATIVE_COLORIMETRIC, 0x2440);
    ASSERT_NE(raw, nullptr);
    const float green[4] = {0, 1, 0, 1};
    float out[4] = {0, 0, 0, 0};
    cmsDoTransform(raw, green, out, 1);
    EXPECT_TRUE(out[0] < 0.0f || out[2] < 0.0f);
    cmsDeleteTransform(raw);
    CloseColorProfile(wide);
}

TEST_F(ColorManagementTest, FloatImageConversionLeavesNoNegativeColour) {
    cmsHPROFILE wide = MakeWideGamutProfile();
    const ImageRect rect = {0, 0, 6, 3};
    Image source, destination;
    ASSERT_TRUE(CreateImage(&source, rect, rect, IMAGE_MODE_RGB_FLOAT, wide, false, false));
    ASSERT_TRUE(CreateImage(&destination, rect, rect, IMAGE_MODE_RGB_FLOAT, GetStandardProfile(), false, false));
    FillSaturated(&source);

    ASSERT_TRUE(ConvertImageColors(&source, rect, &destination, rect));
    float largestGreen = 0.0f;
    for (int32_t y = 0; y < 3; y++)
        for (int32_t x = 0; x < 6; x++) {
            const auto* p = reinterpret_cast<const float*>(PixelAddress(&destination, x, y));
            for (int k = 0; k < 3; k++) EXPECT_GE(p[k], 0.0f) << x << "," << y << " component " << k;
            EXPECT_FLOAT_EQ(p[3], 0.5f);
            largestGreen = std::max(largestGreen, p[1]);
        }
    EXPECT_GT(largestGreen, 0.9f);

    // In place, and the image takes the target profile.
    ASSERT_TRUE(ConvertColorOf(&source, GetStandardProfile()));
    EXPECT_EQ(source.profile, GetStandardProfile());
    EXPECT_DOUBLE_EQ(source.gamma, std::trunc(EstimateProfileGamma(GetStandardProfile()) * 20.0 + 0.5) / 20.0);
    for (int32_t y = 0; y < 3; y++)
        for (int32_t x = 0; x < 6; x++) {
            const auto* p = reinterpret_cast<const float*>(PixelAddress(&source, x, y));
            const auto* q = reinterpret_cast<const float*>(PixelAddress(&destination, x, y));
            for (int k = 0; k < 3; k++) {
                EXPECT_GE(p[k], 0.0f);
                EXPECT_FLOAT_EQ(p[k], q[k]);
            }
            EXPECT_FLOAT_EQ(p[3], 0.5f);
        }
    ReleaseImage(&source);
    ReleaseImage(&destination);
    CloseColorProfile(wide);
}

TEST_F(ColorManagementTest, ConvertColorOfWithoutTransformLeavesTheImage) {
    const ImageRect rect = {0, 0, 2, 2};
    Image image;
    ASSERT_TRUE(CreateImage(&image, rect, rect, IMAGE_MODE_LINEAR32, GetStandardProfile(), false, false));
    std::memset(image.pixels.pointer, 0x42, 2 * 2 * 16);
    CapturedReports reports;
    EXPECT_FALSE(ConvertColorOf(&image, GetLinearWorkingProfile()));
    EXPECT_TRUE(reports.Contains("'Debug: Unexpected error' - 'ConvertColorOf() - Could not get color transform.'"));
    EXPECT_EQ(image.profile, GetStandardProfile());
    const auto* bytes = static_cast<const uint8_t*>(image.pixels.pointer);
    for (int i = 0; i < 2 * 2 * 16; i++) ASSERT_EQ(bytes[i], 0x42);
    ReleaseImage(&image);
}

TEST_F(ColorManagementTest, ConvertImageColorsWithoutTransformSetsTheRunError) {
    const ImageRect rect = {0, 0, 2, 2};
    Image source, destination;
    ASSERT_TRUE(CreateImage(&source, rect, rect, IMAGE_MODE_LINEAR32, GetStandardProfile(), false, false));
    ASSERT_TRUE(CreateImage(&destination, rect, rect, IMAGE_MODE_RGB8, GetStandardProfile(), false, false));
    EXPECT_FALSE(ConvertImageColors(&source, rect, &destination, rect));
    EXPECT_EQ(GetGlobalErrorCode(), -50);
    ForceGlobalErrorCode(0);
    // An empty area needs no transform.
    const ImageRect outside = {10, 10, 12, 12};
    EXPECT_TRUE(ConvertImageColors(&source, outside, &destination, outside));
    EXPECT_EQ(GetGlobalErrorCode(), 0);
    ReleaseImage(&source);
    ReleaseImage(&destination);
}

TEST_F(ColorManagementTest, SingleColourIsConvertedAndLinearised) {
    PixelValue value = {0x8000u << 16, 0xFFFFu << 16, 0, 0x1234, 0x5678};
    ASSERT_TRUE(ConvertSingleColor(&value, GetStandardProfile(), GetStandardProfile()));
    EXPECT_NEAR(value.c0 >> 16, std::round(std::pow(0x8000 / 65535.0, 2.2) * 65535.0), 2.0);
    EXPECT_EQ(value.c1 >> 16, 65535u);
    EXPECT_EQ(value.c2, 0u);
    EXPECT_EQ(value.c0 & 0xFFFF, 0u);
    EXPECT_EQ(value.alpha, 0x1234u);
    EXPECT_EQ(value.mask, 0x5678u);
}

TEST_F(ColorManagementTest, SingleColourWithoutTransformIsUnchanged) {
    cmsHPROFILE gray = LoadDefaultGrayProfile();
    PixelValue value = {0x11111111, 0x22222222, 0x33333333, 0x44444444, 0x55555555};
    EXPECT_FALSE(ConvertSingleColor(&value, gray, GetStandardProfile()));
    EXPECT_EQ(value.c0, 0x11111111u);
    EXPECT_EQ(value.c1, 0x22222222u);
    EXPECT_EQ(value.c2, 0x33333333u);
    CloseColorProfile(gray);
}

// A 16-bit source with a mask and a pattern in every component, converted
// into part of a larger 8-bit destination.
struct ConversionImages {
    Image source, destination;
    ImageRect sourceRect = {5, 7, 28, 44};
    ImageRect destinationRect = {12, 3, 35, 40};
};

void MakeConversionImages(ConversionImages* images, ColorProfile sourceProfile, ColorProfile destinationProfile) {
    const ImageRect sourceImage = {0, 0, 31, 50};
    const ImageRect destinationImage = {0, 0, 40, 45};
    ASSERT_TRUE(CreateImage(&images->source, sourceImage, sourceImage, IMAGE_MODE_RGB16, sourceProfile, true, false));
    ASSERT_TRUE(CreateImage(&images->destination, destinationImage, destinationImage, IMAGE_MODE_RGB8,
                            destinationProfile, true, false));
    for (int32_t y = 0; y < 50; y++)
        for (int32_t x = 0; x < 31; x++) {
            auto* p = reinterpret_cast<uint16_t*>(PixelAddress(&images->source, x, y));
            p[0] = static_cast<uint16_t>(x * 2113 + y * 17);
            p[1] = static_cast<uint16_t>(y * 1301 + x * 5);
            p[2] = static_cast<uint16_t>((x * y * 97) & 0xFFFF);
            p[3] = static_cast<uint16_t>(x * 1000 + y);
            *MaskAddress(&images->source, x, y) = static_cast<uint8_t>(x * 7 + y * 3);
        }
    std::memset(images->destination.pixels.pointer, 0, images->destination.pixels.size);
    std::memset(images->destination.mask.pointer, 0, images->destination.mask.size);
}

TEST_F(ColorManagementTest, ParallelConversionEqualsThePlainOne) {
    ColorProfile sourceProfile = DeriveProfileWithGamma(GetStandardProfile(), 1.8);
    ASSERT_NE(sourceProfile, nullptr);
    ConversionImages plain, parallel;
    MakeConversionImages(&plain, sourceProfile, GetLinearWorkingProfile());
    ASSERT_TRUE(ConvertImageColors(&plain.source, plain.sourceRect, &plain.destination, plain.destinationRect));

    // Several sections, and more sections than rows (one row each).
    for (int32_t processors : {4, 3, 64}) {
        SetProcessorCountForTesting(processors);
        ASSERT_EQ(GetProcessorCount(), processors);
        MakeConversionImages(&parallel, sourceProfile, GetLinearWorkingProfile());
        ASSERT_TRUE(ConvertImageColorsParallel(&parallel.source, parallel.sourceRect, &parallel.destination,
                                               parallel.destinationRect));
        ASSERT_EQ(parallel.destination.pixels.size, plain.destination.pixels.size);
        EXPECT_EQ(std::memcmp(parallel.destination.pixels.pointer, plain.destination.pixels.pointer,
                              plain.destination.pixels.size),
                  0)
            << processors << " processors";
        EXPECT_EQ(std::memcmp(parallel.destination.mask.pointer, plain.destination.mask.pointer,
                              plain.destination.mask.size),
                  0)
            << processors << " processors";
        ReleaseImage(&parallel.source);
        ReleaseImage(&parallel.destination);
    }
    EXPECT_EQ(GetGlobalErrorCode(), 0);

    // Only the moved area was written: colours, alpha and mask inside, zeros outside.
    int written = 0;
    for (int32_t y = 0; y < 45; y++)
        for (int32_t x = 0; x < 40; x++) {
            const uint8_t* p = PixelAddress(&plain.destination, x, y);
            bool inside = x >= 12 && x < 35 && y >= 3 && y < 40;
            bool any = p[0] || p[1] || p[2] || p[3];
            if (!inside) {
                EXPECT_FALSE(any) << x << "," << y;
            }
            written += inside && any;
        }
    EXPECT_GT(written, 23 * 37 - 5);
    // Source (5, 7) lands on destination (12, 3): its alpha and mask came along.
    EXPECT_EQ(PixelAddress(&plain.destination, 13, 4)[3],
              static_cast<uint8_t>(std::lround((6 * 1000 + 8) / 65535.0 * 255)));
    EXPECT_EQ(*MaskAddress(&plain.destination, 13, 4), static_cast<uint8_t>(6 * 7 + 8 * 3));
    ReleaseImage(&plain.source);
    ReleaseImage(&plain.destination);
}

TEST_F(ColorManagementTest, ParallelConversionFailsWhenASectionThreadCannotStart) {
    ConversionImages images;
    MakeConversionImages(&images, GetStandardProfile(), GetLinearWorkingProfile());
    SetProcessorCountForTesting(4);
    SetThreadStartFailureForTesting(2);
    EXPECT_FALSE(ConvertImageColorsParallel(&images.source, images.sourceRect, &images.destination,
                                            images.destinationRect));
    EXPECT_EQ(GetGlobalErrorCode(), -1715);
    ReleaseImage(&images.source);
    ReleaseImage(&images.destination);
}

TEST_F(ColorManagementTest, ParallelConversionPreparesNothingOnceTheRunHasFailed) {
    ConversionImages images;
    MakeConversionImages(&images, GetStandardProfile(), GetLinearWorkingProfile());
    SetProcessorCountForTesting(4);
    SetGlobalErrorCode(-128);
    EXPECT_FALSE(ConvertImageColorsParallel(&images.source, images.sourceRect, &images.destination,
                                            images.destinationRect));
    EXPECT_EQ(GetGlobalErrorCode(), -128);
    const auto* bytes = static_cast<const uint8_t*>(images.destination.pixels.pointer);
    bool untouched = true;
    for (uint64_t i = 0; i < images.destination.pixels.size; i++) untouched &= bytes[i] == 0;
    EXPECT_TRUE(untouched);
    ReleaseImage(&images.source);
    ReleaseImage(&images.destination);
}

TEST_F(ColorManagementTest, DisplayProfileIsTheStandardProfileNatively) {
#ifndef _WIN32
    EXPECT_EQ(GetDisplayProfile(nullptr), GetStandardProfile());
#else
    ColorProfile display = GetDisplayProfile(nullptr);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(GetDisplayProfile(nullptr), display);
#endif
}

// ---- blending ----

class BlendTest : public ::testing::Test {
protected:
    void SetUp() override { saved = PreciseMultiply; }
    void TearDown() override { PreciseMultiply = saved; }
    bool saved = true;
};

TEST_F(BlendTest, AddNearTheTopKeepsTheChannelInsteadOfWrapping) {
    PreciseMultiply = true;
    PixelValue d = {0xFFFFFF00u, 100, 0xFFFFFFFEu - 0x7FFFFF, 0x11, 0x22};
    const PixelValue s = {0xFFFFFF, 0x800000, 0x800000, UNIT_ONE, 0x33};
    BlendPixel(&d, s, BLEND_ADD);
    EXPECT_EQ(d.c0, 0xFFFFFF00u);                 // would pass the top: stays
    EXPECT_EQ(d.c1, 100u + 0x7FFFFF);             // 0x800000 ⊗ 1.0 = 0x7FFFFF
    EXPECT_EQ(d.c2, 0xFFFFFFFEu - 0x7FFFFF);      // exactly 1.0 is not below it: stays
    EXPECT_EQ(d.alpha, 0x11u);
    EXPECT_EQ(d.mask, 0x22u);
}

TEST_F(BlendTest, PremultiplyShiftsAlphaBy14InFastMode) {
    const PixelValue s = {0xFFFFFF, 0, 0x400000, 0x80000000u, 0x77};
    PixelValue d = {1, 2, 3, 4, 5};
    PreciseMultiply = true;
    BlendPixel(&d, s, BLEND_PREMULTIPLY);
    EXPECT_EQ(d.c0, 0x7FFFFFu);
    EXPECT_EQ(d.c1, 0u);
    EXPECT_EQ(d.c2, 0x200000u);
    EXPECT_EQ(d.alpha, UNIT_ONE);
    EXPECT_EQ(d.mask, 0x77u);

    PreciseMultiply = false;
    d = {1, 2, 3, 4, 5};
    BlendPixel(&d, s, BLEND_PREMULTIPLY);
    EXPECT_EQ(d.c0, 0x7E0000u);  // (a >> 14) × (c >> 18) = 131072 × 63
    EXPECT_EQ(d.c2, 0x200000u);  // 131072 × 16
}

TEST_F(BlendTest, StoreFoldsOverRangeColourIntoAlpha) {
    for (bool precise : {true, false}) {
        PreciseMultiply = precise;
        const PixelValue s = {0x3000000, 0x1800000, 0x600000, 0x80000000u, 0x12345678};
        PixelValue d = {1, 2, 3, 4, 5};
        BlendPixel(&d, s, BLEND_STORE);
        // f = min(0xFFFFFFFE / 0x800000, 0x3000000 / 65535) = min(511, 768) = 511
        EXPECT_EQ(d.alpha, 0x800000u * 511);
        EXPECT_EQ(d.c0, (0x3000000u / 511) << 8);
        EXPECT_EQ(d.c0, 0x180C000u);
        EXPECT_EQ(d.c1, 0xC06000u);
        EXPECT_EQ(d.c2, 0x301800u);
        EXPECT_EQ(d.mask, 0x12345678u);

        // A faint alpha: f is bounded by the colour instead, 0x2000000 / 65535 = 512.
        const PixelValue faint = {0x2000000, 0x100, 0, 0x500, 9};
        BlendPixel(&d, faint, BLEND_STORE);
        EXPECT_EQ(d.alpha, 5u * 512);
        EXPECT_EQ(d.c0, 0x1000000u);
        EXPECT_EQ(d.c1, 0u);
        EXPECT_EQ(d.mask, 9u);

        // In range, or without alpha: a plain copy of all five.
        const PixelValue inRange = {0xFFFFFF, 7, 8, 0x80000000u, 10};
        BlendPixel(&d, inRange, BLEND_STORE);
        EXPECT_EQ(d.c0, 0xFFFFFFu);
        EXPECT_EQ(d.c1, 7u);
        EXPECT_EQ(d.alpha, 0x80000000u);
        EXPECT_EQ(d.mask, 10u);
        const PixelValue transparent = {0x5000000, 1, 2, 0, 11};
        BlendPixel(&d, transparent, BLEND_STORE);
        EXPECT_EQ(d.c0, 0x5000000u);
        EXPECT_EQ(d.alpha, 0u);
        EXPECT_EQ(d.mask, 11u);
    }
}

TEST_F(BlendTest, NormalAtAlphaZeroAndOne) {
    const PixelValue d0 = {1000, 0x800000, 0xFFFFFF, 0xABCD, 0xDCBA};
    PreciseMultiply = true;
    PixelValue d = d0;
    BlendPixel(&d, {5, 6, 7, 0, 0x99}, BLEND_NORMAL);
    // d ⊗ 0xFFFFFFFE loses one unit: (d × (2^32 − 2)) >> 32 = d − 1.
    EXPECT_EQ(d.c0, 999u);
    EXPECT_EQ(d.c1, 0x7FFFFFu);
    EXPECT_EQ(d.c2, 0xFFFFFEu);
    EXPECT_EQ(d.alpha, 0xABCDu);
    EXPECT_EQ(d.mask, 0xDCBAu);
    d = d0;
    BlendPixel(&d, {0x123456, 0x800000, 0xFFFFFF, UNIT_ONE, 0x99}, BLEND_NORMAL);
    EXPECT_EQ(d.c0, 0x123455u);
    EXPECT_EQ(d.c1, 0x7FFFFFu);
    EXPECT_EQ(d.c2, 0xFFFFFEu);
    EXPECT_EQ(d.alpha, 0xABCDu);
    EXPECT_EQ(d.mask, 0xDCBAu);

    PreciseMultiply = false;
    d = d0;
    BlendPixel(&d, {5, 6, 7, 0, 0x99}, BLEND_NORMAL);
    EXPECT_EQ(d.c0, 0u);         // (1000 >> 14) × 16383
    EXPECT_EQ(d.c1, 512u * 16383);
    EXPECT_EQ(d.c2, 1023u * 16383);
    d = d0;
    BlendPixel(&d, {0x123456, 0x800000, 0xFFFFFF, UNIT_ONE, 0x99}, BLEND_NORMAL);
    EXPECT_EQ(d.c0, 72u * 16383);  // 0x123456 >> 14 = 72
    EXPECT_EQ(d.c1, 512u * 16383);
    EXPECT_EQ(d.alpha, 0xABCDu);
}

TEST_F(BlendTest, ScreenMatchesHandComputedValues) {
    const PixelValue d0 = {0x400000, 0x800000, 0xC00000, 0x1234, 0x5678};
    const PixelValue s = {0xFFFFFF, 0x800000, 0, 0xC0000000u, 0x9999};
    // l = 0xFFFFFF ⊗ 0.75 = 0xBFFFFF, then << 8; u = (1, 0x80000080, 0).
    PreciseMultiply = true;
    PixelValue d = d0;
    BlendPixel(&d, s, BLEND_SCREEN);
    EXPECT_EQ(d.c0, 0xCFFFFEu);  // 0x100000 + 0xBFFFFE
    EXPECT_EQ(d.c1, 0xAFFFFFu);
    EXPECT_EQ(d.c2, 0xBFFFFFu);
    EXPECT_EQ(d.alpha, 0x1234u);
    EXPECT_EQ(d.mask, 0x5678u);

    PreciseMultiply = false;
    d = d0;
    BlendPixel(&d, s, BLEND_SCREEN);
    EXPECT_EQ(d.c0, 0xCCDBC0u);
    EXPECT_EQ(d.c1, 0xAFF200u);
    EXPECT_EQ(d.c2, 0xBFFD00u);

    // An over-range source makes l full (0xFFFFFFFE).
    const PixelValue bright = {0x3000000, 0x1000000, 0x10, UNIT_ONE, 0};
    PreciseMultiply = true;
    d = d0;
    BlendPixel(&d, bright, BLEND_SCREEN);
    EXPECT_EQ(d.c0, 0xFFFFFEu);
    EXPECT_EQ(d.c1, 0xAAAAAAu);
    EXPECT_EQ(d.c2, 0xC00001u);
    PreciseMultiply = false;
    d = d0;
    BlendPixel(&d, bright, BLEND_SCREEN);
    EXPECT_EQ(d.c0, 0xFBFFC1u);
    EXPECT_EQ(d.c1, 0xA7FFD6u);
    EXPECT_EQ(d.c2, 0xBFFFD0u);

    // A black source: l = 0 and u = 1, so d is only scaled by 1.0.
    PreciseMultiply = true;
    d = d0;
    BlendPixel(&d, {0, 0, 0, 0xC0000000u, 0}, BLEND_SCREEN);
    EXPECT_EQ(d.c0, 0x3FFFFFu);
    EXPECT_EQ(d.c1, 0x7FFFFFu);
    EXPECT_EQ(d.c2, 0xBFFFFFu);
}

TEST_F(BlendTest, UnknownModeIsReportedAndChangesNothing) {
    PixelValue d = {1, 2, 3, 4, 5};
    CapturedReports reports;
    BlendPixel(&d, {9, 9, 9, UNIT_ONE, 9}, FourCharCode('m', 'u', 'l', 't'));
    EXPECT_TRUE(reports.Contains("Blending mode not implemented."));
    EXPECT_EQ(d.c0, 1u);
    EXPECT_EQ(d.c1, 2u);
    EXPECT_EQ(d.c2, 3u);
    EXPECT_EQ(d.alpha, 4u);
    EXPECT_EQ(d.mask, 5u);
}

TEST_F(BlendTest, ModeCodesAreTheFourCharacterValues) {
    EXPECT_EQ(BLEND_ADD, 0x43566164u);
    EXPECT_EQ(BLEND_PREMULTIPLY, 0x43567061u);
    EXPECT_EQ(BLEND_STORE, 0x43567374u);
    EXPECT_EQ(BLEND_NORMAL, 0x6E6F726Du);
    EXPECT_EQ(BLEND_SCREEN, 0x7363726Eu);
}

}  // namespace
