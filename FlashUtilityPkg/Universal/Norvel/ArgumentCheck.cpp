// The argument check: the file name, the package's filter and built-in
// options, the package pre-passes, then every option word.
#include "ArgumentCheck.h"

#include "Base/Banner.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Image/Package.h"
#include "Image/PackageCommands.h"

static VOID PrintInvalidCommand(CONST CHAR16 *Word) {
  PrintBanner(FALSE);
  Print(u"Error command: %s (Invalid command)\r\n", Word);
}

static BOOLEAN ArgumentCheckExit(BOOLEAN Result, CONST CHAR16 *Reason) {
  FreeArgumentList();
  FuncExit(u"ArgumentCheck", Reason);
  return Result;
}

BOOLEAN ArgumentCheck(CHAR16 *FileName, CHAR16 *OptionString) {
  FuncEnter(u"ArgumentCheck");
  if (FileName == NULL || OptionString == NULL) {
    FuncExit(u"ArgumentCheck", u"Input buffer is NULL");
    return FALSE;
  }
  FileName[0] = 0;
  OptionString[0] = 0;
  if (!CopyArgumentList()) {
    return ArgumentCheckExit(FALSE, u"Allocate memory failed");
  }

  // Argument 1 is the FD file name unless it is an option (there is no file
  // name in package mode: the package carries the images).
  UINT32 Count = GetWorkArgumentCount();
  UINT32 First = 1;
  if (IsPackageMode() && !ChkFilterArg_pkg()) {
    return ArgumentCheckExit(FALSE, u"Package command filter refused");
  }
  if (!IsPackageMode() && Count >= 2) {
    CONST CHAR16 *Candidate = GetWorkArgument(1);
    if (Candidate[0] != 0 && Candidate[0] != u'-' && Candidate[0] != u'/') {
      // The name buffer is the caller's: a longer name is refused, never cut.
      if (StrnLenS(Candidate, FILE_NAME_CHARS) >= FILE_NAME_CHARS) {
        PrintInvalidCommand(Candidate);
        return ArgumentCheckExit(FALSE, u"File name too long");
      }
      StrCpyS(FileName, FILE_NAME_CHARS, Candidate);
      mCommandLine.FileNameGiven = TRUE;
      First = 2;
    }
  }

  if (!OemCusPrePass()) {
    return ArgumentCheckExit(FALSE, u"OemCus pre-pass failed");
  }
  ExtrFdPrePass();

  // " word word ...": a word that does not fit refuses the command line; a
  // cut word could turn into another option (-rt:... into -r).
  UINTN Length = 0;
  for (UINT32 Index = First; Index < Count; Index++) {
    CONST CHAR16 *Argument = GetWorkArgument(Index);
    if (Argument[0] == 0) {
      continue;
    }
    UINTN ArgumentLength = StrLen(Argument);
    if (Length + 1 + ArgumentLength >= OPTION_STRING_CHARS) {
      OptionString[0] = 0;
      PrintInvalidCommand(Argument);
      return ArgumentCheckExit(FALSE, u"Command line too long");
    }
    OptionString[Length++] = u' ';
    CopyMem(OptionString + Length, Argument, ArgumentLength * sizeof(CHAR16));
    Length += ArgumentLength;
    OptionString[Length] = 0;
  }
  FreeArgumentList();
  if (IsPackageMode()) {
    // The package's built-in options follow the user's ("%s %a").
    CHAR8 Builtin[ROM_PACK_OPTIONS_SIZE + 1];
    GetPackageOptions(Builtin);
    UINTN BuiltinLength = AsciiStrLen(Builtin);
    if (BuiltinLength != 0) {
      if (Length + 1 + BuiltinLength >= OPTION_STRING_CHARS) {
        OptionString[0] = 0;
        PrintBanner(FALSE);
        Print(u"Error command: %a (Invalid command)\r\n", Builtin);
        return ArgumentCheckExit(FALSE, u"Command line too long");
      }
      OptionString[Length++] = u' ';
      for (UINTN I = 0; I < BuiltinLength; I++) {
        OptionString[Length++] = (CHAR16)(UINT8)Builtin[I];
      }
      OptionString[Length] = 0;
    }
  }

  SaveCommandLine(OptionString);
  if (Length == 0) {
    return ArgumentCheckExit(TRUE, NULL);
  }

  // Every word of the option string fits the word buffer.
  CHAR16 Word[OPTION_STRING_CHARS];
  UINTN Position = 0;
  while (OptionString[Position] != 0) {
    if (OptionString[Position] == u' ') {
      Position++;
      continue;
    }
    UINTN WordLength = 0;
    while (OptionString[Position] != 0 && OptionString[Position] != u' ') {
      Word[WordLength++] = OptionString[Position++];
    }
    Word[WordLength] = 0;
    if (!ProcessArgument(Word)) {
      PrintInvalidCommand(Word);
      return ArgumentCheckExit(FALSE, u"Invalid command");
    }
  }
  return ArgumentCheckExit(TRUE, NULL);
}
