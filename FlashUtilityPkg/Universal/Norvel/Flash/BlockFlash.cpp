#include "Flash/BlockFlash.h"

#include "Base/Print.h"
#include "Base/RegionNames.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Console/ConsoleUi.h"
#include "Flash/BlockStatus.h"
#include "Flash/Completion.h"
#include "Flash/EcUpdate.h"
#include "Flash/Progress.h"
#include "Flash/RomAccess.h"
#include "Flash/RomMap.h"
#include "Flash/RomMapListings.h"
#include "Flash/RomMapTypes.h"
#include "Flash/SecureCapsule.h"
#include "Image/Bvdt.h"
#include "Image/ImageAnalysis.h"
#include "Platform.h"
#include "Smi/PlatformQueries.h"

#define BVDT_REGION_TYPE 0x0A
#define ME_PROBE_WAIT_US 100000
#define EFI_COMPLETION_WAIT_US 2000000
#define COMMAND_E_FILE_ALIGNMENT 0x10000
#define COMMAND_E_FIELD_CHARS 128

// 1Ah notifications around a flash.
#define OEM_ODM_ACTION_BEFORE_FLASH 1
#define OEM_ODM_ACTION_AFTER_FLASH 2
#define OEM_ODM_STATUS_NONE 0
#define OEM_ODM_STATUS_SUCCESS 1
#define OEM_ODM_STATUS_FAILURE 2

BLOCK_FLASH_STATE mBlockFlash;

VOID BlockFlashResetState(VOID) { ZeroMem(&mBlockFlash, sizeof(mBlockFlash)); }

// ---- Region selection -----------------------------------------------------

UINT8 GetRegionSelection(VOID) { return mBlockFlash.Selection; }

VOID SetRegionSelection(UINT8 Selection) { mBlockFlash.Selection = Selection; }

UINT8 BuildRegionSelection(VOID) {
  CONST INI_REGION *Region = &mIniSettings.Region;
  UINT8 Selection = 0;
  if (IsBiosRegionOptionSet() || Region->BIOS == 1) Selection |= REGION_SELECT_BIOS;
  if (IsOptionSet(OPT_GBE) != 0 || Region->GbE == 1) Selection |= REGION_SELECT_GBE;
  if (IsOptionSet(OPT_ME) != 0 || Region->ME == 1) Selection |= REGION_SELECT_ME;
  if (IsOptionSet(OPT_DESC) != 0 || Region->DESC == 1) Selection |= REGION_SELECT_DESCRIPTOR;
  if (IsOptionSet(OPT_PDR) != 0 || Region->Platform_Data == 1) Selection |= REGION_SELECT_PLATFORM_DATA;
  if (IsOptionSet(OPT_EC) != 0 || Region->EC == 1) Selection |= REGION_SELECT_EC;
  // The OEM ME update writes the ME region itself.
  if (mIniSettings.UpdateOEMME.MEFileName[0] != 0) Selection &= (UINT8)~REGION_SELECT_ME;
  DebugPrint(4, u" [Region] Setting (0x%02X)\r\n", Selection);
  DebugPrint(4, u"          BIOS: %d\r\n", (Selection & REGION_SELECT_BIOS) != 0 ? 1 : 0);
  DebugPrint(4, u"           GbE: %d\r\n", (Selection & REGION_SELECT_GBE) != 0 ? 1 : 0);
  DebugPrint(4, u"            ME: %d\r\n", (Selection & REGION_SELECT_ME) != 0 ? 1 : 0);
  DebugPrint(4, u"            EC: %d\r\n", (Selection & REGION_SELECT_EC) != 0 ? 1 : 0);
  DebugPrint(4, u"    Descriptor: %d\r\n", (Selection & REGION_SELECT_DESCRIPTOR) != 0 ? 1 : 0);
  DebugPrint(4, u" Platform Data: %d\r\n", (Selection & REGION_SELECT_PLATFORM_DATA) != 0 ? 1 : 0);
  mBlockFlash.Selection = Selection;
  return Selection;
}

// ---- Whole update ---------------------------------------------------------

// Offset of the first "$BVDT" in Data, or Size.
static UINT32 FindBvdtSignature(CONST UINT8 *Data, UINT32 Size) {
  INTN Found = FindImageSignature(ImageSignatureBvdt, Data, Size);
  return Found < 0 ? Size : (UINT32)Found;
}

