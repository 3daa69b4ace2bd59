// Raw flash access through the BIOS, below every engine that writes: reads
// (14h), one block written (15h) with the compare before and the read-back
// after, and a part of a block. A read of a region the chipset has locked
// (status 0x2A) counts as a successful read of unusable data.
#ifndef VYR_ROM_ACCESS_H_
#define VYR_ROM_ACCESS_H_

#include "Base.h"

#define FWSMI_STATUS_SKIP_BLOCK 0x29
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
  CHAR16 LastOutcome;  // outcome of the latest SMI_WriteRom
  UINT32 WriteCalls;   // SMI_WriteRom calls that issued 15h at least once
} ROM_ACCESS_STATE;

extern ROM_ACCESS_STATE mRomAccess;

VOID RomAccessResetState(VOID);
UINT8 IsMeLockedSeen(VOID);

// TRUE for status 0 and for 0x2A (locked).
MUST_CHECK BOOLEAN Fwsmi_14h(CONST READ_ROM_REQUEST *Request, READ_ROM_RESULT *Result);
// One read of Size bytes. Destination may be NULL (the data is dropped);
// Locked may be NULL.
MUST_CHECK BOOLEAN SMI_ReadRom(UINT32 Address, UINT32 Size, VOID *Destination, UINT8 *Locked);
// Consecutive pieces of Unit bytes (0: one piece), the last one the
// remainder; stops at the first failure. Locked is set when any piece was
// locked.
MUST_CHECK BOOLEAN ReadRomChunked(UINT32 Address, UINT32 Size, UINT32 Unit, VOID *Destination, UINT8 *Locked);

// CompareBlock answers.
#define BLOCK_COMPARE_EQUAL 0
#define BLOCK_COMPARE_DIFFERENT 1  // or unreadable
#define BLOCK_COMPARE_LOCKED 2

// Write outcomes, one per block.
#define BLOCK_OUTCOME_PROTECTED u'.'
#define BLOCK_OUTCOME_BVDT_LATER u'X'
#define BLOCK_OUTCOME_SAME u'S'
#define BLOCK_OUTCOME_LOCKED u'L'
#define BLOCK_OUTCOME_WRITTEN u'W'
#define BLOCK_OUTCOME_VERIFIED u'V'
#define BLOCK_OUTCOME_NONE u'?'  // the write failed

typedef struct {
  UINT32 Address;    // flash address
  UINT32 Size;       // bytes
  CONST VOID *Data;  // Size bytes
} WRITE_ROM_REQUEST;

typedef struct {
  UINT8 Status;   // AL of the last attempt
  UINT8 Skipped;  // 1 when the BIOS answered 0x29: it kept the block as it is
} WRITE_ROM_RESULT;

// TRUE for status 0 and for 0x29 (Result->Skipped set).
MUST_CHECK BOOLEAN Fwsmi_15h(CONST WRITE_ROM_REQUEST *Request, WRITE_ROM_RESULT *Result);
// BLOCK_COMPARE_*.
UINT8 CompareBlock(UINT32 Address, UINT32 Size, CONST VOID *Data);
// Compare, write and verify one block; the outcome is left in
// mRomAccess.LastOutcome (GetLastWriteOutcome).
MUST_CHECK BOOLEAN SMI_WriteRom(UINT32 Address, UINT32 Size, CONST VOID *Data);
CHAR16 GetLastWriteOutcome(VOID);
// Writes the first DataSize bytes of a BlockSize block at Address; the rest
// of the block keeps the flash's current contents (read first). A whole
// block (DataSize >= BlockSize) is plain SMI_WriteRom.
MUST_CHECK BOOLEAN SMI_WriteRomPiece(UINT32 Address, UINT32 BlockSize, CONST UINT8 *Data, UINT32 DataSize);
// Attempts of a verified write: -vrt, else [Others] VerifyErrorRetry, never
// fewer than one.
UINT32 GetVerifyAttempts(VOID);
BOOLEAN IsBlockCompareOn(VOID);
BOOLEAN IsBlockVerifyOn(VOID);

#endif  // VYR_ROM_ACCESS_H_
