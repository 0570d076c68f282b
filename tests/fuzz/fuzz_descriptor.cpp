// Fuzz target: scripting descriptors and registry entries as a host hands
// them to the plug-in. The bytes are decoded by the host simulator's own
// decoder; a descriptor that decodes is replayed into a whole filter run of
// a tiny image (the plug-in's descriptor reader and everything after it),
// and also offered as the plug-in's registry entry.
#include "host/host_abi.h"
#include "host/resource_description.h"
#include "host/scripting.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/hostsim/host_simulator.h"
#include "tools/hostsim/sim_descriptor.h"

extern "C" void PluginMain(int16 selector, void* block, intptr_t* data, int16* result);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFolder();
    SimDescriptor descriptor;
    if (!DecodeSimDescriptor(data, size, descriptor)) return 0;
    HostSimulator host(PluginMain);
    host.document = MakeSimDocument(plugInModeRGB48, 12, 9);
    FillSkyPattern(host.document, 3);
    host.options.callParameters = false;
    host.options.playInfo = PLAY_INFO_SILENT;
    host.PlayDescriptor(descriptor);
    host.SetRegistryEntry(kFilterUniqueString, descriptor, false);
    host.RunFilter();
    return 0;
}
