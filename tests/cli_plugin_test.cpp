// The command-line tool and the plug-in paint the same picture: the tool
// calls the engine directly, the plug-in is driven through the host simulator.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "host/host_abi.h"
#include "host/plugin_state.h"
#include "host/scripting.h"
#include "params/filter_parameters.h"
#include "support/run_result.h"
#include "tests/host_test_support.h"
#include "tests/raster_test_support.h"
#include "tools/hostsim/host_simulator.h"
#include "tools/raylume/filter_raster.h"

extern "C" void PluginMain(int16 selector, void* block, intptr_t* data, int16* result);

namespace {

// The tool's picture equals the plug-in's on the same pixels and values:
// exactly at 8 bits, within one unit at 16 bits where the host's range rounds.
TEST(ToolAndPlugIn, TheToolPaintsWhatThePlugInPaints) {
    for (int32_t depth : {8, 16}) {
        Raster raster = Field(150, 100, 3, false, depth, 42);
        SimDocument document = MakeSimDocument(depth == 8 ? plugInModeRGBColor : plugInModeRGB48, 150, 100);
        document.Allocate();
        const double white = SimWhite(document.mode);
        for (int32_t y = 0; y < 100; y++)
            for (int32_t x = 0; x < 150; x++)
                for (int32_t c = 0; c < 3; c++) {
                    const uint8_t* s = raster.Row(y) + (static_cast<size_t>(x) * 3 + c) * raster.SampleBytes();
                    double v = depth == 8 ? *s : *reinterpret_cast<const uint16_t*>(s);
                    document.Set(c, x, y, depth == 8 ? v : std::floor(v * white / 65535.0 + 0.5));
                }
        // The plug-in is given the host's rounding of the 16-bit values, and so is the tool.
        for (int32_t y = 0; y < 100 && depth == 16; y++)
            for (int32_t x = 0; x < 150; x++)
                for (int32_t c = 0; c < 3; c++) {
                    auto* s = reinterpret_cast<uint16_t*>(raster.Row(y) + (static_cast<size_t>(x) * 3 + c) * 2);
                    *s = static_cast<uint16_t>((static_cast<uint32_t>(document.Get(c, x, y)) * 65535u + 16384u) >> 15);
                }
        HostSimulator host{PluginMain};
        host.document = document;
        host.options.callParameters = false;
        host.options.playInfo = PLAY_INFO_SILENT;
        host.PlayDescriptor(DescriptorOfRecord(FACTORY_PARAMETERS));
        ASSERT_EQ(host.RunFilter().Result(filterSelectorStart), 0);
        ForceGlobalErrorCode(0);
        ASSERT_EQ(FilterRaster(&raster, FACTORY_PARAMETERS, nullptr).result, 0);
        int64_t differing = 0, changed = 0;
        for (int32_t y = 0; y < 100; y++)
            for (int32_t x = 0; x < 150; x++)
                for (int32_t c = 0; c < 3; c++) {
                    const uint8_t* s = raster.Row(y) + (static_cast<size_t>(x) * 3 + c) * raster.SampleBytes();
                    double tool = depth == 8 ? *s : *reinterpret_cast<const uint16_t*>(s) * white / 65535.0;
                    double plugin = host.document.Get(c, x, y);
                    if (std::fabs(tool - plugin) > (depth == 8 ? 0.0 : 1.0)) differing++;
                    if (plugin != document.Get(c, x, y)) changed++;
                }
        EXPECT_EQ(differing, 0) << depth << "-bit";
        EXPECT_GT(changed, 500) << depth << "-bit: the effects must show";
    }
}


}  // namespace
