// The launcher's last call: the completion request, and the hold of a forced
// firmware update on the platforms that must not return to the firmware.
#ifndef VYR_END_PROGRAM_H_
#define VYR_END_PROGRAM_H_

#include "Base.h"

BOOLEAN EFIAPI EndProgram(VOID);

#endif  // VYR_END_PROGRAM_H_
