// The preview window's rules: zoom steps and limits, fitting, the view's
// placement against the renderer's translation, tools and cursors, the wheel,
// and hiding and showing effects by click and by rectangle.
#include "ui/zoom_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/light_source_table.h"
#include "image/tracked_buffer.h"

namespace {

bool IsLevel(double zoom) {
    for (double level : ZOOM_LEVELS)
        if (level == zoom) return true;
    return false;
}

ZoomView View(int32_t clientWidth, int32_t clientHeight, int32_t imageWidth, int32_t imageHeight, double zoom) {
    ZoomView view;
    view.clientWidth = clientWidth;
    view.clientHeight = clientHeight;
    view.imageWidth = imageWidth;
    view.imageHeight = imageHeight;
    view.zoom = zoom;
    view.centreX = ZoomedLength(imageWidth, zoom) / 2.0;
    view.centreY = ZoomedLength(imageHeight, zoom) / 2.0;
    ClampViewCentre(&view);
    return view;
}

// Where the renderer draws image point (x, y): it translates by the visible
// rectangle's top-left minus the scroll offset and scales by the zoom.
ZoomPoint RendererClientPoint(const ZoomView& view, double x, double y) {
    const ZoomPlacement p = PlaceView(view);
    return {p.visible.left - p.scrollX + x * view.zoom / 100.0, p.visible.top - p.scrollY + y * view.zoom / 100.0};
}
// The inverse: the image point the renderer shows at a client point.
ZoomPoint RendererImagePoint(const ZoomView& view, ZoomPoint client) {
    const ZoomPlacement p = PlaceView(view);
    return {(client.x - p.visible.left + p.scrollX) * 100.0 / view.zoom,
            (client.y - p.visible.top + p.scrollY) * 100.0 / view.zoom};
}

// A light source table released at the end of the test.
struct Table {
    LightSourceList list;
    Table() { InitializeLightSourceList(&list); }
    ~Table() { ReleaseLightSourceList(&list); }
    // (x, xQuarter, y, yQuarter, state, savedState) per source.
    void Fill(const std::vector<std::vector<int32_t>>& sources) {
        ASSERT_EQ(0, ReallocateBuffer((sources.size() + 1) * LIGHT_SOURCE_RECORD_SIZE, &list.records));
        list.count = 0;
        for (const auto& s : sources) {
            LightSource r = {};
            r.x = s[0];
            r.xQuarter = s[1];
            r.y = s[2];
            r.yQuarter = s[3];
            r.radius = 2;
            r.state = s[4];
            r.savedState = s[5];
            LightSourceRecords(&list)[list.count++] = r;
        }
    }
    LightSource& operator[](uint32_t i) { return LightSourceRecords(&list)[i]; }
    std::vector<int32_t> States() {
        std::vector<int32_t> states;
        for (uint32_t i = 0; i < list.count; ++i) states.push_back((*this)[i].state);
        return states;
    }
    uint32_t Edits() { return GetLightSourceChangeCount(&list); }
};

constexpr int32_t H = LIGHT_SOURCE_HIDDEN, A = LIGHT_SOURCE_AUTO, S = LIGHT_SOURCE_SHOWN;

}  // namespace

