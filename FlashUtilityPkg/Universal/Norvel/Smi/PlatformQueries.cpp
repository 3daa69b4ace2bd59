#include "Smi/PlatformQueries.h"

#include "Base/HexDump.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Smi/FwsmiExchange.h"

PLATFORM_QUERY_STATE mPlatformQuery;

VOID PlatformQueryResetState(VOID) { ZeroMem(&mPlatformQuery, sizeof(mPlatformQuery)); }

// Signatures the BIOS or a search could match are kept with a placeholder in
// place of the '$', so that this image holds no copy of them.
static CONST CHAR8 mVerSignature[] = "~VER";
static CONST CHAR8 mFwsmiSignature[] = "~FWSMI";
static CONST CHAR8 mBiosCheckSignature[] = "~BIOSCHK";
static CONST CHAR8 mCommandFilterSignature[] = "~CMDFILT";

static VOID PutSignature(VOID *Destination, CONST CHAR8 *Stored) {
  UINTN Length = AsciiStrLen(Stored);
  CopyMem(Destination, Stored, Length);
  ((CHAR8 *)Destination)[0] = '$';
}

static UINTN MinSize(UINTN A, UINTN B) { return A < B ? A : B; }

// ---- 10h ---------------------------------------------------------------------

BOOLEAN Prepare10hInputStructure(UINT8 *ToolInformation) {
  FuncEnter(u"Prepare10hInputStructure");
  if (ToolInformation == NULL) {
    FuncExit(u"Prepare10hInputStructure", u"Input buffer is NULL");
    return FALSE;
  }
  ZeroMem(ToolInformation, TOOL_INFORMATION_SIZE);
  PutSignature(ToolInformation, mVerSignature);
  ToolInformation[4] = 4;
  ToolInformation[5] = 0;
  CopyMem(ToolInformation + 6, "14b", 3);  // utility version digits
  PutSignature(ToolInformation + 9, mFwsmiSignature);
  CopyMem(ToolInformation + 15, "212", 3);  // interface version digits
  FuncExit(u"Prepare10hInputStructure", NULL);
  return TRUE;
}

// The "$CMDFILT" structure found at Offset of the output. Everything is read
// within the output: bytes of the structure beyond it count as absent.
static VOID TakeCommandFilter(CONST UINT8 *Output, UINTN Offset, PLATFORM_STATUS *Status) {
  UINTN Available = PLATFORM_STATUS_OUTPUT_SIZE - Offset;
  UINT8 Head[COMMAND_FILTER_COPY_BYTES];
  ZeroMem(Head, sizeof(Head));
  CopyMem(Head, Output + Offset, MinSize(sizeof(Head), Available));
  Status->CommandFilterPresent = 1;
  CopyMem(Status->CommandFilter, Head, sizeof(Head));
  DebugPrint(4, u"===== Command Filter Table =====\r\n");
  DumpHex(Head, sizeof(Head));

  UINT32 Size = ReadUnaligned32(Head + 8);
  COMMAND_FILTER_TABLE *Table = &mPlatformQuery.CommandFilter;
  Table->Length = Size >= COMMAND_FILTER_HEADER_SIZE ? Size - COMMAND_FILTER_HEADER_SIZE : 0;
  UINTN BitmapAvailable = Available > COMMAND_FILTER_HEADER_SIZE ? Available - COMMAND_FILTER_HEADER_SIZE : 0;
  UINTN Copy = MinSize(MinSize(Table->Length, COMMAND_FILTER_BITMAP_BYTES), BitmapAvailable);
  CopyMem(Table->Bitmap, Output + Offset + COMMAND_FILTER_HEADER_SIZE, Copy);
}

