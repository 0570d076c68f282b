// The operating-system layer: the same tests run natively (POSIX emulation)
// and under Wine (Win32), so both implementations keep one meaning.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "support/os.h"
#include "support/run_result.h"
#include "tests/test_support.h"

TEST(OsEvents, ManualResetStaysSignalledAutoResetWakesOne) {
    OsHandle manual = OsCreateEvent(true, false);
    OsHandle automatic = OsCreateEvent(false, true);
    ASSERT_TRUE(manual && automatic);
    EXPECT_EQ(OsWaitForSingleObject(manual, 0), OS_WAIT_TIMEOUT);
    EXPECT_TRUE(OsSetEvent(manual));
    EXPECT_EQ(OsWaitForSingleObject(manual, 0), OS_WAIT_OBJECT_0);
    EXPECT_EQ(OsWaitForSingleObject(manual, 0), OS_WAIT_OBJECT_0);
    EXPECT_TRUE(OsResetEvent(manual));
    EXPECT_EQ(OsWaitForSingleObject(manual, 10), OS_WAIT_TIMEOUT);

    EXPECT_EQ(OsWaitForSingleObject(automatic, 0), OS_WAIT_OBJECT_0);
    EXPECT_EQ(OsWaitForSingleObject(automatic, 0), OS_WAIT_TIMEOUT);
    OsCloseHandle(manual);
    OsCloseHandle(automatic);
}

TEST(OsEvents, WaitAnyReportsTheFirstReadyIndexAndWaitAllNeedsEvery) {
    OsHandle events[3] = {OsCreateEvent(true, false), OsCreateEvent(true, false), OsCreateEvent(true, false)};
    OsSetEvent(events[2]);
    EXPECT_EQ(OsWaitForMultipleObjects(3, events, false, 0), OS_WAIT_OBJECT_0 + 2);
    EXPECT_EQ(OsWaitForMultipleObjects(3, events, true, 0), OS_WAIT_TIMEOUT);
    OsSetEvent(events[0]);
    OsSetEvent(events[1]);
    EXPECT_EQ(OsWaitForMultipleObjects(3, events, true, 0), OS_WAIT_OBJECT_0);
    for (OsHandle e : events) OsCloseHandle(e);
}

TEST(OsEvents, TooManyHandlesFail) {
    OsHandle events[OS_MAXIMUM_WAIT_OBJECTS + 1];
    for (auto& e : events) e = OsCreateEvent(true, true);
    EXPECT_EQ(OsWaitForMultipleObjects(OS_MAXIMUM_WAIT_OBJECTS + 1, events, false, 0), OS_WAIT_FAILED);
    EXPECT_EQ(OsWaitForMultipleObjects(OS_MAXIMUM_WAIT_OBJECTS, events, true, 0), OS_WAIT_OBJECT_0);
    for (auto& e : events) OsCloseHandle(e);
}

namespace {
struct MutexTrial {
    OsHandle mutex;
    uint32_t waitResult;
    bool released;
};

uint32_t TakeMutexAndLeave(void* raw) {
    auto* trial = static_cast<MutexTrial*>(raw);
    trial->waitResult = OsWaitForSingleObject(trial->mutex, OS_INFINITE);
    return 7;  // ends while owning it
}

uint32_t TryMutex(void* raw) {
    auto* trial = static_cast<MutexTrial*>(raw);
    trial->waitResult = OsWaitForSingleObject(trial->mutex, 20);
    if (trial->waitResult == OS_WAIT_OBJECT_0 || trial->waitResult == OS_WAIT_ABANDONED_0)
        trial->released = OsReleaseMutex(trial->mutex);
    return 0;
}
}  // namespace