BOOLEAN FindBvdtBlock(UINT32 *Address, UINT32 *Size) {
  FuncEnter(u"FindBvdtBlock");
  mBlockFlash.BvdtSearchFailed = FALSE;
  if (Address == NULL || Size == NULL) {
    FuncExit(u"FindBvdtBlock", u"Input buffer is NULL");
    return FALSE;
  }
  WHOLE_ROM_RECORD *Records = (WHOLE_ROM_RECORD *)AllocateZeroPool(sizeof(WHOLE_ROM_RECORD) * WHOLE_MAP_MAX_RECORDS);
  if (Records == NULL) {
    mBlockFlash.BvdtSearchFailed = TRUE;
    FuncExit(u"FindBvdtBlock", u"Allocate memory failed");
    return FALSE;
  }
  UINT32 Count = 0;
  if (!SMI_GetWholeRomMap(Records, &Count)) {
    FreePool(Records);
    FuncExit(u"FindBvdtBlock", u"Get whole ROM map failed");
    return FALSE;
  }
  BOOLEAN Found = FALSE;
  CONST CHAR16 *Reason = u"BVDT not found";
  for (UINT32 Index = 0; Index < Count && Index < WHOLE_MAP_MAX_RECORDS && !Found; Index++) {
    if (Records[Index].Type != BVDT_REGION_TYPE || Records[Index].Size == 0) {
      continue;
    }
    UINT32 Start = Records[Index].Start;
    UINT32 Length = Records[Index].Size;
    // A region the BIOS places outside the ROM holds none of its bytes; its
    // size is not taken as a read (or an allocation) of that many bytes.
    if (Start < GetRomBase() || Length > GetRomSize() - (Start - GetRomBase())) {
      DebugPrint(4, u" BVDT region 0x%08X size 0x%X is outside the ROM\r\n", Start, Length);
      continue;
    }
    UINT8 *Data = (UINT8 *)AllocateZeroPool(Length);
    if (Data == NULL) {
      mBlockFlash.BvdtSearchFailed = TRUE;
      Reason = u"Allocate memory failed";
      break;
    }
    if (!SMI_ReadRom(Start, Length, Data, NULL)) {
      FreePool(Data);
      mBlockFlash.BvdtSearchFailed = TRUE;
      Reason = u"Read ROM failed";
      break;
    }
    if (FindBvdtSignature(Data, Length) < Length) {
      DebugPrint(4, u" BVDT found in block Address = 0x%08X Size = 0x%X\r\n", Start, Length);
      *Address = Start;
      *Size = Length;
      Found = TRUE;
      Reason = NULL;
    }
    FreePool(Data);
  }
  FreePool(Records);
  FuncExit(u"FindBvdtBlock", Reason);
  return Found;
}

BOOLEAN LocateBvdtRange(CONST UINT8 *WorkingImage, UINT32 *Address, UINT32 *Size, BOOLEAN *Found) {
  *Found = FindBvdtBlock(Address, Size);
  if (*Found) {
    return TRUE;
  }
  if (mBlockFlash.BvdtSearchFailed) {
    return FALSE;
  }
  // Older BIOSes have no whole ROM map (0xEF), and some list no OEM data
  // region: the new image still says where its BVDT lies.
  UINT32 RomSize = GetRomSize();
  UINT32 Offset = FindBvdtSignature(WorkingImage, RomSize);
  if (Offset >= RomSize) {
    return TRUE;
  }
  *Address = GetRomBase() + Offset;
  *Size = RomSize - Offset < BVDT_RECORD_SIZE ? RomSize - Offset : BVDT_RECORD_SIZE;
  *Found = TRUE;
  DebugPrint(4, u" BVDT found in the new image Address = 0x%08X Size = 0x%X\r\n", *Address, *Size);
  return TRUE;
}

static UINTN ProgressPercent(UINT32 Index, UINT32 Count) {
  // A one-block update has no "count - 1" to divide by: it is all done at once.
  return Count <= 1 ? 100 : (UINTN)((UINT64)Index * 100 / (Count - 1));
}

static BOOLEAN WriteFailed(BLOCK_ENTRY *Table, UINT8 *Pending) {
  Print(u"\r\n");
  Print(u"\r\n                           Update BIOS failed!\r\n");
  FreePool(Pending);
  FreePool(Table);
  FuncExit(u"UpdateProcEntire", u"Write ROM failed");
  return FALSE;
}

