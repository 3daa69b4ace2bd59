#include "Smi/FwsmiExchange.h"

#include "Base/Trace.h"

static UINT32 SizeOf(UINT32 Size, UINT32 Given) { return Size == FWSMI_SIZE_GIVEN ? Given : Size; }

static UINT32 *RegisterOf(FWSMI_ARGS *Args, UINT8 Register) {
  UINT32 *Registers[] = {NULL, &Args->Ecx, &Args->Esi, &Args->Edi};
  return Register <= FWSMI_REG_EDI ? Registers[Register] : NULL;
}

BOOLEAN FwsmiExchangeBegin(CONST FWSMI_EXCHANGE *Exchange, BOOLEAN Missing) {
  FuncEnter(Exchange->Name);
  return Missing ? FwsmiExchangeEnd(Exchange, u"Input buffer is NULL") : TRUE;
}

CONST CHAR16 *FwsmiExchangePlace(CONST FWSMI_EXCHANGE *Exchange, FWSMI_EXCHANGE_IO *Io) {
  for (UINT8 Index = 0; Index < 2; Index++) {
    CONST FWSMI_EXCHANGE_BUFFER *Buffer = &Exchange->Buffer[Index];
    UINT32 Size = SizeOf(Buffer->Size, Io->Size[Index]);
    UINT32 *Register = RegisterOf(&Io->Args, Buffer->Register);
    Io->Address[Index] = 0;
    if (Register == NULL || (Size == 0 && (Buffer->Flags & FWSMI_SKIP_EMPTY) != 0)) {
      continue;
    }
    if (!CopyToFwsmiBuffer((UINT8)(Index + 1), Io->In[Index], Size, &Io->Address[Index])) {
      return Exchange->PlaceFailed;
    }
    *Register = Io->Address[Index];
  }
  return NULL;
}

CONST CHAR16 *FwsmiExchangeCall(CONST FWSMI_EXCHANGE *Exchange, FWSMI_EXCHANGE_IO *Io) {
  FWSMI_ISSUE Issue = Exchange->Issue != NULL ? Exchange->Issue : FwsmiCallWithRetry;
  Io->Eax = Issue(Exchange->Function, &Io->Args, &Io->Ecx, Exchange->StopStatus);
  UINT8 Status = (UINT8)(Io->Eax & 0xFF);
  BOOLEAN Accepted = Status == FWSMI_STATUS_SUCCESS ||
                     ((Exchange->Flags & FWSMI_STOP_ACCEPTED) != 0 && Status == Exchange->StopStatus);
  CONST CHAR16 *Reason = Accepted ? NULL : u"BIOS return not success";
  for (UINT8 Index = 0; Index < 2; Index++) {
    CONST FWSMI_EXCHANGE_BUFFER *Buffer = &Exchange->Buffer[Index];
    BOOLEAN Back =
        (Buffer->Flags & FWSMI_BACK_ALWAYS) != 0 || (Accepted && (Buffer->Flags & FWSMI_BACK_ON_SUCCESS) != 0);
    if (!Back || Io->Address[Index] == 0) {
      continue;
    }
    if (!CopyFromFwsmiBuffer(Io->Address[Index], SizeOf(Buffer->BackSize, Io->Size[Index]), Io->Out[Index]) &&
        Accepted && Exchange->BackFailed != NULL) {
      Reason = Exchange->BackFailed;
    }
  }
  if (!Accepted && (Exchange->Flags & FWSMI_REPORT) != 0) {
    ReportFwsmiError(Exchange->Function, Status);
  }
  return Reason;
}

BOOLEAN FwsmiExchangeEnd(CONST FWSMI_EXCHANGE *Exchange, CONST CHAR16 *Reason) {
  FuncExit(Exchange->Name, Reason);
  return Reason == NULL;
}

BOOLEAN FwsmiExchange(CONST FWSMI_EXCHANGE *Exchange, FWSMI_EXCHANGE_IO *Io, BOOLEAN Missing) {
  if (!FwsmiExchangeBegin(Exchange, Missing)) {
    return FALSE;
  }
  CONST CHAR16 *Reason = FwsmiExchangePlace(Exchange, Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(Exchange, Io);
  }
  return FwsmiExchangeEnd(Exchange, Reason);
}

UINT32 FwsmiCallOnce(UINT8 Function, CONST FWSMI_ARGS *Args, UINT32 *EcxOut, UINT8 StopStatus) {
  (VOID)StopStatus;
  return IsFwsmiReady() ? FwsmiCall(Function, Args, EcxOut) : (UINT32)FWSMI_STATUS_NOT_SUPPORTED;
}
