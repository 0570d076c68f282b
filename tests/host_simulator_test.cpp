// The host simulator on its own: scripted plug-ins that misuse the host
// interface must be reported, and well-behaved ones must get exactly the
// data a host hands out (planes, strides, rates, padding, 32-bit
// rectangles, descriptors, the registry).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/host_abi.h"
#include "tests/test_support.h"
#include "tools/hostsim/host_simulator.h"

namespace {

// The scripted plug-in: one function per test, reached through a plain entry point.
struct Call {
    int16 selector;
    FilterRecord* record;
    intptr_t* data;
    int16* result;
};
std::function<void(Call&)> gScript;

void ScriptedMain(int16 selector, void* block, intptr_t* data, int16* result) {
    Call call{selector, static_cast<FilterRecord*>(block), data, result};
    if (gScript) gScript(call);
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n  " + line;
    return text;
}

bool AnyContains(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

class Simulator : public ::testing::Test {
protected:
    void SetUp() override { host.document = MakeSimDocument(plugInModeRGBColor, 16, 12); }
    void TearDown() override { gScript = nullptr; }
    HostSimulator host{ScriptedMain};
};

void Clear(Rect& r) { r = Rect{0, 0, 0, 0}; }
void ClearAll(FilterRecord* r) {
    Clear(r->inRect);
    Clear(r->outRect);
    Clear(r->maskRect);
}

// ---------------------------------------------------------------------------
// Strictness
// ---------------------------------------------------------------------------

TEST_F(Simulator, AWritePastOutDataIsReported) {
    gScript = [](Call& c) {
        if (c.selector == filterSelectorStart) {
            c.record->outRect = Rect{0, 0, 4, 4};
            c.record->outLoPlane = 0;
            c.record->outHiPlane = 2;
            ASSERT_EQ(c.record->advanceState(), noErr);
            auto* out = static_cast<uint8_t*>(c.record->outData);
            out[c.record->outRowBytes * 4 + 2] = 0;  // three bytes past the last row
        }
        if (c.selector == filterSelectorContinue) ClearAll(c.record);
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorFinish), noErr);
    EXPECT_TRUE(AnyContains(run.violations, "start: the plug-in wrote up to 3 bytes past the end of outData"))
        << Joined(run.violations);
    EXPECT_EQ(run.violations.size(), 1u) << Joined(run.violations);
}

TEST_F(Simulator, AWriteBeforeInDataIsReported) {
    gScript = [](Call& c) {
        if (c.selector == filterSelectorStart) {
            c.record->inRect = Rect{2, 2, 6, 6};
            c.record->inLoPlane = 0;
            c.record->inHiPlane = 0;
            ASSERT_EQ(c.record->advanceState(), noErr);
            static_cast<uint8_t*>(c.record->inData)[-1] = 9;
            ClearAll(c.record);
        }
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "1 bytes before the start of inData")) << Joined(run.violations);
}

TEST_F(Simulator, AWriteOutsideAHandleIsReported) {
    gScript = [](Call& c) {
        if (c.selector == filterSelectorParameters) {
            Handle h = c.record->handleProcs->newProc(4);
            Ptr p = c.record->handleProcs->lockProc(h, 1);
            p[4] = 1;
            c.record->handleProcs->unlockProc(h);
            c.record->handleProcs->disposeProc(h);
        }
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "wrote outside the 4 bytes of a handle")) << Joined(run.violations);
}

TEST_F(Simulator, CallingAHandleProcedureBeyondTheOfferedCountIsReportedAndAnswersNull) {
    host.options.handleProcCount = 4;
    Ptr locked = reinterpret_cast<Ptr>(1);
    gScript = [&locked](Call& c) {
        if (c.selector == filterSelectorParameters) {
            EXPECT_EQ(c.record->handleProcs->numHandleProcs, 4);
            Handle h = c.record->handleProcs->newProc(8);
            locked = c.record->handleProcs->lockProc(h, 1);  // slot 4: not offered
            c.record->handleProcs->disposeProc(h);
        }
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(locked, nullptr);
    EXPECT_TRUE(AnyContains(run.violations, "parameters: HandleProcs slot 4 (lockProc) called: the host did not offer it"))
        << Joined(run.violations);
}

TEST_F(Simulator, UnimplementedRecordProceduresAreTraps) {
    OSErr answer = 0;
    gScript = [&answer](Call& c) {
        if (c.selector == filterSelectorPrepare) {
            using DisplayPixels = OSErr (*)(const void*, const void*, int32, int32, void*);
            answer = reinterpret_cast<DisplayPixels>(c.record->displayPixels)(nullptr, nullptr, 0, 0, nullptr);
        }
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(answer, paramErr);
    EXPECT_TRUE(AnyContains(run.violations, "FilterRecord slot 2 (displayPixels)")) << Joined(run.violations);
}

TEST_F(Simulator, AHandleLeftLockedAfterASelectorIsReported) {
    gScript = [](Call& c) {
        if (c.selector == filterSelectorParameters) {
            c.record->parameters = c.record->handleProcs->newProc(36);
            c.record->handleProcs->lockProc(c.record->parameters, 1);
        }
        if (c.selector == filterSelectorPrepare) c.record->handleProcs->unlockProc(c.record->parameters);
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "parameters: a 36-byte handle was left locked")) << Joined(run.violations);
    EXPECT_FALSE(AnyContains(run.violations, "prepare:")) << Joined(run.violations);
}

TEST_F(Simulator, DisposingAHandleTwiceIsReported) {
    gScript = [](Call& c) {
        if (c.selector == filterSelectorParameters) {
            Handle h = c.record->handleProcs->newProc(2);
            c.record->handleProcs->disposeProc(h);
            c.record->handleProcs->disposeProc(h);
            EXPECT_EQ(c.record->handleProcs->getSizeProc(h), 0);
        }
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "disposeProc given a handle that was already disposed of"))
        << Joined(run.violations);
    EXPECT_TRUE(AnyContains(run.violations, "getSizeProc given a handle that was already disposed of"));
}

