// ROM maps and protected regions: the flash part and its block table (13h),
// the platform's protected and private regions (12h), the ROM map carried in
// a new image ("$FWSMI" in its BVDT area), the whole ROM map (1Eh), the
// flash-descriptor regions (17h), the protect flag of every block, region
// movement and the map listings.
#ifndef VYR_ROM_MAP_H_
#define VYR_ROM_MAP_H_

#include "Base.h"
#include "Flash/KeptRanges.h"

// ---- Sizes of the BIOS's answers and of the kept tables ----
#define FLASH_PART_INFO_SIZE 72
#define BLOCK_MAP_AREA_SIZE 0x10000
#define BLOCK_MAP_MAX_ENTRIES 255
#define BLOCK_MAP_ENTRY_SIZE 4
#define BLOCK_MAP_UNIT 256              // block sizes come in units of 256 bytes
#define BLOCK_COUNT_PER_ENTRY_MAX 0x8000
#define BLOCK_TABLE_ENTRIES 32768
#define BLOCK_ENTRY_SIZE 9
#define BLOCK_TABLE_BYTES (BLOCK_TABLE_ENTRIES * BLOCK_ENTRY_SIZE)  // 0x48000

#define ROM_MAP_AREA_SIZE 0x10000       // each 12h area
#define ROM_MAP_COPY_SIZE 2048          // bytes of each 12h area exchanged with the BIOS
#define PROTECT_MAP_ENTRY_SIZE 9
#define PRIVATE_MAP_ENTRY_SIZE 8
#define ROM_MAP_MAX_ENTRIES 200

#define BVDT_MAP_ENTRY_SIZE 10

#define WHOLE_MAP_BUFFER_SIZE 4096
#define WHOLE_MAP_RAW_ENTRY_SIZE 13
#define WHOLE_MAP_MAX_RECORDS 201
#define WHOLE_MAP_RECORD_SIZE 21
#define WHOLE_MAP_TRACE_BYTES 128

#define EXTERNAL_MAP_BUFFER_SIZE 4096
#define EXTERNAL_MAP_COPY_SIZE 512      // current map, then new map
#define EXTERNAL_MAP_SIZE 256
#define EXTERNAL_MAP_ENTRY_SIZE 10
#define EXTERNAL_MAP_MAX_ENTRIES 16
#define EXTERNAL_MAP_TRACE_BYTES 64

// ---- Region types ----
#define ROM_TYPE_PEI 0x00
#define ROM_TYPE_NV_STORAGE 0x06
#define ROM_TYPE_FACTORY_COPY 0x16
#define ROM_TYPE_PRIVATE_HIT 0x17      // what GetProtectTypeAt reports for a private region
#define ROM_TYPE_PRIVATE 0xFE
#define ROM_TYPE_END 0xFF

#define EXTERNAL_TYPE_DESCRIPTOR 0x00
#define EXTERNAL_TYPE_BIOS 0x01
#define EXTERNAL_TYPE_ME 0x02
#define EXTERNAL_TYPE_GBE 0x03
#define EXTERNAL_TYPE_PLATFORM_DATA 0x04
#define EXTERNAL_TYPE_EC 0x05
#define EXTERNAL_TYPE_IGNITION_ME 0x20

// Slots of a REGION_RECORD, in record order.
#define REGION_SLOT_DESCRIPTOR 0
#define REGION_SLOT_BIOS 1
#define REGION_SLOT_ME 2
#define REGION_SLOT_GBE 3
#define REGION_SLOT_PLATFORM_DATA 4
#define REGION_SLOT_IGNITION_ME 5
#define REGION_SLOT_EC 6
#define REGION_SLOTS 7

// Region selection byte (chosen by the block-flash flow).
#define REGION_SELECT_BIOS 0x01
#define REGION_SELECT_GBE 0x02
#define REGION_SELECT_ME 0x04
#define REGION_SELECT_DESCRIPTOR 0x08
#define REGION_SELECT_PLATFORM_DATA 0x10
#define REGION_SELECT_EC 0x20

#pragma pack(push, 1)

typedef struct {
  UINT8 SizeIndex;
  CHAR8 Vendor[31];
  CHAR8 Type[32];
  UINT32 DeviceId;
  UINT32 SizeSpecified;  // bytes, used with size index 0xFF
} FLASH_PART_INFO;

typedef struct {
  UINT32 Address;
  UINT32 Size;
  UINT8 Protect;  // 0 = may be written, 1 = protected
} BLOCK_ENTRY;

typedef struct {
  UINT8 Type;
  UINT32 Address;
  UINT32 Size;
} PROTECT_MAP_ENTRY;

typedef struct {
  UINT32 Address;
  UINT32 Size;
} PRIVATE_MAP_ENTRY;

typedef struct {
  UINT8 Type;
  UINT32 Address;
  UINT32 Size;
  UINT32 Attribute;
} WHOLE_ROM_RAW_ENTRY;

typedef struct {
  UINT8 Type;
  UINT32 Offset;  // Start - ROM base
  UINT32 Size;
  UINT32 Start;
  UINT32 End;     // Start + Size - 1
  UINT32 Attribute;
} WHOLE_ROM_RECORD;

typedef struct {
  UINT8 Type;
  UINT32 Offset;  // from the ROM base
  UINT32 Size;
  UINT8 Access;
} EXTERNAL_REGION_ENTRY;

