// The main dialog's geometry and key rules, natively: growth of the controls,
// where the dialog opens, what a value edit accepts, step keys and clicks on
// a slider's channel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "params/filter_parameters.h"
#include "ui/dialog_layout.h"

namespace {

constexpr int kOk = 1, kPreviewCheck = 1002, kEffectsOnly = 1122, kPreviewArea = 1040, kFrame = 1049,
              kVScroll = 1028, kHScroll = 1030, kPan = 1043, kPanCaption = 1169, kShow = 1184, kZoomOut = 1042,
              kProgress = 1031, kSettingsList = 1023, kQuantityEdit = 1025, kUnnamedLabel = -1;

// A dialog of about the real one's proportions: tools on the left, the
// preview with its scroll bars and status row, the settings panel on the right.
struct ControlPlace {
    int id;
    LayoutRect rect;
};
const ControlPlace kPlaces[] = {
    {kPan, {10, 12, 46, 46}},           {kPanCaption, {6, 48, 50, 60}},
    {kShow, {10, 180, 46, 214}},        {kFrame, {54, 10, 696, 668}},
    {kPreviewArea, {57, 13, 676, 648}}, {kVScroll, {676, 13, 693, 648}},
    {kHScroll, {57, 648, 676, 665}},    {kZoomOut, {54, 676, 76, 698}},
    {kProgress, {200, 680, 460, 694}},  {kOk, {988, 10, 1070, 34}},
    {kSettingsList, {720, 90, 1020, 110}}, {kQuantityEdit, {1010, 140, 1052, 160}},
    {kUnnamedLabel, {726, 142, 870, 156}}, {kPreviewCheck, {708, 680, 780, 696}},
    {kEffectsOnly, {786, 680, 880, 696}},
};

std::unique_ptr<DialogLayoutTable> TableOfPlaces() {
    auto table = std::make_unique<DialogLayoutTable>();
    ResetLayoutTable(table.get(), {100, 80, 1196, 824}, {0, 0, 1080, 712});
    for (const ControlPlace& place : kPlaces) {
        LayoutRect client = {0, 0, LayoutWidth(place.rect), LayoutHeight(place.rect)};
        EXPECT_TRUE(AddLayoutItem(table.get(), nullptr, place.id, place.rect, client));
    }
    return table;
}

LayoutRect Grown(const DialogLayoutTable& table, int id, int dx, int dy) {
    const LayoutItem* item = FindLayoutItem(&table, id);
    EXPECT_NE(item, nullptr) << id;
    return item ? ApplyLayoutRules(item->initialWindow, item->rules, dx, dy) : LayoutRect{};
}

LayoutRect Offset(const LayoutRect& r, int dx, int dy) { return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; }

LayoutRect PlaceOf(int id) {
    for (const ControlPlace& place : kPlaces)
        if (place.id == id) return place.rect;
    return {};
}

}  // namespace

