#include "image/fixed_point.h"

// Precise by default; the preview task chooses for itself.
bool PreciseMultiply = true;
