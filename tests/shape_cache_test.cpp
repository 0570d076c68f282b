// Shape caches: element storage, the locked lazy build, clipped drawing with
// its threshold, sampling, measuring and release.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

#include "effects/effect_tables.h"
#include "effects/shape_cache.h"
#include "effects/shape_generators.h"
#include "image/blend.h"
#include "image/fixed_point.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "image/tracked_buffer.h"
#include "support/os.h"
#include "support/run_result.h"
#include "tests/test_support.h"

namespace {

const char* const kLowMemory = "User Message: 'Warning' - 'Low memory.  Check image - some effects may not be rendered.'";

uint32_t Precise(uint32_t u, uint32_t v) { return static_cast<uint32_t>((static_cast<uint64_t>(u) * v) >> 32); }
uint32_t BrightnessOf(uint32_t c0, uint32_t c1, uint32_t c2) { return 4 * ((c0 / 4 + c1 / 4 + c2 / 4) / 3); }

// ---- generators the tests control ----

struct TestElement {
    int16_t dx, dy;
    uint32_t weight;
};
std::vector<TestElement> gTestElements;
bool gTestResult = true;
std::atomic<int> gBuildCount{0};
std::atomic<int> gLockedBuilds{0};
std::atomic<int> gUnlockedBuilds{0};

// Whether another thread could take ShapeCreationMutex right now.
uint32_t ProbeMutex(void*) {
    uint32_t result = OsWaitForSingleObject(GetShapeCreationMutex(), 0);
    if (result == OS_WAIT_OBJECT_0) OsReleaseMutex(GetShapeCreationMutex());
    return result;
}

uint32_t RunOnOtherThread(OsThreadProc proc, void* argument) {
    OsHandle thread = OsCreateThread(proc, argument, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    EXPECT_EQ(OsWaitForSingleObject(thread, OS_INFINITE), OS_WAIT_OBJECT_0);
    uint32_t code = 0;
    EXPECT_TRUE(OsGetExitCodeThread(thread, &code));
    OsCloseHandle(thread);
    return code;
}

void NoteLockState() {
    gBuildCount++;
    if (RunOnOtherThread(ProbeMutex, nullptr) == OS_WAIT_TIMEOUT)
        gLockedBuilds++;
    else
        gUnlockedBuilds++;
}

bool ListedShape(ShapeCache* cache, int32_t a, int32_t b) {
    NoteLockState();
    BeginSubShape(cache, a, b);
    SubShapeEntry* entry = &cache->entry[a][b];
    for (const TestElement& t : gTestElements) {
        if (!AppendWhiteElement(entry, t.dx, t.dy, t.weight)) break;
        entry->left = std::min<int32_t>(entry->left, t.dx);
        entry->top = std::min<int32_t>(entry->top, t.dy);
        entry->right = std::max<int32_t>(entry->right, t.dx + 1);
        entry->bottom = std::max<int32_t>(entry->bottom, t.dy + 1);
    }
    FinishSubShape(cache, a, b);
    return gTestResult;
}

bool CountedSoftFlare(ShapeCache* cache, int32_t a, int32_t b) {
    NoteLockState();
    return GenerateSoftFlareShape(cache, a, b);
}

class ShapeCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitializeGammaTables());
        ForceGlobalErrorCode(0);
        ASSERT_TRUE(CreateShapeCreationMutex());
        InitializeEffectTables();
        SetEffectArithmetic(true, IMAGE_MODE_RGB8);
        SetEffectImage(IMAGE_MODE_RGB8, 300, 400);
        ResetEffectsDroppedForLowMemory();
        cache = ShapeCache();
        std::memset(&parameters, 0, sizeof(parameters));
        CopyEffectValues(&parameters, FACTORY_PARAMETERS);
        cache.parameters = &parameters;
        cache.generator = ListedShape;
        gTestElements.clear();
        gTestResult = true;
        gBuildCount = 0;
        gLockedBuilds = 0;
        gUnlockedBuilds = 0;
    }
    void TearDown() override {
        SetBufferAllocationLimitForTesting(0);
        ReleaseShapeCache(&cache);
        for (Image& image : images) ReleaseImage(&image);
        CloseShapeCreationMutex();
        ReleaseGammaTables();
        ForceGlobalErrorCode(0);
    }
    // A linear 32-bit image over `rect` inside `buffer`, all zero.
    Image* Make(ImageRect rect, ImageRect buffer, bool edgeSafe = true) {
        images.emplace_back();
        Image* image = &images.back();
        EXPECT_TRUE(CreateImage(image, rect, buffer, IMAGE_MODE_LINEAR32, nullptr, false, edgeSafe));
        std::memset(image->pixels.pointer, 0, image->pixels.size);
        return image;
    }
    static const uint32_t* Raw(const Image* image, int32_t x, int32_t y) {
        return reinterpret_cast<const uint32_t*>(PixelAddress(image, x, y));
    }
    static void Set(Image* image, int32_t x, int32_t y, uint32_t c0, uint32_t c1, uint32_t c2) {
        PixelValue v = {c0, c1, c2, UNIT_ONE, UNIT_ONE};
        image->OutputImage(image, &v, x, y);
    }
    static bool SamePixels(const Image* a, const Image* b, const ImageRect& rect) {
        for (int32_t y = rect.top; y < rect.bottom; y++)
            for (int32_t x = rect.left; x < rect.right; x++)
                if (std::memcmp(Raw(a, x, y), Raw(b, x, y), 12) != 0) return false;  // colours
        return true;
    }
    static bool AllZero(const Image* image, const ImageRect& rect, const ImageRect& except = {0, 0, 0, 0}) {
        for (int32_t y = rect.top; y < rect.bottom; y++)
            for (int32_t x = rect.left; x < rect.right; x++) {
                if (x >= except.left && x < except.right && y >= except.top && y < except.bottom) continue;
                const uint32_t* p = Raw(image, x, y);
                if (p[0] || p[1] || p[2]) return false;
            }
        return true;
    }

    ShapeCache cache;
    ParameterSet parameters;
    std::deque<Image> images;
};