TEST_F(Simulator, AHandleNobodyHoldsAtTheEndOfTheRunIsALeak) {
    gScript = [](Call& c) {
        if (c.selector == filterSelectorPrepare) c.record->handleProcs->newProc(100);
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "a 100-byte handle made during prepare was never disposed of"))
        << Joined(run.violations);
}

TEST_F(Simulator, TheParametersAndDataHandlesAreKeptBetweenRuns) {
    int runs = 0;
    gScript = [&runs](Call& c) {
        if (c.selector != filterSelectorParameters) return;
        runs++;
        if (!c.record->parameters) c.record->parameters = c.record->handleProcs->newProc(36);
        if (!*c.data) *c.data = reinterpret_cast<intptr_t>(c.record->handleProcs->newProc(1));
    };
    host.RunFilter();
    const Handle parameters = host.Parameters();
    const intptr_t data = host.DataSlot();
    ASSERT_NE(parameters, nullptr);
    host.RunFilter();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(host.Parameters(), parameters);
    EXPECT_EQ(host.DataSlot(), data);
    EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
}

TEST_F(Simulator, UnbalancedSuitesAreReportedAtTheEndOfTheRun) {
    gScript = [](Call& c) {
        const void* suite = nullptr;
        if (c.selector == filterSelectorParameters) {
            ASSERT_EQ(c.record->sSPBasic->AcquireSuite(PROPERTY_SUITE_NAME, 1, &suite), kSPNoError);
            ASSERT_EQ(c.record->sSPBasic->AcquireSuite(ERROR_SUITE_NAME, 1, &suite), kSPNoError);
        }
        if (c.selector == filterSelectorPrepare) {
            c.record->sSPBasic->ReleaseSuite(ERROR_SUITE_NAME, 1);
            c.record->sSPBasic->ReleaseSuite(ERROR_SUITE_NAME, 1);  // once too often
        }
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "prepare: ReleaseSuite(\"" ERROR_SUITE_NAME "\", 1) without a matching"))
        << Joined(run.violations);
    EXPECT_TRUE(AnyContains(run.violations, "AcquireSuite(\"" PROPERTY_SUITE_NAME "\", 1) was not matched"))
        << Joined(run.violations);
    EXPECT_EQ(run.violations.size(), 2u) << Joined(run.violations);
}

TEST_F(Simulator, SuitesTheHostDoesNotOfferAreNotFound) {
    host.options.offerErrorSuite = false;
    host.options.actionDescriptorVersion = 2;
    SPErr missing = 0, error = 0, v3 = 0, v2 = 0;
    gScript = [&](Call& c) {
        if (c.selector != filterSelectorParameters) return;
        const void* suite = nullptr;
        SPBasicSuite* basic = c.record->sSPBasic;
        missing = basic->AcquireSuite("no such suite", 1, &suite);
        error = basic->AcquireSuite(ERROR_SUITE_NAME, 1, &suite);
        v3 = basic->AcquireSuite(ACTION_DESCRIPTOR_SUITE_NAME, 3, &suite);
        v2 = basic->AcquireSuite(ACTION_DESCRIPTOR_SUITE_NAME, 2, &suite);
        if (v2 == kSPNoError) basic->ReleaseSuite(ACTION_DESCRIPTOR_SUITE_NAME, 2);
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(missing, kSPSuiteNotFoundError);
    EXPECT_EQ(error, kSPSuiteNotFoundError);
    EXPECT_EQ(v3, kSPSuiteNotFoundError);
    EXPECT_EQ(v2, kSPNoError);
    EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
}

TEST_F(Simulator, TheVersionTwoDescriptorTableTrapsTheSixtyFourBitSlots) {
    OSErr answer = 0;
    gScript = [&answer](Call& c) {
        if (c.selector != filterSelectorParameters) return;
        const void* suite = nullptr;
        ASSERT_EQ(c.record->sSPBasic->AcquireSuite(ACTION_DESCRIPTOR_SUITE_NAME, 2, &suite), kSPNoError);
        auto* table = static_cast<const ActionDescriptorSuite*>(suite);
        PIActionDescriptor d = nullptr;
        ASSERT_EQ(table->Make(&d), noErr);
        using PutInteger64 = OSErr (*)(PIActionDescriptor, DescriptorKeyID, int64);
        answer = reinterpret_cast<PutInteger64>(table->PutInteger64)(d, FourCC("big "), 1);
        table->Free(d);
        c.record->sSPBasic->ReleaseSuite(ACTION_DESCRIPTOR_SUITE_NAME, 2);
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(answer, paramErr);
    EXPECT_TRUE(AnyContains(run.violations, "slot 46 (PutInteger64)")) << Joined(run.violations);
    EXPECT_EQ(run.violations.size(), 1u) << Joined(run.violations);
}

TEST_F(Simulator, UnimplementedDescriptorSlotsAreTraps) {
    gScript = [](Call& c) {
        if (c.selector != filterSelectorParameters) return;
        const void* suite = nullptr;
        c.record->sSPBasic->AcquireSuite(ACTION_DESCRIPTOR_SUITE_NAME, 3, &suite);
        auto* table = static_cast<const ActionDescriptorSuite*>(suite);
        using PutString = OSErr (*)(PIActionDescriptor, DescriptorKeyID, const char*);
        EXPECT_EQ(reinterpret_cast<PutString>(table->PutString)(nullptr, 0, "x"), paramErr);
        c.record->sSPBasic->ReleaseSuite(ACTION_DESCRIPTOR_SUITE_NAME, 3);
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "action descriptor suite slot 12 (PutString) called"))
        << Joined(run.violations);
}

TEST_F(Simulator, RectanglesLeftSetAfterFinishAreReported) {
    gScript = [](Call& c) {
        if (c.selector == filterSelectorContinue) ClearAll(c.record);
        if (c.selector == filterSelectorFinish) c.record->inRect = Rect{0, 0, 1, 1};
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "finish: a rectangle is still set after finish")) << Joined(run.violations);
}

