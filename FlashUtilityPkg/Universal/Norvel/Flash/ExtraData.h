// Extra data for the BIOS: the FWSMI 42h transfer (pieces of an -edt item, or
// one PFAT packet) and the -edt run that announces each stored item with 41h
// and sends its bytes in 64 KiB pieces.
#ifndef VYR_FLASH_EXTRA_DATA_H_
#define VYR_FLASH_EXTRA_DATA_H_

#include "Base.h"

#define EXTRA_DATA_CONTINUE 0xEF  // CL: more pieces follow
#define EXTRA_DATA_LAST 0x00      // CL: this is the last piece
#define EXTRA_DATA_ONE_PIECE_MAX 0x40000
#define EXTRA_DATA_PIECE_SIZE 0x10000
#define EXTRA_DATA_MAX_PIECES 255  // the piece index is 8 bits wide

// One 42h transfer: Data (Length bytes) goes into FWSMI buffer 1, ESI its
// address, EDI the length, CL the continuation byte, CH the index. Status
// gets the final AL (may be NULL).
BOOLEAN Fwsmi_42h(UINT8 Continuation, UINT8 Index, CONST VOID *Data, UINT32 Length, UINT8 *Status);
BOOLEAN FuncFwsmi_42h(UINT8 Continuation, UINT8 Index, CONST VOID *Data, UINT32 Length);

// Size bytes in pieces: one up to 256 KiB, else 64 KiB pieces with the
// continuation byte on all but the last.
BOOLEAN SMI_WriteCustomizeData(CONST UINT8 *Data, UINT32 Size);

// The value of a stored -edt argument ("edt" + type + format + ':' + value) as
// the bytes to send: a file's contents, a string's wide characters, a 16- or
// 32-bit number. *Data is pool memory the caller frees.
BOOLEAN ParseEdtValue(CONST CHAR16 *Argument, UINT8 **Data, UINT32 *Size);

// Sends every stored -edt item in order; the first failure ends the run.
BOOLEAN FuncCommand_edt(VOID);

#endif  // VYR_FLASH_EXTRA_DATA_H_