TEST(DialogLayout, GrowingTheDialogMovesTheRightPanelAndTheBottomRowAndStretchesOnlyThePreview) {
    auto table = TableOfPlaces();
    int dx = 0, dy = 0;
    LayoutGrowth(table.get(), 1180, 762, &dx, &dy);
    ASSERT_EQ(dx, 100);
    ASSERT_EQ(dy, 50);

    // OK and the settings panel move right only.
    EXPECT_EQ(Grown(*table, kOk, dx, dy), Offset(PlaceOf(kOk), 100, 0));
    EXPECT_EQ(Grown(*table, kSettingsList, dx, dy), Offset(PlaceOf(kSettingsList), 100, 0));
    EXPECT_EQ(Grown(*table, kQuantityEdit, dx, dy), Offset(PlaceOf(kQuantityEdit), 100, 0));
    EXPECT_EQ(Grown(*table, kUnnamedLabel, dx, dy), Offset(PlaceOf(kUnnamedLabel), 100, 0));
    // The bottom row follows the lower right corner.
    EXPECT_EQ(Grown(*table, kPreviewCheck, dx, dy), Offset(PlaceOf(kPreviewCheck), 100, 50));
    EXPECT_EQ(Grown(*table, kEffectsOnly, dx, dy), Offset(PlaceOf(kEffectsOnly), 100, 50));
    // The status row under the preview moves down only.
    EXPECT_EQ(Grown(*table, kZoomOut, dx, dy), Offset(PlaceOf(kZoomOut), 0, 50));
    EXPECT_EQ(Grown(*table, kProgress, dx, dy), Offset(PlaceOf(kProgress), 0, 50));
    // The tools stay where they are.
    EXPECT_EQ(Grown(*table, kPan, dx, dy), PlaceOf(kPan));
    EXPECT_EQ(Grown(*table, kPanCaption, dx, dy), PlaceOf(kPanCaption));
    EXPECT_EQ(Grown(*table, kShow, dx, dy), PlaceOf(kShow));

    // The preview and its frame keep their top left corner and grow by 100 x 50.
    for (int id : {kPreviewArea, kFrame}) {
        LayoutRect before = PlaceOf(id), after = Grown(*table, id, dx, dy);
        EXPECT_EQ(after.left, before.left) << id;
        EXPECT_EQ(after.top, before.top) << id;
        EXPECT_EQ(LayoutWidth(after), LayoutWidth(before) + 100) << id;
        EXPECT_EQ(LayoutHeight(after), LayoutHeight(before) + 50) << id;
    }
    // The scroll bars stay glued to the preview's right and bottom edges, keep
    // their thickness and span the preview's new height and width.
    LayoutRect preview = Grown(*table, kPreviewArea, dx, dy);
    LayoutRect vertical = Grown(*table, kVScroll, dx, dy), horizontal = Grown(*table, kHScroll, dx, dy);
    EXPECT_EQ(vertical.left, preview.right);
    EXPECT_EQ(LayoutWidth(vertical), LayoutWidth(PlaceOf(kVScroll)));
    EXPECT_EQ(vertical.top, preview.top);
    EXPECT_EQ(vertical.bottom, preview.bottom);
    EXPECT_EQ(horizontal.top, preview.bottom);
    EXPECT_EQ(LayoutHeight(horizontal), LayoutHeight(PlaceOf(kHScroll)));
    EXPECT_EQ(horizontal.left, preview.left);
    EXPECT_EQ(horizontal.right, preview.right);

    // The client rectangle kept for a control grows with it, and only then.
    int dWidth = -1, dHeight = -1;
    LayoutSizeChange(FindLayoutItem(table.get(), kPreviewArea)->rules, dx, dy, &dWidth, &dHeight);
    EXPECT_EQ(dWidth, 100);
    EXPECT_EQ(dHeight, 50);
    LayoutSizeChange(FindLayoutItem(table.get(), kOk)->rules, dx, dy, &dWidth, &dHeight);
    EXPECT_EQ(dWidth, 0);
    EXPECT_EQ(dHeight, 0);
    LayoutSizeChange(FindLayoutItem(table.get(), kHScroll)->rules, dx, dy, &dWidth, &dHeight);
    EXPECT_EQ(dWidth, 100);
    EXPECT_EQ(dHeight, 0);
}

TEST(DialogLayout, TheTableHoldsAHundredControlsAndRefusesMore) {
    auto table = std::make_unique<DialogLayoutTable>();
    ResetLayoutTable(table.get(), {0, 0, 400, 300}, {0, 0, 390, 270});
    for (int i = 0; i < LAYOUT_TABLE_CAPACITY; i++)
        ASSERT_TRUE(AddLayoutItem(table.get(), nullptr, 5000 + i, {i, 0, i + 1, 1}, {0, 0, 1, 1})) << i;
    EXPECT_FALSE(AddLayoutItem(table.get(), nullptr, kOk, {0, 0, 1, 1}, {0, 0, 1, 1}));
    EXPECT_EQ(table->count, LAYOUT_TABLE_CAPACITY);
    EXPECT_EQ(FindLayoutItem(table.get(), kOk), nullptr);
    ASSERT_NE(FindLayoutItem(table.get(), 5099), nullptr);
    EXPECT_EQ(FindLayoutItem(table.get(), 5099)->initialWindow.left, 99);

    // A reset empties it for the next dialog.
    ResetLayoutTable(table.get(), {0, 0, 400, 300}, {0, 0, 390, 270});
    EXPECT_EQ(table->count, 0);
    EXPECT_EQ(FindLayoutItem(table.get(), 5000), nullptr);
}

