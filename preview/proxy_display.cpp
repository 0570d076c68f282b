#include "preview/proxy_display.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "analysis/light_source_table.h"
#include "effects/effect_tables.h"
#include "gl/drawing_settings.h"
#include "gl/gl_check.h"
#include "gl/gl_context.h"
#include "gl/glew_table.h"
#include "gl/half_float.h"
#include "gl/screen_bitmap.h"
#include "gl/shader_programs.h"
#include "gl/texture_sets.h"
#include "image/document_image.h"
#include "preview/background_task.h"
#include "preview/gl_shapes.h"
#include "support/debug_log.h"

namespace {

constexpr float kGrey = 127.0f / 255.0f;
constexpr WPARAM kProgressSteps = 29;
// To the dialog: a frame was drawn while the window is moved or sized.
constexpr UINT WM_PREVIEW_MOVED_FRAME = WM_APP + 7;

struct ProxyLayer {
    bool ready;
    HWND dialog, preview;
    HANDLE windowMutex;  // OpenGLWindowMutex
    GLuint checkerboard;
    GLuint backBufferPixels;
    uint64_t backBufferPixelsSize;
    // Stale flags.
    bool hostImageStale, effectsStale, windowStale;
    bool haveCurrent;
    ParameterSet current;
    DisplayParameters view;
    bool sizeMove;
    RECT selection;
    RECT presented;
    WPARAM progress;
    uint32_t uiThread;
};
ProxyLayer gLayer = {};
std::atomic<uint32_t> gPresented{0}, gHostRebuilds{0}, gEffectsRebuilds{0};

// The set the effects of the current frame are drawn for.
ParameterSet gFrameSet;

void Progress(WPARAM done, LPARAM total) {
    if (gLayer.dialog) PostMessageA(gLayer.dialog, WM_PREVIEW_PROGRESS, done, total);
}
void Step(WPARAM steps = 1) {
    gLayer.progress += steps;
    Progress(std::min(gLayer.progress, kProgressSteps), kProgressSteps);
}

// Two of the effects' nine progress steps for each of the four caches.
void EffectsCacheDone() { Step(2); }

bool DrawEffectsOfFrame() {
    return DrawPreviewEffects(gFrameSet, &LightSourceTable, EffectGrayImage, EffectsCacheDone);
}

void Outline(const RECT& r, float red, float green, float blue, bool stippled, GLint factor) {
    if (stippled) {
        glEnable(GL_LINE_STIPPLE);
        glLineStipple(factor, 0xAAAA);
    } else {
        glDisable(GL_LINE_STIPPLE);
    }
    glColor4f(red, green, blue, 1.0f);
    glBegin(GL_LINE_LOOP);
    glVertex2f(r.left + 0.5f, static_cast<float>(r.bottom));
    glVertex2f(r.right - 0.5f, static_cast<float>(r.bottom));
    glVertex2f(r.right - 0.5f, r.top + 0.625f);
    glVertex2f(r.left + 0.5f, r.top + 0.625f);
    glEnd();
}

bool SameViewOf(const DisplayParameters& a, const DisplayParameters& b) {
    return a.zoom == b.zoom && a.scroll.x == b.scroll.x && a.scroll.y == b.scroll.y &&
           EqualRect(&a.client, &b.client) && a.effectsOnly == b.effectsOnly && a.showEffects == b.showEffects;
}

// Bits of what changed: 1 the host image's look (the monitor), 2 the effects, 4 the view.
uint32_t CompareSets(const ParameterSet& now) {
    if (!gLayer.haveCurrent) return 1 | 2 | 4;
    const ParameterSet& was = gLayer.current;
    uint32_t bits = 0;
    if (now.monitor != was.monitor) bits |= 1 | 2;
    if (std::memcmp(EffectValues(&now), EffectValues(&was), PARAMETER_VALUE_COUNT * sizeof(int16_t)) != 0 ||
        now.lightSourceEdits != was.lightSourceEdits)
        bits |= 2;
    if (!SameViewOf(DisplayParametersOf(now), gLayer.view)) bits |= 4;
    return bits;
}

// Draws the checkerboard over the image extent (image units, with the
// current model-view), so that it shows where the image is transparent.
void DrawCheckerboard(const ImageRect& bounds, double zoom) {
    glBindTexture(GL_TEXTURE_2D, gLayer.checkerboard);
    const double s = (bounds.right - bounds.left) / 16.0 * zoom, t = (bounds.bottom - bounds.top) / 16.0 * zoom;
    glBegin(GL_QUADS);
    glTexCoord2d(0, t);
    glVertex2i(bounds.left, bounds.bottom);
    glTexCoord2d(s, t);
    glVertex2i(bounds.right, bounds.bottom);
    glTexCoord2d(s, 0);
    glVertex2i(bounds.right, bounds.top);
    glTexCoord2d(0, 0);
    glVertex2i(bounds.left, bounds.top);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
}

bool RenderScaledProxyDisplay(const ImagePlacement& place) {
    const DisplayParameters& view = gLayer.view;
    const double zoom = view.zoom / 100.0;
    const RECT& visible = place.visible;
    const POINT scroll = view.scroll;
    gLayer.progress = 0;
    Progress(0, kProgressSteps);
    Step();
    if (gLayer.hostImageStale) {
        EnterPreviewBusy();
        bool made = CreateHostImageTextureSet(visible, scroll, zoom);
        LeavePreviewBusy();
        if (!made) {
            Progress(0, 0);
            return false;
        }
        gLayer.hostImageStale = false;
        ++gHostRebuilds;
        Step();
    } else {
        Step(17);
    }
    if (gLayer.effectsStale && view.showEffects) {
        EnterPreviewBusy();
        SetEffectsDrawProc(DrawEffectsOfFrame);
        bool made = CreateEffectsTextureSet(visible, scroll, zoom);
        LeavePreviewBusy();
        if (made) {
            gLayer.effectsStale = false;
            ++gEffectsRebuilds;
        }
        Step();
    } else {
        Step(9);
    }
    if (PreviewAbortRequested()) {
        Progress(0, 0);
        return false;
    }
    const RECT& client = gLayer.view.client;
    const int32_t width = UseOffscreenBitmap() ? visible.right - visible.left : client.right - client.left;
    const int32_t height = UseOffscreenBitmap() ? visible.bottom - visible.top : client.bottom - client.top;
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    GL_OK("Failed to initialize Proxy Window display.");
    if (GPUAccelerated()) {
        glClearColor(kGrey, kGrey, kGrey, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        GL_OK("Failed to draw Proxy Window background.");
    }
    TextureSet* composite = CompositeTextureSet();
    if (composite->frameBuffer && AttachFBOWithRenderBuffer(composite, width, height)) {
        glClearColor(kGrey, kGrey, kGrey, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glEnable(GL_SCISSOR_TEST);
    glScissor(visible.left, height - visible.bottom, visible.right - visible.left, visible.bottom - visible.top);
    GL_OK("Failed to initiate scissor clipping.");

    // Compose in image units.
    glPushMatrix();
    glTranslated(visible.left - scroll.x, visible.top - scroll.y, 0);
    glScaled(zoom, zoom, 1);
    GL_OK("Failed to switch to scaled coordinates");
    glEnable(GL_BLEND);
    glColor4f(1, 1, 1, 1);
    glBlendFunc(GL_ONE, GL_ZERO);
    if (view.effectsOnly && view.showEffects) {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
    }
    bool drawn = DrawImageTextureSet(HostImageTextureSet());
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    Step();
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
    if (view.showEffects) {
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);  // screen
        drawn = DrawImageTextureSet(EffectsTextureSet()) && drawn;
    }
    Step();
    glBlendFunc(GL_ONE_MINUS_DST_ALPHA, GL_DST_ALPHA);
    glColor4f(1, 1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    DrawCheckerboard(GetHostImage()->imageRect, zoom);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    drawn = GL_OK("Failed to draw composite image.") && drawn;
    glPopMatrix();
    glDisable(GL_SCISSOR_TEST);
    GL_OK("Failed to restore environment.");

    // The composed picture goes through the composite set, where display gamma is applied once.
    bool copied = CreateTextureSetFromFramebuffer(visible, composite);
    if (composite->frameBuffer) DetachFBO();
    if (copied) {
        glClearColor(kGrey, kGrey, kGrey, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        copied = DrawCompositeWithGamma();
        GL_OK("RenderScaledProxyDisplay() - OpenGL function failure in gamma correction.");
    }
    if (GPUAccelerated()) {
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDisable(GL_TEXTURE_2D);
        RECT meets;
        if (!IsRectEmpty(&gLayer.selection) && IntersectRect(&meets, &gLayer.selection, &visible)) {
            Outline(gLayer.selection, 0, 0, 0, false, 1);
            Outline(gLayer.selection, 1, 1, 1, true, 4);
            GL_OK("Failed to display selection rectangle.");
        }
        Outline(client, 0, 0, 0, false, 1);
        if (view.hasFocus) Outline(client, 1, 1, 1, true, 2);
        glDisable(GL_LINE_STIPPLE);
        glEnable(GL_TEXTURE_2D);
        GL_OK("Failed to display keyboard focus rectangle.");
    }
    Progress(0, 0);
    return drawn && copied;
}

// The back buffer into the back screen bitmap (bottom-up BGRA rows, as the DIB keeps them).
bool CopyFrameToScreenBitmap(int32_t width, int32_t height) {
    ScreenBitmap* back = BackScreenBitmap();
    if (!back->bitmap || back->width != width || back->height != height) {
        RECT rect = {0, 0, width, height};
        if (!CreateScreenBitmap(rect, wglGetCurrentDC())) return false;
    }
    if (gLayer.backBufferPixels) {
        {
            const uint64_t bytes = static_cast<uint64_t>(width) * (height + 1) * 4;
            glBindBuffer(GL_PIXEL_PACK_BUFFER, gLayer.backBufferPixels);
            if (gLayer.backBufferPixelsSize < bytes) {
                glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(bytes), nullptr, GL_DYNAMIC_COPY);
                gLayer.backBufferPixelsSize = bytes;
            }
            glPixelStorei(GL_PACK_ALIGNMENT, 4);
            glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
            if (!GL_OK("Failed to copy framebuffer into BackBufferPBO.")) {
                glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
                return false;
            }
            void* mapped = glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
            if (!mapped) {
                OpenGLDebugEvent(__LINE__, TakeOpenGLError())
                    .Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED, "Failed to map PBO used for bitmap copy.");
                glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
                return false;
            }
            std::memcpy(back->bits, mapped, static_cast<size_t>(width) * height * 4);
            if (!glUnmapBuffer(GL_PIXEL_PACK_BUFFER))
                OpenGLDebugEvent(__LINE__, TakeOpenGLError())
                    .Report(OS_MB_ICONERROR, GL_CAPTION_UNEXPECTED, "Failed to unmap PBO used for bitmap copy.");
            glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
            if (!GL_OK("Failed to copy image from PBO to bitmap.")) return false;
        }
    } else {
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, back->bits);
        if (!GL_OK("Write to screen bitmap from OpenGL failed.")) return false;
    }
    PublishScreenBitmap();
    return true;
}

void InvalidatePreview() {
    if (!gLayer.preview) return;
    if (GetCurrentThreadId() != gLayer.uiThread) {
        HRGN region = CreateRectRgnIndirect(&gLayer.view.client);
        if (!region) ReportUnexpected(__LINE__, "Could not create InvalidationRegion for Proxy client rectangle.");
        if (!PostMessageA(gLayer.preview, WM_PREVIEW_REDRAW, reinterpret_cast<WPARAM>(region), PROXY_REDRAW_TAG_PUBLISHED) &&
            region)
            DeleteObject(region);
    } else {
        RedrawWindow(gLayer.preview, nullptr, nullptr, RDW_INTERNALPAINT | RDW_INVALIDATE);
    }
}

// Shows the drawn frame: the card swaps buffers (and reads the frame back
// into the screen bitmap only when the window is being moved or sized, when
// frames reach it through that bitmap, or when the frame changed, so that the
// bitmap always holds the newest picture); the off-screen bitmap is published
// and the window asked to paint it.
bool Present(const ImagePlacement& place, const RECT& client) {
    if (GPUAccelerated()) {
        const int32_t width = client.right - client.left, height = client.bottom - client.top;
        bool copied = !(gLayer.sizeMove || gLayer.windowStale) || CopyFrameToScreenBitmap(width, height);
        if (!gLayer.sizeMove) {
            if (!SwapBuffers(wglGetCurrentDC())) ReportSystemError(__LINE__, "Buffer swappage was unsuccessful.");
            if (gLayer.preview && !ValidateRect(gLayer.preview, nullptr))
                ReportSystemError(__LINE__, "Could not validate entire proxy display.");
        } else if (gLayer.dialog) {
            PostMessageA(gLayer.dialog, WM_PREVIEW_MOVED_FRAME, 0, 0);
        }
        gLayer.windowStale = false;
        gLayer.presented = client;
        ++gPresented;
        return copied;
    }
    glFinish();
    HDC dc = wglGetCurrentDC();
    DetachBackgroundBitmap(dc);
    ScreenBitmap* back = BackScreenBitmap();
    if (!GammaShaderCreated() && back->bits && InitializeHalfFloatTables()) {
        const uint8_t* table = DisplayGammaTable8();
        auto* p = static_cast<uint8_t*>(back->bits);
        for (int64_t i = 0, n = static_cast<int64_t>(back->width) * back->height; i < n; ++i, p += 4) {
            p[0] = table[p[0]];
            p[1] = table[p[1]];
            p[2] = table[p[2]];
        }
    }
    PublishScreenBitmap();
    gLayer.presented = place.visible;
    ++gPresented;
    if (!BackScreenBitmap()->bitmap) {
        RECT rect = {0, 0, place.visible.right - place.visible.left, place.visible.bottom - place.visible.top};
        CreateScreenBitmap(rect, dc);
    }
    AttachBackgroundBitmap(dc);
    // The context draws into the bitmap selected when it was made current.
    wglMakeCurrent(dc, wglGetCurrentContext());
    if (!gLayer.sizeMove) InvalidatePreview();
    gLayer.windowStale = false;
    return true;
}

}  // namespace

DisplayParameters DisplayParametersOf(const ParameterSet& set) {
    DisplayParameters d;
    d.zoom = set.scale > 0 ? set.scale : 100.0;
    d.scroll = {set.scrollX, set.scrollY};
    d.client = {set.previewRect.left, set.previewRect.top, set.previewRect.right, set.previewRect.bottom};
    d.showEffects = set.previewOn;
    d.hasFocus = set.hasFocus != 0;
    d.effectsOnly = set.effectsOnly != 0;
    return d;
}

ImagePlacement PlaceImage(const RECT& client, int32_t imageWidth, int32_t imageHeight, double zoom) {
    ImagePlacement p;
    RECT area = {client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
    int32_t w = imageWidth, h = imageHeight;
    if (zoom != 100.0) {
        w = static_cast<int32_t>(imageWidth / (100.0 / zoom) + 1e-10);
        h = static_cast<int32_t>(imageHeight / (100.0 / zoom) + 1e-10);
    }
    w = std::max(w, 1);
    h = std::max(h, 1);
    const int32_t areaW = area.right - area.left, areaH = area.bottom - area.top;
    const int32_t x = w < areaW ? (areaW - w) / 2 + 1 : 1;
    const int32_t y = h < areaH ? (areaH - h) / 2 + 1 : 1;
    p.image = {client.left + x, client.top + y, client.left + x + w, client.top + y + h};
    if (!IntersectRect(&p.visible, &p.image, &area)) p.visible = {area.left, area.top, area.left, area.top};
    return p;
}

bool InitializeScaledProxyLayer(HWND dialog, HWND preview) {
    gLayer = ProxyLayer{};
    gLayer.dialog = dialog;
    gLayer.preview = preview;
    gLayer.uiThread = preview ? GetWindowThreadProcessId(preview, nullptr) : 0;
    gLayer.windowMutex = CreateMutexA(nullptr, FALSE, nullptr);
    if (!gLayer.windowMutex) {
        DebugEvent(__LINE__, SYSTEM_ERROR, GetLastError())
            .Report(OS_MB_ICONERROR, "Debug: Unexpected Error",
                    "CreateMutex for OpenGLWindowMutex failed in InitializeScaledProxyLayer()");
        return false;
    }
    glClearColor(kGrey, kGrey, kGrey, 1.0f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPolygonMode(GL_FRONT, GL_FILL);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_TEXTURE_2D);
    glHint(GL_POLYGON_SMOOTH_HINT, GL_NICEST);
    for (GLenum name : {GL_PACK_SWAP_BYTES, GL_UNPACK_SWAP_BYTES, GL_PACK_LSB_FIRST, GL_UNPACK_LSB_FIRST})
        glPixelStorei(name, GL_FALSE);
    for (GLenum name : {GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS, GL_UNPACK_ROW_LENGTH,
                        GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS})
        glPixelStorei(name, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    for (GLenum cap : {GL_ALPHA_TEST, GL_DEPTH_TEST, GL_DITHER, GL_FOG, GL_LIGHTING, GL_COLOR_LOGIC_OP, GL_STENCIL_TEST})
        glDisable(cap);
    glPixelTransferi(GL_MAP_COLOR, GL_FALSE);
    for (GLenum scale : {GL_RED_SCALE, GL_GREEN_SCALE, GL_BLUE_SCALE, GL_ALPHA_SCALE}) glPixelTransferf(scale, 1.0f);
    for (GLenum bias : {GL_RED_BIAS, GL_GREEN_BIAS, GL_BLUE_BIAS, GL_ALPHA_BIAS}) glPixelTransferf(bias, 0.0f);
    if (!GL_OK("OpenGL Function Failed in InitializeScaledProxyLayer(). Failed to initialize OpenGL states.")) return false;

    if (DetermineShaderSupport()) {
        int count = 0;
        ShaderProgram* gamma = GammaProgramVariants(&count);
        if (AddShaderProgram(gamma, count) && CreateShaderProgram()) {
            if (!MakeShaderProgramActive(1) || !SetProxyShaderGamma(1.0f / 2.2f)) {
                MakeShaderProgramActive(0);
                return false;
            }
            MakeShaderProgramActive(0);
        }
    }
    if (UsePixelBufferObjects()) glGenBuffers(1, &gLayer.backBufferPixels);
    if (!InitializeTextureSets(GammaShaderCreated())) return false;
    static const uint8_t kChecker[16] = {255, 255, 255, 255, 148, 148, 148, 255, 148, 148, 148, 255, 255, 255, 255, 255};
    glGenTextures(1, &gLayer.checkerboard);
    glBindTexture(GL_TEXTURE_2D, gLayer.checkerboard);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, kChecker);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (!GL_OK("OpenGL Function Failed in InitializeScaledProxyLayer().")) return false;
    const Image* host = GetHostImage();
    SetEffectImage(host->mode, host->width, host->height);
    if (!InitializePreviewShapes()) return false;
    gLayer.hostImageStale = gLayer.effectsStale = gLayer.windowStale = true;
    gLayer.ready = true;
    return true;
}

void DestroyScaledProxyLayer() {
    if (gLayer.checkerboard) glDeleteTextures(1, &gLayer.checkerboard);
    if (gLayer.backBufferPixels) glDeleteBuffers(1, &gLayer.backBufferPixels);
    for (TextureSet* set : {HostImageTextureSet(), EffectsTextureSet(), SplashTextureSet(), CompositeTextureSet()})
        ReleaseTextureSet(set);
    DestroyAllShaderPrograms();
    GL_OK("OpenGL Function Failed in DestroyScaledProxyLayer().");
    if (gLayer.windowMutex) CloseHandle(gLayer.windowMutex);
    DestroyFilterEffects_OpenGL();
    ReleaseHostProxyPyramid();
    gLayer = ProxyLayer{};
}

bool IsScaledProxyLayerReady() { return gLayer.ready; }

// Makes the drawing target the size of `area` (at the origin): the screen
// bitmap for the off-screen path, the viewport on the card.
bool FitDrawingTarget(const RECT& area) {
    const int32_t w = area.right - area.left, h = area.bottom - area.top;
    if (UseOffscreenBitmap()) {
        ScreenBitmap* back = BackScreenBitmap();
        if (back->width != w || back->height != h) {
            HDC dc = wglGetCurrentDC();
            RECT moved = {0, 0, w, h};
            if (!CreateScreenBitmap(moved, dc)) return false;
            if (!back->attachedTo) AttachBackgroundBitmap(dc);
            wglMakeCurrent(dc, wglGetCurrentContext());
        }
    }
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] != w || viewport[3] != h) SetGLSize(RECT{0, 0, w, h});
    return true;
}

