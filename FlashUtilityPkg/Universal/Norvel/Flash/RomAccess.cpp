// Raw flash access through the BIOS: reads (14h), one block written,
// compared before and read back after (15h), and a part of a block.
#include "Flash/RomAccess.h"

#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Smi/FwsmiExchange.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"

ROM_ACCESS_STATE mRomAccess;

VOID RomAccessResetState(VOID) {
  ZeroMem(&mRomAccess, sizeof(mRomAccess));
  mRomAccess.LastOutcome = BLOCK_OUTCOME_NONE;
}

UINT8 IsMeLockedSeen(VOID) { return mRomAccess.MeLockedSeen; }

// The retry policy of the transport, with one rule of its own for a locked
// region: the first one of the load is tried once more (the BIOS may unlock
// it), every later one ends the attempts at once.
static UINT32 ReadRomAttempts(UINT8 Function, CONST FWSMI_ARGS *Args, UINT32 *EcxOut, UINT8 StopStatus) {
  if (!IsFwsmiReady()) {
    // As the transport does: no port is touched before the SMI is set up.
    DebugPrint(2, u" FWSMI %02Xh not issued: SMI interface not initialised\r\n", Function);
    return FWSMI_STATUS_NOT_SUPPORTED;
  }
  UINT32 Attempts = FwsmiAttemptCount();
  UINT8 Status = 0xFF;
  for (UINT32 Attempt = 1; Attempt <= Attempts; Attempt++) {
    Status = (UINT8)(FwsmiCall(Function, Args, EcxOut) & 0xFF);
    if (Status == FWSMI_STATUS_SUCCESS) {
      break;
    }
    if (Status == FWSMI_STATUS_REGION_LOCKED) {
      DebugPrint(4, u" Read failed because ME is locked.\r\n");
      if (mRomAccess.UnlockTried != 0) {
        break;
      }
      mRomAccess.UnlockTried = 1;
      DebugPrint(4, u" Recall try to unlock it. Error Code: 0x%02X\r\n", Status);
      FwsmiRetryDelay();
      continue;
    }
    DebugPrint(4, u" Call FWSMI failed. Error Code: 0x%02X, Retry Count: %02d\r\n", Status, Attempt);
    FwsmiRetryDelay();
  }
  return Status;
}

// A locked region is an answer too: the caller skips it.
static CONST FWSMI_EXCHANGE k14h = {
    u"Fwsmi_14h", 0x14, FWSMI_REPORT | FWSMI_STOP_ACCEPTED, FWSMI_STATUS_REGION_LOCKED, u"Allocate memory failed",
    {{FWSMI_REG_ESI, FWSMI_SIZE_GIVEN, FWSMI_BACK_ALWAYS, FWSMI_SIZE_GIVEN}, {}}, NULL, ReadRomAttempts};

BOOLEAN Fwsmi_14h(CONST READ_ROM_REQUEST *Request, READ_ROM_RESULT *Result) {
  if (!FwsmiExchangeBegin(
      &k14h, Request == NULL || Result == NULL || (Request->Destination == NULL && Request->Size != 0))) {
    return FALSE;
  }
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Io.Out[0] = Request->Destination;
  Io.Size[0] = Request->Size;
  Io.Args.Ecx = Request->Size;
  Io.Args.Edi = Request->Address;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k14h, &Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(&k14h, &Io);
    Result->Status = (UINT8)(Io.Eax & 0xFF);
    Result->Locked = Result->Status == FWSMI_STATUS_REGION_LOCKED ? 1 : 0;
  }
  return FwsmiExchangeEnd(&k14h, Reason);
}

