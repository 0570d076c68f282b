#include "image/lcms_version.h"

#include <lcms2.h>

int GetLittleCmsVersion() { return cmsGetEncodedCMMversion(); }
