#include "Image/Bvdt.h"

#include "Base/HexDump.h"
#include "Base/Print.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/IniStore.h"
#include "Console/ConsoleUi.h"
#include "Image/ImageAnalysis.h"
#include "Platform.h"
#include "Smi/FwsmiExchange.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"

BVDT_STATE mBvdt;

VOID BvdtResetState(VOID) { ZeroMem(&mBvdt, sizeof(mBvdt)); }

VOID SetChecksDisabled(BOOLEAN Disabled) { mBvdt.ChecksDisabled = Disabled ? 1 : 0; }

// Signatures are kept with 'S' in place of '$' so that the utility's own
// image never holds them and a search through memory cannot find the
// utility instead of a BIOS.
static CONST CHAR8 kProdexSignature[] = "SPRODEX";
static CONST CHAR8 kVerexSignature[] = "SVEREX";
static CONST CHAR8 kRdateSignature[] = "SRDATE";
static CONST CHAR8 kCheckInSignature[] = "SCHKCNDI";
static CONST CHAR8 kCheckOutSignature[] = "SCHKCNDO";

#define SIGNATURE_MAX 16

static VOID MakeSignature(CHAR8 *Out, CONST CHAR8 *Stored) {
  CopyMem(Out, Stored, AsciiStrLen(Stored));
  Out[0] = '$';
}

static UINT8 FromBcd(UINT8 Value) { return (UINT8)((Value >> 4) * 10 + (Value & 0x0F)); }

// A '$' and three BCD bytes at Offset, all inside the image; else absent.
static BOOLEAN ReadBcdTriple(CONST UINT8 *Image, UINTN Size, UINTN Offset, UINT8 *A, UINT8 *B, UINT8 *C) {
  if (Offset >= Size || Size - Offset < 4 || Image[Offset] != '$') {
    return FALSE;
  }
  *A = FromBcd(Image[Offset + 1]);
  *B = FromBcd(Image[Offset + 2]);
  *C = FromBcd(Image[Offset + 3]);
  return TRUE;
}

// Text of at most Length bytes at Offset, ending at a NUL or at the image's
// end; Out (Length + 1 bytes) is always terminated.
static VOID ReadText(CONST UINT8 *Image, UINTN Size, UINTN Offset, UINTN Length, CHAR8 *Out) {
  UINTN Count = 0;
  while (Count < Length && Offset + Count < Size && Image[Offset + Count] != 0) {
    Out[Count] = (CHAR8)Image[Offset + Count];
    Count++;
  }
  Out[Count] = 0;
}

// A ','-separated list after a signature, ended by a NUL or the image's end,
// into Slots from slot 0 on. An empty list leaves the slots alone. Returns
// the number of entries written.
static UINTN ReadList(CONST UINT8 *Image, UINTN Size, UINTN Offset, CHAR8 (*Slots)[BVDT_ENTRY_SIZE]) {
  if (Offset >= Size || Image[Offset] == 0) {
    return 0;
  }
  UINTN Entry = 0;
  UINTN Length = 0;
  ZeroMem(Slots[0], BVDT_ENTRY_SIZE);
  for (UINTN Pos = Offset; Pos < Size && Image[Pos] != 0; Pos++) {
    if (Image[Pos] == ',') {
      Entry++;
      Length = 0;
      if (Entry == BVDT_MAX_ENTRIES) {
        return Entry;
      }
      ZeroMem(Slots[Entry], BVDT_ENTRY_SIZE);
      continue;
    }
    // Entries longer than a slot are cut.
    if (Length < BVDT_ENTRY_SIZE - 1) {
      Slots[Entry][Length++] = (CHAR8)Image[Pos];
    }
  }
  return Entry + 1;
}

