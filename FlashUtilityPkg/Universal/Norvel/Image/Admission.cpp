#include "Image/Admission.h"

#include "Base/Banner.h"
#include "Base/HexDump.h"
#include "Base/Print.h"
#include "Base/RunState.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Console/ConsoleUi.h"
#include "Image/Bvdt.h"
#include "Platform.h"
#include "Smi/FwsmiExchange.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"

ADMISSION_STATE mAdmission;

VOID AdmissionResetState(VOID) { ZeroMem(&mAdmission, sizeof(mAdmission)); }

// ---- Power boxes ---------------------------------------------------------------------

#define BOX_BORDER u"#==============================================================================#"
#define BOX_AC_AND_BATTERY u"# This process requires AC power and a charged battery to avoid an accidental  #"
// Rows of 80 columns with no line break: the console wraps after each row.
#define BOX_CHARS (6 * FRAME_COLUMNS + 1)

static CONST CHAR16 mBoxNoAcNoBattery[] =  // A
    BOX_BORDER
    u"#                       Warning: No AC Connected                               #"
    BOX_AC_AND_BATTERY
    u"# power-off during an update.                                                  #"
    BOX_BORDER;
static CONST CHAR16 mBoxNoBatteryWithAc[] =  // B
    BOX_BORDER
    u"#                       Warning: No Battery Connected                          #"
    BOX_AC_AND_BATTERY
    u"# power-off during an update.                                                  #"
    BOX_BORDER;
static CONST CHAR16 mBoxLowBatteryWithAc[] =  // C
    BOX_BORDER
    u"#                       Warning: Battery Too Low                               #"
    BOX_AC_AND_BATTERY
    u"# power-off during an update. Connect the AC adapter and make sure a charged   #"
    u"# battery is in the computer.                                                  #"
    BOX_BORDER;
static CONST CHAR16 mBoxNoAc[] =  // D
    BOX_BORDER
    u"#                           Warning: No AC Connected                           #"
    u"# This process requires AC power to avoid an accidental power-off during an    #"
    u"# update.                                                                      #"
    BOX_BORDER;
static CONST CHAR16 mBoxNoBattery[] =  // E
    BOX_BORDER
    u"#                        Warning: No Battery Connected                         #"
    u"# This process requires a charged battery to avoid an accidental power-off     #"
    u"# during an update.                                                            #"
    BOX_BORDER;
static CONST CHAR16 mBoxLowBattery[] =  // F, with the bound
    BOX_BORDER
    u"#                           Warning: Battery Too Low                           #"
    u"# This process requires a %3d%% full battery to avoid an accidental power-off   #"
    u"# during an update.                                                            #"
    BOX_BORDER;
static CONST CHAR16 mBoxToshiba[] =  // with the bound
    u"#==================================== ERROR ===================================#"
    u"#                                                                              #"
    u"#                         System must plug-in AC cord                          #"
    u"#                and DC capacity should over %3d%% during flash BIOS            #"
    u"#                                                                              #"
    BOX_BORDER;

static_assert(sizeof(mBoxNoAcNoBattery) == (5 * FRAME_COLUMNS + 1) * sizeof(CHAR16), "box A rows");
static_assert(sizeof(mBoxLowBatteryWithAc) == (6 * FRAME_COLUMNS + 1) * sizeof(CHAR16), "box C rows");
static_assert(sizeof(mBoxLowBattery) == (5 * FRAME_COLUMNS + 2) * sizeof(CHAR16), "box F rows");
static_assert(sizeof(mBoxToshiba) == (6 * FRAME_COLUMNS + 2) * sizeof(CHAR16), "Toshiba box rows");

// The shell flow puts the version banner above a box; the firmware flow has no
// key wait, so the box stays on screen for a while instead.
static VOID BeginPowerBox(VOID) {
  if (!mRun.FirmwareMode) {
    PrintBanner(FALSE);
  }
}

static VOID EndPowerBox(VOID) {
  if (mRun.FirmwareMode) {
    PlatformStall(POWER_BOX_WAIT_US);
  }
}

static VOID ShowPowerBox(CONST CHAR16 *Box) {
  BeginPowerBox();
  ShowRedFrame(Box);
  EndPowerBox();
}

