#include "Flash/RomMap.h"

#include "Base/HexDump.h"
#include "Base/RegionNames.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Console/ConsoleUi.h"
#include "Flash/KeptRanges.h"
#include "Flash/RomAccess.h"
#include "Flash/RomMapTables.h"
#include "Flash/RomMapTypes.h"
#include "Guids.h"
#include "Image/ImageAnalysis.h"
#include "Platform.h"
#include "Smi/FwsmiExchange.h"
#include "Smi/PlatformQueries.h"

ROM_MAP_STATE mRomMap;

VOID RomMapResetState(VOID) {
  if (mRomMap.BlockTable != NULL) {
    FreePool(mRomMap.BlockTable);
  }
  ZeroMem(&mRomMap, sizeof(mRomMap));
}

// ---- Ranges ------------------------------------------------------------------

// The last address of a region. Regions of size 0 never get here (they are
// dropped when a map is read); one that would run past 4 GiB ends at the top.
static UINT32 RangeEnd(UINT32 Address, UINT32 Size) {
  UINT64 End = (UINT64)Address + Size - 1;
  return End > 0xFFFFFFFFull ? 0xFFFFFFFFu : (UINT32)End;
}

static BOOLEAN InRange(UINT32 Address, UINT32 Start, UINT32 Size) {
  return Size != 0 && Address >= Start && Address <= RangeEnd(Start, Size);
}

// ---- FWSMI wrappers ------------------------------------------------------------

static CONST FWSMI_EXCHANGE k12h = {
    u"Fwsmi_12h", 0x12, FWSMI_REPORT, 0, u"Allocate memory failed",
    {{FWSMI_REG_EDI, ROM_MAP_COPY_SIZE, FWSMI_BACK_ALWAYS, ROM_MAP_COPY_SIZE},
     {FWSMI_REG_ESI, ROM_MAP_COPY_SIZE, FWSMI_BACK_ALWAYS, ROM_MAP_COPY_SIZE}},
    NULL, NULL};

BOOLEAN Fwsmi_12h(UINT8 *ProtectArea, UINT8 *PrivateArea) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Io.Out[0] = ProtectArea;
  Io.In[1] = Io.Out[1] = PrivateArea;
  return FwsmiExchange(&k12h, &Io, ProtectArea == NULL || PrivateArea == NULL);
}

static CONST FWSMI_EXCHANGE k13h = {
    u"Fwsmi_13h", 0x13, 0, 0, u"Allocate memory failed",
    {{FWSMI_REG_EDI, FLASH_PART_INFO_SIZE, FWSMI_BACK_ALWAYS, FLASH_PART_INFO_SIZE},
     {FWSMI_REG_ESI, BLOCK_MAP_AREA_SIZE, FWSMI_BACK_ALWAYS, BLOCK_MAP_AREA_SIZE}},
    NULL, NULL};

BOOLEAN Fwsmi_13h(UINT8 Selector, UINT8 *FlashPartInfo, UINT8 *BlockMap) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Io.Out[0] = FlashPartInfo;
  Io.In[1] = Io.Out[1] = BlockMap;
  Io.Args.Ecx = Selector;
  return FwsmiExchange(&k13h, &Io, FlashPartInfo == NULL || BlockMap == NULL);
}

// Buffer 1 holds the maps, buffer 2 the first bytes of the new image.
static CONST FWSMI_EXCHANGE k17h = {
    u"Fwsmi_17h", 0x17, 0, 0, u"Allocate memory failed",
    {{FWSMI_REG_EDI, EXTERNAL_MAP_BUFFER_SIZE, FWSMI_BACK_ALWAYS, EXTERNAL_MAP_COPY_SIZE},
     {FWSMI_REG_ESI, EXTERNAL_MAP_BUFFER_SIZE, 0, 0}},
    NULL, NULL};

BOOLEAN Fwsmi_17h(UINT8 *Buffer1, UINT8 *Buffer2) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Io.Out[0] = Buffer1;
  Io.In[1] = Buffer2;
  Io.Args.Ecx = EXTERNAL_MAP_BUFFER_SIZE;
  return FwsmiExchange(&k17h, &Io, Buffer1 == NULL || Buffer2 == NULL);
}

static CONST FWSMI_EXCHANGE k1Eh = {
    u"Fwsmi_1Eh", 0x1E, 0, 0, u"Allocate memory failed",
    {{FWSMI_REG_EDI, WHOLE_MAP_BUFFER_SIZE, FWSMI_BACK_ON_SUCCESS, WHOLE_MAP_BUFFER_SIZE}, {}}, NULL, NULL};

BOOLEAN Fwsmi_1Eh(UINT8 *Buffer) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Io.Out[0] = Buffer;
  return FwsmiExchange(&k1Eh, &Io, Buffer == NULL);
}

// ---- 12h: protected and private regions --------------------------------------

BOOLEAN SMI_GetPlatformRomMap(VOID) {
  FuncEnter(u"SMI_GetPlatformRomMap");
  UINT8 *ProtectArea = (UINT8 *)AllocateZeroPool(ROM_MAP_AREA_SIZE);
  UINT8 *PrivateArea = (UINT8 *)AllocateZeroPool(ROM_MAP_AREA_SIZE);
  if (ProtectArea == NULL || PrivateArea == NULL) {
    FreePool(ProtectArea);
    FreePool(PrivateArea);
    FuncExit(u"SMI_GetPlatformRomMap", u"Allocate memory failed");
    return FALSE;
  }
  mRomMap.ProtectCount = 0;
  mRomMap.PrivateCount = 0;
  if (!Fwsmi_12h(ProtectArea, PrivateArea)) {
    FreePool(ProtectArea);
    FreePool(PrivateArea);
    FuncExit(u"SMI_GetPlatformRomMap", u"FWSMI failed");
    return FALSE;
  }
  // Each list is read inside the bytes exchanged with the BIOS (200 entries of
  // 9 or 8 bytes fit in 2048). A region of size 0 has no range and is dropped.
  for (UINT32 Index = 0; Index < ROM_MAP_MAX_ENTRIES; Index++) {
    CONST UINT8 *Entry = ProtectArea + Index * PROTECT_MAP_ENTRY_SIZE;
    if (Entry[0] == ROM_TYPE_END) {
      break;
    }
    UINT32 Size = ReadUnaligned32(Entry + 5);
    if (Size == 0) {
      continue;
    }
    PROTECT_MAP_ENTRY *Kept = &mRomMap.ProtectMap[mRomMap.ProtectCount++];
    Kept->Type = Entry[0];
    Kept->Address = ReadUnaligned32(Entry + 1);
    Kept->Size = Size;
  }
  for (UINT32 Index = 0; Index < ROM_MAP_MAX_ENTRIES; Index++) {
    CONST UINT8 *Entry = PrivateArea + Index * PRIVATE_MAP_ENTRY_SIZE;
    if (Entry[0] == 0xFF) {  // the address field's first byte
      break;
    }
    UINT32 Size = ReadUnaligned32(Entry + 4);
    if (Size == 0) {
      continue;
    }
    PRIVATE_MAP_ENTRY *Kept = &mRomMap.PrivateMap[mRomMap.PrivateCount++];
    Kept->Address = ReadUnaligned32(Entry);
    Kept->Size = Size;
  }
  FreePool(ProtectArea);
  FreePool(PrivateArea);
  DebugPrint(4, u"Get Platform ROM map protection. (12h)\r\n");
  ProtectMapTable(TO_TRACE, mRomMap.ProtectCount, mRomMap.ProtectMap);
  PrivateMapTable(TO_TRACE, mRomMap.PrivateCount, mRomMap.PrivateMap);
  FuncExit(u"SMI_GetPlatformRomMap", NULL);
  return TRUE;
}

