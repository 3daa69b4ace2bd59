#include "Flash/ReadRom.h"

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Console/FileAccess.h"
#include "Console/Trace.h"
#include "Flash/RomMap.h"
#include "Platform.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"

READ_ROM_STATE mReadRom;

VOID ReadRomResetState(VOID) { ZeroMem(&mReadRom, sizeof(mReadRom)); }

UINT8 IsMeLockedSeen(VOID) { return mReadRom.MeLockedSeen; }

static VOID RetryDelay(VOID) {
  for (UINT32 Wait = 0; Wait < mIniSettings.Others.SMIErrorRetryDelay; Wait++) {
    PlatformStall(1000);
  }
}

BOOLEAN Fwsmi_14h(CONST READ_ROM_REQUEST *Request, READ_ROM_RESULT *Result) {
  FuncEnter(u"Fwsmi_14h");
  if (Request == NULL || Result == NULL || (Request->Destination == NULL && Request->Size != 0)) {
    FuncExit(u"Fwsmi_14h", u"Input buffer is NULL");
    return FALSE;
  }
  UINT32 Buffer = 0;
  if (!CopyToFwsmiBuffer(1, Request->Destination, Request->Size, &Buffer)) {
    FuncExit(u"Fwsmi_14h", u"Allocate memory failed");
    return FALSE;
  }
  FWSMI_ARGS Args = {Request->Size, Buffer, Request->Address};
  // The retry policy of the transport, with one rule of its own for a locked
  // region: the first one of the load is tried once more (the BIOS may unlock
  // it), every later one ends the attempts at once.
  UINT32 Attempts = FwsmiAttemptCount();
  UINT8 Status = 0xFF;
  if (mFwsmi.Initialized == 0 || mFwsmi.CommandPort == 0) {
    // As the transport does: no port is touched before the SMI is set up.
    DebugPrint(2, u" FWSMI %02Xh not issued: SMI interface not initialised\r\n", 0x14);
    Status = FWSMI_STATUS_NOT_SUPPORTED;
    Attempts = 0;
  }
  for (UINT32 Attempt = 1; Attempt <= Attempts; Attempt++) {
    Status = (UINT8)(FwsmiCall(0x14, &Args, NULL) & 0xFF);
    if (Status == FWSMI_STATUS_SUCCESS) {
      break;
    }
    if (Status == FWSMI_STATUS_REGION_LOCKED) {
      DebugPrint(4, u" Read failed because ME is locked.\r\n");
      if (mReadRom.UnlockTried != 0) {
        break;
      }
      mReadRom.UnlockTried = 1;
      DebugPrint(4, u" Recall try to unlock it. Error Code: 0x%02X\r\n", Status);
      RetryDelay();
      continue;
    }
    DebugPrint(4, u" Call FWSMI failed. Error Code: 0x%02X, Retry Count: %02d\r\n", Status, Attempt);
    RetryDelay();
  }
  CopyFromFwsmiBuffer(Buffer, Request->Size, Request->Destination);
  Result->Status = Status;
  Result->Locked = Status == FWSMI_STATUS_REGION_LOCKED ? 1 : 0;
  if (Status != FWSMI_STATUS_SUCCESS && Status != FWSMI_STATUS_REGION_LOCKED) {
    ReportFwsmiError(0x14, Status);
    FuncExit(u"Fwsmi_14h", u"BIOS return not success");
    return FALSE;
  }
  FuncExit(u"Fwsmi_14h", NULL);
  return TRUE;
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
    mReadRom.MeLockedSeen = 1;
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

BOOLEAN ReadRomChunked(UINT32 Address, UINT32 Size, VOID *Destination, UINT8 *Locked) {
  FuncEnter(u"ReadRomChunked");
  if (Locked != NULL) {
    *Locked = 0;
  }
  // Before the flash part is known there is no block unit: one piece.
  UINT32 Unit = GetBlockUnit() != 0 ? GetBlockUnit() : Size;
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

// A save that did not complete leaves no file it made itself: a partial or
// empty ROM file would later pass for a backup of this machine.
static BOOLEAN SaveFailed(CONST CHAR16 *FileName, BOOLEAN Created, UINT8 *Rom, CONST CHAR16 *Reason) {
  FreePool(Rom);
  if (Created) {
    EfiDeleteWrittenFile(FileName);
  }
  FuncExit(u"SaveRomToFile", Reason);
  return FALSE;
}

BOOLEAN SaveRomToFile(CONST CHAR16 *FileName) {
  FuncEnter(u"SaveRomToFile");
  if (FileName == NULL || FileName[0] == 0) {
    Print(u"\r\nError: No filename input!\r\n");
    FuncExit(u"SaveRomToFile", u"No file name");
    return FALSE;
  }
  BOOLEAN Created = FALSE;
  if (!EfiCreateFile(FileName, &Created)) {
    Print(u"\r\nError: Save ROM to file (%s) failed!\r\n", FileName);
    FuncExit(u"SaveRomToFile", u"Create file failed");
    return FALSE;
  }
  Print(u"\r\n                           Read Current ROM Start\r\n\r\n");
  SMI_ApHookPoint(HOOK_BEFORE_READ_ROM);

  UINT32 RomSize = GetRomSize();
  UINT8 *Rom = (UINT8 *)AllocateZeroPool(RomSize == 0 ? 1 : RomSize);
  if (Rom == NULL) {
    Print(u"\r\nError: Save ROM to file (%s) failed!\r\n", FileName);
    return SaveFailed(FileName, Created, NULL, u"Allocate memory failed");
  }
  UINT32 Offset = 0;
  for (UINT32 Index = 0; Index < GetBlockCount(); Index++) {
    CONST BLOCK_ENTRY *Block = GetBlockEntry(Index);
    // The table never holds more than the ROM size; checked again so that a
    // read can never land outside the buffer.
    if (Block == NULL || Block->Size > RomSize - Offset ||
        !SMI_ReadRom(Block->Address, Block->Size, Rom + Offset, NULL)) {
      Print(u"\r\nError: command -g fail. (Fwsmi fail)\r\n");
      return SaveFailed(FileName, Created, Rom, u"Read ROM failed");
    }
    Offset += Block->Size;
    UINT32 Percent = (UINT32)((UINT64)Offset * 100 / RomSize);
    Print(u"\r                           Read Progress: %3d%% ", Percent > 100 ? 100 : Percent);
  }
  if (!EfiWriteFile(FileName, Rom, RomSize)) {
    Print(u"\r\nError: Save ROM to file (%s) failed!\r\n", FileName);
    return SaveFailed(FileName, Created, Rom, u"Write file failed");
  }
  FreePool(Rom);
  Print(u"\r                           Read Progress: Completed\r\n\r\n");
  if (IsMeLockedSeen() != 0) {
    Print(u"Warning!\r\nME is locked. The ME region of the saved file is invalid.\r\n");
  }
  FuncExit(u"SaveRomToFile", NULL);
  return TRUE;
}
