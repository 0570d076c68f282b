// The allocation-failure countdown.
#include "support/fault_injection.h"

#include <atomic>

namespace {
std::atomic<int64_t> gCountdown{0};  // > 0: armed
std::atomic<int64_t> gCounted{0};
std::atomic<bool> gEnabled{false};
thread_local int tPaused = 0;
}  // namespace

AllocationFailuresPaused::AllocationFailuresPaused() { tPaused++; }
AllocationFailuresPaused::~AllocationFailuresPaused() { tPaused--; }

void EnableAllocationCounting(bool enabled) { gEnabled.store(enabled, std::memory_order_relaxed); }

void ArmAllocationFailure(int64_t n) {
    gCounted.store(0, std::memory_order_relaxed);
    gCountdown.store(n > 0 ? n : 0, std::memory_order_relaxed);
}

bool AllocationShouldFail() {
    if (!gEnabled.load(std::memory_order_relaxed) || tPaused) return false;
    gCounted.fetch_add(1, std::memory_order_relaxed);
    if (gCountdown.load(std::memory_order_relaxed) <= 0) return false;
    return gCountdown.fetch_sub(1, std::memory_order_relaxed) == 1;
}

int64_t AllocationsCounted() { return gCounted.load(std::memory_order_relaxed); }
