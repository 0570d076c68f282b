// Colour transforms: the transform cache under TransformCacheMutex, and the
// conversions of single colours, of whole images in place, and of image
// rectangles from one image into another (on one thread or on one thread per
// section of rows).
#include <cmath>
#include <cstdlib>
#include <vector>

#include "support/thread_pool.h"
#include "image/color_management.h"
#include "image/gamma_tables.h"
#include "support/debug_log.h"
#include "support/fault_injection.h"
#include "support/run_result.h"

static_assert(COLOR_FORMAT_RGBA_8 == TYPE_RGBA_8, "pixel format word");
static_assert(COLOR_FORMAT_BGRA_8 == TYPE_BGRA_8, "pixel format word");
static_assert(COLOR_FORMAT_RGBA_16 == TYPE_RGBA_16, "pixel format word");
static_assert(COLOR_FORMAT_RGBA_FLOAT == TYPE_RGBA_FLT, "pixel format word");
static_assert(COLOR_FORMAT_RGB_16 == TYPE_RGB_16, "pixel format word");
static_assert(COLOR_FORMAT_GRAY_8 == (COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(1)),
              "pixel format word");
static_assert(COLOR_FORMAT_GRAY_16 == (COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(2)),
              "pixel format word");
static_assert(COLOR_FORMAT_GRAY_FLOAT ==
                  (FLOAT_SH(1) | COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(4)),
              "pixel format word");

