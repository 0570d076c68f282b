// resource_gen OUTDIR: writes the binary resources that the resource script
// embeds unchanged, into OUTDIR:
//   pipl.bin    the PIPL property list (resource_description.cpp)
//   aete.bin    the AETE scripting terminology (resource_description.cpp)
//   tool.cur    cursor 194: a pointing hand, 32 x 32, black outline, white fill
//   splash.bmp  the About box's splash picture: 320 x 200, 24 bits, a dark sky
//               with one star and its four spikes
// Runs on the build machine.
#include <cmath>
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
std::vector<uint8_t> BuildCursorFile() {
    const int rowBytes = kCursorSize / 8;
    std::vector<uint8_t> xorMask(static_cast<size_t>(rowBytes * kCursorSize), 0);
    std::vector<uint8_t> andMask(static_cast<size_t>(rowBytes * kCursorSize), 0xFF);
    const int rows = static_cast<int>(sizeof kHandCursor / sizeof kHandCursor[0]);
    for (int y = 0; y < rows; y++) {
        const int stored = kCursorSize - 1 - y;  // bottom-up
        for (int x = 0; kHandCursor[y][x] != '\0' && x < kCursorSize; x++) {
            const char c = kHandCursor[y][x];
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
    Put16(out, kCursorHotSpotX);
    Put16(out, kCursorHotSpotY);
    Put32(out, imageBytes);
    Put32(out, 6 + 16);  // the image follows the directory
    PutBitmapInfoHeader(out, kCursorSize, 2 * kCursorSize, 1, static_cast<uint32_t>(xorMask.size() + andMask.size()));
    const uint8_t palette[8] = {0, 0, 0, 0, 255, 255, 255, 0};  // black, white
    out.insert(out.end(), palette, palette + 8);
    out.insert(out.end(), xorMask.begin(), xorMask.end());
    out.insert(out.end(), andMask.begin(), andMask.end());
    return out;
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
    if (!WriteFile(folder + "tool.cur", BuildCursorFile())) return 1;
    if (!WriteFile(folder + "splash.bmp", BuildSplashBitmapFile())) return 1;
    return 0;
}
