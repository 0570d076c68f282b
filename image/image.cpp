// Image records: creation, profiles and gamma, and the bulk operations
// (resampling copy, linearisation, alpha and mask copies, rectangle fill).
#include "image/image.h"

#include <lcms2.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "support/debug_log.h"
#include "support/os.h"
#include "support/thread_pool.h"
#include "support/run_result.h"

namespace {

uint64_t Extent(int32_t from, int32_t to) { return to > from ? static_cast<uint64_t>(to) - from : 0; }

bool GrowTo(TrackedBuffer* buffer, uint64_t required) {
    if (buffer->size >= required && buffer->pointer) return true;
    return ReallocateBuffer(required, buffer) == 0;
}

bool SameRect(const ImageRect& a, const ImageRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The area a copy touches: the source rectangle clipped to the source image,
// moved into the destination rectangle and clipped to the destination image.
// Returns the destination area and the offset from destination to source.
bool CopyArea(const Image* source, const Image* destination, const ImageRect& sourceRect,
              const ImageRect& destinationRect, ImageRect* area, int32_t* dx, int32_t* dy) {
    ImageRect s = IntersectImageRect(sourceRect, source->imageRect);
    if (ImageRectEmpty(s)) return false;
    int32_t ox = destinationRect.left - sourceRect.left;
    int32_t oy = destinationRect.top - sourceRect.top;
    ImageRect moved = {s.left + ox, s.top + oy, s.right + ox, s.bottom + oy};
    *area = IntersectImageRect(IntersectImageRect(moved, destinationRect), destination->imageRect);
    *dx = -ox;
    *dy = -oy;
    return !ImageRectEmpty(*area);
}

// Whether a copy within one image must run backwards so that every source
// value is read before it is overwritten.
bool CopyBackwards(const Image* source, const Image* destination, int32_t dx, int32_t dy) {
    if (source != destination) return false;
    // Destination below the source, or on the same rows to its right.
    return dy < 0 || (dy == 0 && dx < 0);
}

uint32_t ReadAlphaUnit(const Image* image, int32_t x, int32_t y) {
    const uint8_t* p = PixelAddress(image, x, y);
    switch (image->bytesPerChannel) {
        case 1: return AlphaTable8()[p[3]];
        case 2: return AlphaTable16()[reinterpret_cast<const uint16_t*>(p)[3]];
        default:
            if (image->mode == IMAGE_MODE_LINEAR32) return reinterpret_cast<const uint32_t*>(p)[3];
            return RoundToU32(static_cast<double>(reinterpret_cast<const float*>(p)[3]) * 4294967294.0);
    }
}

void WriteAlphaUnit(Image* image, uint32_t alpha, int32_t x, int32_t y) {
    uint8_t* p = PixelAddress(image, x, y);
    switch (image->bytesPerChannel) {
        case 1: p[3] = AlphaInverseTable8()[alpha >> 16]; break;
        case 2: reinterpret_cast<uint16_t*>(p)[3] = AlphaInverseTable16()[alpha >> 16]; break;
        default:
            if (image->mode == IMAGE_MODE_LINEAR32)
                reinterpret_cast<uint32_t*>(p)[3] = alpha;
            else
                reinterpret_cast<float*>(p)[3] = static_cast<float>(alpha / 4294967296.0);
    }
}

bool Stopped(const volatile uint8_t* stop) { return OsFlagIsSet(stop); }

}  // namespace

ImageRect IntersectImageRect(const ImageRect& a, const ImageRect& b) {
    ImageRect r = {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                   a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

int BytesPerColor(int32_t mode) {
    if (mode >= 0 && mode <= 9) return 1;
    if (mode >= 10 && mode <= 15) return 2;
    if (mode == 16 || mode == 17 || mode == 64) return 4;
    ReportUnexpected(__LINE__, "Error:  Unrecognized image mode.");
    return 1;
}

void AttachImageGamma(Image* image, double gamma, bool edgeSafe) {
    image->gamma = gamma;
    image->edgeSafe = edgeSafe ? 1 : 0;
    if (!GetGammaTables(gamma, &image->tables)) std::memset(&image->tables, 0, sizeof(image->tables));
    ChooseImageAccessors(image);
}

void AttachImageProfile(Image* image, ColorProfile profile, bool edgeSafe) {
    image->profile = profile;
    // Images without a profile (internal linear images) are linear.
    double estimate = profile ? EstimateProfileGamma(profile) : 1.0;
    double gamma = std::trunc(estimate * 20.0 + 0.5) / 20.0;
    AttachImageGamma(image, gamma, edgeSafe);
}

bool CreateImage(Image* image, const ImageRect& imageRect, const ImageRect& bufferRect, int32_t mode,
                 ColorProfile profile, bool withMask, bool edgeSafe) {
    image->imageRect = imageRect;
    image->bufferRect = bufferRect;
    image->mode = mode;
    image->channels = 4;
    image->bytesPerChannel = BytesPerColor(mode);
    switch (image->bytesPerChannel) {
        case 1:
            image->pixelType = PIXEL_TYPE_UNSIGNED_BYTE;
            image->pixelFormat = PIXEL_FORMAT_BGRA;
            break;
        case 2:
            image->pixelType = PIXEL_TYPE_UNSIGNED_SHORT;
            image->pixelFormat = PIXEL_FORMAT_RGBA;
            break;
        case 4:
            image->pixelFormat = PIXEL_FORMAT_RGBA;
            image->pixelType = mode == IMAGE_MODE_LINEAR32 ? PIXEL_TYPE_UNSIGNED_INT : PIXEL_TYPE_FLOAT;
            break;
        default:
            DebugEvent(__LINE__).Report(
                OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED_LOWER,
                "CreateImage received an unexpected ImageMode (%d) that doesn't resolve to 1 or 4 bytes per color.",
                mode);
            SetGlobalErrorCode(-50);
    }
    AttachImageProfile(image, profile, edgeSafe);
    image->width = static_cast<int64_t>(Extent(imageRect.left, imageRect.right));
    image->height = static_cast<int64_t>(Extent(imageRect.top, imageRect.bottom));
    image->bufferWidth = static_cast<int64_t>(Extent(bufferRect.left, bufferRect.right));
    image->bufferHeight = static_cast<int64_t>(Extent(bufferRect.top, bufferRect.bottom));
    uint64_t w = static_cast<uint64_t>(image->bufferWidth), h = static_cast<uint64_t>(image->bufferHeight);
    uint64_t required = (h + 1) * static_cast<uint64_t>(image->bytesPerChannel) * w * 4;
    // An 8- or 16-bit image without gamma tables (none could be allocated)
    // would read as black and take no writes: it is refused like an image
    // without memory, rather than drawn into or read as nothing.
    const bool tablesNeeded = mode == IMAGE_MODE_GRAY8 || mode == IMAGE_MODE_RGB8 || mode == IMAGE_MODE_GRAY16 ||
                              mode == IMAGE_MODE_RGB16;
    const bool tablesMissing = tablesNeeded && !(image->tables.forward8 && image->tables.forward16 &&
                                                 image->tables.inverse8 && image->tables.inverse16);
    if (tablesMissing || !GrowTo(&image->pixels, required)) {
        SetGlobalErrorCode(-108);
        DebugEvent(__LINE__, USER_MESSAGE)
            .Report(OS_MB_ICONERROR, "Error - Exiting Plug-in", "Could not allocate memory for an image.");
        return false;
    }
    if (withMask) {
        if (!GrowTo(&image->mask, (h + 1) * w)) {
            SetGlobalErrorCode(-108);
            DebugEvent(__LINE__, USER_MESSAGE)
                .Report(OS_MB_ICONERROR, "Error - Exiting Plug-in", "Could not allocate memory for an image mask.");
            return false;
        }
    } else {
        DeallocateBuffer(&image->mask);
    }
    return true;
}

void ReleaseImage(Image* image) {
    DeallocateBuffer(&image->pixels);
    DeallocateBuffer(&image->mask);
    *image = Image();
}

namespace {

// Destination rows [firstRow, lastRow) of an area-averaging resample; false
// when stopped.
bool ResampleRows(const Image* source, Image* destination, int64_t firstRow, int64_t lastRow,
                  const volatile uint8_t* stop) {
    const ImageRect& sr = source->imageRect;
    const ImageRect& dr = destination->imageRect;
    int64_t W = source->width, H = source->height, w = destination->width, h = destination->height;
    int64_t fx = (W + w - 1) / w, fy = (H + h - 1) / h, n = fx * fy;
    PixelValue p, q;
    for (int64_t i = firstRow; i < lastRow; i++) {
        int32_t y0 = sr.top + static_cast<int32_t>((i * H) / h);
        for (int64_t j = 0; j < w; j++) {
            int32_t x0 = sr.left + static_cast<int32_t>((j * W) / w);
            if (fx == 2 && fy == 2) {
                uint32_t c0 = 0, c1 = 0, c2 = 0, a = 0, m = 0;
                const int32_t xs[4] = {x0, x0, x0 + 1, x0 + 1};
                const int32_t ys[4] = {y0, y0 + 1, y0 + 1, y0};
                for (int k = 0; k < 4; k++) {
                    source->InputImage(source, &q, xs[k], ys[k]);
                    c0 += q.c0;
                    c1 += q.c1;
                    c2 += q.c2;
                    a += q.alpha >> 2;
                    m += q.mask >> 2;
                }
                p = PixelValue{c0 >> 2, c1 >> 2, c2 >> 2, a, m};
            } else if (n < 256) {
                uint32_t c0 = 0, c1 = 0, c2 = 0, a = 0, m = 0;
                for (int64_t by = 0; by < fy; by++)
                    for (int64_t bx = 0; bx < fx; bx++) {
                        source->InputImage(source, &q, x0 + static_cast<int32_t>(bx), y0 + static_cast<int32_t>(by));
                        c0 += q.c0;
                        c1 += q.c1;
                        c2 += q.c2;
                        a += q.alpha >> 8;
                        m += q.mask >> 8;
                    }
                uint32_t d = static_cast<uint32_t>(n);
                p = PixelValue{c0 / d, c1 / d, c2 / d, (a / d) << 8, (m / d) << 8};
            } else {
                uint64_t c0 = 0, c1 = 0, c2 = 0, a = 0, m = 0;
                for (int64_t by = 0; by < fy; by++)
                    for (int64_t bx = 0; bx < fx; bx++) {
                        source->InputImage(source, &q, x0 + static_cast<int32_t>(bx), y0 + static_cast<int32_t>(by));
                        c0 += q.c0;
                        c1 += q.c1;
                        c2 += q.c2;
                        a += q.alpha;
                        m += q.mask;
                    }
                uint64_t d = static_cast<uint64_t>(n);
                p = PixelValue{static_cast<uint32_t>(c0 / d), static_cast<uint32_t>(c1 / d),
                               static_cast<uint32_t>(c2 / d), static_cast<uint32_t>(a / d),
                               static_cast<uint32_t>(m / d)};
            }
            destination->OutputImage(destination, &p, dr.left + static_cast<int32_t>(j), dr.top + static_cast<int32_t>(i));
        }
        if (Stopped(stop)) return false;
    }
    return true;
}

struct ResampleJob {
    const Image* source;
    Image* destination;
    const volatile uint8_t* stop;
};

bool ResampleSectionRows(void* raw, int32_t top, int32_t bottom) {
    auto* job = static_cast<ResampleJob*>(raw);
    return ResampleRows(job->source, job->destination, top, bottom, job->stop);
}

// The reduction runs on the thread pool, one section of destination rows a thread.
bool ResampleInSections(const Image* source, Image* destination, const volatile uint8_t* stop) {
    ResampleJob job = {source, destination, stop};
    return RunInRowSections(0, static_cast<int32_t>(destination->height), ResampleSectionRows, &job);
}

}  // namespace

bool ResampleImage(const Image* source, Image* destination, const volatile uint8_t* stop) {
    if (Stopped(stop)) return false;
    const ImageRect& sr = source->imageRect;
    const ImageRect& dr = destination->imageRect;
    if (!SameRect(sr, dr)) {
        int64_t W = source->width, H = source->height, w = destination->width, h = destination->height;
        if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return true;
        return ResampleInSections(source, destination, stop);
    }
    if (source->mode != destination->mode || !SameRect(source->bufferRect, destination->bufferRect)) {
        PixelValue p;
        for (int32_t y = dr.top; y < dr.bottom; y++) {
            for (int32_t x = dr.left; x < dr.right; x++) {
                source->InputImage(source, &p, x, y);
                destination->OutputImage(destination, &p, x, y);
            }
            if (Stopped(stop)) return false;
        }
        return true;
    }
    if (source->pixels.pointer != destination->pixels.pointer) {
        uint64_t bytes = static_cast<uint64_t>(source->bufferHeight + 1) * source->bufferWidth * 4 *
                         source->bytesPerChannel;
        if (bytes > source->pixels.size) bytes = source->pixels.size;
        if (bytes > destination->pixels.size) bytes = destination->pixels.size;
        std::memcpy(destination->pixels.pointer, source->pixels.pointer, bytes);
    }
    if (destination->mask.size) {
        uint64_t bytes = static_cast<uint64_t>(destination->bufferHeight) * destination->bufferWidth;
        if (source->mask.size && source->mask.pointer != destination->mask.pointer) {
            if (bytes > source->mask.size) bytes = source->mask.size;
            std::memcpy(destination->mask.pointer, source->mask.pointer, bytes);
        } else if (!source->mask.size) {
            std::memset(destination->mask.pointer, 255, bytes);
        }
    }
    return !Stopped(stop);
}

void LinearizeImage(Image* image) {
    GammaTables tables;
    uint64_t pixels = static_cast<uint64_t>(image->bufferWidth) * static_cast<uint64_t>(image->bufferHeight);
    if (image->pixelType != PIXEL_TYPE_UNSIGNED_BYTE && image->pixelType != PIXEL_TYPE_UNSIGNED_SHORT) {
        ReportUnexpected(__LINE__, "Pixel type 0x%X is not recognized in function LinearizeImage.",
                         static_cast<unsigned>(image->pixelType));
    } else if (GetGammaTables(1.0 / 2.2, &tables)) {
        if (image->pixelType == PIXEL_TYPE_UNSIGNED_BYTE) {
            auto* p = static_cast<uint8_t*>(image->pixels.pointer);
            for (uint64_t i = 0; i < pixels; i++, p += 4) {
                p[0] = tables.inverse8[p[0] * 256u];
                p[1] = tables.inverse8[p[1] * 256u];
                p[2] = tables.inverse8[p[2] * 256u];
            }
        } else {
            auto* p = static_cast<uint16_t*>(image->pixels.pointer);
            for (uint64_t i = 0; i < pixels; i++, p += 4) {
                p[0] = tables.inverse16[p[0]];
                p[1] = tables.inverse16[p[1]];
                p[2] = tables.inverse16[p[2]];
            }
        }
    }
    AttachImageGamma(image, 1.0, image->edgeSafe != 0);
}

bool CopyImageAlpha(const Image* source, Image* destination, const ImageRect& sourceRect,
                    const ImageRect& destinationRect) {
    ImageRect area;
    int32_t dx, dy;
    if (!CopyArea(source, destination, sourceRect, destinationRect, &area, &dx, &dy)) return true;
    if (CopyBackwards(source, destination, dx, dy)) {
        for (int32_t y = area.bottom - 1; y >= area.top; y--)
            for (int32_t x = area.right - 1; x >= area.left; x--)
                WriteAlphaUnit(destination, ReadAlphaUnit(source, x + dx, y + dy), x, y);
    } else {
        for (int32_t y = area.top; y < area.bottom; y++)
            for (int32_t x = area.left; x < area.right; x++)
                WriteAlphaUnit(destination, ReadAlphaUnit(source, x + dx, y + dy), x, y);
    }
    return true;
}

bool CopyImageMask(const Image* source, Image* destination, const ImageRect& sourceRect,
                   const ImageRect& destinationRect) {
    if (!destination->mask.size) return true;
    ImageRect area;
    int32_t dx, dy;
    if (!CopyArea(source, destination, sourceRect, destinationRect, &area, &dx, &dy)) return true;
    size_t width = static_cast<size_t>(area.right - area.left);
    bool backwards = CopyBackwards(source, destination, dx, dy);
    for (int32_t k = 0; k < area.bottom - area.top; k++) {
        int32_t y = backwards ? area.bottom - 1 - k : area.top + k;
        uint8_t* to = MaskAddress(destination, area.left, y);
        if (source->mask.size)
            std::memmove(to, MaskAddress(source, area.left + dx, y + dy), width);  // memmove: rows may overlap
        else
            std::memset(to, 255, width);
    }
    return true;
}

bool FillImageRect(Image* image, const PixelValue& value, const ImageRect& rect) {
    ImageRect area = IntersectImageRect(rect, image->imageRect);
    bool complete = value.c0 != PIXEL_KEEP && value.c1 != PIXEL_KEEP && value.c2 != PIXEL_KEEP &&
                    value.alpha != PIXEL_KEEP && value.mask != PIXEL_KEEP;
    PixelValue p;
    for (int32_t y = area.top; y < area.bottom; y++) {
        for (int32_t x = area.left; x < area.right; x++) {
            if (complete) {
                image->OutputImage(image, &value, x, y);
                continue;
            }
            image->InputImage(image, &p, x, y);
            if (value.c0 != PIXEL_KEEP) p.c0 = value.c0;
            if (value.c1 != PIXEL_KEEP) p.c1 = value.c1;
            if (value.c2 != PIXEL_KEEP) p.c2 = value.c2;
            if (value.alpha != PIXEL_KEEP) p.alpha = value.alpha;
            if (value.mask != PIXEL_KEEP) p.mask = value.mask;
            image->OutputImage(image, &p, x, y);
        }
    }
    return true;
}

uint32_t GetImageColorTransform(const Image* image) {
    switch (image->mode) {
        case IMAGE_MODE_GRAY8: return 0x30189;
        case IMAGE_MODE_RGB8: return image->pixelFormat == PIXEL_FORMAT_BGRA ? TYPE_BGRA_8 : TYPE_RGBA_8;
        case IMAGE_MODE_GRAY16: return 0x3018A;
        case IMAGE_MODE_RGB16: return TYPE_RGBA_16;
        case IMAGE_MODE_RGB_FLOAT: return TYPE_RGBA_FLT;
        case IMAGE_MODE_GRAY_FLOAT: return 0x43018C;
        default:
            ReportUnexpected(__LINE__, "Error:  Unrecognized image mode %d in GetImageColorTransform().", image->mode);
            return 0;
    }
}
