// The final render: bands, passes, selection, colouring and the composite.
#include "effects/final_render.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analysis/analysis_task.h"
#include "support/thread_pool.h"
#include "effects/effect_tables.h"
#include "effects/packed_spikes.h"
#include "effects/radial_flare.h"
#include "effects/shape_cache.h"
#include "effects/shape_generators.h"
#include "image/blend.h"
#include "image/color_management.h"
#include "image/composite.h"
#include "image/fixed_point.h"
#include "support/debug_log.h"
#include "support/run_result.h"

volatile uint8_t RenderAbortFlag = 0;

namespace {

constexpr uint32_t kMax = 0xFFFFFFFEu;

// How a render draws its shapes: the flares from their profile, the spikes
// packed; prepared before the band threads start.
struct EffectPlan {
    PackedSpikes spikes;
    RadialFlare soft;
    RadialFlare ring;
};

bool PrepareEffectPlan(EffectPlan* plan, const ParameterSet& p) {
    return PreparePackedSpikes(&plan->spikes, p) && PrepareRadialFlare(&plan->soft, SOFT_FLARE_SHAPE, p) &&
           PrepareRadialFlare(&plan->ring, RING_FLARE_SHAPE, p);
}

void ReleaseEffectPlan(EffectPlan* plan) {
    ReleasePackedSpikes(&plan->spikes);
    ReleaseRadialFlare(&plan->soft);
    ReleaseRadialFlare(&plan->ring);
}

struct BandTask {
    Image* working;
    EffectPlan* plan;
    const ScreenCoding* coding;  // the image's coding tables, shared by every band
    const RenderProgress* progress;
    ParameterSet parameters;
    struct StripQueue* strips;
    const LightSourceList* table;
    bool gray;
};

bool IsGrayMode(int32_t mode) { return mode == 1 || mode == 10 || mode == 17; }

uint32_t Clamp64(int64_t v) { return v < 0 ? 0u : (v > static_cast<int64_t>(kMax) ? kMax : static_cast<uint32_t>(v)); }

// Advances the progress; false when the run was cancelled.
bool Advance(const RenderProgress* progress, int64_t units) {
    if (progress && progress->advance) progress->advance(progress->context, units);
    return GetGlobalErrorCode() != RUN_CANCELLED;
}

bool DrawPass(Image* band, const ImageRect& bandRect, const ParameterSet& p, const LightSourceList* table,
              bool gray, EffectShapeKind kind, uint32_t threshold, EffectPlan* plan,
              const RenderProgress* progress) {
    const RadialFlare* flare = kind == SOFT_FLARE_SHAPE ? &plan->soft : kind == RING_FLARE_SHAPE ? &plan->ring : nullptr;
    const LightSource* sources = LightSourceRecords(table);
    uint32_t ringFactor = static_cast<uint32_t>(
        static_cast<double>(p.ringFlareIntensity) / 100.0 * p.ringFlareIntensity / 100.0 * 4294967294.0);
    for (uint32_t i = 0; i < table->count; i++) {
        if (OsFlagIsSet(&RenderAbortFlag)) return true;
        uint32_t I = 0;
        if (SelectLightSource(sources[i], threshold, &I) && I > EffectThreshold) {
            uint32_t rgb[3] = {sources[i].red, sources[i].green, sources[i].blue};
            if (!gray) ColourLightSource(rgb, p);
            uint32_t intensity = I;
            if (kind == SOFT_FLARE_SHAPE) {
                uint32_t third = static_cast<uint32_t>((1374389535ull * I) >> 32);
                intensity = static_cast<uint32_t>(p.softFlareIntensity) * (third / 32);
            } else if (kind == RING_FLARE_SHAPE) {
                intensity = UnitProduct(ringFactor, I);
            }
            ShapeColor colour = {rgb[0], rgb[1], rgb[2], intensity};
            ShapePosition at = {sources[i].x, sources[i].xQuarter, sources[i].y, sources[i].yQuarter};
            if (flare)
                DrawRadialFlareInto(band, bandRect, *flare, colour, at, BLEND_SCREEN);
            else if (!DrawPackedSpikesInto(band, bandRect, &plan->spikes, colour, at, BLEND_SCREEN))
                return false;
        }
        if (!Advance(progress, 1)) return true;
    }
    return true;
}

// A band is drawn in strips of this many rows, one strip's effects image at a
// time: the effects then take a small part of the picture's memory, and each
// strip is composited while it is still in the cache.
constexpr int32_t STRIP_ROWS = 256;

int64_t StripsOf(int32_t top, int32_t bottom) { return (static_cast<int64_t>(bottom) - top + STRIP_ROWS - 1) / STRIP_ROWS; }

bool DrawEffectsWithPlan(Image* band, const ImageRect& bandRect, const ParameterSet& p, const LightSourceList* table,
                         bool gray, EffectPlan* plan, const RenderProgress* progress);

// The strips of the picture, handed to the band threads one at a time as
// each finishes the one before: where the bright stars crowd, no thread
// waits for another. A strip's pixels come out the same whichever thread
// draws it.
struct StripQueue {
    ImageRect area;
    int32_t count;
    std::atomic<int32_t> next;
};

// The mode the effects of a strip are drawn in: the picture's own, but 16
// bits for an 8-bit picture, so that the light of many overlapping effects
// is summed as finely as for a 16-bit picture and only the composite rounds
// to the picture's 8 bits (drawn in 8 bits, every overlap rounded away a
// part and 8-bit pictures got weaker effects than 16-bit ones).
int32_t BandModeOf(int32_t pictureMode) {
    if (pictureMode == IMAGE_MODE_RGB8) return IMAGE_MODE_RGB16;
    if (pictureMode == IMAGE_MODE_GRAY8) return IMAGE_MODE_GRAY16;
    return pictureMode;
}

uint32_t RenderEffectsBand(void* raw) {
    auto* task = static_cast<BandTask*>(raw);
    Image* working = task->working;
    // Effects are drawn in the working colour space; grey images keep their
    // own grey profile, since a colour space does not fit a one-channel band.
    ColorProfile space = task->gray ? working->profile : GetWorkingProfile();
    Image band;
    StripQueue* queue = task->strips;
    for (int32_t index = queue->next++; index < queue->count; index = queue->next++) {
        const int32_t top = queue->area.top + index * STRIP_ROWS;
        const ImageRect strip = {queue->area.left, top, queue->area.right,
                                 queue->area.bottom - top > STRIP_ROWS ? top + STRIP_ROWS : queue->area.bottom};
        if (!CreateImage(&band, strip, strip, BandModeOf(working->mode), space, false, false)) {
            SetGlobalErrorCode(RUN_RENDER_FAILED);
            break;
        }
        std::memset(band.pixels.pointer, 0, band.pixels.size);  // also the unused channels of grey floats
        if (!DrawEffectsWithPlan(&band, strip, task->parameters, task->table, task->gray, task->plan,
                                 task->progress)) {
            SetGlobalErrorCode(RUN_RENDER_FAILED);
            break;
        }
        if (GetGlobalErrorCode() != RUN_OK || OsFlagIsSet(&RenderAbortFlag)) break;
        // The strip comes into the image's own colour space; a strip that
        // cannot be converted (no transform: memory) must not be composited
        // as if it were.
        if (!ConvertColorOf(&band, working->profile, true)) {
            SetGlobalErrorCode(RUN_OUT_OF_MEMORY);  // the transform served the strips before: memory ran out
            break;
        }
        ImageRect area = IntersectImageRect(strip, working->imageRect);
        if (task->parameters.effectsOnly) {
            PixelValue black = {0, 0, 0, PIXEL_KEEP, PIXEL_KEEP};
            FillImageRect(working, black, area);
        }
        // The screen is computed in the image's own precision: it only
        // brightens, and pixels the effects leave black keep their bytes.
        ScreenCompositeImage(working, &band, area, *task->coding);
    }
    ReleaseImage(&band);
    return 0;
}

}  // namespace

