// FITS through cfitsio: an image HDU (the first that holds an image, or the
// one asked for), 2-D or a cube of 1 or 3 planes; written back with the
// file's other HDUs copied as they were.
// cfitsio's status is threaded through every call and checked once per step.
// FITS rows count from the bottom: file row r (1-based) is raster row
// height − r.
#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "tools/raylume/raster.h"

namespace {

bool Fail(RasterFailure* failure, RasterFailure kind, std::string* error, const std::string& text) {
    *failure = kind;
    *error = text;
    return false;
}

std::string StatusText(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return text;
}

struct FitsCloser {
    fitsfile* file = nullptr;
    ~FitsCloser() {
        int status = 0;
        if (file) fits_close_file(file, &status);
    }
};

// cfitsio data type of a raw sample of `bitpix`.
int RawType(int bitpix) {
    switch (bitpix) {
        case BYTE_IMG: return TBYTE;
        case SHORT_IMG: return TSHORT;
        case LONG_IMG: return TINT;
        case FLOAT_IMG: return TFLOAT;
        default: return TDOUBLE;
    }
}

bool Structural(const char* card) {
    static const char* const kKeys[] = {"SIMPLE  ", "XTENSION", "BITPIX  ", "NAXIS", "EXTEND  ", "END     ",
                                        "PCOUNT  ", "GCOUNT  "};
    for (const char* key : kKeys)
        if (std::strncmp(card, key, std::strlen(key)) == 0) return true;
    return false;
}

// Moves to the HDU to read: the one `wanted` names (an extension number, 0
// the primary, or an EXTNAME), else the first image HDU with two or more
// axes. False with the reason.
bool MoveToImage(fitsfile* file, const std::string& wanted, int* chosen, int* count, std::string* reason) {
    int status = 0;
    if (fits_get_num_hdus(file, count, &status)) {
        *reason = "its structure is damaged: " + StatusText(status);
        return false;
    }
    if (!wanted.empty()) {
        char* end = nullptr;
        const long number = std::strtol(wanted.c_str(), &end, 10);
        if (end != wanted.c_str() && *end == 0) {
            if (number < 0 || number >= *count) {
                *reason = "it has no HDU " + wanted + " (it holds " + std::to_string(*count) + ": 0 to " +
                          std::to_string(*count - 1) + ")";
                return false;
            }
            *chosen = static_cast<int>(number) + 1;
        } else {
            if (fits_movnam_hdu(file, IMAGE_HDU, const_cast<char*>(wanted.c_str()), 0, &status)) {
                *reason = "it has no image extension named '" + wanted + "'";
                return false;
            }
            fits_get_hdu_num(file, chosen);
        }
        int type = 0;
        if (fits_movabs_hdu(file, *chosen, &type, &status) || type != IMAGE_HDU) {
            *reason = "its HDU " + wanted + " is a table, not an image";
            return false;
        }
        return true;
    }
    for (int i = 1; i <= *count; i++) {
        int type = 0, naxis = 0;
        if (fits_movabs_hdu(file, i, &type, &status)) {
            *reason = "its HDU " + std::to_string(i - 1) + " is damaged: " + StatusText(status);
            return false;
        }
        if (type != IMAGE_HDU) continue;
        if (fits_get_img_dim(file, &naxis, &status)) {
            *reason = "the header of its HDU " + std::to_string(i - 1) + " is damaged: " + StatusText(status);
            return false;
        }
        if (naxis >= 2) {
            *chosen = i;
            return true;
        }
    }
    *reason = "none of its " + std::to_string(*count) + " HDUs holds an image of 2 or more axes";
    return false;
}

// A card cfitsio would refuse to write back is reported now, while reading.
bool CheckCard(const char* card, int index, std::string* reason) {
    int status = 0;
    char value[FLEN_VALUE] = {}, comment[FLEN_COMMENT] = {};
    if (fits_test_record(const_cast<char*>(card), &status) == 0 &&
        (std::strncmp(card, "COMMENT ", 8) == 0 || std::strncmp(card, "HISTORY ", 8) == 0 ||
         std::strncmp(card, "        ", 8) == 0 || fits_parse_value(const_cast<char*>(card), value, comment, &status) == 0))
        return true;
    *reason = "its header card " + std::to_string(index) + " ('" + std::string(card, strnlen(card, 8)) +
              "') is damaged: " + StatusText(status);
    return false;
}

}  // namespace

