// The usage text, paged for a 25-line console.
#ifndef VYR_USAGE_H_
#define VYR_USAGE_H_

#include "Base.h"

// One row per option, as the BIOS's command filter allows.
VOID DisplayUsage(VOID);

#endif  // VYR_USAGE_H_
