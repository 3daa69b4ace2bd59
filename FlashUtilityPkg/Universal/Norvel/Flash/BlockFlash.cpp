#include "Flash/BlockFlash.h"

#include "BaseLib.h"
#include "Completion.h"
#include "Config/CommandLine.h"
#include "Config/IniSettings.h"
#include "Console/BlockStatus.h"
#include "Console/ConsoleUi.h"
#include "Console/Trace.h"
#include "Flash/ReadRom.h"
#include "Flash/RomMap.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"

#define BVDT_REGION_TYPE 0x0A
#define EC_IMAGE_MAX 0x200000

BLOCK_FLASH_STATE mBlockFlash;

VOID BlockFlashResetState(VOID) {
  ZeroMem(&mBlockFlash, sizeof(mBlockFlash));
  mBlockFlash.LastOutcome = BLOCK_OUTCOME_NONE;
}

CHAR16 GetLastWriteOutcome(VOID) { return mBlockFlash.LastOutcome; }

// ---- One block ------------------------------------------------------------

BOOLEAN Fwsmi_15h(CONST WRITE_ROM_REQUEST *Request, WRITE_ROM_RESULT *Result) {
  FuncEnter(u"Fwsmi_15h");
  if (Request == NULL || Result == NULL || (Request->Data == NULL && Request->Size != 0)) {
    FuncExit(u"Fwsmi_15h", u"Input buffer is NULL");
    return FALSE;
  }
  Result->Status = 0xFF;
  Result->Skipped = 0;
  UINT32 Buffer = 0;
  if (!CopyToFwsmiBuffer(1, Request->Data, Request->Size, &Buffer)) {
    FuncExit(u"Fwsmi_15h", u"Allocate memory failed");
    return FALSE;
  }
  FWSMI_ARGS Args = {Request->Size, Buffer, Request->Address};
  UINT8 Status = (UINT8)(FwsmiCallWithRetry(0x15, &Args, NULL, FWSMI_STATUS_SKIP_BLOCK) & 0xFF);
  Result->Status = Status;
  if (Status == FWSMI_STATUS_SKIP_BLOCK) {
    DebugPrint(4, u" Skip this write block\r\n");
    Result->Skipped = 1;
    FuncExit(u"Fwsmi_15h", NULL);
    return TRUE;
  }
  if (Status != FWSMI_STATUS_SUCCESS) {
    ReportFwsmiError(0x15, Status);
    FuncExit(u"Fwsmi_15h", u"BIOS return not success");
    return FALSE;
  }
  FuncExit(u"Fwsmi_15h", NULL);
  return TRUE;
}

UINT8 CompareBlock(UINT32 Address, UINT32 Size, CONST VOID *Data) {
  FuncEnter(u"CompareBlock");
  UINT8 *Current = (UINT8 *)AllocateZeroPool(Size == 0 ? 1 : Size);
  if (Current == NULL) {
    FuncExit(u"CompareBlock", u"Allocate memory failed");
    return BLOCK_COMPARE_DIFFERENT;
  }
  UINT8 Locked = 0;
  UINT8 Answer = BLOCK_COMPARE_DIFFERENT;
  CONST CHAR16 *Reason = NULL;
  if (!SMI_ReadRom(Address, Size, Current, &Locked)) {
    Reason = u"Read ROM failed";
  } else if (Locked != 0) {
    Answer = BLOCK_COMPARE_LOCKED;
    Reason = u"Locked, skip it";
  } else if (CompareMem(Current, Data, Size) == 0) {
    Answer = BLOCK_COMPARE_EQUAL;
  } else {
    Reason = u"Data not match";
  }
  FreePool(Current);
  FuncExit(u"CompareBlock", Reason);
  return Answer;
}

BOOLEAN IsBlockCompareOn(VOID) {
  UINT8 Disabled = mIniSettings.Others.DisableCompare;
  return Disabled != 1 && !IsDisableCompareOptionSet() && !IsCompareBeforeWriteOff();
}

BOOLEAN IsBlockVerifyOn(VOID) {
  UINT8 Disabled = mIniSettings.Others.DisableVerify;
  return Disabled == 0;
}

UINT32 GetVerifyAttempts(VOID) {
  UINT32 Count = mIniSettings.Others.VerifyErrorRetry;  // packed: read by value
  UINT32 Option = 0;
  if (GetVerifyRetryOption(&Option)) {
    Count = Option;
  }
  // A count of 0 ("no verify retry") still writes the block once; counting a
  // block as done without writing it would leave the old contents behind.
  return Count == 0 ? 1 : Count;
}

