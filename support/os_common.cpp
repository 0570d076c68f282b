// The part of the operating-system layer both platforms share.
#include <exception>
#include <new>

#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"

uint32_t OsRunThreadBody(OsThreadProc proc, void* argument) noexcept {
    try {
        return proc(argument);
    } catch (const std::bad_alloc&) {
        // Inside a host an escaped exception would end the editor: the run
        // ends with its out-of-memory result instead.
        SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
        ReportUnexpected(__LINE__, "OsRunThreadBody() - A thread ran out of memory and was ended.");
    } catch (...) {
        SetGlobalErrorCode(RUN_THREAD_FAILED);
        ReportUnexpected(__LINE__, "OsRunThreadBody() - A thread failed unexpectedly and was ended.");
    }
    return OS_THREAD_FAILED;
}