TEST(ZoomRules, StepsMoveBetweenLevelsAndStopAtTheLimits) {
    // Every level steps to its neighbours and back.
    for (int i = 0; i < ZOOM_LEVEL_COUNT; ++i) {
        const double level = ZOOM_LEVELS[i];
        const double in = StepZoom(level, 1), out = StepZoom(level, -1);
        if (i + 1 < ZOOM_LEVEL_COUNT) {
            EXPECT_EQ(in, ZOOM_LEVELS[i + 1]);
            EXPECT_EQ(StepZoom(in, -1), level);
        }
        if (i > 0) {
            EXPECT_EQ(out, ZOOM_LEVELS[i - 1]);
        }
    }
    // The limits hold however many steps are asked for.
    EXPECT_EQ(StepZoom(6400, 1), 6400);
    EXPECT_EQ(StepZoom(6400, 7), 6400);
    EXPECT_EQ(StepZoom(0.3, -1), 0.3);
    EXPECT_EQ(StepZoom(0.3, -40), 0.3);
    EXPECT_EQ(StepZoom(0.3, 40), 6400);

    // A zoom between levels, as Fit in View leaves it: 800 of 1000 pixels is 80 %.
    const double fit = FitZoom(802, 602, 1000, 500);
    EXPECT_DOUBLE_EQ(fit, 80.0);
    EXPECT_EQ(StepZoom(fit, 1), 100);
    EXPECT_EQ(StepZoom(fit, -1), 66.67);
    EXPECT_EQ(StepZoom(fit, 2), 200);
    EXPECT_EQ(StepZoom(fit, -3), 33.33);

    // Off-level zooms across the whole range: one step always moves to a level
    // strictly beyond the zoom, never skipping one.
    for (double z = 0.3; z <= 6400; z *= 1.07) {
        const double in = StepZoom(z, 1), out = StepZoom(z, -1);
        EXPECT_TRUE(IsLevel(in) && IsLevel(out)) << z;
        EXPECT_TRUE(z >= 6400 || in > z) << z;
        EXPECT_TRUE(z <= 0.3 || out < z) << z;
        for (double level : ZOOM_LEVELS) EXPECT_FALSE(level > z && level < in) << z << " skips " << level;
    }
    EXPECT_EQ(ClampZoom(1e9), 6400);
    EXPECT_EQ(ClampZoom(0.01), 0.3);
    EXPECT_EQ(ClampZoom(std::nan("")), 0.3);
}

TEST(ZoomRules, FitAndZoomedSizesFollowTheRenderersPlacement) {
    EXPECT_EQ(ZoomedLength(1001, 50), 500);
    EXPECT_EQ(ZoomedLength(999, 100), 999);
    EXPECT_EQ(ZoomedLength(3, 0.3), 1);
    EXPECT_EQ(ZoomedLength(3, 33.33), 1) << "0.9999 pixels still show as one";

    // The fitted image lies inside the view (the client inset by one pixel)
    // and fills it along one axis.
    const int32_t cases[][4] = {{402, 302, 1000, 800}, {202, 602, 4000, 300}, {641, 481, 37, 23}, {300, 300, 299, 1}};
    for (const auto& c : cases) {
        const double zoom = FitZoom(c[0], c[1], c[2], c[3]);
        const int32_t w = ZoomedLength(c[2], zoom), h = ZoomedLength(c[3], zoom);
        EXPECT_LE(w, c[0] - 2) << c[2] << "x" << c[3];
        EXPECT_LE(h, c[1] - 2) << c[2] << "x" << c[3];
        EXPECT_TRUE(zoom == 6400 || w >= c[0] - 3 || h >= c[1] - 3) << c[2] << "x" << c[3];
        // Such an image is centred, entirely visible, without scrolling.
        ZoomView view = View(c[0], c[1], c[2], c[3], zoom);
        const ZoomPlacement p = PlaceView(view);
        EXPECT_EQ(p.scrollX, 0);
        EXPECT_EQ(p.scrollY, 0);
        EXPECT_EQ(p.visible.right - p.visible.left, w);
    }
    EXPECT_EQ(FitZoom(802, 602, 1, 1), 6400);
    EXPECT_EQ(FitZoom(102, 102, 100000, 100000), 0.3);

    EXPECT_EQ(ZoomDisplayText(80), " 80.00%");
    EXPECT_EQ(ZoomDisplayText(66.67), " 66.67%");
    EXPECT_EQ(ZoomDisplayText(6400), " 6400.00%");
    EXPECT_EQ(ZoomDisplayText(0.3), " 0.30%");
    EXPECT_EQ(ZoomDisplayText(1), " 1.00%");
}

