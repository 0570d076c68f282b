// The simulated host's open document: one layer of samples in one of the
// image modes the filter is offered in, an optional transparency plane and an
// optional selection.
//
// Samples are kept plane by plane, row by row, at the host's own depths:
// 8-bit 0..255, 16-bit 0..32768 (hosts do not use the full 16-bit range) and
// 32-bit float, nominally 0..1. The pixels are only allocated on first use,
// so a test can describe a 30000 x 30000 document and stop after prepare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/host_abi.h"

constexpr int32 kSim16BitWhite = 32768;

struct SimDocument {
    int16 mode = plugInModeRGBColor;
    int32 width = 0;
    int32 height = 0;
    bool transparency = false;  // one extra plane after the colour planes
    bool hasMask = false;       // a selection: one byte per pixel, 255 selected
    Fixed resolution = 72 << 16;

    // Colour planes then the transparency plane, each width x height samples.
    std::vector<std::vector<uint8_t>> planes;
    std::vector<uint8_t> mask;  // width x height when hasMask and allocated

    int32 ColorPlanes() const;
    int32 PlaneCount() const;
    int32 BytesPerSample() const;
    int32 Depth() const;  // bits per sample: 8, 16 or 32
    bool IsFloat() const;
    bool Allocated() const;
    // Allocates zeroed colour planes, an opaque transparency plane and a full
    // selection. Does nothing when already allocated.
    void Allocate();
    size_t PixelBytes() const;  // bytes of all planes together

    // The raw sample (0..255, 0..32768 or the float), allocating on first use.
    double Get(int32 plane, int32 x, int32 y);
    void Set(int32 plane, int32 x, int32 y, double value);
    uint8_t* SampleAddress(int32 plane, int32 x, int32 y);
    uint8_t MaskAt(int32 x, int32 y);
    void SetMask(int32 x, int32 y, uint8_t value);
};

// Modes the simulator can hold: 1 Gray8, 3 RGB8, 10 Gray16, 11 RGB48,
// 16 RGB96 (float), 17 Gray32 (float).
bool SimModeSupported(int16 mode);
const char* SimModeName(int16 mode);
int32 SimColorPlanes(int16 mode);
int32 SimBytesPerSample(int16 mode);

// A document of the size and mode, not yet allocated. The selection, when
// asked for, is the ellipse inscribed in the image.
SimDocument MakeSimDocument(int16 mode, int32 width, int32 height, bool transparency = false, bool mask = false);

// Selects the ellipse inscribed in the image (255 inside, 0 outside).
void SetEllipticSelection(SimDocument& document);
// Adds an opaque transparency plane to a document without one.
void AddOpaqueTransparency(SimDocument& document);

// Fills the colour planes with a reproducible pattern: a dark sky with a few
// bright points of different sizes, so that runs have something to look at.
void FillSkyPattern(SimDocument& document, uint32_t seed);

// The largest sample value of the mode's depth (255, 32768 or 1.0).
double SimWhite(int16 mode);
