#include "Config/OverrideVariables.h"

#include "Base/HexDump.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/IniLoad.h"
#include "Config/IniStore.h"
#include "Guids.h"
#include "Platform.h"

// Sections that never travel into the firmware run (matched at the start of
// the section name, ignoring case).
static CONST CHAR8 *CONST mExcludedSections[] = {
    "Version", "FDFile", "BackupROM", "UpdateBlock", "FlashSecureBIOSOverride", "Option", "ReturnErrorCode",
    "UpdateExtraData", "ReturnCodeDefinition", "VARIABLE", "MULTI_FD", "PermitFlashVersion", "PasswordCheck",
};

BOOLEAN ClearOverrideVariable(CONST CHAR16 *Name) {
  FuncEnter(u"ClearOverrideVariable");
  if (Name == NULL) {
    FuncExit(u"ClearOverrideVariable", u"Input buffer is NULL");
    return FALSE;
  }
  EFI_STATUS Status = PlatformSetVariable(Name, &gFlashOverrideVariableGuid, OVERRIDE_VARIABLE_ATTRIBUTES, 0, NULL);
  // Deleting a variable that is not there leaves the wanted state.
  if (EFI_ERROR(Status) && Status != EFI_NOT_FOUND) {
    FuncExit(u"ClearOverrideVariable", u"Clear variable failed");
    return FALSE;
  }
  FuncExit(u"ClearOverrideVariable", NULL);
  return TRUE;
}

BOOLEAN GetOverrideVariable(CONST CHAR16 *Name, VOID **Buffer, UINTN *Size) {
  FuncEnter(u"GetOverrideVariable");
  if (Name == NULL || Buffer == NULL || Size == NULL) {
    FuncExit(u"GetOverrideVariable", u"Input buffer is NULL");
    return FALSE;
  }
  UINTN DataSize = 0;
  EFI_STATUS Status = PlatformGetVariable(Name, &gFlashOverrideVariableGuid, NULL, &DataSize, NULL);
  if (Status != EFI_BUFFER_TOO_SMALL) {
    DebugPrint(2, u" Get override variable failed %r\r\n", Status);
    FuncExit(u"GetOverrideVariable", u"Get variable size failed");
    return FALSE;
  }
  DebugPrint(2, u" Override variable size 0x%X\r\n", (UINT32)DataSize);
  // Zero-filled with room to spare, so the text always ends in terminators.
  UINT8 *Data = (UINT8 *)AllocateZeroPool(DataSize + 16);
  if (Data == NULL) {
    FuncExit(u"GetOverrideVariable", u"Allocate memory failed");
    return FALSE;
  }
  Status = PlatformGetVariable(Name, &gFlashOverrideVariableGuid, NULL, &DataSize, Data);
  if (EFI_ERROR(Status)) {
    FreePool(Data);
    FuncExit(u"GetOverrideVariable", u"Get variable failed");
    return FALSE;
  }
  *Buffer = Data;
  *Size = DataSize;
  FuncExit(u"GetOverrideVariable", NULL);
  return TRUE;
}

BOOLEAN SetOverrideVariable(CONST CHAR16 *Name, CONST VOID *Data, UINTN Size) {
  FuncEnter(u"SetOverrideVariable");
  if (Name == NULL || (Data == NULL && Size != 0)) {
    FuncExit(u"SetOverrideVariable", u"Input buffer is NULL");
    return FALSE;
  }
  if (EFI_ERROR(PlatformSetVariable(Name, &gFlashOverrideVariableGuid, OVERRIDE_VARIABLE_ATTRIBUTES, Size, Data))) {
    FuncExit(u"SetOverrideVariable", u"Set variable failed");
    return FALSE;
  }
  FuncExit(u"SetOverrideVariable", NULL);
  return TRUE;
}

BOOLEAN ClearIniOverrideVariable(VOID) { return ClearOverrideVariable(FLASH_INI_SETTINGS_VARIABLE); }

BOOLEAN ClearCommandOverrideVariable(VOID) { return ClearOverrideVariable(FLASH_COMMAND_VARIABLE); }

BOOLEAN GetIniOverrideVariable(VOID) {
  FuncEnter(u"GetIniOverrideVariable");
  VOID *Data = NULL;
  UINTN Size = 0;
  if (!GetOverrideVariable(FLASH_INI_SETTINGS_VARIABLE, &Data, &Size) || Size > 0xFFFFFFFFu) {
    FreePool(Data);
    FuncExit(u"GetIniOverrideVariable", u"Get override variable failed");
    return FALSE;
  }
  UINT32 Length = (UINT32)Size;
  if (!LoadOption((CHAR8 *)Data, &Length, FALSE)) {
    // The variable stays: the settings it carries were not taken.
    FreePool(Data);
    FuncExit(u"GetIniOverrideVariable", u"Load option failed");
    return FALSE;
  }
  FreePool(Data);
  DebugPrint(0, u" Reference config from Variable\r\n");
  ClearIniOverrideVariable();
  FuncExit(u"GetIniOverrideVariable", NULL);
  return TRUE;
}

