// The small thread toolkit of the system: the section rule that divides an
// image into horizontal bands, the processor count that sets how many, and a
// pool of thread records started and collected together.
#pragma once

#include <cstdint>
#include <vector>

#include "support/os.h"

struct ThreadRecord {
    void* security = nullptr;
    uint32_t stackSize = 0;
    OsThreadProc startRoutine = nullptr;
    void* argument = nullptr;  // malloc'd argument block; freed by DestroyThread
    uint32_t creationFlags = 0;
    uint32_t threadId = 0;
    OsHandle thread = nullptr;  // null when not started or already waited for
    int32_t index = 0;
};

struct SectionSpan {
    int32_t top, bottom;  // bottom exclusive
};

// Divides rows top..bottom among `count` sections: each gets rows / count
// rows and the last the remainder; with fewer rows than sections, one row each.
std::vector<SectionSpan> DivideIntoSections(int32_t top, int32_t bottom, int32_t count);

struct ProcessorTopology {
    uint32_t cores, logicalProcessors, packages;
};
// Reads the processor topology of the machine; false when it cannot be read.
bool QueryProcessorTopology(uint32_t* cores, uint32_t* logicalProcessors, uint32_t* packages);
// The worker count for a topology (or, without one, for the system's
// processor count): computed once by GetProcessorCount and kept.
int32_t ProcessorCountFor(const ProcessorTopology* topology, uint32_t systemProcessors);
int32_t GetProcessorCount();
// Test hook: forget the kept count, or force one (0 = compute again).
void SetProcessorCountForTesting(int32_t count);

bool SpawnMultipleThreads(ThreadRecord* records, int32_t count);
bool WaitForMultipleThreads(ThreadRecord* records, int32_t count, bool alertable);
bool DestroyThread(ThreadRecord* record);
// Test hook: thread starts from this record index on fail (-1 = off).
void SetThreadStartFailureForTesting(int32_t fromIndex);

// Work on rows top..bottom (bottom exclusive); false stops the whole.
typedef bool (*RowWork)(void* context, int32_t top, int32_t bottom);
// Runs `work` on the sections of rows top..bottom at once, one thread each.
// A section whose thread cannot start is done on this thread, so the result
// never depends on how many threads ran. True when every section was done.
bool RunInRowSections(int32_t top, int32_t bottom, RowWork work, void* context);