// ---- 13h: flash part and block table ------------------------------------------

static UINT32 RomSizeFromIndex(UINT8 Index, UINT32 SizeSpecified) {
  if (Index == 0xFF) {
    return SizeSpecified;
  }
  if (Index >= 1 && Index <= 11) {
    return 0x20000u << (Index - 1);
  }
  return 0;
}

// A fixed-size text field of the BIOS as a terminated 8-bit string.
static VOID FieldText(CHAR8 *Out, CONST CHAR8 *Field, UINTN FieldSize) {
  CopyMem(Out, Field, FieldSize);
  Out[FieldSize] = 0;
}

// The old geometry goes when a new answer is refused: nothing may use a table
// that does not match the flash part.
static VOID ForgetGeometry(VOID) {
  mRomMap.RomSize = 0;
  mRomMap.RomBase = 0;
  mRomMap.BlockUnit = 0;
  mRomMap.BlockCount = 0;
}

// The whole map is read at start-up, before 13h has told the ROM base; its
// offsets are taken from the real base as soon as it is known.
static VOID RebaseWholeRomMap(VOID) {
  for (UINT32 Index = 0; Index < mRomMap.WholeCount; Index++) {
    mRomMap.WholeRecords[Index].Offset = mRomMap.WholeRecords[Index].Start - mRomMap.RomBase;
  }
}

BOOLEAN SMI_GetFlashPartInfo(VOID) {
  FuncEnter(u"SMI_GetFlashPartInfo");
  if (mRomMap.BlockTable == NULL) {
    mRomMap.BlockTable = (BLOCK_ENTRY *)AllocateZeroPool(BLOCK_TABLE_BYTES);
  }
  UINT8 *BlockMap = (UINT8 *)AllocateZeroPool(BLOCK_MAP_AREA_SIZE);
  if (mRomMap.BlockTable == NULL || BlockMap == NULL) {
    FreePool(BlockMap);
    FuncExit(u"SMI_GetFlashPartInfo", u"Allocate memory failed");
    return FALSE;
  }
  ForgetGeometry();
  FLASH_PART_INFO *Info = &mRomMap.FlashPartInfo;
  ZeroMem(Info, sizeof(*Info));
  if (!Fwsmi_13h(0, (UINT8 *)Info, BlockMap)) {
    FreePool(BlockMap);
    FuncExit(u"SMI_GetFlashPartInfo", u"FWSMI failed");
    return FALSE;
  }

  UINT32 Entries = 0;
  while (Entries < BLOCK_MAP_MAX_ENTRIES) {
    UINT16 Units = ReadUnaligned16(BlockMap + Entries * BLOCK_MAP_ENTRY_SIZE);
    if (Units == 0 || Units == 0xFFFF) {
      break;
    }
    Entries++;
  }
  DebugPrint(4, u"===== Flash Part Information =====\r\n");
  DumpHex(Info, sizeof(*Info));
  DebugPrint(4, u"===== Flash Part Block Map =====\r\n");
  DumpHex(BlockMap, (Entries + 1) * BLOCK_MAP_ENTRY_SIZE);

  CHAR8 Vendor[sizeof(Info->Vendor) + 1];
  CHAR8 Type[sizeof(Info->Type) + 1];
  FieldText(Vendor, Info->Vendor, sizeof(Info->Vendor));
  FieldText(Type, Info->Type, sizeof(Info->Type));
  UINT32 RomSize = RomSizeFromIndex(Info->SizeIndex, Info->SizeSpecified);
  DebugPrint(4, u"Flash part information (13h)\r\n----------------+---------------\r\n");
  DebugPrint(4, u"     Size Index | 0x%X\r\n", Info->SizeIndex);
  DebugPrint(4, u"         Vendor | %a\r\n", Vendor);
  DebugPrint(4, u"           Type | %a\r\n", Type);
  DebugPrint(4, u"      Device ID | 0x%X\r\n", Info->DeviceId);
  DebugPrint(4, u" Size Specified | 0x%X\r\n", Info->SizeSpecified);

  // Counts and sizes are summed in 64 bits: the table holds 32768 blocks and
  // the blocks must fit in the ROM below 4 GiB, whatever the BIOS answers.
  UINT64 TotalBlocks = 0;
  UINT64 TotalBytes = 0;
  for (UINT32 Index = 0; Index < Entries; Index++) {
    UINT16 Units = ReadUnaligned16(BlockMap + Index * BLOCK_MAP_ENTRY_SIZE);
    UINT16 Times = ReadUnaligned16(BlockMap + Index * BLOCK_MAP_ENTRY_SIZE + 2);
    DebugPrint(4, u"     Block size | %X\r\n    Block times | %X\r\n", Units, Times);
    if (Times > BLOCK_COUNT_PER_ENTRY_MAX) {
      FreePool(BlockMap);
      FuncExit(u"SMI_GetFlashPartInfo", u"Block count > 0x8000");
      return FALSE;
    }
    TotalBlocks += Times;
    TotalBytes += (UINT64)Units * BLOCK_MAP_UNIT * Times;
  }
  UINT32 RomBase = (UINT32)(0x100000000ull - RomSize);
  DebugPrint(4, u"       ROM Size | 0x%X\r\n", RomSize);
  DebugPrint(4, u"      Base Addr | 0x%X\r\n", RomBase);
  DebugPrint(4, u"    Block Count | 0x%lX\r\n", TotalBlocks);
  if (TotalBlocks > BLOCK_TABLE_ENTRIES) {
    Print(u"\r\nError: The flash part has 0x%lX blocks, more than the 0x8000 the block table holds.\r\n", TotalBlocks);
    FreePool(BlockMap);
    FuncExit(u"SMI_GetFlashPartInfo", u"Total block count > 0x8000");
    return FALSE;
  }
  if (TotalBytes > RomSize) {
    Print(u"\r\nError: The flash part blocks (0x%lX bytes) do not fit in the ROM size 0x%X.\r\n", TotalBytes, RomSize);
    FreePool(BlockMap);
    FuncExit(u"SMI_GetFlashPartInfo", u"Block map larger than ROM");
    return FALSE;
  }

  UINT32 Address = RomBase;
  UINT32 Count = 0;
  for (UINT32 Index = 0; Index < Entries; Index++) {
    UINT32 Size = (UINT32)ReadUnaligned16(BlockMap + Index * BLOCK_MAP_ENTRY_SIZE) * BLOCK_MAP_UNIT;
    UINT16 Times = ReadUnaligned16(BlockMap + Index * BLOCK_MAP_ENTRY_SIZE + 2);
    for (UINT32 Block = 0; Block < Times; Block++) {
      mRomMap.BlockTable[Count].Address = Address;
      mRomMap.BlockTable[Count].Size = Size;
      mRomMap.BlockTable[Count].Protect = 0;
      Count++;
      Address += Size;
    }
  }
  mRomMap.RomSize = RomSize;
  mRomMap.RomBase = RomBase;
  mRomMap.BlockUnit = Entries != 0 ? (UINT32)ReadUnaligned16(BlockMap) * BLOCK_MAP_UNIT : 0;
  mRomMap.BlockCount = Count;
  KeptRangesClear(&mRomMap.Kept);
  FreePool(BlockMap);
  RebaseWholeRomMap();
  FuncExit(u"SMI_GetFlashPartInfo", NULL);
  return TRUE;
}