BOOLEAN Process10hOutputData(CONST UINT8 *Output, PLATFORM_STATUS *Status) {
  FuncEnter(u"Process10hOutputData");
  if (Output == NULL || Status == NULL) {
    FuncExit(u"Process10hOutputData", u"Input buffer is NULL");
    return FALSE;
  }
  ZeroMem(Status, sizeof(*Status));
  CopyMem((UINT8 *)Status + offsetof(PLATFORM_STATUS, AcPlug), Output, PLATFORM_STATUS_KEPT_BYTES);

  CHAR8 Signature[8];
  PutSignature(Signature, mBiosCheckSignature);
  if (CompareMem(Output + BIOS_CHECK_OFFSET, Signature, sizeof(Signature)) == 0) {
    DebugPrint(4, u" BIOS Check Structure Size: 0x%X\r\n", Status->BiosCheckSize);
    if (Status->BiosCheckSize >= BIOS_CHECK_MIN_SIZE && Status->CheckBvdt == 0) {
      Status->SkipBvdtCheck = 1;
    }
  }

  ZeroMem(&mPlatformQuery.CommandFilter, sizeof(mPlatformQuery.CommandFilter));
  PutSignature(Signature, mCommandFilterSignature);
  INTN Found = FindBytes(Output, PLATFORM_STATUS_OUTPUT_SIZE, Signature, sizeof(Signature));
  if (Found >= 0) {
    TakeCommandFilter(Output, (UINTN)Found, Status);
  }
  FuncExit(u"Process10hOutputData", NULL);
  return TRUE;
}

// The tool information goes in; the platform status comes back in its place.
static CONST FWSMI_EXCHANGE k10h = {
    u"Fwsmi_10h", 0x10, 0, 0, u"Allocate memory failed",
    {{FWSMI_REG_EDI, TOOL_INFORMATION_SIZE, FWSMI_BACK_ALWAYS, PLATFORM_STATUS_OUTPUT_SIZE}, {}}, NULL, NULL};

BOOLEAN Fwsmi_10h(CONST UINT8 *ToolInformation, PLATFORM_STATUS *Status) {
  if (!FwsmiExchangeBegin(&k10h, ToolInformation == NULL || Status == NULL)) {
    return FALSE;
  }
  UINT8 *Output = (UINT8 *)AllocateZeroPool(PLATFORM_STATUS_OUTPUT_SIZE);
  if (Output == NULL) {
    return FwsmiExchangeEnd(&k10h, u"Allocate memory failed");
  }
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = ToolInformation;
  Io.Out[0] = Output;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k10h, &Io);
  if (Reason == NULL) {
    DebugPrint(4, u"===== Tool Information =====\r\n");
    DumpHex(ToolInformation, TOOL_INFORMATION_SIZE);
    Reason = FwsmiExchangeCall(&k10h, &Io);
  }
  if (Reason == NULL) {
    DebugPrint(4, u"===== Platform Status =====\r\n");
    DumpHex(Output, 64);
    Process10hOutputData(Output, Status);
    Status->ReturnCode = (UINT8)(Io.Eax & 0xFF);
    Status->Permission = (UINT8)((Io.Eax >> 8) & 0xFF);
    Status->InterfaceVersion = (UINT16)(Io.Ecx & 0xFFFF);  // CH * 256 + CL
  }
  FreePool(Output);
  return FwsmiExchangeEnd(&k10h, Reason);
}

