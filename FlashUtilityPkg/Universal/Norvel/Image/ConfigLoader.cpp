#include "Image/ConfigLoader.h"

#include "Base/Banner.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/IniLoad.h"
#include "Config/OverrideVariables.h"
#include "Console/FileAccess.h"
#include "Image/Bvdt.h"
#include "Image/ImageAnalysis.h"
#include "Image/MultiFd.h"
#include "Image/Package.h"
#include "Image/Payload.h"
#include "Smi/PlatformQueries.h"

#define MULTI_SKU_HEADER_SIZE 16
#define MULTI_SKU_ENTRY_SIZE 8

static VOID PrintFdNotFound(CONST CHAR16 *FileName) {
  PrintBanner(FALSE);
  Print(u"\r\n    Error:\r\n    the FD file not found. (%s)\r\n\r\n", FileName);
}

// On a match FileName (FILE_NAME_CHARS) becomes the selected entry's FD file name.
static BOOLEAN SelectMultiFdEntry(CHAR16 *FileName) {
  if (!SelectMultiFd()) {
    return FALSE;
  }
  GetMultiFdFileName(FileName, MULTI_FD_NAME_CHARS + 1);
  return TRUE;
}

// Copies Size bytes into a new buffer with a terminator and loads them.
static BOOLEAN LoadIniCopy(CONST UINT8 *Text, UINT32 Size, BOOLEAN MultiFd) {
  CHAR8 *Copy = (CHAR8 *)AllocateZeroPool((UINTN)Size + 1);
  if (Copy == NULL) {
    Print(u"Error:\r\nAllocate memory failed (0x%X)\r\n", Size);
    return FALSE;
  }
  CopyMem(Copy, Text, Size);
  UINT32 Length = Size;
  BOOLEAN Loaded = LoadOption(Copy, &Length, MultiFd);
  FreePool(Copy);
  return Loaded;
}

BOOLEAN LoadConfigFromSecureImage(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"LoadConfigFromSecureImage");
  CONST UINT8 *Text = NULL;
  UINT32 TextSize = 0;
  if (!GetImageRecordData(PayloadIni, Image, Size, &Text, &TextSize)) {
    FuncExit(u"LoadConfigFromSecureImage", u"embedded ini signature not found");
    return FALSE;
  }
  ClearIniOverrideVariable();
  ClearCommandOverrideVariable();
  if (!LoadIniCopy(Text, TextSize, FALSE)) {
    FuncExit(u"LoadConfigFromSecureImage", u"Load option failed");
    return FALSE;
  }
  FuncExit(u"LoadConfigFromSecureImage", NULL);
  return TRUE;
}

BOOLEAN LoadConfigFromCapsule(VOID) {
  FuncEnter(u"LoadConfigFromCapsule");
  UINT32 Size = PayloadRecordSize(PayloadIni);
  if (Size == 0) {
    Print(u"Error:\r\nSettings buffer is empty!\r\n");
    FuncExit(u"LoadConfigFromCapsule", u"ini in capsule is empty");
    return FALSE;
  }
  DebugPrint(4, u"Reference configure from capsule\r\n");
  if (!LoadIniCopy(PayloadRecordData(PayloadIni), Size, FALSE)) {
    FuncExit(u"LoadConfigFromCapsule", u"Load option failed");
    return FALSE;
  }
  FuncExit(u"LoadConfigFromCapsule", NULL);
  return TRUE;
}

VOID CheckAndSetMultiSkuPackage(UINT8 **Image, UINT32 *Size) {
  FuncEnter(u"CheckAndSetMultiSkuPackage");
  INTN Found = FindImageSignature(ImageSignatureMultiSku, *Image, *Size);
  if (Found < 0 || *Size - (UINT32)Found < MULTI_SKU_HEADER_SIZE) {
    DebugPrint(4, u"Signature $MULTISC not find\n");
    FuncExit(u"CheckAndSetMultiSkuPackage", NULL);
    return;
  }
  PLATFORM_INFO Info;
  if (!DataGetPlatformInfo(&Info)) {
    DebugPrint(4, u"Can not get on-board platform information\n");
    FuncExit(u"CheckAndSetMultiSkuPackage", NULL);
    return;
  }
  CONST UINT8 *Header = *Image + Found;
  UINT32 Room = *Size - (UINT32)Found;
  UINT32 Count = ReadUnaligned32(Header + 12);
  DebugPrint(4, u"There are [%d] BIOS images in multi-SKU capsule\n", Count);
  // The count is the file's word: only entries inside the image are read.
  UINT32 Fits = (Room - MULTI_SKU_HEADER_SIZE) / MULTI_SKU_ENTRY_SIZE;
  if (Count > Fits) {
    Count = Fits;
  }
  for (UINT32 Index = 0; Index < Count; Index++) {
    CONST UINT8 *Entry = Header + MULTI_SKU_HEADER_SIZE + Index * MULTI_SKU_ENTRY_SIZE;
    UINT32 Offset = ReadUnaligned32(Entry);
    UINT32 Length = ReadUnaligned32(Entry + 4);
    BVDT_INFO Bvdt;
    if (Offset > Room || Length > Room - Offset || !GetBvdtInfoFromBuffer(Header + Offset, Length, &Bvdt)) {
      DebugPrint(4, u"Get model name in capsule failed.\n");
      continue;
    }
    CHAR16 Model[BVDT_MODEL_NAME_BYTES + 1];
    AsciiStrToUnicodeS(Bvdt.DefaultModelName, Model, ARRAY_SIZE(Model));
    if (StrCmp(Model, Info.ModelName) != 0) {
      continue;
    }
    UINT8 *Copy = (UINT8 *)AllocateCopyPool(Length, Header + Offset);
    if (Copy == NULL) {
      break;
    }
    FreePool(*Image);
    *Image = Copy;
    *Size = Length;
    AnalyzeImage(*Image, *Size);
    DebugPrint(4, u"Get matched BIOS in mult-SKU capsule\n");
    break;
  }
  FuncExit(u"CheckAndSetMultiSkuPackage", NULL);
}

