// Scripting parameters: the descriptor a recording host keeps for the filter
// (read at the start of a run, written at its end) and the parameter block
// remembered in the host's descriptor registry.
#pragma once

#include <cstdint>

#include "host/host_abi.h"

constexpr int16 kScriptingNoBlock = -148;
constexpr int16 kScriptingNoHostSupport = -30900;
constexpr int16 kScriptingUnconvertible = -30905;

struct ScriptingKey {
    DescriptorKeyID key;
    DescriptorTypeID type;
    DescriptorUnitID unit;  // 0 for none
    int slot;               // record slot
};
// The fourteen keys in the order they are written, then an end row of type 'null'.
extern const ScriptingKey kScriptingKeys[15];

// Reads a replayed descriptor over the factory values into the current
// record and decides whether the dialog shows. `hostExecutablePath` picks out
// the hosts that need the dialog for incomplete settings. 0 or -148.
int16 ReadScriptingDescriptor(FilterRecord* record, uint8_t* showDialog, const char* hostExecutablePath);
// Writes the current record as the filter's descriptor. 0, -148, -30900 or a host error.
int16 WriteScriptingDescriptor(FilterRecord* record);
// Applies the block remembered in the host's registry. 0, -30900 (none) or -30905.
int16 ReadRegistryParameters(FilterRecord* record);
// Remembers the current record in the host's registry. 0 or -30900.
int16 WriteRegistryParameters(FilterRecord* record);
