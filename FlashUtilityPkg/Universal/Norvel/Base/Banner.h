// The version banner.
#ifndef VYR_BANNER_H_
#define VYR_BANNER_H_

#include "Base.h"

// The shell flow's version, or the firmware flow's in firmware mode;
// WithBuild adds the build number.
VOID PrintBanner(BOOLEAN WithBuild);

#endif  // VYR_BANNER_H_