BOOLEAN GetBvdtInfoFromBuffer(CONST UINT8 *Image, UINTN Size, BVDT_INFO *Info) {
  FuncEnter(u"GetBvdtInfoFromBuffer");
  if (Info == NULL) {
    FuncExit(u"GetBvdtInfoFromBuffer", u"Input buffer is NULL");
    return FALSE;
  }
  ZeroMem(Info, sizeof(*Info));
  INTN Found = FindImageSignature(ImageSignatureBvdt, Image, Size);
  if (Found < 0) {
    FuncExit(u"GetBvdtInfoFromBuffer", u"BVDT not found");
    return FALSE;
  }
  UINTN Base = (UINTN)Found;
  Info->Valid = 1;
  if (ReadBcdTriple(Image, Size, Base + BVDT_BUILD_DATE_OFFSET, &Info->BuildYear, &Info->BuildMonth,
                    &Info->BuildDay)) {
    DebugPrint(4, u" Build Date: %02d-%02d-%02d\r\n", 2000 + Info->BuildYear, Info->BuildMonth, Info->BuildDay);
  }
  if (ReadBcdTriple(Image, Size, Base + BVDT_BUILD_TIME_OFFSET, &Info->BuildHour, &Info->BuildMinute,
                    &Info->BuildSecond)) {
    DebugPrint(4, u" Build Time: %02d:%02d:%02d\r\n", Info->BuildHour, Info->BuildMinute, Info->BuildSecond);
  }
  // The version text ends at the model name's '$' at the latest, so that a
  // version filling its field never runs into the model name.
  ReadText(Image, Size, Base + BVDT_MODEL_NAME_OFFSET + 1, BVDT_MODEL_NAME_BYTES, Info->DefaultModelName);
  ReadText(Image, Size, Base + BVDT_VERSION_OFFSET + 1, BVDT_MODEL_NAME_OFFSET - BVDT_VERSION_OFFSET - 1,
           Info->DefaultVersion);
  AsciiStrCpyS(Info->ModelName[0], BVDT_ENTRY_SIZE, Info->DefaultModelName);
  AsciiStrCpyS(Info->Version[0], BVDT_ENTRY_SIZE, Info->DefaultVersion);
  DebugPrint(4, u" Model Name: %a\r\n", Info->DefaultModelName);
  DebugPrint(4, u" Model Name[Default]: %a\r\n", Info->DefaultModelName);
  DebugPrint(4, u" Model Name[0]: %a\r\n", Info->ModelName[0]);
  DebugPrint(4, u" Version: %a\r\n", Info->DefaultVersion);
  DebugPrint(4, u" Version[Default]: %a\r\n", Info->DefaultVersion);
  DebugPrint(4, u" Version[0]: %a\r\n", Info->Version[0]);

  INTN Prodex = FindImageSignature(ImageSignatureProdex, Image, Size);
  if (Prodex >= 0) {
    UINTN Count = ReadList(Image, Size, (UINTN)Prodex + AsciiStrLen(kProdexSignature), Info->ModelName);
    for (UINTN Index = 0; Index < Count; Index++) {
      DebugPrint(4, u" Model Name[%d]: %a\r\n", Index, Info->ModelName[Index]);
    }
  }
  INTN Verex = FindImageSignature(ImageSignatureVerex, Image, Size);
  if (Verex >= 0) {
    UINTN Count = ReadList(Image, Size, (UINTN)Verex + AsciiStrLen(kVerexSignature), Info->Version);
    for (UINTN Index = 0; Index < Count; Index++) {
      DebugPrint(4, u" Version[%d]: %a\r\n", Index, Info->Version[Index]);
    }
  }
  INTN Rdate = FindImageSignature(ImageSignatureRdate, Image, Size);
  UINTN RdateEnd = (UINTN)Rdate + AsciiStrLen(kRdateSignature);
  if (Rdate >= 0 && RdateEnd <= Size && Size - RdateEnd >= 3) {
    Info->ReleaseYear = FromBcd(Image[RdateEnd]);
    Info->ReleaseMonth = FromBcd(Image[RdateEnd + 1]);
    Info->ReleaseDay = FromBcd(Image[RdateEnd + 2]);
    DebugPrint(4, u" Release Date: %02d-%02d-%02d\r\n", 2000 + Info->ReleaseYear, Info->ReleaseMonth,
               Info->ReleaseDay);
  }
  FuncExit(u"GetBvdtInfoFromBuffer", NULL);
  return TRUE;
}

// ---- New-image identity ------------------------------------------------------

static VOID EnsureIdentity(VOID) {
  if (mBvdt.IdentityInitialized == 0) {
    StrCpyS(mBvdt.NewModelName, BVDT_IDENTITY_CHARS, u"N/A");
    StrCpyS(mBvdt.NewVersion, BVDT_IDENTITY_CHARS, u"N/A");
    mBvdt.IdentityInitialized = 1;
  }
}

static VOID CurrentIdentity(CHAR8 *Model, CHAR8 *Version) {
  PLATFORM_INFO Info;
  ZeroMem(&Info, sizeof(Info));
  DataGetPlatformInfo(&Info);
  UnicodeStrToAsciiS(Info.ModelName, Model, BVDT_ENTRY_SIZE);
  UnicodeStrToAsciiS(Info.Version, Version, BVDT_ENTRY_SIZE);
  if (Model[0] == 0) AsciiStrCpyS(Model, BVDT_ENTRY_SIZE, "N/A");
  if (Version[0] == 0) AsciiStrCpyS(Version, BVDT_ENTRY_SIZE, "N/A");
}

