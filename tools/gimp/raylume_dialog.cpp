// The dialog: one record of the values the controls show, one preview that
// the engine renders from that record, the controls writing into it.
//
// The preview is GIMP's zoom preview. Its source is the visible part of the
// drawable at the preview's zoom, as 8-bit samples; the engine analyses and
// renders that reduced copy as it does the drawable, so at 100 % the preview
// shows the stars in view as the run draws them (up to the copy's 8 bits),
// and zoomed out each star's effects at the size the reduced star calls for.
#include "tools/gimp/raylume_dialog.h"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unistd.h>

#include "params/parameter_files.h"
#include "params/user_data_folders.h"
#include "tools/raylume/preset_folders.h"
#include "support/os.h"
#include "support/run_result.h"
#include "tools/gimp/drawable_pixels.h"
#include "tools/raylume/filter_raster.h"

namespace {

constexpr int kScaleWidth = 220;
constexpr int kSpinWidth = 5;
constexpr int kPreviewSide = 360;

struct DialogState {
    PlugInValues values;  // what the controls show
    gint32 drawable = -1;
    std::vector<uint8_t> profile;  // what the engine interprets the preview's samples with
    // The preview's samples are linear at a linear precision ("RGB u8"); they
    // are shown through this conversion to the space's curve, null when they
    // carry it already.
    const Babl* toDisplay = nullptr;
    GtkWidget* preview = nullptr;
    GtkAdjustment* sliders[EFFECT_ARGUMENT_COUNT] = {};  // null for Effects Only
    GtkWidget* effectsOnly = nullptr;
    GtkWidget* newLayer = nullptr;
    std::vector<PresetFile> presets;
    bool showingValues = false;  // the controls are being set from the record
};

// ---- the preview ----

// The effects over the picture as the Screen layer mode shows them, on 8-bit
// samples: 1 - (1 - a)(1 - b). Alpha stays the picture's.
void ScreenOver(const guchar* picture, uint8_t* effects, size_t pixels, int bpp, int colours) {
    for (size_t i = 0; i < pixels; i++)
        for (int c = 0; c < colours; c++) {
            const int a = picture[i * bpp + c], b = effects[i * bpp + c];
            effects[i * bpp + c] = static_cast<uint8_t>(a + b - (a * b + 127) / 255);
        }
}

void RenderPreview(GimpPreview* preview, DialogState* state) {
    gint width = 0, height = 0, bpp = 0;
    guchar* source = gimp_zoom_preview_get_source(GIMP_ZOOM_PREVIEW(preview), &width, &height, &bpp);
    if (!source) return;
    Raster raster;
    raster.width = width;
    raster.height = height;
    raster.colours = bpp <= 2 ? 1 : 3;
    raster.alpha = bpp == 2 || bpp == 4;
    raster.depth = 8;
    raster.icc = state->profile;
    RasterFailure failure = RASTER_OK;
    std::string error;
    const uint8_t* shown = source;
    if (AllocateRaster(&raster, &failure, &error)) {
        std::memcpy(raster.samples.data(), source, raster.samples.size());
        FilterParameters parameters = state->values.parameters;
        if (state->values.newLayer) parameters.slot[SLOT_EFFECTS_ONLY] = 1;
        ForceGlobalErrorCode(RUN_OK);
        const FilterOutcome outcome = FilterRaster(&raster, parameters, nullptr);
        if (outcome.result == RUN_OK) {
            if (state->values.newLayer)
                ScreenOver(source, raster.samples.data(), static_cast<size_t>(width) * height, bpp, raster.colours);
            shown = raster.samples.data();
        }
    }
    std::vector<uint8_t> display;
    if (state->toDisplay) {
        display.resize(static_cast<size_t>(width) * height * bpp);
        babl_process(state->toDisplay, shown, display.data(), static_cast<long>(width) * height);
        shown = display.data();
    }
    gimp_preview_draw_buffer(preview, shown, width * bpp);
    g_free(source);
}

// The conversion from the preview's samples to ones with the space's tone
// curve, or null when they have it already.
const Babl* DisplayConversion(int32_t drawable) {
    const Babl* samples = gimp_drawable_get_thumbnail_format(drawable);
    const std::string model = babl_get_name(babl_format_get_model(samples));
    if (model.find('\'') != std::string::npos) return nullptr;
    const bool alpha = babl_format_has_alpha(samples);
    const bool grey = babl_format_get_n_components(samples) - (alpha ? 1 : 0) == 1;
    const char* curved = grey ? (alpha ? "Y'A u8" : "Y' u8") : (alpha ? "R'G'B'A u8" : "R'G'B' u8");
    return babl_fish(samples, babl_format_with_space(curved, samples));
}

void Refresh(DialogState* state) {
    if (!state->showingValues) gimp_preview_invalidate(GIMP_PREVIEW(state->preview));
}

// ---- the controls ----

void OnSliderChanged(GtkAdjustment* adjustment, DialogState* state) {
    const int index = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(adjustment), "argument"));
    const EffectArgument& argument = kEffectArguments[index];
    const double scale = std::pow(10.0, GetSliderControlRow(argument.row)->decimals);
    const long steps = std::lround(gtk_adjustment_get_value(adjustment) * scale);
    state->values.parameters.slot[SlotOfArgument(argument)] =
        ClampToSliderRow(argument.row, static_cast<int32_t>(std::clamp(steps, -32768L, 32767L)));
    Refresh(state);
}