BOOLEAN SMI_WriteRom(UINT32 Address, UINT32 Size, CONST VOID *Data) {
  FuncEnter(u"SMI_WriteRom");
  mBlockFlash.LastOutcome = BLOCK_OUTCOME_NONE;
  if (Data == NULL && Size != 0) {
    FuncExit(u"SMI_WriteRom", u"Input buffer is NULL");
    return FALSE;
  }
  if (IsBlockCompareOn()) {
    UINT8 Compared = CompareBlock(Address, Size, Data);
    if (Compared == BLOCK_COMPARE_EQUAL) {
      mBlockFlash.LastOutcome = BLOCK_OUTCOME_SAME;
      FuncExit(u"SMI_WriteRom", u"Data mactch, skip this block");
      return TRUE;
    }
    if (Compared == BLOCK_COMPARE_LOCKED) {
      mBlockFlash.LastOutcome = BLOCK_OUTCOME_LOCKED;
      FuncExit(u"SMI_WriteRom", u"Locked, skip this block");
      return TRUE;
    }
  }
  BOOLEAN Verify = IsBlockVerifyOn();
  UINT32 Attempts = GetVerifyAttempts();
  mBlockFlash.WriteCalls++;
  for (UINT32 Attempt = 0; Attempt < Attempts; Attempt++) {
    DebugPrint(4, u" Write Address: %X  Size: %X\r\n", Address, Size);
    WRITE_ROM_REQUEST Request = {Address, Size, Data};
    WRITE_ROM_RESULT Result = {0, 0};
    if (!Fwsmi_15h(&Request, &Result)) {
      FuncExit(u"SMI_WriteRom", u"FWSMI failed");
      return FALSE;
    }
    if (Result.Skipped != 0) {
      Verify = FALSE;
    }
    mBlockFlash.LastOutcome = BLOCK_OUTCOME_WRITTEN;
    if (!Verify) {
      FuncExit(u"SMI_WriteRom", NULL);
      return TRUE;
    }
    UINT8 Compared = CompareBlock(Address, Size, Data);
    if (Compared == BLOCK_COMPARE_EQUAL) {
      mBlockFlash.LastOutcome = BLOCK_OUTCOME_VERIFIED;
      FuncExit(u"SMI_WriteRom", u"Verify OK");
      return TRUE;
    }
    if (Compared == BLOCK_COMPARE_LOCKED) {
      mBlockFlash.LastOutcome = BLOCK_OUTCOME_LOCKED;
      FuncExit(u"SMI_WriteRom", NULL);
      return TRUE;
    }
    DebugPrint(4, u"Verify failed (%d)\r\n", Attempt);
  }
  mBlockFlash.LastOutcome = BLOCK_OUTCOME_NONE;
  FuncExit(u"SMI_WriteRom", u"Verify failed");
  return FALSE;
}

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

