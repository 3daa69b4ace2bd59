// The two main entries the launcher calls by name: the shell flow and the
// firmware flow.
#ifndef VYR_MAIN_FLOW_H_
#define VYR_MAIN_FLOW_H_

#include "Base.h"

BOOLEAN EFIAPI ShellFlashMain(VOID);
BOOLEAN EFIAPI UefiFlashMain(VOID);

#endif  // VYR_MAIN_FLOW_H_
