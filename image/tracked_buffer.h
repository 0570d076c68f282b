// Tracked buffers: heap blocks whose sizes are added to process-wide current
// and peak usage counters, reported when an entry point finishes.
#pragma once

#include <cstdint>

struct TrackedBuffer {
    void* pointer = nullptr;
    uint64_t size = 0;
};

// Creates BufferUsageSection the first time; 0, or non-zero when it could not be made.
int InitializeBufferUsage();
// Deletes the section (at the end of an entry point, after ReportBufferUsage).
void DeleteBufferUsageSection();
// Frees the old block and allocates `size` bytes (contents not kept). 0 or -108.
int ReallocateBuffer(uint64_t size, TrackedBuffer* buffer);
// Resizes keeping the contents; on failure the old block stays. 0 or -108.
int ReallocateBufferPreserveContents(uint64_t size, TrackedBuffer* buffer);
void DeallocateBuffer(TrackedBuffer* buffer);
// For memory its owner freed directly: lowers the current usage by `size`.
void ReleaseBufferUsage(uint64_t size);
void ReportBufferUsage();
uint64_t GetCurrentBufferUsage();
uint64_t GetPeakBufferUsage();
// Test hook: the next allocations of at least `size` bytes fail (0 turns it off).
void SetBufferAllocationLimitForTesting(uint64_t size);