const ShapeColor kWhite = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, UNIT_ONE};

}  // namespace

// ---- element storage ----

TEST_F(ShapeCacheTest, ElementRecordIsTwentyBytes) {
    EXPECT_EQ(sizeof(ShapeElement), 20u);
    EXPECT_EQ(offsetof(ShapeElement, dy), 2u);
    EXPECT_EQ(offsetof(ShapeElement, red), 4u);
    EXPECT_EQ(offsetof(ShapeElement, green), 8u);
    EXPECT_EQ(offsetof(ShapeElement, blue), 12u);
    EXPECT_EQ(offsetof(ShapeElement, intensity), 16u);
}

TEST_F(ShapeCacheTest, AppendGrowsInStepsOf16384Elements) {
    SubShapeEntry entry = SubShapeEntry();
    uint64_t usage = GetCurrentBufferUsage();
    const uint64_t step = 16384ull * 20;
    for (uint32_t i = 0; i < 16384 * 2 + 1; i++) {
        ShapeElement e = {static_cast<int16_t>(i % 1000), static_cast<int16_t>(i / 1000), i, ~i, i * 3, i * 7};
        ASSERT_TRUE(AppendShapeElement(&entry, e, SHAPE_ELEMENT_GROWTH));
        uint64_t blocks = (i + 16384) / 16384;  // ⌈(i + 1) / 16384⌉
        ASSERT_EQ(entry.elements.size, blocks * step) << i;
    }
    EXPECT_EQ(entry.count, 16384 * 2 + 1);
    EXPECT_EQ(GetCurrentBufferUsage() - usage, 3 * step);
    const ShapeElement* p = SubShapeElements(&entry);
    for (uint32_t i = 0; i < static_cast<uint32_t>(entry.count); i++) {
        ASSERT_EQ(p[i].dx, static_cast<int16_t>(i % 1000));
        ASSERT_EQ(p[i].dy, static_cast<int16_t>(i / 1000));
        ASSERT_EQ(p[i].red, i);
        ASSERT_EQ(p[i].green, ~i);
        ASSERT_EQ(p[i].intensity, i * 7);
    }
    DeallocateBuffer(&entry.elements);
    EXPECT_EQ(GetCurrentBufferUsage(), usage);
}