double FitsDetails::Raw(size_t i) const {
    const uint8_t* p = raw.data() + i * static_cast<size_t>(std::abs(bitpix) / 8);
    switch (bitpix) {
        case BYTE_IMG: return *p;
        case SHORT_IMG: { int16_t v; std::memcpy(&v, p, 2); return v; }
        case LONG_IMG: { int32_t v; std::memcpy(&v, p, 4); return v; }
        case FLOAT_IMG: { float v; std::memcpy(&v, p, 4); return v; }
        default: { double v; std::memcpy(&v, p, 8); return v; }
    }
}

void FitsDetails::SetRaw(size_t i, double value) {
    uint8_t* p = raw.data() + i * static_cast<size_t>(std::abs(bitpix) / 8);
    auto held = [](double v, double low, double high) {
        if (!(v >= low)) return low;  // NaN too
        return v > high ? high : std::nearbyint(v);
    };
    switch (bitpix) {
        case BYTE_IMG: *p = static_cast<uint8_t>(held(value, 0, 255)); break;
        case SHORT_IMG: { int16_t v = static_cast<int16_t>(held(value, -32768, 32767)); std::memcpy(p, &v, 2); break; }
        case LONG_IMG: { int32_t v = static_cast<int32_t>(held(value, -2147483648.0, 2147483647.0)); std::memcpy(p, &v, 4); break; }
        case FLOAT_IMG: { float v = static_cast<float>(value); std::memcpy(p, &v, 4); break; }
        default: std::memcpy(p, &value, 8); break;
    }
}