UINT32 GetRomBase(VOID) { return mRomMap.RomBase; }
UINT32 GetRomSize(VOID) { return mRomMap.RomSize; }
UINT32 GetBlockUnit(VOID) { return mRomMap.BlockUnit; }
UINT32 GetBlockCount(VOID) { return mRomMap.BlockCount; }

BOOLEAN GetBlockTableCopy(BLOCK_ENTRY **Copy) {
  FuncEnter(u"GetBlockTableCopy");
  if (Copy == NULL) {
    FuncExit(u"GetBlockTableCopy", u"Input buffer is NULL");
    return FALSE;
  }
  *Copy = (BLOCK_ENTRY *)AllocateZeroPool(BLOCK_TABLE_BYTES);
  if (*Copy == NULL) {
    FuncExit(u"GetBlockTableCopy", u"Allocate memory failed");
    return FALSE;
  }
  if (mRomMap.BlockTable != NULL) {
    CopyMem(*Copy, mRomMap.BlockTable, BLOCK_TABLE_BYTES);
  }
  FuncExit(u"GetBlockTableCopy", NULL);
  return TRUE;
}

CONST BLOCK_ENTRY *GetBlockEntry(UINT32 Index) {
  if (mRomMap.BlockTable == NULL || Index >= mRomMap.BlockCount) {
    return NULL;
  }
  return &mRomMap.BlockTable[Index];
}

// ---- 1Eh: whole ROM map ----------------------------------------------------------

BOOLEAN FuncGetWholeRomMap(VOID) {
  FuncEnter(u"FuncGetWholeRomMap");
  mRomMap.WholeCount = 0;
  UINT8 *Buffer = (UINT8 *)AllocateZeroPool(WHOLE_MAP_BUFFER_SIZE);
  if (Buffer == NULL) {
    FuncExit(u"FuncGetWholeRomMap", u"Allocate memory failed");
    return FALSE;
  }
  if (!Fwsmi_1Eh(Buffer)) {
    FreePool(Buffer);
    FuncExit(u"FuncGetWholeRomMap", u"FWSMI fail");
    return FALSE;
  }
  DebugPrint(4, u"===== Whole Region MAP Information =====\r\n");
  DumpHex(Buffer, WHOLE_MAP_TRACE_BYTES);
  DebugPrint(4, u"Structure size: %d\r\n", WHOLE_MAP_RAW_ENTRY_SIZE);
  // Only whole entries inside the buffer are read.
  for (UINT32 Offset = 0; Offset + WHOLE_MAP_RAW_ENTRY_SIZE <= WHOLE_MAP_BUFFER_SIZE;
       Offset += WHOLE_MAP_RAW_ENTRY_SIZE) {
    CONST UINT8 *Entry = Buffer + Offset;
    if (Entry[0] == ROM_TYPE_END) {
      break;
    }
    UINT32 Size = ReadUnaligned32(Entry + 5);
    if (Size == 0) {
      continue;
    }
    WHOLE_ROM_RAW_ENTRY *Raw = &mRomMap.WholeRaw[mRomMap.WholeCount];
    Raw->Type = Entry[0];
    Raw->Address = ReadUnaligned32(Entry + 1);
    Raw->Size = Size;
    Raw->Attribute = ReadUnaligned32(Entry + 9);
    WHOLE_ROM_RECORD *Record = &mRomMap.WholeRecords[mRomMap.WholeCount];
    Record->Type = Raw->Type;
    Record->Start = Raw->Address;
    Record->Offset = Raw->Address - mRomMap.RomBase;
    Record->Size = Size;
    Record->End = RangeEnd(Raw->Address, Size);
    Record->Attribute = Raw->Attribute;
    mRomMap.WholeCount++;
    if (mRomMap.WholeCount >= WHOLE_MAP_MAX_RECORDS) {
      break;
    }
  }
  FreePool(Buffer);
  WholeMapTable(TO_TRACE, &mRomMap);
  FuncExit(u"FuncGetWholeRomMap", NULL);
  return TRUE;
}

BOOLEAN DataGetWholeRomMap(WHOLE_ROM_RECORD *Records, UINT32 *Count) {
  if (Records != NULL) {
    CopyMem(Records, mRomMap.WholeRecords, mRomMap.WholeCount * sizeof(WHOLE_ROM_RECORD));
  }
  if (Count != NULL) {
    *Count = mRomMap.WholeCount;
  }
  return TRUE;
}

BOOLEAN SMI_GetWholeRomMap(WHOLE_ROM_RECORD *Records, UINT32 *Count) {
  FuncEnter(u"SMI_GetWholeRomMap");
  // The flag goes up before the query: a failed query is not asked again.
  if (mRomMap.WholeMapCalled == 0) {
    mRomMap.WholeMapCalled = 1;
    mRomMap.WholeMapResult = FuncGetWholeRomMap();
  }
  DataGetWholeRomMap(Records, Count);
  if (!mRomMap.WholeMapResult) {
    FuncExit(u"SMI_GetWholeRomMap", u"FuncGetWholeRomMap failed");
    return FALSE;
  }
  FuncExit(u"SMI_GetWholeRomMap", NULL);
  return TRUE;
}

// ---- 17h: flash-descriptor regions -------------------------------------------

static CONST UINT8 mRegionSlotTypes[REGION_SLOTS] = {
    EXTERNAL_TYPE_DESCRIPTOR, EXTERNAL_TYPE_BIOS,          EXTERNAL_TYPE_ME, EXTERNAL_TYPE_GBE,
    EXTERNAL_TYPE_PLATFORM_DATA, EXTERNAL_TYPE_IGNITION_ME, EXTERNAL_TYPE_EC,
};

// One 256-byte map into its entries and its record. A region of size 0 has no
// range: it is dropped and leaves its slot as it was.
static UINT32 DecodeExternalMap(CONST UINT8 *Map, EXTERNAL_REGION_ENTRY *Entries, REGION_RECORD *Record) {
  UINT32 Count = 0;
  for (UINT32 Index = 0; Index < EXTERNAL_MAP_MAX_ENTRIES; Index++) {
    CONST UINT8 *Entry = Map + Index * EXTERNAL_MAP_ENTRY_SIZE;
    if (Entry[0] == ROM_TYPE_END) {
      break;
    }
    EXTERNAL_REGION_ENTRY Region;
    Region.Type = Entry[0];
    Region.Offset = ReadUnaligned32(Entry + 1);
    Region.Size = ReadUnaligned32(Entry + 5);
    Region.Access = Entry[9];
    if (Region.Size == 0) {
      continue;
    }
    Entries[Count++] = Region;
    DebugPrint(4, u" %02Xh %-13s Offset 0x%08X Size 0x%08X Access 0x%02X\r\n", Region.Type,
               ExternalRegionTypeName(Region.Type), Region.Offset, Region.Size, Region.Access);
    for (UINT32 Slot = 0; Slot < REGION_SLOTS; Slot++) {
      if (mRegionSlotTypes[Slot] == Region.Type) {
        Record->Slot[Slot].Offset = Region.Offset;
        Record->Slot[Slot].Size = Region.Size;
        Record->Slot[Slot].Access = Region.Access;
      }
    }
  }
  return Count;
}

