// Hex dumps of buffers to the trace.
#ifndef VYR_HEX_DUMP_H_
#define VYR_HEX_DUMP_H_

#include "Base.h"

// Rows of 16 bytes at level 4, with their text; nothing when no trace takes them.
VOID DumpHex(CONST VOID *Data, UINTN Length);

#endif  // VYR_HEX_DUMP_H_
