// What the launcher set up for this run: its arguments and which main entry
// runs.
#ifndef VYR_RUN_STATE_H_
#define VYR_RUN_STATE_H_

#include "Base.h"

typedef struct {
  UINT32 Argc;  // as registered; the strings stay the launcher's
  CHAR16 **Argv;
  BOOLEAN FirmwareMode;  // set by UefiFlashMain, cleared by ShellFlashMain
} RUN_STATE;

extern RUN_STATE mRun;

VOID RunStateResetState(VOID);

// Registered arguments; NULL past the end.
UINT32 GetArgumentCount(VOID);
CONST CHAR16 *GetArgument(UINT32 Index);

#endif  // VYR_RUN_STATE_H_
