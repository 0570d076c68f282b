// An image file's pixels in the form the engine takes them, with what is
// needed to write the file back as it came.
//
// Samples are held top row first (as the picture is displayed), each pixel
// its colours (one grey or red, green, blue) and then its alpha when the file
// has one, in the engine's sample type: 8-bit and 16-bit unsigned integers or
// 32-bit floats, in native byte order. 8- and 16-bit integers use the whole
// range (0..255, 0..65535 = white); floats have white at 1.0.
//
// Formats, each read and written by the field's own library:
//  - TIFF (libtiff): 8/16-bit integer and 32-bit float, grey or RGB, with or
//    without alpha, strips or tiles, uncompressed, LZW or deflate; the
//    embedded ICC profile and the descriptive tags are kept.
//  - PNG (libpng): 8/16-bit grey or RGB, with or without alpha; iCCP, sRGB
//    and gAMA are kept and give the image's profile.
//  - FITS (cfitsio): a 2-D image or a 3-plane RGB cube, BITPIX 8, 16, 32,
//    -32 or -64 with BZERO/BSCALE; the header is kept. FITS counts rows from
//    the bottom (row 1 is the lowest on screen), so the first FITS row is the
//    raster's last. BITPIX 8 and unsigned 16 (BZERO 32768) map straight to
//    8/16-bit samples; other data become floats with white at the data's
//    full scale: DATAMAX when the header has it; else 1.0 for data scaled to
//    0..1 (99 % of the values at or below 1), else the largest value
//    (data in counts). Every pixel no effect changes is written back with its
//    original raw value.
//  - PGM/PPM (P5, P6; 8 or 16 bit) and PFM (Pf, PF; 32-bit float, rows bottom
//    first), written by this file's own small codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/os.h"

enum RasterFileFormat : int32_t {
    RASTER_FORMAT_UNKNOWN = 0,
    RASTER_FORMAT_PNM,  // PGM/PPM
    RASTER_FORMAT_PFM,
    RASTER_FORMAT_TIFF,
    RASTER_FORMAT_PNG,
    RASTER_FORMAT_FITS,
};

// Why a file could not be read or written; the tool's exit code follows it.
enum RasterFailure : int32_t {
    RASTER_OK = 0,
    RASTER_UNREADABLE,    // missing, unreadable, cut short or lying
    RASTER_UNSUPPORTED,   // a real file of a kind the tool does not take (CMYK, palette, 1-bit, 4-D, ...)
    RASTER_UNWRITABLE,    // the output could not be written
    RASTER_NO_MEMORY,     // the pixels do not fit in memory
};

struct TiffDetails {
    uint16_t compression = 1;  // COMPRESSION_NONE, LZW or (ADOBE_)DEFLATE
    uint16_t predictor = 1;
    uint16_t extraSample = 2;  // EXTRASAMPLE_UNASSALPHA unless the file said associated
    bool hasResolution = false;
    float xResolution = 0, yResolution = 0;
    uint16_t resolutionUnit = 2;
    std::vector<std::pair<uint32_t, std::string>> texts;  // ASCII tags kept as they were
    int32_t pages = 1;  // images in the file; the first is the one read
};

struct PngDetails {
    bool srgb = false;
    int srgbIntent = 0;
    bool hasGamma = false;
    double gamma = 0;  // as the file stores it (1/2.2 for the usual encoding)
    std::vector<std::pair<std::string, std::string>> texts;  // tEXt chunks
    bool fromPalette = false;  // a palette image, read (and written) as RGB
};

struct FitsDetails {
    int32_t bitpix = 16;
    double bzero = 0, bscale = 1;
    bool scaled = false;         // samples are floats: (raw × bscale + bzero) / fullScale
    double fullScale = 1;        // physical value shown as white
    std::vector<std::string> cards;  // header cards other than the structural ones
    // The image's place in its file: HDU `hdu` (1 = primary) of `hduCount`.
    // Written back as FITS, the file's other HDUs are copied from `source`
    // as they were.
    int32_t hdu = 1, hduCount = 1;
    std::string source;
    // When `scaled`: the raw values as stored (native byte order, |bitpix| / 8
    // bytes each, raster order); what is written back.
    std::vector<uint8_t> raw;

    // The raw value of sample i as a number.
    double Raw(size_t i) const;
    // Stores `value` as raw sample i, rounded and held to the type's range.
    void SetRaw(size_t i, double value);
    // The engine sample (float) a raw value stands for.
    float SampleOf(double raw) const { return static_cast<float>((raw * bscale + bzero) / fullScale); }
};

// Bytes that are not zeroed when the buffer grows: every sample is written by
// a reader or a conversion before it is read, and a large picture is not
// cleared for nothing.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) {}
    T* allocate(size_t n) {
        T* block = std::allocator<T>::allocate(n);
        OsAdviseLargeBlock(block, n * sizeof(T));
        return block;
    }
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... A>
    void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};
using SampleBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

struct Raster {
    int32_t width = 0, height = 0;
    int32_t colours = 3;   // 1 (grey) or 3 (RGB)
    bool alpha = false;
    int32_t depth = 16;    // bits per sample: 8, 16 or 32 (float)
    SampleBuffer samples;
    std::vector<uint8_t> icc;  // the embedded ICC profile, empty when none

