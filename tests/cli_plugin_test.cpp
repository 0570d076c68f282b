// The command-line tool and the plug-in paint the same picture: the tool
// calls the engine directly, the plug-in is driven through the host simulator.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "analysis/light_source_edits.h"
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

// The table's own edits, made by index where the tool picks by position.
struct TableEdits {
    int32_t hide, show;
};
void EditTable(void* context, LightSourceList* table) {
    const auto* edits = static_cast<const TableEdits*>(context);
    HideLightSource(table, static_cast<uint32_t>(edits->hide));
    ShowLightSource(table, static_cast<uint32_t>(edits->show));
}

// The catalogue entry within 0.75 pixels of a true star, or -1.
int32_t EntryAt(const std::vector<CatalogueEntry>& catalogue, const StarfieldStar& star) {
    for (size_t i = 0; i < catalogue.size(); i++) {
        const LightSource& s = catalogue[i].source;
        if (std::hypot(s.x + s.xQuarter / 4.0 - star.x, s.y + s.yQuarter / 4.0 - star.y) <= 0.75)
            return static_cast<int32_t>(i);
    }
    return -1;
}

// --hide and --show at true stars' positions change those two stars and no
// other, and give the picture and catalogue of a run whose table was edited
// by index, as the preview's tools edit it.
TEST(ToolEdits, PickingStarsByPositionEqualsEditingTheTable) {
    std::vector<StarfieldStar> stars;
    const Raster field = Field(240, 160, 3, false, 16, 21, 30, &stars);
    Raster plain = field;
    ForceGlobalErrorCode(0);
    const FilterOutcome before = FilterRaster(&plain, FACTORY_PARAMETERS, nullptr);
    ASSERT_EQ(before.result, 0);
    // The brightest true star with effects, and a true star left without.
    int32_t hide = -1, show = -1;
    const StarfieldStar* hidden = nullptr;
    const StarfieldStar* shown = nullptr;
    for (const StarfieldStar& star : stars) {
        const int32_t entry = EntryAt(before.catalogue, star);
        if (entry < 0) continue;
        const CatalogueEntry& listed = before.catalogue[entry];
        if (listed.selected && (hide < 0 || entry < hide)) {
            hide = entry;
            hidden = &star;
        }
        if (!listed.selected && listed.source.state == LIGHT_SOURCE_AUTO && show < 0) {
            show = entry;
            shown = &star;
        }
    }
    ASSERT_GE(hide, 0);
    ASSERT_GE(show, 0);

    LightSourceChoices picks;
    picks.picks = {{hidden->x + 0.3, hidden->y - 0.2, 20.0, LIGHT_SOURCE_OP_HIDE},
                   {shown->x, shown->y, 20.0, LIGHT_SOURCE_OP_SHOW}};
    Raster picked = field;
    ForceGlobalErrorCode(0);
    const FilterOutcome byPosition = FilterRaster(&picked, FACTORY_PARAMETERS, nullptr, &picks);
    ASSERT_EQ(byPosition.result, 0);
    EXPECT_EQ(byPosition.picked, (std::vector<int32_t>{hide, show}));

    TableEdits edits = {hide, show};
    LightSourceChoices table;
    table.edit = EditTable;
    table.editContext = &edits;
    Raster edited = field;
    ForceGlobalErrorCode(0);
    const FilterOutcome byIndex = FilterRaster(&edited, FACTORY_PARAMETERS, nullptr, &table);
    ASSERT_EQ(byIndex.result, 0);

    EXPECT_TRUE(picked.samples == edited.samples);
    EXPECT_FALSE(picked.samples == plain.samples);
    ASSERT_EQ(byPosition.catalogue.size(), before.catalogue.size());
    ASSERT_EQ(byIndex.catalogue.size(), before.catalogue.size());
    for (size_t i = 0; i < before.catalogue.size(); i++) {
        const CatalogueEntry& was = before.catalogue[i];
        const CatalogueEntry& now = byPosition.catalogue[i];
        EXPECT_EQ(now.source.state, byIndex.catalogue[i].source.state) << i;
        EXPECT_EQ(now.selected, byIndex.catalogue[i].selected) << i;
        EXPECT_EQ(now.intensity, byIndex.catalogue[i].intensity) << i;
        if (static_cast<int32_t>(i) == hide) {
            EXPECT_EQ(now.source.state, LIGHT_SOURCE_HIDDEN);
            EXPECT_FALSE(now.selected);
        } else if (static_cast<int32_t>(i) == show) {
            EXPECT_EQ(now.source.state, LIGHT_SOURCE_SHOWN);
            EXPECT_TRUE(now.selected);
        } else {
            EXPECT_EQ(now.source.state, was.source.state) << i;
            EXPECT_EQ(now.selected, was.selected) << i;
        }
    }
}

}  // namespace