typedef struct {
  UINT32 Offset;
  UINT32 Size;
  UINT8 Access;
} REGION_SLOT;

typedef struct {
  REGION_SLOT Slot[REGION_SLOTS];
} REGION_RECORD;

#pragma pack(pop)

static_assert(sizeof(FLASH_PART_INFO) == FLASH_PART_INFO_SIZE, "flash part information is 72 bytes");
static_assert(sizeof(BLOCK_ENTRY) == BLOCK_ENTRY_SIZE, "block table entries are 9 bytes");
static_assert(sizeof(PROTECT_MAP_ENTRY) == PROTECT_MAP_ENTRY_SIZE, "protect map entries are 9 bytes");
static_assert(sizeof(PRIVATE_MAP_ENTRY) == PRIVATE_MAP_ENTRY_SIZE, "private map entries are 8 bytes");
static_assert(sizeof(WHOLE_ROM_RAW_ENTRY) == WHOLE_MAP_RAW_ENTRY_SIZE, "whole map entries are 13 bytes");
static_assert(sizeof(WHOLE_ROM_RECORD) == WHOLE_MAP_RECORD_SIZE, "whole map records are 21 bytes");
static_assert(sizeof(EXTERNAL_REGION_ENTRY) == EXTERNAL_MAP_ENTRY_SIZE, "external map entries are 10 bytes");
static_assert(sizeof(REGION_RECORD) == REGION_SLOTS * 9, "region records are seven 9-byte slots");

typedef struct {
  // 13h and what is derived from it.
  FLASH_PART_INFO FlashPartInfo;
  UINT32 RomSize;
  UINT32 RomBase;    // 2^32 - RomSize
  UINT32 BlockUnit;  // first entry's block size in bytes
  UINT32 BlockCount;
  BLOCK_ENTRY *BlockTable;  // BLOCK_TABLE_ENTRIES entries, pool; kept for the load

  // 12h.
  PROTECT_MAP_ENTRY ProtectMap[ROM_MAP_MAX_ENTRIES];
  UINT32 ProtectCount;
  PRIVATE_MAP_ENTRY PrivateMap[ROM_MAP_MAX_ENTRIES];
  UINT32 PrivateCount;

  // The new image's map, as four parallel arrays.
  UINT8 BvdtFound;
  UINT32 BvdtCount;
  UINT8 BvdtType[ROM_MAP_MAX_ENTRIES];
  UINT32 BvdtStart[ROM_MAP_MAX_ENTRIES];
  UINT32 BvdtEnd[ROM_MAP_MAX_ENTRIES];
  UINT8 BvdtAction[ROM_MAP_MAX_ENTRIES];

  // 1Eh, asked once per load.
  UINT8 WholeMapCalled;
  BOOLEAN WholeMapResult;
  UINT32 WholeCount;
  WHOLE_ROM_RECORD WholeRecords[WHOLE_MAP_MAX_RECORDS];
  WHOLE_ROM_RAW_ENTRY WholeRaw[WHOLE_MAP_MAX_RECORDS];

  // 17h, refreshed by every GetExternalRegionMap.
  BOOLEAN ExternalMapKnown;
  UINT32 CurrentCount;
  EXTERNAL_REGION_ENTRY CurrentMap[EXTERNAL_MAP_MAX_ENTRIES];
  UINT32 NewCount;
  EXTERNAL_REGION_ENTRY NewMap[EXTERNAL_MAP_MAX_ENTRIES];
  REGION_RECORD CurrentRegions;
  REGION_RECORD NewRegions;

  UINT8 MeSkipped;  // the locked ME is left out of a region update

  // The bytes that must stay as they are; a block holding any of them is
  // protected. Emptied whenever the block table is built.
  KEPT_RANGES Kept;
} ROM_MAP_STATE;

extern ROM_MAP_STATE mRomMap;

// Frees the block table and returns the module to its load state.
VOID RomMapResetState(VOID);

// ---- Names ----
// Listing table (protect/private maps, BVDT listing, protection traces).
CONST CHAR16 *RomRegionTypeName(UINT8 Type);
// Whole-ROM-map listing.
CONST CHAR16 *WholeRegionTypeName(UINT8 Type);
// Flash-descriptor regions; "" for unknown types.
CONST CHAR16 *ExternalRegionTypeName(UINT8 Type);

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

// ---- Listings (each prints the banner first) and traces ----
BOOLEAN ShowProtectRegionMap(VOID);   // -pq
BOOLEAN ShowPrivateRegionMap(VOID);   // -priv, -ppriv
BOOLEAN ShowWholeRegionMap(VOID);     // -pw
BOOLEAN ShowExternalRegionMap(VOID);  // -pr
BOOLEAN ShowBvdtRegionMap(CONST CHAR16 *FileName);  // -pi FILE

// The listing tables written to the trace instead of the console.
VOID TraceProtectMapTable(UINT32 Count, CONST PROTECT_MAP_ENTRY *Map);
VOID TracePrivateMapTable(UINT32 Count, CONST PRIVATE_MAP_ENTRY *Map);
VOID TraceWholeMapTable(VOID);
VOID TraceBvdtMapTable(VOID);
// The "R"/"." table of every block's protect flag, before block writing.
VOID TraceRomBlockProtectTable(VOID);

#endif  // VYR_ROM_MAP_H_
