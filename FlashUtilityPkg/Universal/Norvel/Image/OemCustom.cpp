#include "Image/OemCustom.h"

#include "Base/HexDump.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Image/ImageAnalysis.h"
#include "Image/Payload.h"
#include "Smi/FwsmiExchange.h"

OEM_CUSTOM_STATE mOemCustom;

#define ITEM_SEPARATOR '#'

VOID OemCustomResetState(VOID) { ZeroMem(&mOemCustom, sizeof(mOemCustom)); }

static CHAR8 AsciiUpper(CHAR8 Char) { return (Char >= 'a' && Char <= 'z') ? (CHAR8)(Char - 'a' + 'A') : Char; }

BOOLEAN AddOemCustomItem(CONST CHAR8 *Item) {
  if (Item == NULL) {
    return FALSE;
  }
  UINTN Length = AsciiStrnLenS(Item, OEM_CUSTOM_LIST_SIZE);
  // The item, its separator and the end byte after them must fit.
  if (mOemCustom.Length + Length + 1 > OEM_CUSTOM_LIST_SIZE - 1) {
    DebugPrint(4, u"OEM customization list full, %a not added\r\n", Item);
    return FALSE;
  }
  for (UINTN Index = 0; Index < Length; Index++) {
    mOemCustom.Input[mOemCustom.Length++] = AsciiUpper(Item[Index]);
  }
  mOemCustom.Input[mOemCustom.Length++] = ITEM_SEPARATOR;
  return TRUE;
}

VOID FinishOemCustomList(UINT8 *Wire) {
  ZeroMem(Wire, OEM_CUSTOM_LIST_SIZE);
  CopyMem(Wire, mOemCustom.Input, mOemCustom.Length);
  UINT32 End = mOemCustom.Length > 1 ? mOemCustom.Length : 1;
  for (UINT32 Index = 0; Index < End; Index++) {
    if (Wire[Index] == ITEM_SEPARATOR) {
      Wire[Index] = 0;
    }
  }
  Wire[End] = OEM_CUSTOM_LIST_END;
}

static CONST FWSMI_EXCHANGE k19h = {
    u"Fwsmi_19h", 0x19, 0, 0, u"Input buffer is NULL",
    {{FWSMI_REG_EDI, OEM_CUSTOM_LIST_SIZE, FWSMI_BACK_ALWAYS, OEM_CUSTOM_LIST_SIZE}, {}}, NULL, NULL};

BOOLEAN Fwsmi_19h(UINT8 *List) {
  if (!FwsmiExchangeBegin(&k19h, List == NULL)) {
    return FALSE;
  }
  DebugPrint(4, u"===== 19h Input String =====\r\n");
  DumpHex(List, 64);
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Io.Out[0] = List;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k19h, &Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(&k19h, &Io);
    DebugPrint(4, u"===== 19h Output String =====\r\n");
    DumpHex(List, 32);
  }
  return FwsmiExchangeEnd(&k19h, Reason);
}

UINT32 ParseOemCustomReply(CONST UINT8 *Reply) {
  mOemCustom.EntryCount = 0;
  ZeroMem(mOemCustom.Entries, sizeof(mOemCustom.Entries));
  if (Reply == NULL) {
    return 0;
  }
  // Only what lies before the first FFh, and never past the 256 bytes: a
  // reply without FFh ends at the buffer's end, and characters after the last
  // NUL do not make a string.
  UINT32 End = 0;
  while (End < OEM_CUSTOM_LIST_SIZE && Reply[End] != OEM_CUSTOM_LIST_END) {
    End++;
  }
  DebugPrint(4, u"OEM/ODM customization-1 (19h)\r\n-----+-----------------\r\n");
  UINT32 Start = 0;
  for (UINT32 Index = 0; Index < End && mOemCustom.EntryCount < OEM_CUSTOM_MAX_ENTRIES; Index++) {
    if (Reply[Index] != 0) {
      continue;
    }
    CHAR8 *Entry = mOemCustom.Entries[mOemCustom.EntryCount++];
    UINT32 Length = Index - Start < OEM_CUSTOM_ENTRY_SIZE - 1 ? Index - Start : OEM_CUSTOM_ENTRY_SIZE - 1;
    CopyMem(Entry, Reply + Start, Length);
    Entry[Length] = 0;
    DebugPrint(4, u"      %a\r\n", Entry);
    Start = Index + 1;
  }
  return mOemCustom.EntryCount;
}

// An EC update is in play when -ecbp or -ecb is given, when -ecp or -ec is
// given for an image that is not a secure capsule, or when the payload packs
// an EC record.
static BOOLEAN IsEcUpdateInPlay(VOID) {
  if (IsEcWithBiosPercentOptionSet() || IsEcWithBiosOptionSet()) {
    return TRUE;
  }
  if ((IsEcPercentOptionSet() || IsEcUpdateOptionSet()) && !mImageAnalysis.Capsule.IsSecureImage) {
    return TRUE;
  }
  return HasEcImage();
}

BOOLEAN SMI_OemOdmCustom1(VOID) {
  FuncEnter(u"SMI_OemOdmCustom1");
  if (IsEcUpdateInPlay()) {
    AddOemCustomItem("ECCMD");
  }
  if (IsMfgOptionSet()) {
    AddOemCustomItem("MFG");
  }
  UINT8 List[OEM_CUSTOM_LIST_SIZE];
  FinishOemCustomList(List);
  if (!Fwsmi_19h(List)) {
    FuncExit(u"SMI_OemOdmCustom1", u"BIOS return not success");
    return FALSE;
  }
  ParseOemCustomReply(List);
  FuncExit(u"SMI_OemOdmCustom1", NULL);
  return TRUE;
}

UINT32 GetOemCustomEntryCount(VOID) { return mOemCustom.EntryCount; }

CONST CHAR8 *GetOemCustomEntry(UINT32 Index) {
  return Index < mOemCustom.EntryCount ? mOemCustom.Entries[Index] : NULL;
}