BOOLEAN UpdateProcEntire(CONST UINT8 *WorkingImage) {
  FuncEnter(u"UpdateProcEntire");
  BLOCK_ENTRY *Table = NULL;
  UINT8 *Pending = (UINT8 *)AllocatePool(BLOCK_PENDING_BYTES);
  if (WorkingImage == NULL || Pending == NULL || !GetBlockTableCopy(&Table)) {
    FreePool(Pending);
    FuncExit(u"UpdateProcEntire", u"Allocate memory failed");
    return FALSE;
  }
  SetMem(Pending, BLOCK_PENDING_BYTES, 1);
  UINT32 Count = GetBlockCount();
  if (Count > BLOCK_TABLE_ENTRIES) {
    Count = BLOCK_TABLE_ENTRIES;
  }
  UINT32 RomSize = GetRomSize();
  DebugPrint(4, u"===== ROM Block Protect Table =====\r\n");
  TraceRomBlockProtectTable();
  SMI_ApHookPoint(HOOK_BEFORE_WRITE_ROM);

  UINT32 BvdtAddress = 0;
  UINT32 BvdtSize = 0;
  BOOLEAN HasBvdt = FALSE;
  if (!LocateBvdtRange(WorkingImage, &BvdtAddress, &BvdtSize, &HasBvdt)) {
    // Without knowing which blocks hold the BVDT, one of them could be
    // written first: a cut after it would leave the new version over the old
    // BIOS. Nothing has been written yet.
    Print(u"\r\nError: The BVDT block could not be read; nothing was written.\r\n");
    FreePool(Pending);
    FreePool(Table);
    FuncExit(u"UpdateProcEntire", u"Find BVDT block failed");
    return FALSE;
  }
  UINT64 BvdtLow = BvdtAddress;
  UINT64 BvdtHigh = (UINT64)BvdtAddress + BvdtSize - 1;

  Print(u"\r\n                           Start BIOS Update\r\n");
  ProgressBarStartTimer();
  UINT32 Offset = 0;
  for (UINT32 Index = 0; Index < Count; Index++) {
    BLOCK_ENTRY *Block = &Table[Index];
    ProgressBar(ProgressPercent(Index, Count));
    if (mIniSettings.UI.PassUpdateProgressToBios != 0) {
      SMI_PassUpdateProgress(Index, Count);
    }
    // The bytes up to and including this block.
    UpdateCapsuleUpdatePercentage(ProgressPhaseBios, Block->Size <= RomSize - Offset ? Offset + Block->Size : RomSize);
    // The table never covers more than the ROM; checked so that no block is
    // ever taken from beyond the working image.
    if (Block->Size > RomSize - Offset) {
      DebugPrint(4, u" Block 0x%08X runs past the ROM size\r\n", Block->Address);
      return WriteFailed(Table, Pending);
    }
    CONST UINT8 *Data = WorkingImage + Offset;
    Offset += Block->Size;
    if (Block->Protect != 0) {
      LogBlockStatus(Block->Address, BLOCK_OUTCOME_PROTECTED);
      continue;
    }
    UINT64 First = Block->Address;
    UINT64 Last = (UINT64)Block->Address + Block->Size - 1;
    // Any block sharing a byte with the BVDT waits, not only one that starts
    // or ends in it: a small BVDT area may lie inside a large block.
    if (HasBvdt && First <= BvdtHigh && Last >= BvdtLow) {
      Pending[Index] = 0;
      LogBlockStatus(Block->Address, BLOCK_OUTCOME_BVDT_LATER);
      continue;
    }
    if (!SMI_WriteRom(Block->Address, Block->Size, Data)) {
      return WriteFailed(Table, Pending);
    }
    LogBlockStatus(Block->Address, GetLastWriteOutcome());
  }

  if (HasBvdt) {
    Offset = 0;
    for (UINT32 Index = 0; Index < Count; Index++) {
      BLOCK_ENTRY *Block = &Table[Index];
      CONST UINT8 *Data = WorkingImage + Offset;
      Offset += Block->Size;
      if (Pending[Index] != 0) {
        continue;
      }
      DebugPrint(4, u"Write BVDT block 0x%08X size 0x%X\r\n", Block->Address, Block->Size);
      if (!SMI_WriteRom(Block->Address, Block->Size, Data)) {
        return WriteFailed(Table, Pending);
      }
      // Its 'X' stays the block's entry: the status log has one per block.
    }
  }
  ProgressBar(100);
  Print(u"\r\n");
  Print(u"\r                           Update BIOS completed.\r\n");
  FreePool(Pending);
  FreePool(Table);
  FuncExit(u"UpdateProcEntire", NULL);
  return TRUE;
}

// ---- Stage 1: the working image ---------------------------------------------

// The EC part in front of an image: checked, then kept for the EC update.
// Region protection for the selection, then the protected regions.
static BOOLEAN ReserveBlocks(BOOLEAN AlwaysRegions, CONST CHAR16 *Name) {
  UINT8 Selection = GetRegionSelection();
  if ((AlwaysRegions || Selection != 0) && !SetRegionReserve(Selection)) {
    FuncExit(Name, u"Set region reserve failed");
    return FALSE;
  }
  if (!SetRsvd_13h()) {
    FuncExit(Name, u"Set reserve failed");
    return FALSE;
  }
  FuncExit(Name, NULL);
  return TRUE;
}

BOOLEAN FuncSize_entire(UINT8 *Working, CONST UINT8 *Image, UINT32 ImageSize) {
  FuncEnter(u"FuncSize_entire");
  UINT32 RomSize = GetRomSize();
  if (Working == NULL || Image == NULL || ImageSize < RomSize) {
    FuncExit(u"FuncSize_entire", u"Input buffer is NULL");
    return FALSE;
  }
  UINT32 EcSize = ImageSize - RomSize;
  DebugPrint(4, u" entire Legacy\r\n-----+------\r\n  13h  0x%X\r\n   FD  0x%X\r\n   EC  %dK", RomSize, ImageSize,
             EcSize / 1024);
  if (!TakeEcPart(Image, EcSize)) {
    FuncExit(u"FuncSize_entire", u"EC size invalid");
    return FALSE;
  }
  CopyMem(Working, Image + EcSize, RomSize);
  return ReserveBlocks(FALSE, u"FuncSize_entire");
}