void OnEffectsOnlyToggled(GtkToggleButton* button, DialogState* state) {
    state->values.parameters.slot[SLOT_EFFECTS_ONLY] = gtk_toggle_button_get_active(button) ? 1 : 0;
    Refresh(state);
}

void OnNewLayerToggled(GtkToggleButton* button, DialogState* state) {
    state->values.newLayer = gtk_toggle_button_get_active(button) ? 1 : 0;
    // The new layer holds the effects alone; Effects Only has no say then.
    gtk_widget_set_sensitive(state->effectsOnly, !state->values.newLayer);
    Refresh(state);
}

// Shows `parameters` in every control, then renders the preview once.
void ShowParameters(DialogState* state, const FilterParameters& parameters) {
    state->showingValues = true;
    for (int i = 0; i < EFFECT_ARGUMENT_COUNT; i++) {
        if (!state->sliders[i]) continue;
        gtk_adjustment_set_value(state->sliders[i], EffectArgumentValue(i, parameters));
    }
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(state->effectsOnly), parameters.slot[SLOT_EFFECTS_ONLY] != 0);
    state->values.parameters = parameters;
    state->showingValues = false;
    Refresh(state);
}

// The first entry of the presets menu only names it; the factory values come
// second, then the files.
constexpr int kFirstPresetEntry = 2;

void OnPresetChosen(GtkComboBox* combo, DialogState* state) {
    const int chosen = gtk_combo_box_get_active(combo);
    if (chosen < 1) return;
    FilterParameters parameters = FACTORY_PARAMETERS;
    if (chosen >= kFirstPresetEntry &&
        !LoadPresetFile(state->presets[static_cast<size_t>(chosen - kFirstPresetEntry)].path, &parameters))
        return;
    ShowParameters(state, parameters);
}

GtkWidget* NewPresetsMenu(DialogState* state) {
    GtkWidget* combo = gtk_combo_box_new_text();
    gtk_combo_box_append_text(GTK_COMBO_BOX(combo), "Choose a preset...");
    gtk_combo_box_append_text(GTK_COMBO_BOX(combo), "Factory settings");
    for (const PresetFile& preset : state->presets)
        gtk_combo_box_append_text(GTK_COMBO_BOX(combo), preset.name.c_str());
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 0);
    g_signal_connect(combo, "changed", G_CALLBACK(OnPresetChosen), state);
    return combo;
}

GtkWidget* NewControlsTable(DialogState* state) {
    GtkWidget* table = gtk_table_new(SLIDER_ROW_COUNT, 3, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 4);
    int tableRow = 0;
    for (int i = 0; i < EFFECT_ARGUMENT_COUNT; i++) {
        const EffectArgument& argument = kEffectArguments[i];
        if (argument.row < 0) continue;
        const SliderControlRow* row = GetSliderControlRow(argument.row);
        const double scale = std::pow(10.0, row->decimals);
        GtkObject* adjustment = gimp_scale_entry_new(
            GTK_TABLE(table), 0, tableRow++, argument.label, kScaleWidth, kSpinWidth,
            EffectArgumentValue(i, state->values.parameters), row->minimum / scale, row->maximum / scale,
            row->lineStep / scale, row->pageStep / scale, static_cast<guint>(row->decimals), TRUE, 0, 0,
            row->sliderTooltip, nullptr);
        state->sliders[i] = GTK_ADJUSTMENT(adjustment);
        g_object_set_data(G_OBJECT(adjustment), "argument", GINT_TO_POINTER(i));
        g_signal_connect(adjustment, "value-changed", G_CALLBACK(OnSliderChanged), state);
    }
    return table;
}

}  // namespace

