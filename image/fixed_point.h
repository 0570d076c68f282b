// Unit fractions and their fixed-point product.
//
// A unit fraction is a 32-bit value in which 0xFFFFFFFE stands for 1.0; a
// percentage p becomes p × 42949672. The product of a value and a fraction is
// (u × v) >> 32 with a 64-bit intermediate in precise mode, and the 32-bit
// product of the operands shifted right by 14 and by 18 in fast mode. The
// analysis and the final render run precise; the preview may run fast.
#pragma once

#include <cstdint>

constexpr uint32_t UNIT_ONE = 0xFFFFFFFEu;
constexpr uint32_t COLOR_FULL = 0xFFFFFFu;
constexpr uint32_t PERCENT_UNIT = 42949672u;

extern bool PreciseMultiply;

inline uint32_t PreciseProduct(uint32_t u, uint32_t v) {
    return static_cast<uint32_t>((static_cast<uint64_t>(u) * v) >> 32);
}
// Fast form: the first operand is shifted by 14, the second by 18.
inline uint32_t FastProduct(uint32_t by14, uint32_t by18) { return (by14 >> 14) * (by18 >> 18); }
// The product in the mode PreciseMultiply selects; `by14` takes the shift by 14 in fast mode.
inline uint32_t UnitProduct(uint32_t by14, uint32_t by18) {
    return PreciseMultiply ? PreciseProduct(by14, by18) : FastProduct(by14, by18);
}
inline uint32_t PercentToUnit(int32_t percent) { return static_cast<uint32_t>(percent) * PERCENT_UNIT; }
