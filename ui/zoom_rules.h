// The preview window's rules without Win32: zoom levels and steps, the view
// (zoom and centre) and where it puts the image in the client rectangle, the
// mouse state a button press starts, the cursor shown, the mouse wheel, and
// the hide/show operations on the light source table. ui/proxy_window.cpp
// applies them to the window; they are tested natively.
//
// Coordinates:
//   client pixels        the preview window's client area; the view is the
//                        client rectangle inset by one pixel on every side.
//   zoomed-image pixels  the image at the current zoom: image pixel p covers
//                        zoomed pixels p × zoom / 100 onwards. The view centre
//                        and every anchor are in these (as doubles).
//   image pixels         the host image; light sources are at (x + xQuarter / 4,
//                        y + yQuarter / 4) there.
// Zoom is in percent, always within ZOOM_MIN..ZOOM_MAX.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/light_source_edits.h"
#include "analysis/light_source_table.h"

// ---- zoom levels ----

constexpr double ZOOM_MIN = 0.3;
constexpr double ZOOM_MAX = 6400.0;
constexpr int ZOOM_LEVEL_COUNT = 21;
// 0.3, 0.5, 1, 2.5, 6.25, 12.5, 25, 33.33, 50, 66.67, 100, 200, 300, 400,
// 600, 800, 1000, 1200, 1600, 3200, 6400.
extern const double ZOOM_LEVELS[ZOOM_LEVEL_COUNT];

double ClampZoom(double zoom);
// `steps` levels in (positive) or out (negative) from `zoom`: the first step
// goes to the first level above (below) the zoom, so that a zoom between two
// levels reaches the nearer one on its side; each further step is one more
// level. Stops at ZOOM_MAX and ZOOM_MIN. 0 steps returns the zoom unchanged.
double StepZoom(double zoom, int steps);
// The wheel's free zoom: zoom × 1.1^notches, clamped.
double WheelZoom(double zoom, int notches);
// The zoom at which the whole image fits in the view of a client area:
// 100 × min(view width / image width, view height / image height), clamped.
double FitZoom(int32_t clientWidth, int32_t clientHeight, int32_t imageWidth, int32_t imageHeight);
// The zoom that makes a dragged rectangle (client pixels) fill the view.
double DragRectZoom(double zoom, int32_t rectWidth, int32_t rectHeight, int32_t viewWidth, int32_t viewHeight);
// Pixels of a length at a zoom, as the renderer places the image: the length
// unchanged at 100 %, else length / (100 / zoom) + 1e-10 truncated, and at least 1.
int32_t ZoomedLength(int32_t length, double zoom);
// The zoom display's text: " %-3.2Lf%%" (" 66.67%", " 6400.00%").
std::string ZoomDisplayText(double zoom);

// ---- the view ----

struct ZoomPoint {
    double x, y;
};
// A rectangle in client pixels, right and bottom exclusive.
struct ZoomRect {
    int32_t left, top, right, bottom;
};
inline bool ZoomRectEmpty(const ZoomRect& r) { return r.right <= r.left || r.bottom <= r.top; }

struct ZoomView {
    int32_t clientWidth = 0, clientHeight = 0;  // the preview's client size
    int32_t imageWidth = 1, imageHeight = 1;    // the host image (image pixels)
    double zoom = 100.0;
    double centreX = 0.0, centreY = 0.0;  // zoomed-image pixels
};

// Where a view puts the image (the same placement as the renderer's).
struct ZoomPlacement {
    int32_t zoomedWidth, zoomedHeight;  // the image at the zoom
    ZoomRect view;                      // the client rectangle inset by one pixel
    ZoomRect image;                     // the zoomed image in client pixels, as if it were not scrolled
    ZoomRect visible;                   // the part of the view the image covers
    // The top-left of the visible part in zoomed-image pixels: what the renderer
    // subtracts from `visible` to place the image. 0 along an axis where the
    // image is smaller than the view (it is centred instead).
    int32_t scrollX, scrollY;
};
ZoomPlacement PlaceView(const ZoomView& view);