static VOID ShowPowerBoxWithBound(CONST CHAR16 *Format, UINT8 Bound) {
  CHAR16 Box[BOX_CHARS];
  UnicodeSPrint(Box, sizeof(Box), Format, (UINT32)Bound);
  ShowPowerBox(Box);
}

static VOID ShowDellPowerBox(CONST CHAR16 *Message) {
  BeginPowerBox();
  ShowPowerErrorFrame(Message);
  EndPowerBox();
}

// ---- Power check ---------------------------------------------------------------------

VOID GetPowerCheckConfig(CONST UINT8 *Power, POWER_CHECK_CONFIG *Config) {
  BOOLEAN Answered = mAdmission.CommonFlash.Answered != 0;
  if (Answered) {
    DebugPrint(4, u"Not check AC (take care by 44h)\r\n");
    Config->CheckAc = FALSE;
  } else if (IsOptionSet(OPT_AC)) {
    DebugPrint(4, u"Not Check AC (command)\r\n");
    Config->CheckAc = FALSE;
  } else {
    Config->CheckAc = mIniSettings.AC_Adapter.Flag == 1;
    if (Config->CheckAc) {
      DebugPrint(4, u"Check AC (ini)\r\n");
    }
  }
  if (Answered) {
    DebugPrint(4, u"Not check DC (take care by 44h)\r\n");
    Config->CheckDc = FALSE;
  } else if (IsOptionSet(OPT_AB)) {  // -ab, or -acb
    DebugPrint(4, u"Check DC (command)\r\n");
    Config->CheckDc = TRUE;
  } else {
    Config->CheckDc = mIniSettings.AC_Adapter.BatteryCheck == 1;
    if (Config->CheckDc) {
      DebugPrint(4, u"Check DC (ini)\r\n");
    }
  }
  UINT8 IniBound = mIniSettings.AC_Adapter.BatteryBound;
  Config->DcBound = IniBound < POWER_BOUND_FROM_BIOS ? IniBound : Power[POWER_DC_BOUND];
  DebugPrint(4, u" Power Check Config\r\n");
  DebugPrint(4, u" ---------+---\r\n");
  DebugPrint(4, u" Check AC | %d\r\n", (UINT32)Config->CheckAc);
  DebugPrint(4, u" Check DC | %d\r\n", (UINT32)Config->CheckDc);
  DebugPrint(4, u" DC Bound | %d\r\n", (UINT32)Config->DcBound);
}

UINT32 GetPowerVerdict(CONST UINT8 *Power, CONST POWER_CHECK_CONFIG *Config) {
  if (Config->CheckAc && Power[POWER_AC_PLUG] != 1) {
    return POWER_VERDICT_NO_AC;
  }
  if (Config->CheckDc) {
    if (Power[POWER_DC_LIFE_VALID] != 1) {
      return POWER_VERDICT_NO_BATTERY;
    }
    if (Power[POWER_DC_LIFE] < Config->DcBound) {
      return POWER_VERDICT_LOW_BATTERY;
    }
  }
  return POWER_VERDICT_PASS;
}

// The cached answer of 10h; zeros (no AC, no battery) if there is none.
static VOID ReadPowerStatus(UINT8 *Power) {
  ZeroMem(Power, POWER_STATUS_SIZE);
  GetPowerStatus(Power);
}

static BOOLEAN DellPowerCheck(CONST UINT8 *Power) {
  if (IsOptionSet(OPT_FORCEIT)) {
    DebugPrint(4, u" -forceit used, skip AC/DC check\r\n");
    return TRUE;
  }
  POWER_CHECK_CONFIG Config;
  GetPowerCheckConfig(Power, &Config);
  switch (GetPowerVerdict(Power, &Config)) {
    case POWER_VERDICT_PASS:
      return TRUE;
    case POWER_VERDICT_NO_AC:
      ShowDellPowerBox(u"An External power adapter must be connected.");
      return FALSE;
    case POWER_VERDICT_NO_BATTERY:
      ShowDellPowerBox(u"Battery must be installed.");
      return FALSE;
    default:
      ShowDellPowerBox(u"Battery capacity too low.");
      return FALSE;
  }
}

