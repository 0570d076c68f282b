// The main dialog's geometry and key rules, kept free of Win32 so that they
// are tested natively: which edges of each control follow the dialog's growth,
// where the dialog opens, which characters a value edit takes, how far the
// step keys move a value, and where a click on a slider's channel lands.
//
// Rectangles are in pixels with exclusive right and bottom edges, as Win32
// RECTs are; ui/main_dialog.cpp converts between the two.
#pragma once

#include <cstdint>

#include "params/filter_parameters.h"

struct LayoutRect {
    int32_t left, top, right, bottom;
};

inline int32_t LayoutWidth(const LayoutRect& r) { return r.right - r.left; }
inline int32_t LayoutHeight(const LayoutRect& r) { return r.bottom - r.top; }
inline bool operator==(const LayoutRect& a, const LayoutRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// ---- growth rules ----

// Bit masks. In the left/top rule, LAYOUT_MOVE_X moves the left edge by the
// horizontal growth dx and LAYOUT_MOVE_Y the top edge by the vertical growth
// dy; in the right/bottom rule they move the right and the bottom edge.
enum LayoutRuleBits : uint8_t {
    LAYOUT_FIXED = 0,
    LAYOUT_MOVE_X = 1,
    LAYOUT_MOVE_Y = 2,
    LAYOUT_MOVE_XY = 3,
};

struct LayoutRules {
    uint8_t leftTop;
    uint8_t rightBottom;
};

// The rules of a control by its id: tool icons and captions stay; the preview
// area and its frame stretch; the vertical scroll bar moves right and
// stretches down; the horizontal one moves down and stretches right; the
// controls under the preview move down; the bottom row moves right and down;
// everything else (the settings panel, OK, Cancel, unnamed labels) moves right.
LayoutRules LayoutRulesForControl(int32_t controlId);

// The rectangle after the dialog's client area grew by (dx, dy) since the
// rectangle was taken.
LayoutRect ApplyLayoutRules(const LayoutRect& initial, LayoutRules rules, int32_t dx, int32_t dy);

// How much a control's client area grows under its rules: width by dx when
// only its right edge moves, height by dy when only its bottom edge moves.
void LayoutSizeChange(LayoutRules rules, int32_t dx, int32_t dy, int32_t* dWidth, int32_t* dHeight);

// ---- the layout table ----

constexpr int LAYOUT_TABLE_CAPACITY = 100;

// One child control: rectangles as they were when the dialog was created (the
// window rectangle in dialog client coordinates, the control's own client
// rectangle), and its rules. `window` is the control's handle, opaque here.
struct LayoutItem {
    void* window;
    int32_t controlId;
    LayoutRect initialWindow;
    LayoutRect initialClient;
    LayoutRules rules;
    bool valid;
};

struct DialogLayoutTable {
    LayoutRect initialWindow;  // the dialog's window rectangle at creation (its minimum size)
    LayoutRect initialClient;  // its client rectangle at creation
    int32_t count;
    LayoutItem items[LAYOUT_TABLE_CAPACITY];
};

// Empties the table and keeps the dialog's creation rectangles.
void ResetLayoutTable(DialogLayoutTable* table, const LayoutRect& dialogWindow, const LayoutRect& dialogClient);

// Adds a row with the rules of its id. False when the table is full (the row
// is not added).
bool AddLayoutItem(DialogLayoutTable* table, void* window, int32_t controlId, const LayoutRect& windowRect,
                   const LayoutRect& clientRect);

// The first valid row of a control id, or null.
const LayoutItem* FindLayoutItem(const DialogLayoutTable* table, int32_t controlId);

// The dialog moved to a monitor of another pixel density: every rectangle
// taken at creation becomes what it would have been there (scaled by
// numerator / denominator, the new and the old dots per inch, rounded to the
// nearest pixel), so that the growth rules go on from the new size.
void ScaleLayoutTable(DialogLayoutTable* table, int32_t numerator, int32_t denominator);

// The growth of a client area of the given size over the creation size.
void LayoutGrowth(const DialogLayoutTable* table, int32_t clientWidth, int32_t clientHeight, int32_t* dx,
                  int32_t* dy);

// ---- placement ----

// Whether `inner` lies wholly inside `outer`.
bool LayoutRectInside(const LayoutRect& inner, const LayoutRect& outer);

// Moves the rectangle, keeping its size, so that it lies inside `bounds`;
// when it is larger than `bounds` its left and top edges are kept on the
// bounds' left and top.
LayoutRect KeepInside(const LayoutRect& rect, const LayoutRect& bounds);

// First placement of a window of the given size: horizontally in the middle
// of the parent's free space, vertically at one third of it, then kept inside
// the virtual screen.
LayoutRect CentreOnParent(int32_t width, int32_t height, const LayoutRect& parent, const LayoutRect& virtualScreen);

// A saved rectangle that is not inside the virtual screen goes to the monitor
// nearest to it: its width and height are limited to the monitor's size minus
// one, but not below the minimum (the dialog's initial size), and it is
// centred on the monitor.
LayoutRect FitOnMonitor(const LayoutRect& saved, const LayoutRect& monitor, int32_t minimumWidth,
                        int32_t minimumHeight);

// ---- value edits ----

enum EditCharacterAction {
    EDIT_CHARACTER_ACCEPT = 0,  // passed to the edit
    EDIT_CHARACTER_SWALLOW = 1,  // dropped silently (Tab)
    EDIT_CHARACTER_BEEP = 2,     // dropped with a beep
};

// Digits, backspace, '+', '-' and '.' are typed; Tab is dropped; anything
// else beeps.
EditCharacterAction FilterEditCharacter(uint32_t character);

enum EditStepKey {
    EDIT_STEP_PAGE_UP = 0,
    EDIT_STEP_PAGE_DOWN = 1,
    EDIT_STEP_LINE_UP = 2,
    EDIT_STEP_LINE_DOWN = 3,
};

// The value after a step key in a value edit, clamped to the row's range:
// Page Up / Page Down move by the page step times the repeat count, the
// arrows by the line step times the repeat count or, with Ctrl, by the large
// step times the repeat count. Up raises the value, Down lowers it. A repeat
// count of 0 counts as 1.
int16_t SteppedSliderValue(const SliderControlRow& row, int32_t position, EditStepKey key, uint32_t repeat,
                           bool control);

// ---- sliders ----

// The value for a click at x (slider client coordinates) outside the thumb:
// minimum + ((x - thumbWidth / 2 - channelLeft) * (maximum - minimum) + d / 2) / d
// with d = channelWidth - thumbWidth, all in integer division, then clamped
// to [minimum, maximum]. A channel no wider than the thumb gives the minimum.
int32_t SliderClickValue(int32_t x, int32_t channelLeft, int32_t channelWidth, int32_t thumbWidth, int32_t minimum,
                         int32_t maximum);
