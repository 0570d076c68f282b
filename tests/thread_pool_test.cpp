// The section rule, the processor count and the thread pool.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/thread_pool.h"
#include "support/run_result.h"
#include "tests/test_support.h"

TEST(SectionRule, BandsOfWholeRowsWithTheRemainderLast) {
    auto s = DivideIntoSections(10, 110, 3);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].top, 10);
    EXPECT_EQ(s[0].bottom, 43);
    EXPECT_EQ(s[1].top, 43);
    EXPECT_EQ(s[1].bottom, 76);
    EXPECT_EQ(s[2].top, 76);
    EXPECT_EQ(s[2].bottom, 110);  // 34 rows: the remainder
    auto few = DivideIntoSections(0, 3, 8);  // fewer rows than sections: one row each
    ASSERT_EQ(few.size(), 3u);
    EXPECT_EQ(few[2].top, 2);
    EXPECT_EQ(few[2].bottom, 3);
    EXPECT_TRUE(DivideIntoSections(5, 5, 4).empty());
}

TEST(ProcessorCount, TheFiveExamples) {
    ProcessorTopology t8on4 = {4, 8, 1}, t4on4 = {4, 4, 1}, t2on1 = {1, 2, 1}, t1 = {1, 1, 1}, t16on8 = {8, 16, 1};
    EXPECT_EQ(ProcessorCountFor(&t8on4, 0), 6);
    EXPECT_EQ(ProcessorCountFor(&t4on4, 0), 3);
    EXPECT_EQ(ProcessorCountFor(&t2on1, 0), 2);
    EXPECT_EQ(ProcessorCountFor(&t1, 0), 1);
    EXPECT_EQ(ProcessorCountFor(&t16on8, 0), 12);
}

TEST(ProcessorCount, WithoutTopologyTheSystemCountIsUsed) {
    EXPECT_EQ(ProcessorCountFor(nullptr, 1), 1);
    EXPECT_EQ(ProcessorCountFor(nullptr, 2), 2);
    EXPECT_EQ(ProcessorCountFor(nullptr, 8), 7);
}

TEST(ProcessorCount, IsComputedOnceAndAtLeastOne) {
    SetProcessorCountForTesting(0);
    int32_t n = GetProcessorCount();
    EXPECT_GE(n, 1);
    EXPECT_EQ(GetProcessorCount(), n);
    uint32_t cores = 0, logical = 0, packages = 0;
    if (QueryProcessorTopology(&cores, &logical, &packages)) {
        EXPECT_GE(logical, cores);
        EXPECT_GE(cores, 1u);
        EXPECT_GE(packages, 1u);
    }
}

namespace {
struct Work {
    volatile int32_t* counter;
    int32_t add;
};
uint32_t AddWork(void* raw) {
    auto* work = static_cast<Work*>(raw);
    OsInterlockedExchangeAdd(work->counter, work->add);
    return 0;
}

std::vector<ThreadRecord> MakeRecords(int32_t count, volatile int32_t* counter) {
    std::vector<ThreadRecord> records(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; i++) {
        auto* work = static_cast<Work*>(std::malloc(sizeof(Work)));
        *work = Work{counter, i + 1};
        records[static_cast<size_t>(i)].startRoutine = AddWork;
        records[static_cast<size_t>(i)].argument = work;
        records[static_cast<size_t>(i)].index = i;
    }
    return records;
}
}  // namespace

TEST(ThreadPool, RunsEveryRecordAndCollectsThem) {
    volatile int32_t counter = 0;
    auto records = MakeRecords(70, &counter);  // more than one wait can take
    ASSERT_TRUE(SpawnMultipleThreads(records.data(), 70));
    ASSERT_TRUE(WaitForMultipleThreads(records.data(), 70, false));
    EXPECT_EQ(counter, 70 * 71 / 2);
    for (auto& r : records) {
        EXPECT_EQ(r.thread, nullptr);
        EXPECT_TRUE(DestroyThread(&r));
        EXPECT_EQ(r.argument, nullptr);
    }
}

TEST(ThreadPool, AWorkerThatCannotStartIsReportedAndTheOthersAreCollected) {
    volatile int32_t counter = 0;
    auto records = MakeRecords(4, &counter);
    CapturedReports reports;
    SetThreadStartFailureForTesting(2);
    EXPECT_FALSE(SpawnMultipleThreads(records.data(), 4));
    SetThreadStartFailureForTesting(-1);
    EXPECT_TRUE(reports.Contains("SpawnMultipleThreads() - Could not start thread 2 : "));
    EXPECT_EQ(records[2].thread, nullptr);
    EXPECT_EQ(records[3].thread, nullptr);
    ASSERT_TRUE(WaitForMultipleThreads(records.data(), 4, false));
    EXPECT_EQ(counter, 1 + 2);  // only the first two ran
    for (auto& r : records) EXPECT_TRUE(DestroyThread(&r));
}

TEST(ThreadPool, NothingToWaitForIsSuccess) {
    ThreadRecord none[2];
    EXPECT_TRUE(WaitForMultipleThreads(none, 2, true));
}

namespace {
struct Gate {
    OsHandle release;
    OsHandle waiter;
    volatile int32_t queued;
};
void CountQueued(uintptr_t raw) { OsInterlockedIncrement(&reinterpret_cast<Gate*>(raw)->queued); }
uint32_t QueueThenFinish(void* raw) {
    auto* gate = *static_cast<Gate**>(raw);
    OsQueueUserCall(CountQueued, gate->waiter, reinterpret_cast<uintptr_t>(gate));
    OsWaitForSingleObject(gate->release, 200);
    return 0;
}
}  // namespace

TEST(ThreadPool, AlertableWaitsRunQueuedCallsAndGoOnWaiting) {
    Gate gate{OsCreateEvent(true, false), OsOpenCurrentThread(), 0};
    ThreadRecord record;
    record.startRoutine = QueueThenFinish;
    auto** arg = static_cast<Gate**>(std::malloc(sizeof(Gate*)));
    *arg = &gate;
    record.argument = arg;
    ForceGlobalErrorCode(0);
    ASSERT_TRUE(SpawnMultipleThreads(&record, 1));
    ASSERT_TRUE(WaitForMultipleThreads(&record, 1, true));
    EXPECT_EQ(gate.queued, 1);
    EXPECT_TRUE(DestroyThread(&record));
    OsCloseHandle(gate.release);
    OsCloseHandle(gate.waiter);
}
