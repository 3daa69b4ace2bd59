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

// -e:Offset,Size,Address
typedef struct {
  UINT8 Given;     // the option's text held three fields
  UINT32 Offset;   // in the file
  UINT32 Size;     // 0 until IsValidCommand_e: up to the end of the file
  UINT32 Address;  // flash address
} COMMAND_E_ARGS;

typedef struct {
  UINT8 Selection;     // REGION_SELECT_* of the current update
  CHAR16 LastOutcome;  // outcome of the latest SMI_WriteRom
  UINT32 WriteCalls;   // SMI_WriteRom calls that issued 15h at least once
  BOOLEAN BvdtSearchFailed;  // FindBvdtBlock could not read or allocate: no answer
  COMMAND_E_ARGS CommandE;
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
// Writes the first DataSize bytes of a BlockSize block at Address; the rest
// of the block keeps the flash's current contents (read first). A whole
// block (DataSize >= BlockSize) is plain SMI_WriteRom.
BOOLEAN SMI_WriteRomPiece(UINT32 Address, UINT32 BlockSize, CONST UINT8 *Data, UINT32 DataSize);
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
// hold "$BVDT". FALSE also when the search could not be made; that case sets
// mBlockFlash.BvdtSearchFailed.
BOOLEAN FindBvdtBlock(UINT32 *Address, UINT32 *Size);
// The range whose blocks are written last: the BVDT block of the maps, else
// the BVDT record of the new image itself (WorkingImage, ROM size bytes).
// *Found FALSE when neither has one. FALSE when the maps' search failed part
// way: the update must not start without knowing where the BVDT is.
BOOLEAN LocateBvdtRange(CONST UINT8 *WorkingImage, UINT32 *Address, UINT32 *Size, BOOLEAN *Found);
// Writes every unprotected block of WorkingImage (ROM size bytes at least,
// offset 0 = ROM base) in table order, the BVDT blocks in a second pass.
BOOLEAN UpdateProcEntire(CONST UINT8 *WorkingImage);

// Stage 1 into Working (ROM size + WORKING_IMAGE_EXTRA bytes, zero-filled).
// A whole-ROM image (ImageSize >= ROM size): the bytes in front of the last
// ROM size bytes are an EC image, stored in the EC image buffer.
BOOLEAN FuncSize_entire(UINT8 *Working, CONST UINT8 *Image, UINT32 ImageSize);
// A region-only image (ImageSize < ROM size): placed at its region of the
// current map; with BIOS selected, bytes beyond the BIOS region's size in
// front are an EC image.
BOOLEAN FuncSize_region(UINT8 *Working, CONST UINT8 *Image, UINT32 ImageSize);
// Size against every selected region of the current map.
BOOLEAN CheckRegionSize(UINT32 Size);
// Copies Image to the first selected region of Descriptor, GbE, BIOS, ME.
BOOLEAN PlaceRegionImage(UINT8 *Working, CONST UINT8 *Image, UINT32 ImageSize);
// The OEM ME update that runs before the BIOS blocks are written: nothing to
// do without [UpdateOEMME] MEFileName; with one it fails until that update
// is built.
BOOLEAN UpdateOemMe(VOID);

// The shell path: stage 1, protection, the model-check waiver, the OEM ME
// update, region movement, the blocks, the 1Ah notification and completion.
BOOLEAN FuncUpdate_via15h(CONST UINT8 *Image, UINT32 ImageSize);
// The firmware path: a 1Ah notification first, a locked ME region left out
// (probed when ME is selected for a whole-ROM image), no BVDT map reading,
// no model-check waiver and no OEM ME update.
BOOLEAN EfiUpdate_via15h(CONST UINT8 *Image, UINT32 ImageSize);
// The EC region only, from Image (its writable blocks in order). Wait: ask
// for a key after a failure.
BOOLEAN UpdateExternalEc(CONST UINT8 *Image, UINT32 Size, BOOLEAN Wait);

// ---- A BIOS-region-only image ----
// The image's BIOS size ("$_NORVEL_BIOSIMG" record, PFAT blocks or the size
// itself) differs from the ROM size and equals the new map's BIOS region.
BOOLEAN IsBiosRegionOnlyImg(CONST UINT8 *Image, UINT32 ImageSize);

// ---- -e:Offset,Size,Address ----
// Reads the option's text into mBlockFlash.CommandE; FALSE (and the option
// ignored) unless it holds two commas. Fields are hexadecimal, may start
// with blanks and "0x"; an empty size or address field reads as 0.
BOOLEAN ParseCommand_e(CONST CHAR16 *Text);
// Checks the parsed option against a file of FileSize bytes, printing the
// reason of a refusal; resolves a size of 0 to the rest of the file.
BOOLEAN IsValidCommand_e(UINT32 FileSize);
// Writes the checked piece of the file block unit by block unit.
BOOLEAN WriteCommand_e(CONST UINT8 *FileData, UINT32 FileSize);

#endif  // VYR_BLOCK_FLASH_H_