bool DrawProxyDisplayFrame(const ParameterSet& set) {
    if (!gLayer.ready) return false;
    gLayer.sizeMove = SizeMoveInProgress();
    uint32_t bits = CompareSets(set);
    if (bits & (1 | 4)) gLayer.hostImageStale = true;
    if (bits & (2 | 4)) gLayer.effectsStale = true;
    if (bits) gLayer.windowStale = true;
    gLayer.current = set;
    gLayer.haveCurrent = true;
    gLayer.view = DisplayParametersOf(set);
    gFrameSet = set;

    const Image* host = GetHostImage();
    ImagePlacement place = PlaceImage(gLayer.view.client, static_cast<int32_t>(host->width),
                                      static_cast<int32_t>(host->height), gLayer.view.zoom);
    if (UseOffscreenBitmap()) {
        // The bitmap covers only the visible part, drawn from its origin.
        const int32_t w = place.visible.right - place.visible.left, h = place.visible.bottom - place.visible.top;
        place.image = {place.image.left - place.visible.left, place.image.top - place.visible.top,
                       place.image.right - place.visible.left, place.image.bottom - place.visible.top};
        RECT moved = {0, 0, w, h};
        if (!FitDrawingTarget(moved)) return false;
        RECT shown = place.visible;
        place.visible = moved;
        bool drawn = RenderScaledProxyDisplay(place);
        place.visible = shown;
        return Present(place, gLayer.view.client) && drawn;
    }
    const RECT& client = gLayer.view.client;
    FitDrawingTarget(client);
    bool drawn = RenderScaledProxyDisplay(place);
    return Present(place, client) && drawn;
}

