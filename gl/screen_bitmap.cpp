#include "gl/screen_bitmap.h"

#include <utility>

#include "gl/gl_check.h"
#include "support/debug_log.h"

namespace {
ScreenBitmap gBitmaps[2] = {};
ScreenBitmap* gBack = &gBitmaps[0];
ScreenBitmap* gFront = &gBitmaps[1];
HANDLE gScreenBitmapMutex = nullptr;
bool gFrontWaiting = false;

void DeleteScreenBitmap(ScreenBitmap* bitmap) {
    if (bitmap->attachedTo) DetachBackgroundBitmap(bitmap->attachedTo);
    if (bitmap->bitmap) DeleteObject(bitmap->bitmap);
    *bitmap = ScreenBitmap{};
}
}  // namespace

bool InitializeScreenBitmapAccess() {
    if (gScreenBitmapMutex) return true;
    gScreenBitmapMutex = CreateMutexA(nullptr, FALSE, nullptr);
    if (!gScreenBitmapMutex) {
        ReportSystemError(__LINE__, "CreateMutex for ScreenBitmapMutex failed in InitializeScaledProxyLayer()");
        return false;
    }
    return true;
}

void ReleaseScreenBitmaps() {
    DeleteScreenBitmap(gBack);
    DeleteScreenBitmap(gFront);
    gFrontWaiting = false;
    if (gScreenBitmapMutex) CloseHandle(gScreenBitmapMutex);
    gScreenBitmapMutex = nullptr;
}

bool CreateScreenBitmap(const RECT& rect, HDC deviceContext) {
    ScreenBitmap made = {};
    made.rect = {0, 0, rect.right - rect.left, rect.bottom - rect.top};
    made.width = made.rect.right;
    made.height = made.rect.bottom;
    BITMAPV5HEADER& h = made.header;
    h.bV5Size = sizeof(BITMAPV5HEADER);
    h.bV5Width = made.width > 0 ? made.width : 1;
    h.bV5Height = made.height > 0 ? made.height : 1;  // positive: rows run bottom-up
    h.bV5Planes = 1;
    h.bV5BitCount = 32;
    h.bV5Compression = BI_RGB;
    h.bV5CSType = 0x57696E20;  // LCS_WINDOWS_COLOR_SPACE
    h.bV5Intent = LCS_GM_IMAGES;
    made.bitmap = CreateDIBSection(deviceContext, reinterpret_cast<BITMAPINFO*>(&h), DIB_RGB_COLORS, &made.bits,
                                   nullptr, 0);
    GdiFlush();
    if (!made.bitmap) {
        ReportSystemError(__LINE__, "Failed to create new screen bitmap");
        return false;
    }
    HDC attached = gBack->attachedTo;
    DeleteScreenBitmap(gBack);
    *gBack = made;
    if (attached) return AttachBackgroundBitmap(attached);
    return true;
}

bool AttachBackgroundBitmap(HDC deviceContext) {
    if (!deviceContext) {
        ReportUnexpected(__LINE__, "AttachBackgroundBitmap() - The Device Context specified is invalid.");
        return false;
    }
    if (gBack->savedState) {
        ReportUnexpected(__LINE__, "AttachBackgroundBitmap() - Tried to overwrite a previously saved DC context.");
        return false;
    }
    int state = SaveDC(deviceContext);
    if (!state) {
        ReportSystemError(__LINE__, "AttachBackgroundBitmap() - Could not save the current DC context.");
        return false;
    }
    if (!gBack->bitmap || !SelectObject(deviceContext, gBack->bitmap)) {
        ReportSystemError(__LINE__, "AttachBackgroundBitmap() - Could not attach background bitmap to the device context.");
        RestoreDC(deviceContext, state);
        return false;
    }
    gBack->savedState = state;
    gBack->attachedTo = deviceContext;
    return true;
}

bool DetachBackgroundBitmap(HDC deviceContext) {
    ScreenBitmap* owner = gBack->attachedTo == deviceContext ? gBack
                          : gFront->attachedTo == deviceContext ? gFront : nullptr;
    if (!deviceContext) {
        ReportUnexpected(__LINE__, "DetachBackgroundBitmap() - The Device Context specified is invalid.");
        return false;
    }
    if (!owner || !owner->savedState) {
        ReportUnexpected(__LINE__, "DetachBackgroundBitmap() - The saved context is invalid.");
        return false;
    }
    GdiFlush();
    bool restored = RestoreDC(deviceContext, owner->savedState) != 0;
    owner->savedState = 0;
    owner->attachedTo = nullptr;
    if (!restored) ReportSystemError(__LINE__, "DetachBackgroundBitmap() - Could not release background bitmap from DC.");
    return restored;
}

void PublishScreenBitmap() {
    if (gScreenBitmapMutex) WaitForSingleObject(gScreenBitmapMutex, INFINITE);
    std::swap(gBack, gFront);
    gFrontWaiting = true;
    if (gScreenBitmapMutex) ReleaseMutex(gScreenBitmapMutex);
}

bool WaitForScreenBitmap(uint32_t milliseconds) {
    if (!gScreenBitmapMutex) {
        ReportUnexpected(__LINE__, "Attempt to wait for Proxy Window screen bitmap failed.");
        return false;
    }
    switch (WaitForSingleObject(gScreenBitmapMutex, milliseconds)) {
        case WAIT_OBJECT_0: return true;
        case WAIT_ABANDONED:
            ReportUnexpected(__LINE__,
                             "Wait for Proxy Window screen bitmap failed since the owning thread exited:  WAIT_ABANDONED");
            ReleaseMutex(gScreenBitmapMutex);
            return false;
        case WAIT_TIMEOUT:
            ReportUnexpected(__LINE__, "Wait for Proxy Window screen bitmap timed out:  WAIT_TIMEOUT");
            return false;
        default:
            ReportSystemError(__LINE__, "Attempt to wait for Proxy Window screen bitmap failed.");
            return false;
    }
}

void ReleaseScreenBitmapMutex() {
    if (gScreenBitmapMutex) ReleaseMutex(gScreenBitmapMutex);
}

ScreenBitmap* BackScreenBitmap() { return gBack; }
ScreenBitmap* FrontScreenBitmap() { return gFront; }

bool TakeFrontWaiting() {
    bool waiting = gFrontWaiting;
    gFrontWaiting = false;
    return waiting;
}
