// The block flash engine: every writable block of a working image goes to the
// BIOS with FWSMI 15h, compared with the flash before and read back after
// each write; the blocks overlapping the BVDT are written last.
#ifndef VYR_BLOCK_FLASH_H_
#define VYR_BLOCK_FLASH_H_

#include "Base.h"

#define BLOCK_PENDING_BYTES 32768
#define WORKING_IMAGE_EXTRA 4096  // a working image is ROM size + this

// -e:Offset,Size,Address
typedef struct {
  UINT8 Given;     // the option's text held three fields
  UINT32 Offset;   // in the file
  UINT32 Size;     // 0 until IsValidCommand_e: up to the end of the file
  UINT32 Address;  // flash address
} COMMAND_E_ARGS;

typedef struct {
  UINT8 Selection;            // REGION_SELECT_* of the current update
  BOOLEAN BvdtSearchFailed;  // FindBvdtBlock could not read or allocate: no answer
  COMMAND_E_ARGS CommandE;
} BLOCK_FLASH_STATE;

extern BLOCK_FLASH_STATE mBlockFlash;

VOID BlockFlashResetState(VOID);

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
