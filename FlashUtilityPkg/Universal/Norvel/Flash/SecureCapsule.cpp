#include "Flash/SecureCapsule.h"

#include "Base/Settings.h"
#include "Base/StoredSignature.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Flash/EcUpdate.h"
#include "Flash/RomMap.h"
#include "Flash/RomMapTypes.h"
#include "Image/ImageAnalysis.h"
#include "Smi/CachedQuery.h"
#include "Smi/FwsmiExchange.h"
#include "Smi/FwsmiTransport.h"

SECURE_CAPSULE_STATE mSecureCapsule;

static CONST CHAR8 kExtRequest[] = "~EXT";
static CONST CHAR8 kExtAnswer[] = "~EXO";

VOID SecureCapsuleResetState(VOID) { ZeroMem(&mSecureCapsule, sizeof(mSecureCapsule)); }

VOID SetViaEspRequest(BOOLEAN ViaEsp) { mSecureCapsule.ViaEspRequest = ViaEsp ? TRUE : FALSE; }

// ---- 48h ----------------------------------------------------------------------------

BOOLEAN BuildCapsuleBlockList(UINT8 *List, UINT32 Address, UINT32 Size, BOOLEAN ZeroSizeEntry, UINT32 *Count) {
  if (List == NULL) {
    return FALSE;
  }
  ZeroMem(List, CAPSULE_BLOCK_LIST_SIZE);
  UINT32 Blocks = Size / CAPSULE_BLOCK_LENGTH + (Size % CAPSULE_BLOCK_LENGTH != 0 ? 1 : 0);
  if (Blocks > CAPSULE_BLOCK_LIST_MAX) {
    return FALSE;
  }
  for (UINT32 Index = 0; Index < Blocks; Index++) {
    UINT32 Offset = Index * CAPSULE_BLOCK_LENGTH;
    UINT32 Length = Size - Offset < CAPSULE_BLOCK_LENGTH ? Size - Offset : CAPSULE_BLOCK_LENGTH;
    UINT8 *Entry = List + 8 + 16 * Index;
    WriteUnaligned32(Entry, Length);
    WriteUnaligned32(Entry + 8, Address + Offset);
  }
  UINT32 Used = (Blocks == 0 && ZeroSizeEntry) ? 1 : Blocks;
  WriteUnaligned32(List, Used);
  if (Count != NULL) {
    *Count = Used;
  }
  return TRUE;
}

// Builds the block list and places it in FWSMI buffer 1; NULL, or the reason
// it could not be placed.
static CONST CHAR16 *PlaceCapsuleBlockList(UINT32 Address, UINT32 Size, BOOLEAN ZeroSizeEntry, UINT32 *Count,
                                           UINT32 *ListAddress) {
  UINT8 *List = (UINT8 *)AllocateZeroPool(CAPSULE_BLOCK_LIST_SIZE);
  if (List == NULL) {
    return u"Allocate memory failed";
  }
  CONST CHAR16 *Reason = NULL;
  if (!BuildCapsuleBlockList(List, Address, Size, ZeroSizeEntry, Count)) {
    Reason = u"Capsule too large";
  } else if (!CopyToFwsmiBuffer(1, List, CAPSULE_BLOCK_LIST_SIZE, ListAddress)) {
    Reason = u"Input buffer is NULL";
  }
  FreePool(List);
  return Reason;
}

// One call, no retries: a submission must not be repeated. Buffer 1 holds
// the block list, placed with it; buffer 2 the "$EXT" request record.
static CONST FWSMI_EXCHANGE k48h = {
    u"Fwsmi_48h", 0x48, 0, 0, u"Input buffer is NULL",
    {{}, {FWSMI_REG_EDI, CAPSULE_EXT_RECORD_SIZE, 0, 0}}, NULL, FwsmiCallOnce};

