// PGM/PPM (P5, P6) and PFM (Pf, PF): the header's tokens are bounded, the
// data length is checked before any sample is read. 16-bit PGM/PPM samples
// are big-endian with white at maxval (a maxval below 65535 is scaled to the
// full range on reading, and written as 65535). PFM rows run bottom to top;
// the sign of the scale gives the byte order (negative: little-endian, which
// is what is written).
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/raylume/raster.h"

namespace {

bool Fail(RasterFailure* failure, RasterFailure kind, std::string* error, const std::string& text) {
    *failure = kind;
    *error = text;
    return false;
}

struct Header {
    FILE* file;
    int last = ' ';

    int Next() { return last = std::fgetc(file); }
    // The next whitespace-separated token, skipping '#' comments; at most 20 characters.
    bool Token(std::string* token) {
        token->clear();
        int c = Next();
        for (;;) {
            if (c == '#') {
                while (c != '\n' && c != EOF) c = Next();
            } else if (c != EOF && std::isspace(c)) {
                c = Next();
            } else {
                break;
            }
        }
        while (c != EOF && !std::isspace(c) && c != '#') {
            if (token->size() >= 20) return false;
            *token += static_cast<char>(c);
            c = Next();
        }
        // The single whitespace character after the last token ends the header.
        return !token->empty() && c != EOF && std::isspace(c);
    }
};

bool Positive(const std::string& token, long long limit, long long* value) {
    if (token.empty() || token.size() > 10) return false;
    long long v = 0;
    for (char c : token) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v <= 0 || v > limit) return false;
    *value = v;
    return true;
}

bool ReadAll(FILE* file, uint8_t* data, size_t size) { return std::fread(data, 1, size, file) == size; }

}  // namespace