TEST(ZoomRules, ZoomingKeepsTheAnchorInTheViewCentreUntilAnEdgeStopsIt) {
    // A 200 x 150 view on a 1000 x 800 image.
    ZoomView view = View(202, 152, 1000, 800, 100);
    const ZoomPoint middle = {1 + 100, 1 + 75};
    const ZoomPoint shown = RendererImagePoint(view, middle);
    EXPECT_NEAR(shown.x, 500, 1);
    EXPECT_NEAR(shown.y, 400, 1);

    // About the centre: the image point under the view's middle stays there.
    for (double zoom : {200.0, 1600.0, 66.67, 25.0, 400.0}) {
        SetViewZoom(&view, zoom, nullptr);
        const ZoomPoint now = RendererImagePoint(view, middle);
        EXPECT_NEAR(now.x, 500, 100.0 / zoom + 1) << zoom;
        EXPECT_NEAR(now.y, 400, 100.0 / zoom + 1) << zoom;
        // Client and zoomed-image coordinates agree with the renderer's mapping.
        const ZoomPoint z = ClientToZoomed(view, {37, 58});
        const ZoomPoint back = RendererClientPoint(view, z.x * 100 / zoom, z.y * 100 / zoom);
        EXPECT_NEAR(back.x, 37, 1e-9);
        EXPECT_NEAR(back.y, 58, 1e-9);
    }

    // At a clicked point (zoomed-image pixels): the point comes to the middle.
    view = View(202, 152, 1000, 800, 100);
    const ZoomPoint click = ClientToZoomed(view, {150, 40});
    const ZoomPoint under = RendererImagePoint(view, {150, 40});
    SetViewZoom(&view, 300, &click);
    const ZoomPoint after = RendererImagePoint(view, middle);
    EXPECT_NEAR(after.x, under.x, 1);
    EXPECT_NEAR(after.y, under.y, 1);

    // Near the top-left corner the edge stops it: the image's corner sits at
    // the view's corner and the scroll offset is zero.
    const ZoomPoint corner = {6, 6};
    SetViewZoom(&view, 800, &corner);
    EXPECT_EQ(PlaceView(view).scrollX, 0);
    EXPECT_EQ(PlaceView(view).scrollY, 0);
    EXPECT_NEAR(RendererClientPoint(view, 0, 0).x, 1, 1e-9);
    // Scrolling past the far end stops with the image's far corner at the view's.
    ScrollViewTo(&view, 1e9, 1e9);
    const ZoomPoint farCorner = RendererClientPoint(view, 1000, 800);
    EXPECT_NEAR(farCorner.x, 201, 1e-9);
    EXPECT_NEAR(farCorner.y, 151, 1e-9);
    ScrollViewBy(&view, -30, 0);
    EXPECT_NEAR(RendererClientPoint(view, 1000, 800).x, 231, 1e-9);

    // An image smaller than the view is centred whatever the anchor.
    const ZoomPoint anywhere = {5000, 5000};
    SetViewZoom(&view, 10, &anywhere);
    const ZoomPlacement small = PlaceView(view);
    EXPECT_EQ(small.scrollX, 0);
    EXPECT_EQ(small.scrollY, 0);
    EXPECT_EQ(small.image.left - 1, 201 - small.image.right);
    EXPECT_EQ(small.image.top - 1, 151 - small.image.bottom);
}