// Client pixels to zoomed-image pixels and back, through the placement.
ZoomPoint ClientToZoomed(const ZoomView& view, ZoomPoint client);
ZoomPoint ZoomedToClient(const ZoomView& view, ZoomPoint zoomed);
// The view centre in zoomed-image pixels, kept so that the view stays within
// the image; an axis along which the image is smaller than the view is centred.
void ClampViewCentre(ZoomView* view);
// The single rule of every zoom change: `anchor` (zoomed-image pixels at the
// old zoom, or null for the current centre) is scaled by new / old zoom and
// becomes the new centre, clamped. `zoom` is clamped first.
void SetViewZoom(ZoomView* view, double zoom, const ZoomPoint* anchor);
// Scrolls by zoomed-image pixels (positive: towards the right and the bottom), clamped.
void ScrollViewBy(ZoomView* view, double dx, double dy);
// Puts the visible part's top-left at (left, top) in zoomed-image pixels, clamped.
void ScrollViewTo(ZoomView* view, double left, double top);

// The tracking frame: the rectangle spanned by two client points (either
// order), clipped to the view. Empty when it misses the view.
ZoomRect TrackingFrame(const ZoomView& view, ZoomPoint from, ZoomPoint to);
// Whether a button release counts as a drag: it moved more than the drag
// distance (cxDrag, cyDrag: the system's SM_CXDRAG, SM_CYDRAG) on either side
// of the press along some axis.
bool IsDrag(ZoomPoint down, ZoomPoint up, int32_t cxDrag, int32_t cyDrag);

// ---- tools, mouse states and cursors ----

// The tools are PreviewTool values (params/parameter_files.h): 1 Hand, 2 Zoom, 3 Hide, 4 Show; 0 none.
enum MouseState : int32_t {
    MOUSE_IDLE = 0,
    MOUSE_NO_ACTION = 1,       // button down with no action
    MOUSE_ZOOM_OUT_CLICK = 2,  // zoom out one step at the click
    MOUSE_ZOOM_IN_CLICK = 3,   // zoom in one step at the click
    MOUSE_PANNING = 4,
    MOUSE_ZOOM = 5,       // zoom in: click, or drag a zoom rectangle
    MOUSE_HIDE = 6,       // hide effects: click, or drag a rectangle
    MOUSE_REVEAL = 7,     // reveal hidden effects
    MOUSE_SHOW = 8,       // show effects (force on)
    MOUSE_UNDO_SHOW = 9,  // undo forced effects
};
constexpr int32_t MOUSE_STATE_INVALID = -1;
inline bool IsValidMouseState(int32_t state) { return state >= MOUSE_IDLE && state <= MOUSE_UNDO_SHOW; }
// States that track a frame (and run the 100 ms timer).
inline bool IsTrackingState(int32_t state) { return state >= MOUSE_ZOOM && state <= MOUSE_UNDO_SHOW; }

struct KeyModifiers {
    bool ctrl = false, alt = false, shift = false, space = false;
};

// The state a press of the primary button starts. Space makes the Hand the
// effective tool. MOUSE_STATE_INVALID for a tool outside 0..4.
int32_t MouseStateFor(int32_t tool, KeyModifiers keys);

enum ProxyCursor : int32_t {
    PROXY_CURSOR_ARROW = 0,
    PROXY_CURSOR_HAND_OPEN,
    PROXY_CURSOR_HAND_GRAB,
    PROXY_CURSOR_ZOOM_IN,
    PROXY_CURSOR_ZOOM_OUT,
    PROXY_CURSOR_ZOOM_LIMIT,  // the zoom cursor at the zoom's limit in its direction
    PROXY_CURSOR_HIDE,
    PROXY_CURSOR_SHOW,
    PROXY_CURSOR_COUNT,
};
// The cursor over the preview: the Zoom tool is the effective tool while Ctrl
// is held, the Hand while Space is held. `panning`: the Hand's grabbing hand.
ProxyCursor CursorFor(int32_t tool, KeyModifiers keys, bool panning, double zoom);

