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

// Planes lo..lo+count-1 of one request: where each goes in the image's pixel.
struct PlaneGroup {
    int32_t lo = 0;
    int32_t count = 0;
    int channel[4] = {};
    bool fan[4] = {};  // a gray plane fills channels 0, 1 and 2
};

PlaneGroup MakePlaneGroup(const Image* image, int32_t lo, int32_t count, int32_t colourPlanes) {
    PlaneGroup group;
    group.lo = lo;
    group.count = count;
    for (int32_t k = 0; k < count; k++) {
        group.channel[k] = ChannelOfPlane(image, lo + k, colourPlanes);
        group.fan[k] = lo + k < colourPlanes && colourPlanes == 1;
    }
    return group;
}

uint8_t Same8(uint8_t v) { return v; }
float SameFloat(float v) { return v; }

// Host rows hold the group's samples interleaved per pixel (count samples a
// pixel, rows `stride` bytes apart); the image holds four channels a pixel.
template <class Sample, class Convert>
void CopyPlanesIn(Image* image, const uint8_t* rows, int32_t stride, const ImageRect& tile, const PlaneGroup& group,
                  Convert convert) {
    const int32_t width = tile.right - tile.left;
    for (int32_t y = tile.top; y < tile.bottom; y++) {
        const auto* from = reinterpret_cast<const Sample*>(rows + static_cast<int64_t>(y - tile.top) * stride);
        auto* to = reinterpret_cast<Sample*>(PixelAddress(image, tile.left, y));
        for (int32_t x = 0; x < width; x++, to += 4, from += group.count) {
            for (int32_t k = 0; k < group.count; k++) {
                const Sample v = convert(from[k]);
                to[group.channel[k]] = v;
                if (group.fan[k]) to[1] = to[2] = v;
            }
        }
    }
}

template <class Sample, class Convert>
void CopyPlanesOut(const Image* image, uint8_t* rows, int32_t stride, const ImageRect& block, const PlaneGroup& group,
                   Convert convert) {
    const int32_t width = block.right - block.left;
    for (int32_t y = block.top; y < block.bottom; y++) {
        auto* to = reinterpret_cast<Sample*>(rows + static_cast<int64_t>(y - block.top) * stride);
        const auto* from = reinterpret_cast<const Sample*>(PixelAddress(image, block.left, y));
        for (int32_t x = 0; x < width; x++, from += 4, to += group.count)
            for (int32_t k = 0; k < group.count; k++) to[k] = convert(from[group.channel[k]]);
    }
}

