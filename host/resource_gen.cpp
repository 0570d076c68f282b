// resource_gen OUTDIR: writes the binary resources that the resource script
// embeds unchanged, into OUTDIR:
//   pipl.bin    the PIPL property list (resource_description.cpp)
//   aete.bin    the AETE scripting terminology (resource_description.cpp)
//   tool.cur    cursor 194: a pointing hand, 32 x 32, black outline, white fill
//   proxy_*.cur the preview window's cursors 3001..3007 (ui/dialog_ids.h):
//               open and grabbing hand, zoom in, zoom out, zoom at its limit,
//               hide and show effects; 32 x 32, black with a white outline
//   splash.bmp  the About box's splash picture: 320 x 200, 24 bits, a dark sky
//               with one star and its four spikes
// Runs on the build machine.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/resource_description.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "resource_gen: cannot create %s\n", path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "resource_gen: cannot write %s\n", path.c_str());
        std::remove(path.c_str());
        return false;
    }
    return true;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// BITMAPINFOHEADER.
void PutBitmapInfoHeader(std::vector<uint8_t>& out, int32_t width, int32_t height, uint16_t bits, uint32_t imageSize) {
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1);  // planes
    Put16(out, bits);
    Put32(out, 0);  // BI_RGB
    Put32(out, imageSize);
    Put32(out, 2835);  // 72 dpi
    Put32(out, 2835);
    Put32(out, 0);  // colours used: all
    Put32(out, 0);  // important: all
}

// ---------------------------------------------------------------------------
// Cursor 194
// ---------------------------------------------------------------------------

// 'X' black, '.' white, anything else transparent. The hot spot is the tip
// of the index finger.
const char* const kHandCursor[] = {
    "",
    "      XX",
    "     X..X",
    "     X..X",
    "     X..X",
    "     X..X",
    "     X..XXX",
    "     X..X..XXX",
    "     X..X..X..XX",
    "  XX X..X..X..X.X",
    " X..XX........X..X",
    " X...X...........X",
    "  X..............X",
    "  X..............X",
    "   X.............X",
    "   X............X",
    "    X...........X",
    "    X..........X",
    "     X.........X",
    "     X.........X",
    "     XXXXXXXXXXX",
};
const uint16_t kCursorHotSpotX = 6;
const uint16_t kCursorHotSpotY = 1;
const int kCursorSize = 32;

// A monochrome .cur file: directory, one entry, then the DIB with its XOR
// (colour) and AND (transparency) masks, both bottom-up, one bit per pixel.
// `rows` is a picture as above: 'X' black, '.' white, anything else transparent.
std::vector<uint8_t> BuildCursorFile(const std::vector<std::string>& rows, uint16_t hotSpotX, uint16_t hotSpotY) {
    const int rowBytes = kCursorSize / 8;
    std::vector<uint8_t> xorMask(static_cast<size_t>(rowBytes * kCursorSize), 0);
    std::vector<uint8_t> andMask(static_cast<size_t>(rowBytes * kCursorSize), 0xFF);
    const int rowCount = std::min(static_cast<int>(rows.size()), kCursorSize);
    for (int y = 0; y < rowCount; y++) {
        const int stored = kCursorSize - 1 - y;  // bottom-up
        const int width = std::min(static_cast<int>(rows[y].size()), kCursorSize);
        for (int x = 0; x < width; x++) {
            const char c = rows[y][x];
            if (c != 'X' && c != '.') continue;
            const size_t byte = static_cast<size_t>(stored * rowBytes + x / 8);
            const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
            andMask[byte] &= static_cast<uint8_t>(~bit);  // opaque
            if (c == '.') xorMask[byte] |= bit;           // colour 1: white
        }
    }
    const uint32_t imageBytes = 40 + 8 + static_cast<uint32_t>(xorMask.size() + andMask.size());
    std::vector<uint8_t> out;
    Put16(out, 0);  // reserved
    Put16(out, 2);  // cursor
    Put16(out, 1);  // one image
    out.push_back(kCursorSize);
    out.push_back(kCursorSize);
    out.push_back(2);  // colours
    out.push_back(0);
    Put16(out, hotSpotX);
    Put16(out, hotSpotY);
    Put32(out, imageBytes);
    Put32(out, 6 + 16);  // the image follows the directory
    PutBitmapInfoHeader(out, kCursorSize, 2 * kCursorSize, 1, static_cast<uint32_t>(xorMask.size() + andMask.size()));
    const uint8_t palette[8] = {0, 0, 0, 0, 255, 255, 255, 0};  // black, white
    out.insert(out.end(), palette, palette + 8);
    out.insert(out.end(), xorMask.begin(), xorMask.end());
    out.insert(out.end(), andMask.begin(), andMask.end());
    return out;
}

