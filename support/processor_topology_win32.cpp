// Processor topology on Windows, from GetLogicalProcessorInformation.
#ifdef _WIN32
#include <windows.h>

#include <cstdlib>

#include "support/thread_pool.h"
#include "support/debug_log.h"

uint32_t SystemProcessorCount() {
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

bool QueryProcessorTopology(uint32_t* cores, uint32_t* logicalProcessors, uint32_t* packages) {
    typedef BOOL(WINAPI * Query)(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION, PDWORD);
    HMODULE kernel = GetModuleHandleA("kernel32");
    auto query = kernel ? reinterpret_cast<Query>(GetProcAddress(kernel, "GetLogicalProcessorInformation")) : nullptr;
    if (!query) return false;
    DWORD size = 0;
    if (query(nullptr, &size)) {
        ReportUnexpected(__LINE__, "Call to GetLogicalProcessorInformation() succeeded.");
        return false;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "Could not get size of Logical Processor Information buffer.");
        return false;
    }
    auto* buffer = static_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION*>(std::malloc(size));
    if (!buffer) {
        ReportUnexpected(__LINE__, "Failed to allocate Logical Processor Information buffer.");
        return false;
    }
    if (!query(buffer, &size)) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "GetLogicalProcessorInformation() failed.");
        std::free(buffer);
        return false;
    }
    *cores = *logicalProcessors = *packages = 0;
    DWORD entries = size / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION);
    for (DWORD i = 0; i < entries; i++) {
        switch (buffer[i].Relationship) {
            case RelationProcessorCore:
                (*cores)++;
                *logicalProcessors += static_cast<uint32_t>(__builtin_popcountll(buffer[i].ProcessorMask));
                break;
            case RelationProcessorPackage: (*packages)++; break;
            case RelationNumaNode:
            case RelationCache: break;
            default:
                ReportUnexpected(__LINE__, "Unsupported LOGICAL_PROCESSOR_RELATIONSHIP value %d.",
                                 static_cast<int>(buffer[i].Relationship));
        }
    }
    std::free(buffer);
    return true;
}
#endif
