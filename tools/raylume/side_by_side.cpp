// rl_side_by_side: a before/after picture for the documentation. The same
// crop of two or more images of one size, side by side with dark gaps,
// written as an 8-bit RGB PNG.
//
//   rl_side_by_side BEFORE AFTER [MORE...] OUT.png [--crop X,Y,W,H]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/raylume/raster.h"

namespace {

int Fail(const std::string& text) {
    std::fprintf(stderr, "rl_side_by_side: %s\n", text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* usage = "usage: rl_side_by_side BEFORE AFTER [MORE...] OUT.png [--crop X,Y,W,H]";
    int cx = 0, cy = 0, cw = 0, ch = 0;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--crop") == 0 && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%d,%d,%d,%d", &cx, &cy, &cw, &ch) != 4 || cx < 0 || cy < 0 || cw <= 0 || ch <= 0)
                return Fail("--crop takes X,Y,W,H");
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            return Fail(std::string("unknown option ") + argv[i]);
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.size() < 3) return Fail(usage);
    const std::string output = paths.back();
    paths.pop_back();
    std::vector<Raster> images(paths.size());
    for (size_t k = 0; k < paths.size(); k++) {
        RasterFailure failure;
        std::string error;
        if (!ReadRaster(paths[k], &images[k], &failure, &error)) return Fail(paths[k] + ": " + error);
        ConvertRasterDepth(&images[k], 8);
        if (images[k].width != images[0].width || images[k].height != images[0].height)
            return Fail("the images differ in size");
    }
    if (cw == 0) {
        cw = images[0].width;
        ch = images[0].height;
    }
    if (cx + cw > images[0].width || cy + ch > images[0].height) return Fail("the crop lies outside the images");
    const int gap = 6;
    const int panels = static_cast<int>(images.size());
    Raster out;
    out.width = panels * cw + (panels - 1) * gap;
    out.height = ch;
    out.colours = 3;
    out.depth = 8;
    out.format = RASTER_FORMAT_PNG;
    RasterFailure failure;
    std::string error;
    if (!AllocateRaster(&out, &failure, &error)) return Fail(error);
    for (int y = 0; y < ch; y++) std::memset(out.Row(y), 40, static_cast<size_t>(out.width) * 3);
    for (int k = 0; k < panels; k++) {
        const Raster& in = images[static_cast<size_t>(k)];
        for (int y = 0; y < ch; y++)
            for (int x = 0; x < cw; x++) {
                const uint8_t* p = in.Row(cy + y) + static_cast<size_t>(cx + x) * in.Channels();
                uint8_t* q = out.Row(y) + static_cast<size_t>(k * (cw + gap) + x) * 3;
                for (int c = 0; c < 3; c++) q[c] = p[in.colours == 3 ? c : 0];
            }
    }
    if (!WriteRaster(output, out, RASTER_FORMAT_PNG, &error)) return Fail(output + ": " + error);
    return 0;
}
