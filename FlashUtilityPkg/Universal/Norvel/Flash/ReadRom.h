// Reading the flash through FWSMI 14h: single reads, reads in block-unit
// pieces and the -g save of the whole ROM. A read of a region the chipset
// has locked (status 0x2A) counts as a successful read of unusable data.
#ifndef VYR_READ_ROM_H_
#define VYR_READ_ROM_H_

#include "Base.h"

#define FWSMI_STATUS_REGION_LOCKED 0x2A

typedef struct {
  UINT32 Address;     // flash address
  UINT32 Size;        // bytes
  VOID *Destination;  // Size bytes: handed to the BIOS and filled from its answer
} READ_ROM_REQUEST;

typedef struct {
  UINT8 Status;  // AL of the last attempt
  UINT8 Locked;  // 1 when that status was 0x2A
} READ_ROM_RESULT;

typedef struct {
  UINT8 UnlockTried;   // a read returned 0x2A once: later locked reads are not retried
  UINT8 MeLockedSeen;  // a completed read reported a locked region
} READ_ROM_STATE;

extern READ_ROM_STATE mReadRom;

VOID ReadRomResetState(VOID);

// TRUE for status 0 and for 0x2A (locked).
BOOLEAN Fwsmi_14h(CONST READ_ROM_REQUEST *Request, READ_ROM_RESULT *Result);
// One read of Size bytes. Destination may be NULL (the data is dropped);
// Locked may be NULL.
BOOLEAN SMI_ReadRom(UINT32 Address, UINT32 Size, VOID *Destination, UINT8 *Locked);
// Consecutive pieces of the block unit, the last one the remainder; stops at
// the first failure. Locked is set when any piece was locked.
BOOLEAN ReadRomChunked(UINT32 Address, UINT32 Size, VOID *Destination, UINT8 *Locked);
// The command -g.
BOOLEAN SaveRomToFile(CONST CHAR16 *FileName);
UINT8 IsMeLockedSeen(VOID);

#endif  // VYR_READ_ROM_H_
