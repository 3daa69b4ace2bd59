// Extra data (-edt): the arguments collected from the command line. The run
// that hands them to the BIOS comes with the 41h/42h transfer.
#ifndef VYR_EXTRA_DATA_H_
#define VYR_EXTRA_DATA_H_

#include "Base.h"

#define EDT_TABLE_ENTRIES 9
#define EDT_ARGUMENT_CHARS 128  // 127 characters and the terminator

typedef struct {
  UINT32 Count;
  CHAR16 Table[EDT_TABLE_ENTRIES][EDT_ARGUMENT_CHARS];
} EXTRA_DATA_STATE;

extern EXTRA_DATA_STATE mExtraData;

VOID EdtResetState(VOID);

// Argument starts with "edt" (the option word without its '-' or '/'). Checks
// the type and format codes and stores the argument with its first six
// characters in lower case. A tenth argument, or one longer than 127
// characters, is refused.
BOOLEAN AddEdtArgument(CONST CHAR16 *Argument);
UINT32 GetEdtArgumentCount(VOID);
CONST CHAR16 *GetEdtArgument(UINT32 Index);  // NULL past the stored ones

#endif  // VYR_EXTRA_DATA_H_