namespace {

const char kCaptionUnexpectedError[] = "Debug: Unexpected Error";
const char kCaptionUnexpectedErrorLower[] = "Debug: Unexpected error";

// Relative colorimetric; black point compensation, high-resolution
// precalculation and no Little CMS cache (so threads may share a transform).
constexpr cmsUInt32Number kTransformIntent = INTENT_RELATIVE_COLORIMETRIC;
constexpr cmsUInt32Number kTransformFlags =
    cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_HIGHRESPRECALC | cmsFLAGS_NOCACHE;
static_assert(kTransformFlags == 0x2440, "transform flags");

constexpr int16_t kColorManagementError = -50;
constexpr int16_t kThreadPoolError = -1715;
constexpr int16_t kMemoryError = -108;

struct TransformCacheEntry {
    cmsHTRANSFORM transform;  // null: free, and the end of every search
    cmsHPROFILE inputProfile;
    uint32_t inputFormat;
    cmsHPROFILE outputProfile;
    uint32_t outputFormat;
    int32_t valid;
};

OsHandle gTransformCacheMutex = nullptr;
TransformCacheEntry gTransformCache[TRANSFORM_CACHE_SIZE];
// Transforms built while the cache was full and handed out without an owner;
// freed at the end of the run. Guarded by TransformCacheMutex.
std::vector<cmsHTRANSFORM> gSetAsideTransforms;

void ReportSystemError(uint32_t line, const char* text) {
    DebugEvent(line, SYSTEM_ERROR, OsGetLastError()).Report(OS_MB_ICONERROR, DEBUG_CAPTION_UNEXPECTED, "%s", text);
}

// Takes TransformCacheMutex without a time limit. When it cannot be had the
// caller gives up: the cache is never touched without the lock.
bool LockTransformCache() {
    if (!gTransformCacheMutex) {
        ReportSystemError(__LINE__, "Attempt to wait for transform cache access failed.");
        return false;
    }
    switch (OsWaitForSingleObject(gTransformCacheMutex, OS_INFINITE)) {
        case OS_WAIT_OBJECT_0:
            return true;
        case OS_WAIT_ABANDONED_0:
            ReportUnexpected(__LINE__,
                             "Wait for transform cache access failed since the owning thread exited:  WAIT_ABANDONED");
            OsReleaseMutex(gTransformCacheMutex);
            return false;
        case OS_WAIT_TIMEOUT:
            ReportUnexpected(__LINE__, "Wait for transform cache access timed out:  WAIT_TIMEOUT");
            return false;
        default:
            ReportSystemError(__LINE__, "Attempt to wait for transform cache access failed.");
            return false;
    }
}

// The image formats fitted to the profile: a gray profile reads the first
// component only, any other reads three colours.
uint32_t AdaptFormatToProfile(uint32_t format, cmsHPROFILE profile) {
    if (cmsGetColorSpace(profile) == cmsSigGrayData) {
        switch (format) {
            case COLOR_FORMAT_RGBA_8:
            case COLOR_FORMAT_BGRA_8: return COLOR_FORMAT_GRAY_8;
            case COLOR_FORMAT_RGBA_16: return COLOR_FORMAT_GRAY_16;
            case COLOR_FORMAT_RGBA_FLOAT: return COLOR_FORMAT_GRAY_FLOAT;
            default: return format;
        }
    }
    switch (format) {
        case COLOR_FORMAT_GRAY_8: return COLOR_FORMAT_RGBA_8;
        case COLOR_FORMAT_GRAY_16: return COLOR_FORMAT_RGBA_16;
        case COLOR_FORMAT_GRAY_FLOAT: return COLOR_FORMAT_RGBA_FLOAT;
        default: return format;
    }
}

bool IsFloatImage(const Image* image) {
    return image->mode == IMAGE_MODE_RGB_FLOAT || image->mode == IMAGE_MODE_GRAY_FLOAT;
}

// Little CMS works unbounded on floats: colours outside the target gamut come
// out negative. Alpha is left as it is.
void ClearNegativeColors(uint8_t* row, int64_t pixels) {
    auto* values = reinterpret_cast<float*>(row);
    for (int64_t i = 0; i < pixels; i++, values += 4)
        for (int k = 0; k < 3; k++)
            if (values[k] < 0.0f) values[k] = 0.0f;
}

// The area to convert: the source rectangle inside the source image, moved
// into the destination rectangle, inside the destination image (and inside
// the destination rectangle, so nothing outside it is written). False when empty.
bool FindConversionArea(const Image* source, const ImageRect& sourceRect, const Image* destination,
                        const ImageRect& destinationRect, ImageRect* sourceArea, ImageRect* destinationArea) {
    ImageRect area = IntersectImageRect(sourceRect, source->imageRect);
    int32_t dx = destinationRect.left - sourceRect.left;
    int32_t dy = destinationRect.top - sourceRect.top;
    if (ImageRectEmpty(area)) return false;
    area = {area.left + dx, area.top + dy, area.right + dx, area.bottom + dy};
    area = IntersectImageRect(area, destination->imageRect);
    if (ImageRectEmpty(area)) return false;
    area = IntersectImageRect(area, destinationRect);
    if (ImageRectEmpty(area)) return false;
    *destinationArea = area;
    *sourceArea = {area.left - dx, area.top - dy, area.right - dx, area.bottom - dy};
    return true;
}

// Converts the area row by row, then copies its alpha and, when the
// destination has one, its mask.
void ConvertArea(ColorTransform transform, const Image* source, const ImageRect& sourceArea, Image* destination,
                 const ImageRect& destinationArea) {
    int32_t width = destinationArea.right - destinationArea.left;
    int32_t rows = destinationArea.bottom - destinationArea.top;
    bool clearNegative = IsFloatImage(destination);
    for (int32_t y = 0; y < rows; y++) {
        uint8_t* target = PixelAddress(destination, destinationArea.left, destinationArea.top + y);
        cmsDoTransform(transform, PixelAddress(source, sourceArea.left, sourceArea.top + y), target,
                       static_cast<cmsUInt32Number>(width));
        if (clearNegative) ClearNegativeColors(target, width);
    }
    CopyImageAlpha(source, destination, sourceArea, destinationArea);
    if (destination->mask.pointer) CopyImageMask(source, destination, sourceArea, destinationArea);
}

// Argument block of one section thread (freed by DestroyThread).
struct ConversionSection {
    const Image* source;
    ImageRect sourceRect;
    Image* destination;
    ImageRect destinationRect;
    ColorTransform transform;  // shared by all sections
};

uint32_t ConvertSectionThread(void* argument) {
    const auto* section = static_cast<const ConversionSection*>(argument);
    ConvertArea(section->transform, section->source, section->sourceRect, section->destination,
                section->destinationRect);
    return 0;
}

}  // namespace

// ---- the transform cache ----

bool CreateTransformCacheMutex() {
    if (gTransformCacheMutex) return true;
    gTransformCacheMutex = OsCreateMutex(false);
    if (!gTransformCacheMutex) {
        DebugEvent(__LINE__, SYSTEM_ERROR, OsGetLastError())
            .Report(OS_MB_ICONERROR, kCaptionUnexpectedError, "CreateMutex for TransformCacheMutex failed");
        return false;
    }
    return true;
}

// At the end of the run, when no other thread uses the cache any more.
void ReleaseTransformCache() {
    for (TransformCacheEntry& entry : gTransformCache) {
        if (entry.transform) cmsDeleteTransform(entry.transform);
        entry = TransformCacheEntry{};
    }
    for (cmsHTRANSFORM transform : gSetAsideTransforms) cmsDeleteTransform(transform);
    gSetAsideTransforms.clear();
    if (gTransformCacheMutex) OsCloseHandle(gTransformCacheMutex);
    gTransformCacheMutex = nullptr;
}

int32_t GetTransformCacheCount() {
    int32_t count = 0;
    while (count < TRANSFORM_CACHE_SIZE && gTransformCache[count].transform) count++;
    return count;
}