BOOLEAN SetBvdtInfo_FD(CONST UINT8 *Image, UINTN Size) {
  FuncEnter(u"SetBvdtInfo_FD");
  mBvdt.IdentityInitialized = 0;
  EnsureIdentity();
  BVDT_INFO *Info = (BVDT_INFO *)AllocateZeroPool(sizeof(BVDT_INFO));
  if (Info == NULL) {
    FuncExit(u"SetBvdtInfo_FD", u"Allocate memory failed");
    return FALSE;
  }
  if (!GetBvdtInfoFromBuffer(Image, Size, Info)) {
    FreePool(Info);
    FuncExit(u"SetBvdtInfo_FD", u"BVDT table signature Not Found");
    return FALSE;
  }
  CHAR8 CurrentModel[BVDT_ENTRY_SIZE];
  CHAR8 CurrentVersion[BVDT_ENTRY_SIZE];
  CurrentIdentity(CurrentModel, CurrentVersion);

  CONST CHAR8 *Model = Info->ModelName[0];
  CONST CHAR8 *Version = Info->Version[0];
  for (UINTN Slot = 0; Slot < BVDT_MAX_ENTRIES; Slot++) {
    if (AsciiStrCmp(CurrentModel, Info->ModelName[Slot]) == 0) {
      Model = Info->ModelName[Slot];
      Version = Info->Version[Slot];
      break;
    }
  }
  if (mIniSettings.Platform_Check.Flag == 2) {
    DebugPrint(4, u"Multi platform compare\r\n");
    for (UINTN Index = 0; Index < INI_PLATFORM_NAMES; Index++) {
      CONST CHAR8 *Name = mIniSettings.Platform_Check.PlatformName[Index];
      if (Name[0] == 0) {
        continue;
      }
      Model = Name;
      if (mIniSettings.PlatformVersion.Flag == 1) {
        Version = mIniSettings.PlatformVersion.Version[Index];
      }
      if (AsciiStrCmp(Name, CurrentModel) == 0) {
        break;
      }
    }
  }
  AsciiStrToUnicodeS(Model[0] != 0 ? Model : "N/A", mBvdt.NewModelName, BVDT_IDENTITY_CHARS);
  AsciiStrToUnicodeS(Version[0] != 0 ? Version : "N/A", mBvdt.NewVersion, BVDT_IDENTITY_CHARS);
  DebugPrint(4, u" Platform Name: [%s]\r\n  BIOS Version: [%s]\r\n", mBvdt.NewModelName, mBvdt.NewVersion);
  FreePool(Info);
  FuncExit(u"SetBvdtInfo_FD", NULL);
  return TRUE;
}

VOID GetBvdtInfo_FD(CHAR16 *ModelName, CHAR16 *Version) {
  EnsureIdentity();
  if (ModelName != NULL) StrCpyS(ModelName, BVDT_IDENTITY_CHARS, mBvdt.NewModelName);
  if (Version != NULL) StrCpyS(Version, BVDT_IDENTITY_CHARS, mBvdt.NewVersion);
}

// ---- Version comparison ------------------------------------------------------

#define VERSION_KEY_SIZE 2048

static BOOLEAN IsLetter(CHAR8 C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }
static BOOLEAN IsDigit(CHAR8 C) { return C >= '0' && C <= '9'; }

// The default rule's key: letters blanked, '.'-pieces trimmed, empty pieces
// dropped, each piece's leading number appended as ".%04d". The number is
// written from its digits (leading zeros dropped, padded to four) so that
// long digit runs cannot overflow and still compare as text.
static VOID BuildVersionKey(CONST CHAR8 *Version, CHAR8 *Key, UINTN KeySize) {
  UINTN Out = 0;
  Key[0] = 0;
  UINTN Pos = 0;
  while (Version[Pos] != 0) {
    UINTN Start = Pos;
    while (Version[Pos] != 0 && Version[Pos] != '.') Pos++;
    UINTN End = Pos;
    if (Version[Pos] == '.') Pos++;
    // Trim blanks (letters count as blanks).
    while (Start < End && (Version[Start] == ' ' || IsLetter(Version[Start]))) Start++;
    while (End > Start && (Version[End - 1] == ' ' || IsLetter(Version[End - 1]))) End--;
    if (Start == End) {
      continue;
    }
    UINTN DigitsEnd = Start;
    while (DigitsEnd < End && IsDigit(Version[DigitsEnd])) DigitsEnd++;
    UINTN First = Start;
    while (First < DigitsEnd && Version[First] == '0') First++;
    UINTN Digits = DigitsEnd - First;
    UINTN Width = Digits < 4 ? 4 : Digits;
    if (Out + 1 + Width + 1 > KeySize) {
      break;
    }
    Key[Out++] = '.';
    for (UINTN Pad = Digits; Pad < 4; Pad++) Key[Out++] = '0';
    for (UINTN D = First; D < DigitsEnd; D++) Key[Out++] = Version[D];
    Key[Out] = 0;
  }
}

static INTN Sign(INTN Value) { return Value > 0 ? 1 : (Value < 0 ? -1 : 0); }

INTN BiosVerCmp(CONST CHAR8 *NewVersion, CONST CHAR8 *CurrentVersion) {
  CHAR8 *NewKey = (CHAR8 *)AllocateZeroPool(VERSION_KEY_SIZE);
  CHAR8 *CurrentKey = (CHAR8 *)AllocateZeroPool(VERSION_KEY_SIZE);
  INTN Result = 0;
  if (NewKey != NULL && CurrentKey != NULL) {
    BuildVersionKey(NewVersion, NewKey, VERSION_KEY_SIZE);
    BuildVersionKey(CurrentVersion, CurrentKey, VERSION_KEY_SIZE);
    Result = Sign(AsciiStrCmp(NewKey, CurrentKey));
  }
  FreePool(NewKey);
  FreePool(CurrentKey);
  return Result;
}