BOOLEAN SMI_ReadRom(UINT32 Address, UINT32 Size, VOID *Destination, UINT8 *Locked) {
  FuncEnter(u"SMI_ReadRom");
  if (Locked != NULL) {
    *Locked = 0;
  }
  // A pool block of 0 bytes may not exist: one byte stands in for nothing.
  UINT8 *Area = (UINT8 *)AllocateZeroPool(Size == 0 ? 1 : Size);
  if (Area == NULL) {
    FuncExit(u"SMI_ReadRom", u"Allocate memory failed");
    return FALSE;
  }
  DebugPrint(4, u" Read Address: %X  Size: %X\r\n", Address, Size);
  READ_ROM_REQUEST Request = {Address, Size, Area};
  READ_ROM_RESULT Result = {0, 0};
  if (!Fwsmi_14h(&Request, &Result)) {
    FreePool(Area);
    FuncExit(u"SMI_ReadRom", u"FWSMI 14h failed");
    return FALSE;
  }
  if (Result.Locked != 0) {
    mRomAccess.MeLockedSeen = 1;
  }
  if (Locked != NULL) {
    *Locked = Result.Locked;
  }
  if (Destination != NULL) {
    CopyMem(Destination, Area, Size);
  }
  FreePool(Area);
  FuncExit(u"SMI_ReadRom", NULL);
  return TRUE;
}

BOOLEAN ReadRomChunked(UINT32 Address, UINT32 Size, UINT32 Unit, VOID *Destination, UINT8 *Locked) {
  FuncEnter(u"ReadRomChunked");
  if (Locked != NULL) {
    *Locked = 0;
  }
  // Before the flash part is known there is no block unit: one piece.
  if (Unit == 0) {
    Unit = Size;
  }
  UINT32 Done = 0;
  while (Done < Size) {
    UINT32 Piece = Size - Done < Unit ? Size - Done : Unit;
    UINT8 PieceLocked = 0;
    VOID *To = Destination != NULL ? (VOID *)((UINT8 *)Destination + Done) : NULL;
    if (!SMI_ReadRom(Address + Done, Piece, To, &PieceLocked)) {
      FuncExit(u"ReadRomChunked", u"Read ROM failed");
      return FALSE;
    }
    if (PieceLocked != 0 && Locked != NULL) {
      *Locked = 1;
    }
    Done += Piece;
  }
  FuncExit(u"ReadRomChunked", NULL);
  return TRUE;
}

// ---- Writes ------------------------------------------------------------------

CHAR16 GetLastWriteOutcome(VOID) { return mRomAccess.LastOutcome; }

// 0x29: the BIOS skips this block, which is no failure.
static CONST FWSMI_EXCHANGE k15h = {
    u"Fwsmi_15h", 0x15, FWSMI_REPORT | FWSMI_STOP_ACCEPTED, FWSMI_STATUS_SKIP_BLOCK, u"Allocate memory failed",
    {{FWSMI_REG_ESI, FWSMI_SIZE_GIVEN, 0, 0}, {}}, NULL, NULL};

BOOLEAN Fwsmi_15h(CONST WRITE_ROM_REQUEST *Request, WRITE_ROM_RESULT *Result) {
  if (!FwsmiExchangeBegin(
      &k15h, Request == NULL || Result == NULL || (Request->Data == NULL && Request->Size != 0))) {
    return FALSE;
  }
  Result->Status = 0xFF;
  Result->Skipped = 0;
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Request->Data;
  Io.Size[0] = Request->Size;
  Io.Args.Ecx = Request->Size;
  Io.Args.Edi = Request->Address;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k15h, &Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(&k15h, &Io);
    Result->Status = (UINT8)(Io.Eax & 0xFF);
    if (Result->Status == FWSMI_STATUS_SKIP_BLOCK) {
      DebugPrint(4, u" Skip this write block\r\n");
      Result->Skipped = 1;
    }
  }
  return FwsmiExchangeEnd(&k15h, Reason);
}