uint32_t QuantityThreshold(int32_t quantity) {
    if (quantity >= 100) return 0;
    double f = (100.0 - quantity) / 100.0;
    double v = f * f * 4294967294.0;
    return v >= 4294967294.0 ? kMax : static_cast<uint32_t>(v);
}

bool SelectLightSource(const LightSource& source, uint32_t threshold, uint32_t* intensity) {
    if (source.state == LIGHT_SOURCE_SHOWN) {
        *intensity = source.intensity;
        return true;
    }
    uint32_t r = source.brightness;
    if (source.state != LIGHT_SOURCE_AUTO || r <= threshold) return false;
    uint64_t e = r == 0 ? kMax : ((static_cast<uint64_t>(r - threshold) << 32) / r);
    if (e > kMax) e = kMax;
    uint64_t fade = threshold == kMax ? kMax : ((e << 32) / (kMax - threshold));
    if (fade > kMax) fade = kMax;
    *intensity = PreciseProduct(static_cast<uint32_t>(fade), source.intensity);
    return true;
}

void ColourLightSource(uint32_t rgb[3], const ParameterSet& p) {
    uint32_t R = rgb[0], G = rgb[1], B = rgb[2];
    int32_t H = p.colorHue;
    int64_t h = static_cast<int64_t>(H) * static_cast<int64_t>(G / 3000);
    if (H > 0) {
        G = (static_cast<int64_t>(kMax) - G <= h) ? kMax : static_cast<uint32_t>(G + h);
        R = (R <= 2 * h) ? 0 : static_cast<uint32_t>(R - 2 * h);
        B = (B <= 3 * h) ? 0 : static_cast<uint32_t>(B - 3 * h);
    } else {
        int64_t k = -h;
        G = (G <= k) ? 0 : static_cast<uint32_t>(G - k);
        R = (static_cast<int64_t>(kMax) - R <= 2 * k) ? kMax : static_cast<uint32_t>(R + 2 * k);
        B = (static_cast<int64_t>(kMax) - B <= 3 * k) ? kMax : static_cast<uint32_t>(B + 3 * k);
    }
    int32_t S = p.colorSaturation;
    if (S != 0) {
        int64_t u = S > 0 ? 15 * static_cast<int64_t>(S) : S;
        int64_t c[3] = {R, G, B};
        int64_t out[3];
        for (int i = 0; i < 3; i++) {
            int64_t others = (c[(i + 1) % 3] + c[(i + 2) % 3]) / 2;
            out[i] = c[i] + (u * (c[i] - others)) / 150;
        }
        R = Clamp64(out[0]);
        G = Clamp64(out[1]);
        B = Clamp64(out[2]);
    }
    rgb[0] = R;
    rgb[1] = G;
    rgb[2] = B;
}

