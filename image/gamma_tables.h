// Gamma tables: per gamma value, the forward tables that turn stored 8- and
// 16-bit values into linear light (0..0xFFFFFF) and the inverse tables back;
// plus the fixed alpha tables shared by every image.
#pragma once

#include <cstdint>

#include "image/image.h"

// Builds the fixed tables once per process and creates GammaTableMutex.
bool InitializeGammaTables();
// Hands out the set for `gamma`: an existing one, a new one, or with 32 sets
// (or when memory runs out) the nearest. False when no set can be had.
bool GetGammaTables(double gamma, GammaTables* tables);
// Frees every set and closes the mutex (end of a run).
void ReleaseGammaTables();
int GetGammaTableSetCount();

// Fixed tables: A8 (256) and A16 (65536) give alpha as a unit fraction;
// L8 and L16 (65536 each, indexed by a unit fraction >> 16) give it back.
const uint32_t* AlphaTable8();
const uint32_t* AlphaTable16();
const uint8_t* AlphaInverseTable8();
const uint16_t* AlphaInverseTable16();
// Builds the fixed tables if they are not yet built (no lock needed after start-up).
void EnsureFixedAlphaTables();

// Rounds to nearest, ties to even, keeping the low 32 bits.
uint32_t RoundToU32(double value);
// Test hook: the next new gamma sets fail to allocate.
void SetGammaTableAllocationFailureForTesting(bool fail);