TEST(DialogLayout, TheDialogOpensCentredAtAThirdAndStaysOnTheScreen) {
    const LayoutRect screen = {0, 0, 1280, 1024};
    // On the host's window: middle of the free width, a third of the free height.
    LayoutRect host = {100, 50, 1200, 950};
    LayoutRect placed = CentreOnParent(1000, 600, host, screen);
    EXPECT_EQ(placed, (LayoutRect{150, 150, 1150, 750}));
    EXPECT_TRUE(LayoutRectInside(placed, screen));

    // A host window hanging off the lower left corner: the dialog is pushed back in.
    LayoutRect offScreenHost = {-400, 900, 200, 1300};
    placed = CentreOnParent(1000, 600, offScreenHost, screen);
    EXPECT_EQ(LayoutWidth(placed), 1000);
    EXPECT_EQ(LayoutHeight(placed), 600);
    EXPECT_EQ(placed.left, 0);
    EXPECT_EQ(placed.bottom, 1024);

    // A dialog larger than the screen keeps its top left corner on it.
    placed = CentreOnParent(1400, 1100, host, screen);
    EXPECT_EQ(placed.left, 0);
    EXPECT_EQ(placed.top, 0);

    // A second monitor to the left makes the virtual screen start below zero.
    const LayoutRect twoScreens = {-1920, 0, 1280, 1080};
    EXPECT_TRUE(LayoutRectInside({-1800, 100, -900, 700}, twoScreens));
    EXPECT_FALSE(LayoutRectInside({-1800, 100, -900, 700}, screen));
    EXPECT_FALSE(LayoutRectInside({1000, 100, 1300, 700}, twoScreens));
}

TEST(DialogLayout, ARectangleSavedOnAMissingMonitorIsCentredOnTheNearestOne) {
    const LayoutRect monitor = {0, 0, 1280, 1024};
    // Saved on a monitor to the right that is gone: same size, centred.
    LayoutRect placed = FitOnMonitor({1500, 100, 2600, 850}, monitor, 1000, 700);
    EXPECT_EQ(placed, (LayoutRect{90, 137, 1190, 887}));

    // Saved larger than this monitor: limited to its size minus one.
    placed = FitOnMonitor({1500, -100, 3600, 1500}, monitor, 1000, 700);
    EXPECT_EQ(LayoutWidth(placed), 1279);
    EXPECT_EQ(LayoutHeight(placed), 1023);
    EXPECT_TRUE(LayoutRectInside(placed, monitor));

    // Never below the dialog's initial size, even on a small monitor.
    placed = FitOnMonitor({1500, 100, 2600, 850}, {0, 0, 800, 600}, 1000, 700);
    EXPECT_EQ(LayoutWidth(placed), 1000);
    EXPECT_EQ(LayoutHeight(placed), 700);
    EXPECT_EQ(placed.left, -100);
    EXPECT_EQ(placed.top, -50);

    // A monitor away from the origin centres around its own middle.
    placed = FitOnMonitor({-5000, 0, -3900, 750}, {-1920, 200, 0, 1280}, 1000, 700);
    EXPECT_EQ((placed.left + placed.right) / 2, -960);
    EXPECT_EQ((placed.top + placed.bottom) / 2, 740);
}

TEST(DialogLayout, ValueEditsTakeNumbersOnly) {
    int accepted = 0;
    for (uint32_t c = 0; c < 256; c++) {
        EditCharacterAction action = FilterEditCharacter(c);
        if (action == EDIT_CHARACTER_ACCEPT) accepted++;
        if (c == '\t')
            EXPECT_EQ(action, EDIT_CHARACTER_SWALLOW);
        else if (action == EDIT_CHARACTER_SWALLOW)
            ADD_FAILURE() << "only Tab is dropped silently, not " << c;
    }
    EXPECT_EQ(accepted, 14);  // ten digits, backspace, sign characters, the point
    for (char c : std::string("0123456789\b+-.")) EXPECT_EQ(FilterEditCharacter(c), EDIT_CHARACTER_ACCEPT) << c;
    for (char c : std::string("aQ ,e\r\x1b")) EXPECT_EQ(FilterEditCharacter(c), EDIT_CHARACTER_BEEP) << int(c);
    EXPECT_EQ(FilterEditCharacter(0x660), EDIT_CHARACTER_BEEP);  // other scripts' digits are not ours
}