bool DrawSplashScreen(const RECT& client) {
    TextureSet* splash = SplashTextureSet();
    if (!gLayer.ready || splash->tileCount == 0) return false;
    gLayer.sizeMove = SizeMoveInProgress();
    const RECT area = {0, 0, client.right - client.left, client.bottom - client.top};
    if (!FitDrawingTarget(area)) return false;
    const int32_t w = splash->regionWidth, h = splash->regionHeight;
    glClearColor(kGrey, kGrey, kGrey, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glTranslated((area.right - w) / 2, (area.bottom - h) / 2, 0);
    // Drawn through the model-view (scale 1) so that the centring applies.
    splash->scaled = true;
    bool drawn = DrawSplashWithGamma();
    glPopMatrix();
    drawn = GL_OK("Failed to draw splash screen to GL_BACK framebuffer.") && drawn;
    // The wait display is shown like a frame; the first real frame differs from it.
    gLayer.windowStale = true;
    gLayer.haveCurrent = false;
    return Present(ImagePlacement{area, area}, area) && drawn;
}
void SetProxySelectionRect(const RECT& selection) { gLayer.selection = selection; }
uint32_t PresentedFrameCount() { return gPresented.load(); }
uint32_t HostImageRebuildCount() { return gHostRebuilds.load(); }
uint32_t EffectsRebuildCount() { return gEffectsRebuilds.load(); }
RECT PresentedBitmapRect() { return gLayer.presented; }
