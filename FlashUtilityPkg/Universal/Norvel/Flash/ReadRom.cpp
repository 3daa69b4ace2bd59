#include "Flash/ReadRom.h"

#include "Base/Trace.h"
#include "BaseLib.h"
#include "Console/FileAccess.h"
#include "Flash/RomAccess.h"
#include "Flash/RomMap.h"
#include "Flash/RomMapTypes.h"
#include "Platform.h"
#include "Smi/PlatformQueries.h"

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
