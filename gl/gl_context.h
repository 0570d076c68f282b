// OpenGL rendering contexts: on a window (the preview, a hidden window), on
// the preview's background bitmap, or on a bitmap of their own; the pixel
// format choice; one GLEW extension table per context; and the logs of the
// implementation and the primary graphics adapter.
//
// Every creation function makes the new context current on the calling
// thread and gives it its extension table. A failed step reports its own
// message, deletes what was made and hands back a record with type 0.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gl/gl_rules.h"

enum OpenGLContextType : uint32_t {
    OPENGL_CONTEXT_NONE = 0,    // creation failed, or released
    OPENGL_CONTEXT_WINDOW = 1,  // draws to the window (double-buffered)
    OPENGL_CONTEXT_BITMAP = 2,  // draws into a DIB section through a memory DC
};

// A plain record, copied by value.
struct OpenGLContext {
    uint32_t type;
    HWND window;               // whose device context was used
    HDC deviceContext;         // the window's (type 1) or a compatible memory DC (type 2)
    HGLRC renderingContext;
    BITMAPV5HEADER bitmapHeader;  // a bitmap context's own bitmap: 32 bits, bottom-up
    void* bitmapBits;
    HBITMAP bitmap;            // own DIB section, deleted on release; null when borrowed
    RECT bitmapRect;
    int32_t bitmapWidth, bitmapHeight;
};

// Walks the window's pixel formats: the first double-buffered window format
// that is not generic is the hardware choice (never when softwareOnly), else
// the first single-buffered generic GDI bitmap format. 0 when none fits.
int SelectPixelFormat(HWND window, bool softwareOnly, PIXELFORMATDESCRIPTOR* descriptor, bool* accelerated);

bool CreateScreenContext(OpenGLContext* context, HWND window, const RECT& client, int pixelFormat,
                         const PIXELFORMATDESCRIPTOR& descriptor);
// Draws into the preview's background bitmap (made for `client` and attached here).
bool CreateBitmapContext(OpenGLContext* context, HWND window, const RECT& client, int pixelFormat,
                         const PIXELFORMATDESCRIPTOR& descriptor);
bool CreateBitmapContextWithBitmap(OpenGLContext* context, HWND window, const RECT& client, int pixelFormat,
                                   const PIXELFORMATDESCRIPTOR& descriptor);
void ReleaseOpenGLContext(OpenGLContext* context);

// Viewport and projection for a client rectangle: window pixels, y downwards.
bool SetGLSize(const RECT& client);

// The extension tables. At most four contexts hold one at a time.
constexpr int GLEW_CONTEXT_SLOTS = 4;
bool CreateGLEWContext();
void DeleteGLEWContext(HGLRC renderingContext);
int CountGLEWContexts();
// What the current context reported when its table was filled; null without one.
const OpenGLCapabilities* CurrentOpenGLCapabilities();

// An invisible 16 x 16 pop-up window and a context on it: a window context
// when the chosen format is accelerated, else a bitmap context of its own.
// `accelerated` on entry: false asks for software only; on return: the format's.
HWND CreateHiddenWindow();
bool DestroyHiddenWindow(HWND window);
bool CreateHiddenOpenGLContext(OpenGLContext* context, PIXELFORMATDESCRIPTOR* descriptor, bool* accelerated);
void DestroyHiddenOpenGLContext(OpenGLContext* context);

// Trace logs: the context's implementation (after each creation) and the
// primary display adapter (at plug-in start).
void LogOpenGLImplementation(HGLRC renderingContext);
void LogPrimaryGPU();
// The ids parsed from a display device id string ("PCI\VEN_10DE&DEV_1C82&SUBSYS_...&REV_A1").
struct GPUIdentity {
    uint32_t vendorId, deviceId, subsystemVendorId, subsystemDeviceId;
    char revision[16];
};
GPUIdentity ParseDisplayDeviceId(const char* deviceId, bool remote);

// Test hooks: hide the hardware formats (a machine without acceleration), and
// the vendor/renderer strings the next CreateGLEWContext records.
void SetHardwarePixelFormatsHiddenForTesting(bool hidden);
// No window can be made, as without a display.
void SetHiddenWindowRefusedForTesting(bool refused);
void SetCapabilityOverrideForTesting(const OpenGLCapabilities* override);