static VOID TracePlatformInformation(CONST PLATFORM_STATUS *Status) {
  DebugPrint(4, u" Platform Information\r\n");
  DebugPrint(4, u"       Permission | %d\r\n", Status->Permission);
  DebugPrint(4, u"      Return Code | 0x%02X\r\n", Status->ReturnCode);
  DebugPrint(4, u"    FWSMI Version | 0x%04X\r\n", Status->InterfaceVersion);
  DebugPrint(4, u"  Skip BVDT Check | %d\r\n", Status->SkipBvdtCheck);
  DebugPrint(4, u"   Command Filter | %d\r\n", Status->CommandFilterPresent);
  DebugPrint(4, u"          AC Plug | %d\r\n", Status->AcPlug);
  DebugPrint(4, u"          DC Life | %d\r\n", Status->DcLife);
  DebugPrint(4, u"         DC Bound | %d\r\n", Status->DcBound);
  DebugPrint(4, u"           Help 1 | 0x%08X\r\n", Status->Help1);
  DebugPrint(4, u"           Help 2 | 0x%08X\r\n", Status->Help2);
  DebugPrint(4, u"        Vendor ID | 0x%04X\r\n", Status->VendorId);
  if (Status->SkipBvdtCheck != 0) {
    CHAR16 Signature[sizeof(Status->BiosCheckSignature) + 1];
    for (UINTN Index = 0; Index < sizeof(Status->BiosCheckSignature); Index++) {
      Signature[Index] = (CHAR16)(UINT8)Status->BiosCheckSignature[Index];
    }
    Signature[sizeof(Status->BiosCheckSignature)] = 0;
    DebugPrint(4, u"        Signature | %s\r\n", Signature);
    DebugPrint(4, u"      Struct Size | %d\r\n", Status->BiosCheckSize);
    DebugPrint(4, u"       Check BVDT | %d\r\n", Status->CheckBvdt);
  }
}

BOOLEAN FuncIsSupport(VOID) {
  FuncEnter(u"FuncIsSupport");
  UINT8 ToolInformation[TOOL_INFORMATION_SIZE];
  PLATFORM_STATUS Status;
  ZeroMem(ToolInformation, sizeof(ToolInformation));
  ZeroMem(&Status, sizeof(Status));
  if (!Prepare10hInputStructure(ToolInformation)) {
    FuncExit(u"FuncIsSupport", u"Fill tool information failed");
    return FALSE;
  }
  if (!Fwsmi_10h(ToolInformation, &Status)) {
    FuncExit(u"FuncIsSupport", u"FWSMI 10h failed");
    return FALSE;
  }
  if (Status.VendorId == VENDOR_ID_ACER_OEM && IsAcerPlatform()) {
    DebugPrint(4, u" Revise Vendor ID from 0x1656 to 0x1025 for OEM\r\n");
    Status.VendorId = VENDOR_ID_ACER;
  }
  CopyMem(&mPlatformQuery.PlatformStatus, &Status, sizeof(Status));
  mPlatformQuery.VendorId = Status.VendorId;
  mPlatformQuery.CommandFilterPresent = Status.CommandFilterPresent;
  TracePlatformInformation(&Status);

  mPlatformQuery.PowerStatus[POWER_AC_PLUG] = Status.AcPlug;
  mPlatformQuery.PowerStatus[POWER_DC_LIFE_VALID] = (Status.DcLife >= 1 && Status.DcLife <= 100) ? 1 : 0;
  mPlatformQuery.PowerStatus[POWER_DC_BOUND] = Status.DcBound;
  mPlatformQuery.PowerStatus[POWER_DC_LIFE] = Status.DcLife;

  if (Status.Permission != 1) {
    Print(u"\r\nError: Update failed!\r\nCurrent system cannot support this version of flash utility.\r\n");
    FuncExit(u"FuncIsSupport", u"BIOS not support FWSMI");
    return FALSE;
  }
  if (Status.InterfaceVersion < MIN_INTERFACE_VERSION) {
    FuncExit(u"FuncIsSupport", u"BIOS FWSMI version too old");
    return FALSE;
  }
  FuncExit(u"FuncIsSupport", NULL);
  return TRUE;
}

BOOLEAN SMI_IsSupport(VOID) {
  FuncEnter(u"SMI_IsSupport");
  // The flag goes up before the query: a failed query is not asked again.
  if (mPlatformQuery.IsSupportCalled == 0) {
    mPlatformQuery.IsSupportCalled = 1;
    mPlatformQuery.IsSupportResult = FuncIsSupport();
  }
  if (!mPlatformQuery.IsSupportResult) {
    FuncExit(u"SMI_IsSupport", u"FuncIsSupport failed");
    return FALSE;
  }
  FuncExit(u"SMI_IsSupport", NULL);
  return TRUE;
}