// ---- the mouse wheel ----

constexpr int32_t WHEEL_NOTCH = 120;
enum WheelActionKind : int32_t {
    WHEEL_NONE = 0,     // less than a notch so far
    WHEEL_ZOOM_STEPS,   // amount: levels, positive in
    WHEEL_ZOOM_FACTOR,  // amount: notches for WheelZoom, positive in
    WHEEL_PAGE_X,       // amount: pages, positive towards the right
    WHEEL_SCROLL_X,     // amount: zoomed-image pixels, positive towards the right
    WHEEL_PAGE_Y,       // amount: pages, positive downwards
    WHEEL_SCROLL_Y,     // amount: zoomed-image pixels, positive downwards
};
struct WheelAction {
    WheelActionKind kind;
    int32_t amount;
};
constexpr int32_t WHEEL_SCROLL_PIXELS = 10;  // per notch
// One wheel message: `delta` (positive: turned away from the user) is added
// to *remainder; whole notches are taken out and turned into the action of the
// modifiers (Alt+Shift steps, Alt zooms freely, Ctrl+Shift pages sideways,
// Ctrl scrolls sideways, Shift pages, else scrolls); the rest stays for the
// next message.
WheelAction WheelRule(int32_t* remainder, int32_t delta, KeyModifiers keys);

// ---- the zoom menu ----

enum ZoomMenuKind : int32_t { ZOOM_MENU_SET = 0, ZOOM_MENU_FIT_IN_VIEW, ZOOM_MENU_FIT_ON_SCREEN };
struct ZoomMenuEntry {
    const char* text;
    ZoomMenuKind kind;
    double zoom;  // for ZOOM_MENU_SET
};
constexpr int ZOOM_MENU_ENTRY_COUNT = 20;
extern const ZoomMenuEntry ZOOM_MENU_ENTRIES[ZOOM_MENU_ENTRY_COUNT];
// Entry i carries command ZOOM_MENU_FIRST_COMMAND + i: ids of their own, so
// that F1 on an entry finds the menu's help page and never OK's or Cancel's.
constexpr int ZOOM_MENU_FIRST_COMMAND = 40001;

// ---- hiding and showing effects ----

enum HideShowOperation : int32_t {
    HIDESHOW_HIDE = LIGHT_SOURCE_OP_HIDE,            // any visible state is saved and becomes hidden
    HIDESHOW_REVEAL = LIGHT_SOURCE_OP_REVEAL,        // a hidden source returns to its saved state
    HIDESHOW_SHOW = LIGHT_SOURCE_OP_SHOW,            // any state but forced is saved and becomes forced on
    HIDESHOW_UNDO_SHOW = LIGHT_SOURCE_OP_UNDO_SHOW,  // a forced source returns to its saved state
};
// The operation a mouse state applies (states 6..9), or -1.
int32_t HideShowOperationFor(int32_t mouseState);
// Applies an operation to one source with the engine's state change (the
// command line's --hide and --show use the same), without counting it; true
// when its state changed.
bool ApplyHideShow(LightSourceList* table, uint32_t index, int32_t operation);
// The pick radius of a click in quarter image pixels: max(80, trunc(8000 / zoom)).
int32_t PickRadiusQuarters(double zoom);
// Applies the operation to every source whose pixel (x, y) lies in the image
// pixels under `rect` (client pixels). When at least one changed, the table's
// change count goes up by one. True when something changed.
bool HideShowInRect(LightSourceList* table, const ZoomView& view, const ZoomRect& rect, int32_t operation);
// Applies the operation to the candidate nearest to the click (client
// pixels) within the pick radius: every source for hide and show, the hidden
// ones for reveal, the forced ones for undo; ties keep table order. The
// change count goes up by one whether or not one was found. True when a
// source changed.
bool HideShowNearest(LightSourceList* table, const ZoomView& view, ZoomPoint click, int32_t operation);