TEST(ZoomRules, ButtonPressesAndCursorsAgreeForEveryToolAndModifier) {
    // The cursor announces what a press would do, for every tool and every
    // combination of Ctrl, Alt and Space.
    for (int32_t tool = 1; tool <= 4; ++tool)
        for (int bits = 0; bits < 8; ++bits) {
            KeyModifiers keys;
            keys.ctrl = bits & 1;
            keys.alt = bits & 2;
            keys.space = bits & 4;
            const int32_t state = MouseStateFor(tool, keys);
            const ProxyCursor cursor = CursorFor(tool, keys, false, 100);
            ProxyCursor expected = PROXY_CURSOR_ARROW;
            switch (state) {
                case MOUSE_ZOOM_OUT_CLICK: expected = PROXY_CURSOR_ZOOM_OUT; break;
                case MOUSE_ZOOM: expected = PROXY_CURSOR_ZOOM_IN; break;
                case MOUSE_PANNING: expected = PROXY_CURSOR_HAND_OPEN; break;
                case MOUSE_HIDE:
                case MOUSE_UNDO_SHOW: expected = PROXY_CURSOR_HIDE; break;
                case MOUSE_REVEAL:
                case MOUSE_SHOW: expected = PROXY_CURSOR_SHOW; break;
                default: ADD_FAILURE() << "tool " << tool << " keys " << bits << " state " << state;
            }
            EXPECT_EQ(cursor, expected) << "tool " << tool << " keys " << bits;
        }
    KeyModifiers none, space, ctrl, alt, ctrlAlt;
    space.space = true;
    ctrl.ctrl = true;
    alt.alt = true;
    ctrlAlt.ctrl = ctrlAlt.alt = true;
    EXPECT_EQ(MouseStateFor(3, space), MOUSE_PANNING) << "Space borrows the Hand";
    EXPECT_EQ(MouseStateFor(3, ctrl), MOUSE_ZOOM);
    EXPECT_EQ(MouseStateFor(4, ctrlAlt), MOUSE_ZOOM_OUT_CLICK);
    EXPECT_EQ(MouseStateFor(3, alt), MOUSE_REVEAL);
    EXPECT_EQ(MouseStateFor(4, alt), MOUSE_UNDO_SHOW);
    EXPECT_EQ(MouseStateFor(0, none), MOUSE_NO_ACTION);
    EXPECT_EQ(MouseStateFor(5, none), MOUSE_STATE_INVALID);
    EXPECT_EQ(HideShowOperationFor(MOUSE_REVEAL), HIDESHOW_REVEAL);
    EXPECT_EQ(HideShowOperationFor(MOUSE_ZOOM), -1);
    // Grabbing while panning; the zoom cursors at their limits.
    EXPECT_EQ(CursorFor(1, none, true, 100), PROXY_CURSOR_HAND_GRAB);
    EXPECT_EQ(CursorFor(2, none, false, 6400), PROXY_CURSOR_ZOOM_LIMIT);
    EXPECT_EQ(CursorFor(2, alt, false, 6400), PROXY_CURSOR_ZOOM_OUT);
    EXPECT_EQ(CursorFor(1, alt, false, 0.3), PROXY_CURSOR_ZOOM_LIMIT);
    EXPECT_EQ(CursorFor(3, ctrl, false, 0.3), PROXY_CURSOR_ZOOM_IN);

    // The drag distance is the movement allowed on either side of the press.
    const ZoomPoint down = {50, 50};
    EXPECT_FALSE(IsDrag(down, {54, 46}, 4, 4));
    EXPECT_TRUE(IsDrag(down, {55, 50}, 4, 4));
    EXPECT_TRUE(IsDrag(down, {50, 45}, 4, 4));
    EXPECT_FALSE(IsDrag(down, {50, 58}, 2, 10));
    EXPECT_TRUE(IsDrag(down, {53, 50}, 2, 10));
    // The frame spans both points in either order, clipped to the view.
    const ZoomView view = View(202, 152, 1000, 800, 100);
    const ZoomRect frame = TrackingFrame(view, {150, 120}, {-40, 30});
    EXPECT_EQ(frame.left, 1);
    EXPECT_EQ(frame.top, 30);
    EXPECT_EQ(frame.right, 150);
    EXPECT_EQ(frame.bottom, 120);
    EXPECT_TRUE(ZoomRectEmpty(TrackingFrame(view, {-40, -40}, {-10, 70})));
    EXPECT_EQ(DragRectZoom(100, 50, 25, 200, 150), 400) << "the narrower fit wins";
}

