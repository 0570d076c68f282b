// The image record: a rectangle, a four-component pixel buffer in one of the
// host's formats, an optional 8-bit selection mask, a colour profile with its
// gamma, and two pixel accessors chosen once from the mode.
//
// Pixels are exchanged in one common value: three linear colour channels
// scaled 0..0xFFFFFF, alpha and mask as unit fractions (0xFFFFFFFE = 1). On
// writing, 0xFFFFFFFF in any of the five leaves that component alone.
#pragma once

#include <cstdint>

#include "image/tracked_buffer.h"

struct PixelValue {
    uint32_t c0, c1, c2, alpha, mask;
};
constexpr uint32_t PIXEL_KEEP = 0xFFFFFFFFu;

struct ImageRect {
    int32_t left, top, right, bottom;  // right and bottom exclusive
};

// A colour profile handle of Little CMS (cmsHPROFILE).
typedef void* ColorProfile;

// The four gamma tables of one gamma (see gamma_tables.h).
struct GammaTables {
    const uint32_t* forward8;   // 256 entries
    const uint32_t* forward16;  // 65536 entries
    const uint8_t* inverse8;    // 65536 entries, indexed by colour >> 8
    const uint16_t* inverse16;  // 65536 entries, indexed by colour >> 8
};

struct Image;
typedef void (*InputImageProc)(const Image* image, PixelValue* value, int32_t x, int32_t y);
typedef void (*OutputImageProc)(Image* image, const PixelValue* value, int32_t x, int32_t y);

enum ImageMode : int32_t {
    IMAGE_MODE_GRAY8 = 1,
    IMAGE_MODE_RGB8 = 3,
    IMAGE_MODE_GRAY16 = 10,
    IMAGE_MODE_RGB16 = 11,
    IMAGE_MODE_RGB_FLOAT = 16,
    IMAGE_MODE_GRAY_FLOAT = 17,
    IMAGE_MODE_LINEAR32 = 64,  // internal: linear 32-bit integers in the common scale
};

constexpr int32_t PIXEL_TYPE_UNSIGNED_BYTE = 0x1401;
constexpr int32_t PIXEL_TYPE_UNSIGNED_SHORT = 0x1403;
constexpr int32_t PIXEL_TYPE_UNSIGNED_INT = 0x1405;
constexpr int32_t PIXEL_TYPE_FLOAT = 0x1406;
constexpr int32_t PIXEL_FORMAT_BGRA = 0x80E1;
constexpr int32_t PIXEL_FORMAT_RGBA = 0x1908;

struct Image {
    InputImageProc InputImage = nullptr;
    OutputImageProc OutputImage = nullptr;
    ImageRect imageRect = {0, 0, 0, 0};
    ImageRect bufferRect = {0, 0, 0, 0};
    TrackedBuffer pixels;
    TrackedBuffer mask;
    int64_t width = 0, height = 0;
    int64_t bufferWidth = 0, bufferHeight = 0;
    int64_t bytesPerChannel = 0;
    int64_t channels = 0;
    int32_t mode = 0;
    int32_t edgeSafe = 0;
    ColorProfile profile = nullptr;
    double gamma = 1.0;
    GammaTables tables = {nullptr, nullptr, nullptr, nullptr};
    int32_t pixelType = 0;
    int32_t pixelFormat = 0;
};

// Bytes per channel of a mode: 1, 2 or 4 (unknown modes report and count as 1).
int BytesPerColor(int32_t mode);
bool CreateImage(Image* image, const ImageRect& imageRect, const ImageRect& bufferRect, int32_t mode,
                 ColorProfile profile, bool withMask, bool edgeSafe);
// Sets profile, gamma (the profile's, rounded to 0.05), gamma tables and accessors.
void AttachImageProfile(Image* image, ColorProfile profile, bool edgeSafe);
// Sets the gamma and tables directly and re-chooses the accessors (no profile lookup).
void AttachImageGamma(Image* image, double gamma, bool edgeSafe);
void ChooseImageAccessors(Image* image);
bool ResampleImage(const Image* source, Image* destination, const volatile uint8_t* stop);
void LinearizeImage(Image* image);
bool CopyImageAlpha(const Image* source, Image* destination, const ImageRect& sourceRect,
                    const ImageRect& destinationRect);
bool CopyImageMask(const Image* source, Image* destination, const ImageRect& sourceRect,
                   const ImageRect& destinationRect);
bool FillImageRect(Image* image, const PixelValue& value, const ImageRect& rect);
// Little CMS pixel format word of the image, or 0.
uint32_t GetImageColorTransform(const Image* image);
// Frees the buffers and clears the record.
void ReleaseImage(Image* image);

// Address of pixel (x, y) in the buffer (no checks).
inline uint8_t* PixelAddress(const Image* image, int32_t x, int32_t y) {
    int64_t index = (static_cast<int64_t>(y) - image->bufferRect.top) * image->bufferWidth +
                    (static_cast<int64_t>(x) - image->bufferRect.left);
    return static_cast<uint8_t*>(image->pixels.pointer) + index * 4 * image->bytesPerChannel;
}
inline uint8_t* MaskAddress(const Image* image, int32_t x, int32_t y) {
    int64_t index = (static_cast<int64_t>(y) - image->bufferRect.top) * image->bufferWidth +
                    (static_cast<int64_t>(x) - image->bufferRect.left);
    return static_cast<uint8_t*>(image->mask.pointer) + index;
}
inline bool ImageRectEmpty(const ImageRect& r) { return r.right <= r.left || r.bottom <= r.top; }
ImageRect IntersectImageRect(const ImageRect& a, const ImageRect& b);
