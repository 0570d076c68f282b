// Format choice, safe writing and depth conversion of rasters.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "support/os.h"
#include "tools/raylume/output_files.h"
#include "tools/raylume/raster.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

uint64_t FileSizeOf(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    uint64_t size = 0;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        long at = std::ftell(f);
        if (at > 0) size = static_cast<uint64_t>(at);
    }
    std::fclose(f);
    return size;
}

bool AllocateRaster(Raster* raster, RasterFailure* failure, std::string* error, uint64_t fileBytes,
                    uint64_t expansion) {
    if (raster->width <= 0 || raster->height <= 0 || raster->width > RASTER_MAX_SIDE ||
        raster->height > RASTER_MAX_SIDE) {
        *failure = RASTER_UNSUPPORTED;
        *error = "the image size " + std::to_string(raster->width) + " x " + std::to_string(raster->height) +
                 " is not one the tool takes";
        return false;
    }
    const uint64_t row = static_cast<uint64_t>(raster->width) * raster->Channels() * raster->SampleBytes();
    const uint64_t bytes = row * static_cast<uint64_t>(raster->height);
    if (bytes / static_cast<uint64_t>(raster->height) != row || bytes > RASTER_MAX_BYTES) {
        *failure = RASTER_UNSUPPORTED;
        *error = "the image of " + std::to_string(raster->width) + " x " + std::to_string(raster->height) +
                 " pixels is larger than the tool takes (16 GiB of samples)";
        return false;
    }
    if (expansion && bytes / expansion > fileBytes + 4096) {
        *failure = RASTER_UNREADABLE;
        *error = "its header promises " + std::to_string(raster->width) + " x " + std::to_string(raster->height) +
                 " pixels, more than the file can hold";
        return false;
    }
    try {
        raster->samples.resize(static_cast<size_t>(bytes));
    } catch (...) {
        *failure = RASTER_NO_MEMORY;
        *error = "not enough memory for the image's " + std::to_string(bytes / (1024 * 1024)) + " MiB of samples";
        return false;
    }
    return true;
}

bool ScaleFloatCounts(Raster* raster, RasterFailure* failure, std::string* error) {
    const size_t pixels = static_cast<size_t>(raster->width) * raster->height;
    const int32_t channels = raster->Channels();
    auto sample = [&](size_t pixel, int32_t c) {
        float v;
        std::memcpy(&v, raster->samples.data() + (pixel * channels + c) * 4, 4);
        return v;
    };
    // As for FITS: data scaled to 0..1 (99 % of the values at or below 1)
    // keeps 1 as white, whatever its hot pixels hold; data in counts takes its
    // largest value as white.
    std::vector<float> values;
    const size_t step = pixels > 1000000 ? pixels / 1000000 : 1;
    double largest = 0;
    for (size_t i = 0; i < pixels; i++)
        for (int32_t c = 0; c < raster->colours; c++) {
            const float v = sample(i, c);
            if (!std::isfinite(v)) continue;
            if (v > largest) largest = v;
            if (i % step == 0) values.push_back(v);
        }
    if (values.empty()) return true;
    const size_t at = values.size() * 99 / 100;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
    if (values[at] <= 1.0f) return true;
    FitsDetails& d = raster->fits;
    d.scaled = true;
    d.bitpix = -32;
    d.bscale = 1;
    d.bzero = 0;
    d.fullScale = largest;
    try {
        d.raw.resize(pixels * raster->colours * 4);
    } catch (...) {
        *failure = RASTER_NO_MEMORY;
        *error = "not enough memory for the image's values in counts";
        return false;
    }
    for (size_t i = 0; i < pixels; i++)
        for (int32_t c = 0; c < raster->colours; c++) {
            const float v = sample(i, c);
            std::memcpy(d.raw.data() + (i * raster->colours + c) * 4, &v, 4);
            const float scaled = d.SampleOf(v);
            std::memcpy(raster->samples.data() + (i * channels + c) * 4, &scaled, 4);
        }
    return true;
}

RasterFileFormat FormatOfName(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return RASTER_FORMAT_UNKNOWN;
    const std::string ext = Lower(path.substr(dot + 1));
    if (ext == "tif" || ext == "tiff") return RASTER_FORMAT_TIFF;
    if (ext == "png") return RASTER_FORMAT_PNG;
    if (ext == "fit" || ext == "fits" || ext == "fts") return RASTER_FORMAT_FITS;
    if (ext == "pgm" || ext == "ppm" || ext == "pnm") return RASTER_FORMAT_PNM;
    if (ext == "pfm") return RASTER_FORMAT_PFM;
    return RASTER_FORMAT_UNKNOWN;
}

RasterFileFormat FormatOfContent(const uint8_t* b, size_t size) {
    if (size >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                      (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42) ||
                      (b[0] == 'I' && b[1] == 'I' && b[2] == 43 && b[3] == 0) ||
                      (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 43)))
        return RASTER_FORMAT_TIFF;
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(b, kPng, 8) == 0) return RASTER_FORMAT_PNG;
    if (size >= 9 && std::memcmp(b, "SIMPLE  =", 9) == 0) return RASTER_FORMAT_FITS;
    if (size >= 2 && b[0] == 'P' && (b[1] == '5' || b[1] == '6')) return RASTER_FORMAT_PNM;
    if (size >= 2 && b[0] == 'P' && (b[1] == 'f' || b[1] == 'F')) return RASTER_FORMAT_PFM;
    return RASTER_FORMAT_UNKNOWN;
}