INTN BiosVerFmtCmp(CONST CHAR8 *Format, CONST CHAR8 *NewVersion, CONST CHAR8 *CurrentVersion) {
  UINTN L = AsciiStrLen(Format);
  UINTN Skip = 0;
  UINTN Effective;
  BOOLEAN AlignRight = Format[0] == 'D';
  if (AlignRight) {
    while (Format[Skip] == 'D') Skip++;
    Effective = L - Skip;
  } else {
    UINTN DCount = 0;
    for (UINTN I = 0; I < L; I++) DCount += Format[I] == 'D' ? 1 : 0;
    Effective = L - DCount;
  }
  UINTN NewLength = AsciiStrLen(NewVersion);
  UINTN CurrentLength = AsciiStrLen(CurrentVersion);
  if (NewLength < Effective || NewLength > L) {
    DebugPrint(4, u"The version length of new BIOS is wrong.\r\n");
    return VERSION_FORMAT_INVALID;
  }
  if (CurrentLength < Effective || CurrentLength > L) {
    DebugPrint(4, u"The BIOS version length in platform.ini is wrong.\r\n");
    return VERSION_FORMAT_INVALID;
  }
  CONST CHAR8 *NewStart = AlignRight ? NewVersion + NewLength - Effective : NewVersion;
  CONST CHAR8 *CurrentStart = AlignRight ? CurrentVersion + CurrentLength - Effective : CurrentVersion;
  INTN Result = 0;
  for (UINTN I = 0; I < Effective; I++) {
    CHAR8 F = Format[Skip + I];
    CHAR8 A = NewStart[I];
    CHAR8 B = CurrentStart[I];
    if (F == '.' || F == 'X') {
      A = B = '.';
    } else if (F == 'T') {
      A = AsciiCharToLower(A);
      B = AsciiCharToLower(B);
    } else if (F != 'N') {
      return VERSION_FORMAT_INVALID;
    }
    if (Result == 0 && A != B) {
      Result = (UINT8)A > (UINT8)B ? 1 : -1;
    }
  }
  return Result;
}

INTN CompareVersion(CONST CHAR8 *NewVersion, CONST CHAR8 *CurrentVersion) {
  FuncEnter(u"CompareVersion");
  if (mIniSettings.Bios_Version_Check.CheckByBios == 1 && !IsVendorId(VENDOR_ID_DELL)) {
    UINT8 Allowed = 0;
    if (!SMI_CheckConditionalData(CHECK_CONDITION_TYPE_VERSION, 1, (UINT16)AsciiStrLen(NewVersion), NewVersion,
                                  &Allowed)) {
      FuncExit(u"CompareVersion", u"FWSMI interface  format invalid");
      return VERSION_FWSMI_FAILED;
    }
    if (Allowed == 0) {
      FuncExit(u"CompareVersion", u"BIOS not allow to flash");
      return VERSION_BIOS_REFUSED;
    }
  }
  if (NewVersion[0] == 0 || AsciiStrEqualNoCase(CurrentVersion, "N/A")) {
    FuncExit(u"CompareVersion", u"One or both onboard/image BIOS version invalid");
    return VERSION_MISSING;
  }
  INTN Result;
  if (mIniSettings.BIOSVersionFormat.BIOSVFEnable == 1) {
    Result = BiosVerFmtCmp(mIniSettings.BIOSVersionFormat.VersionFormat, NewVersion, CurrentVersion);
    DebugPrint(4, u"Check with version format enable. Result: %d\r\n", Result);
  } else {
    Result = BiosVerCmp(NewVersion, CurrentVersion);
    DebugPrint(4, u"Check with default rule. Result: %d\r\n", Result);
  }
  BIOS_CONTROL_SWITCHES Switches;
  ZeroMem(&Switches, sizeof(Switches));
  GetBiosControlSwitches(&Switches);
  BOOLEAN SameAllowed = Switches.AllowSameVersionUpdate != 0 || mBvdt.ChecksDisabled != 0;
  if (Result == VERSION_SAME && !SameAllowed) {
    Result = VERSION_SAME_NOT_ALLOWED;
    DebugPrint(4, u"Not allow to update same version.\r\n");
  }
  FuncExit(u"CompareVersion", NULL);
  return Result;
}

// ---- Check decisions -----------------------------------------------------------

BOOLEAN IsModelCheckNeeded(VOID) {
  UINT32 Flag = mIniSettings.Platform_Check.Flag;
  if (mBvdt.ChecksDisabled != 0 || IsOptionSet(OPT_MC) != 0 || Flag == 0) {
    return FALSE;
  }
  if (Flag == 3) {
    BIOS_CONTROL_SWITCHES Switches;
    ZeroMem(&Switches, sizeof(Switches));
    GetBiosControlSwitches(&Switches);
    return Switches.CheckModelName != 0;
  }
  return TRUE;
}

BOOLEAN IsVersionCheckNeeded(VOID) {
  if (mBvdt.ChecksDisabled != 0) {
    return FALSE;
  }
  if (IsVendorId(VENDOR_ID_DELL)) {
    return TRUE;
  }
  UINT32 Flag = mIniSettings.Bios_Version_Check.Flag;
  if (IsOptionSet(OPT_MC) != 0 || Flag == 0) {
    return FALSE;
  }
  if (Flag == 2) {
    BIOS_CONTROL_SWITCHES Switches;
    ZeroMem(&Switches, sizeof(Switches));
    GetBiosControlSwitches(&Switches);
    return Switches.CheckModelVersion != 0;
  }
  return TRUE;
}

