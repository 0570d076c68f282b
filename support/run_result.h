// The run's result code, shared by every part of a filter run: 0 while all is
// well; the first failure sets it and later ones do not overwrite it. Long
// loops on any thread read it to stop early.
#pragma once

#include <cstdint>

// The plug-in entry points this at the host's result for the call; otherwise
// it is a process-wide value of its own.
void SetRunResultTarget(int16_t* target);
int16_t GetGlobalErrorCode();
// Sets the code unless one is already set; returns the code now in force.
int16_t SetGlobalErrorCode(int16_t code);
// Overwrites the code (only where a step explicitly replaces it).
void ForceGlobalErrorCode(int16_t code);
