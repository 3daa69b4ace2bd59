#include "Image/PackageCommands.h"

#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"

PACKAGE_COMMANDS_STATE mPackageCommands;

VOID PackageCommandsResetState(VOID) { ZeroMem(&mPackageCommands, sizeof(mPackageCommands)); }

// The pre-pass words are matched as option words are: '-' or '/', any case.
static BOOLEAN IsCommandWord(CONST CHAR16 *Argument, CONST CHAR16 *Name) {
  return Argument != NULL && (Argument[0] == u'-' || Argument[0] == u'/') && StrEqualNoCase(Argument + 1, Name);
}

BOOLEAN OemCusPrePass(VOID) {
  FuncEnter(u"OemCusPrePass");
  if (!EnsureArgumentList()) {
    FuncExit(u"OemCusPrePass", u"Allocate memory failed");
    return FALSE;
  }
  UINT32 Count = GetWorkArgumentCount();
  // Every -OemCus takes the next argument; the last one given wins.
  for (UINT32 Index = 1; Index < Count; Index++) {
    CHAR16 *Argument = GetWorkArgument(Index);
    if (!IsCommandWord(Argument, u"OemCus")) {
      continue;
    }
    CHAR16 *Value = GetWorkArgument(Index + 1);
    if (Value == NULL || Value[0] == 0) {
      FuncExit(u"OemCusPrePass", u"No customization value");
      return FALSE;
    }
    if (StrnLenS(Value, OEM_CUS_VALUE_CHARS) >= OEM_CUS_VALUE_CHARS) {
      FuncExit(u"OemCusPrePass", u"Customization value too long");
      return FALSE;
    }
    StrCpyS(mPackageCommands.OemCusValue, OEM_CUS_VALUE_CHARS, Value);
    mPackageCommands.OemCusGiven = TRUE;
    DebugPrint(4, u" OemCus (%s)\r\n", mPackageCommands.OemCusValue);
    Argument[0] = 0;
    Value[0] = 0;
    Index++;
  }
  FuncExit(u"OemCusPrePass", NULL);
  return TRUE;
}

BOOLEAN ExtrFdPrePass(VOID) {
  FuncEnter(u"ExtrFdPrePass");
  if (!EnsureArgumentList()) {
    FuncExit(u"ExtrFdPrePass", u"Allocate memory failed");
    return FALSE;
  }
  UINT32 Count = GetWorkArgumentCount();
  for (UINT32 Index = 1; Index < Count; Index++) {
    CHAR16 *Argument = GetWorkArgument(Index);
    if (!IsCommandWord(Argument, u"extrFD")) {
      continue;
    }
    mPackageCommands.ExtrFd = TRUE;
    Argument[0] = 0;
    // A directory that does not fit is left in place: the argument check then
    // refuses it as an invalid command instead of extracting somewhere else.
    CHAR16 *Directory = GetWorkArgument(Index + 1);
    if (Directory != NULL && Directory[0] != 0 && Directory[0] != u'-' && Directory[0] != u'/' &&
        StrnLenS(Directory, EXTR_FD_DIRECTORY_CHARS) < EXTR_FD_DIRECTORY_CHARS) {
      StrCpyS(mPackageCommands.ExtrFdDirectory, EXTR_FD_DIRECTORY_CHARS, Directory);
      Directory[0] = 0;
      Index++;
    }
    DebugPrint(4, u" extrFD (%s)\r\n", mPackageCommands.ExtrFdDirectory);
  }
  FuncExit(u"ExtrFdPrePass", NULL);
  return TRUE;
}

BOOLEAN IsOemCusGiven(VOID) { return mPackageCommands.OemCusGiven; }

CONST CHAR16 *GetOemCusValue(VOID) {
  return mPackageCommands.OemCusGiven ? mPackageCommands.OemCusValue : NULL;
}

BOOLEAN IsExtrFdSet(VOID) { return mPackageCommands.ExtrFd; }

CONST CHAR16 *GetExtrFdDirectory(VOID) { return mPackageCommands.ExtrFdDirectory; }