static BOOLEAN CurrentMapHasType(UINT8 Type) {
  for (UINT32 Index = 0; Index < mRomMap.CurrentCount && Index < EXTERNAL_MAP_MAX_ENTRIES; Index++) {
    if (mRomMap.CurrentMap[Index].Type == Type) {
      return TRUE;
    }
  }
  return FALSE;
}

// The ME region as the region protection takes it: ME, or Ignition ME on a
// map without ME.
static UINT32 MeRegionSlot(VOID) {
  return CurrentMapHasType(EXTERNAL_TYPE_ME) ? REGION_SLOT_ME : REGION_SLOT_IGNITION_ME;
}

BOOLEAN CheckRegionSize(UINT32 Size) {
  FuncEnter(u"CheckRegionSize");
  UINT8 Selection = GetRegionSelection();
  DebugPrint(4, u"|check| Region FD size(0x%X)\r\n", Selection);
  REGION_RECORD Current;
  ZeroMem(&Current, sizeof(Current));
  GetCurrentRegionRecord(&Current);
  static CONST struct {
    UINT8 Select;
    UINT8 Slot;
    UINT8 Type;
  } Order[] = {
      {REGION_SELECT_DESCRIPTOR, REGION_SLOT_DESCRIPTOR, EXTERNAL_TYPE_DESCRIPTOR},
      {REGION_SELECT_BIOS, REGION_SLOT_BIOS, EXTERNAL_TYPE_BIOS},
      {REGION_SELECT_ME, REGION_SLOT_ME, EXTERNAL_TYPE_ME},
      {REGION_SELECT_GBE, REGION_SLOT_GBE, EXTERNAL_TYPE_GBE},
      {REGION_SELECT_PLATFORM_DATA, REGION_SLOT_PLATFORM_DATA, EXTERNAL_TYPE_PLATFORM_DATA},
  };
  for (UINTN Index = 0; Index < sizeof(Order) / sizeof(Order[0]); Index++) {
    if ((Selection & Order[Index].Select) == 0) {
      continue;
    }
    UINT32 RegionSize = Current.Slot[Order[Index].Slot].Size;
    BOOLEAN Match = RegionSize == Size;
    // An ME image may be smaller than its region, unless the region carries an Ignition ME.
    if (Order[Index].Select == REGION_SELECT_ME && !CurrentMapHasType(EXTERNAL_TYPE_IGNITION_ME)) {
      Match = RegionSize >= Size;
    }
    CONST CHAR16 *Name = ExternalRegionTypeName(Order[Index].Type);
    if (!Match) {
      Print(u"Warning:\r\nNew %s region (%8Xh) does not match with current (%8Xh)\r\n\r\n", Name, Size, RegionSize);
      FuncExit(u"CheckRegionSize", u"Size not match");
      return FALSE;
    }
    DebugPrint(4, u"region size |match| %s\r\n", Name);
  }
  FuncExit(u"CheckRegionSize", NULL);
  return TRUE;
}

// Copies Size bytes to the working image at Offset; a region the map places
// beyond the ROM size is refused rather than written past the working image.
static BOOLEAN CopyToRegion(UINT8 *Working, UINT32 Offset, CONST UINT8 *Image, UINT32 Size) {
  if ((UINT64)Offset + Size > GetRomSize()) {
    DebugPrint(4, u" Region 0x%X + 0x%X lies beyond the ROM\r\n", Offset, Size);
    return FALSE;
  }
  CopyMem(Working + Offset, Image, Size);
  return TRUE;
}

BOOLEAN PlaceRegionImage(UINT8 *Working, CONST UINT8 *Image, UINT32 ImageSize) {
  FuncEnter(u"PlaceRegionImage");
  if (Working == NULL || Image == NULL) {
    FuncExit(u"PlaceRegionImage", u"Input buffer is NULL");
    return FALSE;
  }
  UINT8 Selection = GetRegionSelection();
  REGION_RECORD Current;
  ZeroMem(&Current, sizeof(Current));
  GetCurrentRegionRecord(&Current);
  CONST CHAR16 *Format = NULL;
  UINT32 Slot = 0;
  if ((Selection & REGION_SELECT_DESCRIPTOR) != 0) {
    Format = u" Desc Region: Offset (0x%X) Size (0x%X)\r\n";
    Slot = REGION_SLOT_DESCRIPTOR;
  } else if ((Selection & REGION_SELECT_GBE) != 0) {
    Format = u" GbE Region: Offset (0x%X) Size (0x%X)\r\n";
    Slot = REGION_SLOT_GBE;
  } else if ((Selection & REGION_SELECT_BIOS) != 0) {
    Format = u" BIOS Region: Offset (0x%X) Size (0x%X)\r\n";
    Slot = REGION_SLOT_BIOS;
  } else if ((Selection & REGION_SELECT_ME) != 0) {
    Format = u" ME Region: Offset (0x%X) Size (0x%X)\r\n";
    Slot = MeRegionSlot();
  }
  if (Format == NULL) {
    // Platform Data and EC alone: nothing to place.
    FuncExit(u"PlaceRegionImage", NULL);
    return TRUE;
  }
  DebugPrint(4, Format, Current.Slot[Slot].Offset, Current.Slot[Slot].Size);
  if (!CopyToRegion(Working, Current.Slot[Slot].Offset, Image, ImageSize)) {
    FuncExit(u"PlaceRegionImage", u"Region out of ROM");
    return FALSE;
  }
  FuncExit(u"PlaceRegionImage", NULL);
  return TRUE;
}

