// The run's result code, shared by every part of a filter run: 0 while all is
// well; the first failure sets it and later ones do not overwrite it. Long
// loops on any thread read it to stop early.
#pragma once

#include <cstdint>

// The codes a run ends with, as the host sees them.
constexpr int16_t RUN_OK = 0;
constexpr int16_t RUN_OUT_OF_MEMORY = -108;      // memory or handles
constexpr int16_t RUN_MISSING_PARAMETERS = -30100;
constexpr int16_t RUN_BAD_PARAMETERS = -50;      // parameters, colour management or the image read
constexpr int16_t RUN_CANCELLED = -128;
constexpr int16_t RUN_RENDER_FAILED = -20;       // a render section
constexpr int16_t RUN_THREAD_FAILED = -1715;     // the thread pool

// The plug-in entry points this at the host's result for the call; otherwise
// it is a process-wide value of its own.
void SetRunResultTarget(int16_t* target);
int16_t GetGlobalErrorCode();
// Sets the code unless one is already set; returns the code now in force.
int16_t SetGlobalErrorCode(int16_t code);
// Overwrites the code (only where a step explicitly replaces it).
void ForceGlobalErrorCode(int16_t code);

// Memory running short during a run: every failed allocation notes it, so
// that a later failure it caused (a colour transform, a library's complaint
// about a struct it could not build) is reported as what it is.
void NoteMemoryShortage();
bool MemoryRanShort();
void ResetMemoryShortage();
// `code`, unless memory ran short in this run: then RUN_OUT_OF_MEMORY.
int16_t FailureCodeUnlessMemory(int16_t code);
