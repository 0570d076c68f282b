// The star-field generator's own random numbers: a PCG32 generator (64-bit
// state, 32-bit output), so that a seed gives the same field on every
// platform and library. Each part of a field (stars, nebulae, flat areas,
// noise) draws from its own stream, so changing one option does not move
// everything else.
#pragma once

#include <cmath>
#include <cstdint>

struct StarfieldRandom {
    uint64_t state = 0;
    uint64_t increment = 1;  // odd; selects the stream
    bool hasSpare = false;   // second value of the last Gaussian pair
    double spare = 0.0;
};

inline uint32_t NextRandom32(StarfieldRandom* random) {
    const uint64_t old = random->state;
    random->state = old * 6364136223846793005ull + random->increment;
    const uint32_t shifted = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
    const uint32_t rotation = static_cast<uint32_t>(old >> 59u);
    return (shifted >> rotation) | (shifted << ((32u - rotation) & 31u));
}

inline void SeedStarfieldRandom(StarfieldRandom* random, uint64_t seed, uint64_t stream) {
    random->state = 0;
    random->increment = (stream << 1u) | 1u;
    random->hasSpare = false;
    random->spare = 0.0;
    NextRandom32(random);
    random->state += seed;
    NextRandom32(random);
}

// Uniform in [0, 1), 53 bits.
inline double NextUniform(StarfieldRandom* random) {
    const uint64_t high = NextRandom32(random) >> 5;  // 27 bits
    const uint64_t low = NextRandom32(random) >> 6;   // 26 bits
    return static_cast<double>((high << 26) | low) * (1.0 / 9007199254740992.0);
}

inline double NextUniform(StarfieldRandom* random, double low, double high) {
    return low + (high - low) * NextUniform(random);
}

// Standard normal, by the polar Box-Muller method.
inline double NextGaussian(StarfieldRandom* random) {
    if (random->hasSpare) {
        random->hasSpare = false;
        return random->spare;
    }
    double u, v, s;
    do {
        u = 2.0 * NextUniform(random) - 1.0;
        v = 2.0 * NextUniform(random) - 1.0;
        s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double factor = std::sqrt(-2.0 * std::log(s) / s);
    random->spare = v * factor;
    random->hasSpare = true;
    return u * factor;
}