TEST_F(Simulator, TheContinueLoopIsBoundedAndFinishStillFollows) {
    host.options.maxContinueCalls = 5;
    gScript = [](Call& c) {
        if (c.selector == filterSelectorStart) {
            c.record->inRect = Rect{0, 0, 2, 2};
            c.record->inHiPlane = 0;
        }
        if (c.selector == filterSelectorFinish) ClearAll(c.record);
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.CallCount(filterSelectorContinue), 5);
    EXPECT_EQ(run.Result(filterSelectorFinish), noErr);
    EXPECT_TRUE(AnyContains(run.violations, "continue was called 5 times")) << Joined(run.violations);
}

TEST_F(Simulator, FinishFollowsOnlyASuccessfulStart) {
    gScript = [](Call& c) {
        if (c.selector == filterSelectorStart) *c.result = userCanceledErr;
    };
    RunLog run = host.RunFilter();
    EXPECT_FALSE(run.Called(filterSelectorFinish));

    gScript = [](Call& c) {
        if (c.selector == filterSelectorStart) c.record->outRect = Rect{0, 0, 1, 1};
        if (c.selector == filterSelectorContinue) *c.result = paramErr;  // rectangles left set
        if (c.selector == filterSelectorFinish) ClearAll(c.record);
    };
    run = host.RunFilter();
    EXPECT_EQ(run.Result(filterSelectorContinue), paramErr);
    EXPECT_EQ(run.CallCount(filterSelectorContinue), 1);
    EXPECT_TRUE(run.Called(filterSelectorFinish));
}

TEST_F(Simulator, ProgressFromAnotherThreadIsReported) {
    std::thread::id workerId;
    gScript = [&workerId](Call& c) {
        if (c.selector != filterSelectorStart) return;
        c.record->progressProc(1, 4);
        std::thread worker([&c] { c.record->progressProc(2, 4); });
        workerId = worker.get_id();
        worker.join();
    };
    RunLog run = host.RunFilter();
    ASSERT_EQ(run.progress.size(), 2u);
    EXPECT_TRUE(run.progress[0].hostThread);
    EXPECT_EQ(run.progress[0].thread, std::this_thread::get_id());
    EXPECT_FALSE(run.progress[1].hostThread);
    EXPECT_EQ(run.progress[1].thread, workerId);
    EXPECT_EQ(run.progress[1].done, 2);
    EXPECT_EQ(run.progress[1].selector, filterSelectorStart);
    EXPECT_TRUE(AnyContains(run.violations, "progressProc called from a thread other than the host's"))
        << Joined(run.violations);
    EXPECT_EQ(run.violations.size(), 1u);
}

TEST_F(Simulator, ProceduresCalledAfterTheSelectorReturnedAreReported) {
    ProgressProc progress = nullptr;
    gScript = [&progress](Call& c) {
        if (c.selector == filterSelectorParameters) progress = c.record->progressProc;
    };
    host.BeginRun();
    host.Call(filterSelectorParameters);
    progress(0, 1);
    host.EndRun();
    EXPECT_TRUE(AnyContains(host.Violations(), "progressProc called while no selector was running"))
        << Joined(host.Violations());
}

