// Host image exchange: tiles in, blocks out.
#include "host/host_image.h"

#include <lcms2.h>

#include <cmath>
#include <cstring>

#include "host/progress.h"
#include "image/fixed_point.h"
#include "image/color_management.h"
#include "support/debug_log.h"
#include "support/run_result.h"

namespace {

struct HostExchange {
    int32_t colourPlanes = 0;
    int32_t extraPlanes = 0;
};
HostExchange gHost;

const int32_t kWriteBlock = 2048;

void SetInRect(FilterRecord* record, bool big, const ImageRect& r) {
    if (big) {
        record->bigDocumentData->inRect32 = VRect{r.top, r.left, r.bottom, r.right};
    } else {
        record->inRect = Rect{static_cast<int16>(r.top), static_cast<int16>(r.left), static_cast<int16>(r.bottom),
                              static_cast<int16>(r.right)};
    }
}

void SetOutRect(FilterRecord* record, bool big, const ImageRect& r) {
    if (big) {
        record->bigDocumentData->outRect32 = VRect{r.top, r.left, r.bottom, r.right};
    } else {
        record->outRect = Rect{static_cast<int16>(r.top), static_cast<int16>(r.left), static_cast<int16>(r.bottom),
                               static_cast<int16>(r.right)};
    }
}

void SetMaskRect(FilterRecord* record, bool big, const ImageRect& r) {
    if (big) {
        record->bigDocumentData->maskRect32 = VRect{r.top, r.left, r.bottom, r.right};
    } else {
        record->maskRect = Rect{static_cast<int16>(r.top), static_cast<int16>(r.left), static_cast<int16>(r.bottom),
                                static_cast<int16>(r.right)};
    }
}

ImageRect FilterRect(const FilterRecord* record, bool big) {
    if (big) {
        const VRect& r = record->bigDocumentData->filterRect32;
        return ImageRect{r.left, r.top, r.right, r.bottom};
    }
    const Rect& r = record->filterRect;
    return ImageRect{r.left, r.top, r.right, r.bottom};
}

const ImageRect kEmpty = {0, 0, 0, 0};

bool IsGrayMode(int16 mode) { return mode == 1 || mode == 10 || mode == 17; }


// Internal channel of colour plane p (red and blue trade places in BGRA images).
int ChannelOfPlane(const Image* image, int32_t plane, int32_t colourPlanes) {
    if (plane >= colourPlanes) return 3;
    if (image->pixelFormat == PIXEL_FORMAT_BGRA && colourPlanes == 3) return 2 - plane;
    return plane;
}

// Copies one host plane of a tile into the image.
void CopyPlaneIn(Image* image, const FilterRecord* record, const ImageRect& tile, int32_t plane, int32_t colourPlanes) {
    const auto* rows = static_cast<const uint8_t*>(record->inData);
    int32_t stride = record->inRowBytes;
    int channel = ChannelOfPlane(image, plane, colourPlanes);
    bool fan = plane < colourPlanes && colourPlanes == 1;  // gray: channels 0, 1 and 2
    int32_t width = tile.right - tile.left;
    for (int32_t y = tile.top; y < tile.bottom; y++) {
        const uint8_t* from = rows + static_cast<int64_t>(y - tile.top) * stride;
        switch (image->bytesPerChannel) {
            case 1: {
                uint8_t* to = PixelAddress(image, tile.left, y);
                for (int32_t x = 0; x < width; x++, to += 4) {
                    to[channel] = from[x];
                    if (fan) to[1] = to[2] = from[x];
                }
                break;
            }
            case 2: {
                auto* to = reinterpret_cast<uint16_t*>(PixelAddress(image, tile.left, y));
                const auto* s = reinterpret_cast<const uint16_t*>(from);
                for (int32_t x = 0; x < width; x++, to += 4) {
                    uint16_t v = HostSampleToInternal16(s[x]);
                    to[channel] = v;
                    if (fan) to[1] = to[2] = v;
                }
                break;
            }
            default: {
                auto* to = reinterpret_cast<float*>(PixelAddress(image, tile.left, y));
                const auto* s = reinterpret_cast<const float*>(from);
                for (int32_t x = 0; x < width; x++, to += 4) {
                    to[channel] = s[x];
                    if (fan) to[1] = to[2] = s[x];
                }
            }
        }
    }
}

void CopyMaskIn(Image* image, const FilterRecord* record, const ImageRect& tile) {
    if (!image->mask.size || !record->maskData) return;
    const auto* rows = static_cast<const uint8_t*>(record->maskData);
    size_t width = static_cast<size_t>(tile.right - tile.left);
    for (int32_t y = tile.top; y < tile.bottom; y++)
        std::memcpy(MaskAddress(image, tile.left, y), rows + static_cast<int64_t>(y - tile.top) * record->maskRowBytes,
                    width);
}

void CopyPlaneOut(const Image* image, FilterRecord* record, const ImageRect& block, int32_t plane, int32_t colourPlanes) {
    auto* rows = static_cast<uint8_t*>(record->outData);
    int32_t stride = record->outRowBytes;
    int channel = ChannelOfPlane(image, plane, colourPlanes);
    int32_t width = block.right - block.left;
    for (int32_t y = block.top; y < block.bottom; y++) {
        uint8_t* to = rows + static_cast<int64_t>(y - block.top) * stride;
        switch (image->bytesPerChannel) {
            case 1: {
                const uint8_t* from = PixelAddress(image, block.left, y);
                for (int32_t x = 0; x < width; x++, from += 4) to[x] = from[channel];
                break;
            }
            case 2: {
                const auto* from = reinterpret_cast<const uint16_t*>(PixelAddress(image, block.left, y));
                auto* d = reinterpret_cast<uint16_t*>(to);
                for (int32_t x = 0; x < width; x++, from += 4) d[x] = InternalToHostSample16(from[channel]);
                break;
            }
            default: {
                const auto* from = reinterpret_cast<const float*>(PixelAddress(image, block.left, y));
                auto* d = reinterpret_cast<float*>(to);
                for (int32_t x = 0; x < width; x++, from += 4) d[x] = from[channel];
            }
        }
    }
}

int16 AdvanceState(FilterRecord* record) {
    if (!record->advanceState) return -50;
    return record->advanceState();
}

}  // namespace