BOOLEAN FuncSize_region(UINT8 *Working, CONST UINT8 *Image, UINT32 ImageSize) {
  FuncEnter(u"FuncSize_region");
  UINT32 RomSize = GetRomSize();
  UINT8 Selection = GetRegionSelection();
  if (Working == NULL || Image == NULL) {
    FuncExit(u"FuncSize_region", u"Input buffer is NULL");
    return FALSE;
  }
  if (Selection == 0) {
    Print(u"Error: Size not match!\r\n ROM Size = 0x%X\r\n File Size = 0x%X\r\n", RomSize, ImageSize);
    FuncExit(u"FuncSize_region", u"No region selected");
    return FALSE;
  }
  REGION_RECORD Current;
  ZeroMem(&Current, sizeof(Current));
  GetCurrentRegionRecord(&Current);
  UINT32 BiosOffset = Current.Slot[REGION_SLOT_BIOS].Offset;
  UINT32 BiosSize = Current.Slot[REGION_SLOT_BIOS].Size;
  // An image smaller than the BIOS region has no EC part: the region size
  // check then names the mismatch.
  UINT32 EcSize = 0;
  if ((Selection & REGION_SELECT_BIOS) != 0 && ImageSize > BiosSize) {
    EcSize = ImageSize - BiosSize;
  }
  DebugPrint(4, u" BIOS region (FWSMI) = 0x%X\r\n Input image size    = 0x%X\r\n EC size             = %dK\r\n", BiosSize,
             ImageSize, EcSize / 1024);
  if (!TakeEcPart(Image, EcSize)) {
    FuncExit(u"FuncSize_region", u"EC size invalid");
    return FALSE;
  }
  if (!CheckRegionSize(ImageSize - EcSize)) {
    FuncExit(u"FuncSize_region", u"Region size invalid");
    return FALSE;
  }
  // A region image covers only part of what the selection leaves writable
  // (an ME image smaller than its region, Platform Data or EC alone, NV areas
  // opened by options): everything else keeps the flash's own contents.
  UINT8 Locked = 0;
  if (!ReadRomChunked(GetRomBase(), RomSize, GetBlockUnit(), Working, &Locked)) {
    FuncExit(u"FuncSize_region", u"Read ROM failed");
    return FALSE;
  }
  if (EcSize > 0) {
    // The rest is the BIOS region: it goes where the BIOS region lies, as an
    // image without EC part does.
    DebugPrint(4, u" BIOS Region: Offset (0x%X) Size (0x%X)\r\n", BiosOffset, BiosSize);
    if (!CopyToRegion(Working, BiosOffset, Image + EcSize, ImageSize - EcSize)) {
      FuncExit(u"FuncSize_region", u"Region out of ROM");
      return FALSE;
    }
  } else if (!PlaceRegionImage(Working, Image, ImageSize)) {
    FuncExit(u"FuncSize_region", u"Place region image failed");
    return FALSE;
  }
  return ReserveBlocks(TRUE, u"FuncSize_region");
}

BOOLEAN UpdateOemMe(VOID) {
  FuncEnter(u"UpdateOemMe");
  if (mIniSettings.UpdateOEMME.MEFileName[0] == 0) {
    FuncExit(u"UpdateOemMe", NULL);
    return TRUE;
  }
  FuncExit(u"UpdateOemMe", u"OEM ME update not built");
  return FALSE;
}

// ---- Whole updates ------------------------------------------------------------

// The locked-ME probe of the firmware path: one block unit read at the
// current ME region; a locked answer keeps ME out of the region protection.
static VOID ProbeLockedMe(VOID) {
  REGION_RECORD Current;
  ZeroMem(&Current, sizeof(Current));
  GetCurrentRegionRecord(&Current);
  UINT32 Address = GetRomBase() + Current.Slot[MeRegionSlot()].Offset;
  DebugPrint(4, u" Verify status (ME) 0x%X\r\n", Address);
  UINT32 Unit = GetBlockUnit();
  UINT8 *Data = (UINT8 *)AllocateZeroPool(Unit == 0 ? 1 : Unit);
  if (Data == NULL) {
    return;
  }
  UINT8 Locked = 0;
  if (SMI_ReadRom(Address, Unit, Data, &Locked) && Locked != 0) {
    SetMeSkipped(TRUE);
    Print(u"\r                           *** Warning ***\n\r                           ME locked, skip update region ME\n");
    PlatformStall(ME_PROBE_WAIT_US);
  }
  FreePool(Data);
}