static BOOLEAN ToshibaPowerCheck(CONST UINT8 *Power) {
  POWER_CHECK_CONFIG Config;
  GetPowerCheckConfig(Power, &Config);
  if (GetPowerVerdict(Power, &Config) == POWER_VERDICT_PASS) {
    return TRUE;
  }
  ShowPowerBoxWithBound(mBoxToshiba, Config.DcBound);
  return FALSE;
}

static BOOLEAN DefaultPowerCheck(CONST UINT8 *Power) {
  DebugPrint(4, u" Power Status (10h)\r\n");
  DebugPrint(4, u" ---------+---\r\n");
  DebugPrint(4, u"  AC Plug | %d\r\n", (UINT32)Power[POWER_AC_PLUG]);
  DebugPrint(4, u"  DC Plug | %d\r\n", (UINT32)Power[POWER_DC_LIFE_VALID]);
  DebugPrint(4, u"  DC Life | %d\r\n", (UINT32)Power[POWER_DC_LIFE]);
  DebugPrint(4, u"\r\n");
  POWER_CHECK_CONFIG Config;
  GetPowerCheckConfig(Power, &Config);
  BOOLEAN AcPlugged = Power[POWER_AC_PLUG] == 1;
  BOOLEAN BatteryPresent = Power[POWER_DC_LIFE_VALID] == 1;
  BOOLEAN ChargeEnough = Power[POWER_DC_LIFE] >= Config.DcBound;
  if (Config.CheckAc && Config.CheckDc) {
    CONST CHAR16 *Box = !AcPlugged        ? mBoxNoAcNoBattery
                        : !BatteryPresent ? mBoxNoBatteryWithAc
                        : !ChargeEnough   ? mBoxLowBatteryWithAc
                                          : NULL;
    if (Box != NULL) {
      ShowPowerBox(Box);
      return FALSE;
    }
  }
  if (Config.CheckAc && !AcPlugged) {
    ShowPowerBox(mBoxNoAc);
    return FALSE;
  }
  if (!Config.CheckDc) {
    return TRUE;
  }
  if (!BatteryPresent) {
    ShowPowerBox(mBoxNoBattery);
    return FALSE;
  }
  if (ChargeEnough) {
    return TRUE;
  }
  ShowPowerBoxWithBound(mBoxLowBattery, Config.DcBound);
  return FALSE;
}

BOOLEAN CheckPowerStatus(VOID) {
  FuncEnter(u"CheckPowerStatus");
  UINT8 Power[POWER_STATUS_SIZE];
  ReadPowerStatus(Power);
  BOOLEAN Result;
  CONST CHAR16 *Variant;
  if (IsVendorId(VENDOR_ID_DELL)) {
    Variant = u"Dell";
    Result = DellPowerCheck(Power);
  } else if (IsVendorId(VENDOR_ID_TOSHIBA)) {
    Variant = u"Toshiba";
    Result = ToshibaPowerCheck(Power);
  } else {
    Variant = u"Default";
    Result = DefaultPowerCheck(Power);
  }
  FuncExit(u"CheckPowerStatus", Variant);
  return Result;
}

// ---- Common flash (44h) --------------------------------------------------------------

static UINT32 PutItem(UINT8 *Items, UINT32 Used, UINT8 Type, CONST VOID *Value, UINT32 Length) {
  Items[Used++] = Type;
  CopyMem(Items + Used, Value, Length);
  Used += Length;
  Items[Used++] = COMMON_FLASH_ITEM_END;
  return Used;
}

static UINT32 PutByteItem(UINT8 *Items, UINT32 Used, UINT8 Type, UINT8 Value) {
  return PutItem(Items, Used, Type, &Value, 1);
}

// Texts go to the BIOS as ASCII without a terminator, cut at Limit bytes.
static UINT32 PutTextItem(UINT8 *Items, UINT32 Used, UINT8 Type, CONST CHAR16 *Text, UINT32 Limit) {
  CHAR8 Ascii[COMMON_FLASH_LONG_TEXT + 1];
  UnicodeStrToAsciiS(Text, Ascii, Limit + 1);
  return PutItem(Items, Used, Type, Ascii, (UINT32)AsciiStrLen(Ascii));
}

