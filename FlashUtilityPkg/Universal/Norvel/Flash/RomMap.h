// ROM maps and protected regions: the flash part and its block table (13h),
// the platform's protected and private regions (12h), the ROM map carried in
// a new image ("$FWSMI" in its BVDT area), the whole ROM map (1Eh), the
// flash-descriptor regions (17h), the protect flag of every block and region
// movement.
#ifndef VYR_ROM_MAP_H_
#define VYR_ROM_MAP_H_

#include "Base.h"
#include "Flash/RomMapTypes.h"

extern ROM_MAP_STATE mRomMap;

// Frees the block table and returns the module to its load state.
VOID RomMapResetState(VOID);

// ---- FWSMI wrappers ----
// Areas of ROM_MAP_AREA_SIZE bytes; ROM_MAP_COPY_SIZE of each go in and out.
BOOLEAN Fwsmi_12h(UINT8 *ProtectArea, UINT8 *PrivateArea);
// Selector 0; FLASH_PART_INFO_SIZE and BLOCK_MAP_AREA_SIZE bytes in and out.
BOOLEAN Fwsmi_13h(UINT8 Selector, UINT8 *FlashPartInfo, UINT8 *BlockMap);
// EXTERNAL_MAP_BUFFER_SIZE bytes each (buffer 2: the new image's head);
// EXTERNAL_MAP_COPY_SIZE bytes of buffer 1 come back.
BOOLEAN Fwsmi_17h(UINT8 *Buffer1, UINT8 *Buffer2);
// WHOLE_MAP_BUFFER_SIZE bytes; copied back only on success.
BOOLEAN Fwsmi_1Eh(UINT8 *Buffer);

// ---- Queries ----
BOOLEAN SMI_GetPlatformRomMap(VOID);
BOOLEAN SMI_GetFlashPartInfo(VOID);
// Records: room for WHOLE_MAP_MAX_RECORDS; either output may be NULL. The
// first call asks the BIOS; every later one answers from what it kept (a
// failed first query fails again without a new SMI).
BOOLEAN SMI_GetWholeRomMap(WHOLE_ROM_RECORD *Records, UINT32 *Count);
BOOLEAN FuncGetWholeRomMap(VOID);
BOOLEAN DataGetWholeRomMap(WHOLE_ROM_RECORD *Records, UINT32 *Count);
// Image: the new image (its first 4096 bytes go to the BIOS), or NULL.
BOOLEAN GetExternalRegionMap(CONST UINT8 *Image, UINT32 ImageSize);
// The decoded record of the current flash / of the new image (FALSE before a map was read).
BOOLEAN GetCurrentRegionRecord(REGION_RECORD *Record);
BOOLEAN GetNewRegionRecord(REGION_RECORD *Record);

// ---- Derived values ----
UINT32 GetRomBase(VOID);
UINT32 GetRomSize(VOID);
UINT32 GetBlockUnit(VOID);
UINT32 GetBlockCount(VOID);
// A pool copy of the whole table (BLOCK_TABLE_BYTES); the caller frees it.
BOOLEAN GetBlockTableCopy(BLOCK_ENTRY **Copy);
// The block table entry Index (NULL past the block count).
CONST BLOCK_ENTRY *GetBlockEntry(UINT32 Index);

// ---- The new image's ROM map ----
// Searches Image for "$FWSMI" and keeps the map after it (and traces it as the
// -pi table). FALSE when the signature is absent.
BOOLEAN ReadBvdtRomMap(CONST UINT8 *Image, UINT32 ImageSize);
// Maps have room for ROM_MAP_MAX_ENTRIES entries each.
BOOLEAN GetBvdtRomMap(UINT32 *PrivateCount, PRIVATE_MAP_ENTRY *PrivateMap, UINT32 *ProtectCount,
                      PROTECT_MAP_ENTRY *ProtectMap);
// [ForceFlash] UseBvdtRomMap with a found map: the BVDT's; else the 12h maps.
BOOLEAN GetPlatformMaps(UINT32 *PrivateCount, PRIVATE_MAP_ENTRY *PrivateMap, UINT32 *ProtectCount,
                        PROTECT_MAP_ENTRY *ProtectMap);
// The Index-th (from 0) protected region of Type in the selected maps.
BOOLEAN GetSpecifyProtectArea(UINT8 Type, UINT32 Index, UINT32 *Address, UINT32 *Size);
UINT32 GetSpecifyProtectAreaCount(UINT8 Type);

// ---- Block flags ----
VOID ProtectAllBlocks(VOID);
VOID UnprotectAllBlocks(VOID);
// Flag 1 keeps the bytes [Low, High] (both inclusive) and protects every block
// that holds one of them; flag 0 releases them, and a block becomes writable
// only when none of its bytes is kept any more.
VOID SetBlockProtectRange(UINT32 Low, UINT32 High, UINT8 Flag);
// The flag of the block holding Address; 0 when no block does.
UINT8 GetBlockProtectFlagAt(UINT32 Address);
// A region sharing a byte with the block that holds Address (with Address
// itself when no block does): private regions first (reported as type 0x17),
// then the protect map.
BOOLEAN GetProtectTypeAt(UINT32 Address, UINT8 *Type);
// The current external region holding Address (ROM base + offset).
BOOLEAN GetExternalTypeAt(UINT32 Address, UINT8 *Type);

// ---- Protection decisions ----
BOOLEAN IsSecureBootSupport(VOID);
BOOLEAN SetRsvd_13h(VOID);
BOOLEAN SetTypeReserve_1Eh(UINT8 Type, UINT8 Flag);
VOID SetMeSkipped(BOOLEAN Skipped);
BOOLEAN IsMeSkipped(VOID);
// Selection: the region selection byte (REGION_SELECT_*).
BOOLEAN SetRegionReserve(UINT8 Selection);
// Copies the current contents of moved regions into the working image
// (WorkingSize bytes, offset 0 = ROM base).
BOOLEAN DoRegionMovement(UINT8 *WorkingImage, UINT32 WorkingSize);

#endif  // VYR_ROM_MAP_H_