bool ReadFitsRaster(const std::string& path, const std::string& hdu, Raster* raster, RasterFailure* failure,
                    std::string* error) {
    FitsCloser fits;
    int status = 0;
    // A leading '!' or a bracket would mean something to cfitsio: open the name as it is.
    if (fits_open_diskfile(&fits.file, path.c_str(), READONLY, &status))
        return Fail(failure, RASTER_UNREADABLE, error, "cfitsio cannot open it: " + StatusText(status));
    int chosen = 1, hduCount = 1;
    std::string reason;
    if (!MoveToImage(fits.file, hdu, &chosen, &hduCount, &reason))
        return Fail(failure, hdu.empty() ? RASTER_UNSUPPORTED : RASTER_UNREADABLE, error, reason);
    raster->fits.hdu = chosen;
    raster->fits.hduCount = hduCount;
    raster->fits.source = path;
    int bitpix = 0, naxis = 0;
    long naxes[4] = {0, 0, 0, 0};
    if (fits_get_img_param(fits.file, 4, &bitpix, &naxis, naxes, &status))
        return Fail(failure, RASTER_UNREADABLE, error, "its header is damaged: " + StatusText(status));
    if (naxis < 2 || naxis > 3 || (naxis == 3 && naxes[2] != 1 && naxes[2] != 3))
        return Fail(failure, RASTER_UNSUPPORTED, error,
                    "FITS data of " + std::to_string(naxis) + " axes" +
                        (naxis == 3 ? " with " + std::to_string(naxes[2]) + " planes" : std::string()) +
                        " is not supported; a 2-D image or a cube of 3 colour planes is");
    raster->format = RASTER_FORMAT_FITS;
    if (naxes[0] <= 0 || naxes[1] <= 0 || naxes[0] > RASTER_MAX_SIDE || naxes[1] > RASTER_MAX_SIDE)
        return Fail(failure, RASTER_UNREADABLE, error, "its size is not valid");
    raster->width = static_cast<int32_t>(naxes[0]);
    raster->height = static_cast<int32_t>(naxes[1]);
    raster->colours = naxis == 3 && naxes[2] == 3 ? 3 : 1;
    raster->alpha = false;

    FitsDetails& d = raster->fits;
    d.bitpix = bitpix;
    int keyStatus = 0;
    if (fits_read_key_dbl(fits.file, "BZERO", &d.bzero, nullptr, &keyStatus)) {
        if (keyStatus != KEY_NO_EXIST)
            return Fail(failure, RASTER_UNREADABLE, error, "its BZERO keyword is damaged: " + StatusText(keyStatus));
        d.bzero = 0;
    }
    keyStatus = 0;
    if (fits_read_key_dbl(fits.file, "BSCALE", &d.bscale, nullptr, &keyStatus)) {
        if (keyStatus != KEY_NO_EXIST)
            return Fail(failure, RASTER_UNREADABLE, error, "its BSCALE keyword is damaged: " + StatusText(keyStatus));
        d.bscale = 1;
    }
    if (d.bscale == 0) d.bscale = 1;
    const bool direct8 = bitpix == BYTE_IMG && d.bzero == 0 && d.bscale == 1;
    const bool direct16 = bitpix == SHORT_IMG && d.bzero == 32768 && d.bscale == 1;
    d.scaled = !direct8 && !direct16;
    raster->depth = direct8 ? 8 : (direct16 ? 16 : 32);

    int cards = 0;
    if (fits_get_hdrspace(fits.file, &cards, nullptr, &status))
        return Fail(failure, RASTER_UNREADABLE, error, "its header is damaged: " + StatusText(status));
    for (int i = 1; i <= cards; i++) {
        char card[FLEN_CARD] = {};
        if (fits_read_record(fits.file, i, card, &status))
            return Fail(failure, RASTER_UNREADABLE, error, "its header is damaged: " + StatusText(status));
        if (Structural(card)) continue;
        if (!CheckCard(card, i, &reason)) return Fail(failure, RASTER_UNREADABLE, error, reason);
        d.cards.push_back(card);
    }
    // FITS data is raw: a file holds at least its data (floats may be wider in memory than 8-bit raw).
    if (!AllocateRaster(raster, failure, error, FileSizeOf(path), 4)) return false;

    const size_t count = static_cast<size_t>(raster->width) * raster->height * raster->colours;
    const int planes = raster->colours;
    const size_t pixels = static_cast<size_t>(raster->width);
    if (d.scaled) {
        try {
            d.raw.assign(count * static_cast<size_t>(std::abs(bitpix) / 8), 0);
        } catch (...) {
            return Fail(failure, RASTER_NO_MEMORY, error, "not enough memory for the image's raw values");
        }
        // Raw values, exactly as stored: cfitsio applies no scaling.
        fits_set_bscale(fits.file, 1.0, 0.0, &status);
    }
    std::vector<uint8_t> row(pixels * 8);
    for (int p = 0; p < planes; p++) {
        for (int32_t r = 1; r <= raster->height; r++) {
            long first[3] = {1, r, p + 1};
            const int type = d.scaled ? RawType(bitpix) : (direct8 ? TBYTE : TUSHORT);
            if (fits_read_pix(fits.file, type, first, static_cast<LONGLONG>(pixels), nullptr, row.data(), nullptr,
                              &status))
                return Fail(failure, RASTER_UNREADABLE, error,
                            "its data cannot be read (" + StatusText(status) + "); the file may be cut short");
            const int32_t y = raster->height - r;
            const size_t elementBytes = d.scaled ? static_cast<size_t>(std::abs(bitpix) / 8) : raster->SampleBytes();
            for (size_t x = 0; x < pixels; x++) {
                const size_t index = (static_cast<size_t>(y) * pixels + x) * planes + p;
                if (d.scaled)
                    std::memcpy(d.raw.data() + index * elementBytes, row.data() + x * elementBytes, elementBytes);
                else
                    std::memcpy(raster->samples.data() + index * elementBytes, row.data() + x * elementBytes,
                                elementBytes);
            }
        }
    }
    if (d.scaled) {
        double datamax = 0;
        keyStatus = 0;
        if (fits_read_key_dbl(fits.file, "DATAMAX", &datamax, nullptr, &keyStatus) || !(datamax > 0)) {
            // Data scaled to 0..1 (99 % of the values at or below 1) keeps 1 as
            // white, whatever its hot pixels hold; data in counts takes its
            // largest value as white.
            std::vector<double> values;
            const size_t step = count > 1000000 ? count / 1000000 : 1;
            double largest = 0;
            for (size_t i = 0; i < count; i++) {
                const double v = d.Raw(i) * d.bscale + d.bzero;
                if (!std::isfinite(v)) continue;
                if (v > largest) largest = v;
                if (i % step == 0) values.push_back(v);
            }
            double high = 0;
            if (!values.empty()) {
                const size_t at = values.size() * 99 / 100;
                std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
                high = values[at];
            }
            datamax = high <= 1.0 ? 1.0 : largest;
        }
        d.fullScale = datamax;
        for (size_t i = 0; i < count; i++) {
            const float v = d.SampleOf(d.Raw(i));
            std::memcpy(raster->samples.data() + 4 * i, &v, 4);
        }
    }
    return true;
}