UINT32 PlatformCmp(CONST CHAR8 *NewModel, CONST CHAR8 *CurrentModel, UINT32 *Index) {
  *Index = PLATFORM_CMP_NO_INDEX;
  if (mIniSettings.Platform_Check.Flag == 2) {
    for (UINT32 Entry = 0; Entry < INI_PLATFORM_NAMES; Entry++) {
      CONST CHAR8 *Name = mIniSettings.Platform_Check.PlatformName[Entry];
      if (Name[0] == 0) {
        continue;
      }
      *Index = Entry;
      if (AsciiStrCmp(Name, CurrentModel) == 0) {
        return PLATFORM_CMP_MATCH;
      }
    }
    return PLATFORM_CMP_NO_ID_MATCH;
  }
  return AsciiStrCmp(NewModel, CurrentModel) == 0 ? PLATFORM_CMP_MATCH : PLATFORM_CMP_NAME_DIFFERS;
}

BOOLEAN GetPlatformChkStatus(VOID) {
  FuncEnter(u"GetPlatformChkStatus");
  CHAR8 NewModel[BVDT_ENTRY_SIZE];
  CHAR8 CurrentModel[BVDT_ENTRY_SIZE];
  CHAR8 CurrentVersion[BVDT_ENTRY_SIZE];
  EnsureIdentity();
  UnicodeStrToAsciiS(mBvdt.NewModelName, NewModel, sizeof(NewModel));
  CurrentIdentity(CurrentModel, CurrentVersion);
  UINT32 Index = 0;
  UINT32 Result = PlatformCmp(NewModel, CurrentModel, &Index);
  if (IsVendorId(VENDOR_ID_DELL)) {
    if (IsOptionSet(OPT_FORCETYPE) != 0) {
      DebugPrint(4, u"Skip platform check (Dell)\r\n");
    } else if (Result != PLATFORM_CMP_MATCH) {
      CHAR16 Line1[256];
      CHAR16 Line2[256];
      CHAR16 WideNew[BVDT_ENTRY_SIZE];
      CHAR16 WideCurrent[BVDT_ENTRY_SIZE];
      AsciiStrToUnicodeS(CurrentModel, WideCurrent, BVDT_ENTRY_SIZE);
      AsciiStrToUnicodeS(NewModel, WideNew, BVDT_ENTRY_SIZE);
      UnicodeSPrint(Line1, sizeof(Line1), u"Cannot use a \"%s\" BIOS", WideCurrent);
      UnicodeSPrint(Line2, sizeof(Line2), u"In a \"%s\" ", WideNew);
      ShowErrorBox(Line1, Line2);
      FuncExit(u"GetPlatformChkStatus", u"Platform check not pass");
      return FALSE;
    }
    FuncExit(u"GetPlatformChkStatus", NULL);
    return TRUE;
  }
  if (mIniSettings.PlatformVersion.Flag == 1 && (INT32)Index >= 0) {
    AsciiStrToUnicodeS(mIniSettings.PlatformVersion.Version[Index], mBvdt.NewVersion, BVDT_IDENTITY_CHARS);
  }
  if (Result == PLATFORM_CMP_NAME_DIFFERS) {
    ConsolePrint(u"Model name not match.\r\n");
    FuncExit(u"GetPlatformChkStatus", u"Model name not match");
    return FALSE;
  }
  if (Result == PLATFORM_CMP_NO_ID_MATCH) {
    ConsolePrint(u"No matched ID in [Platform_Check].\r\n");
    FuncExit(u"GetPlatformChkStatus", u"No matched ID");
    return FALSE;
  }
  FuncExit(u"GetPlatformChkStatus", NULL);
  return TRUE;
}

// ---- 45h -------------------------------------------------------------------------

static CONST FWSMI_EXCHANGE k45h = {
    u"Fwsmi_45h", 0x45, 0, 0, u"Allocate memory failed",
    {{FWSMI_REG_ECX, CHECK_CONDITION_BUFFER_SIZE, FWSMI_BACK_ON_SUCCESS, CHECK_CONDITION_BUFFER_SIZE}, {}},
    u"Read buffer failed", NULL};

BOOLEAN Fwsmi_45h(CONST UINT8 *Input, UINT8 *Output) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Input;
  Io.Out[0] = Output;
  return FwsmiExchange(&k45h, &Io, FALSE);
}