BOOLEAN GetPowerStatus(UINT8 *Power) {
  FuncEnter(u"GetPowerStatus");
  if (Power == NULL) {
    FuncExit(u"GetPowerStatus", u"Input buffer is NULL");
    return FALSE;
  }
  CopyMem(Power, mPlatformQuery.PowerStatus, POWER_STATUS_SIZE);
  FuncExit(u"GetPowerStatus", NULL);
  return TRUE;
}

BOOLEAN IsVendorId(UINT16 VendorId) { return mPlatformQuery.VendorId == VendorId; }

UINT8 IsCommandFilterEnabled(VOID) { return mPlatformQuery.CommandFilterPresent; }

BOOLEAN GetCommandFilterTable(COMMAND_FILTER_TABLE *Table) {
  FuncEnter(u"GetCommandFilterTable");
  if (Table == NULL) {
    FuncExit(u"GetCommandFilterTable", u"Input buffer is NULL");
    return FALSE;
  }
  CopyMem(Table, &mPlatformQuery.CommandFilter, sizeof(*Table));
  FuncExit(u"GetCommandFilterTable", NULL);
  return TRUE;
}

BOOLEAN IsCommandFilterBitSet(CONST COMMAND_FILTER_TABLE *Table, UINTN Byte, UINTN Bit) {
  if (Byte >= Table->Length || Byte >= COMMAND_FILTER_BITMAP_BYTES || Bit > 7) {
    return FALSE;
  }
  return (Table->Bitmap[Byte] & (1u << Bit)) != 0;
}

// ---- 11h ---------------------------------------------------------------------

BOOLEAN Prepare11hInputStructure(UINT8 *Buffer, UINT32 Size) {
  FuncEnter(u"Prepare11hInputStructure");
  if (Buffer == NULL || Size < 12) {
    FuncExit(u"Prepare11hInputStructure", u"Input buffer is NULL");
    return FALSE;
  }
  CopyMem(Buffer, "$BUFFER_", 8);
  WriteUnaligned32(Buffer + 8, Size);
  FuncExit(u"Prepare11hInputStructure", NULL);
  return TRUE;
}

// Buffer 1 holds the platform information area, buffer 2 the extended buffer.
static CONST FWSMI_EXCHANGE k11h = {
    u"Fwsmi_11h", 0x11, 0, 0, u"Allocate memory failed",
    {{FWSMI_REG_EDI, PLATFORM_INFO_AREA_SIZE, FWSMI_BACK_ALWAYS, PLATFORM_INFO_AREA_SIZE},
     {FWSMI_REG_ESI, EXTENDED_BUFFER_SIZE, FWSMI_BACK_ALWAYS, EXTENDED_BUFFER_SIZE}},
    NULL, NULL};

BOOLEAN Fwsmi_11h(UINT8 *ExtendedBuffer, PLATFORM_INFO_RECORD *Record) {
  if (!FwsmiExchangeBegin(&k11h, ExtendedBuffer == NULL || Record == NULL)) {
    return FALSE;
  }
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Io.Out[0] = Record->Area;
  Io.In[1] = Io.Out[1] = ExtendedBuffer;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k11h, &Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(&k11h, &Io);
    Record->ReturnCode = (UINT8)(Io.Eax & 0xFF);
    Record->SwitchByte = (UINT8)((Io.Eax >> 8) & 0xFF);
    Record->ExtendedSwitches = Io.Ecx;
  }
  if (Reason == NULL) {
    DebugPrint(4, u"===== Platform Info =====\r\n");
    DumpHex(Record->Area, PLATFORM_INFO_AREA_SIZE);
    DebugPrint(4, u"BIOS switch: 0x%02X\r\n", Record->SwitchByte);
    DebugPrint(4, u"Extend switch: 0x%08X\r\n", Record->ExtendedSwitches);
  }
  return FwsmiExchangeEnd(&k11h, Reason);
}

