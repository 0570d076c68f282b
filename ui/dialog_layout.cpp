// The main dialog's geometry and key rules (see ui/dialog_layout.h).
#include "ui/dialog_layout.h"

#include <algorithm>

// The control ids are plain #defines that the resource compiler reads too;
// announcing a resource compile keeps windows.h out of this portable file.
#define RC_INVOKED 1
#include "ui/dialog_ids.h"
#undef RC_INVOKED

LayoutRules LayoutRulesForControl(int32_t controlId) {
    switch (controlId) {
        case IDC_TOOL_PAN:
        case IDC_TOOL_ZOOM:
        case IDC_TOOL_HIDE:
        case IDC_CAPTION_PAN:
        case IDC_CAPTION_ZOOM:
        case IDC_CAPTION_HIDE:
        case IDC_TOOL_SHOW:
        case IDC_CAPTION_SHOW:
            return {LAYOUT_FIXED, LAYOUT_FIXED};
        case IDC_PREVIEW_AREA:
        case IDC_PREVIEW_FRAME:
            return {LAYOUT_FIXED, LAYOUT_MOVE_XY};
        case IDC_PREVIEW_VSCROLL:
            return {LAYOUT_MOVE_X, LAYOUT_MOVE_XY};
        case IDC_PREVIEW_HSCROLL:
            return {LAYOUT_MOVE_Y, LAYOUT_MOVE_XY};
        case IDC_PROGRESS:
        case IDC_ZOOM_OUT:
        case IDC_ZOOM_IN:
        case IDC_WEB_LINK:
        case IDC_ZOOM_DISPLAY:
        case IDC_ZOOM_MENU_ARROW:
            return {LAYOUT_MOVE_Y, LAYOUT_MOVE_Y};
        case IDC_PREVIEW_CHECK:
        case IDC_BOTTOM_ROW_1083:
        case IDC_EFFECTS_ONLY:
        case IDC_CONFIGURE:
            return {LAYOUT_MOVE_XY, LAYOUT_MOVE_XY};
        default:
            return {LAYOUT_MOVE_X, LAYOUT_MOVE_X};
    }
}

LayoutRect ApplyLayoutRules(const LayoutRect& initial, LayoutRules rules, int32_t dx, int32_t dy) {
    LayoutRect r = initial;
    if (rules.leftTop & LAYOUT_MOVE_X) r.left += dx;
    if (rules.leftTop & LAYOUT_MOVE_Y) r.top += dy;
    if (rules.rightBottom & LAYOUT_MOVE_X) r.right += dx;
    if (rules.rightBottom & LAYOUT_MOVE_Y) r.bottom += dy;
    return r;
}

void LayoutSizeChange(LayoutRules rules, int32_t dx, int32_t dy, int32_t* dWidth, int32_t* dHeight) {
    LayoutRect grown = ApplyLayoutRules({0, 0, 0, 0}, rules, dx, dy);
    if (dWidth) *dWidth = grown.right - grown.left;
    if (dHeight) *dHeight = grown.bottom - grown.top;
}

void ResetLayoutTable(DialogLayoutTable* table, const LayoutRect& dialogWindow, const LayoutRect& dialogClient) {
    table->initialWindow = dialogWindow;
    table->initialClient = dialogClient;
    table->count = 0;
    for (LayoutItem& item : table->items) item = LayoutItem{};
}