    RasterFileFormat format = RASTER_FORMAT_UNKNOWN;
    TiffDetails tiff;
    PngDetails png;
    FitsDetails fits;

    int32_t Channels() const { return colours + (alpha ? 1 : 0); }
    size_t SampleBytes() const { return static_cast<size_t>(depth / 8); }
    size_t RowBytes() const { return static_cast<size_t>(width) * Channels() * SampleBytes(); }
    uint8_t* Row(int32_t y) { return samples.data() + static_cast<size_t>(y) * RowBytes(); }
    const uint8_t* Row(int32_t y) const { return samples.data() + static_cast<size_t>(y) * RowBytes(); }
};

// Largest raster the tool takes: 2^30 samples per side and 2^34 bytes of samples.
constexpr int64_t RASTER_MAX_SIDE = 1 << 30;
constexpr uint64_t RASTER_MAX_BYTES = 1ull << 34;

// Sizes the sample buffer, checking the size for overflow first. False with
// RASTER_NO_MEMORY or RASTER_UNSUPPORTED (too large) and a reason. A reader
// passes `fileBytes` and `expansion`, the most its format's data can grow
// when decoded (1 for raw samples, about 1000 for deflate): a header that
// promises more than the file can hold is refused (RASTER_UNREADABLE) before
// anything is allocated.
bool AllocateRaster(Raster* raster, RasterFailure* failure, std::string* error, uint64_t fileBytes = 0,
                    uint64_t expansion = 0);
// The size of a file, or 0.
uint64_t FileSizeOf(const std::string& path);

// The format a file name's extension names (.tif/.tiff, .png, .fit/.fits/.fts,
// .pgm/.ppm/.pnm, .pfm; any case), or RASTER_FORMAT_UNKNOWN.
RasterFileFormat FormatOfName(const std::string& path);
// The format a file's first bytes show, or RASTER_FORMAT_UNKNOWN.
RasterFileFormat FormatOfContent(const uint8_t* bytes, size_t size);
const char* FormatName(RasterFileFormat format);
// Whether `format` can hold samples of `depth` bits (TIFF and FITS: all;
// PNG and PGM/PPM: 8 and 16; PFM: 32).
bool FormatHoldsDepth(RasterFileFormat format, int32_t depth);

// Reads a file; its content decides the format. False with the failure and
// one sentence saying what is wrong.
bool ReadRaster(const std::string& path, Raster* raster, RasterFailure* failure, std::string* error);
// The same, choosing a FITS file's image by `hdu`: an extension number (0 the
// primary HDU, 1 the first extension) or an extension's EXTNAME. Empty: the
// first HDU that holds an image.
bool ReadRaster(const std::string& path, const std::string& hdu, Raster* raster, RasterFailure* failure,
                std::string* error);
// Writes `raster` as `format` (its own format keeps every detail it read;
// another format writes what that format can hold). The file is written to a
// temporary file beside `path`, flushed and renamed over it, so a failure
// leaves no partial file and any old file as it was.
bool WriteRaster(const std::string& path, const Raster& raster, RasterFileFormat format, std::string* error);
// The same up to the last step: the complete file waits beside its target
// (tools/raylume/output_files.h) for CommitOutputs with the job's other outputs.
struct PendingOutput;
bool WriteRasterPending(const std::string& path, const Raster& raster, RasterFileFormat format,
                        PendingOutput* output, std::string* error);
// Float samples in counts (values far above 1, 99 % of them above 1) are
// scaled as FITS data is: the largest value becomes white, and the values as
// the file holds them are kept in `fits.raw` for writing back (FitsDetails
// then describes them: `scaled`, 32-bit float, full scale the largest value).
// Data already in 0..1 is left as it is. False only when memory runs out.
bool ScaleFloatCounts(Raster* raster, RasterFailure* failure, std::string* error);
// Converts the samples to `depth` bits (8, 16 or 32): integers scale by
// full range, floats clip to 0..1 on the way to integers.
void ConvertRasterDepth(Raster* raster, int32_t depth);

// The format codecs (raster_*.cpp); the paths are opened by the codecs'
// libraries. Writers write to `path` itself (the caller renames).
bool ReadTiffRaster(const std::string& path, Raster* raster, RasterFailure* failure, std::string* error);
bool WriteTiffRaster(const std::string& path, const Raster& raster, std::string* error);
bool ReadPngRaster(const std::string& path, Raster* raster, RasterFailure* failure, std::string* error);
bool WritePngRaster(const std::string& path, const Raster& raster, std::string* error);
bool ReadFitsRaster(const std::string& path, const std::string& hdu, Raster* raster, RasterFailure* failure,
                    std::string* error);
bool WriteFitsRaster(const std::string& path, const Raster& raster, std::string* error);
bool ReadPnmRaster(const std::string& path, Raster* raster, RasterFailure* failure, std::string* error);
bool WritePnmRaster(const std::string& path, const Raster& raster, RasterFileFormat format, std::string* error);