bool WriteFitsRaster(const std::string& path, const Raster& raster, std::string* error) {
    if (raster.alpha) {
        *error = "FITS holds no alpha";
        return false;
    }
    FitsCloser fits;
    int status = 0;
    if (fits_create_diskfile(&fits.file, path.c_str(), &status)) {
        *error = "cfitsio cannot create it: " + StatusText(status);
        return false;
    }
    const bool keepRaw = raster.format == RASTER_FORMAT_FITS && raster.fits.scaled && !raster.fits.raw.empty();
    const bool sameFormat = raster.format == RASTER_FORMAT_FITS;
    // The file's other HDUs, before and after the image, copied as they were.
    FitsCloser source;
    const bool others = sameFormat && raster.fits.hduCount > 1 && !raster.fits.source.empty();
    if (others && fits_open_diskfile(&source.file, raster.fits.source.c_str(), READONLY, &status)) {
        *error = "cfitsio cannot open '" + raster.fits.source + "' again to copy its other HDUs: " + StatusText(status);
        return false;
    }
    auto copyHdus = [&](int from, int to) {
        for (int i = from; others && i <= to && !status; i++) {
            int type = 0;
            fits_movabs_hdu(source.file, i, &type, &status);
            fits_copy_hdu(source.file, fits.file, 0, &status);
        }
    };
    copyHdus(1, raster.fits.hdu - 1);
    if (status) {
        *error = "cfitsio cannot copy the HDUs before the image: " + StatusText(status);
        return false;
    }
    int bitpix = keepRaw ? raster.fits.bitpix : (raster.depth == 8 ? BYTE_IMG : raster.depth == 16 ? USHORT_IMG : FLOAT_IMG);
    long naxes[3] = {raster.width, raster.height, raster.colours};
    fits_create_img(fits.file, bitpix, raster.colours == 3 ? 3 : 2, naxes, &status);
    // The cards cfitsio has just written itself (its standard comments) are not written twice.
    std::vector<std::string> present;
    int written = 0;
    fits_get_hdrspace(fits.file, &written, nullptr, &status);
    for (int i = 1; i <= written && !status; i++) {
        char card[FLEN_CARD] = {};
        fits_read_record(fits.file, i, card, &status);
        present.push_back(card);
    }
    if (sameFormat)
        for (const std::string& card : raster.fits.cards) {
            if (std::find(present.begin(), present.end(), card) != present.end()) continue;
            // The scaling of a re-encoded image is cfitsio's own (BZERO for unsigned 16 bits).
            if (!keepRaw && (card.compare(0, 8, "BZERO   ") == 0 || card.compare(0, 8, "BSCALE  ") == 0)) continue;
            fits_write_record(fits.file, card.c_str(), &status);
        }
    if (status) {
        *error = "cfitsio cannot write its header: " + StatusText(status);
        return false;
    }
    if (keepRaw) fits_set_bscale(fits.file, 1.0, 0.0, &status);
    const size_t pixels = static_cast<size_t>(raster.width);
    const int planes = raster.colours;
    const size_t elementBytes = keepRaw ? static_cast<size_t>(std::abs(bitpix) / 8) : raster.SampleBytes();
    const int type = keepRaw ? RawType(bitpix) : (raster.depth == 8 ? TBYTE : raster.depth == 16 ? TUSHORT : TFLOAT);
    std::vector<uint8_t> row(pixels * 8);
    for (int p = 0; p < planes && !status; p++) {
        for (int32_t r = 1; r <= raster.height && !status; r++) {
            const int32_t y = raster.height - r;
            for (size_t x = 0; x < pixels; x++) {
                const size_t index = (static_cast<size_t>(y) * pixels + x) * planes + p;
                const uint8_t* from = keepRaw ? raster.fits.raw.data() + index * elementBytes
                                              : raster.samples.data() + index * elementBytes;
                std::memcpy(row.data() + x * elementBytes, from, elementBytes);
            }
            long first[3] = {1, r, p + 1};
            fits_write_pix(fits.file, type, first, static_cast<LONGLONG>(pixels), row.data(), &status);
        }
    }
    copyHdus(raster.fits.hdu + 1, raster.fits.hduCount);
    fitsfile* file = fits.file;
    fits.file = nullptr;
    fits_close_file(file, &status);
    if (status) {
        *error = "cfitsio cannot write it: " + StatusText(status);
        return false;
    }
    return true;
}