BOOLEAN GetExternalRegionMap(CONST UINT8 *Image, UINT32 ImageSize) {
  FuncEnter(u"GetExternalRegionMap");
  UINT8 *Maps = (UINT8 *)AllocateZeroPool(EXTERNAL_MAP_BUFFER_SIZE);
  UINT8 *Head = (UINT8 *)AllocateZeroPool(EXTERNAL_MAP_BUFFER_SIZE);
  if (Maps == NULL || Head == NULL) {
    FreePool(Maps);
    FreePool(Head);
    FuncExit(u"GetExternalRegionMap", u"Allocate memory failed");
    return FALSE;
  }
  if (Image != NULL) {
    CopyMem(Head, Image, ImageSize < EXTERNAL_MAP_BUFFER_SIZE ? ImageSize : EXTERNAL_MAP_BUFFER_SIZE);
  }
  if (!Fwsmi_17h(Maps, Head)) {
    FreePool(Maps);
    FreePool(Head);
    FuncExit(u"GetExternalRegionMap", u"FWSMI failed");
    return FALSE;
  }
  DebugPrint(4, u"===== 17h Info =====\r\n");
  DumpHex(Maps, EXTERNAL_MAP_TRACE_BYTES);
  DumpHex(Maps + EXTERNAL_MAP_SIZE, EXTERNAL_MAP_TRACE_BYTES);
  DebugPrint(4, u"(Current)\r\n");
  mRomMap.CurrentCount = DecodeExternalMap(Maps, mRomMap.CurrentMap, &mRomMap.CurrentRegions);
  DebugPrint(4, u"(New)\r\n");
  mRomMap.NewCount = DecodeExternalMap(Maps + EXTERNAL_MAP_SIZE, mRomMap.NewMap, &mRomMap.NewRegions);
  mRomMap.ExternalMapKnown = TRUE;
  FreePool(Maps);
  FreePool(Head);
  FuncExit(u"GetExternalRegionMap", NULL);
  return TRUE;
}

BOOLEAN GetCurrentRegionRecord(REGION_RECORD *Record) {
  if (Record == NULL || !mRomMap.ExternalMapKnown) {
    return FALSE;
  }
  CopyMem(Record, &mRomMap.CurrentRegions, sizeof(*Record));
  return TRUE;
}

BOOLEAN GetNewRegionRecord(REGION_RECORD *Record) {
  if (Record == NULL || !mRomMap.ExternalMapKnown) {
    return FALSE;
  }
  CopyMem(Record, &mRomMap.NewRegions, sizeof(*Record));
  return TRUE;
}

// ---- The new image's ROM map ---------------------------------------------------

// Kept with a placeholder so that this image holds no "$FWSMI" a search could find.
#define BVDT_MAP_SIGNATURE_SIZE 6  // "$FWSMI"

BOOLEAN ReadBvdtRomMap(CONST UINT8 *Image, UINT32 ImageSize) {
  FuncEnter(u"ReadBvdtRomMap");
  mRomMap.BvdtFound = 0;
  mRomMap.BvdtCount = 0;
  if (Image == NULL) {
    FuncExit(u"ReadBvdtRomMap", u"Input buffer is NULL");
    return FALSE;
  }
  INTN Found = FindImageSignature(ImageSignatureBvdtMap, Image, ImageSize);
  if (Found < 0) {
    FuncExit(u"ReadBvdtRomMap", u"Signature not found");
    return FALSE;
  }
  mRomMap.BvdtFound = 1;
  UINT32 Offset = (UINT32)Found + BVDT_MAP_SIGNATURE_SIZE;
  // Entries are read only while they lie whole inside the image.
  for (UINT32 Index = 0; Index < ROM_MAP_MAX_ENTRIES && Offset + BVDT_MAP_ENTRY_SIZE <= ImageSize;
       Index++, Offset += BVDT_MAP_ENTRY_SIZE) {
    CONST UINT8 *Entry = Image + Offset;
    if (Entry[0] == ROM_TYPE_END) {
      break;
    }
    UINT32 Address = ReadUnaligned32(Entry + 1);
    UINT32 Size = ReadUnaligned32(Entry + 5);
    if (Size == 0) {  // also the empty (0, 0) entries
      continue;
    }
    UINT32 Kept = mRomMap.BvdtCount++;
    mRomMap.BvdtType[Kept] = Entry[0];
    mRomMap.BvdtStart[Kept] = Address;
    mRomMap.BvdtEnd[Kept] = RangeEnd(Address, Size);
    mRomMap.BvdtAction[Kept] = Entry[9];
  }
  BvdtMapTable(TO_TRACE, &mRomMap);
  FuncExit(u"ReadBvdtRomMap", NULL);
  return TRUE;
}

BOOLEAN GetBvdtRomMap(UINT32 *PrivateCount, PRIVATE_MAP_ENTRY *PrivateMap, UINT32 *ProtectCount,
                      PROTECT_MAP_ENTRY *ProtectMap) {
  FuncEnter(u"GetBvdtRomMap");
  if (PrivateCount == NULL || PrivateMap == NULL || ProtectCount == NULL || ProtectMap == NULL) {
    FuncExit(u"GetBvdtRomMap", u"Input buffer is NULL");
    return FALSE;
  }
  *PrivateCount = 0;
  *ProtectCount = 0;
  for (UINT32 Index = 0; Index < mRomMap.BvdtCount; Index++) {
    UINT32 Start = mRomMap.BvdtStart[Index];
    UINT32 Size = mRomMap.BvdtEnd[Index] - Start + 1;
    if (mRomMap.BvdtType[Index] == ROM_TYPE_PRIVATE) {
      PRIVATE_MAP_ENTRY *Entry = &PrivateMap[(*PrivateCount)++];
      Entry->Address = Start;
      Entry->Size = Size;
      DebugPrint(4, u" Private region #%d [%08X] (%8X)\r\n", *PrivateCount - 1, Start, Size);
    } else {
      PROTECT_MAP_ENTRY *Entry = &ProtectMap[(*ProtectCount)++];
      Entry->Type = mRomMap.BvdtType[Index];
      Entry->Address = Start;
      Entry->Size = Size;
      DebugPrint(4, u" Protect region #%d [%08X] (%8X)\r\n", *ProtectCount - 1, Start, Size);
    }
  }
  DebugPrint(4, u"===== BVDT Private MAP =====\r\n");
  DumpHex(PrivateMap, *PrivateCount * sizeof(PRIVATE_MAP_ENTRY));
  DebugPrint(4, u"===== BVDT Protection MAP =====\r\n");
  DumpHex(ProtectMap, *ProtectCount * sizeof(PROTECT_MAP_ENTRY));
  FuncExit(u"GetBvdtRomMap", NULL);
  return TRUE;
}