TEST_F(ShapeCacheTest, AppendUsesTheGrowthItIsGiven) {
    SubShapeEntry entry = SubShapeEntry();
    ShapeElement e = {1, 2, 3, 4, 5, 6};
    const uint64_t sizes[] = {60, 60, 60, 120, 120, 120, 180};
    for (uint64_t size : sizes) {
        ASSERT_TRUE(AppendShapeElement(&entry, e, 3));
        EXPECT_EQ(entry.elements.size, size);
    }
    DeallocateBuffer(&entry.elements);
}

TEST_F(ShapeCacheTest, AppendFailureWarnsAndKeepsTheCount) {
    SubShapeEntry entry = SubShapeEntry();
    ShapeElement e = {0, 0, UNIT_ONE, UNIT_ONE, UNIT_ONE, UNIT_ONE};
    for (int i = 0; i < 16384; i++) ASSERT_TRUE(AppendShapeElement(&entry, e, SHAPE_ELEMENT_GROWTH));
    const void* before = entry.elements.pointer;
    SetBufferAllocationLimitForTesting(2 * 16384 * 20);
    CapturedReports reports;
    EXPECT_FALSE(AppendShapeElement(&entry, e, SHAPE_ELEMENT_GROWTH));
    EXPECT_EQ(entry.count, 16384);
    EXPECT_EQ(entry.elements.pointer, before);
    EXPECT_EQ(entry.elements.size, 16384u * 20);
    EXPECT_TRUE(reports.Contains(kLowMemory));
    SetBufferAllocationLimitForTesting(0);
    EXPECT_TRUE(AppendShapeElement(&entry, e, SHAPE_ELEMENT_GROWTH));
    EXPECT_EQ(entry.count, 16385);
    DeallocateBuffer(&entry.elements);
}

// ---- drawing ----

TEST_F(ShapeCacheTest, LowMemoryKeepsAPartialShapeAndDrawsIt) {
    parameters.length = 50;  // a soft flare of about 20000 elements
    cache.generator = CountedSoftFlare;
    Image* image = Make({0, 0, 200, 200}, {0, 0, 200, 200});
    SetBufferAllocationLimitForTesting(2 * 16384 * 20);
    CapturedReports reports;
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {100, 0, 100, 0}, BLEND_SCREEN));
    EXPECT_TRUE(cache.entry[0][0].built);
    EXPECT_EQ(cache.entry[0][0].count, 16384);
    EXPECT_FALSE(AllZero(image, image->imageRect)) << "the partial shape is drawn";
    size_t warnings = 0;
    for (const auto& line : reports.Lines()) warnings += line.find(kLowMemory) != std::string::npos;
    EXPECT_EQ(warnings, 1u);

    // Not rebuilt: no second warning for the same sub-shape.
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {50, 0, 50, 0}, BLEND_SCREEN));
    EXPECT_EQ(gBuildCount.load(), 1);
    // Another sub-shape that runs out is told once the warning is re-armed
    // (a new render, a preview frame built whole), not before: a preview that
    // fails on every change does not bring the box back each time.
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {50, 2, 50, 0}, BLEND_SCREEN));
    auto count = [&] {
        size_t n = 0;
        for (const auto& line : reports.Lines()) n += line.find(kLowMemory) != std::string::npos;
        return n;
    };
    EXPECT_EQ(count(), 1u);
    EXPECT_TRUE(EffectsDroppedForLowMemory());
    RearmLowMemoryWarning();
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {50, 3, 50, 0}, BLEND_SCREEN));
    EXPECT_EQ(count(), 2u);
}