TEST(ZoomRules, WheelNotchesKeepTheirRemainderAndFollowTheModifiers) {
    KeyModifiers none, alt, altShift, ctrl, ctrlShift, shift;
    alt.alt = true;
    altShift.alt = altShift.shift = true;
    ctrl.ctrl = true;
    ctrlShift.ctrl = ctrlShift.shift = true;
    shift.shift = true;
    int32_t rest = 0;
    EXPECT_EQ(WheelRule(&rest, 60, none).kind, WHEEL_NONE);
    WheelAction a = WheelRule(&rest, 60, none);
    EXPECT_EQ(a.kind, WHEEL_SCROLL_Y);
    EXPECT_EQ(a.amount, -10) << "away from the user scrolls up";
    a = WheelRule(&rest, -200, none);
    EXPECT_EQ(a.amount, 10);
    EXPECT_EQ(rest, -80);
    a = WheelRule(&rest, -40, none);
    EXPECT_EQ(a.amount, 10);
    EXPECT_EQ(rest, 0);

    rest = 0;
    a = WheelRule(&rest, 240, altShift);
    EXPECT_EQ(a.kind, WHEEL_ZOOM_STEPS);
    EXPECT_EQ(a.amount, 2);
    a = WheelRule(&rest, -120, alt);
    EXPECT_EQ(a.kind, WHEEL_ZOOM_FACTOR);
    EXPECT_DOUBLE_EQ(WheelZoom(100, a.amount), 100 / 1.1);
    EXPECT_DOUBLE_EQ(WheelZoom(100, 2), 121);
    EXPECT_EQ(WheelZoom(6000, 1), 6400);
    a = WheelRule(&rest, 120, ctrlShift);
    EXPECT_EQ(a.kind, WHEEL_PAGE_X);
    EXPECT_EQ(a.amount, -1);
    a = WheelRule(&rest, -360, ctrl);
    EXPECT_EQ(a.kind, WHEEL_SCROLL_X);
    EXPECT_EQ(a.amount, 30);
    a = WheelRule(&rest, -120, shift);
    EXPECT_EQ(a.kind, WHEEL_PAGE_Y);
    EXPECT_EQ(a.amount, 1);
}

TEST(ZoomRulesHideShow, AClickTakesTheNearestCandidateInQuarterPixels) {
    Table t;
    // A 400 x 300 image exactly filling the view at 100 %: client = image + 1.
    const ZoomView view = View(402, 302, 400, 300, 100);
    t.Fill({
        {100, 2, 100, 0, A, A},  // 0: at 100.5
        {101, 3, 100, 0, A, A},  // 1: at 101.75
        {200, 0, 50, 0, A, A},   // 2
        {190, 0, 50, 0, A, A},   // 3: 10 pixels left of 2
        {300, 0, 200, 0, H, S},  // 4: hidden, was forced on
        {320, 0, 200, 0, A, A},  // 5
    });
    auto click = [&](double x, double y, int32_t op) { return HideShowNearest(&t.list, view, {x + 1, y + 1}, op); };

    // Pixel 101 is 0.5 from source 0 and 0.75 from source 1.
    EXPECT_TRUE(click(101, 100, HIDESHOW_HIDE));
    EXPECT_EQ(t.States(), (std::vector<int32_t>{H, A, A, A, H, A}));
    EXPECT_EQ(t.Edits(), 1u);

    // Farther than the radius (20 pixels at 100 %) from everything: no change, still an edit.
    EXPECT_FALSE(click(150, 250, HIDESHOW_HIDE));
    EXPECT_EQ(t.States(), (std::vector<int32_t>{H, A, A, A, H, A}));
    EXPECT_EQ(t.Edits(), 2u);
    // 20 pixels is outside, 19 inside.
    EXPECT_FALSE(click(220, 50, HIDESHOW_SHOW));
    EXPECT_TRUE(click(219, 50, HIDESHOW_SHOW));
    EXPECT_EQ(t[2].state, S);
    EXPECT_EQ(t[2].savedState, A);

    // Undo considers only forced sources: 3 is nearer but automatic.
    EXPECT_TRUE(click(192, 50, HIDESHOW_UNDO_SHOW));
    EXPECT_EQ(t[2].state, A);
    EXPECT_EQ(t[3].state, A);

    // Halfway between 2 and 3: the earlier in the table wins the tie.
    EXPECT_TRUE(click(195, 50, HIDESHOW_HIDE));
    EXPECT_EQ(t[2].state, H);
    EXPECT_EQ(t[3].state, A);

    // Reveal considers only hidden sources: the nearer visible 5 is passed
    // over and 4 returns to forced.
    EXPECT_TRUE(click(317, 200, HIDESHOW_REVEAL));
    EXPECT_EQ(t[4].state, S);
    EXPECT_EQ(t[5].state, A);
    // Zoomed out to 25 % the radius is 80 image pixels (20 on the screen):
    // 60 pixels away is a hit there and a miss at 100 %.
    const ZoomView quarter = View(402, 302, 400, 300, 25);
    auto clientOf = [&](double x, double y) { return ZoomedToClient(quarter, {x * 0.25, y * 0.25}); };
    const uint32_t edits = t.Edits();
    EXPECT_FALSE(click(320, 140, HIDESHOW_HIDE));
    EXPECT_TRUE(HideShowNearest(&t.list, quarter, clientOf(320, 140), HIDESHOW_HIDE));
    EXPECT_EQ(t[5].state, H);
    EXPECT_EQ(t.Edits(), edits + 2);
}

