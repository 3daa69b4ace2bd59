// Flash completion: what the platform does after the run (FWSMI 16h), the
// RTC wake-up alarm.
#include "Flash/Completion.h"

#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Image/Admission.h"
#include "Platform.h"
#include "Smi/FwsmiExchange.h"
#include "Smi/FwsmiTransport.h"

COMPLETION_STATE mCompletion;

VOID CompletionResetState(VOID) { ZeroMem(&mCompletion, sizeof(mCompletion)); }

CONST CHAR16 *CompleteActionName(UINT8 Action) {
  switch (Action) {
    case COMPLETE_ACTION_RETURN_TO_OS:
      return u"Return To OS";
    case COMPLETE_ACTION_SHUTDOWN:
      return u"Shutdown";
    case COMPLETE_ACTION_REBOOT:
      return u"Reboot";
    case COMPLETE_ACTION_S3:
      return u"S3";
    default:
      return u"";
  }
}

CONST CHAR16 *CompleteStatusName(UINT8 Status) {
  switch (Status) {
    case COMPLETE_STATUS_AP_TERMINATED:
      return u"AP Terminated";
    case COMPLETE_STATUS_FLASH_ENTIRE:
      return u"Flash Entire";
    case COMPLETE_STATUS_FLASH_PARTIAL:
      return u"Flash Partial";
    default:
      return u"";
  }
}

BOOLEAN CommonFlashCompleteActionOverride(UINT8 *Action) { return CommonFlashActionOverride(Action); }

VOID SetStatus_16h(UINT8 Action, UINT8 Status) {
  FuncEnter(u"SetStatus_16h");
  // Recomputed on every call so that the run's last call decides the action.
  UINT32 IniAction = mIniSettings.FlashComplete.Action;
  mCompletion.Action = (UINT8)(IniAction & 0xFF);
  DebugPrint(4, u" ini flash complete setting 0x%02X (%s)\r\n", mCompletion.Action,
             CompleteActionName(mCompletion.Action));
  if (IsOptionSet(OPT_R)) {
    mCompletion.Action = COMPLETE_ACTION_REBOOT;
    DebugPrint(4, u" Command force reboot\r\n");
  }
  if (IsOptionSet(OPT_S)) {
    mCompletion.Action = COMPLETE_ACTION_SHUTDOWN;
    DebugPrint(4, u" Command force shutdown\r\n");
  }
  if (IsOptionSet(OPT_N)) {
    mCompletion.Action = COMPLETE_ACTION_RETURN_TO_OS;
    DebugPrint(4, u" Command force donothing\r\n");
  }
  if (CommonFlashCompleteActionOverride(&mCompletion.Action)) {
    DebugPrint(4, u" Complete action after ODM override 0x%02X (%s)\r\n", mCompletion.Action,
               CompleteActionName(mCompletion.Action));
  }
  if (Action != COMPLETE_KEEP) {
    mCompletion.Action = Action;
    DebugPrint(4, u" Set 16h Complete Action 0x%02X (%s)\r\n", Action, CompleteActionName(Action));
  }
  if (Status != COMPLETE_KEEP) {
    mCompletion.Status = Status;
    DebugPrint(4, u" Set 16h Complete Status 0x%02X (%s)\r\n", Status, CompleteStatusName(Status));
  }
  FuncExit(u"SetStatus_16h", NULL);
}

static CONST FWSMI_EXCHANGE k16h = {
    u"Fwsmi_16h", 0x16, 0, 0, u"Copy to FWSMI buffer failed",
    {{FWSMI_REG_ESI, sizeof(FINISH_DATA), 0, 0}, {}}, NULL, NULL};

BOOLEAN Fwsmi_16h(CONST FLASH_COMPLETE_BLOCK *Block, UINT8 *ErrorOut) {
  if (!FwsmiExchangeBegin(&k16h, Block == NULL)) {
    return FALSE;
  }
  DebugPrint(4, u" 16h Input Data:\r\n");
  DebugPrint(4, u" Clear CMOS 0x%02X\r\n", Block->ClearCmos);
  DebugPrint(4, u" Complete Action 0x%02X (%s)\r\n", Block->Action, CompleteActionName(Block->Action));
  DebugPrint(4, u" Complete Status 0x%02X (%s)\r\n", Block->Data.Status, CompleteStatusName(Block->Data.Status));

  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = &Block->Data;
  Io.Args.Ecx = ((UINT32)Block->ClearCmos << 8) | Block->Action;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k16h, &Io);
  if (Reason != NULL) {
    return FwsmiExchangeEnd(&k16h, Reason);
  }

  UINT16 Ax = (UINT16)((0x16u << 8) | mFwsmi.MainFunction);
  DebugPrint(4, u" 16h Register Value:\r\n");
  DebugPrint(4, u"--------------------\r\n");
  DebugPrint(4, u"  AX 0x%04X\r\n", Ax);
  DebugPrint(4, u"  AH 0x%02X\r\n", Ax >> 8);
  DebugPrint(4, u"  AL 0x%02X\r\n", Ax & 0xFF);
  DebugPrint(4, u" EBX 0x%08X\r\n", FWSMI_SIGNATURE);
  DebugPrint(4, u"  CX 0x%04X\r\n", Io.Args.Ecx & 0xFFFF);
  DebugPrint(4, u"  CH 0x%02X\r\n", Block->ClearCmos);
  DebugPrint(4, u"  CL 0x%02X\r\n", Block->Action);
  DebugPrint(4, u"  DX 0x%04X\r\n", mFwsmi.CommandPort);
  DebugPrint(4, u" EDI 0x%08X\r\n", 0);
  DebugPrint(4, u" ESI 0x%08X\r\n", Io.Args.Esi);

  Reason = FwsmiExchangeCall(&k16h, &Io);
  if (ErrorOut != NULL) {
    *ErrorOut = (UINT8)(Io.Eax & 0xFF);
  }
  return FwsmiExchangeEnd(&k16h, Reason);
}

