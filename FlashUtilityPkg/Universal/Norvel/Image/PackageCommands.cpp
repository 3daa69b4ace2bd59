#include "Image/PackageCommands.h"

#include "Base/Trace.h"
#include "BaseLib.h"
#include "Base/Banner.h"
#include "Base/Print.h"
#include "Config/CommandLine.h"
#include "Console/FileAccess.h"
#include "Image/OemCustom.h"
#include "Image/Package.h"

PACKAGE_COMMANDS_STATE mPackageCommands;

VOID PackageCommandsResetState(VOID) { ZeroMem(&mPackageCommands, sizeof(mPackageCommands)); }

static BOOLEAN HasCusPrefix(CONST CHAR16 *Value) {
  return Value != NULL && CharToLower(Value[0]) == u'c' && CharToLower(Value[1]) == u'u' &&
         CharToLower(Value[2]) == u's';
}

static BOOLEAN OemCusRefused(CONST CHAR16 *Value) {
  PrintBanner(FALSE);
  Print(u"\r\n\r\n\r\n\r\n    Error:\r\n    Invalid parameter \"%s\".\r\n    The parameter have to with prefix "
        u"\"CUS\".\r\n\r\n",
        Value == NULL ? u"" : Value);
  FuncExit(u"OemCusPrePass", u"Invalid OemCus parameter");
  return FALSE;
}

// Room kept in the 19h list for "ECCMD" and "MFG" with their separators.
#define OEM_CUSTOM_RESERVED 10

BOOLEAN OemCusPrePass(VOID) {
  FuncEnter(u"OemCusPrePass");
  OemCustomResetState();
  if (!EnsureArgumentList()) {
    FuncExit(u"OemCusPrePass", u"Allocate memory failed");
    return FALSE;
  }
  UINT32 Count = GetWorkArgumentCount();
  // Every -OemCus takes the next argument into the 19h list; the word itself
  // stays for the option parser.
  for (UINT32 Index = 1; Index < Count; Index++) {
    CHAR16 *Argument = GetWorkArgument(Index);
    if (!IsOptionWord(Argument, u"OemCus")) {
      continue;
    }
    CHAR16 *Value = GetWorkArgument(Index + 1);
    if (!HasCusPrefix(Value)) {
      return OemCusRefused(Value);
    }
    if (StrnLenS(Value, OEM_CUS_VALUE_CHARS) >= OEM_CUS_VALUE_CHARS) {
      return OemCusRefused(Value);
    }
    StrCpyS(mPackageCommands.OemCusValue, OEM_CUS_VALUE_CHARS, Value);
    mPackageCommands.OemCusGiven = TRUE;
    DebugPrint(4, u"Command -oemcus (%s)\r\n", Value);
    CHAR8 Ascii[OEM_CUS_VALUE_CHARS];
    UnicodeStrToAsciiS(Value, Ascii, ARRAY_SIZE(Ascii));
    // The words share one 256-byte list: one that does not fit is refused,
    // not sent cut.
    if (mOemCustom.Length + AsciiStrLen(Ascii) + 1 + OEM_CUSTOM_RESERVED > OEM_CUSTOM_LIST_SIZE - 1 ||
        !AddOemCustomItem(Ascii)) {
      PrintBanner(FALSE);
      Print(u"\r\n    Error:\r\n    The -OemCus values do not fit the 256-byte list (\"%s\").\r\n\r\n", Value);
      FuncExit(u"OemCusPrePass", u"OemCus list full");
      return FALSE;
    }
    Value[0] = 0;
    Index++;
  }
  FuncExit(u"OemCusPrePass", NULL);
  return TRUE;
}

