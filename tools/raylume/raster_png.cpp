// PNG through libpng: 8/16-bit grey or RGB, with or without alpha. The error
// jump is set before the first libpng call of each direction; libpng's
// messages are collected. 16-bit samples are big-endian in the file and
// swapped by libpng. iCCP gives the image's profile; sRGB and gAMA are kept.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "tools/raylume/raster.h"

namespace {

struct PngMessages {
    std::string text;
};

void PngError(png_structp png, png_const_charp message) {
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    if (messages) messages->text = message ? message : "unknown error";
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

bool Fail(RasterFailure* failure, RasterFailure kind, std::string* error, const std::string& text) {
    *failure = kind;
    *error = text;
    return false;
}

bool LittleEndianHost() {
    const uint16_t one = 1;
    uint8_t first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// Everything the reader owns, released however it ends (libpng jumps).
struct ReadState {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadState() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        if (file) std::fclose(file);
    }
};

struct WriteState {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteState() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
        if (file) std::fclose(file);
    }
};

}  // namespace

bool ReadPngRaster(const std::string& path, Raster* raster, RasterFailure* failure, std::string* error) {
    ReadState s;
    PngMessages messages;
    s.file = std::fopen(path.c_str(), "rb");
    if (!s.file) return Fail(failure, RASTER_UNREADABLE, error, std::string("cannot open it: ") + std::strerror(errno));
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, PngError, PngWarning);
    if (!s.png) return Fail(failure, RASTER_NO_MEMORY, error, "libpng cannot start");
    s.info = png_create_info_struct(s.png);
    if (!s.info) return Fail(failure, RASTER_NO_MEMORY, error, "libpng cannot start");
    // Everything below may jump back here; nothing owned may live on the stack.
    if (setjmp(png_jmpbuf(s.png)))
        return Fail(failure, RASTER_UNREADABLE, error, "libpng cannot read it: " + messages.text);
    png_init_io(s.png, s.file);
    png_set_user_limits(s.png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(s.png, s.info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0;
    png_get_IHDR(s.png, s.info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    // A palette image (common for published pictures) is read as 8-bit RGB,
    // with alpha when its palette has transparent entries.
    const bool palette = colourType == PNG_COLOR_TYPE_PALETTE;
    bool paletteAlpha = false;
    if (palette) {
        paletteAlpha = png_get_valid(s.png, s.info, PNG_INFO_tRNS) != 0;
        png_set_palette_to_rgb(s.png);
        if (paletteAlpha) png_set_tRNS_to_alpha(s.png);
        colourType = paletteAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
        bitDepth = 8;
        raster->png.fromPalette = true;
    }
    if (bitDepth < 8)
        return Fail(failure, RASTER_UNSUPPORTED, error,
                    std::to_string(bitDepth) + "-bit PNG images are not supported; 8 and 16-bit ones are");
    raster->format = RASTER_FORMAT_PNG;
    raster->width = static_cast<int32_t>(width);
    raster->height = static_cast<int32_t>(height);
    raster->colours = (colourType & PNG_COLOR_MASK_COLOR) ? 3 : 1;
    raster->alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0;
    raster->depth = bitDepth;
    if (!palette && png_get_valid(s.png, s.info, PNG_INFO_tRNS))
        return Fail(failure, RASTER_UNSUPPORTED, error, "PNG images with a transparent colour key are not supported");
    if (!AllocateRaster(raster, failure, error, FileSizeOf(path), 1100)) return false;

    PngDetails& d = raster->png;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    if (png_get_iCCP(s.png, s.info, &name, &compression, &profile, &profileSize) && profile && profileSize)
        raster->icc.assign(profile, profile + profileSize);
    int intent = 0;
    if (png_get_sRGB(s.png, s.info, &intent)) {
        d.srgb = true;
        d.srgbIntent = intent;
    }
    double gamma = 0;
    if (png_get_gAMA(s.png, s.info, &gamma) && gamma > 0) {
        d.hasGamma = true;
        d.gamma = gamma;
    }
    png_textp texts = nullptr;
    int textCount = 0;
    if (png_get_text(s.png, s.info, &texts, &textCount) > 0)
        for (int i = 0; i < textCount; i++)
            if (texts[i].key && texts[i].text && texts[i].compression == PNG_TEXT_COMPRESSION_NONE)
                d.texts.emplace_back(texts[i].key, texts[i].text);

    if (bitDepth == 16 && LittleEndianHost()) png_set_swap(s.png);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != raster->RowBytes())
        return Fail(failure, RASTER_UNREADABLE, error, "its row size does not match its header");
    const int passes = png_set_interlace_handling(s.png);
    for (int pass = 0; pass < passes; pass++)
        for (int32_t y = 0; y < raster->height; y++) png_read_row(s.png, raster->Row(y), nullptr);
    png_read_end(s.png, nullptr);
    return true;
}

namespace {

// The libpng steps of a write; a libpng error jumps back into this function,
// which owns no object with a destructor.
bool WritePngSteps(WriteState& s, PngMessages& messages, const Raster& raster, std::vector<png_text>& texts,
                   std::vector<uint8_t>& row, std::string* error) {
    if (setjmp(png_jmpbuf(s.png))) {
        *error = "libpng cannot write it: " + messages.text;
        return false;
    }
    png_init_io(s.png, s.file);
    const int colourType = (raster.colours == 3 ? PNG_COLOR_MASK_COLOR : 0) | (raster.alpha ? PNG_COLOR_MASK_ALPHA : 0);
    png_set_IHDR(s.png, s.info, static_cast<png_uint_32>(raster.width), static_cast<png_uint_32>(raster.height),
                 raster.depth, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const bool sameFormat = raster.format == RASTER_FORMAT_PNG;
    if (!raster.icc.empty()) {
        png_set_iCCP(s.png, s.info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, raster.icc.data(),
                     static_cast<png_uint_32>(raster.icc.size()));
    } else if (sameFormat && raster.png.srgb) {
        png_set_sRGB(s.png, s.info, raster.png.srgbIntent);
    }
    if (sameFormat && raster.png.hasGamma && raster.icc.empty() && !raster.png.srgb)
        png_set_gAMA(s.png, s.info, raster.png.gamma);
    if (!texts.empty()) png_set_text(s.png, s.info, texts.data(), static_cast<int>(texts.size()));
    png_write_info(s.png, s.info);
    if (raster.depth == 16 && LittleEndianHost()) png_set_swap(s.png);
    for (int32_t y = 0; y < raster.height; y++) {
        std::memcpy(row.data(), raster.Row(y), row.size());
        png_write_row(s.png, row.data());
    }
    png_write_end(s.png, nullptr);
    return true;
}

}  // namespace

bool WritePngRaster(const std::string& path, const Raster& raster, std::string* error) {
    if (raster.depth == 32) {
        *error = "PNG holds no float samples";
        return false;
    }
    WriteState s;
    PngMessages messages;
    s.file = std::fopen(path.c_str(), "wb");
    if (!s.file) {
        *error = std::string("cannot create it: ") + std::strerror(errno);
        return false;
    }
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages, PngError, PngWarning);
    if (s.png) s.info = png_create_info_struct(s.png);
    if (!s.png || !s.info) {
        *error = "libpng cannot start";
        return false;
    }
    std::vector<png_text> texts;
    if (raster.format == RASTER_FORMAT_PNG)
        for (const auto& t : raster.png.texts) {
            png_text text = {};
            text.compression = PNG_TEXT_COMPRESSION_NONE;
            text.key = const_cast<char*>(t.first.c_str());
            text.text = const_cast<char*>(t.second.c_str());
            text.text_length = t.second.size();
            texts.push_back(text);
        }
    std::vector<uint8_t> row(raster.RowBytes());
    if (!WritePngSteps(s, messages, raster, texts, row, error)) return false;
    FILE* file = s.file;
    s.file = nullptr;
    if (std::fclose(file) != 0) {
        *error = std::string("cannot write it: ") + std::strerror(errno);
        return false;
    }
    return true;
}
