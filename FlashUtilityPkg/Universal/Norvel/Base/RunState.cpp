#include "Base/RunState.h"

#include "BaseLib.h"

RUN_STATE mRun;

VOID RunStateResetState(VOID) { ZeroMem(&mRun, sizeof(mRun)); }

UINT32 GetArgumentCount(VOID) { return mRun.Argc; }

CONST CHAR16 *GetArgument(UINT32 Index) { return Index < mRun.Argc ? mRun.Argv[Index] : NULL; }