UINT32 BuildCommonFlashItems(CONST UINT8 *Power, UINT8 *Items) {
  ZeroMem(Items, COMMON_FLASH_ITEMS_SIZE);
  PLATFORM_INFO Current;
  ZeroMem(&Current, sizeof(Current));
  DataGetPlatformInfo(&Current);
  CHAR16 NewModel[BVDT_IDENTITY_CHARS];
  CHAR16 NewVersion[BVDT_IDENTITY_CHARS];
  GetBvdtInfo_FD(NewModel, NewVersion);

  BOOLEAN Battery = Power[POWER_DC_LIFE_VALID] == 1;
  UINT32 Used = 0;
  Used = PutByteItem(Items, Used, COMMON_FLASH_ITEM_AC, Power[POWER_AC_PLUG] == 1 ? 1 : 0);
  Used = PutByteItem(Items, Used, COMMON_FLASH_ITEM_BATTERY, Battery ? 1 : 0);
  Used = PutByteItem(Items, Used, COMMON_FLASH_ITEM_CHARGE, Battery ? Power[POWER_DC_LIFE] : 0);
  Used = PutTextItem(Items, Used, COMMON_FLASH_ITEM_BIOS_VERSION, Current.Version, COMMON_FLASH_SHORT_TEXT);
  Used = PutTextItem(Items, Used, COMMON_FLASH_ITEM_NEW_MODEL, NewModel, COMMON_FLASH_SHORT_TEXT);
  Used = PutTextItem(Items, Used, COMMON_FLASH_ITEM_MODEL, Current.ModelName, COMMON_FLASH_LONG_TEXT);
  Used = PutTextItem(Items, Used, COMMON_FLASH_ITEM_NEW_VERSION, NewVersion, COMMON_FLASH_LONG_TEXT);
  return Used;
}

static BOOLEAN IsSwitchBlank(CHAR8 C) { return C == ' ' || C == '\t'; }

UINT8 *BuildCommonFlashSwitchList(CONST CHAR8 *SwitchString, UINT32 *Length) {
  UINT32 TextLength = SwitchString == NULL ? 0 : (UINT32)AsciiStrnLenS(SwitchString, INI_TEXT_SIZE);
  // Each word takes its own length plus a NUL, the list one FFh: never more
  // than the text plus two.
  UINT32 Size = TextLength + 2;
  if (Size < COMMON_FLASH_SWITCH_LIST_MIN) {
    Size = COMMON_FLASH_SWITCH_LIST_MIN;
  }
  UINT8 *List = (UINT8 *)AllocateZeroPool(Size);
  if (List == NULL) {
    return NULL;
  }
  UINT32 Used = 0;
  UINT32 Index = 0;
  while (Index < TextLength) {
    if (IsSwitchBlank(SwitchString[Index])) {
      Index++;
      continue;
    }
    while (Index < TextLength && !IsSwitchBlank(SwitchString[Index])) {
      List[Used++] = (UINT8)SwitchString[Index++];
    }
    List[Used++] = 0;
  }
  List[Used] = COMMON_FLASH_ITEM_END;
  *Length = Size;
  return List;
}

// Buffer 1 holds the items, buffer 2 the switch list and then the answer.
static CONST FWSMI_EXCHANGE k44h = {
    u"Fwsmi_44h", 0x44, 0, 0, u"Allocate memory failed",
    {{FWSMI_REG_EDI, COMMON_FLASH_ITEMS_SIZE, 0, 0},
     {FWSMI_REG_ESI, FWSMI_SIZE_GIVEN, FWSMI_BACK_ALWAYS, COMMON_FLASH_ANSWER_SIZE}},
    NULL, NULL};

BOOLEAN Fwsmi_44h(CONST UINT8 *Items, CONST UINT8 *SwitchList, UINT32 SwitchListLength, UINT8 *Answer) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Items;
  Io.In[1] = SwitchList;
  Io.Size[1] = SwitchListLength;
  Io.Out[1] = Answer;
  return FwsmiExchange(&k44h, &Io, Items == NULL || SwitchList == NULL || Answer == NULL);
}