static VOID DecodeControlSwitches(UINT8 S, UINT32 E, BIOS_CONTROL_SWITCHES *Switches) {
  Switches->CheckModelName = S & 0x01;
  Switches->CheckModelVersion = (S >> 1) & 0x01;
  Switches->AllowSameVersionUpdate = (S >> 2) & 0x01;
  Switches->VerifyFileChecksum = (S >> 3) & 0x01;
  Switches->DisplayModelName = (S & 0x10) == 0 ? 1 : 0;
  Switches->DisplayModelVersion = (S & 0x20) == 0 ? 1 : 0;
  Switches->CompareBeforeWrite = (S & 0x40) == 0 ? 1 : 0;
  Switches->AllowAlpCommand = (S & 0x80) != 0 ? (UINT8)(E & 0x01) : 0;
}

BOOLEAN Process11hOutputData(CONST PLATFORM_INFO_RECORD *Record, PLATFORM_INFO *Info, BIOS_CONTROL_SWITCHES *Switches) {
  FuncEnter(u"Process11hOutputData");
  if (Record == NULL || Info == NULL || Switches == NULL) {
    FuncExit(u"Process11hOutputData", u"Input buffer is NULL");
    return FALSE;
  }
  // The zero bytes after each field terminate a string the BIOS left unterminated.
  ZeroMem(Info, sizeof(*Info));
  CopyMem(Info->ModelName, Record->Area, MODEL_NAME_BYTES);
  CopyMem(Info->Version, Record->Area + MODEL_NAME_BYTES, MODEL_VERSION_BYTES);
  if (Info->ModelName[0] == 0) {
    StrCpyS(Info->ModelName, ARRAY_SIZE(Info->ModelName), u"N/A");
  }
  if (Info->Version[0] == 0) {
    StrCpyS(Info->Version, ARRAY_SIZE(Info->Version), u"N/A");
  }
  DecodeControlSwitches(Record->SwitchByte, Record->ExtendedSwitches, Switches);
  DebugPrint(4, u" (11h) BIOS control switch setting\r\n---------------------------+-------\r\n");
  DebugPrint(4, u"          Check Model Name | %d\r\n", Switches->CheckModelName);
  DebugPrint(4, u"       Check Model Version | %d\r\n", Switches->CheckModelVersion);
  DebugPrint(4, u" Allow Same Version Update | %d\r\n", Switches->AllowSameVersionUpdate);
  DebugPrint(4, u"      Verify File Checksum | %d\r\n", Switches->VerifyFileChecksum);
  DebugPrint(4, u"        Display Model Name | %d\r\n", Switches->DisplayModelName);
  DebugPrint(4, u"     Display Model Version | %d\r\n", Switches->DisplayModelVersion);
  DebugPrint(4, u"      Compare Before Write | %d\r\n", Switches->CompareBeforeWrite);
  DebugPrint(4, u"         Allow ALP Command | %d\r\n", Switches->AllowAlpCommand);
  FuncExit(u"Process11hOutputData", NULL);
  return TRUE;
}

