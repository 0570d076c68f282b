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