TEST_F(Simulator, AScriptedCancelStopsTheRunAndLeavesTheDocumentAsItWas) {
    FillSkyPattern(host.document, 3);
    const SimDocument before = host.document;
    host.options.cancelAtProgressCall = 2;
    std::vector<bool> aborts;
    OSErr afterCancel = 0;
    gScript = [&](Call& c) {
        if (c.selector == filterSelectorStart) {
            c.record->outRect = Rect{0, 0, 12, 16};
            c.record->outHiPlane = 2;
        }
        if (c.selector == filterSelectorContinue) {
            std::memset(c.record->outData, 255, static_cast<size_t>(c.record->outRowBytes) * 12);
            for (int i = 1; i <= 3; i++) {
                c.record->progressProc(i, 3);
                aborts.push_back(c.record->abortProc() != 0);
            }
            afterCancel = c.record->advanceState();
            *c.result = userCanceledErr;
        }
        if (c.selector == filterSelectorFinish) ClearAll(c.record);
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(aborts, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(afterCancel, userCanceledErr);
    EXPECT_TRUE(run.cancelled);
    EXPECT_TRUE(run.Called(filterSelectorFinish));
    EXPECT_TRUE(host.document.planes == before.planes) << "a cancelled run must not change the document";
    EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
}

// ---------------------------------------------------------------------------
// Image exchange
// ---------------------------------------------------------------------------

TEST_F(Simulator, InputIsInterleavedByPlaneWithTheHostsRowStride) {
    host.document = MakeSimDocument(plugInModeRGB48, 9, 7);
    SimDocument& d = host.document;
    for (int32 y = 0; y < d.height; y++)
        for (int32 x = 0; x < d.width; x++)
            for (int32 p = 0; p < 3; p++) d.Set(p, x, y, 1000 * p + 10 * y + x);
    host.options.rowSlack = 6;
    std::vector<uint16_t> seen;
    int32 rowBytes = 0, columnBytes = 0, planeBytes = 0;
    gScript = [&](Call& c) {
        if (c.selector != filterSelectorStart) return;
        c.record->inRect = Rect{2, 3, 5, 8};  // rows 2..4, columns 3..7
        c.record->inLoPlane = 1;
        c.record->inHiPlane = 2;
        ASSERT_EQ(c.record->advanceState(), noErr);
        rowBytes = c.record->inRowBytes;
        columnBytes = c.record->inColumnBytes;
        planeBytes = c.record->inPlaneBytes;
        for (int row = 0; row < 3; row++) {
            const auto* p = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(c.record->inData) +
                                                              row * c.record->inRowBytes);
            seen.insert(seen.end(), p, p + 5 * 2);
        }
        ClearAll(c.record);
    };
    host.RunFilter();
    EXPECT_EQ(rowBytes, 5 * 2 * 2 + 6);
    EXPECT_EQ(columnBytes, 4);
    EXPECT_EQ(planeBytes, 2);
    ASSERT_EQ(seen.size(), 30u);
    for (int row = 0; row < 3; row++)
        for (int column = 0; column < 5; column++)
            for (int p = 0; p < 2; p++)
                EXPECT_EQ(seen[static_cast<size_t>((row * 5 + column) * 2 + p)],
                          1000 * (p + 1) + 10 * (row + 2) + (column + 3));
}

TEST_F(Simulator, OutputIsCommittedAtTheNextAdvanceStateAndAtTheEndOfTheLoop) {
    host.document = MakeSimDocument(plugInModeGray32, 8, 8);
    double midway = -1;
    gScript = [&](Call& c) {
        if (c.selector == filterSelectorStart) {
            c.record->outRect = Rect{0, 0, 4, 8};  // top half
            c.record->outHiPlane = 0;
            ASSERT_EQ(c.record->advanceState(), noErr);
            for (int y = 0; y < 4; y++)
                for (int x = 0; x < 8; x++)
                    reinterpret_cast<float*>(static_cast<uint8_t*>(c.record->outData) + y * c.record->outRowBytes)[x] =
                        0.25f;
            c.record->outRect = Rect{4, 0, 8, 8};  // bottom half, written in continue
            ASSERT_EQ(c.record->advanceState(), noErr);
            midway = host.document.Get(0, 3, 3);
        }
        if (c.selector == filterSelectorContinue) {
            for (int y = 0; y < 4; y++)
                for (int x = 0; x < 8; x++)
                    reinterpret_cast<float*>(static_cast<uint8_t*>(c.record->outData) + y * c.record->outRowBytes)[x] =
                        0.75f;
            ClearAll(c.record);
        }
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(midway, 0.25);
    EXPECT_EQ(host.document.Get(0, 7, 0), 0.25);
    EXPECT_EQ(host.document.Get(0, 0, 7), 0.75);
    EXPECT_EQ(run.CallCount(filterSelectorContinue), 1);
    EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
}

TEST_F(Simulator, ThirtyTwoBitRectanglesAreHonouredOnlyWhenThePlugInSaysSo) {
    host.document = MakeSimDocument(plugInModeGrayScale, 10, 10);
    for (int32 y = 0; y < 10; y++)
        for (int32 x = 0; x < 10; x++) host.document.Set(0, x, y, y * 10 + x);
    std::vector<int> first;
    gScript = [&](Call& c) {
        if (c.selector != filterSelectorStart) return;
        BigDocumentStruct* big = c.record->bigDocumentData;
        ASSERT_NE(big, nullptr);
        EXPECT_EQ(big->filterRect32.right, 10);
        c.record->inRect = Rect{0, 0, 1, 1};   // the 16-bit form says pixel 0,0
        big->inRect32 = VRect{5, 6, 6, 7};     // the 32-bit form says pixel 6,5
        ASSERT_EQ(c.record->advanceState(), noErr);
        first.push_back(*static_cast<uint8_t*>(c.record->inData));
        big->PluginUsing32BitCoordinates = 1;
        ASSERT_EQ(c.record->advanceState(), noErr);
        first.push_back(*static_cast<uint8_t*>(c.record->inData));
        big->inRect32 = VRect{0, 0, 0, 0};
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(first, (std::vector<int>{0, 56}));
    EXPECT_TRUE(run.used32BitCoordinates);
}

TEST_F(Simulator, InputOutsideTheImageIsPaddedAsThePlugInAsks) {
    host.document = MakeSimDocument(plugInModeGrayScale, 4, 4);
    for (int32 y = 0; y < 4; y++)
        for (int32 x = 0; x < 4; x++) host.document.Set(0, x, y, 100 + y * 4 + x);
    std::vector<int> replicated, padded;
    OSErr refused = 0;
    gScript = [&](Call& c) {
        if (c.selector != filterSelectorStart) return;
        c.record->inRect = Rect{-1, -1, 1, 1};  // one pixel beyond the top-left corner
        c.record->inputPadding = -1;
        ASSERT_EQ(c.record->advanceState(), noErr);
        const auto* p = static_cast<const uint8_t*>(c.record->inData);
        replicated = {p[0], p[1], p[c.record->inRowBytes], p[c.record->inRowBytes + 1]};
        c.record->inputPadding = 7;
        ASSERT_EQ(c.record->advanceState(), noErr);
        p = static_cast<const uint8_t*>(c.record->inData);
        padded = {p[0], p[1], p[c.record->inRowBytes], p[c.record->inRowBytes + 1]};
        c.record->inputPadding = -3;
        refused = c.record->advanceState();
        ClearAll(c.record);
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(replicated, (std::vector<int>{100, 100, 100, 100}));
    EXPECT_EQ(padded, (std::vector<int>{7, 7, 7, 100}));
    EXPECT_EQ(refused, paramErr);
    EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
}

TEST_F(Simulator, RatesAboveOneSampleEveryNthPixelOfImageAndMask) {
    host.document = MakeSimDocument(plugInModeGrayScale, 8, 8, false, true);
    for (int32 y = 0; y < 8; y++)
        for (int32 x = 0; x < 8; x++) {
            host.document.Set(0, x, y, y * 8 + x);
            host.document.SetMask(x, y, static_cast<uint8_t>(x < 4 ? 255 : 0));
        }
    std::vector<int> image, mask;
    gScript = [&](Call& c) {
        if (c.selector != filterSelectorStart) return;
        EXPECT_EQ(c.record->haveMask, 1);
        EXPECT_EQ(c.record->filterCase, filterCaseFlatImageWithSelection);
        c.record->inRect = Rect{0, 0, 8, 8};
        c.record->maskRect = Rect{0, 0, 8, 8};
        c.record->inputRate = 4 << 16;
        c.record->maskRate = 4 << 16;
        ASSERT_EQ(c.record->advanceState(), noErr);
        for (int r = 0; r < 2; r++)
            for (int col = 0; col < 2; col++) {
                image.push_back(static_cast<const uint8_t*>(c.record->inData)[r * c.record->inRowBytes + col]);
                mask.push_back(static_cast<const uint8_t*>(c.record->maskData)[r * c.record->maskRowBytes + col]);
            }
        ClearAll(c.record);
    };
    host.RunFilter();
    EXPECT_EQ(image, (std::vector<int>{0, 4, 32, 36}));
    EXPECT_EQ(mask, (std::vector<int>{255, 0, 255, 0}));
}

TEST_F(Simulator, RequestsForPlanesOrAreasTheDocumentLacksAreRefused) {
    std::vector<OSErr> answers;
    gScript = [&](Call& c) {
        if (c.selector != filterSelectorStart) return;
        c.record->inRect = Rect{0, 0, 2, 2};
        c.record->inLoPlane = 0;
        c.record->inHiPlane = 3;  // RGB without transparency: planes 0..2
        answers.push_back(c.record->advanceState());
        Clear(c.record->inRect);
        c.record->outRect = Rect{0, 0, 2, 17};  // one column past the right edge
        c.record->outHiPlane = 0;
        answers.push_back(c.record->advanceState());
        ClearAll(c.record);
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(answers, (std::vector<OSErr>{paramErr, paramErr}));
    EXPECT_TRUE(AnyContains(run.violations, "inLoPlane..inHiPlane = 0..3")) << Joined(run.violations);
    EXPECT_TRUE(AnyContains(run.violations, "outRect 0,0-17,2 reaches outside the 16 x 12 image"))
        << Joined(run.violations);
}

TEST_F(Simulator, TheRecordDescribesTheDocument) {
    host.document = MakeSimDocument(plugInModeGray16, 30, 20, true, true);
    host.options.tileWidth = 0;
    host.options.tileHeight = 0;
    host.options.iccProfile = {1, 2, 3, 4, 5};
    FilterRecord seen{};
    std::vector<uint8_t> profile;
    gScript = [&](Call& c) {
        if (c.selector != filterSelectorPrepare) return;
        std::memcpy(&seen, c.record, 556);
        profile.assign(*c.record->iCCprofileData, *c.record->iCCprofileData + c.record->iCCprofileSize);
    };
    host.RunFilter();
    EXPECT_EQ(seen.imageMode, plugInModeGray16);
    EXPECT_EQ(seen.depth, 16);
    EXPECT_EQ(seen.planes, 2);
    EXPECT_EQ(seen.inLayerPlanes, 1);
    EXPECT_EQ(seen.inTransparencyMask, 1);
    EXPECT_EQ(seen.filterCase, filterCaseEditableTransparencyWithSelection);
    EXPECT_EQ(seen.filterRect.bottom, 20);
    EXPECT_EQ(seen.filterRect.right, 30);
    EXPECT_EQ(seen.inTileWidth, 0);
    EXPECT_EQ(seen.inTileHeight, 0);
    EXPECT_EQ(profile, host.options.iccProfile);
    EXPECT_EQ(seen.canUseICCProfiles, 1);
}

TEST_F(Simulator, AShortRecordHasNoBigDocumentDataAndAWritePastItIsReported) {
    host.options.recordSize = 556;
    BigDocumentStruct* big = reinterpret_cast<BigDocumentStruct*>(1);
    gScript = [&big](Call& c) {
        if (c.selector != filterSelectorPrepare) return;
        big = c.record->bigDocumentData;
        c.record->maxSpace64 = 1;  // bytes 552..559 of a 556-byte record
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(big, nullptr);
    EXPECT_TRUE(AnyContains(run.violations, "prepare: the plug-in wrote up to 4 bytes past the end of the 556-byte"))
        << Joined(run.violations);
}

TEST_F(Simulator, EnforcedMaxSpaceRefusesBuffersBeyondIt) {
    host.options.enforceMaxSpace = true;
    OSErr answer = 0;
    gScript = [&](Call& c) {
        if (c.selector == filterSelectorPrepare) c.record->maxSpace = 100;
        if (c.selector != filterSelectorStart) return;
        c.record->inRect = Rect{0, 0, 12, 16};
        c.record->inHiPlane = 2;
        answer = c.record->advanceState();
        ClearAll(c.record);
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(answer, memFullErr);
    EXPECT_EQ(run.maxSpace, 100);
}

// ---------------------------------------------------------------------------
// Scripting and the registry
// ---------------------------------------------------------------------------

TEST_F(Simulator, AWrittenDescriptorIsKeptAndPlayedBackInTheNextRun) {
    SimDescriptor read;
    std::vector<int16> playInfo;
    gScript = [&](Call& c) {
        PIDescriptorParameters* dp = c.record->descriptorParameters;
        if (c.selector == filterSelectorStart) {
            playInfo.push_back(dp->playInfo);
            if (!dp->descriptor) return;
            DescriptorKeyID keys[] = {FourCC("Intn"), FourCC("Angl"), 0};
            PIReadDescriptor reader = dp->readDescriptorProcs->openReadDescriptorProc(dp->descriptor, keys);
            DescriptorKeyID key;
            DescriptorTypeID type;
            int32 flags;
            while (dp->readDescriptorProcs->getKeyProc(reader, &key, &type, &flags)) {
                if (type == typeUnitFloat) {
                    DescriptorUnitID unit;
                    real64 v;
                    dp->readDescriptorProcs->getUnitFloatProc(reader, &unit, &v);
                    read.UnitFloat(key, unit, v);
                } else if (type == typeInteger) {
                    int32 v;
                    dp->readDescriptorProcs->getIntegerProc(reader, &v);
                    read.Integer(key, v);
                } else if (type == typeBoolean) {
                    Boolean v;
                    dp->readDescriptorProcs->getBooleanProc(reader, &v);
                    read.Bool(key, v != 0);
                }
            }
            dp->readDescriptorProcs->closeReadDescriptorProc(reader);
        }
        if (c.selector == filterSelectorFinish) {
            PIWriteDescriptor writer = dp->writeDescriptorProcs->openWriteDescriptorProc();
            const real64 intensity = 62.5, angle = 12.3;
            dp->writeDescriptorProcs->putUnitFloatProc(writer, FourCC("Intn"), unitPercent, &intensity);
            dp->writeDescriptorProcs->putUnitFloatProc(writer, FourCC("Angl"), unitAngle, &angle);
            dp->writeDescriptorProcs->putIntegerProc(writer, FourCC("numP"), 6);
            dp->writeDescriptorProcs->putBooleanProc(writer, FourCC("opsO"), 1);
            if (dp->descriptor) c.record->handleProcs->disposeProc(dp->descriptor);
            dp->descriptor = nullptr;
            dp->writeDescriptorProcs->closeWriteDescriptorProc(writer, &dp->descriptor);
        }
    };
    RunLog first = host.RunFilter();
    ASSERT_TRUE(first.wroteDescriptor);
    SimDescriptor expected;
    expected.UnitFloat(FourCC("Intn"), unitPercent, 62.5)
        .UnitFloat(FourCC("Angl"), unitAngle, 12.3)
        .Integer(FourCC("numP"), 6)
        .Bool(FourCC("opsO"), true);
    EXPECT_TRUE(first.writtenDescriptor == expected) << DescribeSimDescriptor(first.writtenDescriptor);

    host.options.replayDescriptor = true;
    host.options.playInfo = PLAY_INFO_SILENT;
    RunLog second = host.RunFilter();
    EXPECT_TRUE(read == expected) << DescribeSimDescriptor(read);
    EXPECT_EQ(playInfo, (std::vector<int16>{PLAY_INFO_DONT_DISPLAY, PLAY_INFO_SILENT}));
    EXPECT_TRUE(host.Violations().empty()) << Joined(host.Violations());
}

TEST_F(Simulator, ReplacingThePlayedDescriptorWithoutDisposingOfItIsALeak) {
    SimDescriptor played;
    played.Integer(FourCC("numP"), 3);
    host.PlayDescriptor(played);
    gScript = [](Call& c) {
        if (c.selector != filterSelectorFinish) return;
        PIDescriptorParameters* dp = c.record->descriptorParameters;
        PIWriteDescriptor writer = dp->writeDescriptorProcs->openWriteDescriptorProc();
        dp->writeDescriptorProcs->closeWriteDescriptorProc(writer, &dp->descriptor);  // old one dropped
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "dropped the played descriptor handle without disposing of it"))
        << Joined(run.violations);
}

TEST_F(Simulator, ReadingBeforeGetKeyAndLeavingADescriptorOpenAreReported) {
    host.PlayDescriptor(SimDescriptor().Integer(FourCC("numP"), 3));
    gScript = [](Call& c) {
        if (c.selector != filterSelectorStart) return;
        PIDescriptorParameters* dp = c.record->descriptorParameters;
        PIReadDescriptor reader = dp->readDescriptorProcs->openReadDescriptorProc(dp->descriptor, nullptr);
        int32 v = 0;
        EXPECT_EQ(dp->readDescriptorProcs->getIntegerProc(reader, &v), paramErr);
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "getIntegerProc called before getKeyProc")) << Joined(run.violations);
    EXPECT_TRUE(AnyContains(run.violations, "start: a read descriptor was left open")) << Joined(run.violations);
}

// Writes the block under the key in finish, as the filter keeps its last settings.
void RegisterInFinish(Call& c, const char* key, const std::vector<uint8_t>& block, bool persistent) {
    if (c.selector != filterSelectorFinish) return;
    SPBasicSuite* basic = c.record->sSPBasic;
    const void* r = nullptr;
    const void* a = nullptr;
    ASSERT_EQ(basic->AcquireSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, 1, &r), kSPNoError);
    ASSERT_EQ(basic->AcquireSuite(ACTION_DESCRIPTOR_SUITE_NAME, 3, &a), kSPNoError);
    auto* registry = static_cast<const DescriptorRegistrySuite1*>(r);
    auto* descriptors = static_cast<const ActionDescriptorSuite*>(a);
    PIActionDescriptor d = nullptr;
    ASSERT_EQ(descriptors->Make(&d), noErr);
    ASSERT_EQ(descriptors->PutData(d, FourCC("PBlk"), static_cast<int32>(block.size()),
                                   const_cast<uint8_t*>(block.data())),
              noErr);
    ASSERT_EQ(registry->Register(key, d, persistent ? 1 : 0), noErr);
    descriptors->Free(d);
    basic->ReleaseSuite(ACTION_DESCRIPTOR_SUITE_NAME, 3);
    basic->ReleaseSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, 1);
}

// Reads the block under the key in start; empty when there is none.
std::vector<uint8_t> ReadInStart(Call& c, const char* key, int32 descriptorVersion, bool* missing) {
    std::vector<uint8_t> block;
    SPBasicSuite* basic = c.record->sSPBasic;
    const void* r = nullptr;
    const void* a = nullptr;
    EXPECT_EQ(basic->AcquireSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, 1, &r), kSPNoError);
    EXPECT_EQ(basic->AcquireSuite(ACTION_DESCRIPTOR_SUITE_NAME, descriptorVersion, &a), kSPNoError);
    auto* registry = static_cast<const DescriptorRegistrySuite1*>(r);
    auto* descriptors = static_cast<const ActionDescriptorSuite*>(a);
    PIActionDescriptor d = nullptr;
    EXPECT_EQ(registry->Get(key, &d), noErr);
    *missing = d == nullptr;
    if (d) {
        Boolean has = 0;
        int32 length = 0;
        EXPECT_EQ(descriptors->HasKey(d, FourCC("PBlk"), &has), noErr);
        EXPECT_EQ(descriptors->GetDataLength(d, FourCC("PBlk"), &length), noErr);
        block.resize(static_cast<size_t>(length));
        EXPECT_EQ(descriptors->GetData(d, FourCC("PBlk"), block.data()), noErr);
        EXPECT_EQ(has, 1);
        descriptors->Free(d);
    }
    basic->ReleaseSuite(ACTION_DESCRIPTOR_SUITE_NAME, descriptorVersion);
    basic->ReleaseSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, 1);
    return block;
}

TEST_F(Simulator, PersistentRegistryEntriesOutliveTheHostInTheRegistryFile) {
    const std::string file = TestScratchFolder() + "/registry-" + std::to_string(::testing::UnitTest::GetInstance()
                                                                                     ->random_seed()) + ".bin";
    std::remove(file.c_str());
    const std::vector<uint8_t> block = {0, 0, 0, 0, 0, 0, 6, 0, 50, 0, 42};
    {
        HostSimulator first(ScriptedMain);
        first.options.registryFile = file;
        gScript = [&](Call& c) {
            RegisterInFinish(c, "5f0d6c1e-3b7a-4e21-9c84-2a6e1d0b7f35", block, true);
            RegisterInFinish(c, "for this session only", block, false);
        };
        RunLog run = first.RunFilter();
        EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
    }
    HostSimulator second(ScriptedMain);
    second.options.registryFile = file;
    second.options.actionDescriptorVersion = 2;
    std::vector<uint8_t> kept, session;
    bool keptMissing = true, sessionMissing = false;
    gScript = [&](Call& c) {
        if (c.selector != filterSelectorStart) return;
        kept = ReadInStart(c, "5f0d6c1e-3b7a-4e21-9c84-2a6e1d0b7f35", 2, &keptMissing);
        session = ReadInStart(c, "for this session only", 2, &sessionMissing);
    };
    RunLog run = second.RunFilter();
    EXPECT_FALSE(keptMissing);
    EXPECT_EQ(kept, block);
    EXPECT_TRUE(sessionMissing) << "a non-persistent entry must not reach the file";
    EXPECT_TRUE(run.violations.empty()) << Joined(run.violations);
    std::remove(file.c_str());
}

// A registry file whose key length lies near 2^32 is read without a wrap, and
// a file that is not a registry is reported and never overwritten.
TEST_F(Simulator, HostileRegistryFilesAreNeitherOverreadNorOverwritten) {
    const std::string lying = TestScratchFolder() + "/registry-lying.bin";
    std::string bytes = "RLreg1\n";
    bytes += std::string("\xFE\xFF\xFF\xFF", 4) + "key";
    ASSERT_TRUE(WriteWholeFile(lying, bytes));
    {
        HostSimulator reader(ScriptedMain);
        reader.options.registryFile = lying;
        bool missing = false;
        gScript = [&](Call& c) {
            if (c.selector == filterSelectorStart) ReadInStart(c, "key", 3, &missing);
        };
        reader.RunFilter();
        EXPECT_TRUE(missing);
    }
    const std::string foreign = TestScratchFolder() + "/not-a-registry.txt";
    ASSERT_TRUE(WriteWholeFile(foreign, "my notes, not a registry"));
    HostSimulator writer(ScriptedMain);
    writer.options.registryFile = foreign;
    gScript = [&](Call& c) { RegisterInFinish(c, "some key", {1, 2, 3}, true); };
    RunLog run = writer.RunFilter();
    EXPECT_FALSE(run.violations.empty() && writer.Violations().empty()) << "the foreign file is reported";
    const std::vector<uint8_t> after = ReadWholeFile(foreign);
    EXPECT_EQ(std::string(after.begin(), after.end()), "my notes, not a registry");
}

TEST_F(Simulator, DescriptorsNotFreedAreReported) {
    SimDescriptor entry;
    entry.Data(FourCC("PBlk"), {1, 2, 3});
    host.SetRegistryEntry("key", entry, false);
    gScript = [](Call& c) {
        if (c.selector != filterSelectorStart) return;
        const void* r = nullptr;
        const void* a = nullptr;
        c.record->sSPBasic->AcquireSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, 1, &r);
        c.record->sSPBasic->AcquireSuite(ACTION_DESCRIPTOR_SUITE_NAME, 3, &a);
        PIActionDescriptor got = nullptr, made = nullptr;
        static_cast<const DescriptorRegistrySuite1*>(r)->Get("key", &got);
        static_cast<const ActionDescriptorSuite*>(a)->Make(&made);
        c.record->sSPBasic->ReleaseSuite(ACTION_DESCRIPTOR_SUITE_NAME, 3);
        c.record->sSPBasic->ReleaseSuite(DESCRIPTOR_REGISTRY_SUITE_NAME, 1);
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "returned by the registry's Get was not freed")) << Joined(run.violations);
    EXPECT_TRUE(AnyContains(run.violations, "made with Make was not freed")) << Joined(run.violations);
}