BOOLEAN Fwsmi_48h(SECURE_CAPSULE_REQUEST *Request) {
  if (!FwsmiExchangeBegin(&k48h, Request == NULL)) {
    return FALSE;
  }
  Request->Status = FWSMI_STATUS_NOT_SUPPORTED;
  Request->Action = 0;
  Request->Answered = FALSE;
  Request->AnswerFlags = 0;
  FWSMI_EXCHANGE_IO Io = {};
  UINT32 Count = 0;
  CONST CHAR16 *Reason = PlaceCapsuleBlockList(Request->Address, Request->Size, FALSE, &Count, &Io.Args.Esi);
  UINT8 Record[CAPSULE_EXT_RECORD_SIZE];
  MakeStoredSignature(Record, kExtRequest, 4, '$');
  WriteUnaligned32(Record + 4, CAPSULE_EXT_RECORD_SIZE);
  Record[8] = Request->Flags;
  Io.In[1] = Record;
  if (Reason == NULL) {
    Reason = FwsmiExchangePlace(&k48h, &Io);
  }
  if (Reason != NULL) {
    return FwsmiExchangeEnd(&k48h, Reason);
  }
  DebugPrint(4, u" Block Count 0x%X\r\n", Count);
  DebugPrint(4, u" Capsule Size 0x%X\r\n", Request->Size);
  Io.Args.Ecx = Request->Size;
  Reason = FwsmiExchangeCall(&k48h, &Io);
  Request->Status = (UINT8)(Io.Eax & 0xFF);
  Request->Action = (UINT8)((Io.Eax >> 8) & 0xFF);
  if (CopyFromFwsmiBuffer(Io.Address[1], CAPSULE_EXT_RECORD_SIZE, Record) &&
      HasStoredSignature(Record, kExtAnswer, 4, '$')) {
    // Without "$EXO" the flags byte is still the request's own.
    Request->Answered = TRUE;
    Request->AnswerFlags = Record[8];
  }
  if (Reason == NULL) {
    return FwsmiExchangeEnd(&k48h, NULL);
  }
  if (Request->Size == 0 && Request->Status != FWSMI_STATUS_NOT_SUPPORTED) {
    FwsmiExchangeEnd(&k48h, u"Support secure flash");
    return TRUE;
  }
  DebugPrint(4, u"FWSMI 48h failed. (0x%02X)\r\n", Request->Status);
  return FwsmiExchangeEnd(&k48h, Reason);
}

BOOLEAN SMI_IsSecurePlatform(VOID) {
  FuncEnter(u"SMI_IsSecurePlatform");
  mSecureCapsule.SecureQueried = TRUE;
  SECURE_CAPSULE_REQUEST Request;
  ZeroMem(&Request, sizeof(Request));
  Request.Flags = mSecureCapsule.ViaEspRequest ? CAPSULE_EXT_FLAG_ESP : 0;
  if (!Fwsmi_48h(&Request)) {
    FuncExit(u"SMI_IsSecurePlatform", u"FWSMI 48h failed");
    return FALSE;
  }
  mSecureCapsule.SecurePlatform = TRUE;
  if (Request.Answered && (Request.AnswerFlags & CAPSULE_EXT_FLAG_ESP) != 0) {
    mSecureCapsule.EspSupported = TRUE;
    DebugPrint(4, u" BIOS support via ESP method\r\n");
  }
  FuncExit(u"SMI_IsSecurePlatform", NULL);
  return TRUE;
}

BOOLEAN IsSecurePlatform(VOID) {
  return CachedQueryAnswer(&mSecureCapsule.SecureQueried, &mSecureCapsule.SecurePlatform, SMI_IsSecurePlatform,
                           u" Platform [Secure]\r\n", u" Platform [Legacy]\r\n");
}

// ---- 4Ch ----------------------------------------------------------------------------

// One call, no retries, as for 48h; the answer comes back in CX:AX.
static CONST FWSMI_EXCHANGE k4Ch = {u"Fwsmi_4Ch", 0x4C, 0, 0, NULL, {{}, {}}, NULL, FwsmiCallOnce};

