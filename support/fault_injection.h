// Allocation-failure testing: a test arms a countdown, and the N-th
// allocation after it (tracked buffers, and whatever else a test routes
// here: operator new, Little CMS's allocator) fails, once. Off unless armed;
// costs one relaxed atomic load per allocation.
#pragma once

#include <cstdint>

// The allocation `n` from now fails (1 = the next one); 0 turns it off.
void ArmAllocationFailure(int64_t n);
// Counts an allocation; true when it is the one that must fail.
bool AllocationShouldFail();
// Allocations counted since the last arm (to size a walk).
int64_t AllocationsCounted();
// While off, allocations are neither counted nor failed (a test turns it on
// only while the code under test runs). Off by default: production code
// pays one relaxed load per allocation.
void EnableAllocationCounting(bool enabled);

// While one lives, allocations on its thread are neither counted nor failed:
// around a library call that cannot survive a failed allocation of its own
// (Little CMS 2.14 goes on with a half-made transform when making a
// transform's inner one fails), so that a walk tests ours, not its.
class AllocationFailuresPaused {
public:
    AllocationFailuresPaused();
    ~AllocationFailuresPaused();
    AllocationFailuresPaused(const AllocationFailuresPaused&) = delete;
    AllocationFailuresPaused& operator=(const AllocationFailuresPaused&) = delete;
};