TEST_F(Simulator, ErrorTextsAreRecorded) {
    gScript = [](Call& c) {
        if (c.selector != filterSelectorStart) return;
        const void* suite = nullptr;
        c.record->sSPBasic->AcquireSuite(ERROR_SUITE_NAME, 1, &suite);
        static_cast<const ErrorSuite1*>(suite)->SetErrorFromCString("Could not read input image.");
        c.record->sSPBasic->ReleaseSuite(ERROR_SUITE_NAME, 1);
        const char text[] = "Settings incomplete";
        (*c.record->errorString)[0] = sizeof text - 1;
        std::memcpy(*c.record->errorString + 1, text, sizeof text - 1);
        *c.result = errReportString;
    };
    RunLog run = host.RunFilter();
    EXPECT_EQ(run.errorMessages, (std::vector<std::string>{"Could not read input image."}));
    EXPECT_EQ(run.errorString, "Settings incomplete");
    EXPECT_EQ(run.Result(filterSelectorStart), errReportString);
}

TEST_F(Simulator, SPBasicBlocksNotFreedAreReported) {
    gScript = [](Call& c) {
        if (c.selector != filterSelectorPrepare) return;
        void* block = nullptr;
        ASSERT_EQ(c.record->sSPBasic->AllocateBlock(10, &block), kSPNoError);
        ASSERT_EQ(c.record->sSPBasic->ReallocateBlock(block, 20, &block), kSPNoError);
        void* other = nullptr;
        c.record->sSPBasic->AllocateBlock(5, &other);
        c.record->sSPBasic->FreeBlock(other);
        EXPECT_EQ(c.record->sSPBasic->FreeBlock(other), kSPBadParameterError);
    };
    RunLog run = host.RunFilter();
    EXPECT_TRUE(AnyContains(run.violations, "a 20-byte block from AllocateBlock was not freed")) << Joined(run.violations);
    EXPECT_TRUE(AnyContains(run.violations, "FreeBlock given")) << Joined(run.violations);
    EXPECT_EQ(run.violations.size(), 2u) << Joined(run.violations);
}

TEST_F(Simulator, AboutGetsAnAboutRecord) {
    const void* basic = reinterpret_cast<const void*>(1);
    gScript = [&basic](Call& c) {
        if (c.selector == filterSelectorAbout) basic = reinterpret_cast<AboutRecord*>(c.record)->sSPBasic;
    };
    host.options.offerBasicSuite = false;
    RunLog run = host.RunAbout();
    EXPECT_EQ(basic, nullptr);
    EXPECT_EQ(run.calls.size(), 1u);
}

}  // namespace
