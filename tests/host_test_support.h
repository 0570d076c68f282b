// Helpers of the tests that drive the plug-in through the host simulator.
#pragma once

#include "host/host_abi.h"
#include "host/scripting.h"
#include "params/filter_parameters.h"
#include "tools/hostsim/sim_descriptor.h"

// The fourteen keys of a record, as a host replays a recorded filter.
inline SimDescriptor DescriptorOfRecord(const FilterParameters& p) {
    SimDescriptor d;
    for (int i = 0; i < 14; i++) {
        const ScriptingKey& k = kScriptingKeys[i];
        int16_t v = p.slot[k.slot];
        if (k.type == FourCC("bool"))
            d.Bool(k.key, v != 0);
        else if (k.type == FourCC("long"))
            d.Integer(k.key, v);
        else
            d.UnitFloat(k.key, k.unit, k.slot == SLOT_ANGLE ? v / 10.0 : v);
    }
    return d;
}
