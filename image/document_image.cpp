// The document's pixels and the preview pyramid.
#include "image/document_image.h"

#include "image/color_management.h"
#include "support/debug_log.h"

namespace {

struct DocumentImage {
    Image image;
    int64_t diagonal = 0;
    Image levels[HOST_PROXY_LEVELS];
    double scaleX[HOST_PROXY_LEVELS] = {};
    double scaleY[HOST_PROXY_LEVELS] = {};
    bool complete = false;
    PyramidNotification notify = nullptr;
};
DocumentImage gDocument;

}  // namespace

Image* GetHostImage() { return &gDocument.image; }
int64_t GetImageDiagonal() { return gDocument.diagonal; }
void SetImageDiagonal(int64_t diagonal) { gDocument.diagonal = diagonal; }

void ReleaseDocumentImage() {
    ReleaseHostProxyPyramid();
    ReleaseImage(&gDocument.image);
    gDocument.diagonal = 0;
}

// ---- pyramid ----


void SetPyramidNotification(PyramidNotification notify) { gDocument.notify = notify; }

bool BuildHostProxyPyramid(OsWindow window, bool sixteenBitLevels) {
    if (gDocument.complete) {
        if (gDocument.notify) gDocument.notify(16);
        return true;
    }
    const Image* host = &gDocument.image;
    if (!host->pixels.pointer || host->width <= 0 || host->height <= 0) return false;
    int32_t mode = sixteenBitLevels ? IMAGE_MODE_RGB16 : IMAGE_MODE_RGB8;
    Image* level0 = &gDocument.levels[0];
    // The whole picture goes through the display's colour transform: on every
    // processor, since the first frame waits for it.
    if (!CreateImage(level0, host->imageRect, host->imageRect, mode, GetDisplayProfile(window), false, false) ||
        !ConvertImageColorsParallel(host, host->imageRect, level0, level0->imageRect))
        return false;
    LinearizeImage(level0);
    gDocument.scaleX[0] = gDocument.scaleY[0] = 1.0;
    if (gDocument.notify) gDocument.notify(1);
    const ImageRect& r0 = level0->imageRect;
    double d = 1.0;
    for (int i = 1; i < HOST_PROXY_LEVELS; i++) {
        d *= 2.0;
        ImageRect r = {static_cast<int32_t>(r0.left / d + 1e-10), static_cast<int32_t>(r0.top / d + 1e-10),
                       static_cast<int32_t>(r0.right / d + 1e-10), static_cast<int32_t>(r0.bottom / d + 1e-10)};
        if (r.right <= r.left) r.right = r.left + 1;
        if (r.bottom <= r.top) r.bottom = r.top + 1;
        Image* level = &gDocument.levels[i];
        if (!CreateImage(level, r, r, mode, level0->profile, false, false)) return false;
        AttachImageGamma(level, 1.0, false);
        if (!ResampleImage(&gDocument.levels[i - 1], level, nullptr)) return false;
        gDocument.scaleX[i] = static_cast<double>(level->width) / static_cast<double>(host->width);
        gDocument.scaleY[i] = static_cast<double>(level->height) / static_cast<double>(host->height);
        if (gDocument.notify) gDocument.notify(1);
    }
    gDocument.complete = true;
    return true;
}

bool GetHostProxyImageInfo(Image** level, double* sx, double* sy) {
    if (!level || !sx || !sy) {
        ReportUnexpected(__LINE__, "Some boneheaded programmer passed a NULL pointer to GetHostProxyImageInfo().");
        return false;
    }
    if (!gDocument.complete) {
        ReportUnexpected(__LINE__, "GetHostProxyImageInfo() called before HostProxyImage rendered.");
        return false;
    }
    int chosen = HOST_PROXY_LEVELS - 1;
    // A level whose factors equal the request serves it: at 100 % the
    // preview shows the full-resolution level, not half of it enlarged.
    for (int l = 0; l < HOST_PROXY_LEVELS - 1; l++) {
        if (*sx >= gDocument.scaleX[l] || *sy >= gDocument.scaleY[l]) {
            chosen = l;
            break;
        }
    }
    *level = &gDocument.levels[chosen];
    *sx = gDocument.scaleX[chosen];
    *sy = gDocument.scaleY[chosen];
    return true;
}

bool IsHostProxyPyramidComplete() { return gDocument.complete; }

void ReleaseHostProxyPyramid() {
    for (Image& level : gDocument.levels) ReleaseImage(&level);
    gDocument.complete = false;
}