BOOLEAN FuncCommonFlash(VOID) {
  FuncEnter(u"FuncCommonFlash");
  UINT8 Power[POWER_STATUS_SIZE];
  ReadPowerStatus(Power);
  UINT8 Items[COMMON_FLASH_ITEMS_SIZE];
  BuildCommonFlashItems(Power, Items);
  UINT32 ListLength = 0;
  UINT8 *List = BuildCommonFlashSwitchList(mIniSettings.CommonFlash.SwitchString, &ListLength);
  if (List == NULL) {
    FuncExit(u"FuncCommonFlash", u"Allocate memory failed");
    return FALSE;
  }
  UINT8 Answer[COMMON_FLASH_ANSWER_SIZE];
  ZeroMem(Answer, sizeof(Answer));
  BOOLEAN Answered = Fwsmi_44h(Items, List, ListLength, Answer);
  FreePool(List);
  if (!Answered) {
    // The BIOS gave no judgement: the utility's own power check applies.
    FuncExit(u"FuncCommonFlash", u"BIOS return not success");
    return TRUE;
  }
  COMMON_FLASH_STATUS *Status = &mAdmission.CommonFlash;
  Status->Answered = 1;
  Status->Permit = ReadUnaligned16(Answer) == 1 ? 1 : 0;
  Status->MessageNumber = ReadUnaligned16(Answer + 2);
  Status->Action = ReadUnaligned16(Answer + 4);
  DebugPrint(4, u" Fwsmi 44h Status\r\n ---------+--------\r\n    permit  %d\r\n  message#  0x%X\r\n    action  %d\r\n",
             (UINT32)Status->Permit, (UINT32)Status->MessageNumber, (UINT32)Status->Action);
  FuncExit(u"FuncCommonFlash", NULL);
  return TRUE;
}

BOOLEAN CheckCommonFlashPermit(VOID) {
  FuncEnter(u"CheckCommonFlashPermit");
  CONST COMMON_FLASH_STATUS *Status = &mAdmission.CommonFlash;
  if (Status->Answered == 0 || Status->Permit != 0) {
    FuncExit(u"CheckCommonFlashPermit", NULL);
    return TRUE;
  }
  PrintBanner(FALSE);
  UINT16 Number = Status->MessageNumber;
  if (Number < COMMON_FLASH_MESSAGE_LIMIT && mIniSettings.CommonFlash.ErrorMsg[Number][0] != 0) {
    ConsolePrint(u"Warning!\r\n%a\r\n", mIniSettings.CommonFlash.ErrorMsg[Number]);
  } else {
    ConsolePrint(u"Not allow flash.\r\nMessage Number: 0x%02X", (UINT32)Number);
  }
  FuncExit(u"CheckCommonFlashPermit", u"Not allow flash");
  return FALSE;
}

BOOLEAN CommonFlashActionOverride(UINT8 *Action) {
  CONST COMMON_FLASH_STATUS *Status = &mAdmission.CommonFlash;
  if (Action == NULL || Status->Answered == 0 || Status->Permit != 1) {
    return FALSE;
  }
  switch (Status->Action) {
    case 1:
      *Action = 0;  // return to OS
      break;
    case 2:
    case 3:
      *Action = 1;  // shut down
      break;
    default:
      break;
  }
  DebugPrint(4, u" ODM Common Flash Action override 0x%02X\r\n", (UINT32)Status->Action);
  return TRUE;
}

BOOLEAN IsCommonFlashAnswered(VOID) { return mAdmission.CommonFlash.Answered != 0; }

VOID GetCommonFlashStatus(COMMON_FLASH_STATUS *Status) {
  if (Status != NULL) {
    CopyMem(Status, &mAdmission.CommonFlash, sizeof(*Status));
  }
}

// ---- Password (43h) ------------------------------------------------------------------