TEST_F(ShapeCacheTest, ClippingWritesNothingOutsideTheImageOrTheClip) {
    // Spikes and secondary spikes that run well past the image edges.
    cache.generator = GenerateSpikeShape;
    parameters.length = 40;
    parameters.numberOfPoints = 5;
    parameters.angle = 77;
    const ImageRect inside = {0, 0, 64, 48};
    const ImageRect guarded = {-8, -8, 72, 56};
    Image* image = Make(inside, guarded);
    for (int32_t y = guarded.top; y < guarded.bottom; y++)
        for (int32_t x = guarded.left; x < guarded.right; x++) {
            auto* p = reinterpret_cast<uint32_t*>(PixelAddress(image, x, y));
            bool guard = x < inside.left || x >= inside.right || y < inside.top || y >= inside.bottom;
            p[0] = p[1] = p[2] = guard ? 0x123456u : 0u;
            p[3] = UNIT_ONE;
        }
    // The same drawing with nothing clipped.
    Image* reference = Make({-300, -300, 364, 348}, {-300, -300, 364, 348}, false);
    const ShapePosition positions[] = {{0, 0, 0, 0}, {63, 3, 47, 3}, {-3, 1, 20, 2}, {30, 2, 60, 1}, {32, 0, 24, 0}};
    for (const ShapePosition& at : positions) {
        // A clip far wider than the image: the image's own bounds must hold.
        ASSERT_TRUE(DrawShapeInto(image, {-1000, -1000, 1000, 1000}, &cache, kWhite, at, BLEND_SCREEN));
        ASSERT_TRUE(DrawShapeInto(reference, reference->imageRect, &cache, kWhite, at, BLEND_SCREEN));
    }
    for (int32_t y = guarded.top; y < guarded.bottom; y++)
        for (int32_t x = guarded.left; x < guarded.right; x++) {
            bool guard = x < inside.left || x >= inside.right || y < inside.top || y >= inside.bottom;
            if (!guard) continue;
            ASSERT_EQ(Raw(image, x, y)[0], 0x123456u) << x << "," << y;
            ASSERT_EQ(Raw(image, x, y)[2], 0x123456u) << x << "," << y;
        }
    EXPECT_TRUE(SamePixels(image, reference, inside));
    EXPECT_FALSE(AllZero(image, inside));

    // A clip rectangle inside the image keeps everything outside it untouched.
    Image* clipped = Make(inside, inside);
    const ImageRect clip = {10, 5, 30, 25};
    for (const ShapePosition& at : positions)
        ASSERT_TRUE(DrawShapeInto(clipped, clip, &cache, kWhite, at, BLEND_SCREEN));
    EXPECT_TRUE(AllZero(clipped, inside, clip));
    EXPECT_TRUE(SamePixels(clipped, reference, clip));
}

TEST_F(ShapeCacheTest, ShapeBeyondTheClipBuildsOnlyItsOwnSubShape) {
    cache.generator = GenerateSpikeShape;
    Image* image = Make({0, 0, 32, 32}, {0, 0, 32, 32});
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {5000, 2, -4000, 1}, BLEND_SCREEN));
    for (int a = 0; a < 4; a++)
        for (int b = 0; b < 4; b++) EXPECT_EQ(cache.entry[a][b].built, a == 2 && b == 1) << a << "," << b;
    EXPECT_TRUE(AllZero(image, image->imageRect));
}

