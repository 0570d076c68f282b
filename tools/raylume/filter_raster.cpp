// The filter on a raster: rows into an engine image, the engine's analysis
// and render, rows back from the engine's image (which holds every untouched
// sample exactly; FITS raw values change only where a sample changed).
#include "tools/raylume/filter_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "analysis/analysis_task.h"
#include "analysis/light_source_edits.h"
#include "effects/effect_tables.h"
#include "effects/effects_run.h"
#include "effects/final_render.h"
#include "effects/parameter_set.h"
#include "effects/shape_cache.h"
#include "image/color_management.h"
#include "image/image.h"
#include "support/os.h"
#include "support/run_result.h"
#include "support/thread_pool.h"

namespace {

int32_t EngineMode(const Raster& raster) {
    const bool grey = raster.colours == 1;
    switch (raster.depth) {
        case 8: return grey ? IMAGE_MODE_GRAY8 : IMAGE_MODE_RGB8;
        case 16: return grey ? IMAGE_MODE_GRAY16 : IMAGE_MODE_RGB16;
        default: return grey ? IMAGE_MODE_GRAY_FLOAT : IMAGE_MODE_RGB_FLOAT;
    }
}

template <typename T>
constexpr T Opaque() {
    return std::numeric_limits<T>::is_integer ? std::numeric_limits<T>::max() : T(1);
}

// What the engine is given for a file sample: floats that are not finite
// become black (NaN, -Inf) or white (+Inf); integers are as they are.
template <typename T>
inline T Judged(T v, uint64_t*) {
    return v;
}
template <>
inline float Judged<float>(float v, uint64_t* nonFinite) {
    if (std::isfinite(v)) return v;
    if (nonFinite) ++*nonFinite;
    return v > 0 ? 1.0f : 0.0f;
}

inline bool SameSample(uint8_t a, uint8_t b) { return a == b; }
inline bool SameSample(uint16_t a, uint16_t b) { return a == b; }
inline bool SameSample(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Positions of the colours in an engine pixel (grey images use component 0).
struct EngineLayout {
    int position[3];
};

EngineLayout LayoutOf(const Image& image, int32_t colours) {
    if (colours == 1) return EngineLayout{{0, 0, 0}};
    if (image.bytesPerChannel == 1 && image.pixelFormat == PIXEL_FORMAT_BGRA) return EngineLayout{{2, 1, 0}};
    return EngineLayout{{0, 1, 2}};
}

template <typename T>
void RowsIn(const Raster& raster, Image* image, uint64_t* nonFinite, int32_t top, int32_t bottom) {
    const EngineLayout layout = LayoutOf(*image, raster.colours);
    const int32_t channels = raster.Channels();
    for (int32_t y = top; y < bottom; y++) {
        const T* in = reinterpret_cast<const T*>(raster.Row(y));
        T* out = reinterpret_cast<T*>(PixelAddress(image, 0, y));
        for (int32_t x = 0; x < raster.width; x++, in += channels, out += 4) {
            if (raster.colours == 1) {
                const T g = Judged(in[0], nonFinite);
                out[0] = g;
                // A grey float pixel's components 1 and 2 are neither read nor written.
                out[1] = out[2] = std::numeric_limits<T>::is_integer ? g : T(0);
            } else {
                for (int c = 0; c < 3; c++) out[layout.position[c]] = Judged(in[c], nonFinite);
            }
            out[3] = raster.alpha ? Judged(in[raster.colours], static_cast<uint64_t*>(nullptr)) : Opaque<T>();
        }
    }
}

// A float sample that was not a finite number, kept while the engine runs on
// the black or white it stands for.
struct OddSample {
    size_t index;  // sample index in the raster (pixel × channels + channel)
    float value;
};

// The raster's samples go while the engine runs (the engine's image holds the
// same values), so that the picture is held only once; the few samples that
// cannot be rebuilt from it (non-finite floats) are kept aside.
template <typename T>
void KeepOddSamples(const Raster& raster, std::vector<OddSample>* odd) {
    if (std::numeric_limits<T>::is_integer) return;
    const size_t count = static_cast<size_t>(raster.width) * raster.height * raster.Channels();
    const T* samples = reinterpret_cast<const T*>(raster.samples.data());
    for (size_t i = 0; i < count; i++)
        if (!std::isfinite(static_cast<double>(samples[i]))) odd->push_back({i, static_cast<float>(samples[i])});
}

// Rebuilds the raster from the engine's image: the colours as rendered (a
// pixel no effect touched holds its original value there), alpha as it was;
// a non-finite sample gets its original back, and raw values (FITS, float
// TIFF in counts) change only where the render changed the sample.
template <typename T>
void RowsOut(const Image& image, Raster* raster, int32_t top, int32_t bottom) {
    const EngineLayout layout = LayoutOf(image, raster->colours);
    const int32_t channels = raster->Channels();
    FitsDetails& fits = raster->fits;
    // FITS data with its scaling, and float TIFF data in counts: the file's own values.
    const bool raw = fits.scaled && !fits.raw.empty();
    for (int32_t y = top; y < bottom; y++) {
        T* file = reinterpret_cast<T*>(raster->Row(y));
        const T* engine = reinterpret_cast<const T*>(PixelAddress(&image, 0, y));
        for (int32_t x = 0; x < raster->width; x++, file += channels, engine += 4) {
            for (int c = 0; c < raster->colours; c++) {
                const T rendered = engine[layout.position[c]];
                file[c] = rendered;
                if (raw) {
                    const size_t index = (static_cast<size_t>(y) * raster->width + x) * raster->colours + c;
                    const float before = fits.SampleOf(fits.Raw(index));
                    if (std::isfinite(before) && !SameSample(static_cast<float>(rendered), Judged(before, static_cast<uint64_t*>(nullptr))))
                        fits.SetRaw(index, (static_cast<double>(rendered) * fits.fullScale - fits.bzero) / fits.bscale);
                }
            }
            if (raster->alpha) file[raster->colours] = engine[3];
        }
    }
}

// A sample that is not a number keeps its value, effect or none: it holds
// no light to add to, and files use it to mark pixels without data.
template <typename T>
void OddSamplesBack(Raster* raster, const std::vector<OddSample>& odd) {
    for (const OddSample& o : odd) {
        T* sample = reinterpret_cast<T*>(raster->samples.data()) + o.index;
        *sample = static_cast<T>(o.value);
    }
}

// The copies between the raster and the engine's image run on every
// processor, a section of rows each: they touch every page of both.
struct RowCopy {
    Raster* raster;
    Image* image;
    uint64_t nonFinite;  // added to by every section
};

template <typename T>
bool CopyRowsIn(void* context, int32_t top, int32_t bottom) {
    auto* copy = static_cast<RowCopy*>(context);
    uint64_t found = 0;
    RowsIn<T>(*copy->raster, copy->image, &found, top, bottom);
    __atomic_fetch_add(&copy->nonFinite, found, __ATOMIC_RELAXED);
    return true;
}

template <typename T>
bool CopyRowsOut(void* context, int32_t top, int32_t bottom) {
    auto* copy = static_cast<RowCopy*>(context);
    RowsOut<T>(*copy->image, copy->raster, top, bottom);
    return true;
}

template <typename T>
void AllRowsIn(Raster* raster, Image* image, uint64_t* nonFinite) {
    RowCopy copy = {raster, image, 0};
    RunInRowSections(0, raster->height, CopyRowsIn<T>, &copy);
    *nonFinite += copy.nonFinite;
}

template <typename T>
void AllRowsOut(const Image& image, Raster* raster, const std::vector<OddSample>& odd) {
    RowCopy copy = {raster, const_cast<Image*>(&image), 0};
    RunInRowSections(0, raster->height, CopyRowsOut<T>, &copy);
    OddSamplesBack<T>(raster, odd);
}

// The raster's ICC profile, handed to colour management as a host would.
struct ProfileBytes {
    const std::vector<uint8_t>* bytes;
};
const void* LockProfile(void* context, size_t* size) {
    const auto* p = static_cast<ProfileBytes*>(context);
    *size = p->bytes->size();
    return p->bytes->data();
}
void UnlockProfile(void*) {}

struct RenderCount {
    const FilterProgress* progress;
    int64_t total;
    int64_t done;
    int32_t shown;  // per mille
    OsCriticalSection lock;
};
void StartRender(void* context, int64_t total) {
    auto* count = static_cast<RenderCount*>(context);
    count->total = total;
    count->done = 0;
}
void AdvanceRender(void* context, int64_t units) {
    auto* count = static_cast<RenderCount*>(context);
    OsEnterCriticalSection(&count->lock);
    count->done += units;
    const int32_t mille = count->total > 0 ? static_cast<int32_t>(count->done * 1000 / count->total) : 1000;
    if (mille >= count->shown + 5 && count->progress && count->progress->show) {
        count->shown = mille;
        count->progress->show(count->progress->context, "render", mille / 1000.0);
    }
    OsLeaveCriticalSection(&count->lock);
}

}  // namespace

void CancelFilterRun() {
    SetGlobalErrorCode(RUN_CANCELLED);
    OsStoreFlag(&AnalysisStopFlag, 1);
    OsStoreFlag(&RenderAbortFlag, 1);
}

namespace {

// The median and the 99th percentile of the pixels' brightest colour, as
// fractions of full scale, from at most about a million pixels.
void MeasureLevels(const Raster& raster, FilterOutcome* outcome) {
    const size_t pixels = static_cast<size_t>(raster.width) * raster.height;
    if (pixels == 0) return;
    const size_t step = pixels > 1000000 ? pixels / 1000000 : 1;
    std::vector<float> levels;
    levels.reserve(pixels / step + 1);
    const int32_t channels = raster.Channels();
    for (size_t i = 0; i < pixels; i += step) {
        float level = 0;
        for (int32_t c = 0; c < raster.colours; c++) {
            const uint8_t* s = raster.samples.data() + (i * channels + c) * raster.SampleBytes();
            float v;
            if (raster.depth == 8) {
                v = *s / 255.0f;
            } else if (raster.depth == 16) {
                uint16_t w;
                std::memcpy(&w, s, 2);
                v = w / 65535.0f;
            } else {
                std::memcpy(&v, s, 4);
                if (!std::isfinite(v)) v = 0;
            }
            level = std::max(level, v);
        }
        levels.push_back(level);
    }
    auto at = [&](size_t permille) {
        const size_t k = (levels.size() - 1) * permille / 1000;
        std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(k), levels.end());
        return static_cast<double>(levels[k]);
    };
    outcome->medianLevel = at(500);
    outcome->level99 = at(990);
    outcome->looksLinear = outcome->medianLevel < 0.01 && outcome->level99 < 0.04;
}

}  // namespace

