// Console prompts and trace displays.
#ifndef VYR_CONSOLE_UI_H_
#define VYR_CONSOLE_UI_H_

#include "Base.h"

// One key press between the before-dialog and after-dialog hook points.
CHAR16 GetKey(VOID);
VOID WaitKey(VOID);
// Hex dump to the trace at level 4, 16 bytes a row.
VOID DumpHex(CONST VOID *Data, UINTN Length);

#endif  // VYR_CONSOLE_UI_H_