static BOOLEAN FailUpdate(CONST CHAR16 *Name, UINT8 *Working, CONST CHAR16 *Reason) {
  FreePool(Working);
  FuncExit(Name, Reason);
  return FALSE;
}

// The flow both paths share; Firmware selects the firmware path's differences.
static BOOLEAN RunUpdate_via15h(CONST CHAR16 *Name, CONST UINT8 *Image, UINT32 ImageSize, BOOLEAN Firmware) {
  FuncEnter(Name);
  UINT32 RomSize = GetRomSize();
  if (Image == NULL || RomSize == 0) {
    FuncExit(Name, u"Input buffer is NULL");
    return FALSE;
  }
  UINT8 *Working = (UINT8 *)AllocateZeroPool((UINTN)RomSize + WORKING_IMAGE_EXTRA);
  if (Working == NULL) {
    Print(u"Error: Allocate memory for updating failed. (0x%X)\r\n", RomSize);
    FuncExit(Name, u"Allocate memory failed");
    return FALSE;
  }
  if (Firmware && !SMI_OemOdmCustom2(OEM_ODM_ACTION_BEFORE_FLASH, OEM_ODM_STATUS_NONE)) {
    return FailUpdate(Name, Working, u"Call OEM ODM customize before flash failed");
  }
  DebugPrint(4, u" Image Size 0x%X\r\n", ImageSize);
  UINT8 Selection = GetRegionSelection();
  if (!(Selection == 0 && RomSize <= ImageSize) && !GetExternalRegionMap(Image, ImageSize)) {
    return FailUpdate(Name, Working, u"Get Intel region map failed");
  }
  UINT8 UseBvdtMap = mIniSettings.ForceFlash.UseBvdtRomMap;
  UINT8 MoveProtect = mIniSettings.Others.EnableProtectionRegionMovement;
  UINT8 MovePrivate = mIniSettings.Others.EnablePrivateRegionMovement;
  BOOLEAN Moving = MoveProtect == 1 || MovePrivate == 1;
  // The firmware path has read the new image's map before.
  if (!Firmware && (UseBvdtMap == 1 || Moving) && !ReadBvdtRomMap(Image, ImageSize)) {
    Print(u"Error: Get BVDT ROM map failed\r\n");
    WaitKey();
    return FailUpdate(Name, Working, u"Get BVDT ROM map failed");
  }
  if (Firmware && (Selection & REGION_SELECT_ME) != 0 && ImageSize == RomSize) {
    ProbeLockedMe();
  }
  if (ImageSize < RomSize) {
    if (!FuncSize_region(Working, Image, ImageSize)) {
      return FailUpdate(Name, Working, u"FuncSize_region failed");
    }
  } else if (!FuncSize_entire(Working, Image, ImageSize)) {
    return FailUpdate(Name, Working, u"FuncSize_entire failed");
  }
  if (!Firmware) {
    if (!IsModelCheckNeeded() && !SMI_SkipModelCheckVerify(Working, RomSize, RomSize)) {
      return FailUpdate(Name, Working, u"Skip model check failed");
    }
    if (!UpdateOemMe()) {
      return FailUpdate(Name, Working, u"Update OEM ME failed");
    }
  }
  if (Moving && !DoRegionMovement(Working, RomSize + WORKING_IMAGE_EXTRA)) {
    return FailUpdate(Name, Working, u"Region movement failed");
  }
  BOOLEAN Updated = UpdateProcEntire(Working);
  FreePool(Working);
  SMI_OemOdmCustom2(OEM_ODM_ACTION_AFTER_FLASH, Updated ? OEM_ODM_STATUS_SUCCESS : OEM_ODM_STATUS_FAILURE);
  if (Firmware) {
    PlatformStall(EFI_COMPLETION_WAIT_US);
  }
  if (!Updated) {
    FuncExit(Name, u"Update failed");
    return FALSE;
  }
  // The action stays the configured one.
  SetStatus_16h(COMPLETE_KEEP, COMPLETE_STATUS_FLASH_ENTIRE);
  FuncExit(Name, NULL);
  return TRUE;
}

BOOLEAN FuncUpdate_via15h(CONST UINT8 *Image, UINT32 ImageSize) {
  return RunUpdate_via15h(u"FuncUpdate_via15h", Image, ImageSize, FALSE);
}

BOOLEAN EfiUpdate_via15h(CONST UINT8 *Image, UINT32 ImageSize) {
  return RunUpdate_via15h(u"EfiUpdate_via15h", Image, ImageSize, TRUE);
}