namespace {

bool DrawEffectsWithPlan(Image* band, const ImageRect& bandRect, const ParameterSet& p, const LightSourceList* table,
                         bool gray, EffectPlan* plan, const RenderProgress* progress) {
    if (OsFlagIsSet(&RenderAbortFlag)) return false;
    PixelValue black = {0, 0, 0, kMax, kMax};
    if (!FillImageRect(band, black, IntersectImageRect(bandRect, band->imageRect))) return false;
    uint32_t threshold = QuantityThreshold(p.quantity);
    struct Pass {
        EffectShapeKind kind;
        bool enabled;
    } passes[3] = {{SPIKE_SHAPE, p.intensity > 0 || p.secondarySpikeIntensity > 0},
                   {SOFT_FLARE_SHAPE, p.softFlareIntensity > 0},
                   {RING_FLARE_SHAPE, p.ringFlareIntensity > 0}};
    for (const Pass& pass : passes) {
        if (OsFlagIsSet(&RenderAbortFlag) || GetGlobalErrorCode() == RUN_CANCELLED) return true;
        if (!pass.enabled) {
            if (table->count && !Advance(progress, table->count)) return true;
            continue;
        }
        if (!DrawPass(band, bandRect, p, table, gray, pass.kind, threshold, plan, progress)) return false;
    }
    return true;
}

}  // namespace

bool DrawEffectsIntoBand(Image* band, const ImageRect& bandRect, const ParameterSet& p, const LightSourceList* table,
                         bool gray, const RenderProgress* progress) {
    EffectPlan plan = {};
    const bool drawn = PrepareEffectPlan(&plan, p) && DrawEffectsWithPlan(band, bandRect, p, table, gray, &plan, progress);
    ReleaseEffectPlan(&plan);
    return drawn;
}

