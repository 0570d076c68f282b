// The host exchange's sample scaling and the host progress bar.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "host/host_image.h"
#include "host/progress.h"
#include "support/run_result.h"
#include "tests/test_support.h"

TEST(HostSamples, SixteenBitRoundTripIsExactForEveryHostValue) {
    for (uint32_t v = 0; v <= 32768; v++) {
        uint16_t internal = HostSampleToInternal16(static_cast<uint16_t>(v));
        ASSERT_EQ(InternalToHostSample16(internal), v) << v;
        // Nearest internal value: within half a step of v × 65535 / 32768.
        ASSERT_LE(std::abs(internal - v * 65535.0 / 32768.0), 0.5) << v;
    }
    EXPECT_EQ(HostSampleToInternal16(0), 0);
    EXPECT_EQ(HostSampleToInternal16(32768), 65535);
    EXPECT_EQ(HostSampleToInternal16(40000), 65535);  // out of the host range: full
    EXPECT_EQ(HostSampleToInternal16(16384), 32768);  // 32767.5 rounds up
    EXPECT_EQ(InternalToHostSample16(65535), 32768);
    EXPECT_EQ(InternalToHostSample16(0), 0);
    for (uint32_t w = 0; w <= 65535; w++)
        ASSERT_LE(std::abs(InternalToHostSample16(static_cast<uint16_t>(w)) - w * 32768.0 / 65535.0), 0.5) << w;
}

namespace {

struct ProgressCall {
    int32_t done, total;
    uint32_t thread;
};
std::vector<ProgressCall> gCalls;
int gAbortAfter = -1;  // abortProc answers true once this many progress calls were seen

void RecordProgress(int32 done, int32 total) { gCalls.push_back({done, total, OsGetCurrentThreadId()}); }
Boolean Abort() { return gAbortAfter >= 0 && static_cast<int>(gCalls.size()) >= gAbortAfter; }

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        gCalls.clear();
        gAbortAfter = -1;
        ForceGlobalErrorCode(0);
        record = static_cast<FilterRecord*>(std::calloc(1, sizeof(FilterRecord)));
        record->progressProc = RecordProgress;
        record->abortProc = Abort;
        SetProgressHost(record);
        InitializeImageEditorProgressBar();
    }
    void TearDown() override {
        ReleaseImageEditorProgressBar();
        SetProgressHost(nullptr);
        std::free(record);
        ForceGlobalErrorCode(0);
    }
    // Lets queued progress calls run, as the user-interface thread does while it waits.
    void RunQueuedCalls() {
        while (OsSleepEx(0, true) == OS_WAIT_IO_COMPLETION) {
        }
    }
    FilterRecord* record = nullptr;
};

struct Advance {
    int64_t units;
    int times;
};
uint32_t AdvanceFromWorker(void* raw) {
    auto* a = static_cast<Advance*>(raw);
    for (int i = 0; i < a->times; i++) AdvanceImageEditorProgress(a->units);
    return 0;
}

}  // namespace

TEST_F(ProgressTest, SmallTotalsAdvanceOneStepPerUnit) {
    ASSERT_TRUE(StartImageEditorProgress(40));
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].done, 0);
    EXPECT_EQ(gCalls[0].total, 40);
    ASSERT_TRUE(AdvanceImageEditorProgress(3));
    EXPECT_EQ(gCalls.size(), 1u);  // queued, not shown yet
    RunQueuedCalls();
    ASSERT_EQ(gCalls.size(), 2u);
    EXPECT_EQ(gCalls[1].done, 3);
}

TEST_F(ProgressTest, LargeTotalsAreShownInAHundredSteps) {
    ASSERT_TRUE(StartImageEditorProgress(1000));
    AdvanceImageEditorProgress(9);  // below one step: nothing queued
    RunQueuedCalls();
    EXPECT_EQ(gCalls.size(), 1u);
    AdvanceImageEditorProgress(16);  // 25 units: two steps
    RunQueuedCalls();
    ASSERT_EQ(gCalls.size(), 2u);
    EXPECT_EQ(gCalls[1].done, 2);
    EXPECT_EQ(gCalls[1].total, 100);
}

TEST_F(ProgressTest, WorkersReachTheHostOnlyThroughTheUserInterfaceThread) {
    ASSERT_TRUE(StartImageEditorProgress(100));
    Advance work = {1, 50};
    OsHandle threads[2] = {OsCreateThread(AdvanceFromWorker, &work, 0, nullptr),
                           OsCreateThread(AdvanceFromWorker, &work, 0, nullptr)};
    uint32_t result;
    do {
        result = OsWaitForMultipleObjects(2, threads, true, 10000, true);
    } while (result == OS_WAIT_IO_COMPLETION);
    ASSERT_EQ(result, OS_WAIT_OBJECT_0);
    RunQueuedCalls();
    for (OsHandle t : threads) OsCloseHandle(t);
    ASSERT_EQ(gCalls.size(), 101u);
    int32_t done = 0, total = 0;
    GetImageEditorProgress(&done, &total);
    EXPECT_EQ(done, 100);
    for (const auto& c : gCalls) EXPECT_EQ(c.thread, OsGetCurrentThreadId());
}