BOOLEAN SMI_CheckConditionalData(UINT8 DataType, UINT8 DataFormat, UINT16 DataLength, CONST VOID *Data,
                                 UINT8 *Result) {
  FuncEnter(u"SMI_CheckConditionalData");
  if (Data == NULL || Result == NULL) {
    FuncExit(u"SMI_CheckConditionalData", u"Input buffer is NULL");
    return FALSE;
  }
  if (DataFormat >= 4) {
    FuncExit(u"SMI_CheckConditionalData", u"unsupport data format");
    return FALSE;
  }
  UINT8 *Input = (UINT8 *)AllocateZeroPool(CHECK_CONDITION_BUFFER_SIZE);
  UINT8 *Output = (UINT8 *)AllocateZeroPool(CHECK_CONDITION_BUFFER_SIZE);
  BOOLEAN Ok = FALSE;
  CONST CHAR16 *Reason = NULL;
  if (Input == NULL || Output == NULL) {
    Reason = u"Allocate memory failed";
  } else {
    UINT32 Length = DataLength;
    if (Length > CHECK_CONDITION_BUFFER_SIZE - CHECK_CONDITION_HEADER_SIZE) {
      Length = CHECK_CONDITION_BUFFER_SIZE - CHECK_CONDITION_HEADER_SIZE;
    }
    MakeSignature((CHAR8 *)Input, kCheckInSignature);
    WriteUnaligned32(Input + 8, Length + CHECK_CONDITION_HEADER_SIZE);
    Input[12] = DataType;
    Input[13] = DataFormat;
    WriteUnaligned16(Input + 14, (UINT16)Length);
    CopyMem(Input + CHECK_CONDITION_HEADER_SIZE, Data, Length);
    DebugPrint(4, u"====== 45h input ======\r\n");
    DumpHex(Input, 272);
    if (!Fwsmi_45h(Input, Output)) {
      Reason = u"BIOS return not success";
    } else {
      DebugPrint(4, u"====== 45h output ======\r\n");
      DumpHex(Output, CHECK_CONDITION_OUTPUT_MIN_SIZE);
      CHAR8 Expected[8];
      MakeSignature(Expected, kCheckOutSignature);
      if (CompareMem(Output, Expected, 8) != 0) {
        Reason = u"Signature not match";
      } else if (ReadUnaligned32(Output + 8) < CHECK_CONDITION_OUTPUT_MIN_SIZE) {
        Reason = u"Structure size error";
      } else {
        *Result = Output[12];
        Ok = TRUE;
      }
    }
  }
  FreePool(Input);
  FreePool(Output);
  FuncExit(u"SMI_CheckConditionalData", Reason);
  return Ok;
}

// ---- The whole check ---------------------------------------------------------------

BOOLEAN DellVersionPrompt(INTN Result) {
  DebugPrint(4, u"Final version compare result: %d\r\n", Result);
  if (IsOptionSet(OPT_NOPAUSE) != 0) {
    return TRUE;
  }
  if (Result == VERSION_OLDER) {
    DebugPrint(4, u"Compare result OLDER\r\n");
    ConsolePrint(u"You are about to flash your BIOS to an older BIOS version.\r\nDell does not recommend flashing your "
                 u"BIOS to an older version.\r\nPress 'Y' key to continue the flash process.\r\n\r\n");
  } else if (Result == VERSION_NEWER || Result == VERSION_SAME || Result == VERSION_SAME_NOT_ALLOWED) {
    DebugPrint(4, Result == VERSION_NEWER ? u"Compare result NEWER\r\n" : u"Compare result THE SAME\r\n");
    CHAR16 Current[MODEL_VERSION_BYTES / sizeof(CHAR16)];
    PLATFORM_INFO Info;
    ZeroMem(&Info, sizeof(Info));
    DataGetPlatformInfo(&Info);
    StrCpyS(Current, ARRAY_SIZE(Current), Info.Version[0] != 0 ? Info.Version : u"N/A");
    EnsureIdentity();
    ConsolePrint(u"Confirm - Replace \"%s\" BIOS with \"%s\" BIOS?\r\n\r\nPress 'Y' key to continue the flash "
                 u"process.\r\n\r\n",
                 Current, mBvdt.NewVersion);
  }
  CHAR16 Key = GetKey();
  if (Key == u'Y' || Key == u'y') {
    return TRUE;
  }
  ConsolePrint(u"ERROR: BIOS update cancelled by user\r\nPress any key to exit\r\n\r\n");
  WaitKey();
  ConsolePrint(u"ROM update not performed\r\n\r\n");
  return FALSE;
}

