// The records of the ROM maps and the map module's state: what the map
// module fills and the listings and block writer read.
#ifndef VYR_ROM_MAP_TYPES_H_
#define VYR_ROM_MAP_TYPES_H_

#include "Base.h"
#include "Flash/KeptRanges.h"

// ---- Sizes of the BIOS's answers and of the kept tables ----
#define FLASH_PART_INFO_SIZE 72
#define BLOCK_MAP_AREA_SIZE 0x10000
#define BLOCK_MAP_MAX_ENTRIES 255
#define BLOCK_MAP_ENTRY_SIZE 4
#define BLOCK_MAP_UNIT 256  // block sizes come in units of 256 bytes
#define BLOCK_COUNT_PER_ENTRY_MAX 0x8000
#define BLOCK_TABLE_ENTRIES 32768
#define BLOCK_ENTRY_SIZE 9
#define BLOCK_TABLE_BYTES (BLOCK_TABLE_ENTRIES * BLOCK_ENTRY_SIZE)  // 0x48000

#define ROM_MAP_AREA_SIZE 0x10000  // each 12h area
#define ROM_MAP_COPY_SIZE 2048     // bytes of each 12h area exchanged with the BIOS
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
#define EXTERNAL_MAP_COPY_SIZE 512  // current map, then new map
#define EXTERNAL_MAP_SIZE 256
#define EXTERNAL_MAP_ENTRY_SIZE 10
#define EXTERNAL_MAP_MAX_ENTRIES 16
#define EXTERNAL_MAP_TRACE_BYTES 64

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
  UINT32 End;  // Start + Size - 1
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

#endif  // VYR_ROM_MAP_TYPES_H_
