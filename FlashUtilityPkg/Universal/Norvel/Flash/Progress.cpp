#include "Flash/Progress.h"

#include "Base/StoredSignature.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Flash/RomMap.h"
#include "Guids.h"
#include "Image/Payload.h"
#include "Platform.h"
#include "Smi/ExtraDataRequest.h"

PROGRESS_STATE mProgress;

static CONST CHAR8 kProgressSignature[] = "~67I";
static CONST CHAR8 kAnswerSignature[] = "~EDO";

VOID ProgressResetState(VOID) { ZeroMem(&mProgress, sizeof(mProgress)); }

BOOLEAN InitCapsuleUpdateProgressProtocol(VOID) {
  FuncEnter(u"InitCapsuleUpdateProgressProtocol");
  if (mProgress.Protocol != NULL) {
    FuncExit(u"InitCapsuleUpdateProgressProtocol", u"Protocol already located");
    return TRUE;
  }
  VOID *Interface = NULL;
  EFI_STATUS Status = PlatformLocateProtocol(&gVyrCapsuleUpdateProgressProtocolGuid, &Interface);
  if (EFI_ERROR(Status) || Interface == NULL) {
    DebugPrint(4, u"LocateProtocol (gVyrCapsuleUpdateProgressProtocolGuid) fail - %r\r\n",
               EFI_ERROR(Status) ? Status : EFI_NOT_FOUND);
    FuncExit(u"InitCapsuleUpdateProgressProtocol", u"No Vyr Capsule Update Progress Protocol");
    return FALSE;
  }
  mProgress.Protocol = (VYR_CAPSULE_UPDATE_PROGRESS_PROTOCOL *)Interface;
  FuncExit(u"InitCapsuleUpdateProgressProtocol", NULL);
  return TRUE;
}

// Entry of both Init operations: traces Name and locates the protocol.
static BOOLEAN EnterInit(CONST CHAR16 *Name) {
  FuncEnter(Name);
  if (!InitCapsuleUpdateProgressProtocol()) {
    FuncExit(Name, u"Initial protocol failed");
    return FALSE;
  }
  return TRUE;
}

BOOLEAN InitBinaryCapsuleUpdateProgress(VOID) {
  if (!EnterInit(u"InitBinaryCapsuleUpdateProgress")) {
    return FALSE;
  }
  UINT32 Ish = PayloadRecordSize(PayloadIsh);
  UINT32 Pdt = PayloadRecordSize(PayloadPdt);
  UINT32 Me = PayloadRecordSize(PayloadMe);
  mProgress.TotalSize = Ish + Pdt + Me;
  DebugPrint(4, u"   ISH Image Size: 0x%X\r\n", Ish);
  DebugPrint(4, u"   PDT Image Size: 0x%X\r\n", Pdt);
  DebugPrint(4, u"    ME Image Size: 0x%X\r\n", Me);
  DebugPrint(4, u" Total Image Size: 0x%X\r\n", mProgress.TotalSize);
  FuncExit(u"InitBinaryCapsuleUpdateProgress", NULL);
  return TRUE;
}

BOOLEAN InitRomCapsuleUpdateProgress(VOID) {
  if (!EnterInit(u"InitRomCapsuleUpdateProgress")) {
    return FALSE;
  }
  UINT32 Bios = PayloadRecordSize(PayloadBios);
  UINT32 DeviceFirmware = PayloadRecordSize(PayloadDeviceFirmware);
  UINT32 Ec = PayloadRecordSize(PayloadEc);
  mProgress.BiosBase = Bios != 0 ? GetRomSize() : 0;
  mProgress.TotalSize = mProgress.BiosBase + DeviceFirmware + Ec;
  DebugPrint(4, u" BIOS Base Size (0 or ROM Size): 0x%X\r\n", mProgress.BiosBase);
  DebugPrint(4, u" BIOS  Image Size: 0x%X\r\n", Bios);
  DebugPrint(4, u" DevFW Image Size: 0x%X\r\n", DeviceFirmware);
  DebugPrint(4, u" EC    Image Size: 0x%X\r\n", Ec);
  DebugPrint(4, u" Total Image Size: 0x%X\r\n", mProgress.TotalSize);
  FuncExit(u"InitRomCapsuleUpdateProgress", NULL);
  return TRUE;
}