BOOLEAN Func_PlatformCheck(CONST UINT8 *Image, UINTN ImageSize, UINT32 RomSize) {
  FuncEnter(u"Func_PlatformCheck");
  if (IsAntiTheftPresent() != 0 && !IsEcPercentOptionSet() && !IsEcUpdateOptionSet()) {
    UINTN Searched = ImageSize;
    if (RomSize < Searched) Searched = RomSize;
    // The first marker of the whole image lies inside the searched part, or none does.
    INTN Marker = FindImageSignature(ImageSignatureAntiTheft, Image, ImageSize);
    if (Marker < 0 || (UINTN)Marker + 4 > Searched) {
      FuncExit(u"Func_PlatformCheck", u"ATP not found");
      return FALSE;
    }
  }
  BOOLEAN CheckModel = IsModelCheckNeeded();
  BOOLEAN CheckVersion = IsVersionCheckNeeded();
  DebugPrint(4, u" Check Platform Name: %d\r\n Check Version: %d\r\n", CheckModel ? 1 : 0, CheckVersion ? 1 : 0);
  if (!CheckModel && !CheckVersion) {
    FuncExit(u"Func_PlatformCheck", NULL);
    return TRUE;
  }
  if (CheckModel && !GetPlatformChkStatus()) {
    FuncExit(u"Func_PlatformCheck", u"Platform check not pass");
    return FALSE;
  }
  EnsureIdentity();
  CHAR8 NewVersion[BVDT_ENTRY_SIZE];
  UnicodeStrToAsciiS(mBvdt.NewVersion, NewVersion, sizeof(NewVersion));
  BOOLEAN Dell = IsVendorId(VENDOR_ID_DELL);
  if (Dell) {
    UINT8 Allowed = 1;
    if (SMI_CheckConditionalData(CHECK_CONDITION_TYPE_VERSION, 1, (UINT16)AsciiStrLen(NewVersion), NewVersion,
                                 &Allowed) &&
        Allowed == 0) {
      ConsolePrint(u"You are about to flash your BIOS to an older version, which is not allowed.\r\nPress any key to "
                   u"stop the flash process.\r\n");
      WaitKey();
      ConsolePrint(u"ROM update not performed\r\n\r\n");
      FuncExit(u"Func_PlatformCheck", u"BIOS not allow to flash");
      return FALSE;
    }
  }
  if (!CheckVersion) {
    FuncExit(u"Func_PlatformCheck", NULL);
    return TRUE;
  }
  CHAR8 CurrentModel[BVDT_ENTRY_SIZE];
  CHAR8 CurrentVersion[BVDT_ENTRY_SIZE];
  CurrentIdentity(CurrentModel, CurrentVersion);
  INTN Result = CompareVersion(NewVersion, CurrentVersion);
  CONST CHAR16 *Reason = NULL;
  switch (Result) {
    case VERSION_BIOS_REFUSED:
      ConsolePrint(u"%a\r\n", mIniSettings.Bios_Version_Check.CheckByBiosErrorMessage);
      Reason = u"BIOS not allow to flash";
      break;
    case VERSION_FWSMI_FAILED:
      ConsolePrint(u"FWSMI 45h fail.\r\n");
      Reason = u"FWSMI interface  format invalid";
      break;
    case VERSION_FORMAT_INVALID:
      ConsolePrint(u"The version format in [BIOSVersionFormat] invalid.\r\n");
      Reason = u"Version format invalid";
      break;
    default:
      if (Dell) {
        if (!DellVersionPrompt(Result)) Reason = u"OEM Version check not pass";
      } else if (Result == VERSION_SAME_NOT_ALLOWED) {
        ConsolePrint(u"The version of ROM file is the same as current BIOS.\r\n");
        Reason = u"Version the same";
      } else if (Result == VERSION_OLDER) {
        ConsolePrint(u"The version of ROM file is not newer than current BIOS.\r\n");
        Reason = u"Version older";
      }
      break;
  }
  FuncExit(u"Func_PlatformCheck", Reason);
  return Reason == NULL;
}

// ---- Displays ----------------------------------------------------------------------

VOID ShowModelVersionShell(BOOLEAN EcOrMeOnlyImage) {
  PLATFORM_INFO Info;
  ZeroMem(&Info, sizeof(Info));
  DataGetPlatformInfo(&Info);
  CHAR16 CurrentModel[BVDT_IDENTITY_CHARS];
  CHAR16 CurrentVersion[BVDT_IDENTITY_CHARS];
  CHAR16 NewModel[BVDT_IDENTITY_CHARS];
  CHAR16 NewVersion[BVDT_IDENTITY_CHARS];
  StrCpyS(CurrentModel, BVDT_IDENTITY_CHARS, Info.ModelName[0] != 0 ? Info.ModelName : u"N/A");
  StrCpyS(CurrentVersion, BVDT_IDENTITY_CHARS, Info.Version[0] != 0 ? Info.Version : u"N/A");
  GetBvdtInfo_FD(NewModel, NewVersion);
  if (IsOptionSet(OPT_MC) != 0) {
    StrCpyS(CurrentModel, BVDT_IDENTITY_CHARS, u"N/A");
    StrCpyS(CurrentVersion, BVDT_IDENTITY_CHARS, u"N/A");
    StrCpyS(mBvdt.NewModelName, BVDT_IDENTITY_CHARS, u"N/A");
    StrCpyS(mBvdt.NewVersion, BVDT_IDENTITY_CHARS, u"N/A");
    StrCpyS(NewModel, BVDT_IDENTITY_CHARS, u"N/A");
    StrCpyS(NewVersion, BVDT_IDENTITY_CHARS, u"N/A");
  }
  if (EcOrMeOnlyImage) {
    StrCpyS(NewModel, BVDT_IDENTITY_CHARS, u"N/A");
    StrCpyS(NewVersion, BVDT_IDENTITY_CHARS, u"N/A");
  }
  BIOS_CONTROL_SWITCHES Switches;
  ZeroMem(&Switches, sizeof(Switches));
  GetBiosControlSwitches(&Switches);
  if (!IsDisableIdDisplayOptionSet() && Switches.DisplayModelName != 0) {
    Print(u"                           Current BIOS Model Name: %s\n", CurrentModel);
    Print(u"                           New     BIOS Model Name: %s\n", NewModel);
  }
  if (Switches.DisplayModelVersion != 0) {
    Print(u"                           Current BIOS Version: %s\n", CurrentVersion);
    Print(u"                           New     BIOS Version: %s\n", NewVersion);
  }
}