std::string LinearImageWarning(const FilterOutcome& outcome) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "the picture looks linear, not stretched (half its pixels below %.1f %% of full scale, 99 %% below "
                  "%.1f %%): the effects are scaled to its brightest stars and end hard in its faint light, so a "
                  "stretch afterwards shows discs and streaks around the stars. Stretch the picture first and "
                  "apply the effects after.",
                  outcome.medianLevel * 100.0, outcome.level99 * 100.0);
    return text;
}

FilterMemory EstimateFilterMemory(const Raster& raster, const FilterParameters& requested) {
    FilterMemory memory;
    FilterParameters parameters = requested;
    ClampFilterParameters(&parameters);
    const uint64_t width = static_cast<uint64_t>(raster.width), height = static_cast<uint64_t>(raster.height);
    memory.image = width * (height + 1) * 4 * raster.SampleBytes();
    // The analysis works on 16-bit copies: a quarter-size one, then a full one.
    memory.analysis = ((width + 3) / 4) * ((height + 3) / 4) * 8 + width * height * 8;
    const int32_t mode = EngineMode(raster);
    ProfileBytes profileBytes = {&raster.icc};
    HostProfileSource profile = {&profileBytes, LockProfile, UnlockProfile};
    const int16_t before = GetGlobalErrorCode();
    if (BeginEffectsRun(mode, raster.icc.empty() ? nullptr : &profile)) {
        ParameterSet set;
        std::memset(&set, 0, sizeof set);
        set.scale = 100.0;
        CopyEffectValues(&set, parameters);
        memory.effects = EstimateRenderMemory(raster.width, raster.height, mode, set);
    }
    EndEffectsRun();
    ForceGlobalErrorCode(before);
    // The raster's samples go while the engine runs and come back for the
    // output: beyond them, the engine's copy and the largest of the rest.
    const uint64_t held = raster.samples.size();
    const uint64_t largest = std::max(memory.analysis, memory.effects);
    memory.more = memory.image + (largest > held ? largest - held : 0);
    return memory;
}