BOOLEAN GetPlatformMaps(UINT32 *PrivateCount, PRIVATE_MAP_ENTRY *PrivateMap, UINT32 *ProtectCount,
                        PROTECT_MAP_ENTRY *ProtectMap) {
  FuncEnter(u"GetPlatformMaps");
  if (PrivateCount == NULL || PrivateMap == NULL || ProtectCount == NULL || ProtectMap == NULL) {
    FuncExit(u"GetPlatformMaps", u"Input buffer is NULL");
    return FALSE;
  }
  if (mIniSettings.ForceFlash.UseBvdtRomMap == 1 && mRomMap.BvdtFound != 0) {
    BOOLEAN Result = GetBvdtRomMap(PrivateCount, PrivateMap, ProtectCount, ProtectMap);
    FuncExit(u"GetPlatformMaps", Result ? NULL : u"Get BVDT ROM map failed");
    return Result;
  }
  *PrivateCount = mRomMap.PrivateCount;
  CopyMem(PrivateMap, mRomMap.PrivateMap, mRomMap.PrivateCount * sizeof(PRIVATE_MAP_ENTRY));
  *ProtectCount = mRomMap.ProtectCount;
  CopyMem(ProtectMap, mRomMap.ProtectMap, mRomMap.ProtectCount * sizeof(PROTECT_MAP_ENTRY));
  FuncExit(u"GetPlatformMaps", NULL);
  return TRUE;
}

// The maps GetPlatformMaps selects, in one pool block (the traces of the
// BVDT conversion come with them).
typedef struct {
  UINT32 PrivateCount;
  PRIVATE_MAP_ENTRY PrivateMap[ROM_MAP_MAX_ENTRIES];
  UINT32 ProtectCount;
  PROTECT_MAP_ENTRY ProtectMap[ROM_MAP_MAX_ENTRIES];
} PLATFORM_MAPS;

static PLATFORM_MAPS *LoadPlatformMaps(VOID) {
  PLATFORM_MAPS *Maps = (PLATFORM_MAPS *)AllocateZeroPool(sizeof(PLATFORM_MAPS));
  if (Maps != NULL &&
      !GetPlatformMaps(&Maps->PrivateCount, Maps->PrivateMap, &Maps->ProtectCount, Maps->ProtectMap)) {
    FreePool(Maps);
    Maps = NULL;
  }
  return Maps;
}

UINT32 GetSpecifyProtectAreaCount(UINT8 Type) {
  PLATFORM_MAPS *Maps = LoadPlatformMaps();
  if (Maps == NULL) {
    return 0;
  }
  UINT32 Count = 0;
  for (UINT32 Index = 0; Index < Maps->ProtectCount; Index++) {
    if (Maps->ProtectMap[Index].Type == Type) {
      Count++;
    }
  }
  FreePool(Maps);
  return Count;
}

BOOLEAN GetSpecifyProtectArea(UINT8 Type, UINT32 Index, UINT32 *Address, UINT32 *Size) {
  FuncEnter(u"GetSpecifyProtectArea");
  if (Address == NULL || Size == NULL) {
    FuncExit(u"GetSpecifyProtectArea", u"Input buffer is NULL");
    return FALSE;
  }
  PLATFORM_MAPS *Maps = LoadPlatformMaps();
  if (Maps == NULL) {
    FuncExit(u"GetSpecifyProtectArea", u"Get platform maps failed");
    return FALSE;
  }
  UINT32 Seen = 0;
  for (UINT32 Entry = 0; Entry < Maps->ProtectCount; Entry++) {
    if (Maps->ProtectMap[Entry].Type != Type) {
      continue;
    }
    if (Seen++ == Index) {
      *Address = Maps->ProtectMap[Entry].Address;
      *Size = Maps->ProtectMap[Entry].Size;
      DebugPrint(4, u"[%Xh]  Address: %8Xh  Size: %Xh\r\n", Type, *Address, *Size);
      FreePool(Maps);
      FuncExit(u"GetSpecifyProtectArea", NULL);
      return TRUE;
    }
  }
  FreePool(Maps);
  FuncExit(u"GetSpecifyProtectArea", u"Not found");
  return FALSE;
}

// ---- Block flags -----------------------------------------------------------------

// The last address of block Index.
static UINT32 BlockEnd(UINT32 Index) {
  return RangeEnd(mRomMap.BlockTable[Index].Address, mRomMap.BlockTable[Index].Size);
}

// The first block that ends at or after Address (BlockCount when none does).
// The blocks follow each other upward from the ROM base.
static UINT32 FirstBlockEndingFrom(UINT32 Address) {
  UINT32 Low = 0;
  UINT32 High = mRomMap.BlockCount;
  while (Low < High) {
    UINT32 Middle = Low + (High - Low) / 2;
    if (BlockEnd(Middle) < Address) {
      Low = Middle + 1;
    } else {
      High = Middle;
    }
  }
  return Low;
}

// The block holding Address, or BlockCount.
static UINT32 BlockHolding(UINT32 Address) {
  UINT32 Index = FirstBlockEndingFrom(Address);
  if (Index < mRomMap.BlockCount && mRomMap.BlockTable[Index].Address <= Address &&
      mRomMap.BlockTable[Index].Size != 0) {
    return Index;
  }
  return mRomMap.BlockCount;
}

VOID ProtectAllBlocks(VOID) {
  DebugPrint(4, u" Protect All Block\r\n");
  KeptRangesClear(&mRomMap.Kept);
  if (mRomMap.BlockCount != 0) {
    KeptRangesAdd(&mRomMap.Kept, mRomMap.BlockTable[0].Address, BlockEnd(mRomMap.BlockCount - 1));
  }
  for (UINT32 Index = 0; Index < mRomMap.BlockCount; Index++) {
    mRomMap.BlockTable[Index].Protect = 1;
  }
}

VOID UnprotectAllBlocks(VOID) {
  DebugPrint(4, u" Unprotect All Block\r\n");
  KeptRangesClear(&mRomMap.Kept);
  for (UINT32 Index = 0; Index < mRomMap.BlockCount; Index++) {
    mRomMap.BlockTable[Index].Protect = 0;
  }
}

// A block that the range only partly covers is where a region shares an
// erase block with other bytes: say which way it went.
static VOID TraceSharedBlock(UINT32 Index, UINT32 Low, UINT32 High) {
  CONST BLOCK_ENTRY *Block = &mRomMap.BlockTable[Index];
  if (Block->Address >= Low && BlockEnd(Index) <= High) {
    return;
  }
  UINT32 KeptLow = 0;
  UINT32 KeptHigh = 0;
  if (Block->Protect != 0 && KeptRangesOverlap(&mRomMap.Kept, Block->Address, BlockEnd(Index), &KeptLow, &KeptHigh)) {
    DebugPrint(4, u" Keep block 0x%08X size 0x%X: bytes 0x%08X ~ 0x%08X in it are kept\r\n", Block->Address,
               Block->Size, KeptLow > Block->Address ? KeptLow : Block->Address,
               KeptHigh < BlockEnd(Index) ? KeptHigh : BlockEnd(Index));
  }
}

