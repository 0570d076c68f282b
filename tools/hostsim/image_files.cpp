// PGM, PPM and PFM reading and writing.
#include "tools/hostsim/image_files.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// Header tokens: whitespace separated, '#' comments to the end of the line.
struct HeaderReader {
    const std::vector<uint8_t>& bytes;
    size_t at = 0;

    void SkipSpace() {
        while (at < bytes.size()) {
            if (bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n') at++;
            } else if (bytes[at] == ' ' || bytes[at] == '\t' || bytes[at] == '\r' || bytes[at] == '\n') {
                at++;
            } else {
                break;
            }
        }
    }
    std::string Token() {
        SkipSpace();
        std::string token;
        while (at < bytes.size() && !std::isspace(bytes[at])) token += static_cast<char>(bytes[at++]);
        return token;
    }
    // The single whitespace byte that ends the header.
    bool EndOfHeader() {
        if (at >= bytes.size() || !std::isspace(bytes[at])) return false;
        at++;
        return true;
    }
};

bool ParsePositive(const std::string& token, long long limit, long long* value) {
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

bool DecodePnm(const std::vector<uint8_t>& bytes, bool colour, SimDocument& document, std::string* error) {
    HeaderReader header{bytes};
    header.at = 2;
    long long width, height, maxval;
    if (!ParsePositive(header.Token(), 1 << 30, &width) || !ParsePositive(header.Token(), 1 << 30, &height) ||
        !ParsePositive(header.Token(), 65535, &maxval) || !header.EndOfHeader())
        return Fail(error, "bad PGM/PPM header");
    const bool wide = maxval > 255;
    const size_t channels = colour ? 3 : 1;
    const size_t sampleBytes = wide ? 2 : 1;
    const size_t need = static_cast<size_t>(width) * static_cast<size_t>(height) * channels * sampleBytes;
    if (bytes.size() - header.at < need) return Fail(error, "PGM/PPM pixel data is cut short");
    const int16 mode = colour ? (wide ? plugInModeRGB48 : plugInModeRGBColor)
                              : (wide ? plugInModeGray16 : plugInModeGrayScale);
    document = MakeSimDocument(mode, static_cast<int32>(width), static_cast<int32>(height));
    document.Allocate();
    const uint8_t* p = bytes.data() + header.at;
    const double white = SimWhite(mode);
    for (int32 y = 0; y < document.height; y++) {
        for (int32 x = 0; x < document.width; x++) {
            for (size_t c = 0; c < channels; c++) {
                double v = wide ? (p[0] << 8 | p[1]) : p[0];
                p += sampleBytes;
                if (v > maxval) v = static_cast<double>(maxval);
                document.Set(static_cast<int32>(c), x, y, maxval == white ? v : v * white / maxval);
            }
        }
    }
    return true;
}

bool DecodePfm(const std::vector<uint8_t>& bytes, bool colour, SimDocument& document, std::string* error) {
    HeaderReader header{bytes};
    header.at = 2;
    long long width, height;
    if (!ParsePositive(header.Token(), 1 << 30, &width) || !ParsePositive(header.Token(), 1 << 30, &height))
        return Fail(error, "bad PFM header");
    const std::string scaleText = header.Token();
    char* end = nullptr;
    const double scale = std::strtod(scaleText.c_str(), &end);
    if (scaleText.empty() || *end != '\0' || scale == 0 || !header.EndOfHeader())
        return Fail(error, "bad PFM scale");
    const bool littleEndian = scale < 0;
    const size_t channels = colour ? 3 : 1;
    const size_t need = static_cast<size_t>(width) * static_cast<size_t>(height) * channels * 4;
    if (bytes.size() - header.at < need) return Fail(error, "PFM pixel data is cut short");
    document = MakeSimDocument(colour ? plugInModeRGB96 : plugInModeGray32, static_cast<int32>(width),
                               static_cast<int32>(height));
    document.Allocate();
    const uint8_t* p = bytes.data() + header.at;
    for (int32 row = 0; row < document.height; row++) {
        const int32 y = document.height - 1 - row;  // bottom row first
        for (int32 x = 0; x < document.width; x++) {
            for (size_t c = 0; c < channels; c++, p += 4) {
                uint32_t bits = littleEndian ? (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24)
                                             : (static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
                float v;
                std::memcpy(&v, &bits, 4);
                document.Set(static_cast<int32>(c), x, y, v);
            }
        }
    }
    return true;
}

}  // namespace

bool DecodeImageFile(const std::vector<uint8_t>& bytes, SimDocument& document, std::string* error) {
    if (bytes.size() < 3 || (bytes[0] != 'P'))
        return Fail(error, "not a PGM, PPM or PFM file");
    switch (bytes[1]) {
        case '5': return DecodePnm(bytes, false, document, error);
        case '6': return DecodePnm(bytes, true, document, error);
        case 'f': return DecodePfm(bytes, false, document, error);
        case 'F': return DecodePfm(bytes, true, document, error);
        default: return Fail(error, "only binary PGM (P5), PPM (P6) and PFM (Pf, PF) files are read");
    }
}

std::vector<uint8_t> EncodeImageFile(SimDocument& document) {
    document.Allocate();
    const int32 channels = document.ColorPlanes();
    char header[96];
    std::vector<uint8_t> out;
    if (document.IsFloat()) {
        std::snprintf(header, sizeof header, "P%c\n%d %d\n-1.0\n", channels == 3 ? 'F' : 'f', document.width,
                      document.height);
        out.assign(header, header + std::strlen(header));
        for (int32 y = document.height - 1; y >= 0; y--) {
            for (int32 x = 0; x < document.width; x++) {
                for (int32 c = 0; c < channels; c++) {
                    float v = static_cast<float>(document.Get(c, x, y));
                    uint32_t bits;
                    std::memcpy(&bits, &v, 4);
                    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
                }
            }
        }
        return out;
    }
    const bool wide = document.BytesPerSample() == 2;
    std::snprintf(header, sizeof header, "P%c\n%d %d\n%d\n", channels == 3 ? '6' : '5', document.width,
                  document.height, wide ? 65535 : 255);
    out.assign(header, header + std::strlen(header));
    for (int32 y = 0; y < document.height; y++) {
        for (int32 x = 0; x < document.width; x++) {
            for (int32 c = 0; c < channels; c++) {
                const double v = document.Get(c, x, y);
                if (wide) {
                    // Host 0..32768 to the file's 0..65535.
                    long scaled = std::lround((v > kSim16BitWhite ? kSim16BitWhite : v) * 65535.0 / kSim16BitWhite);
                    out.push_back(static_cast<uint8_t>(scaled >> 8));
                    out.push_back(static_cast<uint8_t>(scaled));
                } else {
                    out.push_back(static_cast<uint8_t>(v));
                }
            }
        }
    }
    return out;
}

bool ReadImageFile(const std::string& path, SimDocument& document, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return Fail(error, "cannot open " + path);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    return DecodeImageFile(bytes, document, error);
}

bool WriteImageFile(const std::string& path, SimDocument& document, std::string* error) {
    const std::vector<uint8_t> bytes = EncodeImageFile(document);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return Fail(error, "cannot create " + path);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) return Fail(error, "cannot write " + path);
    return true;
}
