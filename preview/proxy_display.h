// One frame of the preview window: the host image at the zoom and scroll
// position, the effects screen-blended over it, a checkerboard behind
// transparent areas, display gamma, the selection and focus outlines; and
// its presentation, by buffer swap on the card or through the screen bitmap
// that the preview window paints. Runs on the preview thread with the
// preview context current.
#pragma once

#include <windows.h>

#include <cstdint>

#include "effects/parameter_set.h"

// The view a frame is drawn for.
struct DisplayParameters {
    double zoom;        // percent
    POINT scroll;       // display pixels
    RECT client;        // the preview's client rectangle
    bool showEffects;
    bool hasFocus;
    bool effectsOnly;
};
DisplayParameters DisplayParametersOf(const ParameterSet& set);

// Where the image lands in the client rectangle at a zoom: the image
// rectangle (display pixels) and its visible part inside the one-pixel border.
struct ImagePlacement {
    RECT image;
    RECT visible;
};
ImagePlacement PlaceImage(const RECT& client, int32_t imageWidth, int32_t imageHeight, double zoom);

// Set-up after the context and the drawing settings exist: fixed state, the
// gamma program, the texture sets, the checkerboard and the effect shapes.
bool InitializeScaledProxyLayer(HWND dialog, HWND preview);
void DestroyScaledProxyLayer();
bool IsScaledProxyLayerReady();

// One frame for the set, from the stale flags to presentation. While the
// dialog is being moved or sized (SizeMoveInProgress) frames go through the
// screen bitmap only, without buffer swaps, and the dialog is told of each.
bool DrawProxyDisplayFrame(const ParameterSet& set);
// The splash picture centred in the client rectangle (the wait display),
// presented as a frame is.
bool DrawSplashScreen(const RECT& client);
// The selection rectangle of the preview tool (window pixels; empty: none).
void SetProxySelectionRect(const RECT& selection);

// Frames presented so far (the screen bitmap then holds the newest).
uint32_t PresentedFrameCount();
// Times the host image and the effects texture sets were rebuilt.
uint32_t HostImageRebuildCount();
uint32_t EffectsRebuildCount();
// Where the published screen bitmap goes in the client rectangle (the whole
// client on the card; only the visible part for the off-screen bitmap).
RECT PresentedBitmapRect();
// The tag of the redraw message the renderer posts to the preview window
// after publishing an off-screen frame: paint the bitmap, queue nothing.
constexpr LPARAM PROXY_REDRAW_TAG_PUBLISHED = 272;
