// The simulated document: sample storage and a test pattern.
#include "tools/hostsim/sim_document.h"

#include <cmath>
#include <cstring>

bool SimModeSupported(int16 mode) {
    switch (mode) {
        case plugInModeGrayScale:
        case plugInModeRGBColor:
        case plugInModeGray16:
        case plugInModeRGB48:
        case plugInModeRGB96:
        case plugInModeGray32: return true;
        default: return false;
    }
}

const char* SimModeName(int16 mode) {
    switch (mode) {
        case plugInModeGrayScale: return "Gray8";
        case plugInModeRGBColor: return "RGB8";
        case plugInModeGray16: return "Gray16";
        case plugInModeRGB48: return "RGB48";
        case plugInModeRGB96: return "RGB96";
        case plugInModeGray32: return "Gray32";
        default: return "unsupported";
    }
}

int32 SimColorPlanes(int16 mode) {
    return (mode == plugInModeGrayScale || mode == plugInModeGray16 || mode == plugInModeGray32) ? 1 : 3;
}

int32 SimBytesPerSample(int16 mode) {
    if (mode == plugInModeGray16 || mode == plugInModeRGB48) return 2;
    if (mode == plugInModeRGB96 || mode == plugInModeGray32) return 4;
    return 1;
}

double SimWhite(int16 mode) {
    switch (SimBytesPerSample(mode)) {
        case 2: return kSim16BitWhite;
        case 4: return 1.0;
        default: return 255;
    }
}

int32 SimDocument::ColorPlanes() const { return SimColorPlanes(mode); }
int32 SimDocument::PlaneCount() const { return ColorPlanes() + (transparency ? 1 : 0); }
int32 SimDocument::BytesPerSample() const { return SimBytesPerSample(mode); }
int32 SimDocument::Depth() const { return 8 * BytesPerSample(); }
bool SimDocument::IsFloat() const { return BytesPerSample() == 4; }
bool SimDocument::Allocated() const { return !planes.empty(); }

size_t SimDocument::PixelBytes() const {
    return static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(BytesPerSample()) *
           static_cast<size_t>(PlaneCount());
}

void SimDocument::Allocate() {
    if (Allocated()) return;
    const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(height);
    planes.assign(static_cast<size_t>(PlaneCount()), std::vector<uint8_t>(samples * BytesPerSample(), 0));
    if (transparency) {
        const int32 plane = ColorPlanes();
        for (int32 y = 0; y < height; y++)
            for (int32 x = 0; x < width; x++) Set(plane, x, y, SimWhite(mode));
    }
    if (hasMask && mask.size() != samples) mask.assign(samples, 255);
}

uint8_t* SimDocument::SampleAddress(int32 plane, int32 x, int32 y) {
    Allocate();
    const size_t index = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
    return planes[static_cast<size_t>(plane)].data() + index * static_cast<size_t>(BytesPerSample());
}

double SimDocument::Get(int32 plane, int32 x, int32 y) {
    const uint8_t* p = SampleAddress(plane, x, y);
    switch (BytesPerSample()) {
        case 1: return *p;
        case 2: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        default: {
            float v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

void SimDocument::Set(int32 plane, int32 x, int32 y, double value) {
    uint8_t* p = SampleAddress(plane, x, y);
    switch (BytesPerSample()) {
        case 1: *p = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : std::lround(value)); break;
        case 2: {
            uint16_t v = static_cast<uint16_t>(value < 0 ? 0 : value > 65535 ? 65535 : std::lround(value));
            std::memcpy(p, &v, 2);
            break;
        }
        default: {
            float v = static_cast<float>(value);
            std::memcpy(p, &v, 4);
            break;
        }
    }
}

uint8_t SimDocument::MaskAt(int32 x, int32 y) {
    if (!hasMask) return 255;
    Allocate();
    return mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}

void SimDocument::SetMask(int32 x, int32 y, uint8_t value) {
    if (!hasMask) return;
    Allocate();
    mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = value;
}

SimDocument MakeSimDocument(int16 mode, int32 width, int32 height, bool transparency, bool mask) {
    SimDocument document;
    document.mode = mode;
    document.width = width;
    document.height = height;
    document.transparency = transparency;
    if (mask) SetEllipticSelection(document);
    return document;
}

void SetEllipticSelection(SimDocument& document) {
    document.hasMask = true;
    document.mask.clear();
    // Drawn here only for documents small enough to be filled at all; a huge
    // one gets a full selection when its pixels are first used.
    const size_t samples = static_cast<size_t>(document.width) * static_cast<size_t>(document.height);
    if (samples > (size_t(1) << 28)) return;
    document.mask.assign(samples, 0);
    const double cx = document.width / 2.0, cy = document.height / 2.0;
    for (int32 y = 0; y < document.height; y++) {
        for (int32 x = 0; x < document.width; x++) {
            const double dx = (x + 0.5 - cx) / cx, dy = (y + 0.5 - cy) / cy;
            if (dx * dx + dy * dy <= 1.0) document.mask[static_cast<size_t>(y) * document.width + x] = 255;
        }
    }
}

void AddOpaqueTransparency(SimDocument& document) {
    if (document.transparency) return;
    document.transparency = true;
    if (!document.Allocated()) return;  // Allocate makes it opaque
    const size_t samples = static_cast<size_t>(document.width) * static_cast<size_t>(document.height);
    document.planes.emplace_back(samples * document.BytesPerSample(), 0);
    const int32 plane = document.ColorPlanes();
    for (int32 y = 0; y < document.height; y++)
        for (int32 x = 0; x < document.width; x++) document.Set(plane, x, y, SimWhite(document.mode));
}

namespace {
// A small linear congruential generator: the pattern must not depend on the
// standard library's random engines, which differ between the two builds.
uint32_t NextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}
}  // namespace

void FillSkyPattern(SimDocument& document, uint32_t seed) {
    document.Allocate();
    const double white = SimWhite(document.mode);
    const int32 colours = document.ColorPlanes();
    for (int32 y = 0; y < document.height; y++) {
        for (int32 x = 0; x < document.width; x++) {
            const double sky = 0.02 + 0.06 * y / (document.height > 1 ? document.height - 1 : 1);
            for (int32 p = 0; p < colours; p++) document.Set(p, x, y, sky * white * (p == 2 ? 1.4 : 1.0));
        }
    }
    uint32_t state = seed ? seed : 1u;
    const int32 stars = 3 + (document.width * document.height) / 4096;
    for (int32 s = 0; s < stars; s++) {
        const int32 cx = static_cast<int32>(NextRandom(state) % static_cast<uint32_t>(document.width));
        const int32 cy = static_cast<int32>(NextRandom(state) % static_cast<uint32_t>(document.height));
        const double radius = 0.5 + (NextRandom(state) % 400) / 100.0;
        const double tint[3] = {1.0, 0.85 + (NextRandom(state) % 15) / 100.0, 0.7 + (NextRandom(state) % 30) / 100.0};
        const int32 reach = static_cast<int32>(radius * 3) + 1;
        for (int32 y = cy - reach; y <= cy + reach; y++) {
            for (int32 x = cx - reach; x <= cx + reach; x++) {
                if (x < 0 || y < 0 || x >= document.width || y >= document.height) continue;
                const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                const double light = std::exp(-d2 / (2 * radius * radius));
                for (int32 p = 0; p < colours; p++) {
                    double v = document.Get(p, x, y) + light * white * (colours == 1 ? 1.0 : tint[p]);
                    if (!document.IsFloat() && v > white) v = white;
                    document.Set(p, x, y, v);
                }
            }
        }
    }
}