BOOLEAN UpdateExternalEc(CONST UINT8 *Image, UINT32 Size, BOOLEAN Wait) {
  FuncEnter(u"UpdateExternalEc");
  Print(u"\r\n                           Start EC Update\r\n");
  SetRegionSelection(REGION_SELECT_EC);
  if (!GetExternalRegionMap(NULL, 0)) {
    FuncExit(u"UpdateExternalEc", u"Get Intel region map failed");
    return FALSE;
  }
  if (SetRegionReserve(REGION_SELECT_EC) && UpdateExternalEcMain(Image, Size)) {
    SetStatus_16h(COMPLETE_KEEP, COMPLETE_STATUS_FLASH_PARTIAL);
    Print(u"\r                           Update EC completed.\r\n");
    Print(u"\r\n");
    FuncExit(u"UpdateExternalEc", NULL);
    return TRUE;
  }
  Print(u"\r                           Update EC failed!\r\n");
  if (Wait) {
    Print(u"Press any key to continue...\r\n");
    WaitKey();
  }
  FuncExit(u"UpdateExternalEc", u"Update filed");
  return FALSE;
}

// ---- A BIOS-region-only image -------------------------------------------------

// Stored with '~' for '$' so that this driver's own image holds no such tag.

#define BIOS_RECORD_DATA_SIZE_OFFSET 20
#define BIOS_RECORD_HEADER_SIZE 24
#define PFAT_HEADER_BLOCKS_OFFSET 12
#define PFAT_HEADER_ROM_BLOCK_OFFSET 20
#define PFAT_HEADER_FIELDS_SIZE 24

// The BIOS part's size as the image describes it; 64 bits so that a PFAT
// header's product cannot wrap into a plausible size.
static UINT64 ImageBiosSize(CONST UINT8 *Image, UINT32 ImageSize) {
  INTN Record = FindImageSignature(ImageSignatureBiosRecord, Image, ImageSize);
  if (Record >= 0 && (UINT64)Record + BIOS_RECORD_HEADER_SIZE <= ImageSize) {
    return ReadUnaligned32(Image + Record + BIOS_RECORD_DATA_SIZE_OFFSET);
  }
  INTN Header = FindImageSignature(ImageSignaturePfatHeader, Image, ImageSize);
  if (Header >= 0 && (UINT64)Header + PFAT_HEADER_FIELDS_SIZE <= ImageSize) {
    return (UINT64)ReadUnaligned32(Image + Header + PFAT_HEADER_BLOCKS_OFFSET) *
           ReadUnaligned32(Image + Header + PFAT_HEADER_ROM_BLOCK_OFFSET);
  }
  return ImageSize;
}

BOOLEAN IsBiosRegionOnlyImg(CONST UINT8 *Image, UINT32 ImageSize) {
  FuncEnter(u"IsBiosRegionOnlyImg");
  if (Image == NULL) {
    FuncExit(u"IsBiosRegionOnlyImg", u"Input buffer is NULL");
    return FALSE;
  }
  UINT64 BiosSize = ImageBiosSize(Image, ImageSize);
  if (BiosSize == GetRomSize()) {
    FuncExit(u"IsBiosRegionOnlyImg", u"Image size = ROM size");
    return FALSE;
  }
  REGION_RECORD New;
  ZeroMem(&New, sizeof(New));
  if (!GetExternalRegionMap(Image, ImageSize) || !GetNewRegionRecord(&New)) {
    FuncExit(u"IsBiosRegionOnlyImg", u"FWSMI 17 faild");
    return FALSE;
  }
  if (BiosSize != New.Slot[REGION_SLOT_BIOS].Size) {
    FuncExit(u"IsBiosRegionOnlyImg", u"Size not match");
    return FALSE;
  }
  FuncExit(u"IsBiosRegionOnlyImg", NULL);
  return TRUE;
}

// ---- -e:Offset,Size,Address ----------------------------------------------------

// Field Index (0-2) of a comma-separated text as a number; an empty field is 0.
static UINT32 CommandEField(CONST CHAR16 *Text, UINTN Index) {
  for (UINTN Comma = 0; Comma < Index; Comma++) {
    while (*Text != 0 && *Text != u',') Text++;
    if (*Text == u',') Text++;
  }
  CHAR16 Field[COMMAND_E_FIELD_CHARS];
  UINTN Length = 0;
  while (Text[Length] != 0 && Text[Length] != u',' && Length + 1 < COMMAND_E_FIELD_CHARS) {
    Field[Length] = Text[Length];
    Length++;
  }
  Field[Length] = 0;
  return Length == 0 ? 0 : ParseOptionHex(Field);
}

BOOLEAN ParseCommand_e(CONST CHAR16 *Text) {
  COMMAND_E_ARGS *Args = &mBlockFlash.CommandE;
  ZeroMem(Args, sizeof(*Args));
  if (Text == NULL) {
    return FALSE;
  }
  UINTN Commas = 0;
  for (CONST CHAR16 *At = Text; *At != 0; At++) {
    if (*At == u',') Commas++;
  }
  if (Commas < 2) {
    DebugPrint(4, u"Command -e invalid %s\r\n", Text);
    return FALSE;
  }
  Args->Offset = CommandEField(Text, 0);
  Args->Size = CommandEField(Text, 1);
  Args->Address = CommandEField(Text, 2);
  Args->Given = 1;
  DebugPrint(4, u" command -e\r\n--------+-----------\r\n Offset  %X\r\n   Size  %X\r\n   Addr  %X\r\n", Args->Offset,
             Args->Size, Args->Address);
  return TRUE;
}

