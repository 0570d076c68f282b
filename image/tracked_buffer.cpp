// Tracked buffers and the process-wide usage counters.
#include "image/tracked_buffer.h"

#include <cinttypes>
#include <cstdlib>

#include "support/debug_log.h"
#include "support/fault_injection.h"
#include "support/os.h"
#include "support/run_result.h"

namespace {

OsCriticalSection gBufferUsageSection;
uint64_t gCurrentUsage = 0;
uint64_t gPeakUsage = 0;
uint64_t gFailAtOrAbove = 0;  // test hook: 0 = off

// The counters are changed under the section when it exists (entry points
// create it at start-up); before that, only one thread runs.
void Lock() {
    if (OsCriticalSectionValid(&gBufferUsageSection)) OsEnterCriticalSection(&gBufferUsageSection);
}
void Unlock() {
    if (OsCriticalSectionValid(&gBufferUsageSection)) OsLeaveCriticalSection(&gBufferUsageSection);
}

void* Allocate(uint64_t size) {
    void* p = nullptr;
    if (!(gFailAtOrAbove && size >= gFailAtOrAbove) && !AllocationShouldFail() && size <= SIZE_MAX)
        p = OsAllocate(static_cast<size_t>(size));
    if (!p) NoteMemoryShortage();
    return p;
}

void* Reallocate(void* old, uint64_t oldSize, uint64_t size) {
    void* p = nullptr;
    if (!(gFailAtOrAbove && size >= gFailAtOrAbove) && !AllocationShouldFail() && size <= SIZE_MAX)
        p = OsReallocate(old, static_cast<size_t>(oldSize), static_cast<size_t>(size));
    if (!p) NoteMemoryShortage();
    return p;
}

}  // namespace

int InitializeBufferUsage() {
    if (OsCriticalSectionValid(&gBufferUsageSection)) return 0;
    if (!OsInitializeCriticalSection(&gBufferUsageSection, 1024)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not create 'BufferUsageSection' critical section.");
        return 1;
    }
    return 0;
}

void DeleteBufferUsageSection() {
    if (OsCriticalSectionValid(&gBufferUsageSection)) OsDeleteCriticalSection(&gBufferUsageSection);
}

int ReallocateBuffer(uint64_t size, TrackedBuffer* buffer) {
    if (!buffer) return -108;
    uint64_t previous = buffer->size;
    OsFree(buffer->pointer, static_cast<size_t>(previous));
    buffer->pointer = Allocate(size);
    Lock();
    if (!buffer->pointer) {
        buffer->size = 0;
        gCurrentUsage -= previous;
        uint64_t current = gCurrentUsage, peak = gPeakUsage;
        Unlock();
        ReportUnexpected(__LINE__,
                         "ReallocateBuffer() Allocation Failed: Requested = %" PRIu64 ", Previous Size = %" PRIu64
                         ", Current Usage = %" PRIu64 ", Peak Usage = %" PRIu64,
                         size, previous, current, peak);
        return -108;
    }
    gCurrentUsage += size - previous;
    if (gCurrentUsage > gPeakUsage) gPeakUsage = gCurrentUsage;
    Unlock();
    buffer->size = size;
    return 0;
}

int ReallocateBufferPreserveContents(uint64_t size, TrackedBuffer* buffer) {
    if (!buffer) return -108;
    uint64_t previous = buffer->size;
    void* grown = Reallocate(buffer->pointer, previous, size);
    if (!grown) {
        Lock();
        uint64_t current = gCurrentUsage, peak = gPeakUsage;
        Unlock();
        ReportUnexpected(__LINE__,
                         "ReallocateBufferPreserveContents() Allocation Failed: Requested = %" PRIu64
                         ", Previous Size = %" PRIu64 ", Current Usage = %" PRIu64 ", Peak Usage = %" PRIu64,
                         size, previous, current, peak);
        return -108;
    }
    buffer->pointer = grown;
    buffer->size = size;
    Lock();
    gCurrentUsage += size - previous;
    if (gCurrentUsage > gPeakUsage) gPeakUsage = gCurrentUsage;
    Unlock();
    return 0;
}

void DeallocateBuffer(TrackedBuffer* buffer) {
    if (!buffer) {
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, "Debug:  Unexepected error.",
                                    "NULL buffer descriptor pointer received in DeallocateBuffer()");
        return;
    }
    // A zero-sized buffer counts for nothing; its (tiny) block is still freed.
    OsFree(buffer->pointer, static_cast<size_t>(buffer->size));
    if (buffer->size != 0) ReleaseBufferUsage(buffer->size);
    buffer->pointer = nullptr;
    buffer->size = 0;
}

void ReleaseBufferUsage(uint64_t size) {
    Lock();
    gCurrentUsage -= size;
    Unlock();
}

void ReportBufferUsage() {
    Lock();
    uint64_t current = gCurrentUsage, peak = gPeakUsage;
    Unlock();
    DebugEvent(__LINE__, TRACE_MESSAGE)
        .Report("ReportBufferUsage(): Current Usage = %" PRIu64 ", Peak Usage = %" PRIu64 "\n", current, peak);
}

uint64_t GetCurrentBufferUsage() {
    Lock();
    uint64_t v = gCurrentUsage;
    Unlock();
    return v;
}

uint64_t GetPeakBufferUsage() {
    Lock();
    uint64_t v = gPeakUsage;
    Unlock();
    return v;
}

void SetBufferAllocationLimitForTesting(uint64_t size) { gFailAtOrAbove = size; }
