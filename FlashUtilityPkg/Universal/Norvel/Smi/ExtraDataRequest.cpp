#include "Smi/ExtraDataRequest.h"

#include "Base/HexDump.h"
#include "Base/StoredSignature.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Smi/CachedQuery.h"
#include "Smi/FwsmiExchange.h"

EXTRA_DATA_REQUEST_STATE mExtraDataRequest;

static CONST CHAR8 kRequestSignature[] = "~EDI";

VOID ExtraDataRequestResetState(VOID) { ZeroMem(&mExtraDataRequest, sizeof(mExtraDataRequest)); }

UINT16 ExtraDataAnswerStatus(CONST UINT8 *Answer) {
  return Answer == NULL ? 0 : ReadUnaligned16(Answer + EXTRA_DATA_ANSWER_STATUS);
}

// The short form leaves the caller's answer alone after a failure; the long
// form hands back whatever the BIOS left, the data too. Buffer 2 (the data)
// takes part only when there is data.
static CONST FWSMI_EXCHANGE k41hShort = {
    u"Fwsmi_41h", 0x41, 0, 0, u"Input buffer is NULL",
    {{FWSMI_REG_ECX, FWSMI_SIZE_GIVEN, FWSMI_BACK_ON_SUCCESS, EXTRA_DATA_ANSWER_SIZE},
     {FWSMI_REG_EDI, FWSMI_SIZE_GIVEN, FWSMI_SKIP_EMPTY, 0}},
    NULL, NULL};
static CONST FWSMI_EXCHANGE k41hLong = {
    u"Fwsmi_41h", 0x41, 0, 0, u"Input buffer is NULL",
    {{FWSMI_REG_ECX, FWSMI_SIZE_GIVEN, FWSMI_BACK_ALWAYS, EXTRA_DATA_ANSWER_SIZE},
     {FWSMI_REG_EDI, FWSMI_SIZE_GIVEN, FWSMI_SKIP_EMPTY | FWSMI_BACK_ALWAYS, FWSMI_SIZE_GIVEN}},
    NULL, NULL};

BOOLEAN Fwsmi_41h(CONST UINT8 *Request, UINT32 RequestLength, CONST VOID *Data, UINT32 DataLength, BOOLEAN Short,
                  UINT8 *Status, UINT8 *Answer, VOID *DataBack) {
  CONST FWSMI_EXCHANGE *Exchange = Short ? &k41hShort : &k41hLong;
  UINT8 Unused = 0;
  if (Status == NULL) {
    Status = &Unused;
  }
  *Status = FWSMI_STATUS_NOT_SUPPORTED;
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Request;
  Io.Out[0] = Answer;
  Io.Size[0] = RequestLength;
  Io.In[1] = Data;
  Io.Out[1] = DataBack;
  Io.Size[1] = DataLength;
  if (!FwsmiExchangeBegin(Exchange, Request == NULL || Answer == NULL || (Data == NULL && DataLength != 0))) {
    return FALSE;
  }
  CONST CHAR16 *Reason = FwsmiExchangePlace(Exchange, &Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(Exchange, &Io);
    *Status = (UINT8)(Io.Eax & 0xFF);
    if (Reason != NULL) {
      DebugPrint(4, u"FWSMI 41h failed. (0x%X)\r\n", *Status);
      DebugPrint(4, u"===== 41h Alpha =====\r\n");
      DumpHex(Request, Short ? EXTRA_DATA_SHORT_REQUEST_SIZE : EXTRA_DATA_LONG_REQUEST_SIZE);
    }
  }
  return FwsmiExchangeEnd(Exchange, Reason);
}

static VOID BuildRequest(UINT8 *Request, UINT32 DeclaredSize, UINT8 Type, UINT8 SizeIndex, UINT32 Size) {
  ZeroMem(Request, EXTRA_DATA_LONG_REQUEST_SIZE);
  MakeStoredSignature(Request, kRequestSignature, 4, '$');
  WriteUnaligned32(Request + 4, DeclaredSize);
  Request[8] = Type;
  Request[9] = SizeIndex;
  WriteUnaligned32(Request + 10, Size);
}

BOOLEAN FuncFwsmi_41h(UINT8 Type, UINT8 SizeIndex, UINT32 Size, UINT8 *Answer) {
  FuncEnter(u"FuncFwsmi_41h");
  UINT8 Request[EXTRA_DATA_LONG_REQUEST_SIZE];
  BuildRequest(Request, EXTRA_DATA_SHORT_REQUEST_SIZE, Type, SizeIndex, Size);
  if (!Fwsmi_41h(Request, EXTRA_DATA_SHORT_REQUEST_SIZE, NULL, 0, TRUE, NULL, Answer, NULL)) {
    FuncExit(u"FuncFwsmi_41h", u"FWSMI 41h failed");
    return FALSE;
  }
  FuncExit(u"FuncFwsmi_41h", NULL);
  return TRUE;
}

BOOLEAN FuncFwsmi_41hLong(UINT8 Type, UINT8 SizeIndex, UINT32 Size, CONST VOID *Data, UINT32 DataLength,
                          UINT8 *Status, UINT8 *Answer, VOID *DataBack) {
  FuncEnter(u"FuncFwsmi_41hLong");
  UINT8 Request[EXTRA_DATA_LONG_REQUEST_SIZE];
  BuildRequest(Request, EXTRA_DATA_LONG_DECLARED_SIZE, Type, SizeIndex, Size);
  if (!Fwsmi_41h(Request, EXTRA_DATA_LONG_REQUEST_SIZE, Data, DataLength, FALSE, Status, Answer, DataBack)) {
    FuncExit(u"FuncFwsmi_41hLong", u"FWSMI 41h failed");
    return FALSE;
  }
  FuncExit(u"FuncFwsmi_41hLong", NULL);
  return TRUE;
}

BOOLEAN SMI_IsSupportPfat(VOID) {
  FuncEnter(u"SMI_IsSupportPfat");
  mExtraDataRequest.PfatQueried = TRUE;
  mExtraDataRequest.PfatSupported = FALSE;
  UINT8 Answer[EXTRA_DATA_ANSWER_SIZE];
  ZeroMem(Answer, sizeof(Answer));
  if (!FuncFwsmi_41h(EXTRA_DATA_TYPE_PFAT_PACKET, EXTRA_DATA_SIZE_IN_BYTES, 0, Answer)) {
    FuncExit(u"SMI_IsSupportPfat", u"41h not implement");
    return FALSE;
  }
  if ((ExtraDataAnswerStatus(Answer) & EXTRA_DATA_STATUS_NOT_SUPPORTED) != 0) {
    FuncExit(u"SMI_IsSupportPfat", u"Not support this data type");
    return FALSE;
  }
  mExtraDataRequest.PfatSupported = TRUE;
  FuncExit(u"SMI_IsSupportPfat", NULL);
  return TRUE;
}

BOOLEAN IsSupportPfat(VOID) {
  return CachedQueryAnswer(&mExtraDataRequest.PfatQueried, &mExtraDataRequest.PfatSupported, SMI_IsSupportPfat,
                           u" PFAT [Support]\r\n", u" PFAT [NOT Support]\r\n");
}