int32_t GetHostColorPlanes() { return gHost.colourPlanes; }
int32_t GetHostExtraPlanes() { return gHost.extraPlanes; }

bool ReadHostImage(FilterRecord* record, bool bigDocument) {
    int16 mode = record->imageMode;
    int32_t colourPlanes = record->inLayerPlanes;
    if (colourPlanes == 0) colourPlanes = IsGrayMode(mode) ? 1 : 3;
    int32_t extraPlanes = record->inTransparencyMask;
    if (colourPlanes < 0 || colourPlanes > 3 || extraPlanes < 0 || extraPlanes > 1) {
        // More planes than the four channels hold would run past the image.
        ReportUnexpected(__LINE__, "Error:  Unexpected plane layout (%d color, %d extra) in ReadHostImage().",
                         colourPlanes, extraPlanes);
        SetGlobalErrorCode(-50);
        return false;
    }
    if (IsGrayMode(mode)) {
        ColorProfile profile = GetHostProfile();
        if (!profile || cmsGetColorSpace(static_cast<cmsHPROFILE>(profile)) != cmsSigGrayData)
            DebugEvent(__LINE__, USER_MESSAGE)
                .Report(OS_MB_ICONWARNING, "Warning:  Operating On a Grayscale Channel",
                        "You appear to be running the plug-in on a single channel or mask from a color image.");
    } else if (mode != 3 && mode != 11 && mode != 16) {
        ReportUnexpected(__LINE__, "Error:  Unexpected image mode %d in ReadHostImage().", mode);
        SetGlobalErrorCode(-50);
        return false;
    }
    if (bigDocument && !record->bigDocumentData) bigDocument = false;
    int32_t tileWidth = record->inTileWidth, tileHeight = record->inTileHeight;
    if (tileWidth <= 0 || tileHeight <= 0) tileWidth = tileHeight = 1024;

    ImageRect area = FilterRect(record, bigDocument);
    if (ImageRectEmpty(area)) {
        ReportUnexpected(__LINE__, "Error:  Empty filter rectangle in ReadHostImage().");
        SetGlobalErrorCode(-50);
        return false;
    }
    Image* image = GetHostImage();
    if (!CreateImage(image, area, area, mode, GetHostProfile(), record->haveMask != 0, false)) return false;
    // Cleared to black; without a transparency plane every pixel stays opaque.
    std::memset(image->pixels.pointer, 0, image->pixels.size);
    if (extraPlanes == 0) {
        PixelValue opaque = {PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP, UNIT_ONE, PIXEL_KEEP};
        FillImageRect(image, opaque, area);
    }
    if (image->mask.size) std::memset(image->mask.pointer, 255, image->mask.size);
    gHost.colourPlanes = colourPlanes;
    gHost.extraPlanes = extraPlanes;
    double w = static_cast<double>(image->width), h = static_cast<double>(image->height);
    SetImageDiagonal(static_cast<int64_t>(std::sqrt(w * w + h * h)) + 1);

    record->inputRate = 0x10000;
    record->maskRate = 0x10000;
    record->inputPadding = 255;
    record->maskPadding = 255;
    int32_t planes = colourPlanes + extraPlanes;
    for (int32_t top = area.top; top < area.bottom; top += tileHeight) {
        for (int32_t left = area.left; left < area.right; left += tileWidth) {
            ImageRect tile = {left, top, left + tileWidth < area.right ? left + tileWidth : area.right,
                              top + tileHeight < area.bottom ? top + tileHeight : area.bottom};
            SetOutRect(record, bigDocument, kEmpty);
            SetInRect(record, bigDocument, tile);
            for (int32_t p = 0; p < planes; p++) {
                record->inLoPlane = record->inHiPlane = static_cast<int16>(p);
                SetMaskRect(record, bigDocument, p == 0 && record->haveMask ? tile : kEmpty);
                int16 code = AdvanceState(record);
                if (code == 0 && !record->inData) code = -50;  // nothing handed over: treat as a failed read
                if (code != 0) {
                    ForceGlobalErrorCode(code);
                    DebugEvent(__LINE__, USER_MESSAGE)
                        .Report(OS_MB_ICONERROR, "Error - Exiting Plug-in", "Could not read input image.");
                    return false;
                }
                CopyPlaneIn(image, record, tile, p, colourPlanes);
                if (p == 0 && record->haveMask) CopyMaskIn(image, record, tile);
            }
        }
    }
    if (image->bytesPerChannel == 4) {
        for (int32_t y = area.top; y < area.bottom; y++) {
            auto* p = reinterpret_cast<float*>(PixelAddress(image, area.left, y));
            for (int64_t x = 0; x < image->width; x++, p += 4)
                for (int c = 0; c < 3; c++)
                    if (!(p[c] >= 0.0f)) p[c] = 0.0f;  // negatives (and NaN) become black
        }
    }
    return true;
}