TEST_F(ShapeCacheTest, ContributionsBelowHalfTheThresholdAreSkipped) {
    gTestElements = {{0, 0, UNIT_ONE}};
    Image* image = Make({0, 0, 4, 4}, {0, 0, 4, 4});
    const uint32_t half = EffectThreshold / 2;
    // What a single white element at full intensity contributes for colour c.
    auto contribution = [](uint32_t c) { return Precise(Precise(c, UNIT_ONE), Precise(UNIT_ONE, UNIT_ONE)); };
    uint32_t first = half;
    while (contribution(first) < half) first++;

    ShapeColor none = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0};
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, none, {1, 0, 1, 0}, BLEND_ADD));
    EXPECT_TRUE(AllZero(image, image->imageRect)) << "a zero-intensity light source changes nothing";
    ShapeColor below = {first - 1, 0, 0, UNIT_ONE};
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, below, {1, 0, 1, 0}, BLEND_ADD));
    EXPECT_TRUE(AllZero(image, image->imageRect));
    ShapeColor at = {first, 0, 0, UNIT_ONE};
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, at, {2, 0, 2, 0}, BLEND_ADD));
    EXPECT_NE(Raw(image, 2, 2)[0], 0u);
    EXPECT_TRUE(AllZero(image, image->imageRect, {2, 2, 3, 3}));
    EXPECT_EQ(gBuildCount.load(), 1);
}

TEST_F(ShapeCacheTest, QuarterOffsetsOutsideZeroToThreeCarryIntoThePixel) {
    gTestElements = {{0, 0, UNIT_ONE}};
    Image* image = Make({0, 0, 20, 20}, {0, 0, 20, 20});
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {10, 5, 10, -1}, BLEND_SCREEN));
    EXPECT_TRUE(cache.entry[1][3].built);
    EXPECT_NE(Raw(image, 11, 9)[0], 0u);
    EXPECT_TRUE(AllZero(image, image->imageRect, {11, 9, 12, 10}));
}

// ---- the lazy build and its lock ----

namespace {
struct DrawJob {
    ShapeCache* cache;
    Image* image;
    int failures;
};
uint32_t DrawManyTimes(void* raw) {
    auto* job = static_cast<DrawJob*>(raw);
    for (int i = 0; i < 50; i++)
        if (!DrawShapeInto(job->image, job->image->imageRect, job->cache, kWhite, {40, 1, 40, 2}, BLEND_SCREEN))
            job->failures++;
    return 0;
}
uint32_t TakeMutexAndLeave(void*) { return OsWaitForSingleObject(GetShapeCreationMutex(), 0); }
}  // namespace

TEST_F(ShapeCacheTest, ConcurrentDrawsBuildASubShapeOnceUnderTheLock) {
    parameters.length = 30;
    cache.generator = CountedSoftFlare;
    Image* first = Make({0, 0, 80, 80}, {0, 0, 80, 80});
    Image* second = Make({0, 0, 80, 80}, {0, 0, 80, 80});
    DrawJob jobs[2] = {{&cache, first, 0}, {&cache, second, 0}};
    OsHandle threads[2];
    for (int i = 0; i < 2; i++) threads[i] = OsCreateThread(DrawManyTimes, &jobs[i], 0, nullptr);
    ASSERT_EQ(OsWaitForMultipleObjects(2, threads, true, OS_INFINITE), OS_WAIT_OBJECT_0);
    for (OsHandle thread : threads) OsCloseHandle(thread);
    EXPECT_EQ(jobs[0].failures + jobs[1].failures, 0);
    EXPECT_EQ(gBuildCount.load(), 1);
    EXPECT_EQ(gLockedBuilds.load(), 1);
    EXPECT_FALSE(AllZero(first, first->imageRect));
    EXPECT_TRUE(SamePixels(first, second, first->imageRect));
    EXPECT_EQ(RunOnOtherThread(ProbeMutex, nullptr), OS_WAIT_OBJECT_0) << "the lock is free again";
}

TEST_F(ShapeCacheTest, SamplingAndAnalysisBuildWithoutTheLock) {
    gTestElements = {{0, 0, UNIT_ONE}};
    Image* image = Make({0, 0, 8, 8}, {0, 0, 8, 8});
    PixelValue mean;
    EXPECT_TRUE(SampleShapeFrom(image, &cache, {2, 0, 2, 0}, &mean));
    ShapeStatistics statistics;
    EXPECT_TRUE(AnalyzeShapeFrom(image, &cache, {2, 1, 2, 0}, &statistics));
    EXPECT_EQ(gBuildCount.load(), 2);
    EXPECT_EQ(gUnlockedBuilds.load(), 2);
}

