// rl_side_by_side: a before/after picture for the documentation. The same
// crop of two images of one size, side by side with a dark gap, written as an
// 8-bit RGB PNG.
//
//   rl_side_by_side BEFORE AFTER OUT.png [--crop X,Y,W,H]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/raylume/raster.h"

namespace {

int Fail(const std::string& text) {
    std::fprintf(stderr, "rl_side_by_side: %s\n", text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return Fail("usage: rl_side_by_side BEFORE AFTER OUT.png [--crop X,Y,W,H]");
    int cx = 0, cy = 0, cw = 0, ch = 0;
    for (int i = 4; i < argc; i++) {
        if (std::strcmp(argv[i], "--crop") == 0 && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%d,%d,%d,%d", &cx, &cy, &cw, &ch) != 4 || cx < 0 || cy < 0 || cw <= 0 || ch <= 0)
                return Fail("--crop takes X,Y,W,H");
        } else {
            return Fail(std::string("unknown option ") + argv[i]);
        }
    }
    Raster images[2];
    for (int k = 0; k < 2; k++) {
        RasterFailure failure;
        std::string error;
        if (!ReadRaster(argv[1 + k], &images[k], &failure, &error)) return Fail(std::string(argv[1 + k]) + ": " + error);
        ConvertRasterDepth(&images[k], 8);
    }
    if (images[0].width != images[1].width || images[0].height != images[1].height)
        return Fail("the two images differ in size");
    if (cw == 0) {
        cw = images[0].width;
        ch = images[0].height;
    }
    if (cx + cw > images[0].width || cy + ch > images[0].height) return Fail("the crop lies outside the images");
    const int gap = 6;
    Raster out;
    out.width = 2 * cw + gap;
    out.height = ch;
    out.colours = 3;
    out.depth = 8;
    out.format = RASTER_FORMAT_PNG;
    RasterFailure failure;
    std::string error;
    if (!AllocateRaster(&out, &failure, &error)) return Fail(error);
    for (int k = 0; k < 2; k++) {
        const Raster& in = images[k];
        for (int y = 0; y < ch; y++)
            for (int x = 0; x < cw; x++) {
                const uint8_t* p = in.Row(cy + y) + static_cast<size_t>(cx + x) * in.Channels();
                uint8_t* q = out.Row(y) + static_cast<size_t>(k * (cw + gap) + x) * 3;
                for (int c = 0; c < 3; c++) q[c] = p[in.colours == 3 ? c : 0];
            }
    }
    for (int y = 0; y < ch; y++) std::memset(out.Row(y) + static_cast<size_t>(cw) * 3, 40, gap * 3);
    if (!WriteRaster(argv[3], out, RASTER_FORMAT_PNG, &error)) return Fail(std::string(argv[3]) + ": " + error);
    return 0;
}