TEST(ZoomRulesHideShow, RectanglesChangeOnlyWhatTheOperationAllows) {
    Table t;
    // At 200 % on a 202 x 152 client, scrolled so that image pixel (50, 40)
    // is the first visible one: client (x, y) shows image ((x - 1) / 2 + 50, (y - 1) / 2 + 40).
    ZoomView view = View(202, 152, 400, 300, 200);
    ScrollViewTo(&view, 100, 80);
    ASSERT_EQ(PlaceView(view).scrollX, 100);
    auto client = [](int32_t x, int32_t y) { return ZoomRect{1 + 2 * (x - 50), 1 + 2 * (y - 40), 0, 0}; };
    t.Fill({
        {60, 0, 50, 0, A, A},  // 0: inside
        {70, 3, 60, 3, H, A},  // 1: inside, hidden, was automatic
        {80, 0, 70, 0, H, S},  // 2: inside, hidden, was forced on
        {89, 0, 50, 0, H, A},  // 3: one column right of the rectangle
        {65, 0, 45, 0, S, A},  // 4: inside, forced on
    });
    // The rectangle from image pixel (55, 45) up to (89, 75) exclusive.
    const ZoomRect rect = {client(55, 45).left, client(55, 45).top, client(89, 75).left, client(89, 75).top};

    // Reveal: only the hidden ones inside, each back to its earlier state.
    EXPECT_TRUE(HideShowInRect(&t.list, view, rect, HIDESHOW_REVEAL));
    EXPECT_EQ(t.States(), (std::vector<int32_t>{A, A, S, H, S}));
    EXPECT_EQ(t.Edits(), 1u);
    // Nothing left to reveal: no change and no edit.
    EXPECT_FALSE(HideShowInRect(&t.list, view, rect, HIDESHOW_REVEAL));
    EXPECT_EQ(t.Edits(), 1u);

    // Hide, then reveal: every state inside comes back, forced ones forced.
    const std::vector<int32_t> before = t.States();
    EXPECT_TRUE(HideShowInRect(&t.list, view, rect, HIDESHOW_HIDE));
    EXPECT_EQ(t.States(), (std::vector<int32_t>{H, H, H, H, H}));
    EXPECT_TRUE(HideShowInRect(&t.list, view, rect, HIDESHOW_REVEAL));
    EXPECT_EQ(t.States(), before);
    // Show and undo likewise.
    EXPECT_TRUE(HideShowInRect(&t.list, view, rect, HIDESHOW_SHOW));
    EXPECT_EQ(t.States(), (std::vector<int32_t>{S, S, S, H, S}));
    EXPECT_TRUE(HideShowInRect(&t.list, view, rect, HIDESHOW_UNDO_SHOW));
    EXPECT_EQ(t.States(), before);
    EXPECT_EQ(t.Edits(), 5u);

    // A rectangle without width still takes the column it lies on.
    const ZoomRect line = {client(89, 40).left, client(89, 40).top, client(89, 40).left, client(89, 60).top};
    EXPECT_TRUE(HideShowInRect(&t.list, view, line, HIDESHOW_REVEAL));
    EXPECT_EQ(t[3].state, A);
    EXPECT_EQ(t.States(), (std::vector<int32_t>{A, A, S, A, S}));
}