bool WriteHostImage(FilterRecord* record, bool bigDocument, const Image* image) {
    if (bigDocument && !record->bigDocumentData) bigDocument = false;
    int32_t colourPlanes = IsGrayMode(record->imageMode) ? 1 : 3;
    int32_t planes = colourPlanes + gHost.extraPlanes;
    SetInRect(record, bigDocument, kEmpty);
    const ImageRect& area = image->imageRect;
    for (int32_t top = area.top; top < area.bottom && GetGlobalErrorCode() == 0; top += kWriteBlock) {
        for (int32_t left = area.left; left < area.right && GetGlobalErrorCode() == 0; left += kWriteBlock) {
            ImageRect block = {left, top, left + kWriteBlock < area.right ? left + kWriteBlock : area.right,
                               top + kWriteBlock < area.bottom ? top + kWriteBlock : area.bottom};
            for (int32_t j = 0; j < planes && GetGlobalErrorCode() == 0; j++) {
                SetMaskRect(record, bigDocument, kEmpty);
                SetOutRect(record, bigDocument, block);
                record->outLoPlane = record->outHiPlane = static_cast<int16>(j);
                int16 code = AdvanceState(record);
                if (code == 0 && !record->outData) code = -50;
                if (code != 0) {
                    SetGlobalErrorCode(code);
                    if (code != -128)
                        DebugEvent(__LINE__, USER_MESSAGE)
                            .Report(OS_MB_ICONERROR, "Error - Exiting Plug-in", "Could not write results back to editor.");
                    break;
                }
                CopyPlaneOut(image, record, block, j, colourPlanes);
            }
            if (GetGlobalErrorCode() != 0) break;
            int32_t done = 0, total = 0;
            GetImageEditorProgress(&done, &total);
            if (!DisplayImageEditorProgressBar(done, total)) SetGlobalErrorCode(-128);
        }
    }
    return GetGlobalErrorCode() == 0;
}

void ReleaseHostImage(FilterRecord* record, bool bigDocument) {
    if (record && GetGlobalErrorCode() == 0) {
        if (bigDocument && !record->bigDocumentData) bigDocument = false;
        SetInRect(record, bigDocument, kEmpty);
        SetOutRect(record, bigDocument, kEmpty);
        SetMaskRect(record, bigDocument, kEmpty);
        AdvanceState(record);
    }
    ReleaseDocumentImage();
}