UINT8 CompareBlock(UINT32 Address, UINT32 Size, CONST VOID *Data) {
  FuncEnter(u"CompareBlock");
  // Filled by a successful read, and only then compared.
  UINT8 *Current = (UINT8 *)AllocatePool(Size == 0 ? 1 : Size);
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
  mRomAccess.LastOutcome = BLOCK_OUTCOME_NONE;
  if (Data == NULL && Size != 0) {
    FuncExit(u"SMI_WriteRom", u"Input buffer is NULL");
    return FALSE;
  }
  if (IsBlockCompareOn()) {
    UINT8 Compared = CompareBlock(Address, Size, Data);
    if (Compared == BLOCK_COMPARE_EQUAL) {
      mRomAccess.LastOutcome = BLOCK_OUTCOME_SAME;
      FuncExit(u"SMI_WriteRom", u"Data mactch, skip this block");
      return TRUE;
    }
    if (Compared == BLOCK_COMPARE_LOCKED) {
      mRomAccess.LastOutcome = BLOCK_OUTCOME_LOCKED;
      FuncExit(u"SMI_WriteRom", u"Locked, skip this block");
      return TRUE;
    }
  }
  BOOLEAN Verify = IsBlockVerifyOn();
  UINT32 Attempts = GetVerifyAttempts();
  mRomAccess.WriteCalls++;
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
    mRomAccess.LastOutcome = BLOCK_OUTCOME_WRITTEN;
    if (!Verify) {
      FuncExit(u"SMI_WriteRom", NULL);
      return TRUE;
    }
    UINT8 Compared = CompareBlock(Address, Size, Data);
    if (Compared == BLOCK_COMPARE_EQUAL) {
      mRomAccess.LastOutcome = BLOCK_OUTCOME_VERIFIED;
      FuncExit(u"SMI_WriteRom", u"Verify OK");
      return TRUE;
    }
    if (Compared == BLOCK_COMPARE_LOCKED) {
      mRomAccess.LastOutcome = BLOCK_OUTCOME_LOCKED;
      FuncExit(u"SMI_WriteRom", NULL);
      return TRUE;
    }
    DebugPrint(4, u"Verify failed (%d)\r\n", Attempt);
  }
  mRomAccess.LastOutcome = BLOCK_OUTCOME_NONE;
  FuncExit(u"SMI_WriteRom", u"Verify failed");
  return FALSE;
}

BOOLEAN SMI_WriteRomPiece(UINT32 Address, UINT32 BlockSize, CONST UINT8 *Data, UINT32 DataSize) {
  if (DataSize >= BlockSize) {
    return SMI_WriteRom(Address, BlockSize, Data);
  }
  FuncEnter(u"SMI_WriteRomPiece");
  // Filled by a successful read, and only then written.
  UINT8 *Block = (UINT8 *)AllocatePool(BlockSize == 0 ? 1 : BlockSize);
  if (Block == NULL || Data == NULL) {
    FreePool(Block);
    FuncExit(u"SMI_WriteRomPiece", u"Allocate memory failed");
    return FALSE;
  }
  UINT8 Locked = 0;
  if (!SMI_ReadRom(Address, BlockSize, Block, &Locked)) {
    FreePool(Block);
    FuncExit(u"SMI_WriteRomPiece", u"Read ROM failed");
    return FALSE;
  }
  if (Locked != 0) {
    // Nothing known to keep: the block is left as it is, as a compare would.
    FreePool(Block);
    mRomAccess.LastOutcome = BLOCK_OUTCOME_LOCKED;
    FuncExit(u"SMI_WriteRomPiece", u"Locked, skip this block");
    return TRUE;
  }
  DebugPrint(4, u" Partial block 0x%08X: 0x%X of 0x%X bytes\r\n", Address, DataSize, BlockSize);
  CopyMem(Block, Data, DataSize);
  BOOLEAN Written = SMI_WriteRom(Address, BlockSize, Block);
  FreePool(Block);
  FuncExit(u"SMI_WriteRomPiece", Written ? NULL : u"Write ROM failed");
  return Written;
}