std::vector<uint8_t> BuildToolCursorFile() {
    return BuildCursorFile(std::vector<std::string>(std::begin(kHandCursor), std::end(kHandCursor)), kCursorHotSpotX,
                           kCursorHotSpotY);
}

// ---------------------------------------------------------------------------
// The preview window's cursors 3001..3007
// ---------------------------------------------------------------------------

// The pictures are drawn from shapes on pixel centres (x + 0.5, y + 0.5): a
// black mask and a white fill; every black pixel gets a white halo so that
// the cursor reads on dark and light images alike.
struct CursorPicture {
    bool black[kCursorSize][kCursorSize] = {};
    bool white[kCursorSize][kCursorSize] = {};
    uint16_t hotSpotX = 0, hotSpotY = 0;

    template <class Inside>
    void Black(Inside inside) {
        for (int y = 0; y < kCursorSize; y++)
            for (int x = 0; x < kCursorSize; x++)
                if (inside(x + 0.5, y + 0.5)) black[y][x] = true;
    }
    template <class Inside>
    void White(Inside inside) {
        for (int y = 0; y < kCursorSize; y++)
            for (int x = 0; x < kCursorSize; x++)
                if (inside(x + 0.5, y + 0.5)) white[y][x] = true;
    }
    // A white figure with a one-pixel black border.
    template <class Inside>
    void Outlined(Inside inside) {
        for (int y = 0; y < kCursorSize; y++)
            for (int x = 0; x < kCursorSize; x++) {
                if (inside(x + 0.5, y + 0.5)) {
                    white[y][x] = true;
                    continue;
                }
                for (int dy = -1; dy <= 1; dy++)
                    for (int dx = -1; dx <= 1; dx++)
                        if (inside(x + dx + 0.5, y + dy + 0.5)) black[y][x] = true;
            }
    }
    bool BlackAt(int x, int y) const {
        return x >= 0 && y >= 0 && x < kCursorSize && y < kCursorSize && black[y][x];
    }
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows(kCursorSize, std::string(kCursorSize, ' '));
        for (int y = 0; y < kCursorSize; y++)
            for (int x = 0; x < kCursorSize; x++) {
                bool halo = false;
                for (int dy = -1; dy <= 1; dy++)
                    for (int dx = -1; dx <= 1; dx++) halo = halo || BlackAt(x + dx, y + dy);
                rows[y][x] = black[y][x] ? 'X' : (white[y][x] || halo) ? '.' : ' ';
            }
        return rows;
    }
};

// Distance from (px, py) to the segment (ax, ay)-(bx, by).
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / length2 : 0;
    t = std::max(0.0, std::min(1.0, t));
    const double ex = ax + t * dx - px, ey = ay + t * dy - py;
    return std::sqrt(ex * ex + ey * ey);
}

