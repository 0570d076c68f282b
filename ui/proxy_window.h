// The preview window: the window class "ProxyDisplay" (control 1040 of the
// main dialog). It keeps the view (zoom, centre, tool), turns every change
// of view, tracking frame or light source state into a redraw request for
// the background preview task, paints the task's screen bitmap when the
// preview draws off screen, and drives the controls around it that the
// dialog owns: the scroll bars 1030 and 1028, the zoom display 1085 and the
// zoom buttons 1042 and 1045 (ui/dialog_ids.h).
//
// The rules themselves (levels, placement, mouse states, hide and show) are
// in ui/zoom_rules.h. Everything here runs on the user-interface thread, the
// thread that created the window; only RequestProxyRedraw may be called from
// another thread (it posts the request to the window).
//
// Creating the window starts the background task (preview/background_task.h)
// with the window's client size; the renderer procedures must be set before.
// Destroying it ends the task.
#pragma once

#include <windows.h>

#include "effects/parameter_set.h"

// Registers "ProxyDisplay" for `instance` (the module whose dialog template
// uses it): the system's static class with its own device context per window,
// a black background and the arrow cursor; the static window procedure handles
// whatever the preview does not. Failures are reported; false then.
bool CreateProxyDisplayClass(HINSTANCE instance);
void DeleteProxyDisplayClass(HINSTANCE instance);

// The view the preview draws: previewRect = the client rectangle, markRect =
// the tracking frame (zeros when none), scale = zoom in percent, scrollX and
// scrollY = the visible part's top-left in zoomed-image pixels (what the
// renderer's translation expects), hasFocus, and lightSourceEdits = the light
// source table's change count. The other members are left alone.
void GetProxyViewState(HWND preview, ParameterSet* set);

// The current tool, a PreviewTool (params/parameter_files.h) 1..4; the cursor follows.
void SelectProxyTool(HWND preview, int tool);
int GetProxyTool(HWND preview);
// The Hide and Show tools act only while enabled: off until the task reports
// that it is initialised (the light source table is complete then).
void EnableProxyHideShow(HWND preview, bool enabled);

// Zoom changes, each ending in a redraw request.
void ProxyZoomStep(HWND preview, int steps);   // levels in (positive) or out, about the view centre
void ProxyFitInView(HWND preview);             // the whole image, about the view centre
void ProxyFitOnScreen(HWND preview);           // the dialog fills its monitor's work area, then fits
void ProxySetZoom(HWND preview, double zoom);  // about the view centre, clamped to 0.3..6400
double GetProxyZoom(HWND preview);
// The zoom level menu, its bottom edge centred on `screen`; the choice is applied about the view centre.
void ShowProxyZoomMenu(HWND preview, POINT screen);

// WM_HSCROLL / WM_VSCROLL of the dialog's preview scroll bars: `bar` is
// SB_HORZ or SB_VERT (the control ids 1030 and 1028 are taken too), wParam
// the message's.
void ProxyScroll(HWND preview, int bar, WPARAM wParam);
// The dialog has moved its controls: the view is recomputed for the
// preview's new size, with the same zoom, and redrawn.
void ProxyDialogResized(HWND preview);
// The dialog lost activation: a drag or pan in progress ends, Space counts as released.
void ProxyDialogDeactivated(HWND preview);
// A redraw of the whole preview (any thread).
void RequestProxyRedraw(HWND preview);
