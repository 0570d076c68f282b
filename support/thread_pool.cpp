// Section rule, processor count and the thread pool.
#include "support/thread_pool.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/debug_log.h"
#include "support/run_result.h"

namespace {
volatile int32_t gProcessorCount = 0;
int32_t gFailThreadStartFrom = -1;
constexpr uint32_t kTerminatedExitCode = 0xC000013A;
}  // namespace

std::vector<SectionSpan> DivideIntoSections(int32_t top, int32_t bottom, int32_t count) {
    std::vector<SectionSpan> sections;
    int32_t rows = bottom - top;
    if (rows <= 0) return sections;
    if (count < 1) count = 1;
    int32_t perSection = rows / count;
    if (perSection == 0) {
        count = rows;
        perSection = 1;
    }
    for (int32_t i = 0; i < count; i++) {
        int32_t from = top + i * perSection;
        int32_t to = i == count - 1 ? bottom : from + perSection;
        sections.push_back({from, to});
    }
    return sections;
}

int32_t ProcessorCountFor(const ProcessorTopology* topology, uint32_t systemProcessors) {
    if (topology) {
        uint32_t l = topology->logicalProcessors, c = topology->cores;
        int64_t n = static_cast<int64_t>(l) - static_cast<int64_t>((l - c) >> 1);
        if (l - c < 2 && l >= 3) n = static_cast<int64_t>(l) - 1;
        if (n <= 0) n = 1;
        return static_cast<int32_t>(n);
    }
    if (systemProcessors < 2) return 1;
    if (systemProcessors == 2) return 2;
    return static_cast<int32_t>(systemProcessors - 1);
}

uint32_t SystemProcessorCount();

int32_t GetProcessorCount() {
    int32_t kept = __atomic_load_n(&gProcessorCount, __ATOMIC_ACQUIRE);
    if (kept > 0) return kept;
    ProcessorTopology topology = {0, 0, 0};
    bool known = QueryProcessorTopology(&topology.cores, &topology.logicalProcessors, &topology.packages) &&
                 topology.logicalProcessors > 0 && topology.cores > 0 && topology.cores <= topology.logicalProcessors;
    int32_t n = ProcessorCountFor(known ? &topology : nullptr, SystemProcessorCount());
    __atomic_store_n(&gProcessorCount, n, __ATOMIC_RELEASE);
    return n;
}

void SetProcessorCountForTesting(int32_t count) { __atomic_store_n(&gProcessorCount, count, __ATOMIC_RELEASE); }
void SetThreadStartFailureForTesting(int32_t fromIndex) { gFailThreadStartFrom = fromIndex; }

bool SpawnMultipleThreads(ThreadRecord* records, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        ThreadRecord& r = records[i];
        uint32_t id = 0;
        OsHandle thread = nullptr;
        if (gFailThreadStartFrom < 0 || i < gFailThreadStartFrom) {
            errno = 0;
            thread = OsCreateThread(r.startRoutine, r.argument, r.stackSize, &id);
        } else {
            errno = EAGAIN;
        }
        if (!thread) {
            const ShortText text = RunTimeErrorText(errno ? errno : EAGAIN);
            ReportUnexpected(__LINE__, "SpawnMultipleThreads() - Could not start thread %d : %s.", i, text.c_str());
            return false;
        }
        r.thread = thread;
        r.threadId = id;
    }
    return true;
}

bool WaitForMultipleThreads(ThreadRecord* records, int32_t count, bool alertable) {
    // One wait takes at most 64 handles; larger pools are collected in
    // groups. The handles are gathered on the stack: a wait for threads that
    // run must not fail for want of memory and leave them running.
    int32_t next = 0;
    for (;;) {
        OsHandle group[OS_MAXIMUM_WAIT_OBJECTS];
        uint32_t n = 0;
        while (next < count && n < OS_MAXIMUM_WAIT_OBJECTS) {
            if (records[next].thread) group[n++] = records[next].thread;
            next++;
        }
        if (n == 0) break;
        uint32_t result;
        do {
            result = OsWaitForMultipleObjects(n, group, true, OS_INFINITE, alertable);
            if (result == OS_WAIT_IO_COMPLETION && GetGlobalErrorCode() != 0) return false;
        } while (result == OS_WAIT_IO_COMPLETION);
        if (result >= OS_WAIT_ABANDONED_0 && result < OS_WAIT_ABANDONED_0 + n) {
            ReportUnexpected(__LINE__, "WaitForMultipleThreads() - An object was abandoned.");
            return false;
        }
        if (result == OS_WAIT_TIMEOUT) {
            ReportUnexpected(__LINE__, "WaitForMultipleThreads() - A wait timed out.");
            return false;
        }
        if (result != OS_WAIT_OBJECT_0) {
            DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "WaitForMultipleThreads() - Waiting for events failed.");
            return false;
        }
    }
    for (int32_t i = 0; i < count; i++) {
        if (!records[i].thread) continue;
        OsCloseHandle(records[i].thread);
        records[i].thread = nullptr;
    }
    return true;
}

bool DestroyThread(ThreadRecord* record) {
    bool ok = true;
    bool stillRunning = false;
    if (record->thread) {
        uint32_t exitCode = 0;
        if (!OsGetExitCodeThread(record->thread, &exitCode)) {
            DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
                .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "DestroyThread() - Failed to get thread exit status.");
            ok = false;
        } else if (exitCode == OS_STILL_ACTIVE) {
            OsTerminateThread(record->thread, kTerminatedExitCode);
            stillRunning = true;
        }
        OsCloseHandle(record->thread);
        record->thread = nullptr;
    }
    // A thread that had to be ended by force may have been using its block;
    // it is left allocated rather than risk a late access.
    if (!stillRunning) std::free(record->argument);
    record->argument = nullptr;
    return ok;
}

namespace {

struct RowSection {
    RowWork work;
    void* context;
    int32_t top, bottom;
    bool done;
};

uint32_t RowSectionThread(void* raw) {
    auto* section = static_cast<RowSection*>(raw);
    section->done = section->work(section->context, section->top, section->bottom);
    return 0;
}

}  // namespace

bool RunInRowSections(int32_t top, int32_t bottom, RowWork work, void* context) {
    std::vector<SectionSpan> spans = DivideIntoSections(top, bottom, GetProcessorCount());
    if (spans.size() <= 1) return work(context, top, bottom);
    std::vector<ThreadRecord> records(spans.size());
    std::vector<RowSection*> sections(spans.size(), nullptr);
    int32_t prepared = 0;
    for (size_t k = 0; k < spans.size(); k++) {
        auto* section = static_cast<RowSection*>(std::malloc(sizeof(RowSection)));
        if (!section) break;
        *section = RowSection{work, context, spans[k].top, spans[k].bottom, false};
        sections[k] = section;
        records[k].startRoutine = RowSectionThread;
        records[k].argument = section;
        records[k].index = static_cast<int32_t>(k);
        prepared++;
    }
    SpawnMultipleThreads(records.data(), prepared);
    bool ok = WaitForMultipleThreads(records.data(), prepared, false);
    // After a failed wait a thread may still be writing: nothing is redone then.
    for (size_t k = 0; ok && k < spans.size(); k++)
        if (!(sections[k] && sections[k]->done)) ok = work(context, spans[k].top, spans[k].bottom);
    for (int32_t k = 0; k < prepared; k++) DestroyThread(&records[static_cast<size_t>(k)]);
    return ok;
}