BOOLEAN SMI_CheckPasswordByBios(UINT8 Mode, CONST CHAR8 *Password, UINT8 *Answer) {
  FuncEnter(u"SMI_CheckPasswordByBios");
  if (Answer == NULL) {
    FuncExit(u"SMI_CheckPasswordByBios", u"Input buffer is NULL");
    return FALSE;
  }
  UINT8 Request[PASSWORD_REQUEST_SIZE];
  ZeroMem(Request, sizeof(Request));
  CopyMem(Request, "$PASSWDI", PASSWORD_SIGNATURE_SIZE);
  WriteUnaligned32(Request + PASSWORD_SIGNATURE_SIZE, PASSWORD_REQUEST_SIZE);
  Request[PASSWORD_MODE_OFFSET] = Mode;
  if (Mode == PASSWORD_MODE_VERIFY && Password != NULL) {
    CopyMem(Request + PASSWORD_TEXT_OFFSET, Password, AsciiStrnLenS(Password, PASSWORD_TEXT_MAX));
  }
  DumpHex(Request, sizeof(Request));
  UINT32 Buffer = 0;
  if (!CopyToFwsmiBuffer(1, Request, sizeof(Request), &Buffer)) {
    FuncExit(u"SMI_CheckPasswordByBios", u"Allocate memory failed");
    return FALSE;
  }
  FWSMI_ARGS Args = {Buffer, 0, 0};  // ECX = the request
  UINT8 Status = FWSMI_STATUS_NOT_SUPPORTED;
  UINT32 Attempts = IsFwsmiReady() ? FwsmiAttemptCount() : 0;
  for (UINT32 Attempt = 1; Attempt <= Attempts; Attempt++) {
    DebugPrint(4, u"FWSMI 43h\r\n");
    Status = (UINT8)(FwsmiCall(0x43, &Args, NULL) & 0xFF);
    if (Status == FWSMI_STATUS_SUCCESS) {
      break;
    }
    FwsmiRetryDelay();
  }
  if (Status != FWSMI_STATUS_SUCCESS) {
    DebugPrint(4, u"Error: FWSMI 43h failed.\r\n");
    FuncExit(u"SMI_CheckPasswordByBios", u"al is not FWSMI_SUCCESS");
    return FALSE;
  }
  CopyFromFwsmiBuffer(Buffer, sizeof(Request), Request);
  *Answer = Request[Mode == PASSWORD_MODE_VERIFY ? PASSWORD_VERIFY_ANSWER_OFFSET : PASSWORD_QUERY_ANSWER_OFFSET];
  FuncExit(u"SMI_CheckPasswordByBios", NULL);
  return TRUE;
}

// Dell takes the password of -p= (wide), everyone else that of -pwd:.
static VOID GetCommandLinePassword(BOOLEAN Dell, CHAR8 *Password) {
  Password[0] = 0;
  if (Dell) {
    CONST CHAR16 *Wide = GetPasswordOption();
    if (Wide != NULL) {
      UnicodeStrToAsciiS(Wide, Password, PASSWORD_TEXT_MAX + 1);
    }
  } else {
    CONST CHAR8 *Ascii = GetPasswordAsciiOption();
    if (Ascii != NULL) {
      AsciiStrCpyS(Password, PASSWORD_TEXT_MAX + 1, Ascii);
    }
  }
}

BOOLEAN CheckPassword(VOID) {
  FuncEnter(u"CheckPassword");
  BOOLEAN Dell = IsVendorId(VENDOR_ID_DELL);
  UINT8 Answer = 0;
  if (!SMI_CheckPasswordByBios(PASSWORD_MODE_QUERY, NULL, &Answer)) {
    if (!Dell) {
      FuncExit(u"CheckPassword", u"Bypass");
      return TRUE;
    }
    ConsolePrint(u"Error: Hardware dependency.\r\n");
    FuncExit(u"CheckPassword", u"Check password status failed");
    return FALSE;
  }
  // Any answer but 0 is taken as "set": an unknown answer must not skip the check.
  if (Answer == 0) {
    FuncExit(u"CheckPassword", u"Don't need to check password");
    return TRUE;
  }
  DebugPrint(4, u"BIOS did set password\r\n");
  CHAR8 Password[PASSWORD_TEXT_MAX + 1];
  GetCommandLinePassword(Dell, Password);
  BOOLEAN Verified = SMI_CheckPasswordByBios(PASSWORD_MODE_VERIFY, Password, &Answer);
  ZeroMem(Password, sizeof(Password));
  if (!Verified) {
    if (Dell) {
      ConsolePrint(u"Error: Hardware dependency.\r\n");
    }
    FuncExit(u"CheckPassword", u"Check password result failed");
    return FALSE;
  }
  if (Answer != 0) {
    ConsolePrint(u"\r\nPassword is incorrect. Please try again!\r\n");
    FuncExit(u"CheckPassword", u"Password incorrect");
    return FALSE;
  }
  ConsolePrint(u"\r\nPassword is correct.\r\n");
  FuncExit(u"CheckPassword", NULL);
  return TRUE;
}
