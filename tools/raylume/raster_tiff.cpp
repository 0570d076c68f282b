// TIFF through libtiff: contiguous grey or RGB samples (with an alpha extra
// sample), 8/16-bit unsigned or 32-bit IEEE float, in strips or tiles, any
// compression libtiff decodes; written back as strips with the file's own
// compression (none, LZW or deflate), predictor, ICC profile, resolution and
// text tags. libtiff's messages are collected, not printed.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <memory>

#include "tools/raylume/raster.h"

namespace {

thread_local std::string tLastTiffMessage;

void CollectTiffMessage(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    tLastTiffMessage = module ? std::string(module) + ": " + text : std::string(text);
}

void SilenceWarnings(const char*, const char*, va_list) {}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

void InstallHandlers() {
    TIFFSetErrorHandler(CollectTiffMessage);
    TIFFSetWarningHandler(SilenceWarnings);
}

// A write that failed: the system's reason first (a full disk, a quota), then
// libtiff's words, and what to do.
std::string WriteFailure(int code) {
    std::string text = code ? std::strerror(code) : "libtiff could not write it";
    bool full = code == ENOSPC;
#ifdef EDQUOT
    full = full || code == EDQUOT;
#endif
    if (full) text += "; free some space or write to another disk";
    if (!tLastTiffMessage.empty()) text += " (" + tLastTiffMessage + ")";
    return text;
}

bool Fail(RasterFailure* failure, RasterFailure kind, std::string* error, const std::string& text) {
    *failure = kind;
    *error = text;
    return false;
}

const uint32_t kTextTags[] = {TIFFTAG_DOCUMENTNAME, TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE,     TIFFTAG_MODEL,
                              TIFFTAG_PAGENAME,     TIFFTAG_SOFTWARE,         TIFFTAG_DATETIME, TIFFTAG_ARTIST,
                              TIFFTAG_HOSTCOMPUTER, TIFFTAG_COPYRIGHT};

}  // namespace