static BOOLEAN HoldsBvdtSignature(CONST UINT8 *Data, UINT32 Size) {
  static CONST UINT8 Signature[] = {'$', 'B', 'V', 'D', 'T'};
  for (UINT32 Offset = 0; Size >= sizeof(Signature) && Offset <= Size - sizeof(Signature); Offset++) {
    if (CompareMem(Data + Offset, Signature, sizeof(Signature)) == 0) {
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN FindBvdtBlock(UINT32 *Address, UINT32 *Size) {
  FuncEnter(u"FindBvdtBlock");
  if (Address == NULL || Size == NULL) {
    FuncExit(u"FindBvdtBlock", u"Input buffer is NULL");
    return FALSE;
  }
  WHOLE_ROM_RECORD *Records = (WHOLE_ROM_RECORD *)AllocateZeroPool(sizeof(WHOLE_ROM_RECORD) * WHOLE_MAP_MAX_RECORDS);
  UINT32 Count = 0;
  if (Records == NULL || !SMI_GetWholeRomMap(Records, &Count)) {
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
    UINT8 *Data = (UINT8 *)AllocateZeroPool(Length);
    if (Data == NULL) {
      Reason = u"Allocate memory failed";
      break;
    }
    if (!SMI_ReadRom(Start, Length, Data, NULL)) {
      FreePool(Data);
      Reason = u"Read ROM failed";
      break;
    }
    if (HoldsBvdtSignature(Data, Length)) {
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
  BOOLEAN HasBvdt = FindBvdtBlock(&BvdtAddress, &BvdtSize);
  UINT64 BvdtLow = BvdtAddress;
  UINT64 BvdtHigh = (UINT64)BvdtAddress + BvdtSize - 1;

  Print(u"\r\n                           Start BIOS Update\r\n");
  ProgressBarStartTimer();
  UINT32 Offset = 0;
  for (UINT32 Index = 0; Index < Count; Index++) {
    BLOCK_ENTRY *Block = &Table[Index];
    ProgressBar(ProgressPercent(Index, Count));
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
    if (HasBvdt && ((First >= BvdtLow && First <= BvdtHigh) || (Last >= BvdtLow && Last <= BvdtHigh))) {
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

// Stage 1 for an image at least the ROM size: an EC image in front of the
// BIOS image is taken off.
static BOOLEAN FuncSize_entire(UINT8 *Working, CONST UINT8 *Image, UINT32 ImageSize) {
  FuncEnter(u"FuncSize_entire");
  UINT32 RomSize = GetRomSize();
  UINT32 EcSize = ImageSize - RomSize;
  DebugPrint(4, u" entire Legacy\r\n-----+------\r\n  13h  0x%X\r\n   FD  0x%X\r\n   EC  %dK", RomSize, ImageSize,
             EcSize / 1024);
  if (EcSize > EC_IMAGE_MAX) {
    FuncExit(u"FuncSize_entire", u"EC size invalid");
    return FALSE;
  }
  CopyMem(Working, Image + EcSize, RomSize);
  UINT8 Selection = GetRegionSelection();
  if (Selection != 0 && !SetRegionReserve(Selection)) {
    FuncExit(u"FuncSize_entire", u"Set region reserve failed");
    return FALSE;
  }
  if (!SetRsvd_13h()) {
    FuncExit(u"FuncSize_entire", u"Set reserve failed");
    return FALSE;
  }
  FuncExit(u"FuncSize_entire", NULL);
  return TRUE;
}

BOOLEAN FuncUpdate_via15h(CONST UINT8 *Image, UINT32 ImageSize) {
  FuncEnter(u"FuncUpdate_via15h");
  UINT32 RomSize = GetRomSize();
  if (Image == NULL || RomSize == 0) {
    FuncExit(u"FuncUpdate_via15h", u"Input buffer is NULL");
    return FALSE;
  }
  UINT8 *Working = (UINT8 *)AllocateZeroPool((UINTN)RomSize + WORKING_IMAGE_EXTRA);
  if (Working == NULL) {
    Print(u"Error: Allocate memory for updating failed. (0x%X)\r\n", RomSize);
    FuncExit(u"FuncUpdate_via15h", u"Allocate memory failed");
    return FALSE;
  }
  DebugPrint(4, u" Image Size 0x%X\r\n", ImageSize);
  UINT8 Selection = GetRegionSelection();
  if (!(Selection == 0 && RomSize <= ImageSize) && !GetExternalRegionMap(Image, ImageSize)) {
    FreePool(Working);
    FuncExit(u"FuncUpdate_via15h", u"Get Intel region map failed");
    return FALSE;
  }
  UINT8 UseBvdtMap = mIniSettings.ForceFlash.UseBvdtRomMap;
  UINT8 MoveProtect = mIniSettings.Others.EnableProtectionRegionMovement;
  UINT8 MovePrivate = mIniSettings.Others.EnablePrivateRegionMovement;
  BOOLEAN Moving = MoveProtect == 1 || MovePrivate == 1;
  if ((UseBvdtMap == 1 || Moving) && !ReadBvdtRomMap(Image, ImageSize)) {
    Print(u"Error: Get BVDT ROM map failed\r\n");
    WaitKey();
    FreePool(Working);
    FuncExit(u"FuncUpdate_via15h", u"Get BVDT ROM map failed");
    return FALSE;
  }
  if (ImageSize < RomSize) {
    // Region-only images are not placed yet: without a region nothing fits.
    if (Selection == 0) {
      Print(u"Error: Size not match!\r\n ROM Size = 0x%X\r\n File Size = 0x%X\r\n", RomSize, ImageSize);
    }
    FreePool(Working);
    FuncExit(u"FuncUpdate_via15h", u"FuncSize_region failed");
    return FALSE;
  }
  if (!FuncSize_entire(Working, Image, ImageSize)) {
    FreePool(Working);
    FuncExit(u"FuncUpdate_via15h", u"FuncSize_entire failed");
    return FALSE;
  }
  if (Moving && !DoRegionMovement(Working, RomSize + WORKING_IMAGE_EXTRA)) {
    FreePool(Working);
    FuncExit(u"FuncUpdate_via15h", u"Region movement failed");
    return FALSE;
  }
  BOOLEAN Updated = UpdateProcEntire(Working);
  FreePool(Working);
  if (!Updated) {
    FuncExit(u"FuncUpdate_via15h", u"Update failed");
    return FALSE;
  }
  // The action stays the configured one.
  SetStatus_16h(COMPLETE_KEEP, COMPLETE_STATUS_FLASH_ENTIRE);
  FuncExit(u"FuncUpdate_via15h", NULL);
  return TRUE;
}
