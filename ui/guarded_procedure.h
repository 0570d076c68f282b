// Window, dialog and hook procedures run inside the host's message loop: an
// exception leaving one would unwind through the system's dispatch into the
// host. Each procedure runs its body through GuardedProcedure, which turns
// any exception into the run's out-of-memory result (the dialog then closes
// with it) and answers `fallback`.
#pragma once

#include "support/debug_log.h"
#include "support/run_result.h"

template <typename Result, typename Body>
Result GuardedProcedure(Result fallback, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
        return fallback;
    }
}