static BOOLEAN CommandERefused(CONST CHAR16 *Reason) {
  DebugPrint(4, u"IsValidCommand_e() |fail|\r\n");
  FuncExit(u"IsValidCommand_e", Reason);
  return FALSE;
}

BOOLEAN IsValidCommand_e(UINT32 FileSize) {
  FuncEnter(u"IsValidCommand_e");
  COMMAND_E_ARGS *Args = &mBlockFlash.CommandE;
  if (Args->Given == 0) {
    return CommandERefused(u"Command -e not given");
  }
  if (Args->Address == 0) {
    Print(u"Error: Bad argument. Update Address is 0.\r\n");
    return CommandERefused(u"Address is 0");
  }
  if (Args->Address < GetRomBase()) {
    Print(u"Error: Bad argument. Update Address must higher than 0x%lx.\r\n", (UINT64)GetRomBase());
    return CommandERefused(u"Address below ROM base");
  }
  if (Args->Offset > FileSize) {
    Print(u"Error: File offest 0x%X is bigger than file size 0x%X.\r\n", Args->Offset, FileSize);
    return CommandERefused(u"Offset past file");
  }
  if (Args->Size == 0) {
    Args->Size = FileSize - Args->Offset;
  }
  if ((UINT64)Args->Offset + Args->Size > FileSize) {
    Print(u"Error: File offest + size 0x%X is bigger than file size 0x%X.\r\n", Args->Offset + Args->Size, FileSize);
    return CommandERefused(u"Size past file");
  }
  if (FileSize % COMMAND_E_FILE_ALIGNMENT != 0) {
    Print(u"Error: File size msut be sector size alignment.\r\n");
    return CommandERefused(u"File size not aligned");
  }
  // The flash ends at 4 GiB: a piece running past it would wrap to address 0.
  if ((UINT64)Args->Address + Args->Size > 0x100000000ull) {
    return CommandERefused(u"Range past 4 GiB");
  }
  FuncExit(u"IsValidCommand_e", NULL);
  return TRUE;
}

static VOID PrintCommandEProgress(UINT32 Percent) {
  CHAR16 Line[80];
  UINTN Length = 0;
  for (UINT32 Value = 0; Value <= Percent && Length + 4 < sizeof(Line) / sizeof(Line[0]); Value++) {
    if (Value % 10 == 0) {
      Length += UnicodeSPrint(Line + Length, sizeof(Line) - Length * sizeof(CHAR16), u"%d", Value);
    } else if (Value % 2 == 0) {
      Line[Length++] = u'.';
    }
  }
  Line[Length] = 0;
  Print(u"\r         %s", Line);
}

BOOLEAN WriteCommand_e(CONST UINT8 *FileData, UINT32 FileSize) {
  FuncEnter(u"WriteCommand_e");
  CONST COMMAND_E_ARGS *Args = &mBlockFlash.CommandE;
  UINT32 Unit = GetBlockUnit();
  if (FileData == NULL || Unit == 0 || Args->Given == 0 || (UINT64)Args->Offset + Args->Size > FileSize) {
    FuncExit(u"WriteCommand_e", u"Input buffer is NULL");
    return FALSE;
  }
  SMI_ApHookPoint(HOOK_BEFORE_WRITE_ROM);
  DebugPrint(4, u" Start Address 0x%08X\r\n", Args->Address);
  DebugPrint(4, u" End Address 0x%08X\r\n", Args->Address + Args->Size - 1);
  Print(u"\r         Command -e updating\r\n");
  CONST UINT8 *Piece = FileData + Args->Offset;
  for (UINT32 Done = 0; Done < Args->Size;) {
    // The last block of a size that is no multiple of the unit keeps the
    // flash's bytes beyond the piece: nothing is read past the file.
    UINT32 Length = Args->Size - Done < Unit ? Args->Size - Done : Unit;
    if (!SMI_WriteRomPiece(Args->Address + Done, Unit, Piece + Done, Length)) {
      FuncExit(u"WriteCommand_e", u"Write ROM failed");
      return FALSE;
    }
    Done += Length;
    PrintCommandEProgress(Done >= Args->Size ? 100 : (UINT32)((UINT64)Done * 100 / Args->Size));
  }
  Print(u"\r\n");
  UINT8 Action = COMPLETE_ACTION_RETURN_TO_OS;
  if (IsOptionSet(OPT_R) != 0) {
    Action = COMPLETE_ACTION_REBOOT;
  } else if (IsOptionSet(OPT_S) != 0) {
    Action = COMPLETE_ACTION_SHUTDOWN;
  }
  SetStatus_16h(Action, COMPLETE_STATUS_FLASH_PARTIAL);
  FuncExit(u"WriteCommand_e", NULL);
  return TRUE;
}