TEST_F(ShapeCacheTest, UnusableLockFailsTheDrawWithoutBuilding) {
    gTestElements = {{0, 0, UNIT_ONE}};
    Image* image = Make({0, 0, 8, 8}, {0, 0, 8, 8});
    CloseShapeCreationMutex();
    {
        CapturedReports reports;
        EXPECT_FALSE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {3, 0, 3, 0}, BLEND_SCREEN));
        EXPECT_TRUE(reports.Contains("System Error"));
        EXPECT_TRUE(reports.Contains("Attempt to wait for shape creation cache access failed."));
    }
    EXPECT_EQ(gBuildCount.load(), 0);
    EXPECT_TRUE(AllZero(image, image->imageRect));
    EXPECT_FALSE(cache.entry[0][0].built);
}

TEST_F(ShapeCacheTest, AbandonedLockIsReportedReleasedAndFailsTheDraw) {
    gTestElements = {{0, 0, UNIT_ONE}};
    Image* image = Make({0, 0, 8, 8}, {0, 0, 8, 8});
    ASSERT_EQ(RunOnOtherThread(TakeMutexAndLeave, nullptr), OS_WAIT_OBJECT_0);
    {
        CapturedReports reports;
        EXPECT_FALSE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {3, 0, 3, 0}, BLEND_SCREEN));
        EXPECT_TRUE(reports.Contains(
            "Wait for shape creation cache access failed since the owning thread exited:  WAIT_ABANDONED"));
    }
    EXPECT_EQ(gBuildCount.load(), 0);
    EXPECT_TRUE(AllZero(image, image->imageRect));
    EXPECT_EQ(RunOnOtherThread(ProbeMutex, nullptr), OS_WAIT_OBJECT_0) << "released after the report";
    EXPECT_TRUE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {3, 0, 3, 0}, BLEND_SCREEN));
}

TEST_F(ShapeCacheTest, BrokenCachesAreReportedAndFail) {
    Image* image = Make({0, 0, 8, 8}, {0, 0, 8, 8});
    PixelValue mean;
    ShapeStatistics statistics;
    cache.shapeType = 3;
    {
        CapturedReports reports;
        EXPECT_FALSE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {3, 0, 3, 0}, BLEND_SCREEN));
        EXPECT_FALSE(SampleShapeFrom(image, &cache, {3, 0, 3, 0}, &mean));
        EXPECT_FALSE(AnalyzeShapeFrom(image, &cache, {3, 0, 3, 0}, &statistics));
        EXPECT_TRUE(reports.Contains("DrawShapeInto detected shape type other than SHAPE_IMAGE:  3"));
        EXPECT_TRUE(reports.Contains("SampleShapeFrom detected shape type other than SHAPE_IMAGE:  3"));
        EXPECT_TRUE(reports.Contains("AnalyzeShapeFrom detected shape type other than SHAPE_IMAGE:  3"));
        EXPECT_TRUE(reports.Contains("Debug:  Unexpected Error"));
    }
    EXPECT_EQ(gBuildCount.load(), 0);

    cache.shapeType = SHAPE_IMAGE;
    cache.generator = nullptr;
    EXPECT_FALSE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {3, 0, 3, 0}, BLEND_SCREEN));
    EXPECT_FALSE(SampleShapeFrom(image, &cache, {3, 0, 3, 0}, &mean));
    EXPECT_FALSE(AnalyzeShapeFrom(image, &cache, {3, 0, 3, 0}, &statistics));
    EXPECT_EQ(RunOnOtherThread(ProbeMutex, nullptr), OS_WAIT_OBJECT_0) << "the lock is not kept after a failure";

    // Elements counted but no storage behind them.
    cache.entry[0][0].built = true;
    cache.entry[0][0].count = 2;
    cache.entry[0][0].right = cache.entry[0][0].bottom = 1;
    {
        CapturedReports reports;
        EXPECT_FALSE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {3, 0, 3, 0}, BLEND_SCREEN));
        EXPECT_FALSE(SampleShapeFrom(image, &cache, {3, 0, 3, 0}, &mean));
        EXPECT_TRUE(reports.Contains("NULL SubShapeEntry pointer detected."));
    }
    EXPECT_TRUE(AllZero(image, image->imageRect));
}

