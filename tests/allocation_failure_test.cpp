// Every allocation of a whole filter run made to fail in turn, as a host
// with little memory left would make it fail: tracked buffers, operator new
// and Little CMS's. For each failure point the run must end with a
// clean result, the host's image must be either untouched or rendered (a
// render short of memory says so), the host interface must be left in order,
// and nothing may leak (LeakSanitizer, in the sanitizer build).

#include <gtest/gtest.h>


#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "host/host_abi.h"
#include "host/plugin_state.h"
#include "params/filter_parameters.h"
#include "support/debug_log.h"
#include "support/fault_injection.h"
#include "support/thread_pool.h"
#include "tests/host_test_support.h"
#include "tests/test_support.h"
#include "tools/hostsim/host_simulator.h"

extern "C" void PluginMain(int16 selector, void* block, intptr_t* data, int16* result);

// ---- operator new goes through the countdown in this test program ----
//
// Only on the plug-in's worker threads: the host simulator runs on the
// calling thread, and a real host's callbacks never throw into the plug-in.
// Tracked buffers and Little CMS allocations fail on every thread.
thread_local bool tHostThread = false;
// Every operator new on this thread fails, and is counted.
thread_local bool tRefuseAll = false;
thread_local int tRefused = 0;

void* operator new(std::size_t size) {
    if (tRefuseAll) {
        tRefused++;
        throw std::bad_alloc();
    }
    if (!tHostThread && AllocationShouldFail()) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (tRefuseAll) {
        tRefused++;
        return nullptr;
    }
    if (!tHostThread && AllocationShouldFail()) return nullptr;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __lsan_do_recoverable_leak_check();
// Under AddressSanitizer: whether anything the run allocated is left
// unreachable (LeakSanitizer prints what and where).
bool RunLeaked() { return __lsan_do_recoverable_leak_check() != 0; }
#else
bool RunLeaked() { return false; }
#endif

// PluginMain with the countdown running only while the plug-in runs.
extern "C" void CountedPluginMain(int16 selector, void* block, intptr_t* data, int16* result) {
    tHostThread = true;
    EnableAllocationCounting(true);
    PluginMain(selector, block, data, result);
    EnableAllocationCounting(false);
}

struct Outcome {
    int16 result;
    SimDocument document;
    std::string violations;  // empty when the host interface was left in order
    bool warned;
};

Outcome RunWithFailureAt(const SimDocument& input, int64_t failAt) {
    ShownMessageBoxes().clear();
    HostSimulator host{CountedPluginMain};
    host.document = input;
    host.options.callParameters = false;
    host.options.playInfo = PLAY_INFO_SILENT;
    FilterParameters p = FACTORY_PARAMETERS;
    p.slot[SLOT_LENGTH] = 60;
    host.PlayDescriptor(DescriptorOfRecord(p));
    ArmAllocationFailure(failAt);
    EnableAllocationCounting(false);
    RunLog run = host.RunFilter();
    // The run's result: that of the first selector that failed.
    int16 result = noErr;
    for (const SelectorCall& call : run.calls)
        if (call.result != noErr) {
            result = call.result;
            break;
        }
    std::string violations;
    for (const std::string& v : run.violations) violations += "\n  " + v;
    Outcome o{result, host.document, violations, false};
    for (const ShownMessageBox& box : ShownMessageBoxes())
        if (box.text.find("Low memory") != std::string::npos) o.warned = true;
    return o;
}

// The same picture up to rounding: Little CMS, short of memory for an
// optimised transform, computes with its general one, which rounds a little
// differently (two units in 8 or 16 bits, 1e-4 in floats).
bool SamePicture(SimDocument& a, SimDocument& b) {
    const double tolerance = a.IsFloat() ? 1e-4 : 2.0;
    for (int32 p = 0; p < a.ColorPlanes(); p++)
        for (int32 y = 0; y < a.height; y++)
            for (int32 x = 0; x < a.width; x++)
                if (std::fabs(a.Get(p, x, y) - b.Get(p, x, y)) > tolerance) return false;
    return a.planes.size() == b.planes.size() && (a.planes.size() == static_cast<size_t>(a.ColorPlanes()) ||
                                                  a.planes.back() == b.planes.back());  // transparency exact
}

class AllocationFailures : public ::testing::Test {
protected:
    // Little CMS's allocations (through the plug-in's memory handler) fail
    // too, except while a transform is made: Little CMS 2.14 itself crashes
    // when an allocation fails inside cmsDetectRGBProfileGamma then.
    void TearDown() override {
        ArmAllocationFailure(0);
        EnableAllocationCounting(false);
        SetProcessorCountForTesting(0);
        EXPECT_FALSE(gPlugin.initialised) << "a failed run left the plug-in's state up";
    }

    struct Tally {
        int64_t tried = 0, failedRuns = 0, warnedRuns = 0;
    };

    // Fails each allocation of a whole run of `mode` in turn (at most
    // `budget` of them, spread evenly; 0: every one) and checks each run:
    // the host interface left in order, and either the picture the run
    // without failures makes (or one short of effects that says so), or
    // the out-of-memory result with the host's image untouched.
    void Walk(int16 mode, int64_t budget, Tally* tally) {
        SimDocument input = MakeSimDocument(mode, 48, 36, true, true);
        FillSkyPattern(input, 5);
        SetEllipticSelection(input);
        Outcome clean = RunWithFailureAt(input, 0);
        ASSERT_EQ(clean.result, noErr) << SimModeName(mode);
        const int64_t points = AllocationsCounted();
        ASSERT_GT(points, 50) << SimModeName(mode);
        const int64_t step = budget && points > budget ? points / budget : 1;
        for (int64_t n = 1; n <= points; n += step) {
            Outcome o = RunWithFailureAt(input, n);
            tally->tried++;
            const std::string at = std::string(SimModeName(mode)) + " failing allocation " + std::to_string(n);
            EXPECT_TRUE(o.violations.empty()) << at << ":" << o.violations;
            EXPECT_FALSE(RunLeaked()) << at << " leaked";
            if (o.result == noErr) {
                if (o.warned) tally->warnedRuns++;
                EXPECT_TRUE(o.warned || SamePicture(o.document, clean.document)) << at << " changed the picture silently";
            } else {
                tally->failedRuns++;
                EXPECT_EQ(o.result, memFullErr) << at << " gave another cause than memory";
                EXPECT_TRUE(o.document.planes == input.planes) << at << " left a half-written image";
            }
            if (HasFailure()) return;
        }
    }

    void WalkAllModes(int64_t budget, const char* what) {
        Tally tally;
        for (int16 mode : {plugInModeRGB48, plugInModeRGBColor, plugInModeRGB96, plugInModeGrayScale,
                           plugInModeGray16, plugInModeGray32}) {
            Walk(mode, budget, &tally);
            if (HasFailure()) return;
        }
        std::printf("%s: %lld failure points tried: %lld runs ended with the out-of-memory result and the image "
                    "untouched, %lld drew the picture with the low-memory warning, the rest drew it whole; "
                    "0 crashes\n",
                    what, static_cast<long long>(tally.tried), static_cast<long long>(tally.failedRuns),
                    static_cast<long long>(tally.warnedRuns));
    }
};

// Reporting that memory ran out must not need memory: with every operator
// new refused, reports of every kind are formatted, seen and queued without
// a single one, and nothing throws.
char gLastLine[4096];
void KeepLine(uint32_t, const char* line) { std::snprintf(gLastLine, sizeof gLastLine, "%s", line); }

TEST(ReportsWithoutMemory, AreFormattedWithoutOneAllocation) {
    static char unexpected[4096], system[4096], runTime[4096], longText[5001];
    std::memset(longText, 'x', sizeof longText - 1);
    DebugReportObserver previous = SetDebugReportObserver(KeepLine);
    tRefused = 0;
    tRefuseAll = true;
    ReportUnexpected(__LINE__, "Could not allocate %u bytes for the %s.", 4096u, "effects strip");
    std::memcpy(unexpected, gLastLine, sizeof gLastLine);
    DebugEvent(__LINE__, SYSTEM_ERROR, OS_ERROR_NOT_ENOUGH_MEMORY)
        .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not create event %d.", 3);
    std::memcpy(system, gLastLine, sizeof gLastLine);
    DebugEvent(__LINE__, CRT_LIBRARY_ERROR, ENOMEM).Report(OS_MB_ICONERROR, "Caption", "fwrite() failed");
    std::memcpy(runTime, gLastLine, sizeof gLastLine);
    ReportUnexpected(__LINE__, "%s", longText);
    const size_t longLine = std::strlen(gLastLine);
    tRefuseAll = false;
    SetDebugReportObserver(previous);

    EXPECT_EQ(tRefused, 0) << "a report asked for memory";
    EXPECT_NE(std::string(unexpected).find("Debug Message: 'Debug:  Unexpected Error' - 'Could not allocate 4096 "
                                           "bytes for the effects strip.'"),
              std::string::npos)
        << unexpected;
    EXPECT_NE(std::string(system).find("System Error: '" +
                                       std::string(SystemErrorText(OS_ERROR_NOT_ENOUGH_MEMORY).c_str()) +
                                       "' : 'Debug:  Unexpected Error' - 'Could not create event 3.'"),
              std::string::npos)
        << system;
    EXPECT_NE(std::string(runTime).find("C Run-Time Library Error: '" + std::string(RunTimeErrorText(ENOMEM).c_str()) +
                                        "' : 'Caption' - 'fwrite() failed'"),
              std::string::npos)
        << runTime;
    EXPECT_GT(longLine, 2000u);  // cut to its buffer, not dropped
}

// One processor: every allocation comes in the same order in every run, so
// each point is failed exactly once, and a failure can be replayed.
TEST_F(AllocationFailures, EveryAllocationOfAWholeRunMayFail) {
    SetProcessorCountForTesting(1);
    WalkAllModes(0, "one thread");
}

// Four sections at once: the order varies from run to run, so the points are
// a sample, but they fall between threads that have started and threads
// still to be waited for.
TEST_F(AllocationFailures, AllocationsFailWhileManyThreadsRun) {
    SetProcessorCountForTesting(4);
    WalkAllModes(120, "four threads");
}

}  // namespace
