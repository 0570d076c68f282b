#include "gl/half_float.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

namespace {
// Half to float: mantissa (2048), exponent (64) and offset (64) tables;
// float to half: base and shift tables (512 each), indexed by sign and exponent.
struct HalfTables {
    uint32_t mantissa[2048];
    uint32_t exponent[64];
    uint16_t offset[64];
    uint16_t base[512];
    uint8_t shift[512];
    uint8_t gamma8[256];
    uint16_t gamma16[65536];
    uint16_t gammaHalf[65536];
};
HalfTables* gTables = nullptr;
std::once_flag gOnce;

uint32_t ConvertMantissa(uint32_t i) {
    uint32_t m = i << 13, e = 0;
    while (!(m & 0x00800000u)) {  // normalise a subnormal
        e -= 0x00800000u;
        m <<= 1;
    }
    m &= ~0x00800000u;
    e += 0x38800000u;
    return m | e;
}

void Build(HalfTables* t) {
    t->mantissa[0] = 0;
    for (uint32_t i = 1; i < 1024; ++i) t->mantissa[i] = ConvertMantissa(i);
    for (uint32_t i = 1024; i < 2048; ++i) t->mantissa[i] = 0x38000000u + ((i - 1024) << 13);
    t->exponent[0] = 0;
    for (uint32_t i = 1; i < 31; ++i) t->exponent[i] = i << 23;
    t->exponent[31] = 0x47800000u;
    t->exponent[32] = 0x80000000u;
    for (uint32_t i = 33; i < 63; ++i) t->exponent[i] = 0x80000000u + ((i - 32) << 23);
    t->exponent[63] = 0xC7800000u;
    for (uint32_t i = 0; i < 64; ++i) t->offset[i] = (i == 0 || i == 32) ? 0 : 1024;
    for (int i = 0; i < 256; ++i) {
        int e = i - 127;
        uint16_t base;
        uint8_t shift;
        if (e < -25) {  // too small: zero
            base = 0x0000;
            shift = 32;
        } else if (e < -14) {  // subnormal half: the leading one is shifted in
            base = 0x0000;
            shift = static_cast<uint8_t>(-e - 1);
        } else if (e <= 15) {  // normal half
            base = static_cast<uint16_t>((e + 15) << 10);
            shift = 13;
        } else {  // too large, infinity, NaN
            base = 0x7C00;
            shift = 32;
        }
        t->base[i] = base;
        t->base[i | 0x100] = static_cast<uint16_t>(base | 0x8000);
        t->shift[i] = t->shift[i | 0x100] = shift;
    }
    const double exponent = 1.0 / 2.2;
    for (int i = 0; i < 256; ++i)
        t->gamma8[i] = static_cast<uint8_t>(std::lround(255.0 * std::pow(i / 255.0, exponent)));
    for (int i = 0; i < 65536; ++i)
        t->gamma16[i] = static_cast<uint16_t>(std::lround(65535.0 * std::pow(i / 65535.0, exponent)));
}
}  // namespace

bool InitializeHalfFloatTables() {
    std::call_once(gOnce, [] {
        auto* t = new (std::nothrow) HalfTables;
        if (!t) return;
        Build(t);
        gTables = t;
        for (int i = 0; i < 65536; ++i) t->gammaHalf[i] = FloatToHalf(t->gamma16[i] / 65535.0f);
    });
    return gTables != nullptr;
}

float HalfToFloat(uint16_t half) {
    uint32_t bits = gTables->mantissa[gTables->offset[half >> 10] + (half & 0x3FF)] + gTables->exponent[half >> 10];
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

uint16_t FloatToHalf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    uint32_t index = bits >> 23;  // sign and exponent
    uint32_t mantissa = bits & 0x007FFFFFu;
    uint8_t shift = gTables->shift[index];
    uint32_t half = gTables->base[index];
    if ((index & 0xFF) == 0xFF) return static_cast<uint16_t>(half | (mantissa ? 0x200 : 0));  // NaN keeps a bit
    if (shift == 32) return static_cast<uint16_t>(half);
    uint32_t full = shift == 13 ? mantissa : (mantissa | 0x00800000u);
    uint32_t kept = full >> shift;
    uint32_t rest = full & ((1u << shift) - 1);
    uint32_t halfway = 1u << (shift - 1);
    uint32_t result = half + kept;
    // To nearest, ties to even; a carry moves into the exponent (or to infinity) by itself.
    if (rest > halfway || (rest == halfway && (kept & 1))) ++result;
    return static_cast<uint16_t>(result);
}

const uint8_t* DisplayGammaTable8() { return gTables->gamma8; }
const uint16_t* DisplayGammaTable16() { return gTables->gamma16; }
const uint16_t* DisplayGammaTableHalf() { return gTables->gammaHalf; }