// ---- sampling and analysis ----

TEST_F(ShapeCacheTest, SamplingGivesTheWeightedMeanColour) {
    const uint32_t quarter = UNIT_ONE / 4;
    gTestElements = {{0, 0, UNIT_ONE}, {1, 0, 2 * quarter}, {-1, 0, quarter}, {0, 1, 3 * quarter}};
    Image* image = Make({0, 0, 10, 10}, {0, 0, 10, 10});
    const uint32_t a[3] = {0x345678, 0x9ABCDE, 0x100000};
    const uint32_t b[3] = {0xF00000, 0x000100, 0xFFFFFF};
    for (int32_t y = 0; y < 10; y++)
        for (int32_t x = 0; x < 10; x++) Set(image, x, y, a[0], a[1], a[2]);

    PixelValue mean;
    ASSERT_TRUE(SampleShapeFrom(image, &cache, {5, 0, 5, 0}, &mean));
    const uint32_t got[3] = {mean.c0, mean.c1, mean.c2};
    for (int k = 0; k < 3; k++) {
        EXPECT_LE(got[k], a[k]) << k;
        EXPECT_GE(got[k] + 1024, a[k]) << k;
    }
    EXPECT_EQ(mean.alpha, UNIT_ONE);
    EXPECT_EQ(mean.mask, UNIT_ONE);

    // One element on another colour: the weighted mean moves toward it.
    Set(image, 6, 5, b[0], b[1], b[2]);
    ASSERT_TRUE(SampleShapeFrom(image, &cache, {5, 0, 5, 0}, &mean));
    const double weights[4] = {UNIT_ONE, 2.0 * quarter, quarter, 3.0 * quarter};
    const double total = weights[0] + weights[1] + weights[2] + weights[3];
    const uint32_t got2[3] = {mean.c0, mean.c1, mean.c2};
    for (int k = 0; k < 3; k++) {
        double expected = (a[k] * (total - weights[1]) + b[k] * weights[1]) / total;
        EXPECT_NEAR(got2[k], expected, 1024.0) << k;
    }

    // At the left edge the element at dx = -1 is not read.
    Set(image, 1, 5, b[0], b[1], b[2]);
    ASSERT_TRUE(SampleShapeFrom(image, &cache, {0, 0, 5, 0}, &mean));
    const double inside = weights[0] + weights[1] + weights[3];
    EXPECT_NEAR(mean.c0, (a[0] * (inside - weights[1]) + b[0] * weights[1]) / inside, 1024.0);

    // Wholly outside: nothing to average.
    ASSERT_TRUE(SampleShapeFrom(image, &cache, {-50, 0, 5, 0}, &mean));
    EXPECT_EQ(mean.c0, 0u);
    EXPECT_EQ(mean.c1, 0u);
    EXPECT_EQ(mean.c2, 0u);

    // A generator that fails fails the sample.
    gTestResult = false;
    EXPECT_FALSE(SampleShapeFrom(image, &cache, {5, 3, 5, 3}, &mean));
}