bool ReadPnmRaster(const std::string& path, Raster* raster, RasterFailure* failure, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return Fail(failure, RASTER_UNREADABLE, error, std::string("cannot open it: ") + std::strerror(errno));
    Header header{file};
    char magic[2] = {0, 0};
    if (std::fread(magic, 1, 2, file) != 2 || magic[0] != 'P') {
        std::fclose(file);
        return Fail(failure, RASTER_UNREADABLE, error, "it is not a PGM, PPM or PFM file");
    }
    const bool pfm = magic[1] == 'f' || magic[1] == 'F';
    const bool colour = magic[1] == '6' || magic[1] == 'F';
    if (!pfm && magic[1] != '5' && magic[1] != '6') {
        std::fclose(file);
        return Fail(failure, RASTER_UNSUPPORTED, error, "only binary PGM (P5), PPM (P6) and PFM are read");
    }
    std::string token;
    long long width = 0, height = 0, maxval = 1;
    double scale = -1;
    bool ok = header.Token(&token) && Positive(token, RASTER_MAX_SIDE, &width) && header.Token(&token) &&
              Positive(token, RASTER_MAX_SIDE, &height) && header.Token(&token);
    if (ok && pfm) {
        char* end = nullptr;
        scale = std::strtod(token.c_str(), &end);
        ok = *end == '\0' && scale != 0 && std::isfinite(scale);
    } else if (ok) {
        ok = Positive(token, 65535, &maxval);
    }
    if (!ok) {
        std::fclose(file);
        return Fail(failure, RASTER_UNREADABLE, error, "its header is damaged");
    }
    raster->format = pfm ? RASTER_FORMAT_PFM : RASTER_FORMAT_PNM;
    raster->width = static_cast<int32_t>(width);
    raster->height = static_cast<int32_t>(height);
    raster->colours = colour ? 3 : 1;
    raster->alpha = false;
    raster->depth = pfm ? 32 : (maxval > 255 ? 16 : 8);
    // Raw samples (16-bit ones as wide in the file as in memory; floats too).
    if (!AllocateRaster(raster, failure, error, FileSizeOf(path), 1)) {
        std::fclose(file);
        return false;
    }
    const size_t fileRow = static_cast<size_t>(width) * raster->colours * (pfm ? 4 : (maxval > 255 ? 2 : 1));
    std::vector<uint8_t> row(fileRow);
    for (int32_t r = 0; r < raster->height; r++) {
        if (!ReadAll(file, row.data(), fileRow)) {
            std::fclose(file);
            return Fail(failure, RASTER_UNREADABLE, error,
                        "its pixel data is cut short (row " + std::to_string(r + 1) + " of " +
                            std::to_string(raster->height) + " is missing)");
        }
        const int32_t y = pfm ? raster->height - 1 - r : r;
        uint8_t* out = raster->Row(y);
        const size_t count = static_cast<size_t>(width) * raster->colours;
        if (pfm) {
            const bool little = scale < 0;
            for (size_t i = 0; i < count; i++) {
                const uint8_t* p = row.data() + 4 * i;
                uint32_t bits = little ? (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24)
                                       : (static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
                std::memcpy(out + 4 * i, &bits, 4);
            }
        } else if (maxval > 255) {
            for (size_t i = 0; i < count; i++) {
                uint32_t v = static_cast<uint32_t>(row[2 * i]) << 8 | row[2 * i + 1];
                if (v > static_cast<uint32_t>(maxval)) v = static_cast<uint32_t>(maxval);
                uint16_t w = maxval == 65535 ? static_cast<uint16_t>(v)
                                             : static_cast<uint16_t>((v * 65535u + maxval / 2) / maxval);
                std::memcpy(out + 2 * i, &w, 2);
            }
        } else {
            for (size_t i = 0; i < count; i++) {
                uint32_t v = row[i] > maxval ? static_cast<uint32_t>(maxval) : row[i];
                out[i] = maxval == 255 ? static_cast<uint8_t>(v) : static_cast<uint8_t>((v * 255u + maxval / 2) / maxval);
            }
        }
    }
    std::fclose(file);
    return true;
}

bool WritePnmRaster(const std::string& path, const Raster& raster, RasterFileFormat format, std::string* error) {
    const bool pfm = format == RASTER_FORMAT_PFM;
    if ((pfm && raster.depth != 32) || (!pfm && raster.depth == 32)) {
        *error = "the samples do not fit the format";
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = std::string("cannot create it: ") + std::strerror(errno);
        return false;
    }
    const bool colour = raster.colours == 3;
    if (pfm)
        std::fprintf(file, "%s\n%d %d\n-1.0\n", colour ? "PF" : "Pf", raster.width, raster.height);
    else
        std::fprintf(file, "%s\n%d %d\n%d\n", colour ? "P6" : "P5", raster.width, raster.height,
                     raster.depth == 16 ? 65535 : 255);
    const size_t bytes = raster.SampleBytes();
    std::vector<uint8_t> row(static_cast<size_t>(raster.width) * raster.colours * bytes);
    bool ok = true;
    for (int32_t r = 0; r < raster.height && ok; r++) {
        const int32_t y = pfm ? raster.height - 1 - r : r;
        const uint8_t* in = raster.Row(y);
        uint8_t* out = row.data();
        for (int32_t x = 0; x < raster.width; x++) {
            for (int32_t c = 0; c < raster.colours; c++) {
                const uint8_t* s = in + (static_cast<size_t>(x) * raster.Channels() + c) * bytes;
                if (bytes == 1) {
                    *out++ = s[0];
                } else if (bytes == 2) {
                    uint16_t v;
                    std::memcpy(&v, s, 2);
                    *out++ = static_cast<uint8_t>(v >> 8);
                    *out++ = static_cast<uint8_t>(v);
                } else {
                    uint32_t bits;
                    std::memcpy(&bits, s, 4);
                    for (int k = 0; k < 4; k++) *out++ = static_cast<uint8_t>(bits >> (8 * k));
                }
            }
        }
        ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
    }
    if (std::fclose(file) != 0) ok = false;
    if (!ok) *error = std::string("cannot write it: ") + std::strerror(errno);
    return ok;
}