TEST(DialogLayout, StepKeysMoveByLinePageOrLargeStepAndStopAtTheEnds) {
    const SliderControlRow& points = SLIDER_CONTROL_TABLE[SLIDER_ROW_NUMBER_OF_POINTS];
    EXPECT_EQ(SteppedSliderValue(points, 4, EDIT_STEP_LINE_UP, 1, true), 6);  // Ctrl+Up: by 2
    EXPECT_EQ(SteppedSliderValue(points, 4, EDIT_STEP_LINE_UP, 1, false), 5);
    EXPECT_EQ(SteppedSliderValue(points, 4, EDIT_STEP_LINE_DOWN, 2, true), 1);  // 4 - 2 x 2 stops at 1
    EXPECT_EQ(SteppedSliderValue(points, 4, EDIT_STEP_PAGE_UP, 1, false), 12);
    EXPECT_EQ(SteppedSliderValue(points, 4, EDIT_STEP_PAGE_UP, 1, true), 12);  // Ctrl does not change pages
    EXPECT_EQ(SteppedSliderValue(points, 30, EDIT_STEP_PAGE_UP, 3, false), 32);
    EXPECT_EQ(SteppedSliderValue(points, 4, EDIT_STEP_LINE_UP, 0, false), 5);  // no repeat count: once

    const SliderControlRow& angle = SLIDER_CONTROL_TABLE[SLIDER_ROW_ANGLE];
    EXPECT_EQ(SteppedSliderValue(angle, 0, EDIT_STEP_PAGE_DOWN, 3, false), -300);
    EXPECT_EQ(SteppedSliderValue(angle, -850, EDIT_STEP_PAGE_DOWN, 1, false), -900);
    EXPECT_EQ(SteppedSliderValue(angle, 0, EDIT_STEP_LINE_DOWN, 4, true), -40);
    // A held key's repeat count cannot wrap a 16-bit value.
    EXPECT_EQ(SteppedSliderValue(angle, 0, EDIT_STEP_PAGE_UP, 0xFFFF, false), 900);
}

TEST(DialogLayout, AClickOnTheChannelPutsTheThumbCentreUnderTheCursor) {
    // A channel from x = 8 to 208 with a 10-pixel thumb: the thumb's centre
    // travels from 13 to 203.
    const int left = 8, width = 200, thumb = 10;
    EXPECT_EQ(SliderClickValue(13, left, width, thumb, 0, 100), 0);
    EXPECT_EQ(SliderClickValue(203, left, width, thumb, 0, 100), 100);
    EXPECT_EQ(SliderClickValue(108, left, width, thumb, 0, 100), 50);
    EXPECT_EQ(SliderClickValue(0, left, width, thumb, 0, 100), 0);      // left of the channel
    EXPECT_EQ(SliderClickValue(400, left, width, thumb, 0, 100), 100);  // right of it
    EXPECT_EQ(SliderClickValue(108, left, width, thumb, -900, 900), 0);
    EXPECT_EQ(SliderClickValue(13, left, width, thumb, 1, 32), 1);

    // Every value of a 0..100 slider has its own pixel: the nearest value to
    // the thumb's centre comes back, and values never go down as x grows.
    const int d = width - thumb;
    int last = -1;
    for (int x = 0; x < 260; x++) {
        int value = SliderClickValue(x, left, width, thumb, 0, 100);
        EXPECT_GE(value, last) << x;
        last = value;
        double exact = (x - left - thumb / 2) * 100.0 / d;
        if (exact >= 0 && exact <= 100) {
            EXPECT_LE(std::abs(value - exact), 0.5 + 1e-9) << x;
        }
    }
    // A channel no wider than the thumb has nowhere to go.
    EXPECT_EQ(SliderClickValue(50, 0, 10, 10, -100, 100), -100);
}