BOOLEAN FuncGetPlatformInfo(PLATFORM_INFO *Info) {
  FuncEnter(u"FuncGetPlatformInfo");
  if (Info == NULL) {
    FuncExit(u"FuncGetPlatformInfo", u"Input buffer is NULL");
    return FALSE;
  }
  UINT8 *Extended = (UINT8 *)AllocateZeroPool(EXTENDED_BUFFER_SIZE);
  if (Extended == NULL) {
    FuncExit(u"FuncGetPlatformInfo", u"Allocate Memory Fail");
    return FALSE;
  }
  Prepare11hInputStructure(Extended, EXTENDED_BUFFER_SIZE);
  PLATFORM_INFO_RECORD Record;
  ZeroMem(&Record, sizeof(Record));
  if (!Fwsmi_11h(Extended, &Record)) {
    FreePool(Extended);
    FuncExit(u"FuncGetPlatformInfo", u"FWSMI failed");
    return FALSE;
  }
  Process11hOutputData(&Record, &mPlatformQuery.PlatformInfo, &mPlatformQuery.Switches);
  FreePool(Extended);
  CopyMem(Info, &mPlatformQuery.PlatformInfo, sizeof(*Info));
  FuncExit(u"FuncGetPlatformInfo", NULL);
  return TRUE;
}

BOOLEAN DataGetPlatformInfo(PLATFORM_INFO *Info) {
  FuncEnter(u"DataGetPlatformInfo");
  if (Info == NULL) {
    FuncExit(u"DataGetPlatformInfo", u"Input buffer is NULL");
    return FALSE;
  }
  CopyMem(Info, &mPlatformQuery.PlatformInfo, sizeof(*Info));
  FuncExit(u"DataGetPlatformInfo", NULL);
  return TRUE;
}

BOOLEAN SMI_GetPlatformInfo(PLATFORM_INFO *Info) {
  FuncEnter(u"SMI_GetPlatformInfo");
  if (Info == NULL) {
    FuncExit(u"SMI_GetPlatformInfo", u"Input buffer is NULL");
    return FALSE;
  }
  // Later calls answer from the kept record, also when the first query failed.
  if (mPlatformQuery.PlatformInfoCalled == 0) {
    mPlatformQuery.PlatformInfoCalled = 1;
    if (!FuncGetPlatformInfo(Info)) {
      FuncExit(u"SMI_GetPlatformInfo", u"FuncGetPlatformInfo failed");
      return FALSE;
    }
  } else {
    DataGetPlatformInfo(Info);
  }
  FuncExit(u"SMI_GetPlatformInfo", NULL);
  return TRUE;
}

BOOLEAN GetBiosControlSwitches(BIOS_CONTROL_SWITCHES *Switches) {
  FuncEnter(u"GetBiosControlSwitches");
  if (Switches == NULL) {
    FuncExit(u"GetBiosControlSwitches", u"Input buffer is NULL");
    return FALSE;
  }
  CopyMem(Switches, &mPlatformQuery.Switches, sizeof(*Switches));
  FuncExit(u"GetBiosControlSwitches", NULL);
  return TRUE;
}

UINT8 IsAllowAlpCommand(VOID) { return mPlatformQuery.Switches.AllowAlpCommand; }

BOOLEAN IsCompareBeforeWriteOff(VOID) { return mPlatformQuery.Switches.CompareBeforeWrite == 0; }

// ---- 1Ch ---------------------------------------------------------------------

// CL comes back in AH.
static CONST FWSMI_EXCHANGE k1Ch = {u"Fwsmi_1Ch", 0x1C, FWSMI_REPORT, 0, NULL, {{}, {}}, NULL, NULL};

BOOLEAN Fwsmi_1Ch(ANTI_THEFT_STATUS *Status) {
  if (!FwsmiExchangeBegin(&k1Ch, Status == NULL)) {
    return FALSE;
  }
  FWSMI_EXCHANGE_IO Io = {};
  CONST CHAR16 *Reason = FwsmiExchangeCall(&k1Ch, &Io);
  UINT8 T = (UINT8)((Io.Eax >> 8) & 0xFF);
  // Kept whatever the status.
  Status->ReturnCode = (UINT8)(Io.Eax & 0xFF);
  Status->Supported = (T >> 7) & 0x01;
  Status->Enrolled = T & 0x01;
  Status->Stolen = (T & 0x02) == 0 ? 1 : 0;
  Status->TimerEnough = (T >> 2) & 0x01;
  Status->FlashAllowed = (T >> 6) & 0x01;
  return FwsmiExchangeEnd(&k1Ch, Reason);
}