// The loaded image's part of a configuration: the model's image of a Dell
// multi-SKU capsule, then a secure image's own INI record. Frees the image.
static BOOLEAN ConfigFromImage(UINT8 *Image, UINT32 Size, CONST CHAR16 *Note) {
  AnalyzeImage(Image, Size);
  if (IsVendorId(VENDOR_ID_DELL)) {
    CheckAndSetMultiSkuPackage(&Image, &Size);
  }
  if (Note != NULL) {
    DebugPrint(0, Note);
  }
  BOOLEAN Result = TRUE;
  if (ParseSecureCapsule(Image, Size)) {
    Result = LoadConfigFromSecureImage(Image, Size);
  }
  AnalyzeImage(NULL, 0);
  FreePool(Image);
  return Result;
}

BOOLEAN FuncLoadPackageConfig(VOID) {
  FuncEnter(u"FuncLoadPackageConfig");
  CHAR8 *Ini = NULL;
  UINT32 IniSize = 0;
  GetPackageIni(&Ini, &IniSize);
  if (IniSize != 0) {
    DebugPrint(0, u"ref. configure | ext|\r\n");
    if (!LoadIniCopy((CONST UINT8 *)Ini, IniSize, TRUE)) {
      FuncExit(u"FuncLoadPackageConfig", u"Load option failed");
      return FALSE;
    }
    if (IsMultiFdEnabled() && !SelectMultiFd()) {
      PrintBanner(FALSE);
      Print(u"No match file in Multi-FD.\r\n");
      FuncExit(u"FuncLoadPackageConfig", u"Multi-FD no match");
      return FALSE;
    }
  }
  UINT8 *Image = NULL;
  UINT32 Size = 0;
  if (!LoadPackageFD(&Image, &Size)) {
    FuncExit(u"FuncLoadPackageConfig", u"Load package FD failed");
    return FALSE;
  }
  BOOLEAN Result = ConfigFromImage(Image, Size, NULL);
  FuncExit(u"FuncLoadPackageConfig", Result ? NULL : u"Load config from secure image failed");
  return Result;
}

BOOLEAN FuncLoadFileConfig(CHAR16 *FileName) {
  FuncEnter(u"FuncLoadFileConfig");
  VOID *Ini = NULL;
  UINT32 IniSize = 0;
  EFI_STATUS IniStatus = EFI_NOT_FOUND;
  BOOLEAN IniRead = EfiReadFileStatus(u"platform.ini", &Ini, &IniSize, &IniStatus);
  // Only a platform.ini that is not there means "no platform.ini": one that
  // is there but unreadable would drop its [ForceFlash] and check settings.
  if (!IniRead && IniStatus != EFI_NOT_FOUND) {
    Print(u"\r\nError: platform.ini cannot be read (%r).\r\n", IniStatus);
    FuncExit(u"FuncLoadFileConfig", u"Read platform.ini failed");
    return FALSE;
  }
  if (IniRead) {
    DebugPrint(0, u" Config from external\r\n");
    BOOLEAN Loaded = LoadIniCopy((CONST UINT8 *)Ini, IniSize, TRUE);
    FreePool(Ini);
    if (!Loaded) {
      FuncExit(u"FuncLoadFileConfig", u"Load option failed");
      return FALSE;
    }
    if (IsMultiFdEnabled()) {
      if (!SelectMultiFdEntry(FileName)) {
        PrintBanner(FALSE);
        Print(u"No match file in Multi-FD.\r\n");
        FuncExit(u"FuncLoadFileConfig", u"Multi-FD no match");
        return FALSE;
      }
      if (!EfiFileExists(FileName)) {
        PrintFdNotFound(FileName);
        FuncExit(u"FuncLoadFileConfig", u"FD file not found");
        return FALSE;
      }
    }
  }
  // Without an FD file name the run can only end in the usage display: there
  // is no image to take a configuration from.
  if (FileName[0] == 0) {
    FuncExit(u"FuncLoadFileConfig", u"No FD file");
    return TRUE;
  }
  UINT8 *Image = NULL;
  UINT32 Size = 0;
  if (!EfiReadFile(FileName, (VOID **)&Image, &Size)) {
    PrintFdNotFound(FileName);
    FuncExit(u"FuncLoadFileConfig", u"FD file not found");
    return FALSE;
  }
  BOOLEAN Result = ConfigFromImage(Image, Size, u" Config from capsule\r\n");
  FuncExit(u"FuncLoadFileConfig", Result ? NULL : u"Load config from secure image failed");
  return Result;
}