std::vector<PresetFile> FindPresetFiles() {
    std::vector<std::string> folders;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = 0;
        std::string folder(self);
        folder = folder.substr(0, folder.find_last_of('/'));
        // Beside the program (the user's plug-in folder, a build folder), else
        // the installed data folder.
        for (const std::string& candidate : PresetFolderCandidates(folder))
            if (OsFolderExists(candidate)) {
                folders.push_back(candidate);
                break;
            }
    }
    std::string saved;
    if (GetUserParametersFolder(saved)) folders.push_back(saved);
    std::vector<PresetFile> presets;
    for (const std::string& folder : folders) {
        std::vector<std::string> names;
        if (!OsFindFiles(folder, std::string("*.") + kParameterFileExtension, names)) continue;
        std::sort(names.begin(), names.end());
        for (const std::string& file : names) {
            PresetFile preset = {ParameterFileBaseName(file), folder + "/" + file};
            const bool known = std::any_of(presets.begin(), presets.end(),
                                           [&](const PresetFile& p) { return p.name == preset.name; });
            if (!known) presets.push_back(preset);
        }
    }
    return presets;
}

bool LoadPresetFile(const std::string& path, FilterParameters* parameters) {
    // An older file is converted against the values in force, as the
    // dialog's own list does it.
    FilterParameters current = *parameters;
    SetCurrentParameterRecord(&current);
    void* block = CheckImportedParameterFile(path);
    SetCurrentParameterRecord(nullptr);
    if (!block) return false;
    std::memcpy(parameters, block, sizeof *parameters);
    FreeParameterBlock(block);
    ClampFilterParameters(parameters);
    return true;
}

bool RunRaylumeDialog(int32_t image, int32_t drawable, PlugInValues* values) {
    DialogState state;
    state.values = *values;
    state.drawable = drawable;
    state.profile = EngineProfileBytes(image);
    state.toDisplay = DisplayConversion(drawable);
    state.presets = FindPresetFiles();

    GtkWidget* dialog = gimp_dialog_new("Raylume Pro 2", "raylume", nullptr, GTK_DIALOG_MODAL, nullptr, nullptr,
                                        "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL, -1);
    gimp_window_set_transient(GTK_WINDOW(dialog));

    GtkWidget* columns = gtk_hbox_new(FALSE, 12);
    gtk_container_set_border_width(GTK_CONTAINER(columns), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), columns, TRUE, TRUE, 0);

    state.preview = gimp_zoom_preview_new_from_drawable_id(drawable);
    gtk_widget_set_size_request(state.preview, kPreviewSide, kPreviewSide);
    gtk_box_pack_start(GTK_BOX(columns), state.preview, TRUE, TRUE, 0);
    g_signal_connect(state.preview, "invalidated", G_CALLBACK(RenderPreview), &state);

    GtkWidget* controls = gtk_vbox_new(FALSE, 8);
    gtk_box_pack_start(GTK_BOX(columns), controls, FALSE, FALSE, 0);

    GtkWidget* presetRow = gtk_hbox_new(FALSE, 6);
    GtkWidget* presetLabel = gtk_label_new_with_mnemonic("_Presets:");
    GtkWidget* presets = NewPresetsMenu(&state);
    gtk_label_set_mnemonic_widget(GTK_LABEL(presetLabel), presets);
    gtk_box_pack_start(GTK_BOX(presetRow), presetLabel, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(presetRow), presets, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(controls), presetRow, FALSE, FALSE, 0);

    gtk_box_pack_start(GTK_BOX(controls), NewControlsTable(&state), FALSE, FALSE, 0);

    state.effectsOnly = gtk_check_button_new_with_mnemonic(kEffectArguments[EFFECT_ARGUMENT_COUNT - 1].label);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(state.effectsOnly),
                                 state.values.parameters.slot[SLOT_EFFECTS_ONLY] != 0);
    gimp_help_set_help_data(state.effectsOnly, "Show the effects on black, without the picture", nullptr);
    g_signal_connect(state.effectsOnly, "toggled", G_CALLBACK(OnEffectsOnlyToggled), &state);
    gtk_box_pack_start(GTK_BOX(controls), state.effectsOnly, FALSE, FALSE, 0);

    state.newLayer = gtk_check_button_new_with_mnemonic("Effects on a ne_w layer (Screen mode)");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(state.newLayer), state.values.newLayer != 0);
    gtk_widget_set_sensitive(state.effectsOnly, !state.values.newLayer);
    gimp_help_set_help_data(state.newLayer,
                            "Leave the layer as it is and put the effects alone on a new layer above it, in Screen "
                            "mode, to tune them afterwards",
                            nullptr);
    g_signal_connect(state.newLayer, "toggled", G_CALLBACK(OnNewLayerToggled), &state);
    gtk_box_pack_start(GTK_BOX(controls), state.newLayer, FALSE, FALSE, 0);

    gtk_widget_show_all(dialog);
    const bool ok = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    gtk_widget_destroy(dialog);
    if (ok) *values = state.values;
    return ok;
}