bool ReadTiffRaster(const std::string& path, Raster* raster, RasterFailure* failure, std::string* error) {
    InstallHandlers();
    tLastTiffMessage.clear();
    TiffFile tiff(TIFFOpen(path.c_str(), "r"));
    if (!tiff)
        return Fail(failure, RASTER_UNREADABLE, error,
                    "it is not a TIFF file libtiff can open" +
                        (tLastTiffMessage.empty() ? std::string(" (its header is damaged)") : " (" + tLastTiffMessage + ")"));
    TIFF* t = tiff.get();
    // Only the first page is filtered; the caller says what happens to the others.
    raster->tiff.pages = static_cast<int32_t>(TIFFNumberOfDirectories(t));
    TIFFSetDirectory(t, 0);
    uint32_t width = 0, height = 0;
    uint16_t samplesPerPixel = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
        return Fail(failure, RASTER_UNREADABLE, error, "it has no photometric interpretation");

    if (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_RGB)
        return Fail(failure, RASTER_UNSUPPORTED, error,
                    photometric == PHOTOMETRIC_PALETTE      ? "palette TIFF images are not supported; convert it to RGB"
                    : photometric == PHOTOMETRIC_SEPARATED  ? "CMYK TIFF images are not supported; convert it to RGB"
                    : photometric == PHOTOMETRIC_MINISWHITE ? "TIFF images with white at zero are not supported"
                                                            : "only grey and RGB TIFF images are supported");
    const int32_t colours = photometric == PHOTOMETRIC_RGB ? 3 : 1;
    if (samplesPerPixel != colours && samplesPerPixel != colours + 1)
        return Fail(failure, RASTER_UNSUPPORTED, error,
                    "TIFF images with " + std::to_string(samplesPerPixel) + " samples per pixel are not supported");
    const bool floating = format == SAMPLEFORMAT_IEEEFP;
    if (!((bits == 8 || bits == 16) && format == SAMPLEFORMAT_UINT) && !(bits == 32 && floating)) {
        const char* kind = format == SAMPLEFORMAT_INT ? "signed integer" : floating ? "float" : "unsigned integer";
        return Fail(failure, RASTER_UNSUPPORTED, error,
                    "its samples are " + std::to_string(bits) + "-bit " + kind +
                        "s, which the tool does not take: it takes 8 and 16-bit unsigned integers and 32-bit "
                        "floats; convert the file to one of those");
    }
    if (planar != PLANARCONFIG_CONTIG && samplesPerPixel > 1)
        return Fail(failure, RASTER_UNSUPPORTED, error, "TIFF images with separate colour planes are not supported");

    raster->format = RASTER_FORMAT_TIFF;
    raster->width = static_cast<int32_t>(width);
    raster->height = static_cast<int32_t>(height);
    raster->colours = colours;
    raster->alpha = samplesPerPixel == colours + 1;
    raster->depth = bits;
    if (width == 0 || height == 0 || width > RASTER_MAX_SIDE || height > RASTER_MAX_SIDE)
        return Fail(failure, RASTER_UNREADABLE, error, "its size is not valid");
    uint16_t compressed = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compressed);
    if (!AllocateRaster(raster, failure, error, FileSizeOf(path), compressed == COMPRESSION_NONE ? 1 : 1100))
        return false;

    TiffDetails& d = raster->tiff;
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &d.compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &d.predictor);
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0)
        d.extraSample = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &d.xResolution) && TIFFGetField(t, TIFFTAG_YRESOLUTION, &d.yResolution)) {
        d.hasResolution = true;
        TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &d.resolutionUnit);
    }
    for (uint32_t tag : kTextTags) {
        char* text = nullptr;
        if (TIFFGetField(t, tag, &text) && text) d.texts.emplace_back(tag, text);
    }
    uint32_t iccSize = 0;
    void* icc = nullptr;
    if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        raster->icc.assign(static_cast<uint8_t*>(icc), static_cast<uint8_t*>(icc) + iccSize);

    const size_t pixelBytes = static_cast<size_t>(samplesPerPixel) * (bits / 8);
    const size_t rowBytes = raster->RowBytes();
    if (TIFFIsTiled(t)) {
        uint32_t tileWidth = 0, tileHeight = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &tileHeight);
        const tmsize_t tileSize = TIFFTileSize(t);
        if (tileWidth == 0 || tileHeight == 0 || tileSize <= 0 ||
            static_cast<uint64_t>(tileWidth) * tileHeight * pixelBytes > static_cast<uint64_t>(tileSize))
            return Fail(failure, RASTER_UNREADABLE, error, "its tile layout is damaged");
        std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
        for (uint32_t ty = 0; ty < height; ty += tileHeight)
            for (uint32_t tx = 0; tx < width; tx += tileWidth) {
                if (TIFFReadEncodedTile(t, TIFFComputeTile(t, tx, ty, 0, 0), tile.data(), tileSize) < 0)
                    return Fail(failure, RASTER_UNREADABLE, error,
                                "a tile cannot be read (" +
                                    (tLastTiffMessage.empty() ? std::string("it is short") : tLastTiffMessage) +
                                    "); the file may be cut short");
                const uint32_t w = std::min(tileWidth, width - tx), h = std::min(tileHeight, height - ty);
                for (uint32_t r = 0; r < h; r++)
                    std::memcpy(raster->Row(static_cast<int32_t>(ty + r)) + tx * pixelBytes,
                                tile.data() + static_cast<size_t>(r) * tileWidth * pixelBytes, w * pixelBytes);
            }
    } else {
        const tmsize_t scanline = TIFFScanlineSize(t);
        if (scanline <= 0 || static_cast<size_t>(scanline) != rowBytes)
            return Fail(failure, RASTER_UNREADABLE, error, "its row size does not match its header");
        uint32_t rowsPerStrip = height;
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (rowsPerStrip == 0 || rowsPerStrip > height) rowsPerStrip = height;
        const tmsize_t stripSize = TIFFStripSize(t);
        std::vector<uint8_t> strip(static_cast<size_t>(stripSize > 0 ? stripSize : 0));
        for (uint32_t y = 0; y < height; y += rowsPerStrip) {
            const uint32_t rows = std::min(rowsPerStrip, height - y);
            const tmsize_t want = static_cast<tmsize_t>(rows * rowBytes);
            if (want > stripSize ||
                TIFFReadEncodedStrip(t, TIFFComputeStrip(t, y, 0), strip.data(), want) < want)
                return Fail(failure, RASTER_UNREADABLE, error,
                            "a strip cannot be read (" + (tLastTiffMessage.empty() ? std::string("it is short") : tLastTiffMessage) +
                                "); the file may be cut short");
            std::memcpy(raster->Row(static_cast<int32_t>(y)), strip.data(), static_cast<size_t>(want));
        }
    }
    if (raster->depth == 32) return ScaleFloatCounts(raster, failure, error);
    return true;
}