TEST(OsMutexes, OwnerMayReenterOthersTimeOut) {
    MutexTrial trial{OsCreateMutex(true), 0, false};
    ASSERT_NE(trial.mutex, nullptr);
    EXPECT_EQ(OsWaitForSingleObject(trial.mutex, 0), OS_WAIT_OBJECT_0);  // recursion
    OsHandle other = OsCreateThread(TryMutex, &trial, 0, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(OsWaitForSingleObject(other, 5000), OS_WAIT_OBJECT_0);
    EXPECT_EQ(trial.waitResult, OS_WAIT_TIMEOUT);
    EXPECT_TRUE(OsReleaseMutex(trial.mutex));
    EXPECT_TRUE(OsReleaseMutex(trial.mutex));
    EXPECT_FALSE(OsReleaseMutex(trial.mutex));  // not the owner any more
    OsCloseHandle(other);
    OsCloseHandle(trial.mutex);
}

TEST(OsMutexes, AMutexLeftByAnEndedThreadIsAbandoned) {
    MutexTrial trial{OsCreateMutex(false), 0, false};
    OsHandle thread = OsCreateThread(TakeMutexAndLeave, &trial, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(OsWaitForSingleObject(thread, 5000), OS_WAIT_OBJECT_0);
    uint32_t exitCode = 0;
    EXPECT_TRUE(OsGetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 7u);
    EXPECT_EQ(trial.waitResult, OS_WAIT_OBJECT_0);
    EXPECT_EQ(OsWaitForSingleObject(trial.mutex, 1000), OS_WAIT_ABANDONED_0);
    EXPECT_TRUE(OsReleaseMutex(trial.mutex));
    OsCloseHandle(thread);
    OsCloseHandle(trial.mutex);
}

namespace {
int gQueuedCalls = 0;
void CountQueuedCall(uintptr_t add) { gQueuedCalls += static_cast<int>(add); }

struct QueueTrial {
    OsHandle target;
    OsHandle queued;
};
uint32_t QueueToTarget(void* raw) {
    auto* trial = static_cast<QueueTrial*>(raw);
    OsQueueUserCall(CountQueuedCall, trial->target, 5);
    OsSetEvent(trial->queued);
    return 0;
}
}  // namespace

TEST(OsThreads, QueuedCallsRunOnlyInAlertableWaitsOfTheirThread) {
    gQueuedCalls = 0;
    QueueTrial trial{OsOpenCurrentThread(), OsCreateEvent(true, false)};
    ASSERT_NE(trial.target, nullptr);
    OsHandle thread = OsCreateThread(QueueToTarget, &trial, 0, nullptr);
    ASSERT_EQ(OsWaitForSingleObject(trial.queued, 5000), OS_WAIT_OBJECT_0);
    EXPECT_EQ(gQueuedCalls, 0);  // that wait was not alertable
    OsHandle never = OsCreateEvent(true, false);
    EXPECT_EQ(OsWaitForSingleObject(never, 5000, true), OS_WAIT_IO_COMPLETION);
    EXPECT_EQ(gQueuedCalls, 5);
    EXPECT_EQ(OsWaitForSingleObject(thread, 5000), OS_WAIT_OBJECT_0);
    OsCloseHandle(thread);
    OsCloseHandle(never);
    OsCloseHandle(trial.queued);
    OsCloseHandle(trial.target);
}

namespace {
struct CountTrial {
    OsCriticalSection section;
    volatile int32_t interlocked;
    int plain;
};
uint32_t CountMany(void* raw) {
    auto* trial = static_cast<CountTrial*>(raw);
    for (int i = 0; i < 100000; i++) {
        OsEnterCriticalSection(&trial->section);
        trial->plain++;
        OsLeaveCriticalSection(&trial->section);
        OsInterlockedIncrement(&trial->interlocked);
    }
    return 0;
}
}  // namespace

TEST(OsThreads, CriticalSectionsAndInterlockedCountersDoNotLoseUpdates) {
    CountTrial trial{};
    ASSERT_TRUE(OsInitializeCriticalSection(&trial.section, 1024));
    uint32_t ids[3] = {};
    OsHandle threads[3];
    for (int i = 0; i < 3; i++) threads[i] = OsCreateThread(CountMany, &trial, 0, &ids[i]);
    EXPECT_EQ(OsWaitForMultipleObjects(3, threads, true, 20000), OS_WAIT_OBJECT_0);
    EXPECT_EQ(trial.plain, 300000);
    EXPECT_EQ(trial.interlocked, 300000);
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_NE(ids[0], OsGetCurrentThreadId());
    for (OsHandle t : threads) OsCloseHandle(t);
    OsDeleteCriticalSection(&trial.section);
    EXPECT_FALSE(OsCriticalSectionValid(&trial.section));
}

TEST(OsThreads, ExchangeAndCompare) {
    volatile int32_t v = 5;
    EXPECT_EQ(OsInterlockedExchangeAdd(&v, 3), 5);
    EXPECT_EQ(OsInterlockedExchange(&v, 1), 8);
    EXPECT_EQ(OsInterlockedCompareExchange(&v, 9, 2), 1);  // no swap
    EXPECT_EQ(OsInterlockedCompareExchange(&v, 9, 1), 1);  // swap
    EXPECT_EQ(v, 9);
    EXPECT_EQ(OsInterlockedDecrement(&v), 8);
}

TEST(OsTime, TickCountAdvancesWithSleep) {
    uint32_t before = OsGetTickCount();
    OsSleepEx(60, false);
    uint32_t elapsed = OsGetTickCount() - before;
    EXPECT_GE(elapsed, 40u);  // the tick has a granularity of about 16 ms
    EXPECT_LT(elapsed, 5000u);
}

TEST(OsFiles, FindListsMatchingNamesInAscendingOrder) {
    std::string folder = OsJoinPath(TestScratchFolder(), "find");
    uint32_t created = OsCreateDirectoryTree(OsJoinPath(folder, "deeper"));
    EXPECT_EQ(created, 0u);
    EXPECT_EQ(OsCreateDirectoryTree(folder), static_cast<uint32_t>(OS_ERROR_ALREADY_EXISTS));
    for (const char* name : {"b_02.log", "b_00.log", "b_ab.log", "b_1.log", "other.txt"})
        ASSERT_TRUE(WriteWholeFile(OsJoinPath(folder, name), "x"));
    std::vector<std::string> names;
    ASSERT_TRUE(OsFindFiles(folder, "b_??.log", names));
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "b_00.log");
    EXPECT_EQ(names[1], "b_02.log");
    EXPECT_EQ(names[2], "b_ab.log");
    EXPECT_TRUE(OsFileExists(OsJoinPath(folder, "other.txt")));
    EXPECT_FALSE(OsFileExists(OsJoinPath(folder, "deeper")));
    EXPECT_TRUE(OsFolderExists(OsJoinPath(folder, "deeper")));
}

TEST(OsFiles, OverlappedWritesLandAtTheirOffsets) {
    std::string path = OsJoinPath(TestScratchFolder(), "overlapped.bin");
    OsFile file = OsCreateFileForWriting(path, true);
    ASSERT_NE(file, nullptr);
    OsHandle done = OsCreateEvent(true, false);
    OsOverlapped overlapped;
    ASSERT_TRUE(OsWriteFileOverlapped(file, "hello", 5, 0, done, &overlapped));
    ASSERT_EQ(OsWaitForSingleObject(done, 5000), OS_WAIT_OBJECT_0);
    uint32_t written = 0;
    ASSERT_TRUE(OsGetOverlappedResult(file, &overlapped, &written, true));
    EXPECT_EQ(written, 5u);
    OsResetEvent(done);
    ASSERT_TRUE(OsWriteFileOverlapped(file, "world", 5, 5, done, &overlapped));
    ASSERT_TRUE(OsGetOverlappedResult(file, &overlapped, &written, true));
    EXPECT_TRUE(OsFlushFileBuffers(file));
    EXPECT_TRUE(OsCloseFile(file));
    OsCloseHandle(done);
    auto bytes = ReadWholeFile(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "helloworld");
}

TEST(OsFiles, CreatingInAMissingFolderFailsWithAnError) {
    OsSetLastError(0);
    OsFile file = OsCreateFileForWriting(OsJoinPath(TestScratchFolder(), OsJoinPath("missing", "x.log")), false);
    EXPECT_EQ(file, nullptr);
    EXPECT_NE(OsGetLastError(), 0u);
    char text[256];
    EXPECT_TRUE(OsFormatSystemMessage(OsGetLastError(), text, sizeof text));
    EXPECT_NE(text[0], 0);
}

TEST(OsText, MultiByteToUtf16KeepsAsciiAndLength) {
    std::u16string wide = OsMultiByteToUtf16("Line 12\n", 8);
    EXPECT_EQ(wide, u"Line 12\n");
    EXPECT_TRUE(OsMultiByteToUtf16("", 0).empty());
}

TEST(OsFolders, DataRootsExist) {
    std::string user, common;
    uint32_t result = 0;
    ASSERT_TRUE(OsGetUserDataRoot(user, &result));
    ASSERT_TRUE(OsGetCommonDataRoot(common, &result));
    EXPECT_TRUE(OsFolderExists(user));
    EXPECT_TRUE(OsFolderExists(common));
}

TEST(OsModule, ProductVersionIsTwoZeroZeroZero) {
    uint16_t parts[4] = {9, 9, 9, 9};
    std::string failure;
    ASSERT_TRUE(OsGetModuleProductVersion(parts, &failure)) << failure;
    EXPECT_EQ(parts[0], 2);
    EXPECT_EQ(parts[1], 0);
    EXPECT_EQ(parts[2], 0);
    EXPECT_EQ(parts[3], 0);
}

// An exception thrown on a worker thread ends that thread only: the run
// fails with its out-of-memory result and the host process goes on.
TEST(OsThreads, AnExceptionOnAThreadEndsTheRunNotTheProcess) {
    struct Case {
        OsThreadProc proc;
        int16_t result;
    } cases[] = {{[](void*) -> uint32_t { throw std::bad_alloc(); }, RUN_OUT_OF_MEMORY},
                 {[](void*) -> uint32_t { throw 42; }, RUN_THREAD_FAILED}};
    for (const Case& c : cases) {
        ForceGlobalErrorCode(0);
        CapturedReports reports;
        OsHandle thread = OsCreateThread(c.proc, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(OsWaitForSingleObject(thread, 10000), OS_WAIT_OBJECT_0);
        uint32_t code = 0;
        EXPECT_TRUE(OsGetExitCodeThread(thread, &code));
        EXPECT_EQ(code, OS_THREAD_FAILED);
        EXPECT_EQ(GetGlobalErrorCode(), c.result);
        EXPECT_TRUE(reports.Contains("OsRunThreadBody()"));
        OsCloseHandle(thread);
    }
    ForceGlobalErrorCode(0);
}

// The blocks behind tracked buffers keep their bytes through every change of
// size: small to large, growing in place while the reservation lasts (on
// Windows the same address), past it, and back to small.
TEST(OsMemory, BlocksKeepTheirBytesAcrossEverySize) {
    const size_t sizes[] = {1000, (3u << 20) + 17, 9u << 20, 100u << 20, 512u << 10, 0};
    auto pattern = [](size_t i) { return static_cast<uint8_t>((i * 2654435761u) >> 13); };
    size_t size = 200;
    auto* block = static_cast<uint8_t*>(OsAllocate(size));
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < size; i++) block[i] = pattern(i);
    for (size_t next : sizes) {
        auto* moved = static_cast<uint8_t*>(OsReallocate(block, size, next));
        ASSERT_NE(moved, nullptr) << next;
#ifdef _WIN32
        if (size == (3u << 20) + 17 && next == (9u << 20)) {
            EXPECT_EQ(moved, block) << "a large block grows in place within its reservation";
        }
#endif
        const size_t kept = size < next ? size : next;
        for (size_t i = 0; i < kept; i += 4093) ASSERT_EQ(moved[i], pattern(i)) << size << " -> " << next << " at " << i;
        if (kept) {
            ASSERT_EQ(moved[kept - 1], pattern(kept - 1));
        }
        for (size_t i = kept; i < next; i++) moved[i] = pattern(i);  // every new byte can be written
        block = moved;
        size = next;
    }
    OsFree(block, size);
    OsFree(nullptr, 5u << 20);  // nothing to free
}
