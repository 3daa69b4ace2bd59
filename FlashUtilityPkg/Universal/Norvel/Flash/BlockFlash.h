// The block flash engine: every writable block of a working image goes to the
// BIOS with FWSMI 15h, compared with the flash before and read back after
// each write; the blocks overlapping the BVDT are written last.
#ifndef VYR_BLOCK_FLASH_H_
#define VYR_BLOCK_FLASH_H_

#include "Base.h"

#define FWSMI_STATUS_SKIP_BLOCK 0x29
#define BLOCK_PENDING_BYTES 32768
#define WORKING_IMAGE_EXTRA 4096  // a working image is ROM size + this

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

typedef struct {
  UINT8 Selection;     // REGION_SELECT_* of the current update
  CHAR16 LastOutcome;  // outcome of the latest SMI_WriteRom
  UINT32 WriteCalls;   // SMI_WriteRom calls that issued 15h at least once
} BLOCK_FLASH_STATE;

extern BLOCK_FLASH_STATE mBlockFlash;

VOID BlockFlashResetState(VOID);

// ---- One block ----
// TRUE for status 0 and for 0x29 (Result->Skipped set).
BOOLEAN Fwsmi_15h(CONST WRITE_ROM_REQUEST *Request, WRITE_ROM_RESULT *Result);
// BLOCK_COMPARE_*.
UINT8 CompareBlock(UINT32 Address, UINT32 Size, CONST VOID *Data);
// Compare, write and verify one block; the outcome is left in
// mBlockFlash.LastOutcome (GetLastWriteOutcome).
BOOLEAN SMI_WriteRom(UINT32 Address, UINT32 Size, CONST VOID *Data);
CHAR16 GetLastWriteOutcome(VOID);
// Attempts of a verified write: -vrt, else [Others] VerifyErrorRetry, never
// fewer than one.
UINT32 GetVerifyAttempts(VOID);
BOOLEAN IsBlockCompareOn(VOID);
BOOLEAN IsBlockVerifyOn(VOID);

// ---- Region selection ----
// Builds the selection from -bios/-gbe/-me/-desc/-pdr/-ec and [Region],
// traces it and keeps it in mBlockFlash.Selection.
UINT8 BuildRegionSelection(VOID);
UINT8 GetRegionSelection(VOID);
VOID SetRegionSelection(UINT8 Selection);

// ---- Whole update ----
// The first region of type 0x0A of the whole ROM map whose flash contents
// hold "$BVDT".
BOOLEAN FindBvdtBlock(UINT32 *Address, UINT32 *Size);
// Writes every unprotected block of WorkingImage (ROM size bytes at least,
// offset 0 = ROM base) in table order, the BVDT blocks in a second pass.
BOOLEAN UpdateProcEntire(CONST UINT8 *WorkingImage);
// The shell path: a whole-ROM image (an EC image in front is dropped) or a
// region-only image placed at its region, then UpdateProcEntire.
BOOLEAN FuncUpdate_via15h(CONST UINT8 *Image, UINT32 ImageSize);

#endif  // VYR_BLOCK_FLASH_H_