BOOLEAN Fwsmi_4Ch(OEM_SECURE_REQUEST *Request, UINT32 Mode) {
  if (!FwsmiExchangeBegin(&k4Ch, Request == NULL)) {
    return FALSE;
  }
  Request->Status = FWSMI_STATUS_NOT_SUPPORTED;
  FWSMI_EXCHANGE_IO Io = {};
  UINT32 Count = 0;
  CONST CHAR16 *Reason = PlaceCapsuleBlockList(Request->Address, Request->Size, TRUE, &Count, &Io.Args.Esi);
  if (Reason != NULL) {
    return FwsmiExchangeEnd(&k4Ch, Reason);
  }
  DebugPrint(4, u" Fwsmi_4Ch\r\n-------------+---------\r\n  block_count  0x%X\r\n  FD size      0x%X\r\n", Count,
             Request->Size);
  Io.Args.Ecx = Request->Size;
  Io.Args.Edi = Mode;
  Reason = FwsmiExchangeCall(&k4Ch, &Io);
  Request->Status = (UINT8)(Io.Eax & 0xFF);
  if (Reason == NULL) {
    UINT8 Bits = (UINT8)((Io.Eax >> 8) & 0xFF);
    Request->Action = (UINT8)((Io.Eax >> 16) & 0xFF);
    Request->SignatureAccepted = (Bits & 0x01) != 0;
    Request->FallBackAllowed = (Bits & 0x02) != 0;
    Request->UpdateSucceeded = (Bits & 0x04) != 0;
    return FwsmiExchangeEnd(&k4Ch, NULL);
  }
  DebugPrint(4, u"FWSMI 4Ch failed. (0x%X)\r\n", Request->Status);
  if (Request->Size == 0 && Request->Status != FWSMI_STATUS_NOT_SUPPORTED) {
    Reason = NULL;  // a probe: any answer but "not supported" means the function is there
  }
  return FwsmiExchangeEnd(&k4Ch, Reason);
}

BOOLEAN SMI_IsOemSecurePlatform(VOID) {
  FuncEnter(u"SMI_IsOemSecurePlatform");
  mSecureCapsule.OemSecureQueried = TRUE;
  OEM_SECURE_REQUEST Request;
  ZeroMem(&Request, sizeof(Request));
  if (!Fwsmi_4Ch(&Request, OEM_SECURE_MODE_VERIFY)) {
    FuncExit(u"SMI_IsOemSecurePlatform", u"FWSMI 4Ch failed");
    return FALSE;
  }
  mSecureCapsule.OemSecurePlatform = TRUE;
  FuncExit(u"SMI_IsOemSecurePlatform", NULL);
  return TRUE;
}

BOOLEAN IsOemSecurePlatform(VOID) {
  return CachedQueryAnswer(&mSecureCapsule.OemSecureQueried, &mSecureCapsule.OemSecurePlatform,
                           SMI_IsOemSecurePlatform, u" Platform [OEM Secure]\r\n", u" Platform [Legacy]\r\n");
}

// ---- 1Ah / 1Bh ----------------------------------------------------------------------

static CONST FWSMI_EXCHANGE k1Ah = {u"Fwsmi_1Ah", 0x1A, 0, 0, NULL, {{}, {}}, NULL, NULL};

BOOLEAN Fwsmi_1Ah(UINT8 Action, UINT8 Status, UINT8 *FinalStatus) {
  FWSMI_EXCHANGE_IO Io = {};
  Io.Args.Ecx = (UINT32)Action | ((UINT32)Status << 8);
  BOOLEAN Done = FwsmiExchange(&k1Ah, &Io, FALSE);
  if (FinalStatus != NULL) {
    *FinalStatus = (UINT8)(Io.Eax & 0xFF);
  }
  return Done;
}

BOOLEAN SMI_OemOdmCustom2(UINT8 Action, UINT8 Status) {
  FuncEnter(u"SMI_OemOdmCustom2");
  UINT8 Final = 0;
  // A BIOS without the notification does not hold the flash back.
  if (!Fwsmi_1Ah(Action, Status, &Final) && Final != FWSMI_STATUS_NOT_SUPPORTED) {
    FuncExit(u"SMI_OemOdmCustom2", u"FWSMI fail");
    return FALSE;
  }
  FuncExit(u"SMI_OemOdmCustom2", NULL);
  return TRUE;
}

static CONST FWSMI_EXCHANGE k1Bh = {
    u"Fwsmi_1Bh", 0x1B, 0, 0, u"Input buffer is NULL",
    {{FWSMI_REG_ESI, SKIP_MODEL_CHECK_BLOCK_LENGTH, 0, 0}, {}}, NULL, NULL};

BOOLEAN Fwsmi_1Bh(UINT32 BlockAddress, CONST UINT8 *Block, UINT8 *FinalStatus) {
  FwsmiExchangeBegin(&k1Bh, FALSE);
  UINT8 Unused = 0;
  if (FinalStatus == NULL) {
    FinalStatus = &Unused;
  }
  *FinalStatus = FWSMI_STATUS_NOT_SUPPORTED;
  // The transport answers 0xEF when it cannot call at all; here that would
  // read as "verified".
  if (!IsFwsmiReady()) {
    *FinalStatus = 0xFF;
    return FwsmiExchangeEnd(&k1Bh, u"SMI not initialized");
  }
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Block;
  Io.Args.Ecx = SKIP_MODEL_CHECK_BLOCK_LENGTH;
  Io.Args.Edi = BlockAddress;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k1Bh, &Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(&k1Bh, &Io);
    *FinalStatus = (UINT8)(Io.Eax & 0xFF);
  }
  return FwsmiExchangeEnd(&k1Bh, Reason);
}