VOID ShowModelVersionDriver(VOID) {
  PLATFORM_INFO Info;
  ZeroMem(&Info, sizeof(Info));
  DataGetPlatformInfo(&Info);
  CONST CHAR16 *CurrentModel = Info.ModelName[0] != 0 ? Info.ModelName : u"N/A";
  CONST CHAR16 *CurrentVersion = Info.Version[0] != 0 ? Info.Version : u"N/A";
  EnsureIdentity();
  CONST CHAR16 *NewModel = mIniSettings.Platform_Check.Flag == 2 ? CurrentModel : mBvdt.NewModelName;
  Print(u"                           Current BIOS Model Name: %s\n                           New     BIOS Model Name: "
        u"%s\n                           Current System BIOS Version: %s\n                           New     BIOS  "
        u"Image Version: %s\n\n",
        CurrentModel, NewModel, CurrentVersion, mBvdt.NewVersion);
}

// ---- 1Dh -----------------------------------------------------------------------------

static CONST FWSMI_EXCHANGE k1Dh = {
    u"Fwsmi_1Dh", 0x1D, 0, 0, u"Input buffer is NULL", {{FWSMI_REG_ESI, INI_PASS_INPUT_SIZE, 0, 0}, {}}, NULL, NULL};

BOOLEAN Fwsmi_1Dh(CONST UINT8 *Input) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Input;
  return FwsmiExchange(&k1Dh, &Io, Input == NULL);
}

BOOLEAN SMI_PassIniConfigToBios(VOID) {
  FuncEnter(u"SMI_PassIniConfigToBios");
  UINT8 *Record = (UINT8 *)AllocateZeroPool(INI_RECORD_SIZE);
  if (Record == NULL) {
    FuncExit(u"SMI_PassIniConfigToBios", u"Allocate memory failed");
    return FALSE;
  }
  for (UINTN Which = 0; Which < 3; Which++) {
    CONST CHAR8 *Text = IniRecordString(Which);
    if (Text != NULL) {
      CopyMem(Record + Which * INI_RECORD_STRING_SIZE, Text, INI_RECORD_STRING_SIZE);
    }
    DumpHex(Record + Which * INI_RECORD_STRING_SIZE, 64);
    DebugPrint(4, u"\r\n");
  }
  // The record goes to the second buffer so that the 12-byte input in the
  // first one does not overwrite it.
  UINT32 Base = 0;
  BOOLEAN Ok = CopyToFwsmiBuffer(2, Record, INI_RECORD_SIZE, &Base);
  FreePool(Record);
  if (Ok) {
    UINT8 Input[INI_PASS_INPUT_SIZE];
    WriteUnaligned32(Input, Base);
    WriteUnaligned32(Input + 4, Base + INI_RECORD_STRING_SIZE);
    WriteUnaligned32(Input + 8, Base + 2 * INI_RECORD_STRING_SIZE);
    Ok = Fwsmi_1Dh(Input);
  }
  FuncExit(u"SMI_PassIniConfigToBios", Ok ? NULL : u"FWSMI failed");
  return Ok;
}

// ---- 49h -----------------------------------------------------------------------------

static CONST CHAR8 kRestoreSignature[] = "SRDI";

BOOLEAN FuncFwsmi_49h(VOID) {
  FuncEnter(u"FuncFwsmi_49h");
  UINT8 Request[RESTORE_REQUEST_SIZE];
  ZeroMem(Request, sizeof(Request));
  MakeSignature((CHAR8 *)Request, kRestoreSignature);
  WriteUnaligned32(Request + 4, RESTORE_REQUEST_SIZE);
  Request[8] = 4;
  Request[9] = 0xFE;
  UINT32 Buffer = 0;
  if (!CopyToFwsmiBuffer(1, Request, sizeof(Request), &Buffer)) {
    FuncExit(u"FuncFwsmi_49h", u"Allocate memory failed");
    return FALSE;
  }
  FWSMI_ARGS Args = {Buffer, 0, 0};
  UINT8 Status = (UINT8)(FwsmiCallWithRetry(0x49, &Args, NULL, 0) & 0xFF);
  if (Status != FWSMI_STATUS_SUCCESS || !CopyFromFwsmiBuffer(Buffer, sizeof(Request), Request)) {
    FuncExit(u"FuncFwsmi_49h", u"BIOS return not success");
    return FALSE;
  }
  if ((ReadUnaligned16(Request + 14) & RESTORE_STATUS_UNKNOWN_REQUEST) != 0) {
    FuncExit(u"FuncFwsmi_49h", u"BIOS cannot recognize the new type");
    return FALSE;
  }
  FuncExit(u"FuncFwsmi_49h", NULL);
  return TRUE;
}