// The block as every sender builds it: clear-CMOS is never asked for.
static VOID BuildCompleteBlock(UINT8 Action, UINT8 Status, FLASH_COMPLETE_BLOCK *Block) {
  ZeroMem(Block, sizeof(*Block));
  Block->ClearCmos = 0;
  Block->Action = Action;
  CopyMem(Block->Data.Signature, FINISH_SIGNATURE, sizeof(Block->Data.Signature));
  Block->Data.Size = FINISH_DATA_SIZE;
  Block->Data.Status = Status;
}

BOOLEAN SMI_FlashComplete(VOID) {
  FuncEnter(u"SMI_FlashComplete");
  FLASH_COMPLETE_BLOCK Block;
  BuildCompleteBlock(mCompletion.Action, mCompletion.Status, &Block);
  UINT8 Error = 0;
  if (!Fwsmi_16h(&Block, &Error)) {
    FuncExit(u"SMI_FlashComplete", u"FWSMI failed");
    return FALSE;
  }
  FuncExit(u"SMI_FlashComplete", NULL);
  return TRUE;
}

BOOLEAN FuncSpecific_16h(UINT8 Action, UINT8 Status) {
  DebugPrint(4, u" FuncSpecific_16h() |enable|\r\n");
  FLASH_COMPLETE_BLOCK Block;
  BuildCompleteBlock(Action, Status, &Block);
  UINT8 Error = 0;
  return Fwsmi_16h(&Block, &Error);
}

// ---- RTC alarm -------------------------------------------------------------------

static UINT8 CmosRead(UINT8 Index) {
  PlatformIoWrite8(CMOS_INDEX_PORT, Index);
  return PlatformIoRead8(CMOS_DATA_PORT);
}

static VOID CmosWrite(UINT8 Index, UINT8 Value) {
  PlatformIoWrite8(CMOS_INDEX_PORT, Index);
  PlatformIoWrite8(CMOS_DATA_PORT, Value);
}

static UINT8 ToBcd(UINT32 Value) { return (UINT8)(((Value / 10) << 4) | (Value % 10)); }

BOOLEAN AutoWakeup(UINT32 Interval) {
  UINT32 IniAction = mIniSettings.FlashComplete.Action;
  BOOLEAN Shutdown = IniAction == COMPLETE_ACTION_SHUTDOWN || IsOptionSet(OPT_S) != 0;

  EFI_TIME Now;
  ZeroMem(&Now, sizeof(Now));
  PlatformGetTime(&Now);
  DebugPrint(4, u"[AutoWakeup] enable %02d:%02d:%02d\r\n", Now.Hour, Now.Minute, Now.Second);
  if (!Shutdown) {
    DebugPrint(4, u" action |NOT| shutdown\r\n");
    return FALSE;
  }

  UINT32 NowSeconds = (UINT32)Now.Hour * 3600 + (UINT32)Now.Minute * 60 + Now.Second;
  UINT8 RtcHour = CmosRead(RTC_HOURS);
  UINT8 RtcMinute = CmosRead(RTC_MINUTES);
  UINT8 RtcSecond = CmosRead(RTC_SECONDS);
  DebugPrint(4, u" RTC %2d:%2d:%2d (%d)\r\n", RtcHour, RtcMinute, RtcSecond, NowSeconds);

  UINT32 Alarm = NowSeconds + Interval;
  if (Alarm >= 86400) {
    Alarm -= 86400;
    DebugPrint(4, u" Day + 1 (%d)\r\n", Alarm);
  }
  UINT32 Hour = Alarm / 3600;
  UINT32 Minute = (Alarm % 3600) / 60;
  UINT32 Second = Alarm % 60;
  DebugPrint(4, u" SET %2d:%2d:%2d (%d)\r\n", Hour, Minute, Second, Alarm);

  UINT8 RegisterB = CmosRead(RTC_REGISTER_B);
  UINT8 AlarmHour = (UINT8)Hour;
  UINT8 AlarmMinute = (UINT8)Minute;
  UINT8 AlarmSecond = (UINT8)Second;
  if ((RegisterB & RTC_B_BINARY) == 0) {
    AlarmHour = ToBcd(Hour);
    AlarmMinute = ToBcd(Minute);
    AlarmSecond = ToBcd(Second);
    DebugPrint(4, u" BCD %2d:%2d:%2d\r\n", AlarmHour, AlarmMinute, AlarmSecond);
  }

  CmosRead(RTC_REGISTER_C);  // clears pending interrupt flags
  // SET holds the clock still while the alarm is written.
  CmosWrite(RTC_REGISTER_B, (UINT8)(RegisterB | RTC_B_SET));
  CmosWrite(RTC_SECONDS_ALARM, AlarmSecond);
  CmosWrite(RTC_MINUTES_ALARM, AlarmMinute);
  CmosWrite(RTC_HOURS_ALARM, AlarmHour);
  CmosWrite(RTC_REGISTER_B, (UINT8)((RegisterB | RTC_B_AIE) & ~RTC_B_SET));
  return TRUE;
}
