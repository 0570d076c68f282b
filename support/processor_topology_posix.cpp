// Processor topology on Linux, from the CPU topology the kernel publishes.
#ifndef _WIN32
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <utility>

#include "support/thread_pool.h"

namespace {
bool ReadNumber(const std::string& path, long* value) {
    std::ifstream in(path);
    return static_cast<bool>(in >> *value);
}
}  // namespace

uint32_t SystemProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<uint32_t>(n) : 1;
}

bool QueryProcessorTopology(uint32_t* cores, uint32_t* logicalProcessors, uint32_t* packages) {
    std::set<std::pair<long, long>> coreIds;
    std::set<long> packageIds;
    uint32_t logical = 0;
    long configured = sysconf(_SC_NPROCESSORS_CONF);
    for (long cpu = 0; cpu < configured && cpu < 4096; cpu++) {
        std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu);
        long online = 1;
        if (cpu != 0 && ReadNumber(base + "/online", &online) && online == 0) continue;
        long core = 0, package = 0;
        if (!ReadNumber(base + "/topology/core_id", &core) ||
            !ReadNumber(base + "/topology/physical_package_id", &package))
            continue;
        logical++;
        coreIds.insert({package, core});
        packageIds.insert(package);
    }
    if (logical == 0) return false;
    *cores = static_cast<uint32_t>(coreIds.size());
    *logicalProcessors = logical;
    *packages = static_cast<uint32_t>(packageIds.size());
    return true;
}
#endif