namespace {

int32_t ScaleCoordinate(int32_t v, int32_t numerator, int32_t denominator) {
    const int64_t product = static_cast<int64_t>(v) * numerator;
    const int64_t half = denominator / 2;
    return static_cast<int32_t>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

LayoutRect ScaleRect(const LayoutRect& r, int32_t numerator, int32_t denominator) {
    return {ScaleCoordinate(r.left, numerator, denominator), ScaleCoordinate(r.top, numerator, denominator),
            ScaleCoordinate(r.right, numerator, denominator), ScaleCoordinate(r.bottom, numerator, denominator)};
}

// The same corner, the size scaled: the dialog's own rectangles are on the screen.
LayoutRect ScaleSize(const LayoutRect& r, int32_t numerator, int32_t denominator) {
    return {r.left, r.top, r.left + ScaleCoordinate(LayoutWidth(r), numerator, denominator),
            r.top + ScaleCoordinate(LayoutHeight(r), numerator, denominator)};
}

}  // namespace

void ScaleLayoutTable(DialogLayoutTable* table, int32_t numerator, int32_t denominator) {
    if (numerator <= 0 || denominator <= 0 || numerator == denominator) return;
    table->initialWindow = ScaleSize(table->initialWindow, numerator, denominator);
    table->initialClient = ScaleSize(table->initialClient, numerator, denominator);
    for (int32_t i = 0; i < table->count; i++) {
        LayoutItem& item = table->items[i];
        item.initialWindow = ScaleRect(item.initialWindow, numerator, denominator);
        item.initialClient = ScaleRect(item.initialClient, numerator, denominator);
    }
}

bool AddLayoutItem(DialogLayoutTable* table, void* window, int32_t controlId, const LayoutRect& windowRect,
                   const LayoutRect& clientRect) {
    if (table->count >= LAYOUT_TABLE_CAPACITY) return false;
    LayoutItem& item = table->items[table->count++];
    item.window = window;
    item.controlId = controlId;
    item.initialWindow = windowRect;
    item.initialClient = clientRect;
    item.rules = LayoutRulesForControl(controlId);
    item.valid = true;
    return true;
}

const LayoutItem* FindLayoutItem(const DialogLayoutTable* table, int32_t controlId) {
    for (int32_t i = 0; i < table->count; i++)
        if (table->items[i].valid && table->items[i].controlId == controlId) return &table->items[i];
    return nullptr;
}

void LayoutGrowth(const DialogLayoutTable* table, int32_t clientWidth, int32_t clientHeight, int32_t* dx,
                  int32_t* dy) {
    *dx = clientWidth - LayoutWidth(table->initialClient);
    *dy = clientHeight - LayoutHeight(table->initialClient);
}

bool LayoutRectInside(const LayoutRect& inner, const LayoutRect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

LayoutRect KeepInside(const LayoutRect& rect, const LayoutRect& bounds) {
    const int32_t width = LayoutWidth(rect), height = LayoutHeight(rect);
    int32_t left = rect.left, top = rect.top;
    if (left + width > bounds.right) left = bounds.right - width;
    if (top + height > bounds.bottom) top = bounds.bottom - height;
    if (left < bounds.left) left = bounds.left;
    if (top < bounds.top) top = bounds.top;
    return {left, top, left + width, top + height};
}

LayoutRect CentreOnParent(int32_t width, int32_t height, const LayoutRect& parent, const LayoutRect& virtualScreen) {
    const int32_t left = parent.left + (LayoutWidth(parent) - width) / 2;
    const int32_t top = parent.top + (LayoutHeight(parent) - height) / 3;
    return KeepInside({left, top, left + width, top + height}, virtualScreen);
}

LayoutRect FitOnMonitor(const LayoutRect& saved, const LayoutRect& monitor, int32_t minimumWidth,
                        int32_t minimumHeight) {
    const int32_t width = std::max(std::min(LayoutWidth(saved), LayoutWidth(monitor) - 1), minimumWidth);
    const int32_t height = std::max(std::min(LayoutHeight(saved), LayoutHeight(monitor) - 1), minimumHeight);
    const int32_t left = monitor.left + (LayoutWidth(monitor) - width) / 2;
    const int32_t top = monitor.top + (LayoutHeight(monitor) - height) / 2;
    return {left, top, left + width, top + height};
}

EditCharacterAction FilterEditCharacter(uint32_t character) {
    if (character >= '0' && character <= '9') return EDIT_CHARACTER_ACCEPT;
    switch (character) {
        case '\b':
        case '+':
        case '-':
        case '.':
            return EDIT_CHARACTER_ACCEPT;
        case '\t':
            return EDIT_CHARACTER_SWALLOW;
        default:
            return EDIT_CHARACTER_BEEP;
    }
}

int16_t SteppedSliderValue(const SliderControlRow& row, int32_t position, EditStepKey key, uint32_t repeat,
                           bool control) {
    const int64_t count = repeat == 0 ? 1 : repeat;
    int64_t step = 0;
    switch (key) {
        case EDIT_STEP_PAGE_UP: step = row.pageStep; break;
        case EDIT_STEP_PAGE_DOWN: step = -row.pageStep; break;
        case EDIT_STEP_LINE_UP: step = control ? row.largeStep : row.lineStep; break;
        case EDIT_STEP_LINE_DOWN: step = control ? -row.largeStep : -row.lineStep; break;
    }
    const int64_t value = std::clamp<int64_t>(position + step * count, row.minimum, row.maximum);
    return static_cast<int16_t>(value);
}

int32_t SliderClickValue(int32_t x, int32_t channelLeft, int32_t channelWidth, int32_t thumbWidth, int32_t minimum,
                         int32_t maximum) {
    const int32_t d = channelWidth - thumbWidth;
    if (d <= 0) return minimum;
    const int64_t value =
        minimum + ((static_cast<int64_t>(x) - thumbWidth / 2 - channelLeft) * (maximum - minimum) + d / 2) / d;
    return static_cast<int32_t>(std::clamp<int64_t>(value, minimum, maximum));
}