typedef enum { VerifyNext, VerifyPassed, VerifyRefused } VERIFY_OUTCOME;

static VERIFY_OUTCOME PresentBlock(UINT32 Address, CONST UINT8 *Block) {
  UINT8 Final = 0;
  Fwsmi_1Bh(Address, Block, &Final);
  if (Final == FWSMI_STATUS_SUCCESS || Final == FWSMI_STATUS_NOT_SUPPORTED) {
    return VerifyPassed;
  }
  return Final == SKIP_MODEL_CHECK_NOT_THIS_BLOCK ? VerifyNext : VerifyRefused;
}

BOOLEAN SMI_SkipModelCheckVerify(CONST UINT8 *Image, UINT32 ImageSize, UINT32 RomSize) {
  FuncEnter(u"SMI_SkipModelCheckVerify");
  VERIFY_OUTCOME Outcome = VerifyNext;
  CONST UINT8 *Ec = GetEcImageBuffer();
  if ((IsEcWithBiosPercentOptionSet() || IsEcWithBiosOptionSet()) && Ec != NULL) {
    UINT32 EcBlocks = GetEcImageSize() / SKIP_MODEL_CHECK_BLOCK_LENGTH;
    for (UINT32 Index = 0; Index < EcBlocks && Outcome == VerifyNext; Index++) {
      Outcome = PresentBlock(Index * SKIP_MODEL_CHECK_BLOCK_LENGTH, Ec + Index * SKIP_MODEL_CHECK_BLOCK_LENGTH);
    }
  }
  // BIOS block k carries the address of block-table entry k; blocks past the
  // table or past the image are not presented.
  UINT32 BiosBlocks = RomSize / SKIP_MODEL_CHECK_BLOCK_LENGTH;
  UINT32 ImageBlocks = Image == NULL ? 0 : ImageSize / SKIP_MODEL_CHECK_BLOCK_LENGTH;
  for (UINT32 Block = 0; Block < BiosBlocks && Block < ImageBlocks && Outcome == VerifyNext; Block++) {
    CONST BLOCK_ENTRY *Entry = GetBlockEntry(Block);
    if (Entry == NULL) {
      break;
    }
    Outcome = PresentBlock(Entry->Address, Image + (UINTN)Block * SKIP_MODEL_CHECK_BLOCK_LENGTH);
  }
  if (Outcome != VerifyPassed) {
    FuncExit(u"SMI_SkipModelCheckVerify", u"BIOS not allow to skip model check");
    return FALSE;
  }
  FuncExit(u"SMI_SkipModelCheckVerify", NULL);
  return TRUE;
}

// ---- Completion actions --------------------------------------------------------------

// BIOS and ini numbering: 0 S3, 1 reboot, 2 shutdown, 3 do nothing. Completion
// numbering: 0 return to OS, 1 shutdown, 2 reboot, 3 S3.
static UINT8 MapCompleteAction(UINT8 Action) {
  switch (Action) {
    case 0:
      return 3;
    case 2:
      return 1;
    case 3:
      return 0;
    default:
      return 2;
  }
}

UINT8 GetSecureCompleteAction(VOID) {
  UINT8 Action = mSecureCapsule.LastAction;
  if (mIniSettings.FlashSecureBIOSOverride.EnableFlashSecureBIOSOverride == 1) {
    UINT8 Ini = mIniSettings.FlashSecureBIOSOverride.Action;
    DebugPrint(4, u"[FlashSecureBIOSOverride] enable\r\n Action 48h (%d) -> ini (%d)\r\n\r\n", Action, Ini);
    Action = Ini;
  }
  UINT8 Complete = MapCompleteAction(Action);
  DebugPrint(4, u" Action 48h (%d) -> 16h (%d)\r\n", Action, Complete);
  return Complete;
}

UINT8 GetOemCompleteAction(UINT8 Action) {
  UINT8 Complete = MapCompleteAction(Action);
  DebugPrint(4, u" Action 4Ch (%d) -> 16h (%d)\r\n", Action, Complete);
  return Complete;
}