VOID SetBlockProtectRange(UINT32 Low, UINT32 High, UINT8 Flag) {
  if (Low > High) {
    return;
  }
  BOOLEAN Recorded;
  if (Flag != 0) {
    Recorded = !mRomMap.Kept.Overflow && KeptRangesAdd(&mRomMap.Kept, Low, High);
  } else {
    // Once a range could not be recorded, nothing is released any more: the
    // set no longer knows every byte that is kept.
    Recorded = !mRomMap.Kept.Overflow && KeptRangesRemove(&mRomMap.Kept, Low, High);
  }
  if (!Recorded && !mRomMap.Kept.Overflow) {
    mRomMap.Kept.Overflow = TRUE;
  }
  if (!Recorded) {
    DebugPrint(4, u" Kept ranges full: blocks of 0x%08X ~ 0x%08X stay as they are\r\n", Low, High);
  }
  UINT32 First = FirstBlockEndingFrom(Low);
  UINT32 Last = First;
  for (UINT32 Index = First; Index < mRomMap.BlockCount && mRomMap.BlockTable[Index].Address <= High; Index++) {
    BLOCK_ENTRY *Block = &mRomMap.BlockTable[Index];
    if (Flag != 0) {
      Block->Protect = 1;
    } else if (Recorded) {
      Block->Protect = KeptRangesOverlap(&mRomMap.Kept, Block->Address, BlockEnd(Index), NULL, NULL) ? 1 : 0;
    }
    Last = Index;
  }
  if (First < mRomMap.BlockCount && mRomMap.BlockTable[First].Address <= High) {
    TraceSharedBlock(First, Low, High);
    if (Last != First) {
      TraceSharedBlock(Last, Low, High);
    }
  }
}

// Size 0 covers nothing.
static VOID SetRegionFlag(UINT32 Address, UINT32 Size, UINT8 Flag) {
  if (Size != 0) {
    SetBlockProtectRange(Address, RangeEnd(Address, Size), Flag);
  }
}

UINT8 GetBlockProtectFlagAt(UINT32 Address) {
  UINT32 Index = BlockHolding(Address);
  return Index < mRomMap.BlockCount ? mRomMap.BlockTable[Index].Protect : (UINT8)0;
}

static BOOLEAN Overlaps(UINT32 Low, UINT32 High, UINT32 Start, UINT32 Size) {
  return Size != 0 && Start <= High && RangeEnd(Start, Size) >= Low;
}

