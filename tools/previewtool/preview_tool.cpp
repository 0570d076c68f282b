// rl_preview_tool: the preview without a dialog, for the documentation and
// the benchmark (Windows; OpenGL through Wine's Mesa works).
//
//   rl_preview_tool shot OUT.png   the final render beside the preview frame
//                                  of the same parameters, at 100 %
//   rl_preview_tool bench          time per frame on the card's and the
//                                  software path, at fit-in-view and 100 %
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/analysis_task.h"
#include "analysis/light_source_table.h"
#include "effects/effect_tables.h"
#include "effects/final_render.h"
#include "gl/drawing_settings.h"
#include "host/host_image.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "image/tracked_buffer.h"
#include "preview/preview_harness.h"
#include "support/run_result.h"
#include "tools/previewtool/starfield_host_image.h"
#include "tools/raylume/raster.h"
#include "tools/starfield/starfield.h"

namespace {

using Clock = std::chrono::steady_clock;
double Milliseconds(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

ParameterSet Parameters() {
    ParameterSet p = {};
    p.scale = 100.0;
    p.previewOn = true;
    p.intensity = 70;
    p.length = 45;
    p.angle = 450;
    p.numberOfPoints = 6;
    p.spikeSharpness = 50;
    p.colorSaturation = 20;
    p.rainbowIntensity = 30;
    p.rainbowFrequency = 40;
    p.secondarySpikeIntensity = 25;
    p.softFlareIntensity = 30;
    p.quantity = 50;
    p.colorHue = 0;
    p.ringFlareIntensity = 15;
    return p;
}

bool StartRun() {
    ForceGlobalErrorCode(0);
    InitializeBufferUsage();
    return InitializeGammaTables() && InitializeColorManagement(IMAGE_MODE_RGB16, nullptr) &&
           CreateShapeCreationMutex();
}

// A 16-bit host image of a star field, and its light sources.
bool MakeHostImage(int32_t width, int32_t height, int32_t stars, uint64_t seed, double* analysisMs) {
    StarfieldOptions options;
    options.seed = seed;
    options.width = width;
    options.height = height;
    options.starCount = stars;
    options.minPeak = 0.1;
    options.maxPeak = 4.0;
    options.skyLevel = 0.03;
    options.noise = 0.004;
    options.nebulaCount = 2;
    options.margin = 4;
    StarfieldImage field;
    std::vector<StarfieldStar> truth;
    std::string error;
    if (!CreateStarfield(options, &field, &truth, &error)) {
        std::fprintf(stderr, "rl_preview_tool: %s\n", error.c_str());
        return false;
    }
    if (!StarfieldToHostImage(field)) return false;
    Image* host = GetHostImage();
    InitializeEffectTables();
    InitializeLightSourceList(&LightSourceTable);
    Clock::time_point start = Clock::now();
    if (RunLightSourceAnalysis(host) != 0) return false;
    if (analysisMs) *analysisMs = Milliseconds(start);
    return true;
}

int Shot(const char* out) {
    const int32_t w = 480, h = 320;
    if (!StartRun() || !MakeHostImage(w, h, 60, 21, nullptr)) return 1;
    ParameterSet p = Parameters();
    Image final;
    ImageRect rect = {0, 0, w, h};
    if (!CreateImage(&final, rect, rect, IMAGE_MODE_RGB16, GetHostProfile(), false, false)) return 1;
    std::memcpy(final.pixels.pointer, GetHostImage()->pixels.pointer, final.pixels.size);
    if (RenderEffectsIntoImage(&final, p, &LightSourceTable, IMAGE_MODE_RGB16) != RUN_OK) return 1;
    PreviewFrame frame;
    if (!OpenPreviewHarness(w + 2, h + 2, OPTIMIZE_FOR_QUALITY) || !RenderPreviewFrame(p, &frame)) {
        std::fprintf(stderr, "rl_preview_tool: no preview frame\n");
        return 1;
    }
    ClosePreviewHarness();
    // Final render on the left, the preview on the right, a dark gap between.
    const int32_t gap = 8;
    Raster picture;
    picture.width = 2 * w + gap;
    picture.height = h;
    picture.colours = 3;
    picture.depth = 8;
    picture.samples.resize(picture.RowBytes() * picture.height, 24);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = picture.Row(y);
        for (int32_t x = 0; x < w; ++x) {
            const auto* f = reinterpret_cast<const uint16_t*>(PixelAddress(&final, x, y));
            const uint8_t* v = &frame.rgba[(static_cast<size_t>(y + 1) * (w + 2) + x + 1) * 4];
            for (int c = 0; c < 3; ++c) {
                row[x * 3 + c] = static_cast<uint8_t>((f[c] + 128) / 257);
                row[(w + gap + x) * 3 + c] = v[c];
            }
        }
    }
    std::string error;
    if (!WritePngRaster(out, picture, &error)) {
        std::fprintf(stderr, "rl_preview_tool: %s\n", error.c_str());
        return 1;
    }
    std::printf("rl_preview_tool: wrote %s (final render left, preview right, %d x %d each)\n", out, w, h);
    ReleaseImage(&final);
    return 0;
}

int Bench() {
    const int32_t w = 4000, h = 3000, previewW = 1000, previewH = 700;
    double analysisMs = 0;
    if (!StartRun() || !MakeHostImage(w, h, 2000, 5, &analysisMs)) return 1;
    std::printf("star field %d x %d, 16-bit: %u light sources, analysis %.0f ms\n", w, h, LightSourceTable.count,
                analysisMs);
    std::printf("%-10s %-12s %12s %14s %14s\n", "path", "view", "first frame", "median frame", "slowest frame");
    const double fit = std::min((previewW - 2) * 100.0 / w, (previewH - 2) * 100.0 / h);
    for (uint32_t setting : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_NONE}) {
        Clock::time_point opened = Clock::now();
        if (!OpenPreviewHarness(previewW, previewH, setting)) return 1;
        for (double zoom : {fit, 100.0}) {
            ParameterSet p = Parameters();
            p.scale = zoom;
            p.scrollX = zoom == 100.0 ? 1500 : 0;
            p.scrollY = zoom == 100.0 ? 1100 : 0;
            PreviewFrame frame;
            Clock::time_point first = Clock::now();
            if (!RenderPreviewFrame(p, &frame)) return 1;
            double firstMs = Milliseconds(zoom == fit ? opened : first);
            // A slider drag: each frame changes the effects (new quads), the view stays.
            std::vector<double> times;
            for (int i = 0; i < 12; ++i) {
                p.intensity = static_cast<int16_t>(50 + i * 3);
                p.quantity = static_cast<int16_t>(40 + i);
                Clock::time_point start = Clock::now();
                if (!RenderPreviewFrame(p, &frame)) return 1;
                times.push_back(Milliseconds(start));
            }
            std::sort(times.begin(), times.end());
            std::printf("%-10s %-12s %10.0f ms %12.1f ms %12.1f ms\n",
                        setting == OPTIMIZE_NONE ? "software" : "card", zoom == 100.0 ? "100 %" : "fit-in-view",
                        firstMs, times[times.size() / 2], times.back());
        }
        ClosePreviewHarness();
    }
    std::printf("(first frame at fit-in-view: from opening the preview, including the task's start and handshake)\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SetOpenGLRegistryKeyForTesting("Software\\RaylumeTests\\OpenGLSettings");
    if (argc >= 3 && std::strcmp(argv[1], "shot") == 0) return Shot(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "bench") == 0) return Bench();
    std::fprintf(stderr, "usage: rl_preview_tool shot OUT.png | bench\n");
    return 2;
}
