#include "support/run_result.h"

namespace {
bool gMemoryRanShort = false;
int16_t gOwnResult = 0;
int16_t* volatile gTarget = &gOwnResult;
}  // namespace

void SetRunResultTarget(int16_t* target) { gTarget = target ? target : &gOwnResult; }

int16_t GetGlobalErrorCode() { return __atomic_load_n(gTarget, __ATOMIC_RELAXED); }

int16_t SetGlobalErrorCode(int16_t code) {
    int16_t expected = 0;
    if (code != 0 && __atomic_compare_exchange_n(gTarget, &expected, code, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
        return code;
    return expected != 0 ? expected : GetGlobalErrorCode();
}

void ForceGlobalErrorCode(int16_t code) { __atomic_store_n(gTarget, code, __ATOMIC_SEQ_CST); }

void NoteMemoryShortage() { __atomic_store_n(&gMemoryRanShort, true, __ATOMIC_RELAXED); }
bool MemoryRanShort() { return __atomic_load_n(&gMemoryRanShort, __ATOMIC_RELAXED); }
void ResetMemoryShortage() { __atomic_store_n(&gMemoryRanShort, false, __ATOMIC_RELAXED); }
int16_t FailureCodeUnlessMemory(int16_t code) { return MemoryRanShort() ? RUN_OUT_OF_MEMORY : code; }