BOOLEAN GetCommandOverrideVariable(VOID) {
  FuncEnter(u"GetCommandOverrideVariable");
  VOID *Data = NULL;
  UINTN Size = 0;
  if (!GetOverrideVariable(FLASH_COMMAND_VARIABLE, &Data, &Size) || Size > 0xFFFFFFFFu) {
    FreePool(Data);
    FuncExit(u"GetCommandOverrideVariable", u"Get override variable failed");
    return FALSE;
  }
  // The buffer has 16 zero bytes past the data: the text is terminated even
  // when the variable's own terminator is missing.
  LoadOverrideCommand((CONST CHAR16 *)Data, (UINT32)Size);
  FreePool(Data);
  DebugPrint(0, u" Reference command from Variable\r\n");
  ClearCommandOverrideVariable();
  FuncExit(u"GetCommandOverrideVariable", NULL);
  return TRUE;
}

static CONST CHAR8 *ExcludedWord(CONST CHAR8 *Piece, UINT32 Length) {
  for (UINTN Index = 0; Index < ARRAY_SIZE(mExcludedSections); Index++) {
    CONST CHAR8 *Word = mExcludedSections[Index];
    UINTN WordLength = AsciiStrLen(Word);
    if (WordLength > Length) {
      continue;
    }
    UINTN I = 0;
    while (I < WordLength && AsciiCharToLower(Piece[I]) == AsciiCharToLower(Word[I])) {
      I++;
    }
    if (I == WordLength) {
      return Word;
    }
  }
  return NULL;
}

UINT32 FilterOverrideSections(CONST CHAR8 *Text, UINT32 Size, CHAR8 *Output) {
  UINT32 OutLength = 0;
  UINT32 Position = 0;
  // Piece 0, the text before the first '[', is never copied. A text that
  // begins with '[' has an empty piece 0: it is skipped, not taken as the end.
  while (Position < Size && Text[Position] != '[') {
    Position++;
  }
  while (Position < Size) {
    UINT32 Start = Position + 1;  // after the '['
    UINT32 End = Start;
    while (End < Size && Text[End] != '[') {
      End++;
    }
    UINT32 Length = End - Start;
    if (Length == 0) {
      break;  // an empty piece ends the walk
    }
    CONST CHAR8 *Word = ExcludedWord(Text + Start, Length);
    if (Word != NULL) {
      DebugPrint(0, u"       %a\r\n", Word);
    } else {
      // Copied straight into the output (no per-section buffer), so a long
      // section reaches the variable whole.
      Output[OutLength++] = '[';
      CopyMem(Output + OutLength, Text + Start, Length);
      OutLength += Length;
    }
    Position = End;
  }
  Output[OutLength] = 0;
  return OutLength;
}

BOOLEAN SetIniOverrideVariable(CONST CHAR8 *Text, UINT32 Size) {
  FuncEnter(u"SetIniOverrideVariable");
  if (Text == NULL && Size == 0) {
    CHAR8 *Current = NULL;
    GetIniBuffer(&Current, &Size);
    Text = Current;
  }
  if (Text == NULL) {
    FuncExit(u"SetIniOverrideVariable", u"Input buffer is NULL");
    return FALSE;
  }
  CHAR8 *Output = (CHAR8 *)AllocateZeroPool((UINTN)Size + 1);
  if (Output == NULL) {
    FuncExit(u"SetIniOverrideVariable", u"Allocate memory failed");
    return FALSE;
  }
  DebugPrint(0, u" Variable FlashINISettings()\r\n-----+---------------------------\r\n");
  UINT32 Length = FilterOverrideSections(Text, Size, Output);
  DebugPrint(4, u"===== ini Override =====\r\n");
  DumpHex(Output, Length);
  BOOLEAN Result = SetOverrideVariable(FLASH_INI_SETTINGS_VARIABLE, Output, Length);
  FreePool(Output);
  FuncExit(u"SetIniOverrideVariable", Result ? NULL : u"Set variable failed");
  return Result;
}

BOOLEAN SetCommandOverrideVariable(CONST CHAR16 *Data, UINT32 Size) {
  FuncEnter(u"SetCommandOverrideVariable");
  if (Data == NULL && Size == 0) {
    GetSavedCommandLine(&Data, &Size);
  }
  if (Data == NULL) {
    FuncExit(u"SetCommandOverrideVariable", u"Input buffer is NULL");
    return FALSE;
  }
  DebugPrint(4, u"===== Command Override =====\r\n");
  DumpHex(Data, Size);
  BOOLEAN Result = SetOverrideVariable(FLASH_COMMAND_VARIABLE, Data, Size);
  FuncExit(u"SetCommandOverrideVariable", Result ? NULL : u"Set variable failed");
  return Result;
}
