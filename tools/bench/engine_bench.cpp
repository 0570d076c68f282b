// Speed of the engine's heavy steps on a 4000 × 3000 16-bit image:
// the parallel colour conversion (1 and 2 workers), the light source
// analysis and the final render of a star field.
#include <benchmark/benchmark.h>

#include <cstring>

#include "analysis/analysis_task.h"
#include "analysis/light_source_table.h"
#include "support/thread_pool.h"
#include "effects/effect_tables.h"
#include "effects/final_render.h"
#include "effects/shape_cache.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "image/image.h"
#include "support/run_result.h"
#include "tools/starfield/starfield.h"

namespace {

constexpr int32_t kWidth = 4000, kHeight = 3000;

struct Field {
    Image host;
    bool ready = false;
    void Make() {
        if (ready) return;
        InitializeGammaTables();
        InitializeColorManagement(IMAGE_MODE_RGB16, nullptr);
        CreateShapeCreationMutex();
        InitializeEffectTables();
        StarfieldOptions options;
        options.seed = 2026;
        options.width = kWidth;
        options.height = kHeight;
        options.starCount = 3000;
        options.noise = 0.002;
        options.skyLevel = 0.03;
        options.nebulaCount = 3;
        StarfieldImage field;
        std::vector<StarfieldStar> stars;
        std::string error;
        CreateStarfield(options, &field, &stars, &error);
        ImageRect r = {0, 0, kWidth, kHeight};
        CreateImage(&host, r, r, IMAGE_MODE_RGB16, GetHostProfile(), false, false);
        for (int32_t y = 0; y < kHeight; y++)
            for (int32_t x = 0; x < kWidth; x++) {
                const float* p = field.Pixel(x, y);
                PixelValue v = {static_cast<uint32_t>(p[0] * 16777215.0f), static_cast<uint32_t>(p[1] * 16777215.0f),
                                static_cast<uint32_t>(p[2] * 16777215.0f), 0xFFFFFFFE, PIXEL_KEEP};
                host.OutputImage(&host, &v, x, y);
            }
        ready = true;
    }
};
Field gField;

void BM_ConvertImageColorsParallel(benchmark::State& state) {
    gField.Make();
    SetProcessorCountForTesting(static_cast<int32_t>(state.range(0)));
    Image linear;
    ImageRect r = gField.host.imageRect;
    CreateImage(&linear, r, r, IMAGE_MODE_RGB16, GetLinearWorkingProfile(), true, false);
    for (auto _ : state) {
        ForceGlobalErrorCode(0);
        benchmark::DoNotOptimize(ConvertImageColorsParallel(&gField.host, r, &linear, r));
    }
    ReleaseImage(&linear);
    SetProcessorCountForTesting(0);
    state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ConvertImageColorsParallel)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LightSourceAnalysis(benchmark::State& state) {
    gField.Make();
    for (auto _ : state) {
        ForceGlobalErrorCode(0);
        AnalysisStopFlag = 0;
        ReleaseLightSourceList(&LightSourceTable);
        InitializeLightSourceList(&LightSourceTable);
        benchmark::DoNotOptimize(RunLightSourceAnalysis(&gField.host));
    }
    state.counters["sources"] = LightSourceTable.count;
}
BENCHMARK(BM_LightSourceAnalysis)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_FinalRender(benchmark::State& state) {
    gField.Make();
    if (LightSourceTable.count == 0) {
        AnalysisStopFlag = 0;
        RunLightSourceAnalysis(&gField.host);
    }
    Image work;
    ImageRect r = gField.host.imageRect;
    FilterParameters factory = FACTORY_PARAMETERS;
    ParameterSet p;
    std::memset(&p, 0, sizeof(p));
    p.scale = 100.0;
    CopyEffectValues(&p, factory);
    for (auto _ : state) {
        state.PauseTiming();
        CreateImage(&work, r, r, IMAGE_MODE_RGB16, gField.host.profile, false, false);
        std::memcpy(work.pixels.pointer, gField.host.pixels.pointer, gField.host.pixels.size);
        ForceGlobalErrorCode(0);
        state.ResumeTiming();
        benchmark::DoNotOptimize(RenderEffectsIntoImage(&work, p, &LightSourceTable, IMAGE_MODE_RGB16));
    }
    ReleaseImage(&work);
}
BENCHMARK(BM_FinalRender)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