std::string MiB(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20); }

std::string MemoryNeedText(const FilterMemory& memory) {
    return "it needs about " + MiB(memory.more) + " MiB more (the engine's copy of the image " + MiB(memory.image) +
           " MiB, then the larger of its analysis, " + MiB(memory.analysis) + " MiB, and the effects at these " +
           "settings, " + MiB(memory.effects) + " MiB)";
}

FilterOutcome FilterRaster(Raster* raster, const FilterParameters& requested, const FilterProgress* progress,
                           const LightSourceChoices* choices) {
    FilterOutcome outcome;
    MeasureLevels(*raster, &outcome);
    FilterParameters parameters = requested;
    ClampFilterParameters(&parameters);
    const int32_t mode = EngineMode(*raster);
    ProfileBytes profileBytes = {&raster->icc};
    HostProfileSource profile = {&profileBytes, LockProfile, UnlockProfile};
    Image image;
    std::vector<OddSample> odd;
    if (BeginEffectsRun(mode, raster->icc.empty() ? nullptr : &profile)) {
        const ImageRect area = {0, 0, raster->width, raster->height};
        if (CreateImage(&image, area, area, mode, GetHostProfile(), false, false)) {
            switch (raster->depth) {
                case 8: AllRowsIn<uint8_t>(raster, &image, &outcome.nonFinite); break;
                case 16: AllRowsIn<uint16_t>(raster, &image, &outcome.nonFinite); break;
                default:
                    AllRowsIn<float>(raster, &image, &outcome.nonFinite);
                    KeepOddSamples<float>(*raster, &odd);
                    break;
            }
            SampleBuffer().swap(raster->samples);
            StartLightSourceAnalysis(&image);
            OsHandle complete = GetAnalysisCompleteEvent();
            while (complete && OsWaitForSingleObject(complete, 100) != OS_WAIT_OBJECT_0) {
                int32_t done = GetAnalysisProgressCount(), total = GetAnalysisProgressTotal();
                if (progress && progress->show && total > 0)
                    progress->show(progress->context, "analysis", done > total ? 1.0 : static_cast<double>(done) / total);
            }
            // Shapes are measured on the picture as it was, before any effect.
            std::vector<StarShape> shapes;
            if (GetGlobalErrorCode() == RUN_OK && choices && (choices->measureShapes || choices->starsOnly)) {
                shapes.resize(LightSourceTable.count);
                const int16_t measured =
                    MeasureLightSourceShapes(&image, &LightSourceTable, shapes.data(), &AnalysisStopFlag);
                if (measured != RUN_OK) SetGlobalErrorCode(measured);
                if (measured == RUN_OK && choices->starsOnly)
                    outcome.hiddenAsExtended = HideExtendedLightSources(&LightSourceTable, shapes.data());
            }
            if (GetGlobalErrorCode() == RUN_OK && choices) {
                for (const LightSourcePick& pick : choices->picks) {
                    const double quarters = std::nearbyint(pick.radius * 4.0);
                    outcome.picked.push_back(EditNearestLightSource(
                        &LightSourceTable, pick.x, pick.y, quarters > 0 ? static_cast<int64_t>(quarters) : 0,
                        pick.operation));
                }
                if (choices->edit) choices->edit(choices->editContext, &LightSourceTable);
            }
            if (GetGlobalErrorCode() == RUN_OK) {
                ParameterSet set;
                std::memset(&set, 0, sizeof set);
                set.scale = 100.0;
                CopyEffectValues(&set, parameters);
                RenderCount count = {progress, 0, 0, -1000, {}};
                OsInitializeCriticalSection(&count.lock, 0);
                const RenderProgress renderProgress = {&count, StartRender, AdvanceRender};
                RenderEffectsIntoImage(&image, set, &LightSourceTable, mode, &renderProgress);
                OsDeleteCriticalSection(&count.lock);
            }
            if (GetGlobalErrorCode() == RUN_OK) {
                const uint32_t threshold = QuantityThreshold(parameters.slot[SLOT_QUANTITY]);
                const LightSource* sources = LightSourceRecords(&LightSourceTable);
                for (uint32_t i = 0; i < LightSourceTable.count; i++) {
                    CatalogueEntry entry = {sources[i], false, 0, !shapes.empty(), StarShape()};
                    if (entry.hasShape) entry.shape = shapes[i];
                    entry.selected = SelectLightSource(sources[i], threshold, &entry.intensity) &&
                                     entry.intensity > EffectThreshold;
                    if (!entry.selected) entry.intensity = 0;
                    outcome.catalogue.push_back(entry);
                }
            }
            // The raster comes back from the engine's image (after a failed or
            // cancelled run as the engine left it; the caller writes nothing then).
            RasterFailure failure;
            std::string error;
            if (!AllocateRaster(raster, &failure, &error)) {
                SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
            } else {
                switch (raster->depth) {
                    case 8: AllRowsOut<uint8_t>(image, raster, odd); break;
                    case 16: AllRowsOut<uint16_t>(image, raster, odd); break;
                    default: AllRowsOut<float>(image, raster, odd); break;
                }
            }
        } else if (GetGlobalErrorCode() == RUN_OK) {
            SetGlobalErrorCode(RUN_OUT_OF_MEMORY);
        }
    }
    outcome.effectsDropped = EffectsDroppedForLowMemory();
    StopLightSourceAnalysis();
    ReleaseImage(&image);
    EndEffectsRun();
    outcome.result = GetGlobalErrorCode();
    return outcome;
}