const char* FormatName(RasterFileFormat format) {
    switch (format) {
        case RASTER_FORMAT_PNM: return "PGM/PPM";
        case RASTER_FORMAT_PFM: return "PFM";
        case RASTER_FORMAT_TIFF: return "TIFF";
        case RASTER_FORMAT_PNG: return "PNG";
        case RASTER_FORMAT_FITS: return "FITS";
        default: return "unknown";
    }
}

bool FormatHoldsDepth(RasterFileFormat format, int32_t depth) {
    switch (format) {
        case RASTER_FORMAT_TIFF:
        case RASTER_FORMAT_FITS: return depth == 8 || depth == 16 || depth == 32;
        case RASTER_FORMAT_PNG:
        case RASTER_FORMAT_PNM: return depth == 8 || depth == 16;
        case RASTER_FORMAT_PFM: return depth == 32;
        default: return false;
    }
}

bool ReadRaster(const std::string& path, Raster* raster, RasterFailure* failure, std::string* error) {
    return ReadRaster(path, std::string(), raster, failure, error);
}

bool ReadRaster(const std::string& path, const std::string& hdu, Raster* raster, RasterFailure* failure,
                std::string* error) {
    *failure = RASTER_UNREADABLE;
    if (OsFolderExists(path)) {
        *error = "it is a folder, not an image file";
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    uint8_t head[16] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    *raster = Raster();
    switch (FormatOfContent(head, got)) {
        case RASTER_FORMAT_TIFF: return ReadTiffRaster(path, raster, failure, error);
        case RASTER_FORMAT_PNG: return ReadPngRaster(path, raster, failure, error);
        case RASTER_FORMAT_FITS: return ReadFitsRaster(path, hdu, raster, failure, error);
        case RASTER_FORMAT_PNM:
        case RASTER_FORMAT_PFM: return ReadPnmRaster(path, raster, failure, error);
        default:
            *failure = got == 0 ? RASTER_UNREADABLE : RASTER_UNSUPPORTED;
            *error = got == 0 ? "the file is empty"
                              : "it is not a TIFF, PNG, FITS, PGM/PPM or PFM file";
            return false;
    }
}

bool WriteRasterPending(const std::string& path, const Raster& raster, RasterFileFormat format,
                        PendingOutput* output, std::string* error) {
    output->path = path;
    output->temporary.clear();
    if (!ResolveOutputTarget(path, &output->target, error)) return false;
    output->temporary = NewTemporaryFor(output->target);
    bool ok = false;
    switch (format) {
        case RASTER_FORMAT_TIFF: ok = WriteTiffRaster(output->temporary, raster, error); break;
        case RASTER_FORMAT_PNG: ok = WritePngRaster(output->temporary, raster, error); break;
        case RASTER_FORMAT_FITS: ok = WriteFitsRaster(output->temporary, raster, error); break;
        case RASTER_FORMAT_PNM:
        case RASTER_FORMAT_PFM: ok = WritePnmRaster(output->temporary, raster, format, error); break;
        default: *error = "no format to write"; break;
    }
    if (ok) ok = FinishTemporary(*output, error);
    if (!ok) {
        std::remove(output->temporary.c_str());
        ForgetTemporary(output->temporary);
        output->temporary.clear();
    }
    return ok;
}

bool WriteRaster(const std::string& path, const Raster& raster, RasterFileFormat format, std::string* error) {
    std::vector<PendingOutput> outputs(1);
    return WriteRasterPending(path, raster, format, &outputs[0], error) && CommitOutputs(&outputs, error);
}

void ConvertRasterDepth(Raster* raster, int32_t depth) {
    if (raster->depth == depth) return;
    const size_t count = static_cast<size_t>(raster->width) * raster->height * raster->Channels();
    SampleBuffer out(count * static_cast<size_t>(depth / 8));
    auto read = [&](size_t i) -> double {
        switch (raster->depth) {
            case 8: return raster->samples[i] / 255.0;
            case 16: {
                uint16_t v;
                std::memcpy(&v, raster->samples.data() + 2 * i, 2);
                return v / 65535.0;
            }
            default: {
                float v;
                std::memcpy(&v, raster->samples.data() + 4 * i, 4);
                return v;
            }
        }
    };
    for (size_t i = 0; i < count; i++) {
        double v = read(i);
        if (depth == 32) {
            float f = static_cast<float>(v);
            std::memcpy(out.data() + 4 * i, &f, 4);
            continue;
        }
        if (!(v > 0)) v = 0;
        if (v > 1) v = 1;
        if (depth == 8) {
            out[i] = static_cast<uint8_t>(std::lround(v * 255.0));
        } else {
            uint16_t w = static_cast<uint16_t>(std::lround(v * 65535.0));
            std::memcpy(out.data() + 2 * i, &w, 2);
        }
    }
    raster->samples.swap(out);
    raster->depth = depth;
    raster->fits.scaled = false;
    raster->fits.raw.clear();
}
