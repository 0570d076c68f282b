#include "ui/zoom_rules.h"

#include "analysis/light_source_edits.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

const double ZOOM_LEVELS[ZOOM_LEVEL_COUNT] = {0.3, 0.5, 1,   2.5, 6.25, 12.5, 25,   33.33, 50,   66.67, 100,
                                              200, 300, 400, 600, 800,  1000, 1200, 1600,  3200, 6400};

const ZoomMenuEntry ZOOM_MENU_ENTRIES[ZOOM_MENU_ENTRY_COUNT] = {
    {"6%", ZOOM_MENU_SET, 6.25},
    {"12%", ZOOM_MENU_SET, 12.5},
    {"25%", ZOOM_MENU_SET, 25},
    {"33%", ZOOM_MENU_SET, 33.33},
    {"50%", ZOOM_MENU_SET, 50},
    {"66%", ZOOM_MENU_SET, 66.67},
    {"100%", ZOOM_MENU_SET, 100},
    {"200%", ZOOM_MENU_SET, 200},
    {"300%", ZOOM_MENU_SET, 300},
    {"400%", ZOOM_MENU_SET, 400},
    {"600%", ZOOM_MENU_SET, 600},
    {"800%", ZOOM_MENU_SET, 800},
    {"1000%", ZOOM_MENU_SET, 1000},
    {"1200%", ZOOM_MENU_SET, 1200},
    {"1600%", ZOOM_MENU_SET, 1600},
    {"3200%", ZOOM_MENU_SET, 3200},
    {"6400%", ZOOM_MENU_SET, 6400},
    {"Actual Pixels", ZOOM_MENU_SET, 100},
    {"Fit in View", ZOOM_MENU_FIT_IN_VIEW, 0},
    {"Fit on Screen", ZOOM_MENU_FIT_ON_SCREEN, 0},
};

// ---- zoom levels ----

double ClampZoom(double zoom) {
    if (!(zoom >= ZOOM_MIN)) return ZOOM_MIN;  // also NaN
    return zoom > ZOOM_MAX ? ZOOM_MAX : zoom;
}

double StepZoom(double zoom, int steps) {
    zoom = ClampZoom(zoom);
    if (steps > 0) {
        int i = 0;
        while (i < ZOOM_LEVEL_COUNT && ZOOM_LEVELS[i] <= zoom) ++i;  // first level above
        if (i == ZOOM_LEVEL_COUNT) return ZOOM_MAX;
        return ZOOM_LEVELS[std::min(i + steps - 1, ZOOM_LEVEL_COUNT - 1)];
    }
    if (steps < 0) {
        int i = ZOOM_LEVEL_COUNT - 1;
        while (i >= 0 && ZOOM_LEVELS[i] >= zoom) --i;  // last level below
        if (i < 0) return ZOOM_MIN;
        return ZOOM_LEVELS[std::max(i + steps + 1, 0)];
    }
    return zoom;
}

double WheelZoom(double zoom, int notches) { return ClampZoom(zoom * std::pow(1.1, notches)); }

double FitZoom(int32_t clientWidth, int32_t clientHeight, int32_t imageWidth, int32_t imageHeight) {
    const double viewWidth = std::max(clientWidth - 2, 1), viewHeight = std::max(clientHeight - 2, 1);
    const double w = std::max(imageWidth, 1), h = std::max(imageHeight, 1);
    return ClampZoom(100.0 * std::min(viewWidth / w, viewHeight / h));
}

double DragRectZoom(double zoom, int32_t rectWidth, int32_t rectHeight, int32_t viewWidth, int32_t viewHeight) {
    const double w = std::max(rectWidth, 1), h = std::max(rectHeight, 1);
    return ClampZoom(zoom * std::min(std::max(viewWidth, 1) / w, std::max(viewHeight, 1) / h));
}

