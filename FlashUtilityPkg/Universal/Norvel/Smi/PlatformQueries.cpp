#include "Smi/PlatformQueries.h"

#include "BaseLib.h"
#include "Console/Trace.h"
#include "Smi/FwsmiTransport.h"

PLATFORM_QUERY_STATE mPlatformQuery;

VOID PlatformQueryResetState(VOID) { ZeroMem(&mPlatformQuery, sizeof(mPlatformQuery)); }

static CONST CHAR16 *CONST mHookPointNames[] = {
    u"AP Terminate",    u"AP Launch",     u"Before Read ROM", u"Before Write ROM", u"Before Write EC",
    u"Before Dialog",   u"After Dialog",  u"Before Read EC",  u"After Read EC",    u"After Read ROM",
    u"After Write ROM", u"After Write EC",
};

CONST CHAR16 *HookPointName(UINT32 Code) {
  return Code < ARRAY_SIZE(mHookPointNames) ? mHookPointNames[Code] : u"";
}

BOOLEAN Fwsmi_1Fh(UINT32 Code) {
  FuncEnter(u"Fwsmi_1Fh");
  FWSMI_ARGS Args = {Code, 0, 0};
  UINT32 Eax = FwsmiCallWithRetry(0x1F, &Args, NULL, 0);
  if ((Eax & 0xFF) != FWSMI_STATUS_SUCCESS) {
    FuncExit(u"Fwsmi_1Fh", u"BIOS return not success");
    return FALSE;
  }
  FuncExit(u"Fwsmi_1Fh", NULL);
  return TRUE;
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

BOOLEAN IsVendorId(UINT16 VendorId) { return mPlatformQuery.VendorId == VendorId; }

UINT8 IsCommandFilterEnabled(VOID) { return mPlatformQuery.CommandFilterPresent; }

BOOLEAN GetCommandFilterTable(COMMAND_FILTER_TABLE *Table) {
  if (Table == NULL) {
    return FALSE;
  }
  CopyMem(Table, &mPlatformQuery.CommandFilter, sizeof(*Table));
  return TRUE;
}

BOOLEAN IsCommandFilterBitSet(CONST COMMAND_FILTER_TABLE *Table, UINTN Byte, UINTN Bit) {
  if (Byte >= Table->Length || Byte >= COMMAND_FILTER_BITMAP_BYTES || Bit > 7) {
    return FALSE;
  }
  return (Table->Bitmap[Byte] & (1u << Bit)) != 0;
}
