// The two screen bitmaps of the preview: OpenGL draws (or the frame is copied)
// into the back one, the user-interface thread paints the front one. The two
// are exchanged only under ScreenBitmapMutex.
#pragma once

#include <windows.h>

#include <cstdint>

struct ScreenBitmap {
    BITMAPV5HEADER header;  // 32 bits per pixel, one plane, bottom-up
    void* bits;
    HBITMAP bitmap;
    RECT rect;
    int32_t width, height;
    HDC attachedTo;  // the device context it is selected into, or null
    int savedState;  // SaveDC's answer from the last attach (0: none)
};

// Creates ScreenBitmapMutex. False (reported) when it cannot be made.
bool InitializeScreenBitmapAccess();
// Deletes both bitmaps and the mutex.
void ReleaseScreenBitmaps();
// A 32-bit DIB section of the rectangle's size compatible with `deviceContext`
// becomes the back bitmap (the previous back bitmap is deleted).
bool CreateScreenBitmap(const RECT& rect, HDC deviceContext);
// Selects the back bitmap into the device context, saving its state first.
bool AttachBackgroundBitmap(HDC deviceContext);
// Restores the device context's saved state (the back bitmap is deselected).
bool DetachBackgroundBitmap(HDC deviceContext);
// Exchanges back and front under the mutex and marks the front as waiting.
void PublishScreenBitmap();
// Takes ScreenBitmapMutex (up to `milliseconds`); false, reported, when it cannot.
bool WaitForScreenBitmap(uint32_t milliseconds);
void ReleaseScreenBitmapMutex();
// The bitmaps (read the front one only between WaitForScreenBitmap and
// ReleaseScreenBitmapMutex). The waiting flag is cleared by TakeFrontWaiting.
ScreenBitmap* BackScreenBitmap();
ScreenBitmap* FrontScreenBitmap();
bool TakeFrontWaiting();