// An open hand (fingers spread) or a grabbing hand (fingers curled); the hot
// spot is the middle of the palm.
CursorPicture HandPicture(bool grabbing) {
    CursorPicture p;
    // Four fingers, three pixels wide with one-pixel gaps, and the thumb.
    const double fingerLeft[4] = {6, 10, 14, 18};
    const double openTops[4] = {7, 4, 5, 8};
    const double grabTops[4] = {11, 10, 10, 11};
    const double* tops = grabbing ? grabTops : openTops;
    p.Outlined([&](double x, double y) {
        for (int i = 0; i < 4; i++) {
            const double cx = fingerLeft[i] + 1.5;
            if (SegmentDistance(x, y, cx, tops[i] + 1.5, cx, 16) <= 1.5) return true;
        }
        // The palm, with rounded lower corners.
        if (x >= 6 && x <= 21 && y >= 14 && y <= 25) {
            const double cornerX = x < 9 ? 9 : x > 18 ? 18 : x;
            const double cornerY = y > 22 ? 22 : y;
            return (x - cornerX) * (x - cornerX) + (y - cornerY) * (y - cornerY) <= 9.0;
        }
        return grabbing ? SegmentDistance(x, y, 6.5, 21, 3.5, 17) <= 1.6
                        : SegmentDistance(x, y, 6.5, 21, 2.5, 14) <= 1.6;
    });
    p.hotSpotX = 13;
    p.hotSpotY = 17;
    return p;
}

// A magnifying glass with a plus, a minus or an empty lens; the hot spot is
// the middle of the lens.
enum LensSign { LENS_PLUS, LENS_MINUS, LENS_EMPTY };
CursorPicture MagnifierPicture(LensSign sign) {
    CursorPicture p;
    const double cx = 11, cy = 11;
    auto distance = [=](double x, double y) { return std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)); };
    p.White([&](double x, double y) { return distance(x, y) <= 7.5; });
    p.Black([&](double x, double y) {
        const double d = distance(x, y);
        if (d > 7.5 && d <= 9.7) return true;  // the rim
        if (d > 7.5 && SegmentDistance(x, y, 16.5, 16.5, 27, 27) <= 2.2) return true;  // the handle
        const bool across = y > 10 && y < 12 && x > 7 && x < 15;
        const bool upright = x > 10 && x < 12 && y > 7 && y < 15;
        return (sign != LENS_EMPTY && across) || (sign == LENS_PLUS && upright);
    });
    p.hotSpotX = 11;
    p.hotSpotY = 11;
    return p;
}

// A cross hair to aim at a star, and beside it a four-spiked star (show) or
// the same star in a prohibition sign (hide); the hot spot is the cross hair's middle.
CursorPicture EffectsPicture(bool hide) {
    CursorPicture p;
    const double c = 8.5;
    p.Black([&](double x, double y) {
        const bool horizontal = std::fabs(y - c) < 0.5 && std::fabs(x - c) <= 7 && std::fabs(x - c) >= 2.5;
        const bool vertical = std::fabs(x - c) < 0.5 && std::fabs(y - c) <= 7 && std::fabs(y - c) >= 2.5;
        const bool dot = std::fabs(x - c) < 0.5 && std::fabs(y - c) < 0.5;
        if (horizontal || vertical || dot) return true;
        const double sx = 22, sy = 22, dx = x - sx, dy = y - sy;
        const bool spike = (std::fabs(dy) < 0.6 && std::fabs(dx) < 7) || (std::fabs(dx) < 0.6 && std::fabs(dy) < 7);
        const bool core = std::fabs(dx) + std::fabs(dy) <= 2.6;
        // Hiding strikes the star through from bottom left to top right, leaving a gap on either side.
        const double across = (dx + dy) / std::sqrt(2.0), along = (dx - dy) / std::sqrt(2.0);
        if (hide && std::fabs(along) <= 7.5) {
            if (std::fabs(across) <= 1.0) return true;
            if (std::fabs(across) <= 2.2) return false;
        }
        return spike || core;
    });
    p.hotSpotX = 8;
    p.hotSpotY = 8;
    return p;
}

struct NamedCursor {
    const char* file;
    CursorPicture picture;
};