TEST_F(ShapeCacheTest, AnalysisMeasuresTheBrightnessUnderTheShape) {
    const uint32_t quarter = UNIT_ONE / 4;
    gTestElements = {{0, 0, UNIT_ONE}, {1, 0, 2 * quarter}, {-1, 0, quarter}, {0, 1, 3 * quarter}};
    Image* image = Make({0, 0, 10, 10}, {0, 0, 10, 10});
    struct Probe {
        int32_t x, y;
        uint32_t c[3];
    } probes[] = {{5, 5, {0x800000, 0x400000, 0x200000}},
                  {6, 5, {0xFFFFFF, 0xFFFFFF, 0xFFFFFF}},
                  {4, 5, {0x000010, 0x000020, 0x000030}},
                  {5, 6, {0x123456, 0x654321, 0x0ABCDE}}};
    for (const Probe& p : probes) Set(image, p.x, p.y, p.c[0], p.c[1], p.c[2]);

    ShapeStatistics s;
    ASSERT_TRUE(AnalyzeShapeFrom(image, &cache, {5, 0, 5, 0}, &s));
    const double weights[4] = {UNIT_ONE, 2.0 * quarter, quarter, 3.0 * quarter};
    double total = 0, sum = 0;
    uint32_t lowest = UINT32_MAX, highest = 0;
    uint32_t v[4];
    for (int i = 0; i < 4; i++) {
        v[i] = BrightnessOf(probes[i].c[0], probes[i].c[1], probes[i].c[2]);
        lowest = std::min(lowest, v[i]);
        highest = std::max(highest, v[i]);
        total += weights[i];
        sum += weights[i] * v[i];
    }
    EXPECT_EQ(s.minimum, lowest);
    EXPECT_EQ(s.maximum, highest);
    EXPECT_NEAR(s.mean, sum / total, 1024.0);
    double squares = 0;
    for (int i = 0; i < 4; i++) squares += weights[i] * (double(v[i]) - s.mean) * (double(v[i]) - s.mean);
    EXPECT_NEAR(s.deviation, std::sqrt(squares / total), std::sqrt(squares / total) * 1e-5);
    EXPECT_GT(s.deviation, 1e5f);

    // Nothing inside the image, and an empty shape: the neutral statistics.
    ASSERT_TRUE(AnalyzeShapeFrom(image, &cache, {50, 0, 50, 0}, &s));
    EXPECT_EQ(s.minimum, UNIT_ONE);
    EXPECT_EQ(s.mean, 0u);
    EXPECT_EQ(s.maximum, 0u);
    EXPECT_EQ(s.deviation, 0.0f);
    gTestElements.clear();
    ASSERT_TRUE(AnalyzeShapeFrom(image, &cache, {5, 2, 5, 2}, &s));
    EXPECT_EQ(cache.entry[2][2].count, 0);
    EXPECT_EQ(s.minimum, UNIT_ONE);
    EXPECT_EQ(s.maximum, 0u);
    PixelValue mean;
    ASSERT_TRUE(SampleShapeFrom(image, &cache, {5, 2, 5, 2}, &mean));
    EXPECT_EQ(mean.c0, 0u);
    gTestResult = false;
    EXPECT_FALSE(AnalyzeShapeFrom(image, &cache, {5, 3, 5, 3}, &s));
}

// ---- release ----

TEST_F(ShapeCacheTest, ReleaseFreesEveryBufferAndClearsTheCache) {
    cache.generator = GenerateRingFlareShape;
    cache.builtWith = &parameters;
    uint64_t usage = GetCurrentBufferUsage();
    Image* image = Make({0, 0, 200, 200}, {0, 0, 200, 200});
    uint64_t withImage = GetCurrentBufferUsage();
    EXPECT_GT(withImage, usage);
    for (int a = 0; a < 4; a += 3)
        ASSERT_TRUE(DrawShapeInto(image, image->imageRect, &cache, kWhite, {100, a, 100, 1}, BLEND_SCREEN));
    EXPECT_GT(GetCurrentBufferUsage(), withImage);
    ReleaseShapeCache(&cache);
    EXPECT_EQ(GetCurrentBufferUsage(), withImage);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&cache);
    for (size_t i = 0; i < sizeof(cache); i++) ASSERT_EQ(bytes[i], 0) << i;
}