BOOLEAN GetProtectTypeAt(UINT32 Address, UINT8 *Type) {
  if (Type == NULL) {
    return FALSE;
  }
  UINT32 Low = Address;
  UINT32 High = Address;
  UINT32 Index = BlockHolding(Address);
  if (Index < mRomMap.BlockCount) {
    Low = mRomMap.BlockTable[Index].Address;
    High = BlockEnd(Index);
  }
  for (UINT32 Entry = 0; Entry < mRomMap.PrivateCount; Entry++) {
    if (Overlaps(Low, High, mRomMap.PrivateMap[Entry].Address, mRomMap.PrivateMap[Entry].Size)) {
      *Type = ROM_TYPE_PRIVATE_HIT;
      return TRUE;
    }
  }
  for (UINT32 Entry = 0; Entry < mRomMap.ProtectCount; Entry++) {
    if (Overlaps(Low, High, mRomMap.ProtectMap[Entry].Address, mRomMap.ProtectMap[Entry].Size)) {
      *Type = mRomMap.ProtectMap[Entry].Type;
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN GetExternalTypeAt(UINT32 Address, UINT8 *Type) {
  if (Type == NULL || !mRomMap.ExternalMapKnown) {
    return FALSE;
  }
  for (UINT32 Index = 0; Index < mRomMap.CurrentCount; Index++) {
    CONST EXTERNAL_REGION_ENTRY *Region = &mRomMap.CurrentMap[Index];
    if (InRange(Address, mRomMap.RomBase + Region->Offset, Region->Size)) {
      *Type = Region->Type;
      return TRUE;
    }
  }
  return FALSE;
}

// ---- Protection decisions ---------------------------------------------------------

BOOLEAN IsSecureBootSupport(VOID) {
  FuncEnter(u"IsSecureBootSupport");
  UINT8 Data[8];
  UINTN DataSize = sizeof(Data);
  UINT32 Attributes = 0;
  EFI_STATUS Status = PlatformGetVariable(u"SetupMode", &gEfiGlobalVariableGuid, &Attributes, &DataSize, Data);
  if (EFI_ERROR(Status)) {
    FuncExit(u"IsSecureBootSupport", u"Not support");
    return FALSE;
  }
  FuncExit(u"IsSecureBootSupport", u"Support");
  return TRUE;
}

BOOLEAN SetTypeReserve_1Eh(UINT8 Type, UINT8 Flag) {
  FuncEnter(u"SetTypeReserve_1Eh");
  if (mRomMap.WholeCount == 0) {
    FuncExit(u"SetTypeReserve_1Eh", u"Count is 0");
    return FALSE;
  }
  for (UINT32 Index = 0; Index < mRomMap.WholeCount; Index++) {
    CONST WHOLE_ROM_RAW_ENTRY *Entry = &mRomMap.WholeRaw[Index];
    if (Entry->Type != Type) {
      continue;
    }
    SetRegionFlag(Entry->Address, Entry->Size, Flag);
    if (Flag != 0) {
      DebugPrint(4, u" Protect [%02Xh] 0x%08X size 0x%08X\r\n", Type, Entry->Address, Entry->Size);
    } else {
      DebugPrint(4, u" Unprotect [%02Xh] 0x%08X size 0x%08X\r\n", Type, Entry->Address, Entry->Size);
    }
  }
  FuncExit(u"SetTypeReserve_1Eh", NULL);
  return TRUE;
}

static BOOLEAN IsTypeForceFlashed(UINT8 Type) {
  if (GetForceFlashType(Type) != 0) {
    return TRUE;
  }
  return Type < INI_FORCE_FLASH_TYPES && mIniSettings.ForceFlash.Type[Type] != 0;
}

BOOLEAN SetRsvd_13h(VOID) {
  FuncEnter(u"SetRsvd_13h");
  BOOLEAN SecureBoot = IsSecureBootSupport();
  PLATFORM_MAPS *Maps = LoadPlatformMaps();
  if (Maps == NULL) {
    FuncExit(u"SetRsvd_13h", u"Get platform maps failed");
    return FALSE;
  }
  ProtectMapTable(TO_TRACE, Maps->ProtectCount, Maps->ProtectMap);
  PrivateMapTable(TO_TRACE, Maps->PrivateCount, Maps->PrivateMap);

  if (IsAllowAlpCommand() != 0 && (mIniSettings.ForceFlash.ALP == 1 || IsOptionSet(OPT_ALP) != 0)) {
    Maps->ProtectCount = 0;
    Maps->PrivateCount = 0;
    DebugPrint(4, u" ALP enable\r\n");
  }
  if (IsOptionSet(OPT_ALL) != 0 || mIniSettings.ForceFlash.ALL == 1) {
    Maps->ProtectCount = 0;
    DebugPrint(4, u" Force flash all protect region\r\n");
  }
  if (mIniSettings.Others.EnableProtectionRegionMovement == 1) {
    Maps->ProtectCount = 0;
    DebugPrint(4, u" EnableProtectionRegionMovement = 1\r\n");
  }
  if (mIniSettings.Others.EnablePrivateRegionMovement == 1) {
    Maps->PrivateCount = 0;
    DebugPrint(4, u" EnablePrivateRegionMovement = 1\r\n");
  }

  for (UINT32 Index = 0; Index < Maps->PrivateCount; Index++) {
    CONST PRIVATE_MAP_ENTRY *Region = &Maps->PrivateMap[Index];
    DebugPrint(4, u"Protect private region (%08X ~ %08X)\r\n", Region->Address, RangeEnd(Region->Address, Region->Size));
    SetRegionFlag(Region->Address, Region->Size, 1);
  }

  DebugPrint(4, u" Protection Region Map\r\n----------+-----+----------\r\n");
  for (UINT32 Index = 0; Index < Maps->ProtectCount; Index++) {
    CONST PROTECT_MAP_ENTRY *Region = &Maps->ProtectMap[Index];
    if (IsTypeForceFlashed(Region->Type)) {
      DebugPrint(4, u"   Skip   | %02Xh | %s\r\n", Region->Type, RomRegionTypeName(Region->Type));
      continue;
    }
    DebugPrint(4, u" Reserved | %02Xh | %s\r\n", Region->Type, RomRegionTypeName(Region->Type));
    SetRegionFlag(Region->Address, Region->Size, 1);
  }

  BOOLEAN NvReleased = FALSE;
  BOOLEAN FactoryCopyReleased = FALSE;
  if (IsUpdateNvStorageOptionSet() || mIniSettings.SecurityFlashFactoryUpdate.UpdateNvStorage == 1 ||
      mIniSettings.Others.EnableProtectionRegionMovement == 1) {
    DebugPrint(4, u"update region NV |enable|\r\n");
    NvReleased = SetTypeReserve_1Eh(ROM_TYPE_NV_STORAGE, 0);
  } else if (SecureBoot) {
    SetTypeReserve_1Eh(ROM_TYPE_NV_STORAGE, 1);
  }
  if (IsUpdateFactoryCopyOptionSet() || mIniSettings.SecurityFlashFactoryUpdate.UpdateFactoryCopy == 1) {
    FactoryCopyReleased = SetTypeReserve_1Eh(ROM_TYPE_FACTORY_COPY, 0);
  }
  // Opening the NV storage or the factory copy opens those regions only: a
  // private or other protected region lying in the same bytes stays kept.
  if (NvReleased || FactoryCopyReleased) {
    for (UINT32 Index = 0; Index < Maps->PrivateCount; Index++) {
      SetRegionFlag(Maps->PrivateMap[Index].Address, Maps->PrivateMap[Index].Size, 1);
    }
    for (UINT32 Index = 0; Index < Maps->ProtectCount; Index++) {
      CONST PROTECT_MAP_ENTRY *Region = &Maps->ProtectMap[Index];
      if (IsTypeForceFlashed(Region->Type) || (NvReleased && Region->Type == ROM_TYPE_NV_STORAGE) ||
          (FactoryCopyReleased && Region->Type == ROM_TYPE_FACTORY_COPY)) {
        continue;
      }
      SetRegionFlag(Region->Address, Region->Size, 1);
    }
  }
  FreePool(Maps);
  FuncExit(u"SetRsvd_13h", NULL);
  return TRUE;
}

VOID SetMeSkipped(BOOLEAN Skipped) { mRomMap.MeSkipped = Skipped ? 1 : 0; }

BOOLEAN IsMeSkipped(VOID) { return mRomMap.MeSkipped != 0; }

static BOOLEAN CurrentMapHas(UINT8 Type) {
  for (UINT32 Index = 0; Index < mRomMap.CurrentCount; Index++) {
    if (mRomMap.CurrentMap[Index].Type == Type) {
      return TRUE;
    }
  }
  return FALSE;
}

static VOID UnprotectRegionSlot(UINT32 Slot) {
  CONST REGION_SLOT *Region = &mRomMap.CurrentRegions.Slot[Slot];
  SetRegionFlag(mRomMap.RomBase + Region->Offset, Region->Size, 0);
}

// A selected region that shares an erase block with bytes outside the
// selection cannot be written without erasing those bytes too; writing the
// rest of it would leave a half-updated region. FALSE (with the message) when
// any block of the region stays protected.
static BOOLEAN IsRegionSlotWritable(UINT32 Slot, UINT8 ExternalType) {
  CONST REGION_SLOT *Region = &mRomMap.CurrentRegions.Slot[Slot];
  if (Region->Size == 0) {
    return TRUE;
  }
  UINT32 Low = mRomMap.RomBase + Region->Offset;
  UINT32 High = RangeEnd(Low, Region->Size);
  for (UINT32 Index = FirstBlockEndingFrom(Low);
       Index < mRomMap.BlockCount && mRomMap.BlockTable[Index].Address <= High; Index++) {
    if (mRomMap.BlockTable[Index].Protect != 0) {
      Print(u"\r\nError: The %s region cannot be updated alone: flash block 0x%08X also holds bytes that must be "
            u"kept.\r\n",
            ExternalRegionTypeName(ExternalType), mRomMap.BlockTable[Index].Address);
      DebugPrint(4, u" Region %s shares block 0x%08X size 0x%X with kept bytes\r\n",
                 ExternalRegionTypeName(ExternalType), mRomMap.BlockTable[Index].Address,
                 mRomMap.BlockTable[Index].Size);
      return FALSE;
    }
  }
  return TRUE;
}

BOOLEAN SetRegionReserve(UINT8 Selection) {
  FuncEnter(u"SetRegionReserve");
  DebugPrint(4, u"Set Rsvd 17h |enable| (0x%X)\r\n", Selection);
  if (Selection == 0) {
    FuncExit(u"SetRegionReserve", NULL);
    return TRUE;
  }
  // Region, its selection bit and its type, in the order they are opened.
  BOOLEAN MeSelected = (Selection & REGION_SELECT_ME) != 0 && mRomMap.MeSkipped == 0;
  BOOLEAN MeRegion = CurrentMapHas(EXTERNAL_TYPE_ME);
  struct {
    BOOLEAN Selected;
    UINT32 Slot;
    UINT8 Type;
  } CONST Opened[] = {
      {(Selection & REGION_SELECT_DESCRIPTOR) != 0, REGION_SLOT_DESCRIPTOR, EXTERNAL_TYPE_DESCRIPTOR},
      {(Selection & REGION_SELECT_BIOS) != 0, REGION_SLOT_BIOS, EXTERNAL_TYPE_BIOS},
      {MeSelected, MeRegion ? (UINT32)REGION_SLOT_ME : (UINT32)REGION_SLOT_IGNITION_ME,
       MeRegion ? (UINT8)EXTERNAL_TYPE_ME : (UINT8)EXTERNAL_TYPE_IGNITION_ME},
      {(Selection & REGION_SELECT_EC) != 0, REGION_SLOT_EC, EXTERNAL_TYPE_EC},
      {(Selection & REGION_SELECT_GBE) != 0, REGION_SLOT_GBE, EXTERNAL_TYPE_GBE},
      {(Selection & REGION_SELECT_PLATFORM_DATA) != 0, REGION_SLOT_PLATFORM_DATA, EXTERNAL_TYPE_PLATFORM_DATA},
  };
  ProtectAllBlocks();
  for (UINTN Index = 0; Index < ARRAY_SIZE(Opened); Index++) {
    if (Opened[Index].Selected) {
      UnprotectRegionSlot(Opened[Index].Slot);
    }
  }
  for (UINTN Index = 0; Index < ARRAY_SIZE(Opened); Index++) {
    if (Opened[Index].Selected && !IsRegionSlotWritable(Opened[Index].Slot, Opened[Index].Type)) {
      FuncExit(u"SetRegionReserve", u"Region shares a block with kept bytes");
      return FALSE;
    }
  }
  FuncExit(u"SetRegionReserve", NULL);
  return TRUE;
}

// ---- Region movement --------------------------------------------------------------

typedef struct {
  UINT8 Type;
  UINT32 Address;
  UINT32 Size;
} MOVE_RANGE;

// The platform's ranges of one type in list order: the protect map, then the
// private map as type 0xFE.
static UINT32 PlatformRangesOf(UINT8 Type, MOVE_RANGE *Ranges) {
  UINT32 Count = 0;
  for (UINT32 Index = 0; Index < mRomMap.ProtectCount; Index++) {
    if (mRomMap.ProtectMap[Index].Type == Type) {
      Ranges[Count].Type = Type;
      Ranges[Count].Address = mRomMap.ProtectMap[Index].Address;
      Ranges[Count].Size = mRomMap.ProtectMap[Index].Size;
      Count++;
    }
  }
  if (Type == ROM_TYPE_PRIVATE) {
    for (UINT32 Index = 0; Index < mRomMap.PrivateCount; Index++) {
      Ranges[Count].Type = Type;
      Ranges[Count].Address = mRomMap.PrivateMap[Index].Address;
      Ranges[Count].Size = mRomMap.PrivateMap[Index].Size;
      Count++;
    }
  }
  return Count;
}

static UINT32 BvdtRangesOf(UINT8 Type, MOVE_RANGE *Ranges) {
  UINT32 Count = 0;
  for (UINT32 Index = 0; Index < mRomMap.BvdtCount; Index++) {
    if (mRomMap.BvdtType[Index] == Type) {
      Ranges[Count].Type = Type;
      Ranges[Count].Address = mRomMap.BvdtStart[Index];
      Ranges[Count].Size = mRomMap.BvdtEnd[Index] - mRomMap.BvdtStart[Index] + 1;
      Count++;
    }
  }
  return Count;
}

static UINT64 SumRanges(CONST MOVE_RANGE *Ranges, UINT32 Count) {
  UINT64 Sum = 0;
  for (UINT32 Index = 0; Index < Count; Index++) {
    Sum += Ranges[Index].Size;
  }
  return Sum;
}

// Pairs the two streams of ranges piece by piece. Every piece must land inside
// the working image: a BVDT range outside the ROM refuses the movement.
static BOOLEAN CopyRanges(CONST MOVE_RANGE *From, UINT32 FromCount, CONST MOVE_RANGE *To, UINT32 ToCount,
                          UINT8 *WorkingImage, UINT32 WorkingSize) {
  UINT32 F = 0, FDone = 0, T = 0, TDone = 0;
  while (F < FromCount) {
    if (T >= ToCount) {
      return FALSE;  // cannot happen while the platform total is not larger
    }
    UINT32 FLeft = From[F].Size - FDone;
    UINT32 TLeft = To[T].Size - TDone;
    UINT32 Piece = FLeft < TLeft ? FLeft : TLeft;
    UINT64 Offset = (UINT64)To[T].Address + TDone - mRomMap.RomBase;
    if (To[T].Address < mRomMap.RomBase || Offset + Piece > WorkingSize || Offset + Piece > mRomMap.RomSize) {
      DebugPrint(4, u" BVDT region 0x%08X is outside the ROM\r\n", To[T].Address);
      return FALSE;
    }
    if (!ReadRomChunked(From[F].Address + FDone, Piece, GetBlockUnit(), WorkingImage + Offset, NULL)) {
      return FALSE;
    }
    FDone += Piece;
    TDone += Piece;
    if (FDone == From[F].Size) {
      F++;
      FDone = 0;
    }
    if (TDone == To[T].Size) {
      T++;
      TDone = 0;
    }
  }
  return TRUE;
}

BOOLEAN DoRegionMovement(UINT8 *WorkingImage, UINT32 WorkingSize) {
  FuncEnter(u"DoRegionMovement");
  if (WorkingImage == NULL) {
    FuncExit(u"DoRegionMovement", u"Input buffer is NULL");
    return FALSE;
  }
  if (mRomMap.BvdtCount == 0) {
    FuncExit(u"DoRegionMovement", u"BVDT is empty");
    return FALSE;
  }
  // Both lists of one type: at most every protect and private entry, and every BVDT entry.
  MOVE_RANGE *Platform = (MOVE_RANGE *)AllocateZeroPool(2 * ROM_MAP_MAX_ENTRIES * sizeof(MOVE_RANGE));
  MOVE_RANGE *Bvdt = (MOVE_RANGE *)AllocateZeroPool(ROM_MAP_MAX_ENTRIES * sizeof(MOVE_RANGE));
  if (Platform == NULL || Bvdt == NULL) {
    FreePool(Platform);
    FreePool(Bvdt);
    FuncExit(u"DoRegionMovement", u"Allocate memory failed");
    return FALSE;
  }
  BOOLEAN MovePrivate = mIniSettings.Others.EnablePrivateRegionMovement == 1;
  BOOLEAN MoveProtect = mIniSettings.Others.EnableProtectionRegionMovement == 1;
  SMI_ApHookPoint(HOOK_BEFORE_READ_ROM);
  DebugPrint(4, u"Type |Platfrom size|  BVDT size  |\n");
  for (UINT32 Index = 0; Index < mRomMap.BvdtCount; Index++) {
    UINT8 Type = mRomMap.BvdtType[Index];
    if ((Type == ROM_TYPE_PRIVATE && !MovePrivate) || (Type != ROM_TYPE_PRIVATE && !MoveProtect)) {
      continue;
    }
    UINT32 PlatformCount = PlatformRangesOf(Type, Platform);
    UINT32 BvdtCount = BvdtRangesOf(Type, Bvdt);
    UINT64 P = SumRanges(Platform, PlatformCount);
    UINT64 B = SumRanges(Bvdt, BvdtCount);
    DebugPrint(4, u"0x%02X |0x%08X   |0x%08X   |\n", Type, (UINT32)P, (UINT32)B);
    if (P > B) {
      if (Type == ROM_TYPE_PRIVATE) {
        Print(u"Platform private region size = 0x%08X\nBVDT private region size = 0x%08X\nSize not enough\n", (UINT32)P,
              (UINT32)B);
        DebugPrint(4, u"Platform private region size = 0x%08X\nBVDT private region size = 0x%08X\nSize not enough\n",
                   (UINT32)P, (UINT32)B);
      } else {
        Print(u"Platform type 0x%02X protect region size = 0x%08X\n BVDT type 0x%02X protect region\n", Type, (UINT32)P,
              Type);
        DebugPrint(4, u"Platform type 0x%02X protect region size = 0x%08X\n BVDT type 0x%02X protect region\n", Type,
                   (UINT32)P, Type);
      }
      WaitKey();
      FreePool(Platform);
      FreePool(Bvdt);
      FuncExit(u"DoRegionMovement", u"Size not enough");
      return FALSE;
    }
    if (!CopyRanges(Platform, PlatformCount, Bvdt, BvdtCount, WorkingImage, WorkingSize)) {
      FreePool(Platform);
      FreePool(Bvdt);
      FuncExit(u"DoRegionMovement", u"Read ROM failed");
      return FALSE;
    }
  }
  FreePool(Platform);
  FreePool(Bvdt);
  FuncExit(u"DoRegionMovement", NULL);
  return TRUE;
}
