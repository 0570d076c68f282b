// raylume-gimp: the filter as a GIMP 2.10 plug-in. query() registers
// plug-in-raylume with its arguments; run() takes the values from the dialog
// (interactive), the arguments (scripts and batch) or the last interactive
// run, and filters the drawable: its pixels in the engine's form, the
// engine's analysis and render, the rows back through the shadow buffer so
// that the selection limits the change and the run is one undo step.
//
// The whole drawable is analysed whatever the selection, so a star just
// outside it still draws its spikes into it, as the same star does in a run
// without a selection; only pixels inside the selection change.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "image/tracked_buffer.h"
#include "params/user_data_folders.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "support/run_result.h"
#include "tools/gimp/drawable_pixels.h"
#include "tools/gimp/plugin_values.h"
#include "tools/gimp/raylume_dialog.h"
#include "tools/raylume/filter_raster.h"

namespace {

constexpr char kProcedure[] = "plug-in-raylume";
constexpr char kBinary[] = "raylume-gimp";
constexpr char kEffectsLayerName[] = "Raylume effects";

// Run mode, image and drawable, the effect values, then the new-layer choice.
constexpr int kStandardArguments = 3;
constexpr int kArgumentCount = kStandardArguments + EFFECT_ARGUMENT_COUNT + 1;

// ---- the engine's process-wide set-up ----

// The engine's messages reach the user as GIMP messages (the error console,
// or a message box in the image window).
int ShowAsGimpMessage(OsWindow, const char* text, const char* caption, uint32_t) {
    g_message("%s%s%s", caption && *caption ? caption : "", caption && *caption ? ": " : "", text ? text : "");
    return 1;
}

// What tools/raylume sets up once per process, for the length of one call.
struct EngineSession {
    EngineSession() {
        OsSetMessageBoxShower(ShowAsGimpMessage);
        SetUserInterfaceThread(OsGetCurrentThreadId());
        OpenDebugLog(kBinary, nullptr);
        MakeUserDataFolder();
        OpenDebugLogFile(LOGGING_THREADED);
        InitializeBufferUsage();
    }
    ~EngineSession() {
        ReportBufferUsage();
        DeleteBufferUsageSection();
        CloseDebugLog();
    }
};

// ---- progress ----

// Where the engine is, written by its threads and read by the plug-in's main
// thread, the only one that talks to GIMP.
struct EngineProgress {
    std::atomic<int> stage{0};     // 0 reading, 1 finding the stars, 2 drawing the effects
    std::atomic<int> permille{0};  // within the stage
};

void NoteEngineProgress(void* context, const char* stage, double fraction) {
    auto* progress = static_cast<EngineProgress*>(context);
    progress->stage.store(std::strcmp(stage, "analysis") == 0 ? 1 : 2, std::memory_order_relaxed);
    progress->permille.store(static_cast<int>(fraction * 1000.0), std::memory_order_relaxed);
}

// The bar's share of each step: reading 0-5 %, the analysis 5-40 %, the
// render 40-90 %, writing back 90-100 %.
constexpr double kAnalysisStart = 0.05, kRenderStart = 0.40, kWriteStart = 0.90;

void ShowWriteProgress(void*, double fraction) { gimp_progress_update(kWriteStart + (1.0 - kWriteStart) * fraction); }

// Runs the engine on a thread of its own and keeps GIMP's progress bar moving
// meanwhile. A cancel in GIMP ends this process (GIMP closes a plug-in whose
// progress is cancelled), before anything has been written to the image.
FilterOutcome RunEngine(Raster* raster, const FilterParameters& parameters) {
    EngineProgress progress;
    const FilterProgress callback = {&progress, NoteEngineProgress};
    ForceGlobalErrorCode(RUN_OK);
    std::future<FilterOutcome> run =
        std::async(std::launch::async, [&] { return FilterRaster(raster, parameters, &callback); });
    int shownStage = -1;
    while (run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        const int stage = progress.stage.load(std::memory_order_relaxed);
        const double fraction = progress.permille.load(std::memory_order_relaxed) / 1000.0;
        if (stage != shownStage) {
            shownStage = stage;
            gimp_progress_set_text(stage == 2 ? "Raylume: drawing the effects" : "Raylume: finding the stars");
        }
        if (stage == 1) gimp_progress_update(kAnalysisStart + (kRenderStart - kAnalysisStart) * fraction);
        if (stage == 2) gimp_progress_update(kRenderStart + (kWriteStart - kRenderStart) * fraction);
    }
    return run.get();
}

// ---- the values of a run ----

// The last interactive run's values, when GIMP holds some of this version.
void LoadLastValues(PlugInValues* values) {
    if (gimp_get_data_size(kProcedure) != sizeof(PlugInValues)) return;
    PlugInValues stored;
    gimp_get_data(kProcedure, &stored);
    if (std::memcmp(stored.parameters.slot, CURRENT_PARAMETER_VERSION, sizeof(int16_t) * VERSION_SLOT_COUNT) != 0)
        return;
    ClampFilterParameters(&stored.parameters);
    stored.newLayer = stored.newLayer ? 1 : 0;
    *values = stored;
}

// The arguments of a scripted call. A calling error names the first bad one.
GimpPDBStatusType ValuesFromArguments(gint count, const GimpParam* arguments, PlugInValues* values,
                                      std::string* error) {
    if (count != kArgumentCount) {
        *error = std::string(kProcedure) + " takes " + std::to_string(kArgumentCount) + " arguments, not " +
                 std::to_string(count);
        return GIMP_PDB_CALLING_ERROR;
    }
    for (int i = 0; i < EFFECT_ARGUMENT_COUNT; i++) {
        const GimpParam& argument = arguments[kStandardArguments + i];
        const double value = argument.type == GIMP_PDB_FLOAT ? argument.data.d_float : argument.data.d_int32;
        if (!SetEffectArgument(i, value, &values->parameters, error)) return GIMP_PDB_CALLING_ERROR;
    }
    const gint32 newLayer = arguments[kStandardArguments + EFFECT_ARGUMENT_COUNT].data.d_int32;
    if (newLayer != 0 && newLayer != 1) {
        *error = "new-layer takes 0 or 1, not " + std::to_string(newLayer);
        return GIMP_PDB_CALLING_ERROR;
    }
    values->newLayer = newLayer;
    return GIMP_PDB_SUCCESS;
}

// ---- the run ----

// An empty layer in Screen mode just above `drawable` (at the top of the
// image when the drawable is no layer), as large as the drawable and where it
// lies; transparent until the effects are merged into it.
gint32 AddEffectsLayer(gint32 image, gint32 drawable) {
    const GimpImageType type = gimp_image_base_type(image) == GIMP_GRAY ? GIMP_GRAYA_IMAGE : GIMP_RGBA_IMAGE;
    const gint32 layer = gimp_layer_new(image, kEffectsLayerName, gimp_drawable_width(drawable),
                                        gimp_drawable_height(drawable), type, 100.0, GIMP_LAYER_MODE_SCREEN);
    gint32 parent = 0, position = 0;
    if (gimp_item_is_layer(drawable)) {
        parent = std::max(gimp_item_get_parent(drawable), 0);
        position = gimp_image_get_item_position(image, drawable);
    }
    gimp_image_insert_layer(image, layer, parent, position);
    gint offsetX = 0, offsetY = 0;
    gimp_drawable_offsets(drawable, &offsetX, &offsetY);
    gimp_layer_set_offsets(layer, offsetX, offsetY);
    gimp_drawable_fill(layer, GIMP_FILL_TRANSPARENT);
    return layer;
}

GimpPDBStatusType Filter(gint32 image, gint32 drawable, const PlugInValues& values, std::string* error) {
    if (gimp_item_is_group(drawable)) {
        *error = "a layer group has no pixels of its own to filter: choose one of its layers";
        return GIMP_PDB_EXECUTION_ERROR;
    }
    DrawablePixels pixels;
    if (!DescribeDrawable(drawable, &pixels, error)) return GIMP_PDB_EXECUTION_ERROR;
    gint x = 0, y = 0, width = 0, height = 0;
    // A selection that leaves the whole drawable out: nothing to change.
    if (!gimp_drawable_mask_intersect(drawable, &x, &y, &width, &height)) return GIMP_PDB_SUCCESS;
    const GeglRectangle region = {x, y, width, height};

    gimp_progress_init("Raylume");
    Raster raster;
    if (!ReadDrawable(drawable, pixels, EngineProfileBytes(image), &raster, error))
        return GIMP_PDB_EXECUTION_ERROR;
    gimp_progress_update(kAnalysisStart);
    FilterParameters parameters = values.parameters;
    if (values.newLayer) parameters.slot[SLOT_EFFECTS_ONLY] = 1;
    // A run that cannot have the memory it needs is refused before the long work.
    const FilterMemory memory = EstimateFilterMemory(raster, parameters);
    const uint64_t available = OsAvailableMemory();
    if (memory.more > available) {
        *error = "not enough memory to filter this drawable: " + MemoryNeedText(memory) + " and about " +
                 MiB(available) + " MiB are available; close other programs or lower Length, Number of Points or "
                 "Spike Sharpness";
        return GIMP_PDB_EXECUTION_ERROR;
    }
    const FilterOutcome outcome = RunEngine(&raster, parameters);
    ShowDeferredUserMessages();  // the engine's own warnings (effects left out for want of memory)
    if (outcome.result == RUN_OUT_OF_MEMORY) {
        *error = "not enough memory to filter this drawable: " + MemoryNeedText(memory) + " and it ran out on the way";
        return GIMP_PDB_EXECUTION_ERROR;
    }
    if (outcome.result != RUN_OK) {
        *error = "the filter failed (engine result " + std::to_string(outcome.result) + ")";
        return GIMP_PDB_EXECUTION_ERROR;
    }
    if (outcome.looksLinear) g_message("Raylume: %s", LinearImageWarning(outcome).c_str());

    gimp_progress_set_text("Raylume: writing the result");
    gimp_image_undo_group_start(image);
    const gint32 target = values.newLayer ? AddEffectsLayer(image, drawable) : drawable;
    // In place, the pixels the render left alone are taken from the drawable as it is.
    GeglBuffer* original = values.newLayer ? nullptr : gimp_drawable_get_buffer(target);
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(target);
    WriteRegion(raster, pixels, original, shadow, region, !values.newLayer, ShowWriteProgress, nullptr);
    g_object_unref(shadow);
    if (original) g_object_unref(original);
    gimp_drawable_merge_shadow(target, TRUE);
    gimp_drawable_update(target, x, y, width, height);
    gimp_image_undo_group_end(image);
    gimp_progress_update(1.0);
    return GIMP_PDB_SUCCESS;
}

// ---- the procedure ----

void Query() {
    // Names and descriptions live until gimp_install_procedure has copied them.
    std::vector<std::string> blurbs;
    blurbs.reserve(EFFECT_ARGUMENT_COUNT);
    std::vector<GimpParamDef> arguments = {
        {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
         const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
        {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
        {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
    };
    for (int i = 0; i < EFFECT_ARGUMENT_COUNT; i++) {
        const EffectArgument& a = kEffectArguments[i];
        const bool decimals = a.row >= 0 && GetSliderControlRow(a.row)->decimals;
        blurbs.push_back(std::string(a.blurb) + ", " + ArgumentRange(i));
        arguments.push_back({decimals ? GIMP_PDB_FLOAT : GIMP_PDB_INT32, const_cast<gchar*>(a.name),
                             const_cast<gchar*>(blurbs.back().c_str())});
    }
    arguments.push_back({GIMP_PDB_INT32, const_cast<gchar*>("new-layer"),
                         const_cast<gchar*>("Put the effects alone on a new layer in Screen mode above the drawable, "
                                            "leaving the drawable as it is { FALSE (0), TRUE (1) }")});
    static_assert(kArgumentCount == 18, "run mode, image, drawable, fourteen effect values, new layer");

    gimp_install_procedure(kProcedure, "Diffraction spikes, colour, rainbow and flares around every star",
                           "Finds the stars of an astronomical photograph and paints diffraction spikes, their "
                           "colour, rainbow, secondary spikes, soft flare and ring flare around each. The whole "
                           "drawable is analysed; only the selection changes. Works at the image's precision.",
                           "Raylume developers", "Raylume developers", "2026", "_Raylume...", "RGB*, GRAY*",
                           GIMP_PLUGIN, static_cast<gint>(arguments.size()), 0, arguments.data(), nullptr);
    gimp_plugin_menu_register(kProcedure, "<Image>/Filters/Light and Shadow");
}

void Run(const gchar*, gint count, const GimpParam* arguments, gint* returnCount, GimpParam** returned) {
    static GimpParam values[2];
    static std::string error;
    error.clear();
    *returnCount = 1;
    *returned = values;
    values[0].type = GIMP_PDB_STATUS;

    GimpPDBStatusType status = GIMP_PDB_SUCCESS;
    const GimpRunMode runMode = static_cast<GimpRunMode>(arguments[0].data.d_int32);
    const gint32 image = count > 1 ? arguments[1].data.d_image : -1;
    const gint32 drawable = count > 2 ? arguments[2].data.d_drawable : -1;
    gegl_init(nullptr, nullptr);
    {
        EngineSession session;
        PlugInValues chosen = DEFAULT_PLUG_IN_VALUES;
        switch (runMode) {
            case GIMP_RUN_INTERACTIVE:
                LoadLastValues(&chosen);
                gimp_ui_init(kBinary, FALSE);
                if (!RunRaylumeDialog(image, drawable, &chosen)) status = GIMP_PDB_CANCEL;
                break;
            case GIMP_RUN_NONINTERACTIVE:
                status = ValuesFromArguments(count, arguments, &chosen, &error);
                break;
            case GIMP_RUN_WITH_LAST_VALS:
                LoadLastValues(&chosen);
                break;
            default:
                status = GIMP_PDB_CALLING_ERROR;
                error = "unknown run mode " + std::to_string(runMode);
                break;
        }
        if (status == GIMP_PDB_SUCCESS) status = Filter(image, drawable, chosen, &error);
        if (status == GIMP_PDB_SUCCESS) {
            if (runMode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
            // Only what a user chose in the dialog becomes the last values.
            if (runMode == GIMP_RUN_INTERACTIVE) gimp_set_data(kProcedure, &chosen, sizeof chosen);
        }
    }
    values[0].data.d_status = status;
    if (status != GIMP_PDB_SUCCESS && !error.empty()) {
        *returnCount = 2;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = const_cast<gchar*>(error.c_str());
    }
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

MAIN()
