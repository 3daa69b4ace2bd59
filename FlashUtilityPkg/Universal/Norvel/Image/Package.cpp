#include "Image/Package.h"

#include "Base/HexDump.h"
#include "Base/Print.h"
#include "Base/RunState.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Console/FileAccess.h"

PACKAGE_STATE mPackage;

#define PACK_SIGNATURE_LENGTH 9
#define FILTER_WORK_SIZE (ROM_PACK_FILTER_SIZE + 8)
#define FILTER_WORD_SIZE 300

VOID PackageResetState(VOID) {
  FreePool(mPackage.File);
  FreePool(mPackage.IniText);
  ZeroMem(&mPackage, sizeof(mPackage));
}

BOOLEAN IsPackageMode(VOID) { return mPackage.PackageMode; }

static BOOLEAN ContainsEfiNoCase(CONST CHAR16 *Name) {
  for (; *Name != 0; Name++) {
    if (Name[0] == u'.' && CharToLower(Name[1]) == u'e' && CharToLower(Name[2]) == u'f' &&
        CharToLower(Name[3]) == u'i') {
      return TRUE;
    }
  }
  return FALSE;
}

VOID SetApplication(CONST CHAR16 *Path) {
  if (Path == NULL) {
    return;
  }
  CONST CHAR16 *Name = Path;
  for (CONST CHAR16 *P = Path; *P != 0; P++) {
    if (*P == u':') {
      Name = P + 1;
      break;
    }
  }
  StrCpyS(mPackage.ApplicationName, APPLICATION_NAME_CHARS, Name);
  if (!ContainsEfiNoCase(mPackage.ApplicationName)) {
    StrCatS(mPackage.ApplicationName, APPLICATION_NAME_CHARS, u".efi");
  }
  DebugPrint(2, u" SetApplication (%s)\r\n", mPackage.ApplicationName);
}

// Finds a pack signature kept with '~' for '$'.
static INTN FindPackSignature(CONST UINT8 *File, UINT32 Size, CONST CHAR8 *Stored) {
  CHAR8 Signature[PACK_SIGNATURE_LENGTH + 1];
  CopyMem(Signature, Stored, PACK_SIGNATURE_LENGTH + 1);
  Signature[0] = '$';
  return FindBytes(File, Size, Signature, PACK_SIGNATURE_LENGTH);
}

BOOLEAN SetPackageStatus(VOID) {
  FuncEnter(u"SetPackageStatus");
  UINT8 *File = NULL;
  UINT32 Size = 0;
  if (!EfiReadFile(mPackage.ApplicationName, (VOID **)&File, &Size)) {
    FuncExit(u"SetPackageStatus", u"Read application file failed");
    return FALSE;
  }
  INTN Rom = FindPackSignature(File, Size, "~ROM_PACK");
  if (Rom >= 0) {
    DebugPrint(2, u"signature #ROM_PACK found. (0x%X)\r\n", (UINT32)Rom);
    mPackage.PackageMode = TRUE;
    // The header is copied as far as the file holds it; the rest stays zero.
    UINT32 Available = Size - (UINT32)Rom < ROM_PACK_HEADER_SIZE ? Size - (UINT32)Rom : ROM_PACK_HEADER_SIZE;
    ZeroMem(mPackage.RomPackHeader, sizeof(mPackage.RomPackHeader));
    CopyMem(mPackage.RomPackHeader, File + Rom, Available);
    DebugPrint(4, u"===== ROM PACK Info =====\r\n");
    DumpHex(mPackage.RomPackHeader, 128);
  }
  INTN Ini = FindPackSignature(File, Size, "~INI_PACK");
  if (Ini >= 0 && (UINT32)Ini + INI_PACK_HEADER_SIZE <= Size) {
    DebugPrint(2, u"signature #INI_PACK found. (0x%X)\r\n", (UINT32)Ini);
    DebugPrint(4, u"===== INI PACK Info =====\r\n");
    DumpHex(File + Ini, INI_PACK_HEADER_SIZE);
    UINT64 Start = (UINT64)(UINT32)Ini + ReadUnaligned32(File + Ini + PACK_SIGNATURE_LENGTH);
    UINT64 Length = ReadUnaligned32(File + Ini + PACK_SIGNATURE_LENGTH + 4);
    // Offset and size come from the file: a text that would run past it is not taken.
    if (Start + Length <= Size) {
      FreePool(mPackage.IniText);
      mPackage.IniText = (CHAR8 *)AllocateZeroPool((UINTN)Length + 1);
      if (mPackage.IniText != NULL) {
        for (UINT64 I = 0; I < Length; I++) {
          UINT8 Byte = File[Start + I];
          mPackage.IniText[I] = (CHAR8)((Byte >> 1) | (Byte << 7));  // stored rotated left by one bit
        }
        mPackage.IniSize = (UINT32)Length;
      }
    } else {
      DebugPrint(2, u"INI pack runs past the file\r\n");
    }
  }
  if (mPackage.PackageMode) {
    mPackage.File = File;
    mPackage.FileSize = Size;
  } else {
    FreePool(File);
  }
  FuncExit(u"SetPackageStatus", NULL);
  return TRUE;
}

