#include "preview/preview_renderer.h"

#include "gl/drawing_settings.h"
#include "gl/gl_context.h"
#include "gl/texture_sets.h"
#include "preview/proxy_display.h"

namespace {

OpenGLContext gContext = {};
bool gAccelerated = false;
HBITMAP gSplash = nullptr;

bool Start(const PreviewStartRecord& record) {
    RECT client = {0, 0, record.width, record.height};
    bool made = record.accelerated
                    ? CreateScreenContext(&gContext, record.previewWindow, client, record.pixelFormat, record.descriptor)
                    : CreateBitmapContext(&gContext, record.previewWindow, client, record.pixelFormat, record.descriptor);
    if (!made) return false;
    gAccelerated = record.accelerated;
    if (!InitializeOpenGLDrawingSettings() || !InitializeScaledProxyLayer(GetParent(record.previewWindow), record.previewWindow))
        return false;
    // The splash is only the wait display: without it the preview waits on grey.
    if (gSplash) CreateSplashTextureSet(gSplash);
    return true;
}

bool Render(const ParameterSet& set, HRGN) {
    // The preview tool's tracking frame travels with the set.
    SetProxySelectionRect(RECT{set.markRect.left, set.markRect.top, set.markRect.right, set.markRect.bottom});
    return DrawProxyDisplayFrame(set);
}

void Finish() {
    if (IsScaledProxyLayerReady()) DestroyScaledProxyLayer();
    if (gContext.type != OPENGL_CONTEXT_NONE) ReleaseOpenGLContext(&gContext);
}

void DrawWait(const RECT& client) { DrawSplashScreen(client); }

bool PreciseArithmetic() {
    return GPUAccelerated() && OpenGLOptimizationSetting() == OPTIMIZE_FOR_QUALITY &&
           TextureFormat16().internalFormat != TextureFormat8().internalFormat;
}

const PreviewRendererProcs kProcs = {Start, Render, Finish, DrawWait, PreciseArithmetic};

}  // namespace

const PreviewRendererProcs* PreviewRenderer() { return &kProcs; }
void SetPreviewSplashBitmap(HBITMAP splash) { gSplash = splash; }
bool PreviewRendererAccelerated() { return gAccelerated; }