TEST_F(ProgressTest, ACancelInTheHostBecomesMinus128) {
    ASSERT_TRUE(StartImageEditorProgress(10));
    gAbortAfter = 2;
    AdvanceImageEditorProgress(1);
    RunQueuedCalls();
    EXPECT_EQ(GetGlobalErrorCode(), -128);
}

namespace {
uint32_t DisplayFromWorker(void* raw) {
    *static_cast<bool*>(raw) = DisplayImageEditorProgressBar(1, 2);
    return 0;
}
}  // namespace

TEST_F(ProgressTest, DisplayOffTheUserInterfaceThreadIsRefused) {
    CapturedReports reports;
    bool shown = true;
    OsHandle t = OsCreateThread(DisplayFromWorker, &shown, 0, nullptr);
    OsWaitForSingleObject(t, 5000);
    OsCloseHandle(t);
    EXPECT_FALSE(shown);
    EXPECT_TRUE(gCalls.empty());
    EXPECT_TRUE(reports.Contains("DisplayImageEditorProgressBar() - Function was not called from UI thread."));
}

// ---- the preview pyramid ----

#include "image/color_management.h"
#include "image/gamma_tables.h"

namespace {
std::vector<int32_t> gNotifications;
void Notice(int32_t code) { gNotifications.push_back(code); }
}  // namespace

TEST(HostPyramid, SixteenLevelsHalvingWithTheirScalesAndTheLevelChoice) {
    ForceGlobalErrorCode(0);
    ASSERT_TRUE(InitializeGammaTables());
    ASSERT_TRUE(InitializeColorManagement(IMAGE_MODE_RGB16, nullptr));
    Image* host = GetHostImage();
    ImageRect r = {0, 0, 300, 200};
    ASSERT_TRUE(CreateImage(host, r, r, IMAGE_MODE_RGB16, GetHostProfile(), false, false));
    PixelValue grey = {0x404040, 0x404040, 0x404040, 0xFFFFFFFE, PIXEL_KEEP};
    FillImageRect(host, grey, r);
    CapturedReports reports;
    Image* level = nullptr;
    double sx = 0.5, sy = 0.5;
    EXPECT_FALSE(GetHostProxyImageInfo(&level, &sx, &sy));
    EXPECT_TRUE(reports.Contains("GetHostProxyImageInfo() called before HostProxyImage rendered."));
    EXPECT_FALSE(GetHostProxyImageInfo(nullptr, &sx, &sy));
    EXPECT_TRUE(reports.Contains("Some boneheaded programmer passed a NULL pointer to GetHostProxyImageInfo()."));

    gNotifications.clear();
    SetPyramidNotification(Notice);
    ASSERT_TRUE(BuildHostProxyPyramid(nullptr, false));
    EXPECT_TRUE(IsHostProxyPyramidComplete());
    EXPECT_EQ(gNotifications.size(), 16u);  // one per level
    ASSERT_TRUE(BuildHostProxyPyramid(nullptr, false));
    EXPECT_EQ(gNotifications.back(), 16);  // already complete

    // A request of 1.0 or above gives level 0; 0.3 gives the first level below it (0.25).
    sx = 1.5;
    sy = 0.1;
    ASSERT_TRUE(GetHostProxyImageInfo(&level, &sx, &sy));
    EXPECT_EQ(level->width, 300);
    EXPECT_EQ(sx, 1.0);
    sx = sy = 1.0;  // 100 %: the full-resolution level, pixel for pixel
    ASSERT_TRUE(GetHostProxyImageInfo(&level, &sx, &sy));
    EXPECT_EQ(level->width, 300);
    sx = sy = 0.5;
    ASSERT_TRUE(GetHostProxyImageInfo(&level, &sx, &sy));
    EXPECT_EQ(level->width, 150);
    sx = sy = 0.3;
    ASSERT_TRUE(GetHostProxyImageInfo(&level, &sx, &sy));
    EXPECT_EQ(level->width, 75);
    EXPECT_EQ(level->height, 50);
    EXPECT_DOUBLE_EQ(sx, 0.25);
    sx = sy = 0.0;  // smaller than every level: the last one, at least one pixel
    ASSERT_TRUE(GetHostProxyImageInfo(&level, &sx, &sy));
    EXPECT_EQ(level->width, 1);
    EXPECT_EQ(level->height, 1);
    // The levels hold the image, linear, for the display.
    PixelValue v;
    level->InputImage(level, &v, 0, 0);
    EXPECT_GT(v.c0, 0u);
    SetPyramidNotification(nullptr);
    ReleaseHostImage(nullptr, false);
    EXPECT_FALSE(IsHostProxyPyramidComplete());
    ReleaseColorManagement();
    ReleaseGammaTables();
}
