// Drawable rows in the engine's form and back: one babl format chosen per
// drawable, whole strips of rows per GEGL call.
#include "tools/gimp/drawable_pixels.h"

#include <algorithm>
#include <cstring>

namespace {

// Rows per GEGL call when writing back: a few tiles high, so the buffers
// that hold one strip stay small beside the picture.
constexpr int32_t kStripRows = 128;

// Whether the image's samples are linear light (else they carry the space's curve).
bool IsLinear(GimpPrecision precision) {
    switch (precision) {
        case GIMP_PRECISION_U8_LINEAR:
        case GIMP_PRECISION_U16_LINEAR:
        case GIMP_PRECISION_U32_LINEAR:
        case GIMP_PRECISION_HALF_LINEAR:
        case GIMP_PRECISION_FLOAT_LINEAR:
        case GIMP_PRECISION_DOUBLE_LINEAR: return true;
        default: return false;
    }
}

}  // namespace

bool DescribeDrawable(int32_t drawable, DrawablePixels* pixels, std::string* error) {
    if (gimp_drawable_is_indexed(drawable)) {
        *error = "indexed images are not supported: convert the image to RGB or grayscale first";
        return false;
    }
    pixels->native = gimp_drawable_get_format(drawable);
    pixels->width = gimp_drawable_width(drawable);
    pixels->height = gimp_drawable_height(drawable);
    pixels->alpha = babl_format_has_alpha(pixels->native);
    pixels->colours = babl_format_get_n_components(pixels->native) - (pixels->alpha ? 1 : 0);
    if (pixels->colours != 1 && pixels->colours != 3) {
        *error = std::string("the drawable's pixels (") + babl_get_name(pixels->native) + ") are neither RGB nor grey";
        return false;
    }
    const Babl* type = babl_format_get_type(pixels->native, 0);
    pixels->depth = type == babl_type("u8") ? 8 : type == babl_type("u16") ? 16 : 32;
    // The drawable's own model ("R'G'B'A", "Y", ...) and space with the
    // engine's sample type: babl changes the type at most, never the colours.
    const std::string model = babl_get_name(babl_format_get_model(pixels->native));
    const char* engineType = pixels->depth == 8 ? " u8" : pixels->depth == 16 ? " u16" : " float";
    pixels->engine = babl_format_with_space((model + engineType).c_str(), pixels->native);
    pixels->sameBytes = pixels->engine == pixels->native;
    return true;
}

std::vector<uint8_t> EngineProfileBytes(int32_t image) {
    std::vector<uint8_t> bytes;
    GimpColorProfile* profile = gimp_image_get_color_profile(image);
    if (!profile && IsLinear(gimp_image_get_precision(image)))
        profile = gimp_image_get_effective_color_profile(image);
    if (!profile) return bytes;
    gsize length = 0;
    const guint8* data = gimp_color_profile_get_icc_profile(profile, &length);
    if (data && length) bytes.assign(data, data + length);
    g_object_unref(profile);
    return bytes;
}

bool ReadDrawable(int32_t drawable, const DrawablePixels& pixels, const std::vector<uint8_t>& profile, Raster* raster,
                  std::string* error) {
    raster->width = pixels.width;
    raster->height = pixels.height;
    raster->colours = pixels.colours;
    raster->alpha = pixels.alpha;
    raster->depth = pixels.depth;
    raster->icc = profile;
    RasterFailure failure = RASTER_OK;
    if (!AllocateRaster(raster, &failure, error)) return false;
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    const GeglRectangle whole = {0, 0, pixels.width, pixels.height};
    gegl_buffer_get(buffer, &whole, 1.0, pixels.engine, raster->samples.data(),
                    static_cast<gint>(raster->RowBytes()), GEGL_ABYSS_NONE);
    g_object_unref(buffer);
    return true;
}

namespace {

// What a strip writer needs besides the strip.
struct StripTarget {
    const Raster& rendered;
    const DrawablePixels& pixels;
    GeglBuffer* original;
    GeglBuffer* target;
    size_t enginePixel, nativePixel;
    // Scratch rows for KeepUntouchedStrip: the original in both formats, one rendered row in the native one.
    std::vector<uint8_t> originalEngine, originalNative, renderedNative;
    const Babl* toNative;
};

// The raster's rows from the strip's left edge as they are, in the engine
// format (GEGL converts them when the target's format is another).
void RenderedStrip(StripTarget& t, const GeglRectangle& strip) {
    gegl_buffer_set(t.target, &strip, 0, t.pixels.engine, t.rendered.Row(strip.y) + strip.x * t.enginePixel,
                    static_cast<gint>(t.rendered.RowBytes()));
}

// The original's native bytes, with each pixel the render changed converted
// from the engine's samples.
void KeepUntouchedStrip(StripTarget& t, const GeglRectangle& strip) {
    const size_t width = static_cast<size_t>(strip.width);
    gegl_buffer_get(t.original, &strip, 1.0, t.pixels.engine, t.originalEngine.data(), GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);
    gegl_buffer_get(t.original, &strip, 1.0, t.pixels.native, t.originalNative.data(), GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);
    for (int32_t r = 0; r < strip.height; r++) {
        const uint8_t* now = t.rendered.Row(strip.y + r) + strip.x * t.enginePixel;
        const uint8_t* before = t.originalEngine.data() + r * width * t.enginePixel;
        uint8_t* out = t.originalNative.data() + r * width * t.nativePixel;
        babl_process(t.toNative, now, t.renderedNative.data(), static_cast<long>(width));
        for (size_t x = 0; x < width; x++)
            if (std::memcmp(now + x * t.enginePixel, before + x * t.enginePixel, t.enginePixel) != 0)
                std::memcpy(out + x * t.nativePixel, t.renderedNative.data() + x * t.nativePixel, t.nativePixel);
    }
    gegl_buffer_set(t.target, &strip, 0, t.pixels.native, t.originalNative.data(), GEGL_AUTO_ROWSTRIDE);
}

}  // namespace

void WriteRegion(const Raster& rendered, const DrawablePixels& pixels, GeglBuffer* original, GeglBuffer* target,
                 const GeglRectangle& region, bool keepUntouched, void (*done)(void* context, double fraction),
                 void* context) {
    StripTarget t = {rendered,
                     pixels,
                     original,
                     target,
                     static_cast<size_t>(babl_format_get_bytes_per_pixel(pixels.engine)),
                     static_cast<size_t>(babl_format_get_bytes_per_pixel(pixels.native)),
                     {},
                     {},
                     {},
                     nullptr};
    // Where GIMP's bytes are the engine's, an untouched pixel comes back as it was anyway.
    void (*writeStrip)(StripTarget&, const GeglRectangle&) = RenderedStrip;
    if (keepUntouched && !pixels.sameBytes) {
        const size_t width = static_cast<size_t>(region.width);
        t.originalEngine.resize(width * kStripRows * t.enginePixel);
        t.originalNative.resize(width * kStripRows * t.nativePixel);
        t.renderedNative.resize(width * t.nativePixel);
        t.toNative = babl_fish(pixels.engine, pixels.native);
        writeStrip = KeepUntouchedStrip;
    }
    for (int32_t top = region.y; top < region.y + region.height; top += kStripRows) {
        const int32_t rows = std::min(kStripRows, region.y + region.height - top);
        writeStrip(t, GeglRectangle{region.x, top, region.width, rows});
        if (done) done(context, static_cast<double>(top + rows - region.y) / region.height);
    }
    gegl_buffer_flush(target);
}