std::vector<NamedCursor> PreviewCursors() {
    return {
        {"proxy_hand_open.cur", HandPicture(false)},     // 3001
        {"proxy_hand_grab.cur", HandPicture(true)},      // 3002
        {"proxy_zoom_in.cur", MagnifierPicture(LENS_PLUS)},    // 3003
        {"proxy_zoom_out.cur", MagnifierPicture(LENS_MINUS)},  // 3004
        {"proxy_zoom_limit.cur", MagnifierPicture(LENS_EMPTY)},  // 3005
        {"proxy_hide.cur", EffectsPicture(true)},        // 3006
        {"proxy_show.cur", EffectsPicture(false)},       // 3007
    };
}

// ---------------------------------------------------------------------------
// Splash bitmap
// ---------------------------------------------------------------------------

const int kSplashWidth = 320;
const int kSplashHeight = 200;

uint8_t ToByte(double v) { return static_cast<uint8_t>(v <= 0 ? 0 : v >= 255 ? 255 : std::lround(v)); }

// A night sky: deep blue at the top fading to black, faint background stars
// and one bright star with four diffraction spikes, right of centre.
void SplashPixel(int x, int y, uint32_t* seed, double rgb[3]) {
    const double fall = 1.0 - static_cast<double>(y) / (kSplashHeight - 1);  // 1 at the top
    rgb[0] = 4 + 10 * fall;
    rgb[1] = 6 + 16 * fall;
    rgb[2] = 14 + 38 * fall;
    *seed = *seed * 1664525u + 1013904223u;
    if ((*seed >> 8) % 997 == 0) {
        const double star = 60 + (*seed >> 20) % 80;
        for (int c = 0; c < 3; c++) rgb[c] += star;
    }
    const double dx = x - 212.0, dy = y - 86.0;
    const double d2 = dx * dx + dy * dy;
    double light = 230 * std::exp(-d2 / 18.0) + 40 * std::exp(-d2 / 600.0);
    light += 90 * std::exp(-dy * dy / 0.8) * std::exp(-std::fabs(dx) / 38.0);  // horizontal spike
    light += 90 * std::exp(-dx * dx / 0.8) * std::exp(-std::fabs(dy) / 38.0);  // vertical spike
    rgb[0] += light * 0.95;
    rgb[1] += light * 0.97;
    rgb[2] += light;
}

// A .bmp file: file header, info header, rows bottom-up padded to 4 bytes.
std::vector<uint8_t> BuildSplashBitmapFile() {
    const uint32_t rowBytes = (kSplashWidth * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * kSplashHeight;
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 14 + 40 + imageBytes);
    Put32(out, 0);
    Put32(out, 14 + 40);
    PutBitmapInfoHeader(out, kSplashWidth, kSplashHeight, 24, imageBytes);
    std::vector<uint8_t> pixels(imageBytes, 0);
    uint32_t seed = 20240611u;
    for (int y = 0; y < kSplashHeight; y++) {
        uint8_t* row = pixels.data() + (kSplashHeight - 1 - y) * rowBytes;
        for (int x = 0; x < kSplashWidth; x++) {
            double rgb[3];
            SplashPixel(x, y, &seed, rgb);
            row[3 * x] = ToByte(rgb[2]);  // stored blue, green, red
            row[3 * x + 1] = ToByte(rgb[1]);
            row[3 * x + 2] = ToByte(rgb[0]);
        }
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource_gen OUTDIR\n");
        return 2;
    }
    std::string folder = argv[1];
    if (!folder.empty() && folder.back() != '/') folder += '/';
    if (!WriteFile(folder + "pipl.bin", BuildPiplResource())) return 1;
    if (!WriteFile(folder + "aete.bin", BuildAeteResource())) return 1;
    if (!WriteFile(folder + "tool.cur", BuildToolCursorFile())) return 1;
    for (const NamedCursor& cursor : PreviewCursors()) {
        const CursorPicture& p = cursor.picture;
        if (!WriteFile(folder + cursor.file, BuildCursorFile(p.Rows(), p.hotSpotX, p.hotSpotY))) return 1;
    }
    if (!WriteFile(folder + "splash.bmp", BuildSplashBitmapFile())) return 1;
    return 0;
}