// Copies the planes of one request from inData into the image.
void CopyRequestIn(Image* image, const FilterRecord* record, const ImageRect& tile, const PlaneGroup& group) {
    const auto* rows = static_cast<const uint8_t*>(record->inData);
    switch (image->bytesPerChannel) {
        case 1: CopyPlanesIn<uint8_t>(image, rows, record->inRowBytes, tile, group, Same8); break;
        case 2: CopyPlanesIn<uint16_t>(image, rows, record->inRowBytes, tile, group, HostSampleToInternal16); break;
        default: CopyPlanesIn<float>(image, rows, record->inRowBytes, tile, group, SameFloat);
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

// Copies the image's channels of one request into outData.
void CopyRequestOut(const Image* image, FilterRecord* record, const ImageRect& block, const PlaneGroup& group) {
    auto* rows = static_cast<uint8_t*>(record->outData);
    switch (image->bytesPerChannel) {
        case 1: CopyPlanesOut<uint8_t>(image, rows, record->outRowBytes, block, group, Same8); break;
        case 2: CopyPlanesOut<uint16_t>(image, rows, record->outRowBytes, block, group, InternalToHostSample16); break;
        default: CopyPlanesOut<float>(image, rows, record->outRowBytes, block, group, SameFloat);
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
    // Every plane of a tile comes in one request, interleaved per pixel: hosts
    // serve that best (some refresh their buffers only when the rectangle
    // changes, or ignore the low plane). A host that refuses it is asked one
    // plane at a time from then on.
    const int32_t planes = colourPlanes + extraPlanes;
    int32_t perRequest = planes;
    for (int32_t top = area.top; top < area.bottom; top += tileHeight) {
        for (int32_t left = area.left; left < area.right; left += tileWidth) {
            ImageRect tile = {left, top, left + tileWidth < area.right ? left + tileWidth : area.right,
                              top + tileHeight < area.bottom ? top + tileHeight : area.bottom};
            SetOutRect(record, bigDocument, kEmpty);
            SetInRect(record, bigDocument, tile);
            for (int32_t lo = 0; lo < planes;) {
                const int32_t count = perRequest < planes - lo ? perRequest : planes - lo;
                record->inLoPlane = static_cast<int16>(lo);
                record->inHiPlane = static_cast<int16>(lo + count - 1);
                SetMaskRect(record, bigDocument, lo == 0 && record->haveMask ? tile : kEmpty);
                int16 code = AdvanceState(record);
                if (code == 0 && !record->inData) code = -50;  // nothing handed over: treat as a failed read
                if (code != 0 && code != RUN_CANCELLED && count > 1) {
                    DebugEvent(__LINE__, TRACE_MESSAGE)
                        .Report("ReadHostImage() - The host answered %d to planes %d..%d at once; reading one plane "
                                "per request.", code, lo, lo + count - 1);
                    perRequest = 1;
                    continue;
                }
                if (code != 0) {
                    ForceGlobalErrorCode(code);
                    DebugEvent(__LINE__, USER_MESSAGE)
                        .Report(OS_MB_ICONERROR, "Error - Exiting Plug-in", "Could not read input image.");
                    return false;
                }
                CopyRequestIn(image, record, tile, MakePlaneGroup(image, lo, count, colourPlanes));
                if (lo == 0 && record->haveMask) CopyMaskIn(image, record, tile);
                lo += count;
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
    const int32_t planes = colourPlanes + gHost.extraPlanes;
    SetInRect(record, bigDocument, kEmpty);
    const ImageRect& area = image->imageRect;
    // All planes of a block in one request, as on reading.
    int32_t perRequest = planes;
    for (int32_t top = area.top; top < area.bottom && GetGlobalErrorCode() == 0; top += kWriteBlock) {
        for (int32_t left = area.left; left < area.right && GetGlobalErrorCode() == 0; left += kWriteBlock) {
            ImageRect block = {left, top, left + kWriteBlock < area.right ? left + kWriteBlock : area.right,
                               top + kWriteBlock < area.bottom ? top + kWriteBlock : area.bottom};
            for (int32_t lo = 0; lo < planes && GetGlobalErrorCode() == 0;) {
                const int32_t count = perRequest < planes - lo ? perRequest : planes - lo;
                SetMaskRect(record, bigDocument, kEmpty);
                SetOutRect(record, bigDocument, block);
                record->outLoPlane = static_cast<int16>(lo);
                record->outHiPlane = static_cast<int16>(lo + count - 1);
                int16 code = AdvanceState(record);
                if (code == 0 && !record->outData) code = -50;
                if (code != 0 && code != RUN_CANCELLED && count > 1) {
                    DebugEvent(__LINE__, TRACE_MESSAGE)
                        .Report("WriteHostImage() - The host answered %d to planes %d..%d at once; writing one plane "
                                "per request.", code, lo, lo + count - 1);
                    perRequest = 1;
                    continue;
                }
                if (code != 0) {
                    SetGlobalErrorCode(code);
                    if (code != RUN_CANCELLED)
                        DebugEvent(__LINE__, USER_MESSAGE)
                            .Report(OS_MB_ICONERROR, "Error - Exiting Plug-in", "Could not write results back to editor.");
                    break;
                }
                CopyRequestOut(image, record, block, MakePlaneGroup(image, lo, count, colourPlanes));
                lo += count;
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
