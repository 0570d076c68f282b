// The effects engine's shared state: the sine and rainbow tables, the
// arithmetic mode with its threshold, the reach of the working image, the
// memo tables of the three shape kinds and the three CPU shape caches that
// the final render draws through.
//
// Geometry is in quarter pixels (qp). A distance code is round(10·√D²) for a
// squared distance D² in qp², i.e. a distance in 1/40 pixel.
#pragma once

#include <cmath>
#include <cstdint>

#include "effects/parameter_set.h"
#include "effects/shape_cache.h"

constexpr int32_t ANGLE_STEPS = 3600;               // tenths of a degree in a turn
constexpr uint32_t DISTANCE_CODE_MEMO_LIMIT = 429482;  // largest D² whose code is memoised
constexpr int32_t MEMO_SLOTS = 32768;               // slots of the soft and ring flare memos
constexpr int32_t SPIKE_FALLOFF_SLOTS = 131072;     // one slot per distance code up to 131071
constexpr int32_t MAXIMUM_SHAPE_REACH = 32767;      // element offsets are 16-bit

// Thresholds in the 24-bit pixel scale: 2^-10, 2^-12, 2^-13 of full scale for
// 1, 2 and 4 bytes per channel in precise mode, 2^-9 in fast mode.
constexpr uint32_t EFFECT_THRESHOLD_8BIT = 16384;
constexpr uint32_t EFFECT_THRESHOLD_16BIT = 4096;
constexpr uint32_t EFFECT_THRESHOLD_FLOAT = 2048;
constexpr uint32_t EFFECT_THRESHOLD_FAST = 32768;

enum EffectShapeKind : int32_t {
    SPIKE_SHAPE = 0,
    SOFT_FLARE_SHAPE = 1,
    RING_FLARE_SHAPE = 2,
    EFFECT_SHAPE_KINDS = 3,
};

// sin(i·π/1800), single precision.
extern float SineTable[ANGLE_STEPS];
// (0.5 + sin/2) as unit fractions: the rainbow's phase curve.
extern uint32_t RainbowTable[ANGLE_STEPS];
// The smallest element intensity worth storing or drawing.
extern uint32_t EffectThreshold;
// The largest distance, in pixels, any shape may extend.
extern int32_t ShapeReach;
// The host image is grey (modes 1, 10, 17): spike colours are kept grey.
extern bool EffectGrayImage;

// A memo slot: the value and the parameter it was computed for (-1: none).
struct EffectMemoSlot {
    int32_t key;
    uint32_t value;
};
// Spike falloff by A keyed by the ray length, soft flare by ⌊A/2⌋ keyed by
// Length, ring flare by A keyed by the ring size G. Each slot holds the value
// of its own index, so a memo never makes a value depend on which shapes were
// built before (the preview's, another band's): a render depends only on its
// image and parameters.
extern EffectMemoSlot SpikeFalloffMemo[SPIKE_FALLOFF_SLOTS];
extern EffectMemoSlot SoftFlareMemo[MEMO_SLOTS];
extern EffectMemoSlot RingFlareMemo[MEMO_SLOTS];

// Builds the sine and rainbow tables, invalidates the memos and resets the
// three CPU shape caches with their generators and parameter records.
void InitializeEffectTables();

// Switches the product mode; precise mode takes its threshold from the
// bytes per channel of the host image mode, fast mode uses 2^-9.
void SetEffectArithmetic(bool precise, int32_t hostImageMode);
// The host image mode (grey or colour) and the working image's size (reach).
void SetEffectImage(int32_t hostImageMode, int64_t width, int64_t height);

// Any angle in tenths of a degree reduced to 0..3599.
inline int32_t ReduceAngle(int32_t angle) {
    return angle >= 0 ? angle % ANGLE_STEPS : (ANGLE_STEPS - 1) - ((-(angle + 1)) % ANGLE_STEPS);
}

// round(10·√D²), computed: what DistanceCode memoises; safe on any thread.
inline uint32_t ComputeDistanceCode(uint64_t distanceSquared) {
    return static_cast<uint32_t>(10.0 * std::sqrt(static_cast<double>(distanceSquared)) + 0.5);
}

// Distance code of D² for one shape kind, memoised up to DISTANCE_CODE_MEMO_LIMIT.
uint32_t DistanceCode(EffectShapeKind kind, uint64_t distanceSquared);

// The CPU shape cache of a kind (static for the life of the module).
ShapeCache* EffectShapeCache(EffectShapeKind kind);
// The render's parameters into the three CPU caches (clamped on the way in).
void LoadEffectParameters(const ParameterSet& set);
// Frees the sub-shapes of the three CPU caches, which stay ready to build
// them again (generators and parameters kept).
void DiscardEffectShapes();
// End of a run: frees the elements of the three CPU caches.
void ReleaseEffectShapeCaches();