int32_t ZoomedLength(int32_t length, double zoom) {
    if (zoom == 100.0) return std::max(length, 1);
    const double scaled = length / (100.0 / zoom) + 1e-10;
    if (scaled >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return std::max(static_cast<int32_t>(scaled), 1);
}

std::string ZoomDisplayText(double zoom) {
    char text[64];
    // The long double conversion needs the C99 printf on mingw (msvcrt's
    // reads %Lf as a plain double).
#ifdef __MINGW32__
    __mingw_snprintf(text, sizeof text, " %-3.2Lf%%", static_cast<long double>(zoom));
#else
    std::snprintf(text, sizeof text, " %-3.2Lf%%", static_cast<long double>(zoom));
#endif
    return text;
}

// ---- the view ----

namespace {

// The offset of the visible part along one axis (0 when the image is not larger than the view).
int32_t ScrollAlong(double centre, int32_t zoomed, int32_t view) {
    if (zoomed <= view) return 0;
    const double left = std::floor(centre - view / 2.0 + 0.5);
    return static_cast<int32_t>(std::min(std::max(left, 0.0), static_cast<double>(zoomed - view)));
}

double ClampAlong(double centre, int32_t zoomed, int32_t view) {
    if (zoomed <= view) return zoomed / 2.0;
    const double half = view / 2.0;
    return std::min(std::max(centre, half), zoomed - half);
}

int32_t ViewWidthOf(const ZoomView& view) { return std::max(view.clientWidth - 2, 0); }
int32_t ViewHeightOf(const ZoomView& view) { return std::max(view.clientHeight - 2, 0); }

}  // namespace

ZoomPlacement PlaceView(const ZoomView& view) {
    ZoomPlacement p;
    p.zoomedWidth = ZoomedLength(view.imageWidth, view.zoom);
    p.zoomedHeight = ZoomedLength(view.imageHeight, view.zoom);
    const int32_t areaWidth = ViewWidthOf(view), areaHeight = ViewHeightOf(view);
    p.view = {1, 1, 1 + areaWidth, 1 + areaHeight};
    const int32_t x = p.zoomedWidth < areaWidth ? (areaWidth - p.zoomedWidth) / 2 + 1 : 1;
    const int32_t y = p.zoomedHeight < areaHeight ? (areaHeight - p.zoomedHeight) / 2 + 1 : 1;
    p.image = {x, y, x + p.zoomedWidth, y + p.zoomedHeight};
    p.visible = {std::max(p.image.left, p.view.left), std::max(p.image.top, p.view.top),
                 std::min(p.image.right, p.view.right), std::min(p.image.bottom, p.view.bottom)};
    if (ZoomRectEmpty(p.visible)) p.visible = {p.view.left, p.view.top, p.view.left, p.view.top};
    p.scrollX = ScrollAlong(view.centreX, p.zoomedWidth, areaWidth);
    p.scrollY = ScrollAlong(view.centreY, p.zoomedHeight, areaHeight);
    return p;
}

ZoomPoint ClientToZoomed(const ZoomView& view, ZoomPoint client) {
    const ZoomPlacement p = PlaceView(view);
    return {client.x - p.image.left + p.scrollX, client.y - p.image.top + p.scrollY};
}

ZoomPoint ZoomedToClient(const ZoomView& view, ZoomPoint zoomed) {
    const ZoomPlacement p = PlaceView(view);
    return {zoomed.x + p.image.left - p.scrollX, zoomed.y + p.image.top - p.scrollY};
}

void ClampViewCentre(ZoomView* view) {
    view->centreX = ClampAlong(view->centreX, ZoomedLength(view->imageWidth, view->zoom), ViewWidthOf(*view));
    view->centreY = ClampAlong(view->centreY, ZoomedLength(view->imageHeight, view->zoom), ViewHeightOf(*view));
}

void SetViewZoom(ZoomView* view, double zoom, const ZoomPoint* anchor) {
    const double old = view->zoom > 0 ? view->zoom : 100.0;
    zoom = ClampZoom(zoom);
    ZoomPoint centre = anchor ? *anchor : ZoomPoint{view->centreX, view->centreY};
    if (zoom != old) {
        centre.x *= zoom / old;
        centre.y *= zoom / old;
    }
    view->zoom = zoom;
    view->centreX = centre.x;
    view->centreY = centre.y;
    ClampViewCentre(view);
}

void ScrollViewBy(ZoomView* view, double dx, double dy) {
    view->centreX += dx;
    view->centreY += dy;
    ClampViewCentre(view);
}

void ScrollViewTo(ZoomView* view, double left, double top) {
    view->centreX = left + ViewWidthOf(*view) / 2.0;
    view->centreY = top + ViewHeightOf(*view) / 2.0;
    ClampViewCentre(view);
}

ZoomRect TrackingFrame(const ZoomView& view, ZoomPoint from, ZoomPoint to) {
    const ZoomRect area = PlaceView(view).view;
    const int32_t x0 = static_cast<int32_t>(std::lround(from.x)), x1 = static_cast<int32_t>(std::lround(to.x));
    const int32_t y0 = static_cast<int32_t>(std::lround(from.y)), y1 = static_cast<int32_t>(std::lround(to.y));
    ZoomRect r = {std::max(std::min(x0, x1), area.left), std::max(std::min(y0, y1), area.top),
                  std::min(std::max(x0, x1), area.right), std::min(std::max(y0, y1), area.bottom)};
    if (r.right < r.left || r.bottom < r.top) return {0, 0, 0, 0};
    return r;
}

bool IsDrag(ZoomPoint down, ZoomPoint up, int32_t cxDrag, int32_t cyDrag) {
    return std::fabs(up.x - down.x) > cxDrag || std::fabs(up.y - down.y) > cyDrag;
}

// ---- tools, mouse states and cursors ----

namespace {
constexpr int32_t TOOL_NONE = 0, TOOL_HAND = 1, TOOL_ZOOM = 2, TOOL_HIDE = 3, TOOL_SHOW = 4;

int32_t ZoomToolState(KeyModifiers keys) { return keys.alt ? MOUSE_ZOOM_OUT_CLICK : MOUSE_ZOOM; }
}  // namespace

int32_t MouseStateFor(int32_t tool, KeyModifiers keys) {
    switch (keys.space ? TOOL_HAND : tool) {
        case TOOL_NONE: return MOUSE_NO_ACTION;
        case TOOL_HAND: return keys.alt ? MOUSE_ZOOM_OUT_CLICK : keys.ctrl ? MOUSE_ZOOM : MOUSE_PANNING;
        case TOOL_ZOOM: return ZoomToolState(keys);
        case TOOL_HIDE:
            if (keys.ctrl) return ZoomToolState(keys);
            return keys.alt ? MOUSE_REVEAL : MOUSE_HIDE;
        case TOOL_SHOW:
            if (keys.ctrl) return ZoomToolState(keys);
            return keys.alt ? MOUSE_UNDO_SHOW : MOUSE_SHOW;
        default: return MOUSE_STATE_INVALID;
    }
}

ProxyCursor CursorFor(int32_t tool, KeyModifiers keys, bool panning, double zoom) {
    if (panning) return PROXY_CURSOR_HAND_GRAB;
    const int32_t effective = keys.ctrl ? TOOL_ZOOM : keys.space ? TOOL_HAND : tool;
    ProxyCursor cursor = PROXY_CURSOR_ARROW;
    switch (effective) {
        case TOOL_HAND: cursor = keys.alt ? PROXY_CURSOR_ZOOM_OUT : PROXY_CURSOR_HAND_OPEN; break;
        case TOOL_ZOOM: cursor = keys.alt ? PROXY_CURSOR_ZOOM_OUT : PROXY_CURSOR_ZOOM_IN; break;
        case TOOL_HIDE: cursor = keys.alt ? PROXY_CURSOR_SHOW : PROXY_CURSOR_HIDE; break;
        case TOOL_SHOW: cursor = keys.alt ? PROXY_CURSOR_HIDE : PROXY_CURSOR_SHOW; break;
        default: break;
    }
    if ((cursor == PROXY_CURSOR_ZOOM_IN && zoom >= ZOOM_MAX) || (cursor == PROXY_CURSOR_ZOOM_OUT && zoom <= ZOOM_MIN))
        cursor = PROXY_CURSOR_ZOOM_LIMIT;
    return cursor;
}

// ---- the mouse wheel ----

WheelAction WheelRule(int32_t* remainder, int32_t delta, KeyModifiers keys) {
    *remainder += delta;
    const int32_t notches = *remainder / WHEEL_NOTCH;  // towards zero: the rest keeps its sign
    *remainder -= notches * WHEEL_NOTCH;
    if (notches == 0) return {WHEEL_NONE, 0};
    // Turning the wheel away from the user zooms in, pages or scrolls up and left.
    if (keys.alt && keys.shift) return {WHEEL_ZOOM_STEPS, notches};
    if (keys.alt) return {WHEEL_ZOOM_FACTOR, notches};
    if (keys.ctrl && keys.shift) return {WHEEL_PAGE_X, -notches};
    if (keys.ctrl) return {WHEEL_SCROLL_X, -notches * WHEEL_SCROLL_PIXELS};
    if (keys.shift) return {WHEEL_PAGE_Y, -notches};
    return {WHEEL_SCROLL_Y, -notches * WHEEL_SCROLL_PIXELS};
}

// ---- hiding and showing effects ----

int32_t HideShowOperationFor(int32_t mouseState) {
    return mouseState >= MOUSE_HIDE && mouseState <= MOUSE_UNDO_SHOW ? mouseState - MOUSE_HIDE : -1;
}

bool ApplyHideShow(LightSourceList* table, uint32_t index, int32_t operation) {
    return index < table->count && ChangeLightSourceState(&LightSourceRecords(table)[index], operation);
}

int32_t PickRadiusQuarters(double zoom) { return std::max(80, static_cast<int32_t>(8000.0 / ClampZoom(zoom))); }

bool HideShowInRect(LightSourceList* table, const ZoomView& view, const ZoomRect& rect, int32_t operation) {
    const double scale = view.zoom / 100.0;
    auto toImage = [scale](double zoomed) { return static_cast<int64_t>(zoomed / scale + 1e-10); };
    const ZoomPoint a = ClientToZoomed(view, {static_cast<double>(rect.left), static_cast<double>(rect.top)});
    const ZoomPoint b = ClientToZoomed(view, {static_cast<double>(rect.right), static_cast<double>(rect.bottom)});
    const int64_t left = toImage(a.x), top = toImage(a.y);
    int64_t right = toImage(b.x), bottom = toImage(b.y);
    if (right <= left) right = left + 1;
    if (bottom <= top) bottom = top + 1;
    bool changed = false;
    const LightSource* records = LightSourceRecords(table);
    for (uint32_t i = 0; i < table->count; ++i) {
        const LightSource& s = records[i];
        if (s.x >= left && s.x < right && s.y >= top && s.y < bottom && ApplyHideShow(table, i, operation))
            changed = true;
    }
    if (changed) IncrementLightSourceChangeCount(table);  // one edit, however many sources it changed
    return changed;
}

bool HideShowNearest(LightSourceList* table, const ZoomView& view, ZoomPoint click, int32_t operation) {
    const double scale = view.zoom / 100.0;
    const ZoomPoint zoomed = ClientToZoomed(view, click);
    // The click's image pixel (truncated), then the same pick as every front end's.
    const double cx = static_cast<double>(static_cast<int64_t>(zoomed.x / scale));
    const double cy = static_cast<double>(static_cast<int64_t>(zoomed.y / scale));
    const int32_t chosen = NearestLightSource(table, cx, cy, PickRadiusQuarters(view.zoom), operation);
    const bool changed = chosen >= 0 && ApplyHideShow(table, static_cast<uint32_t>(chosen), operation);
    IncrementLightSourceChangeCount(table);  // a pick that changed nothing still counts
    return changed;
}