BOOLEAN FuncCheckATpStatus(VOID) {
  FuncEnter(u"FuncCheckATpStatus");
  ANTI_THEFT_STATUS *Status = &mPlatformQuery.AntiTheft;
  if (!Fwsmi_1Ch(Status)) {
    FuncExit(u"FuncCheckATpStatus", u"FWSMI 1Ch failed");
    return FALSE;
  }
  if (Status->Supported != 0 && Status->Enrolled != 0) {
    CONST CHAR16 *Refusal = NULL;
    if (Status->Stolen != 0) {
      Refusal = u"The system is in stolen mode. BIOS update is aborted!\r\n";
    } else if (Status->FlashAllowed == 0) {
      Refusal =
          u"The system is currently under Intel(R) Anti-Theft Technology protection.\r\n"
          u"Please un-enroll the client (Intel(R) Anti-Theft Service, Computrace LoJack, or\r\n"
          u"PC Theft Defense Service) before perform BIOS update.\r\n";
    } else if (Status->TimerEnough == 0) {
      Refusal = u"The timer is not enough to program image!\r\nClient must rendezvous server then update image later.\r\n";
    }
    if (Refusal != NULL) {
      Print(u"%s", Refusal);
      FuncExit(u"FuncCheckATpStatus", u"AT is enrolled, not allow flash.");
      return FALSE;
    }
  }
  if (Status->Supported != 0) {
    mPlatformQuery.AntiTheftPresent = 1;
  }
  FuncExit(u"FuncCheckATpStatus", NULL);
  return TRUE;
}

BOOLEAN SMI_CheckATpStatus(VOID) {
  FuncEnter(u"SMI_CheckATpStatus");
  if (mPlatformQuery.ATpStatusCalled == 0) {
    mPlatformQuery.ATpStatusCalled = 1;
    mPlatformQuery.ATpStatusResult = FuncCheckATpStatus();
  }
  if (!mPlatformQuery.ATpStatusResult) {
    FuncExit(u"SMI_CheckATpStatus", u"FuncCheckATpStatus failed");
    return FALSE;
  }
  FuncExit(u"SMI_CheckATpStatus", NULL);
  return TRUE;
}

UINT8 IsAntiTheftPresent(VOID) { return mPlatformQuery.AntiTheftPresent; }

// ---- 1Fh ---------------------------------------------------------------------

static CONST CHAR16 *CONST mHookPointNames[] = {
    u"AP Terminate",    u"AP Launch",     u"Before Read ROM", u"Before Write ROM", u"Before Write EC",
    u"Before Dialog",   u"After Dialog",  u"Before Read EC",  u"After Read EC",    u"After Read ROM",
    u"After Write ROM", u"After Write EC",
};

CONST CHAR16 *HookPointName(UINT32 Code) {
  return Code < ARRAY_SIZE(mHookPointNames) ? mHookPointNames[Code] : u"";
}

static CONST FWSMI_EXCHANGE k1Fh = {u"Fwsmi_1Fh", 0x1F, 0, 0, NULL, {{}, {}}, NULL, NULL};

BOOLEAN Fwsmi_1Fh(UINT32 Code) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.Args.Ecx = Code;
  return FwsmiExchange(&k1Fh, &Io, FALSE);
}

BOOLEAN SMI_ApHookPoint(UINT32 Code) {
  FuncEnter(u"SMI_ApHookPoint");
  DebugPrint(4, u" (0x%02X) [%s]\r\n", Code, HookPointName(Code));
  if (!Fwsmi_1Fh(Code)) {
    FuncExit(u"SMI_ApHookPoint", u"FWSMI failed");
    return FALSE;
  }
  FuncExit(u"SMI_ApHookPoint", NULL);
  return TRUE;
}