// The application's last path component, cut at its first '.'.
static VOID ApplicationBaseName(CHAR16 *Base, UINTN Chars) {
  CONST CHAR16 *Name = mPackage.ApplicationName;
  for (CONST CHAR16 *P = Name; *P != 0; P++) {
    if (*P == u'\\' || *P == u'/' || *P == u':') {
      Name = P + 1;
    }
  }
  UINTN Length = 0;
  while (Name[Length] != 0 && Name[Length] != u'.' && Length + 1 < Chars) {
    Base[Length] = Name[Length];
    Length++;
  }
  Base[Length] = 0;
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
    if (!IsOptionWord(Argument, u"extrFD")) {
      continue;
    }
    mPackageCommands.ExtrFd = TRUE;
    Argument[0] = 0;
    DebugPrint(4, u"Command -extrfd\r\n");
    CHAR16 Base[EXTR_FD_DIRECTORY_CHARS];
    ApplicationBaseName(Base, EXTR_FD_DIRECTORY_CHARS - 3);
    if (Base[0] == 0) {
      break;
    }
    // Beside the application in the current directory: the file calls put
    // the current directory in front of it.
    UnicodeSPrint(mPackageCommands.ExtrFdDirectory, sizeof(mPackageCommands.ExtrFdDirectory), u"%s_FD", Base);
    // A directory that does not fit is left in place: the argument check then
    // refuses it as an invalid command instead of extracting somewhere else.
    CHAR16 *Directory = GetWorkArgument(Index + 1);
    if (Directory != NULL && Directory[0] != 0 && Directory[0] != u'-' && Directory[0] != u'/' &&
        StrnLenS(Directory, EXTR_FD_DIRECTORY_CHARS) < EXTR_FD_DIRECTORY_CHARS) {
      StrCpyS(mPackageCommands.ExtrFdDirectory, EXTR_FD_DIRECTORY_CHARS, Directory);
      Directory[0] = 0;
      Index++;
    }
    UINTN Length = StrLen(mPackageCommands.ExtrFdDirectory);
    if (Length > 1 && mPackageCommands.ExtrFdDirectory[Length - 1] == u'\\') {
      mPackageCommands.ExtrFdDirectory[Length - 1] = 0;
    }
    DebugPrint(4, u"-extrfd |Dir| %s\r\n", mPackageCommands.ExtrFdDirectory);
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

// ---- -extrFD ---------------------------------------------------------------------

static VOID PrintPackageInvalid(VOID) {
  Print(u"\r\n\r\n       Error:\r\n       Package invalid. specific version of Capstan is required for command "
        u"\"-extrFD\".\r\n\r\n\r\n");
}

// A packed name is a file name in the target directory, never a path.
static BOOLEAN IsPlainFileName(CONST CHAR8 *Name) {
  if (Name[0] == 0 || AsciiStrCmp(Name, ".") == 0 || AsciiStrCmp(Name, "..") == 0) {
    return FALSE;
  }
  for (; *Name != 0; Name++) {
    if (*Name == '\\' || *Name == '/' || *Name == ':' || (UINT8)*Name < 0x20) {
      return FALSE;
    }
  }
  return TRUE;
}

// Writes one packed image to Directory\Name; a failed write leaves no file behind.
static BOOLEAN ExtractImage(CONST UINT8 *File, UINT32 Size, UINT32 Index, CONST CHAR16 *Directory) {
  PACKED_IMAGE Image;
  CONST CHAR16 *Problem = NULL;
  if (GetPackedImage(File, Size, Index, &Image, &Problem) != PackedImageFound) {
    Print(u"\r\n\r\n       Error!\r\n       The package is damaged: BIOS image %d: %s.\r\n", Index + 1,
          Problem != NULL ? Problem : u"its header is missing");
    return FALSE;
  }
  CHAR16 Path[FILE_PATH_CHARS];
  UnicodeSPrint(Path, sizeof(Path), u"%s\\%a", Directory, Image.Name);
  if (!IsPlainFileName(Image.Name) || !EfiWriteFile(Path, File + Image.Start, Image.Size)) {
    if (IsPlainFileName(Image.Name)) {
      EfiDeleteWrittenFile(Path);
    }
    Print(u"\r\n\r\n       Error!\r\n       extract FD fail. (%s)\r\n", Path);
    return FALSE;
  }
  Print(u"       extracts to... %s\r\n", Path);
  return TRUE;
}

static BOOLEAN ExtrFdExit(BOOLEAN Result, CONST CHAR16 *Reason) {
  FuncExit(u"ExecuteExtrFd", Reason);
  return Result;
}

BOOLEAN ExecuteExtrFd(VOID) {
  FuncEnter(u"ExecuteExtrFd");
  PrintBanner(FALSE);
  if (!IsPackageMode()) {
    Print(u"\r\n\r\n       Error:\r\n       command -extrFD supports in package mode ONLY.\r\n\r\n\r\n");
    return ExtrFdExit(FALSE, u"Not package mode");
  }
  CONST CHAR16 *Directory = mPackageCommands.ExtrFdDirectory;
  if (!EfiCreateDirectory(Directory)) {
    Print(u"\r\n\r\n       Error!\r\n       Create specific Directory fail. (%s)\r\n", Directory);
    return ExtrFdExit(FALSE, u"Create directory failed");
  }
  UINT8 *File = NULL;
  UINT32 Size = 0;
  if (!EfiReadFile(mPackage.ApplicationName, (VOID **)&File, &Size)) {
    Print(u"\r\n\r\n       Error!\r\n       The package file cannot be read. (%s)\r\n", mPackage.ApplicationName);
    return ExtrFdExit(FALSE, u"Read application file failed");
  }
  UINT8 Count = 0;
  CHAR8 FirstName[PACK_NAME_FIELD];
  CONST CHAR16 *Problem = NULL;
  BOOLEAN Result = FALSE;
  if (!GetExtraPack(File, Size, &Count, FirstName, &Problem)) {
    if (Problem == NULL) {
      DebugPrint(4, u"signature #EXT_PACK |N.FUD|\r\n");
      PrintPackageInvalid();
    } else {
      Print(u"\r\n\r\n       Error!\r\n       The package is damaged: %s.\r\n", Problem);
    }
  } else {
    PACKED_IMAGE First;
    if (GetPackedImage(File, Size, 0, &First, &Problem) == PackedImageMissing) {
      DebugPrint(4, u"signature #ROM_PACK |N.FUD|\r\n");
      PrintPackageInvalid();
    } else {
      Result = ExtractImage(File, Size, 0, Directory);
      DebugPrint(4, u"FD Count (%d)\r\n", Count);
      for (UINT32 Index = 1; Index < Count; Index++) {
        PACKED_IMAGE Packed;
        if (GetPackedImage(File, Size, Index, &Packed, &Problem) == PackedImageMissing) {
          DebugPrint(4, u"no more pack file (%02d)\r\n", Index);
          // Fewer images than the count promised: the extraction is not whole.
          Print(u"\r\n\r\n       Error!\r\n       The package holds %d of its %d BIOS images.\r\n", Index, Count);
          Result = FALSE;
          break;
        }
        Result = ExtractImage(File, Size, Index, Directory) && Result;
      }
    }
  }
  FreePool(File);
  return ExtrFdExit(Result, Result ? NULL : u"Extract FD failed");
}