ColorTransform GetColorTransform(ColorProfile inputProfile, uint32_t inputFormat, ColorProfile outputProfile,
                                 uint32_t outputFormat, bool* callerOwns) {
    if (callerOwns) *callerOwns = false;
    if (!LockTransformCache()) return nullptr;

    int32_t index = 0;
    for (; index < TRANSFORM_CACHE_SIZE && gTransformCache[index].transform; index++) {
        const TransformCacheEntry& entry = gTransformCache[index];
        if (entry.valid && entry.inputProfile == inputProfile && entry.inputFormat == inputFormat &&
            entry.outputProfile == outputProfile && entry.outputFormat == outputFormat) {
            cmsHTRANSFORM transform = entry.transform;
            OsReleaseMutex(gTransformCacheMutex);
            return transform;
        }
    }

    // Without both profiles the conversion starts from the standard profile;
    // a missing output profile is the standard profile too (Little CMS could
    // do nothing with none).
    cmsHPROFILE input = inputProfile && outputProfile ? inputProfile : GetStandardProfile();
    cmsHPROFILE output = outputProfile ? outputProfile : GetStandardProfile();
    cmsHTRANSFORM transform = nullptr;
    // A format word of 0 (an image mode without one) would give a transform
    // that cannot run, so none is made.
    if (input && output && inputFormat && outputFormat) {
        const AllocationFailuresPaused paused;
        transform = cmsCreateTransform(input, AdaptFormatToProfile(inputFormat, input), output,
                                       AdaptFormatToProfile(outputFormat, output), kTransformIntent, kTransformFlags);
    }

    if (!transform) {
        ReportUnexpected(__LINE__, "Could not compute color transform.");
    } else if (index >= TRANSFORM_CACHE_SIZE) {
        ReportUnexpected(__LINE__, "Transform cache table size exceeded.");
        if (callerOwns) {
            *callerOwns = true;
        } else {
            // Should even this fail, the transform is still handed out (and
            // never freed) rather than leaving the mutex taken.
            try {
                gSetAsideTransforms.push_back(transform);
            } catch (...) {
            }
        }
    } else {
        gTransformCache[index] = {transform, inputProfile, inputFormat, outputProfile, outputFormat, 1};
    }

    OsReleaseMutex(gTransformCacheMutex);
    return transform;
}

void DeleteColorTransform(ColorTransform transform) {
    if (transform) cmsDeleteTransform(transform);
}

// ---- conversions ----

namespace {

// The pixels [first, last) of a row that hold light (any colour channel not
// zero); first == last when the row is black.
void LitSpan(const uint8_t* row, int64_t width, int64_t bytesPerChannel, int64_t* first, int64_t* last) {
    const int64_t pixelBytes = 4 * bytesPerChannel, colourBytes = 3 * bytesPerChannel;
    auto lit = [&](int64_t x) {
        const uint8_t* p = row + x * pixelBytes;
        for (int64_t b = 0; b < colourBytes; b++)
            if (p[b]) return true;
        return false;
    };
    int64_t a = 0;
    while (a < width && !lit(a)) a++;
    int64_t b = width;
    while (b > a && !lit(b - 1)) b--;
    *first = a;
    *last = b;
}

}  // namespace

bool ConvertColorOf(Image* image, ColorProfile targetProfile, bool lightOnly) {
    uint32_t format = GetImageColorTransform(image);
    bool owned = false;
    ColorTransform transform = GetColorTransform(image->profile, format, targetProfile, format, &owned);
    if (!transform) {
        DebugEvent(__LINE__).Report(OS_MB_ICONERROR, kCaptionUnexpectedErrorLower,
                                    "ConvertColorOf() - Could not get color transform.");
        return false;
    }

    // Rows follow each other at the buffer's stride from the start of the
    // buffer; the counts are kept inside the buffer.
    int64_t width = image->width < image->bufferWidth ? image->width : image->bufferWidth;
    int64_t rows = image->height < image->bufferHeight ? image->height : image->bufferHeight;
    int64_t stride = image->bufferWidth * 4 * image->bytesPerChannel;
    bool clearNegative = IsFloatImage(image);
    auto* row = static_cast<uint8_t*>(image->pixels.pointer);
    for (int64_t y = 0; row && width > 0 && y < rows; y++, row += stride) {
        int64_t first = 0, last = width;
        if (lightOnly) LitSpan(row, width, image->bytesPerChannel, &first, &last);
        if (first == last) continue;
        uint8_t* span = row + first * 4 * image->bytesPerChannel;
        cmsDoTransform(transform, span, span, static_cast<cmsUInt32Number>(last - first));
        if (clearNegative) ClearNegativeColors(span, last - first);
    }
    if (owned) DeleteColorTransform(transform);

    AttachImageProfile(image, targetProfile, image->edgeSafe != 0);
    return true;
}