int16_t RenderEffectsIntoImage(Image* working, const ParameterSet& parameters, const LightSourceList* table,
                               int32_t hostMode, const RenderProgress* progress) {
    OsStoreFlag(&RenderAbortFlag, 0);
    // The preview's shortage was told: one of this render is told again.
    RearmLowMemoryWarning();
    PreciseMultiply = true;
    SetEffectArithmetic(true, hostMode);
    SetEffectImage(hostMode, working->width, working->height);
    LoadEffectParameters(parameters);
    int32_t n = GetProcessorCount();
    std::vector<SectionSpan> bands = DivideIntoSections(working->imageRect.top, working->imageRect.bottom, n);
    int32_t count = static_cast<int32_t>(bands.size());
    int32_t passes = (parameters.intensity > 0 || parameters.secondarySpikeIntensity > 0 ? 1 : 0) +
                     (parameters.softFlareIntensity > 0 ? 1 : 0) + (parameters.ringFlareIntensity > 0 ? 1 : 0);
    // Every strip draws each light source once per enabled pass.
    StripQueue queue;
    queue.area = working->imageRect;
    queue.count = static_cast<int32_t>(StripsOf(working->imageRect.top, working->imageRect.bottom));
    queue.next = 0;
    if (progress && progress->start)
        progress->start(progress->context, static_cast<int64_t>(passes) * table->count * queue.count);
    std::vector<ThreadRecord> records(static_cast<size_t>(count));
    // The coding tables (65536 powers for 16 bits) are made once for all bands.
    ScreenCoding coding;
    EffectPlan plan = {};
    bool prepared = PrepareScreenCoding(working, &coding) && PrepareEffectPlan(&plan, parameters);
    if (!prepared) SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
    for (int32_t i = 0; i < count && prepared; i++) {
        auto* task = static_cast<BandTask*>(std::malloc(sizeof(BandTask)));
        if (!task) {
            prepared = false;
            break;
        }
        *task = BandTask{working, &plan, &coding, progress, parameters, &queue,
                         table, IsGrayMode(hostMode)};
        records[static_cast<size_t>(i)].startRoutine = RenderEffectsBand;
        records[static_cast<size_t>(i)].argument = task;
        records[static_cast<size_t>(i)].index = i;
    }
    bool started = prepared && SpawnMultipleThreads(records.data(), count);
    bool waited = WaitForMultipleThreads(records.data(), count, true);
    if (!started || !waited) {
        if (GetGlobalErrorCode() == 0) SetGlobalErrorCode(FailureCodeUnlessMemory(RUN_THREAD_FAILED));
        OsStoreFlag(&RenderAbortFlag, 1);
        // After a cancel the threads are still drawing: collect them before their tasks go.
        if (!waited) WaitForMultipleThreads(records.data(), count, false);
    }
    for (auto& r : records) DestroyThread(&r);
    ReleaseScreenCoding(&coding);
    ReleaseEffectPlan(&plan);
    // The picture is drawn: the shapes' memory goes before it is written out.
    DiscardEffectShapes();
    return GetGlobalErrorCode();
}

uint64_t EstimateRenderMemory(int64_t width, int64_t height, int32_t imageMode, const ParameterSet& parameters) {
    PreciseMultiply = true;
    SetEffectArithmetic(true, imageMode);
    SetEffectImage(imageMode, width, height);
    LoadEffectParameters(parameters);
    uint64_t bytes = 0;
    if (parameters.intensity > 0 || parameters.secondarySpikeIntensity > 0) {
        // Every sub-shape holds about as many elements as the first; the one
        // being built is held in full (with room to grow) until it is packed.
        ShapeCache* cache = EffectShapeCache(SPIKE_SHAPE);
        GenerateSpikeShape(cache, 0, 0);
        const uint64_t count = cache->entry[0][0].count > 0 ? static_cast<uint64_t>(cache->entry[0][0].count) : 0;
        DiscardEffectShapes();
        PackedSpikes spikes = {};
        if (PreparePackedSpikes(&spikes, parameters)) bytes += 3 * sizeof(uint32_t) * static_cast<uint64_t>(spikes.codes);
        ReleasePackedSpikes(&spikes);
        bytes += 16 * (count * sizeof(PackedElement) +
                       (count + PACKED_CHUNK_ELEMENTS - 1) / PACKED_CHUNK_ELEMENTS * sizeof(PackedChunk));
        bytes += count * sizeof(ShapeElement) * 3 / 2;
    }
    int32_t bytesPerChannel = 2;  // 8-bit pictures too: their effects are drawn in 16 bits
    if (imageMode == IMAGE_MODE_RGB_FLOAT || imageMode == IMAGE_MODE_GRAY_FLOAT) bytesPerChannel = 4;
    const uint64_t stripRows = static_cast<uint64_t>(height < STRIP_ROWS ? height : STRIP_ROWS);
    bytes += static_cast<uint64_t>(GetProcessorCount()) * stripRows * static_cast<uint64_t>(width) * 4 * bytesPerChannel;
    bytes += 2u << 20;  // the screen's coding tables and the flares' profiles
    return bytes;
}