bool WriteTiffRaster(const std::string& path, const Raster& raster, std::string* error) {
    InstallHandlers();
    tLastTiffMessage.clear();
    const uint64_t bytes = raster.samples.size();
    TiffFile tiff(TIFFOpen(path.c_str(), bytes > (3ull << 30) ? "w8" : "w"));  // BigTIFF beyond 3 GiB
    if (!tiff) {
        *error = "libtiff cannot create it: " + tLastTiffMessage;
        return false;
    }
    TIFF* t = tiff.get();
    const bool sameFormat = raster.format == RASTER_FORMAT_TIFF;
    const uint16_t samples = static_cast<uint16_t>(raster.Channels());
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(raster.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(raster.height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(raster.depth));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, raster.depth == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, raster.colours == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (raster.alpha) {
        uint16_t type = sameFormat ? raster.tiff.extraSample : EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &type);
    }
    uint16_t compression = COMPRESSION_NONE, predictor = PREDICTOR_NONE;
    if (sameFormat && (raster.tiff.compression == COMPRESSION_LZW || raster.tiff.compression == COMPRESSION_ADOBE_DEFLATE ||
                       raster.tiff.compression == COMPRESSION_DEFLATE)) {
        compression = raster.tiff.compression;
        predictor = raster.tiff.predictor;
        // A predictor must suit the samples (2 for integers, 3 for floats).
        if (predictor == PREDICTOR_FLOATINGPOINT && raster.depth != 32) predictor = PREDICTOR_HORIZONTAL;
        if (predictor > PREDICTOR_FLOATINGPOINT) predictor = PREDICTOR_NONE;
    } else if (!sameFormat) {
        compression = COMPRESSION_ADOBE_DEFLATE;
        predictor = raster.depth == 32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL;
    }
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    if (compression != COMPRESSION_NONE) TIFFSetField(t, TIFFTAG_PREDICTOR, predictor);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    if (sameFormat && raster.tiff.hasResolution) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, raster.tiff.xResolution);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, raster.tiff.yResolution);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, raster.tiff.resolutionUnit);
    }
    if (sameFormat)
        for (const auto& text : raster.tiff.texts) TIFFSetField(t, text.first, text.second.c_str());
    if (!raster.icc.empty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(raster.icc.size()), raster.icc.data());
    std::vector<uint8_t> row(raster.RowBytes());
    const bool countsKept = sameFormat && raster.depth == 32 && raster.fits.scaled &&
                            raster.fits.raw.size() ==
                                static_cast<size_t>(raster.width) * raster.height * raster.colours * 4;
    for (int32_t y = 0; y < raster.height; y++) {
        std::memcpy(row.data(), raster.Row(y), row.size());  // libtiff may alter the buffer it is given
        if (countsKept) {
            // Floats in counts go back in the file's own units, untouched samples bit for bit.
            for (int32_t x = 0; x < raster.width; x++)
                std::memcpy(row.data() + static_cast<size_t>(x) * raster.Channels() * 4,
                            raster.fits.raw.data() + (static_cast<size_t>(y) * raster.width + x) * raster.colours * 4,
                            static_cast<size_t>(raster.colours) * 4);
        }
        errno = 0;
        if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0) {
            *error = WriteFailure(errno);
            return false;
        }
    }
    errno = 0;
    if (!TIFFWriteDirectory(t)) {
        *error = WriteFailure(errno);
        return false;
    }
    TIFF* raw = tiff.release();
    errno = 0;
    TIFFClose(raw);
    if (!tLastTiffMessage.empty()) {
        *error = WriteFailure(errno);
        return false;
    }
    return true;
}