bool ConvertSingleColor(PixelValue* value, ColorProfile sourceProfile, ColorProfile targetProfile) {
    bool owned = false;
    ColorTransform transform =
        GetColorTransform(sourceProfile, COLOR_FORMAT_RGB_16, targetProfile, COLOR_FORMAT_RGB_16, &owned);
    if (!transform) return false;

    cmsUInt16Number input[3] = {static_cast<cmsUInt16Number>(value->c0 >> 16),
                                static_cast<cmsUInt16Number>(value->c1 >> 16),
                                static_cast<cmsUInt16Number>(value->c2 >> 16)};
    cmsUInt16Number output[3] = {0, 0, 0};
    cmsDoTransform(transform, input, output, 1);
    if (owned) DeleteColorTransform(transform);

    // Linearised with gamma 2.2: I16 of the set for 1 / 2.2 is
    // round((v / 65535)^2.2 × 65535). Computed directly should no set be had.
    GammaTables tables = {nullptr, nullptr, nullptr, nullptr};
    bool haveTables = GetGammaTables(1.0 / 2.2, &tables) && tables.inverse16;
    uint32_t linear[3];
    for (int k = 0; k < 3; k++)
        linear[k] = haveTables ? tables.inverse16[output[k]]
                               : RoundToU32(std::pow(output[k] / 65535.0, 2.2) * 65535.0);
    value->c0 = linear[0] << 16;
    value->c1 = linear[1] << 16;
    value->c2 = linear[2] << 16;
    return true;
}

bool ConvertImageColors(const Image* source, const ImageRect& sourceRect, Image* destination,
                        const ImageRect& destinationRect) {
    ImageRect sourceArea, destinationArea;
    if (!FindConversionArea(source, sourceRect, destination, destinationRect, &sourceArea, &destinationArea))
        return true;

    bool owned = false;
    ColorTransform transform = GetColorTransform(source->profile, GetImageColorTransform(source), destination->profile,
                                                 GetImageColorTransform(destination), &owned);
    if (!transform) {
        SetGlobalErrorCode(FailureCodeUnlessMemory(kColorManagementError));
        return false;
    }
    ConvertArea(transform, source, sourceArea, destination, destinationArea);
    if (owned) DeleteColorTransform(transform);
    return true;
}

bool ConvertImageColorsParallel(const Image* source, const ImageRect& sourceRect, Image* destination,
                                const ImageRect& destinationRect) {
    int32_t processors = GetProcessorCount();
    if (processors < 2) return ConvertImageColors(source, sourceRect, destination, destinationRect);

    ImageRect sourceArea, destinationArea;
    if (!FindConversionArea(source, sourceRect, destination, destinationRect, &sourceArea, &destinationArea))
        return true;

    // One transform for every section: taken once here instead of by each thread.
    bool owned = false;
    ColorTransform transform = GetColorTransform(source->profile, GetImageColorTransform(source), destination->profile,
                                                 GetImageColorTransform(destination), &owned);
    if (!transform) {
        SetGlobalErrorCode(FailureCodeUnlessMemory(kColorManagementError));
        return false;
    }

    std::vector<SectionSpan> sections = DivideIntoSections(destinationArea.top, destinationArea.bottom, processors);
    std::vector<ThreadRecord> records(sections.size());
    int32_t dy = sourceArea.top - destinationArea.top;
    int32_t prepared = 0;
    for (size_t i = 0; i < sections.size(); i++) {
        if (GetGlobalErrorCode() != 0) break;
        auto* block = static_cast<ConversionSection*>(std::malloc(sizeof(ConversionSection)));
        if (!block) {
            ReportUnexpected(__LINE__, "ConvertImageColorsParallel() - Could not allocate a section argument block.");
            SetGlobalErrorCode(kMemoryError);
            break;
        }
        const SectionSpan& span = sections[i];
        block->source = source;
        block->sourceRect = {sourceArea.left, span.top + dy, sourceArea.right, span.bottom + dy};
        block->destination = destination;
        block->destinationRect = {destinationArea.left, span.top, destinationArea.right, span.bottom};
        block->transform = transform;
        ThreadRecord& record = records[prepared];
        record.startRoutine = ConvertSectionThread;
        record.argument = block;
        record.index = static_cast<int32_t>(i);
        prepared++;
    }

    bool waited = true;
    if (prepared > 0) {
        // Sections whose thread did not start stay unconverted, so a failed
        // start fails the conversion like a failed wait.
        if (!SpawnMultipleThreads(records.data(), prepared)) SetGlobalErrorCode(FailureCodeUnlessMemory(kThreadPoolError));
        waited = WaitForMultipleThreads(records.data(), prepared, false);
        if (!waited) SetGlobalErrorCode(kThreadPoolError);
        for (int32_t i = 0; i < prepared; i++) DestroyThread(&records[i]);
    }
    // After a failed wait a section thread may still hold the transform.
    if (owned && waited) DeleteColorTransform(transform);
    return GetGlobalErrorCode() == 0;
}
