#include "Image/Package.h"

#include "Base/HexDump.h"
#include "Base/Print.h"
#include "Base/RunState.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Console/FileAccess.h"
#include "Image/MultiFd.h"

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

BOOLEAN IsOptionWord(CONST CHAR16 *Argument, CONST CHAR16 *Name) {
  return Argument != NULL && (Argument[0] == u'-' || Argument[0] == u'/') && StrEqualNoCase(Argument + 1, Name);
}

static BOOLEAN IsValueOfPreviousArgument(UINT32 Index) {
  if (Index < 2) {
    return FALSE;
  }
  CONST CHAR16 *Previous = GetArgument(Index - 1);
  CONST CHAR16 *Argument = GetArgument(Index);
  return IsOptionWord(Previous, u"OemCus") ||
         (IsOptionWord(Previous, u"extrFD") && Argument[0] != u'-' && Argument[0] != u'/');
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
    // The filter lists options: the value that -OemCus and -extrFD take is
    // not one, and would otherwise be refused by any filter.
    if (IsValueOfPreviousArgument(Index)) {
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

// ---- Packed images and resources ------------------------------------------------

// A NUL-terminated name inside Field bytes at File[At]; FALSE when the field
// leaves the file or holds no terminator.
static BOOLEAN ReadPackName(CONST UINT8 *File, UINT32 Size, UINT64 At, UINTN Field, CHAR8 *Name) {
  Name[0] = 0;
  for (UINTN I = 0; I < Field && At + I < Size; I++) {
    Name[I] = (CHAR8)File[At + I];
    if (Name[I] == 0) {
      return TRUE;
    }
  }
  Name[0] = 0;
  return FALSE;
}

// Offset and size of a header at File[At]; the data must lie inside the file.
static PACKED_IMAGE_STATUS ReadPackedData(CONST UINT8 *File, UINT32 Size, UINT32 At, PACKED_IMAGE *Image,
                                          CONST CHAR16 **Problem) {
  if ((UINT64)At + PACK_SIGNATURE_LENGTH + 8 > Size) {
    *Problem = u"its header runs past the end of the file";
    return PackedImageDamaged;
  }
  UINT64 Start = (UINT64)At + ReadUnaligned32(File + At + PACK_SIGNATURE_LENGTH);
  UINT32 Length = ReadUnaligned32(File + At + PACK_SIGNATURE_LENGTH + 4);
  if (Length == 0 || Start + Length > Size) {
    *Problem = Length == 0 ? u"it holds no data" : u"its data lies outside the file";
    return PackedImageDamaged;
  }
  Image->Start = (UINT32)Start;
  Image->Size = Length;
  return PackedImageFound;
}

BOOLEAN GetExtraPack(CONST UINT8 *File, UINT32 Size, UINT8 *Count, CHAR8 *FirstName, CONST CHAR16 **Problem) {
  *Problem = NULL;
  INTN Ext = FindPackSignature(File, Size, "~EXT_PACK");
  if (Ext < 0) {
    return FALSE;
  }
  if ((UINT64)Ext + EXT_PACK_NAME_OFFSET > Size ||
      !ReadPackName(File, Size, (UINT64)Ext + EXT_PACK_NAME_OFFSET, PACK_NAME_FIELD, FirstName)) {
    *Problem = u"the extra pack header runs past the end of the file or its name is not terminated";
    return FALSE;
  }
  *Count = File[Ext + EXT_PACK_COUNT_OFFSET];
  return TRUE;
}

PACKED_IMAGE_STATUS GetPackedImage(CONST UINT8 *File, UINT32 Size, UINT32 Index, PACKED_IMAGE *Image,
                                   CONST CHAR16 **Problem) {
  *Problem = NULL;
  ZeroMem(Image, sizeof(*Image));
  if (Index == 0) {
    INTN Rom = FindPackSignature(File, Size, "~ROM_PACK");
    if (Rom < 0) {
      return PackedImageMissing;
    }
    PACKED_IMAGE_STATUS Status = ReadPackedData(File, Size, (UINT32)Rom, Image, Problem);
    UINT8 Count = 0;
    CONST CHAR16 *ExtProblem = NULL;
    if (Status == PackedImageFound && !GetExtraPack(File, Size, &Count, Image->Name, &ExtProblem) &&
        ExtProblem != NULL) {
      *Problem = ExtProblem;
      return PackedImageDamaged;
    }
    return Status;
  }
  if (Index > 99) {
    return PackedImageMissing;
  }
  CHAR8 Signature[PACK_SIGNATURE_LENGTH + 1];
  AsciiSPrint(Signature, sizeof(Signature), "$ROM_P%02d_", Index);
  INTN At = FindBytes(File, Size, Signature, PACK_SIGNATURE_LENGTH);
  if (At < 0) {
    return PackedImageMissing;
  }
  PACKED_IMAGE_STATUS Status = ReadPackedData(File, Size, (UINT32)At, Image, Problem);
  if (Status == PackedImageFound &&
      !ReadPackName(File, Size, (UINT64)At + ROM_HEADER_NAME_OFFSET, PACK_NAME_FIELD, Image->Name)) {
    *Problem = u"its file name is not terminated inside the file";
    return PackedImageDamaged;
  }
  return Status;
}

// A damaged package is named as such; nothing is loaded from it.
static VOID PrintPackageDamaged(UINT32 Index, CONST CHAR16 *Problem) {
  Print(u"\r\n    Error:\r\n    The package is damaged: BIOS image %d: %s.\r\n\r\n", Index + 1, Problem);
}

static BOOLEAN NameMatches(CONST CHAR16 *Wanted, CONST CHAR8 *Name) {
  CHAR16 Wide[PACK_NAME_FIELD];
  AsciiStrToUnicodeS(Name, Wide, ARRAY_SIZE(Wide));
  return StrEqualNoCase(Wanted, Wide);
}

static BOOLEAN CopyPackedImage(CONST PACKED_IMAGE *Packed, UINT8 **Image, UINT32 *Size) {
  *Image = (UINT8 *)AllocateCopyPool(Packed->Size, mPackage.File + Packed->Start);
  if (*Image == NULL) {
    Print(u"Error:\r\nAllocate memory failed (0x%X)\r\n", Packed->Size);
    return FALSE;
  }
  *Size = Packed->Size;
  return TRUE;
}

static BOOLEAN LoadPackageFDExit(BOOLEAN Result, CONST CHAR16 *Reason) {
  FuncExit(u"LoadPackageFD", Reason);
  return Result;
}

BOOLEAN LoadPackageFD(UINT8 **Image, UINT32 *Size) {
  FuncEnter(u"LoadPackageFD");
  *Image = NULL;
  *Size = 0;
  CHAR16 Wanted[MULTI_FD_NAME_CHARS + 1];
  GetMultiFdFileName(Wanted, ARRAY_SIZE(Wanted));
  DebugPrint(4, u"MultiFD match filename [%s]\r\n", Wanted);
  PACKED_IMAGE First;
  CONST CHAR16 *Problem = NULL;
  PACKED_IMAGE_STATUS Status = GetPackedImage(mPackage.File, mPackage.FileSize, 0, &First, &Problem);
  if (Status == PackedImageMissing) {
    Print(u"\r\n    Error:\r\n    The package holds no BIOS image.\r\n\r\n");
    return LoadPackageFDExit(FALSE, u"ROM pack header NOT found");
  }
  if (Status == PackedImageDamaged) {
    PrintPackageDamaged(0, Problem);
    return LoadPackageFDExit(FALSE, u"ROM pack header damaged");
  }
  UINT8 Count = 0;
  CHAR8 FirstName[PACK_NAME_FIELD];
  if (!GetExtraPack(mPackage.File, mPackage.FileSize, &Count, FirstName, &Problem)) {
    if (!CopyPackedImage(&First, Image, Size)) {
      return LoadPackageFDExit(FALSE, u"Allocate memory failed");
    }
    return LoadPackageFDExit(TRUE, u"Ext pack header NOT found");
  }
  DebugPrint(4, u"Pack Image = %a\r\n", FirstName);
  DebugPrint(4, u"Bios Count = %d\r\n", Count);
  if (Wanted[0] == 0 || Count == 1 || NameMatches(Wanted, FirstName)) {
    if (!CopyPackedImage(&First, Image, Size)) {
      return LoadPackageFDExit(FALSE, u"Allocate memory failed");
    }
    return LoadPackageFDExit(TRUE, u"Fist packed BIOS file loaded");
  }
  for (UINT32 Index = 1; Index < Count; Index++) {
    PACKED_IMAGE Packed;
    Status = GetPackedImage(mPackage.File, mPackage.FileSize, Index, &Packed, &Problem);
    if (Status == PackedImageMissing) {
      DebugPrint(4, u"no pack header (%02d)\r\n", Index);
      continue;
    }
    if (Status == PackedImageDamaged) {
      PrintPackageDamaged(Index, Problem);
      return LoadPackageFDExit(FALSE, u"ROM header damaged");
    }
    DebugPrint(4, u"ExtRomHdr->pcFilename - %a\r\n", Packed.Name);
    DebugPrint(4, u"Compare match FD name [%s] with pack filenmae [%a]\r\n", Wanted, Packed.Name);
    if (NameMatches(Wanted, Packed.Name)) {
      if (!CopyPackedImage(&Packed, Image, Size)) {
        return LoadPackageFDExit(FALSE, u"Allocate memory failed");
      }
      return LoadPackageFDExit(TRUE, u"NOT 1st");
    }
  }
  Print(u"\r\n    Error:\r\n    The package holds no BIOS image named %s.\r\n\r\n", Wanted);
  return LoadPackageFDExit(FALSE, u"NO match");
}

BOOLEAN FindResourceRecord(CONST UINT8 *File, UINT32 Size, CONST CHAR8 *Name, UINT32 *Start, UINT32 *DataSize) {
  CONST CHAR8 Signature[] = "$EXT_RESRC";
  CONST UINTN SignatureLength = sizeof(Signature) - 1;
  UINT32 Position = 0;
  UINT32 Record = 0;
  while (Position < Size) {
    INTN Found = FindBytes(File + Position, Size - Position, Signature, SignatureLength);
    if (Found < 0) {
      break;
    }
    UINT32 At = Position + (UINT32)Found;
    Position = At + 1;
    Record++;
    if ((UINT64)At + RESOURCE_HEADER_SIZE > Size) {
      DebugPrint(4, u"resource header runs past the file. (%d)\r\n", Record);
      continue;
    }
    UINT16 Verify = ReadUnaligned16(File + At + SignatureLength);
    if (Verify != RESOURCE_VERIFY_CODE) {
      DebugPrint(4, u"Verify code fail. (0x%X)\r\n", Verify);
      continue;
    }
    CHAR8 RecordName[RESOURCE_NAME_FIELD];
    if (!ReadPackName(File, Size, (UINT64)At + RESOURCE_NAME_OFFSET, RESOURCE_NAME_FIELD, RecordName)) {
      DebugPrint(4, u"resource name not terminated. (%d)\r\n", Record);
      continue;
    }
    if (AsciiStrLen(RecordName) != AsciiStrLen(Name) || !AsciiStrEqualNoCase(RecordName, Name)) {
      DebugPrint(4, u"not matched. (%d)(%a/%a)\r\n", Record, RecordName, Name);
      continue;
    }
    UINT32 Length = ReadUnaligned32(File + At + SignatureLength + 2);
    // The size is the file's word: a record whose data would leave the file is not taken.
    if ((UINT64)At + RESOURCE_HEADER_SIZE + Length > Size) {
      DebugPrint(4, u"resource data runs past the file. (%a)\r\n", RecordName);
      return FALSE;
    }
    *Start = At + RESOURCE_HEADER_SIZE;
    *DataSize = Length;
    return TRUE;
  }
  DebugPrint(4, u"resource not found. (%a)\r\n", Name);
  return FALSE;
}

BOOLEAN GetResourceFile(CONST CHAR8 *Name) {
  FuncEnter(u"GetResourceFile");
  UINT8 *File = NULL;
  UINT32 Size = 0;
  if (!EfiReadFile(mPackage.ApplicationName, (VOID **)&File, &Size)) {
    FuncExit(u"GetResourceFile", u"Read application file failed");
    return FALSE;
  }
  UINT32 Start = 0;
  UINT32 DataSize = 0;
  BOOLEAN Result = FALSE;
  if (FindResourceRecord(File, Size, Name, &Start, &DataSize)) {
    CHAR16 Wide[RESOURCE_NAME_FIELD];
    AsciiStrToUnicodeS(Name, Wide, ARRAY_SIZE(Wide));
    Result = EfiWriteFile(Wide, File + Start, DataSize);
    if (Result) {
      DebugPrint(4, u"resource file saved. (%s)\r\n", Wide);
    } else {
      DebugPrint(4, u"save resource to file fail. (%s)\r\n", Wide);
      EfiDeleteWrittenFile(Wide);
    }
  }
  FreePool(File);
  FuncExit(u"GetResourceFile", Result ? NULL : u"resource not saved");
  return Result;
}