VOID GetPackageIni(CHAR8 **Text, UINT32 *Size) {
  if (Text != NULL) {
    *Text = mPackage.IniText;
  }
  if (Size != NULL) {
    *Size = mPackage.IniText == NULL ? 0 : mPackage.IniSize;
  }
}

static VOID CopyField(CHAR8 *Out, UINTN Offset, UINTN Size) {
  CopyMem(Out, mPackage.RomPackHeader + Offset, Size);
  Out[Size] = 0;
}

VOID GetPackageOptions(CHAR8 *Options) { CopyField(Options, ROM_PACK_OPTIONS_OFFSET, ROM_PACK_OPTIONS_SIZE); }

VOID GetPackageFilter(CHAR8 *Filter) { CopyField(Filter, ROM_PACK_FILTER_OFFSET, ROM_PACK_FILTER_SIZE); }

static VOID AsciiLowerInPlace(CHAR8 *Text) {
  for (; *Text != 0; Text++) {
    *Text = AsciiCharToLower(*Text);
  }
}

BOOLEAN ChkFilterArg_pkg(VOID) {
  FuncEnter(u"ChkFilterArg_pkg");
  CHAR8 Filter[ROM_PACK_FILTER_SIZE + 1];
  GetPackageFilter(Filter);
  CHAR8 Framed[FILTER_WORK_SIZE];
  AsciiSPrint(Framed, sizeof(Framed), " %a ", Filter);
  for (CHAR8 *P = Framed; *P != 0; P++) {
    if (*P == '/') {
      *P = '-';
    }
  }
  AsciiLowerInPlace(Framed);
  DebugPrint(4, u"Filter CMD (%a)\r\n", Framed);
  BOOLEAN Empty = Filter[0] == 0;
  for (UINT32 Index = 1; Index < GetArgumentCount(); Index++) {
    CONST CHAR16 *Argument = GetArgument(Index);
    if (Argument == NULL || Argument[0] == 0) {
      continue;
    }
    // " -word " from the second character on, cut at the first '=' or else ':'.
    CHAR8 Word[FILTER_WORD_SIZE];
    UINTN Length = 0;
    Word[Length++] = ' ';
    Word[Length++] = '-';
    BOOLEAN HasEquals = FALSE;
    for (CONST CHAR16 *P = Argument; *P != 0; P++) {
      HasEquals = HasEquals || *P == u'=';
    }
    CHAR16 Cut = HasEquals ? u'=' : u':';
    for (CONST CHAR16 *P = Argument + 1; *P != 0 && *P != Cut && Length + 2 < sizeof(Word); P++) {
      Word[Length++] = (CHAR8)(*P & 0xFF);
    }
    Word[Length++] = ' ';
    Word[Length] = 0;
    AsciiLowerInPlace(Word);
    DebugPrint(4, u"CMD (%a)\r\n", Word);
    if (Empty || FindBytes(Framed, AsciiStrLen(Framed), Word, Length) < 0) {
      Print(u"Error command: %s (Not supports on current package)\r\n", Argument);
      FuncExit(u"ChkFilterArg_pkg", u"Not supports on current package");
      return FALSE;
    }
  }
  FuncExit(u"ChkFilterArg_pkg", NULL);
  return TRUE;
}