static UINT32 PhaseBase(UINT8 Phase) {
  switch (Phase) {
    case ProgressPhaseDeviceFirmware:
      return mProgress.BiosBase + mProgress.DeviceFirmwareDone;
    case ProgressPhaseEc:
      return mProgress.BiosBase + PayloadRecordSize(PayloadDeviceFirmware);
    case ProgressPhasePdt:
      return PayloadRecordSize(PayloadIsh);
    case ProgressPhaseMe:
      return PayloadRecordSize(PayloadIsh) + PayloadRecordSize(PayloadPdt);
    case ProgressPhaseEnd:
      return mProgress.TotalSize;
    default:  // BIOS blocks, ISH
      return 0;
  }
}

UINT8 CapsuleUpdatePercentage(UINT8 Phase, UINT32 Done, UINT32 *Base) {
  UINT32 PhaseStart = PhaseBase(Phase);
  if (Base != NULL) {
    *Base = PhaseStart;
  }
  if (mProgress.TotalSize == 0) {
    return 0;
  }
  return (UINT8)(((UINT64)Done + PhaseStart) * 100 / mProgress.TotalSize);
}

VOID UpdateCapsuleUpdatePercentage(UINT8 Phase, UINT32 Done) {
  FuncEnter(u"UpdateCapsuleUpdatePercentage");
  if (mProgress.Protocol == NULL) {
    FuncExit(u"UpdateCapsuleUpdatePercentage", u"No Vyr Capsule Update Progress Protocol");
    return;
  }
  UINT32 Base = 0;
  UINT8 Percentage = CapsuleUpdatePercentage(Phase, Done, &Base);
  DebugPrint(4, u" [%3d] Base(0x%X) + Update(0x%X) / Total(0x%X)\r\n", Percentage, Base, Done,
             mProgress.TotalSize);
  if (mProgress.Protocol->UpdateProgress != NULL) {
    mProgress.Protocol->UpdateProgress(Percentage);
  }
  FuncExit(u"UpdateCapsuleUpdatePercentage", NULL);
}

VOID SetDeviceFirmwareProgressBase(UINT32 Done) {
  UINT32 RecordSize = PayloadRecordSize(PayloadDeviceFirmware);
  mProgress.DeviceFirmwareDone = Done < RecordSize ? Done : RecordSize;
  DebugPrint(4, u" Set device FW size base %3d\r\n", mProgress.DeviceFirmwareDone);
}

static BOOLEAN DisableBiosReport(CONST CHAR16 *Reason) {
  mProgress.BiosReportDisabled = TRUE;
  FuncExit(u"SMI_PassUpdateProgress", Reason);
  return FALSE;
}

BOOLEAN SMI_PassUpdateProgress(UINT32 Current, UINT32 Total) {
  FuncEnter(u"SMI_PassUpdateProgress");
  if (mProgress.BiosReportDisabled) {
    DebugPrint(4, u" Ignore SMI_PassUpdateProgress\r\n");
    FuncExit(u"SMI_PassUpdateProgress", NULL);
    return FALSE;
  }
  UINT8 Data[PROGRESS_REPORT_SIZE];
  MakeStoredSignature(Data, kProgressSignature, 4, '$');
  WriteUnaligned32(Data + 4, PROGRESS_REPORT_SIZE);
  WriteUnaligned32(Data + 8, Total);
  WriteUnaligned32(Data + 12, Current);
  UINT8 Answer[EXTRA_DATA_ANSWER_SIZE];
  ZeroMem(Answer, sizeof(Answer));
  UINT8 Status = 0;
  if (!FuncFwsmi_41hLong(EXTRA_DATA_TYPE_UPDATE_PROGRESS, EXTRA_DATA_SIZE_IN_BYTES, 0, Data, sizeof(Data), &Status,
                         Answer, NULL)) {
    return DisableBiosReport(u"FWSMI 41h failed");
  }
  if (!HasStoredSignature(Answer, kAnswerSignature, 4, '$')) {
    return DisableBiosReport(u"FWSMI 41h output buffer signature incorrect");
  }
  UINT16 AnswerStatus = ExtraDataAnswerStatus(Answer);
  if (AnswerStatus != 0) {
    if ((AnswerStatus & EXTRA_DATA_STATUS_NOT_SUPPORTED) != 0) {
      return DisableBiosReport(u"Not support this data type");
    }
    DebugPrint(4, u"Return Status: 0x%04X\r\n", AnswerStatus);
    return DisableBiosReport(u"Undefined error");
  }
  FuncExit(u"SMI_PassUpdateProgress", NULL);
  return TRUE;
}
